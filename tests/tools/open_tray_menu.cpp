// Sends the running program to the tray and opens its tray menu, as the
// operator's right click on the icon would: for scripts/screenshots.sh.
#include <windows.h>

#include "app/win/tray_icon_ids.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HWND main = nullptr;
  for (int i = 0; i < 300 && main == nullptr; ++i, ::Sleep(100)) main = ::FindWindowW(L"TFormBRMain", nullptr);
  if (main == nullptr) return 1;
  ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  for (int i = 0; i < 100 && ::IsWindowVisible(main); ++i) ::Sleep(50);
  // Where the operator's click would be: the icon, at the right end of the
  // taskbar in the bottom right corner.
  ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 10, ::GetSystemMetrics(SM_CYSCREEN) - 10);
  ::PostMessageW(main, WM_TRAYNOTIFY, kTrayIconId, WM_RBUTTONDOWN);
  return 0;
}
