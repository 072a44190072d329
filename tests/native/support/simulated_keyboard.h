#pragma once

// Layouts given as tables and a keyboard that plays key events into a
// window with one of them, as Windows would: for the plan's unit tests and
// its fuzz target.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "reader/keystroke_plan.h"

namespace simulated {

constexpr std::uint16_t kShift = 1, kAlt = 4, kCtrlAlt = 6;

// A layout given as a table, with the keys that Caps Lock shifts named
// explicitly, as a real layout's tables do.
class TableLayout final : public KeyboardLayout {
 public:
  struct Key {
    std::uint16_t virtualKey;
    std::uint16_t shiftState;
  };
  void Add(wchar_t c, std::uint16_t virtualKey, std::uint16_t shiftState = 0) { keys_[c] = {virtualKey, shiftState}; }
  void AddLetter(wchar_t lower, std::uint16_t virtualKey) {
    Add(lower, virtualKey);
    Add(static_cast<wchar_t>(lower - L'a' + L'A'), virtualKey, kShift);
    capsKeys_.insert(virtualKey);
  }
  std::int16_t KeyFor(wchar_t c) const override {
    const auto k = keys_.find(c);
    return k == keys_.end() ? -1 : static_cast<std::int16_t>(k->second.virtualKey | (k->second.shiftState << 8));
  }
  // What a window with this layout receives for a key press with neither
  // Ctrl nor Alt down.
  std::optional<wchar_t> CharacterOf(std::uint16_t virtualKey, bool shift, bool capsLock) const {
    const bool effectiveShift = shift != (capsLock && capsKeys_.count(virtualKey) == 1);
    for (const auto& [c, key] : keys_) {
      if (key.virtualKey == virtualKey && key.shiftState == (effectiveShift ? kShift : 0)) return c;
    }
    return std::nullopt;
  }

