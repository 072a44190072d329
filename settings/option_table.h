#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "line/port_settings.h"
#include "options/typing_options.h"
#include "platform/diagnostics_log.h"
#include "platform/registry.h"
#include "reader/recent_codes.h"

// Every setting an administrator may set, declared once: the reader, the
// store, the dialog's enforced fields, the templates' check and the README
// take their names, forms and defaults from here. One resolver decides
// which source a value comes from.
namespace option_table {

enum class Section { AppCfg, Device };

// How a value is written: any text, a whole number (as text or REG_DWORD),
// one of a few words, or a list of texts (REG_MULTI_SZ, or a key of the
// value's name that holds them as values named 1, 2, 3..., as a template's
// list element writes them).
enum class ValueType { Text, Number, Choice, List };

// What a change of the setting takes.
enum class Effect {
  Typing,            // swapped in for the next code; may be set for one program alone
  Line,              // the port is reopened with it
  StartWithWindows,  // the Run entry, enforced by policy alone
  Log,               // read at start
  Monitor,           // what the monitor and its report show of codes, by policy alone
};

// Where a value comes from, strongest first, as Windows programs order
// them: an enforced policy, then the operator's own value, then the
// machine-wide default.
enum class Source { PolicyMachine, PolicyUser, User, Machine, Default };

inline bool IsPolicy(Source source) { return source == Source::PolicyMachine || source == Source::PolicyUser; }

// Everything the table fills in; what no source sets keeps these defaults.
struct Options {
  TypingOptions typing;
  PortSettings port = kDefaultPortSettings;
  bool autoStart = false;
  diagnostics::LogLevel log = diagnostics::LogLevel::Off;
  CodeDisclosure monitor = CodeDisclosure::Text;
};

struct Row {
  std::wstring_view name;
  Section section;
  ValueType type;
  Effect effect;
  std::wstring_view defaultText;  // as an administrator would write it
  // The words a Choice takes (compared without case); for a Number, its
  // least and greatest value; a Text takes any text.
  std::span<const std::wstring_view> choices;
  int minimum = 0, maximum = 0;
  // Takes a stored value into `options`; false when it is not valid.
  bool (*parse)(const platform::StoredValue& value, Options& options) = nullptr;
  // The text a line setting fills in, and the dialog's list shows.
  std::wstring PortSettings::*lineText = nullptr;

  bool PerProgram() const { return effect == Effect::Typing; }
  // An administrator's to set; the operator has no say.
  bool PolicyOnly() const { return effect == Effect::StartWithWindows || effect == Effect::Monitor; }
};

// The rows other parts ask for by name.
inline constexpr std::wstring_view kAutoStart = L"AutoStart", kLog = L"Log", kRules = L"Rules", kMonitor = L"Monitor";

// Every row, in the order settings are read and documented.
std::span<const Row> Rows();
// The row of that name; every name the program reads is there.
const Row& Find(std::wstring_view name);

// Where each source keeps its sections.
inline const std::wstring kPolicyKey = L"Software\\Policies\\Ombrek\\Barcode Reader";
inline const std::wstring kProgramsKey = L"Programs";  // under APPCFG
inline const std::wstring kScannersKey = L"Scanners";  // under DEVICE
// A further scanner's number runs from 2 to this.
inline constexpr unsigned kMostScanners = 99;

// Where `row` is kept for a scanner: the first scanner's line settings as
// the table says, each further scanner's in its own key,
// DEVICE\Scanners\<number>, under the same names.
std::wstring SectionOf(const Row& row, unsigned scanner = ScannerSettings::kFirst);
std::wstring ScannerSection(unsigned scanner);

// Where a value was found, and whether it could be used.
struct Found {
  Source source = Source::Default;
  bool valid = true;
  std::wstring place;                          // as the log names it: "HKLM policy APPCFG\Rules"; empty for the default
  std::optional<platform::StoredValue> value;  // as stored; none for a default
};

// Reads `row` from the sources in their order; within a source, the
// program's own value (under APPCFG\Programs\<program>) comes before the
// general one. The first value found decides: it goes into `options`, or,
// when it is not valid (or cannot be read), the default does and the log
// notes it: neither a weaker source nor, for a program's own value, the
// general one stands in for a broken value. Machine-wide values are looked
// for in the 64-bit view of the registry, then in the 32-bit one, and the
// log says when a value came from there. Of a list, the value comes before
// the key of the same name beside it, which is read only when the value is
// missing. The start with Windows is read
// from the policies alone: the operator's own choice is the store's. A
// line setting is read for `scanner`. A RegistryError the registry throws
// goes on to the caller.
Found Resolve(platform::Registry& registry, const Row& row, Options& options, std::wstring_view program = {},
              unsigned scanner = ScannerSettings::kFirst);

// The file names of the programs that have a section of their own in any
// source, as first found, each once as TypingProfiles compares them. A
// source whose list cannot be read adds none, and the log says why.
std::vector<std::wstring> ProgramsWithOptions(platform::Registry& registry);

// The further scanners that have a key in any source, by number; `kept`
// when one of the machine or a policy is among them, which the operator
// cannot remove. A key whose name is no such number is noted and left out.
struct FurtherScanner {
  unsigned number;
  bool kept;
};
std::vector<FurtherScanner> FurtherScanners(platform::Registry& registry);

// The keys of every source, in every view a value is read from: what to
// watch for changes.
std::vector<platform::KeyPlace> SourceKeys();

// A stored value as a help desk reads it in the log: the text in quotes, a
// number with its type, or what kept it from being read.
std::wstring DescribeStoredValue(const platform::StoredValue& value);

}  // namespace option_table
