#include "platform/win/win_registry.h"

#include <array>
#include <cstring>
#include <string>

#include "platform/conversions.h"
#include "platform/win/handles.h"

namespace platform {
namespace {

// Longer values are not settings this program wrote; they read as absent
// rather than flowing into port names and labels.
constexpr DWORD kMaxTextLength = 255;

void Check(LSTATUS status, const char* what) {
  if (status != ERROR_SUCCESS) throw RegistryError(what, static_cast<std::uint32_t>(status));
}

DWORD ByteSize(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

HKEY Root(Hive hive) { return hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// The flag that names a view; the current user's hive has only one.
REGSAM ViewFlag(Hive hive, View view) {
  if (hive != Hive::LocalMachine) return 0;
  if (view == View::Bits64) return KEY_WOW64_64KEY;
  if (view == View::Bits32) return KEY_WOW64_32KEY;
  return 0;
}

// Null, and no error, when the key is missing.
UniqueHKey OpenForReading(Hive hive, const std::wstring& keyPath, REGSAM access, View view) {
  UniqueHKey key;
  const LSTATUS status = ::RegOpenKeyExW(Root(hive), keyPath.c_str(), 0, access | ViewFlag(hive, view), key.put());
  if (status != ERROR_FILE_NOT_FOUND) Check(status, "RegOpenKeyExW");
  return key;
}

// A string value of `key` (or of its subkey `subkey`), as long as it is one
// this program could have written.
std::optional<std::wstring> ReadTextValue(HKEY key, const wchar_t* subkey, const wchar_t* name, DWORD types) {
  std::array<wchar_t, kMaxTextLength + 1> buffer{};
  DWORD size = sizeof buffer;
  const LSTATUS status = ::RegGetValueW(key, subkey, name, types, nullptr, buffer.data(), &size);
  switch (status) {
    case ERROR_SUCCESS:
      return std::wstring(buffer.data());
    case ERROR_FILE_NOT_FOUND:  // no such key or value
    case ERROR_UNSUPPORTED_TYPE:
    case ERROR_MORE_DATA:
      return std::nullopt;
    default:
      throw RegistryError("RegGetValueW", static_cast<std::uint32_t>(status));
  }
}

constexpr DWORD kTextTypes = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;

// A list of texts longer than this is no list of settings either.
constexpr DWORD kMaxListBytes = 64 * 1024;

// The texts of a REG_MULTI_SZ value of `byteSize` bytes, as long as it is
// one this program could have been given.
StoredValue ReadTextList(HKEY key, const wchar_t* subkey, const wchar_t* name, DWORD byteSize) {
  StoredValue value;
  value.kind = StoredValue::Kind::TooLong;
  value.registryType = REG_MULTI_SZ;
  if (byteSize > kMaxListBytes) return value;
  std::vector<wchar_t> buffer(byteSize / sizeof(wchar_t) + 2, L'\0');
  DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  const LSTATUS status = ::RegGetValueW(key, subkey, name, RRF_RT_REG_MULTI_SZ, nullptr, buffer.data(), &size);
  if (status == ERROR_MORE_DATA) return value;  // grown since it was measured
  if (status != ERROR_SUCCESS) {
    value.kind = StoredValue::Kind::Unreadable;
    value.error = static_cast<std::uint32_t>(status);
    return value;
  }
  value.kind = StoredValue::Kind::TextList;
  // Texts one after another, each ended by a NUL, and a NUL after the last.
  for (const wchar_t* text = buffer.data(); *text != L'\0'; text += value.texts.back().size() + 1) {
    value.texts.emplace_back(text);
  }
  return value;
}

// Any value of `key`'s subkey `subkey`: a setting deployed as a number is as
// good as one deployed as text, and one of a type nobody meant is told
// apart from a missing one.
std::optional<StoredValue> ReadAnyValue(HKEY key, const wchar_t* subkey, const wchar_t* name) {
  // Big enough for the longest text; a DWORD fits too.
  std::array<wchar_t, kMaxTextLength + 1> buffer{};
  DWORD size = sizeof buffer;
  DWORD type = REG_NONE;
  const LSTATUS status = ::RegGetValueW(key, subkey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, buffer.data(), &size);
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;  // no such key or value
  StoredValue value;
  value.registryType = type;
  // One value that cannot be read (access denied on it, or on its key)
  // spoils no other. Wine refuses "any type" for the types it does not
  // list (a link, a resource list...), which hold no setting either.
  if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
    value.kind = status == ERROR_UNSUPPORTED_TYPE ? StoredValue::Kind::OtherType : StoredValue::Kind::Unreadable;
    value.error = static_cast<std::uint32_t>(status);
    return value;
  }
  if (type == REG_MULTI_SZ) return ReadTextList(key, subkey, name, size);
  const bool text = type == REG_SZ || type == REG_EXPAND_SZ;
  if (text && status == ERROR_SUCCESS) {
    value.kind = StoredValue::Kind::Text;
    value.text = buffer.data();
  } else if (text) {
    value.kind = StoredValue::Kind::TooLong;
  } else if (type == REG_DWORD && status == ERROR_SUCCESS) {
    value.kind = StoredValue::Kind::Number;
    std::memcpy(&value.number, buffer.data(), sizeof value.number);
  } else {
    value.kind = StoredValue::Kind::OtherType;
  }
  return value;
}

UniqueHKey CreateKey(HKEY parent, const std::wstring& path, REGSAM access) {
  UniqueHKey key;
  Check(
      ::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.put(), nullptr),
      "RegCreateKeyExW");
  return key;
}

class WinIniFile final : public IniFile {
 public:
  explicit WinIniFile(UniqueHKey key) : key_(std::move(key)) {}

