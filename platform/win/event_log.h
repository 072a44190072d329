#pragma once

#include <cstdint>
#include <string>

#include "platform/system_events.h"
#include "platform/win/handles.h"

namespace system_events {

// The Application log, as the source whose message table the installers
// register. Without the registration the events still go
// out, and Windows shows their strings under a note that it has no text
// for them.
class WinEventLog final : public Sink {
 public:
  WinEventLog();
  std::wstring ErrorText(std::uint32_t error) override;
  bool Write(const Event& event) override;

 private:
  platform::EventSource source_;
};

}  // namespace system_events
