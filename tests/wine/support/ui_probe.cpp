#include "support/ui_probe.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>

#include "platform/win/handles.h"

namespace ui_probe {
namespace {

// Long enough for a busy but healthy window, short enough that a hung one
// fails the test well inside its own timeout.
constexpr UINT kSendTimeoutMs = 3000;
constexpr DWORD kPollMs = 10;
// Dialog item of a message box's text (the same on Windows and Wine).
constexpr int kMessageTextId = 0xFFFF;

std::optional<LRESULT> Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result)) {
    return std::nullopt;
  }
  return static_cast<LRESULT>(result);
}

class Deadline {
 public:
  explicit Deadline(DWORD timeoutMs) : end_(::GetTickCount64() + timeoutMs) {}
  bool Passed() const { return ::GetTickCount64() >= end_; }
  DWORD Left() const {
    const ULONGLONG now = ::GetTickCount64();
    return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
  }

 private:
  ULONGLONG end_;
};

bool SameClass(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::wstring ClassName(HWND window) {
  wchar_t name[257] = {};
  const int length = ::GetClassNameW(window, name, 257);
  return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

// The stored title, read without a message: enumerating the desktop must not
// stall on some unrelated window whose thread is busy.
bool HasTitle(HWND window, const std::wstring& title) {
  std::wstring stored(title.size() + 2, L'\0');
  const int length = ::InternalGetWindowText(window, stored.data(), static_cast<int>(stored.size()));
  return length >= 0 && static_cast<std::size_t>(length) == title.size() && stored.compare(0, title.size(), title) == 0;
}

HWND FindTopLevel(const std::wstring& title, const std::wstring& className) {
  struct Search {
    const std::wstring& title;
    const std::wstring& className;
    HWND found = nullptr;
  } search{title, className};
  ::EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& search = *reinterpret_cast<Search*>(context);
        if (!::IsWindowVisible(window) || !HasTitle(window, search.title)) return TRUE;
        if (!search.className.empty() && !SameClass(ClassName(window), search.className)) return TRUE;
        search.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsActiveForeground(HWND root) {
  if (::GetForegroundWindow() != root) return false;
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return ::GetGUIThreadInfo(::GetWindowThreadProcessId(root, nullptr), &info) && info.hwndActive == root;
}

// The window's thread activates it asynchronously; keyboard input sent before
// that would go to whatever was active before.
bool BringToFront(HWND root, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  while (!IsActiveForeground(root)) {
    if (deadline.Passed()) return false;
    if (::GetForegroundWindow() != root) ::SetForegroundWindow(root);
    ::Sleep(kPollMs);
  }
  return true;
}

bool IsExtendedKey(WORD virtualKey) {
  switch (virtualKey) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_INSERT:
    case VK_DELETE:
    case VK_RMENU:
    case VK_RCONTROL:
    case VK_DIVIDE:
    case VK_APPS:
      return true;
    default:
      return false;
  }
}

// A 32-bit top-down bitmap to draw into and read pixels back from.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = ::CreateCompatibleDC(nullptr);
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (dc_ != nullptr && bitmap_ != nullptr) previous_ = ::SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    if (previous_ != nullptr) ::SelectObject(dc_, previous_);
    if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
    if (dc_ != nullptr) ::DeleteDC(dc_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool valid() const { return previous_ != nullptr && bits_ != nullptr; }
  HDC dc() const { return dc_; }
  std::uint32_t* pixels() {
    ::GdiFlush();
    return static_cast<std::uint32_t*>(bits_);
  }
  std::size_t size() const { return static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_); }

 private:
  int width_;
  int height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  void* bits_ = nullptr;
};

// Mean difference per colour channel, 0 to 255.
int MeanDifference(const std::uint32_t* a, const std::uint32_t* b, std::size_t count) {
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      total += static_cast<std::uint64_t>(
          std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF)));
    }
  }
  return count == 0 ? 255 : static_cast<int>(total / (count * 3));
}

