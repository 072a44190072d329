#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "line/port_settings.h"

// Cuts the scanner's byte stream into codes. What ends a code comes from
// the options: a carriage return (a line feed right after it, also in the
// next read, belongs to the same line ending); a line break that the line
// stays quiet after, the break not part of the code; or the one byte the
// scanner is set to end codes with. Where a carriage return does not end
// the code, each line break inside it (CR, LF, or CR LF as one) is one line
// feed in the code. A zero byte is line noise: never stored, and it ends
// nothing. A code is typed whole or not at all: one too long to be a code,
// or one whose head was dropped, is dropped up to its end.
class CodeFramer {
 public:
  // Longer than any 2D code (a QR code holds at most 2,953 bytes) with room
  // to spare; a line longer than this is not a code.
  static constexpr std::size_t kMaxCodeLength = 8192;

  using CodeHandler = std::function<void(std::string_view code)>;

  explicit CodeFramer(CodeEnd end = {});

  void Feed(std::span<const std::uint8_t> bytes, const CodeHandler& onCode);
  // The line has been quiet too long for an unfinished code to be one
  // scan: it is dropped, and so is the rest of its line when that comes.
  // A lone byte that cannot start a code (a control byte, or 0x80 and
  // above) is dropped alone: it is noise, not a head.
  void DropUnfinished();

  // Whether a line break ends what is held once the line stays quiet.
  bool AwaitsPause() const { return pendingBreak_ != Break::None && end_.kind == CodeEnd::Kind::Pause; }
  // The line stayed quiet after a line break: the code before it is whole.
  void EndAtPause(const CodeHandler& onCode);

  // Whether bytes of a code that has not ended are held.
  bool HasUnfinishedCode() const { return !code_.empty() || pendingBreak_ != Break::None; }
  // How many codes have ended dropped so far: too long, or their start lost.
  std::size_t DroppedCodes() const { return droppedCodes_; }

 private:
  enum class Break { None, CarriageReturn, Complete };

  void Store(std::uint8_t byte);
  void StorePendingBreak();
  void EndCode(const CodeHandler& onCode);

  const CodeEnd end_;
  std::string code_;
  // A line break seen and not yet stored: it may still be the code's end,
  // or the first half of CR LF.
  Break pendingBreak_ = Break::None;
  // The line being framed lost bytes or its head: nothing of it is typed.
  bool dropping_ = false;
  std::size_t droppedLength_ = 0;
  bool afterCarriageReturn_ = false;
  std::size_t droppedCodes_ = 0;
};
