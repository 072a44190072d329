#include "app/restart_arguments.h"

#include <algorithm>

namespace {

// RESTART_MAX_CMD_LINE, the terminating zero included.
constexpr std::size_t kMostCharacters = 1024 - 1;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::optional<std::wstring> ArgumentsForRestart(std::wstring_view commandLine) {
  // The program's name ends as the C runtime ends it: at the closing quote
  // when it starts with one, else at the first blank.
  std::size_t end = 0;
  if (!commandLine.empty() && commandLine.front() == L'"') {
    end = commandLine.find(L'"', 1);
    end = end == std::wstring_view::npos ? commandLine.size() : end + 1;
  } else {
    while (end < commandLine.size() && !IsBlank(commandLine[end])) ++end;
  }
  while (end < commandLine.size() && IsBlank(commandLine[end])) ++end;
  const std::wstring_view arguments = commandLine.substr(end);
  if (arguments.size() > kMostCharacters) return std::nullopt;
  return std::wstring(arguments);
}

StartArguments ParseStartArguments(const std::vector<std::wstring>& arguments) {
  constexpr std::wstring_view kMonitor = L"/monitor";
  StartArguments start;
  for (const std::wstring& argument : arguments) {
    const bool monitor = argument.size() == kMonitor.size() &&
                         std::equal(argument.begin(), argument.end(), kMonitor.begin(), [](wchar_t a, wchar_t b) {
                           return (a >= L'A' && a <= L'Z' ? a - L'A' + L'a' : a) == b;
                         });
    if (monitor) {
      start.monitor = true;
    } else {
      start.reader.push_back(argument);
    }
  }
  return start;
}
