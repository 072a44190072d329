// The program as the operator starts and meets it, observed from outside
// its process: its windows, its tray icon, its menu and what it types.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/win/tray_icon_ids.h"
#include "platform/win/form.h"
#include "support/raw_registry.h"
#include "support/scanner_sim.h"
#include "support/target_window.h"
#include "support/ui_probe.h"

namespace {

const std::wstring kTitle = L"Драйвер для сканера штрих-кода";
// The main window's captions, top to bottom; each names the value on its row.
const std::vector<std::wstring> kCaptions = {L"COM-порт:", L"Скорость (бод):", L"Бит в байте:", L"Четность байта:",
                                             L"Стоповые биты:"};

std::wstring ProgramPath() {
  std::wstring path = L"Z:" + std::wstring(BARCODE_READER_EXE, BARCODE_READER_EXE + sizeof BARCODE_READER_EXE - 1);
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
  explicit Program(const std::wstring& arguments = L"") {
    std::wstring commandLine = L"\"" + ProgramPath() + L"\" " + arguments;
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
  DWORD ExitCode() {
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
};

// The value on each caption's row, in the captions' order: "<none>" or
// "<several>" where a row does not hold exactly one.
std::vector<std::wstring> ValueLabels(HWND main) {
  const auto children = ui_probe::Children(main);
  std::vector<std::wstring> values;
  for (const std::wstring& text : kCaptions) {
    const auto caption = std::find_if(children.begin(), children.end(), [&](const auto& c) { return c.text == text; });
    std::vector<std::wstring> onRow;
    for (const auto& control : children) {
      if (caption != children.end() && control.rect.top == caption->rect.top &&
          control.rect.left > caption->rect.left && control.handle != caption->handle) {
        onRow.push_back(control.text);
      }
    }
    values.push_back(onRow.size() == 1 ? onRow.front() : onRow.empty() ? L"<none>" : L"<several>");
  }
  return values;
}

// Right-clicks the program's icon in the tray and picks an item of its menu.
void PickTrayMenuItem(int downs) {
  ASSERT_TRUE(ui_probe::ClickTrayIcon(WM_RBUTTONDOWN));
  const HWND menu = ui_probe::WaitForMenu();
  ASSERT_NE(menu, nullptr);
  ui_probe::PickMenuItem(menu, downs);
}

class AppTest : public testing::Test {
 protected:
  void SetUp() override {
    raw_registry::Forget();
    raw_registry::WriteDevice(L"NamePort", L"COM2");
    raw_registry::WriteDevice(L"BaudRate", L"19200");
    sim.Open(2);
  }
  void TearDown() override { raw_registry::Forget(); }
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

  // Every caption whole, ending where the values begin; nothing on top of
  // anything else.
  const platform::DpiScale scale(platform::DpiOf(main));
  const platform::UniqueFont font = platform::CreateFormFont(scale);
  const auto children = ui_probe::Children(main);
  for (const auto& control : children) {
    if (std::find(kCaptions.begin(), kCaptions.end(), control.text) == kCaptions.end()) continue;
    const int width = ui_probe::CaptionWidth(control.handle, font.get());
    EXPECT_LE(width, control.rect.right - control.rect.left) << control.text;
    EXPECT_EQ(control.rect.left + width, scale(191)) << control.text;
  }
  EXPECT_EQ(ui_probe::OverlappingTexts(children), L"");

  // Its size is fixed: no resize and no maximise changes it.
  RECT before;
  ::GetWindowRect(main, &before);
  EXPECT_EQ(before.right - before.left, scale(300));
  EXPECT_EQ(before.bottom - before.top, scale(170));
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

  // Explorer restarted with an empty tray: the icon comes back.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = main;
  icon.uID = kTrayIconId;
  ASSERT_TRUE(::Shell_NotifyIconW(NIM_DELETE, &icon));
  ui_probe::Post(main, ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
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
  Program program(L"5");
  const HWND main = Program::WaitForMainWindow();
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(sim.Termios(5).baud, 19200) << "COM5 was opened with the stored line settings";
  EXPECT_EQ(ValueLabels(main).front(), L"COM2");

  // The program types what is scanned into the window in front.
  TargetWindow target;
  sim.Write(5, "4607001234567\r");
  EXPECT_EQ(target.WaitForText(13), L"4607001234567");
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
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00010001u);
  const auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\041904E3\\") + name;
    if (!::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return std::wstring();
    return std::wstring(value);
  };
  EXPECT_EQ(text(L"ProductVersion"), L"4.0.5.0");
  EXPECT_EQ(text(L"FileDescription"), L"Драйвер для сканера штрих-кода");
  EXPECT_EQ(text(L"Comments"), L"Драйвер для сканера штрих-кода с интерфейсом RS-232");
}

TEST_F(AppTest, ClosingUnderTheDialogOrItsMessageBoxEndsTheProgramAndSavesNothing) {
  sim.Unmap(7);
  struct Case {
    bool underTheBox;
    UINT exitRequest;  // the operator's close, or Windows asking at log-off
  };
  for (const auto [underTheBox, exitRequest] :
       {Case{false, WM_CLOSE}, Case{true, WM_CLOSE}, Case{false, WM_QUERYENDSESSION}}) {
    raw_registry::Forget();
    raw_registry::WriteDevice(L"NamePort", L"COM2");
    Program program;
    const HWND main = Program::WaitForMainWindow();
    ASSERT_NE(main, nullptr);
    ui_probe::Post(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(ui_probe::WaitUntilGone(main));
    PickTrayMenuItem(2);
    const HWND dialog = ui_probe::WaitForWindow(L"Настройки", L"TFormBROptions", 30000);
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
    // The program as a whole is asked to end meanwhile.
    ui_probe::Post(main, exitRequest, 0, exitRequest == WM_QUERYENDSESSION ? ENDSESSION_LOGOFF : 0);
    EXPECT_TRUE(program.Exited(15000)) << (underTheBox ? "under the box " : "under the dialog ") << exitRequest;
    EXPECT_EQ(program.ExitCode(), 0u) << "ended in its usual order, not by a crash";
    EXPECT_FALSE(::IsWindow(modal));
    if (!underTheBox) {
      EXPECT_FALSE(raw_registry::Read(HKEY_CURRENT_USER, L"Software\\Ombrek\\Barcode Reader\\APP", L"Name"))
          << "the dialog ended as Cancel: nothing saved";
    }
  }
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

  // Plugged in again: a code scanned a second after is typed, once.
  sim.Open(2);
  ::Sleep(1000);
  target.Focus();
  target.Clear();
  sim.Write(2, "222\r");
  EXPECT_EQ(target.WaitForText(3), L"222");
  EXPECT_EQ(target.PumpFor(300), L"222") << "nothing typed twice";
}
