#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// Plain registry calls, independent of the program's own registry layer,
// to set up and inspect what the program reads and writes.
namespace raw_registry {

inline const wchar_t* const kSettingsKey = L"Software\\Ombrek\\Barcode Reader";
inline const wchar_t* const kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline const wchar_t* const kPolicyKey = L"Software\\Policies\\Ombrek\\Barcode Reader";

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  std::wstring Text() const {
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
};

inline std::optional<Value> Read(HKEY root, const std::wstring& path, const std::wstring& name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  Value value;
  DWORD size = 0;
  LSTATUS status = ::RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    value.data.resize(size);
    status = ::RegQueryValueExW(key, name.c_str(), nullptr, &value.type, value.data.data(), &size);
  }
  ::RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

inline void Write(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type, const void* data,
                  DWORD size) {
  HKEY key = nullptr;
  ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  ::RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  ::RegCloseKey(key);
}

inline void WriteText(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& text) {
  Write(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void WriteDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD number) {
  Write(root, path, name, REG_DWORD, &number, sizeof number);
}

inline void DeleteValue(HKEY root, const std::wstring& path, const std::wstring& name) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  ::RegDeleteValueW(key, name.c_str());
  ::RegCloseKey(key);
}

// The program's settings and start-up entries as on a machine that never ran it.
inline void Forget() {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kPolicyKey);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPolicyKey);
  DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, L"Barcode Reader");
  DeleteValue(HKEY_CURRENT_USER, kRunKey, L"Barcode Reader");
}

inline void WriteDevice(const std::wstring& name, const std::wstring& text) {
  WriteText(HKEY_CURRENT_USER, std::wstring(kSettingsKey) + L"\\DEVICE", name, text);
}

}  // namespace raw_registry
