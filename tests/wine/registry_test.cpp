// The reader's settings against the real registry.
#include <gtest/gtest.h>

#include "platform/win/application.h"
#include "platform/win/diagnostics_writer.h"
#include "platform/win/win_registry.h"
#include "support/log_file.h"
#include "support/raw_registry.h"
#include "support/test_reader.h"

namespace {

using raw_registry::kRunKey;
using raw_registry::kSettingsKey;

std::wstring Section(const wchar_t* name) { return std::wstring(kSettingsKey) + L"\\" + name; }

// Text of a value that must be a REG_SZ.
std::wstring StoredText(HKEY root, const std::wstring& path, const std::wstring& name) {
  const auto value = raw_registry::Read(root, path, name);
  if (!value) return L"<absent>";
  if (value->type != REG_SZ) return L"<type " + std::to_wstring(value->type) + L">";
  return value->Text();
}

bool RunValueExists(HKEY root) { return raw_registry::Read(root, kRunKey, L"Barcode Reader").has_value(); }

// What the diagnostics were told, meanwhile.
struct Notes final : diagnostics::Writer {
  Notes() { diagnostics::SetWriter(this); }
  ~Notes() override { diagnostics::SetWriter(nullptr); }
  void Write(const diagnostics::Entry& entry) override { texts.emplace_back(entry.text); }
  std::vector<std::wstring> texts;
};

class RegistryTest : public testing::Test {
 protected:
  void SetUp() override { raw_registry::Forget(); }
  void TearDown() override { raw_registry::Forget(); }
};

// As for a user who may not write under HKEY_LOCAL_MACHINE, which Wine
// cannot show: every Wine process holds an administrator token.
class MachineKeyRefusingRegistry final : public platform::Registry {
 public:
  std::unique_ptr<platform::IniFile> OpenIni(const std::wstring& path, platform::Access access) override {
    return real_.OpenIni(path, access);
  }
  std::unique_ptr<platform::RegistryKey> OpenKey(platform::Hive hive, const std::wstring& path) override {
    if (hive == platform::Hive::LocalMachine) throw platform::RegistryError("access denied", ERROR_ACCESS_DENIED);
    return real_.OpenKey(hive, path);
  }
  void DeleteKey(platform::Hive hive, const std::wstring& path) override { real_.DeleteKey(hive, path); }
  using platform::Registry::ReadValue;
  std::optional<platform::StoredValue> ReadValue(platform::Hive hive, const std::wstring& path,
                                                 const std::wstring& name, platform::View view) override {
    return real_.ReadValue(hive, path, name, view);
  }
  std::vector<std::wstring> ReadAllTexts(platform::Hive hive, const std::wstring& path) override {
    return real_.ReadAllTexts(hive, path);
  }
  std::vector<std::wstring> SubkeyNames(platform::Hive hive, const std::wstring& path, platform::View view) override {
    return real_.SubkeyNames(hive, path, view);
  }

 private:
  platform::WinRegistry real_;
};

// Writes entries through the real writer at the level the operator stored.
class LogSession {
 public:
  LogSession(const wchar_t* setting, const std::wstring& path, std::uint64_t capBytes = diagnostics::kLogCapBytes)
      : writer_((raw_registry::WriteText(HKEY_CURRENT_USER, Section(L"APPCFG"), L"Log", setting),
                 StoredLogLevel(registry_)),
                path, capBytes) {
    diagnostics::SetWriter(&writer_);
  }
  ~LogSession() { diagnostics::SetWriter(nullptr); }

 private:
  platform::WinRegistry registry_;
  diagnostics::WinWriter writer_;
};

}  // namespace

