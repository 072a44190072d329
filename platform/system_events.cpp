#include "platform/system_events.h"

#include <atomic>
#include <map>
#include <mutex>

#include "platform/conversions.h"

namespace system_events {
namespace {

// Holds the ten-minute rule: an ID written less than that ago is held back.
// A port's return never is: it follows only an absence that was written,
// which the rule holds back already, and held back it would leave the port
// away in the log for good.
class Throttle {
 public:
  static constexpr std::chrono::minutes kQuietFor{10};

  bool Admit(Id id, Clock::time_point now) {
    if (id == Id::PortBack) return true;
    const std::lock_guard lock(mutex_);
    const auto [last, first] = lastWritten_.try_emplace(id, now);
    if (first) return true;
    if (now - last->second < kQuietFor) return false;
    last->second = now;
    return true;
  }

  void Forget() {
    const std::lock_guard lock(mutex_);
    lastWritten_.clear();
  }

 private:
  std::mutex mutex_;  // events come from the reader thread and the window's
  std::map<Id, Clock::time_point> lastWritten_;
};

std::atomic<Sink*> current{nullptr};
Throttle throttle;

Type TypeOf(Id id) {
  switch (id) {
    case Id::PortBack:
      return Type::Information;
    case Id::PortAway:
    case Id::SettingUnusable:
      return Type::Warning;
    case Id::PortNotOpened:
    case Id::DriverHung:
      return Type::Error;
  }
  return Type::Error;
}

// "2: The system cannot find the file specified.", the text in the
// language of the user's Windows, as the rest of the event's strings.
std::wstring DescribeError(std::uint32_t error, std::wstring_view text) {
  text = platform::WithoutTrailingBreak(text);
  return text.empty() ? platform::IntToStr(error) : platform::IntToStr(error) + L": " + std::wstring(text);
}

}  // namespace

void SetSink(Sink* sink) {
  throttle.Forget();
  current = sink;
}

bool Report(const Record& record, Clock::time_point now) {
  Sink* const sink = current.load();
  if (!sink || !throttle.Admit(record.id, now)) return false;
  Event event{TypeOf(record.id), static_cast<std::uint32_t>(record.id), record.strings};
  if (record.error) event.strings.push_back(DescribeError(*record.error, sink->ErrorText(*record.error)));
  return sink->Write(event);
}

}  // namespace system_events
