#include "app/settings_refresh.h"

#include <string_view>

RefreshSteps SettingsRefresh::OnChange() {
  changed_ = true;
  return {RefreshStep::StartTimer};
}

RefreshSteps SettingsRefresh::OnTimer(bool modal) {
  // A timer message already queued when the timer stopped reads nothing.
  if (!changed_ || modal) return {RefreshStep::StopTimer};
  changed_ = false;
  return {RefreshStep::StopTimer, RefreshStep::Reread};
}

RefreshSteps SettingsRefresh::OnModalEnded() {
  if (!changed_) return {};
  return {RefreshStep::StartTimer};
}

bool AnnouncesPolicyRefresh(const wchar_t* text) { return text != nullptr && std::wstring_view(text) == L"Policy"; }
