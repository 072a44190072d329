#include "app/win/tray_icon.h"

#include "platform/diagnostics.h"
#include "platform/win/application.h"
#include "platform/win/handles.h"

namespace {

// Explorer broadcasts it when it (re)starts; its tray is empty then.
const UINT kTaskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");

}  // namespace

TrayIcon::TrayIcon(HWND window, UINT id, UINT callbackMessage, HICON icon, const std::wstring& tip) {
  data_.cbSize = sizeof data_;
  data_.hWnd = window;
  data_.uID = id;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = callbackMessage;
  data_.hIcon = icon;
  ::lstrcpynW(data_.szTip, tip.c_str(), ARRAYSIZE(data_.szTip));
  // Run elevated, the program would not hear a restarted Explorer, which
  // runs at a lower integrity level, and its icon would never come back.
  if (!::ChangeWindowMessageFilterEx(window, kTaskbarCreated, MSGFLT_ALLOW, nullptr)) {
    diagnostics::Failure(L"letting Explorer's restart through to the window", ::GetLastError());
  }
}

TrayIcon::~TrayIcon() { Remove(); }

bool TrayIcon::Add() {
  inTray_ = ::Shell_NotifyIconW(NIM_ADD, &data_);
  if (inTray_) {
    added_ = true;
    return true;
  }
  diagnostics::Failure(L"adding the tray icon", ::GetLastError());
  return false;
}

bool TrayIcon::ReAddOn(UINT message) {
  if (message != kTaskbarCreated) return false;
  Add();
  return true;
}

void TrayIcon::SetTip(const std::wstring& tip) {
  ::lstrcpynW(data_.szTip, tip.c_str(), ARRAYSIZE(data_.szTip));
  if (inTray_ && !::Shell_NotifyIconW(NIM_MODIFY, &data_)) {
    diagnostics::Failure(L"changing the tray tip", ::GetLastError());
  }
}

void TrayIcon::ShowBalloon(const std::wstring& text) {
  if (!inTray_) return;
  NOTIFYICONDATAW balloon = data_;
  balloon.uFlags = NIF_INFO;
  balloon.dwInfoFlags = NIIF_WARNING;
  ::lstrcpynW(balloon.szInfo, text.c_str(), ARRAYSIZE(balloon.szInfo));
  ::lstrcpynW(balloon.szInfoTitle, platform::ApplicationTitle().c_str(), ARRAYSIZE(balloon.szInfoTitle));
  if (!::Shell_NotifyIconW(NIM_MODIFY, &balloon)) diagnostics::Failure(L"showing the tray balloon", ::GetLastError());
}

void TrayIcon::Remove() {
  if (!added_) return;
  ::Shell_NotifyIconW(NIM_DELETE, &data_);
  added_ = inTray_ = false;
}

TrayMouse TrayIcon::MouseOf(LPARAM callbackLParam) {
  switch (callbackLParam) {
    case WM_LBUTTONUP:
      return TrayMouse::LeftUp;
    case WM_LBUTTONDBLCLK:
      return TrayMouse::LeftDoubleClick;
    case WM_RBUTTONDOWN:
      return TrayMouse::RightDown;
    case WM_RBUTTONUP:
      return TrayMouse::RightUp;
    default:
      return TrayMouse::Other;
  }
}

void TrayIcon::ShowMenu(std::span<const MenuItem> items) {
  const platform::UniqueMenu menu(::CreatePopupMenu());
  if (!menu) {
    diagnostics::Failure(L"making the tray menu", ::GetLastError());
    return;
  }
  for (const MenuItem& item : items) {
    if (item.text == nullptr) {
      ::AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    } else {
      ::AppendMenuW(menu.get(), MF_STRING, item.command, item.text);
    }
  }
  POINT cursor{};
  ::GetCursorPos(&cursor);
  // In front first, or the menu stays open when the operator clicks
  // elsewhere; the empty message after it lets the menu close for good.
  ::SetForegroundWindow(data_.hWnd);
  ::TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, data_.hWnd, nullptr);
  ::PostMessageW(data_.hWnd, WM_NULL, 0, 0);
}
