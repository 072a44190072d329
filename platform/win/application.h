#pragma once

#include <windows.h>

#include <string>
#include <vector>

// What the whole process shares: its title, where it runs from, how it was
// started, and the one way it tells the operator that something failed.
namespace platform {

void SetApplicationTitle(std::wstring title);
const std::wstring& ApplicationTitle();

// Full path of the running executable, long paths included.
std::wstring ExecutablePath();

// The arguments after the program name, parsed as the C runtime does.
std::vector<std::wstring> CommandLineArguments();

// Modal to `owner` (or to nothing), with the application title as caption,
// the stop sign and OK.
void ShowStopMessage(const std::wstring& text, HWND owner = nullptr);

}  // namespace platform
