#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "line/port_settings.h"
#include "platform/registry.h"

// The entries the settings dialog offers, each list with the entry it shows
// when a stored text is none of them (the default of that setting).
struct OptionList {
  std::vector<std::wstring> entries;
  std::size_t fallback;
  std::wstring PortSettings::*text;  // the setting the list edits
};

namespace option_lists {
inline constexpr std::array<std::wstring_view, 8> kPorts{L"COM1", L"COM2", L"COM3", L"COM4",
                                                         L"COM5", L"COM6", L"COM7", L"COM8"};
inline constexpr std::array<std::wstring_view, 15> kBaudRates{L"110",   L"300",   L"600",    L"1200",   L"2400",
                                                              L"4800",  L"9600",  L"14400",  L"19200",  L"38400",
                                                              L"56000", L"57600", L"115200", L"128000", L"256000"};
inline constexpr std::array<std::wstring_view, 5> kDataBits{L"4", L"5", L"6", L"7", L"8"};
// What ends a code: as the administrative template offers it; the replies
// of a scanner in host ACK/NAK mode, or none.
inline constexpr std::array<std::wstring_view, 4> kCodeEnds{L"CR", L"pause", L"03", L"04"};
inline constexpr std::array<std::wstring_view, 2> kRepliesTyped{L"", L"06"};
inline constexpr std::array<std::wstring_view, 2> kRepliesRefused{L"", L"15"};

extern const OptionList kPort;
extern const OptionList kBaudRate;
extern const OptionList kDataBit;
extern const OptionList kParity;
extern const OptionList kStopBit;
extern const OptionList kCodeEnd;
extern const OptionList kReplyTyped;
extern const OptionList kReplyRefused;

// Where Windows lists the serial ports present: each value's data is a port
// name such as "COM12".
inline const std::wstring kSerialDeviceMap = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
}  // namespace option_lists

// The ports to offer: COM1-COM8, then in numeric order every other port the
// device map lists and the stored port, each when it is a valid COMn. A
// device map that cannot be read adds nothing.
OptionList PortList(platform::Registry& registry, std::wstring_view storedPort);

// The list's entries, then the stored text when it is none of them and the
// line reads it (a `readable` end of code or reply), so that OK keeps it.
OptionList WithStored(OptionList list, std::wstring_view stored, bool readable);

// A scanner to add to the list: the next number, the line's defaults and the
// first port of `ports` no scanner of the list reads.
ScannerSettings NewScanner(const ScannerList& scanners, const OptionList& ports);

// The position to select for a text: the entry that equals it exactly (the
// reader compares texts case-sensitively too, so what the dialog shows is
// what the reader applies), otherwise the list's fallback.
std::size_t PositionFor(const OptionList& list, std::wstring_view text);
