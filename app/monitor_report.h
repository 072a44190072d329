#pragma once

#include <string>
#include <vector>

#include "platform/registry.h"
#include "reader/recent_codes.h"

// What the scanner monitor shows and the report a help desk pastes into a
// ticket, apart from Windows.

// One option as it stands: its value and where that came from.
struct OptionShown {
  std::wstring name;
  std::wstring scope;  // the program's file name or the further scanner's key; empty for the general value
  std::wstring value;
  std::wstring source;  // «политика компьютера», «оператор», «по умолчанию»...
};

// Every option of the table with its source; with `program`, the options
// that program is typed with. Registry failures throw, as Resolve does.
std::vector<OptionShown> OptionsWithSources(platform::Registry& registry, const std::wstring& program = {});
// A scanner's line settings with their sources.
std::vector<OptionShown> LineOptions(platform::Registry& registry, unsigned scanner);
// The same for every program with options of its own, after the general
// ones, then every further scanner's line settings.
std::vector<OptionShown> EveryOption(platform::Registry& registry);
// "Suffix: Enter (оператор); Prefix: … (по умолчанию)" on one line.
std::wstring OptionsLine(const std::vector<OptionShown>& options);

// A code's columns as the policy lets them be shown.
std::wstring TimeText(const diagnostics::LocalTime& time);
std::wstring ShownLength(const CodeRecord& code, CodeDisclosure disclosure);
std::wstring ShownText(const CodeRecord& code, CodeDisclosure disclosure);
std::wstring ShownBytes(const CodeRecord& code, CodeDisclosure disclosure);
// The line's counts in words.
std::wstring CountsText(const LineCounts& counts);

// One scanner as the report tells it.
struct ScannerFacts {
  std::wstring port;  // the port, its line and its state
  LineCounts counts;
  std::wstring advice;
};

struct ReportFacts {
  std::wstring version, windows, layout;
  std::vector<ScannerFacts> scanners;  // the first first
  std::vector<OptionShown> options;
  std::vector<CodeRecord> codes;  // newest first
  CodeDisclosure disclosure = CodeDisclosure::Nothing;
  std::vector<std::wstring> logLines;  // oldest first
};

// The report as text, lines ended by CR LF; with several scanners, each
// code names its port.
std::wstring BuildReport(const ReportFacts& facts);
