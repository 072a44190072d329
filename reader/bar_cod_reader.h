#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line/lost_port_log.h"
#include "line/port_settings.h"
#include "reader/br_thread.h"
#include "reader/reader_parts.h"

// Ties the scanner link together: the settings as texts and as line
// parameters, their store, the serial port and the thread reading it.
// Everything but the reader threads' own work runs on the user interface
// thread.
class CBarCodReader {
 public:
  using DialogFactory = std::function<std::unique_ptr<SettingsDialog>()>;

  // Loads the stored settings, derives the line parameters and takes a port
  // given on the command line (`arguments` without the program name). What
  // becomes of each code goes to `recorder` when there is one.
  CBarCodReader(SettingsStorage& store, SerialPorts& ports, CodeTypist& typist, DialogFactory makeDialog,
                ReaderSite& site, const std::vector<std::wstring>& arguments, CodeRecorder* recorder = nullptr);
  ~CBarCodReader();
  CBarCodReader(const CBarCodReader&) = delete;
  CBarCodReader& operator=(const CBarCodReader&) = delete;

  bool LoadSettings();
  // Tells the operator what the registry refused; AutoStart then shows
  // what the machine does.
  bool SaveSettings();
  bool ApplySettings();
  void ApplyCommandLinePort();

  // Opens and configures the port named by the line parameters; tells the
  // operator and returns false when that fails, and then keeps trying
  // quietly in the background.
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
  // The program is closing: a running settings dialog ends as if its close
  // box had been pressed, and nothing of it is saved.
  void CancelSettings();

  // A reader thread found its port gone; `generation` tells which port.
  void OnLineLost(unsigned generation);
  // Time for the next attempt to reopen a lost port.
  void OnRetryTimer();
  // A port has arrived on the machine: a lost port is tried at once.
  void OnDeviceArrival();
  // The stored settings or a policy may have changed: the next code is
  // typed with the options as they are now, and changed line settings, a
  // changed end of code or changed replies reopen the port, quietly.
  void OnSettingsChanged();
  // Whether the port is lost and being retried.
  bool LinkLost() const { return linkLost_; }
  // Since when, how often tried and why not, while it is lost.
  const LostPortLog& lostPort() const { return lostPortLog_; }

  const LineParameters& lineParameters() const { return line_; }

  // Shown by the main window, edited by the settings dialog.
  PortSettings portSettings;
  bool AutoStart = false;

  // The first retry after a loss waits this long, each next one twice as
  // long, up to the longest: calm, and still typing again within a second
  // of the port's return where Windows does not announce it.
  static constexpr std::chrono::milliseconds kFirstRetry{250};
  static constexpr std::chrono::milliseconds kLongestRetry{800};

 private:
  // The one way to (re)open: stop the thread, close, open, read.
  enum class Tell { Operator, Nobody };
  bool Reopen(Tell tell);
  bool OpenPort(Tell tell);
  void EnterLost();
  // Reads the typing options and hands them to the typist when they changed.
  void LoadTypingOptions();

  SettingsStorage& store_;
  SerialPorts& ports_;
  CodeTypist& typist_;
  CodeRecorder* const recorder_;
  DialogFactory makeDialog_;
  ReaderSite& site_;
  const std::vector<std::wstring> arguments_;

  LineParameters line_;
  // The start with Windows the machine did when last read or saved: the
  // box showed it, and only an operator's change of it is carried out.
  bool machineAutoStart_ = false;
  // As the typist has them; each new reader thread frames codes with the
  // general CodeEnd and replies with the general replies.
  std::shared_ptr<const TypingProfiles> typing_;
  // Declared before the threads: destroyed after them, as their lines
  // need.
  std::unique_ptr<SerialPort> port_;
  unsigned generation_ = 0;  // counts the ports opened, to spot stale losses
  bool linkLost_ = false;
  std::chrono::milliseconds retryDelay_{0};
  LostPortLog lostPortLog_;
  std::unique_ptr<BRThread> thread_;
  // Told to stop, perhaps still finishing; joined before the port closes.
  std::vector<std::unique_ptr<BRThread>> stoppingThreads_;
  std::unique_ptr<SettingsDialog> dialog_;  // only while ShowSettings runs
};
