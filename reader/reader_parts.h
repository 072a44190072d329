#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "line/port_settings.h"
#include "line/serial_ports.h"
#include "options/typing_options.h"
#include "text/prepared_code.h"

// What the reader works with, so that the order of what it does can be
// followed with fakes as well as with Windows.

// How a save went: what the registry refused, if anything, with its Win32
// error, and whether the program now starts with Windows.
struct SaveOutcome {
  enum class Refused {
    Nothing,
    Settings,                 // the settings themselves (the start entry untouched)
    StartWithWindows,         // no entry could be written
    StopStartingWithWindows,  // the machine-wide entry stays
  };
  Refused refused = Refused::Nothing;
  std::uint32_t error = 0;
  bool autoStart = false;  // as the machine does it now, whatever was asked

  bool Succeeded() const { return refused == Refused::Nothing; }
};

// What an administrator enforces by policy: the dialog shows it and the
// operator cannot change it.
struct EnforcedSettings {
  // A scanner's line setting, by the scanner's number.
  std::vector<std::pair<unsigned, std::wstring PortSettings::*>> texts;
  // Further scanners the machine's settings or a policy name: the operator
  // cannot remove them, they would come back.
  std::vector<unsigned> kept;
  bool autoStart = false;

  bool Covers(unsigned scanner, std::wstring PortSettings::*text) const {
    return std::find(texts.begin(), texts.end(), std::pair{scanner, text}) != texts.end();
  }
  bool Keeps(unsigned scanner) const { return std::find(kept.begin(), kept.end(), scanner) != kept.end(); }
  bool operator==(const EnforcedSettings&) const = default;
};

// Where the operator's settings are kept. Failures are the store's to
// report to the diagnostics; Save's outcome is for the operator.
class SettingsStorage {
 public:
  virtual ~SettingsStorage() = default;
  // Every scanner, the first always; enforced values come in as the policy
  // has them.
  virtual bool Load(ScannerList& scanners, bool& autoStart) = 0;
  // What the last Load found enforced is never written; a further scanner
  // not in the list is removed. `autoStartShown` is what the box showed:
  // only a change of it touches the start-with-Windows entries, so that one
  // IT made or removed stays.
  virtual SaveOutcome Save(const ScannerList& scanners, bool autoStart, bool autoStartShown) = 0;
  virtual TypingProfiles LoadTypingOptions() = 0;
  // As the last Load found it.
  virtual EnforcedSettings Enforced() const = 0;
};

// Where the reader thread tells what became of each code (the monitor's
// record), and asks whether codes are to be held back.
class CodeRecorder {
 public:
  virtual ~CodeRecorder() = default;
  // «Не вводить коды» is ticked: codes are shown, not typed.
  virtual bool TypingHeld() const = 0;
  virtual void Record(const PreparedCode& code) = 0;
};

// Modal results, as the settings dialog reports how it was closed.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// The settings dialog as the reader runs it: its own copy of the scanners
// and the flag, taken back after OK.
class SettingsDialog {
 public:
  virtual ~SettingsDialog() = default;
  // Runs until OK (mrOk) or the close box (mrCancel).
  virtual int ShowModal() = 0;
  // For a second request to show it.
  virtual void BringToFront() = 0;
  // The program is closing: a running ShowModal returns mrCancel soon.
  virtual void EndAsCancel() = 0;

  ScannerList scanners;
  bool AutoStart = false;
  // Shown, never changed.
  EnforcedSettings enforced;
};

// The user interface thread the reader lives on.
class ReaderSite {
 public:
  virtual ~ReaderSite() = default;
  // Modal, owned by the program's window: the stop sign, the title, OK.
  virtual void ShowStopMessage(const std::wstring& text) = 0;
  // The system's own text for a Win32 error, in the language of its user
  // interface; empty when it has none.
  virtual std::wstring ErrorText(std::uint32_t error) = 0;
  // From any thread: the user interface thread is to call
  // CBarCodReader::OnLineLost(generation) soon.
  virtual void PostLineLost(unsigned generation) = 0;
  // CBarCodReader::OnRetryTimer(scanner) is to run once after `delay`,
  // replacing any earlier request for that scanner.
  virtual void ScheduleRetry(unsigned scanner, std::chrono::milliseconds delay) = 0;
  virtual void CancelRetry(unsigned scanner) = 0;
  // A port was lost or is back (the tray tip tells).
  virtual void LinkChanged() = 0;
};
