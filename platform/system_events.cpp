#include "platform/system_events.h"

#include <atomic>

namespace system_events {
namespace {

std::atomic<Sink*> current{nullptr};
Throttle throttle;

}  // namespace

Level LevelOf(Id id) {
  switch (id) {
    case Id::PortBack:
      return Level::Information;
    case Id::PortAway:
    case Id::SettingUnusable:
      return Level::Warning;
    case Id::PortNotOpened:
    case Id::DriverHung:
      return Level::Error;
  }
  return Level::Error;
}

bool Throttle::Admit(Id id, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  const auto [last, first] = lastReported_.try_emplace(id, now);
  if (first) return true;
  if (now - last->second < kQuietFor) return false;
  last->second = now;
  return true;
}

void Throttle::Forget() {
  const std::lock_guard lock(mutex_);
  lastReported_.clear();
}

void SetSink(Sink* sink) {
  throttle.Forget();
  current = sink;
}

void Report(const Record& record, Throttle::Clock::time_point now) {
  Sink* const sink = current.load();
  if (sink && throttle.Admit(record.id, now)) sink->Report(record);
}

}  // namespace system_events
