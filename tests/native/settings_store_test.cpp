#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include "platform/diagnostics.h"
#include "settings/option_table.h"
#include "settings/stored_typing_options.h"
#include "support/diagnostics_recorder.h"
#include "support/memory_registry.h"

namespace {

const std::wstring kExe = L"C:\\Program Files\\Barcode\\scan.exe";
const std::wstring kSettings = L"HKCU\\Software\\Ombrek\\Barcode Reader";
const std::wstring kMachineRun = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kUserRun = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class SettingsStoreTest : public testing::Test {
 protected:
  MemoryRegistry registry;
  SettingsStore store{registry, kExe};
  DiagnosticsRecorder recorder;
};

}  // namespace

TEST_F(SettingsStoreTest, FirstStartLoadsTheDefaults) {
  PortSettings texts{L"x", L"x", L"x", L"x", L"x"};
  bool autoStart = true;
  EXPECT_TRUE(store.Load(texts, autoStart));
  EXPECT_EQ(texts, kDefaultPortSettings);
  EXPECT_FALSE(autoStart);
}

TEST_F(SettingsStoreTest, LoadReadsInOrderAndKeepsTextsVerbatim) {
  registry.keys[kSettings + L"\\DEVICE"] = {
      {L"NamePort", L""}, {L"BaudRate", L"fast"}, {L"ByteSize", L"7"}, {L"Parity", L"odd"}, {L"StopBits", L"2"}};
  PortSettings texts;
  bool autoStart = false;
  ASSERT_TRUE(store.Load(texts, autoStart));
  EXPECT_EQ(texts, (PortSettings{L"", L"fast", L"7", L"odd", L"2"})) << "an empty value is not the default";
  EXPECT_EQ(store.Enforced(), EnforcedSettings{});
  std::vector<std::wstring> ownReads;  // the policies are looked at first, each time
  for (const auto& entry : registry.journal) {
    if (entry.find(L"HKCU\\Software\\Ombrek") != std::wstring::npos || entry.find(L"\\Run\\") != std::wstring::npos) {
      ownReads.push_back(entry);
    }
  }
  const std::vector<std::wstring> expected = {
      L"read " + kSettings + L"\\DEVICE\\NamePort", L"read " + kSettings + L"\\DEVICE\\BaudRate",
      L"read " + kSettings + L"\\DEVICE\\ByteSize", L"read " + kSettings + L"\\DEVICE\\Parity",
      L"read " + kSettings + L"\\DEVICE\\StopBits", L"read " + kMachineRun + L"\\Barcode Reader",
      L"read " + kUserRun + L"\\Barcode Reader"};
  EXPECT_EQ(ownReads, expected);
}

TEST_F(SettingsStoreTest, LoadFailingHalfWayKeepsWhatItHadNotReadYet) {
  registry.keys[kSettings + L"\\DEVICE"] = {{L"NamePort", L"COM3"}, {L"BaudRate", L"19200"}, {L"ByteSize", L"7"}};
  registry.keys[kSettings + L"\\APPCFG"] = {{L"AutoStart", L"1"}};
  // Two values, each looked for in the machine's policy (both views), the
  // user's policy and the user's settings.
  registry.operationsBeforeFailure = 8;
  PortSettings texts{L"old", L"old", L"old", L"old", L"old"};
  bool autoStart = false;
  EXPECT_FALSE(store.Load(texts, autoStart));
  EXPECT_EQ(texts, (PortSettings{L"COM3", L"19200", L"old", L"old", L"old"}));
  EXPECT_FALSE(autoStart);
  ASSERT_EQ(recorder.failures.size(), 1u) << "silent for the operator, not for the help desk";
  EXPECT_EQ(recorder.failures[0].second, MemoryRegistry::kInjectedError);
}

