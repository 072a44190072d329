#include "app/window_coordinator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/restart_arguments.h"
#include "app/settings_refresh.h"

namespace {

using Step = WindowStep;
using Steps = WindowSteps;

// Windows' values, as the window passes them on.
constexpr std::uint32_t kCloseApp = 0x00000001;  // ENDSESSION_CLOSEAPP
constexpr std::uint32_t kLogOff = 0x80000000;    // ENDSESSION_LOGOFF
constexpr std::uint32_t kShutdown = 0;           // no reason: the machine shuts down

// One thing that happens to the window, and what it must then do.
struct Event {
  std::string name;
  std::function<Steps(WindowCoordinator&)> happen;
};

const Event kEnterModal{"dialog opens", [](WindowCoordinator& c) {
                          c.EnterModal();
                          return Steps{};
                        }};
const Event kLeaveModal{"dialog ends", [](WindowCoordinator& c) { return c.LeaveModal(); }};
const Event kClose{"WM_CLOSE", [](WindowCoordinator& c) { return c.OnCloseRequest(); }};
// Whatever the reason, the query is answered yes and changes nothing; the
// steps that follow in each script show that.
Event Query(std::uint32_t reasons) {
  return {"WM_QUERYENDSESSION " + std::to_string(reasons), [](WindowCoordinator& c) {
            EXPECT_TRUE(c.OnQueryEndSession());
            return Steps{};
          }};
}
Event End(bool ending, std::uint32_t reasons) {
  return {std::string("WM_ENDSESSION ") + (ending ? "TRUE " : "FALSE ") + std::to_string(reasons),
          [ending, reasons](WindowCoordinator& c) { return c.OnEndSession(ending, reasons); }};
}

struct Row {
  const char* story;
  std::vector<std::pair<Event, Steps>> script;
};

}  // namespace

// Every sequence of requests the window meets, and the steps it must take
// after each, in their order.
TEST(WindowCoordinatorTest, ExitAndSessionEndDecisions) {
  const Steps none;
  const Steps endModal{Step::EndModalAsCancel};
  const Steps close{Step::Close};
  const Steps postClose{Step::PostClose};
  const Steps logOffUnderModal{Step::EndModalAsCancel, Step::StopReading, Step::ClosePort};
  const std::vector<Row> rows = {
      {"closed with nothing open", {{kClose, close}}},
      {"closed under the dialog: it ends as Cancel, then the program closes",
       {{kEnterModal, none}, {kClose, endModal}, {kLeaveModal, postClose}}},
      {"closed under a box shown from the dialog: the exit waits for both",
       {{kEnterModal, none}, {kEnterModal, none}, {kClose, endModal}, {kLeaveModal, none}, {kLeaveModal, postClose}}},
      {"a dialog that ends by itself closes nothing", {{kEnterModal, none}, {kLeaveModal, none}}},
      {"log-off with nothing open", {{Query(kLogOff), none}, {End(true, kLogOff), close}}},
      {"shut-down with nothing open", {{Query(kShutdown), none}, {End(true, kShutdown), close}}},
      {"log-off under the dialog: the port is closed in order before Windows ends the process",
       {{kEnterModal, none}, {Query(kLogOff), none}, {End(true, kLogOff), logOffUnderModal}, {kLeaveModal, postClose}}},
      {"a cancelled log-off under the dialog leaves it and the program as they were",
       {{kEnterModal, none}, {Query(kLogOff), none}, {End(false, kLogOff), none}, {kLeaveModal, none}}},
      {"a cancelled log-off with nothing open", {{Query(kLogOff), none}, {End(false, kLogOff), none}}},
      {"a cancelled log-off, then the operator closes under the dialog",
       {{kEnterModal, none},
        {Query(kLogOff), none},
        {End(false, kLogOff), none},
        {kClose, endModal},
        {kLeaveModal, postClose}}},
      {"Restart Manager closes it as «Закрыть» does", {{Query(kCloseApp), none}, {End(true, kCloseApp), close}}},
      {"Restart Manager under the dialog: it ends as Cancel, then the program closes",
       {{kEnterModal, none}, {Query(kCloseApp), none}, {End(true, kCloseApp), endModal}, {kLeaveModal, postClose}}},
      {"Restart Manager's close with the log-off bit too is still a close", {{End(true, kCloseApp | kLogOff), close}}},
      {"Restart Manager gives up: nothing changes",
       {{kEnterModal, none}, {Query(kCloseApp), none}, {End(false, kCloseApp), none}, {kLeaveModal, none}}},
  };
  for (const Row& row : rows) {
    WindowCoordinator coordinator;
    for (const auto& [event, expected] : row.script) {
      EXPECT_EQ(event.happen(coordinator), expected) << row.story << ", at " << event.name;
    }
  }
}

