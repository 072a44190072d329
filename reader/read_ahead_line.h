#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "reader/scanner_line.h"

// A line that goes on reading while its reader is busy typing a code. A
// paced code takes seconds (150 characters at 20 ms: 3 s) and the scanner
// may send more meanwhile. A driver's receive queue is a size asked for,
// not promised: serial.sys grows its own on request, but many USB adapters'
// drivers keep a fixed one and stop fetching from the adapter once it is
// full, and the adapter's few hundred bytes of FIFO then overrun. Here the
// bytes wait in memory of our own, in order, with the line's end (a break,
// a loss) after them.
class ReadAheadLine final : public ScannerLine {
 public:
  // Bytes held for a reader that does not keep up; beyond them the line is
  // read again only as the reader takes what is held.
  static constexpr std::size_t kCapacity = 64 * 1024;

  explicit ReadAheadLine(std::unique_ptr<ScannerLine> line);
  // Stops the reading thread, then ends the line it read from.
  ~ReadAheadLine() override;
  ReadAheadLine(const ReadAheadLine&) = delete;
  ReadAheadLine& operator=(const ReadAheadLine&) = delete;

  // Hands out everything read since the last call at once; the line's end
  // comes once nothing read is left. One thread waits at a time.
  Event Wait(std::optional<std::chrono::milliseconds> quietAfter, std::span<const std::uint8_t>& bytes) override;
  void RequestStop() override;

 private:
  void ReadAhead();

  const std::unique_ptr<ScannerLine> line_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: written by the reading thread, taken by Wait.
  std::vector<std::uint8_t> held_;
  std::optional<Event> end_;  // how the line ended: after held_
  bool stop_ = false;
  // What the last Wait's bytes view; only the waiting thread touches it.
  std::vector<std::uint8_t> handedOut_;
  std::thread reading_;  // last: starts once everything it uses exists
};
