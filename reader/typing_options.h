#pragma once

#include <string>

#include "platform/registry.h"

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

// Reads the options from the per-user settings, each value that the user
// lacks from the machine-wide settings under the same path. A value that
// is not valid counts as its default and is reported once per reading.
TypingOptions ReadTypingOptions(platform::Registry& registry);
