#include "line/port_settings.h"

#include <algorithm>

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

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameLetters(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return Upper(x) == Upper(y); });
}

}  // namespace

bool SamePort(std::wstring_view a, std::wstring_view b) { return SameLetters(a, b); }

std::optional<std::string> ReadHexBytes(std::wstring_view text) {
  const auto digit = [](wchar_t c) -> int {
    c = Upper(c);
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == L' ' && !bytes.empty()) {
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || digit(text[i]) < 0 || digit(text[i + 1]) < 0) return std::nullopt;
    bytes += static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1]));
    i += 2;
  }
  return bytes;
}

std::wstring RepeatedPort(const ScannerList& scanners) {
  for (auto later = scanners.begin(); later != scanners.end(); ++later) {
    for (auto earlier = scanners.begin(); earlier != later; ++earlier) {
      if (SamePort(earlier->texts.NamePort, later->texts.NamePort)) return later->texts.NamePort;
    }
  }
  return {};
}

// A zero byte is line noise and can end nothing; any byte from 0x20 on but
// DEL is a character, or part of one, in every encoding read here (0x85
// ends UTF-8 «х»), and would cut codes inside their text.
std::optional<CodeEnd> ReadCodeEnd(std::wstring_view text) {
  if (text.empty() || SameLetters(text, L"CR")) return CodeEnd{};
  if (SameLetters(text, L"pause")) return CodeEnd{CodeEnd::Kind::Pause};
  const auto bytes = ReadHexBytes(text);
  if (!bytes || bytes->size() != 1) return std::nullopt;
  const auto byte = static_cast<std::uint8_t>(bytes->front());
  if (byte == 0x00 || (byte >= 0x20 && byte != 0x7F)) return std::nullopt;
  return byte == CodeEnd{}.byte ? CodeEnd{} : CodeEnd{CodeEnd::Kind::Byte, byte};
}

bool ApplySettings(PortSettings& texts, LineParameters& line) {
  FillIfEmpty(texts.NamePort, kDefaultPortSettings.NamePort);
  FillIfEmpty(texts.BaudRate, kDefaultPortSettings.BaudRate);
  FillIfEmpty(texts.ByteSize, kDefaultPortSettings.ByteSize);
  FillIfEmpty(texts.Parity, kDefaultPortSettings.Parity);
  FillIfEmpty(texts.StopBits, kDefaultPortSettings.StopBits);
  FillIfEmpty(texts.CodeEnd, kDefaultPortSettings.CodeEnd);

  line.portName = texts.NamePort;
  const auto baudRate = platform::StrToInt(texts.BaudRate);
  if (!baudRate) return false;
  line.baudRate = static_cast<std::uint32_t>(*baudRate);
  const auto byteSize = platform::StrToInt(texts.ByteSize);
  if (!byteSize) return false;
  line.byteSize = static_cast<std::uint8_t>(*byteSize);
  line.parity = CodeOf(texts.Parity, kParityTexts);
  line.stopBits = CodeOf(texts.StopBits, kStopBitsTexts);
  line.codeEnd = ReadCodeEnd(texts.CodeEnd).value_or(CodeEnd{});
  line.replies = {ReadHexBytes(texts.ReplyTyped).value_or(""), ReadHexBytes(texts.ReplyRefused).value_or("")};
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
