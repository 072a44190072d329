#include "text/code_text.h"

#include <gtest/gtest.h>

#include <string>

#include "options/typing_options.h"
#include "support/diagnostics_recorder.h"

namespace {

constexpr unsigned kAuto = TypingOptions::kAutomaticEncoding, k1251 = 1251, kUtf8 = 65001, kKoi8R = 20866;

// KOI8-R as the system knows it, for its Cyrillic letters; no other code
// page.
class FakeCodePages final : public CodePages {
 public:
  bool Knows(unsigned codePage) const override { return codePage == kKoi8R; }
  std::optional<std::wstring> Decode(unsigned codePage, std::string_view bytes) const override {
    static const std::wstring kLetters = L"юабцдефгхийклмнопярстужвьызшэщчъЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧЪ";
    if (codePage != kKoi8R) return std::nullopt;
    std::wstring text;
    for (const char byte : bytes) {
      const auto b = static_cast<std::uint8_t>(byte);
      if (b >= 0x80 && b < 0xC0) return std::nullopt;
      text += b < 0x80 ? static_cast<wchar_t>(b) : kLetters[b - 0xC0];
    }
    return text;
  }
};

// The text as a scanner set up for Russian sends it.
std::string To1251(std::wstring_view text) {
  std::string bytes;
  for (const wchar_t c : text) {
    for (int b = 1; b < 256; ++b) {
      if (FromCodePage1251(static_cast<std::uint8_t>(b)) == c) bytes += static_cast<char>(b);
    }
  }
  return bytes;
}

}  // namespace

TEST(CodeText, EachCodeIsDecodedAsItWasEncoded) {
  const struct {
    const char* what;
    unsigned configured;
    std::string bytes;
    unsigned codePage;
    std::wstring text;
  } cases[] = {
      {"payment code, UTF-8", kAuto, "ST00012|Name=ООО «Ромашка»|", kUtf8, L"ST00012|Name=ООО «Ромашка»|"},
      {"payment code, 1251", kAuto, To1251(L"ST00011|Name=ПЁТР|"), k1251, L"ST00011|Name=ПЁТР|"},
      {"payment code, KOI8-R", kAuto, "ST00013|Name=\xf0\xc5\xd4\xd2", kKoi8R, L"ST00013|Name=Петр"},
      {"payment code naming UTF-8, not UTF-8", kAuto, To1251(L"ST00012|Сумма"), k1251, L"ST00012|Сумма"},
      {"no payment header", kAuto, To1251(L"ST00014|ё"), k1251, L"ST00014|ё"},
      {"UTF-8, of two, three and four bytes", kAuto, "Histórico ¶Ж № 5 €\xf0\x9f\x98\x80", kUtf8,
       L"Histórico ¶Ж № 5 €\xD83D\xDE00"},
      {"ASCII alone", kAuto, "4006381333931", k1251, L"4006381333931"},
      {"overlong UTF-8", kAuto, "\xc0\xaf", k1251, L"АЇ"},
      {"an encoded surrogate", kAuto, "\xed\xa0\x80", k1251, L"н\u00a0Ђ"},
      {"beyond U+10FFFF", kAuto, "\xf4\x90\x80\x80", k1251, L"фђЂЂ"},
      {"a sequence cut short", kAuto, "\xe2\x84", k1251, L"в„"},
      {"СЕМЁН", kAuto, To1251(L"СЕМЁН"), k1251, L"СЕМЁН"},
      {"Ёлка", kAuto, To1251(L"Ёлка"), k1251, L"Ёлка"},
      {"ПЁТР", kAuto, To1251(L"ПЁТР"), k1251, L"ПЁТР"},
      {"ООО «Ромашка»", kAuto, To1251(L"ООО «Ромашка»"), k1251, L"ООО «Ромашка»"},
      {"1251 chosen for UTF-8", k1251, "Ж", k1251, L"Р–"},
      {"UTF-8 chosen, not UTF-8", kUtf8, To1251(L"Ёлка"), k1251, L"Ёлка"},
      {"KOI8-R chosen", kKoi8R, "\xf0\xc5\xd4\xd2", kKoi8R, L"Петр"},
      {"a code page that fails", kKoi8R, "\xa8", k1251, L"Ё"},
      {"0x98 has no character in 1251", kAuto, "5\x98", k1251, L"5"},
      {"1251's signs", kAuto, "\xb9 5 \x88", k1251, L"№ 5 €"},
      {"a byte order mark, not typed", kAuto,
       "\xef\xbb\xbf"
       "4006381333931",
       k1251, L"4006381333931"},
      {"a byte order mark before UTF-8", kAuto, "\xef\xbb\xbfST00012|Ж", kUtf8, L"ST00012|Ж"},
      {"a byte order mark, 1251 chosen", k1251,
       "\xef\xbb\xbf"
       "7\xef\xbb\xbf",
       k1251, L"7п»ї"},
      {"0xBF ends UTF-8 п", kAuto, "Оплата", kUtf8, L"Оплата"},
      {"an overlong line feed", kAuto,
       "1\xe0\x80\x8a"
       "2",
       k1251, L"1аЂЉ2"},
      {"no payment header without its |", kAuto, "ST00011Тест", kUtf8, L"ST00011Тест"},
      {"U+10000 and U+10FFFF", kAuto, "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", kUtf8, L"\xD800\xDC00\xDBFF\xDFFF"},
  };
  const FakeCodePages others;
  for (const auto& c : cases) {
    const CodeText decoded = DecodeCode(c.bytes, c.configured, others);
    EXPECT_EQ(decoded.codePage, c.codePage) << c.what;
    EXPECT_EQ(decoded.text, c.text) << c.what;
  }
}

TEST(CodeText, ACodePageTheSystemDoesNotKnowCountsAsAutomaticAndIsNoted) {
  const FakeCodePages others;
  DiagnosticsRecorder log;
  EXPECT_EQ(UsableCodePage(kKoi8R, others), kKoi8R);
  EXPECT_EQ(UsableCodePage(kUtf8, others), kUtf8);
  EXPECT_EQ(UsableCodePage(12345, others), kAuto);
  EXPECT_EQ(log.events, std::vector<std::wstring>{L"APPCFG\\Encoding = \"12345\" is not valid; the default is used"});
}
