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

#include "keys/keystroke_plan.h"

namespace simulated {

constexpr std::uint16_t kShift = 1, kAlt = 4, kCtrlAlt = 6;
// Where a table has no character, and where it has a dead key.
constexpr wchar_t kNone = 0xF000, kDead = 0xF001;

// A layout given as the rows of its table, as Windows keeps it: for each
// key what it gives in each column of shift states, and how Caps Lock acts
// on it. Asked as VkKeyScanEx and ToUnicodeEx would be.
class TableLayout final : public KeyboardLayout {
 public:
  enum class Caps : std::uint8_t {
    None,    // Caps Lock does nothing to the key
    Shift,   // CAPLOK: Caps Lock acts as Shift
    OwnRow,  // SGCAPS: Caps Lock gives the characters of a row of their own
  };
  struct Row {
    std::uint16_t virtualKey;
    Caps caps;
    std::wstring chars;        // a character per column, kNone or kDead where there is none
    std::wstring capsChars{};  // the row under Caps Lock, for Caps::OwnRow
  };
  // The shift state of each column, in the order VkKeyScanEx reads them.
  TableLayout(std::vector<Row> rows, std::vector<std::uint16_t> columns = {0, kShift, kCtrlAlt})
      : rows_(std::move(rows)), columns_(std::move(columns)) {}

  std::int16_t KeyFor(wchar_t c) const override {
    for (const Row& row : rows_) {
      for (std::size_t column = 0; column < row.chars.size() && column < columns_.size(); ++column) {
        if (row.chars[column] == c) return static_cast<std::int16_t>(row.virtualKey | (columns_[column] << 8));
      }
    }
    return -1;
  }
  std::optional<wchar_t> CharacterOf(std::uint16_t virtualKey, bool shift, bool capsLockOn) const override {
    for (const Row& row : rows_) {
      if (row.virtualKey != virtualKey) continue;
      const bool ownRow = capsLockOn && row.caps == Caps::OwnRow;
      const std::wstring& chars = ownRow ? row.capsChars : row.chars;
      const std::size_t column = shift != (capsLockOn && row.caps == Caps::Shift) ? 1 : 0;
      if (column >= chars.size() || chars[column] == kNone || chars[column] == kDead) return std::nullopt;
      return chars[column];
    }
    return std::nullopt;
  }
  // As ToUnicodeEx reads a keyboard state: Shift by its top bit, Caps Lock
  // by its low bit.
  std::optional<wchar_t> ToUnicode(std::uint16_t virtualKey, const KeyState& keys) const {
    return CharacterOf(virtualKey, (keys[virtual_key::kShift] & 0x80) != 0, (keys[virtual_key::kCapsLock] & 0x01) != 0);
  }

