#include "platform/win/event_log.h"

#include <windows.h>

#include <vector>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/win/error_text.h"

namespace system_events {

static_assert(static_cast<WORD>(Type::Error) == EVENTLOG_ERROR_TYPE &&
              static_cast<WORD>(Type::Warning) == EVENTLOG_WARNING_TYPE &&
              static_cast<WORD>(Type::Information) == EVENTLOG_INFORMATION_TYPE);

WinEventLog::WinEventLog() : source_(::RegisterEventSourceW(nullptr, kSourceName)) {
  if (!source_) diagnostics::Failure(L"RegisterEventSource", ::GetLastError());
}

std::wstring WinEventLog::ErrorText(std::uint32_t error) { return platform::SystemErrorText(error); }

bool WinEventLog::Write(const Event& event) {
  if (!source_) return false;
  std::vector<LPCWSTR> inserts;
  for (const std::wstring& text : event.strings) inserts.push_back(text.c_str());
  if (!::ReportEventW(source_.get(), static_cast<WORD>(event.type), 0, event.id, nullptr,
                      static_cast<WORD>(inserts.size()), 0, inserts.data(), nullptr)) {
    diagnostics::Failure(L"ReportEvent " + platform::IntToStr(event.id), ::GetLastError());
    return false;
  }
  return true;
}

}  // namespace system_events
