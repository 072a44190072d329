#include "platform/win/event_log.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/win/error_text.h"

namespace system_events {
namespace {

WORD EventType(Level level) {
  switch (level) {
    case Level::Information:
      return EVENTLOG_INFORMATION_TYPE;
    case Level::Warning:
      return EVENTLOG_WARNING_TYPE;
    case Level::Error:
      break;
  }
  return EVENTLOG_ERROR_TYPE;
}

// "2: The system cannot find the file specified.", the text in the
// language of the user's Windows, as the rest of the event's strings.
std::wstring DescribeError(std::uint32_t error) {
  std::wstring text = platform::SystemErrorText(error);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return text.empty() ? platform::IntToStr(error) : platform::IntToStr(error) + L": " + text;
}

}  // namespace

WinEventLog::WinEventLog() : source_(::RegisterEventSourceW(nullptr, kSourceName)) {
  if (!source_) diagnostics::Failure(L"RegisterEventSource", ::GetLastError());
}

void WinEventLog::Report(const Record& record) {
  if (!source_) return;
  std::vector<std::wstring> strings = record.strings;
  if (record.error) strings.push_back(DescribeError(*record.error));
  std::vector<LPCWSTR> inserts;
  for (const std::wstring& text : strings) inserts.push_back(text.c_str());
  if (!::ReportEventW(source_.get(), EventType(LevelOf(record.id)), 0, static_cast<DWORD>(record.id), nullptr,
                      static_cast<WORD>(inserts.size()), 0, inserts.data(), nullptr)) {
    diagnostics::Failure(L"ReportEvent " + platform::IntToStr(static_cast<std::uint32_t>(record.id)), ::GetLastError());
  }
}

}  // namespace system_events
