#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "keys/code_typist.h"
#include "keys/delivery.h"
#include "keys/keystroke_plan.h"
#include "keys/win/win_delivery.h"
#include "options/typing_options.h"
#include "text/prepared_code.h"
#include "text/win/win_code_pages.h"

// The file name of the program that gets the keys typed while `foreground`
// is in front: the one of the window with the keyboard focus, for a Store
// program its own, not its frame host's; empty when the system will not
// say. Remembered by window and process id: a window handle carries a use
// count, so the pair never names another program, even when the id is
// reused.
class ProgramNames {
 public:
  std::wstring Of(HWND foreground);

 private:
  static constexpr std::size_t kMostRemembered = 64;
  std::map<std::pair<HWND, DWORD>, std::wstring> known_;
};

// Types codes into the focused window through the system's input stream,
// with the keyboard layout of the window in front. Only one thread at a
// time types with it, or prepares it. A code refused for a reason the
// operator can mend asks for a balloon: `balloonWaiting` is called on the
// typing thread, and the user interface thread takes its text.
class WinTypist final : public CodeTypist {
 public:
  explicit WinTypist(std::function<void()> balloonWaiting = {});
  ~WinTypist() override;

  void SetOptions(std::shared_ptr<const TypingProfiles> options) override;

  // Asks Windows which program is in front, its layout and Caps Lock;
  // what is typed is PrepareCode's.
  PreparedCode TypeCode(std::string_view code, std::wstring_view port, bool held,
                        const std::atomic<bool>& stopping) override;
  // Asks the layout of the window in front everything a code may need, and
  // raises the thread's priority: typing is what the operator waits for.
  void Prepare() override;

  // The balloon's text, once: empty when none is waiting.
  std::wstring TakeBalloon();

  // A layout as the system translates its keys.
  class SystemLayout;
  using KnownLayout = RememberedLayouts<SystemLayout>::Known;

 private:
  KnownLayout& Layout(HKL handle);
  // Beeps and logs a code the operator must scan again, with its why, and
  // asks for the balloon the refusal has.
  PreparedCode Refuse(PreparedCode code, Refusal refusal, std::uint8_t held = 0);

  const WinCodePages codePages_;
  std::mutex settingsMutex_;  // held for a pointer's copy alone
  // Set by the user interface thread, taken by the typing thread once per
  // code; never null.
  std::shared_ptr<const TypingSettings> settings_;
  ProgramNames programs_;  // the typing thread's
  RememberedLayouts<SystemLayout> layouts_;
  IntegrityLevels integrity_;  // the typing thread's, but for our own level
  RefusalBalloons balloons_;   // the typing thread's
  const std::function<void()> balloonWaiting_;
  std::mutex balloonMutex_;
  std::wstring balloon_;  // guarded by balloonMutex_
};
