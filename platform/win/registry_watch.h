#pragma once

#include <windows.h>

#include <vector>

#include "platform/registry.h"
#include "platform/win/handles.h"

namespace platform {

// Posts a message to a window when a value is set, added or removed
// anywhere under one of a few keys, whichever program or policy refresh
// does it. A key that does not exist yet is watched through its deepest
// parent that does, so its creation is seen too; nothing is created to be
// watched. The thread pool waits; the window's thread does the rest, so
// whoever reads the settings needs no lock.
class RegistryWatch {
 public:
  // Throws when Windows refuses the event or the wait.
  RegistryWatch(HWND window, UINT message, std::vector<KeyPlace> keys);
  ~RegistryWatch() = default;
  RegistryWatch(const RegistryWatch&) = delete;
  RegistryWatch& operator=(const RegistryWatch&) = delete;

  // Windows tells of one change per request: ask again after each message,
  // before reading, so that no change after the reading goes unseen. On
  // the window's thread: before Windows 8 a request ends with the thread
  // that made it.
  void Rearm();

 private:
  struct Target {
    HWND window;
    UINT message;
  };
  static void CALLBACK Signalled(void* target, BOOLEAN timedOut);

  Target target_;
  const std::vector<KeyPlace> keys_;
  std::vector<UniqueHKey> watched_;  // closing one ends its request
  KernelHandle changed_;             // auto-reset, set by every request
  RegisteredWait wait_;              // last: ends first, while what it uses lives
};

}  // namespace platform
