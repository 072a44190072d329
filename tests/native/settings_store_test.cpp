#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

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

// The first scanner's texts as Load gives them.
bool LoadFirst(SettingsStore& store, PortSettings& texts, bool& autoStart) {
  ScannerList scanners{{ScannerSettings::kFirst, texts}};
  const bool loaded = store.Load(scanners, autoStart);
  texts = scanners.front().texts;
  return loaded;
}

}  // namespace

TEST_F(SettingsStoreTest, FirstStartLoadsTheDefaults) {
  PortSettings texts{L"x", L"x", L"x", L"x", L"x", L"x"};
  bool autoStart = true;
  EXPECT_TRUE(LoadFirst(store, texts, autoStart));
  EXPECT_EQ(texts, kDefaultPortSettings);
  EXPECT_FALSE(autoStart);
}

TEST_F(SettingsStoreTest, LoadReadsInOrderAndKeepsTextsVerbatim) {
  registry.keys[kSettings + L"\\DEVICE"] = {
      {L"NamePort", L""}, {L"BaudRate", L"fast"}, {L"ByteSize", L"7"}, {L"Parity", L"odd"}, {L"StopBits", L"2"}};
  PortSettings texts;
  bool autoStart = false;
  ASSERT_TRUE(LoadFirst(store, texts, autoStart));
  EXPECT_EQ(texts, (PortSettings{L"", L"fast", L"7", L"odd", L"2", L"CR"})) << "an empty value is not the default";
  EXPECT_EQ(store.Enforced(), EnforcedSettings{});
  std::erase_if(registry.journal, [](const std::wstring& entry) {  // the policies are looked at first, each time
    return entry.find(L"HKCU\\Software\\Ombrek") == std::wstring::npos && entry.find(L"\\Run\\") == std::wstring::npos;
  });
  const std::vector<std::wstring> expected = {
      L"read " + kSettings + L"\\DEVICE\\NamePort",   L"read " + kSettings + L"\\DEVICE\\BaudRate",
      L"read " + kSettings + L"\\DEVICE\\ByteSize",   L"read " + kSettings + L"\\DEVICE\\Parity",
      L"read " + kSettings + L"\\DEVICE\\StopBits",   L"read " + kSettings + L"\\APPCFG\\CodeEnd",
      L"read " + kSettings + L"\\DEVICE\\ReplyTyped", L"read " + kSettings + L"\\DEVICE\\ReplyRefused",
      L"list " + kSettings + L"\\DEVICE\\Scanners\\", L"read " + kMachineRun + L"\\Barcode Reader",
      L"read " + kUserRun + L"\\Barcode Reader"};
  EXPECT_EQ(registry.journal, expected);
}

TEST_F(SettingsStoreTest, LoadFailingHalfWayKeepsWhatItHadNotReadYet) {
  registry.keys[kSettings + L"\\DEVICE"] = {{L"NamePort", L"COM3"}, {L"BaudRate", L"19200"}, {L"ByteSize", L"7"}};
  registry.keys[kSettings + L"\\APPCFG"] = {{L"AutoStart", L"1"}};
  registry.operationsBeforeFailure = 8;  // two values, each read from three policy keys, then the settings
  PortSettings texts{L"old", L"old", L"old", L"old", L"old", L"old"};
  bool autoStart = false;
  EXPECT_FALSE(LoadFirst(store, texts, autoStart));
  EXPECT_EQ(texts, (PortSettings{L"COM3", L"19200", L"old", L"old", L"old", L"old"}));
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
    SCOPED_TRACE(&row - rows);
    MemoryRegistry machine;
    if (row.stored) machine.keys[kSettings + L"\\APPCFG"][L"AutoStart"] = row.stored;
    if (row.machineEntry) machine.keys[kMachineRun][L"Barcode Reader"] = L"x";
    if (row.userEntry) machine.keys[kUserRun][L"Barcode Reader"] = L"x";
    if (!row.machineReadable) machine.unreadableKeys = {kMachineRun};
    SettingsStore rowStore(machine, kExe);
    PortSettings texts;
    bool autoStart = !row.shown;
    ASSERT_TRUE(LoadFirst(rowStore, texts, autoStart));
    EXPECT_EQ(autoStart, row.shown);
    machine.refuseLocalMachine = true;  // a standard user's OK for a port change
    const SaveOutcome outcome = rowStore.Save({{ScannerSettings::kFirst, texts}}, autoStart, autoStart);
    EXPECT_TRUE(outcome.Succeeded());
    EXPECT_EQ(outcome.autoStart, row.shown);
    EXPECT_EQ(machine.Find(kMachineRun, L"Barcode Reader") != nullptr, row.machineEntry);
    EXPECT_EQ(machine.Find(kUserRun, L"Barcode Reader") != nullptr, row.userEntry);
    EXPECT_EQ(*machine.Find(kSettings + L"\\APPCFG", L"AutoStart"), row.shown ? L"1" : L"0");
  }
}

