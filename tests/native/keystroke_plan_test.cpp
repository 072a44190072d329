#include "reader/keystroke_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>

namespace {

constexpr std::uint16_t kShift = 1, kCtrlAlt = 6;

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
  // What a window with this layout receives for a key press.
  std::optional<wchar_t> CharacterOf(std::uint16_t virtualKey, bool shift, bool ctrl, bool capsLock) const {
    if (ctrl) return std::nullopt;
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

void AddDigitRow(TableLayout& layout, const wchar_t* shifted) {
  for (int d = 0; d <= 9; ++d) {
    layout.Add(static_cast<wchar_t>(L'0' + d), static_cast<std::uint16_t>('0' + d));
    if (shifted[d] != L' ') layout.Add(shifted[d], static_cast<std::uint16_t>('0' + d), kShift);
  }
  layout.Add(L' ', 0x20);
}

TableLayout UsLayout() {
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
TableLayout RussianLikeLayout() {
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

// Like the German layout: "@" needs AltGr (Ctrl+Alt), Y and Z swapped.
TableLayout GermanLikeLayout() {
  TableLayout de;
  for (wchar_t c = L'a'; c <= L'z'; ++c) {
    const wchar_t key = c == L'y' ? L'Z' : c == L'z' ? L'Y' : static_cast<wchar_t>(c - L'a' + L'A');
    de.AddLetter(c, static_cast<std::uint16_t>(key));
  }
  AddDigitRow(de, L"=!\"\u00a7$%&/()");
  de.Add(L'@', 'Q', kCtrlAlt);
  de.Add(L'-', 0xBD);
  de.Add(L'.', 0xBE);
  de.Add(L'+', 0xBB);
  return de;
}

// Plays the strokes into a window with the layout, as Windows would, and
// returns what the window receives. Fails the test on unbalanced keys or
// any Ctrl or Alt.
std::wstring Receive(const std::vector<KeyStroke>& strokes, const TableLayout& layout, bool& capsLock) {
  std::wstring received;
  std::set<std::uint16_t> down;
  for (const KeyStroke& s : strokes) {
    if (s.kind == KeyStroke::Kind::Unicode) {
      if (!s.up) received += static_cast<wchar_t>(s.code);
      continue;
    }
    EXPECT_TRUE(s.code != 0x11 && s.code != 0x12 && s.code != 0xA2 && s.code != 0xA3 && s.code != 0xA4 &&
                s.code != 0xA5 && s.code != 0x5B && s.code != 0x5C)
        << "modifier " << s.code << " must never be pressed";
    if (s.up) {
      EXPECT_EQ(down.erase(s.code), 1u) << "key " << s.code << " released without a press";
      continue;
    }
    EXPECT_TRUE(down.insert(s.code).second) << "key " << s.code << " pressed twice";
    switch (s.code) {
      case virtual_key::kCapsLock:
        capsLock = !capsLock;
        break;
      case virtual_key::kShift:
        break;
      case virtual_key::kTab:
        received += L'\t';
        break;
      case virtual_key::kBackspace:
        received += L'\b';
        break;
      case virtual_key::kEscape:
        received += L'\x1b';
        break;
      case virtual_key::kEnter:
        received += L'\r';
        break;
      default:
        if (const auto c = layout.CharacterOf(s.code, down.count(virtual_key::kShift) == 1, false, capsLock)) {
          received += *c;
        } else {
          ADD_FAILURE() << "key " << s.code << " gives no character";
        }
    }
  }
  EXPECT_TRUE(down.empty()) << "keys left held down";
  return received;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

using Kind = KeyStroke::Kind;
constexpr KeyStroke Down(std::uint16_t vk) { return {Kind::VirtualKey, vk, false}; }
constexpr KeyStroke Up(std::uint16_t vk) { return {Kind::VirtualKey, vk, true}; }

}  // namespace

TEST(KeystrokePlan, EveryPrintableCharacterArrivesExactlyWhateverLayoutAndCapsLock) {
  std::string printable;
  for (char c = 0x20; c < 0x7F; ++c) printable += c;
  for (const auto& [name, layout] : {std::pair{"US", UsLayout()}, std::pair{"Russian-like", RussianLikeLayout()},
                                     std::pair{"German-like", GermanLikeLayout()}}) {
    for (const bool capsLockOn : {false, true}) {
      bool capsLock = capsLockOn;
      const auto strokes = PlanKeystrokes(printable, layout, capsLockOn);
      EXPECT_EQ(Receive(strokes, layout, capsLock), Widen(printable)) << name << ", Caps Lock " << capsLockOn;
      EXPECT_EQ(capsLock, capsLockOn) << name << ": Caps Lock must end as it began";
    }
  }
}

TEST(KeystrokePlan, CapsLockOffIsPressedAndReleasedAroundTheCode) {
  const TableLayout us = UsLayout();
  const std::vector<KeyStroke> expected = {Down(virtual_key::kCapsLock),
                                           Up(virtual_key::kCapsLock),
                                           Down(virtual_key::kShift),
                                           Down('A'),
                                           Up('A'),
                                           Up(virtual_key::kShift),
                                           Down('1'),
                                           Up('1'),
                                           Down(virtual_key::kCapsLock),
                                           Up(virtual_key::kCapsLock)};
  EXPECT_EQ(PlanKeystrokes("a1", us, false), expected) << "with Caps Lock on, a lower-case letter needs Shift";
}

TEST(KeystrokePlan, CapsLockOnAddsNoCapsLockPresses) {
  const std::vector<KeyStroke> expected = {Down('A'), Up('A'), Down('B'), Up('B')};
  EXPECT_EQ(PlanKeystrokes("AB", UsLayout(), true), expected);
}

TEST(KeystrokePlan, EmptyCodeOnlyTogglesCapsLockTwice) {
  EXPECT_EQ(PlanKeystrokes("", UsLayout(), false).size(), 4u);
  EXPECT_TRUE(PlanKeystrokes("", UsLayout(), true).empty());
}

TEST(KeystrokePlan, Code39SymbolsKeepTheirShift) {
  const std::vector<KeyStroke> expected = {
      Down(virtual_key::kShift), Down('4'), Up('4'), Up(virtual_key::kShift), Down(0xBB), Up(0xBB),
      Down(virtual_key::kShift), Down('5'), Up('5'), Up(virtual_key::kShift)};
  EXPECT_EQ(PlanKeystrokes("$=%", UsLayout(), true), expected);
}

TEST(KeystrokePlan, CharactersWithoutAPlainKeyAreSentAsThemselves) {
  // No Latin letters on the Russian-like layout; "@" needs AltGr on the
  // German-like one.
  const std::vector<KeyStroke> latin = {{Kind::Unicode, L'A', false}, {Kind::Unicode, L'A', true}, Down('1'), Up('1')};
  EXPECT_EQ(PlanKeystrokes("A1", RussianLikeLayout(), true), latin);
  const std::vector<KeyStroke> at = {{Kind::Unicode, L'@', false}, {Kind::Unicode, L'@', true}};
  EXPECT_EQ(PlanKeystrokes("@", GermanLikeLayout(), true), at);
}

TEST(KeystrokePlan, ControlBytesWithAKeyAreThatKeyOthersNothing) {
  const TableLayout us = UsLayout();
  bool capsLock = true;
  EXPECT_EQ(Receive(PlanKeystrokes("a\tb\bc\x1b"
                                   "d\ne",
                                   us, true),
                    us, capsLock),
            L"a\tb\bc\x1b"
            L"d\re");
  std::string silent;
  for (char c = 0; c < 0x20; ++c) {
    if (c != '\t' && c != '\b' && c != 0x1B && c != '\n') silent += c;
  }
  silent += '\x7f';
  EXPECT_TRUE(PlanKeystrokes(silent, us, true).empty());
}

TEST(KeystrokePlan, HighBytesAreCodePage1251Characters) {
  EXPECT_EQ(FromCodePage1251(0xC0), L'\u0410');  // А
  EXPECT_EQ(FromCodePage1251(0xFF), L'\u044F');  // я
  EXPECT_EQ(FromCodePage1251(0xA8), L'\u0401');  // Ё
  EXPECT_EQ(FromCodePage1251(0xB8), L'\u0451');  // ё
  EXPECT_EQ(FromCodePage1251(0xB9), L'\u2116');  // №
  EXPECT_EQ(FromCodePage1251(0x88), L'\u20AC');  // €
  EXPECT_EQ(FromCodePage1251(0x98), 0);
  const TableLayout us = UsLayout();
  bool capsLock = false;
  EXPECT_EQ(Receive(PlanKeystrokes("\xcf\xf0\xe8\xe2\xe5\xf2 \xb9"
                                   "5\x98",
                                   us, false),
                    us, capsLock),
            L"\u041f\u0440\u0438\u0432\u0435\u0442 \u21165");
}
