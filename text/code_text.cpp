#include "text/code_text.h"

#include <array>

#include "options/typing_options.h"
#include "platform/conversions.h"
#include "platform/diagnostics.h"

namespace {

// Code page 1251 from 0x80 to 0xBF; from 0xC0 on it runs А..я in order.
constexpr std::array<wchar_t, 64> kCodePage1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

constexpr unsigned kKoi8R = 20866;

// Walks UTF-8 as the Unicode standard's table of well-formed sequences
// has it, appending UTF-16 to `out` when one is given. False at the first
// ill-formed byte.
bool ScanUtf8(std::string_view bytes, std::wstring* out, bool& multiByte) {
  multiByte = false;
  const std::size_t size = bytes.size();
  for (std::size_t i = 0; i < size;) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    if (lead < 0x80) {
      if (out) out->push_back(lead);
      ++i;
      continue;
    }
    std::size_t length;
    std::uint8_t low = 0x80, high = 0xBF;  // the second byte's range
    std::uint32_t codePoint;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      codePoint = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      codePoint = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
      return false;
    }
    if (size - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(bytes[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (out) {
      if (codePoint < 0x10000) {
        out->push_back(static_cast<wchar_t>(codePoint));
      } else {
        codePoint -= 0x10000;
        out->push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
        out->push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
      }
    }
    multiByte = true;
    i += length;
  }
  return true;
}

// The code page a Russian payment code's header names: `ST0001`, then 1
// (windows-1251), 2 (UTF-8) or 3 (KOI8-R), then the first separator.
std::optional<unsigned> PaymentCodePage(std::string_view code) {
  if (code.size() < 8 || !code.starts_with("ST0001") || code[7] != '|') return std::nullopt;
  switch (code[6]) {
    case '1':
      return TypingOptions::kWindows1251;
    case '2':
      return TypingOptions::kUtf8;
    case '3':
      return kKoi8R;
    default:
      return std::nullopt;
  }
}

std::wstring DecodeCodePage1251(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (const char byte : bytes) {
    // 0x98 has no character: nothing is typed for it.
    if (const wchar_t c = FromCodePage1251(static_cast<std::uint8_t>(byte)); c != 0 || byte == 0) text.push_back(c);
  }
  return text;
}

}  // namespace

unsigned ChooseCodePage(std::string_view code, unsigned configured) {
  if (configured != TypingOptions::kAutomaticEncoding) return configured;
  if (const auto named = PaymentCodePage(code)) return *named;
  bool multiByte = false;
  return ScanUtf8(code, nullptr, multiByte) && multiByte ? TypingOptions::kUtf8 : TypingOptions::kWindows1251;
}

CodeText DecodeCode(std::string_view code, unsigned configured, const CodePages& others) {
  // Some scanners and label printers mark UTF-8 text so: the mark is not
  // part of the code, and typed it would be an invisible first character.
  if (code.starts_with("\xEF\xBB\xBF")) code.remove_prefix(3);
  const unsigned codePage = ChooseCodePage(code, configured);
  if (codePage == TypingOptions::kUtf8) {
    if (auto text = FromUtf8(code)) return {std::move(*text), codePage};
  } else if (codePage != TypingOptions::kWindows1251) {
    if (auto text = others.Decode(codePage, code)) return {std::move(*text), codePage};
  }
  return {DecodeCodePage1251(code), TypingOptions::kWindows1251};
}

unsigned UsableCodePage(unsigned configured, const CodePages& others) {
  if (configured == TypingOptions::kAutomaticEncoding || configured == TypingOptions::kWindows1251 ||
      configured == TypingOptions::kUtf8 || others.Knows(configured)) {
    return configured;
  }
  diagnostics::Event(L"APPCFG\\Encoding = \"" + platform::IntToStr(configured) +
                     L"\" is not valid; the default is used");
  return TypingOptions::kAutomaticEncoding;
}

wchar_t FromCodePage1251(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xC0) return kCodePage1251High[byte - 0x80];
  return static_cast<wchar_t>(0x0410 + (byte - 0xC0));
}

std::optional<std::wstring> FromUtf8(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  bool multiByte = false;
  if (!ScanUtf8(bytes, &text, multiByte)) return std::nullopt;
  return text;
}

std::wstring CodePageName(unsigned codePage) {
  if (codePage == TypingOptions::kUtf8) return L"UTF-8";
  return L"code page " + platform::IntToStr(codePage);
}
