#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/monitor_report.h"
#include "keys/win/win_typist.h"
#include "platform/registry.h"
#include "platform/win/form.h"
#include "reader/bar_cod_reader.h"
#include "reader/recent_codes.h"
#include "settings/settings_store.h"

// The message a second start with /MONITOR sends to the running copy's
// main window, registered under this name: a shortcut or a help-desk
// script may send it too (see docs/monitor.md).
inline constexpr wchar_t kShowMonitorMessageName[] = L"Ombrek.BarcodeReader.ShowMonitor";

// When a lost port went, as the clock on the wall said: "14:02:11".
std::wstring LostSince(const LostPortLog& lost);

// The message's number in this session, let through to `mainWindow` from
// programs of lower integrity.
UINT AcceptShowMonitorMessage(HWND mainWindow);
// Sends the message to a running copy's main window; false when none runs.
bool HandOverMonitor();

// What the monitor needs of the main window.
class MonitorSite {
 public:
  virtual ~MonitorSite() = default;
  // «Не вводить коды» changed: the tray tip tells.
  virtual void TypingHeldChanged() = 0;
  // Runs a dialog of the monitor's as the program's other modal windows run.
  virtual void RunModal(const std::function<void()>& dialog) = 0;
};

// «Монитор сканера»: the port and where its settings came from, the program
// in front and its typing options, the last codes, the line's error counts
// with an advice (of the scanner picked, with several), and the report. Reads the record of recent codes when it
// changes, and the port's state once a second, while it is open.
class TFormMonitor {
 public:
  TFormMonitor(RecentCodes& recent, platform::Registry& registry, CBarCodReader& reader, MonitorSite& site);
  ~TFormMonitor();
  TFormMonitor(const TFormMonitor&) = delete;
  TFormMonitor& operator=(const TFormMonitor&) = delete;

  // `monitor` on screen and in front, made anew unless it is open.
  static void ShowIn(std::unique_ptr<TFormMonitor>& monitor, RecentCodes& recent, platform::Registry& registry,
                     CBarCodReader& reader, MonitorSite& site);
  // The settings or a policy changed: their sources are read again.
  void Refresh();

 private:
  friend LRESULT CALLBACK platform::RoutedWindowProcedure<TFormMonitor>(HWND, UINT, WPARAM, LPARAM);
  LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void ShowCodes();
  void ShowLine();
  void ShowState();
  void ShowSelectedBytes();
  void HoldTyping(bool held);
  ReportFacts Facts();
  void CopyReport();
  void SaveReport();
  // The port, its state, its counts and the advice, alike in the window
  // and the report.
  std::wstring PortText(const ScannerSettings& scanner);
  ScannerFacts FactsOf(const ScannerSettings& scanner);

  RecentCodes& recent_;
  platform::Registry& registry_;
  CBarCodReader& reader_;
  MonitorSite& site_;
  platform::UniqueFont font_;
  CodeDisclosure disclosure_ = CodeDisclosure::Nothing;
  unsigned shown_ = ScannerSettings::kFirst;  // the scanner whose line, state and counts are shown
  std::vector<CodeRecord> codes_;             // as listed, newest first
  unsigned codesSeen_ = 0;                    // the count when they were listed
  HWND programWindow_ = nullptr;              // the last window in front not of this program
  std::optional<std::wstring> program_;       // whose typing options are shown
  ProgramNames programs_;
  HWND window_ = nullptr;  // destroyed with the monitor's close box, or with the object
};
