// Sends the running program to the tray and opens its tray menu, as the
// operator's right click on the icon would: for scripts/screenshots.sh.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  constexpr UINT kTrayNotify = WM_APP + 100;
  HWND main = nullptr;
  for (int i = 0; i < 300 && main == nullptr; ++i, ::Sleep(100)) main = ::FindWindowW(L"TFormBRMain", nullptr);
  if (main == nullptr) return 1;
  ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  for (int i = 0; i < 100 && ::IsWindowVisible(main); ++i) ::Sleep(50);
  ::SetCursorPos(120, 60);
  ::PostMessageW(main, kTrayNotify, 1, WM_RBUTTONDOWN);
  return 0;
}
