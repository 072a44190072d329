#pragma once

#include <windows.h>

#include <string>

#include "platform/win/handles.h"

// What a help desk reads while the program runs: the file stays open for
// writing, so it is shared as an editor would open it.
inline std::string ReadLog(const std::wstring& path) {
  const platform::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
  if (!file) return "<cannot open: " + std::to_string(::GetLastError()) + ">";
  std::string text(64 * 1024, '\0');
  DWORD read = 0;
  ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
  text.resize(read);
  return text;
}
