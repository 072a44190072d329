#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// What the log says of a port that went away: one line when it goes, at
// most one a minute while it stays away (the attempts since the last line
// and the last error), one when it is back. So a port away for a week
// leaves the line of its loss in the log instead of rotating it out. The
// system's log has the absence from the first of those minute lines that
// the ten minutes between its events allow, and the return only after an
// absence it has: the two always pair up.
class LostPortLog {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::minutes kLineEvery{1};

  void Lost(const std::wstring& port, Clock::time_point now);
  // An attempt to reopen the port failed with this Win32 error.
  void AttemptFailed(std::uint32_t error, Clock::time_point now);
  void Back(Clock::time_point now);

  // Of the last loss: when, the attempts since, and the last one's error.
  Clock::time_point lostAt() const { return lostAt_; }
  unsigned attempts() const { return attempts_; }
  std::uint32_t lastError() const { return lastError_; }

 private:
  std::wstring AwayFor(Clock::time_point now) const;

  std::wstring port_;
  Clock::time_point lostAt_{};
  Clock::time_point lastLineAt_{};
  unsigned attempts_ = 0;           // since the loss
  unsigned attemptsUnwritten_ = 0;  // since the last line
  std::uint32_t lastError_ = 0;
  bool awayWritten_ = false;  // the system's log has this loss: its return goes there too
};

// "45 s", "12 min 5 s", "170 h 3 min": how long a port was away.
std::wstring DescribeDuration(std::chrono::seconds duration);
