#include "platform/diagnostics_log.h"

#include <cwchar>

namespace diagnostics {

LogLevel ParseLogLevel(const std::optional<std::wstring>& setting) {
  if (setting == L"1") return LogLevel::Events;
  if (setting == L"2") return LogLevel::Contents;
  return LogLevel::Off;
}

std::wstring FormatLine(const Entry& entry, const LocalTime& time, LogLevel level, std::wstring_view errorText) {
  wchar_t stamp[32];
  std::swprintf(stamp, std::size(stamp), L"%04d-%02d-%02d %02d:%02d:%02d.%03d ", time.year, time.month, time.day,
                time.hour, time.minute, time.second, time.millisecond);
  std::wstring line = stamp;
  switch (entry.kind) {
    case Entry::Kind::Event:
      line += entry.text;
      break;
    case Entry::Kind::Failure: {
      // The system's texts end in a line break that would split the entry.
      const auto end = errorText.find_last_not_of(L" \t\r\n");
      errorText = errorText.substr(0, end == std::wstring_view::npos ? 0 : end + 1);
      line += L"FAILED ";
      line += entry.text;
      line += L": error " + std::to_wstring(entry.errorCode);
      if (!errorText.empty()) line.append(L" (").append(errorText).append(L")");
      break;
    }
    case Entry::Kind::CodeTyped:
      line += L"code typed, " + std::to_wstring(entry.code.size()) + L" characters";
      if (level == LogLevel::Contents) line += L": " + Hex(entry.code);
      break;
  }
  return line;
}

std::wstring Hex(std::string_view bytes) {
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring hex;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!hex.empty()) hex += L' ';
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

bool MustRotate(std::uint64_t fileBytes, std::uint64_t lineBytes, std::uint64_t capBytes) {
  return fileBytes > 0 && fileBytes + lineBytes > capBytes;
}

}  // namespace diagnostics
