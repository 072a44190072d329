#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "options/typing_options.h"

// One scanner's line as the operator sees and stores it: the port, its
// four settings, what ends a code on it and what is written back to the
// scanner (in hex) once a code is typed or refused.
struct PortSettings {
  std::wstring NamePort;
  std::wstring BaudRate;
  std::wstring ByteSize;
  std::wstring Parity;
  std::wstring StopBits;
  std::wstring CodeEnd;
  std::wstring ReplyTyped{};
  std::wstring ReplyRefused{};

  bool operator==(const PortSettings&) const = default;
};

inline const PortSettings kDefaultPortSettings{L"COM1", L"9600", L"8", L"None", L"1", L"CR", L"", L""};

// A scanner of the computer: the first is DEVICE's (number 1), each further
// one is DEVICE\Scanners\<number>, numbered from 2.
struct ScannerSettings {
  static constexpr unsigned kFirst = 1;
  unsigned number = kFirst;
  PortSettings texts;

  bool operator==(const ScannerSettings&) const = default;
};
// The first scanner first, then the further ones by number.
using ScannerList = std::vector<ScannerSettings>;

// Whether two port names open the same port: Windows reads them without
// regard to case.
bool SamePort(std::wstring_view a, std::wstring_view b);
// The first port a later scanner of the list names as an earlier one does;
// empty when each port is named once.
std::wstring RepeatedPort(const ScannerList& scanners);

// What ends a code on the line: a carriage return, a line break after which
// the line stays quiet, or the one byte a scanner is set to send.
struct CodeEnd {
  enum class Kind { CarriageReturn, Pause, Byte };
  Kind kind = Kind::CarriageReturn;
  std::uint8_t byte = 0x0D;  // the byte that ends a code, for Kind::Byte

  bool operator==(const CodeEnd&) const = default;
};

// "CR" (or empty), "pause", or the two hex digits of the control byte a
// scanner ends its codes with, in any case; none for any other text.
std::optional<CodeEnd> ReadCodeEnd(std::wstring_view text);

// Bytes as scanner manuals write them: two hex digits each, a space
// between them or not ("06", "1B 07", "1b07"); none for anything else.
std::optional<std::string> ReadHexBytes(std::wstring_view text);

// The Parity and StopBits texts the reader knows; the position of a text is
// its DCB code (NOPARITY..SPACEPARITY, ONESTOPBIT..TWOSTOPBITS).
inline constexpr std::array<std::wstring_view, 5> kParityTexts{L"None", L"Odd", L"Even", L"Mark", L"Space"};
inline constexpr std::array<std::wstring_view, 3> kStopBitsTexts{L"1", L"1.5", L"2"};

// The numeric form the port is opened with. Parity and stop bits use the
// codes of the Win32 DCB (NOPARITY..SPACEPARITY, ONESTOPBIT..TWOSTOPBITS).
struct LineParameters {
  std::wstring portName = kDefaultPortSettings.NamePort;
  std::uint32_t baudRate = 9600;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;
  std::uint8_t stopBits = 0;
  CodeEnd codeEnd{};
  Replies replies{};

  bool operator==(const LineParameters&) const = default;
};

// The fields of the Win32 DCB that the reader decides, with their DCB
// codes; the rest of the DCB stays as the driver gives it.
struct LineSetup {
  // fDtrControl and fRtsControl: the signal raised while the port is open.
  static constexpr std::uint8_t kControlEnable = 1;  // DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE

  std::uint32_t baudRate = 0;
  std::uint8_t byteSize = 0;
  std::uint8_t parity = 0;
  std::uint8_t stopBits = 0;
  bool binary = false;
  bool checkParity = false;
  bool outxCtsFlow = false;
  bool outxDsrFlow = false;
  bool dsrSensitivity = false;
  bool outX = false;
  bool inX = false;
  std::uint8_t dtrControl = 0;
  std::uint8_t rtsControl = 0;
  bool errorChar = false;
  bool null = false;
  bool abortOnError = false;

  bool operator==(const LineSetup&) const = default;
};

// The line as the operator chose it, and nothing left over from whatever
// program used the port before: no flow control that waits for a signal a
// scanner never sends, no character replaced or dropped, no error that
// stops reading until someone clears it; DTR and RTS raised, as many
// scanners take their power or their go-ahead from them.
LineSetup LineSetupFor(const LineParameters& line);

// Fills empty texts with their defaults and derives the line parameters
// from the texts. A text that is not a number stops the derivation there:
// the result is false and the parameters from that one on keep their values;
// an end of code it cannot read is a carriage return.
bool ApplySettings(PortSettings& texts, LineParameters& line);

// The port selected by the first command-line argument: its first character
// '1'..'8' picks COM1..COM8, anything else (an empty argument too) COM1.
std::wstring CommandLinePortName(std::wstring_view firstArgument);

// The device path that opens a port name of the form COMn (n from 1 to 256,
// any letter case), valid for COM10 and above too. Any other name (a file,
// a pipe, a share) has none, so that a tampered setting opens nothing.
std::optional<std::wstring> SerialDevicePath(std::wstring_view portName);
