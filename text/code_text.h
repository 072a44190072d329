#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Code pages this program does not decode by itself, as the system knows
// them.
class CodePages {
 public:
  virtual ~CodePages() = default;
  // Whether the system decodes the code page and can refuse a byte that
  // has no character in it.
  virtual bool Knows(unsigned codePage) const = 0;
  // The text as UTF-16, or nothing when a byte has no character in the code
  // page: a code is never typed with a replacement character.
  virtual std::optional<std::wstring> Decode(unsigned codePage, std::string_view bytes) const = 0;
};

// A code's characters, and the code page they were decoded from.
struct CodeText {
  std::wstring text;  // UTF-16: a character outside the BMP is a surrogate pair
  unsigned codePage;
};

// The code page to decode the code from, for the options' `codePage`.
// Automatic: a Russian payment code (`ST0001` with 1, 2 or 3, then `|`) in
// the code page its header names; otherwise UTF-8 where the whole code is
// valid UTF-8 with at least one multi-byte sequence; otherwise
// windows-1251. Looks at each byte once.
unsigned ChooseCodePage(std::string_view code, unsigned configured);

// The code's text in the code page chosen for it, without the UTF-8 byte
// order mark it may start with. A code that is not valid in that code page
// is windows-1251, as scanners set up for Russian send.
CodeText DecodeCode(std::string_view code, unsigned configured, const CodePages& others);

// The options' code page where the system knows it (and can refuse what
// is not valid in it); else automatic, and the log says so as it does for
// any option that is not valid.
unsigned UsableCodePage(unsigned configured, const CodePages& others);

// The Unicode character of a byte in code page 1251; 0 for the one byte
// that has none.
wchar_t FromCodePage1251(std::uint8_t byte);

// The UTF-8 text as UTF-16; nothing for bytes that are not well-formed
// UTF-8 (overlong forms, surrogates and code points beyond U+10FFFF
// included).
std::optional<std::wstring> FromUtf8(std::string_view bytes);

// How the log names a code page.
std::wstring CodePageName(unsigned codePage);
