#include "settings/option_table.h"

#include <array>
#include <map>
#include <optional>
#include <stdexcept>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/system_events.h"
#include "settings/registry_names.h"

namespace option_table {
namespace {

using platform::StoredValue;

bool SameLetters(std::wstring_view text, std::wstring_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    if (lower(text[i]) != lower(word[i])) return false;
  }
  return true;
}

const std::wstring* Text(const StoredValue& value) {
  return value.kind == StoredValue::Kind::Text ? &value.text : nullptr;
}

// Administrators deploy numbers as text or as a DWORD, by habit.
std::optional<std::int64_t> Number(const StoredValue& value) {
  if (value.kind == StoredValue::Kind::Number) return value.number;
  if (value.kind != StoredValue::Kind::Text) return std::nullopt;
  return platform::StrToInt(value.text);
}

constexpr std::array<std::wstring_view, 3> kSuffixWords{L"", L"Enter", L"Tab"};
constexpr std::array<TypingOptions::Suffix, 3> kSuffixes{TypingOptions::Suffix::None, TypingOptions::Suffix::Enter,
                                                         TypingOptions::Suffix::Tab};
// Besides these, the number of a code page that can refuse invalid bytes.
constexpr std::array<std::wstring_view, 3> kEncodingWords{L"auto", L"UTF-8", L"1251"};
// Besides these, the two hex digits of a control byte but 00 (01-1F, 7F).
constexpr std::array<std::wstring_view, 2> kCodeEndWords{L"CR", L"pause"};
constexpr std::array<std::wstring_view, 2> kAutoStartWords{L"0", L"1"};
constexpr std::array<std::wstring_view, 3> kLogWords{L"0", L"1", L"2"};
constexpr std::array<std::wstring_view, 3> kMonitorWords{L"1", L"0", L"lengths"};
constexpr std::array<CodeDisclosure, 3> kDisclosures{CodeDisclosure::Text, CodeDisclosure::Nothing,
                                                     CodeDisclosure::LengthsOnly};

bool ParseSuffix(const StoredValue& value, Options& options) {
  const std::wstring* text = Text(value);
  if (!text) return false;
  for (std::size_t i = 0; i < kSuffixWords.size(); ++i) {
    if (SameLetters(*text, kSuffixWords[i])) {
      options.typing.suffix = kSuffixes[i];
      return true;
    }
  }
  return false;
}

// A text taken as it is stored, into `part`'s `field`. The line settings
// are texts too: the reader decides what a text it cannot use means.
template <auto part, auto field>
bool ParseText(const StoredValue& value, Options& options) {
  if (!Text(value)) return false;
  (options.*part).*field = value.text;
  return true;
}

bool ParseKeyDelay(const StoredValue& value, Options& options) {
  const auto delay = value.kind == StoredValue::Kind::Text && value.text.empty() ? 0 : Number(value);
  if (!delay || *delay < 0 || *delay > TypingOptions::kMaxKeyDelayMs) return false;
  options.typing.keyDelayMs = static_cast<int>(*delay);
  return true;
}

// Code pages that MultiByteToWideChar decodes only with a replacement
// character for a byte they have no character for: it refuses to report
// such a byte (MB_ERR_INVALID_CHARS) for them.
bool CannotRefuseInvalidBytes(std::int64_t codePage) {
  return codePage == 42 || codePage == 65000 || (codePage >= 50220 && codePage <= 50229) ||
         (codePage >= 57002 && codePage <= 57011);
}

// "auto", "UTF-8" or a code page's number; which other numbers Windows
// knows is for the decoder to say.
bool ParseEncoding(const StoredValue& value, Options& options) {
  const std::wstring* text = Text(value);
  if (!text) return false;
  if (text->empty() || SameLetters(*text, L"auto")) {
    options.typing.codePage = TypingOptions::kAutomaticEncoding;
    return true;
  }
  if (SameLetters(*text, L"UTF-8")) {
    options.typing.codePage = TypingOptions::kUtf8;
    return true;
  }
  const auto number = platform::StrToInt(*text);
  if (!number || *number < 1 || *number > 65535 || text->front() == L'+' || text->front() == L'-' ||
      CannotRefuseInvalidBytes(*number)) {
    return false;
  }
  options.typing.codePage = static_cast<unsigned>(*number);
  return true;
}

// What ends a code is a line setting: the text goes to the line, as the
// other line settings do, once it is one the line can read.
bool ParseCodeEnd(const StoredValue& value, Options& options) {
  if (!Text(value) || !ReadCodeEnd(value.text)) return false;
  options.port.CodeEnd = value.text;
  return true;
}

// The bytes written to the scanner, in hex; empty writes nothing. A line
// setting too, taken as its text once the line can read it.
template <std::wstring PortSettings::*reply>
bool ParseReply(const StoredValue& value, Options& options) {
  if (!Text(value) || !ReadHexBytes(value.text)) return false;
  options.port.*reply = value.text;
  return true;
}

constexpr std::array<std::wstring_view, 3> kAimIdWords{L"none", L"strip", L"keep"};
constexpr std::array<std::wstring_view, 2> kNoMatchWords{L"pass", L"reject"};
constexpr std::array<std::wstring_view, 3> kTypeAsWords{L"keys", L"unicode", L"paste"};

// One of `words`, as the enumeration's value of the same position.
template <class Enumeration, std::size_t count, const std::array<std::wstring_view, count>& words,
          Enumeration TypingOptions::*field>
bool ParseWord(const StoredValue& value, Options& options) {
  const std::wstring* text = Text(value);
  for (std::size_t i = 0; text && i < words.size(); ++i) {
    if (SameLetters(*text, words[i])) {
      options.typing.*field = static_cast<Enumeration>(i);
      return true;
    }
  }
  return false;
}

// A list is any list of texts, one rule each, or a single text for one
// rule. A list stored so that it cannot be read is not replaced by a
// weaker one: the codes that would reach it are typed by nobody's rules,
// so it stands, unreadable, for the rules to refuse them.
bool ParseRules(const StoredValue& value, Options& options) {
  options.typing.rulesUnreadable.clear();
  if (value.kind == StoredValue::Kind::TextList) {
    options.typing.rules = value.texts;
  } else if (value.kind == StoredValue::Kind::Text) {
    options.typing.rules = value.text.empty() ? std::vector<std::wstring>{} : std::vector{value.text};
  } else {
    options.typing.rules.clear();
    options.typing.rulesUnreadable = DescribeStoredValue(value);
  }
  return true;
}

bool ParseAutoStart(const StoredValue& value, Options& options) {
  const auto number = Number(value);
  if (!number || (*number != 0 && *number != 1)) return false;
  options.autoStart = *number == 1;
  return true;
}

// Anything but 1 or 2 turns the file off, so that no stray text switches on
// a log of codes; only a type that holds no setting is worth a note.
bool ParseLog(const StoredValue& value, Options& options) {
  if (value.kind == StoredValue::Kind::Number) {
    options.log = diagnostics::ParseLogLevel(platform::IntToStr(value.number));
    return true;
  }
  if (!Text(value)) return false;
  options.log = diagnostics::ParseLogLevel(value.text);
  return true;
}

// A site that forbids showing scanned data deploys it as text or a DWORD.
bool ParseMonitor(const StoredValue& value, Options& options) {
  const std::wstring text = value.kind == StoredValue::Kind::Number ? platform::IntToStr(value.number) : value.text;
  if (value.kind != StoredValue::Kind::Number && !Text(value)) return false;
  for (std::size_t i = 0; i < kMonitorWords.size(); ++i) {
    if (SameLetters(text, kMonitorWords[i])) {
      options.monitor = kDisclosures[i];
      return true;
    }
  }
  return false;
}

constexpr std::array<std::wstring_view, 5> kByteSizeWords{L"4", L"5", L"6", L"7", L"8"};

const std::array<Row, 20> kRows{{
    {L"Suffix", Section::AppCfg, ValueType::Choice, Effect::Typing, L"", kSuffixWords, 0, 0, ParseSuffix},
    {L"Prefix",
     Section::AppCfg,
     ValueType::Text,
     Effect::Typing,
     L"",
     {},
     0,
     0,
     ParseText<&Options::typing, &TypingOptions::prefix>},
    {L"KeyDelay",
     Section::AppCfg,
     ValueType::Number,
     Effect::Typing,
     L"0",
     {},
     0,
     TypingOptions::kMaxKeyDelayMs,
     ParseKeyDelay},
    {L"GroupSeparator",
     Section::AppCfg,
     ValueType::Text,
     Effect::Typing,
     L"",
     {},
     0,
     0,
     ParseText<&Options::typing, &TypingOptions::groupSeparator>},
    {L"Encoding", Section::AppCfg, ValueType::Choice, Effect::Typing, L"auto", kEncodingWords, 0, 0, ParseEncoding},
    {L"AimId", Section::AppCfg, ValueType::Choice, Effect::Typing, L"none", kAimIdWords, 0, 0,
     ParseWord<TypingOptions::AimId, 3, kAimIdWords, &TypingOptions::aimId>},
    {kRules, Section::AppCfg, ValueType::List, Effect::Typing, L"", {}, 0, 0, ParseRules},
    {L"NoMatch", Section::AppCfg, ValueType::Choice, Effect::Typing, L"pass", kNoMatchWords, 0, 0,
     ParseWord<TypingOptions::NoMatch, 2, kNoMatchWords, &TypingOptions::noMatch>},
    {L"TypeAs", Section::AppCfg, ValueType::Choice, Effect::Typing, L"keys", kTypeAsWords, 0, 0,
     ParseWord<TypingOptions::TypeAs, 3, kTypeAsWords, &TypingOptions::typeAs>},
    {L"NamePort",
     Section::Device,
     ValueType::Text,
     Effect::Line,
     kDefaultPortSettings.NamePort,
     {},
     0,
     0,
     ParseText<&Options::port, &PortSettings::NamePort>,
     &PortSettings::NamePort},
    {L"BaudRate",
     Section::Device,
     ValueType::Number,
     Effect::Line,
     kDefaultPortSettings.BaudRate,
     {},
     1,
     0x7FFFFFFF,
     ParseText<&Options::port, &PortSettings::BaudRate>,
     &PortSettings::BaudRate},
    {L"ByteSize", Section::Device, ValueType::Choice, Effect::Line, kDefaultPortSettings.ByteSize, kByteSizeWords, 0, 0,
     ParseText<&Options::port, &PortSettings::ByteSize>, &PortSettings::ByteSize},
    {L"Parity", Section::Device, ValueType::Choice, Effect::Line, kDefaultPortSettings.Parity, kParityTexts, 0, 0,
     ParseText<&Options::port, &PortSettings::Parity>, &PortSettings::Parity},
    {L"StopBits", Section::Device, ValueType::Choice, Effect::Line, kDefaultPortSettings.StopBits, kStopBitsTexts, 0, 0,
     ParseText<&Options::port, &PortSettings::StopBits>, &PortSettings::StopBits},
    {L"CodeEnd", Section::AppCfg, ValueType::Choice, Effect::Line, kDefaultPortSettings.CodeEnd, kCodeEndWords, 0, 0,
     ParseCodeEnd, &PortSettings::CodeEnd},
    {L"ReplyTyped",
     Section::Device,
     ValueType::Text,
     Effect::Line,
     L"",
     {},
     0,
     0,
     ParseReply<&PortSettings::ReplyTyped>,
     &PortSettings::ReplyTyped},
    {L"ReplyRefused",
     Section::Device,
     ValueType::Text,
     Effect::Line,
     L"",
     {},
     0,
     0,
     ParseReply<&PortSettings::ReplyRefused>,
     &PortSettings::ReplyRefused},
    {kAutoStart, Section::AppCfg, ValueType::Choice, Effect::StartWithWindows, L"0", kAutoStartWords, 0, 0,
     ParseAutoStart},
    {kLog, Section::AppCfg, ValueType::Choice, Effect::Log, L"0", kLogWords, 0, 0, ParseLog},
    {kMonitor, Section::AppCfg, ValueType::Choice, Effect::Monitor, L"1", kMonitorWords, 0, 0, ParseMonitor},
}};

struct SourcePlace {
  Source source;
  platform::Hive hive;
  const std::wstring& key;
  std::wstring_view name;  // as the log names it
};

const std::array<SourcePlace, 4> kSources{{
    {Source::PolicyMachine, platform::Hive::LocalMachine, kPolicyKey, L"HKLM policy "},
    {Source::PolicyUser, platform::Hive::CurrentUser, kPolicyKey, L"HKCU policy "},
    {Source::User, platform::Hive::CurrentUser, registry_names::kSettingsKey, L""},
    {Source::Machine, platform::Hive::LocalMachine, registry_names::kSettingsKey, L"HKLM "},
}};

// Machine-wide values in the 64-bit view, then the 32-bit one where a
// 32-bit deployment tool put them.
std::optional<StoredValue> ReadIn(platform::Registry& registry, const SourcePlace& place, const std::wstring& section,
                                  const std::wstring& name) {
  const std::wstring key = place.key + L"\\" + section;
  if (place.hive == platform::Hive::CurrentUser) return registry.ReadValue(place.hive, key, name);
  if (auto value = registry.ReadValue(place.hive, key, name, platform::View::Bits64)) return value;
  auto value = registry.ReadValue(place.hive, key, name, platform::View::Bits32);
  if (value) {
    diagnostics::Event(std::wstring(place.name) + section + L"\\" + name +
                       L" is read from the 32-bit registry view (WOW6432Node)");
  }
  return value;
}

// A list as the value of its name, else as the values 1, 2, 3... of the
// key of its name, up to the first number missing.
std::optional<StoredValue> ReadListIn(platform::Registry& registry, const SourcePlace& place,
                                      const std::wstring& section, const std::wstring& name) {
  if (auto value = ReadIn(registry, place, section, name)) return value;
  constexpr std::uint64_t kLongestList = 1000;
  std::optional<StoredValue> list;
  for (std::uint64_t number = 1; number <= kLongestList; ++number) {
    auto item = ReadIn(registry, place, section + L"\\" + name, platform::IntToStr(number));
    if (!item) break;
    if (item->kind != StoredValue::Kind::Text) return item;  // one item unreadable: the whole list is
    if (!list) list = StoredValue{StoredValue::Kind::TextList, {}, 0, StoredValue::kMultiStringType};
    list->texts.push_back(std::move(item->text));
  }
  return list;
}

}  // namespace