TEST_F(SettingsStoreTest, FurtherScannersAreReadEachFromItsOwnKeyAndRemovedWithIt) {
  const std::wstring user = kSettings + L"\\DEVICE\\Scanners\\", machine = L"HKLM" + user.substr(4),
                     policy = L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\DEVICE\\Scanners\\";
  registry.keys[kSettings + L"\\DEVICE"] = {{L"NamePort", L"COM1"}};
  registry.keys[user + L"2"] = {{L"NamePort", L"COM3"}, {L"CodeEnd", L"03"}, {L"ReplyTyped", L"06"}};
  registry.otherValues[user + L"2"][L"BaudRate"] = {platform::StoredValue::Kind::OtherType, L"", 0, 3};  // binary
  registry.keys[user + L"3"] = {{L"NamePort", L"com1"}};  // the first scanner's port
  registry.keys[user + L"4"] = {{L"BaudRate", L"4800"}};  // no port
  registry.keys[user + L"5"] = {{L"NamePort", L"COM7"}};  // a key the registry refuses
  registry.unreadableKeys = {user + L"5"};
  registry.keys[user + L"x"] = {{L"NamePort", L"COM8"}};  // no number
  registry.keys[machine + L"6"] = {{L"NamePort", L"COM6"}, {L"BaudRate", L"19200"}};
  registry.keys[user + L"6"] = {{L"BaudRate", L"38400"}};  // the operator's over the machine's
  registry.keys[policy + L"9"] = {{L"NamePort", L"COM9"}};
  ScannerList scanners;
  bool autoStart = false;
  ASSERT_TRUE(store.Load(scanners, autoStart));
  EXPECT_EQ(scanners, (ScannerList{{1, {L"COM1", L"9600", L"8", L"None", L"1", L"CR"}},
                                   {2, {L"COM3", L"9600", L"8", L"None", L"1", L"03", L"06"}},
                                   {6, {L"COM6", L"38400", L"8", L"None", L"1", L"CR"}},
                                   {9, {L"COM9", L"9600", L"8", L"None", L"1", L"CR"}}}));
  const auto noted = [&](const std::wstring& part) {
    return std::ranges::any_of(recorder.events,
                               [&](const auto& event) { return event.find(part) != std::wstring::npos; });
  };
  EXPECT_TRUE(noted(L"DEVICE\\Scanners\\2\\BaudRate (stored as registry type 3"));
  EXPECT_TRUE(noted(L"DEVICE\\Scanners\\3 names com1, which another scanner reads"));
  EXPECT_TRUE(noted(L"DEVICE\\Scanners\\4 names no port"));
  EXPECT_TRUE(noted(L"DEVICE\\Scanners\\x is not read"));
  ASSERT_EQ(recorder.failures.size(), 1u);
  EXPECT_NE(recorder.failures[0].first.find(L"DEVICE\\Scanners\\5"), std::wstring::npos);
  EXPECT_EQ(store.Enforced().kept, (std::vector<unsigned>{6, 9}));
  EXPECT_TRUE(store.Enforced().Covers(9, &PortSettings::NamePort));

  // OK with the second scanner removed and a tenth added.
  registry.unreadableKeys.clear();
  scanners.erase(scanners.begin() + 1);
  scanners.push_back({10, {L"COM4", L"9600", L"8", L"None", L"1", L"pause"}});
  ASSERT_TRUE(store.Save(scanners, false, false).Succeeded());
  EXPECT_EQ(registry.Find(user + L"2", L"NamePort"), nullptr) << "its key goes";
  EXPECT_EQ(*registry.Find(user + L"10", L"CodeEnd"), L"pause");
  EXPECT_EQ(registry.Find(user + L"9", L"NamePort"), nullptr) << "the policy's, never the operator's";
  EXPECT_EQ(registry.Find(kSettings + L"\\APPCFG", L"CodeEnd"), nullptr) << "the first's end, unchanged, stays IT's";
}

