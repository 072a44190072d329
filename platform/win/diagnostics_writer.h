#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/diagnostics_log.h"
#include "platform/win/handles.h"

namespace diagnostics {

// The process's writer: every entry goes to the debugger output, and with a
// log level also to a file that moves aside to "<file>.1" once when it
// outgrows its cap. Any thread may write.
class WinWriter final : public Writer {
 public:
  WinWriter(LogLevel level, std::wstring logPath, std::uint64_t capBytes = kLogCapBytes);
  void Write(const Entry& entry) override;

 private:
  void Append(const std::string& bytes);
  // Moves the full file aside to "<file>.1"; the file is closed meanwhile.
  void Rotate();
  void Open();

  const LogLevel level_;
  const std::wstring path_;
  const std::uint64_t capBytes_;
  std::mutex mutex_;  // guards the file and its size
  platform::FileHandle file_;
  std::uint64_t fileBytes_ = 0;
};

// %LOCALAPPDATA%\Ombrek\Barcode Reader\barcode_reader.log, its folders made
// when missing; empty when the folder cannot be had.
std::wstring LogFilePath();

}  // namespace diagnostics
