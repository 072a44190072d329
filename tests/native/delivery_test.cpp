#include "keys/delivery.h"

#include <gtest/gtest.h>

#include "support/simulated_keyboard.h"

namespace {

using namespace simulated;
using TypeAs = TypingOptions::TypeAs;

// A keyboard whose modifiers are let go of after `heldForMs`; its clock
// runs on the pauses alone.
struct Keyboard final : HeldModifiers {
  Keyboard(std::uint8_t keys, int heldForMs) : keys(keys), heldForMs(heldForMs) {}
  std::uint8_t Held() override {
    ++asked;
    return now < heldForMs ? keys : 0;
  }
  void Pause(int milliseconds) override { now += milliseconds; }
  std::chrono::milliseconds Now() override { return std::chrono::milliseconds(now); }
  std::uint8_t keys;
  int heldForMs, now = 0, asked = 0;
};

// Records a pasted code as the window receives it.
struct Clipboard final : PasteSink {
  std::size_t Send(std::span<const KeyStroke> strokes) override {
    received += Play({strokes.begin(), strokes.end()}, UsLayout(), {}).text;
    return strokes.size();
  }
  void Pause(int milliseconds) override { received += L"{" + std::to_wstring(milliseconds) + L"}"; }
  bool TargetChanged() override { return pastes == changedAfter; }
  bool Paste(std::wstring_view text) override {
    ++pastes;
    received += L"[" + std::wstring(text) + L"]";
    return pastes != refusedAt;
  }
  std::wstring received;
  int pastes = 0, changedAfter = -1, refusedAt = -1;
};

}  // namespace

TEST(Delivery, OnlyAHigherLevelWithoutUiAccessIsRefused) {
  using namespace integrity_level;
  const std::tuple<std::optional<std::uint32_t>, OwnIntegrity, bool> rows[] = {
      {kHigh, {kMedium, false}, true},    {kSystem, {kHigh, false}, true}, {kHigh, {kMedium, true}, false},
      {kMedium, {kMedium, false}, false}, {kLow, {kMedium, false}, false}, {std::nullopt, {kLow, false}, false}};
  for (const auto& [target, own, refused] : rows) {
    EXPECT_EQ(InputBlockedByIntegrity(target, own), refused) << target.value_or(0) << " " << own.level;
  }
}

TEST(Delivery, HeldModifiersAreWaitedForUpToTwoSecondsAndNeverTouched) {
  const std::atomic<bool> stopping{false};
  using Result = HeldKeysWait::Result;
  const std::tuple<std::uint8_t, int, Result, int> rows[] = {
      // keys, held for, outcome, asked
      {0, 0, Result::Free, 1},
      {modifier::kCtrl, 500, Result::Free, 51},
      {modifier::kWin | modifier::kAlt, 1990, Result::Free, 200},
      {modifier::kShift, 2010, Result::StillHeld, 201},
      {modifier::kCtrl | modifier::kShift, 60000, Result::StillHeld, 201}};
  for (const auto& [keys, heldForMs, result, asked] : rows) {
    Keyboard keyboard(keys, heldForMs);
    const HeldKeysWait wait = AwaitReleasedModifiers(keyboard, stopping);
    EXPECT_EQ(wait.result, result) << heldForMs;
    EXPECT_EQ(wait.held, result == Result::Free ? 0 : keys) << heldForMs;
    EXPECT_EQ(keyboard.asked, asked) << "once for a code that finds no key held; " << heldForMs;
  }
  EXPECT_EQ(ModifierNames(modifier::kCtrl | modifier::kWin), L"Ctrl+Win");
  Keyboard held(modifier::kCtrl, 60000);
  const std::atomic<bool> closing{true};
  EXPECT_EQ(AwaitReleasedModifiers(held, closing).result, Result::Stopped);
}

