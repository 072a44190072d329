#pragma once

#include "line/scanner_line.h"
#include "line/serial_ports.h"

// The process's serial ports, opened through \\.\COMn with overlapped I/O.
// Their lines count their errors into `errors` when given.
class WinSerialPorts final : public SerialPorts {
 public:
  explicit WinSerialPorts(LineErrorCounter* errors = nullptr) : errors_(errors) {}
  std::unique_ptr<SerialPort> Open(const LineParameters& line, Failure& failure) override;

 private:
  LineErrorCounter* const errors_;
};
