#include "keys/keystroke_plan.h"

#include <gtest/gtest.h>

#include <string>

#include "support/simulated_keyboard.h"
#include "text/prepared_code.h"

namespace {

using namespace simulated;

// What the window receives; fails the test on unbalanced keys or any
// Ctrl or Alt.
std::wstring Receive(const std::vector<KeyStroke>& strokes, const TableLayout& layout, bool& capsLock,
                     bool shiftTurnsOffCapsLock = false) {
  const Reception r = Play(strokes, layout, {capsLock, shiftTurnsOffCapsLock});
  for (const std::string& fault : r.faults) ADD_FAILURE() << fault;
  capsLock = r.capsLockOn;
  return r.text;
}

std::vector<KeyStroke> Plan(std::wstring_view code, const KeyboardLayout& layout, bool capsLockOn) {
  return Flatten(PlanKeystrokes(code, layout, {capsLockOn, false}));
}

// What the input stream receives when the plan is sent whole.
std::vector<KeyStroke> Sent(const std::vector<KeyGroup>& plan, int keyDelayMs) {
  InterruptedSink sink(SIZE_MAX);
  const std::atomic<bool> stopping{false};
  SendPlan(plan, keyDelayMs, stopping, sink);
  return sink.received;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }
std::vector<KeyStroke> Plan(std::string_view ascii, const KeyboardLayout& layout, bool capsLockOn) {
  return Plan(Widen(std::string(ascii)), layout, capsLockOn);
}

using Kind = KeyStroke::Kind;
constexpr KeyStroke Down(std::uint16_t vk) { return {Kind::VirtualKey, vk, false}; }
constexpr KeyStroke Up(std::uint16_t vk) { return {Kind::VirtualKey, vk, true}; }

}  // namespace

TEST(KeystrokePlan, EveryCharacterArrivesExactlyWhateverLayoutCapsLockAndPace) {
  // Every byte a code may hold below 0x80, and what the window must get:
  // the printable ones exactly, Tab, Backspace, Escape and Enter as keys,
  // the separators as themselves, no other control character at all.
  std::wstring code;
  std::wstring expected;
  for (int b = 1; b < 0x80; ++b) {
    code += static_cast<wchar_t>(b);
    const bool typed =
        (b >= 0x20 && b < 0x7F) || b == 0x04 || b == '\t' || b == '\b' || b == 0x1B || (b >= 0x1C && b <= 0x1F);
    if (b == '\n') expected += L'\r';
    if (typed) expected += static_cast<wchar_t>(b);
  }
  for (const auto& [name, layout] :
       {std::pair{"US", UsLayout()}, std::pair{"Russian-like", RussianLikeLayout()},
        std::pair{"characters on Alt", AltCharactersLayout()}, std::pair{"French", FrenchLayout()},
        std::pair{"German", GermanLayout()}, std::pair{"Czech", CzechLayout()}}) {
    for (const bool capsLockOn : {false, true}) {
      for (const bool shiftTurnsOffCapsLock : {false, true}) {
        for (const int keyDelayMs : {0, 20}) {
          const KeyboardState keyboard{capsLockOn, shiftTurnsOffCapsLock};
          const auto groups = PlanKeystrokes(code, layout, keyboard);
          const std::string context = std::string(name) + ", Caps Lock " + (capsLockOn ? "on" : "off") +
                                      (shiftTurnsOffCapsLock ? ", Shift turns it off" : "") +
                                      (keyDelayMs > 0 ? ", paced" : "");
          bool capsLock = capsLockOn;
          EXPECT_EQ(Receive(Sent(groups, keyDelayMs), layout, capsLock, shiftTurnsOffCapsLock), expected) << context;
          EXPECT_EQ(capsLock, capsLockOn) << context << ": Caps Lock must end as it began";
          const RememberedLayout remembered(layout);
          for (int pass = 0; pass < 2; ++pass) {
            EXPECT_EQ(PlanKeystrokes(code, remembered, keyboard), groups) << context;
          }
          if (keyDelayMs == 0) continue;
          // A paced code pauses between groups: each must stand alone.
          for (const KeyGroup& group : groups) {
            const Reception alone = Play(group, layout, keyboard);
            EXPECT_TRUE(alone.faults.empty() && alone.capsLockOn == capsLockOn) << context;
          }
        }
      }
    }
  }
}

