#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "line/port_settings.h"
#include "line/scanner_line.h"

// One open serial port. Destroying it leaves the line in the break state
// and closes the port; every line it made must be gone by then.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // The port as one reader thread waits on it.
  virtual std::unique_ptr<ScannerLine> NewLine() = 0;
};

class SerialPorts {
 public:
  // Why a port could not be had; or, with an open port, what the driver
  // refused that the port reads well without (Tolerated: a fixed queue).
  struct Failure {
    enum class Step { None, Open, Setup, Tolerated };
    Step step = Step::None;
    std::wstring operation;   // the call that failed: "opening COM5", "SetCommState on COM5"
    std::uint32_t error = 0;  // the Win32 error it left
  };
  virtual ~SerialPorts() = default;
  // Opens the named port and sets the line up; null, with why, when it
  // cannot. The caller reports every failure, a tolerated one too: while a
  // lost port is retried, one line a minute says it all.
  virtual std::unique_ptr<SerialPort> Open(const LineParameters& line, Failure& failure) = 0;
};
