// The installer as an IT department deploys it: silently, then the program
// runs from where it was installed, then a silent uninstall leaves nothing.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <string>

#include "support/raw_registry.h"
#include "support/scanner_sim.h"
#include "support/target_window.h"
#include "support/ui_probe.h"

namespace {

const std::wstring kInstallDir = L"C:\\Program Files\\Barcode Reader";
const std::wstring kProgram = kInstallDir + L"\\barcode_reader.exe";
const std::wstring kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\BarcodeReader";
const std::wstring kMachineOptions = L"Software\\Ombrek\\Barcode Reader\\APPCFG";

std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:" + std::wstring(unixPath, unixPath + std::char_traits<char>::length(unixPath));
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// Runs a command line to its end and returns its exit code.
DWORD RunToEnd(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return MAXDWORD;
  }
  ::WaitForSingleObject(process.hProcess, 120000);
  DWORD code = MAXDWORD;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

// The Start menu entry, for every user.
std::wstring Shortcut() {
  wchar_t programs[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, SHGFP_TYPE_CURRENT, programs);
  return std::wstring(programs) + L"\\Драйвер для сканера штрих-кода.lnk";
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Text(HKEY root, const std::wstring& key, const std::wstring& name) {
  const auto value = raw_registry::Read(root, key, name);
  return value ? value->Text() : L"<absent>";
}

}  // namespace

TEST(Installer, InstallsSilentlyRunsAndUninstallsWithoutATrace) {
  raw_registry::Forget();
  ASSERT_EQ(RunToEnd(L"\"" + WindowsPath(SETUP_EXE) + L"\" /S /AUTOSTART /SUFFIX=Enter"), 0u);
  EXPECT_TRUE(Exists(kProgram));
  EXPECT_TRUE(Exists(kInstallDir + L"\\uninstall.exe"));
  EXPECT_TRUE(Exists(Shortcut()));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, raw_registry::kRunKey, L"Barcode Reader"), L"\"" + kProgram + L"\"");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"2.0.1.1");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Драйвер для сканера штрих-кода");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kMachineOptions, L"Suffix"), L"Enter");

  // The installed program reads the scanner and types.
  ScannerSim sim;
  sim.Open(1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program{};
  std::wstring commandLine = L"\"" + kProgram + L"\"";
  ASSERT_TRUE(
      ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &program));
  const HWND main = ui_probe::WaitForWindow(L"Драйвер для сканера штрих-кода", L"TFormBRMain", 30000);
  ASSERT_NE(main, nullptr);
  {
    TargetWindow target;
    EXPECT_EQ(sim.Termios(1).baud, 9600) << "the program opened COM1";
    sim.Write(1, "123456\r");
    EXPECT_EQ(target.WaitForText(7), L"123456\r") << "with the machine-wide Enter after the code";
  }
  ui_probe::Close(main);
  EXPECT_EQ(::WaitForSingleObject(program.hProcess, 15000), WAIT_OBJECT_0);
  ::CloseHandle(program.hThread);
  ::CloseHandle(program.hProcess);

  // The operator had ticked start with Windows for herself too.
  raw_registry::WriteText(HKEY_CURRENT_USER, raw_registry::kRunKey, L"Barcode Reader", L"\"" + kProgram + L"\"");
  raw_registry::WriteDevice(L"NamePort", L"COM3");

  // The uninstaller hands over to a copy of itself and returns at once.
  ASSERT_EQ(RunToEnd(L"\"" + kInstallDir + L"\\uninstall.exe\" /S"), 0u);
  for (int i = 0; i < 300 && Exists(kInstallDir); ++i) ::Sleep(100);
  EXPECT_FALSE(Exists(kInstallDir)) << "files left behind";
  EXPECT_FALSE(Exists(Shortcut()));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, raw_registry::kRunKey, L"Barcode Reader"), L"<absent>");
  EXPECT_EQ(Text(HKEY_CURRENT_USER, raw_registry::kRunKey, L"Barcode Reader"), L"<absent>");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"<absent>");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kMachineOptions, L"Suffix"), L"<absent>");
  EXPECT_EQ(Text(HKEY_CURRENT_USER, std::wstring(raw_registry::kSettingsKey) + L"\\DEVICE", L"NamePort"), L"COM3")
      << "the operator's settings stay";

  // Without /AUTOSTART nothing starts with Windows; asked to, the
  // uninstaller takes the settings too.
  ASSERT_EQ(RunToEnd(L"\"" + WindowsPath(SETUP_EXE) + L"\" /S"), 0u);
  EXPECT_TRUE(Exists(kProgram));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, raw_registry::kRunKey, L"Barcode Reader"), L"<absent>");
  ASSERT_EQ(RunToEnd(L"\"" + kInstallDir + L"\\uninstall.exe\" /S /REMOVESETTINGS"), 0u);
  for (int i = 0; i < 300 && Exists(kInstallDir); ++i) ::Sleep(100);
  EXPECT_FALSE(Exists(kInstallDir));
  HKEY settings = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, raw_registry::kSettingsKey, 0, KEY_READ, &settings),
            ERROR_FILE_NOT_FOUND);
  raw_registry::Forget();
}