TEST_F(SettingsStoreTest, EnforcedLineSettingsAndStartAreShownAndNeverWritten) {
  const std::wstring policy = L"HKLM\\Software\\Policies\\Ombrek\\Barcode Reader";
  registry.keys[policy + L"\\DEVICE"] = {{L"NamePort", L"COM7"}};
  registry.keys[L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"AutoStart", L"1"}};
  registry.keys[kSettings + L"\\DEVICE"] = {{L"NamePort", L"COM2"}, {L"BaudRate", L"4800"}};
  PortSettings texts;
  bool autoStart = false;
  ASSERT_TRUE(LoadFirst(store, texts, autoStart));
  EXPECT_EQ(texts, (PortSettings{L"COM7", L"4800", L"8", L"None", L"1", L"CR"}));
  EXPECT_TRUE(autoStart);
  EXPECT_EQ(store.Enforced(), (EnforcedSettings{{{ScannerSettings::kFirst, &PortSettings::NamePort}}, {}, true}));
  EXPECT_NE(registry.Find(kMachineRun, L"Barcode Reader"), nullptr) << "the start brought in line with the policy";

  ASSERT_TRUE(store.Save({{ScannerSettings::kFirst, {L"COM1", L"19200", L"8", L"None", L"1", L"CR"}}}, false, true)
                  .Succeeded());
  EXPECT_EQ(*registry.Find(kSettings + L"\\DEVICE", L"NamePort"), L"COM2") << "the policy's, not the operator's";
  EXPECT_EQ(*registry.Find(kSettings + L"\\DEVICE", L"BaudRate"), L"19200");
  EXPECT_NE(registry.Find(kMachineRun, L"Barcode Reader"), nullptr);
  EXPECT_EQ(registry.Find(kSettings + L"\\APPCFG", L"AutoStart"), nullptr);

  registry.keys[L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"AutoStart", L"yes"}};
  ASSERT_TRUE(LoadFirst(store, texts, autoStart));
  EXPECT_TRUE(store.Enforced().autoStart) << "a broken policy is not the operator's to overrule";
  EXPECT_TRUE(autoStart) << "and changes nothing on the machine";
  EXPECT_NE(registry.Find(kMachineRun, L"Barcode Reader"), nullptr);
}

