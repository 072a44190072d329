#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// Drives real windows the way an operator does, for tests of the program's
// windows in this process or in another process of the same Wine session.
// Every message that waits for an answer carries a timeout, so a hung
// window fails a test instead of hanging it.
namespace ui_probe {

struct Control {
  HWND handle = nullptr;
  std::wstring className;
  std::wstring text;
  RECT rect{};  // in the parent's client coordinates
  int id = 0;
  bool visible = false;
  bool enabled = false;
};

// A visible top-level window of any process with exactly this title (and
// class, compared as Windows does, without case, when given) whose thread
// answers messages, waited for up to timeoutMs; nullptr when none appeared.
HWND WaitForWindow(const std::wstring& title, const std::wstring& className = L"", DWORD timeoutMs = 5000);
// Waits until the window is gone (destroyed or hidden); returns whether it went.
bool WaitUntilGone(HWND window, DWORD timeoutMs = 5000);

// Direct children in Z order, which is the dialog tab order.
std::vector<Control> Children(HWND window);
// The width of a control's text on one line in this font.
int CaptionWidth(HWND control, HFONT font);
// The texts of the first two controls that show text and overlap, as
// "one / other"; empty when no two do.
std::wstring OverlappingTexts(const std::vector<Control>& controls);
// Client area size in pixels.
RECT ClientRect(HWND window);
// The control that has the keyboard focus in the window's thread, nullptr if none.
HWND FocusedControl(HWND window);
// A window's text as WM_GETTEXT gives it, so that it also works for controls of other processes.
std::wstring Text(HWND window);

// Drop-down list combo boxes.
std::vector<std::wstring> Entries(HWND combo);
// The selected entry, "" if none.
std::wstring SelectedEntry(HWND combo);
// Selects the entry with exactly this text and then notifies the parent with
// CBN_SELCHANGE, as the control does on a user's pick (always, even when the
// entry was selected already). Returns once the parent handled the
// notification or went into a modal loop; false, with nothing changed, when
// there is no such entry.
bool PickEntry(HWND combo, const std::wstring& entry);

// A report-view list (SysListView32) of any process: each row's cells, top
// to bottom, up to `columns` of them.
std::vector<std::vector<std::wstring>> ListRows(HWND list, int columns);

// Check boxes.
bool IsChecked(HWND checkBox);
// Clicks only when the state differs, as the operator would, and waits until
// the box shows the state; returns whether it does.
bool SetChecked(HWND checkBox, bool checked);

// A click as the user makes it: brings the button's window to the front and
// posts BM_CLICK, so that a modal loop the click opens does not block the
// caller. Returns false, without clicking, when the operator could not click
// it: it or its window is hidden or disabled.
bool Click(HWND button);
// The close box or the system menu's Close (WM_SYSCOMMAND SC_CLOSE, posted).
void Close(HWND window);
// A key pressed and released while the window is in front and active, e.g.
// VK_ESCAPE, VK_RETURN, VK_TAB; it goes to the window's focused control.
// Returns false, without pressing, when the window could not be brought to
// the front.
bool PressKey(HWND window, WORD virtualKey);

// What a message box showed. Not named MessageBox: windows.h makes that a
// macro, which would rename the type behind the reader's back.
struct MessageBoxContent {
  std::wstring caption;
  std::wstring text;
  bool stopIcon = false;
  int buttonCount = 0;
};
// Waits for a message box of any process with exactly this caption, reads it,
// presses its OK (or only) button and waits until it is gone. nullopt when no
// such box appeared in time, when it has no button that means OK (it is then
// left open), or when it did not go away. The icon of another process's box
// is judged by its pixels on the screen, so that box must not be covered.
std::optional<MessageBoxContent> DismissMessageBox(const std::wstring& caption, DWORD timeoutMs = 5000);

// The popup menu once one is open, nullptr when none opened in time.
HWND WaitForMenu(DWORD timeoutMs = 5000);
// Picks the menu item `downs` steps down from the top, as with the keyboard.
void PickMenuItem(HWND menu, int downs);

// A mouse message (WM_RBUTTONDOWN, WM_LBUTTONDBLCLK...) on the only icon in
// Wine's "Wine System Tray" window, which passes it on to the icon's owner
// as the callback message that owner registered. False when there is no
// such icon.
bool ClickTrayIcon(UINT mouseMessage);

// Posts a message (for tray callbacks and the like).
void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui_probe