TEST(WindowCoordinatorTest, NoCommandRunsUnderADialogAndTheTrayIconThenBringsItUp) {
  struct Row {
    bool modal;
    bool inTray;
    TrayMouse mouse;
    Steps expected;
  };
  const Steps front{Step::BringModalToFront};
  const Steps restore{Step::RestoreFromTray};
  const Steps menu{Step::ShowMenu};
  const std::vector<Row> rows = {
      {false, true, TrayMouse::LeftDoubleClick, restore},
      {false, true, TrayMouse::RightDown, menu},
      {false, true, TrayMouse::LeftUp, {}},
      {false, true, TrayMouse::RightUp, {}},
      {false, true, TrayMouse::Other, {}},
      {false, false, TrayMouse::LeftDoubleClick, {}},  // on screen the icon does nothing
      {false, false, TrayMouse::RightDown, {}},
      {true, true, TrayMouse::LeftUp, front},
      {true, true, TrayMouse::RightUp, front},
      {true, true, TrayMouse::LeftDoubleClick, front},
      {true, false, TrayMouse::RightUp, front},
      {true, true, TrayMouse::RightDown, {}},  // the button's release brings it up, once
      {true, true, TrayMouse::Other, {}},
  };
  for (const Row& row : rows) {
    WindowCoordinator coordinator;
    if (row.modal) coordinator.EnterModal();
    EXPECT_EQ(coordinator.OnTrayMouse(row.mouse, row.inTray), row.expected)
        << "modal " << row.modal << ", in tray " << row.inTray << ", mouse " << static_cast<int>(row.mouse);
    EXPECT_EQ(coordinator.CommandAllowed(), !row.modal);
    EXPECT_EQ(coordinator.OnContextMenu(), row.modal ? Steps{} : menu);
  }
}

TEST(WindowCoordinatorTest, OnlyAPortsArrivalRetriesAtOnce) {
  struct Row {
    std::uintptr_t event;
    std::optional<std::uint32_t> deviceType;
    bool arrival;
  };
  const std::vector<Row> rows = {
      {0x8000, 3, true},              // DBT_DEVICEARRIVAL of a DBT_DEVTYP_PORT
      {0x8000, 5, false},             // a device interface (a USB stick, a camera)
      {0x8000, 2, false},             // a volume
      {0x8000, 0, false},             // an OEM device
      {0x8000, std::nullopt, false},  // no header
      {0x8004, 3, false},             // DBT_DEVICEREMOVECOMPLETE
      {0x0007, 3, false},             // DBT_DEVNODES_CHANGED
  };
  for (const Row& row : rows) {
    EXPECT_EQ(IsPortArrival(row.event, row.deviceType ? &*row.deviceType : nullptr), row.arrival)
        << std::hex << row.event << " type " << row.deviceType.value_or(99);
  }
}

