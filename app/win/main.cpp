// The program: the main window with the scanner link, until it is closed.
#include <windows.h>

#include <exception>

#include "app/application_title.h"
#include "app/win/form_br_main.h"
#include "platform/win/application.h"
#include "platform/win/diagnostics_writer.h"
#include "platform/win/win_registry.h"
#include "settings/settings_store.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  platform::SetApplicationTitle(kApplicationTitle);
  // Declared first so that it outlives every thread that reports.
  platform::WinRegistry registry;
  const diagnostics::LogLevel logLevel = StoredLogLevel(registry);
  diagnostics::WinWriter diagnosticsWriter(logLevel,
                                           logLevel == diagnostics::LogLevel::Off ? L"" : diagnostics::LogFilePath());
  diagnostics::SetWriter(&diagnosticsWriter);
  try {
    TFormBRMain main;
    main.FormCreate();
    main.Show();
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  } catch (const std::exception& error) {
    const std::string what = error.what();
    platform::ShowStopMessage(std::wstring(what.begin(), what.end()));
  }
  return 0;
}
