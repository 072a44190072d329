#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/diagnostics.h"

// Keeps what the code under test reports while it is installed: every
// entry's text, and the failures with their error codes.
class DiagnosticsRecorder final : public diagnostics::Writer {
 public:
  DiagnosticsRecorder() { diagnostics::SetWriter(this); }
  ~DiagnosticsRecorder() override { diagnostics::SetWriter(nullptr); }
  DiagnosticsRecorder(const DiagnosticsRecorder&) = delete;
  DiagnosticsRecorder& operator=(const DiagnosticsRecorder&) = delete;

  void Write(const diagnostics::Entry& entry) override {
    events.emplace_back(entry.text);
    if (entry.kind == diagnostics::Entry::Kind::Failure) failures.emplace_back(entry.text, entry.errorCode);
  }

  std::vector<std::wstring> events;  // every entry, failures too
  std::vector<std::pair<std::wstring, std::uint32_t>> failures;
};
