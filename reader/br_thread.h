#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "reader/scanner_line.h"

// The reader thread: waits on the line, frames codes and types each one as
// soon as its carriage return arrives. Its owner keeps the object until the
// thread has ended, so nothing refers to a thread that is gone, and the
// line (with any I/O it has pending) ends before the object does.
class BRThread {
 public:
  // A code arriving in pieces counts as one read until the line has been
  // quiet this long.
  static std::chrono::milliseconds QuietGap(std::uint32_t baudRate);

  // `onLineLost` runs on the thread, which then ends, when the device
  // behind the port has gone or a break shows on the line.
  BRThread(std::unique_ptr<ScannerLine> line, CodeTypist& typist, std::chrono::milliseconds quietGap,
           std::function<void()> onLineLost);
  // Requests termination and waits for the thread to end.
  ~BRThread();
  BRThread(const BRThread&) = delete;
  BRThread& operator=(const BRThread&) = delete;

  // Returns at once; the thread ends after the code it may be typing.
  void Terminate();

 private:
  void Execute();

  std::unique_ptr<ScannerLine> line_;
  CodeTypist& typist_;
  const std::chrono::milliseconds quietGap_;
  const std::function<void()> onLineLost_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;  // last: starts once everything it uses exists
};
