// The settings dialog as the operator meets it: the reader runs it modally
// on this thread, an operator thread drives it through the UI probe.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "platform/win/form.h"
#include "settings_dialog/option_lists.h"
#include "support/raw_registry.h"
#include "support/scanner_sim.h"
#include "support/target_window.h"
#include "support/test_reader.h"
#include "support/ui_probe.h"

namespace {

using raw_registry::kRunKey;
using raw_registry::kSettingsKey;

const std::wstring kTitle = L"Драйвер для сканера штрих-кода";

// The controls in tab order, then those without a tab stop: class and text.
const std::pair<const wchar_t*, const wchar_t*> kControls[] = {
    {L"Button", L"Начинать работу при запуске Windows"},
    {L"Button", L"&OK"},
    {L"Button", L"О&тмена"},
    {L"Button", L"По &умолчанию"},
    {L"Button", L"Добавить сканер"},
    {L"ComboBox", L""},
    {L"ComboBox", L""},
    {L"ComboBox", L""},
    {L"ComboBox", L""},
    {L"ComboBox", L""},
    {L"Static", L"COM-порт:"},
    {L"Static", L"Скорость (бод):"},
    {L"Static", L"Бит в байте:"},
    {L"Static", L"Четность байта:"},
    {L"Static", L"Стоповые биты:"},
    {L"Static", L""},
};
constexpr std::size_t kTabStops = 10;
constexpr std::size_t kFirstLabel = 10;
constexpr std::size_t kLabels = 5;

// The dialog's controls as the operator sees them.
struct Dialog {
  HWND window;
  std::vector<ui_probe::Control> children;
  HWND autoStart() const { return children[0].handle; }
  HWND ok() const { return children[1].handle; }
  HWND cancel() const { return children[2].handle; }
  HWND defaults() const { return children[3].handle; }
  HWND add() const { return children[4].handle; }
  HWND stopBits() const { return children[5].handle; }
  HWND parity() const { return children[6].handle; }
  HWND dataBits() const { return children[7].handle; }
  HWND baudRate() const { return children[8].handle; }
  HWND port() const { return children[9].handle; }
  std::vector<std::wstring> Shown() const {
    return {ui_probe::SelectedEntry(port()), ui_probe::SelectedEntry(baudRate()), ui_probe::SelectedEntry(dataBits()),
            ui_probe::SelectedEntry(parity()), ui_probe::SelectedEntry(stopBits())};
  }
};

// The font a control of this process draws its text in.
HFONT FontOf(HWND control) { return reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)); }

std::wstring Stored(const wchar_t* section, const wchar_t* name) {
  const auto value = raw_registry::Read(HKEY_CURRENT_USER, std::wstring(kSettingsKey) + L"\\" + section, name);
  return value ? value->Text() : L"<absent>";
}

class SettingsDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    raw_registry::Forget();
    Store({L"COM2", L"9600", L"8", L"None", L"1", L"CR"});
  }
  void TearDown() override {
    reader.reset();
    raw_registry::Forget();
  }

  static void Store(const PortSettings& texts) {
    raw_registry::WriteDevice(L"NamePort", texts.NamePort);
    raw_registry::WriteDevice(L"BaudRate", texts.BaudRate);
    raw_registry::WriteDevice(L"ByteSize", texts.ByteSize);
    raw_registry::WriteDevice(L"Parity", texts.Parity);
    raw_registry::WriteDevice(L"StopBits", texts.StopBits);
  }

  // A reader as at start-up, reading from the stored port.
  void StartReader() {
    reader = std::make_unique<TestReader>();
    reader->ApplySettings();  // a developer's --gtest_filter must not count as a port argument
    if (reader->InitComm()) reader->ReadData();
  }

  // Runs ShowSettings here while `operate` drives the dialog from another
  // thread; a dialog the operator left open is closed by its close box.
  bool RunDialog(const std::function<void(const Dialog&)>& operate) {
    std::thread operatorThread([&] {
      Dialog dialog{ui_probe::WaitForWindow(L"Настройки", L"TFormBROptions", 30000), {}};
      ASSERT_NE(dialog.window, nullptr) << "the dialog did not appear";
      // The first window of a process waits for Wine to load its fonts.
      ::SendMessageTimeoutW(dialog.window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, nullptr);
      dialog.children = ui_probe::Children(dialog.window);
      ASSERT_GE(dialog.children.size(), std::size(kControls));
      operate(dialog);
      if (!ui_probe::WaitUntilGone(dialog.window, 2000)) {
        ui_probe::Close(dialog.window);
        ui_probe::WaitUntilGone(dialog.window);
      }
    });
    const bool shown = reader->ShowSettings();
    operatorThread.join();
    return shown;
  }

  ScannerSim sim;
  std::unique_ptr<TestReader> reader;
};

}  // namespace

