// The program: the main window with the scanner link, until it is closed;
// or, started for the monitor while a copy runs, that copy's monitor.
#include <windows.h>

#include <exception>

#include "app/application_title.h"
#include "app/restart_arguments.h"
#include "app/win/form_br_main.h"
#include "platform/diagnostics.h"
#include "platform/win/application.h"
#include "platform/win/diagnostics_writer.h"
#include "platform/win/win_registry.h"
#include "settings/settings_store.h"

namespace {

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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The monitor asked for of a copy already running is that copy's: the
  // port is its.
  const bool monitor = ParseStartArguments(platform::CommandLineArguments()).monitor;
  if (monitor && HandOverMonitor()) return 0;
  platform::SetApplicationTitle(kApplicationTitle);
  // Declared first so that it outlives every thread that reports.
  platform::WinRegistry registry;
  // A log setting that cannot be read leaves the log off: why is told to
  // the debugger output, the one place left for it.
  diagnostics::WinWriter settingWriter(diagnostics::LogLevel::Off, L"");
  diagnostics::SetWriter(&settingWriter);
  const diagnostics::LogLevel logLevel = StoredLogLevel(registry);
  diagnostics::WinWriter diagnosticsWriter(logLevel,
                                           logLevel == diagnostics::LogLevel::Off ? L"" : diagnostics::LogFilePath());
  diagnostics::SetWriter(&diagnosticsWriter);
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
