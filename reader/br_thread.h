#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "keys/code_typist.h"
#include "line/port_settings.h"
#include "line/scanner_line.h"
#include "reader/reader_parts.h"

// The typist as the reader threads of every port share it: one code at a
// time, each typed whole, in the order the codes were completed on their
// lines. A plain mutex would not keep that order: a thread that typed one
// code can take it again before one that has waited for it.
class TypingTurns {
 public:
  // Waits for its turn, and holds it until it goes; or gives it up once
  // `stopping` is set, so that a reader being closed does not wait for
  // another port's code to be typed.
  class Turn {
   public:
    Turn(TypingTurns& turns, const std::atomic<bool>& stopping);
    ~Turn();
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

    bool Held() const { return held_; }

   private:
    TypingTurns& turns_;
    bool held_ = true;
  };

  // A reader's `stopping` was set: its thread stops waiting for its turn.
  void Wake();

 private:
  std::mutex mutex_;
  std::condition_variable next_;
  std::uint64_t issued_ = 0;         // tickets handed out
  std::uint64_t serving_ = 0;        // the ticket whose turn it is
  std::set<std::uint64_t> givenUp_;  // tickets whose turn is to be skipped
};

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

  // Reads `port`, whose codes end as `codeEnd` says, and types them when
  // `turns` gives it its turn. What became of each code goes to `recorder`
  // when there is one; the scanner hears of it as `replies` say.
  // `onLineLost` runs on the thread, which then ends, when the device
  // behind the port has gone or a break shows on the line.
  BRThread(std::unique_ptr<ScannerLine> line, std::wstring port, CodeEnd codeEnd, Replies replies, CodeTypist& typist,
           TypingTurns& turns, CodeRecorder* recorder, std::chrono::milliseconds unfinishedCodeTimeout,
           std::function<void()> onLineLost);
  // Requests termination and waits for the thread to end.
  ~BRThread();
  BRThread(const BRThread&) = delete;
  BRThread& operator=(const BRThread&) = delete;

  // Returns at once; the thread ends after the code it may be typing, or
  // waiting to type.
  void Terminate();

 private:
  void Execute();

  std::unique_ptr<ScannerLine> line_;
  const std::wstring port_;
  const CodeEnd codeEnd_;
  const Replies replies_;
  CodeTypist& typist_;
  TypingTurns& turns_;
  CodeRecorder* const recorder_;
  const std::chrono::milliseconds unfinishedCodeTimeout_;
  const std::function<void()> onLineLost_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;  // last: starts once everything it uses exists
};
