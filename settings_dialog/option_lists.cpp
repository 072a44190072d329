#include "settings_dialog/option_lists.h"

#include <algorithm>
#include <set>
#include <string>

#include "platform/conversions.h"
#include "platform/diagnostics.h"

namespace {

std::wstring PortName(int number) { return L"COM" + platform::IntToStr(static_cast<std::uint64_t>(number)); }

// The number of a port name the reader opens, when it is written as the list
// writes it: "com12" or "COM012" could never show as selected.
std::optional<int> PortNumber(std::wstring_view name) {
  if (!SerialDevicePath(name)) return std::nullopt;
  const auto number = platform::StrToInt(name.substr(name.find_first_of(L"123456789")));
  if (!number || name != PortName(*number)) return std::nullopt;
  return number;
}

}  // namespace

namespace option_lists {
const OptionList kPort{{kPorts.begin(), kPorts.end()}, 0, &PortSettings::NamePort};
const OptionList kBaudRate{{kBaudRates.begin(), kBaudRates.end()}, 6, &PortSettings::BaudRate};
const OptionList kDataBit{{kDataBits.begin(), kDataBits.end()}, 4, &PortSettings::ByteSize};
const OptionList kParity{{kParityTexts.begin(), kParityTexts.end()}, 0, &PortSettings::Parity};
const OptionList kStopBit{{kStopBitsTexts.begin(), kStopBitsTexts.end()}, 0, &PortSettings::StopBits};
const OptionList kCodeEnd{{kCodeEnds.begin(), kCodeEnds.end()}, 0, &PortSettings::CodeEnd};
const OptionList kReplyTyped{{kRepliesTyped.begin(), kRepliesTyped.end()}, 0, &PortSettings::ReplyTyped};
const OptionList kReplyRefused{{kRepliesRefused.begin(), kRepliesRefused.end()}, 0, &PortSettings::ReplyRefused};
}  // namespace option_lists

std::size_t PositionFor(const OptionList& list, std::wstring_view text) {
  const auto entry = std::find(list.entries.begin(), list.entries.end(), text);
  return entry == list.entries.end() ? list.fallback : static_cast<std::size_t>(entry - list.entries.begin());
}

OptionList PortList(platform::Registry& registry, std::wstring_view storedPort) {
  std::vector<std::wstring> names{std::wstring(storedPort)};
  try {
    const auto present = registry.ReadAllTexts(platform::Hive::LocalMachine, option_lists::kSerialDeviceMap);
    names.insert(names.end(), present.begin(), present.end());
  } catch (const platform::RegistryError& error) {
    diagnostics::Failure(L"reading the serial device map", error.code);
  }
  std::set<int> numbers;
  for (const std::wstring& name : names) {
    if (const auto number = PortNumber(name)) numbers.insert(*number);
  }
  OptionList ports = option_lists::kPort;
  for (const int number : numbers) {
    std::wstring name = PortName(number);
    if (std::find(ports.entries.begin(), ports.entries.end(), name) == ports.entries.end()) {
      ports.entries.push_back(std::move(name));
    }
  }
  return ports;
}

OptionList WithStored(OptionList list, std::wstring_view stored, bool readable) {
  if (readable && std::find(list.entries.begin(), list.entries.end(), stored) == list.entries.end()) {
    list.entries.emplace_back(stored);
  }
  return list;
}

ScannerSettings NewScanner(const ScannerList& scanners, const OptionList& ports) {
  ScannerSettings added{ScannerSettings::kFirst, kDefaultPortSettings};
  for (const ScannerSettings& scanner : scanners) added.number = std::max(added.number, scanner.number + 1);
  for (const std::wstring& port : ports.entries) {
    const auto reads = [&](const ScannerSettings& scanner) { return SamePort(scanner.texts.NamePort, port); };
    if (std::none_of(scanners.begin(), scanners.end(), reads)) {
      added.texts.NamePort = port;
      break;
    }
  }
  return added;
}
