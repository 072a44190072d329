// Reads any list of rules and shapes any code with it under every
// identifier and no-match setting. Nothing may throw out; a list that
// cannot be read says which rule and a column inside it, and types
// nothing; a code is either typed (what a rule made, or the code itself
// when none applied, never nothing) or rejected with a reason and nothing
// to type; what is typed stays within its bound, and so does the time a
// code takes.
#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "text/code_rules.h"

namespace {

void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

std::wstring Widen(const std::string& bytes) { return {bytes.begin(), bytes.end()}; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const auto aimId = static_cast<TypingOptions::AimId>(input.ConsumeIntegralInRange(0, 2));
  const auto noMatch = input.ConsumeBool() ? TypingOptions::NoMatch::Reject : TypingOptions::NoMatch::Pass;
  std::vector<std::wstring> texts(input.ConsumeIntegralInRange(0, 4));
  for (std::wstring& text : texts) text = Widen(input.ConsumeRandomLengthString(200));
  const std::wstring code = Widen(input.ConsumeRemainingBytesAsString());

  const RuleList rules = RuleList::Read(texts);
  if (const auto& error = rules.Error()) {
    Check(error->rule >= 1 && error->rule <= texts.size(), "the broken rule's number is not in the list");
    Check(error->column >= 1 && error->column <= texts[error->rule - 1].size() + 1, "the column is not in the rule");
    Check(!error->why.empty(), "a broken rule without a reason");
  }
  const auto started = std::chrono::steady_clock::now();
  const CodeOutcome outcome = ShapeCode(code, aimId, rules, noMatch);
  Check(std::chrono::steady_clock::now() - started < std::chrono::seconds(2), "one code took more than 2 s");
  if (outcome.result == CodeOutcome::Result::Rejected) {
    Check(outcome.output.empty() && !outcome.why.empty(), "a rejected code types something, or says not why");
    return 0;
  }
  Check(!rules.Error(), "a list that cannot be read typed a code");
  std::size_t typed = 0;
  for (const TypedRun& run : outcome.output) typed += run.text.size();
  Check(typed <= 20000 + outcome.aimId.size(), "what a rule made is longer than the bound");
  Check(typed > 0, "a code typed as nothing");
  if (!outcome.rule) {
    const std::wstring expected = aimId == TypingOptions::AimId::Strip ? code.substr(outcome.aimId.size()) : code;
    Check(outcome.output.size() == 1 && outcome.output[0].text == expected, "no rule applied, yet the code changed");
  }
  return 0;
}
