#include "app/try_rules.h"

#include <algorithm>

#include "keys/keystroke_plan.h"
#include "platform/conversions.h"
#include "text/code_rules.h"

namespace {

bool SameLetters(std::wstring_view text, std::wstring_view upper) {
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != upper[i] && text[i] != upper[i] + (L'a' - L'A')) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ToUtf8(std::wstring_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<std::uint32_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      bytes += static_cast<char>(c);
    } else if (c < 0x800) {
      bytes += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      bytes += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      bytes += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return bytes;
}

// What the typist types for the outcome: the prefix, the runs with each GS
// replaced as the options say and without the control characters it leaves
// out, the suffix.
std::vector<TypedRun> Framed(std::vector<TypedRun> runs, const TypingOptions& options) {
  for (TypedRun& run : runs) {
    std::wstring text;
    for (const wchar_t c : run.text) {
      if (c == 0x1D && !options.groupSeparator.empty()) {
        text += options.groupSeparator;
      } else if (HasSomethingToType(std::wstring_view(&c, 1))) {
        text += c;
      }
    }
    run.text = std::move(text);
  }
  runs.front().text.insert(0, options.prefix);
  if (options.suffix == TypingOptions::Suffix::Enter) runs.back().text += L'\n';
  if (options.suffix == TypingOptions::Suffix::Tab) runs.back().text += L'\t';
  return runs;
}

}  // namespace

std::optional<TryRulesRequest> TryRulesRequested(std::span<const std::wstring> arguments) {
  if (arguments.empty() || !SameLetters(arguments[0], L"/TRYRULES")) return std::nullopt;
  TryRulesRequest request;
  if (arguments.size() > 1) request.file = arguments[1];
  if (arguments.size() > 2) request.program = arguments[2];
  return request;
}

std::optional<std::string> CodeOfLine(std::string_view line) {
  std::string code;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    // U+2400-U+241F in UTF-8: E2 90 80-9F; U+2421 (DEL): E2 90 A1.
    if (byte == 0xE2 && i + 2 < line.size() && static_cast<unsigned char>(line[i + 1]) == 0x90) {
      const auto last = static_cast<unsigned char>(line[i + 2]);
      if (last >= 0x80 && last <= 0x9F) {
        code += static_cast<char>(last - 0x80);
        i += 2;
        continue;
      }
      if (last == 0xA1) {
        code += '\x7F';
        i += 2;
        continue;
      }
    }
    if (line[i] != '\\') {
      code += line[i];
      continue;
    }
    if (++i >= line.size()) return std::nullopt;
    switch (line[i]) {
      case 't':
        code += '\t';
        break;
      case 'r':
        code += '\r';
        break;
      case 'n':
        code += '\n';
        break;
      case '\\':
        code += '\\';
        break;
      case 'x': {
        const int high = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
        const int low = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        code += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return code;
}

TryRulesReport TryRules(std::string_view file, std::wstring_view program, const TypingProfiles& profiles,
                        const CodePages& codePages) {
  const std::wstring name(platform::ExtractFileName(program));
  const TypingOptions& options = profiles.For(name);
  const RuleList rules = RuleList::Of(options);
  TryRulesReport report;
  std::wstring head = L"rules for " + (name.empty() ? std::wstring(L"a program without options of its own") : name) +
                      L": " + (options.rulesSource.empty() ? L"none" : options.rulesSource) + L"\n";
  if (rules.Error()) {
    report.listUnreadable = true;
    head += L"the list cannot be read: " + rules.DescribeError() + L"\n";
  }
  report.text = ToUtf8(head);
  if (file.starts_with("\xEF\xBB\xBF")) file.remove_prefix(3);
  while (!file.empty()) {
    const std::size_t end = std::min(file.find('\n'), file.size());
    std::string_view line = file.substr(0, end);
    file.remove_prefix(std::min(end + 1, file.size()));
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) continue;
    report.text += std::string(line) + " => ";
    const std::optional<std::string> code = CodeOfLine(line);
    if (!code) {
      report.text += "not read: a \\ that starts no escape (\\t \\r \\n \\\\ \\xHH)\n";
      continue;
    }
    const CodeText decoded = DecodeCode(*code, options.codePage, codePages);
    const CodeOutcome outcome = ShapeCode(decoded.text, options.aimId, rules, options.noMatch);
    if (outcome.result == CodeOutcome::Result::Rejected) {
      report.text += ToUtf8(L"nothing: " + outcome.why) + "\n";
      continue;
    }
    const std::vector<TypedRun> typed = Framed(outcome.output, options);
    const bool something = std::ranges::any_of(typed, [](const TypedRun& run) { return HasSomethingToType(run.text); });
    report.text += something ? ToUtf8(DescribeTyped(typed)) : std::string("nothing: no character to type");
    if (!outcome.why.empty()) report.text += ToUtf8(L" (" + outcome.why + L")");
    report.text += "\n";
  }
  return report;
}
