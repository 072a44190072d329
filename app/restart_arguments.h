#pragma once

#include <optional>
#include <string>
#include <string_view>

// What Windows is to start the program with after Restart Manager closed it
// for an upgrade: the arguments it was started with, as written, so that
// `barcode_reader.exe 5` comes back reading COM5. None when they are too
// long to register.
std::optional<std::wstring> ArgumentsForRestart(std::wstring_view commandLine);
