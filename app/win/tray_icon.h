#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <span>
#include <string>

#include "app/window_coordinator.h"

// The program's icon in the notification area: added, added again when
// Explorer restarts with an empty tray, its tip changed, removed; and the
// popup menu it offers. Its mouse messages reach the window as the
// callback message with the icon's id.
class TrayIcon {
 public:
  // One entry of the menu; a null text makes a separator.
  struct MenuItem {
    UINT command;
    const wchar_t* text;
  };

  TrayIcon(HWND window, UINT id, UINT callbackMessage, HICON icon, const std::wstring& tip);
  // Removes the icon if it is still there.
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Puts the icon in the tray; false, with the shell's error in the log,
  // when the shell refuses it.
  bool Add();
  // For any message the window gets: Explorer (re)started and its tray is
  // empty, so the icon is added again, also one refused before.
  bool ReAddOn(UINT message);
  // Whether the shell took the icon when last asked: only then is it a way
  // back to a hidden window.
  bool InTray() const { return inTray_; }
  void SetTip(const std::wstring& tip);
  // A balloon from the icon, with the program's title, while it is in the
  // tray; the log has the same news either way.
  void ShowBalloon(const std::wstring& text);
  void Remove();

  // The mouse message the callback carries, as the coordinator knows it.
  static TrayMouse MouseOf(LPARAM callbackLParam);

  // Shows the menu at the cursor; the chosen command reaches the window as
  // WM_COMMAND.
  void ShowMenu(std::span<const MenuItem> items);

 private:
  NOTIFYICONDATAW data_{};
  bool added_ = false;  // ever taken: removed at the end, whatever happened since
  bool inTray_ = false;
};
