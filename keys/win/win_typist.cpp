#include "keys/win/win_typist.h"

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "keys/keystroke_plan.h"
#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/win/handles.h"
#include "text/code_text.h"

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

// The program of a code nobody needed to know.
const std::wstring kProgramNotAsked;

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

WinTypist::WinTypist(RecentCodes* recent)
    : options_(std::make_shared<const TypingProfiles>()),
      rules_(std::make_shared<const ProfileRules>(*options_)),
      recent_(recent) {}
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
  // A code page the system does not know is noted once, here, not at
  // every code.
  auto usable = std::make_shared<TypingProfiles>(*options);
  usable->general.codePage = UsableCodePage(usable->general.codePage, codePages_);
  for (auto& [program, programOptions] : usable->programs) {
    programOptions.codePage = UsableCodePage(programOptions.codePage, codePages_);
  }
  auto rules = std::make_shared<const ProfileRules>(*usable);
  const std::lock_guard lock(optionsMutex_);
  options_ = std::move(usable);
  rules_ = std::move(rules);
}

void WinTypist::TypeCode(std::string_view code, const std::atomic<bool>& stopping) {
  std::shared_ptr<const TypingProfiles> profiles;
  std::shared_ptr<const ProfileRules> rules;
  {
    const std::lock_guard lock(optionsMutex_);
    profiles = options_;
    rules = rules_;
  }
  const HWND window = ::GetForegroundWindow();
  // Without options of any program's own, nobody but the monitor needs to
  // know which it is.
  const std::wstring& program = recent_ || !profiles->programs.empty() ? programs_.Of(window) : kProgramNotAsked;
  const TypingOptions& options = profiles->For(program);
  const CodeText decoded = DecodeCode(code, options.codePage, codePages_);
  if (!HasSomethingToType(decoded.text)) {
    diagnostics::Event(L"empty line ignored");
    Record(code, decoded, program, {}, CodeRecord::Outcome::Empty);
    return;
  }
  // The whole text is made before the first key goes out: a code its rules
  // refuse types nothing at all.
  const CodeOutcome outcome = ShapeCode(decoded.text, options.aimId, rules->For(program), options.noMatch);
  if (outcome.result == CodeOutcome::Result::Rejected) {
    ::MessageBeep(MB_ICONERROR);
    const std::wstring& into = program.empty() ? programs_.Of(window) : program;
    diagnostics::Event(L"a code is not typed into " + (into.empty() ? L"the window in front" : into) + L": " +
                       outcome.why);
    Record(code, decoded, into, outcome, CodeRecord::Outcome::Rejected, outcome.why);
    return;
  }
  if (!outcome.why.empty()) diagnostics::Event(outcome.why);
  if (recent_ && recent_->typingHeld) {
    Record(code, decoded, program, outcome, CodeRecord::Outcome::Dropped, L"отмечено «Не вводить коды»");
    return;
  }
  KnownLayout& layout = Layout(LayoutOf(window));
  const bool capsLockOn = CapsLockOn();
  // Without Caps Lock the setting changes nothing: not worth a registry
  // read before every code.
  const KeyboardState keyboard{capsLockOn, capsLockOn && ShiftTurnsOffCapsLock()};
  SystemInput input(layout.source);
  switch (SendPlan(PlanKeystrokes(outcome.output, layout.remembered, keyboard, options), options.keyDelayMs, stopping,
                   input)) {
    case SendResult::Typed:
      diagnostics::CodeTyped(code, DroppedControlBytes(decoded.text), CodePageName(decoded.codePage));
      Record(code, decoded, program, outcome, CodeRecord::Outcome::Typed);
      break;
    case SendResult::Refused:
      diagnostics::Failure(L"SendInput", input.error());
      Record(code, decoded, program, outcome, CodeRecord::Outcome::Dropped, L"Windows не приняла ввод");
      break;
    case SendResult::Stopped:
      Record(code, decoded, program, outcome, CodeRecord::Outcome::Dropped, L"программа закрывалась");
      break;
  }
}

void WinTypist::Record(std::string_view code, const CodeText& decoded, const std::wstring& program,
                       const CodeOutcome& shaped, CodeRecord::Outcome outcome, std::wstring_view why) {
  if (!recent_) return;
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  record_.time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  record_.bytes.assign(code);
  record_.text.assign(decoded.text);
  // As the Encoding option names it.
  record_.encoding.assign(decoded.codePage == TypingOptions::kUtf8 ? L"UTF-8" : platform::IntToStr(decoded.codePage));
  record_.symbology.assign(shaped.aimId);
  record_.rule.assign(shaped.rule ? platform::IntToStr(*shaped.rule) : L"");
  record_.program.assign(program);
  record_.outcome = outcome;
  record_.why.assign(why);
  recent_->Add(record_);
}