TEST_F(RegistryTest, TheLogHoldsFailuresWithTheirTextAndCodesOnlyWhenAskedFor) {
  const std::wstring path = diagnostics::LogFilePath();
  ASSERT_NE(path.find(L"\\Ombrek\\Barcode Reader\\"), std::wstring::npos) << "its folders are made";
  ::DeleteFileW(path.c_str());
  ::DeleteFileW((path + L".1").c_str());
  wchar_t systemText[256] = L"";
  ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND, 0,
                   systemText, std::size(systemText), nullptr);
  const std::wstring expectedText(systemText, wcscspn(systemText, L"\r\n"));
  ASSERT_FALSE(expectedText.empty());
  {
    LogSession session(L"1", path);
    diagnostics::Failure(L"opening COM5", ERROR_FILE_NOT_FOUND);
    diagnostics::CodeTyped("4711");
    const std::string log = ReadLog(path);
    EXPECT_NE(log.find(std::string("[").append(std::to_string(::GetCurrentProcessId())) +
                       "] FAILED opening COM5: error 2 (" + std::string(expectedText.begin(), expectedText.end())),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("code typed, 4 bytes\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("34 37"), std::string::npos) << "no contents at 1";
  }
  {
    LogSession session(L"2", path);
    diagnostics::CodeTyped("4711");
    EXPECT_NE(ReadLog(path).find("code typed, 4 bytes: 34 37 31 31\r\n"), std::string::npos);
  }
  {
    // A small cap: the file moves aside once and starts again.
    LogSession session(L"1", path, 300);
    for (int i = 0; i < 8; ++i) diagnostics::Event(L"COM1 opened at 9600 baud, 8 data bits, no parity");
    EXPECT_NE(ReadLog(path + L".1").find("COM1 opened"), std::string::npos) << "the older lines move aside";
    EXPECT_LE(ReadLog(path).size(), 300u);
    // A viewer holds the file without sharing its deletion: it cannot move,
    // and still the older lines go aside and the file keeps to its cap.
    const platform::FileHandle viewer(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(viewer);
    for (int i = 0; i < 8; ++i) diagnostics::Event(L"COM2 opened at 9600 baud, 8 data bits, no parity");
    EXPECT_NE(ReadLog(path + L".1").find("COM2 opened"), std::string::npos);
    EXPECT_LE(ReadLog(path).size(), 300u);
    // One that maps it too: it can be neither moved nor emptied.
    const platform::KernelHandle mapping(::CreateFileMappingW(viewer.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    for (int i = 0; i < 20; ++i) diagnostics::Event(L"COM3 opened at 9600 baud, 8 data bits, no parity");
    EXPECT_LE(ReadLog(path).size(), 300u);
    ::UnmapViewOfFile(view);
  }
  ::DeleteFileW(path.c_str());
  ::DeleteFileW((path + L".1").c_str());
}

TEST_F(RegistryTest, FirstStartTakesTheDefaultsAndWritesNothing) {
  TestReader reader;
  reader.ApplySettings();  // a developer's --gtest_filter must not count as a port argument
  EXPECT_EQ(reader.scanners.front().texts, kDefaultPortSettings);
  EXPECT_FALSE(reader.AutoStart);
  EXPECT_EQ(reader.lineParameters(), (LineParameters{L"COM1", 9600, 8, 0, 0, {}}));
  HKEY key = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND)
      << "loading must not create the settings key";
}

TEST_F(RegistryTest, SaveWritesTheSevenValuesWhereTheyBelong) {
  TestReader reader;
  reader.scanners.front().texts = {L"COM5", L"115200", L"7", L"Even", L"2", L"CR"};
  reader.AutoStart = true;
  ASSERT_TRUE(reader.SaveSettings());

  const std::wstring exe = platform::ExecutablePath();
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"APP"), L"Name"), exe.substr(exe.find_last_of(L'\\') + 1));
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"DEVICE"), L"NamePort"), L"COM5");
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"DEVICE"), L"BaudRate"), L"115200");
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"DEVICE"), L"ByteSize"), L"7");
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"DEVICE"), L"Parity"), L"Even");
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"DEVICE"), L"StopBits"), L"2");
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"APPCFG"), L"AutoStart"), L"1");
  EXPECT_EQ(StoredText(HKEY_LOCAL_MACHINE, kRunKey, L"Barcode Reader"), L"\"" + exe + L"\"");
  EXPECT_FALSE(RunValueExists(HKEY_CURRENT_USER));

  TestReader next;
  next.ApplySettings();
  EXPECT_EQ(next.scanners.front().texts, reader.scanners.front().texts);
  EXPECT_TRUE(next.AutoStart);
  EXPECT_EQ(next.lineParameters(), (LineParameters{L"COM5", 115200, 7, 2, 2, {}}));
}

