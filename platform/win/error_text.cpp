#include "platform/win/error_text.h"

#include <windows.h>

#include "platform/win/handles.h"

namespace platform {

std::wstring SystemErrorText(std::uint32_t code) {
  wchar_t* text = nullptr;
  // Language 0: the thread's, then the user's, then the system's.
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const UniqueLocalMemory<wchar_t> owned(text);
  if (length == 0) return {};
  return std::wstring(text, length);
}

}  // namespace platform
