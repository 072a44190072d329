#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "options/typing_options.h"
#include "text/code_text.h"

// `barcode_reader.exe /TRYRULES <file> [<program.exe>]`: what the codes of
// a file would type into that program (or any program without options of
// its own) with the settings as they stand, without a scanner, a port or a
// window, for IT to try a list of rules before a rollout.
struct TryRulesRequest {
  std::wstring file;     // empty when the command line names none
  std::wstring program;  // empty: a program without options of its own
};

// The request, when the arguments after the program's name start with
// /TRYRULES (in any case); none when they do not.
std::optional<TryRulesRequest> TryRulesRequested(std::span<const std::wstring> arguments);

// The scanner's bytes that a line of the file stands for: the line as it
// is (UTF-8, or any bytes), with `\t`, `\r`, `\n`, `\\` and `\xHH` for
// bytes a line cannot hold, and the control pictures U+2400-U+241F (as
// `␝` for GS) for the control bytes they picture. Nothing when a `\` starts
// no escape.
std::optional<std::string> CodeOfLine(std::string_view line);

struct TryRulesReport {
  std::string text;  // UTF-8: the list used, then a line for each code
  // 1: the list for the program cannot be read; 2: the file cannot be.
  int exitCode = 0;
};

// Each code of `file` with what the reader would type for it, key names
// and pauses in braces, the prefix, the group separator's replacement and
// the suffix included; or "nothing" and why. A line stands for what a
// scanner sends before its CR, and is framed as the reader frames it: a
// zero byte is left out, a CR inside it ends a code there, a code longer
// than the reader takes is dropped; empty lines are left out. A code is
// shown as a line of the file would hold it, in UTF-8, any byte that is
// not as \xHH. A file in UTF-16 is refused. A line may name the port its
// code came from, `COM3:` before the code; one that names none is a code of
// `firstPort`, the first scanner's.
TryRulesReport TryRules(std::string_view file, std::wstring_view program, std::wstring_view firstPort,
                        const TypingProfiles& profiles, const CodePages& codePages);