// Which standard icon a static control of another process shows, judged by
// its pixels on the screen: its HICON means nothing here (Wine keeps icons per
// process). Empty when the control shows none of them, or not yet.
std::optional<LPCWSTR> StandardIconOnScreen(HWND iconControl) {
  static const LPCWSTR kCandidates[] = {IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK, IDI_QUESTION, IDI_APPLICATION};
  // Far below the distance between any two of the candidates, far above
  // what scaling and blending leave between the same icon drawn twice.
  constexpr int kSameIcon = 12;

  RECT client{};
  ::GetClientRect(iconControl, &client);
  POINT origin{0, 0};
  ::ClientToScreen(iconControl, &origin);
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return std::nullopt;

  Canvas shown(width, height);
  if (!shown.valid()) return std::nullopt;
  {
    const platform::WindowDc screen(nullptr);
    if (!::BitBlt(shown.dc(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY)) return std::nullopt;
  }
  // The corners of every standard icon are transparent.
  const std::uint32_t background = shown.pixels()[0];

  std::optional<LPCWSTR> best;
  int bestDifference = kSameIcon + 1;
  for (const LPCWSTR candidate : kCandidates) {
    Canvas drawn(width, height);
    if (!drawn.valid()) return std::nullopt;
    std::uint32_t* pixels = drawn.pixels();
    for (std::size_t i = 0; i < drawn.size(); ++i) pixels[i] = background;
    ::DrawIconEx(drawn.dc(), 0, 0, ::LoadIconW(nullptr, candidate), width, height, 0, nullptr, DI_NORMAL);
    const int difference = MeanDifference(shown.pixels(), drawn.pixels(), shown.size());
    if (difference < bestDifference) {
      bestDifference = difference;
      best = candidate;
    }
  }
  return best;
}

bool ShowsStopIcon(HWND box) {
  HWND iconControl = nullptr;
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (SameClass(ClassName(child), L"Static") && ::IsWindowVisible(child) &&
        (::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      iconControl = child;
      break;
    }
  }
  if (iconControl == nullptr) return false;
  const auto icon = Send(iconControl, STM_GETICON, 0, 0);
  if (!icon || *icon == 0) return false;

  DWORD process = 0;
  ::GetWindowThreadProcessId(box, &process);
  if (process == ::GetCurrentProcessId()) {
    return reinterpret_cast<HICON>(*icon) == ::LoadIconW(nullptr, IDI_HAND);
  }
  // The box may not have painted itself yet.
  const Deadline deadline(1500);
  for (;;) {
    if (const auto shown = StandardIconOnScreen(iconControl)) return *shown == IDI_HAND;
    if (deadline.Passed()) return false;
    ::Sleep(50);
  }
}

}  // namespace

HWND WaitForWindow(const std::wstring& title, const std::wstring& className, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  for (;;) {
    if (HWND window = FindTopLevel(title, className)) {
      // Shown is not yet ready: its thread may not have reached its message
      // loop, and Wine takes a thread that has not asked for a message for
      // five seconds (a process's first window can wait that long for the
      // desktop) as hung, so every later SMTO_ABORTIFHUNG send would fail.
      DWORD_PTR ignored = 0;
      if (::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, std::max<DWORD>(deadline.Left(), kPollMs),
                                &ignored)) {
        return window;
      }
    }
    if (deadline.Passed()) return nullptr;
    ::Sleep(kPollMs);
  }
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  while (::IsWindow(window) && ::IsWindowVisible(window)) {
    if (deadline.Passed()) return false;
    ::Sleep(kPollMs);
  }
  return true;
}

std::wstring Text(HWND window) {
  const auto length = Send(window, WM_GETTEXTLENGTH, 0, 0);
  if (!length || *length <= 0) return L"";
  std::wstring text(static_cast<std::size_t>(*length) + 1, L'\0');
  const auto copied = Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied && *copied > 0 ? static_cast<std::size_t>(*copied) : 0);
  return text;
}

std::vector<Control> Children(HWND window) {
  std::vector<Control> children;
  for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    Control control;
    control.handle = child;
    control.className = ClassName(child);
    control.text = Text(child);
    ::GetWindowRect(child, &control.rect);
    ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&control.rect), 2);
    control.id = ::GetDlgCtrlID(child);
    control.visible = ::IsWindowVisible(child) != FALSE;
    control.enabled = ::IsWindowEnabled(child) != FALSE;
    children.push_back(std::move(control));
  }
  return children;
}

