#include "reader/br_thread.h"

#include <algorithm>

#include "keys/delivery.h"
#include "line/code_framer.h"
#include "platform/diagnostics.h"

TypingTurns::Turn::Turn(TypingTurns& turns, const std::atomic<bool>& stopping) : turns_(turns) {
  std::unique_lock lock(turns_.mutex_);
  const std::uint64_t ticket = turns_.issued_++;
  turns_.next_.wait(lock, [&] { return turns_.serving_ == ticket || stopping; });
  if (turns_.serving_ == ticket) return;
  held_ = false;
  turns_.givenUp_.insert(ticket);
}

TypingTurns::Turn::~Turn() {
  if (!held_) return;
  {
    const std::lock_guard lock(turns_.mutex_);
    while (turns_.givenUp_.erase(++turns_.serving_) == 1) {
    }
  }
  turns_.next_.notify_all();
}

void TypingTurns::Wake() {
  { const std::lock_guard lock(mutex_); }  // a waiter between its look at `stopping` and its sleep sees it
  next_.notify_all();
}

BRThread::BRThread(std::unique_ptr<ScannerLine> line, std::wstring port, CodeEnd codeEnd, Replies replies,
                   CodeTypist& typist, TypingTurns& turns, CodeRecorder* recorder,
                   std::chrono::milliseconds unfinishedCodeTimeout, std::function<void()> onLineLost)
    : line_(std::move(line)),
      port_(std::move(port)),
      codeEnd_(codeEnd),
      replies_(std::move(replies)),
      typist_(typist),
      turns_(turns),
      recorder_(recorder),
      unfinishedCodeTimeout_(unfinishedCodeTimeout),
      onLineLost_(std::move(onLineLost)),
      thread_([this] { Execute(); }) {}

BRThread::~BRThread() {
  Terminate();
  thread_.join();
}

void BRThread::Terminate() {
  stopping_ = true;
  line_->RequestStop();
  turns_.Wake();
}

void BRThread::Execute() {
  {
    const TypingTurns::Turn turn(turns_, stopping_);
    if (turn.Held()) typist_.Prepare();
  }
  CodeFramer framer(codeEnd_);
  // The turn is asked for as the code is completed: codes of several ports
  // are typed in the order they were scanned, never one inside another, and
  // recorded in that order.
  const CodeFramer::CodeHandler type = [this](std::string_view code) {
    const TypingTurns::Turn turn(turns_, stopping_);
    if (!turn.Held()) return;  // the reader is closing: nothing more is typed
    const PreparedCode typed = typist_.TypeCode(code, port_, recorder_ && recorder_->TypingHeld(), stopping_);
    if (recorder_) recorder_->Record(typed);
    // A reader closing tells the scanner nothing more. A write that fails
    // is the log's news alone: never sent again with the next code's reply.
    const std::string_view reply = stopping_ ? std::string_view() : ReplyFor(typed.outcome, replies_);
    if (!reply.empty()) line_->Write(std::span(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()));
  };
  for (;;) {
    std::span<const std::uint8_t> bytes;
    std::optional<std::chrono::milliseconds> quietAfter;
    if (framer.AwaitsPause()) {
      // Never longer than a code may pause inside.
      quietAfter = std::min(kCodeEndPause, unfinishedCodeTimeout_);
    } else if (framer.HasUnfinishedCode()) {
      quietAfter = unfinishedCodeTimeout_;
    }
    switch (line_->Wait(quietAfter, bytes)) {
      case ScannerLine::Event::Bytes:
        framer.Feed(bytes, type);
        break;
      case ScannerLine::Event::Quiet:
        if (framer.AwaitsPause()) {
          framer.EndAtPause(type);
        } else {
          framer.DropUnfinished();
        }
        break;
      case ScannerLine::Event::Stop:
        return;
      case ScannerLine::Event::Break:
        // A scanner power-cycled, an adapter replugged: the line is
        // reopened and read afresh, as after a loss.
        diagnostics::Event(L"break on the line");
        [[fallthrough]];
      case ScannerLine::Event::Lost:
        // A code cut off by the loss is dropped with the framer: never
        // typed in half, never twice.
        onLineLost_();
        return;
    }
  }
}
