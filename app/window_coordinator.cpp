#include "app/window_coordinator.h"

namespace {

// WM_DEVICECHANGE's DBT_DEVICEARRIVAL and the header's DBT_DEVTYP_PORT.
constexpr std::uintptr_t kDeviceArrival = 0x8000;
constexpr std::uint32_t kPortDevice = 3;

constexpr wchar_t kTipSeparator[] = L" — ";
constexpr wchar_t kLinkLost[] = L": нет связи";
constexpr wchar_t kTypingHeld[] = L"коды не вводятся (монитор)";

}  // namespace

WindowSteps WindowCoordinator::LeaveModal() {
  if (modalDepth_ > 0) --modalDepth_;
  if (modalDepth_ > 0 || !exitPending_) return {};
  return {WindowStep::PostClose};
}

WindowSteps WindowCoordinator::OnCloseRequest() {
  if (!Modal()) return {WindowStep::Close};
  // The dialog or box up the stack still uses the reader.
  exitPending_ = true;
  return {WindowStep::EndModalAsCancel};
}

WindowSteps WindowCoordinator::OnEndSession(bool ending, std::uint32_t reasons) {
  if (!ending) return {};
  if ((reasons & kCloseApp) != 0) return OnCloseRequest();
  if (!Modal()) return {WindowStep::Close};
  // Windows may end the process as soon as this returns: the port is left
  // as it should be now, and the rest happens if there is time for it.
  exitPending_ = true;
  return {WindowStep::EndModalAsCancel, WindowStep::StopReading, WindowStep::ClosePort};
}

WindowSteps WindowCoordinator::OnTrayMouse(TrayMouse mouse, bool inTray) const {
  if (Modal()) {
    if (mouse == TrayMouse::LeftUp || mouse == TrayMouse::RightUp || mouse == TrayMouse::LeftDoubleClick) {
      return {WindowStep::BringModalToFront};
    }
    return {};
  }
  if (!inTray) return {};
  if (mouse == TrayMouse::LeftDoubleClick) return {WindowStep::RestoreFromTray};
  if (mouse == TrayMouse::RightDown) return {WindowStep::ShowMenu};
  return {};
}

WindowSteps WindowCoordinator::OnContextMenu() const {
  if (Modal()) return {};
  return {WindowStep::ShowMenu};
}

WindowSteps WindowCoordinator::OnTaskbarCreated(bool hiddenInTray, bool iconBack) const {
  // Hidden with no icon to come back by, it could only be ended from Task
  // Manager.
  if (hiddenInTray && !iconBack) return {WindowStep::ShowMinimized};
  return {};
}

bool IsPortArrival(std::uintptr_t event, const std::uint32_t* deviceType) {
  return event == kDeviceArrival && deviceType != nullptr && *deviceType == kPortDevice;
}

std::wstring TrayTip(const std::wstring& title, bool linkLost, const std::wstring& portName, bool typingHeld) {
  std::wstring tip = title;
  if (linkLost) tip += kTipSeparator + portName + kLinkLost;
  if (typingHeld) tip += kTipSeparator + std::wstring(kTypingHeld);
  return tip;
}
