#include "line/win/win_serial_port.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "line/win/win_scanner_line.h"
#include "platform/diagnostics.h"
#include "platform/system_events.h"
#include "platform/win/handles.h"

namespace {

// The receive queue asked of the driver: while a paced code types (150
// characters at 20 ms take 3 s) nobody reads, and what the scanner sends
// meanwhile waits here, many codes over. serial.sys empties the UART's FIFO
// into this queue whether a read is pending or not, and grows the queue on
// request; USB adapters' drivers fetch into buffers of their own. A thread
// reading on during the typing would hold any amount, but would put a
// hand-over between threads into every code's way to the window.
constexpr DWORD kReceiveQueue = 16 * 1024;
constexpr DWORD kTransmitQueue = 256;

// The line settings as the operator knows them: "COM2 9600 8 None 1".
std::wstring Describe(const LineParameters& line) {
  const auto text = [](const auto& texts, std::size_t code) {
    return code < texts.size() ? std::wstring(texts[code]) : L"?";
  };
  return line.portName + L" " + std::to_wstring(line.baudRate) + L" " + std::to_wstring(line.byteSize) + L" " +
         text(kParityTexts, line.parity) + L" " + text(kStopBitsTexts, line.stopBits);
}

static_assert(LineSetup::kControlEnable == DTR_CONTROL_ENABLE && LineSetup::kControlEnable == RTS_CONTROL_ENABLE);

// The decided fields into the driver's DCB; the rest stays as the driver
// gave it.
void SetLine(DCB& state, const LineSetup& setup) {
  state.BaudRate = setup.baudRate;
  state.ByteSize = setup.byteSize;
  state.Parity = setup.parity;
  state.StopBits = setup.stopBits;
  state.fBinary = setup.binary;
  state.fParity = setup.checkParity;
  state.fOutxCtsFlow = setup.outxCtsFlow;
  state.fOutxDsrFlow = setup.outxDsrFlow;
  state.fDsrSensitivity = setup.dsrSensitivity;
  state.fOutX = setup.outX;
  state.fInX = setup.inX;
  state.fDtrControl = setup.dtrControl;
  state.fRtsControl = setup.rtsControl;
  state.fErrorChar = setup.errorChar;
  state.fNull = setup.null;
  state.fAbortOnError = setup.abortOnError;
}

class WinSerialPort final : public SerialPort {
 public:
  WinSerialPort(platform::FileHandle handle, std::wstring name, std::wstring description, LineErrorCounter* errors)
      : handle_(std::move(handle)), name_(std::move(name)), description_(std::move(description)), errors_(errors) {
    diagnostics::Event(L"port opened: " + description_);
  }
  ~WinSerialPort() override {
    if (ioLeftPending_) {
      // A driver that never completed a cancel may never complete a close
      // or a break either, and may still write into what the I/O left
      // behind: the handle is left to the end of the process.
      static_cast<void>(handle_.release());
      diagnostics::Event(L"port left open, its driver never completed a cancel: " + description_);
      system_events::Report({system_events::Id::DriverHung, {description_}, {}});
      return;
    }
    ::EscapeCommFunction(handle_.get(), SETBREAK);
    handle_.reset();
    diagnostics::Event(L"port closed: " + description_);
  }

  std::unique_ptr<ScannerLine> NewLine() override {
    return std::make_unique<WinScannerLine>(handle_.get(), ioLeftPending_, name_, errors_);
  }

 private:
  platform::FileHandle handle_;
  const std::wstring name_;
  const std::wstring description_;
  LineErrorCounter* const errors_;
  std::atomic<bool> ioLeftPending_{false};  // set by a line, read once its lines are gone
};

// The whole line, set up in one place: the first call the driver refuses
// is given back with its error, and the port is then not read at all. Logs
// nothing itself: a port that is away would write a line per retry.
SerialPorts::Failure SetUpLine(HANDLE port, const LineParameters& line) {
  using Step = SerialPorts::Failure::Step;
  const auto refused = [&](const wchar_t* step, Step how = Step::Setup) {
    const DWORD error = ::GetLastError();
    return SerialPorts::Failure{how, std::wstring(step) + L" on " + line.portName, error};
  };
  // A driver with a fixed queue refuses the size and still reads well.
  SerialPorts::Failure tolerated;
  if (!::SetupComm(port, kReceiveQueue, kTransmitQueue)) tolerated = refused(L"SetupComm", Step::Tolerated);
  DCB state{};
  state.DCBlength = sizeof state;
  if (!::GetCommState(port, &state)) return refused(L"GetCommState");
  SetLine(state, LineSetupFor(line));
  if (!::SetCommState(port, &state)) return refused(L"SetCommState");
  COMMTIMEOUTS timeouts = WinScannerLine::kTimeouts;
  if (!::SetCommTimeouts(port, &timeouts)) return refused(L"SetCommTimeouts");
  if (!::SetCommMask(port, WinScannerLine::kEventMask)) return refused(L"SetCommMask");
  // An error flag left from before would hold up the first read.
  DWORD errors = 0;
  if (!::ClearCommError(port, &errors, nullptr)) return refused(L"ClearCommError");
  return tolerated;
}

}  // namespace

std::unique_ptr<SerialPort> WinSerialPorts::Open(const LineParameters& line, Failure& failure) {
  const auto devicePath = SerialDevicePath(line.portName);
  if (!devicePath) {
    failure = {Failure::Step::Open, L"not a serial port name: " + line.portName, ERROR_INVALID_NAME};
    return nullptr;
  }
  platform::FileHandle handle(::CreateFileW(devicePath->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!handle) {
    const DWORD error = ::GetLastError();
    failure = {Failure::Step::Open, L"opening " + line.portName, error};
    return nullptr;
  }
  failure = SetUpLine(handle.get(), line);
  // Reading at settings the operator did not choose would type garbage.
  if (failure.step != Failure::Step::None && failure.step != Failure::Step::Tolerated) return nullptr;
  return std::make_unique<WinSerialPort>(std::move(handle), line.portName, Describe(line), errors_);
}
