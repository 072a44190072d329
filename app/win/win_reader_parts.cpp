#include "app/win/win_reader_parts.h"

#include "platform/win/application.h"
#include "settings_dialog/win/form_br_options.h"

WinReaderParts::WinReaderParts(HWND dialogOwner)
    : store(registry, platform::ExecutablePath()),
      ports(&recent),
      typist(&recent),
      dialogs([this, dialogOwner] { return std::make_unique<TFormBROptions>(dialogOwner, registry); }) {}
