#include "reader/br_thread.h"

#include <algorithm>

#include "keys/delivery.h"
#include "line/code_framer.h"
#include "platform/diagnostics.h"

BRThread::BRThread(std::unique_ptr<ScannerLine> line, CodeTypist& typist, CodeRecorder* recorder,
                   TypingOptions::CodeEnd codeEnd, TypingOptions::Replies replies,
                   std::chrono::milliseconds unfinishedCodeTimeout, std::function<void()> onLineLost)
    : line_(std::move(line)),
      typist_(typist),
      recorder_(recorder),
      codeEnd_(codeEnd),
      replies_(std::move(replies)),
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
}

void BRThread::Execute() {
  typist_.Prepare();
  CodeFramer framer(codeEnd_);
  const CodeFramer::CodeHandler type = [this](std::string_view code) {
    const PreparedCode typed = typist_.TypeCode(code, recorder_ && recorder_->TypingHeld(), stopping_);
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
