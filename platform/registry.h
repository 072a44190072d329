#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// Raised by every registry operation that fails; callers that must stay
// silent catch it and can still tell a help desk why.
struct RegistryError : std::runtime_error {
  RegistryError(const char* function, std::uint32_t errorCode) : std::runtime_error(function), code(errorCode) {}
  std::uint32_t code;  // the Win32 error (LSTATUS) the call returned
};

enum class Hive { CurrentUser, LocalMachine };
enum class Access { Read, ReadWrite };
// Which of HKEY_LOCAL_MACHINE\Software's two views a read sees: the one of
// this build, or the 64-bit or 32-bit (WOW6432Node) one by name, as a
// 32-bit deployment tool writes there. HKEY_CURRENT_USER has one view.
enum class View { Native, Bits64, Bits32 };

// A key as a reader of settings sees it.
struct KeyPlace {
  Hive hive;
  std::wstring path;
  View view = View::Native;
};

// A value as it is stored, for settings that administrators may deploy as
// text or as a number.
struct StoredValue {
  enum class Kind {
    Text,        // REG_SZ, or REG_EXPAND_SZ taken as it stands
    Number,      // REG_DWORD
    TooLong,     // text longer than any setting this program reads
    OtherType,   // binary, QWORD...: `registryType` says which
    TextList,    // REG_MULTI_SZ: `texts`, one a string
    Unreadable,  // there, but Windows would not give it: `error` says why
  };
  Kind kind = Kind::Text;
  std::wstring text;
  std::uint32_t number = 0;
  std::uint32_t registryType = 0;  // the REG_* type as stored
  std::uint32_t error = 0;         // the Win32 error of an unreadable value
  std::vector<std::wstring> texts = {};
  static constexpr std::uint32_t kMultiStringType = 7;  // REG_MULTI_SZ
};

// One key whose sections are subkeys and whose settings are named values in
// those subkeys, in the manner of an INI file kept in the registry.
class IniFile {
 public:
  virtual ~IniFile() = default;
  // A missing section or value, or one that holds no sensible text, gives
  // the fallback.
  virtual std::wstring ReadString(const std::wstring& section, const std::wstring& name,
                                  const std::wstring& fallback) = 0;
  virtual bool ReadBool(const std::wstring& section, const std::wstring& name, bool fallback) = 0;
  virtual void WriteString(const std::wstring& section, const std::wstring& name, const std::wstring& value) = 0;
  virtual void WriteBool(const std::wstring& section, const std::wstring& name, bool value) = 0;
};

// One open key of its own.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  virtual void WriteString(const std::wstring& name, const std::wstring& value) = 0;
  // Whether a value was there and is gone now; a refusal throws.
  virtual bool DeleteValue(const std::wstring& name) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Under HKEY_CURRENT_USER. Opening a missing key for reading succeeds and
  // reads every value as its fallback; for writing, the key is created.
  virtual std::unique_ptr<IniFile> OpenIni(const std::wstring& keyPath, Access access) = 0;
  // Opens the key, creating it when missing.
  virtual std::unique_ptr<RegistryKey> OpenKey(Hive hive, const std::wstring& keyPath) = 0;
  // Removes the key with everything in it; a missing key is no error.
  virtual void DeleteKey(Hive hive, const std::wstring& keyPath) = 0;
  // Reads without creating anything: nothing when the key or the value is
  // missing; a value (or key) there that cannot be read is Unreadable.
  virtual std::optional<StoredValue> ReadValue(Hive hive, const std::wstring& keyPath, const std::wstring& name,
                                               View view) = 0;
  std::optional<StoredValue> ReadValue(Hive hive, const std::wstring& keyPath, const std::wstring& name) {
    return ReadValue(hive, keyPath, name, View::Native);
  }
  // The text of a string value, nothing when the key or the value is
  // missing or holds no sensible text; one that cannot be read throws.
  std::optional<std::wstring> ReadText(Hive hive, const std::wstring& keyPath, const std::wstring& name) {
    auto value = ReadValue(hive, keyPath, name);
    if (value && value->kind == StoredValue::Kind::Unreadable) throw RegistryError("RegGetValueW", value->error);
    if (!value || value->kind != StoredValue::Kind::Text) return std::nullopt;
    return std::move(value->text);
  }
  // The texts of every string value of a key, in no particular order; none
  // when the key is missing (the serial device map lists ports this way).
  virtual std::vector<std::wstring> ReadAllTexts(Hive hive, const std::wstring& keyPath) = 0;
  // The names of a key's subkeys, in no particular order; none when the key
  // is missing.
  virtual std::vector<std::wstring> SubkeyNames(Hive hive, const std::wstring& keyPath, View view) = 0;
};

}  // namespace platform
