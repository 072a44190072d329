#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// What IT watching a fleet sees of this program in the Windows event log:
// a few events with stable IDs, never one per code and never a code's
// text, and none repeated more than once in ten minutes, so a port that
// flaps all day is a line an hour in the log, not a flood.
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

enum class Level { Information, Warning, Error };
Level LevelOf(Id id);

// One event as it goes to the log: the strings its message inserts, in
// order, and the Win32 error whose system text is inserted after them.
struct Record {
  Id id;
  std::vector<std::wstring> strings;
  std::optional<std::uint32_t> error;

  bool operator==(const Record&) const = default;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void Report(const Record& record) = 0;
};

// Holds the ten-minute rule: an ID reported less than that ago is left out.
class Throttle {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::minutes kQuietFor{10};

  bool Admit(Id id, Clock::time_point now);
  void Forget();

 private:
  std::mutex mutex_;  // events come from the reader thread and the window's
  std::map<Id, Clock::time_point> lastReported_;
};

// Events go to `sink` from now on, none before the first call, and the
// ten minutes count afresh. The sink must outlive every thread that reports.
void SetSink(Sink* sink);
// From any thread; cheap when no sink is set. `now` for callers that keep
// their own time.
void Report(const Record& record, Throttle::Clock::time_point now = Throttle::Clock::now());

}  // namespace system_events
