#include "app/win/settings_watcher.h"

#include "settings/option_table.h"

namespace {

// A key the settings are read from has changed; wParam says which.
constexpr UINT WM_SETTINGSCHANGED = WM_APP + 102;
// Beside the window's other timers.
constexpr UINT_PTR kSettingsTimer = 2;

}  // namespace

SettingsWatcher::SettingsWatcher(HWND window, std::function<void()> reread)
    : window_(window), reread_(std::move(reread)), watch_(window, WM_SETTINGSCHANGED, option_table::SourceKeys()) {}

bool SettingsWatcher::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool modal) {
  switch (message) {
    case WM_SETTINGSCHANGED:
      if (watch_.Rearm(wParam)) Carry(refresh_.OnChange());
      return true;
    case WM_SETTINGCHANGE:
      // Windows' word after a policy refresh; the broadcast goes on to the
      // window's default handling.
      if (AnnouncesPolicyRefresh(reinterpret_cast<const wchar_t*>(lParam))) Carry(refresh_.OnChange());
      return false;
    case WM_TIMER:
      if (wParam != kSettingsTimer) return false;
      Carry(refresh_.OnTimer(modal));
      return true;
  }
  return false;
}

void SettingsWatcher::Carry(const RefreshSteps& steps) {
  for (const RefreshStep step : steps) {
    switch (step) {
      case RefreshStep::StartTimer:
        ::SetTimer(window_, kSettingsTimer, SettingsRefresh::kSettleMs, nullptr);  // again from now
        break;
      case RefreshStep::StopTimer:
        ::KillTimer(window_, kSettingsTimer);
        break;
      case RefreshStep::Reread:
        reread_();
        break;
    }
  }
}