TEST(WindowCoordinatorTest, TheTrayTipTellsOfALostPortAndOnlyWhileItIsLost) {
  const std::wstring title = L"Драйвер для сканера штрих-кода";
  EXPECT_EQ(TrayTip(title, true, L"COM3", false), L"Драйвер для сканера штрих-кода — COM3: нет связи");
  EXPECT_EQ(TrayTip(title, false, L"COM3", false), title) << "back: the title alone";
  EXPECT_EQ(TrayTip(title, true, L"COM3", true), title + L" — COM3: нет связи — коды не вводятся (монитор)");
  // Windows cuts a tip at 127 characters: what matters comes first.
  EXPECT_LE(TrayTip(title, true, L"COM256", true).size(), 127u);
}

TEST(WindowCoordinatorTest, AWindowHiddenInTheTrayComesOutOnlyWhenTheIconCannot) {
  EXPECT_EQ(WindowCoordinator().OnTaskbarCreated(true, true), Steps{});
  EXPECT_EQ(WindowCoordinator().OnTaskbarCreated(true, false), Steps{Step::ShowMinimized});
  EXPECT_EQ(WindowCoordinator().OnTaskbarCreated(false, false), Steps{});
}

// Each burst of changes is read once, after its last change, and never
// under a dialog; then nothing runs until the next change.
TEST(SettingsRefreshTest, OneReadingPerBurstAfterItsLastChange) {
  using R = RefreshStep;
  enum Event { Change, Timer, TimerUnderDialog, DialogEnds };
  const RefreshSteps start{R::StartTimer}, stop{R::StopTimer}, read{R::StopTimer, R::Reread};
  const std::vector<std::pair<const char*, std::vector<std::pair<Event, RefreshSteps>>>> rows = {
      {"one write", {{Change, start}, {Timer, read}, {Timer, stop}}},
      {"a burst: the time starts again at each write", {{Change, start}, {Change, start}, {Timer, read}}},
      {"under the dialog: read when it ends",
       {{Change, start},
        {TimerUnderDialog, stop},
        {Change, start},
        {TimerUnderDialog, stop},
        {DialogEnds, start},
        {Timer, read},
        {DialogEnds, {}}}},
      {"a dialog with no change meanwhile", {{DialogEnds, {}}, {Timer, stop}}},
  };
  for (const auto& [story, script] : rows) {
    SettingsRefresh refresh;
    for (const auto& [event, expected] : script) {
      const RefreshSteps steps = event == Change       ? refresh.OnChange()
                                 : event == DialogEnds ? refresh.OnModalEnded()
                                                       : refresh.OnTimer(event == TimerUnderDialog);
      EXPECT_EQ(steps, expected) << story << ", at event " << event;
    }
  }
  EXPECT_TRUE(AnnouncesPolicyRefresh(L"Policy"));
  for (const wchar_t* other : {L"Environment", L"intl", L"", L"PolicyX", static_cast<const wchar_t*>(nullptr)}) {
    EXPECT_FALSE(AnnouncesPolicyRefresh(other));
  }
}

TEST(RestartArgumentsTest, TheArgumentsAsStartedWithoutTheProgram) {
  const std::vector<std::pair<std::wstring, std::optional<std::wstring>>> rows = {
      {L"\"C:\\Program Files\\Barcode Reader\\barcode_reader.exe\" 5", L"5"},
      {L"\"C:\\Program Files\\Barcode Reader\\barcode_reader.exe\"", L""},
      {L"\"C:\\a b\\barcode_reader.exe\"5", L"5"},  // the runtime ends the name at its quote
      {L"barcode_reader.exe 5", L"5"},
      {L"barcode_reader.exe\t  7  ", L"7  "},
      {L"barcode_reader.exe", L""},
      {L"C:\\x\\barcode_reader.exe \"COM 5\" x", L"\"COM 5\" x"},
      {L"\"unterminated 5", L""},
      {L"", L""},
      {L"barcode_reader.exe " + std::wstring(1023, L'5'), std::wstring(1023, L'5')},
      {L"barcode_reader.exe " + std::wstring(1024, L'5'), std::nullopt},  // more than Windows registers
  };
  for (const auto& [commandLine, arguments] : rows) {
    EXPECT_EQ(ArgumentsForRestart(commandLine), arguments) << commandLine.size();
  }
}
