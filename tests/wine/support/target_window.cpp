#include "support/target_window.h"

namespace {

constexpr wchar_t kClassName[] = L"WedgeTestTarget";

void RegisterClassOnce(WNDPROC procedure) {
  static const ATOM atom = [procedure] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    return ::RegisterClassW(&windowClass);
  }();
  (void)atom;
}

}  // namespace

TargetWindow::TargetWindow() {
  RegisterClassOnce(&Procedure);
  window_ = ::CreateWindowExW(0, kClassName, L"Scanner target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 200,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  Focus();
}

void TargetWindow::Focus() {
  // Again while another program's window takes the front after it showed.
  for (int attempt = 0; attempt < 20; ++attempt) {
    ::SetForegroundWindow(window_);
    ::SetFocus(window_);
    PumpFor(50);
    if (::GetForegroundWindow() == window_) break;
  }
  Clear();
}

TargetWindow::~TargetWindow() { ::DestroyWindow(window_); }

LRESULT CALLBACK TargetWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TargetWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_CHAR && self != nullptr) {
    // Ctrl+V pastes, as in an edit control.
    if (wParam == 0x16) {
      self->Paste();
    } else {
      self->Receive(static_cast<wchar_t>(wParam));
    }
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

void TargetWindow::Receive(wchar_t c) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  text_ += c;
  arrivals_.push_back(now.QuadPart);
}

void TargetWindow::Paste() {
  if (!::OpenClipboard(window_)) return;
  pasteMarked_ = ::IsClipboardFormatAvailable(::RegisterClipboardFormatW(L"CanIncludeInClipboardHistory"));
  if (const HANDLE text = ::GetClipboardData(CF_UNICODETEXT)) {
    for (const wchar_t* c = static_cast<const wchar_t*>(::GlobalLock(text)); c && *c; ++c) Receive(*c);
    ::GlobalUnlock(text);
  }
  ::CloseClipboard();
}

const std::wstring& TargetWindow::WaitForText(std::size_t length, DWORD timeoutMs) {
  Pump(::GetTickCount64() + timeoutMs, length);
  return text_;
}

const std::wstring& TargetWindow::PumpFor(DWORD milliseconds) {
  Pump(::GetTickCount64() + milliseconds, std::wstring::npos);
  return text_;
}

void TargetWindow::Pump(ULONGLONG deadline, std::size_t length) {
  while (text_.size() < length && ::GetTickCount64() < deadline) {
    MSG message;
    if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    } else {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
  }
}

void TargetWindow::Clear() {
  text_.clear();
  arrivals_.clear();
}

bool CapsLockOn() { return (::GetKeyState(VK_CAPITAL) & 1) != 0; }

void PressCapsLock() {
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
  inputs[0].ki.wVk = inputs[1].ki.wVk = VK_CAPITAL;
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ::SendInput(2, inputs, sizeof(INPUT));
}
