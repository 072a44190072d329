#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "options/typing_options.h"
#include "text/code_rules.h"
#include "text/code_text.h"

// The one way from a completed code's bytes to what is typed: the reader's
// typist and /TRYRULES both take it, so what /TRYRULES shows is what the
// reader types.

// The typing options of every program with their rule lists read, as they
// are in force: made once when the options arrive, then shared read-only.
// A program's options and its list are found together, by one name.
class TypingSettings {
 public:
  // A code page the system does not know is automatic instead; the log
  // says so here, once, as it notes a list that cannot be read.
  TypingSettings(const TypingProfiles& profiles, const CodePages& codePages);

  struct Program {
    const TypingOptions& options;
    const RuleList& rules;
  };
  // For the program whose file name is `program` (as Windows gives it,
  // compared as Windows compares file names); empty for one without
  // options of its own.
  Program For(std::wstring_view program) const;

 private:
  TypingProfiles profiles_;
  ProfileRules rules_;
};

// What becomes of a code, and all a record of it needs. PrepareCode makes
// it; the typist, which alone asks Windows, sends the runs of one that is
// ToType and says how that went.
struct PreparedCode {
  enum class Outcome {
    Empty,     // nothing to type: a blank line, control bytes that are left out
    Refused,   // by the rules, `why`
    Held,      // «Не вводить коды» in the monitor: shown, not typed
    ToType,    // `runs` are to be typed
    Typed,     // the typist sent them all
    NotTyped,  // the typist could not, `why`
    Cut,       // the typist stopped part-way: another window came in front
  };

  std::string bytes;                // as the line gave them
  std::wstring port;                // the one it came from
  std::wstring program;             // the file name of the program it goes to, as given
  CodeText decoded{};               // its text, before any rule, and its code page
  std::wstring aimId;               // the symbology identifier found; empty when none
  std::optional<std::size_t> rule;  // the number of the last rule applied; none when none was
  Outcome outcome = Outcome::Empty;
  std::wstring why;   // why it is refused or not typed
  std::wstring note;  // for the log, of a code that is typed all the same
  // What is typed: Prefix, the rules' output with each GS replaced as
  // GroupSeparator says, Suffix (Tab as '\t', Enter as '\n'); without the
  // control characters that are left out; the rules' pauses after their
  // runs. Empty unless it is typed.
  std::vector<TypedRun> runs;
  int keyDelayMs = 0;  // how: the pause between characters
};

// The code as the options and rules of `program` make it, in this order:
// decoded (Encoding), its identifier taken off or kept (AimId), shaped
// (Rules, NoMatch), each GS replaced (GroupSeparator), Prefix and Suffix
// added. The whole text is made before a key goes out: a code its rules
// refuse types nothing at all. `held`: «Не вводить коды» is ticked.
// `stopping`, when given, ends a rule's long match: the reader is closing.
// `port` is the one the code came from, for the rules to select by.
PreparedCode PrepareCode(std::string_view bytes, std::wstring_view program, const TypingSettings& settings,
                         const CodePages& codePages, bool held = false, const std::atomic<bool>* stopping = nullptr,
                         std::wstring_view port = {});

// Whether the character is left out of what is typed: a control character
// that is neither a key (Tab, Backspace, Escape, line feed as Enter) nor a
// separator of GS1 and ISO/IEC 15434 (EOT, FS, GS, RS, US). As characters,
// an edit control would take some as commands (0x03 copy, 0x16 paste, 0x18
// cut, 0x1A undo), and no scanner needs them in a field.
bool IsLeftOut(wchar_t c);

// Whether anything of the text is typed: not when it holds nothing but
// line feeds and control characters that are left out (a blank line's
// Enter could submit a form).
bool HasSomethingToType(std::wstring_view text);

// The control characters of the text that are left out, as bytes, for the
// log.
std::string DroppedControlBytes(std::wstring_view text);
