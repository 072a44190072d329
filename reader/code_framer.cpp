#include "reader/code_framer.h"

#include <cstring>

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kLineFeed = 0x0A;

}  // namespace

void CodeFramer::Feed(std::span<const std::uint8_t> bytes, const CodeHandler& onCode) {
  for (const std::uint8_t byte : bytes) {
    if (byte == kCarriageReturn) {
      // A code that did not fit arrived damaged; typing its first part
      // would enter a wrong code.
      if (!overflowed_) onCode(std::string_view(codeBuffer_.data(), std::strlen(codeBuffer_.data())));
      Clear();
      afterCarriageReturn_ = true;
      continue;
    }
    const bool endsLine = byte == kLineFeed && afterCarriageReturn_;
    afterCarriageReturn_ = false;
    if (endsLine) continue;
    if (position_ < kCapacity - 1) {
      codeBuffer_[position_++] = static_cast<char>(byte);
    } else {
      overflowed_ = true;
    }
  }
}

void CodeFramer::EndOfRead() {
  if (position_ > kMaxUnfinishedLength) Clear();
}

void CodeFramer::Clear() {
  codeBuffer_.fill(0);
  position_ = 0;
  overflowed_ = false;
}
