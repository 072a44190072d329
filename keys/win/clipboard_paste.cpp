#include "keys/win/clipboard_paste.h"

#include <cstring>

#include "keys/delivery.h"
#include "platform/conversions.h"
#include "platform/diagnostics.h"

namespace {

constexpr wchar_t kClassName[] = L"BarcodeReaderPaste";

// Another program may hold the clipboard open for a moment: a window
// reading a paste of ours does until it has it.
bool OpenClipboardOf(HWND window, DWORD patienceMs) {
  const ULONGLONG giveUpAt = ::GetTickCount64() + patienceMs;
  while (!::OpenClipboard(window)) {
    if (::GetTickCount64() >= giveUpAt) return false;
    ::Sleep(1);
  }
  return true;
}

platform::UniqueGlobal CopyOf(const void* data, SIZE_T size) {
  platform::UniqueGlobal copy(::GlobalAlloc(GMEM_MOVEABLE, size));
  void* target = copy ? ::GlobalLock(copy.get()) : nullptr;
  if (!target) return {};
  std::memcpy(target, data, size);
  ::GlobalUnlock(copy.get());
  return copy;
}

platform::UniqueGlobal CopyOf(HGLOBAL memory) {
  const SIZE_T size = ::GlobalSize(memory);
  const void* data = ::GlobalLock(memory);
  if (!data) return {};
  platform::UniqueGlobal copy = CopyOf(data, size);
  ::GlobalUnlock(memory);
  return copy;
}

// Gives the memory to the clipboard, which then owns it.
bool Put(UINT format, platform::UniqueGlobal memory) {
  if (!memory || !::SetClipboardData(format, memory.get())) return false;
  memory.release();
  return true;
}

// Marks what the wedge puts on the clipboard: the clipboard history and its
// cloud upload leave it out, and so do the monitors that honour the mark.
void MarkAsPassing() {
  static const UINT kExclude = ::RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing");
  static const UINT kHistory = ::RegisterClipboardFormatW(L"CanIncludeInClipboardHistory");
  static const UINT kCloud = ::RegisterClipboardFormatW(L"CanUploadToCloudClipboard");
  const DWORD no = 0;
  for (const UINT format : {kExclude, kHistory, kCloud}) Put(format, CopyOf(&no, sizeof no));
}

bool SendCtrlV() {
  INPUT inputs[4]{};
  const WORD keys[4] = {VK_CONTROL, 'V', 'V', VK_CONTROL};
  for (int i = 0; i < 4; ++i) {
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wVk = keys[i];
    inputs[i].ki.wScan = static_cast<WORD>(::MapVirtualKeyW(keys[i], MAPVK_VK_TO_VSC));
    inputs[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
  }
  const UINT sent = ::SendInput(4, inputs, sizeof(INPUT));
  if (sent == 4) return true;
  diagnostics::Failure(L"SendInput of Ctrl+V", ::GetLastError());
  // Whatever went down goes up again.
  for (UINT i = 0; i < sent && i < 2; ++i) ::SendInput(1, &inputs[3 - i], sizeof(INPUT));
  return false;
}

}  // namespace

ClipboardPaste::ClipboardPaste() {
  static const ATOM registered = [] {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    return ::RegisterClassW(&windowClass);
  }();
  // Message-only: the clipboard's owner, asked for the text when a window
  // pastes it.
  if (registered) {
    window_.reset(
        ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ::GetModuleHandleW(nullptr), this));
  }
  if (!window_) {
    diagnostics::Failure(L"making the paste's window", ::GetLastError());
    return;
  }
  kept_ = Keep();
}

ClipboardPaste::~ClipboardPaste() { PutBack(); }

