#include "line/port_settings.h"

#include "platform/conversions.h"

namespace {

template <std::size_t N>
std::uint8_t CodeOf(const std::wstring& text, const std::array<std::wstring_view, N>& texts) {
  for (std::size_t code = 0; code < N; ++code) {
    if (texts[code] == text) return static_cast<std::uint8_t>(code);
  }
  return 0;
}

void FillIfEmpty(std::wstring& text, const std::wstring& fallback) {
  if (text.empty()) text = fallback;
}

}  // namespace

bool ApplySettings(PortSettings& texts, LineParameters& line) {
  FillIfEmpty(texts.NamePort, kDefaultPortSettings.NamePort);
  FillIfEmpty(texts.BaudRate, kDefaultPortSettings.BaudRate);
  FillIfEmpty(texts.ByteSize, kDefaultPortSettings.ByteSize);
  FillIfEmpty(texts.Parity, kDefaultPortSettings.Parity);
  FillIfEmpty(texts.StopBits, kDefaultPortSettings.StopBits);

  line.portName = texts.NamePort;
  const auto baudRate = platform::StrToInt(texts.BaudRate);
  if (!baudRate) return false;
  line.baudRate = static_cast<std::uint32_t>(*baudRate);
  const auto byteSize = platform::StrToInt(texts.ByteSize);
  if (!byteSize) return false;
  line.byteSize = static_cast<std::uint8_t>(*byteSize);
  line.parity = CodeOf(texts.Parity, kParityTexts);
  line.stopBits = CodeOf(texts.StopBits, kStopBitsTexts);
  return true;
}

LineSetup LineSetupFor(const LineParameters& line) {
  return {.baudRate = line.baudRate,
          .byteSize = line.byteSize,
          .parity = line.parity,
          .stopBits = line.stopBits,
          .binary = true,
          .checkParity = line.parity != 0,  // not NOPARITY
          .outxCtsFlow = false,
          .outxDsrFlow = false,
          .dsrSensitivity = false,
          .outX = false,
          .inX = false,
          .dtrControl = LineSetup::kControlEnable,
          .rtsControl = LineSetup::kControlEnable,
          .errorChar = false,
          .null = false,
          .abortOnError = false};
}

std::wstring CommandLinePortName(std::wstring_view firstArgument) {
  if (!firstArgument.empty() && firstArgument.front() >= L'1' && firstArgument.front() <= L'8') {
    return L"COM" + std::wstring(1, firstArgument.front());
  }
  return kDefaultPortSettings.NamePort;
}

std::optional<std::wstring> SerialDevicePath(std::wstring_view portName) {
  constexpr std::wstring_view kPrefix = L"COM";
  if (portName.size() <= kPrefix.size() || portName.size() > kPrefix.size() + 3) return std::nullopt;
  for (std::size_t i = 0; i < kPrefix.size(); ++i) {
    const wchar_t lowerCase = kPrefix[i] - L'A' + L'a';
    if (portName[i] != kPrefix[i] && portName[i] != lowerCase) return std::nullopt;
  }
  const std::wstring_view digits = portName.substr(kPrefix.size());
  if (digits.front() == L'0') return std::nullopt;
  const auto number = platform::StrToInt(digits);
  if (!number || digits.front() == L'+' || digits.front() == L'-' || *number < 1 || *number > 256) {
    return std::nullopt;
  }
  return L"\\\\.\\COM" + std::wstring(digits);
}