  std::wstring ReadString(const std::wstring& section, const std::wstring& name,
                          const std::wstring& fallback) override {
    return ReadText(section, name, kTextTypes).value_or(fallback);
  }

  bool ReadBool(const std::wstring& section, const std::wstring& name, bool fallback) override {
    if (!key_) return fallback;
    DWORD number = 0;
    DWORD size = sizeof number;
    const LSTATUS status =
        ::RegGetValueW(key_.get(), section.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &number, &size);
    if (status == ERROR_SUCCESS) return number != 0;
    if (status != ERROR_UNSUPPORTED_TYPE && status != ERROR_FILE_NOT_FOUND) Check(status, "RegGetValueW");
    const auto text = ReadText(section, name, RRF_RT_REG_SZ);
    const auto parsed = text ? StrToInt(*text) : std::nullopt;
    return parsed ? *parsed != 0 : fallback;
  }

  void WriteString(const std::wstring& section, const std::wstring& name, const std::wstring& value) override {
    const UniqueHKey subkey = CreateKey(key_.get(), section, KEY_SET_VALUE);
    Check(::RegSetValueExW(subkey.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           ByteSize(value)),
          "RegSetValueExW");
  }

  // Kept as the text "1" or "0", like every other value in these sections.
  void WriteBool(const std::wstring& section, const std::wstring& name, bool value) override {
    WriteString(section, name, value ? L"1" : L"0");
  }

 private:
  std::optional<std::wstring> ReadText(const std::wstring& section, const std::wstring& name, DWORD types) {
    if (!key_) return std::nullopt;
    return ReadTextValue(key_.get(), section.c_str(), name.c_str(), types);
  }

  UniqueHKey key_;  // none when the key is missing and was opened for reading
};

class WinRegistryKey final : public RegistryKey {
 public:
  explicit WinRegistryKey(UniqueHKey key) : key_(std::move(key)) {}

  void WriteString(const std::wstring& name, const std::wstring& value) override {
    Check(::RegSetValueExW(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           ByteSize(value)),
          "RegSetValueExW");
  }

