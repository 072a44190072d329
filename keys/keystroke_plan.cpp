#include "keys/keystroke_plan.h"

#include <algorithm>
#include <array>
#include <optional>

#include "text/prepared_code.h"

namespace {

constexpr std::uint16_t kShiftState = 0x01;
constexpr std::uint16_t kCtrlOrAltState = 0x06;
constexpr KeyStroke kShiftDown{KeyStroke::Kind::VirtualKey, virtual_key::kShift, false};
constexpr KeyStroke kShiftUp{KeyStroke::Kind::VirtualKey, virtual_key::kShift, true};

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

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A key that gives the character in the layout as it is now.
struct KeyChoice {
  std::uint16_t virtualKey;
  bool shift;
};

std::optional<KeyChoice> ChooseKey(wchar_t c, const KeyboardLayout& layout, bool capsLockOn) {
  const std::int16_t key = layout.KeyFor(c);
  const auto virtualKey = static_cast<std::uint16_t>(key & 0xFF);
  const auto shiftState = static_cast<std::uint16_t>((key >> 8) & 0xFF);
  if (key == -1 || virtualKey == 0xFF || (shiftState & kCtrlOrAltState) != 0) return std::nullopt;
  // Caps Lock shifts some keys and not others, as each layout decides: a
  // digit on a French or German keyboard, not on a US one.
  const bool shiftAsScanned = (shiftState & kShiftState) != 0;
  for (const bool shift : {shiftAsScanned, !shiftAsScanned}) {
    if (layout.CharacterOf(virtualKey, shift, capsLockOn) == c) return KeyChoice{virtualKey, shift};
  }
  return std::nullopt;
}

class Planner {
 public:
  Planner(const KeyboardLayout& layout, KeyboardState keyboard) : layout_(layout), keyboard_(keyboard) {}

  std::vector<KeyGroup> Take() { return std::move(groups_); }

  void Pause(int milliseconds) {
    groups_.push_back({{KeyStroke::Kind::Pause, static_cast<std::uint16_t>(milliseconds), false}});
  }

  void Press(std::uint16_t virtualKey) { groups_.push_back({Key(virtualKey, false), Key(virtualKey, true)}); }

  void Text(std::wstring_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      // A surrogate pair is one character: its halves go in one group, so
      // no pause and no stop can fall between them.
      if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        KeyGroup pair = Unicode(text[i]);
        const KeyGroup low = Unicode(text[++i]);
        pair.insert(pair.end(), low.begin(), low.end());
        groups_.push_back(std::move(pair));
        continue;
      }
      Character(text[i]);
    }
  }

  void Character(wchar_t c) {
    if (IsLeftOut(c)) return;
    if (const auto key = ControlKey(c)) return Press(*key);
    // Keys of a Cyrillic layout differ from machine to machine; the
    // character itself arrives the same everywhere.
    const auto choice = c >= 0x20 && c < 0x7F ? ChooseKey(c, layout_, keyboard_.capsLockOn) : std::nullopt;
    if (!choice) return Itself(c);
    if (!choice->shift) return Press(choice->virtualKey);
    if (keyboard_.capsLockOn && keyboard_.shiftTurnsOffCapsLock) return Itself(c);
    groups_.push_back({Key(virtual_key::kShift, false), Key(choice->virtualKey, false), Key(choice->virtualKey, true),
                       Key(virtual_key::kShift, true)});
  }

 private:
  static KeyStroke Key(std::uint16_t virtualKey, bool up) { return {KeyStroke::Kind::VirtualKey, virtualKey, up}; }
  static KeyGroup Unicode(wchar_t c) {
    const auto code = static_cast<std::uint16_t>(c);
    return {{KeyStroke::Kind::Unicode, code, false}, {KeyStroke::Kind::Unicode, code, true}};
  }
  void Itself(wchar_t c) { groups_.push_back(Unicode(c)); }

  const KeyboardLayout& layout_;
  const KeyboardState keyboard_;
  std::vector<KeyGroup> groups_;
};

}  // namespace

KeyState KeyStateFor(bool shift, bool capsLockOn) {
  KeyState keys{};
  constexpr std::uint8_t kDown = 0x80, kToggledOn = 0x01;
  // Layouts read the general Shift; the left one keeps the state whole.
  if (shift) keys[virtual_key::kShift] = keys[virtual_key::kLeftShift] = kDown;
  if (capsLockOn) keys[virtual_key::kCapsLock] = kToggledOn;
  return keys;
}

bool CapsLockToggled(std::int16_t keyState) { return (keyState & 0x01) != 0; }

