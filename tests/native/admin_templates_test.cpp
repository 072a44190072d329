// The administrative templates as the Group Policy editor reads them, and
// every choice they offer as the program reads it: the program's own readers
// are the list of what a policy may set.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "line/port_settings.h"
#include "settings/option_table.h"
#include "settings/settings_store.h"
#include "settings_dialog/option_lists.h"
#include "support/diagnostics_recorder.h"
#include "support/memory_registry.h"

namespace {

std::string Read(const std::string& path) {
  std::stringstream file;
  file << std::ifstream(POLICY_TEMPLATES_DIR + path).rdbuf();
  return file.str();
}

// Every match of `pattern` in `text`, which must outlive them.
std::vector<std::smatch> Matches(const std::string& text, const std::string& pattern) {
  const std::regex expression(pattern);
  return {std::sregex_iterator(text.begin(), text.end(), expression), std::sregex_iterator()};
}

// The value of an attribute in an element's start tag; empty when it has none.
std::string Attribute(const std::string& tag, const std::string& name) {
  const auto found = Matches(tag, "\\s" + name + "=\"([^\"]*)\"");
  return found.empty() ? "" : found[0].str(1);
}

std::wstring Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// Everything the program makes of its settings, the dialog showing each
// line setting as it stands, after writing `value` where it reads it.
using Choice = std::pair<std::wstring, platform::StoredValue>;
std::wstring Outcome(const std::wstring& key, const std::optional<Choice>& choice = std::nullopt) {
  MemoryRegistry registry;
  // The operator's further scanners, for a policy to set their values.
  for (const wchar_t* n : {L"2", L"3"}) {
    registry.keys[L"HKCU\\Software\\Ombrek\\Barcode Reader\\DEVICE\\Scanners\\" + std::wstring(n)] = {
        {L"NamePort", L"COM1" + std::wstring(n)}};
  }
  if (choice) registry.otherValues[L"HKCU\\" + key][choice->first] = choice->second;
  SettingsStore store(registry, L"C:\\scan.exe");
  ScannerList scanners;
  bool autoStart = false;
  EXPECT_TRUE(store.Load(scanners, autoStart));
  std::wostringstream out;
  for (ScannerSettings& scanner : scanners) {
    PortSettings& texts = scanner.texts;
    LineParameters line;
    EXPECT_TRUE(ApplySettings(texts, line));
    for (const auto* list :
         {&option_lists::kBaudRate, &option_lists::kDataBit, &option_lists::kParity, &option_lists::kStopBit}) {
      EXPECT_EQ(list->entries[PositionFor(*list, texts.*list->text)], texts.*list->text);
    }
    out << scanner.number << L':' << line.portName << L'|' << line.baudRate << L'|' << +line.byteSize << L'|'
        << +line.parity << L'|' << +line.stopBits << L'|' << static_cast<int>(line.codeEnd.kind) << L'|'
        << +line.codeEnd.byte << L'|' << Wide(line.replies.typed) << L'|' << Wide(line.replies.refused) << L'|';
  }
  const TypingOptions typing = store.LoadTypingOptions().general;
  out << autoStart << L'|' << static_cast<int>(typing.suffix) << L'|' << typing.prefix << L'|' << typing.keyDelayMs
      << L'|' << typing.groupSeparator << L'|' << typing.codePage << L'|' << static_cast<int>(StoredLogLevel(registry))
      << L'|' << static_cast<int>(typing.aimId) << L'|' << static_cast<int>(typing.noMatch) << L'|'
      << static_cast<int>(StoredCodeDisclosure(registry)) << L'|' << static_cast<int>(typing.typeAs);
  for (const std::wstring& rule : typing.rules) out << L'|' << rule;
  return out.str();
}

platform::StoredValue Value(const std::string& data, bool text = true) {
  if (text) return {platform::StoredValue::Kind::Text, Wide(data)};
  return {platform::StoredValue::Kind::Number, L"", static_cast<std::uint32_t>(std::stoll(data)), 4 /* REG_DWORD */};
}

}  // namespace

