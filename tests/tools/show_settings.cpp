// Shows the settings dialog as the program does and closes it after a few
// seconds: something for scripts/screenshots.sh to photograph.
#include <windows.h>

#include "app/application_title.h"
#include "app/win/win_reader_parts.h"
#include "platform/win/application.h"

namespace {

constexpr DWORD kShownFor = 20000;

void CALLBACK CloseDialog(HWND, UINT, UINT_PTR, DWORD) {
  if (const HWND dialog = ::FindWindowW(L"TFormBROptions", nullptr)) ::PostMessageW(dialog, WM_CLOSE, 0, 0);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  platform::SetApplicationTitle(kApplicationTitle);
  WinReaderParts parts(nullptr);
  const auto dialog = parts.dialogs();
  parts.store.Load(dialog->scanners, dialog->AutoStart);
  ::SetTimer(nullptr, 0, kShownFor, &CloseDialog);
  dialog->ShowModal();
  return 0;
}
