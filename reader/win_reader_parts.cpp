#include "reader/win_reader_parts.h"

#include "platform/win/application.h"
#include "settings_dialog/form_br_options.h"

WinReaderParts::WinReaderParts(HWND dialogOwner)
    : store(registry, platform::ExecutablePath()),
      dialogs([dialogOwner] { return std::make_unique<TFormBROptions>(dialogOwner); }) {}
