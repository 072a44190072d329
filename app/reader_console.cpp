// A console driver of the scanner link: constructs the reader as the
// program does, opens its port and reports what it did.
#include <windows.h>

#include <cstdio>
#include <string>

#include "app/application_title.h"
#include "platform/win/application.h"
#include "reader/bar_cod_reader.h"

namespace {

void Print(const std::wstring& text) {
  // WriteConsoleW fails when the output is redirected; UTF-8 then.
  DWORD written = 0;
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (::WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr)) return;
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(size, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), size, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int wmain() {
  platform::SetApplicationTitle(kApplicationTitle);
  CBarCodReader reader;
  const PortSettings& texts = reader.portSettings;
  const LineParameters& line = reader.lineParameters();
  Print(L"Stored settings: " + texts.NamePort + L", " + texts.BaudRate + L" baud, " + texts.ByteSize +
        L" data bits, parity " + texts.Parity + L", stop bits " + texts.StopBits +
        (reader.AutoStart ? L", starts with Windows\n" : L"\n"));
  Print(L"Opening " + line.portName + L" at " + std::to_wstring(line.baudRate) + L" baud...\n");
  if (!reader.InitComm()) {
    Print(L"The port could not be opened.\n");
    return 1;
  }
  Print(L"The port is open and configured.\n");
  reader.ClosePort();
  Print(L"The port is closed.\n");
  return 0;
}
