#include "reader/win/win_typist.h"

#include <windows.h>

#include <vector>

#include "platform/diagnostics.h"
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

// The system's input stream. Input that a window of higher integrity
// refuses is lost without a word from Windows; a desktop switch or the
// secure desktop shows as a short count.
class SystemInput final : public KeySink {
 public:
  explicit SystemInput(HKL layout) : layout_(layout) {}

  std::size_t Send(std::span<const KeyStroke> strokes) override {
    std::vector<INPUT> inputs;
    inputs.reserve(strokes.size());
    for (const KeyStroke& stroke : strokes) inputs.push_back(ToInput(stroke, layout_));
    const UINT sent = ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (sent != inputs.size() && error_ == ERROR_SUCCESS) error_ = ::GetLastError();
    return sent;
  }
  void Pause(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }

  DWORD error() const { return error_; }

 private:
  const HKL layout_;
  DWORD error_ = ERROR_SUCCESS;
};

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

// The user's "press SHIFT to turn off Caps Lock" choice in the keyboard
// settings. Read for every code, so a change applies at once.
bool ShiftTurnsOffCapsLock() {
  DWORD attributes = 0;
  DWORD size = sizeof attributes;
  return ::RegGetValueW(HKEY_CURRENT_USER, L"Keyboard Layout", L"Attributes", RRF_RT_REG_DWORD, nullptr, &attributes,
                        &size) == ERROR_SUCCESS &&
         (attributes & KLF_SHIFTLOCK) != 0;
}

}  // namespace

void WinTypist::TypeCode(std::string_view code, const std::atomic<bool>& stopping) {
  const DWORD foregroundThread = ::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr);
  const ForegroundLayout layout(foregroundThread);
  const KeyboardState keyboard{CapsLockOn(), ShiftTurnsOffCapsLock()};
  SystemInput input(layout.handle());
  switch (SendPlan(PlanKeystrokes(code, layout, keyboard, options_), options_.keyDelayMs, stopping, input)) {
    case SendResult::Typed:
      diagnostics::CodeTyped(code);
      break;
    case SendResult::Refused:
      diagnostics::Failure(L"SendInput", input.error());
      break;
    case SendResult::Stopped:
      break;
  }
}
