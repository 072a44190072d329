#pragma once

#include <windows.h>

#include <array>

#include "platform/win/handles.h"
#include "reader/scanner_line.h"

// The serial port as the reader thread uses it, with overlapped I/O: one
// read that completes when bytes arrive, and a wait for a break on the line.
// The port must stay open until this object is gone; its destructor
// cancels and completes whatever it still has pending.
class WinScannerLine final : public ScannerLine {
 public:
  explicit WinScannerLine(HANDLE port);
  ~WinScannerLine() override;
  WinScannerLine(const WinScannerLine&) = delete;
  WinScannerLine& operator=(const WinScannerLine&) = delete;

  Event Wait(std::optional<std::chrono::milliseconds> quietAfter, std::span<const std::uint8_t>& bytes) override;
  void RequestStop() override;

 private:
  enum class Start { Completed, Pending, Failed };
  Start StartRead(DWORD& count);
  Event Deliver(DWORD count, std::span<const std::uint8_t>& bytes);
  void BackOff();
  void StartBreakWait();
  void Finish(OVERLAPPED& overlapped, bool& pending);

  const HANDLE port_;
  platform::KernelHandle stop_;
  platform::KernelHandle readDone_;
  platform::KernelHandle eventDone_;
  OVERLAPPED readOverlapped_{};
  OVERLAPPED eventOverlapped_{};
  std::array<std::uint8_t, 256> readBuffer_{};
  DWORD eventMask_ = 0;
  bool readPending_ = false;
  bool eventWaitPending_ = false;
  // A port event wait is re-armed only once per arrival of bytes: Wine
  // aborts it within milliseconds, and re-arming at once would spin.
  bool eventWaitArmed_ = true;
  // After failures the line is tried again at retryAt_ (a tick count).
  DWORD failureDelay_ = 0;
  ULONGLONG retryAt_ = 0;
};
