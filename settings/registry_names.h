#pragma once

#include <string>

// Where the settings and the start-with-Windows entry live.
namespace registry_names {
inline const std::wstring kSettingsKey = L"Software\\Ombrek\\Barcode Reader";
inline const std::wstring kAppSection = L"APP";
inline const std::wstring kDeviceSection = L"DEVICE";
inline const std::wstring kAppCfgSection = L"APPCFG";
inline const std::wstring kExecutableName = L"Name";
inline const std::wstring kAutoStart = L"AutoStart";
inline const std::wstring kSuffix = L"Suffix";
inline const std::wstring kPrefix = L"Prefix";
inline const std::wstring kKeyDelay = L"KeyDelay";
inline const std::wstring kGroupSeparator = L"GroupSeparator";
inline const std::wstring kEncoding = L"Encoding";
inline const std::wstring kCodeEnd = L"CodeEnd";
inline const std::wstring kLog = L"Log";
inline const std::wstring kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const std::wstring kRunValue = L"Barcode Reader";
}  // namespace registry_names
