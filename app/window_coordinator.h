#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The main window's rules for modality, exit requests and the end of the
// session, apart from Windows: the coordinator decides, the window carries
// out the steps it is given, in their order.

// What the window is to do.
enum class WindowStep {
  EndModalAsCancel,   // the settings dialog ends as Cancel, a message box as by its OK
  StopReading,        // the reader thread is told to stop
  ClosePort,          // reader threads joined, then the port closed
  Close,              // «Закрыть»: reader stopped, port closed, window and tray icon gone
  PostClose,          // a close request, carried out once the stack has unwound
  BringModalToFront,  // the dialog or box in front, for a click on the tray icon
  RestoreFromTray,    // the window back on screen, in front
  ShowMenu,           // the popup menu at the cursor
  ShowMinimized,      // out of the tray onto the taskbar, minimised and not in front
};
using WindowSteps = std::vector<WindowStep>;

// The tray icon's mouse messages that mean something here.
enum class TrayMouse { LeftUp, LeftDoubleClick, RightDown, RightUp, Other };

class WindowCoordinator {
 public:
  // The reason in the lParam of WM_QUERYENDSESSION and WM_ENDSESSION by
  // which Restart Manager says an installer needs the program's files
  // (ENDSESSION_CLOSEAPP). Without it the session ends: log-off, shut-down.
  static constexpr std::uint32_t kCloseApp = 0x00000001;

  // A dialog or message box of the program starts, or ends; at the end of
  // the outermost one an exit asked for meanwhile is carried out.
  void EnterModal() { ++modalDepth_; }
  WindowSteps LeaveModal();
  bool Modal() const { return modalDepth_ > 0; }
  // A command of the window or its menu may run: never under a dialog or
  // box, which still uses what the command would change.
  bool CommandAllowed() const { return !Modal(); }

  // The window's close box, «Закрыть», or WM_CLOSE from outside.
  WindowSteps OnCloseRequest();
  // WM_QUERYENDSESSION only asks: the answer is yes, and nothing changes,
  // since another program may still cancel the log-off.
  bool OnQueryEndSession() const { return true; }
  // WM_ENDSESSION. A cancelled end changes nothing. Restart Manager's
  // ends the program as «Закрыть» does. A log-off ends the session's
  // work before Windows ends the process; under a dialog or box, nothing up
  // the stack is freed.
  WindowSteps OnEndSession(bool ending, std::uint32_t reasons);

  // A mouse message of the tray icon; `inTray` while the window is hidden
  // there.
  WindowSteps OnTrayMouse(TrayMouse mouse, bool inTray) const;
  // A right click in the window, or the menu key.
  WindowSteps OnContextMenu() const;
  // Explorer (re)started and the icon was offered again; `iconBack` when
  // the shell took it. A window hidden in the tray stays hidden while the
  // icon is a way back to it.
  WindowSteps OnTaskbarCreated(bool hiddenInTray, bool iconBack) const;

  // An exit waits for the dialog or box to end.
  bool ExitPending() const { return exitPending_; }

 private:
  int modalDepth_ = 0;
  bool exitPending_ = false;
};

// Whether a WM_DEVICECHANGE broadcast announces a serial port's arrival:
// `event` is its wParam, `deviceType` the dbch_devicetype of its header
// (none when it has none).
bool IsPortArrival(std::uintptr_t event, const std::uint32_t* deviceType);

// The tray tip: the title, while the port is lost its name and that there
// is no link, and while the monitor holds them that codes are not typed.
std::wstring TrayTip(const std::wstring& title, bool linkLost, const std::wstring& portName, bool typingHeld);
