#pragma once

#include "reader/reader_parts.h"
#include "reader/recent_codes.h"

// The process's serial ports, opened through \\.\COMn with overlapped I/O.
// Their lines count their errors into `recent` when given.
class WinSerialPorts final : public SerialPorts {
 public:
  explicit WinSerialPorts(RecentCodes* recent = nullptr) : recent_(recent) {}
  std::unique_ptr<SerialPort> Open(const LineParameters& line, Failure& failure) override;

 private:
  RecentCodes* const recent_;
};
