#include "app/win/win_reader_parts.h"

#include <stdexcept>

#include "app/restart_arguments.h"
#include "platform/diagnostics.h"
#include "platform/win/application.h"
#include "settings_dialog/win/form_br_options.h"

namespace {

const std::wstring kReaderFailed = L"TFormBRMain::TFormBRMain :\r\n Невозможно создать CBarCodReader !";

std::wstring ReportReaderFailure(const std::exception& error) {
  const std::string what = error.what();
  const auto* registryError = dynamic_cast<const platform::RegistryError*>(&error);
  diagnostics::Failure(L"creating the reader: " + std::wstring(what.begin(), what.end()),
                       registryError != nullptr ? registryError->code : 0);
  return kReaderFailed;
}

}  // namespace

WinReaderParts::WinReaderParts(HWND dialogOwner)
    : store(registry, platform::ExecutablePath()),
      ports(&recent),
      typist([dialogOwner] {
        if (dialogOwner) ::PostMessageW(dialogOwner, WM_CODEBALLOON, 0, 0);
      }),
      dialogs([this, dialogOwner] { return std::make_unique<TFormBROptions>(dialogOwner, registry); }) {}

std::wstring MakeReader(HWND window, ReaderSite& site, std::unique_ptr<WinReaderParts>& parts,
                        std::unique_ptr<CBarCodReader>& reader) {
  try {
    parts = std::make_unique<WinReaderParts>(window);
    reader =
        std::make_unique<CBarCodReader>(parts->store, parts->ports, parts->typist, parts->dialogs, site,
                                        ParseStartArguments(platform::CommandLineArguments()).reader, &parts->recent);
    return {};
  } catch (const std::exception& error) {
    return ReportReaderFailure(error);
  } catch (...) {
    return ReportReaderFailure(std::runtime_error("an exception of unknown type"));
  }
}
