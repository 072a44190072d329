#include "platform/conversions.h"

namespace platform {

std::optional<std::int32_t> StrToInt(std::wstring_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == L'+' || text.front() == L'-')) {
    negative = text.front() == L'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t magnitude = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    magnitude = magnitude * 10 + (c - L'0');
    if (magnitude > std::int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::wstring IntToStr(std::uint64_t value, std::size_t minDigits) {
  std::wstring digits;
  do {
    digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
    value /= 10;
  } while (value != 0 || digits.size() < minDigits);
  return digits;
}

std::wstring_view ExtractFileName(std::wstring_view path) {
  const auto separator = path.find_last_of(L"\\/:");
  return separator == std::wstring_view::npos ? path : path.substr(separator + 1);
}

std::wstring_view WithoutTrailingBreak(std::wstring_view text) {
  const auto end = text.find_last_not_of(L" \t\r\n");
  return text.substr(0, end == std::wstring_view::npos ? 0 : end + 1);
}

}  // namespace platform