TEST_F(SettingsStoreTest, TheBoxShowsTheRunEntriesAndOkLeavesThemWhenItWasNotChanged) {
  const struct {
    const wchar_t* stored;  // APPCFG\AutoStart, none when null
    bool machineEntry, userEntry, machineReadable, shown;
  } rows[] = {
      {L"1", false, false, true, false},  // IT removed it
      {L"0", true, false, true, true},    // IT added it
      {L"0", false, true, true, true},   {nullptr, false, false, true, false},
      {L"1", false, false, false, true},  // the stored choice when the machine cannot be asked
      {L"0", false, true, false, true},  {nullptr, false, false, false, false},
  };
  for (const auto& row : rows) {
    MemoryRegistry machine;
    if (row.stored) machine.keys[kSettings + L"\\APPCFG"][L"AutoStart"] = row.stored;
    if (row.machineEntry) machine.keys[kMachineRun][L"Barcode Reader"] = L"x";
    if (row.userEntry) machine.keys[kUserRun][L"Barcode Reader"] = L"x";
    if (!row.machineReadable) machine.unreadableKeys = {kMachineRun};
    SettingsStore rowStore(machine, kExe);
    PortSettings texts;
    bool autoStart = !row.shown;
    ASSERT_TRUE(rowStore.Load(texts, autoStart));
    const std::wstring where = std::wstring(row.stored ? row.stored : L"-") + (row.machineEntry ? L", machine" : L"") +
                               (row.userEntry ? L", user" : L"") + (row.machineReadable ? L"" : L", unreadable");
    EXPECT_EQ(autoStart, row.shown) << where;
    machine.refuseLocalMachine = true;  // a standard user's OK for a port change
    const SaveOutcome outcome = rowStore.Save(texts, autoStart, autoStart);
    EXPECT_TRUE(outcome.Succeeded()) << where;
    EXPECT_EQ(outcome.autoStart, row.shown) << where;
    EXPECT_EQ(machine.Find(kMachineRun, L"Barcode Reader") != nullptr, row.machineEntry) << where;
    EXPECT_EQ(machine.Find(kUserRun, L"Barcode Reader") != nullptr, row.userEntry) << where;
    EXPECT_EQ(*machine.Find(kSettings + L"\\APPCFG", L"AutoStart"), row.shown ? L"1" : L"0") << where;
  }
}

TEST_F(SettingsStoreTest, EnforcedLineSettingsAndStartAreShownAndNeverWritten) {
  const std::wstring policy = L"HKLM\\Software\\Policies\\Ombrek\\Barcode Reader";
  registry.keys[policy + L"\\DEVICE"] = {{L"NamePort", L"COM7"}};
  registry.keys[L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"AutoStart", L"1"}};
  registry.keys[kSettings + L"\\DEVICE"] = {{L"NamePort", L"COM2"}, {L"BaudRate", L"4800"}};
  PortSettings texts;
  bool autoStart = false;
  ASSERT_TRUE(store.Load(texts, autoStart));
  EXPECT_EQ(texts.NamePort, L"COM7");
  EXPECT_EQ(texts.BaudRate, L"4800");
  EXPECT_TRUE(autoStart);
  EXPECT_EQ(store.Enforced(), (EnforcedSettings{{&PortSettings::NamePort}, true}));
  EXPECT_NE(registry.Find(kMachineRun, L"Barcode Reader"), nullptr) << "the start brought in line with the policy";

  registry.journal.clear();
  ASSERT_TRUE(store.Save({L"COM1", L"19200", L"8", L"None", L"1"}, false, true).Succeeded());
  EXPECT_EQ(*registry.Find(kSettings + L"\\DEVICE", L"NamePort"), L"COM2") << "the policy's, not the operator's";
  EXPECT_EQ(*registry.Find(kSettings + L"\\DEVICE", L"BaudRate"), L"19200");
  EXPECT_NE(registry.Find(kMachineRun, L"Barcode Reader"), nullptr);
  EXPECT_EQ(registry.Find(kSettings + L"\\APPCFG", L"AutoStart"), nullptr);

  registry.keys[L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"AutoStart", L"yes"}};
  ASSERT_TRUE(store.Load(texts, autoStart));
  EXPECT_TRUE(store.Enforced().autoStart) << "a broken policy is not the operator's to overrule";
  EXPECT_TRUE(autoStart) << "and changes nothing on the machine";
  EXPECT_NE(registry.Find(kMachineRun, L"Barcode Reader"), nullptr);
}

