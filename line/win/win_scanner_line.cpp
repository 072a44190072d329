#include "line/win/win_scanner_line.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "platform/conversions.h"
#include "platform/diagnostics.h"

namespace {

// After a failed read the line is tried again after this long, doubling:
// calm, not spinning. Failing this many times in a row, though the port
// still answers, means the device is gone all the same.
constexpr DWORD kFirstFailureDelay = 50;
constexpr DWORD kLongestFailureDelay = 400;
constexpr int kFailuresMeaningLost = 4;

platform::KernelHandle NewManualResetEvent() {
  platform::KernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) throw std::runtime_error("CreateEventW failed");
  return event;
}

}  // namespace

struct WinScannerLine::PendingIo {
  platform::KernelHandle readDone = NewManualResetEvent();
  platform::KernelHandle eventDone = NewManualResetEvent();
  platform::KernelHandle writeDone = NewManualResetEvent();
  OVERLAPPED read{};
  OVERLAPPED event{};
  OVERLAPPED write{};
  std::vector<std::uint8_t> written;
  std::array<std::uint8_t, 256> buffer{};
  DWORD eventMask = 0;
};

static_assert(comm_error::kInputQueueOverflow == CE_RXOVER && comm_error::kOverrun == CE_OVERRUN &&
              comm_error::kParity == CE_RXPARITY && comm_error::kFraming == CE_FRAME && comm_error::kBreak == CE_BREAK);

WinScannerLine::WinScannerLine(HANDLE port, std::atomic<bool>& ioLeftPending, std::wstring portName,
                               LineErrorCounter* errors)
    : port_(port),
      ioLeftPending_(ioLeftPending),
      portName_(std::move(portName)),
      errors_(errors),
      stop_(NewManualResetEvent()),
      io_(std::make_unique<PendingIo>()) {
  io_->read.hEvent = io_->readDone.get();
  io_->event.hEvent = io_->eventDone.get();
  io_->write.hEvent = io_->writeDone.get();
}

WinScannerLine::~WinScannerLine() {
  HANDLE pending[3];
  DWORD count = 0;
  if (writeStuck_) pending[count++] = io_->writeDone.get();
  if (readPending_) {
    ::CancelIoEx(port_, &io_->read);
    pending[count++] = io_->readDone.get();
  }
  if (eventWaitPending_) {
    // Setting the mask ends a pending event wait at once, as Win32
    // documents; some drivers end it no other way (Wine's on a real serial
    // device ignores the cancel). The same mask: a next line on this port
    // waits for the same events.
    ::SetCommMask(port_, kEventMask);
    ::CancelIoEx(port_, &io_->event);
    pending[count++] = io_->eventDone.get();
  }
  if (count == 0) return;
  const DWORD waited = ::WaitForMultipleObjects(count, pending, TRUE, kCancelTimeoutMs);
  if (waited >= WAIT_OBJECT_0 && waited < WAIT_OBJECT_0 + count) return;
  // The driver may still write into the buffer and the OVERLAPPEDs, and
  // signal their events, whenever it gets round to it: they stay allocated
  // for the rest of the process rather than become someone else's memory,
  // and so does the port.
  diagnostics::Failure(L"cancelling I/O on the serial port", waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : ::GetLastError());
  static_cast<void>(io_.release());
  ioLeftPending_ = true;
}

void WinScannerLine::RequestStop() { ::SetEvent(stop_.get()); }

bool WinScannerLine::Write(std::span<const std::uint8_t> bytes) {
  if (writeStuck_) {
    diagnostics::Failure(L"writing to the scanner: an earlier write is still with the driver", ERROR_BUSY);
    return false;
  }
  io_->written.assign(bytes.begin(), bytes.end());
  const auto size = static_cast<DWORD>(io_->written.size());
  DWORD done = 0;
  if (!::WriteFile(port_, io_->written.data(), size, &done, &io_->write)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      if (::WaitForSingleObject(io_->writeDone.get(), kWriteTimeoutMs) != WAIT_OBJECT_0) {
        // Gone or stalled: cancelled, never left to go out into a later
        // code's reply.
        ::CancelIoEx(port_, &io_->write);
        writeStuck_ = ::WaitForSingleObject(io_->writeDone.get(), kCancelTimeoutMs) != WAIT_OBJECT_0;
      }
      error = writeStuck_ || ::GetOverlappedResult(port_, &io_->write, &done, FALSE) ? ERROR_SUCCESS : ::GetLastError();
    }
    if (error != ERROR_SUCCESS || writeStuck_) {
      diagnostics::Failure(L"writing to the scanner", writeStuck_ ? WAIT_TIMEOUT : error);
      return false;
    }
  }
  if (done == size) return true;
  diagnostics::Failure(
      L"writing to the scanner: " + platform::IntToStr(done) + L" of " + platform::IntToStr(size) + L" bytes went",
      ERROR_TIMEOUT);
  return false;
}

