#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "options/typed_run.h"

// Virtual-key codes the plan uses, with their Win32 values.
namespace virtual_key {
constexpr std::uint16_t kBackspace = 0x08;
constexpr std::uint16_t kTab = 0x09;
constexpr std::uint16_t kEnter = 0x0D;
constexpr std::uint16_t kShift = 0x10;
constexpr std::uint16_t kCapsLock = 0x14;
constexpr std::uint16_t kEscape = 0x1B;
constexpr std::uint16_t kLeftShift = 0xA0;
}  // namespace virtual_key

// A keyboard state as Windows hands it to a layout (GetKeyboardState,
// ToUnicodeEx): a byte per virtual key, the top bit for a key held down,
// the low bit for a toggle that is on.
using KeyState = std::array<std::uint8_t, 256>;

// The state a layout is asked with: Shift held or not, Caps Lock on or off,
// nothing else.
KeyState KeyStateFor(bool shift, bool capsLockOn);

// Whether Caps Lock is on, from GetKeyState's answer for it: the low bit is
// the toggle; the top bit only says that the key is held down.
bool CapsLockToggled(std::int16_t keyState);

// One synthesised keyboard event: a key by its virtual-key code, or a
// character delivered as itself whatever the layout; or a pause of `code`
// milliseconds, alone in its group, that SendPlan waits out.
struct KeyStroke {
  enum class Kind : std::uint8_t { VirtualKey, Unicode, Pause };
  Kind kind;
  std::uint16_t code;
  bool up;

  bool operator==(const KeyStroke&) const = default;
};

// One character's events, sent together. Between the groups of a paced
// code no key is down.
using KeyGroup = std::vector<KeyStroke>;

// The keyboard layout of the window that receives the keys.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // As VkKeyScanEx answers: the virtual key in the low byte, the shift
  // state in the high byte (1 Shift, 2 Ctrl, 4 Alt), or -1 for no key.
  // Only a candidate: it does not know Caps Lock.
  virtual std::int16_t KeyFor(wchar_t character) const = 0;
  // What the window receives when the key is pressed, with Shift or
  // without and neither Ctrl nor Alt, under Caps Lock as given, as
  // ToUnicodeEx answers; nothing for a dead key or a key without a
  // character in that state.
  virtual std::optional<wchar_t> CharacterOf(std::uint16_t virtualKey, bool shift, bool capsLockOn) const = 0;
};

// Asks another layout each question once: a layout's tables never change,
// and asking the system for every character of every code costs time
// before the first key goes out.
class RememberedLayout final : public KeyboardLayout {
 public:
  explicit RememberedLayout(const KeyboardLayout& source) : source_(source) { keys_.fill(kNotAsked); }
  std::int16_t KeyFor(wchar_t character) const override;
  std::optional<wchar_t> CharacterOf(std::uint16_t virtualKey, bool shift, bool capsLockOn) const override;

 private:
  static constexpr wchar_t kFirstRemembered = 0x20, kLastRemembered = 0x7E;
  static constexpr std::int16_t kNotAsked = INT16_MIN;
  static constexpr std::uint32_t kNotAskedCharacter = 0, kNoCharacter = 1;  // others: the character + 2

  const KeyboardLayout& source_;
  mutable std::array<std::int16_t, kLastRemembered - kFirstRemembered + 1> keys_;
  mutable std::array<std::uint32_t, 256 * 4> characters_{};  // by key, Shift and Caps Lock
};

// Every layout a window in front has had, by the value of its handle (an
// HKL), each with the answers it has given: one layout's answers never
// stand for another's. `Source` asks the system about the layout of the
// handle it is made with.
template <class Source>
class RememberedLayouts {
 public:
  struct Known {
    explicit Known(std::uintptr_t handle) : source(handle) {}
    Source source;
    const RememberedLayout remembered{source};
  };

  Known& For(std::uintptr_t handle) {
    std::unique_ptr<Known>& known = known_[handle];
    if (!known) known = std::make_unique<Known>(handle);
    return *known;
  }

 private:
  std::map<std::uintptr_t, std::unique_ptr<Known>> known_;
};

// The keyboard as the code finds it.
struct KeyboardState {
  bool capsLockOn = false;
  // The user's "press Shift to turn off Caps Lock" setting: then Shift
  // turns Caps Lock off, and the Caps Lock key only ever turns it on.
  bool shiftTurnsOffCapsLock = false;
};

// The events that type the runs, one after the other with their pauses
// between them, so that the window receives exactly their characters
// (UTF-16). What is typed is decided before (PrepareCode); the plan decides
// only the keys. A surrogate pair is one group.
//
// Keys are chosen by what the layout says they give under Caps Lock as the
// keyboard has it, which the plan never touches. Shift is pressed where a
// key needs it; Ctrl, Alt and the Windows keys never: a character that
// needs them, has no key or is not ASCII is sent as itself. So is one that
// needs Shift while Caps Lock is on where Shift turns Caps Lock off.
// Tab, Backspace, Escape and line feed (as Enter) are typed as their keys,
// the separators of GS1 and ISO/IEC 15434 (EOT, FS, GS, RS, US) as
// themselves; a control character that is left out (IsLeftOut) is never
// sent.
std::vector<KeyGroup> PlanKeystrokes(std::span<const TypedRun> runs, const KeyboardLayout& layout,
                                     KeyboardState keyboard);
// As above, for one run without a pause.
std::vector<KeyGroup> PlanKeystrokes(std::wstring_view text, const KeyboardLayout& layout, KeyboardState keyboard);

// The events that leave the keyboard as the plan found it when only `sent`
// of its events went through: releases of every key left down.
std::vector<KeyStroke> Unwind(std::span<const KeyStroke> sent);

// Where planned events go: the system's input stream on Windows.
class KeySink {
 public:
  virtual ~KeySink() = default;
  // How many of the events, from the first on, went through.
  virtual std::size_t Send(std::span<const KeyStroke> strokes) = 0;
  virtual void Pause(int milliseconds) = 0;
  // Whether another window has come in front since the code began: what
  // is left of it would go there. A sink that cannot tell says no.
  virtual bool TargetChanged() { return false; }
};

enum class SendResult { Typed, Stopped, Refused, Cut };

// Sends the plan in one go without a key delay, so that keys the operator
// types meanwhile cannot land inside the code, Shift held down across each
// run of characters that need it and released at the run's end; with one,
// a group at a time with the delay between them. Once `stopping` is set
// nothing more is sent, not even a first group. When the sink refuses
// events, sends what unwinds those that went through. A pause in the plan
// is waited out between the events before it and those after it, in place
// of the delay. Before each batch, the first too, the sink is asked whether
// the window changed: then nothing more is sent (Cut), and no key is down.
SendResult SendPlan(const std::vector<KeyGroup>& plan, int keyDelayMs, const std::atomic<bool>& stopping,
                    KeySink& sink);