std::int16_t RememberedLayout::KeyFor(wchar_t character) const {
  if (character < kFirstRemembered || character > kLastRemembered) return source_.KeyFor(character);
  std::int16_t& key = keys_[character - kFirstRemembered];
  if (key == kNotAsked) key = source_.KeyFor(character);
  return key;
}

std::optional<wchar_t> RememberedLayout::CharacterOf(std::uint16_t virtualKey, bool shift, bool capsLockOn) const {
  if (virtualKey > 0xFF) return source_.CharacterOf(virtualKey, shift, capsLockOn);
  std::uint32_t& answer = characters_[virtualKey * 4 + (shift ? 2 : 0) + (capsLockOn ? 1 : 0)];
  if (answer == kNotAskedCharacter) {
    const auto character = source_.CharacterOf(virtualKey, shift, capsLockOn);
    answer = character ? static_cast<std::uint32_t>(*character) + 2 : kNoCharacter;
  }
  if (answer == kNoCharacter) return std::nullopt;
  return static_cast<wchar_t>(answer - 2);
}

std::vector<KeyGroup> PlanKeystrokes(std::span<const TypedRun> runs, const KeyboardLayout& layout,
                                     KeyboardState keyboard) {
  Planner plan(layout, keyboard);
  for (const TypedRun& run : runs) {
    plan.Text(run.text);
    if (run.pauseAfterMs > 0) plan.Pause(run.pauseAfterMs);
  }
  return plan.Take();
}

std::vector<KeyGroup> PlanKeystrokes(std::wstring_view text, const KeyboardLayout& layout, KeyboardState keyboard) {
  const TypedRun run{std::wstring(text)};
  return PlanKeystrokes(std::span(&run, 1), layout, keyboard);
}

std::vector<KeyStroke> Unwind(std::span<const KeyStroke> sent) {
  std::vector<std::uint16_t> down;
  for (const KeyStroke& stroke : sent) {
    if (stroke.kind != KeyStroke::Kind::VirtualKey) continue;
    if (stroke.up) {
      std::erase(down, stroke.code);
    } else {
      down.push_back(stroke.code);
    }
  }
  std::vector<KeyStroke> undo;
  for (auto key = down.rbegin(); key != down.rend(); ++key) undo.push_back({KeyStroke::Kind::VirtualKey, *key, true});
  return undo;
}

namespace {

bool IsPause(const KeyGroup& group) { return group.size() == 1 && group.front().kind == KeyStroke::Kind::Pause; }

// A part of a plan between its pauses.
SendResult SendPart(std::span<const KeyGroup> plan, int keyDelayMs, const std::atomic<bool>& stopping, KeySink& sink) {
  std::vector<KeyStroke> strokes;
  std::vector<std::size_t> batchEnds;
  for (const KeyGroup& group : plan) {
    auto first = group.begin();
    // In one batch a run of capitals keeps Shift down: half the events of
    // pressing it for each. Every group ends with Shift up, so it is still
    // released before any other key, a character sent as itself, and the
    // batch's end.
    if (keyDelayMs == 0 && first != group.end() && !strokes.empty() && *first == kShiftDown &&
        strokes.back() == kShiftUp) {
      strokes.pop_back();
      ++first;
    }
    strokes.insert(strokes.end(), first, group.end());
    if (keyDelayMs > 0) batchEnds.push_back(strokes.size());
  }
  if (keyDelayMs == 0 && !strokes.empty()) batchEnds.push_back(strokes.size());

  std::size_t sent = 0;
  for (const std::size_t end : batchEnds) {
    // Between groups no key is down: ending here leaves nothing pressed.
    if (stopping) return SendResult::Stopped;
    if (sent > 0) {
      sink.Pause(keyDelayMs);
      if (stopping) return SendResult::Stopped;
    }
    if (sink.TargetChanged()) return SendResult::Cut;
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

}  // namespace

SendResult SendPlan(const std::vector<KeyGroup>& plan, int keyDelayMs, const std::atomic<bool>& stopping,
                    KeySink& sink) {
  auto part = plan.begin();
  while (true) {
    const auto pause = std::find_if(part, plan.end(), IsPause);
    if (const SendResult result = SendPart(std::span(part, pause), keyDelayMs, stopping, sink);
        result != SendResult::Typed) {
      return result;
    }
    if (pause == plan.end()) return SendResult::Typed;
    if (stopping) return SendResult::Stopped;
    sink.Pause(pause->front().code);
    part = pause + 1;
  }
}
