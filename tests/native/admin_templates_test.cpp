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

#include "reader/port_settings.h"
#include "settings/option_table.h"
#include "settings/registry_names.h"
#include "settings/settings_store.h"
#include "settings_dialog/option_lists.h"
#include "support/diagnostics_recorder.h"
#include "support/memory_registry.h"

namespace {

const std::wstring& kPolicyKey = option_table::kPolicyKey;

// Just enough XML for the templates: elements, attributes and text, the
// declaration and comments skipped, entities left as written.
struct Xml {
  std::string name, text;
  std::map<std::string, std::string> attributes;
  std::vector<Xml> children;
  std::string operator[](const std::string& key) const { return attributes.count(key) ? attributes.at(key) : ""; }
  // Every element of that name below this one, at any depth.
  std::vector<const Xml*> All(const std::string& tag, std::vector<const Xml*> found = {}) const {
    for (const Xml& child : children) {
      if (child.name == tag) found.push_back(&child);
      found = child.All(tag, std::move(found));
    }
    return found;
  }
};

Xml Read(const std::string& path, std::string* raw = nullptr) {
  std::stringstream file;
  file << std::ifstream(POLICY_TEMPLATES_DIR + path).rdbuf();
  const std::string in = file.str();
  if (raw) *raw = in;
  const std::regex token(R"(<!--[\s\S]*?-->|<\?[\s\S]*?\?>|<(/?)([\w:.-]+)([^>]*?)(/?)>|[^<]+)");
  const std::regex attribute(R"re(([\w:.-]+)="([^"]*)")re");
  std::vector<Xml> open(1);
  for (std::sregex_iterator at(in.begin(), in.end(), token), end; at != end; ++at) {
    const std::smatch& m = *at;
    if (!m[2].matched) {
      if (m.str().front() != '<') open.back().text += m.str();
      continue;
    }
    if (m[1].length() == 0) {
      open.emplace_back().name = m[2].str();
      for (std::sregex_iterator a(m[3].first, m[3].second, attribute); a != end; ++a) {
        open.back().attributes[(*a)[1].str()] = (*a)[2].str();
      }
      if (m[4].length() == 0) continue;
    } else if (open.size() < 2 || open.back().name != m[2].str()) {
      throw std::runtime_error(path + ": elements do not nest at " + m.str());
    }
    Xml done = std::move(open.back());
    open.pop_back();
    open.back().children.push_back(std::move(done));
  }
  if (open.size() != 1 || open[0].children.size() != 1) throw std::runtime_error(path + ": not one root element");
  return open[0].children[0];
}

// Everything the program makes of its settings, the dialog showing each
// line setting as it stands, after writing `value` where it reads it.
using Choice = std::pair<std::wstring, platform::StoredValue>;
std::wstring Outcome(const std::wstring& key, const std::optional<Choice>& choice = std::nullopt) {
  MemoryRegistry registry;
  if (choice) registry.otherValues[L"HKCU\\" + key][choice->first] = choice->second;
  SettingsStore store(registry, L"C:\\scan.exe");
  PortSettings texts;
  bool autoStart = false;
  LineParameters line;
  EXPECT_TRUE(store.Load(texts, autoStart) && ApplySettings(texts, line));
  for (const auto* list :
       {&option_lists::kBaudRate, &option_lists::kDataBit, &option_lists::kParity, &option_lists::kStopBit}) {
    EXPECT_EQ(list->entries[PositionFor(*list, texts.*list->text)], texts.*list->text);
  }
  const TypingOptions typing = store.LoadTypingOptions().general;
  std::wostringstream out;
  out << line.portName << L'|' << line.baudRate << L'|' << +line.byteSize << L'|' << +line.parity << L'|'
      << +line.stopBits << L'|' << autoStart << L'|' << static_cast<int>(typing.suffix) << L'|' << typing.prefix << L'|'
      << typing.keyDelayMs << L'|' << typing.groupSeparator << L'|' << typing.codePage << L'|'
      << static_cast<int>(typing.codeEnd.kind) << L'|' << +typing.codeEnd.byte << L'|'
      << static_cast<int>(StoredLogLevel(registry));
  return out.str();
}

std::wstring Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

platform::StoredValue Value(const std::string& data, bool text = true) {
  if (text) return {platform::StoredValue::Kind::Text, Wide(data)};
  return {platform::StoredValue::Kind::Number, L"", static_cast<std::uint32_t>(std::stoll(data)), 4 /* REG_DWORD */};
}

}  // namespace

TEST(AdministrativeTemplates, OfferOnlyWhatTheProgramReads) {
  std::string raw;
  const Xml admx = Read("/barcode_reader.admx", &raw);
  const std::vector<Xml> languages{Read("/en-US/barcode_reader.adml"), Read("/ru-RU/barcode_reader.adml")};
  EXPECT_EQ(admx.name + languages[0].name + languages[1].name,
            "policyDefinitionspolicyDefinitionResourcespolicyDefinitionResources");
  for (const Xml* root : {&admx, &languages[0], &languages[1]}) {
    EXPECT_EQ((*root)["xmlns"] + " " + (*root)["xmlns:xsd"] + " " + (*root)["xmlns:xsi"],
              "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions http://www.w3.org/2001/XMLSchema "
              "http://www.w3.org/2001/XMLSchema-instance");
    EXPECT_FALSE((*root)["revision"].empty() || (*root)["schemaVersion"].empty());
  }
  // Every text and dialog the editor looks up, in each language, and each
  // dialog's controls; every category and platform it names.
  const std::regex reference(R"(\$\((?:string|presentation)\.[^)]+\))");
  std::vector<std::map<std::string, std::set<std::string>>> controls(languages.size());
  for (std::size_t i = 0; i < languages.size(); ++i) {
    std::set<std::string> ids;
    for (const auto* found : languages[i].All("string")) ids.insert("$(string." + (*found)["id"] + ")");
    for (const auto* found : languages[i].All("presentation")) {
      ids.insert("$(presentation." + (*found)["id"] + ")");
      for (const Xml& control : found->children)
        controls[i]["$(presentation." + (*found)["id"] + ")"].insert(control["refId"]);
    }
    for (std::sregex_iterator ref(raw.begin(), raw.end(), reference), end; ref != end; ++ref) {
      EXPECT_TRUE(ids.count(ref->str())) << ref->str();
    }
  }
  std::set<std::string> names;
  for (const char* named : {"category", "definition"}) {
    for (const auto* found : admx.All(named)) names.insert((*found)["name"]);
  }
  for (const auto* found : admx.All("parentCategory")) EXPECT_TRUE(names.count((*found)["ref"])) << (*found)["ref"];

  for (const auto* policy : admx.All("policy")) {
    SCOPED_TRACE((*policy)["name"]);
    EXPECT_TRUE(names.count((*policy->All("supportedOn").at(0))["ref"]));
    const std::wstring key = Wide((*policy)["key"]);
    EXPECT_TRUE(key == kPolicyKey + L"\\" + registry_names::kAppCfgSection ||
                key == kPolicyKey + L"\\" + registry_names::kDeviceSection);
    // What each choice writes, and what must be refused.
    std::vector<Choice> offered, refused;
    for (const char* state : {"enabledValue", "disabledValue"}) {
      for (const auto* value : policy->All(state)) {
        offered.emplace_back(Wide((*policy)["valueName"]), Value(value->All("string").at(0)->text));
      }
    }
    std::set<std::string> elements;
    for (const auto* group : policy->All("elements")) {
      for (const Xml& element : group->children) {
        EXPECT_TRUE(element.name == "enum" || element.name == "text" || element.name == "decimal") << element.name;
        EXPECT_EQ(element.All("item").size(), element.All("string").size()) << "choices the program reads as text";
        elements.insert(element["id"]);
        const std::wstring name = Wide(element["valueName"]);
        for (const auto* item : element.All("string")) offered.emplace_back(name, Value(item->text));
        if (element.name == "text") offered.insert(offered.end(), {{name, Value("A")}, {name, Value("B")}});
        if (element.name != "decimal") continue;
        const long long low = std::stoll(element["minValue"]), high = std::stoll(element["maxValue"]);
        const bool text = element["storeAsText"] == "true";
        for (const long long n : {low, high}) offered.emplace_back(name, Value(std::to_string(n), text));
        for (const long long n : {low - 1, high + 1}) refused.emplace_back(name, Value(std::to_string(n), text));
      }
    }
    // The editor's dialog: one control for each value, in each language.
    for (auto& language : controls) EXPECT_EQ(elements, language[(*policy)["presentation"]]);
    // Each choice taken without a note and with an effect of its own; one
    // past a range's ends noted and left at the default.
    DiagnosticsRecorder notes;
    std::set<std::wstring> outcomes;
    for (const auto& choice : offered) outcomes.insert(Outcome(key, choice));
    EXPECT_TRUE(notes.events.empty()) << notes.events.at(0);
    EXPECT_GE(offered.size(), 2u);
    EXPECT_EQ(outcomes.size(), offered.size()) << "a choice the program does not take, or a value it does not read";
    for (const auto& choice : refused) EXPECT_EQ(Outcome(key, choice), Outcome(key));
    EXPECT_EQ(notes.events.size(), refused.size());
  }
}
