#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "options/typed_run.h"
#include "options/typing_options.h"

// Rules that shape a code for the program it is typed into, one rule a
// text, written for administrators (docs/rules.md has the language):
//
//   if length=13 and starts=2 then output {3-7}{TAB}{8-12}
//   if aim=]d2 and gs1 then output {01}{TAB}{21}
//   if regex=PN:0*(\d+)-(\w) then output $2{TAB}$1
//
// The first rule whose criteria all hold is applied, unless it ends with
// `continue`: then the rules after it see what it made. Positions and
// lengths count characters as an operator counts them: a surrogate pair is
// one. Regular expressions are compiled once, when the list is read, and a
// match that does more work than Boost.Regex allows rejects the code.

struct CodeOutcome;

// Why a rule cannot be read: its number and the column in it, from 1.
struct RuleError {
  std::size_t rule = 0;
  std::size_t column = 0;
  std::wstring why;
};

class RuleList {
 public:
  RuleList();
  ~RuleList();
  RuleList(RuleList&&) noexcept;
  RuleList& operator=(RuleList&&) noexcept;

  // Every rule, or the first that cannot be read, which makes the whole
  // list unusable: a list that is not what its author meant types nothing.
  // An empty text or one that starts with `#` is no rule, but counts in
  // the numbering. `source` is where the list was found, for the log.
  static RuleList Read(std::span<const std::wstring> rules, std::wstring source = {});
  // The options' list; one stored so that it cannot be read is a list that
  // cannot be read.
  static RuleList Of(const TypingOptions& options);

  bool Empty() const;
  const std::optional<RuleError>& Error() const { return error_; }
  const std::wstring& Source() const { return source_; }
  // "rule 2 of HKLM APPCFG\Rules, column 7: ..."
  std::wstring DescribeError() const;
  std::wstring SourceName() const { return source_.empty() ? L"the list" : source_; }

  struct Rule;

 private:
  friend CodeOutcome ShapeCode(std::wstring_view code, TypingOptions::AimId aimId, const RuleList& rules,
                               TypingOptions::NoMatch noMatch);
  std::vector<Rule> rules_;
  std::optional<RuleError> error_;
  std::wstring source_;
};

// The rule lists of the general options and of every program's, each list
// read once, when the options arrive; a list that cannot be read is noted
// in the log then, once, with where and why.
class ProfileRules {
 public:
  explicit ProfileRules(const TypingProfiles& profiles);
  // As TypingProfiles::For.
  const RuleList& For(std::wstring_view folded) const;

 private:
  std::vector<std::unique_ptr<const RuleList>> lists_;
  const RuleList* general_ = nullptr;
  std::map<std::wstring, const RuleList*, std::less<>> programs_;
};

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
// it. Never throws: whatever goes wrong rejects the code with its reason.
CodeOutcome ShapeCode(std::wstring_view code, TypingOptions::AimId aimId, const RuleList& rules,
                      TypingOptions::NoMatch noMatch);

// What is typed as a person reads it: keys and pauses as {TAB}, {ENTER},
// {GS}, {PAUSE:50}, other control characters as {0x01}, a brace doubled.
std::wstring DescribeTyped(std::span<const TypedRun> runs);
