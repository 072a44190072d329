#include "settings/settings_store.h"

#include <algorithm>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "settings/option_table.h"

namespace {

// The help desk hears of every registry failure; the operator of those that
// undo what he asked for.
void ReportFailure(std::wstring_view doing, const platform::RegistryError& error) {
  const std::string function = error.what();
  diagnostics::Failure(std::wstring(doing) + L" (" + std::wstring(function.begin(), function.end()) + L")", error.code);
}

// The texts «Настройки» of one scanner shows, and stores at every OK.
bool StoredAtEveryOk(std::wstring PortSettings::*text) {
  return text != &PortSettings::CodeEnd && text != &PortSettings::ReplyTyped && text != &PortSettings::ReplyRefused;
}

std::wstring_view HiveName(platform::Hive hive) { return hive == platform::Hive::LocalMachine ? L"HKLM" : L"HKCU"; }

// Unquoted, a path with spaces lets Windows start "C:\Program.exe" instead.
std::wstring QuotedPath(const std::wstring& path) { return L"\"" + path + L"\""; }

}  // namespace

SettingsStore::SettingsStore(platform::Registry& registry, std::wstring executablePath)
    : registry_(registry), executablePath_(std::move(executablePath)) {}

bool SettingsStore::Load(ScannerList& scanners, bool& autoStart) {
  using namespace registry_names;
  try {
    EnforcedSettings enforced;
    // The first scanner's texts are assigned as they are read: a failure
    // half-way leaves the rest as they were.
    if (scanners.empty() || scanners.front().number != ScannerSettings::kFirst)
      scanners.insert(scanners.begin(), ScannerSettings{});
    ReadScanner(scanners.front(), enforced);
    firstLoaded_ = scanners.front().texts;
    ScannerList loaded{scanners.front()};
    for (const auto& [number, kept] : option_table::FurtherScanners(registry_)) {
      const std::wstring key = option_table::ScannerSection(number);
      // One scanner's key the registry refuses leaves the others read.
      try {
        EnforcedSettings found;
        ScannerSettings scanner{number, {}};
        ReadScanner(scanner, found);
        if (scanner.texts.NamePort.empty()) {
          diagnostics::Event(key + L" names no port (NamePort): the scanner is not read");
          continue;
        }
        loaded.push_back(scanner);
        if (const std::wstring port = RepeatedPort(loaded); !port.empty()) {
          loaded.pop_back();
          diagnostics::Event(key + L" names " + port + L", which another scanner reads: the scanner is not read");
          continue;
        }
        enforced.texts.insert(enforced.texts.end(), found.texts.begin(), found.texts.end());
        if (kept) enforced.kept.push_back(number);
      } catch (const platform::RegistryError& error) {
        ReportFailure(L"loading the scanner of " + key, error);
      }
    }
    scanners = std::move(loaded);
    option_table::Options policy;
    const option_table::Found enforcedStart =
        option_table::Resolve(registry_, option_table::Find(option_table::kAutoStart), policy);
    enforced.autoStart = option_table::IsPolicy(enforcedStart.source);
    enforced_ = enforced;
    // The Run entries, not the stored flag, say what the machine does: IT
    // may have added or removed one since the operator last pressed OK.
    const std::optional<bool> registered = StartsWithWindows();
    // A policy that cannot be read changes nothing on the machine.
    if (enforced.autoStart && enforcedStart.valid) {
      autoStart = policy.autoStart;
      if (registered != autoStart) UpdateAutoStart(autoStart);
      return true;
    }
    if (registered) {
      autoStart = *registered;
      return true;
    }
    const auto ini = registry_.OpenIni(kSettingsKey, platform::Access::Read);
    autoStart = ini->ReadBool(kAppCfgSection, std::wstring(option_table::kAutoStart), false);
    return true;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"loading the settings", error);
    return false;
  } catch (...) {
    return false;
  }
}

void SettingsStore::ReadScanner(ScannerSettings& scanner, EnforcedSettings& enforced) {
  const unsigned number = scanner.number;
  for (const auto& row : option_table::Rows()) {
    if (!row.lineText) continue;
    option_table::Options options;
    const option_table::Found found = option_table::Resolve(registry_, row, options, {}, number);
    if (option_table::IsPolicy(found.source)) enforced.texts.emplace_back(number, row.lineText);
    // A further scanner has no port of its own unless a place names one.
    const bool portless = number != ScannerSettings::kFirst && row.lineText == &PortSettings::NamePort &&
                          found.source == option_table::Source::Default;
    scanner.texts.*row.lineText = portless ? L"" : options.port.*row.lineText;
  }
}

