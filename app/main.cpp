// The program: the main window with the scanner link, until it is closed.
#include <windows.h>

#include <exception>

#include "app/application_title.h"
#include "app/form_br_main.h"
#include "platform/win/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  platform::SetApplicationTitle(kApplicationTitle);
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
