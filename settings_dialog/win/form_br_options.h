#pragma once

#include <windows.h>

#include <array>

#include "platform/registry.h"
#include "platform/win/form.h"
#include "reader/reader_parts.h"
#include "settings_dialog/option_lists.h"

// The settings dialog: the operator picks each scanner's line parameters
// from fixed lists, adds and removes further scanners, and switches the
// start with Windows on or off. It edits its own copy of the scanners and
// the flag; the reader takes them back after OK.
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
  // False when the dialog stays open: a port chosen for two scanners.
  bool btnOKClick();
  void btnDefaultClick();
  void btnCancelClick();
  void btnAddClick();
  void btnRemoveClick();

 private:
  friend LRESULT CALLBACK platform::RoutedWindowProcedure<TFormBROptions>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND Control(int id) const;
  // The form of one scanner, or the taller one of several with the picker.
  void Arrange();
  // The scanner at `index` in the controls, and which it is in the picker.
  void ShowScanner(std::size_t index);
  void ShowPicker();
  // The controls' choices into the scanner shown.
  void TakeFromControls();

  const HWND owner_;
  platform::Registry& registry_;
  platform::UniqueFont font_;
  int modalResult_ = 0;
  // The ports this showing offers, the ends of a code and the replies.
  std::array<OptionList, 4> shownLists_{option_lists::kPort, option_lists::kCodeEnd, option_lists::kReplyTyped,
                                        option_lists::kReplyRefused};
  std::size_t selected_ = 0;       // the scanner in the controls
  bool several_ = false;           // the form of several scanners
  platform::UniqueWindow window_;  // last: destroyed first, while the font it uses lives
};
