#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "reader/typing_options.h"

// Virtual-key codes the plan uses, with their Win32 values.
namespace virtual_key {
constexpr std::uint16_t kBackspace = 0x08;
constexpr std::uint16_t kTab = 0x09;
constexpr std::uint16_t kEnter = 0x0D;
constexpr std::uint16_t kShift = 0x10;
constexpr std::uint16_t kCapsLock = 0x14;
constexpr std::uint16_t kEscape = 0x1B;
}  // namespace virtual_key

// One synthesised keyboard event: a key by its virtual-key code, or a
// character delivered as itself whatever the layout.
struct KeyStroke {
  enum class Kind : std::uint8_t { VirtualKey, Unicode };
  Kind kind;
  std::uint16_t code;
  bool up;

  bool operator==(const KeyStroke&) const = default;
};

// Events sent together: one character's, or the Caps Lock press around a
// code. Between the groups of a paced code no key is down and Caps Lock is
// as it was found.
using KeyGroup = std::vector<KeyStroke>;

// The keyboard layout of the window that receives the keys.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // As VkKeyScanEx answers: the virtual key in the low byte, the shift
  // state in the high byte (1 Shift, 2 Ctrl, 4 Alt), or -1 for no key.
  virtual std::int16_t KeyFor(wchar_t character) const = 0;
};

// The keyboard as the code finds it.
struct KeyboardState {
  bool capsLockOn = false;
  // The user's "press Shift to turn off Caps Lock" setting: then Shift
  // turns Caps Lock off, and the Caps Lock key only ever turns it on.
  bool shiftTurnsOffCapsLock = false;
};

// The Unicode character of a byte in code page 1251; 0 for the one byte
// that has none.
wchar_t FromCodePage1251(std::uint8_t byte);

// The events that type the prefix, the code and the suffix so that the
// window receives exactly their characters. Code bytes are code page 1251;
// each group separator becomes the options' replacement when one is set.
//
// Typed in one go, the code is typed with Caps Lock on: it is pressed
// before and after when it is off. A paced code, or a keyboard where Shift
// turns Caps Lock off, is typed under Caps Lock as found; on such a
// keyboard with Caps Lock on, a character that needs Shift is sent as
// itself.
// Shift is pressed where a character needs it; Ctrl, Alt and the Windows
// keys never: a character that needs them, has no key or is not ASCII is
// sent as itself. Tab, Backspace, Escape and line feed (as Enter) are typed
// as their keys, every other control character as itself.
std::vector<KeyGroup> PlanKeystrokes(std::string_view code, const KeyboardLayout& layout, KeyboardState keyboard,
                                     const TypingOptions& options = {});

// The events that leave the keyboard as the plan found it when only `sent`
// of its events went through: releases of every key left down, and one
// more Caps Lock press when it was toggled an odd number of times.
std::vector<KeyStroke> Unwind(std::span<const KeyStroke> sent);

// Where planned events go: the system's input stream on Windows.
class KeySink {
 public:
  virtual ~KeySink() = default;
  // How many of the events, from the first on, went through.
  virtual std::size_t Send(std::span<const KeyStroke> strokes) = 0;
  virtual void Pause(int milliseconds) = 0;
};

enum class SendResult { Typed, Stopped, Refused };

// Sends the plan in one go without a key delay, so that keys the operator
// types meanwhile cannot land inside the code; with one, a group at a time
// with the delay between them, ending early once `stopping` is set. When
// the sink refuses events, sends what unwinds those that went through.
SendResult SendPlan(const std::vector<KeyGroup>& plan, int keyDelayMs, const std::atomic<bool>& stopping,
                    KeySink& sink);
