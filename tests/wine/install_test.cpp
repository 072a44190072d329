// The installer as an IT department deploys it: silently, over a program
// that runs (it starts with Windows), then a silent uninstall, also while
// it runs, leaves nothing but the operator's settings.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>
#include <tlhelp32.h>

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

// Waits for every process that this one started: the uninstaller hands
// over to a copy of itself and returns at once, and the copy does the work.
void WaitForChildrenOf(DWORD parent) {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != parent) continue;
    if (const HANDLE child = ::OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      ::WaitForSingleObject(child, 120000);
      ::CloseHandle(child);
    }
  }
  ::CloseHandle(snapshot);
}

// Runs a command line, and what it hands over to, to its end and returns
// its exit code.
DWORD RunToEnd(std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return MAXDWORD;
  }
  ::WaitForSingleObject(process.hProcess, 120000);
  WaitForChildrenOf(process.dwProcessId);
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

// The installed program, started as Windows starts it.
class InstalledProgram {
 public:
  InstalledProgram() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring commandLine = L"\"" + kProgram + L"\"";
    EXPECT_TRUE(
        ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_));
    window_ = ui_probe::WaitForWindow(L"Драйвер для сканера штрих-кода", L"TFormBRMain", 30000);
    EXPECT_NE(window_, nullptr);
  }
  ~InstalledProgram() {
    if (!Ended(0)) ::TerminateProcess(info_.hProcess, 1);
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
  }
  HWND window() const { return window_; }
  bool Ended(DWORD timeoutMs) { return ::WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0; }

 private:
  PROCESS_INFORMATION info_{};
  HWND window_ = nullptr;
};

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Text(HKEY root, const std::wstring& key, const std::wstring& name) {
  const auto value = raw_registry::Read(root, key, name);
  return value ? value->Text() : L"<absent>";
}

}  // namespace

TEST(Installer, InstallsUpgradesAndUninstallsWhileTheProgramRuns) {
  raw_registry::Forget();
  const std::wstring setup = L"\"" + WindowsPath(SETUP_EXE) + L"\"";
  const std::wstring uninstall = L"\"" + kInstallDir + L"\\uninstall.exe\"";
  const std::wstring quotedProgram = L"\"" + kProgram + L"\"";
  ASSERT_EQ(RunToEnd(setup + L" /S /AUTOSTART /SUFFIX=Enter"), 0u);
  EXPECT_TRUE(Exists(kProgram));
  EXPECT_TRUE(Exists(kInstallDir + L"\\uninstall.exe"));
  EXPECT_TRUE(Exists(Shortcut()));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, raw_registry::kRunKey, L"Barcode Reader"), quotedProgram);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"), L"2.0.1.1");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Драйвер для сканера штрих-кода");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kMachineOptions, L"Suffix"), L"Enter");

  ScannerSim sim;
  sim.Open(1);
  {
    // The installed program reads the scanner and types; its settings say
    // it starts with Windows, and OK keeps it so.
    InstalledProgram program;
    ASSERT_NE(program.window(), nullptr);
    {
      TargetWindow target;
      EXPECT_EQ(sim.Termios(1).baud, 9600) << "the program opened COM1";
      sim.Write(1, "123456\r");
      EXPECT_EQ(target.WaitForText(7), L"123456\r") << "with the machine-wide Enter after the code";
    }
    ui_probe::Post(program.window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(program.window()), MAKELPARAM(100, 100));
    const HWND menu = ui_probe::WaitForMenu();
    ASSERT_NE(menu, nullptr);
    ui_probe::PickMenuItem(menu, 1);  // "Настройки"
    const HWND dialog = ui_probe::WaitForWindow(L"Настройки", L"TFormBROptions", 30000);
    ASSERT_NE(dialog, nullptr);
    const auto controls = ui_probe::Children(dialog);
    ASSERT_GE(controls.size(), 2u);
    EXPECT_TRUE(ui_probe::IsChecked(controls[0].handle)) << "the box says what the machine does";
    ui_probe::Click(controls[1].handle);  // OK
    ASSERT_TRUE(ui_probe::WaitUntilGone(dialog, 10000));
    const std::wstring appCfg = std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG";
    for (int i = 0; i < 100 && Text(HKEY_CURRENT_USER, appCfg, L"AutoStart") == L"<absent>"; ++i) ::Sleep(50);
    EXPECT_EQ(Text(HKEY_CURRENT_USER, appCfg, L"AutoStart"), L"1");
    ::Sleep(300);  // the Run value follows
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, raw_registry::kRunKey, L"Barcode Reader"), quotedProgram);
    raw_registry::WriteDevice(L"NamePort", L"COM3");

    // An upgrade, with no options, over the running program: it is closed
    // first, and the operator's choices stay.
    ASSERT_EQ(RunToEnd(setup + L" /S"), 0u);
    EXPECT_TRUE(program.Ended(0)) << "the installer closed the running program";
    EXPECT_TRUE(Exists(kProgram));
    EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, raw_registry::kRunKey, L"Barcode Reader"), quotedProgram);
    EXPECT_EQ(Text(HKEY_CURRENT_USER, std::wstring(raw_registry::kSettingsKey) + L"\\DEVICE", L"NamePort"), L"COM3");
  }

  {
    // The operator had ticked start with Windows for herself too; the
    // uninstaller closes the running program before it removes it.
    raw_registry::WriteText(HKEY_CURRENT_USER, raw_registry::kRunKey, L"Barcode Reader", quotedProgram);
    sim.Open(3);
    InstalledProgram program;
    ASSERT_NE(program.window(), nullptr);
    ASSERT_EQ(RunToEnd(uninstall + L" /S"), 0u);
    EXPECT_TRUE(program.Ended(0)) << "the uninstaller closed the running program";
  }
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
  ASSERT_EQ(RunToEnd(setup + L" /S"), 0u);
  EXPECT_TRUE(Exists(kProgram));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, raw_registry::kRunKey, L"Barcode Reader"), L"<absent>");
  ASSERT_EQ(RunToEnd(uninstall + L" /S /REMOVESETTINGS"), 0u);
  EXPECT_FALSE(Exists(kInstallDir));
  HKEY settings = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, raw_registry::kSettingsKey, 0, KEY_READ, &settings),
            ERROR_FILE_NOT_FOUND);
  raw_registry::Forget();
}
