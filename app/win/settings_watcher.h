#pragma once

#include <windows.h>

#include <functional>

#include "app/settings_refresh.h"
#include "platform/win/registry_watch.h"

// Has the settings read again once their keys change, or after Windows'
// word of a policy refresh, as SettingsRefresh decides; the window routes
// its messages here and draws nothing of it.
class SettingsWatcher {
 public:
  // Watches the keys of every source; `reread` runs on the window's thread.
  // Where Windows refuses to watch a key, the log says so and only the word
  // of a policy refresh is heard for it: other changes there are taken at
  // the next start, or after OK in the settings.
  SettingsWatcher(HWND window, std::function<void()> reread);

  // For every message the window gets; whether it was the watcher's alone.
  // `modal` while a dialog or message box of the program is open.
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool modal);
  // A dialog or message box of the program ended.
  void ModalEnded() { Carry(refresh_.OnModalEnded()); }

 private:
  void Carry(const RefreshSteps& steps);

  HWND window_;
  std::function<void()> reread_;
  SettingsRefresh refresh_;
  platform::RegistryWatch watch_;
};
