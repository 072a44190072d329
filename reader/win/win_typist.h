#pragma once

#include <windows.h>

#include "reader/keystroke_plan.h"
#include "reader/scanner_line.h"
#include "reader/typing_options.h"
#include "reader/win/win_code_pages.h"

// Types codes into the focused window through the system's input stream,
// with the keyboard layout of the window in front. Only one thread at a
// time types with it.
class WinTypist final : public CodeTypist {
 public:
  WinTypist();
  ~WinTypist() override;

  // Only on the user interface thread, and only while no reader thread is
  // typing with this typist (before a reader starts or after it has
  // stopped): the reader thread reads the options without a lock.
  void SetOptions(const TypingOptions& options) override;

  void TypeCode(std::string_view code, const std::atomic<bool>& stopping) override;
  // Asks the layout of the window in front everything a code may need, and
  // raises the thread's priority: typing is what the operator waits for.
  void Prepare() override;

  // A layout as the system translates its keys.
  class SystemLayout;
  using KnownLayout = RememberedLayouts<SystemLayout>::Known;

 private:
  KnownLayout& Layout(HKL handle);

  TypingOptions options_;
  const WinCodePages codePages_;
  RememberedLayouts<SystemLayout> layouts_;
};
