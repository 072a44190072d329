#pragma once

#include <optional>
#include <string>

#include "platform/diagnostics_log.h"
#include "platform/registry.h"
#include "reader/reader_parts.h"
#include "reader/recent_codes.h"
#include "settings/registry_names.h"
#include "settings/stored_typing_options.h"

// The per-user settings and the start-with-Windows entry. Registry failures
// go to the diagnostics with their error; Save's outcome tells the operator
// what the registry refused.
class SettingsStore : public SettingsStorage {
 public:
  SettingsStore(platform::Registry& registry, std::wstring executablePath);

  // Reads every scanner: the first from DEVICE (and its end of code from
  // APPCFG), each further one from its key under DEVICE\\Scanners. A further
  // scanner that names no port, or one an earlier scanner reads, is not
  // read, and the log says why; one whose key the registry refuses leaves
  // the others read. Start with Windows is whether a
  // Run value is there; the stored AutoStart only when the Run keys cannot
  // be read. A per-user Run value beside the machine-wide one is removed. A
  // start with Windows enforced by policy is what the box shows, and the Run
  // entry is brought in line with it where this user may.
  bool Load(ScannerList& scanners, bool& autoStart) override;
  // Writes the executable's name and the texts no policy enforces, removes
  // the operator's key of each further scanner no longer listed, brings
  // the start-with-Windows entry in line with `autoStart` when the operator
  // changed the box, then stores AutoStart as the machine now does it; an
  // enforced start with Windows is left as it is.
  SaveOutcome Save(const ScannerList& scanners, bool autoStart, bool autoStartShown) override;
  // One entry at most, so that one copy starts at logon: the quoted
  // executable path machine-wide, where this user may write it or where it
  // is already; else for this user alone. Off removes both.
  SaveOutcome UpdateAutoStart(bool autoStart);
  // What the site wants typed around and between a code's characters.
  TypingProfiles LoadTypingOptions() override { return ReadTypingProfiles(registry_); }
  EnforcedSettings Enforced() const override { return enforced_; }

 private:
  // A scanner's line settings, each assigned as it is read; what a policy
  // enforces goes into `enforced`.
  void ReadScanner(ScannerSettings& scanner, EnforcedSettings& enforced);
  // None when the key cannot be read.
  std::optional<bool> IsRegistered(platform::Hive hive);
  // Whether either Run value is there; none when that cannot be told. A
  // per-user value beside the machine-wide one is removed on the way.
  std::optional<bool> StartsWithWindows();
  // Each gives the Win32 error of a refusal, 0 when done.
  std::uint32_t WriteRunValue(platform::Hive hive);
  std::uint32_t DeleteRunValue(platform::Hive hive);

  platform::Registry& registry_;
  std::wstring executablePath_;
  EnforcedSettings enforced_;
  PortSettings firstLoaded_ = kDefaultPortSettings;  // the first scanner's, as the last Load found it
};

// The first scanner's port as the settings name it; the default when they
// cannot be read.
std::wstring StoredFirstPort(platform::Registry& registry);

// How much the operator or a policy asked the diagnostics log to keep
// (APPCFG\Log); off when it cannot be read.
diagnostics::LogLevel StoredLogLevel(platform::Registry& registry);

// How much of a code the monitor and its report may show (the Monitor
// policy); nothing when the policy cannot be read.
CodeDisclosure StoredCodeDisclosure(platform::Registry& registry);
