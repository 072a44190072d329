#pragma once

#include <windows.h>

#include "platform/win/form.h"
#include "reader/port_settings.h"

// Modal results, as the dialog reports how it was closed.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// The settings dialog: the operator picks the line parameters from fixed
// lists and switches the start with Windows on or off. It edits its own
// copy of the texts and the flag; the reader takes them back after OK.
class TFormBROptions {
 public:
  // Builds the dialog, hidden. Throws when Windows refuses the window.
  TFormBROptions();
  ~TFormBROptions();
  TFormBROptions(const TFormBROptions&) = delete;
  TFormBROptions& operator=(const TFormBROptions&) = delete;

  // Shows the dialog and runs it until OK (mrOk) or its close box
  // (mrCancel); the application's other windows wait meanwhile.
  int ShowModal();
  // Brings the running dialog to the front, for a second request to show it.
  void BringToFront();
  HWND handle() const { return window_; }

  void SelectFromTexts();
  void FormShow();
  void btnOKClick();
  void btnDefaultClick();
  void btnCancelClick();

  PortSettings portSettings;
  bool AutoStart = false;

 private:
  friend LRESULT CALLBACK platform::RoutedWindowProcedure<TFormBROptions>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND Control(int id) const;

  HWND window_ = nullptr;
  platform::UniqueFont font_;
  int modalResult_ = 0;
};