TEST_F(SettingsDialogTest, LayoutListsAndTabOrderAreAsDesigned) {
  sim.Open(2);
  StartReader();
  EXPECT_TRUE(RunDialog([](const Dialog& dialog) {
    EXPECT_EQ(ui_probe::Text(dialog.window), L"Настройки");
    const platform::DpiScale scale(platform::DpiOf(dialog.window));
    const RECT client = ui_probe::ClientRect(dialog.window);
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
      const auto& actual = dialog.children[i];
      SCOPED_TRACE(testing::Message() << "control " << i);
      EXPECT_EQ(actual.className, kControls[i].first);
      if (actual.className != L"ComboBox") {
        EXPECT_EQ(actual.text, kControls[i].second);
      }
      EXPECT_TRUE(actual.rect.left >= 0 && actual.rect.top >= 0 && actual.rect.right <= client.right &&
                  actual.rect.bottom <= client.bottom)
          << "inside the dialog";
      const LONG_PTR style = ::GetWindowLongPtrW(actual.handle, GWL_STYLE);
      EXPECT_EQ((style & WS_TABSTOP) != 0, i < kTabStops) << "tab stops are the first ten";
      if (actual.className == L"ComboBox") {
        EXPECT_EQ(style & 3, CBS_DROPDOWNLIST) << "the operator cannot type in";
      }
    }
    // Each label's caption whole in the font at hand, on its list's row,
    // ending before its list begins: the port's label names the last list
    // in the tab order, the stop bits' the first.
    std::vector<LONG> gaps;  // from a caption's end to its list
    for (std::size_t k = 0; k < kLabels; ++k) {
      const auto& label = dialog.children[kFirstLabel + k];
      const auto& list = dialog.children[kFirstLabel - 1 - k];
      SCOPED_TRACE(label.text);
      const int captionWidth = ui_probe::CaptionWidth(label.handle, FontOf(label.handle));
      EXPECT_LE(captionWidth, label.rect.right - label.rect.left);
      gaps.push_back(list.rect.left - (label.rect.left + captionWidth));
      EXPECT_GT(gaps.back(), 0);
      EXPECT_EQ(gaps.back(), gaps.front()) << "the captions end at one edge";
      const LONG middle = (label.rect.top + label.rect.bottom) / 2;
      EXPECT_TRUE(middle > list.rect.top && middle < list.rect.bottom) << "on its list's row";
    }
    // The three buttons one size, one above the other.
    for (std::size_t i : {2u, 3u}) {
      EXPECT_EQ(dialog.children[i].rect.right - dialog.children[i].rect.left,
                dialog.children[1].rect.right - dialog.children[1].rect.left);
      EXPECT_EQ(dialog.children[i].rect.left, dialog.children[1].rect.left);
    }
    const HWND box = dialog.autoStart();
    EXPECT_LE(ui_probe::CaptionWidth(box, FontOf(box)) + ::GetSystemMetrics(SM_CXMENUCHECK),
              dialog.children[0].rect.right - dialog.children[0].rect.left)
        << "the check box's caption fits beside its box";
    EXPECT_EQ(ui_probe::OverlappingTexts(dialog.children), L"");
    EXPECT_EQ(ui_probe::Entries(dialog.port()),
              (std::vector<std::wstring>{L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7", L"COM8"}));
    EXPECT_EQ(ui_probe::Entries(dialog.baudRate()),
              (std::vector<std::wstring>{L"110", L"300", L"600", L"1200", L"2400", L"4800", L"9600", L"14400", L"19200",
                                         L"38400", L"56000", L"57600", L"115200", L"128000", L"256000"}));
    EXPECT_EQ(ui_probe::Entries(dialog.dataBits()), (std::vector<std::wstring>{L"4", L"5", L"6", L"7", L"8"}));
    EXPECT_EQ(ui_probe::Entries(dialog.parity()),
              (std::vector<std::wstring>{L"None", L"Odd", L"Even", L"Mark", L"Space"}));
    EXPECT_EQ(ui_probe::Entries(dialog.stopBits()), (std::vector<std::wstring>{L"1", L"1.5", L"2"}));
    EXPECT_EQ(ui_probe::FocusedControl(dialog.window), dialog.autoStart()) << "the focus starts at the check box";

    // Moved to a monitor at 150 %: everything is laid out at that scale,
    // a pixel of rounding aside, and the labels still end where their lists
    // begin.
    const platform::DpiScale larger(scale.dpi() * 3 / 2);
    const auto grown = [&](LONG pixels) { return ::MulDiv(pixels, static_cast<int>(larger.dpi()), scale.dpi()); };
    RECT suggested{10, 20, 0, 0};
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(dialog.window, WM_DPICHANGED, MAKEWPARAM(larger.dpi(), larger.dpi()),
                          reinterpret_cast<LPARAM>(&suggested), SMTO_NORMAL, 5000, &ignored);
    const RECT scaledClient = ui_probe::ClientRect(dialog.window);
    EXPECT_NEAR(scaledClient.right, grown(client.right), 1);
    EXPECT_NEAR(scaledClient.bottom, grown(client.bottom), 1);
    const auto scaled = ui_probe::Children(dialog.window);
    for (std::size_t i = 0; i < kFirstLabel; ++i) {
      SCOPED_TRACE(testing::Message() << "control " << i);
      EXPECT_NEAR(scaled[i].rect.left, grown(dialog.children[i].rect.left), 1);
      EXPECT_NEAR(scaled[i].rect.top, grown(dialog.children[i].rect.top), 1);
      EXPECT_NEAR(scaled[i].rect.bottom - scaled[i].rect.top,
                  grown(dialog.children[i].rect.bottom - dialog.children[i].rect.top), 1);
    }
    for (std::size_t k = 0; k < kLabels; ++k) {
      const auto& label = scaled[kFirstLabel + k];
      const int captionWidth = ui_probe::CaptionWidth(label.handle, FontOf(label.handle));
      EXPECT_LE(captionWidth, label.rect.right - label.rect.left) << label.text;
      EXPECT_NEAR(scaled[kFirstLabel - 1 - k].rect.left - (label.rect.left + captionWidth), grown(gaps[k]), 1)
          << label.text;
    }
    ui_probe::Close(dialog.window);
  }));
  EXPECT_EQ(Stored(L"APP", L"Name"), L"<absent>") << "the close box saves nothing";
}

TEST_F(SettingsDialogTest, TextsThatAreNoEntryShowTheFallbacksAndOkStoresThem) {
  Store({L"COM257", L"1000", L"8", L"none", L"1,5", L"CR"});
  sim.Open(1);
  std::thread operatorThread([] { EXPECT_TRUE(ui_probe::DismissMessageBox(kTitle, 30000)) << "COM257 is no port"; });
  StartReader();
  operatorThread.join();
  RunDialog([](const Dialog& dialog) {
    EXPECT_EQ(dialog.Shown(), (std::vector<std::wstring>{L"COM1", L"9600", L"8", L"None", L"1"}));
    ui_probe::Click(dialog.ok());
  });
  EXPECT_EQ(Stored(L"DEVICE", L"NamePort"), L"COM1");
  EXPECT_EQ(Stored(L"DEVICE", L"BaudRate"), L"9600");
  EXPECT_EQ(Stored(L"DEVICE", L"Parity"), L"None");
  EXPECT_EQ(Stored(L"DEVICE", L"StopBits"), L"1");
  EXPECT_EQ(sim.Termios(1).baud, 9600);
  EXPECT_EQ(reader->lineParameters().portName, L"COM1");
}

TEST_F(SettingsDialogTest, OkWithoutChangesSavesEverythingAndReadsOnTheReopenedPort) {
  sim.Open(2);
  StartReader();
  raw_registry::WriteText(HKEY_LOCAL_MACHINE, kRunKey, L"Barcode Reader", L"C:\\old.exe");
  const int openedBefore = reader->ports.opened;
  RunDialog([](const Dialog& dialog) { ui_probe::Click(dialog.ok()); });
  EXPECT_NE(Stored(L"APP", L"Name"), L"<absent>");
  EXPECT_EQ(Stored(L"DEVICE", L"NamePort"), L"COM2");
  EXPECT_EQ(Stored(L"DEVICE", L"BaudRate"), L"9600");
  EXPECT_EQ(Stored(L"DEVICE", L"ByteSize"), L"8");
  EXPECT_EQ(Stored(L"DEVICE", L"Parity"), L"None");
  EXPECT_EQ(Stored(L"DEVICE", L"StopBits"), L"1");
  EXPECT_EQ(Stored(L"APPCFG", L"AutoStart"), L"1") << "what the machine does";
  EXPECT_TRUE(raw_registry::Read(HKEY_LOCAL_MACHINE, kRunKey, L"Barcode Reader"))
      << "an entry IT made while the box was unticked stays: the operator never touched the box";
  EXPECT_EQ(reader->ports.opened, openedBefore + 1) << "the port was reopened";
  EXPECT_EQ(reader->ports.open, 1);

  TargetWindow target;
  sim.Write(2, "5551\r");
  EXPECT_EQ(target.WaitForText(4), L"5551") << "a new reader thread types the next code";
}

TEST_F(SettingsDialogTest, ChangedSettingsReachTheReopenedPort) {
  sim.Open(2);
  sim.Open(3);
  StartReader();
  RunDialog([](const Dialog& dialog) {
    EXPECT_TRUE(ui_probe::PickEntry(dialog.port(), L"COM3"));
    EXPECT_TRUE(ui_probe::PickEntry(dialog.baudRate(), L"19200"));
    EXPECT_TRUE(ui_probe::PickEntry(dialog.parity(), L"Even"));
    EXPECT_TRUE(ui_probe::PickEntry(dialog.stopBits(), L"2"));
    EXPECT_TRUE(ui_probe::SetChecked(dialog.autoStart(), true));
    ui_probe::Click(dialog.ok());
  });
  EXPECT_EQ(reader->scanners.front().texts, (PortSettings{L"COM3", L"19200", L"8", L"Even", L"2", L"CR"}));
  EXPECT_TRUE(reader->AutoStart);
  EXPECT_EQ(reader->lineParameters(), (LineParameters{L"COM3", 19200, 8, 2, 2, {}}));
  const auto line = sim.Termios(3);
  EXPECT_EQ(line.baud, 19200);
  EXPECT_EQ(line.stopBits, 2);
  EXPECT_TRUE(raw_registry::Read(HKEY_LOCAL_MACHINE, kRunKey, L"Barcode Reader"));
}

TEST_F(SettingsDialogTest, APortEnforcedByPolicyShowsDisabledAndOkKeepsIt) {
  sim.Open(2);
  sim.Open(3);
  raw_registry::WriteText(HKEY_LOCAL_MACHINE, std::wstring(raw_registry::kPolicyKey) + L"\\DEVICE", L"NamePort",
                          L"COM3");
  StartReader();
  RunDialog([](const Dialog& dialog) {
    EXPECT_EQ(ui_probe::SelectedEntry(dialog.port()), L"COM3");
    EXPECT_FALSE(::IsWindowEnabled(dialog.port()));
    EXPECT_TRUE(::IsWindowEnabled(dialog.baudRate()));
    ui_probe::Click(dialog.defaults());
    EXPECT_EQ(ui_probe::SelectedEntry(dialog.port()), L"COM3") << "no default overrules the policy";
    EXPECT_TRUE(ui_probe::PickEntry(dialog.baudRate(), L"19200"));
    ui_probe::Click(dialog.ok());
  });
  EXPECT_EQ(Stored(L"DEVICE", L"NamePort"), L"COM2") << "the operator's own, never the policy's";
  EXPECT_EQ(Stored(L"DEVICE", L"BaudRate"), L"19200");
  EXPECT_EQ(reader->lineParameters().portName, L"COM3");
  EXPECT_EQ(sim.Termios(3).baud, 19200);
}

TEST_F(SettingsDialogTest, DefaultsCancelAndTheCloseBox) {
  Store({L"COM4", L"115200", L"7", L"Odd", L"2", L"CR"});
  raw_registry::WriteText(HKEY_CURRENT_USER, kRunKey, L"Barcode Reader", L"C:\\old.exe");
  sim.Open(4);
  sim.Open(1);
  StartReader();
  // Defaults, then the close box: nothing changes.
  RunDialog([](const Dialog& dialog) {
    EXPECT_TRUE(ui_probe::IsChecked(dialog.autoStart())) << "the check box shows the AutoStart held";
    ui_probe::Click(dialog.defaults());
    ::Sleep(200);
    EXPECT_FALSE(ui_probe::IsChecked(dialog.autoStart())) << "the defaults start nothing with Windows";
    ui_probe::Close(dialog.window);
  });
  EXPECT_EQ(reader->scanners.front().texts, (PortSettings{L"COM4", L"115200", L"7", L"Odd", L"2", L"CR"}));
  EXPECT_EQ(Stored(L"APP", L"Name"), L"<absent>");

  // Cancel right away, Escape, then Defaults, Cancel and OK.
  RunDialog([](const Dialog& dialog) {
    ui_probe::PickEntry(dialog.port(), L"COM8");
    ui_probe::SetChecked(dialog.autoStart(), false);
    ui_probe::Click(dialog.cancel());
    ::Sleep(200);
    EXPECT_EQ(dialog.Shown(), (std::vector<std::wstring>{L"COM4", L"115200", L"7", L"Odd", L"2"}));
    EXPECT_TRUE(ui_probe::IsChecked(dialog.autoStart()));
    ui_probe::PressKey(dialog.window, VK_ESCAPE);
    ::Sleep(300);
    EXPECT_TRUE(::IsWindowVisible(dialog.window)) << "Cancel and Escape leave the dialog open";

    ui_probe::Click(dialog.defaults());
    ui_probe::Click(dialog.cancel());
    ::Sleep(200);
    EXPECT_EQ(dialog.Shown(), (std::vector<std::wstring>{L"COM1", L"9600", L"8", L"None", L"1"}));
    EXPECT_FALSE(ui_probe::IsChecked(dialog.autoStart()));
    ui_probe::Click(dialog.ok());
  });
  EXPECT_EQ(reader->scanners.front().texts, kDefaultPortSettings);
  EXPECT_FALSE(reader->AutoStart);
  EXPECT_EQ(Stored(L"DEVICE", L"NamePort"), L"COM1");
  EXPECT_EQ(Stored(L"APPCFG", L"AutoStart"), L"0");
  EXPECT_FALSE(raw_registry::Read(HKEY_CURRENT_USER, kRunKey, L"Barcode Reader")) << "unticked, the entry goes";
  EXPECT_EQ(reader->lineParameters(), (LineParameters{L"COM1", 9600, 8, 0, 0, {}}));
}

TEST_F(SettingsDialogTest, ACommandLinePortGivesWayToTheChosenPort) {
  Store({L"COM4", L"9600", L"8", L"None", L"1", L"CR"});
  sim.Open(1);
  sim.Open(4);
  StartReader();
  reader->ApplyCommandLinePort();  // this process has no argument: as one that selects COM1
  ASSERT_EQ(reader->lineParameters().portName, L"COM1");
  RunDialog([](const Dialog& dialog) {
    EXPECT_EQ(ui_probe::SelectedEntry(dialog.port()), L"COM4") << "the dialog shows the stored port";
    ui_probe::Click(dialog.ok());
  });
  EXPECT_EQ(reader->lineParameters().portName, L"COM4");
}

TEST_F(SettingsDialogTest, PortsAboveCom8AreOfferedAndAStoredOneSurvivesOk) {
  // An adapter the machine lists, with the stored port on another that the
  // device map does not know (yet).
  const std::wstring& deviceMap = option_lists::kSerialDeviceMap;
  const std::wstring device = L"\\Device\\WedgeTestAdapter";
  raw_registry::WriteText(HKEY_LOCAL_MACHINE, deviceMap, device, L"COM10");
  Store({L"COM12", L"19200", L"8", L"None", L"1", L"CR"});
  sim.Open(12);
  StartReader();
  RunDialog([](const Dialog& dialog) {
    const auto entries = ui_probe::Entries(dialog.port());
    const auto position = [&](const wchar_t* name) { return std::find(entries.begin(), entries.end(), name); };
    EXPECT_LT(position(L"COM8"), position(L"COM10"));
    EXPECT_LT(position(L"COM10"), position(L"COM12"));
    EXPECT_NE(position(L"COM12"), entries.end());
    EXPECT_EQ(ui_probe::SelectedEntry(dialog.port()), L"COM12");
    ui_probe::Click(dialog.ok());
  });
  raw_registry::DeleteValue(HKEY_LOCAL_MACHINE, deviceMap, device);
  EXPECT_EQ(Stored(L"DEVICE", L"NamePort"), L"COM12");
  EXPECT_EQ(reader->lineParameters().portName, L"COM12");
}

TEST_F(SettingsDialogTest, APortThatWillNotOpenAfterOkLeavesNoReader) {
  sim.Open(2);
  sim.Unmap(7);
  StartReader();
  std::optional<ui_probe::MessageBoxContent> box;
  RunDialog([&](const Dialog& dialog) {
    ui_probe::PickEntry(dialog.port(), L"COM7");
    ui_probe::Click(dialog.ok());
    box = ui_probe::DismissMessageBox(kTitle, 30000);
  });
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"CBarCodReader::InitComm :\r\n Невозможно открыть COM порт !");
  EXPECT_TRUE(box->stopIcon);
  EXPECT_EQ(reader->ports.open, 0) << "the old port is closed";

  TargetWindow target;
  sim.Write(2, "42\r");
  EXPECT_EQ(target.PumpFor(500), L"") << "no reader thread types from the old port";
}

TEST_F(SettingsDialogTest, AScannerAddedIsStoredAndReadAndOneRemovedIsReadNoMoreWithoutARestart) {
  sim.Open(2);
  sim.Open(3);
  StartReader();
  std::optional<ui_probe::MessageBoxContent> box;
  RunDialog([&](const Dialog& dialog) {
    ASSERT_TRUE(ui_probe::Click(dialog.add()));
    ::Sleep(200);
    EXPECT_EQ(ui_probe::SelectedEntry(dialog.port()), L"COM1") << "the new scanner on the first port free";
    EXPECT_TRUE(ui_probe::PickEntry(dialog.port(), L"COM2"));
    ui_probe::Click(dialog.ok());
    box = ui_probe::DismissMessageBox(kTitle, 30000);
    EXPECT_TRUE(ui_probe::PickEntry(dialog.port(), L"COM3"));
    ui_probe::Click(dialog.ok());
  });
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"Порт COM2 выбран для двух сканеров: у каждого сканера должен быть свой порт.");
  EXPECT_EQ(Stored(L"DEVICE\\Scanners\\2", L"NamePort"), L"COM3");
  EXPECT_EQ(Stored(L"DEVICE", L"NamePort"), L"COM2");
  TargetWindow target;
  sim.Write(3, "333\r");
  EXPECT_EQ(target.WaitForText(3), L"333");

  RunDialog([](const Dialog& dialog) {
    const auto children = ui_probe::Children(dialog.window);
    const auto picker = std::find_if(children.begin(), children.end(), [](const auto& c) {
      return c.className == L"ComboBox" && ui_probe::Entries(c.handle).front() == L"1: COM2";
    });
    ASSERT_NE(picker, children.end());
    EXPECT_TRUE(ui_probe::PickEntry(picker->handle, L"2: COM3"));
    const auto remove =
        std::find_if(children.begin(), children.end(), [](const auto& c) { return c.text == L"Удалить сканер"; });
    ASSERT_NE(remove, children.end());
    EXPECT_TRUE(ui_probe::Click(remove->handle));
    ::Sleep(200);
    ui_probe::Click(dialog.ok());
  });
  EXPECT_EQ(Stored(L"DEVICE\\Scanners\\2", L"NamePort"), L"<absent>");
  EXPECT_EQ(reader->ports.open, 1);
  target.Clear();
  sim.Write(3, "444\r");
  EXPECT_EQ(target.PumpFor(500), L"") << "COM3 is read no more";
}