// That the templates are well-formed XML is checked by Python's parser.
TEST(AdministrativeTemplates, OfferOnlyWhatTheProgramReads) {
  const std::string admx = Read("/barcode_reader.admx");
  const std::vector<std::string> languages{Read("/en-US/barcode_reader.adml"), Read("/ru-RU/barcode_reader.adml")};
  for (const std::string* text : {&admx, &languages[0], &languages[1]}) {
    const auto start =
        Matches(*text, text == &admx ? "<policyDefinitions\\s[^>]*>" : "<policyDefinitionResources\\s[^>]*>");
    ASSERT_EQ(start.size(), 1u);
    const std::string tag = start[0].str();
    EXPECT_EQ(Attribute(tag, "xmlns") + " " + Attribute(tag, "xmlns:xsd") + " " + Attribute(tag, "xmlns:xsi"),
              "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions http://www.w3.org/2001/XMLSchema "
              "http://www.w3.org/2001/XMLSchema-instance");
    EXPECT_FALSE(Attribute(tag, "revision").empty() || Attribute(tag, "schemaVersion").empty());
  }
  // Every text and dialog the editor looks up, in each language, and each
  // dialog's controls; every category and platform it names.
  std::vector<std::map<std::string, std::set<std::string>>> controls(languages.size());
  for (std::size_t i = 0; i < languages.size(); ++i) {
    std::set<std::string> ids;
    for (const auto& id : Matches(languages[i], R"x(<(string|presentation) id="([^"]*)")x")) {
      ids.insert("$(" + id.str(1) + "." + id.str(2) + ")");
    }
    for (const auto& shown : Matches(languages[i], R"x(<presentation id="([^"]*)">([\s\S]*?)</presentation>)x")) {
      const std::string body = shown.str(2);
      for (const auto& control : Matches(body, R"x(refId="([^"]*)")x")) {
        controls[i]["$(presentation." + shown.str(1) + ")"].insert(control.str(1));
      }
    }
    for (const auto& ref : Matches(admx, R"(\$\((?:string|presentation)\.[^)]+\))")) {
      EXPECT_TRUE(ids.count(ref.str())) << ref.str();
    }
  }
  std::set<std::string> names;
  for (const auto& found : Matches(admx, R"x(<(?:category|definition) name="([^"]*)")x")) names.insert(found.str(1));
  for (const auto& ref : Matches(admx, R"x(<parentCategory ref="([^"]*)")x")) EXPECT_TRUE(names.count(ref.str(1)));

  const std::set<std::string> known = {"policy",       "parentCategory", "supportedOn", "elements", "enum",
                                       "item",         "value",          "string",      "text",     "decimal",
                                       "enabledValue", "disabledValue",  "list"};
  for (const auto& found : Matches(admx, R"(<policy\s[\s\S]*?</policy>)")) {
    const std::string policy = found.str(), tag = Matches(policy, "<policy\\s[^>]*>").at(0).str();
    SCOPED_TRACE(Attribute(tag, "name"));
    for (const auto& inner : Matches(policy, R"(<(\w+))")) EXPECT_TRUE(known.count(inner.str(1))) << inner.str(1);
    EXPECT_TRUE(names.count(Matches(policy, R"x(<supportedOn ref="([^"]*)")x").at(0).str(1)));
    const std::wstring key = Wide(Attribute(tag, "key"));
    EXPECT_TRUE(key == option_table::kPolicyKey + L"\\APPCFG" || key == option_table::kPolicyKey + L"\\DEVICE" ||
                key == option_table::kPolicyKey + L"\\DEVICE\\Scanners\\2" ||
                key == option_table::kPolicyKey + L"\\DEVICE\\Scanners\\3");
    // What each choice writes, and what must be refused: the strings are
    // the choices of each of the policy's elements, or of its two states.
    const auto elements = Matches(policy, R"((<(enum|text|decimal|list)\s[^>]*?)(?:/>|>[\s\S]*?</\2>))");
    std::set<std::string> ids;
    std::size_t choices = 0;
    for (std::size_t e = 0; e < std::max<std::size_t>(elements.size(), 1); ++e) {
      const bool own = elements.empty();
      const std::string element = own ? tag : elements[e].str(1), kind = own ? "" : elements[e].str(2);
      const std::string body = own ? policy : elements[e].str();
      if (!own) ids.insert(Attribute(element, "id"));
      // A list writes its items as values 1, 2, 3... of a key of its own.
      const std::wstring name = kind == "list" ? L"1" : Wide(Attribute(element, "valueName"));
      const std::wstring where = kind == "list" ? Wide(Attribute(element, "key")) : key;
      if (kind == "list") {
        EXPECT_EQ(where, key + L"\\" + std::wstring(option_table::kRules));
        EXPECT_EQ(Attribute(element, "valuePrefix"), "");
      }
      const auto strings = Matches(body, "<string>([^<]*)</string>");
      EXPECT_EQ(Matches(body, R"(<item\s|<(?:en|dis)abledValue>)").size(), strings.size())
          << "choices the program reads as text";
      choices += strings.size();
      std::vector<Choice> offered, refused;
      for (const auto& choice : strings) offered.emplace_back(name, Value(choice.str(1)));
      // Any text, or bytes in hex.
      if (kind == "text" || kind == "list") offered.insert(offered.end(), {{name, Value("0A")}, {name, Value("0B")}});
      if (kind == "decimal") {
        const long long low = std::stoll(Attribute(element, "minValue")),
                        high = std::stoll(Attribute(element, "maxValue"));
        const bool text = Attribute(element, "storeAsText") == "true";
        for (const long long n : {low, high}) offered.emplace_back(name, Value(std::to_string(n), text));
        for (const long long n : {low - 1, high + 1}) refused.emplace_back(name, Value(std::to_string(n), text));
      }
      // Each choice taken without a note and with an effect of its own; one
      // past a range's ends noted and left at the default.
      DiagnosticsRecorder notes;
      std::set<std::wstring> outcomes;
      for (const auto& choice : offered) outcomes.insert(Outcome(where, choice));
      EXPECT_TRUE(notes.events.empty()) << notes.events.at(0);
      EXPECT_GE(offered.size(), 2u);
      EXPECT_EQ(outcomes.size(), offered.size()) << "a choice the program does not take, or a value it does not read";
      for (const auto& choice : refused) EXPECT_EQ(Outcome(where, choice), Outcome(key));
      EXPECT_EQ(notes.events.size(), refused.size());
    }
    EXPECT_EQ(Matches(policy, "<string>").size(), choices) << "every choice in an element";
    // The editor's dialog: one control for each value, in each language.
    for (auto& language : controls) EXPECT_EQ(ids, language[Attribute(tag, "presentation")]);
  }
}