TEST_F(SettingsStoreTest, AnEnforcedStartKeepsTheRunValueItFindsAndOneEntryAtMost) {
  const std::wstring itsOwn = L"\"" + kExe + L"\" 5";  // IT gave it the port
  registry.keys[L"HKLM\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"AutoStart", L"1"}};
  registry.keys[kMachineRun] = {{L"Barcode Reader", itsOwn}};
  registry.keys[kUserRun] = {{L"Barcode Reader", L"\"" + kExe + L"\""}};
  PortSettings texts;
  bool autoStart = false;
  ASSERT_TRUE(LoadFirst(store, texts, autoStart));
  EXPECT_TRUE(autoStart);
  EXPECT_EQ(*registry.Find(kMachineRun, L"Barcode Reader"), itsOwn);
  EXPECT_EQ(registry.Find(kUserRun, L"Barcode Reader"), nullptr) << "a second copy at logon, without its port";
}

TEST_F(SettingsStoreTest, SaveWritesTheTextsThenTheRunEntryThenAutoStart) {
  const PortSettings texts{L"COM5", L"115200", L"8", L"Even", L"2", L"CR"};
  ASSERT_TRUE(store.Save({{ScannerSettings::kFirst, texts}}, true, false).Succeeded());
  const std::vector<std::wstring> expected = {
      L"write " + kSettings + L"\\APP\\Name",         L"write " + kSettings + L"\\DEVICE\\NamePort",
      L"write " + kSettings + L"\\DEVICE\\BaudRate",  L"write " + kSettings + L"\\DEVICE\\ByteSize",
      L"write " + kSettings + L"\\DEVICE\\Parity",    L"write " + kSettings + L"\\DEVICE\\StopBits",
      L"list " + kSettings + L"\\DEVICE\\Scanners\\", L"write " + kMachineRun + L"\\Barcode Reader",
      L"delete " + kUserRun + L"\\Barcode Reader",    L"write " + kSettings + L"\\APPCFG\\AutoStart"};
  EXPECT_EQ(registry.journal, expected);
  EXPECT_EQ(*registry.Find(kSettings + L"\\APP", L"Name"), L"scan.exe");

  PortSettings loaded;
  bool autoStart = false;
  ASSERT_TRUE(LoadFirst(store, loaded, autoStart));
  EXPECT_EQ(loaded, texts);
  EXPECT_TRUE(autoStart);
}

TEST_F(SettingsStoreTest, SaveFailingHalfWayLeavesTheRestAndTheRunEntryAlone) {
  registry.keys[kSettings + L"\\DEVICE"] = {{L"Parity", L"Odd"}};
  registry.keys[kMachineRun] = {{L"Barcode Reader", L"\"C:\\old.exe\""}};
  registry.operationsBeforeFailure = 4;  // the open, Name, NamePort, BaudRate
  const SaveOutcome outcome =
      store.Save({{ScannerSettings::kFirst, {L"COM2", L"4800", L"7", L"Even", L"2", L"CR"}}}, false, true);
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
  EXPECT_TRUE(store.Save({{ScannerSettings::kFirst, kDefaultPortSettings}}, true, false).Succeeded())
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
  EXPECT_TRUE(store.Save({{ScannerSettings::kFirst, kDefaultPortSettings}}, false, true).Succeeded());
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
    const SaveOutcome outcome = rowStore.Save({{ScannerSettings::kFirst, kDefaultPortSettings}}, row.on, !row.on);
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
  registry.keys[kUserOptions] = {{L"Suffix", L"TAB"}};
  EXPECT_EQ(ReadTypingOptions(registry).suffix, TypingOptions::Suffix::Tab);
}

TEST(TypingOptionsTest, SourcesDecideInTheirOrderAndAProgramsOwnValueFirstWithinEach) {
  using Suffix = TypingOptions::Suffix;
  const std::wstring policy = L"Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG";
  const std::wstring mPol = L"HKLM\\" + policy, uPol = L"HKCU\\" + policy, mPol32 = L"HKLM32\\" + policy;
  const std::wstring user = kUserOptions, mach = kMachineOptions, xl = L"\\Programs\\excel.exe";
  const std::wstring mach32 = L"HKLM32\\Software\\Ombrek\\Barcode Reader\\APPCFG";
  struct Value {
    std::wstring key, text, name = L"Suffix";
  };
  const struct {
    std::vector<Value> values;
    const wchar_t* program;
    Suffix suffix;
    const wchar_t* note = nullptr;  // a part of the one line noted, none when nothing is
  } rows[] = {
      {{{mPol, L"Tab"}, {user, L"Enter"}}, L"", Suffix::Tab},
      {{{uPol, L"Tab"}, {user, L"Enter"}}, L"", Suffix::Tab},
      {{{mPol, L"Enter"}, {uPol, L"Tab"}}, L"", Suffix::Enter},
      {{{user, L"Enter"}, {mach, L"Tab"}}, L"", Suffix::Enter},
      {{{mach32, L"Tab"}}, L"", Suffix::Tab, L"HKLM APPCFG\\Suffix is read from the 32-bit"},
      {{{mach, L"Enter"}, {mach32, L"Tab"}}, L"", Suffix::Enter},
      {{{mPol32, L"Tab"}, {user, L"Enter"}}, L"", Suffix::Tab, L"HKLM policy APPCFG\\Suffix is read from the 32-bit"},
      {{{mPol, L"Space"}, {user, L"Enter"}}, L"", Suffix::None, L"HKLM policy APPCFG\\Suffix = \"Space\" is not valid"},
      {{{user + xl, L"Enter"}, {user, L"Tab"}}, L"excel.exe", Suffix::Enter},
      {{{user + xl, L"Enter"}, {user, L"Tab"}}, L"winword.exe", Suffix::Tab},
      {{{user + xl, L"x", L"Prefix"}, {mach, L"Tab"}}, L"excel.exe", Suffix::Tab},
      {{{user + xl, L"Enter"}, {uPol, L"Tab"}}, L"excel.exe", Suffix::Tab},
      {{{uPol + xl, L"Enter"}, {uPol, L"Tab"}}, L"excel.exe", Suffix::Enter},
      {{{mach32 + xl, L"Enter"}, {user, L"Tab"}}, L"excel.exe", Suffix::Tab},
      {{{mach32 + xl, L"Enter"}}, L"excel.exe", Suffix::Enter, L"32-bit"},
      {{{user + xl, L"Space"}, {user, L"Tab"}}, L"excel.exe", Suffix::None, L"Programs\\excel.exe\\Suffix = \"Space\""},
      {{{mPol + xl, L"Space"}, {user, L"Enter"}},
       L"excel.exe",
       Suffix::None,
       L"HKLM policy APPCFG\\Programs\\excel.exe\\Suffix = \"Space\" is not valid; the default is used"},
      {{{uPol + xl, L"Enter"}, {user, L"Tab"}}, L"EXCEL.EXE", Suffix::Enter},
      {{{uPol + L"\\Programs\\Übersicht.exe", L"Enter"}}, L"übersicht.exe", Suffix::Enter},
      {{{uPol + L"\\Programs\\Übersicht.exe", L"Enter"}}, L"Ubersicht.exe", Suffix::None},
      {{{user + L"\\Programs\\Касса.exe", L"Tab"}}, L"КАССА.EXE", Suffix::Tab},
      {{{user + L"\\Programs\\ταμείο.exe", L"Tab"}}, L"ΤΑΜΕΊΟ.exe", Suffix::Tab},
      {{{user + L"\\Programs\\ταμείο.exe", L"Tab"}}, L"ΤΑΜΕΙΟ.exe", Suffix::None},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    MemoryRegistry registry;
    for (const Value& value : row.values) registry.keys[value.key][value.name] = value.text;
    DiagnosticsRecorder writer;
    EXPECT_EQ(ReadTypingProfiles(registry).For(row.program).suffix, row.suffix);
    ASSERT_EQ(writer.events.size(), row.note ? 1u : 0u);
    if (row.note) {
      EXPECT_NE(writer.events[0].find(row.note), std::wstring::npos) << writer.events[0];
    }
  }
}

TEST(TypingOptionsTest, EveryKeyAValueIsReadFromIsWatched) {
  MemoryRegistry registry;
  registry.keys[kMachineOptions + L"\\Programs\\excel.exe"] = {{L"Suffix", L"Tab"}};
  registry.keys[kSettings + L"\\DEVICE\\Scanners\\2"] = {{L"NamePort", L"COM3"}};
  ReadTypingProfiles(registry);
  ScannerList scanners;
  bool autoStart = false;
  SettingsStore(registry, kExe).Load(scanners, autoStart);
  const auto keys = option_table::SourceKeys();
  for (const std::wstring& entry : registry.journal) {
    if (entry.find(L"\\Run\\") != std::wstring::npos) continue;    // not a setting
    const std::wstring read = entry.substr(entry.find(L' ') + 1);  // a value read or a key listed
    EXPECT_TRUE(std::any_of(keys.begin(), keys.end(), [&](const platform::KeyPlace& key) {
      return read.rfind(MemoryRegistry::Path(key.hive, key.path, key.view) + L"\\", 0) == 0;
    })) << entry;
  }
}

TEST(TypingOptionsTest, TheTableDefaultsAreTheDefaultsAndEveryChoiceIsTaken) {
  const option_table::Options defaults;
  for (const auto& row : option_table::Rows()) {
    SCOPED_TRACE(std::wstring(row.name));
    option_table::Options options;
    platform::StoredValue value{platform::StoredValue::Kind::Text, std::wstring(row.defaultText)};
    EXPECT_TRUE(row.parse(value, options));
    EXPECT_TRUE(options.typing == defaults.typing && options.port == defaults.port &&
                options.autoStart == defaults.autoStart && options.log == defaults.log &&
                options.monitor == defaults.monitor);
    for (const auto choice : row.choices) {
      value.text = choice;
      EXPECT_TRUE(row.parse(value, options)) << std::wstring(choice);
    }
  }
}

TEST(TypingOptionsTest, InvalidValuesTakeTheirDefaultsAndAreReportedOnce) {
  const std::wstring bad[][2] = {{L"201", L"65536"}, {L"-1", L"0"},  {L"20ms", L"+866"}, {L"0x10", L"UTF8"},
                                 {L"x", L"65000"},   {L"-5", L"42"}, {L"1e2", L"50222"}, {L"1.5", L"57011"}};
  for (const auto& [delay, encoding] : bad) {
    MemoryRegistry registry;
    registry.keys[kUserOptions] = {
        {L"Suffix", L"Space"}, {L"KeyDelay", delay}, {L"Encoding", encoding}, {L"TypeAs", L"paste "}};
    registry.keys[kMachineOptions] = {{L"Suffix", L"Enter"}, {L"KeyDelay", L"20"}, {L"Encoding", L"1251"}};
    DiagnosticsRecorder writer;
    EXPECT_EQ(ReadTypingOptions(registry), TypingOptions{}) << delay;
    ASSERT_EQ(writer.events.size(), 4u) << delay;
    EXPECT_NE(writer.events[0].find(L"Suffix"), std::wstring::npos);
    EXPECT_NE(writer.events[1].find(delay), std::wstring::npos);
    EXPECT_NE(writer.events[2].find(L"Encoding = \"" + encoding), std::wstring::npos);
    EXPECT_NE(writer.events[3].find(L"TypeAs"), std::wstring::npos);
    // The system's log hears of the first alone: one of a kind in ten minutes.
    ASSERT_EQ(writer.systemEvents.size(), 1u);
    EXPECT_EQ(writer.systemEvents[0].strings, (std::vector<std::wstring>{L"APPCFG\\Suffix", L"= \"Space\""}));
  }
}

TEST(TypingOptionsTest, EncodingAndCodeEndTakeTheirWordsAndNumbers) {
  const std::tuple<const wchar_t*, unsigned, const wchar_t*, CodeEnd, const wchar_t*, std::string> rows[] = {
      {L"auto", TypingOptions::kAutomaticEncoding, L"cr", {}, L"06", "\x06"},
      {L"AUTO", TypingOptions::kAutomaticEncoding, L"PAUSE", {CodeEnd::Kind::Pause}, L"", ""},
      {L"utf-8", TypingOptions::kUtf8, L"0D", {}, L"1b 07", "\x1b\x07"},
      {L"1251", 1251, L"Pause", {CodeEnd::Kind::Pause}, L"fF00", std::string("\xff\0", 2)},
      {L"20866", 20866, L"03", {CodeEnd::Kind::Byte, 0x03}, L"15", "\x15"},
      {L"1251", 1251, L"1e", {CodeEnd::Kind::Byte, 0x1E}, L"06", "\x06"},
      {L"57001", 57001, L"7F", {CodeEnd::Kind::Byte, 0x7F}, L"06", "\x06"}};
  for (const auto& [encoding, codePage, codeEndText, codeEnd, replyText, reply] : rows) {
    MemoryRegistry registry;
    registry.keys[kUserOptions] = {{L"Encoding", encoding}, {L"CodeEnd", codeEndText}};
    registry.keys[kSettings + L"\\DEVICE"] = {{L"ReplyRefused", replyText}};
    DiagnosticsRecorder writer;
    const TypingOptions options = ReadTypingOptions(registry);
    EXPECT_EQ(options.codePage, codePage) << encoding;
    PortSettings texts;
    bool autoStart = false;
    SettingsStore store(registry, kExe);
    LineParameters line;
    ASSERT_TRUE(LoadFirst(store, texts, autoStart) && ApplySettings(texts, line));
    EXPECT_EQ(line.codeEnd, codeEnd) << codeEndText;
    EXPECT_EQ(line.replies, (Replies{"", reply})) << replyText;
    EXPECT_TRUE(writer.events.empty()) << encoding << " " << codeEndText;
  }
  for (const wchar_t* bad : {L"00", L"3", L"0x03", L"LF", L"85", L"20", L"41", L"80"}) EXPECT_FALSE(ReadCodeEnd(bad));
  for (const wchar_t* bad : {L"6", L"0x06", L"ACK", L" 06", L"06 1", L"g6", L"06,", L"\u0660\u0666"}) {
    EXPECT_FALSE(ReadHexBytes(bad)) << bad;
  }
}

TEST(TypingOptionsTest, NumbersAreReadFromDwordsAndOtherTypesAreNoted) {
  using Kind = platform::StoredValue::Kind;
  const auto number = [](std::uint32_t n) { return platform::StoredValue{Kind::Number, L"", n, 4}; };
  const auto other = [](std::uint32_t type) { return platform::StoredValue{Kind::OtherType, L"", 0, type}; };
  const platform::StoredValue tooLong{Kind::TooLong, L"", 0, 1};
  const platform::StoredValue denied{Kind::Unreadable, L"", 0, 0, 5};
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
      {L"KeyDelay", other(6), number(20), 0, {}, L"KeyDelay (stored as registry type 6"},
      {L"KeyDelay", denied, number(20), 0, {}, L"KeyDelay (which cannot be read: error 5)"},
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
  // Save the rules: a list the registry would not give types nothing.
  TypingOptions expected;
  expected.rulesSource = L"APPCFG\\Rules";
  expected.rulesUnreadable = L"(the registry refused it: error 8)";
  EXPECT_EQ(ReadTypingOptions(registry), expected);
  ASSERT_FALSE(recorder.failures.empty());
  EXPECT_EQ(recorder.failures.front().second, MemoryRegistry::kInjectedError);
}

TEST(TypingOptionsTest, ARuleListIsTakenWholeFromTheStrongestSourceValueBeforeKey) {
  const std::wstring uPol = L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG", xl = L"\\Programs\\excel.exe";
  const auto list = [](std::vector<std::wstring> texts) {
    return platform::StoredValue{platform::StoredValue::Kind::TextList, L"", 0, 7, 0, std::move(texts)};
  };
  const struct {
    std::map<std::wstring, std::map<std::wstring, std::wstring>> numbered;  // key -> 1, 2, 3...
    std::map<std::wstring, platform::StoredValue> values;                   // key -> its Rules value
    const wchar_t* program;
    std::vector<std::wstring> rules;
    std::wstring source;
  } rows[] = {
      {{{uPol + L"\\Rules", {{L"1", L"a"}, {L"2", L"b"}, {L"4", L"d"}}}},
       {},
       L"",
       {L"a", L"b"},
       L"HKCU policy APPCFG\\Rules"},
      {{{kUserOptions + L"\\Rules", {{L"1", L"key"}}}},
       {{kUserOptions, list({L"value"})}},
       L"",
       {L"value"},
       L"APPCFG\\Rules"},
      {{},
       {{uPol + xl, list({L"own"})}, {uPol, list({L"general"})}},
       L"excel.exe",
       {L"own"},
       L"HKCU policy APPCFG\\Programs\\excel.exe\\Rules"},
      {{},
       {{uPol + xl, list({L"own"})}, {uPol, list({L"general"})}},
       L"winword.exe",
       {L"general"},
       L"HKCU policy APPCFG\\Rules"},
      {{},
       {{kUserOptions + xl, list({L"own"})}, {uPol, list({L"policy"})}},
       L"excel.exe",
       {L"policy"},
       L"HKCU policy APPCFG\\Rules"},
      {{}, {{kUserOptions, {platform::StoredValue::Kind::Text, L"upper"}}}, L"", {L"upper"}, L"APPCFG\\Rules"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(&row - rows);
    MemoryRegistry registry;
    for (const auto& [key, values] : row.numbered) registry.keys[key] = values;
    for (const auto& [key, value] : row.values) registry.otherValues[key][L"Rules"] = value;
    const TypingOptions options = ReadTypingProfiles(registry).For(row.program);
    EXPECT_EQ(options.rules, row.rules);
    EXPECT_EQ(options.rulesSource, row.source);
    EXPECT_TRUE(options.rulesUnreadable.empty());
  }
  // A list stored so that it cannot be read stands: no weaker list types
  // the codes it would get.
  MemoryRegistry registry;
  registry.otherValues[uPol][L"Rules"] = {platform::StoredValue::Kind::OtherType, L"", 0, 3};
  registry.otherValues[kUserOptions][L"Rules"] = list({L"upper"});
  const TypingOptions options = ReadTypingOptions(registry);
  EXPECT_TRUE(options.rules.empty());
  EXPECT_EQ(options.rulesUnreadable, L"(stored as registry type 3, which holds no setting)");
}
