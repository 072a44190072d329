#include "app/monitor_report.h"

#include <array>

#include "platform/conversions.h"
#include "settings/option_table.h"

namespace {

// In the order of option_table::Source.
constexpr std::array<std::wstring_view, 5> kSourceNames{L"политика компьютера", L"политика пользователя", L"оператор",
                                                        L"компьютер", L"по умолчанию"};
static_assert(static_cast<std::size_t>(option_table::Source::Default) + 1 == kSourceNames.size());

std::wstring ValueText(const option_table::Row& row, const option_table::Found& found) {
  using Kind = platform::StoredValue::Kind;
  std::wstring text = std::wstring(row.defaultText);
  if (found.value && found.value->kind == Kind::Text) text = found.value->text;
  if (found.value && found.value->kind == Kind::Number) text = platform::IntToStr(found.value->number);
  if (found.value && (found.value->kind == Kind::TooLong || found.value->kind == Kind::OtherType)) {
    text = option_table::DescribeStoredValue(*found.value);
  }
  text = L"«" + NamedControls(text) + L"»";
  if (!found.valid) text += L" — неверно, действует значение по умолчанию";
  return text;
}

OptionShown Shown(platform::Registry& registry, const option_table::Row& row, const std::wstring& program,
                  unsigned scanner) {
  option_table::Options ignored;
  const option_table::Found found = option_table::Resolve(registry, row, ignored, program, scanner);
  return {std::wstring(row.name), scanner == ScannerSettings::kFirst ? program : option_table::ScannerSection(scanner),
          ValueText(row, found), std::wstring(kSourceNames[static_cast<int>(found.source)])};
}

}  // namespace

std::vector<OptionShown> OptionsWithSources(platform::Registry& registry, const std::wstring& program) {
  std::vector<OptionShown> shown;
  for (const option_table::Row& row : option_table::Rows()) {
    if (!program.empty() && !row.PerProgram()) continue;
    shown.push_back(Shown(registry, row, program, ScannerSettings::kFirst));
  }
  return shown;
}

std::vector<OptionShown> LineOptions(platform::Registry& registry, unsigned scanner) {
  std::vector<OptionShown> shown;
  for (const option_table::Row& row : option_table::Rows()) {
    if (row.lineText) shown.push_back(Shown(registry, row, {}, scanner));
  }
  return shown;
}

std::vector<OptionShown> EveryOption(platform::Registry& registry) {
  std::vector<OptionShown> every = OptionsWithSources(registry);
  for (const std::wstring& program : option_table::ProgramsWithOptions(registry)) {
    const std::vector<OptionShown> own = OptionsWithSources(registry, program);
    every.insert(every.end(), own.begin(), own.end());
  }
  for (const auto& scanner : option_table::FurtherScanners(registry)) {
    const std::vector<OptionShown> line = LineOptions(registry, scanner.number);
    every.insert(every.end(), line.begin(), line.end());
  }
  return every;
}

std::wstring OptionsLine(const std::vector<OptionShown>& options) {
  std::wstring line;
  for (const OptionShown& option : options) {
    if (!line.empty()) line += L"; ";
    line += option.name + L" " + option.value + L" (" + option.source + L")";
  }
  return line;
}

std::wstring TimeText(const diagnostics::LocalTime& time) {
  return platform::IntToStr(time.hour, 2) + L":" + platform::IntToStr(time.minute, 2) + L":" +
         platform::IntToStr(time.second, 2) + L"." + platform::IntToStr(time.millisecond, 3);
}

std::wstring ShownLength(const CodeRecord& code, CodeDisclosure disclosure) {
  return disclosure == CodeDisclosure::Nothing ? L"" : platform::IntToStr(code.bytes.size());
}

std::wstring ShownText(const CodeRecord& code, CodeDisclosure disclosure) {
  return disclosure == CodeDisclosure::Text ? NamedControls(code.text) : L"";
}

std::wstring ShownBytes(const CodeRecord& code, CodeDisclosure disclosure) {
  return disclosure == CodeDisclosure::Text ? diagnostics::Hex(code.bytes) : L"";
}

std::wstring CountsText(const LineCounts& counts) {
  using platform::IntToStr;
  return L"ошибки кадра: " + IntToStr(counts.framing) + L", чётности: " + IntToStr(counts.parity) +
         L", переполнения: " + IntToStr(counts.overrun) + L", разрывы: " + IntToStr(counts.breaks) + L"; кодов: " +
         IntToStr(counts.codes) + L" (введено " + IntToStr(counts.typed) + L", не введено " + IntToStr(counts.dropped) +
         L", пустых " + IntToStr(counts.empty) + L", отклонено " + IntToStr(counts.rejected) + L", прервано " +
         IntToStr(counts.cut) + L")";
}

std::wstring BuildReport(const ReportFacts& facts) {
  std::wstring report = L"Отчёт драйвера сканера штрих-кода\r\nВерсия: " + facts.version + L"\r\nWindows: " +
                        facts.windows + L"\r\nРаскладка клавиатуры: " + facts.layout + L"\r\n";
  for (const ScannerFacts& scanner : facts.scanners) {
    report += L"\r\nПорт: " + scanner.port + L"\r\nСчётчики: " + CountsText(scanner.counts) + L"\r\nСовет: " +
              scanner.advice + L"\r\n";
  }
  report += L"\r\nНастройки:\r\n";
  for (const OptionShown& option : facts.options) {
    report += L"  " + (option.scope.empty() ? L"" : option.scope + L": ") + option.name + L" = " + option.value +
              L" (" + option.source + L")\r\n";
  }
  report += L"\r\nПоследние коды (сначала новые):\r\n";
  for (const CodeRecord& code : facts.codes) {
    report += L"  " + TimeText(code.time);
    if (facts.scanners.size() > 1) report += L", " + code.port;
    if (facts.disclosure != CodeDisclosure::Nothing) report += L", длина " + ShownLength(code, facts.disclosure);
    report += L", " + code.encoding + L", " + (code.program.empty() ? L"?" : code.program) + L", " + OutcomeName(code);
    if (!code.symbology.empty() || !code.rule.empty()) report += L", " + code.symbology + L" " + code.rule;
    if (facts.disclosure == CodeDisclosure::Text) {
      report += L": " + ShownText(code, facts.disclosure) + L" [" + ShownBytes(code, facts.disclosure) + L"]";
    }
    report += L"\r\n";
  }
  report += L"\r\nЖурнал (строк: " + platform::IntToStr(facts.logLines.size()) + L"):\r\n";
  for (const std::wstring& line : facts.logLines) report += L"  " + line + L"\r\n";
  return report;
}
