#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// An optionally signed run of decimal digits that fits 32 bits; anything
// else (blanks, hex, an empty text) is not a number.
std::optional<std::int32_t> StrToInt(std::wstring_view text);

// The decimal digits of a number, with leading zeros up to `minDigits`,
// without the formatted output that std::to_wstring goes through.
std::wstring IntToStr(std::uint64_t value, std::size_t minDigits = 1);

// The file-name part of a path: everything after the last separator.
std::wstring_view ExtractFileName(std::wstring_view path);

// A system text without the line break (and blanks) Windows ends it with.
std::wstring_view WithoutTrailingBreak(std::wstring_view text);

}  // namespace platform
