// The administrative templates as the Group Policy editor reads them, and
// every choice they offer as the program reads it: the program's own readers
// are the list of what a policy may set.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "platform/diagnostics_log.h"
#include "reader/port_settings.h"
#include "settings/registry_names.h"
#include "settings/settings_store.h"
#include "settings_dialog/option_lists.h"
#include "support/diagnostics_recorder.h"
#include "support/memory_registry.h"
#include "support/xml_reader.h"

namespace {

const std::string kNamespace = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions";
const std::wstring kPolicyKey = L"Software\\Policies\\Ombrek\\Barcode Reader";
// Where the program reads what a policy writes there.
const std::wstring kReadKey = registry_names::kSettingsKey;

std::wstring Wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

// One value as the editor writes it for one choice: text, or a DWORD.
struct PolicyValue {
  std::wstring name;
  std::string data;
  bool text;
};

// Everything the program makes of its settings, the dialog's lists showing
// each line setting as it stands.
std::wstring Outcome(const std::wstring& key, const std::vector<PolicyValue>& values, DiagnosticsRecorder& notes) {
  MemoryRegistry registry;
  for (const auto& value : values) {
    const std::wstring path = MemoryRegistry::Path(platform::Hive::CurrentUser, key);
    if (value.text) registry.keys[path][value.name] = Wide(value.data);
    if (!value.text) {
      registry.otherValues[path][value.name] = {platform::StoredValue::Kind::Number, L"",
                                                static_cast<std::uint32_t>(std::stoll(value.data)), 4};
    }
  }
  notes.events.clear();
  SettingsStore store(registry, L"C:\\scan.exe");
  PortSettings texts;
  bool autoStart = false;
  LineParameters line;
  EXPECT_TRUE(store.Load(texts, autoStart));
  EXPECT_TRUE(ApplySettings(texts, line));
  for (const auto* list :
       {&option_lists::kBaudRate, &option_lists::kDataBit, &option_lists::kParity, &option_lists::kStopBit}) {
    EXPECT_EQ(list->entries[PositionFor(*list, texts.*list->text)], texts.*list->text);
  }
  const TypingOptions typing = store.LoadTypingOptions();
  std::wostringstream out;
  out << line.portName << L'|' << line.baudRate << L'|' << +line.byteSize << L'|' << +line.parity << L'|'
      << +line.stopBits << L'|' << autoStart << L'|' << static_cast<int>(typing.suffix) << L'|' << typing.prefix << L'|'
      << typing.keyDelayMs << L'|' << typing.groupSeparator << L'|' << typing.codePage << L'|'
      << static_cast<int>(typing.codeEnd.kind) << L'|' << +typing.codeEnd.byte << L'|'
      << static_cast<int>(StoredLogLevel(registry));
  return out.str();
}

// The choices a policy offers when enabled (and disabled, where that
// writes a value), and those it must not let through.
void Choices(const XmlElement& policy, std::vector<std::vector<PolicyValue>>& offered,
             std::vector<std::vector<PolicyValue>>& refused) {
  const auto value = [](const std::wstring& name, const XmlElement& setting) {
    const auto* decimal = setting.All("decimal").empty() ? nullptr : setting.All("decimal").front();
    return decimal ? PolicyValue{name, decimal->Attribute("value"), false}
                   : PolicyValue{name, setting.All("string").at(0)->text, true};
  };
  for (const char* state : {"enabledValue", "disabledValue"}) {
    for (const auto* setting : policy.All(state))
      offered.push_back({value(Wide(policy.Attribute("valueName")), *setting)});
  }
  for (const auto* elements : policy.All("elements")) {
    for (const XmlElement& element : elements->children) {
      const std::wstring name = Wide(element.Attribute("valueName"));
      if (element.name == "enum") {
        for (const auto* item : element.All("value")) offered.push_back({value(name, *item)});
      } else if (element.name == "text") {
        offered.insert(offered.end(), {{{name, "A", true}}, {{name, "B", true}}});
      } else if (element.name == "decimal") {
        const bool text = element.Attribute("storeAsText") == "true";
        const long long low = std::stoll(element.Attribute("minValue")),
                        high = std::stoll(element.Attribute("maxValue"));
        offered.insert(offered.end(), {{{name, std::to_string(low), text}}, {{name, std::to_string(high), text}}});
        refused.insert(refused.end(),
                       {{{name, std::to_string(low - 1), text}}, {{name, std::to_string(high + 1), text}}});
      } else {
        ADD_FAILURE() << "an element the program has no reader for: " << element.name;
      }
    }
  }
}

}  // namespace