TEST(KeystrokePlan, DigitsAreTypedByTheirKeysOnEveryLayout) {
  // Keys, not characters sent as themselves: some programs read the keys.
  for (const auto& layout : {UsLayout(), FrenchLayout(), GermanLayout(), CzechLayout()}) {
    for (const bool capsLockOn : {false, true}) {
      for (const KeyStroke& stroke : Plan("4006381333931", layout, capsLockOn)) {
        EXPECT_EQ(stroke.kind, Kind::VirtualKey);
      }
    }
  }
}

TEST(KeystrokePlan, TheLeftOutControlBytesAreNamed) {
  std::wstring code = L"a";
  for (wchar_t c = 1; c < 0x20; ++c) code += c;
  code += L"\x7f\x98\xff\x0416";
  EXPECT_EQ(DroppedControlBytes(code),
            "\x01\x02\x03\x05\x06\x07\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17"
            "\x18\x19\x1a\x7f");
}

TEST(KeystrokePlan, CapsLockOnAddsNoCapsLockPresses) {
  const std::vector<KeyStroke> expected = {Down('A'), Up('A'), Down('B'), Up('B')};
  EXPECT_EQ(Plan("AB", UsLayout(), true), expected);
}

TEST(KeystrokePlan, Code39SymbolsKeepTheirShift) {
  const std::vector<KeyStroke> expected = {
      Down(virtual_key::kShift), Down('4'), Up('4'), Up(virtual_key::kShift), Down(0xBB), Up(0xBB),
      Down(virtual_key::kShift), Down('5'), Up('5'), Up(virtual_key::kShift)};
  EXPECT_EQ(Plan("$=%", UsLayout(), true), expected);
}

TEST(KeystrokePlan, InOneBatchShiftStaysDownAcrossARunAndComesUpBeforeAnythingElse) {
  const KeyStroke shift = Down(virtual_key::kShift), unshift = Up(virtual_key::kShift);
  const KeyStroke a = Down('A'), a_ = Up('A'), b = Down('B'), b_ = Up('B'), four = Down('4'), four_ = Up('4');
  const KeyStroke tab = Down(virtual_key::kTab), tab_ = Up(virtual_key::kTab);
  const KeyStroke zhe = {Kind::Unicode, 0x0416, false}, zhe_ = {Kind::Unicode, 0x0416, true};
  const struct {
    std::wstring_view code;
    int keyDelayMs;
    std::vector<KeyStroke> sent;
  } rows[] = {
      {L"AB$", 0, {shift, a, a_, b, b_, four, four_, unshift}},
      {L"ABb", 0, {shift, a, a_, b, b_, unshift, b, b_}},
      {L"A\tB", 0, {shift, a, a_, unshift, tab, tab_, shift, b, b_, unshift}},
      {L"A\u0416B", 0, {shift, a, a_, unshift, zhe, zhe_, shift, b, b_, unshift}},
      {L"AB", 20, {shift, a, a_, unshift, shift, b, b_, unshift}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Sent(PlanKeystrokes(row.code, UsLayout(), {}), row.keyDelayMs), row.sent)
        << std::string(row.code.begin(), row.code.end()) << ", KeyDelay " << row.keyDelayMs;
  }
}

