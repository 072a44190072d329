#include "platform/win/form.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform {
namespace {

// Height of a drop-down list with its list open; only its closed height is
// part of the layout.
constexpr int kDroppedListHeight = 200;

bool IsComboBox(const ControlLayout& control) { return std::wstring_view(control.windowClass) == WC_COMBOBOXW; }

// A closed combo box is as high as its font makes it; the layout says how
// high it must be. Its selection field height is set until the whole box
// fits: Wine reports that height two pixels larger than it takes it.
void FitComboBoxHeight(HWND combo, int height) {
  auto fieldHeight = static_cast<int>(::SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
  for (int attempt = 0; attempt < 3; ++attempt) {
    RECT rect;
    ::GetWindowRect(combo, &rect);
    const int difference = height - (rect.bottom - rect.top);
    if (difference == 0) return;
    fieldHeight += difference;
    ::SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), fieldHeight);
  }
}

// The caption's width in this font, on one line.
int CaptionWidth(HWND control, HFONT font) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  const WindowDc dc(control);
  const SelectedObject selected(dc.get(), font);
  RECT extent{};
  ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  return extent.right;
}

// Wine draws Cyrillic a few pixels wider than it measures it, and a static
// control clips what runs past its right edge: right-aligned, a label would
// lose its colon. So a label is left-aligned, starts where its measured
// caption ends at the designed right edge, and reaches this far beyond it.
constexpr int kLabelInkRoom = 6;

// Wide enough for the caption in the control's font, growing the side the
// layout has room on.
void FitCaption(HWND control, Fit fit, HFONT font, const DpiScale& scale) {
  RECT rect;
  ::GetWindowRect(control, &rect);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  if (fit == Fit::GrowLeft) {
    rect.left = rect.right - CaptionWidth(control, font);
    rect.right += scale(kLabelInkRoom);
  } else {
    // The button knows the room its box and its caption take.
    SIZE ideal{};
    ::SendMessageW(control, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal));
    rect.right = std::max(rect.right, rect.left + ideal.cx);
  }
  ::SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

UINT DpiOf(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  // Windows 10 1607 and later know the density per monitor.
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr && window != nullptr) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  const WindowDc screen(nullptr);
  const int dpi = ::GetDeviceCaps(screen.get(), LOGPIXELSY);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UniqueFont CreateFormFont(const DpiScale& scale) {
  return UniqueFont(::CreateFontW(-::MulDiv(8, static_cast<int>(scale.dpi()), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                  FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif"));
}

namespace {

SIZE OuterSize(HWND window, int width, int height, SizeOf what, const DpiScale& scale) {
  RECT frame{0, 0, scale(width), scale(height)};
  if (what == SizeOf::ClientArea) {
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_EXSTYLE)));
  }
  return {frame.right - frame.left, frame.bottom - frame.top};
}

}  // namespace

void SizeAndCenter(HWND window, int width, int height, SizeOf what, const DpiScale& scale) {
  const SIZE outer = OuterSize(window, width, height, what, scale);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcWork;
  ::SetWindowPos(window, nullptr, area.left + (area.right - area.left - outer.cx) / 2,
                 area.top + (area.bottom - area.top - outer.cy) / 2, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void SizeAt(HWND window, int width, int height, SizeOf what, const DpiScale& scale, POINT topLeft) {
  const SIZE outer = OuterSize(window, width, height, what, scale);
  ::SetWindowPos(window, nullptr, topLeft.x, topLeft.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void RegisterFormClass(const wchar_t* name, WNDPROC procedure, HICON icon) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hIcon = icon;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("RegisterClassExW failed");
  }
}

std::vector<HWND> CreateControls(HWND parent, std::span<const ControlLayout> layout, const DpiScale& scale,
                                 HFONT font) {
  std::vector<HWND> controls;
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(parent, GWLP_HINSTANCE));
  for (const ControlLayout& control : layout) {
    controls.push_back(::CreateWindowExW(control.exStyle, control.windowClass, std::wstring(control.text).c_str(),
                                         WS_CHILD | WS_VISIBLE | control.style, 0, 0, 0, 0, parent,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance, nullptr));
  }
  ArrangeControls(parent, layout, scale, font);
  return controls;
}

void ArrangeControls(HWND parent, std::span<const ControlLayout> layout, const DpiScale& scale, HFONT font) {
  for (const ControlLayout& control : layout) {
    const HWND child = ::GetDlgItem(parent, control.id);
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    const int height = IsComboBox(control) ? kDroppedListHeight : control.height;
    ::SetWindowPos(child, nullptr, scale(control.left), scale(control.top), scale(control.width), scale(height),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (IsComboBox(control)) FitComboBoxHeight(child, scale(control.height));
    if (control.fit != Fit::Designed) FitCaption(child, control.fit, font, scale);
  }
}

void Rescale(HWND window, const FormLayout& layout, UINT dpi, const RECT& suggested, UniqueFont& font) {
  const DpiScale scale(dpi);
  UniqueFont scaled = CreateFormFont(scale);
  ArrangeControls(window, layout.controls, scale, scaled.get());
  font = std::move(scaled);  // the controls no longer use the old one
  SizeAt(window, layout.width, layout.height, layout.size, scale, {suggested.left, suggested.top});
}

void EndOwnedMessageBoxes(HWND owner) {
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM ownerParameter) CALLBACK -> BOOL {
        wchar_t className[16] = {};
        ::GetClassNameW(window, className, ARRAYSIZE(className));
        if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(ownerParameter) &&
            std::wstring_view(className) == L"#32770") {
          ::PostMessageW(window, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(owner));
}

void BringOwnedWindowToFront(HWND owner) {
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM ownerParameter) CALLBACK -> BOOL {
        if (::GetWindow(window, GW_OWNER) != reinterpret_cast<HWND>(ownerParameter) || !::IsWindowVisible(window)) {
          return TRUE;
        }
        ::SetForegroundWindow(window);
        return FALSE;
      },
      reinterpret_cast<LPARAM>(owner));
}

}  // namespace platform
