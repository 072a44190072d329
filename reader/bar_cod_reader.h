#pragma once

#include <memory>
#include <vector>

#include "platform/win/handles.h"
#include "platform/win/win_registry.h"
#include "reader/br_thread.h"
#include "reader/port_settings.h"
#include "reader/settings_store.h"
#include "reader/win_typist.h"
#include "settings_dialog/form_br_options.h"

// The serial port of the process; invalid while none is open. Only the user
// interface thread writes it, through InitComm and ClosePort.
extern platform::FileHandle PortHandle;

// Ties the scanner link together: the settings as texts and as line
// parameters, their store, and the serial port.
class CBarCodReader {
 public:
  // Loads the stored settings, derives the line parameters and takes a port
  // given on the command line.
  CBarCodReader();
  ~CBarCodReader();
  CBarCodReader(const CBarCodReader&) = delete;
  CBarCodReader& operator=(const CBarCodReader&) = delete;

  bool LoadSettings();
  bool SaveSettings();
  bool UpdateAutoStart();
  bool ApplySettings();
  void ApplyCommandLinePort();

  // Opens and configures the port named by the line parameters; tells the
  // operator and returns false when that fails.
  bool InitComm();
  // Leaves the line in the break state and closes the port, if one is open.
  // Reader threads end first: none may touch a closed or a reopened port.
  void ClosePort();

  // Starts a reader thread on the open port.
  void ReadData();
  // Tells the reader thread to stop, without waiting for it.
  void StopReading();

  // Builds the settings dialog; tells the operator when it cannot.
  bool CreateOptions();
  // Runs the settings dialog; after OK saves the settings and reopens the
  // port with them. While it runs, another request brings it to the front.
  bool ShowSettings();

  const LineParameters& lineParameters() const { return line_; }

  // Shown by the main window, edited by the settings dialog.
  PortSettings portSettings;
  bool AutoStart = false;

 private:
  LineParameters line_;
  platform::WinRegistry registry_;
  SettingsStore store_;
  WinTypist typist_;
  std::unique_ptr<BRThread> thread_;
  // Told to stop, perhaps still finishing; joined before the port closes.
  std::vector<std::unique_ptr<BRThread>> stoppingThreads_;
  std::unique_ptr<TFormBROptions> dialog_;  // only while ShowSettings runs
};
