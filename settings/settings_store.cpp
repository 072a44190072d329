#include "settings/settings_store.h"

#include <array>

#include "platform/conversions.h"
#include "platform/diagnostics.h"

namespace {

struct DeviceValue {
  const wchar_t* name;
  std::wstring PortSettings::*text;
};

// Read and written in this order.
constexpr std::array<DeviceValue, 5> kDeviceValues{{
    {L"NamePort", &PortSettings::NamePort},
    {L"BaudRate", &PortSettings::BaudRate},
    {L"ByteSize", &PortSettings::ByteSize},
    {L"Parity", &PortSettings::Parity},
    {L"StopBits", &PortSettings::StopBits},
}};

// The operator never hears of registry failures; a help desk can.
void ReportFailure(std::wstring_view doing, const platform::RegistryError& error) {
  const std::string function = error.what();
  diagnostics::Failure(std::wstring(doing) + L" (" + std::wstring(function.begin(), function.end()) + L")", error.code);
}

std::wstring_view HiveName(platform::Hive hive) { return hive == platform::Hive::LocalMachine ? L"HKLM" : L"HKCU"; }

// Unquoted, a path with spaces lets Windows start "C:\Program.exe" instead.
std::wstring QuotedPath(const std::wstring& path) { return L"\"" + path + L"\""; }

}  // namespace

SettingsStore::SettingsStore(platform::Registry& registry, std::wstring executablePath)
    : registry_(registry), executablePath_(std::move(executablePath)) {}

bool SettingsStore::Load(PortSettings& texts, bool& autoStart) {
  using namespace registry_names;
  try {
    const auto ini = registry_.OpenIni(kSettingsKey, platform::Access::Read);
    for (const auto& value : kDeviceValues) {
      texts.*value.text = ini->ReadString(kDeviceSection, value.name, kDefaultPortSettings.*value.text);
    }
    // Before the first save (after an install that registered the program,
    // say) the box shows what the machine does.
    autoStart = ini->ReadBool(kAppCfgSection, kAutoStart, IsRegisteredToStart());
    return true;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"loading the settings", error);
    return false;
  } catch (...) {
    return false;
  }
}

bool SettingsStore::Save(const PortSettings& texts, bool autoStart) {
  using namespace registry_names;
  try {
    {
      const auto ini = registry_.OpenIni(kSettingsKey, platform::Access::ReadWrite);
      ini->WriteString(kAppSection, kExecutableName, std::wstring(platform::ExtractFileName(executablePath_)));
      for (const auto& value : kDeviceValues) {
        ini->WriteString(kDeviceSection, value.name, texts.*value.text);
      }
      ini->WriteBool(kAppCfgSection, kAutoStart, autoStart);
    }
    UpdateAutoStart(autoStart);
    return true;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"saving the settings", error);
    return false;
  } catch (...) {
    return false;
  }
}

bool SettingsStore::UpdateAutoStart(bool autoStart) {
  using platform::Hive;
  if (!autoStart) {
    DeleteRunValue(Hive::LocalMachine);
    DeleteRunValue(Hive::CurrentUser);
    return true;
  }
  if (WriteRunValue(Hive::LocalMachine)) {
    // A per-user entry left from an earlier save would start a second copy.
    DeleteRunValue(Hive::CurrentUser);
    return true;
  }
  return WriteRunValue(Hive::CurrentUser);
}

bool SettingsStore::IsRegisteredToStart() {
  using platform::Hive;
  try {
    return registry_.ReadText(Hive::LocalMachine, registry_names::kRunKey, registry_names::kRunValue) ||
           registry_.ReadText(Hive::CurrentUser, registry_names::kRunKey, registry_names::kRunValue);
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"reading the start-with-Windows entry", error);
  } catch (...) {
  }
  return false;  // as if never registered: the stored flag's own default
}

bool SettingsStore::WriteRunValue(platform::Hive hive) {
  try {
    registry_.OpenKey(hive, registry_names::kRunKey)
        ->WriteString(registry_names::kRunValue, QuotedPath(executablePath_));
    return true;
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"writing the start-with-Windows entry under " + std::wstring(HiveName(hive)), error);
    return false;
  } catch (...) {
    return false;
  }
}

void SettingsStore::DeleteRunValue(platform::Hive hive) {
  try {
    registry_.OpenKey(hive, registry_names::kRunKey)->DeleteValue(registry_names::kRunValue);
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"removing the start-with-Windows entry under " + std::wstring(HiveName(hive)), error);
  } catch (...) {
    // Silent like every failure here; the other hive is still cleaned.
  }
}

diagnostics::LogLevel StoredLogLevel(platform::Registry& registry) {
  using namespace registry_names;
  try {
    return diagnostics::ParseLogLevel(
        registry.ReadText(platform::Hive::CurrentUser, kSettingsKey + L"\\" + kAppCfgSection, kLog));
  } catch (const platform::RegistryError& error) {
    ReportFailure(L"reading the log setting", error);
    return diagnostics::LogLevel::Off;
  }
}
