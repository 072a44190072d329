// The program as the operator starts and meets it, observed from outside
// its process: its windows, its tray icon, its menu and what it types.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <dbt.h>
#include <sddl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/win/tray_icon_ids.h"
#include "platform/win/diagnostics_writer.h"
#include "platform/win/form.h"
#include "support/log_file.h"
#include "support/raw_registry.h"
#include "support/scanner_sim.h"
#include "support/target_window.h"
#include "support/ui_probe.h"

namespace {

const std::wstring kTitle = L"Драйвер для сканера штрих-кода";
// The main window's captions, top to bottom; each names the value on its row.
const std::vector<std::wstring> kCaptions = {L"COM-порт:", L"Скорость (бод):", L"Бит в байте:", L"Четность байта:",
                                             L"Стоповые биты:"};

std::wstring ProgramPath(std::string_view linuxPath = BARCODE_READER_EXE) {
  std::wstring path = L"Z:" + std::wstring(linuxPath.begin(), linuxPath.end());
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// Whether the window has its tray icon: changing nothing of an icon that
// is not there fails.
bool HasTrayIcon(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = kTrayIconId;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

// One run of the program, started as the operator starts it.
class Program {
 public:
  explicit Program(const std::wstring& arguments = L"", const std::wstring& path = ProgramPath()) {
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info_)) {
      ADD_FAILURE() << "cannot start the program";
    }
  }
  ~Program() {
    if (info_.hProcess == nullptr) return;
    if (!Exited(0)) {
      if (const HWND main = MainWindow()) ::PostMessageW(main, WM_CLOSE, 0, 0);
      if (!Exited(15000)) ::TerminateProcess(info_.hProcess, 1);
    }
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
  }

  static HWND MainWindow() { return ::FindWindowW(L"TFormBRMain", nullptr); }
  // The main window once it is on screen.
  static HWND WaitForMainWindow() { return ui_probe::WaitForWindow(kTitle, L"TFormBRMain", 30000); }
  bool Exited(DWORD timeoutMs) { return ::WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0; }
  // As Windows ends a process once its window has answered WM_ENDSESSION.
  void Terminate() {
    ::TerminateProcess(info_.hProcess, 1);
    Exited(10000);
  }
  DWORD ExitCode() {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// The value on a caption's row of a window: "<none>" or "<several>" where
// the row does not hold exactly one.
std::wstring Beside(HWND window, const std::wstring& text) {
  const auto children = ui_probe::Children(window);
  const auto caption = std::find_if(children.begin(), children.end(), [&](const auto& c) { return c.text == text; });
  std::vector<std::wstring> onRow;
  for (const auto& control : children) {
    if (caption != children.end() && control.rect.top == caption->rect.top && control.rect.left > caption->rect.left &&
        control.handle != caption->handle) {
      onRow.push_back(control.text);
    }
  }
  return onRow.size() == 1 ? onRow.front() : onRow.empty() ? L"<none>" : L"<several>";
}

// The main window's values, in the captions' order.
std::vector<std::wstring> ValueLabels(HWND main) {
  std::vector<std::wstring> values;
  for (const std::wstring& text : kCaptions) values.push_back(Beside(main, text));
  return values;
}

// The baud rate the program set on a port, once it is `baud` or ten seconds
// have passed.
int BaudOnceItIs(ScannerSim& sim, int port, int baud) {
  int now = sim.Termios(port).baud;
  for (const ULONGLONG giveUp = ::GetTickCount64() + 10000; now != baud && ::GetTickCount64() < giveUp;) {
    ::Sleep(100);
    now = sim.Termios(port).baud;
  }
  return now;
}

// Right-clicks the program's icon in the tray and picks an item of its menu.
void PickTrayMenuItem(int downs) {
  ASSERT_TRUE(ui_probe::ClickTrayIcon(WM_RBUTTONDOWN));
  const HWND menu = ui_probe::WaitForMenu();
  ASSERT_NE(menu, nullptr);
  ui_probe::PickMenuItem(menu, downs);
}

// A message sent as Windows sends the session's, answered or not within
// ten seconds.
std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR answer = 0;
  if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 10000, &answer)) return std::nullopt;
  return static_cast<LRESULT>(answer);
}

// The program's log, started afresh; the program writes it when told to.
std::wstring FreshLog() {
  const std::wstring path = diagnostics::LogFilePath();
  ::DeleteFileW(path.c_str());
  ::DeleteFileW((path + L".1").c_str());
  raw_registry::WriteText(HKEY_CURRENT_USER, std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG", L"Log", L"1");
  return path;
}

// Minimised to the tray, «Настройки» picked from its menu: the dialog.
HWND OpenSettingsFromTray(HWND main) {
  ui_probe::Post(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  if (!ui_probe::WaitUntilGone(main)) return nullptr;
  PickTrayMenuItem(2);
  return ui_probe::WaitForWindow(L"Настройки", L"TFormBROptions", 30000);
}

// The access a key's list gives (SDDL), the key made if it is missing.
void SetAccess(HKEY root, const std::wstring& path, const wchar_t* sddl) {
  HKEY key = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, WRITE_DAC, nullptr, &key, nullptr), ERROR_SUCCESS);
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
  EXPECT_EQ(::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
  ::LocalFree(descriptor);
  ::RegCloseKey(key);
}

class AppTest : public testing::Test {
 protected:
  void SetUp() override {
    raw_registry::Forget();
    raw_registry::WriteDevice(L"NamePort", L"COM2");
    raw_registry::WriteDevice(L"BaudRate", L"19200");
    sim.Open(2);
  }
  void TearDown() override {
    SetAccess(HKEY_CURRENT_USER, raw_registry::kPolicyKey, L"D:(A;;KA;;;WD)");  // so that it can go
    raw_registry::Forget();
  }
  ScannerSim sim;
};

}  // namespace

