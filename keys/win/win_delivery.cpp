#include "keys/win/win_delivery.h"

#include <vector>

#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/win/handles.h"

namespace {

// The last sub-authority of the token's integrity SID.
std::optional<std::uint32_t> TokenLevel(HANDLE token) {
  DWORD size = 0;
  ::GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  if (size == 0) return std::nullopt;
  std::vector<DWORD> label((size + sizeof(DWORD) - 1) / sizeof(DWORD));  // aligned for the SID inside
  if (!::GetTokenInformation(token, TokenIntegrityLevel, label.data(), size, &size)) return std::nullopt;
  const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  if (count == 0) return std::nullopt;
  return *::GetSidSubAuthority(sid, count - 1);
}

}  // namespace

IntegrityLevels::IntegrityLevels() {
  platform::KernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    diagnostics::Failure(L"asking our own integrity level", ::GetLastError());
    return;
  }
  if (const auto level = TokenLevel(token.get())) own_.level = *level;
  DWORD uiAccess = 0;
  DWORD size = sizeof uiAccess;
  own_.uiAccess = ::GetTokenInformation(token.get(), TokenUIAccess, &uiAccess, size, &size) && uiAccess != 0;
}

std::optional<std::uint32_t> IntegrityLevels::Of(HWND window) {
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (window == window_ && process == process_) return level_;
  window_ = window;
  process_ = process;
  level_.reset();
  platform::KernelHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process));
  platform::KernelHandle token;
  if (handle && ::OpenProcessToken(handle.get(), TOKEN_QUERY, token.put())) level_ = TokenLevel(token.get());
  if (!level_) {
    diagnostics::Failure(L"asking the integrity level of process " + platform::IntToStr(process), ::GetLastError());
  }
  return level_;
}

std::uint8_t SystemModifiers::Held() {
  const auto down = [](int key) { return (::GetAsyncKeyState(key) & 0x8000) != 0; };
  std::uint8_t held = 0;
  if (down(VK_CONTROL)) held |= modifier::kCtrl;
  if (down(VK_MENU)) held |= modifier::kAlt;
  if (down(VK_SHIFT)) held |= modifier::kShift;
  if (down(VK_LWIN) || down(VK_RWIN)) held |= modifier::kWin;
  return held;
}
