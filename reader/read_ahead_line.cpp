#include "reader/read_ahead_line.h"

ReadAheadLine::ReadAheadLine(std::unique_ptr<ScannerLine> line)
    : line_(std::move(line)), reading_([this] { ReadAhead(); }) {}

ReadAheadLine::~ReadAheadLine() {
  RequestStop();
  reading_.join();
}

void ReadAheadLine::RequestStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  line_->RequestStop();
}

void ReadAheadLine::ReadAhead() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || held_.size() < kCapacity; });
      if (stop_) return;
    }
    std::span<const std::uint8_t> bytes;
    const Event event = line_->Wait(std::nullopt, bytes);
    if (event == Event::Quiet) continue;  // never asked for; nothing to hold
    {
      std::lock_guard lock(mutex_);
      if (event == Event::Bytes) {
        held_.insert(held_.end(), bytes.begin(), bytes.end());
      } else {
        end_ = event;
      }
    }
    changed_.notify_all();
    if (event != Event::Bytes) return;
  }
}

ScannerLine::Event ReadAheadLine::Wait(std::optional<std::chrono::milliseconds> quietAfter,
                                       std::span<const std::uint8_t>& bytes) {
  std::unique_lock lock(mutex_);
  const auto ready = [this] { return stop_ || !held_.empty() || end_; };
  if (!quietAfter) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, *quietAfter, ready)) {
    return Event::Quiet;
  }
  if (stop_) return Event::Stop;
  if (held_.empty()) return *end_;
  handedOut_.swap(held_);
  held_.clear();
  lock.unlock();
  changed_.notify_all();  // room again for the reading thread
  bytes = std::span<const std::uint8_t>(handedOut_);
  return Event::Bytes;
}
