#include "app/try_rules.h"

#include <algorithm>

#include "keys/keystroke_plan.h"
#include "line/code_framer.h"
#include "line/port_settings.h"
#include "platform/conversions.h"
#include "text/code_rules.h"
#include "text/prepared_code.h"

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

// The bytes as a line of the file would hold them: UTF-8 as it stands; a
// control byte and a byte that is not UTF-8 escaped, so that nothing but
// UTF-8 reaches the report; a backslash too, unless the bytes are a line
// as the file has it.
std::string Shown(std::string_view bytes, bool escapeBackslash = true) {
  std::string shown;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    if (byte >= 0x80 && length > 1 && FromUtf8(bytes.substr(i, length))) {
      shown += bytes.substr(i, length);
      i += length - 1;
    } else if (byte == '\\' && escapeBackslash) {
      shown += "\\\\";
    } else if (byte == '\t') {
      shown += "\\t";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (byte == '\n') {
      shown += "\\n";
    } else if (byte < 0x20 || byte >= 0x7F) {
      constexpr char kHex[] = "0123456789ABCDEF";
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    } else {
      shown += static_cast<char>(byte);
    }
  }
  return shown;
}

// The codes the reader frames out of a scanner's bytes and the CR after
// them, in order; nothing for a code it drops.
std::vector<std::optional<std::string>> FramedCodes(std::string_view bytes) {
  CodeFramer framer;
  std::vector<std::optional<std::string>> codes;
  std::size_t dropped = 0;
  const auto dropsSoFar = [&] {
    for (; dropped < framer.DroppedCodes(); ++dropped) codes.emplace_back();
  };
  const CodeFramer::CodeHandler take = [&](std::string_view code) {
    dropsSoFar();
    codes.emplace_back(std::string(code));
  };
  framer.Feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), take);
  const std::uint8_t carriageReturn = '\r';
  framer.Feed(std::span(&carriageReturn, 1), take);
  dropsSoFar();
  return codes;
}

// What is typed for the code, as the report says it.
std::string Typed(const PreparedCode& code) {
  switch (code.outcome) {
    case PreparedCode::Outcome::ToType:
      return ToUtf8(DescribeTyped(code.runs) + (code.note.empty() ? L"" : L" (" + code.note + L")"));
    case PreparedCode::Outcome::Refused:
      return ToUtf8(L"nothing: " + code.why);
    default:
      return "nothing: no character to type";
  }
}

// The port a line names before its code (`COM3:`, n from 1 to 256, in any
// case), taken off the line; none when it names none.
std::optional<std::wstring> PortOfLine(std::string_view& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon > 6) return std::nullopt;
  const std::wstring name(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon));
  if (!SerialDevicePath(name)) return std::nullopt;
  line.remove_prefix(colon + 1);
  return name;
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

TryRulesReport TryRules(std::string_view file, std::wstring_view program, std::wstring_view firstPort,
                        const TypingProfiles& profiles, const CodePages& codePages) {
  TryRulesReport report;
  if (file.starts_with("\xFF\xFE") || file.starts_with("\xFE\xFF")) {
    report.text = "the file is in UTF-16: save it as UTF-8, a code a line\n";
    report.exitCode = 2;
    return report;
  }
  const std::wstring name(platform::ExtractFileName(program));
  const TypingSettings settings(profiles, codePages);
  const auto [options, rules] = settings.For(name);
  std::wstring head = L"rules for " + (name.empty() ? std::wstring(L"a program without options of its own") : name) +
                      L": " + (options.rulesSource.empty() ? L"none" : options.rulesSource) + L"\n";
  if (rules.Error()) {
    report.exitCode = 1;
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
    const std::optional<std::wstring> named = PortOfLine(line);
    const std::wstring port = named.value_or(std::wstring(firstPort));
    const std::string marker = named ? ToUtf8(*named) + ":" : "";
    const std::optional<std::string> bytes = CodeOfLine(line);
    if (!bytes) {
      report.text +=
          marker + Shown(line, false) + " => not read: a \\ that starts no escape (\\t \\r \\n \\\\ \\xHH)\n";
      continue;
    }
    bool reported = false;
    for (const std::optional<std::string>& code : FramedCodes(*bytes)) {
      if (!code) {
        report.text += marker + Shown(bytes->substr(0, 40)) + "... => nothing: longer than " +
                       ToUtf8(platform::IntToStr(CodeFramer::kMaxCodeLength)) + " bytes, which the reader drops\n";
      } else if (!code->empty()) {
        report.text += marker + Shown(*code) + " => " +
                       Typed(PrepareCode(*code, name, settings, codePages, false, nullptr, port)) + "\n";
      }
      reported = reported || !code || !code->empty();
    }
    if (!reported) report.text += marker + Shown(*bytes) + " => nothing: no character to type\n";
  }
  return report;
}
