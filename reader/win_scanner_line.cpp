#include "reader/win_scanner_line.h"

#include <algorithm>
#include <stdexcept>

namespace {

// After a failed read (a USB adapter pulled, the far end gone) the line is
// tried again after this long, doubling up to a second: calm, not spinning.
constexpr DWORD kFirstFailureDelay = 50;
constexpr DWORD kLongestFailureDelay = 1000;

platform::KernelHandle NewManualResetEvent() {
  platform::KernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) throw std::runtime_error("CreateEventW failed");
  return event;
}

}  // namespace

WinScannerLine::WinScannerLine(HANDLE port)
    : port_(port), stop_(NewManualResetEvent()), readDone_(NewManualResetEvent()), eventDone_(NewManualResetEvent()) {
  readOverlapped_.hEvent = readDone_.get();
  eventOverlapped_.hEvent = eventDone_.get();
  // A read waits for its first byte however long that takes, then returns
  // as soon as the line pauses for a millisecond: a code is handed over as
  // it arrives, with no polling.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 1;
  ::SetCommTimeouts(port_, &timeouts);
}

WinScannerLine::~WinScannerLine() {
  Finish(readOverlapped_, readPending_);
  Finish(eventOverlapped_, eventWaitPending_);
}

void WinScannerLine::RequestStop() { ::SetEvent(stop_.get()); }

void WinScannerLine::Finish(OVERLAPPED& overlapped, bool& pending) {
  if (!pending) return;
  ::CancelIoEx(port_, &overlapped);
  DWORD ignored = 0;
  // The driver may still write into the buffers until it has completed.
  ::GetOverlappedResult(port_, &overlapped, &ignored, TRUE);
  pending = false;
}

WinScannerLine::Start WinScannerLine::StartRead(DWORD& count) {
  count = 0;
  if (::ReadFile(port_, readBuffer_.data(), static_cast<DWORD>(readBuffer_.size()), &count, &readOverlapped_)) {
    // Reads wait for a first byte, so an empty one means a driver that
    // ignores the time-outs: treated as a failure, never as a reason to spin.
    return count > 0 ? Start::Completed : Start::Failed;
  }
  if (::GetLastError() != ERROR_IO_PENDING) return Start::Failed;
  readPending_ = true;
  return Start::Pending;
}

ScannerLine::Event WinScannerLine::Deliver(DWORD count, std::span<const std::uint8_t>& bytes) {
  failureDelay_ = 0;
  retryAt_ = 0;
  eventWaitArmed_ = true;
  // A break also shows among the error flags, on drivers and timings where
  // the event wait missed it.
  DWORD errors = 0;
  if (::ClearCommError(port_, &errors, nullptr) && (errors & CE_BREAK) != 0) return Event::Break;
  bytes = std::span<const std::uint8_t>(readBuffer_.data(), count);
  return Event::Bytes;
}

void WinScannerLine::BackOff() {
  failureDelay_ = failureDelay_ == 0 ? kFirstFailureDelay : std::min(failureDelay_ * 2, kLongestFailureDelay);
  retryAt_ = ::GetTickCount64() + failureDelay_;
}

void WinScannerLine::StartBreakWait() {
  eventWaitArmed_ = false;
  eventMask_ = 0;
  if (::WaitCommEvent(port_, &eventMask_, &eventOverlapped_)) {
    // Completed at once: collected below like a later completion.
    ::SetEvent(eventDone_.get());
    eventWaitPending_ = true;
  } else if (::GetLastError() == ERROR_IO_PENDING) {
    eventWaitPending_ = true;
  }
}

ScannerLine::Event WinScannerLine::Wait(std::optional<std::chrono::milliseconds> quietAfter,
                                        std::span<const std::uint8_t>& bytes) {
  const ULONGLONG quietAt = quietAfter ? ::GetTickCount64() + quietAfter->count() : 0;
  for (;;) {
    if (!readPending_ && ::GetTickCount64() >= retryAt_) {
      DWORD count = 0;
      switch (StartRead(count)) {
        case Start::Completed:
          return Deliver(count, bytes);
        case Start::Failed:
          BackOff();
          break;
        case Start::Pending:
          break;
      }
    }
    if (readPending_ && eventWaitArmed_ && !eventWaitPending_) StartBreakWait();

    HANDLE handles[3] = {stop_.get(), nullptr, nullptr};
    DWORD handleCount = 1;
    DWORD readIndex = MAXDWORD;
    DWORD eventIndex = MAXDWORD;
    if (readPending_) {
      readIndex = handleCount;
      handles[handleCount++] = readDone_.get();
    }
    if (eventWaitPending_) {
      eventIndex = handleCount;
      handles[handleCount++] = eventDone_.get();
    }

    ULONGLONG wakeAt = MAXULONGLONG;
    if (quietAfter) wakeAt = quietAt;
    if (!readPending_) wakeAt = std::min(wakeAt, retryAt_);
    const ULONGLONG now = ::GetTickCount64();
    const DWORD timeout = wakeAt == MAXULONGLONG ? INFINITE : static_cast<DWORD>(wakeAt > now ? wakeAt - now : 0);

    const DWORD signalled = ::WaitForMultipleObjects(handleCount, handles, FALSE, timeout) - WAIT_OBJECT_0;
    if (signalled == 0) return Event::Stop;
    if (signalled == readIndex) {
      readPending_ = false;
      DWORD count = 0;
      if (::GetOverlappedResult(port_, &readOverlapped_, &count, FALSE) && count > 0) return Deliver(count, bytes);
      BackOff();
    } else if (signalled == eventIndex) {
      eventWaitPending_ = false;
      DWORD ignored = 0;
      if (::GetOverlappedResult(port_, &eventOverlapped_, &ignored, FALSE) && (eventMask_ & EV_BREAK) != 0) {
        return Event::Break;
      }
    } else if (quietAfter && ::GetTickCount64() >= quietAt) {
      return Event::Quiet;
    }
  }
}
