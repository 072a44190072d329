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
#include "reader/recent_codes.h"
#include "text/code_rules.h"
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
// time types with it. Each code, typed or not, goes into `recent` when
// given. A code refused for a reason the operator can mend asks for a
// balloon: `balloonWaiting` is called on the typing thread, and the user
// interface thread takes its text.
class WinTypist final : public CodeTypist {
 public:
  explicit WinTypist(RecentCodes* recent = nullptr, std::function<void()> balloonWaiting = {});
  ~WinTypist() override;

  void SetOptions(std::shared_ptr<const TypingProfiles> options) override;

  CodeFate TypeCode(std::string_view code, const std::atomic<bool>& stopping) override;
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
  // Beeps, logs and records a code that must be scanned again, and asks for
  // the balloon the fate has.
  CodeFate Refuse(CodeFate fate, std::string_view code, const CodeText& decoded, HWND window, std::wstring program,
                  const CodeOutcome& shaped, std::uint8_t held = 0, std::wstring why = {});
  void Record(std::string_view code, const CodeText& decoded, const std::wstring& program, const CodeOutcome& shaped,
              CodeRecord::Outcome outcome, std::wstring_view why = {});

  std::mutex optionsMutex_;  // held for a pointer's copy alone
  // Set by the user interface thread, taken by the typing thread once per
  // code; never null. The rules are those of the options, read with them.
  std::shared_ptr<const TypingProfiles> options_;
  std::shared_ptr<const ProfileRules> rules_;
  ProgramNames programs_;  // the typing thread's
  const WinCodePages codePages_;
  RememberedLayouts<SystemLayout> layouts_;
  IntegrityLevels integrity_;  // the typing thread's, but for our own level
  RefusalBalloons balloons_;   // the typing thread's
  RecentCodes* const recent_;
  const std::function<void()> balloonWaiting_;
  std::mutex balloonMutex_;
  std::wstring balloon_;  // guarded by balloonMutex_
  CodeRecord record_;     // the typing thread's; swapped with the ring's oldest
};
