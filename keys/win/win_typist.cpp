#include "keys/win/win_typist.h"

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "keys/keystroke_plan.h"
#include "keys/win/clipboard_paste.h"
#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/win/handles.h"

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
HKL LayoutOf(HWND window) { return ::GetKeyboardLayout(::GetWindowThreadProcessId(window, nullptr)); }

std::wstring ProgramFileName(DWORD processId) {
  const platform::KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  std::wstring path(1024, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!::QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) return {};
  return std::wstring(platform::ExtractFileName(std::wstring_view(path.data(), size)));
}

// The keys go to the window with the keyboard focus, which may belong to
// another thread, or process, than the window in front.
HWND FocusedWindow(HWND foreground) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = ::GetWindowThreadProcessId(foreground, nullptr);
  if (thread != 0 && ::GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr) return info.hwndFocus;
  return foreground;
}

// A Store program's window is a frame of ApplicationFrameHost.exe; the
// window inside it that belongs to another process is the program's.
struct FrameSearch {
  DWORD frameProcess;
  DWORD program = 0;
};

BOOL CALLBACK FindOtherProcess(HWND child, LPARAM search) {
  auto& frame = *reinterpret_cast<FrameSearch*>(search);
  DWORD process = 0;
  ::GetWindowThreadProcessId(child, &process);
  if (process == frame.frameProcess) return TRUE;
  frame.program = process;
  return FALSE;
}

DWORD ProcessInsideFrame(HWND frame, DWORD frameProcess) {
  FrameSearch search{frameProcess};
  ::EnumChildWindows(frame, &FindOtherProcess, reinterpret_cast<LPARAM>(&search));
  return search.program;
}

}  // namespace

namespace {

// The system's input stream, for a code begun with `window` in front.
// Input that a window of higher integrity refuses is lost without a word
// from Windows (the typist asks first); a desktop switch or the secure
// desktop shows as a short count. Pasted, through the clipboard.
class SystemInput final : public PasteSink {
 public:
  SystemInput(WinTypist::SystemLayout& layout, HWND window, ClipboardPaste* clipboard, DWORD process)
      : layout_(layout), window_(window), clipboard_(clipboard), process_(process) {}

  std::size_t Send(std::span<const KeyStroke> strokes) override {
    std::vector<INPUT> inputs;
    inputs.reserve(strokes.size());
    for (const KeyStroke& stroke : strokes) inputs.push_back(layout_.ToInput(stroke));
    const UINT sent = ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (sent != inputs.size() && error_ == ERROR_SUCCESS) error_ = ::GetLastError();
    return sent;
  }
  void Pause(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
  bool TargetChanged() override { return ::GetForegroundWindow() != window_; }
  bool Paste(std::wstring_view text) override {
    notTaken_ = !clipboard_->Paste(text, process_);
    return !notTaken_;
  }

  DWORD error() const { return error_; }
  bool notTaken() const { return notTaken_; }

 private:
  WinTypist::SystemLayout& layout_;
  const HWND window_;
  ClipboardPaste* const clipboard_;
  const DWORD process_;
  DWORD error_ = ERROR_SUCCESS;
  bool notTaken_ = false;
};

}  // namespace

std::wstring ProgramNames::Of(HWND foreground) {
  const HWND window = FocusedWindow(foreground);
  DWORD processId = 0;
  ::GetWindowThreadProcessId(window, &processId);
  const std::pair key{window, processId};
  if (const auto found = known_.find(key); found != known_.end()) return found->second;
  std::wstring name = ProgramFileName(processId);
  if (FoldedProgramName(name) == FoldedProgramName(L"ApplicationFrameHost.exe")) {
    const DWORD program = ProcessInsideFrame(::GetAncestor(window, GA_ROOT), processId);
    // A frame whose program has not shown its window yet is asked again.
    if (program == 0) return name;
    name = ProgramFileName(program);
  }
  // Windows come and go for ever: forget them all now and then.
  if (known_.size() >= kMostRemembered) known_.clear();
  return known_.emplace(key, std::move(name)).first->second;
}

WinTypist::WinTypist(std::function<void()> balloonWaiting)
    : settings_(std::make_shared<const TypingSettings>(TypingProfiles{}, codePages_)),
      balloonWaiting_(std::move(balloonWaiting)) {}
WinTypist::~WinTypist() = default;

WinTypist::KnownLayout& WinTypist::Layout(HKL handle) { return layouts_.For(reinterpret_cast<std::uintptr_t>(handle)); }

void WinTypist::Prepare() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
  KnownLayout& layout = Layout(LayoutOf(::GetForegroundWindow()));
  std::wstring printable;
  for (wchar_t c = 0x20; c < 0x7F; ++c) printable += c;
  for (const bool capsLockOn : {false, true}) {
    for (const KeyGroup& group : PlanKeystrokes(printable, layout.remembered, {capsLockOn, false})) {
      for (const KeyStroke& stroke : group) layout.source.ToInput(stroke);
    }
  }
}

void WinTypist::SetOptions(std::shared_ptr<const TypingProfiles> options) {
  auto settings = std::make_shared<const TypingSettings>(*options, codePages_);
  const std::lock_guard lock(settingsMutex_);
  settings_ = std::move(settings);
}

