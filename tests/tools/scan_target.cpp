// A window to scan into, for the run script: it takes the focus and prints
// each code it receives. With a number of milliseconds as its argument it
// closes by itself after that long.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr UINT_PTR kPrintTimer = 1;
constexpr UINT_PTR kCloseTimer = 2;
HWND editBox = nullptr;
std::size_t printed = 0;

void PrintNewText() {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(editBox)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(editBox, text.data(), static_cast<int>(text.size()))));
  if (text.size() <= printed) return;
  const std::wstring line = L"target received: " + text.substr(printed) + L"\n";
  printed = text.size();
  // On a terminal the echo goes through Wine's console, which takes it as
  // UTF-16; into a pipe or a file it goes as UTF-8.
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(out, &mode)) {
    ::WriteConsoleW(out, line.c_str(), static_cast<DWORD>(line.size()), &written, nullptr);
    return;
  }
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(), size, nullptr, nullptr);
  ::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kCloseTimer) ::DestroyWindow(window);
      if (wParam == kPrintTimer) PrintNewText();
      return 0;
    case WM_SETFOCUS:
      ::SetFocus(editBox);
      return 0;
    case WM_DESTROY:
      PrintNewText();
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR arguments, int) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &Procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"ScanTarget";
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  ::RegisterClassW(&windowClass);
  const HWND window = ::CreateWindowW(L"ScanTarget", L"Scanner target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 420,
                                      160, nullptr, nullptr, instance, nullptr);
  editBox = ::CreateWindowW(L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL, 8, 8, 390, 100, window,
                            nullptr, instance, nullptr);
  ::SetForegroundWindow(window);
  ::SetFocus(editBox);
  ::SetTimer(window, kPrintTimer, 250, nullptr);
  if (const long lifetime = std::wcstol(arguments, nullptr, 10); lifetime > 0) {
    ::SetTimer(window, kCloseTimer, static_cast<UINT>(lifetime), nullptr);
  }
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
