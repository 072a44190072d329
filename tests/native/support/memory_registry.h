#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

// An in-memory registry that records what was written and can be told to
// fail, for the store's decisions without a Windows machine.
class MemoryRegistry final : public platform::Registry {
 public:
  using Values = std::map<std::wstring, std::wstring>;
  // The errors the failures carry, as Windows gives them: ERROR_ACCESS_DENIED
  // and ERROR_NOT_ENOUGH_MEMORY.
  static constexpr std::uint32_t kAccessDenied = 5;
  static constexpr std::uint32_t kInjectedError = 8;

  // Key paths are kept as "HKCU\path" or "HKLM\path"; the 32-bit view of
  // HKLM as "HKLM32\path".
  std::map<std::wstring, Values> keys;
  // Values that are not text (numbers, binary...), by key path as above.
  std::map<std::wstring, std::map<std::wstring, platform::StoredValue>> otherValues;
  // Every read and write from the next one on throws once this many passed.
  int operationsBeforeFailure = -1;
  // As for a user who may not write under HKEY_LOCAL_MACHINE: its keys do
  // not open for writing.
  bool refuseLocalMachine = false;
  // Keys (paths as above) that do not open for writing either.
  std::set<std::wstring> refusedKeys;
  // Keys whose values cannot be read.
  std::set<std::wstring> unreadableKeys;
  // "read|write|delete <key>\<value>" in the order they happened.
  std::vector<std::wstring> journal;

  static std::wstring Path(platform::Hive hive, const std::wstring& keyPath,
                           platform::View view = platform::View::Native) {
    if (hive == platform::Hive::CurrentUser) return L"HKCU\\" + keyPath;
    return (view == platform::View::Bits32 ? L"HKLM32\\" : L"HKLM\\") + keyPath;
  }

  const std::wstring* Find(const std::wstring& key, const std::wstring& name) const {
    const auto k = keys.find(key);
    if (k == keys.end()) return nullptr;
    const auto v = k->second.find(name);
    return v == k->second.end() ? nullptr : &v->second;
  }

  std::unique_ptr<platform::IniFile> OpenIni(const std::wstring& keyPath, platform::Access) override {
    Operation(L"open", Path(platform::Hive::CurrentUser, keyPath));
    return std::make_unique<Ini>(*this, Path(platform::Hive::CurrentUser, keyPath));
  }

  std::unique_ptr<platform::RegistryKey> OpenKey(platform::Hive hive, const std::wstring& keyPath) override {
    Operation(L"open", Path(hive, keyPath));
    if ((hive == platform::Hive::LocalMachine && refuseLocalMachine) || refusedKeys.count(Path(hive, keyPath))) {
      throw platform::RegistryError("access denied", kAccessDenied);
    }
    return std::make_unique<Key>(*this, Path(hive, keyPath));
  }

  void DeleteKey(platform::Hive hive, const std::wstring& keyPath) override {
    const std::wstring key = Path(hive, keyPath);
    Operation(L"delete", key);
    const auto under = [&](const auto& entry) { return entry.first == key || entry.first.starts_with(key + L"\\"); };
    std::erase_if(keys, under);
    std::erase_if(otherValues, under);
  }

  using platform::Registry::ReadValue;
  std::optional<platform::StoredValue> ReadValue(platform::Hive hive, const std::wstring& keyPath,
                                                 const std::wstring& name, platform::View view) override {
    const std::wstring key = Path(hive, keyPath, view);
    Operation(L"read", key + L"\\" + name);
    if (unreadableKeys.count(key)) throw platform::RegistryError("access denied", kAccessDenied);
    if (const auto* text = Find(key, name)) {
      platform::StoredValue value;
      value.text = *text;
      return value;
    }
    const auto k = otherValues.find(key);
    if (k == otherValues.end() || !k->second.count(name)) return std::nullopt;
    return k->second.at(name);
  }

  std::vector<std::wstring> ReadAllTexts(platform::Hive hive, const std::wstring& keyPath) override {
    Operation(L"read", Path(hive, keyPath));
    std::vector<std::wstring> texts;
    if (const auto k = keys.find(Path(hive, keyPath)); k != keys.end()) {
      for (const auto& [name, value] : k->second) texts.push_back(value);
    }
    return texts;
  }

  std::vector<std::wstring> SubkeyNames(platform::Hive hive, const std::wstring& keyPath,
                                        platform::View view) override {
    const std::wstring parent = Path(hive, keyPath, view) + L"\\";
    Operation(L"list", parent);
    std::set<std::wstring> names;
    const auto add = [&](const std::wstring& key) {
      if (key.rfind(parent, 0) == 0)
        names.insert(key.substr(parent.size(), key.find(L'\\', parent.size()) - parent.size()));
    };
    for (const auto& [key, values] : keys) add(key);
    for (const auto& [key, values] : otherValues) add(key);
    return {names.begin(), names.end()};
  }

 private:
  void Operation(const std::wstring& what, const std::wstring& where) {
    if (operationsBeforeFailure == 0) throw platform::RegistryError("injected failure", kInjectedError);
    if (operationsBeforeFailure > 0) --operationsBeforeFailure;
    if (what != L"open") journal.push_back(what + L" " + where);
  }

  struct Ini final : platform::IniFile {
    Ini(MemoryRegistry& r, std::wstring k) : registry(r), key(std::move(k)) {}
    std::wstring ReadString(const std::wstring& section, const std::wstring& name,
                            const std::wstring& fallback) override {
      registry.Operation(L"read", key + L"\\" + section + L"\\" + name);
      const auto* value = registry.Find(key + L"\\" + section, name);
      return value ? *value : fallback;
    }
    bool ReadBool(const std::wstring& section, const std::wstring& name, bool fallback) override {
      const auto text = ReadString(section, name, fallback ? L"1" : L"0");
      return text == L"1";
    }
    void WriteString(const std::wstring& section, const std::wstring& name, const std::wstring& value) override {
      registry.Operation(L"write", key + L"\\" + section + L"\\" + name);
      registry.keys[key + L"\\" + section][name] = value;
    }
    void WriteBool(const std::wstring& section, const std::wstring& name, bool value) override {
      WriteString(section, name, value ? L"1" : L"0");
    }
    MemoryRegistry& registry;
    std::wstring key;
  };

  struct Key final : platform::RegistryKey {
    Key(MemoryRegistry& r, std::wstring k) : registry(r), key(std::move(k)) {}
    void WriteString(const std::wstring& name, const std::wstring& value) override {
      registry.Operation(L"write", key + L"\\" + name);
      registry.keys[key][name] = value;
    }
    bool DeleteValue(const std::wstring& name) override {
      registry.Operation(L"delete", key + L"\\" + name);
      return registry.keys[key].erase(name) == 1;
    }
    MemoryRegistry& registry;
    std::wstring key;
  };
};
