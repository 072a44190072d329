#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "platform/registry.h"
#include "platform/win/handles.h"

namespace platform {

// Posts a message to a window when a value is set, added or removed
// anywhere under one of a few keys, whichever program or policy refresh
// does it; the message's wParam says which key. A key that does not exist
// yet is watched through its deepest parent that does, so its creation is
// seen too; nothing is created to be watched. The thread pool waits; the
// window's thread does the rest, so whoever reads the settings needs no
// lock.
class RegistryWatch {
 public:
  // A key Windows will not watch (it will not open, or there is no event or
  // wait for it) is left out, and the log says so.
  RegistryWatch(HWND window, UINT message, const std::vector<KeyPlace>& keys);
  ~RegistryWatch();
  RegistryWatch(const RegistryWatch&) = delete;
  RegistryWatch& operator=(const RegistryWatch&) = delete;

  // Windows tells of one change per request: for each message, before
  // reading, ask again for the key it names, so that no change after the
  // reading goes unseen. Whether the settings may have changed: not when a
  // parent told of another program's key made or removed beside ours. On
  // the window's thread: before Windows 8 a request ends with the thread
  // that made it.
  bool Rearm(WPARAM notice);

 private:
  struct Watched;
  static void CALLBACK Signalled(void* watched, BOOLEAN timedOut);

  std::vector<std::unique_ptr<Watched>> watched_;  // at fixed addresses: the thread pool holds them
};

}  // namespace platform
