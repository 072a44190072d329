#include "settings/stored_typing_options.h"

#include <optional>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "settings/registry_names.h"

namespace {

// A value the user has, else the machine's; a registry that fails to
// answer has none.
std::optional<std::wstring> ReadValue(platform::Registry& registry, const std::wstring& name) {
  const std::wstring key = registry_names::kSettingsKey + L"\\" + registry_names::kAppCfgSection;
  for (const auto hive : {platform::Hive::CurrentUser, platform::Hive::LocalMachine}) {
    try {
      if (auto text = registry.ReadText(hive, key, name)) return text;
    } catch (const platform::RegistryError& error) {
      // As if the value were missing in this hive; the help desk hears of it.
      diagnostics::Failure(L"reading APPCFG\\" + name, error.code);
    }
  }
  return std::nullopt;
}

bool SameLetters(std::wstring_view text, std::wstring_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    if (lower(text[i]) != lower(word[i])) return false;
  }
  return true;
}

std::optional<TypingOptions::Suffix> ParseSuffix(std::wstring_view text) {
  if (text.empty()) return TypingOptions::Suffix::None;
  if (SameLetters(text, L"Enter")) return TypingOptions::Suffix::Enter;
  if (SameLetters(text, L"Tab")) return TypingOptions::Suffix::Tab;
  return std::nullopt;
}

std::optional<int> ParseKeyDelay(std::wstring_view text) {
  if (text.empty()) return 0;
  const auto delay = platform::StrToInt(text);
  if (!delay || *delay < 0 || *delay > TypingOptions::kMaxKeyDelayMs) return std::nullopt;
  return *delay;
}

void ReportInvalid(const std::wstring& name, const std::wstring& text) {
  diagnostics::Event(L"APPCFG\\" + name + L" = \"" + text + L"\" is not valid; the default is used");
}

}  // namespace

TypingOptions ReadTypingOptions(platform::Registry& registry) {
  using namespace registry_names;
  TypingOptions options;
  if (const auto text = ReadValue(registry, kSuffix)) {
    if (const auto suffix = ParseSuffix(*text)) {
      options.suffix = *suffix;
    } else {
      ReportInvalid(kSuffix, *text);
    }
  }
  if (const auto text = ReadValue(registry, kKeyDelay)) {
    if (const auto delay = ParseKeyDelay(*text)) {
      options.keyDelayMs = *delay;
    } else {
      ReportInvalid(kKeyDelay, *text);
    }
  }
  options.prefix = ReadValue(registry, kPrefix).value_or(L"");
  options.groupSeparator = ReadValue(registry, kGroupSeparator).value_or(L"");
  return options;
}
