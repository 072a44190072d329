#include "support/message_box_watcher.h"

namespace {

// Dialog item of a message box's text (the same on Windows and Wine).
constexpr int kMessageTextId = 0xFFFF;

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher(std::wstring caption)
    : caption_(std::move(caption)), thread_([this] { Watch(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
  stop_ = true;
  thread_.join();
}

std::vector<MessageBoxWatcher::Box> MessageBoxWatcher::Boxes() {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void MessageBoxWatcher::Watch() {
  const HICON stopSign = ::LoadIconW(nullptr, IDI_HAND);
  while (!stop_) {
    std::vector<HWND> found;
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
          DWORD process = 0;
          ::GetWindowThreadProcessId(window, &process);
          if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) && ClassName(window) == L"#32770") {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    for (const HWND window : found) {
      if (WindowText(window) != caption_) continue;
      {
        Box box;
        box.caption = WindowText(window);
        box.text = WindowText(::GetDlgItem(window, kMessageTextId));
        for (HWND child = ::GetWindow(window, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
          if (ClassName(child) == L"Button" && ::IsWindowVisible(child)) ++box.buttonCount;
          if (ClassName(child) == L"Static" &&
              reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0)) == stopSign) {
            box.stopIcon = true;
          }
        }
        std::lock_guard lock(mutex_);
        boxes_.push_back(box);
      }
      Dismiss(window);
    }
    ::Sleep(20);
  }
}

void MessageBoxWatcher::Dismiss(HWND box) {
  ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  // Until it is gone, so that the same box is never counted twice.
  for (int i = 0; i < 500 && ::IsWindow(box); ++i) ::Sleep(10);
}
