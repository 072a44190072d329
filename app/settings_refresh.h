#pragma once

#include <vector>

// When the program reads its settings again after a change, apart from
// Windows: the decisions are here, the window's timer and the registry
// watch carry them out.

// What is to be done.
enum class RefreshStep {
  StartTimer,  // the settling time starts again from now
  StopTimer,   // nothing runs while nothing changes
  Reread,      // the reader reads the settings and the window shows them
};
using RefreshSteps = std::vector<RefreshStep>;

class SettingsRefresh {
 public:
  // A burst of writes (a policy refresh, a .reg file) is read once, this
  // long after its last write.
  static constexpr unsigned kSettleMs = 250;

  // A watched key changed, or Windows announced a policy refresh.
  RefreshSteps OnChange();
  // The settling time is over. Under a dialog or message box of the
  // program (`modal`) the reading waits for its end: a port reopened under
  // «Настройки» could start a box of its own under it, and the dialog shows
  // what it was opened with.
  RefreshSteps OnTimer(bool modal);
  // A dialog or message box of the program ended.
  RefreshSteps OnModalEnded();

 private:
  bool changed_ = false;  // since the last reading
};

// Whether the text of a WM_SETTINGCHANGE broadcast (none when it has none)
// is Windows' word after a policy refresh.
bool AnnouncesPolicyRefresh(const wchar_t* text);
