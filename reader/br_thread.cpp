#include "reader/br_thread.h"

#include <algorithm>

#include "platform/diagnostics.h"
#include "reader/code_framer.h"

std::chrono::milliseconds BRThread::QuietGap(std::uint32_t baudRate) {
  // USB serial adapters hand data over in chunks up to 16 ms apart; three
  // character times cover slow lines.
  constexpr std::chrono::milliseconds kMinimum{50};
  const auto threeCharacters = std::chrono::milliseconds(30000 / std::max<std::uint32_t>(baudRate, 1) + 1);
  return std::max(kMinimum, threeCharacters);
}

BRThread::BRThread(std::unique_ptr<ScannerLine> line, CodeTypist& typist, std::chrono::milliseconds quietGap,
                   std::function<void()> onLineLost)
    : line_(std::move(line)), typist_(typist), quietGap_(quietGap), onLineLost_(std::move(onLineLost)), thread_([this] {
        Execute();
      }) {}

BRThread::~BRThread() {
  Terminate();
  thread_.join();
}

void BRThread::Terminate() {
  stopping_ = true;
  line_->RequestStop();
}

void BRThread::Execute() {
  CodeFramer framer;
  const CodeFramer::CodeHandler type = [this](std::string_view code) { typist_.TypeCode(code, stopping_); };
  for (;;) {
    std::span<const std::uint8_t> bytes;
    const auto quietAfter = framer.position() > 0 ? std::optional(quietGap_) : std::nullopt;
    switch (line_->Wait(quietAfter, bytes)) {
      case ScannerLine::Event::Bytes:
        framer.Feed(bytes, type);
        break;
      case ScannerLine::Event::Quiet:
        framer.EndOfRead();
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
