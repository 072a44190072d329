#include "platform/win/application.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/win/handles.h"

namespace platform {
namespace {

std::wstring& Title() {
  static std::wstring title;
  return title;
}

}  // namespace

void SetApplicationTitle(std::wstring title) { Title() = std::move(title); }

const std::wstring& ApplicationTitle() { return Title(); }

std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::vector<std::wstring> CommandLineArguments() {
  int count = 0;
  const UniqueLocalMemory<LPWSTR> argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
  std::vector<std::wstring> arguments;
  if (!argv) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv.get()[i]);
  return arguments;
}

void ShowStopMessage(const std::wstring& text, HWND owner) {
  ::MessageBoxW(owner, text.c_str(), ApplicationTitle().c_str(), MB_OK | MB_ICONSTOP);
}

}  // namespace platform