std::span<const Row> Rows() { return kRows; }

const Row& Find(std::wstring_view name) {
  for (const Row& row : kRows) {
    if (row.name == name) return row;
  }
  throw std::logic_error("no such option");
}

std::wstring SectionOf(const Row& row, unsigned scanner) {
  if (row.lineText && scanner != ScannerSettings::kFirst) return ScannerSection(scanner);
  return row.section == Section::Device ? registry_names::kDeviceSection : registry_names::kAppCfgSection;
}

std::wstring ScannerSection(unsigned scanner) {
  return registry_names::kDeviceSection + L"\\" + kScannersKey + L"\\" + platform::IntToStr(scanner);
}

Found Resolve(platform::Registry& registry, const Row& row, Options& options, std::wstring_view program,
              unsigned scanner) {
  const std::wstring name(row.name);
  const std::wstring section = SectionOf(row, scanner);
  const auto read = row.type == ValueType::List ? ReadListIn : ReadIn;
  for (const SourcePlace& place : kSources) {
    if (row.PolicyOnly() && !IsPolicy(place.source)) break;
    std::optional<StoredValue> value;
    std::wstring where = section;
    if (!program.empty() && row.PerProgram()) {
      where = section + L"\\" + kProgramsKey + L"\\" + std::wstring(program);
      value = read(registry, place, where, name);
    }
    if (!value) {
      where = section;
      value = read(registry, place, section, name);
    }
    if (!value) continue;
    const bool valid = row.parse(*value, options);
    std::wstring setting = std::wstring(place.name) + where + L"\\" + name;
    if (valid) return {place.source, valid, std::move(setting), std::move(value)};
    // Never the general value for a program's own broken one: that would
    // let a weaker source's value through.
    row.parse(StoredValue{StoredValue::Kind::Text, std::wstring(row.defaultText)}, options);
    // A general value is noted where the general options are read, not
    // again for every program.
    if (program.empty() || where != section) {
      diagnostics::Event(setting + L" " + DescribeStoredValue(*value) + L" is not valid; the default is used");
      system_events::Report({system_events::Id::SettingUnusable, {setting, DescribeStoredValue(*value)}, {}});
    }
    return {place.source, valid, std::move(setting), std::move(value)};
  }
  return {};
}