TEST_F(SettingsStoreTest, SaveWritesTheTextsThenTheRunEntryThenAutoStart) {
  const PortSettings texts{L"COM5", L"115200", L"8", L"Even", L"2"};
  ASSERT_TRUE(store.Save(texts, true, false).Succeeded());
  const std::vector<std::wstring> expected = {
      L"write " + kSettings + L"\\APP\\Name",        L"write " + kSettings + L"\\DEVICE\\NamePort",
      L"write " + kSettings + L"\\DEVICE\\BaudRate", L"write " + kSettings + L"\\DEVICE\\ByteSize",
      L"write " + kSettings + L"\\DEVICE\\Parity",   L"write " + kSettings + L"\\DEVICE\\StopBits",
      L"write " + kMachineRun + L"\\Barcode Reader", L"delete " + kUserRun + L"\\Barcode Reader",
      L"write " + kSettings + L"\\APPCFG\\AutoStart"};
  EXPECT_EQ(registry.journal, expected);
  EXPECT_EQ(*registry.Find(kSettings + L"\\APP", L"Name"), L"scan.exe");

  PortSettings loaded;
  bool autoStart = false;
  ASSERT_TRUE(store.Load(loaded, autoStart));
  EXPECT_EQ(loaded, texts);
  EXPECT_TRUE(autoStart);
}

TEST_F(SettingsStoreTest, SaveFailingHalfWayLeavesTheRestAndTheRunEntryAlone) {
  registry.keys[kSettings + L"\\DEVICE"] = {{L"Parity", L"Odd"}};
  registry.keys[kMachineRun] = {{L"Barcode Reader", L"\"C:\\old.exe\""}};
  registry.operationsBeforeFailure = 4;  // the open, Name, NamePort, BaudRate
  const SaveOutcome outcome = store.Save({L"COM2", L"4800", L"7", L"Even", L"2"}, false, true);
  EXPECT_EQ(outcome.refused, SaveOutcome::Refused::Settings);
  EXPECT_TRUE(outcome.autoStart) << "what the machine does, not what was asked";
  EXPECT_EQ(outcome.error, MemoryRegistry::kInjectedError) << "the operator hears why";
  EXPECT_EQ(*registry.Find(kSettings + L"\\DEVICE", L"BaudRate"), L"4800");
  EXPECT_EQ(registry.Find(kSettings + L"\\DEVICE", L"ByteSize"), nullptr);
  EXPECT_EQ(*registry.Find(kSettings + L"\\DEVICE", L"Parity"), L"Odd");
  EXPECT_EQ(*registry.Find(kMachineRun, L"Barcode Reader"), L"\"C:\\old.exe\"");
}

TEST_F(SettingsStoreTest, RunEntryHoldsTheQuotedPath) {
  ASSERT_TRUE(store.UpdateAutoStart(true).Succeeded());
  EXPECT_EQ(*registry.Find(kMachineRun, L"Barcode Reader"), L"\"" + kExe + L"\"");
  EXPECT_EQ(registry.Find(kUserRun, L"Barcode Reader"), nullptr);
}

TEST_F(SettingsStoreTest, RefusedMachineWideEntryFallsBackToThisUser) {
  registry.refuseLocalMachine = true;
  EXPECT_TRUE(store.Save(kDefaultPortSettings, true, false).Succeeded())
      << "the program starts with Windows all the same";
  EXPECT_EQ(registry.Find(kMachineRun, L"Barcode Reader"), nullptr);
  EXPECT_EQ(*registry.Find(kUserRun, L"Barcode Reader"), L"\"" + kExe + L"\"");
  ASSERT_EQ(recorder.failures.size(), 1u);
  EXPECT_EQ(recorder.failures[0].second, MemoryRegistry::kAccessDenied);
}

TEST_F(SettingsStoreTest, TheLogSettingIsReadFromAppCfg) {
  EXPECT_EQ(StoredLogLevel(registry), diagnostics::LogLevel::Off);
  registry.keys[kSettings + L"\\APPCFG"] = {{L"Log", L"2"}};
  EXPECT_EQ(StoredLogLevel(registry), diagnostics::LogLevel::Contents);
}

TEST_F(SettingsStoreTest, TurningAutoStartOffRemovesBothEntries) {
  registry.keys[kMachineRun] = {{L"Barcode Reader", L"x"}, {L"Other", L"y"}};
  registry.keys[kUserRun] = {{L"Barcode Reader", L"x"}};
  EXPECT_TRUE(store.UpdateAutoStart(false).Succeeded());
  EXPECT_EQ(registry.Find(kMachineRun, L"Barcode Reader"), nullptr);
  EXPECT_EQ(registry.Find(kUserRun, L"Barcode Reader"), nullptr);
  EXPECT_NE(registry.Find(kMachineRun, L"Other"), nullptr) << "other programs' entries stay";
}

