#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

// Cuts the scanner's byte stream into codes. A carriage return ends a code
// and is never part of it; a line feed right after it (also in the next
// read) belongs to the same line ending. Everything else is stored, up to
// the buffer's capacity.
class CodeFramer {
 public:
  // One byte of the buffer always stays zero.
  static constexpr std::size_t kCapacity = 128;
  // An unfinished code longer than this after a whole read is line noise.
  static constexpr std::size_t kMaxUnfinishedLength = 64;

  // Receives each completed code, up to its first zero byte.
  using CodeHandler = std::function<void(std::string_view code)>;

  void Feed(std::span<const std::uint8_t> bytes, const CodeHandler& onCode);
  // Ends a read: drops an unfinished code that has grown too long.
  void EndOfRead();

  std::size_t position() const { return position_; }

 private:
  void Clear();

  std::array<char, kCapacity> codeBuffer_{};
  std::size_t position_ = 0;
  bool overflowed_ = false;  // bytes were lost: the code must not be typed
  bool afterCarriageReturn_ = false;
};