TEST(KeystrokePlan, CharactersWithoutAPlainKeyAreSentAsThemselves) {
  // No Latin letters on the Russian-like layout; "@" needs AltGr on the
  // other.
  const std::vector<KeyStroke> latin = {{Kind::Unicode, L'A', false}, {Kind::Unicode, L'A', true}, Down('1'), Up('1')};
  EXPECT_EQ(Plan("A1", RussianLikeLayout(), true), latin);
  const std::vector<KeyStroke> at = {{Kind::Unicode, L'@', false}, {Kind::Unicode, L'@', true}};
  EXPECT_EQ(Plan("@", AltCharactersLayout(), true), at);
}

TEST(KeystrokePlan, Gs1SeparatorsArriveAsThemselves) {
  const TableLayout us = UsLayout();
  const std::string code =
      "\x1e\x04"
      "0104600439931256"
      "21JgXJ5.T\x1d"
      "8005112000\x1d"
      "930001\x1e\x04";
  bool capsLock = false;
  EXPECT_EQ(Receive(Plan(code, us, false), us, capsLock), Widen(code));
  EXPECT_FALSE(capsLock);
}

TEST(KeystrokePlan, CharactersBeyondAsciiAreSentAsThemselvesAndAPairInOneGroup) {
  const TableLayout us = UsLayout();
  bool capsLock = false;
  EXPECT_EQ(Receive(Plan(L"\u041f\u0440\u0438\u0432\u0435\u0442 \u21165", us, false), us, capsLock),
            L"\u041f\u0440\u0438\u0432\u0435\u0442 \u21165");
  // U+1F600: its halves never part, so no pause or stop falls between
  // them.
  const KeyGroup pair = {{Kind::Unicode, 0xD83D, false},
                         {Kind::Unicode, 0xD83D, true},
                         {Kind::Unicode, 0xDE00, false},
                         {Kind::Unicode, 0xDE00, true}};
  const auto groups = PlanKeystrokes(L"\xD83D\xDE00\xD83D\xDE00", us, {});
  EXPECT_EQ(groups, (std::vector<KeyGroup>{pair, pair}));
  EXPECT_EQ(PlanKeystrokes(L"\xDBFF\xDFFF", us, {}).size(), 1u) << "U+10FFFF, the last pair";
}

TEST(KeystrokePlan, WithoutDelayTheCodeGoesInOneCall) {
  InterruptedSink sink(SIZE_MAX);
  const std::atomic<bool> stopping{false};
  const auto plan = PlanKeystrokes(L"Ab-1", UsLayout(), {});
  EXPECT_EQ(SendPlan(plan, 0, stopping, sink), SendResult::Typed);
  EXPECT_EQ(sink.calls, 1);
  EXPECT_EQ(sink.received, Flatten(plan));
}

TEST(KeystrokePlan, ARefusedSendReleasesShiftAndPutsCapsLockBack) {
  const TableLayout us = UsLayout();
  const std::atomic<bool> stopping{false};
  for (const bool capsLockOn : {false, true}) {
    for (const int keyDelayMs : {0, 20}) {
      const auto plan = PlanKeystrokes(L"aBC$c", us, {capsLockOn, false});
      const std::size_t total = Sent(plan, keyDelayMs).size();
      for (std::size_t capacity = 0; capacity < total; ++capacity) {
        InterruptedSink sink(capacity);
        EXPECT_EQ(SendPlan(plan, keyDelayMs, stopping, sink), SendResult::Refused);
        const Reception r = Play(sink.received, us, {capsLockOn, false});
        EXPECT_TRUE(r.faults.empty()) << "cut after " << capacity << ": " << (r.faults.empty() ? "" : r.faults[0]);
        EXPECT_EQ(r.capsLockOn, capsLockOn) << "cut after " << capacity;
      }
    }
  }
}

