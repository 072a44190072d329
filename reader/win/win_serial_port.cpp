#include "reader/win/win_serial_port.h"

#include <windows.h>

#include <string>

#include "platform/diagnostics.h"
#include "platform/win/handles.h"
#include "reader/win/win_scanner_line.h"

namespace {

// Queue sizes asked of the driver; a scanner code is far shorter.
constexpr DWORD kQueueSize = 256;

// The line settings as the operator knows them: "COM2 9600 8 None 1".
std::wstring Describe(const LineParameters& line) {
  const auto text = [](const auto& texts, std::size_t code) {
    return code < texts.size() ? std::wstring(texts[code]) : L"?";
  };
  return line.portName + L" " + std::to_wstring(line.baudRate) + L" " + std::to_wstring(line.byteSize) + L" " +
         text(kParityTexts, line.parity) + L" " + text(kStopBitsTexts, line.stopBits);
}

// The line as the operator chose it, and nothing left over from whatever
// program used the port before: no flow control that waits for a signal a
// scanner never sends, no character replaced or dropped, no error that
// stops reading until someone clears it.
void SetLine(DCB& state, const LineParameters& line) {
  state.BaudRate = line.baudRate;
  state.ByteSize = line.byteSize;
  state.Parity = line.parity;
  state.StopBits = line.stopBits;
  state.fBinary = TRUE;
  state.fParity = line.parity != NOPARITY;
  state.fOutxCtsFlow = FALSE;
  state.fOutxDsrFlow = FALSE;
  state.fDsrSensitivity = FALSE;
  state.fOutX = FALSE;
  state.fInX = FALSE;
  // Many scanners take their power or their go-ahead from these two.
  state.fDtrControl = DTR_CONTROL_ENABLE;
  state.fRtsControl = RTS_CONTROL_ENABLE;
  state.fErrorChar = FALSE;
  state.fNull = FALSE;
  state.fAbortOnError = FALSE;
}

class WinSerialPort final : public SerialPort {
 public:
  WinSerialPort(platform::FileHandle handle, std::wstring description)
      : handle_(std::move(handle)), description_(std::move(description)) {
    diagnostics::Event(L"port opened: " + description_);
  }
  ~WinSerialPort() override {
    ::EscapeCommFunction(handle_.get(), SETBREAK);
    handle_.reset();
    diagnostics::Event(L"port closed: " + description_);
  }

  std::unique_ptr<ScannerLine> NewLine() override { return std::make_unique<WinScannerLine>(handle_.get()); }

 private:
  platform::FileHandle handle_;
  const std::wstring description_;
};

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

  // Some drivers keep fixed queues and refuse the request; that costs nothing.
  ::SetupComm(handle.get(), kQueueSize, kQueueSize);
  DCB state{};
  state.DCBlength = sizeof state;
  const wchar_t* step = L"GetCommState";
  bool configured = ::GetCommState(handle.get(), &state);
  if (configured) {
    SetLine(state, line);
    step = L"SetCommState";
    configured = ::SetCommState(handle.get(), &state);
  }
  if (configured) {
    step = L"SetCommMask";
    configured = ::SetCommMask(handle.get(), EV_RXCHAR | EV_BREAK);
  }
  if (!configured) {
    // Reading at settings the operator did not choose would type garbage.
    const DWORD error = ::GetLastError();
    failure = {Failure::Step::Setup, std::wstring(step) + L" on " + line.portName, error};
    return nullptr;
  }
  // An error flag left from before would hold up the first read.
  DWORD errors = 0;
  ::ClearCommError(handle.get(), &errors, nullptr);
  failure = {};
  return std::make_unique<WinSerialPort>(std::move(handle), Describe(line));
}
