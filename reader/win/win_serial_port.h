#pragma once

#include "reader/reader_parts.h"

// The process's serial ports, opened through \\.\COMn with overlapped I/O.
class WinSerialPorts final : public SerialPorts {
 public:
  std::unique_ptr<SerialPort> Open(const LineParameters& line, Failure& failure) override;
};
