#pragma once

#include <windows.h>

// How the shell tells the main window about its tray icon: the callback
// message it registers and the icon's id among the window's icons.
inline constexpr UINT WM_TRAYNOTIFY = WM_APP + 100;
inline constexpr UINT kTrayIconId = 1;