TEST_F(SettingsStoreTest, TurningAutoStartOffWithoutAnEntryIsNoError) {
  EXPECT_TRUE(store.Save(kDefaultPortSettings, false, true).Succeeded());
  EXPECT_EQ(*registry.Find(kSettings + L"\\APPCFG", L"AutoStart"), L"0");
}

TEST_F(SettingsStoreTest, UnwritableRegistryReportsFailureOfTheEntry) {
  registry.refuseLocalMachine = true;
  registry.operationsBeforeFailure = 0;
  const SaveOutcome outcome = store.UpdateAutoStart(true);
  EXPECT_EQ(outcome.refused, SaveOutcome::Refused::StartWithWindows);
  EXPECT_FALSE(outcome.autoStart);
}

TEST_F(SettingsStoreTest, OneStartWithWindowsEntryAtMostWhateverTheUserMayWrite) {
  using Refused = SaveOutcome::Refused;
  const struct {
    bool on, machineThere, machineWritable, userThere;
    bool machineAfter, userAfter;
    Refused refused;
  } rows[] = {
      // Switching on: machine-wide where it may be written or is there already.
      {true, false, true, false, true, false, Refused::Nothing},
      {true, false, true, true, true, false, Refused::Nothing},
      {true, true, true, false, true, false, Refused::Nothing},
      {true, true, true, true, true, false, Refused::Nothing},
      {true, false, false, false, false, true, Refused::Nothing},
      {true, false, false, true, false, true, Refused::Nothing},
      {true, true, false, false, true, false, Refused::Nothing},
      {true, true, false, true, true, false, Refused::Nothing},
      // Switching off: a machine-wide entry a standard user cannot remove stays, and he hears of it.
      {false, false, true, false, false, false, Refused::Nothing},
      {false, false, true, true, false, false, Refused::Nothing},
      {false, true, true, false, false, false, Refused::Nothing},
      {false, true, true, true, false, false, Refused::Nothing},
      {false, false, false, false, false, false, Refused::Nothing},
      {false, false, false, true, false, false, Refused::Nothing},
      {false, true, false, false, true, false, Refused::StopStartingWithWindows},
      {false, true, false, true, true, false, Refused::StopStartingWithWindows},
  };
  for (const auto& row : rows) {
    MemoryRegistry machine;
    if (row.machineThere) machine.keys[kMachineRun][L"Barcode Reader"] = L"\"C:\\Program Files\\scan.exe\"";
    if (row.userThere) machine.keys[kUserRun][L"Barcode Reader"] = L"\"" + kExe + L"\"";
    machine.refuseLocalMachine = !row.machineWritable;
    SettingsStore rowStore(machine, kExe);
    const SaveOutcome outcome = rowStore.Save(kDefaultPortSettings, row.on, !row.on);
    const std::string where = std::string(row.on ? "on" : "off") + (row.machineThere ? ", machine entry" : "") +
                              (row.machineWritable ? ", machine writable" : "") + (row.userThere ? ", user entry" : "");
    EXPECT_EQ(machine.Find(kMachineRun, L"Barcode Reader") != nullptr, row.machineAfter) << where;
    EXPECT_EQ(machine.Find(kUserRun, L"Barcode Reader") != nullptr, row.userAfter) << where;
    EXPECT_EQ(outcome.refused, row.refused) << where;
    EXPECT_EQ(outcome.error, row.refused == Refused::Nothing ? 0u : MemoryRegistry::kAccessDenied) << where;
    EXPECT_EQ(outcome.autoStart, row.machineAfter || row.userAfter) << where << ": the box shows what the machine does";
    EXPECT_EQ(*machine.Find(kSettings + L"\\APPCFG", L"AutoStart"), outcome.autoStart ? L"1" : L"0") << where;
  }
}

namespace {

const std::wstring kUserOptions = kSettings + L"\\APPCFG";
const std::wstring kMachineOptions = L"HKLM\\Software\\Ombrek\\Barcode Reader\\APPCFG";

}  // namespace

TEST(TypingOptionsTest, NothingSetTypesTheCodeAloneAtOnce) {
  MemoryRegistry registry;
  EXPECT_EQ(ReadTypingOptions(registry), TypingOptions{});
}

