// What the scanner monitor shows: the record of recent codes, the advice
// its counts give, and the report a help desk pastes into a ticket.
#include <gtest/gtest.h>

#include <string>

#include "app/monitor_report.h"
#include "app/restart_arguments.h"
#include "reader/recent_codes.h"
#include "settings/settings_store.h"
#include "support/memory_registry.h"

namespace {

CodeRecord Code(std::string bytes, std::wstring text, CodeRecord::Outcome outcome = CodeRecord::Outcome::Typed) {
  CodeRecord code;
  code.bytes = std::move(bytes);
  code.text = std::move(text);
  code.outcome = outcome;
  code.encoding = L"UTF-8";
  code.program = L"excel.exe";
  code.port = L"COM1";
  return code;
}

bool Has(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

}  // namespace

TEST(RecentCodesTest, KeepsTheLastFiftyNewestFirstCountsEveryCodeAndWakesTheMonitorOncePerRead) {
  RecentCodes recent;
  int wakes = 0;
  recent.Watch([&] { ++wakes; });
  for (int i = 0; i < 60; ++i) {
    CodeRecord code =
        Code(std::to_string(i), L"", i % 3 == 0 ? CodeRecord::Outcome::Dropped : CodeRecord::Outcome::Typed);
    recent.Add(code);
  }
  recent.CountLineErrors(L"COM1", comm_error::kFraming);
  recent.CountLineErrors(L"COM1", comm_error::kBreak);  // alone, as a pulled cable gives it
  recent.CountLineErrors(L"COM1", comm_error::kInputQueueOverflow);
  recent.CountLineErrors(L"com1", comm_error::kParity | comm_error::kOverrun);
  recent.CountLineErrors(L"COM1", 0x100);  // CE_TXFULL: the sending side's, not the line's
  EXPECT_EQ(wakes, 1) << "a burst wakes the monitor once";
  const std::vector<CodeRecord> newest = recent.Newest();
  ASSERT_EQ(newest.size(), RecentCodes::kKept);
  EXPECT_EQ(newest.front().bytes, "59");
  EXPECT_EQ(newest.back().bytes, "10");
  EXPECT_EQ(recent.Counts(), (LineCounts{60, 40, 20, 0, 0, 1, 1, 2, 1}));
  CodeRecord empty = Code("\r", L"", CodeRecord::Outcome::Empty);
  empty.port = L"COM3";
  recent.Add(empty);
  recent.CountLineErrors(L"COM3", comm_error::kFraming);
  EXPECT_EQ(recent.Counts(L"COM3"), (LineCounts{1, 0, 0, 1, 0, 1})) << "each port its own";
  EXPECT_EQ(recent.Counts(), (LineCounts{61, 40, 20, 1, 0, 2, 1, 2, 1}));
  EXPECT_EQ(wakes, 2) << "once read, the next change wakes it again";
  EXPECT_EQ(recent.Newest().front().outcome, CodeRecord::Outcome::Empty);
  recent.Watch(nullptr);
  recent.Add(empty);
  EXPECT_EQ(wakes, 2) << "closed, nobody is woken";
}

TEST(RecentCodesTest, ControlCharactersAreShownByTheirNames) {
  EXPECT_EQ(NamedControls(L"01\x1D"
                          L"21\r\n\t\x1B\x7Fя"),
            L"01<GS>21<CR><LF><TAB><ESC><DEL>я");
  EXPECT_EQ(ShortLineName({L"COM1", 19200, 7, 2, 2}), L"19200 7E2");
}

TEST(AdviceTest, EachStateOfTheLineHasItsAdvice) {
  const LineParameters fast{L"COM1", 19200};
  const struct {
    LineCounts counts;
    bool portOpen, held;
    const wchar_t* advice;
  } rows[] = {
      {{}, false, false, L"Порт недоступен"},
      {{5, 0, 0, 0, 0, 3}, true, false, L"Настройки линии (19200 8N1) отличаются от настроек сканера"},
      {{0, 0, 0, 0, 0, 0, 1}, true, true, L"обычно это 9600 8N1"},
      {{4, 4, 0, 0, 0, 0, 0, 2}, true, false, L"переполнение"},
      {{4, 4, 0, 0, 0, 0, 0, 0, 1}, true, false, L"разрыв"},
      {{4, 0, 4}, true, true, L"«Не вводить коды»"},
      {{}, true, false, L"Кодов ещё не было"},
      {{3, 0, 0, 3}, true, false, L"пустые строки"},
      {{3, 2, 0, 1}, true, false, L"Линия в порядке"},
  };
  for (const auto& row : rows) {
    const std::wstring advice = Advice({row.counts, row.portOpen, row.held, fast});
    EXPECT_TRUE(Has(advice, row.advice)) << &row - rows << ": " << advice;
  }
}

TEST(MonitorReportTest, ShowsOptionsWithTheirSourcesAndCodesAsThePolicyAllows) {
  MemoryRegistry registry;
  registry.keys[L"HKCU\\Software\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"Suffix", L"Tab"}};
  registry.keys[L"HKLM\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG\\Programs\\excel.exe"] = {
      {L"Prefix", L"\x1D"}};
  registry.keys[L"HKLM\\Software\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"KeyDelay", L"fast"}};
  registry.otherValues[L"HKLM\\Software\\Ombrek\\Barcode Reader\\APPCFG\\Programs\\excel.exe"][L"KeyDelay"] = {
      platform::StoredValue::Kind::Number, L"", 20};
  registry.keys[L"HKLM\\Software\\Ombrek\\Barcode Reader\\DEVICE\\Scanners\\2"] = {{L"NamePort", L"COM3"}};
  ReportFacts facts;
  facts.scanners = {{L"COM1, 9600 8N1: открыт", {}, L"Линия в порядке."}};
  facts.options = EveryOption(registry);
  facts.codes = {Code("01\x1D"
                      "21",
                      L"01\x1D"
                      L"21"),
                 Code("ab", L"ab", CodeRecord::Outcome::Dropped)};
  facts.codes[1].why = L"отмечено «Не вводить коды»";
  facts.codes[1].time = {2026, 3, 7, 9, 5, 2, 41};
  facts.logLines = {L"port opened: COM1", L"code typed, 4 bytes"};
  facts.disclosure = CodeDisclosure::Text;
  const std::wstring text = BuildReport(facts);
  EXPECT_TRUE(Has(text, L"  Suffix = «Tab» (оператор)\r\n"));
  EXPECT_TRUE(Has(text, L"  Encoding = «auto» (по умолчанию)\r\n"));
  EXPECT_TRUE(Has(text, L"  KeyDelay = «fast» — неверно, действует значение по умолчанию (компьютер)\r\n"));
  EXPECT_TRUE(Has(text, L"  excel.exe: Prefix = «<GS>» (политика компьютера)\r\n"));
  EXPECT_TRUE(Has(text, L"  excel.exe: Suffix = «Tab» (оператор)\r\n")) << "a program's general value";
  EXPECT_TRUE(Has(text, L"  excel.exe: KeyDelay = «20» (компьютер)\r\n")) << "a REG_DWORD";
  EXPECT_TRUE(Has(text, L"\r\nПорт: COM1, 9600 8N1: открыт\r\n") &&
              Has(text, L"  BaudRate = «9600» (по умолчанию)\r\n"));
  EXPECT_TRUE(Has(text, L", длина 5, UTF-8, excel.exe, введён: 01<GS>21 [30 31 1D 32 31]\r\n"));
  EXPECT_TRUE(Has(text, L"  09:05:02.041, длина 2, UTF-8, excel.exe, не введён: отмечено «Не вводить коды»: ab"));
  EXPECT_TRUE(Has(text, L"Журнал (строк: 2):\r\n  port opened: COM1\r\n  code typed, 4 bytes\r\n"));
  EXPECT_TRUE(Has(text, L"  DEVICE\\Scanners\\2: NamePort = «COM3» (компьютер)\r\n"));
  facts.scanners.push_back({L"COM3, 9600 8N1: нет связи", {}, L"Порт недоступен"});
  EXPECT_TRUE(Has(BuildReport(facts), L"Совет: Линия в порядке.\r\n\r\nПорт: COM3, 9600 8N1: нет связи\r\n"));
  EXPECT_TRUE(Has(BuildReport(facts), L"  09:05:02.041, COM1, длина 2")) << "with two scanners, each code its port";

  facts.disclosure = CodeDisclosure::LengthsOnly;
  const std::wstring lengths = BuildReport(facts);
  EXPECT_TRUE(Has(lengths, L", длина 5, UTF-8, excel.exe, введён\r\n"));
  EXPECT_FALSE(Has(lengths, L"21") || Has(lengths, L"1D")) << "no text, no bytes";
  EXPECT_EQ(ShownLength(facts.codes[0], facts.disclosure) + L"|" + ShownText(facts.codes[0], facts.disclosure) + L"|" +
                ShownBytes(facts.codes[0], facts.disclosure),
            L"5||")
      << "nor in the monitor's list";
  facts.disclosure = CodeDisclosure::Nothing;
  EXPECT_FALSE(Has(BuildReport(facts), L"длина")) << "not even a length";
}

TEST(MonitorPolicyTest, AValueThatCannotBeUsedHidesEverything) {
  MemoryRegistry registry;
  EXPECT_EQ(StoredCodeDisclosure(registry), CodeDisclosure::Text);
  registry.keys[L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"Monitor", L"no"}};
  EXPECT_EQ(StoredCodeDisclosure(registry), CodeDisclosure::Nothing);
  registry.keys[L"HKCU\\Software\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"Monitor", L"0"}};
  registry.keys[L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"].clear();
  EXPECT_EQ(StoredCodeDisclosure(registry), CodeDisclosure::Text) << "a policy's alone, not the operator's";
}

TEST(StartArgumentsTest, MonitorIsTakenOutOfWhatTheReaderReads) {
  const StartArguments start = ParseStartArguments({L"/Monitor", L"5"});
  EXPECT_TRUE(start.monitor);
  EXPECT_EQ(start.reader, std::vector<std::wstring>{L"5"}) << "/MONITOR is no port";
  EXPECT_FALSE(ParseStartArguments({L"/monitors"}).monitor);
}
