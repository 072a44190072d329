#include "line/code_framer.h"

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/diagnostics_log.h"

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kNul = 0x00;

// What adapters and scanners put on the line when they are plugged in or
// power up (0xFF, 0x00, a control byte); no code starts with one.
bool IsNoise(std::uint8_t byte) { return byte < 0x20 || byte >= 0x7F; }

}  // namespace

CodeFramer::CodeFramer(CodeEnd end) : end_(end) { code_.reserve(kMaxCodeLength); }

void CodeFramer::Feed(std::span<const std::uint8_t> bytes, const CodeHandler& onCode) {
  using Kind = CodeEnd::Kind;
  for (const std::uint8_t byte : bytes) {
    // Adapters and scanners put zero bytes on the line when they power up.
    if (byte == kNul) continue;
    if (end_.kind == Kind::CarriageReturn) {
      if (byte == kCarriageReturn) {
        EndCode(onCode);
        afterCarriageReturn_ = true;
        continue;
      }
      const bool endsLine = byte == kLineFeed && afterCarriageReturn_;
      afterCarriageReturn_ = false;
      if (!endsLine) Store(byte);
      continue;
    }
    if (end_.kind == Kind::Byte && byte == end_.byte) {
      // A scanner set to end its codes with LF may send CR LF.
      if (byte == kLineFeed && pendingBreak_ == Break::CarriageReturn) {
        pendingBreak_ = Break::None;
      } else {
        StorePendingBreak();
      }
      EndCode(onCode);
      continue;
    }
    if (byte == kCarriageReturn || byte == kLineFeed) {
      if (byte == kLineFeed && pendingBreak_ == Break::CarriageReturn) {
        pendingBreak_ = Break::Complete;
        continue;
      }
      StorePendingBreak();
      pendingBreak_ = byte == kCarriageReturn ? Break::CarriageReturn : Break::Complete;
      continue;
    }
    StorePendingBreak();
    Store(byte);
  }
}

void CodeFramer::Store(std::uint8_t byte) {
  if (dropping_) {
    ++droppedLength_;
  } else if (code_.size() < kMaxCodeLength) {
    code_.push_back(static_cast<char>(byte));
  } else {
    // Typing the first part would enter a wrong code.
    droppedLength_ = code_.size() + 1;
    code_.clear();
    dropping_ = true;
  }
}

void CodeFramer::StorePendingBreak() {
  if (pendingBreak_ == Break::None) return;
  pendingBreak_ = Break::None;
  // The planner types a line feed as Enter.
  Store(kLineFeed);
}

void CodeFramer::EndCode(const CodeHandler& onCode) {
  if (dropping_) {
    diagnostics::Event(L"code of " + platform::IntToStr(droppedLength_) +
                       L" bytes dropped: too long, or its start was lost");
    ++droppedCodes_;
  } else {
    onCode(code_);
  }
  code_.clear();
  dropping_ = false;
  droppedLength_ = 0;
  pendingBreak_ = Break::None;
}

void CodeFramer::EndAtPause(const CodeHandler& onCode) {
  // The line break the line fell quiet after is the scanner's terminator.
  pendingBreak_ = Break::None;
  EndCode(onCode);
}

void CodeFramer::DropUnfinished() {
  StorePendingBreak();
  if (code_.empty()) return;
  // A lone noise byte is not the head of a scan: the next scan must not be
  // lost with it. A lone printable byte may be a head whose tail is late.
  if (code_.size() == 1 && IsNoise(static_cast<std::uint8_t>(code_[0]))) {
    diagnostics::Event(L"stray byte " + diagnostics::Hex(code_) + L" dropped: the line went quiet");
    code_.clear();
    return;
  }
  diagnostics::Event(L"unfinished code of " + platform::IntToStr(code_.size()) +
                     L" bytes dropped: the line went quiet");
  droppedLength_ = code_.size();
  code_.clear();
  dropping_ = true;
}