TEST_F(SettingsDialogTest, CodesAreTypedWhileTheDialogIsOpenAndASecondRequestFindsIt) {
  sim.Open(2);
  StartReader();
  // The tray menu can ask for the settings again while the dialog runs:
  // a message dispatched by the dialog's own loop.
  constexpr UINT kShowAgain = WM_APP + 7;
  const HWND messages = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  static CBarCodReader* target = nullptr;
  target = reader.get();
  ::SetWindowLongPtrW(messages, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(+[](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
                        if (message == kShowAgain) return static_cast<LRESULT>(target->ShowSettings());
                        return ::DefWindowProcW(window, message, wParam, lParam);
                      }));
  RunDialog([&](const Dialog& dialog) {
    {
      TargetWindow window;  // a window of another thread, in front of the dialog
      sim.Write(2, "9001\r");
      EXPECT_EQ(window.WaitForText(4), L"9001");
    }
    ui_probe::Post(messages, kShowAgain, 0, 0);
    ::Sleep(500);
    EXPECT_EQ(ui_probe::WaitForWindow(L"Настройки", L"TFormBROptions", 100), dialog.window)
        << "the running dialog stays, and no second one appears";
    EXPECT_EQ(::GetForegroundWindow(), dialog.window) << "the request brings it to the front";
    ui_probe::Close(dialog.window);
  });
  ::DestroyWindow(messages);
}

// The owning wrappers the windows are built with.
TEST(HandlesTest, ClosingKeepsTheLastErrorPutFillsTheOwnerAndGdiObjectsGoBack) {
  // A window already gone: destroying it again fails and sets an error of
  // its own, which must not hide the one the caller is about to read.
  const HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ::DestroyWindow(window);
  platform::UniqueWindow stale(window);
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  stale.reset();
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(stale);

  platform::UniqueHKey key;
  ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
  EXPECT_TRUE(key);
  EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\No such key here", 0, KEY_READ, key.put()), ERROR_SUCCESS);
  EXPECT_FALSE(key) << "the old key was let go before the call";

  const platform::WindowDc screen(nullptr);
  ASSERT_TRUE(screen);
  const HGDIOBJ before = ::GetCurrentObject(screen.get(), OBJ_FONT);
  const platform::UniqueFont font = platform::CreateFormFont(platform::DpiScale(96));
  {
    const platform::SelectedObject selected(screen.get(), font.get());
    EXPECT_EQ(::GetCurrentObject(screen.get(), OBJ_FONT), font.get());
  }
  EXPECT_EQ(::GetCurrentObject(screen.get(), OBJ_FONT), before) << "the earlier font is back";
}
