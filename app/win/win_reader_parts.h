#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "keys/win/win_typist.h"
#include "line/win/win_serial_port.h"
#include "platform/win/diagnostics_writer.h"
#include "platform/win/win_registry.h"
#include "reader/bar_cod_reader.h"
#include "reader/recent_codes.h"
#include "settings/settings_store.h"

// Posted to the window the parts are made for when the typist has a
// balloon for the operator (WinTypist::TakeBalloon).
inline constexpr UINT WM_CODEBALLOON = WM_APP + 102;

// What the reader works with on Windows: the registry, the serial ports,
// the typist, the record of recent codes, and settings dialogs owned by
// one window. They must outlive the reader made from them.
struct WinReaderParts {
  explicit WinReaderParts(HWND dialogOwner);
  // The store and the dialog factory refer to the registry member.
  WinReaderParts(const WinReaderParts&) = delete;
  WinReaderParts& operator=(const WinReaderParts&) = delete;

  RecentCodes recent{diagnostics::LocalNow};  // what the monitor shows: the ports and the reader write it
  platform::WinRegistry registry;
  SettingsStore store;
  WinSerialPorts ports;
  WinTypist typist;
  CBarCodReader::DialogFactory dialogs;
};

// The parts, then the reader made of them for `site`, started with the
// command line. When either cannot be made, the log says why and the text
// for the operator is returned.
std::wstring MakeReader(HWND window, ReaderSite& site, std::unique_ptr<WinReaderParts>& parts,
                        std::unique_ptr<CBarCodReader>& reader);