TEST(Delivery, UnicodeAndPasteSendEveryCharacterAsItselfAndTheirFieldsAsKeys) {
  const TableLayout us = UsLayout();
  TypingOptions options;
  options.suffix = TypingOptions::Suffix::Enter;
  const TypedRun runs[] = {{L"0104601234567893", 0},
                           {L"\t21ABC\x1d"
                            L"91Ж\xD83D\xDE00\n",
                            50},
                           {L"x", 0}};
  const auto plan = PlanKeystrokes(runs, PlanningLayout(TypeAs::Unicode, us), {}, options);
  for (const KeyGroup& group : plan) {
    for (const KeyStroke& stroke : group) {
      EXPECT_TRUE(stroke.kind != KeyStroke::Kind::VirtualKey || stroke.code == virtual_key::kTab ||
                  stroke.code == virtual_key::kEnter);
    }
  }
  EXPECT_EQ(&PlanningLayout(TypeAs::Keys, us), &us);
  EXPECT_EQ(MethodFor(TypeAs::Paste, false), TypeAs::Keys) << "a clipboard that cannot be put back is not used";
  EXPECT_EQ(MethodFor(TypeAs::Paste, true), TypeAs::Paste);
  EXPECT_EQ(MethodFor(TypeAs::Unicode, false), TypeAs::Unicode);

  const std::atomic<bool> stopping{false};
  Clipboard clipboard;
  EXPECT_EQ(SendPasteSteps(PasteSteps(plan), stopping, clipboard), SendResult::Typed);
  EXPECT_EQ(clipboard.received,
            L"[0104601234567893]\t[21ABC\x1d"
            L"91Ж\xD83D\xDE00]\r{50}[x]\r");
  // A window change before a part, or a part the window does not take,
  // ends the code there.
  for (const auto& [changedAfter, refusedAt, result, received] :
       {std::tuple{1, -1, SendResult::Cut, L"[0104601234567893]"}, std::tuple{0, -1, SendResult::Cut, L""},
        std::tuple{-1, 2, SendResult::Refused,
                   L"[0104601234567893]\t[21ABC\x1d"
                   L"91Ж\xD83D\xDE00]"}}) {
    Clipboard cut;
    cut.changedAfter = changedAfter;
    cut.refusedAt = refusedAt;
    EXPECT_EQ(SendPasteSteps(PasteSteps(plan), stopping, cut), result);
    EXPECT_EQ(cut.received, received);
  }
}

TEST(Delivery, ThePasteKeepsEveryFormatItCanPutBackAndIsNotDoneOverOneItCannot) {
  using namespace clipboard_format;
  constexpr std::uint32_t kText = 1, kUnicode = 13, kLocale = 16, kFiles = 15, kHtml = 0xC0F3;
  const std::tuple<std::vector<std::uint32_t>, std::vector<std::uint32_t>, bool, std::optional<std::uint32_t>> rows[] =
      {{{}, {}, false, std::nullopt},
       {{kUnicode, kLocale, kText}, {kUnicode, kLocale, kText}, false, std::nullopt},
       {{kBitmap, kDib, kDibV5, kPalette, kUnicode}, {kDib, kDibV5, kUnicode}, false, std::nullopt},
       {{kFiles, kHtml}, {kFiles, kHtml}, false, std::nullopt},
       {{kMetafilePicture, kEnhancedMetafile}, {}, true, std::nullopt},
       {{kUnicode, kBitmap}, {kUnicode}, false, kBitmap},
       {{kMetafilePicture}, {}, false, kMetafilePicture},
       {{kOwnerDisplay, kUnicode}, {kUnicode}, false, kOwnerDisplay},
       {{kUnicode, kPrivateFirst + 5}, {kUnicode}, false, kPrivateFirst + 5},
       {{kGdiObjectLast, kDib}, {kDib}, false, kGdiObjectLast}};
  for (const auto& [formats, memory, metafile, lost] : rows) {
    const ClipboardKeeping keeping = KeepingOf(formats);
    EXPECT_EQ(keeping.memory, memory) << formats.size();
    EXPECT_EQ(keeping.enhancedMetafile, metafile) << formats.size();
    EXPECT_EQ(keeping.lost, lost) << formats.size();
  }
}

TEST(Delivery, TheScannerHearsOfEveryCodeTypedOrRefusedAndTheOperatorOnceAMinute) {
  const TypingOptions::Replies replies{"\x06", "\x15"};
  const std::pair<CodeFate, std::string_view> rows[] = {
      {CodeFate::Typed, "\x06"},    {CodeFate::Shown, "\x06"},    {CodeFate::Empty, ""},
      {CodeFate::Stopped, ""},      {CodeFate::Rejected, "\x15"}, {CodeFate::Elevated, "\x15"},
      {CodeFate::KeysHeld, "\x15"}, {CodeFate::Cut, "\x15"},      {CodeFate::InputRefused, "\x15"}};
  for (const auto& [fate, reply] : rows) {
    EXPECT_EQ(ReplyFor(fate, replies), reply) << static_cast<int>(fate);
    EXPECT_EQ(ReplyFor(fate, {}), "") << "nothing is written unless asked for";
  }
  RefusalBalloons balloons;
  const RefusalBalloons::Clock::time_point start{};
  EXPECT_EQ(balloons.For(CodeFate::Elevated, L"1cv8.exe", 0, start),
            L"Код не введён: программа «1cv8.exe» запущена от имени администратора");
  EXPECT_EQ(balloons.For(CodeFate::KeysHeld, L"", modifier::kCtrl, start + std::chrono::seconds(59)), std::nullopt);
  EXPECT_EQ(balloons.For(CodeFate::KeysHeld, L"", modifier::kCtrl, start + std::chrono::seconds(60)),
            L"Код не введён: удерживалась клавиша Ctrl");
  EXPECT_EQ(balloons.For(CodeFate::Cut, L"", 0, start + std::chrono::hours(1)), std::nullopt);
}
