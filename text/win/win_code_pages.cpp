#include "text/win/win_code_pages.h"

#include <windows.h>

bool WinCodePages::Knows(unsigned codePage) const {
  // A code page that cannot report a byte without a character (the flag is
  // refused for it) would type a replacement character: as good as unknown.
  return ::IsValidCodePage(codePage) && ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, "0", 1, nullptr, 0) == 1;
}

std::optional<std::wstring> WinCodePages::Decode(unsigned codePage, std::string_view bytes) const {
  if (bytes.empty()) return std::wstring();
  // Without MB_ERR_INVALID_CHARS a byte with no character would become a
  // replacement character in the target's field.
  const int size = static_cast<int>(bytes.size());
  const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring text(static_cast<std::size_t>(length), L'\0');
  if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, text.data(), length) != length) {
    return std::nullopt;
  }
  return text;
}
