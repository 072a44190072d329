// The program: the main window with the scanner link, until it is closed;
// or, started for the monitor while a copy runs, that copy's monitor.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/application_title.h"
#include "app/restart_arguments.h"
#include "app/try_rules.h"
#include "app/win/form_br_main.h"
#include "events.h"
#include "platform/diagnostics.h"
#include "platform/win/application.h"
#include "platform/win/diagnostics_writer.h"
#include "platform/win/event_log.h"
#include "platform/win/win_registry.h"
#include "settings/settings_store.h"
#include "settings/stored_typing_options.h"
#include "text/win/win_code_pages.h"

namespace {

// The message table and the program name each event by the same ID.
using system_events::Id;
static_assert(MSG_PORT_AWAY == static_cast<unsigned>(Id::PortAway) &&
              MSG_PORT_BACK == static_cast<unsigned>(Id::PortBack) &&
              MSG_PORT_NOT_OPENED == static_cast<unsigned>(Id::PortNotOpened) &&
              MSG_SETTING_UNUSABLE == static_cast<unsigned>(Id::SettingUnusable) &&
              MSG_DRIVER_HUNG == static_cast<unsigned>(Id::DriverHung));

// When an installer closes the program through Restart Manager to replace
// it, Windows starts it again afterwards, with the same arguments. Not
// after a reboot: the Run value starts it then, and a second copy would
// fight the first for the port; nor after a crash or a hang.
void RegisterForRestart() {
  const std::optional<std::wstring> arguments = ArgumentsForRestart(::GetCommandLineW());
  if (!arguments) {
    diagnostics::Failure(L"registering for restart: the command line is too long", ERROR_BAD_LENGTH);
    return;
  }
  const HRESULT result =
      ::RegisterApplicationRestart(arguments->c_str(), RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
  if (FAILED(result)) diagnostics::Failure(L"registering for restart", static_cast<std::uint32_t>(result));
}

// The arguments after the program's name, as the C runtime splits them.
std::vector<std::wstring> Arguments() {
  int count = 0;
  wchar_t** const arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!arguments) return {};
  std::vector<std::wstring> list(arguments + (count > 0 ? 1 : 0), arguments + count);
  ::LocalFree(arguments);
  return list;
}

// /TRYRULES: the report goes to the standard output the program was given
// (a program with a window has no console of its own), in UTF-8; no window
// and no port. The exit code: 1 when the list cannot be read, 2 when the
// file cannot.
int TryRulesOnStandardOutput(platform::Registry& registry, const TryRulesRequest& request) {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const auto write = [output](const std::string& text) {
    DWORD written = 0;
    if (output && output != INVALID_HANDLE_VALUE) {
      ::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
  };
  std::ifstream file;
  if (!request.file.empty()) file.open(std::filesystem::path(request.file), std::ios::binary);
  if (!file) {
    write("usage: barcode_reader.exe /TRYRULES <file of codes, one a line> [<program.exe>]\n");
    return 2;
  }
  const std::string codes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const WinCodePages codePages;
  // A line that names no port is a code of the first scanner.
  const TryRulesReport report =
      TryRules(codes, request.program, StoredFirstPort(registry), ReadTypingProfiles(registry), codePages);
  write(report.text);
  return report.exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The monitor asked for of a copy already running is that copy's: the
  // port is its.
  const bool monitor = ParseStartArguments(platform::CommandLineArguments()).monitor;
  if (monitor && HandOverMonitor()) return 0;
  platform::SetApplicationTitle(kApplicationTitle);
  // Declared first so that it outlives every thread that reports.
  platform::WinRegistry registry;
  if (const auto tryRules = TryRulesRequested(Arguments())) return TryRulesOnStandardOutput(registry, *tryRules);
  // A log setting that cannot be read leaves the log off: why is told to
  // the debugger output, the one place left for it.
  diagnostics::WinWriter settingWriter(diagnostics::LogLevel::Off, L"");
  diagnostics::SetWriter(&settingWriter);
  const diagnostics::LogLevel logLevel = StoredLogLevel(registry);
  diagnostics::WinWriter diagnosticsWriter(logLevel,
                                           logLevel == diagnostics::LogLevel::Off ? L"" : diagnostics::LogFilePath());
  diagnostics::SetWriter(&diagnosticsWriter);
  system_events::WinEventLog eventLog;
  system_events::SetSink(&eventLog);
  RegisterForRestart();
  try {
    TFormBRMain main;
    main.FormCreate();
    main.Show();
    if (monitor) main.ShowMonitor();
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  } catch (const std::exception& error) {
    const std::string what = error.what();
    const std::wstring text(what.begin(), what.end());
    diagnostics::Failure(L"running the main window: " + text, 0);
    platform::ShowStopMessage(text);
  }
  return 0;
}
