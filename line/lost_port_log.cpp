#include "line/lost_port_log.h"

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/system_events.h"

using platform::IntToStr;

void LostPortLog::Lost(const std::wstring& port, Clock::time_point now) {
  port_ = port;
  lostAt_ = lastLineAt_ = now;
  attempts_ = attemptsUnwritten_ = 0;
  lastError_ = 0;
  awayWritten_ = false;
  diagnostics::Event(L"port " + port_ + L" is not available");
}

void LostPortLog::AttemptFailed(std::uint32_t error, Clock::time_point now) {
  ++attempts_;
  ++attemptsUnwritten_;
  lastError_ = error;
  if (now - lastLineAt_ < kLineEvery) return;
  // Short on purpose: a week of these must fit in the log with the loss.
  diagnostics::Event(L"port " + port_ + L" still away: " + IntToStr(attemptsUnwritten_) + L" attempts, last error " +
                     IntToStr(lastError_));
  lastLineAt_ = now;
  attemptsUnwritten_ = 0;
  // Held back by the ten minutes since the last one, the event is asked
  // for again with each line: a long absence is in the system's log at the
  // latest a minute after they allow it.
  if (!awayWritten_) {
    awayWritten_ = system_events::Report(
        {system_events::Id::PortAway, {port_, AwayFor(now), IntToStr(attempts_)}, lastError_}, now);
  }
}

void LostPortLog::Back(Clock::time_point now) {
  diagnostics::Event(L"port " + port_ + L" is back after " + AwayFor(now) + L", at attempt " + IntToStr(attempts_ + 1));
  if (awayWritten_) system_events::Report({system_events::Id::PortBack, {port_, AwayFor(now)}, {}}, now);
}

std::wstring LostPortLog::AwayFor(Clock::time_point now) const {
  return DescribeDuration(std::chrono::duration_cast<std::chrono::seconds>(now - lostAt_));
}

std::wstring DescribeDuration(std::chrono::seconds duration) {
  const auto seconds = static_cast<std::uint64_t>(duration.count() < 0 ? 0 : duration.count());
  if (seconds < 60) return IntToStr(seconds) + L" s";
  if (seconds < 3600) return IntToStr(seconds / 60) + L" min " + IntToStr(seconds % 60) + L" s";
  return IntToStr(seconds / 3600) + L" h " + IntToStr(seconds / 60 % 60) + L" min";
}
