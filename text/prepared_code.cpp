#include "text/prepared_code.h"

#include <algorithm>
#include <utility>

#include "platform/conversions.h"

namespace {

constexpr wchar_t kGroupSeparator = 0x1D;

TypingProfiles WithUsableCodePages(TypingProfiles profiles, const CodePages& codePages) {
  profiles.general.codePage = UsableCodePage(profiles.general.codePage, codePages);
  for (auto& [program, options] : profiles.programs) options.codePage = UsableCodePage(options.codePage, codePages);
  return profiles;
}

// The text as typed: without what is left out, each GS replaced when a
// replacement is set.
void AppendTyped(std::wstring& typed, std::wstring_view text, std::wstring_view groupSeparator) {
  for (const wchar_t c : text) {
    if (c == kGroupSeparator && !groupSeparator.empty()) {
      AppendTyped(typed, groupSeparator, {});
    } else if (!IsLeftOut(c)) {
      typed += c;
    }
  }
}

}  // namespace

TypingSettings::TypingSettings(const TypingProfiles& profiles, const CodePages& codePages)
    : profiles_(WithUsableCodePages(profiles, codePages)), rules_(profiles_) {}

TypingSettings::Program TypingSettings::For(std::wstring_view program) const {
  return {profiles_.For(program), rules_.For(program)};
}

PreparedCode PrepareCode(std::string_view bytes, std::wstring_view program, const TypingSettings& settings,
                         const CodePages& codePages, bool held, const std::atomic<bool>* stopping,
                         std::wstring_view port) {
  const auto [options, rules] = settings.For(program);
  PreparedCode code;
  code.bytes = bytes;
  code.port = port;
  code.program = program;
  code.decoded = DecodeCode(bytes, options.codePage, codePages);
  code.keyDelayMs = options.keyDelayMs;
  if (!HasSomethingToType(code.decoded.text)) return code;
  CodeOutcome shaped = ShapeCode(code.decoded.text, options.aimId, rules, options.noMatch, stopping, port);
  code.aimId = std::move(shaped.aimId);
  code.rule = shaped.rule;
  if (shaped.result == CodeOutcome::Result::Rejected) {
    code.outcome = PreparedCode::Outcome::Refused;
    code.why = std::move(shaped.why);
    return code;
  }
  code.note = std::move(shaped.why);
  std::vector<TypedRun> runs;
  bool somethingToType = false;
  for (TypedRun& run : shaped.output) {
    TypedRun& typed = runs.emplace_back(TypedRun{{}, run.pauseAfterMs});
    AppendTyped(typed.text, run.text, options.groupSeparator);
    somethingToType = somethingToType || HasSomethingToType(typed.text);
  }
  if (!somethingToType) {
    // As ShapeCode refuses an output that is empty: what is left holds only
    // characters that are left out.
    code.outcome = PreparedCode::Outcome::Refused;
    code.why = (code.rule ? L"rule " + platform::IntToStr(*code.rule) + L" of " + rules.SourceName() + L": " : L"") +
               L"nothing is left to type";
    return code;
  }
  std::wstring prefix;
  AppendTyped(prefix, options.prefix, {});
  runs.front().text.insert(0, prefix);
  // After the rules' last pause, if they end with one.
  if (options.suffix == TypingOptions::Suffix::Enter) runs.push_back({L"\n"});
  if (options.suffix == TypingOptions::Suffix::Tab) runs.push_back({L"\t"});
  code.runs = std::move(runs);
  code.outcome = held ? PreparedCode::Outcome::Held : PreparedCode::Outcome::ToType;
  return code;
}

bool IsLeftOut(wchar_t c) {
  const bool control = c < 0x20 || c == 0x7F;
  const bool key = c == L'\b' || c == L'\t' || c == L'\n' || c == 0x1B;
  const bool separator = c == 0x04 || (c >= 0x1C && c <= 0x1F);
  return control && !key && !separator;
}

bool HasSomethingToType(std::wstring_view text) {
  return !std::ranges::all_of(text, [](wchar_t c) { return c == L'\n' || IsLeftOut(c); });
}

std::string DroppedControlBytes(std::wstring_view text) {
  std::string dropped;
  for (const wchar_t c : text) {
    if (IsLeftOut(c)) dropped += static_cast<char>(c);
  }
  return dropped;
}
