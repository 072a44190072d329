#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

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

// The keyboard layout of the window that receives the keys.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // As VkKeyScanEx answers: the virtual key in the low byte, the shift
  // state in the high byte (1 Shift, 2 Ctrl, 4 Alt), or -1 for no key.
  virtual std::int16_t KeyFor(wchar_t character) const = 0;
};

// The Unicode character of a byte in code page 1251; 0 for the one byte
// that has none.
wchar_t FromCodePage1251(std::uint8_t byte);

// The events that type the code so that the window receives exactly its
// characters: Caps Lock is pressed before and after when it is off, so the
// code is typed with Caps Lock on; Shift is pressed when a character needs
// it under that state; Ctrl and Alt never, a character that needs them or
// has no key is sent as itself. Tab, Backspace, Escape and line feed (as
// Enter) are typed as their keys, other control bytes not at all.
std::vector<KeyStroke> PlanKeystrokes(std::string_view code, const KeyboardLayout& layout, bool capsLockOn);
