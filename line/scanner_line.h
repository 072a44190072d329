#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

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
  // From the thread that waits: sends the bytes to the scanner, within a
  // bounded time; false, with why in the log, when they did not all go.
  virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
};

// ClearCommError's flags as Win32 defines them (CE_RXOVER, CE_OVERRUN,
// CE_RXPARITY, CE_FRAME, CE_BREAK).
namespace comm_error {
inline constexpr std::uint32_t kInputQueueOverflow = 0x1, kOverrun = 0x2, kParity = 0x4, kFraming = 0x8, kBreak = 0x10;
}

// Where a line's errors are counted, for whoever shows them.
class LineErrorCounter {
 public:
  virtual ~LineErrorCounter() = default;
  // From a reader thread: the error flags ClearCommError gave on `port`.
  virtual void CountLineErrors(std::wstring_view port, std::uint32_t flags) = 0;
};
