#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/diagnostics.h"

// How the diagnostics become lines of a log a help desk reads, and how that
// log stays small.
namespace diagnostics {

// How much the operator asked to be kept in the log file.
enum class LogLevel {
  Off,       // the debugger output alone
  Events,    // a log file; of each code only its length and time
  Contents,  // also each code's bytes in hex, and which were left out: codes can be personal data
};

// The operator's setting: "1" is Events, "2" Contents, anything else (no
// value at all too) Off, so that no stray text switches on a log of codes.
LogLevel ParseLogLevel(const std::optional<std::wstring>& setting);

struct LocalTime {
  unsigned year, month, day, hour, minute, second, millisecond;
};

// One line without its end, time-stamped, with the id of the process that
// wrote it. `errorText` is the system's text of a failure's code. Control
// characters in either text are escaped, so no text can begin a line.
std::wstring FormatLine(const Entry& entry, const LocalTime& time, std::uint32_t processId, LogLevel level,
                        std::wstring_view errorText);

// Control characters (C0, DEL, C1 and the Unicode line and paragraph
// separators) as <0D>, <2028>: everything else as it stands.
std::wstring EscapeControls(std::wstring_view text);

// Each byte as two upper-case hex digits, separated by spaces.
std::wstring Hex(std::string_view bytes);

// The log file moves aside to "<file>.1" when it would outgrow this, so the
// two take at most about twice as much of the operator's disk. A week of a
// port that stays away fits in it with the line of its loss.
inline constexpr std::uint64_t kLogCapBytes = 1024 * 1024;

// Whether the file must be moved aside before `lineBytes` more go in. A
// line never waits for an empty file, however long it is.
bool MustRotate(std::uint64_t fileBytes, std::uint64_t lineBytes, std::uint64_t capBytes);

// The log file as the system lets the writer use it.
class LogFile {
 public:
  virtual ~LogFile() = default;
  virtual std::uint64_t Size() = 0;
  virtual void Append(std::string_view bytes) = 0;
  // Renames the file to "<file>.1", replacing it, and starts a new one.
  virtual bool MoveAside() = 0;
  // Copies the file's lines over "<file>.1".
  virtual void CopyAside() = 0;
  // Truncates the file where it stands.
  virtual bool Empty() = 0;
};

// Appends lines to a log file that keeps to its cap whatever holds it. A
// full file moves aside; where a viewer keeps it from moving, its lines are
// copied aside and it is emptied in place; where it can be neither moved
// nor emptied (a viewer that maps it), nothing is written until it can be,
// and `tell` hears of it once.
class CappedLog {
 public:
  CappedLog(LogFile& file, std::uint64_t capBytes, std::function<void(std::wstring_view)> tell)
      : file_(file), capBytes_(capBytes), tell_(std::move(tell)) {}
  void Append(std::string_view bytes);

 private:
  LogFile& file_;
  const std::uint64_t capBytes_;
  const std::function<void(std::wstring_view)> tell_;
  // Full and held: "<file>.1" already has its lines, and nothing is
  // written until the file moves or empties.
  bool held_ = false;
};

// The last lines written, kept in memory whether or not a file is, for the
// report a help desk asks for. Any thread may add.
class RecentLines {
 public:
  static constexpr std::size_t kKept = 200;
  void Add(const std::wstring& line);
  // Oldest first.
  std::vector<std::wstring> Lines() const;

 private:
  mutable std::mutex mutex_;
  std::array<std::wstring, kKept> ring_;
  std::size_t next_ = 0, size_ = 0;
};

// The process's.
RecentLines& RecentLog();

}  // namespace diagnostics
