#include "reader/keystroke_plan.h"

#include <algorithm>
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

std::optional<std::uint16_t> ControlKey(wchar_t c) {
  switch (c) {
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

constexpr char kGroupSeparator = 0x1D;

wchar_t OtherCase(wchar_t c) {
  if (c >= L'a' && c <= L'z') return c - L'a' + L'A';
  if (c >= L'A' && c <= L'Z') return c - L'A' + L'a';
  return c;
}

// Caps Lock swaps the cases of a letter only where the layout puts both
// cases on one key, Shift telling them apart.
bool FollowsCapsLock(wchar_t c, std::int16_t key, const KeyboardLayout& layout) {
  const wchar_t other = OtherCase(c);
  if (other == c) return false;
  const std::int16_t otherKey = layout.KeyFor(other);
  return otherKey != -1 && (otherKey & 0xFF) == (key & 0xFF) &&
         ((otherKey >> 8) & kShiftState) != ((key >> 8) & kShiftState);
}

class Planner {
 public:
  Planner(const KeyboardLayout& layout, KeyboardState keyboard, bool paced)
      : layout_(layout),
        keyboard_(keyboard),
        // Caps Lock on saves the Shift presses of upper-case codes, but it
        // needs Caps Lock presses that a paced code could not keep balanced
        // between its characters, and that a keyboard whose Caps Lock only
        // Shift turns off could not undo.
        typingCapsLockOn_(keyboard.capsLockOn || !(paced || keyboard.shiftTurnsOffCapsLock)) {}

  std::vector<KeyGroup> Take() { return std::move(groups_); }

  void CapsLockAsTyped() {
    if (typingCapsLockOn_ != keyboard_.capsLockOn) Press(virtual_key::kCapsLock);
  }
  void Press(std::uint16_t virtualKey) { groups_.push_back({Key(virtualKey, false), Key(virtualKey, true)}); }

  void Text(std::wstring_view text) {
    for (const wchar_t c : text) Character(c);
  }

  void Character(wchar_t c) {
    if (c == 0) return;
    if (const auto key = ControlKey(c)) return Press(*key);
    // Keys of a Cyrillic layout differ from machine to machine; the
    // character itself arrives the same everywhere.
    const std::int16_t key = c >= 0x20 && c < 0x7F ? layout_.KeyFor(c) : -1;
    const std::uint16_t shiftState = static_cast<std::uint16_t>(key >> 8) & 0xFF;
    if (key == -1 || (key & 0xFF) == 0xFF || (shiftState & kCtrlOrAltState) != 0) return Itself(c);
    const std::uint16_t virtualKey = key & 0xFF;
    const bool shifted = ((shiftState & kShiftState) != 0) != (typingCapsLockOn_ && FollowsCapsLock(c, key, layout_));
    if (!shifted) return Press(virtualKey);
    if (typingCapsLockOn_ && keyboard_.shiftTurnsOffCapsLock) return Itself(c);
    groups_.push_back({Key(virtual_key::kShift, false), Key(virtualKey, false), Key(virtualKey, true),
                       Key(virtual_key::kShift, true)});
  }

 private:
  static KeyStroke Key(std::uint16_t virtualKey, bool up) { return {KeyStroke::Kind::VirtualKey, virtualKey, up}; }
  void Itself(wchar_t c) {
    const auto code = static_cast<std::uint16_t>(c);
    groups_.push_back({{KeyStroke::Kind::Unicode, code, false}, {KeyStroke::Kind::Unicode, code, true}});
  }

  const KeyboardLayout& layout_;
  const KeyboardState keyboard_;
  const bool typingCapsLockOn_;
  std::vector<KeyGroup> groups_;
};

}  // namespace

wchar_t FromCodePage1251(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xC0) return kCodePage1251High[byte - 0x80];
  return static_cast<wchar_t>(0x0410 + (byte - 0xC0));
}

std::vector<KeyGroup> PlanKeystrokes(std::string_view code, const KeyboardLayout& layout, KeyboardState keyboard,
                                     const TypingOptions& options) {
  Planner plan(layout, keyboard, options.keyDelayMs > 0);
  plan.CapsLockAsTyped();
  plan.Text(options.prefix);
  for (const char byte : code) {
    if (byte == kGroupSeparator && !options.groupSeparator.empty()) {
      plan.Text(options.groupSeparator);
    } else {
      plan.Character(FromCodePage1251(static_cast<std::uint8_t>(byte)));
    }
  }
  switch (options.suffix) {
    case TypingOptions::Suffix::Enter:
      plan.Press(virtual_key::kEnter);
      break;
    case TypingOptions::Suffix::Tab:
      plan.Press(virtual_key::kTab);
      break;
    case TypingOptions::Suffix::None:
      break;
  }
  plan.CapsLockAsTyped();
  return plan.Take();
}

std::vector<KeyStroke> Unwind(std::span<const KeyStroke> sent) {
  std::vector<std::uint16_t> down;
  bool capsLockToggled = false;
  for (const KeyStroke& stroke : sent) {
    if (stroke.kind != KeyStroke::Kind::VirtualKey) continue;
    if (stroke.up) {
      std::erase(down, stroke.code);
    } else {
      down.push_back(stroke.code);
      if (stroke.code == virtual_key::kCapsLock) capsLockToggled = !capsLockToggled;
    }
  }
  std::vector<KeyStroke> undo;
  for (auto key = down.rbegin(); key != down.rend(); ++key) undo.push_back({KeyStroke::Kind::VirtualKey, *key, true});
  if (capsLockToggled) {
    undo.push_back({KeyStroke::Kind::VirtualKey, virtual_key::kCapsLock, false});
    undo.push_back({KeyStroke::Kind::VirtualKey, virtual_key::kCapsLock, true});
  }
  return undo;
}

SendResult SendPlan(const std::vector<KeyGroup>& plan, int keyDelayMs, const std::atomic<bool>& stopping,
                    KeySink& sink) {
  std::vector<KeyStroke> strokes;
  std::vector<std::size_t> batchEnds;
  for (const KeyGroup& group : plan) {
    strokes.insert(strokes.end(), group.begin(), group.end());
    if (keyDelayMs > 0) batchEnds.push_back(strokes.size());
  }
  if (keyDelayMs == 0 && !strokes.empty()) batchEnds.push_back(strokes.size());

  std::size_t sent = 0;
  for (const std::size_t end : batchEnds) {
    if (sent > 0) {
      // Between groups no key is down: ending here leaves nothing pressed.
      if (stopping) return SendResult::Stopped;
      sink.Pause(keyDelayMs);
      if (stopping) return SendResult::Stopped;
    }
    const auto batch = std::span(strokes).subspan(sent, end - sent);
    const std::size_t accepted = std::min(sink.Send(batch), batch.size());
    sent += accepted;
    if (accepted != batch.size()) {
      if (const auto undo = Unwind(std::span(strokes).first(sent)); !undo.empty()) sink.Send(undo);
      return SendResult::Refused;
    }
  }
  return SendResult::Typed;
}
