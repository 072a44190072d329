#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A window of the test that has the keyboard focus and records the
// characters it receives, as the operator's application would.
class TargetWindow {
 public:
  TargetWindow();
  ~TargetWindow();
  TargetWindow(const TargetWindow&) = delete;
  TargetWindow& operator=(const TargetWindow&) = delete;

  // Takes the foreground and the keyboard focus.
  void Focus();
  // Pumps messages until `length` characters have arrived or the time is up.
  const std::wstring& WaitForText(std::size_t length, DWORD timeoutMs = 10000);
  // Pumps messages for a while and returns everything received.
  const std::wstring& PumpFor(DWORD milliseconds);
  void Clear();
  const std::wstring& text() const { return text_; }
  // When each character arrived (QueryPerformanceCounter ticks).
  const std::vector<LONGLONG>& arrivals() const { return arrivals_; }
  HWND handle() const { return window_; }
  // Whether the last text pasted into it was marked for clipboard history
  // to leave out.
  bool pasteMarked() const { return pasteMarked_; }

 private:
  void Pump(ULONGLONG deadline, std::size_t length);
  void Receive(wchar_t c);
  void Paste();
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  std::wstring text_;
  std::vector<LONGLONG> arrivals_;
  bool pasteMarked_ = false;
};

// Whether Caps Lock is toggled on, as every thread sees it.
bool CapsLockOn();
// Toggles Caps Lock as the operator's key would.
void PressCapsLock();
