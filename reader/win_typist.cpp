#include "reader/win_typist.h"

#include <windows.h>

#include <vector>

#include "reader/keystroke_plan.h"

namespace {

class ForegroundLayout final : public KeyboardLayout {
 public:
  // The window in front translates the keys with its own thread's layout,
  // not with the reader thread's.
  explicit ForegroundLayout(DWORD foregroundThread) : layout_(::GetKeyboardLayout(foregroundThread)) {}

  std::int16_t KeyFor(wchar_t character) const override { return ::VkKeyScanExW(character, layout_); }
  HKL handle() const { return layout_; }

 private:
  const HKL layout_;
};

INPUT ToInput(const KeyStroke& stroke, HKL layout) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  const DWORD up = stroke.up ? KEYEVENTF_KEYUP : 0;
  if (stroke.kind == KeyStroke::Kind::Unicode) {
    input.ki.wScan = stroke.code;
    input.ki.dwFlags = KEYEVENTF_UNICODE | up;
  } else {
    input.ki.wVk = stroke.code;
    // Some programs read the scan code rather than the virtual key.
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyExW(stroke.code, MAPVK_VK_TO_VSC, layout));
    input.ki.dwFlags = up;
  }
  return input;
}

// Caps Lock as the system holds it, including input on its way to the
// window in front. A thread's key state follows the system's only once the
// thread has a message queue, which the first PeekMessage gives it; the
// state as the foreground window has processed it so far would lag behind
// the Caps Lock presses of the previous code.
bool CapsLockOn() {
  MSG ignored;
  ::PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE);
  return (::GetKeyState(VK_CAPITAL) & 1) != 0;
}

}  // namespace

void WinTypist::TypeCode(std::string_view code, const std::atomic<bool>&) {
  const DWORD foregroundThread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
  const ForegroundLayout layout(foregroundThread);
  const bool capsLockOn = CapsLockOn();
  std::vector<INPUT> inputs;
  for (const KeyStroke& stroke : PlanKeystrokes(code, layout, capsLockOn)) {
    inputs.push_back(ToInput(stroke, layout.handle()));
  }
  // One call, so that keys the operator types meanwhile cannot land inside
  // the code. Input that a window of higher integrity refuses is lost
  // without a word from Windows; there is nobody to tell.
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}