TEST(AdministrativeTemplates, OfferOnlyWhatTheProgramReads) {
  const XmlElement admx = XmlReader::ReadFile(POLICY_TEMPLATES_DIR "/barcode_reader.admx");
  const std::vector<XmlElement> languages{XmlReader::ReadFile(POLICY_TEMPLATES_DIR "/en-US/barcode_reader.adml"),
                                          XmlReader::ReadFile(POLICY_TEMPLATES_DIR "/ru-RU/barcode_reader.adml")};
  for (const XmlElement* root : {&admx, &languages[0], &languages[1]}) {
    EXPECT_EQ(root->Attribute("xmlns"), kNamespace);
    EXPECT_EQ(root->Attribute("xmlns:xsd"), "http://www.w3.org/2001/XMLSchema");
    EXPECT_EQ(root->Attribute("xmlns:xsi"), "http://www.w3.org/2001/XMLSchema-instance");
    EXPECT_FALSE(root->Attribute("revision").empty() || root->Attribute("schemaVersion").empty());
  }
  EXPECT_EQ(admx.name, "policyDefinitions");

  // Every text and dialog the editor looks up, in each language.
  std::set<std::string> categories, supported, references;
  for (const auto* category : admx.All("category")) categories.insert(category->Attribute("name"));
  for (const auto* definition : admx.All("definition")) supported.insert(definition->Attribute("name"));
  const std::regex reference(R"(\$\((string|presentation)\.([^)]+)\))");
  const std::function<void(const XmlElement&)> collect = [&](const XmlElement& element) {
    for (const auto& [name, text] : element.attributes) {
      for (std::sregex_iterator found(text.begin(), text.end(), reference), end; found != end; ++found) {
        references.insert((*found)[1].str() + "." + (*found)[2].str());
      }
    }
    for (const XmlElement& child : element.children) collect(child);
  };
  collect(admx);
  for (const XmlElement& language : languages) {
    EXPECT_EQ(language.name, "policyDefinitionResources");
    std::set<std::string> ids;
    for (const auto* text : language.All("string")) ids.insert("string." + text->Attribute("id"));
    for (const auto* shown : language.All("presentation")) ids.insert("presentation." + shown->Attribute("id"));
    for (const std::string& id : references) EXPECT_TRUE(ids.count(id)) << id;
  }
  for (const auto* parent : admx.All("parentCategory")) EXPECT_TRUE(categories.count(parent->Attribute("ref")));

  for (const auto* policy : admx.All("policy")) {
    SCOPED_TRACE(policy->Attribute("name"));
    EXPECT_TRUE(supported.count(policy->All("supportedOn").at(0)->Attribute("ref")));
    const std::wstring key = Wide(policy->Attribute("key"));
    EXPECT_TRUE(key == kPolicyKey + L"\\" + registry_names::kAppCfgSection ||
                key == kPolicyKey + L"\\" + registry_names::kDeviceSection);
    const std::wstring readKey = kReadKey + key.substr(std::min(key.size(), kPolicyKey.size()));
    // Each control of the editor's dialog sets one of the policy's values.
    for (const XmlElement& language : languages) {
      std::set<std::string> elements, controls;
      for (const auto* group : policy->All("elements")) {
        for (const XmlElement& element : group->children) elements.insert(element.Attribute("id"));
      }
      for (const auto* shown : language.All("presentation")) {
        if ("$(presentation." + shown->Attribute("id") + ")" != policy->Attribute("presentation")) continue;
        for (const XmlElement& control : shown->children) controls.insert(control.Attribute("refId"));
      }
      EXPECT_EQ(elements, controls);
    }
    std::vector<std::vector<PolicyValue>> offered, refused;
    Choices(*policy, offered, refused);
    DiagnosticsRecorder notes;
    std::set<std::wstring> outcomes;
    for (const auto& choice : offered) {
      outcomes.insert(Outcome(readKey, choice, notes));
      EXPECT_TRUE(notes.events.empty()) << choice.at(0).data;
    }
    EXPECT_GE(offered.size(), 2u);
    EXPECT_EQ(outcomes.size(), offered.size()) << "a choice the program does not take, or a value it does not read";
    const std::wstring unset = Outcome(readKey, {}, notes);
    for (const auto& choice : refused) {
      EXPECT_EQ(Outcome(readKey, choice, notes), unset) << choice.at(0).data;
      EXPECT_FALSE(notes.events.empty()) << choice.at(0).data;
    }
  }
}