TEST(TypingOptionsTest, EachValueTheUserLacksComesFromTheMachine) {
  MemoryRegistry registry;
  registry.keys[kMachineOptions] = {
      {L"Suffix", L"Enter"}, {L"Prefix", L"M"}, {L"KeyDelay", L"20"}, {L"GroupSeparator", L"~"}};
  registry.keys[kUserOptions] = {{L"Suffix", L""}, {L"KeyDelay", L"200"}};
  const TypingOptions options = ReadTypingOptions(registry);
  EXPECT_EQ(options.suffix, TypingOptions::Suffix::None) << "the user's empty value overrides the machine's";
  EXPECT_EQ(options.keyDelayMs, 200);
  EXPECT_EQ(options.prefix, L"M");
  EXPECT_EQ(options.groupSeparator, L"~");
  registry.keys[kUserOptions] = {{L"Suffix", L"tab"}};
  EXPECT_EQ(ReadTypingOptions(registry).suffix, TypingOptions::Suffix::Tab);
}

TEST(TypingOptionsTest, SourcesDecideInTheirOrderAndAProgramsOwnValueFirstWithinEach) {
  using Suffix = TypingOptions::Suffix;
  const std::wstring policy = L"Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG";
  const std::wstring machinePolicy = L"HKLM\\" + policy, userPolicy = L"HKCU\\" + policy;
  const std::wstring machine32 = L"HKLM32\\Software\\Ombrek\\Barcode Reader\\APPCFG";
  const std::wstring excel = L"\\Programs\\excel.exe";
  struct Value {
    std::wstring key, name, text;
  };
  const struct {
    std::vector<Value> values;
    const wchar_t* program;
    Suffix suffix;
    const wchar_t* note;  // a part of the one line noted, none when nothing is
  } rows[] = {
      {{{machinePolicy, L"Suffix", L"Tab"}, {kUserOptions, L"Suffix", L"Enter"}}, L"", Suffix::Tab, nullptr},
      {{{userPolicy, L"Suffix", L"Tab"}, {kUserOptions, L"Suffix", L"Enter"}}, L"", Suffix::Tab, nullptr},
      {{{machinePolicy, L"Suffix", L"Enter"}, {userPolicy, L"Suffix", L"Tab"}}, L"", Suffix::Enter, nullptr},
      {{{kUserOptions, L"Suffix", L"Enter"}, {kMachineOptions, L"Suffix", L"Tab"}}, L"", Suffix::Enter, nullptr},
      {{{machine32, L"Suffix", L"Tab"}}, L"", Suffix::Tab, L"HKLM APPCFG\\Suffix is read from the 32-bit"},
      {{{kMachineOptions, L"Suffix", L"Enter"}, {machine32, L"Suffix", L"Tab"}}, L"", Suffix::Enter, nullptr},
      {{{L"HKLM32\\" + policy, L"Suffix", L"Tab"}, {kUserOptions, L"Suffix", L"Enter"}},
       L"",
       Suffix::Tab,
       L"HKLM policy APPCFG\\Suffix is read from the 32-bit"},
      {{{machinePolicy, L"Suffix", L"Space"}, {kUserOptions, L"Suffix", L"Enter"}},
       L"",
       Suffix::None,
       L"HKLM policy APPCFG\\Suffix = \"Space\" is not valid"},
      {{{kUserOptions + excel, L"Suffix", L"Enter"}, {kUserOptions, L"Suffix", L"Tab"}},
       L"excel.exe",
       Suffix::Enter,
       nullptr},
      {{{kUserOptions + excel, L"Suffix", L"Enter"}, {kUserOptions, L"Suffix", L"Tab"}},
       L"winword.exe",
       Suffix::Tab,
       nullptr},
      {{{kUserOptions + excel, L"Prefix", L"x"}, {kMachineOptions, L"Suffix", L"Tab"}},
       L"excel.exe",
       Suffix::Tab,
       nullptr},
      {{{kUserOptions + excel, L"Suffix", L"Enter"}, {userPolicy, L"Suffix", L"Tab"}},
       L"excel.exe",
       Suffix::Tab,
       nullptr},
      {{{userPolicy + excel, L"Suffix", L"Enter"}, {userPolicy, L"Suffix", L"Tab"}},
       L"excel.exe",
       Suffix::Enter,
       nullptr},
      {{{machine32 + excel, L"Suffix", L"Enter"}, {kUserOptions, L"Suffix", L"Tab"}},
       L"excel.exe",
       Suffix::Tab,
       nullptr},
      {{{machine32 + excel, L"Suffix", L"Enter"}}, L"excel.exe", Suffix::Enter, L"32-bit"},
      {{{kUserOptions + excel, L"Suffix", L"Space"}, {kUserOptions, L"Suffix", L"Tab"}},
       L"excel.exe",
       Suffix::Tab,
       L"APPCFG\\Programs\\excel.exe\\Suffix = \"Space\" is not valid"},
  };
  for (const auto& row : rows) {
    MemoryRegistry registry;
    std::wstring described;
    for (const Value& value : row.values) {
      registry.keys[value.key][value.name] = value.text;
      described += value.key + L"\\" + value.name + L"=" + value.text + L" ";
    }
    DiagnosticsRecorder writer;
    const TypingProfiles profiles = ReadTypingProfiles(registry);
    EXPECT_EQ(profiles.For(row.program).suffix, row.suffix) << described << row.program;
    if (!row.note) {
      EXPECT_TRUE(writer.events.empty()) << described;
      continue;
    }
    ASSERT_EQ(writer.events.size(), 1u) << described;
    EXPECT_NE(writer.events[0].find(row.note), std::wstring::npos) << writer.events[0];
  }
}

