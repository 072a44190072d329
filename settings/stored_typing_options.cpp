#include "settings/stored_typing_options.h"

#include <optional>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "settings/registry_names.h"

namespace {

// A value the user has, else the machine's; a registry that fails to
// answer has none.
std::optional<platform::StoredValue> ReadValue(platform::Registry& registry, const std::wstring& name) {
  const std::wstring key = registry_names::kSettingsKey + L"\\" + registry_names::kAppCfgSection;
  for (const auto hive : {platform::Hive::CurrentUser, platform::Hive::LocalMachine}) {
    try {
      if (auto value = registry.ReadValue(hive, key, name)) return value;
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

// "auto", "UTF-8" or a code page's number; which numbers Windows knows is
// for the decoder to say.
std::optional<unsigned> ParseEncoding(std::wstring_view text) {
  if (text.empty() || SameLetters(text, L"auto")) return TypingOptions::kAutomaticEncoding;
  if (SameLetters(text, L"UTF-8")) return TypingOptions::kUtf8;
  const auto number = platform::StrToInt(text);
  if (!number || *number < 1 || *number > 65535 || text.front() == L'+' || text.front() == L'-') return std::nullopt;
  return static_cast<unsigned>(*number);
}

// "CR", "pause", or the two hex digits of the byte a scanner ends its codes
// with. A zero byte is line noise and can end nothing.
std::optional<TypingOptions::CodeEnd> ParseCodeEnd(std::wstring_view text) {
  using CodeEnd = TypingOptions::CodeEnd;
  if (text.empty() || SameLetters(text, L"CR")) return CodeEnd{};
  if (SameLetters(text, L"pause")) return CodeEnd{CodeEnd::Kind::Pause};
  const auto digit = [](wchar_t c) -> int {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
  };
  if (text.size() != 2 || digit(text[0]) < 0 || digit(text[1]) < 0) return std::nullopt;
  const auto byte = static_cast<std::uint8_t>(digit(text[0]) * 16 + digit(text[1]));
  if (byte == 0x00) return std::nullopt;
  if (byte == CodeEnd{}.byte) return CodeEnd{};
  return CodeEnd{CodeEnd::Kind::Byte, byte};
}

// Administrators deploy numbers as text or as a DWORD, by habit.
std::optional<int> ParseKeyDelay(const platform::StoredValue& value) {
  std::optional<std::int64_t> delay;
  if (value.kind == platform::StoredValue::Kind::Number) delay = value.number;
  if (value.kind == platform::StoredValue::Kind::Text) {
    if (value.text.empty()) return 0;
    delay = platform::StrToInt(value.text);
  }
  if (!delay || *delay < 0 || *delay > TypingOptions::kMaxKeyDelayMs) return std::nullopt;
  return static_cast<int>(*delay);
}

std::optional<std::wstring> Text(const platform::StoredValue& value) {
  if (value.kind != platform::StoredValue::Kind::Text) return std::nullopt;
  return value.text;
}

void ReportInvalid(const std::wstring& name, const platform::StoredValue& value) {
  diagnostics::Event(L"APPCFG\\" + name + L" " + DescribeStoredValue(value) + L" is not valid; the default is used");
}

// Reads the value `name` and hands it to `parse`; a value it rejects keeps
// `option` as it is and is reported.
template <typename Option, typename Parse>
void ReadOption(platform::Registry& registry, const std::wstring& name, Option& option, Parse parse) {
  const auto value = ReadValue(registry, name);
  if (!value) return;
  if (const auto parsed = parse(*value)) {
    option = *parsed;
  } else {
    ReportInvalid(name, *value);
  }
}

}  // namespace

TypingOptions ReadTypingOptions(platform::Registry& registry) {
  using namespace registry_names;
  TypingOptions options;
  ReadOption(registry, kSuffix, options.suffix,
             [](const platform::StoredValue& value) { return Text(value) ? ParseSuffix(*Text(value)) : std::nullopt; });
  ReadOption(registry, kKeyDelay, options.keyDelayMs, ParseKeyDelay);
  ReadOption(registry, kPrefix, options.prefix, Text);
  ReadOption(registry, kGroupSeparator, options.groupSeparator, Text);
  ReadOption(registry, kEncoding, options.codePage, [](const platform::StoredValue& value) {
    return Text(value) ? ParseEncoding(*Text(value)) : std::nullopt;
  });
  ReadOption(registry, kCodeEnd, options.codeEnd, [](const platform::StoredValue& value) {
    return Text(value) ? ParseCodeEnd(*Text(value)) : std::nullopt;
  });
  return options;
}

std::wstring DescribeStoredValue(const platform::StoredValue& value) {
  using Kind = platform::StoredValue::Kind;
  switch (value.kind) {
    case Kind::Text:
      return L"= \"" + value.text + L"\"";
    case Kind::Number:
      return L"= " + platform::IntToStr(value.number) + L" (REG_DWORD)";
    case Kind::TooLong:
      return L"(a text too long to be a setting)";
    case Kind::OtherType:
      break;
  }
  return L"(stored as registry type " + platform::IntToStr(value.registryType) + L", which holds no setting)";
}
