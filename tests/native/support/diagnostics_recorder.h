#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/system_events.h"

// Keeps what the code under test reports while it is installed: every
// entry's text, the failures with their error codes, and the events that
// reach the system's log.
class DiagnosticsRecorder final : public diagnostics::Writer, public system_events::Sink {
 public:
  DiagnosticsRecorder() {
    diagnostics::SetWriter(this);
    system_events::SetSink(this);
  }
  ~DiagnosticsRecorder() override {
    diagnostics::SetWriter(nullptr);
    system_events::SetSink(nullptr);
  }
  DiagnosticsRecorder(const DiagnosticsRecorder&) = delete;
  DiagnosticsRecorder& operator=(const DiagnosticsRecorder&) = delete;

  void Write(const diagnostics::Entry& entry) override {
    events.emplace_back(entry.text);
    if (entry.kind == diagnostics::Entry::Kind::Failure) failures.emplace_back(entry.text, entry.errorCode);
  }

  // As Windows words the errors the tests meet, line break and all.
  std::wstring ErrorText(std::uint32_t error) override {
    if (error == 2) return L"The system cannot find the file specified.\r\n";
    return error == 5 ? L"Access is denied.\r\n" : L"";
  }
  bool Write(const system_events::Event& event) override {
    systemEvents.push_back(event);
    return true;
  }

  std::vector<std::wstring> events;  // every entry, failures too
  std::vector<std::pair<std::wstring, std::uint32_t>> failures;
  std::vector<system_events::Event> systemEvents;
};
