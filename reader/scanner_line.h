#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "reader/prepared_code.h"
#include "reader/typing_options.h"

// The reader thread's view of the serial line.
class ScannerLine {
 public:
  enum class Event { Bytes, Quiet, Break, Stop, Lost };

  virtual ~ScannerLine() = default;
  // Sleeps until bytes arrive (then `bytes` views them, until the next
  // call), the line has been quiet for `quietAfter` when one is given, a
  // break shows on the line, a stop is requested, or the device behind the
  // port is gone (Lost: the port is of no more use).
  virtual Event Wait(std::optional<std::chrono::milliseconds> quietAfter, std::span<const std::uint8_t>& bytes) = 0;
  // Any thread may call this; the pending or next Wait returns Stop.
  virtual void RequestStop() = 0;
};

// Types a completed code into whatever window has the focus.
class CodeTypist {
 public:
  virtual ~CodeTypist() = default;
  // What became of the code: PrepareCode's outcome for the program in
  // front, Typed or NotTyped for one that was to be typed. Nothing is typed
  // while `held`. A typist that takes its time over a code ends it early,
  // with no key left pressed, once `stopping` is set: the reader is being
  // shut down.
  virtual PreparedCode TypeCode(std::string_view code, bool held, const std::atomic<bool>& stopping) = 0;
  // Called by the reader thread before it waits for its first code, so
  // that the first code is typed as quickly as the rest.
  virtual void Prepare() = 0;
  // From the user interface thread at any time: a code being typed keeps
  // the options it began with, the next code takes these.
  virtual void SetOptions(std::shared_ptr<const TypingProfiles> options) = 0;
};
