#pragma once

// What a rule is made of: rule_list.cpp reads a list into these, and
// code_rules.cpp applies them. For those two files alone.

// Header-only, with no other Boost library behind it. Past its bound on a
// match's states, a match throws instead of running on (code_rules.cpp
// walks a code so that this bound is the fixed one, and adds its own).
#define BOOST_REGEX_STANDALONE
#define BOOST_REGEX_MAX_STATE_COUNT 1000000
#include <boost/regex.hpp>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/rule_list.h"

namespace rules {

constexpr wchar_t kGroupSeparator = 0x1D;

inline bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Where each character starts, and the text's end: a surrogate pair is one.
std::vector<std::size_t> CharacterStarts(std::wstring_view text);
std::size_t CharacterCount(std::wstring_view text);
// The case of Latin, modern Greek and Cyrillic letters.
std::wstring InCase(std::wstring_view text, bool upper);

using Regex = std::shared_ptr<const boost::wregex>;

struct Criterion {
  enum class Kind { Aim, Port, Length, Starts, Ends, Contains, At, Like, Regex, Gs1, Digits };
  Kind kind;
  bool negated = false;
  std::wstring text = {};
  std::size_t least = 0, most = 0;  // a length's range; a position
  Regex regex = {};
};

// A piece of an output template.
struct Piece {
  enum class Kind { Text, Pause, Code, Aim, Characters, Field, Group };
  Kind kind;
  std::wstring text = {};        // literal text; a field's identifier
  std::size_t from = 0, to = 0;  // characters; a group's number; a pause
};

struct Action {
  enum class Kind {
    KeepFirst,
    KeepLast,
    KeepRange,
    DropFirst,
    DropLast,
    DropRange,
    Replace,
    RegexReplace,
    RemoveSpaces,
    StripZeros,
    PadLeft,
    PadRight,
    Upper,
    Lower,
    CheckDigitVerify,
    CheckDigitDrop,
    UpcToEan13,
    Ean13ToUpc,
    Output,
    Reject,
    Continue
  };
  Kind kind;
  std::size_t from = 0, to = 0;
  std::wstring text, with;
  Regex regex;
  std::vector<Piece> pieces;
};

}  // namespace rules

struct RuleList::Rule {
  std::vector<rules::Criterion> criteria;
  std::vector<rules::Action> actions;
};
