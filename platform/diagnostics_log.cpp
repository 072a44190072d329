#include "platform/diagnostics_log.h"

#include "platform/conversions.h"

namespace diagnostics {

LogLevel ParseLogLevel(const std::optional<std::wstring>& setting) {
  if (setting == L"1") return LogLevel::Events;
  if (setting == L"2") return LogLevel::Contents;
  return LogLevel::Off;
}

std::wstring FormatLine(const Entry& entry, const LocalTime& time, std::uint32_t processId, LogLevel level,
                        std::wstring_view errorText) {
  // 2026-03-07 09:05:02.041: each field with its width and what follows it.
  const struct {
    unsigned value;
    std::size_t digits;
    wchar_t then;
  } stamp[] = {{time.year, 4, L'-'},   {time.month, 2, L'-'},  {time.day, 2, L' '},        {time.hour, 2, L':'},
               {time.minute, 2, L':'}, {time.second, 2, L'.'}, {time.millisecond, 3, L' '}};
  std::wstring line;
  for (const auto& field : stamp) line.append(platform::IntToStr(field.value, field.digits)).push_back(field.then);
  line.append(L"[").append(platform::IntToStr(processId)).append(L"] ");
  switch (entry.kind) {
    case Entry::Kind::Event:
      line += EscapeControls(entry.text);
      break;
    case Entry::Kind::Failure: {
      // The system's texts end in a line break that would split the entry.
      errorText = platform::WithoutTrailingBreak(errorText);
      line += L"FAILED ";
      line += EscapeControls(entry.text);
      line += L": error " + platform::IntToStr(entry.errorCode);
      if (!errorText.empty()) line.append(L" (").append(EscapeControls(errorText)).append(L")");
      break;
    }
    case Entry::Kind::CodeTyped:
      line += L"code typed, " + platform::IntToStr(entry.code.size()) + L" bytes";
      if (level == LogLevel::Contents) line += L": " + Hex(entry.code);
      if (level == LogLevel::Contents && !entry.encoding.empty()) line.append(L", as ").append(entry.encoding);
      if (entry.leftOut.empty()) break;
      line += L"; control bytes left out: " + platform::IntToStr(entry.leftOut.size());
      if (level == LogLevel::Contents) line += L" (" + Hex(entry.leftOut) + L")";
      break;
  }
  return line;
}

std::wstring EscapeControls(std::wstring_view text) {
  constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring escaped;
  escaped.reserve(text.size());
  for (const wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
    const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x2028 || code == 0x2029;
    if (!control) {
      escaped += c;
      continue;
    }
    escaped += L'<';
    for (int shift = code > 0xFF ? 12 : 4; shift >= 0; shift -= 4) escaped += kDigits[(code >> shift) & 0xF];
    escaped += L'>';
  }
  return escaped;
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

void CappedLog::Append(std::string_view bytes) {
  if (MustRotate(file_.Size(), bytes.size(), capBytes_) && !file_.MoveAside()) {
    // Copied before it is emptied, so that no line is lost; a copy that
    // fails loses the older lines rather than fill the disk. While the
    // file is held nothing is written to it: the copy is still whole.
    if (!held_) file_.CopyAside();
    if (!file_.Empty()) {
      if (!held_) {
        tell_(
            L"the log file is full and held by another program (it can be neither moved aside nor emptied): "
            L"nothing is written to it until it can be");
      }
      held_ = true;
      return;
    }
  }
  held_ = false;
  file_.Append(bytes);
}

void RecentLines::Add(const std::wstring& line) {
  const std::lock_guard lock(mutex_);
  ring_[next_].assign(line);  // the slot's memory serves again
  next_ = (next_ + 1) % kKept;
  if (size_ < kKept) ++size_;
}

std::vector<std::wstring> RecentLines::Lines() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::wstring> lines;
  for (std::size_t i = size_; i > 0; --i) lines.push_back(ring_[(next_ + kKept - i) % kKept]);
  return lines;
}

RecentLines& RecentLog() {
  static RecentLines lines;
  return lines;
}

}  // namespace diagnostics
