#pragma once

#include <string>

#include "platform/diagnostics_log.h"
#include "platform/registry.h"
#include "reader/reader_parts.h"
#include "settings/registry_names.h"
#include "settings/stored_typing_options.h"

// The per-user settings and the start-with-Windows entry. Registry failures
// never reach the user: each operation reports them by its result, and to
// the diagnostics with their error.
class SettingsStore : public SettingsStorage {
 public:
  SettingsStore(platform::Registry& registry, std::wstring executablePath);

  // Reads the five texts and AutoStart, each assigned as soon as it is read,
  // so a failure half-way leaves the rest as they were. AutoStart never
  // stored reads as whether a Run value is there.
  bool Load(PortSettings& texts, bool& autoStart) override;
  // Writes the executable's name, the five texts and AutoStart, then brings
  // the start-with-Windows entry in line with AutoStart.
  bool Save(const PortSettings& texts, bool autoStart) override;
  // Registers the quoted executable path machine-wide, or for this user
  // alone when the machine-wide key refuses the write; unregisters both.
  bool UpdateAutoStart(bool autoStart);
  // What the site wants typed around and between a code's characters.
  TypingOptions LoadTypingOptions() override { return ReadTypingOptions(registry_); }

 private:
  bool IsRegisteredToStart();
  bool WriteRunValue(platform::Hive hive);
  void DeleteRunValue(platform::Hive hive);

  platform::Registry& registry_;
  std::wstring executablePath_;
};

// How much the operator asked the diagnostics log to keep (APPCFG\Log);
// off when it cannot be read.
diagnostics::LogLevel StoredLogLevel(platform::Registry& registry);
