#pragma once

#include <string>

// Where the settings and the start-with-Windows entry live; the names of
// the settings themselves are in option_table.
namespace registry_names {
inline const std::wstring kSettingsKey = L"Software\\Ombrek\\Barcode Reader";
inline const std::wstring kAppSection = L"APP";
inline const std::wstring kDeviceSection = L"DEVICE";
inline const std::wstring kAppCfgSection = L"APPCFG";
inline const std::wstring kExecutableName = L"Name";
inline const std::wstring kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const std::wstring kRunValue = L"Barcode Reader";
}  // namespace registry_names
