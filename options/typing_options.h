#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The bytes written back to a scanner once a code is typed, or refused
// (a scanner in host ACK/NAK mode beeps on 06 and 15); empty: nothing. A
// setting of the scanner's line, which the typist's outcome picks from.
struct Replies {
  std::string typed, refused;

  bool operator==(const Replies&) const = default;
};

// What the operator's site wants around and between the characters of a
// code. The defaults type the code alone, at once, with its separators.
struct TypingOptions {
  enum class Suffix { None, Enter, Tab };
  static constexpr int kMaxKeyDelayMs = 200;
  // Code pages by their Windows numbers; automatic decides for each code.
  static constexpr unsigned kAutomaticEncoding = 0, kWindows1251 = 1251, kUtf8 = 65001;

  // Whether codes start with a symbology identifier (`]` + letter +
  // modifier): none (a leading `]` is data), strip (taken off) or keep
  // (typed); rules may select by it either way.
  enum class AimId { None, Strip, Keep };
  // What a code no rule matches gets: typed as it is, or nothing.
  enum class NoMatch { Pass, Reject };
  // How the characters reach the window: keys of its layout (a character
  // the layout lacks as itself), every character as itself (what a
  // remote-session client passes on whatever the remote layout), or through
  // the clipboard and Ctrl+V.
  enum class TypeAs { Keys, Unicode, Paste };

  Suffix suffix = Suffix::None;
  // Typed before each code, under the same rules as the code itself.
  std::wstring prefix;
  // Pause between characters; 0 types a code in one go.
  int keyDelayMs = 0;
  // Typed in place of each group separator (GS, 0x1D) of a code; empty
  // keeps the separator itself.
  std::wstring groupSeparator;
  // The code page a code's bytes were written in.
  unsigned codePage = kAutomaticEncoding;
  AimId aimId = AimId::None;
  // One rule a text (see text/code_rules.h), and where the list was
  // found, as the log names it; no rules: the code goes through as it is.
  std::vector<std::wstring> rules;
  std::wstring rulesSource;
  // Why the stored list cannot be read (a value of a type that holds no
  // list); empty when it can. Such a list refuses every code it gets.
  std::wstring rulesUnreadable;
  NoMatch noMatch = NoMatch::Pass;
  TypeAs typeAs = TypeAs::Keys;

  bool operator==(const TypingOptions&) const = default;
};

// The options for every program: the general ones, and those a site set
// for one program alone (the file name of its .exe, "excel.exe").
struct TypingProfiles {
  TypingOptions general;
  // By FoldedProgramName. Empty where no program has options of its own,
  // and then nobody needs to ask which program is in front.
  std::map<std::wstring, TypingOptions, std::less<>> programs;

  // The options for the program whose file name is `program`, compared as
  // Windows compares file names.
  const TypingOptions& For(std::wstring_view program) const;
  bool operator==(const TypingProfiles&) const = default;
};

// A program's file name as Windows compares file names: ordinal, each
// character upcased by the simple case mapping of every alphabet.
std::wstring FoldedProgramName(std::wstring_view name);