WinScannerLine::Start WinScannerLine::StartRead(DWORD& count) {
  count = 0;
  if (::ReadFile(port_, io_->buffer.data(), static_cast<DWORD>(io_->buffer.size()), &count, &io_->read)) {
    // Reads wait for a first byte, so an empty one means a driver that
    // ignores the time-outs: treated as a failure, never as a reason to spin.
    return count > 0 ? Start::Completed : Start::Failed;
  }
  if (::GetLastError() != ERROR_IO_PENDING) return Start::Failed;
  readPending_ = true;
  return Start::Pending;
}

ScannerLine::Event WinScannerLine::Deliver(DWORD count, std::span<const std::uint8_t>& bytes) {
  failures_ = 0;
  failureDelay_ = 0;
  retryAt_ = 0;
  eventWaitArmed_ = true;
  // A break also shows among the error flags, on drivers and timings where
  // the event wait missed it.
  DWORD errors = 0;
  const bool cleared = ::ClearCommError(port_, &errors, nullptr);
  if (cleared && errors_) errors_->CountLineErrors(portName_, errors);
  if (cleared && (errors & CE_BREAK) != 0) return Event::Break;
  bytes = std::span<const std::uint8_t>(io_->buffer.data(), count);
  return Event::Bytes;
}

bool WinScannerLine::Failed() {
  const DWORD error = ::GetLastError();
  // Clears what a line error (a framing error at a wrong baud rate, an
  // overrun) may have left blocking the reads; failing, the device is gone.
  DWORD errors = 0;
  if (!::ClearCommError(port_, &errors, nullptr)) {
    diagnostics::Failure(L"ClearCommError", ::GetLastError());
    return true;
  }
  if (errors_) errors_->CountLineErrors(portName_, errors);
  diagnostics::Failure(L"ReadFile", error);
  if (++failures_ >= kFailuresMeaningLost) return true;
  failureDelay_ = failureDelay_ == 0 ? kFirstFailureDelay : std::min(failureDelay_ * 2, kLongestFailureDelay);
  retryAt_ = ::GetTickCount64() + failureDelay_;
  return false;
}

void WinScannerLine::StartBreakWait() {
  eventWaitArmed_ = false;
  io_->eventMask = 0;
  if (::WaitCommEvent(port_, &io_->eventMask, &io_->event)) {
    // Completed at once: collected below like a later completion.
    ::SetEvent(io_->eventDone.get());
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
          if (Failed()) return Event::Lost;
          break;
        case Start::Pending:
          break;
      }
    }
    // Not while a code is arriving: under Wine every such wait ends within
    // milliseconds and costs the code's carriage return about half a
    // millisecond; a break meanwhile still shows in the error flags.
    if (readPending_ && eventWaitArmed_ && !eventWaitPending_ && !quietAfter) StartBreakWait();

    HANDLE handles[3] = {stop_.get(), nullptr, nullptr};
    DWORD handleCount = 1;
    DWORD readIndex = MAXDWORD;
    DWORD eventIndex = MAXDWORD;
    if (readPending_) {
      readIndex = handleCount;
      handles[handleCount++] = io_->readDone.get();
    }
    if (eventWaitPending_) {
      eventIndex = handleCount;
      handles[handleCount++] = io_->eventDone.get();
    }

    ULONGLONG wakeAt = MAXULONGLONG;
    if (quietAfter) wakeAt = quietAt;
    if (!readPending_) wakeAt = std::min(wakeAt, retryAt_);
    const ULONGLONG now = ::GetTickCount64();
    const DWORD timeout = wakeAt == MAXULONGLONG ? INFINITE : static_cast<DWORD>(wakeAt > now ? wakeAt - now : 0);

    const DWORD waited = ::WaitForMultipleObjects(handleCount, handles, FALSE, timeout);
    if (waited == WAIT_FAILED) {
      // Nothing can be told about the pending operations any more; going
      // on could hand out the previous read's bytes a second time.
      diagnostics::Failure(L"WaitForMultipleObjects", ::GetLastError());
      return Event::Lost;
    }
    if (waited == WAIT_TIMEOUT) {
      if (quietAfter && ::GetTickCount64() >= quietAt) return Event::Quiet;
      continue;
    }
    const DWORD signalled = waited - WAIT_OBJECT_0;
    if (signalled == 0) return Event::Stop;
    if (signalled == readIndex) {
      readPending_ = false;
      DWORD count = 0;
      if (::GetOverlappedResult(port_, &io_->read, &count, FALSE) && count > 0) return Deliver(count, bytes);
      if (Failed()) return Event::Lost;
    } else if (signalled == eventIndex) {
      eventWaitPending_ = false;
      DWORD ignored = 0;
      if (::GetOverlappedResult(port_, &io_->event, &ignored, FALSE) && (io_->eventMask & EV_BREAK) != 0) {
        return Event::Break;
      }
    }
  }
}