std::vector<std::wstring> ProgramsWithOptions(platform::Registry& registry) {
  std::map<std::wstring, std::wstring> names;  // as first found, by their fold
  for (const SourcePlace& place : kSources) {
    const std::wstring key = place.key + L"\\" + registry_names::kAppCfgSection + L"\\" + kProgramsKey;
    const bool machine = place.hive == platform::Hive::LocalMachine;
    for (const auto view : {platform::View::Bits64, platform::View::Bits32}) {
      try {
        for (const auto& name : registry.SubkeyNames(place.hive, key, machine ? view : platform::View::Native)) {
          names.emplace(FoldedProgramName(name), name);
        }
      } catch (const platform::RegistryError& error) {
        diagnostics::Failure(L"listing " + std::wstring(place.name) + L"APPCFG\\" + kProgramsKey, error.code);
      }
      if (!machine) break;
    }
  }
  std::vector<std::wstring> programs;
  for (auto& [folded, name] : names) programs.push_back(std::move(name));
  return programs;
}

std::vector<FurtherScanner> FurtherScanners(platform::Registry& registry) {
  std::map<unsigned, bool> numbers;  // whether a place but the operator's names it
  for (const SourcePlace& place : kSources) {
    const std::wstring key = place.key + L"\\" + registry_names::kDeviceSection + L"\\" + kScannersKey;
    const bool machine = place.hive == platform::Hive::LocalMachine;
    for (const auto view : {platform::View::Bits64, platform::View::Bits32}) {
      try {
        for (const auto& name : registry.SubkeyNames(place.hive, key, machine ? view : platform::View::Native)) {
          const auto number = platform::StrToInt(name);
          if (!number || *number < 2 || *number > static_cast<int>(kMostScanners) ||
              name != platform::IntToStr(*number)) {
            diagnostics::Event(std::wstring(place.name) + L"DEVICE\\" + kScannersKey + L"\\" + name +
                               L" is not read: a further scanner's key is its number, from 2 to " +
                               platform::IntToStr(kMostScanners));
            continue;
          }
          numbers[static_cast<unsigned>(*number)] |= place.source != Source::User;
        }
      } catch (const platform::RegistryError& error) {
        diagnostics::Failure(L"listing " + std::wstring(place.name) + L"DEVICE\\" + kScannersKey, error.code);
      }
      if (!machine) break;
    }
  }
  std::vector<FurtherScanner> scanners;
  for (const auto& [number, kept] : numbers) scanners.push_back({number, kept});
  return scanners;
}

std::vector<platform::KeyPlace> SourceKeys() {
  std::vector<platform::KeyPlace> keys;
  for (const SourcePlace& place : kSources) {
    if (place.hive == platform::Hive::CurrentUser) {
      keys.push_back({place.hive, place.key});
      continue;
    }
    keys.push_back({place.hive, place.key, platform::View::Bits64});
    keys.push_back({place.hive, place.key, platform::View::Bits32});
  }
  return keys;
}

std::wstring DescribeStoredValue(const StoredValue& value) {
  using Kind = StoredValue::Kind;
  switch (value.kind) {
    case Kind::Text:
      return L"= \"" + value.text + L"\"";
    case Kind::Number:
      return L"= " + platform::IntToStr(value.number) + L" (REG_DWORD)";
    case Kind::TooLong:
      return L"(a text too long to be a setting)";
    case Kind::TextList:
      return L"(a list of " + platform::IntToStr(value.texts.size()) + L" texts)";
    case Kind::Unreadable:
      return L"(which cannot be read: error " + platform::IntToStr(value.error) + L")";
    case Kind::OtherType:
      break;
  }
  return L"(stored as registry type " + platform::IntToStr(value.registryType) + L", which holds no setting)";
}

}  // namespace option_table