 private:
  std::map<wchar_t, Key> keys_;
  std::set<std::uint16_t> capsKeys_;
};

inline void AddDigitRow(TableLayout& layout, const wchar_t* shifted) {
  for (int d = 0; d <= 9; ++d) {
    layout.Add(static_cast<wchar_t>(L'0' + d), static_cast<std::uint16_t>('0' + d));
    if (shifted[d] != L' ') layout.Add(shifted[d], static_cast<std::uint16_t>('0' + d), kShift);
  }
  layout.Add(L' ', 0x20);
}

inline TableLayout UsLayout() {
  TableLayout us;
  for (wchar_t c = L'a'; c <= L'z'; ++c) us.AddLetter(c, static_cast<std::uint16_t>(c - L'a' + 'A'));
  AddDigitRow(us, L")!@#$%^&*(");
  const std::tuple<wchar_t, wchar_t, std::uint16_t> oem[] = {
      {L'-', L'_', 0xBD},  {L'=', L'+', 0xBB}, {L'[', L'{', 0xDB},  {L']', L'}', 0xDD},
      {L'\\', L'|', 0xDC}, {L';', L':', 0xBA}, {L'\'', L'"', 0xDE}, {L',', L'<', 0xBC},
      {L'.', L'>', 0xBE},  {L'/', L'?', 0xBF}, {L'`', L'~', 0xC0}};
  for (const auto& [plain, shifted, vk] : oem) {
    us.Add(plain, vk);
    us.Add(shifted, vk, kShift);
  }
  return us;
}

// Like the Russian layout: no Latin letters, "!" "\"" "№" ";" "%" ":" "?" on
// the shifted digits, "." and "," on one key.
inline TableLayout RussianLikeLayout() {
  TableLayout ru;
  AddDigitRow(ru, L")!\"\u2116;%:?*(");
  ru.Add(L'.', 0xBF);
  ru.Add(L',', 0xBF, kShift);
  ru.Add(L'-', 0xBD);
  ru.Add(L'_', 0xBD, kShift);
  ru.Add(L'=', 0xBB);
  ru.Add(L'+', 0xBB, kShift);
  return ru;
}

// Like the German layout: "@" needs AltGr (Ctrl+Alt), Y and Z swapped; and
// "|" on Alt alone, as some layouts have it, on the key of "<".
inline TableLayout GermanLikeLayout() {
  TableLayout de;
  for (wchar_t c = L'a'; c <= L'z'; ++c) {
    const wchar_t key = c == L'y' ? L'Z' : c == L'z' ? L'Y' : static_cast<wchar_t>(c - L'a' + L'A');
    de.AddLetter(c, static_cast<std::uint16_t>(key));
  }
  AddDigitRow(de, L"=!\"\u00a7$%&/()");
  de.Add(L'@', 'Q', kCtrlAlt);
  de.Add(L'<', 0xE2);
  de.Add(L'|', 0xE2, kAlt);
  de.Add(L'-', 0xBD);
  de.Add(L'.', 0xBE);
  de.Add(L'+', 0xBB);
  return de;
}

// What a window received from a sequence of events, and what went wrong
// on the way.
struct Reception {
  std::wstring text;
  bool capsLockOn = false;
  std::vector<std::string> faults;  // empty when every key was sound
};

// Plays the events into a window with the layout. With the "Shift turns
// off Caps Lock" setting, Shift turns Caps Lock off and its key only on.
inline Reception Play(const std::vector<KeyStroke>& strokes, const TableLayout& layout, KeyboardState keyboard) {
  Reception r{L"", keyboard.capsLockOn, {}};
  std::set<std::uint16_t> down;
  const auto fault = [&r](const std::string& what, std::uint16_t key) {
    r.faults.push_back(what + " " + std::to_string(key));
  };
  for (const KeyStroke& s : strokes) {
    if (s.kind == KeyStroke::Kind::Unicode) {
      if (!s.up) r.text += static_cast<wchar_t>(s.code);
      continue;
    }
    // Ctrl, Alt and the Windows keys, in general and left and right.
    static const std::set<std::uint16_t> kModifiers = {0x11, 0x12, 0xA2, 0xA3, 0xA4, 0xA5, 0x5B, 0x5C};
    if (kModifiers.count(s.code) == 1) fault("modifier pressed:", s.code);
    if (s.up) {
      if (down.erase(s.code) != 1) fault("released without a press:", s.code);
      continue;
    }
    if (!down.insert(s.code).second) fault("pressed twice:", s.code);
    switch (s.code) {
      case virtual_key::kCapsLock:
        r.capsLockOn = keyboard.shiftTurnsOffCapsLock || !r.capsLockOn;
        break;
      case virtual_key::kShift:
        if (keyboard.shiftTurnsOffCapsLock) r.capsLockOn = false;
        break;
      case virtual_key::kTab:
        r.text += L'\t';
        break;
      case virtual_key::kBackspace:
        r.text += L'\b';
        break;
      case virtual_key::kEscape:
        r.text += L'\x1b';
        break;
      case virtual_key::kEnter:
        r.text += L'\r';
        break;
      default:
        if (const auto c = layout.CharacterOf(s.code, down.count(virtual_key::kShift) == 1, r.capsLockOn)) {
          r.text += *c;
        } else {
          fault("gives no character:", s.code);
        }
    }
  }
  for (const std::uint16_t key : down) fault("left down:", key);
  return r;
}

inline std::vector<KeyStroke> Flatten(const std::vector<KeyGroup>& groups) {
  std::vector<KeyStroke> strokes;
  for (const KeyGroup& group : groups) strokes.insert(strokes.end(), group.begin(), group.end());
  return strokes;
}

// An input stream that cuts the call in which its first `capacity` events
// end, as SendInput does when a desktop switch comes in between, and takes
// every event after that.
class InterruptedSink final : public KeySink {
 public:
  explicit InterruptedSink(std::size_t capacity) : capacity_(capacity) {}
  std::size_t Send(std::span<const KeyStroke> strokes) override {
    ++calls;
    const std::size_t taken = std::min(strokes.size(), capacity_);
    received.insert(received.end(), strokes.begin(), strokes.begin() + static_cast<std::ptrdiff_t>(taken));
    capacity_ = taken < strokes.size() ? SIZE_MAX : capacity_ - taken;
    return taken;
  }
  void Pause(int) override {}

  std::vector<KeyStroke> received;
  int calls = 0;

 private:
  std::size_t capacity_;
};

}  // namespace simulated
