#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

#include "platform/win/form.h"
#include "reader/bar_cod_reader.h"

// The tray icon's callback message.
inline constexpr UINT WM_TRAYNOTIFY = WM_APP + 100;

// The program's only permanent window: the five line settings as text, a
// popup menu, the web link, and the tray icon it hides into when minimised.
// It owns the reader.
class TFormBRMain {
 public:
  // Builds the window, still hidden, and the reader.
  TFormBRMain();
  ~TFormBRMain();
  TFormBRMain(const TFormBRMain&) = delete;
  TFormBRMain& operator=(const TFormBRMain&) = delete;

  // Adds the tray icon, opens the port and starts reading.
  void FormCreate();
  // Shows the window, the first time in the middle of the screen.
  void Show();
  HWND handle() const { return window_; }

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

  HWND window_ = nullptr;
  platform::UniqueFont font_;
  platform::UniqueBitmap picture_;
  NOTIFYICONDATAW TrayIconData{};
  bool IsMinimizedToTray = false;
  bool rescaling_ = false;                      // a change of density may resize the window
  std::unique_ptr<CBarCodReader> BarCodReader;  // null when it could not be created
};
