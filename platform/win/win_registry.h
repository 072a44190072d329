#pragma once

#include "platform/registry.h"

namespace platform {

// The real registry of the current user and of the machine.
class WinRegistry final : public Registry {
 public:
  std::unique_ptr<IniFile> OpenIni(const std::wstring& keyPath, Access access) override;
  std::unique_ptr<RegistryKey> OpenKey(Hive hive, const std::wstring& keyPath) override;
  void DeleteKey(Hive hive, const std::wstring& keyPath) override;
  using Registry::ReadValue;
  std::optional<StoredValue> ReadValue(Hive hive, const std::wstring& keyPath, const std::wstring& name,
                                       View view) override;
  std::vector<std::wstring> ReadAllTexts(Hive hive, const std::wstring& keyPath) override;
  std::vector<std::wstring> SubkeyNames(Hive hive, const std::wstring& keyPath, View view) override;
};

}  // namespace platform
