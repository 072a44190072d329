#pragma once

#include <string>

// The main window's caption, the tray tip and every message box's caption.
inline const std::wstring kApplicationTitle = L"Драйвер для сканера штрих-кода";
