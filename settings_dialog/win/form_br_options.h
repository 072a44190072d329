#pragma once

#include <windows.h>

#include "platform/registry.h"
#include "platform/win/form.h"
#include "reader/reader_parts.h"
#include "settings_dialog/option_lists.h"

// The settings dialog: the operator picks the line parameters from fixed
// lists and switches the start with Windows on or off. It edits its own
// copy of the texts and the flag; the reader takes them back after OK.
class TFormBROptions final : public SettingsDialog {
 public:
  // Builds the dialog, hidden, owned by `owner` (none for a dialog on its
  // own); `registry` tells which ports the machine has. Throws when Windows
  // refuses the window.
  TFormBROptions(HWND owner, platform::Registry& registry);
  ~TFormBROptions() override = default;
  TFormBROptions(const TFormBROptions&) = delete;
  TFormBROptions& operator=(const TFormBROptions&) = delete;

  // Shows the dialog and runs it until OK (mrOk) or its close box
  // (mrCancel); its owner takes no input meanwhile, hidden or not.
  int ShowModal() override;
  void BringToFront() override;
  void EndAsCancel() override;

  void SelectFromTexts();
  void FormShow();
  void btnOKClick();
  void btnDefaultClick();
  void btnCancelClick();

 private:
  friend LRESULT CALLBACK platform::RoutedWindowProcedure<TFormBROptions>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND Control(int id) const;

  const HWND owner_;
  platform::Registry& registry_;
  platform::UniqueFont font_;
  int modalResult_ = 0;
  OptionList portList_ = option_lists::kPort;  // the ports this showing offers
  platform::UniqueWindow window_;              // last: destroyed first, while the font it uses lives
};
