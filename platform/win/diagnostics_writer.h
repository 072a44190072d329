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
class WinWriter final : public Writer, LogFile {
 public:
  WinWriter(LogLevel level, std::wstring logPath, std::uint64_t capBytes = kLogCapBytes);
  void Write(const Entry& entry) override;

 private:
  std::uint64_t Size() override;
  void Append(std::string_view bytes) override;
  bool MoveAside() override;
  void CopyAside() override;
  bool Empty() override;
  void Open();

  const LogLevel level_;
  const std::wstring path_;
  std::mutex mutex_;  // guards the file, its size and the capped log
  platform::FileHandle file_;
  std::uint64_t fileBytes_ = 0;
  CappedLog log_;
};

// The time now, as the log and the monitor show it.
LocalTime LocalNow();

// %LOCALAPPDATA%\Ombrek\Barcode Reader\barcode_reader.log, its folders made
// when missing; empty when the folder cannot be had.
std::wstring LogFilePath();

}  // namespace diagnostics