int CaptionWidth(HWND control, HFONT font) {
  const std::wstring text = Text(control);
  const platform::WindowDc screen(nullptr);
  const platform::SelectedObject selected(screen.get(), font);
  SIZE size{};
  ::GetTextExtentPoint32W(screen.get(), text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

RECT ClientRect(HWND window) {
  RECT rect{};
  ::GetClientRect(window, &rect);
  return rect;
}

HWND FocusedControl(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  HWND focus = info.hwndFocus;
  return focus != nullptr && (focus == window || ::IsChild(window, focus)) ? focus : nullptr;
}

std::vector<std::wstring> Entries(HWND combo) {
  std::vector<std::wstring> entries;
  const auto count = Send(combo, CB_GETCOUNT, 0, 0);
  if (!count || *count == CB_ERR) return entries;
  for (LRESULT index = 0; index < *count; ++index) {
    const auto length = Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (!length || *length == CB_ERR) break;
    std::wstring entry(static_cast<std::size_t>(*length) + 1, L'\0');
    const auto copied = Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(entry.data()));
    if (!copied || *copied == CB_ERR) break;
    entry.resize(static_cast<std::size_t>(*copied));
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<std::vector<std::wstring>> ListRows(HWND list, int columns) {
  // The list writes a cell's text where the item says, in its own process:
  // the item and the text go through memory of that process.
  std::vector<std::vector<std::wstring>> rows;
  DWORD processId = 0;
  ::GetWindowThreadProcessId(list, &processId);
  const platform::KernelHandle process(
      ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
  const auto count = Send(list, LVM_GETITEMCOUNT, 0, 0);
  if (!process || !count) return rows;
  constexpr int kTextChars = 1024;
  auto* remote = static_cast<std::uint8_t*>(::VirtualAllocEx(process.get(), nullptr, sizeof(LVITEMW) + kTextChars * 2,
                                                             MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (remote == nullptr) return rows;
  for (LRESULT row = 0; row < *count; ++row) {
    rows.emplace_back();
    for (int column = 0; column < columns; ++column) {
      LVITEMW item{};
      item.iSubItem = column;
      item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
      item.cchTextMax = kTextChars;
      std::wstring text(kTextChars, L'\0');
      const bool read =
          ::WriteProcessMemory(process.get(), remote, &item, sizeof item, nullptr) &&
          Send(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote)) &&
          ::ReadProcessMemory(process.get(), remote + sizeof(LVITEMW), text.data(), kTextChars * 2, nullptr);
      text.resize(read ? std::wcslen(text.c_str()) : 0);
      rows.back().push_back(text);
    }
  }
  ::VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
  return rows;
}

std::wstring SelectedEntry(HWND combo) {
  const auto selected = Send(combo, CB_GETCURSEL, 0, 0);
  if (!selected || *selected < 0) return L"";
  const std::vector<std::wstring> entries = Entries(combo);
  return static_cast<std::size_t>(*selected) < entries.size() ? entries[static_cast<std::size_t>(*selected)] : L"";
}

bool PickEntry(HWND combo, const std::wstring& entry) {
  // Not CB_FINDSTRINGEXACT or CB_SELECTSTRING: those ignore case, and the
  // latter matches prefixes, so "COM1" would find "com1" or "COM10".
  const std::vector<std::wstring> entries = Entries(combo);
  std::size_t index = 0;
  while (index < entries.size() && entries[index] != entry) ++index;
  if (index == entries.size()) return false;
  const auto selected = Send(combo, CB_SETCURSEL, index, 0);
  if (!selected || *selected == CB_ERR) return false;

  HWND parent = ::GetAncestor(combo, GA_PARENT);
  ::SendNotifyMessageW(parent, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
  // Sent messages are handled in order, also inside a modal loop the
  // notification may open, so this returns once the handler is done with it
  // or waits for the operator.
  Send(parent, WM_NULL, 0, 0);
  return true;
}

bool IsChecked(HWND checkBox) {
  const auto state = Send(checkBox, BM_GETCHECK, 0, 0);
  return state && *state == BST_CHECKED;
}

bool SetChecked(HWND checkBox, bool checked) {
  // A three-state box may need two clicks to get there.
  for (int click = 0; click < 3; ++click) {
    const LRESULT before = Send(checkBox, BM_GETCHECK, 0, 0).value_or(-1);
    if ((before == BST_CHECKED) == checked) return true;
    if (!Click(checkBox)) return false;
    const Deadline deadline(kSendTimeoutMs);
    while (Send(checkBox, BM_GETCHECK, 0, 0).value_or(-1) == before) {
      if (deadline.Passed()) return false;
      ::Sleep(kPollMs);
    }
  }
  return IsChecked(checkBox) == checked;
}

bool Click(HWND button) {
  // BM_CLICK itself would press a disabled button, which hides exactly the
  // faults a test of enabling rules is after.
  HWND root = ::GetAncestor(button, GA_ROOT);
  if (root == nullptr || !::IsWindowVisible(button) || !::IsWindowEnabled(button) || !::IsWindowEnabled(root)) {
    return false;
  }
  // The operator's click brings the window to the front; Windows may also
  // drop BM_CLICK on a button of an inactive dialog.
  if (::GetForegroundWindow() != root) ::SetForegroundWindow(root);
  return ::PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

void Close(HWND window) { ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool PressKey(HWND window, WORD virtualKey) {
  HWND root = ::GetAncestor(window, GA_ROOT);
  if (root == nullptr || !BringToFront(root, 2000)) return false;
  INPUT inputs[2] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    if (IsExtendedKey(virtualKey)) input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  }
  inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
  return ::SendInput(2, inputs, sizeof(INPUT)) == 2;
}

std::optional<MessageBoxContent> DismissMessageBox(const std::wstring& caption, DWORD timeoutMs) {
  HWND box = WaitForWindow(caption, L"#32770", timeoutMs);
  if (box == nullptr) return std::nullopt;

  MessageBoxContent content;
  content.caption = caption;
  content.text = Text(::GetDlgItem(box, kMessageTextId));
  HWND onlyButton = nullptr;
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (SameClass(ClassName(child), L"Button") && ::IsWindowVisible(child)) {
      ++content.buttonCount;
      onlyButton = child;
    }
  }
  content.stopIcon = ShowsStopIcon(box);

  HWND ok = ::GetDlgItem(box, IDOK);
  if (ok == nullptr || !::IsWindowVisible(ok)) ok = content.buttonCount == 1 ? onlyButton : nullptr;
  if (ok == nullptr) return std::nullopt;
  if (!Click(ok) || !WaitUntilGone(box, timeoutMs)) return std::nullopt;
  return content;
}

std::wstring OverlappingTexts(const std::vector<Control>& controls) {
  for (auto one = controls.begin(); one != controls.end(); ++one) {
    for (auto other = one + 1; other != controls.end(); ++other) {
      RECT common;
      if (!one->text.empty() && !other->text.empty() && ::IntersectRect(&common, &one->rect, &other->rect)) {
        return one->text + L" / " + other->text;
      }
    }
  }
  return {};
}

HWND WaitForMenu(DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  do {
    const HWND menu = ::FindWindowW(L"#32768", nullptr);
    if (menu != nullptr && ::IsWindowVisible(menu)) return menu;
    ::Sleep(20);
  } while (::GetTickCount64() < deadline);
  return nullptr;
}

void PickMenuItem(HWND menu, int downs) {
  for (int i = 0; i < downs; ++i) PressKey(menu, VK_DOWN);
  PressKey(menu, VK_RETURN);
}

bool ClickTrayIcon(UINT mouseMessage) {
  // Each icon is a child window of the tray's.
  const HWND tray = ::FindWindowW(nullptr, L"Wine System Tray");
  const HWND icon = tray != nullptr ? ::GetWindow(tray, GW_CHILD) : nullptr;
  if (icon == nullptr || ::GetWindow(icon, GW_HWNDNEXT) != nullptr) return false;
  RECT client{};
  ::GetClientRect(icon, &client);
  return ::PostMessageW(icon, mouseMessage, 0, MAKELPARAM(client.right / 2, client.bottom / 2)) != FALSE;
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) { ::PostMessageW(window, message, wParam, lParam); }

}  // namespace ui_probe
