#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

#include "app/tray_icon_ids.h"
#include "app/win/win_reader_parts.h"
#include "platform/win/form.h"
#include "reader/bar_cod_reader.h"

// A reader thread lost its port; wParam tells which port it was.
inline constexpr UINT WM_LINELOST = WM_APP + 101;

// The program's only permanent window: the five line settings as text, a
// popup menu, the web link, and the tray icon it hides into when minimised.
// It owns the reader, and is the user interface thread's side of it.
class TFormBRMain final : private ReaderSite {
 public:
  // Builds the window, still hidden, and the reader.
  TFormBRMain();
  ~TFormBRMain() override;
  TFormBRMain(const TFormBRMain&) = delete;
  TFormBRMain& operator=(const TFormBRMain&) = delete;

  // Adds the tray icon, opens the port and starts reading.
  void FormCreate();
  // Shows the window, the first time in the middle of the screen.
  void Show();

 private:
  friend LRESULT CALLBACK platform::RoutedWindowProcedure<TFormBRMain>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void FormShow();
  void FormCloseQuery();
  void FormClose();
  void FormDestroy();
  void AppMinimize();
  void WMTrayNotify(LPARAM mouseMessage);
  void PopupAtCursor();
  void Restore1Click();
  void OptionsClick();
  void LabelWWWClick();
  void RefreshLabels();
  void AddTrayIcon();
  void RefreshTrayTip();
  void Close();

  // While a dialog or message box of the program runs, no command of the
  // window or of the tray menu does; an exit request ends the box or the
  // dialog (as Cancel) and is carried out once it has gone.
  class ModalScope;
  bool Modal() const { return modalDepth_ > 0; }
  void EndModalWindows();
  void BringModalToFront();

  void ShowStopMessage(const std::wstring& text) override;
  void PostLineLost(unsigned generation) override;
  void ScheduleRetry(std::chrono::milliseconds delay) override;
  void CancelRetry() override;
  void LinkChanged() override;

  HWND window_ = nullptr;
  platform::UniqueFont font_;
  platform::UniqueBitmap picture_;
  NOTIFYICONDATAW TrayIconData{};
  bool IsMinimizedToTray = false;
  bool rescaling_ = false;  // a change of density may resize the window
  int modalDepth_ = 0;
  bool exitRequested_ = false;
  std::unique_ptr<WinReaderParts> readerParts_;  // before the reader, which uses them
  std::unique_ptr<CBarCodReader> BarCodReader;   // null when it could not be created
};