  bool DeleteValue(const std::wstring& name) override {
    const LSTATUS status = ::RegDeleteValueW(key_.get(), name.c_str());
    if (status == ERROR_FILE_NOT_FOUND) return false;
    Check(status, "RegDeleteValueW");
    return true;
  }

 private:
  UniqueHKey key_;
};

}  // namespace

std::unique_ptr<IniFile> WinRegistry::OpenIni(const std::wstring& keyPath, Access access) {
  if (access == Access::ReadWrite) {
    return std::make_unique<WinIniFile>(CreateKey(HKEY_CURRENT_USER, keyPath, KEY_READ | KEY_WRITE));
  }
  UniqueHKey key;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, key.put());
  if (status != ERROR_FILE_NOT_FOUND) Check(status, "RegOpenKeyExW");
  return std::make_unique<WinIniFile>(std::move(key));
}

std::unique_ptr<RegistryKey> WinRegistry::OpenKey(Hive hive, const std::wstring& keyPath) {
  return std::make_unique<WinRegistryKey>(CreateKey(Root(hive), keyPath, KEY_QUERY_VALUE | KEY_SET_VALUE));
}

void WinRegistry::DeleteKey(Hive hive, const std::wstring& keyPath) {
  const LSTATUS status = ::RegDeleteTreeW(Root(hive), keyPath.c_str());
  if (status != ERROR_FILE_NOT_FOUND) Check(status, "RegDeleteTreeW");
}

std::optional<StoredValue> WinRegistry::ReadValue(Hive hive, const std::wstring& keyPath, const std::wstring& name,
                                                  View view) {
  if (ViewFlag(hive, view) == 0) return ReadAnyValue(Root(hive), keyPath.c_str(), name.c_str());
  UniqueHKey key;
  const LSTATUS status =
      ::RegOpenKeyExW(Root(hive), keyPath.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(hive, view), key.put());
  if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
  if (status != ERROR_SUCCESS) {
    return StoredValue{StoredValue::Kind::Unreadable, {}, 0, 0, static_cast<std::uint32_t>(status)};
  }
  return ReadAnyValue(key.get(), nullptr, name.c_str());
}

std::vector<std::wstring> WinRegistry::SubkeyNames(Hive hive, const std::wstring& keyPath, View view) {
  const UniqueHKey key = OpenForReading(hive, keyPath, KEY_ENUMERATE_SUB_KEYS, view);
  std::vector<std::wstring> names;
  if (!key) return names;
  for (DWORD index = 0;; ++index) {
    std::array<wchar_t, 256> name{};  // 255 characters is the limit of a key name
    DWORD nameLength = static_cast<DWORD>(name.size());
    const LSTATUS next =
        ::RegEnumKeyExW(key.get(), index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (next == ERROR_NO_MORE_ITEMS) return names;
    // As for values: another error would repeat for every index.
    Check(next, "RegEnumKeyExW");
    names.emplace_back(name.data(), nameLength);
  }
}

std::vector<std::wstring> WinRegistry::ReadAllTexts(Hive hive, const std::wstring& keyPath) {
  const UniqueHKey key = OpenForReading(hive, keyPath, KEY_QUERY_VALUE, View::Native);
  if (!key) return {};
  std::vector<std::wstring> texts;
  for (DWORD index = 0;; ++index) {
    std::array<wchar_t, 256> name{};  // 255 characters is the limit of a value name
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD type = 0;
    const LSTATUS next = ::RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, nullptr, nullptr);
    if (next == ERROR_NO_MORE_ITEMS) return texts;
    if (next == ERROR_MORE_DATA) continue;  // a name too long to be a port's
    // Any other error (the key deleted meanwhile) repeats for every index:
    // skipping it would never end.
    Check(next, "RegEnumValueW");
    if (type != REG_SZ) continue;
    if (auto text = ReadTextValue(key.get(), nullptr, name.data(), RRF_RT_REG_SZ)) texts.push_back(std::move(*text));
  }
}

}  // namespace platform
