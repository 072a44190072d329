#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keys/keystroke_plan.h"
#include "options/typing_options.h"
#include "text/prepared_code.h"

// Whether a code can reach the window it was scanned for, and how it goes
// out, decided apart from Windows: the typist asks Windows the questions
// (the target's integrity level, the keys held, the window in front, the
// clipboard) and carries out the answers.

// Mandatory integrity levels as Windows numbers them: the last
// sub-authority of a token's integrity SID.
namespace integrity_level {
inline constexpr std::uint32_t kLow = 0x1000, kMedium = 0x2000, kHigh = 0x3000, kSystem = 0x4000;
}

// The wedge as Windows judges its input.
struct OwnIntegrity {
  std::uint32_t level = integrity_level::kMedium;
  bool uiAccess = false;  // a signed program with uiAccess in its manifest
};

// Whether Windows would drop the keys, without a word, for a window of a
// process at `target`: one of a higher level than ours, unless we have
// uiAccess. A level Windows would not tell is no reason to refuse.
bool InputBlockedByIntegrity(std::optional<std::uint32_t> target, OwnIntegrity own);

// Keys the operator may hold that would turn a code's characters into
// shortcuts, as bits.
namespace modifier {
inline constexpr std::uint8_t kCtrl = 1, kAlt = 2, kShift = 4, kWin = 8;
}

// "Ctrl+Shift", as the log and the operator read it.
std::wstring ModifierNames(std::uint8_t held);

// The operator's keyboard as the typist waits on it.
class HeldModifiers {
 public:
  virtual ~HeldModifiers() = default;
  // The modifiers held down now, physically.
  virtual std::uint8_t Held() = 0;
  virtual void Pause(int milliseconds) = 0;
  virtual std::chrono::milliseconds Now() = 0;
};

struct HeldKeysWait {
  enum class Result { Free, StillHeld, Stopped };
  Result result = Result::Free;
  std::uint8_t held = 0;  // what was held when it gave up
};

// How long a code waits for the operator to let go of a modifier, and how
// often it looks meanwhile.
inline constexpr std::chrono::milliseconds kHeldKeysPatience{2000};
inline constexpr int kHeldKeysPollMs = 10;

// Asks once; while a modifier is held, again until none is, for up to
// kHeldKeysPatience. Never presses or releases a key: the operator's keys
// are his.
HeldKeysWait AwaitReleasedModifiers(HeldModifiers& keyboard, const std::atomic<bool>& stopping);

// The layout a code is planned with: the window's for keys; for Unicode or
// a paste, one without keys, so that every character goes as itself and
// Tab, Enter, Backspace and Escape as their keys.
const KeyboardLayout& PlanningLayout(TypingOptions::TypeAs typeAs, const KeyboardLayout& window);

// How a code goes out: as asked, but as keys in place of a paste when the
// operator's clipboard content could not be kept to be put back.
TypingOptions::TypeAs MethodFor(TypingOptions::TypeAs asked, bool clipboardKept);

// A part of a pasted code: its text, pasted, then the keys and pauses that
// follow it (a paste carries no keys: a Tab or Enter between a code's
// fields is pressed).
struct PasteStep {
  std::wstring text;
  std::vector<KeyGroup> keysAfter;

  bool operator==(const PasteStep&) const = default;
};

// A plan made with PlanningLayout's keyless layout, as pastes.
std::vector<PasteStep> PasteSteps(const std::vector<KeyGroup>& plan);

// Where a pasted code goes: the system's clipboard and input stream.
class PasteSink : public KeySink {
 public:
  // Puts the text on the clipboard and has the window paste it; false when
  // the window did not take it.
  virtual bool Paste(std::wstring_view text) = 0;
};

// Sends the steps in order: Stopped, Cut and Refused (a paste not taken, or
// keys the input stream refused) end it there.
SendResult SendPasteSteps(const std::vector<PasteStep>& steps, const std::atomic<bool>& stopping, PasteSink& sink);

// Clipboard formats by their Windows numbers (CF_...), those a paste must
// know to put the operator's content back.
namespace clipboard_format {
inline constexpr std::uint32_t kBitmap = 2, kMetafilePicture = 3, kDib = 8, kPalette = 9, kEnhancedMetafile = 14,
                               kDibV5 = 17, kOwnerDisplay = 0x80, kDisplayBitmap = 0x82, kDisplayMetafilePicture = 0x83,
                               kDisplayEnhancedMetafile = 0x8E, kPrivateFirst = 0x200, kGdiObjectLast = 0x3FF;
}

// How the operator's clipboard content is kept while a code is pasted.
struct ClipboardKeeping {
  std::vector<std::uint32_t> memory;  // copied as the memory they are
  bool enhancedMetafile = false;      // copied as a metafile
  // A format that cannot be put back, if any: then nothing is pasted.
  std::optional<std::uint32_t> lost;
};

// Every format of global memory is copied; a bitmap, its palette and an
// old-style metafile are left for Windows to make again from the image or
// metafile kept beside them (it offers each in the others' forms). A
// handle nobody can copy (a private or GDI-object format, an owner-drawn
// one, a bitmap or old metafile alone) makes the content one that cannot
// be put back.
ClipboardKeeping KeepingOf(const std::vector<std::uint32_t>& formats);

// Why a code that was to be typed is refused or cut, as this file decides.
enum class Refusal {
  Elevated,  // the window runs as administrator and would drop the keys
  KeysHeld,  // a modifier held past kHeldKeysPatience
  Cut,       // the window in front changed while it was typed
};

// The bytes written to the scanner after a code: the typed reply for a code
// typed (or held by the monitor, read well all the same), the refused one
// for a code the operator must scan again (refused by its rules, not typed,
// cut); nothing for a blank line.
std::string_view ReplyFor(PreparedCode::Outcome outcome, const Replies& replies);

// The tray balloon for a refused code: at most one a minute, so that an
// operator scanning into the same window again is told, not flooded.
class RefusalBalloons {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::minutes kQuiet{1};

  // The text to show for a code refused so at `now`; none for a cut code,
  // or within a minute of the last balloon.
  std::optional<std::wstring> For(Refusal refusal, std::wstring_view program, std::uint8_t held, Clock::time_point now);

 private:
  std::optional<Clock::time_point> last_;
};

// Why a code was not typed, as the monitor's list says it.
std::wstring RefusalText(Refusal refusal, std::uint8_t held);
