#include "reader/settings_store.h"

#include <array>

#include "platform/conversions.h"

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
    autoStart = ini->ReadBool(kAppCfgSection, kAutoStart, false);
    return true;
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

bool SettingsStore::WriteRunValue(platform::Hive hive) {
  try {
    registry_.OpenKey(hive, registry_names::kRunKey)
        ->WriteString(registry_names::kRunValue, QuotedPath(executablePath_));
    return true;
  } catch (...) {
    return false;
  }
}

void SettingsStore::DeleteRunValue(platform::Hive hive) {
  try {
    registry_.OpenKey(hive, registry_names::kRunKey)->DeleteValue(registry_names::kRunValue);
  } catch (...) {
    // Registry failures stay silent; the other hive is still cleaned.
  }
}
