#pragma once

#include <windows.h>

#include <span>
#include <string_view>
#include <vector>

#include "platform/win/handles.h"

namespace platform {

// How a control makes room for its caption in the font at hand, which can
// be wider than the one the layout was designed with.
enum class Fit {
  Designed,   // keeps its designed size
  GrowLeft,   // a label: its caption keeps ending where the control it names begins
  GrowRight,  // a check box: keeps its box where it is
};

// One control of a window's layout, in pixels at 96 DPI.
struct ControlLayout {
  int id;
  const wchar_t* windowClass;
  std::wstring_view text;
  int left;
  int top;
  int width;
  int height;
  DWORD style;  // besides WS_CHILD | WS_VISIBLE
  DWORD exStyle = 0;
  Fit fit = Fit::Designed;
};

// Pixels designed at 96 DPI, on a display of another density.
class DpiScale {
 public:
  explicit DpiScale(UINT dpi) : dpi_(dpi) {}
  int operator()(int pixels) const { return ::MulDiv(pixels, static_cast<int>(dpi_), 96); }
  UINT dpi() const { return dpi_; }

 private:
  UINT dpi_;
};

// The density of the display the window is on (the system's where the
// system cannot tell per monitor).
UINT DpiOf(HWND window);

// "MS Sans Serif", 8 points, the font the windows are laid out for.
UniqueFont CreateFormFont(const DpiScale& scale);

// Sizes a top-level window at 96 DPI, scaled, counting its frame or not,
// and centres it on the screen it is on.
enum class SizeOf { ClientArea, WholeWindow };
void SizeAndCenter(HWND window, int width, int height, SizeOf what, const DpiScale& scale);
// The same size, at the place Windows suggests when the window moves to a
// monitor of another density.
void SizeAt(HWND window, int width, int height, SizeOf what, const DpiScale& scale, POINT topLeft);

// Registers a form's window class (once; later calls find it there).
void RegisterFormClass(const wchar_t* name, WNDPROC procedure, HICON icon = nullptr);

// The window procedure of a form object, passed as the window's creation
// parameter: every message goes to its Dispatch(window, message, ...).
template <typename Form>
LRESULT CALLBACK RoutedWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  }
  auto* const form = reinterpret_cast<Form*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  return form != nullptr ? form->Dispatch(window, message, wParam, lParam)
                         : ::DefWindowProcW(window, message, wParam, lParam);
}

// Creates the controls in table order, which is their tab order.
std::vector<HWND> CreateControls(HWND parent, std::span<const ControlLayout> layout, const DpiScale& scale, HFONT font);
// Places and sizes the table's controls for this density and font, as at
// creation and again after a change of density.
void ArrangeControls(HWND parent, std::span<const ControlLayout> layout, const DpiScale& scale, HFONT font);

// A form's controls and its size, both at 96 DPI.
struct FormLayout {
  std::span<const ControlLayout> controls;
  int width;
  int height;
  SizeOf size;
};

// For WM_DPICHANGED: the form laid out anew at the new density, in a font
// of that density (which replaces `font`), where Windows suggests.
void Rescale(HWND window, const FormLayout& layout, UINT dpi, const RECT& suggested, UniqueFont& font);

// The windows a form owns on its thread: its message boxes end as by their
// OK (the program's have OK alone), and the visible one comes to the front.
void EndOwnedMessageBoxes(HWND owner);
void BringOwnedWindowToFront(HWND owner);

}  // namespace platform