TEST(TypingOptionsTest, TheTableDefaultsAreTheDefaultsAndEveryChoiceIsTaken) {
  const option_table::Options defaults;
  for (const auto& row : option_table::Rows()) {
    option_table::Options options;
    platform::StoredValue value;
    value.text = row.defaultText;
    EXPECT_TRUE(row.parse(value, options)) << std::wstring(row.name);
    EXPECT_EQ(options.typing, defaults.typing) << std::wstring(row.name);
    EXPECT_EQ(options.port, defaults.port) << std::wstring(row.name);
    EXPECT_EQ(options.autoStart, defaults.autoStart) << std::wstring(row.name);
    EXPECT_EQ(options.log, defaults.log) << std::wstring(row.name);
    for (const auto choice : row.choices) {
      value.text = choice;
      EXPECT_TRUE(row.parse(value, options)) << std::wstring(row.name) << " " << std::wstring(choice);
    }
  }
}

TEST(TypingOptionsTest, InvalidValuesTakeTheirDefaultsAndAreReportedOnce) {
  for (const std::wstring delay : {L"201", L"-1", L"20ms", L"0x10"}) {
    MemoryRegistry registry;
    registry.keys[kUserOptions] = {{L"Suffix", L"Space"}, {L"KeyDelay", delay}};
    registry.keys[kMachineOptions] = {{L"Suffix", L"Enter"}, {L"KeyDelay", L"20"}};
    DiagnosticsRecorder writer;
    EXPECT_EQ(ReadTypingOptions(registry), TypingOptions{}) << delay;
    ASSERT_EQ(writer.events.size(), 2u) << delay;
    EXPECT_NE(writer.events[0].find(L"Suffix"), std::wstring::npos);
    EXPECT_NE(writer.events[1].find(delay), std::wstring::npos);
  }
}

TEST(TypingOptionsTest, EncodingAndCodeEndTakeTheirWordsAndNumbersOnly) {
  using CodeEnd = TypingOptions::CodeEnd;
  const struct {
    const wchar_t* name;
    const wchar_t* text;
    unsigned codePage;
    CodeEnd codeEnd;
    bool noted;
  } rows[] = {
      {L"Encoding", L"auto", TypingOptions::kAutomaticEncoding, {}, false},
      {L"Encoding", L"utf-8", TypingOptions::kUtf8, {}, false},
      {L"Encoding", L"1251", 1251, {}, false},
      {L"Encoding", L"20866", 20866, {}, false},
      {L"Encoding", L"65536", TypingOptions::kAutomaticEncoding, {}, true},
      {L"Encoding", L"0", TypingOptions::kAutomaticEncoding, {}, true},
      {L"Encoding", L"+866", TypingOptions::kAutomaticEncoding, {}, true},
      {L"Encoding", L"UTF8", TypingOptions::kAutomaticEncoding, {}, true},
      {L"CodeEnd", L"cr", 0, {}, false},
      {L"CodeEnd", L"Pause", 0, {CodeEnd::Kind::Pause}, false},
      {L"CodeEnd", L"03", 0, {CodeEnd::Kind::Byte, 0x03}, false},
      {L"CodeEnd", L"fE", 0, {CodeEnd::Kind::Byte, 0xFE}, false},
      {L"CodeEnd", L"0D", 0, {}, false},
      {L"CodeEnd", L"00", 0, {}, true},
      {L"CodeEnd", L"3", 0, {}, true},
      {L"CodeEnd", L"0x03", 0, {}, true},
      {L"CodeEnd", L"LF", 0, {}, true},
  };
  for (const auto& row : rows) {
    MemoryRegistry registry;
    registry.keys[kUserOptions] = {{row.name, row.text}};
    DiagnosticsRecorder writer;
    const TypingOptions options = ReadTypingOptions(registry);
    EXPECT_EQ(options.codePage, row.codePage) << row.text;
    EXPECT_EQ(options.codeEnd, row.codeEnd) << row.text;
    EXPECT_EQ(writer.events.size(), row.noted ? 1u : 0u) << row.text;
  }
}

