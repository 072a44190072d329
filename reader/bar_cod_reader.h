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

// One scanner's link as the reader keeps it: its line, its port, the
// thread reading it and, while the port is away, the retries.
class ScannerLink {
 public:
  explicit ScannerLink(unsigned number) : number_(number) {}
  ScannerLink(const ScannerLink&) = delete;
  ScannerLink& operator=(const ScannerLink&) = delete;

  unsigned number() const { return number_; }
  const LineParameters& line() const { return line_; }
  // Whether the port is lost and being retried.
  bool lost() const { return lost_; }
  // Since when, how often tried and why not, while it is lost.
  const LostPortLog& lostPort() const { return lostPortLog_; }

 private:
  friend class CBarCodReader;

  const unsigned number_;
  LineParameters line_;
  // Declared before the threads: destroyed after them, as their lines
  // need.
  std::unique_ptr<SerialPort> port_;
  unsigned generation_ = 0;  // the reader's count when this port was opened
  bool lost_ = false;
  std::chrono::milliseconds retryDelay_{0};
  LostPortLog lostPortLog_;
  std::unique_ptr<BRThread> thread_;
  // Told to stop, perhaps still finishing; joined before the port closes.
  std::vector<std::unique_ptr<BRThread>> stoppingThreads_;
};

// Ties the scanner links together: the settings as texts and as line
// parameters, their store, each scanner's serial port and the thread
// reading it. Everything but the reader threads' own work runs on the user
// interface thread.
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
  // Derives every scanner's line; a scanner on a port an earlier one reads
  // is left out, and one no longer there is closed.
  bool ApplySettings();
  // The same, with the first scanner's port from the command line.
  void ApplyCommandLinePort();

  // Opens and configures every scanner's port; tells the operator of each
  // that fails, returns false then, and keeps trying it quietly in the
  // background.
  bool InitComm();
  // Leaves each line in the break state and closes its port, if one is
  // open. Reader threads end first: none may touch a closed or a reopened
  // port.
  void ClosePort();

  // Starts a reader thread on each open port.
  void ReadData();
  // Tells the reader threads to stop, without waiting for them.
  void StopReading();

  // Builds the settings dialog; tells the operator when it cannot.
  bool CreateOptions();
  // Runs the settings dialog; after OK saves the settings and reopens the
  // ports with them. While it runs, another request brings it to the front.
  bool ShowSettings();
  // The program is closing: a running settings dialog ends as if its close
  // box had been pressed, and nothing of it is saved.
  void CancelSettings();

  // A reader thread found its port gone; `generation` tells which port.
  void OnLineLost(unsigned generation);
  // Time for the next attempt to reopen a scanner's lost port.
  void OnRetryTimer(unsigned scanner);
  // A port has arrived on the machine: every lost port is tried at once.
  void OnDeviceArrival();
  // The stored settings or a policy may have changed: the next code is
  // typed with the options as they are now, and a scanner with changed
  // line settings or end of code is reopened, quietly; one added is
  // opened, one removed closed.
  void OnSettingsChanged();

  // The scanner of that number, while it is read; null otherwise.
  const ScannerLink* Link(unsigned scanner) const;
  // The first scanner's.
  bool LinkLost() const { return links_.front()->lost(); }
  const LostPortLog& lostPort() const { return links_.front()->lostPort(); }
  const LineParameters& lineParameters() const { return links_.front()->line(); }
  // The ports lost and being retried, in the scanners' order.
  std::vector<std::wstring> LostPorts() const;

  // Shown by the main window, edited by the settings dialog: the first
  // scanner first.
  ScannerList scanners;
  bool AutoStart = false;

  // The first retry after a loss waits this long, each next one twice as
  // long, up to the longest: calm, and still typing again within a second
  // of the port's return where Windows does not announce it.
  static constexpr std::chrono::milliseconds kFirstRetry{250};
  static constexpr std::chrono::milliseconds kLongestRetry{800};

 private:
  // The one way to (re)open: stop the thread, close, open, read.
  enum class Tell { Operator, Nobody };
  bool Relink(bool commandLine);
  bool Reopen(ScannerLink& link, Tell tell);
  bool OpenPort(ScannerLink& link, Tell tell);
  void ClosePort(ScannerLink& link);
  void ReadData(ScannerLink& link);
  void StopReading(ScannerLink& link);
  void EnterLost(ScannerLink& link);
  ScannerLink* FindLink(unsigned scanner);
  // Reads the typing options and hands them to the typist when they changed.
  void LoadTypingOptions();

  SettingsStorage& store_;
  SerialPorts& ports_;
  CodeTypist& typist_;
  CodeRecorder* const recorder_;
  DialogFactory makeDialog_;
  ReaderSite& site_;
  const std::vector<std::wstring> arguments_;

  // The start with Windows the machine did when last read or saved: the
  // box showed it, and only an operator's change of it is carried out.
  bool machineAutoStart_ = false;
  // As the typist has them.
  std::shared_ptr<const TypingProfiles> typing_;
  // Every reader thread's codes take turns at the typist; declared before
  // the links, whose threads use it.
  TypingTurns turns_;
  unsigned generation_ = 0;  // counts the ports opened, to spot stale losses
  // Between InitComm and ClosePort: a scanner added meanwhile is opened.
  bool running_ = false;
  // The scanners being read, the first scanner first: never empty.
  std::vector<std::unique_ptr<ScannerLink>> links_;
  std::unique_ptr<SettingsDialog> dialog_;  // only while ShowSettings runs
};