SaveOutcome SettingsStore::Save(const ScannerList& scanners, bool autoStart, bool autoStartShown) {
  using namespace registry_names;
  std::optional<SaveOutcome> entries;  // once the Run entries are dealt with
  // What the machine does, for a save refused half-way: where the Run keys
  // cannot be read either, what the box showed, which came from them.
  const auto refused = [&](std::uint32_t error) {
    return SaveOutcome{SaveOutcome::Refused::Settings, error,
                       entries ? entries->autoStart : StartsWithWindows().value_or(autoStartShown)};
  };
  try {
    const auto ini = registry_.OpenIni(kSettingsKey, platform::Access::ReadWrite);
    ini->WriteString(kAppSection, kExecutableName, std::wstring(platform::ExtractFileName(executablePath_)));
    for (const ScannerSettings& scanner : scanners) {
      for (const auto& row : option_table::Rows()) {
        // An enforced value is the policy's, not the operator's. The first
        // scanner's end of code and replies are IT's settings, as before
        // there were several: written when the operator changed them, never
        // copied into his own.
        if (!row.lineText || enforced_.Covers(scanner.number, row.lineText)) continue;
        if (scanner.number == ScannerSettings::kFirst && !StoredAtEveryOk(row.lineText) &&
            scanner.texts.*row.lineText == firstLoaded_.*row.lineText) {
          continue;
        }
        ini->WriteString(option_table::SectionOf(row, scanner.number), std::wstring(row.name),
                         scanner.texts.*row.lineText);
      }
    }
    // A scanner the operator removed goes with its key; one the machine or
    // a policy names was never offered for removal.
    const std::wstring further = kSettingsKey + L"\\" + kDeviceSection + L"\\" + option_table::kScannersKey;
    for (const std::wstring& name :
         registry_.SubkeyNames(platform::Hive::CurrentUser, further, platform::View::Native)) {
      const auto number = platform::StrToInt(name);
      const auto listed = [&](const auto& scanner) {
        return number && scanner.number == static_cast<unsigned>(*number);
      };
      if (number && name == platform::IntToStr(*number) && std::ranges::none_of(scanners, listed)) {
        registry_.DeleteKey(platform::Hive::CurrentUser, further + L"\\" + name);
      }
    }
    if (enforced_.autoStart) return {SaveOutcome::Refused::Nothing, 0, autoStart};
    entries = autoStart != autoStartShown
                  ? UpdateAutoStart(autoStart)
                  : SaveOutcome{SaveOutcome::Refused::Nothing, 0, StartsWithWindows().value_or(autoStartShown)};
    // The box shows what the machine does, also when the operator's choice
    // could not be carried out.
    ini->WriteBool(kAppCfgSection, std::wstring(option_table::kAutoStart), entries->autoStart);
    return *entries;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"saving the settings", error);
    return refused(error.code);
  } catch (...) {
    return refused(0);
  }
}

SaveOutcome SettingsStore::UpdateAutoStart(bool autoStart) {
  using platform::Hive;
  using Refused = SaveOutcome::Refused;
  if (autoStart) {
    // A standard user cannot write the machine-wide entry the installer
    // made, and must not add one of his own beside it: both would start.
    if (WriteRunValue(Hive::LocalMachine) == 0 || IsRegistered(Hive::LocalMachine) == true) {
      DeleteRunValue(Hive::CurrentUser);
      return {Refused::Nothing, 0, true};
    }
    const std::uint32_t error = WriteRunValue(Hive::CurrentUser);
    return {error == 0 ? Refused::Nothing : Refused::StartWithWindows, error, error == 0};
  }
  std::uint32_t error = DeleteRunValue(Hive::CurrentUser);
  // Opening the machine-wide key for a change is refused to a standard user
  // even when there is nothing to remove.
  if (IsRegistered(Hive::LocalMachine) == true) {
    if (const std::uint32_t machineError = DeleteRunValue(Hive::LocalMachine)) error = machineError;
  }
  return {error == 0 ? Refused::Nothing : Refused::StopStartingWithWindows, error, error != 0};
}

std::optional<bool> SettingsStore::IsRegistered(platform::Hive hive) {
  try {
    return registry_.ReadText(hive, registry_names::kRunKey, registry_names::kRunValue).has_value();
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"reading the start-with-Windows entry under " + std::wstring(HiveName(hive)), error);
  } catch (...) {
  }
  return std::nullopt;
}

std::optional<bool> SettingsStore::StartsWithWindows() {
  const std::optional<bool> machineEntry = IsRegistered(platform::Hive::LocalMachine);
  const std::optional<bool> userEntry = IsRegistered(platform::Hive::CurrentUser);
  // Both, as an earlier version could leave them, start a second copy at
  // every logon.
  if (machineEntry == true && userEntry == true) DeleteRunValue(platform::Hive::CurrentUser);
  if (machineEntry == true || userEntry == true) return true;
  if (machineEntry && userEntry) return false;
  return std::nullopt;
}

std::uint32_t SettingsStore::WriteRunValue(platform::Hive hive) {
  try {
    registry_.OpenKey(hive, registry_names::kRunKey)
        ->WriteString(registry_names::kRunValue, QuotedPath(executablePath_));
    return 0;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"writing the start-with-Windows entry under " + std::wstring(HiveName(hive)), error);
    return error.code;
  }
}

std::uint32_t SettingsStore::DeleteRunValue(platform::Hive hive) {
  try {
    registry_.OpenKey(hive, registry_names::kRunKey)->DeleteValue(registry_names::kRunValue);
    return 0;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"removing the start-with-Windows entry under " + std::wstring(HiveName(hive)), error);
    return error.code;
  }
}

std::wstring StoredFirstPort(platform::Registry& registry) {
  option_table::Options options;
  try {
    option_table::Resolve(registry, option_table::Find(L"NamePort"), options);
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"reading the port setting", error);
  }
  // As the reader reads an empty one.
  return options.port.NamePort.empty() ? kDefaultPortSettings.NamePort : options.port.NamePort;
}

diagnostics::LogLevel StoredLogLevel(platform::Registry& registry) {
  try {
    option_table::Options options;
    option_table::Resolve(registry, option_table::Find(option_table::kLog), options);
    return options.log;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"reading the log setting", error);
    return diagnostics::LogLevel::Off;
  }
}

CodeDisclosure StoredCodeDisclosure(platform::Registry& registry) {
  try {
    option_table::Options options;
    if (!option_table::Resolve(registry, option_table::Find(option_table::kMonitor), options).valid) {
      // A site that meant to hide codes and wrote it wrong still hides them.
      diagnostics::Event(L"the Monitor policy cannot be used: the monitor shows no codes' texts or lengths");
      return CodeDisclosure::Nothing;
    }
    return options.monitor;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"reading the monitor policy", error);
    return CodeDisclosure::Nothing;
  }
}
