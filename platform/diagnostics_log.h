#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// One line without its end, time-stamped. `errorText` is the system's text
// of a failure's code.
std::wstring FormatLine(const Entry& entry, const LocalTime& time, LogLevel level, std::wstring_view errorText);

// Each byte as two upper-case hex digits, separated by spaces.
std::wstring Hex(std::string_view bytes);

// Whether the file must be moved aside before `lineBytes` more go in. A
// line never waits for an empty file, however long it is.
bool MustRotate(std::uint64_t fileBytes, std::uint64_t lineBytes, std::uint64_t capBytes);

}  // namespace diagnostics
