#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/win/form_monitor.h"
#include "app/win/settings_watcher.h"
#include "app/win/tray_icon.h"
#include "app/win/win_reader_parts.h"
#include "app/window_coordinator.h"
#include "platform/win/form.h"
#include "reader/bar_cod_reader.h"

// A reader thread lost its port; wParam tells which port it was.
inline constexpr UINT WM_LINELOST = WM_APP + 101;

// The program's only permanent window: the first scanner's five line
// settings as text and a line for each further scanner, a popup menu, the
// web link, and the tray icon it hides into when minimised.
// It owns the reader, and is the user interface thread's side of it. What
// to do about modality, exit and the end of the session the coordinator
// decides; the window carries it out.
class TFormBRMain final : private ReaderSite, private MonitorSite {
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
  // «Монитор сканера», made when it is not open, in front.
  void ShowMonitor();

 private:
  friend LRESULT CALLBACK platform::RoutedWindowProcedure<TFormBRMain>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void FormShow();
  void FormCloseQuery();
  void FormClose();
  void FormDestroy();
  void AppMinimize();
  void WMTrayNotify(LPARAM mouseMessage);
  void Restore1Click();
  void OptionsClick();
  void LabelWWWClick();
  void RefreshLabels();
  // A line for each further scanner under the first one's labels: its port,
  // its line and whether it is open or since when it is away.
  void ShowFurtherScanners();
  std::vector<platform::ControlLayout> Layout() const;
  int Height() const;
  void ShowMenu();
  void Close();

  // Carries out what the coordinator decided, in order.
  void Carry(const WindowSteps& steps);
  void EndModalWindows();
  // Whether the command was the window's own.
  bool OnCommand(WORD id, WORD notification);
  // A dialog or message box of the program runs for its lifetime.
  class ModalScope;

  void ShowStopMessage(const std::wstring& text) override;
  std::wstring ErrorText(std::uint32_t error) override;
  void PostLineLost(unsigned generation) override;
  void ScheduleRetry(unsigned scanner, std::chrono::milliseconds delay) override;
  void CancelRetry(unsigned scanner) override;
  void LinkChanged() override;
  void TypingHeldChanged() override { LinkChanged(); }
  void RunModal(const std::function<void()>& dialog) override;

  platform::UniqueFont font_;
  platform::UniqueBitmap picture_;
  std::unique_ptr<TrayIcon> trayIcon_;
  WindowCoordinator coordinator_;
  bool IsMinimizedToTray = false;
  bool rescaling_ = false;                                  // a change of density may resize the window
  int furtherShown_ = 0;                                    // lines of further scanners
  std::unique_ptr<WinReaderParts> readerParts_;             // before the reader, which uses them
  std::unique_ptr<CBarCodReader> BarCodReader;              // null when it could not be created
  std::wstring readerFailure_;                              // why, for the operator, until FormCreate tells
  std::unique_ptr<SettingsWatcher> settingsChangeWatcher_;  // none without a reader
  std::unique_ptr<TFormMonitor> monitor_;                   // once shown; gone before the reader
  UINT showMonitorMessage_ = 0;                             // a second start's, registered
  // Last: destroyed first, while everything its last messages use lives.
  platform::UniqueWindow window_;
};