TEST_F(AppTest, WithoutItsPortItSaysSoOnceThenShowsTheStoredSettings) {
  raw_registry::WriteDevice(L"NamePort", L"COM9");
  sim.Unmap(9);
  Program program;
  const HWND box = ui_probe::WaitForWindow(kTitle, L"#32770", 30000);
  ASSERT_NE(box, nullptr) << "the port's message box";
  const HWND hidden = Program::MainWindow();
  ASSERT_NE(hidden, nullptr);
  EXPECT_FALSE(::IsWindowVisible(hidden)) << "the message comes before the window shows";
  EXPECT_TRUE(HasTrayIcon(hidden)) << "and after the tray icon is there";
  const auto shown = ui_probe::DismissMessageBox(kTitle);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->text, L"CBarCodReader::InitComm :\r\n Невозможно открыть COM порт !");
  EXPECT_TRUE(shown->stopIcon);

  const HWND main = Program::WaitForMainWindow();
  ASSERT_EQ(main, hidden);
  EXPECT_EQ(ui_probe::WaitForWindow(kTitle, L"#32770", 1000), nullptr) << "the message comes once";
  EXPECT_EQ(ui_probe::Text(main), kTitle);
  EXPECT_EQ(ValueLabels(main), (std::vector<std::wstring>{L"COM9", L"19200", L"8", L"None", L"1"}));

  // Every caption whole, all ending at one edge, left of the values they
  // name; nothing on top of anything else, everything inside the window.
  const platform::DpiScale scale(platform::DpiOf(main));
  const platform::UniqueFont font = platform::CreateFormFont(scale);
  const auto children = ui_probe::Children(main);
  const RECT client = ui_probe::ClientRect(main);
  std::set<LONG> captionEnds;
  LONG valuesLeft = client.right;
  for (const auto& control : children) {
    if (control.text.empty()) continue;  // the picture, which may touch the frame
    const LONG inkRight = control.rect.left + ui_probe::CaptionWidth(control.handle, font.get());
    EXPECT_TRUE(control.rect.left >= 0 && control.rect.top >= 0 && inkRight <= client.right &&
                control.rect.bottom <= client.bottom)
        << "inside the window: " << control.text;
    if (std::find(kCaptions.begin(), kCaptions.end(), control.text) == kCaptions.end()) {
      if (control.text == L"COM9") valuesLeft = control.rect.left;
      continue;
    }
    const int width = ui_probe::CaptionWidth(control.handle, font.get());
    EXPECT_LE(width, control.rect.right - control.rect.left) << control.text;
    captionEnds.insert(control.rect.left + width);
  }
  ASSERT_EQ(captionEnds.size(), 1u) << "the captions end at one edge";
  EXPECT_LT(*captionEnds.begin(), valuesLeft) << "before the values begin";
  EXPECT_EQ(ui_probe::OverlappingTexts(children), L"");

  // Its size is fixed: no resize and no maximise changes it.
  RECT before;
  ::GetWindowRect(main, &before);
  EXPECT_EQ(::GetWindowLongPtrW(main, GWL_STYLE) & WS_MAXIMIZEBOX, 0);
  ::SetWindowPos(main, nullptr, 0, 0, 600, 400, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ui_probe::Post(main, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  ::Sleep(500);
  RECT after;
  ::GetWindowRect(main, &after);
  EXPECT_EQ(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);

  ui_probe::Close(main);
  EXPECT_TRUE(program.Exited(15000));
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_FALSE(HasTrayIcon(main)) << "no icon is left in the tray";
}

TEST_F(AppTest, TheTrayIconRestoresOffersTheMenuAndCloses) {
  Program program;
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(HasTrayIcon(main));

  // On screen the icon does nothing.
  ui_probe::Post(main, WM_TRAYNOTIFY, kTrayIconId, WM_RBUTTONDOWN);
  EXPECT_EQ(ui_probe::WaitForMenu(700), nullptr) << "no menu while the window is on screen";

  // A right click in the window opens its menu without "Восстановить": the
  // first item is "Настройки".
  ui_probe::Post(main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(main), MAKELPARAM(100, 100));
  const HWND windowMenu = ui_probe::WaitForMenu();
  ASSERT_NE(windowMenu, nullptr);
  ui_probe::PickMenuItem(windowMenu, 1);
  const HWND onScreenDialog = ui_probe::WaitForWindow(L"Настройки", L"TFormBROptions", 30000);
  ASSERT_NE(onScreenDialog, nullptr);
  ui_probe::Close(onScreenDialog);
  ASSERT_TRUE(ui_probe::WaitUntilGone(onScreenDialog, 10000));

  // The shell refuses the icon (a second NIM_ADD of it fails): minimised,
  // the window stays on the taskbar, the one way back to it.
  const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
  ui_probe::Post(main, taskbarCreated, 0, 0);
  ui_probe::Post(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ::Sleep(500);
  EXPECT_TRUE(::IsIconic(main));
  EXPECT_TRUE(::IsWindowVisible(main)) << "minimised, not hidden";
  ui_probe::Post(main, WM_SYSCOMMAND, SC_RESTORE, 0);

  // Explorer restarted with an empty tray: the icon comes back, and with it
  // minimising to the tray.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = main;
  icon.uID = kTrayIconId;
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &icon));
  ui_probe::Post(main, taskbarCreated, 0, 0);
  ::Sleep(500);
  EXPECT_TRUE(HasTrayIcon(main));

  // Minimised, the window and its taskbar entry go; single clicks and moves
  // change nothing.
  ui_probe::Post(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(ui_probe::WaitUntilGone(main));
  for (const LPARAM mouse : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_MOUSEMOVE, WM_RBUTTONUP, WM_MBUTTONDOWN}) {
    ui_probe::Post(main, WM_TRAYNOTIFY, kTrayIconId, mouse);
  }
  EXPECT_EQ(ui_probe::WaitForMenu(500), nullptr);
  EXPECT_FALSE(::IsWindowVisible(main));

  // The right button on the icon opens the menu; its first item,
  // "Восстановить", brings the window back.
  ASSERT_TRUE(ui_probe::ClickTrayIcon(WM_RBUTTONDOWN));
  const HWND menu = ui_probe::WaitForMenu();
  ASSERT_NE(menu, nullptr);
  ui_probe::PickMenuItem(menu, 1);
  EXPECT_EQ(Program::WaitForMainWindow(), main);

  // A double click in the tray restores it too, in front.
  ui_probe::Post(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(ui_probe::WaitUntilGone(main));
  ASSERT_TRUE(ui_probe::ClickTrayIcon(WM_LBUTTONDBLCLK));
  EXPECT_EQ(Program::WaitForMainWindow(), main);
  ::Sleep(300);
  EXPECT_EQ(::GetForegroundWindow(), main);

  // From the tray, "Настройки" (second) shows the dialog; the program stays
  // in the tray.
  ui_probe::Post(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(ui_probe::WaitUntilGone(main));
  PickTrayMenuItem(2);
  const HWND dialog = ui_probe::WaitForWindow(L"Настройки", L"TFormBROptions", 30000);
  ASSERT_NE(dialog, nullptr);
  ui_probe::Close(dialog);
  ASSERT_TRUE(ui_probe::WaitUntilGone(dialog, 10000));
  ::Sleep(300);
  EXPECT_FALSE(::IsWindowVisible(main)) << "still in the tray";

  // "Закрыть", the last of four, ends the program and takes the icon away.
  ui_probe::Post(main, WM_TRAYNOTIFY, kTrayIconId, WM_RBUTTONDOWN);
  const HWND closeMenu = ui_probe::WaitForMenu();
  ASSERT_NE(closeMenu, nullptr);
  ui_probe::PickMenuItem(closeMenu, 3);  // the separator is skipped
  EXPECT_TRUE(program.Exited(15000));
  EXPECT_FALSE(HasTrayIcon(main));
}

TEST_F(AppTest, ACommandLinePortIsReadWhileTheLabelShowsTheStoredOne) {
  sim.Open(5);
  Program program(L"5 /MONITOR");
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(sim.Termios(5).baud, 19200) << "COM5 was opened with the stored line settings";
  EXPECT_EQ(ValueLabels(main).front(), L"COM2");
  const HWND monitor = ui_probe::WaitForWindow(L"Монитор сканера", L"TFormMonitor", 30000);
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(Beside(monitor, L"Порт:"), L"COM5 (из командной строки), 19200 8N1: открыт");

  // The program types what is scanned into the window in front.
  TargetWindow target;
  sim.Write(5, "4607001234567\r");
  EXPECT_EQ(target.WaitForText(13), L"4607001234567");
}

TEST_F(AppTest, AProgramsOwnRulesShapeItsCodesAndTheGeneralListTheOthers) {
  const std::wstring appcfg = std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG";
  raw_registry::WriteText(HKEY_CURRENT_USER, appcfg, L"Rules", L"output G{CODE}");
  // As an administrator writes a program's name, not as Windows spells it.
  raw_registry::WriteText(HKEY_CURRENT_USER, appcfg + L"\\Programs\\App_Test.EXE", L"Rules",
                          L"if digits then output D{CODE}");
  raw_registry::WriteText(HKEY_CURRENT_USER, appcfg + L"\\Programs\\App_Test.EXE", L"NoMatch", L"reject");
  Program program;
  ASSERT_NE(Program::WaitForMainWindow(), nullptr);
  TargetWindow target;
  sim.Write(2, "123\r");
  EXPECT_EQ(target.WaitForText(4), L"D123");
  target.Clear();
  sim.Write(2, "AB\r7\r");
  EXPECT_EQ(target.WaitForText(2), L"D7") << "AB refused: nothing typed";

  Program other(L"30000", ProgramPath(SCAN_TARGET_EXE));
  const HWND otherWindow = ui_probe::WaitForWindow(L"Scanner target", L"ScanTarget", 30000);
  ASSERT_NE(otherWindow, nullptr);
  for (int wait = 0; wait < 50 && ::GetForegroundWindow() != otherWindow; ++wait) ::Sleep(100);
  sim.Write(2, "AB\r");
  const HWND edit = ::FindWindowExW(otherWindow, nullptr, L"Edit", nullptr);
  for (int wait = 0; wait < 50 && ui_probe::Text(edit).size() < 3; ++wait) ::Sleep(100);
  EXPECT_EQ(ui_probe::Text(edit), L"GAB") << "the general list, in another program's window";
  ui_probe::Close(otherWindow);
}

TEST_F(AppTest, APolicySetWhileItRunsAndAProgramsOwnSuffixTakeEffectForTheNextCode) {
  const std::wstring log = FreshLog();
  // The machine's policy key is missing, its parent is there.
  const std::wstring vendor = L"Software\\Policies\\Ombrek", otherProduct = vendor + L"\\Other Product";
  raw_registry::Write(HKEY_LOCAL_MACHINE, vendor, L"", REG_NONE, nullptr, 0);
  Program program;
  ASSERT_NE(Program::WaitForMainWindow(), nullptr);
  TargetWindow target;
  sim.Write(2, "1\r");
  ASSERT_EQ(target.WaitForText(1), L"1");

  // As a policy refresh writes it: the suffix for every program, and the
  // scanner target's own, which comes first within the same source.
  const std::wstring policy = std::wstring(raw_registry::kPolicyKey) + L"\\APPCFG";
  raw_registry::WriteText(HKEY_CURRENT_USER, policy + L"\\Programs\\scan_target.exe", L"Suffix", L"Enter");
  const ULONGLONG changed = ::GetTickCount64();
  raw_registry::WriteText(HKEY_CURRENT_USER, policy, L"Suffix", L"Tab");
  std::wstring typed;
  for (int scan = 0; scan < 100 && typed != L"2\t"; ++scan) {
    target.Clear();
    sim.Write(2, "2\r");
    typed = target.WaitForText(2, 100);
  }
  EXPECT_EQ(typed, L"2\t") << "the policy's suffix, without a restart";
  std::printf("from the registry change to the first code typed with it: %llu ms\n", ::GetTickCount64() - changed);

  // A value changed in a key that is there already; one the log notes at
  // every reading with it.
  raw_registry::WriteText(HKEY_CURRENT_USER, policy, L"Suffix", L"");
  raw_registry::WriteText(HKEY_CURRENT_USER, policy, L"KeyDelay", L"500");
  // A code typed with its Tab comes back at once: count time, not scans.
  for (const ULONGLONG giveUp = ::GetTickCount64() + 10000; typed != L"4" && ::GetTickCount64() < giveUp;) {
    target.Clear();
    sim.Write(2, "4\r");
    typed = target.WaitForText(2, 100);
  }
  EXPECT_EQ(typed, L"4") << "the suffix taken away";
  // Then idle is idle: not a line more, also when another program's key
  // comes and goes beside the missing one.
  ::Sleep(500);
  const std::string before = ReadLog(log);
  raw_registry::Write(HKEY_LOCAL_MACHINE, otherProduct, L"x", REG_NONE, nullptr, 0);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, otherProduct.c_str());
  ::Sleep(10000);
  EXPECT_EQ(ReadLog(log).substr(before.size()), "");

  Program other(L"30000", ProgramPath(SCAN_TARGET_EXE));
  const HWND otherWindow = ui_probe::WaitForWindow(L"Scanner target", L"ScanTarget", 30000);
  ASSERT_NE(otherWindow, nullptr);
  for (int wait = 0; wait < 50 && ::GetForegroundWindow() != otherWindow; ++wait) ::Sleep(100);
  sim.Write(2, "3\r");
  const HWND edit = ::FindWindowExW(otherWindow, nullptr, L"Edit", nullptr);
  for (int wait = 0; wait < 50 && ui_probe::Text(edit).size() < 3; ++wait) ::Sleep(100);
  EXPECT_EQ(ui_probe::Text(edit), L"3\r\n") << "Enter, the scanner target's own suffix";
  ui_probe::Close(otherWindow);
}

// A till's two scanners: a handheld on COM1, a presentation scanner on
// COM3 whose codes a rule marks with a B.
TEST_F(AppTest, TwoScannersTypeEachCodeWholeInTurnHealApartAndRulesTellThemApart) {
  const std::wstring settings = raw_registry::kSettingsKey;
  raw_registry::WriteDevice(L"NamePort", L"COM1");
  raw_registry::WriteText(HKEY_CURRENT_USER, settings + L"\\DEVICE\\Scanners\\2", L"NamePort", L"COM3");
  raw_registry::WriteText(HKEY_CURRENT_USER, settings + L"\\APPCFG", L"Rules", L"if port=COM3 then output B{CODE}");
  sim.Open(1);
  sim.Open(3);
  Program program;
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  const auto children = ui_probe::Children(main);
  EXPECT_TRUE(
      std::any_of(children.begin(), children.end(), [](const auto& c) { return c.text == L"COM3: 9600 8N1, открыт"; }));
  TargetWindow target;
  // Codes of 8 characters, each port's numbered in order: every one whole,
  // none lost, none inside another.
  const auto codes = [](char port, int from, int count) {
    std::string stream;
    for (int i = from; i < from + count; ++i) {
      if (port == 'A') stream += 'A';
      stream.append("C").append(std::to_string(100000 + i)).append("\r");
    }
    return stream;
  };
  const auto numbers = [](const std::wstring& text, wchar_t port) {
    std::vector<int> found;
    for (std::size_t at = 0; at + 8 <= text.size(); at += 8) {
      if (text.substr(at + 1, 2) != L"C1" || (text[at] != L'A' && text[at] != L'B')) return std::vector<int>{-1};
      if (text[at] == port)
        found.push_back(static_cast<int>(std::wcstol(text.substr(at + 2, 6).c_str(), nullptr, 10)) - 100000);
    }
    return found;
  };
  std::vector<int> expected(300);
  for (int i = 0; i < 300; ++i) expected[i] = i;
  {
    std::thread one([&] {
      ScannerSim line;
      line.Write(1, codes('A', 0, 300));
    });
    std::thread three([&] {
      ScannerSim line;
      line.Write(3, codes('B', 0, 300));
    });
    one.join();
    three.join();
  }
  const std::wstring text = target.WaitForText(4800, 120000);
  EXPECT_EQ(text.size(), 4800u);
  EXPECT_EQ(numbers(text, L'A'), expected) << "COM1";
  EXPECT_EQ(numbers(text, L'B'), expected) << "COM3, each marked by the rule";

  // COM3 away and back while COM1 types on.
  target.Clear();
  sim.Unmap(3);
  std::thread handheld([&] {
    ScannerSim line;
    for (int i = 0; i < 50; ++i, ::Sleep(40)) line.Write(1, codes('A', i, 1));
  });
  target.PumpFor(1000);
  sim.Open(3);
  sim.Write(3, codes('B', 7, 1));
  handheld.join();
  const std::wstring healed = target.WaitForText(51 * 8, 30000);
  EXPECT_EQ(numbers(healed, L'A'), std::vector<int>(expected.begin(), expected.begin() + 50));
  EXPECT_EQ(numbers(healed, L'B'), std::vector<int>{7}) << "COM3 reads again";
  ui_probe::Close(main);
  EXPECT_TRUE(program.Exited(15000)) << "closing ends both readers";
}

TEST_F(AppTest, WhereWindowsWillNotWatchThePolicyKeyAPolicyRefreshStillTakesEffect) {
  // Everyone may do everything with the key but be told of its changes.
  SetAccess(HKEY_CURRENT_USER, raw_registry::kPolicyKey, L"D:(D;;0x10;;;WD)(A;;KA;;;WD)");
  Program program;
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  TargetWindow target;
  const std::wstring policy = std::wstring(raw_registry::kPolicyKey) + L"\\APPCFG";
  raw_registry::WriteText(HKEY_CURRENT_USER, policy, L"Suffix", L"Tab");
  ::Sleep(1000);
  sim.Write(2, "1\r");
  EXPECT_EQ(target.WaitForText(2, 1000), L"1") << "unwatched, the change is not seen";

  // The broadcast that follows a policy refresh.
  ASSERT_TRUE(Send(main, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy")));
  std::wstring typed;
  for (const ULONGLONG giveUp = ::GetTickCount64() + 10000; typed != L"2\t" && ::GetTickCount64() < giveUp;) {
    target.Clear();
    sim.Write(2, "2\r");
    typed = target.WaitForText(2, 300);
  }
  EXPECT_EQ(typed, L"2\t");
}

// The monitor's list, once it has `rows` rows (the target window takes
// what is typed meanwhile); the columns are time, port, length, encoding,
// identifier, rule, program, outcome, text.
std::vector<std::vector<std::wstring>> MonitorRows(HWND monitor, std::size_t rows, TargetWindow& target) {
  const HWND list = ::FindWindowExW(monitor, nullptr, L"SysListView32", nullptr);
  std::vector<std::vector<std::wstring>> shown;
  for (int wait = 0; wait < 100 && shown.size() < rows; ++wait, target.PumpFor(100)) {
    shown = ui_probe::ListRows(list, 9);
  }
  return shown;
}

TEST_F(AppTest, TheMonitorOpensAtStartOrInTheRunningCopyAndShowsCodesItsBoxKeepsFromBeingTyped) {
  const std::wstring title = L"Монитор сканера";
  Program program(L"/MONITOR");
  HWND monitor = ui_probe::WaitForWindow(title, L"TFormMonitor", 30000);
  ASSERT_NE(monitor, nullptr) << "none running: the program starts with its monitor";
  ASSERT_NE(Program::WaitForMainWindow(), nullptr);
  ui_probe::Close(monitor);
  ASSERT_TRUE(ui_probe::WaitUntilGone(monitor));
  Program second(L"/monitor");
  EXPECT_TRUE(second.Exited(15000)) << "a second start hands over and ends";
  monitor = ui_probe::WaitForWindow(title, L"TFormMonitor", 30000);
  ASSERT_NE(monitor, nullptr);
  DWORD first = 0, shownBy = 0;
  ::GetWindowThreadProcessId(Program::MainWindow(), &first);
  ::GetWindowThreadProcessId(monitor, &shownBy);
  EXPECT_EQ(shownBy, first);

  TargetWindow target;
  sim.Write(2, "4607001234567\r");
  auto rows = MonitorRows(monitor, 1, target);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2] + L"|" + rows[0][6] + L"|" + rows[0][7] + L"|" + rows[0][8],
            L"13|app_test.exe|введён|4607001234567");
  EXPECT_EQ(target.text(), L"4607001234567");
  const HWND bytes = ::FindWindowExW(monitor, nullptr, L"Edit", nullptr);
  EXPECT_EQ(ui_probe::Text(bytes), L"34 36 30 37 30 30 31 32 33 34 35 36 37");
  EXPECT_EQ(Beside(monitor, L"Порт:"), L"COM2, 19200 8N1: открыт");
  EXPECT_EQ(Beside(monitor, L"Настройки линии:"),
            L"NamePort «COM2» (оператор); BaudRate «19200» (оператор); ByteSize «8» (по умолчанию); Parity «None» "
            L"(по умолчанию); StopBits «1» (по умолчанию); CodeEnd «CR» (по умолчанию)");
  EXPECT_EQ(Beside(monitor, L"Совет:"), L"Линия в порядке.");

  const auto children = ui_probe::Children(monitor);
  EXPECT_EQ(ui_probe::OverlappingTexts(children), L"");
  for (const auto& control : children) EXPECT_GT(control.rect.right - control.rect.left, 0) << "placed: " << control.id;
  const auto hold =
      std::find_if(children.begin(), children.end(), [](const auto& c) { return c.text == L"Не вводить коды"; });
  ASSERT_NE(hold, children.end());
  ASSERT_TRUE(ui_probe::SetChecked(hold->handle, true));
  EXPECT_EQ(Beside(monitor, L"Программа впереди:"), L"app_test.exe") << "clicked, the monitor is not that program";
  target.Clear();
  target.Focus();
  sim.Write(2,
            "12\x1D"
            "3\r");
  rows = MonitorRows(monitor, 2, target);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][7] + L"|" + rows[0][8], L"не введён: отмечено «Не вводить коды»|12<GS>3");
  EXPECT_EQ(ui_probe::Text(bytes), L"31 32 1D 33") << "the newest code, followed";
  EXPECT_EQ(target.text(), L"") << "shown, not typed";

  // Closed, the monitor can hold nothing back.
  ui_probe::Close(monitor);
  ASSERT_TRUE(ui_probe::WaitUntilGone(monitor));
  target.Focus();
  sim.Write(2, "456\r");
  EXPECT_EQ(target.WaitForText(3), L"456");
}

