#include "reader/keystroke_plan.h"

#include <array>
#include <optional>

namespace {

// Code page 1251 from 0x80 to 0xBF; from 0xC0 on it runs А..я in order.
constexpr std::array<wchar_t, 64> kCodePage1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

constexpr std::uint16_t kShiftState = 0x01;
constexpr std::uint16_t kCtrlOrAltState = 0x06;

std::optional<std::uint16_t> ControlKey(std::uint8_t byte) {
  switch (byte) {
    case 0x08:
      return virtual_key::kBackspace;
    case 0x09:
      return virtual_key::kTab;
    case 0x0A:
      return virtual_key::kEnter;
    case 0x1B:
      return virtual_key::kEscape;
    default:
      return std::nullopt;
  }
}

wchar_t OtherCase(wchar_t c) {
  if (c >= L'a' && c <= L'z') return c - L'a' + L'A';
  if (c >= L'A' && c <= L'Z') return c - L'A' + L'a';
  return c;
}

class Planner {
 public:
  explicit Planner(std::vector<KeyStroke>& strokes) : strokes_(strokes) {}

  void Press(std::uint16_t virtualKey) {
    Key(virtualKey, false);
    Key(virtualKey, true);
  }
  void PressShifted(std::uint16_t virtualKey) {
    Key(virtual_key::kShift, false);
    Press(virtualKey);
    Key(virtual_key::kShift, true);
  }
  void Character(wchar_t c) {
    strokes_.push_back({KeyStroke::Kind::Unicode, static_cast<std::uint16_t>(c), false});
    strokes_.push_back({KeyStroke::Kind::Unicode, static_cast<std::uint16_t>(c), true});
  }

 private:
  void Key(std::uint16_t virtualKey, bool up) { strokes_.push_back({KeyStroke::Kind::VirtualKey, virtualKey, up}); }
  std::vector<KeyStroke>& strokes_;
};

// Caps Lock swaps the cases of a letter only where the layout puts both
// cases on one key, Shift telling them apart.
bool FollowsCapsLock(wchar_t c, std::int16_t key, const KeyboardLayout& layout) {
  const wchar_t other = OtherCase(c);
  if (other == c) return false;
  const std::int16_t otherKey = layout.KeyFor(other);
  return otherKey != -1 && (otherKey & 0xFF) == (key & 0xFF) &&
         ((otherKey >> 8) & kShiftState) != ((key >> 8) & kShiftState);
}

}  // namespace

wchar_t FromCodePage1251(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xC0) return kCodePage1251High[byte - 0x80];
  return static_cast<wchar_t>(0x0410 + (byte - 0xC0));
}

std::vector<KeyStroke> PlanKeystrokes(std::string_view code, const KeyboardLayout& layout, bool capsLockOn) {
  std::vector<KeyStroke> strokes;
  Planner plan(strokes);
  if (!capsLockOn) plan.Press(virtual_key::kCapsLock);
  for (const char raw : code) {
    const auto byte = static_cast<std::uint8_t>(raw);
    if (const auto key = ControlKey(byte)) {
      plan.Press(*key);
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) continue;
    const wchar_t c = FromCodePage1251(byte);
    if (c == 0) continue;
    // Keys of a Cyrillic layout differ from machine to machine; the
    // character itself arrives the same everywhere.
    const std::int16_t key = byte < 0x80 ? layout.KeyFor(c) : -1;
    const std::uint16_t shiftState = static_cast<std::uint16_t>(key >> 8) & 0xFF;
    if (key == -1 || (key & 0xFF) == 0xFF || (shiftState & kCtrlOrAltState) != 0) {
      plan.Character(c);
      continue;
    }
    const std::uint16_t virtualKey = key & 0xFF;
    // Caps Lock is on while the code is typed.
    const bool shifted = ((shiftState & kShiftState) != 0) != FollowsCapsLock(c, key, layout);
    if (shifted) {
      plan.PressShifted(virtualKey);
    } else {
      plan.Press(virtualKey);
    }
  }
  if (!capsLockOn) plan.Press(virtual_key::kCapsLock);
  return strokes;
}