TEST(KeystrokePlan, APacedCodePausesBetweenCharactersAndStopsBetweenThem) {
  const TableLayout us = UsLayout();
  struct StoppingSink final : KeySink {
    std::size_t Send(std::span<const KeyStroke> strokes) override {
      received.insert(received.end(), strokes.begin(), strokes.end());
      if (++groups == 2) stopping = true;
      return strokes.size();
    }
    void Pause(int milliseconds) override {
      pauses.push_back(milliseconds);
      if (stopInPause) stopping = true;
    }
    std::atomic<bool> stopping{false};
    bool stopInPause = false;
    std::vector<KeyStroke> received;
    std::vector<int> pauses;
    int groups = 0;
  } sink;
  const auto plan = PlanKeystrokes(L"aBcD", us, {});
  EXPECT_EQ(SendPlan(plan, 35, sink.stopping, sink), SendResult::Stopped);
  EXPECT_EQ(sink.pauses, std::vector<int>{35});
  const Reception r = Play(sink.received, us, {});
  EXPECT_EQ(r.text, L"aB");
  EXPECT_TRUE(r.faults.empty());
  EXPECT_FALSE(r.capsLockOn);
  // A code that comes after the stop types nothing, not even its first
  // character, paced or not.
  for (const int keyDelayMs : {35, 0}) {
    EXPECT_EQ(SendPlan(plan, keyDelayMs, sink.stopping, sink), SendResult::Stopped);
  }
  EXPECT_EQ(sink.groups, 2);
  // A stop that comes during a pause: not one more character.
  sink.received.clear();
  sink.stopping = false;
  sink.stopInPause = true;
  EXPECT_EQ(SendPlan(plan, 35, sink.stopping, sink), SendResult::Stopped);
  EXPECT_EQ(Play(sink.received, us, {}).text, L"a");
}

TEST(KeystrokePlan, LayoutsAreAskedWithCapsLockAndShiftAsTheSystemReadsThem) {
  const TableLayout german = GermanLayout();
  for (int row = 0; row < 8; ++row) {  // "2" and "A", with and without Shift and Caps Lock
    const bool shift = row & 1, capsLockOn = row & 2;
    const std::uint16_t key = row & 4 ? 'A' : '2';
    EXPECT_EQ(german.ToUnicode(key, KeyStateFor(shift, capsLockOn)), german.CharacterOf(key, shift, capsLockOn)) << row;
  }
  // GetKeyState: the low bit is Caps Lock on; the top bit the key held down.
  const std::pair<std::int16_t, bool> capsLock[] = {{0x0000, false}, {0x0001, true}, {-128, false}, {-127, true}};
  for (const auto& [keyState, on] : capsLock) EXPECT_EQ(CapsLockToggled(keyState), on) << keyState;
}

TEST(KeystrokePlan, OneCacheKeepsEachLayoutAndEachShiftAndCapsLockApart) {
  constexpr std::uintptr_t kUs = 0x04090409, kGerman = 0x04070407;
  struct LayoutOf final : KeyboardLayout {
    explicit LayoutOf(std::uintptr_t handle) : table(handle == kUs ? UsLayout() : GermanLayout()) {}
    std::int16_t KeyFor(wchar_t c) const override { return table.KeyFor(c); }
    std::optional<wchar_t> CharacterOf(std::uint16_t key, bool shift, bool capsLockOn) const override {
      return table.CharacterOf(key, shift, capsLockOn);
    }
    TableLayout table;
  };
  RememberedLayouts<LayoutOf> layouts;
  // "@" asks the US "2" key with Shift, then "2" asks it under Caps Lock;
  // the German "2" key gives '"' under Caps Lock.
  const std::pair<std::uintptr_t, bool> steps[] = {{kUs, false}, {kUs, true}, {kGerman, true}, {kUs, true}};
  for (const auto& [layout, capsLockOn] : steps) {
    const char* code = capsLockOn ? "2" : "@";
    EXPECT_EQ(Plan(code, layouts.For(layout).remembered, capsLockOn), Plan(code, LayoutOf(layout), capsLockOn))
        << code << " on " << std::hex << layout;
  }
}