bool ClipboardPaste::Keep() {
  if (!OpenClipboardOf(window_.get(), 100)) {
    diagnostics::Failure(L"opening the clipboard to keep its content", ::GetLastError());
    return false;
  }
  std::vector<std::uint32_t> formats;
  for (UINT format = ::EnumClipboardFormats(0); format != 0; format = ::EnumClipboardFormats(format)) {
    formats.push_back(format);
  }
  const ClipboardKeeping keeping = KeepingOf(formats);
  std::optional<std::uint32_t> lost = keeping.lost;
  SIZE_T total = 0;
  for (const std::uint32_t format : keeping.memory) {
    if (lost) break;
    const HANDLE memory = ::GetClipboardData(format);
    total += memory ? ::GlobalSize(memory) : 0;
    platform::UniqueGlobal copy = memory && total <= kLargestKept ? CopyOf(memory) : platform::UniqueGlobal{};
    if (!copy) lost = format;
    memory_.emplace_back(format, std::move(copy));
  }
  if (keeping.enhancedMetafile && !lost) {
    const auto metafile = static_cast<HENHMETAFILE>(::GetClipboardData(CF_ENHMETAFILE));
    metafile_.reset(metafile ? ::CopyEnhMetaFileW(metafile, nullptr) : nullptr);
    if (!metafile_) lost = CF_ENHMETAFILE;
  }
  ::CloseClipboard();
  if (!lost) return true;
  diagnostics::Event(L"the clipboard holds what cannot be put back (format " + platform::IntToStr(*lost) +
                     L"): the code is typed as keys");
  return false;
}

bool ClipboardPaste::Paste(std::wstring_view text, DWORD targetProcess) {
  if (!kept_ || !OpenClipboardOf(window_.get(), 100)) return false;
  text_.assign(text);
  target_ = targetProcess;
  taken_ = false;
  const bool emptied = ::EmptyClipboard();
  if (emptied) {
    changed_ = true;
    // Given out when asked for.
    ::SetClipboardData(CF_UNICODETEXT, nullptr);
    MarkAsPassing();
  }
  ::CloseClipboard();
  if (!emptied || !SendCtrlV()) return false;
  // The text is asked for by SendMessage to this thread's window: handled
  // while messages sent to the thread are let in.
  const ULONGLONG giveUpAt = ::GetTickCount64() + kTakeTimeoutMs;
  for (ULONGLONG now = ::GetTickCount64(); !taken_ && now < giveUpAt; now = ::GetTickCount64()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(giveUpAt - now), QS_SENDMESSAGE);
    MSG ignored;
    ::PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  return taken_;
}

void ClipboardPaste::Render() {
  // Only a window of the target counts as having taken it; a clipboard
  // monitor that reads everything gets it too, and the wait goes on. A
  // window that opened the clipboard without a window of its own is
  // believed.
  DWORD reader = 0;
  if (const HWND opener = ::GetOpenClipboardWindow()) ::GetWindowThreadProcessId(opener, &reader);
  if (!Put(CF_UNICODETEXT, CopyOf(text_.c_str(), (text_.size() + 1) * sizeof(wchar_t)))) {
    diagnostics::Failure(L"giving the pasted text to the clipboard", ::GetLastError());
    return;
  }
  if (reader == 0 || reader == target_) taken_ = true;
}

void ClipboardPaste::PutBack() {
  if (!changed_) return;
  // The window pasting holds the clipboard open until it has the text.
  if (!OpenClipboardOf(window_.get(), 1000)) {
    diagnostics::Failure(L"opening the clipboard to put the operator's content back", ::GetLastError());
    return;
  }
  bool whole = ::EmptyClipboard();
  for (auto& [format, memory] : memory_) whole = Put(format, std::move(memory)) && whole;
  if (metafile_) {
    const bool put = ::SetClipboardData(CF_ENHMETAFILE, metafile_.get()) != nullptr;
    if (put) metafile_.release();
    whole = put && whole;
  }
  ::CloseClipboard();
  if (!whole) diagnostics::Failure(L"putting the operator's clipboard content back", ::GetLastError());
}

LRESULT CALLBACK ClipboardPaste::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* paste = reinterpret_cast<ClipboardPaste*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_RENDERFORMAT && wParam == CF_UNICODETEXT && paste) {
    paste->Render();
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
