#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What Windows is to start the program with after Restart Manager closed it
// for an upgrade: the arguments it was started with, as written, so that
// `barcode_reader.exe 5` comes back reading COM5. None when they are too
// long to register.
std::optional<std::wstring> ArgumentsForRestart(std::wstring_view commandLine);

// How the program was started: `/MONITOR` (in any case) asks for the
// scanner monitor; the other arguments are the reader's, as before.
struct StartArguments {
  bool monitor = false;
  std::vector<std::wstring> reader;
};
StartArguments ParseStartArguments(const std::vector<std::wstring>& arguments);
