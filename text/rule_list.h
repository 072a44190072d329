#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "options/typing_options.h"

// A list of rules as it is read, once, when the options arrive: every rule
// checked and its regular expressions compiled (docs/rules.md has the
// language; code_rules.h applies a list to a code).

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
                               TypingOptions::NoMatch noMatch, const std::atomic<bool>* stopping,
                               std::wstring_view port);
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
  // The list for the program whose file name is `program`, compared as
  // Windows compares file names: as TypingProfiles::For finds its options.
  const RuleList& For(std::wstring_view program) const;

 private:
  std::vector<std::unique_ptr<const RuleList>> lists_;
  const RuleList* general_ = nullptr;
  std::map<std::wstring, const RuleList*, std::less<>> programs_;
};