 private:
  std::vector<TableLayout::Row> rows_;
  std::vector<std::uint16_t> columns_;
};

using Caps = TableLayout::Caps;
using Rows = std::vector<TableLayout::Row>;

// Letters with Caps Lock acting as Shift, and AltGr characters where the
// layout has them.
inline void AddLetters(Rows& rows, const wchar_t* letters, const std::map<wchar_t, wchar_t>& altGr = {}) {
  for (const wchar_t* l = letters; *l != 0; ++l) {
    const auto upper = static_cast<wchar_t>(*l - L'a' + L'A');
    const auto a = altGr.find(*l);
    rows.push_back({static_cast<std::uint16_t>(upper), Caps::Shift,
                    a == altGr.end() ? std::wstring{*l, upper} : std::wstring{*l, upper, a->second}});
  }
}

// The number pad, last, as the layouts put it, so that VkKeyScanEx finds
// the main keys first.
inline void AddNumberPad(Rows& rows, wchar_t decimal) {
  for (const auto& [vk, c] : std::initializer_list<std::pair<std::uint16_t, wchar_t>>{
           {0x6A, L'*'}, {0x6B, L'+'}, {0x6D, L'-'}, {0x6F, L'/'}, {0x6E, decimal}}) {
    rows.push_back({vk, Caps::None, {c, c}});
  }
  for (int d = 0; d <= 9; ++d) rows.push_back({static_cast<std::uint16_t>(0x60 + d), Caps::None, {wchar_t(L'0' + d)}});
}

inline TableLayout UsLayout() {
  Rows rows;
  AddLetters(rows, L"abcdefghijklmnopqrstuvwxyz");
  const wchar_t* shifted = L")!@#$%^&*(";
  for (int d = 0; d <= 9; ++d)
    rows.push_back({static_cast<std::uint16_t>('0' + d), Caps::None, {wchar_t(L'0' + d), shifted[d]}});
  const std::tuple<wchar_t, wchar_t, std::uint16_t> oem[] = {
      {L'-', L'_', 0xBD},  {L'=', L'+', 0xBB}, {L'[', L'{', 0xDB},  {L']', L'}', 0xDD},
      {L'\\', L'|', 0xDC}, {L';', L':', 0xBA}, {L'\'', L'"', 0xDE}, {L',', L'<', 0xBC},
      {L'.', L'>', 0xBE},  {L'/', L'?', 0xBF}, {L'`', L'~', 0xC0},  {L' ', L' ', 0x20}};
  for (const auto& [plain, shift, vk] : oem) rows.push_back({vk, Caps::None, {plain, shift}});
  AddNumberPad(rows, L'.');
  return TableLayout(rows);
}

// Like the Russian layout: no Latin letters, "!" "\"" "№" ";" "%" ":" "?" on
// the shifted digits, "." and "," on one key.
inline TableLayout RussianLikeLayout() {
  Rows rows;
  const wchar_t* shifted = L")!\"\u2116;%:?*(";
  for (int d = 0; d <= 9; ++d)
    rows.push_back({static_cast<std::uint16_t>('0' + d), Caps::None, {wchar_t(L'0' + d), shifted[d]}});
  rows.push_back({0xBF, Caps::None, {L'.', L','}});
  rows.push_back({0xBD, Caps::None, {L'-', L'_'}});
  rows.push_back({0xBB, Caps::None, {L'=', L'+'}});
  rows.push_back({0x20, Caps::None, {L' ', L' '}});
  return TableLayout(rows);
}

// Characters on Alt alone, as some layouts have them: "|" on the key of
// "<", "@" on AltGr, Y and Z swapped.
inline TableLayout AltCharactersLayout() {
  Rows rows;
  AddLetters(rows, L"abcdefghijklmnopqrstuvwxyz");
  for (Rows::value_type& row : rows) {
    if (row.virtualKey == 'Y' || row.virtualKey == 'Z') row.virtualKey ^= 'Y' ^ 'Z';
    if (row.virtualKey == 'Q') row.chars += L'@';
  }
  const wchar_t* shifted = L"=!\"\u00a7$%&/()";
  for (int d = 0; d <= 9; ++d)
    rows.push_back({static_cast<std::uint16_t>('0' + d), Caps::Shift, {wchar_t(L'0' + d), shifted[d]}});
  rows.push_back({0xE2, Caps::None, {L'<', L'>', kNone, L'|'}});
  rows.push_back({0xBD, Caps::None, {L'-', L'_'}});
  rows.push_back({0xBE, Caps::None, {L'.', L':'}});
  rows.push_back({0xBB, Caps::None, {L'+', L'*'}});
  rows.push_back({0x20, Caps::None, {L' ', L' '}});
  return TableLayout(rows, {0, kShift, kCtrlAlt, kAlt});
}

// The published tables of Windows' French layout (kbdfr), in their order:
// the tables of three, four, five and two columns, then the number pad.
// Columns that need Ctrl alone give only control characters and are left
// out. Caps Lock acts as Shift on the digit row: its plain keys give
// "&é\"'(-è_çà", Shift gives the digits.
inline TableLayout FrenchLayout() {
  Rows rows = {
      {0xDD, Caps::Shift, {kDead, kDead}},
      {0xDC, Caps::Shift, {L'*', L'\u00b5'}},
      {0xE2, Caps::None, {L'<', L'>'}},
      {0x20, Caps::None, {L' ', L' '}},
      {'2', Caps::Shift, {L'\u00e9', L'2', kDead}},
      {'3', Caps::Shift, {L'"', L'3', L'#'}},
      {'4', Caps::Shift, {L'\'', L'4', L'{'}},
      {'7', Caps::Shift, {L'\u00e8', L'7', kDead}},
      {'0', Caps::Shift, {L'\u00e0', L'0', L'@'}},
      {0xDB, Caps::Shift, {L')', L'\u00b0', L']'}},
      {0xBB, Caps::Shift, {L'=', L'+', L'}'}},
      {'E', Caps::Shift, {L'e', L'E', L'\u20ac'}},
      {0xBA, Caps::Shift, {L'$', L'\u00a3', L'\u00a4'}},
      {'5', Caps::Shift, {L'(', L'5', L'['}},
      {'6', Caps::Shift, {L'-', L'6', L'|'}},
      {'8', Caps::Shift, {L'_', L'8', L'\\'}},
      {'9', Caps::Shift, {L'\u00e7', L'9', L'^'}},
      {0xDE, Caps::None, {L'\u00b2', kNone}},
      {'1', Caps::Shift, {L'&', L'1'}},
  };
  AddLetters(rows, L"azrtyuiopqsdfghjklm");
  rows.push_back({0xC0, Caps::Shift, {L'\u00f9', L'%'}});
  AddLetters(rows, L"wxcvbn");
  rows.push_back({0xBC, Caps::Shift, {L',', L'?'}});
  rows.push_back({0xBE, Caps::Shift, {L';', L'.'}});
  rows.push_back({0xBF, Caps::Shift, {L':', L'/'}});
  rows.push_back({0xDF, Caps::Shift, {L'!', L'\u00a7'}});
  AddNumberPad(rows, L'.');
  return TableLayout(rows);
}

// Windows' German layout (kbdgr), as above. Caps Lock acts as Shift on the
// digits and on "," and ".": "1" gives "!", "3" "§", "0" "=".
inline TableLayout GermanLayout() {
  Rows rows = {
      {'3', Caps::Shift, {L'3', L'\u00a7', L'\u00b3'}},
      {'7', Caps::Shift, {L'7', L'/', L'{'}},
      {'8', Caps::Shift, {L'8', L'(', L'['}},
      {'9', Caps::Shift, {L'9', L')', L']'}},
      {'0', Caps::Shift, {L'0', L'=', L'}'}},
      {0xDB, Caps::Shift, {L'\u00df', L'?', L'\\'}},
      {'Q', Caps::Shift, {L'q', L'Q', L'@'}},
      {'E', Caps::Shift, {L'e', L'E', L'\u20ac'}},
      {'M', Caps::Shift, {L'm', L'M', L'\u00b5'}},
      {0xE2, Caps::None, {L'<', L'>', L'|'}},
      {0xBA, Caps::Shift, {L'\u00fc', L'\u00dc', kNone}},
      {0xBB, Caps::Shift, {L'+', L'*', L'~'}},
      {0xBF, Caps::Shift, {L'#', L'\'', kNone}},
      {0x20, Caps::None, {L' ', L' ', kNone}},
      {'2', Caps::Shift, {L'2', L'"', L'\u00b2'}},
      {'6', Caps::Shift, {L'6', L'&', kNone}},
      {0xBD, Caps::None, {L'-', L'_', kNone}},
      {0xDC, Caps::None, {kDead, L'\u00b0'}},
      {'1', Caps::Shift, {L'1', L'!'}},
      {'4', Caps::Shift, {L'4', L'$'}},
      {'5', Caps::Shift, {L'5', L'%'}},
      {0xDD, Caps::None, {kDead, kDead}},
  };
  AddLetters(rows, L"wrtzuiopasdfghjkl");
  rows.push_back({0xC0, Caps::Shift, {L'\u00f6', L'\u00d6'}});
  rows.push_back({0xDE, Caps::Shift, {L'\u00e4', L'\u00c4'}});
  AddLetters(rows, L"yxcvbn");
  rows.push_back({0xBC, Caps::Shift, {L',', L';'}});
  rows.push_back({0xBE, Caps::Shift, {L'.', L':'}});
  AddNumberPad(rows, L',');
  return TableLayout(rows);
}

// Windows' Czech layout (kbdcz): accented letters on the plain digit row
// and digits on Shift; Caps Lock gives that row's capitals (SGCAPS), so a
// digit needs Shift whatever Caps Lock says. Y and Z swapped, AltGr
// symbols on the letters.
inline TableLayout CzechLayout() {
  Rows rows = {
      {0xC0, Caps::None, {L';', kDead}},
      {'1', Caps::None, {L'+', L'1', L'~'}},
  };
  const wchar_t* accented = L"\u011b\u0161\u010d\u0159\u017e\u00fd\u00e1\u00ed\u00e9";
  const wchar_t* capitals = L"\u011a\u0160\u010c\u0158\u017d\u00dd\u00c1\u00cd\u00c9";
  for (int i = 0; i < 9; ++i) {
    const auto digit = static_cast<wchar_t>(i == 8 ? L'0' : L'2' + i);
    rows.push_back(
        {static_cast<std::uint16_t>(digit), Caps::OwnRow, {accented[i], digit, kDead}, {capitals[i], digit}});
  }
  rows.push_back({0xBD, Caps::None, {L'=', L'%', kDead}});
  rows.push_back({0xBB, Caps::None, {kDead, kDead, kDead}});
  AddLetters(rows, L"qwertzuiop", {{L'q', L'\\'}, {L'w', L'|'}, {L'e', L'\u20ac'}});
  rows.push_back({0xDB, Caps::OwnRow, {L'\u00fa', L'/', L'\u00f7'}, {L'\u00da', L'/'}});
  rows.push_back({0xDD, Caps::None, {L')', L'(', L'\u00d7'}});
  AddLetters(rows, L"asdfghjkl",
             {{L's', L'\u0111'}, {L'd', L'\u0110'}, {L'f', L'['}, {L'g', L']'}, {L'k', L'\u0142'}, {L'l', L'\u0141'}});
  rows.push_back({0xBA, Caps::OwnRow, {L'\u016f', L'"', L'$'}, {L'\u016e', L'"'}});
  rows.push_back({0xDE, Caps::None, {L'\u00a7', L'!', L'\u00df'}});
  rows.push_back({0xDC, Caps::None, {kDead, L'\'', L'\u00a4'}});
  rows.push_back({0xE2, Caps::None, {L'\\', L'|', kNone}});
  AddLetters(rows, L"yxcvbnm", {{L'x', L'#'}, {L'c', L'&'}, {L'v', L'@'}, {L'b', L'{'}, {L'n', L'}'}});
  rows.push_back({0xBC, Caps::None, {L',', L'?', L'<'}});
  rows.push_back({0xBE, Caps::None, {L'.', L':', L'>'}});
  rows.push_back({0xBF, Caps::None, {L'-', L'_', L'*'}});
  rows.push_back({0x20, Caps::None, {L' ', L' '}});
  AddNumberPad(rows, L',');
  return TableLayout(rows);
}

// What a window received from a sequence of events, and what went wrong
// on the way.
struct Reception {
  std::wstring text;
  bool capsLockOn = false;
  std::vector<std::string> faults;  // empty when every key was sound
};

// Plays the events into a window with the layout. With the "Shift turns
// off Caps Lock" setting, Shift turns Caps Lock off.
inline Reception Play(const std::vector<KeyStroke>& strokes, const TableLayout& layout, KeyboardState keyboard) {
  Reception r{L"", keyboard.capsLockOn, {}};
  std::set<std::uint16_t> down;
  const auto fault = [&r](const std::string& what, std::uint16_t key) {
    r.faults.push_back(what + " " + std::to_string(key));
  };
  for (const KeyStroke& s : strokes) {
    if (s.kind == KeyStroke::Kind::Pause) {
      r.text += L"{PAUSE:" + std::to_wstring(s.code) + L"}";
      continue;
    }
    // Shift+Enter, Shift+Tab are other commands; a character sent as
    // itself must not depend on a held key either.
    const bool shiftHeld = down.count(virtual_key::kShift) == 1;
    if (shiftHeld && !s.up && (s.kind == KeyStroke::Kind::Unicode || s.code < 0x20) && s.code != virtual_key::kShift) {
      fault("pressed under a held Shift:", s.code);
    }
    if (s.kind == KeyStroke::Kind::Unicode) {
      if (!s.up) r.text += static_cast<wchar_t>(s.code);
      continue;
    }
    // Ctrl, Alt and the Windows keys, in general and left and right, and
    // Caps Lock, which is the operator's.
    static const std::set<std::uint16_t> kForbidden = {0x11, 0x12, 0xA2, 0xA3, 0xA4, 0xA5, 0x5B, 0x5C, 0x14};
    if (kForbidden.count(s.code) == 1) fault("forbidden key pressed:", s.code);
    if (s.up) {
      if (down.erase(s.code) != 1) fault("released without a press:", s.code);
      continue;
    }
    if (!down.insert(s.code).second) fault("pressed twice:", s.code);
    switch (s.code) {
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