TEST_F(RegistryTest, SavingWithAutoStartOffDeletesTheRunValues) {
  raw_registry::WriteText(HKEY_LOCAL_MACHINE, kRunKey, L"Barcode Reader", L"C:\\old.exe");
  raw_registry::WriteText(HKEY_CURRENT_USER, kRunKey, L"Barcode Reader", L"C:\\old.exe");
  TestReader reader;
  reader.AutoStart = false;
  ASSERT_TRUE(reader.SaveSettings());
  EXPECT_FALSE(RunValueExists(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(RunValueExists(HKEY_CURRENT_USER));
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"APPCFG"), L"AutoStart"), L"0");
  EXPECT_TRUE(reader.SaveSettings()) << "deleting what is not there is no error";
}

TEST_F(RegistryTest, RefusedMachineKeyRegistersForThisUser) {
  MachineKeyRefusingRegistry registry;
  SettingsStore store(registry, platform::ExecutablePath());
  ASSERT_TRUE(store.Save({{ScannerSettings::kFirst, kDefaultPortSettings}}, true, false).Succeeded());
  EXPECT_FALSE(RunValueExists(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, kRunKey, L"Barcode Reader"), L"\"" + platform::ExecutablePath() + L"\"");
  EXPECT_EQ(StoredText(HKEY_CURRENT_USER, Section(L"DEVICE"), L"NamePort"), L"COM1");

  // Later, with the right to write machine-wide, the per-user entry goes so
  // the program is not started twice.
  platform::WinRegistry real;
  ASSERT_TRUE(SettingsStore(real, platform::ExecutablePath()).UpdateAutoStart(true).Succeeded());
  EXPECT_TRUE(RunValueExists(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(RunValueExists(HKEY_CURRENT_USER));
}

TEST_F(RegistryTest, NumbersSetAsDwordAreReadAndOtherTypesNoted) {
  raw_registry::WriteDword(HKEY_LOCAL_MACHINE, Section(L"APPCFG"), L"KeyDelay", 20);
  raw_registry::WriteDword(HKEY_CURRENT_USER, Section(L"APPCFG"), L"Log", 2);
  const BYTE binary[] = {0x01};
  raw_registry::Write(HKEY_CURRENT_USER, Section(L"APPCFG"), L"Suffix", REG_BINARY, binary, sizeof binary);
  platform::WinRegistry registry;
  Notes notes;
  const TypingOptions options = ReadTypingOptions(registry);
  raw_registry::DeleteValue(HKEY_LOCAL_MACHINE, Section(L"APPCFG"),
                            L"KeyDelay");  // the machine's, left to no other test
  EXPECT_EQ(options.keyDelayMs, 20);
  EXPECT_EQ(options.suffix, TypingOptions::Suffix::None);
  EXPECT_EQ(StoredLogLevel(registry), diagnostics::LogLevel::Contents);
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_NE(notes.texts[0].find(L"Suffix (stored as registry type 3"), std::wstring::npos);
  // Types Wine will not give as "any type" (a link, a resource list...):
  // the value alone counts as unusable.
  for (const DWORD type : {5, 6, 8, 9, 10}) {
    raw_registry::Write(HKEY_CURRENT_USER, Section(L"APPCFG"), L"Suffix", type, binary, sizeof binary);
    notes.texts.clear();
    EXPECT_EQ(ReadTypingOptions(registry).suffix, TypingOptions::Suffix::None);
    ASSERT_EQ(notes.texts.size(), 1u) << type;
    EXPECT_NE(notes.texts[0].find(L"Suffix (stored as registry type " + std::to_wstring(type)), std::wstring::npos)
        << notes.texts[0];
  }
}

TEST_F(RegistryTest, EmptyNamePortMeansCom1) {
  raw_registry::WriteDevice(L"NamePort", L"");
  raw_registry::WriteDevice(L"BaudRate", L"4800");
  TestReader reader;
  reader.ApplySettings();
  EXPECT_EQ(reader.scanners.front().texts.NamePort, L"COM1");
  EXPECT_EQ(reader.lineParameters().portName, L"COM1");
  EXPECT_EQ(reader.lineParameters().baudRate, 4800u);
}

TEST_F(RegistryTest, GarbageValuesReadAsAbsentAndSpoilNothingElse) {
  const BYTE binary[] = {0x43, 0x4f, 0x4d, 0x33};
  raw_registry::Write(HKEY_CURRENT_USER, Section(L"DEVICE"), L"NamePort", REG_BINARY, binary, sizeof binary);
  raw_registry::WriteDword(HKEY_CURRENT_USER, Section(L"DEVICE"), L"BaudRate", 19200);
  raw_registry::WriteDevice(L"ByteSize", std::wstring(100000, L'7'));
  raw_registry::WriteDevice(L"Parity", L"Odd");
  raw_registry::Write(HKEY_CURRENT_USER, Section(L"DEVICE"), L"StopBits", REG_MULTI_SZ, L"2\0\0", 6);
  raw_registry::WriteText(HKEY_CURRENT_USER, Section(L"APPCFG"), L"AutoStart", L"yes");

  TestReader reader;
  reader.ApplySettings();
  EXPECT_EQ(reader.scanners.front().texts, (PortSettings{L"COM1", L"9600", L"8", L"Odd", L"1", L"CR"}));
  EXPECT_FALSE(reader.AutoStart);
  EXPECT_EQ(reader.lineParameters(), (LineParameters{L"COM1", 9600, 8, 1, 0, {}}));
}

// The stored flag counts where the Run keys cannot be read, which Wine
// cannot show: it is read here as the store reads it then.
TEST_F(RegistryTest, AutoStartReadsBackFromTextOrNumber) {
  const auto stored = [] {
    return platform::WinRegistry()
        .OpenIni(kSettingsKey, platform::Access::Read)
        ->ReadBool(L"APPCFG", L"AutoStart", false);
  };
  raw_registry::WriteDword(HKEY_CURRENT_USER, Section(L"APPCFG"), L"AutoStart", 1);
  EXPECT_TRUE(stored());
  raw_registry::WriteText(HKEY_CURRENT_USER, Section(L"APPCFG"), L"AutoStart", L"0");
  EXPECT_FALSE(stored());
  raw_registry::WriteText(HKEY_CURRENT_USER, Section(L"APPCFG"), L"AutoStart", L"1");
  EXPECT_TRUE(stored());
  EXPECT_FALSE(TestReader().AutoStart) << "no Run value: the machine does not start it, whatever is stored";
}

TEST_F(RegistryTest, AMachineWideValueThatA32BitToolWroteIsFoundAndItsViewNoted) {
  // Where the 32-bit view of the machine's settings lies, for a 64-bit program.
  const std::wstring view32 = L"Software\\WOW6432Node\\Ombrek\\Barcode Reader\\APPCFG";
  raw_registry::WriteText(HKEY_LOCAL_MACHINE, view32, L"Suffix", L"Enter");
  platform::WinRegistry registry;
  Notes notes;
  const TypingOptions options = ReadTypingOptions(registry);
  raw_registry::DeleteValue(HKEY_LOCAL_MACHINE, view32, L"Suffix");
  EXPECT_EQ(options.suffix, TypingOptions::Suffix::Enter);
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_NE(notes.texts[0].find(L"APPCFG\\Suffix is read from the 32-bit registry view"), std::wstring::npos);
}

// Program names are folded by a table of the program's own: it must upcase
// every character of the plane as the system's file-name casing does.
TEST(ProgramNameFold, AgreesWithTheSystemsFileNameCasing) {
  int differ = 0;
  for (unsigned code = 1; code < 0x10000; ++code) {
    if (code >= 0xD800 && code < 0xE000) continue;  // halves of a pair, upcased by nobody
    const auto c = static_cast<wchar_t>(code);
    wchar_t upper = 0;
    ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &c, 1, &upper, 1, nullptr, nullptr, 0);
    if (FoldedProgramName(std::wstring_view(&c, 1)) != std::wstring(1, upper) && ++differ <= 5) {
      ADD_FAILURE() << "U+" << std::hex << code << " folds to U+"
                    << static_cast<unsigned>(FoldedProgramName({&c, 1})[0]);
    }
  }
  EXPECT_EQ(differ, 0);
}
