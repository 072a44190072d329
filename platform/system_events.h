#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What IT watching a fleet sees of this program in the Windows event log:
// a few events with stable IDs, never one per code and never a code's
// text, and none repeated within ten minutes, so a port that flaps all day
// is a pair of events per ten minutes in the log, not a flood. Which event,
// its type and its strings are decided here; the Windows half only writes
// what it is given.
namespace system_events {

// The source the installers register, under
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application.
inline constexpr wchar_t kSourceName[] = L"Barcode Reader";

// The IDs are published (monitoring rules match on them): never renumber.
// The message table (app/resources/events.mc) holds their texts.
enum class Id : std::uint32_t {
  PortAway = 1001,       // the port has been gone for more than a minute
  PortBack = 1002,       // ...and is back
  PortNotOpened = 1003,  // the port could not be opened at start
  SettingUnusable = 1004,
  DriverHung = 1005,  // a cancelled operation never completed
};

// An event's type, numbered as ReportEvent takes it (the Windows half
// checks the numbers against EVENTLOG_ERROR_TYPE and the others).
enum class Type : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

// What a part of the program reports: the strings its message inserts, in
// order, and the Win32 error whose number and system text are inserted
// after them.
struct Record {
  Id id;
  std::vector<std::wstring> strings;
  std::optional<std::uint32_t> error;
};

// One event as it goes into the log.
struct Event {
  Type type;
  std::uint32_t id;
  std::vector<std::wstring> strings;

  bool operator==(const Event&) const = default;
};

class Sink {
 public:
  virtual ~Sink() = default;
  // The system's text of a Win32 error as Windows gives it, line break and
  // all; empty for an error it has no text for.
  virtual std::wstring ErrorText(std::uint32_t error) = 0;
  // Whether the log took the event.
  virtual bool Write(const Event& event) = 0;
};

using Clock = std::chrono::steady_clock;

// Events go to `sink` from now on, none before the first call, and the
// ten minutes count afresh. The sink must outlive every thread that reports.
void SetSink(Sink* sink);
// From any thread; cheap when no sink is set. `now` for callers that keep
// their own time. Whether the log has the event: not without a sink, nor
// when the ten minutes hold it back or the log refuses it.
bool Report(const Record& record, Clock::time_point now = Clock::now());

}  // namespace system_events
