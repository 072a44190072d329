#pragma once

#include <string>

// What the operator's site wants around and between the characters of a
// code. The defaults type the code alone, at once, with its separators.
struct TypingOptions {
  enum class Suffix { None, Enter, Tab };
  static constexpr int kMaxKeyDelayMs = 200;

  Suffix suffix = Suffix::None;
  // Typed before each code, under the same rules as the code itself.
  std::wstring prefix;
  // Pause between characters; 0 types a code in one go.
  int keyDelayMs = 0;
  // Typed in place of each group separator (GS, 0x1D) of a code; empty
  // keeps the separator itself.
  std::wstring groupSeparator;

  bool operator==(const TypingOptions&) const = default;
};
