#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "keys/code_typist.h"
#include "line/scanner_line.h"
#include "reader/reader_parts.h"

// The reader thread: waits on the line, frames codes and types each one as
// soon as its end arrives. Its owner keeps the object until the
// thread has ended, so nothing refers to a thread that is gone, and the
// line (with any I/O it has pending) ends before the object does.
class BRThread {
 public:
  // An unfinished code that has seen no byte for this long is not one
  // scan (noise, or a code cut off): long enough to keep the pauses of a
  // Bluetooth scanner, tens to a few hundred milliseconds, inside a code.
  static constexpr std::chrono::milliseconds kUnfinishedCodeTimeout{1000};
  // Where a code ends at a line break the line stays quiet after: longer
  // than a Bluetooth scanner pauses between the bursts of one code (tens
  // to a few hundred milliseconds; a wired scanner sends a code in one
  // burst), which would otherwise cut a code at a line break in two; every
  // code waits this long once after its last byte.
  static constexpr std::chrono::milliseconds kCodeEndPause{500};

  // `onLineLost` runs on the thread, which then ends, when the device
  // behind the port has gone or a break shows on the line. What became of
  // each code goes to `recorder` when there is one; the scanner hears of it
  // as `replies` say.
  BRThread(std::unique_ptr<ScannerLine> line, CodeTypist& typist, CodeRecorder* recorder,
           TypingOptions::CodeEnd codeEnd, TypingOptions::Replies replies,
           std::chrono::milliseconds unfinishedCodeTimeout, std::function<void()> onLineLost);
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
  CodeRecorder* const recorder_;
  const TypingOptions::CodeEnd codeEnd_;
  const TypingOptions::Replies replies_;
  const std::chrono::milliseconds unfinishedCodeTimeout_;
  const std::function<void()> onLineLost_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;  // last: starts once everything it uses exists
};
