#pragma once

#include "platform/registry.h"

namespace platform {

// The real registry of the current user and of the machine.
class WinRegistry final : public Registry {
 public:
  std::unique_ptr<IniFile> OpenIni(const std::wstring& keyPath, Access access) override;
  std::unique_ptr<RegistryKey> OpenKey(Hive hive, const std::wstring& keyPath) override;
  std::optional<StoredValue> ReadValue(Hive hive, const std::wstring& keyPath, const std::wstring& name) override;
  std::vector<std::wstring> ReadAllTexts(Hive hive, const std::wstring& keyPath) override;
};

}  // namespace platform
