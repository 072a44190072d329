#include "reader/code_framer.h"

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/diagnostics_log.h"

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;
constexpr std::uint8_t kNul = 0x00;

}  // namespace

CodeFramer::CodeFramer() { code_.reserve(kMaxCodeLength); }

void CodeFramer::Feed(std::span<const std::uint8_t> bytes, const CodeHandler& onCode) {
  for (const std::uint8_t byte : bytes) {
    // Adapters and scanners put zero bytes on the line when they power up.
    if (byte == kNul) continue;
    if (byte == kCarriageReturn) {
      if (dropping_) {
        diagnostics::Event(L"code of " + platform::IntToStr(droppedLength_) +
                           L" bytes dropped: too long, or its start was lost");
      } else {
        onCode(code_);
      }
      code_.clear();
      dropping_ = false;
      droppedLength_ = 0;
      afterCarriageReturn_ = true;
      continue;
    }
    const bool endsLine = byte == kLineFeed && afterCarriageReturn_;
    afterCarriageReturn_ = false;
    if (endsLine) continue;
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
}

void CodeFramer::DropUnfinished() {
  if (code_.empty()) return;
  // A lone byte is what adapters and scanners put on the line when they
  // are plugged in or power up (0xFF, say), not the head of a scan: the
  // next scan must not be lost with it.
  if (code_.size() == 1) {
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