TEST(ProgramFile, CarriesItsVersionAndDescription) {
  const std::wstring path = ProgramPath();
  DWORD ignored = 0;
  std::vector<BYTE> data(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
  ASSERT_FALSE(data.empty());
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  // The project's version, as CMake has it: "major.minor.patch.tweak".
  unsigned part[4] = {};
  ASSERT_EQ(std::sscanf(PROJECT_VERSION, "%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]), 4);
  EXPECT_EQ(fixed->dwFileVersionMS, part[0] << 16 | part[1]);
  EXPECT_EQ(fixed->dwFileVersionLS, part[2] << 16 | part[3]);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  const auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041904E3\\") + name;
    if (!::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return std::wstring();
    return std::wstring(value);
  };
  const std::string version = PROJECT_VERSION;
  EXPECT_EQ(text(L"FileVersion"), std::wstring(version.begin(), version.end()));
  EXPECT_EQ(text(L"ProductVersion"), L"4.0.5.0");
  EXPECT_EQ(text(L"FileDescription"), L"Драйвер для сканера штрих-кода");
  EXPECT_EQ(text(L"Comments"), L"Драйвер для сканера штрих-кода с интерфейсом RS-232");
}

TEST_F(AppTest, ClosingUnderTheDialogOrItsMessageBoxEndsTheProgramAndSavesNothing) {
  sim.Unmap(7);
  // How the program as a whole is asked to end meanwhile: the operator's
  // close, a log-off (after which Windows ends the process at once), or an
  // installer's Restart Manager.
  enum class Ending { Close, LogOff, RestartManager };
  struct Case {
    bool underTheBox;
    Ending ending;
  };
  for (const auto [underTheBox, ending] : {Case{false, Ending::Close}, Case{true, Ending::Close},
                                           Case{false, Ending::LogOff}, Case{true, Ending::RestartManager}}) {
    SCOPED_TRACE(testing::Message() << (underTheBox ? "under the box, " : "under the dialog, ") << "ending "
                                    << static_cast<int>(ending));
    raw_registry::Forget();
    raw_registry::WriteDevice(L"NamePort", L"COM2");
    const std::wstring log = FreshLog();
    Program program;
    const HWND main = Program::WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    const HWND dialog = OpenSettingsFromTray(main);
    ASSERT_NE(dialog, nullptr);

    // While it runs, the tray offers no menu: a click brings the dialog up.
    {
      TargetWindow inFront;
      inFront.Focus();
      ASSERT_TRUE(ui_probe::ClickTrayIcon(WM_RBUTTONDOWN));
      ASSERT_TRUE(ui_probe::ClickTrayIcon(WM_RBUTTONUP));
      EXPECT_EQ(ui_probe::WaitForMenu(700), nullptr) << "no command of the tray runs under the dialog";
      EXPECT_EQ(::GetForegroundWindow(), dialog);
    }

    HWND modal = dialog;
    if (underTheBox) {
      // OK with a port that will not open: the box stands, owned by the program.
      HWND ok = nullptr;
      for (const auto& control : ui_probe::Children(dialog)) {
        if (control.className == L"ComboBox" && ui_probe::SelectedEntry(control.handle) == L"COM2") {
          ui_probe::PickEntry(control.handle, L"COM7");
        }
        if (control.text == L"&OK") ok = control.handle;
      }
      ASSERT_NE(ok, nullptr);
      ui_probe::Click(ok);
      modal = ui_probe::WaitForWindow(kTitle, L"#32770", 30000);
      ASSERT_NE(modal, nullptr) << "the port's message box";
      EXPECT_EQ(::GetWindow(modal, GW_OWNER), main) << "modal to the program";
    }
    switch (ending) {
      case Ending::Close:
        ui_probe::Post(main, WM_CLOSE, 0, 0);
        break;
      case Ending::LogOff:
        EXPECT_EQ(Send(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
        EXPECT_TRUE(::IsWindowVisible(modal)) << "asking changes nothing";
        EXPECT_TRUE(Send(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF));
        program.Terminate();  // so the port must be closed before WM_ENDSESSION returns
        break;
      case Ending::RestartManager:
        EXPECT_EQ(Send(main, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), TRUE);
        EXPECT_TRUE(Send(main, WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP));
        break;
    }
    ASSERT_TRUE(program.Exited(15000));
    EXPECT_NE(ReadLog(log).find("port closed: COM2"), std::string::npos) << ReadLog(log);
    if (ending != Ending::LogOff) {
      EXPECT_EQ(program.ExitCode(), 0u) << "ended in its usual order, not by a crash";
      EXPECT_FALSE(HasTrayIcon(main)) << "no icon is left in the tray";
    }
    EXPECT_FALSE(::IsWindow(modal));
    if (!underTheBox) {
      EXPECT_FALSE(raw_registry::Read(HKEY_CURRENT_USER, L"Software\\Ombrek\\Barcode Reader\\APP", L"Name"))
          << "the dialog ended as Cancel: nothing saved";
    }
  }
}

TEST_F(AppTest, ACancelledLogOffLeavesTheProgramItsDialogAndItsIcon) {
  Program program;
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  const HWND dialog = OpenSettingsFromTray(main);
  ASSERT_NE(dialog, nullptr);
  // A line setting changed under the dialog waits for it to close.
  raw_registry::WriteDevice(L"BaudRate", L"9600");

  // Windows asks; another program then refuses to end, and the log-off is off.
  EXPECT_EQ(Send(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
  EXPECT_TRUE(Send(main, WM_ENDSESSION, FALSE, ENDSESSION_LOGOFF));
  EXPECT_FALSE(program.Exited(2000)) << "the program stays";
  EXPECT_TRUE(::IsWindowVisible(dialog)) << "its dialog stays open";
  EXPECT_TRUE(HasTrayIcon(main)) << "its icon stays in the tray";
  EXPECT_EQ(sim.Termios(2).baud, 19200) << "the port is not reopened under the dialog";

  // And all works on: the dialog closes, the program reads its port.
  ui_probe::Close(dialog);
  ASSERT_TRUE(ui_probe::WaitUntilGone(dialog, 10000));
  EXPECT_FALSE(program.Exited(500));
  EXPECT_EQ(BaudOnceItIs(sim, 2, 9600), 9600) << "reopened with the change once the dialog closed";
  TargetWindow target;
  sim.Write(2, "3141\r");
  EXPECT_EQ(target.WaitForText(4), L"3141");
}

TEST_F(AppTest, ItEndsSoonAfterCloseOnADriverThatNeverCompletesACancel) {
  if (!sim.AttachHostSerial(1)) GTEST_SKIP() << "this machine has no serial device of its own";
  raw_registry::WriteDevice(L"NamePort", L"COM1");
  Program program;
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  if (ui_probe::WaitForWindow(kTitle, L"#32770", 500) != nullptr) {
    GTEST_SKIP() << "the machine's serial device does not open here";
  }
  ::Sleep(300);  // the reader's read is pending in the driver
  const ULONGLONG start = ::GetTickCount64();
  ui_probe::Post(main, WM_CLOSE, 0, 0);
  // A hung window loses its title and looks gone; only the process tells.
  EXPECT_TRUE(program.Exited(10000)) << "the process must end";
  std::printf("the program ended %llu ms after WM_CLOSE\n", ::GetTickCount64() - start);
}

TEST_F(AppTest, AScannerThatComesBackTypesAgainWithoutARestart) {
  Program program;
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  TargetWindow target;
  sim.Write(2, "111\r");
  ASSERT_EQ(target.WaitForText(3), L"111");

  // Unplugged, long enough for the retries to reach their longest pause.
  sim.Unmap(2);
  ::Sleep(3000);
  EXPECT_TRUE(::IsWindow(main)) << "no message box, no exit";
  EXPECT_EQ(ui_probe::WaitForWindow(kTitle, L"#32770", 100), nullptr) << "a lost port is no message box";

  // Plugged in again, and Windows announces a port's arrival: the port is
  // open again before the announcement returns, not at the next retry.
  sim.Open(2);
  DEV_BROADCAST_PORT_W arrival{};
  arrival.dbcp_size = sizeof arrival;
  arrival.dbcp_devicetype = DBT_DEVTYP_PORT;
  ASSERT_TRUE(Send(main, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival)));
  EXPECT_EQ(sim.Termios(2).baud, 19200) << "opened with the stored settings at the arrival";

  // A code scanned then is typed, once.
  ::Sleep(300);
  target.Focus();
  target.Clear();
  sim.Write(2, "222\r");
  EXPECT_EQ(target.WaitForText(3), L"222");
  EXPECT_EQ(target.PumpFor(300), L"222") << "nothing typed twice";

  // Back without a word from Windows: a retry of the next second finds it.
  sim.Unmap(2);
  ::Sleep(1000);
  sim.Open(2);
  EXPECT_EQ(BaudOnceItIs(sim, 2, 19200), 19200) << "reopened by a retry";
  target.Clear();
  sim.Write(2, "333\r");
  EXPECT_EQ(target.WaitForText(3), L"333");
}

TEST(TryRules, ABrokenListIsReportedWithItsPlaceTypesNothingAndSetsTheExitCode) {
  raw_registry::Forget();
  const std::wstring appcfg = std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG";
  const std::wstring broken =
      std::wstring(L"if regex=\\d{13} then output {CODE}") + L'\0' + L"if length=1 then frobnicate" + L'\0' + L'\0';
  raw_registry::Write(HKEY_CURRENT_USER, appcfg + L"\\Programs\\pos.exe", L"Rules", REG_MULTI_SZ, broken.data(),
                      static_cast<DWORD>(broken.size() * sizeof(wchar_t)));
  raw_registry::WriteText(HKEY_CURRENT_USER, appcfg, L"Suffix", L"Tab");
  wchar_t folder[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring codes = std::wstring(folder) + L"tryrules-codes.txt",
                     report = std::wstring(folder) + L"tryrules.txt";
  const auto run = [&](const std::wstring& program, DWORD& exitCode) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE output =
        ::CreateFileW(report.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + ProgramPath() + L"\" /TRYRULES \"" + codes + L"\" " + program;
    EXPECT_TRUE(
        ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info));
    EXPECT_EQ(::WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0) << "it ends by itself";
    ::GetExitCodeProcess(info.hProcess, &exitCode);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(output);
    std::string text(4096, '\0');
    FILE* file = _wfopen(report.c_str(), L"rb");
    text.resize(file ? std::fread(text.data(), 1, text.size(), file) : 0);
    if (file) std::fclose(file);
    return text;
  };
  FILE* file = _wfopen(codes.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  std::fputs("4601234567893\r\nA\\x1DB\n", file);
  std::fclose(file);
  DWORD exitCode = 0;
  EXPECT_EQ(run(L"POS.EXE", exitCode),
            "rules for POS.EXE: APPCFG\\Programs\\pos.exe\\Rules\n"
            "the list cannot be read: rule 2 of APPCFG\\Programs\\pos.exe\\Rules, column 18: unknown action "
            "\"frobnicate\"\n"
            "4601234567893 => nothing: the rules cannot be read: rule 2 of APPCFG\\Programs\\pos.exe\\Rules, column "
            "18: unknown action \"frobnicate\"\n"
            "A\\x1DB => nothing: the rules cannot be read: rule 2 of APPCFG\\Programs\\pos.exe\\Rules, column 18: "
            "unknown action \"frobnicate\"\n");
  EXPECT_EQ(exitCode, 1u);
  EXPECT_EQ(run(L"notepad.exe", exitCode),
            "rules for notepad.exe: none\n4601234567893 => 4601234567893{TAB}\nA\\x1DB => A{GS}B{TAB}\n")
      << "every other list keeps working";
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(Program::MainWindow(), nullptr);
  ::DeleteFileW(codes.c_str());
  ::DeleteFileW(report.c_str());
  raw_registry::Forget();
}
