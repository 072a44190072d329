#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "options/typed_run.h"
#include "options/typing_options.h"
#include "text/rule_list.h"

// Rules that shape a code for the program it is typed into, one rule a
// text, written for administrators (docs/rules.md has the language):
//
//   if length=13 and starts=2 then output {3-7}{TAB}{8-12}
//   if aim=]d2 and gs1 then output {01}{TAB}{21}
//   if port=COM3 then output B{CODE}
//   if regex=PN:0*(\d+)-(\w) then output $2{TAB}$1
//
// The first rule whose criteria all hold is applied, unless it ends with
// `continue`: then the rules after it see what it made. Positions and
// lengths count characters as an operator counts them: a surrogate pair is
// one. Regular expressions are compiled once, when the list is read; a
// code's matches get 30 ms in all, and a match still running past that, or
// when `stopping` is set, rejects the code.

// What became of a code: all a monitor needs to show it.
struct CodeOutcome {
  enum class Result { Typed, Rejected };
  Result result = Result::Typed;
  std::wstring aimId;               // the symbology identifier found; empty when none
  std::optional<std::size_t> rule;  // the number of the last rule applied; none when none was
  std::wstring why;                 // a rejection's reason, or a note for the log
  // What is typed before GroupSeparator, Prefix and Suffix apply: Tab as
  // '\t', Enter as '\n', GS as 0x1D. Empty for a rejected code.
  std::vector<TypedRun> output;
};

// The code (decoded) as the identifier setting, the rules and NoMatch make
// it; `port` is the one it came from. Never throws: whatever goes wrong
// rejects the code with its reason.
CodeOutcome ShapeCode(std::wstring_view code, TypingOptions::AimId aimId, const RuleList& rules,
                      TypingOptions::NoMatch noMatch, const std::atomic<bool>* stopping = nullptr,
                      std::wstring_view port = {});

// What is typed as a person reads it: keys and pauses as {TAB}, {ENTER},
// {GS}, {PAUSE:50}, other control characters as {0x01}, a brace doubled.
std::wstring DescribeTyped(std::span<const TypedRun> runs);
