#include "reader/win/win_typist.h"

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "platform/diagnostics.h"
#include "reader/code_text.h"
#include "reader/keystroke_plan.h"

static_assert(virtual_key::kShift == VK_SHIFT && virtual_key::kLeftShift == VK_LSHIFT &&
              virtual_key::kCapsLock == VK_CAPITAL);

class WinTypist::SystemLayout final : public KeyboardLayout {
 public:
  explicit SystemLayout(std::uintptr_t handle) : layout_(reinterpret_cast<HKL>(handle)) { scanCodes_.fill(kNotAsked); }

  std::int16_t KeyFor(wchar_t character) const override { return ::VkKeyScanExW(character, layout_); }

  std::optional<wchar_t> CharacterOf(std::uint16_t virtualKey, bool shift, bool capsLockOn) const override {
    const KeyState keys = KeyStateFor(shift, capsLockOn);
    const UINT scanCode = ::MapVirtualKeyExW(virtualKey, MAPVK_VK_TO_VSC, layout_);
    wchar_t text[8];
    const int length = ::ToUnicodeEx(virtualKey, scanCode, keys.data(), text, 8, kKeepKeyboardState, layout_);
    if (length < 0) {
      // A dead key. Systems before Windows 10 1607 keep it for the next
      // question, which a space answers and clears.
      for (int i = 0; i < 2 && ::ToUnicodeEx(VK_SPACE, ::MapVirtualKeyExW(VK_SPACE, MAPVK_VK_TO_VSC, layout_),
                                             keys.data(), text, 8, kKeepKeyboardState, layout_) < 0;
           ++i) {
      }
      return std::nullopt;
    }
    if (length != 1) return std::nullopt;
    return text[0];
  }

  // Some programs read the scan code rather than the virtual key.
  WORD ScanCode(std::uint16_t virtualKey) {
    if (virtualKey >= scanCodes_.size()) return 0;
    WORD& scanCode = scanCodes_[virtualKey];
    if (scanCode == kNotAsked) scanCode = static_cast<WORD>(::MapVirtualKeyExW(virtualKey, MAPVK_VK_TO_VSC, layout_));
    return scanCode;
  }

  INPUT ToInput(const KeyStroke& stroke) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    const DWORD up = stroke.up ? KEYEVENTF_KEYUP : 0;
    if (stroke.kind == KeyStroke::Kind::Unicode) {
      input.ki.wScan = stroke.code;
      input.ki.dwFlags = KEYEVENTF_UNICODE | up;
    } else {
      input.ki.wVk = stroke.code;
      input.ki.wScan = ScanCode(stroke.code);
      input.ki.dwFlags = up;
    }
    return input;
  }

 private:
  // Asks without changing the calling thread's keyboard state.
  static constexpr UINT kKeepKeyboardState = 0x4;
  static constexpr WORD kNotAsked = 0xFFFF;
  const HKL layout_;
  std::array<WORD, 256> scanCodes_;
};

namespace {

// Caps Lock as the system holds it, including input on its way to the
// window in front. A thread's key state follows the system's only once the
// thread has a message queue, which the first PeekMessage gives it; the
// state as the foreground window has processed it so far would lag behind
// a Caps Lock press of the operator's that is still on its way.
bool CapsLockOn() {
  MSG ignored;
  ::PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE);
  return CapsLockToggled(::GetKeyState(VK_CAPITAL));
}

// The user's "press SHIFT to turn off Caps Lock" choice in the keyboard
// settings. Read for every code typed under Caps Lock, so a change applies
// at once.
bool ShiftTurnsOffCapsLock() {
  DWORD attributes = 0;
  DWORD size = sizeof attributes;
  return ::RegGetValueW(HKEY_CURRENT_USER, L"Keyboard Layout", L"Attributes", RRF_RT_REG_DWORD, nullptr, &attributes,
                        &size) == ERROR_SUCCESS &&
         (attributes & KLF_SHIFTLOCK) != 0;
}

// The layout of the window in front: it translates the keys with its own
// thread's layout, not with the reader thread's.
HKL ForegroundLayout() { return ::GetKeyboardLayout(::GetWindowThreadProcessId(::GetForegroundWindow(), nullptr)); }

}  // namespace

namespace {

// The system's input stream. Input that a window of higher integrity
// refuses is lost without a word from Windows; a desktop switch or the
// secure desktop shows as a short count.
class SystemInput final : public KeySink {
 public:
  explicit SystemInput(WinTypist::SystemLayout& layout) : layout_(layout) {}

  std::size_t Send(std::span<const KeyStroke> strokes) override {
    std::vector<INPUT> inputs;
    inputs.reserve(strokes.size());
    for (const KeyStroke& stroke : strokes) inputs.push_back(layout_.ToInput(stroke));
    const UINT sent = ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (sent != inputs.size() && error_ == ERROR_SUCCESS) error_ = ::GetLastError();
    return sent;
  }
  void Pause(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }

  DWORD error() const { return error_; }

 private:
  WinTypist::SystemLayout& layout_;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

WinTypist::WinTypist() = default;
WinTypist::~WinTypist() = default;

WinTypist::KnownLayout& WinTypist::Layout(HKL handle) { return layouts_.For(reinterpret_cast<std::uintptr_t>(handle)); }

void WinTypist::Prepare() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
  KnownLayout& layout = Layout(ForegroundLayout());
  std::wstring printable;
  for (wchar_t c = 0x20; c < 0x7F; ++c) printable += c;
  for (const bool capsLockOn : {false, true}) {
    for (const KeyGroup& group : PlanKeystrokes(printable, layout.remembered, {capsLockOn, false})) {
      for (const KeyStroke& stroke : group) layout.source.ToInput(stroke);
    }
  }
}

void WinTypist::SetOptions(const TypingOptions& options) {
  options_ = options;
  options_.codePage = UsableCodePage(options.codePage, codePages_);
}

void WinTypist::TypeCode(std::string_view code, const std::atomic<bool>& stopping) {
  const CodeText decoded = DecodeCode(code, options_.codePage, codePages_);
  if (!HasSomethingToType(decoded.text)) {
    diagnostics::Event(L"empty line ignored");
    return;
  }
  KnownLayout& layout = Layout(ForegroundLayout());
  const bool capsLockOn = CapsLockOn();
  // Without Caps Lock the setting changes nothing: not worth a registry
  // read before every code.
  const KeyboardState keyboard{capsLockOn, capsLockOn && ShiftTurnsOffCapsLock()};
  SystemInput input(layout.source);
  switch (SendPlan(PlanKeystrokes(decoded.text, layout.remembered, keyboard, options_), options_.keyDelayMs, stopping,
                   input)) {
    case SendResult::Typed:
      diagnostics::CodeTyped(code, DroppedControlBytes(decoded.text), CodePageName(decoded.codePage));
      break;
    case SendResult::Refused:
      diagnostics::Failure(L"SendInput", input.error());
      break;
    case SendResult::Stopped:
      break;
  }
}