PreparedCode WinTypist::TypeCode(std::string_view code, std::wstring_view port, bool held,
                                 const std::atomic<bool>& stopping) {
  std::shared_ptr<const TypingSettings> settings;
  {
    const std::lock_guard lock(settingsMutex_);
    settings = settings_;
  }
  const HWND window = ::GetForegroundWindow();
  PreparedCode prepared = PrepareCode(code, programs_.Of(window), *settings, codePages_, held, &stopping, port);
  if (prepared.outcome == PreparedCode::Outcome::Empty) diagnostics::Event(L"empty line ignored");
  if (prepared.outcome == PreparedCode::Outcome::Refused) {
    ::MessageBeep(MB_ICONERROR);
    diagnostics::Event(L"a code is not typed into " +
                       (prepared.program.empty() ? L"the window in front" : prepared.program) + L": " + prepared.why);
  }
  if (prepared.outcome != PreparedCode::Outcome::ToType) return prepared;
  if (!prepared.note.empty()) diagnostics::Event(prepared.note);
  // Windows would drop every key without a word.
  const HWND focus = FocusedWindow(window);
  if (InputBlockedByIntegrity(integrity_.Of(focus), integrity_.own())) {
    return Refuse(std::move(prepared), Refusal::Elevated);
  }
  SystemModifiers modifiers;
  const HeldKeysWait modifiersWait = AwaitReleasedModifiers(modifiers, stopping);
  if (modifiersWait.result == HeldKeysWait::Result::StillHeld) {
    return Refuse(std::move(prepared), Refusal::KeysHeld, modifiersWait.held);
  }
  const TypingOptions::TypeAs typeAs = settings->For(prepared.program).options.typeAs;
  std::optional<ClipboardPaste> clipboard;
  if (typeAs == TypingOptions::TypeAs::Paste) clipboard.emplace();
  const TypingOptions::TypeAs method = MethodFor(typeAs, clipboard && clipboard->kept());
  KnownLayout& layout = Layout(LayoutOf(window));
  const bool capsLockOn = CapsLockOn();
  // Without Caps Lock the setting changes nothing: not worth a registry
  // read before every code.
  const KeyboardState keyboard{capsLockOn, capsLockOn && ShiftTurnsOffCapsLock()};
  const auto plan = PlanKeystrokes(prepared.runs, PlanningLayout(method, layout.remembered), keyboard);
  DWORD process = 0;
  ::GetWindowThreadProcessId(focus, &process);
  SystemInput input(layout.source, window, clipboard ? &*clipboard : nullptr, process);
  const SendResult sent = modifiersWait.result == HeldKeysWait::Result::Stopped ? SendResult::Stopped
                          : method == TypingOptions::TypeAs::Paste
                              ? SendPasteSteps(PasteSteps(plan), stopping, input)
                              : SendPlan(plan, prepared.keyDelayMs, stopping, input);
  clipboard.reset();  // the operator's content back at once
  switch (sent) {
    case SendResult::Typed:
      diagnostics::CodeTyped(code, DroppedControlBytes(prepared.decoded.text), CodePageName(prepared.decoded.codePage));
      prepared.outcome = PreparedCode::Outcome::Typed;
      break;
    case SendResult::Refused:
      prepared.outcome = PreparedCode::Outcome::NotTyped;
      if (input.notTaken()) {
        ::MessageBeep(MB_ICONERROR);
        prepared.why = L"программа не взяла вставку";
        diagnostics::Event(L"a code is not typed into " +
                           (prepared.program.empty() ? L"the window in front" : prepared.program) +
                           L": the window did not take the paste");
        break;
      }
      diagnostics::Failure(L"SendInput", input.error());
      prepared.why = L"Windows не приняла ввод";
      break;
    case SendResult::Cut:
      return Refuse(std::move(prepared), Refusal::Cut);
    case SendResult::Stopped:
      prepared.outcome = PreparedCode::Outcome::NotTyped;
      prepared.why = L"программа закрывалась";
      break;
  }
  return prepared;
}

PreparedCode WinTypist::Refuse(PreparedCode code, Refusal refusal, std::uint8_t held) {
  ::MessageBeep(MB_ICONERROR);
  const std::wstring into = code.program.empty() ? L"the window in front" : code.program;
  switch (refusal) {
    case Refusal::Elevated:
      diagnostics::Event(L"a code is not typed into " + into +
                         L": it runs as administrator, at a higher integrity level than this program");
      break;
    case Refusal::KeysHeld:
      diagnostics::Event(L"a code is not typed into " + into + L": " + ModifierNames(held) + L" held for " +
                         platform::IntToStr(kHeldKeysPatience.count() / 1000) + L" s");
      break;
    case Refusal::Cut:
      diagnostics::Event(L"a code is cut: another window came in front while it was typed into " + into);
      break;
  }
  code.outcome = refusal == Refusal::Cut ? PreparedCode::Outcome::Cut : PreparedCode::Outcome::NotTyped;
  code.why = RefusalText(refusal, held);
  if (auto text = balloons_.For(refusal, code.program, held, RefusalBalloons::Clock::now())) {
    {
      const std::lock_guard lock(balloonMutex_);
      balloon_ = std::move(*text);
    }
    if (balloonWaiting_) balloonWaiting_();
  }
  return code;
}

std::wstring WinTypist::TakeBalloon() {
  const std::lock_guard lock(balloonMutex_);
  return std::exchange(balloon_, {});
}