TEST(TypingOptionsTest, NumbersAreReadFromDwordsAndOtherTypesAreNoted) {
  using Kind = platform::StoredValue::Kind;
  const auto number = [](std::uint32_t n) { return platform::StoredValue{Kind::Number, L"", n, 4}; };
  const auto other = [](std::uint32_t type) { return platform::StoredValue{Kind::OtherType, L"", 0, type}; };
  const platform::StoredValue tooLong{Kind::TooLong, L"", 0, 1};
  const struct {
    const wchar_t* name;
    platform::StoredValue user;
    std::optional<platform::StoredValue> machine;
    int keyDelay;
    diagnostics::LogLevel log;
    const wchar_t* note;  // a part of the one line noted, none when nothing is
  } rows[] = {
      {L"KeyDelay", number(20), std::nullopt, 20, {}, nullptr},
      {L"KeyDelay", number(0), number(20), 0, {}, nullptr},
      {L"KeyDelay", number(200), std::nullopt, 200, {}, nullptr},
      {L"KeyDelay", number(201), std::nullopt, 0, {}, L"KeyDelay = 201 (REG_DWORD) is not valid"},
      {L"KeyDelay", number(0xFFFFFFFF), std::nullopt, 0, {}, L"4294967295"},
      {L"KeyDelay", other(3), number(20), 0, {}, L"KeyDelay (stored as registry type 3"},
      {L"KeyDelay", other(11), std::nullopt, 0, {}, L"registry type 11"},
      {L"KeyDelay", tooLong, std::nullopt, 0, {}, L"KeyDelay (a text too long"},
      {L"Suffix", number(1), std::nullopt, 0, {}, L"Suffix = 1 (REG_DWORD) is not valid"},
      {L"GroupSeparator", other(7), std::nullopt, 0, {}, L"GroupSeparator (stored as registry type 7"},
      {L"Log", number(1), std::nullopt, 0, diagnostics::LogLevel::Events, nullptr},
      {L"Log", number(2), std::nullopt, 0, diagnostics::LogLevel::Contents, nullptr},
      {L"Log", number(3), std::nullopt, 0, diagnostics::LogLevel::Off, nullptr},
      {L"Log", other(11), std::nullopt, 0, diagnostics::LogLevel::Off, L"Log (stored as registry type 11"},
  };
  for (const auto& row : rows) {
    MemoryRegistry registry;
    registry.otherValues[kUserOptions][row.name] = row.user;
    if (row.machine) registry.otherValues[kMachineOptions][row.name] = *row.machine;
    DiagnosticsRecorder writer;
    EXPECT_EQ(ReadTypingOptions(registry).keyDelayMs, row.keyDelay) << row.name << " " << row.user.number;
    EXPECT_EQ(StoredLogLevel(registry), row.log) << row.name << " " << row.user.number;
    if (!row.note) {
      EXPECT_TRUE(writer.events.empty()) << row.name << " " << row.user.number;
      continue;
    }
    ASSERT_EQ(writer.events.size(), 1u) << std::wstring(row.name);
    EXPECT_NE(writer.events[0].find(row.note), std::wstring::npos) << writer.events[0];
  }
}

TEST(TypingOptionsTest, AFailingRegistryGivesTheDefaultsAndSaysWhy) {
  MemoryRegistry registry;
  registry.keys[kUserOptions] = {{L"Suffix", L"Enter"}};
  registry.operationsBeforeFailure = 0;
  DiagnosticsRecorder recorder;
  EXPECT_EQ(ReadTypingOptions(registry), TypingOptions{});
  ASSERT_FALSE(recorder.failures.empty());
  EXPECT_EQ(recorder.failures.front().second, MemoryRegistry::kInjectedError);
}
