#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "line/scanner_line.h"
#include "platform/win/handles.h"

// The serial port as the reader thread uses it, with overlapped I/O: one
// read that completes when bytes arrive, and a wait for a break on the line.
// The port is set up with kTimeouts and kEventMask, and must stay open until
// this object is gone; its destructor cancels what it still has pending and
// waits a bounded time for that.
class WinScannerLine final : public ScannerLine {
 public:
  // `ioLeftPending` is set when the driver never completes a cancel: the
  // port must then not be closed under the I/O it may still finish. The
  // line's errors are counted into `errors`, as `portName`'s, when given.
  WinScannerLine(HANDLE port, std::atomic<bool>& ioLeftPending, std::wstring portName, LineErrorCounter* errors);
  ~WinScannerLine() override;
  WinScannerLine(const WinScannerLine&) = delete;
  WinScannerLine& operator=(const WinScannerLine&) = delete;

  Event Wait(std::optional<std::chrono::milliseconds> quietAfter, std::span<const std::uint8_t>& bytes) override;
  void RequestStop() override;
  bool Write(std::span<const std::uint8_t> bytes) override;

  // What the line needs of the port's set-up. A read waits for its first
  // byte however long that takes, then returns as soon as the line pauses
  // for a millisecond: a code is handed over as it arrives, with no
  // polling. The event wait reports bytes and breaks.
  static constexpr COMMTIMEOUTS kTimeouts{1, 0, 0, 0, 0};
  static constexpr DWORD kEventMask = EV_RXCHAR | EV_BREAK;

  // How long a cancelled operation may take to complete before its memory
  // is given up to the driver. Drivers complete a cancel within
  // milliseconds; one that has not in a second never will, and closing the
  // program must not wait on it.
  static constexpr DWORD kCancelTimeoutMs = 1000;
  // A reply of a few bytes goes out within milliseconds at any baud rate a
  // scanner uses; one that has not in this long is not going to.
  static constexpr DWORD kWriteTimeoutMs = 500;

 private:
  // What the driver writes into while an operation is pending; kept apart
  // so that it can be left to a driver that never completes a cancel.
  struct PendingIo;

  enum class Start { Completed, Pending, Failed };
  Start StartRead(DWORD& count);
  Event Deliver(DWORD count, std::span<const std::uint8_t>& bytes);
  // After a failed read: true when the device is gone, otherwise the line
  // is tried again after a pause.
  bool Failed();
  void StartBreakWait();

  const HANDLE port_;
  std::atomic<bool>& ioLeftPending_;
  const std::wstring portName_;
  LineErrorCounter* const errors_;
  platform::KernelHandle stop_;
  std::unique_ptr<PendingIo> io_;
  bool readPending_ = false;
  // A write whose cancel the driver never completed: no other write goes
  // out through its OVERLAPPED.
  bool writeStuck_ = false;
  bool eventWaitPending_ = false;
  // A port event wait is re-armed only once per arrival of bytes: Wine
  // aborts it within milliseconds, and re-arming at once would spin.
  bool eventWaitArmed_ = true;
  // Reads that failed in a row; after failures the line is tried again at
  // retryAt_ (a tick count).
  int failures_ = 0;
  DWORD failureDelay_ = 0;
  ULONGLONG retryAt_ = 0;
};
