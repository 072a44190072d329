#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "keys/delivery.h"

// What Windows answers before a code's first key: the integrity level of
// the program the keys would go to and our own, and the keys the operator
// holds.

// The integrity levels UIPI compares. The target's is asked once per
// window with the keyboard focus, not for every code.
class IntegrityLevels {
 public:
  // Asks our own level and whether we run with uiAccess.
  IntegrityLevels();

  OwnIntegrity own() const { return own_; }
  // The level of the process of `window`; none when Windows will not say
  // (the log says why, once for that window).
  std::optional<std::uint32_t> Of(HWND window);

 private:
  OwnIntegrity own_;
  HWND window_ = nullptr;
  DWORD process_ = 0;
  std::optional<std::uint32_t> level_;
};

// The modifiers physically held, as GetAsyncKeyState reports them.
class SystemModifiers final : public HeldModifiers {
 public:
  std::uint8_t Held() override;
  void Pause(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
  std::chrono::milliseconds Now() override { return std::chrono::milliseconds(::GetTickCount64()); }
};
