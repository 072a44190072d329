#pragma once

#include <string>

// The simulated scanner of the test run: a server on the Linux side that
// puts a fresh pseudo-terminal behind a COM port and plays the scanner's
// end of the line.
class ScannerSim {
 public:
  ScannerSim();
  ~ScannerSim();
  ScannerSim(const ScannerSim&) = delete;
  ScannerSim& operator=(const ScannerSim&) = delete;

  struct LineState {
    int baud = 0;
    int stopBits = 0;
  };

  // A new pty behind COMn; the previous one of that port goes away.
  void Open(int port);
  // What the program under test configured on the line.
  LineState Termios(int port);
  void Write(int port, const std::string& bytes);
  // What the program wrote to the port since the last read.
  std::string Read(int port);
  // Presses or lets go of a key on the X server's keyboard, as the
  // operator's hand does (an X keysym: "Control_L").
  void Key(bool down, const std::string& keysym);
  // Writes as fast as a real line at this baud rate carries the bytes.
  void Pace(int port, int baud, const std::string& bytes);
  // The far end goes away; the port's name still points at it.
  void Close(int port);
  // Nothing behind the port's name at all.
  void Unmap(int port);
  // The machine's own serial device behind the port (Wine's default COM1),
  // where the machine has one.
  bool AttachHostSerial(int port);

 private:
  std::string Request(const std::string& line);

  unsigned long long socket_;
};
