#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

// Cuts the scanner's byte stream into codes. A carriage return ends a code
// and is never part of it; a line feed right after it (also in the next
// read) belongs to the same line ending. A zero byte is line noise: never
// stored, and it ends nothing. A code is typed whole or not at all: one too
// long to be a code, or one whose head was dropped, is dropped up to its
// carriage return.
class CodeFramer {
 public:
  // Longer than any 2D code (a QR code holds at most 2,953 bytes) with room
  // to spare; a line longer than this is not a code.
  static constexpr std::size_t kMaxCodeLength = 8192;

  using CodeHandler = std::function<void(std::string_view code)>;

  CodeFramer();

  void Feed(std::span<const std::uint8_t> bytes, const CodeHandler& onCode);
  // The line has been quiet too long for an unfinished code to be one
  // scan: it is dropped, and so is the rest of its line when that comes.
  // A lone byte is dropped alone: it is noise, not a head.
  void DropUnfinished();

  // Whether bytes of a code that has not ended are held.
  bool HasUnfinishedCode() const { return !code_.empty(); }

 private:
  std::string code_;
  // The line being framed lost bytes or its head: nothing of it is typed.
  bool dropping_ = false;
  std::size_t droppedLength_ = 0;
  bool afterCarriageReturn_ = false;
};
