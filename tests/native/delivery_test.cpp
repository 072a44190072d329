#include "keys/delivery.h"

#include <gtest/gtest.h>

#include "support/simulated_keyboard.h"

namespace {

using namespace simulated;
using TypeAs = TypingOptions::TypeAs;

// Modifiers let go of after `heldForMs`; the clock runs on the pauses.
struct Keyboard final : HeldModifiers {
  Keyboard(std::uint8_t keys, int heldForMs) : keys(keys), heldForMs(heldForMs) {}
  std::uint8_t Held() override { return ++asked, now < heldForMs ? keys : 0; }
  void Pause(int milliseconds) override { now += milliseconds; }
  std::chrono::milliseconds Now() override { return std::chrono::milliseconds(now); }
  std::uint8_t keys;
  int heldForMs, now = 0, asked = 0;
};

// A pasted code as the window receives it: [pasted], keys, {pauses}.
struct Clipboard final : PasteSink {
  std::size_t Send(std::span<const KeyStroke> strokes) override {
    received += Play({strokes.begin(), strokes.end()}, UsLayout(), {}).text;
    return strokes.size();
  }
  void Pause(int milliseconds) override { received += L"{" + std::to_wstring(milliseconds) + L"}"; }
  bool TargetChanged() override { return pastes == changedAfter; }
  bool Paste(std::wstring_view text) override {
    received += L"[" + std::wstring(text) + L"]";
    return ++pastes != refusedAt;
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
  for (const auto& [target, own, refused] : rows) EXPECT_EQ(InputBlockedByIntegrity(target, own), refused);
}

TEST(Delivery, HeldModifiersAreWaitedForUpToTwoSecondsAndNeverTouched) {
  using Result = HeldKeysWait::Result;
  const std::tuple<std::uint8_t, int, Result, int> rows[] = {// keys, held for, outcome, times asked
                                                             {0, 0, Result::Free, 1},
                                                             {modifier::kCtrl, 500, Result::Free, 51},
                                                             {modifier::kWin | modifier::kAlt, 1990, Result::Free, 200},
                                                             {modifier::kShift, 2010, Result::StillHeld, 201}};
  for (const bool stopping : {false, true}) {
    for (const auto& [keys, heldForMs, result, asked] : rows) {
      Keyboard keyboard(keys, heldForMs);
      const HeldKeysWait wait = AwaitReleasedModifiers(keyboard, std::atomic<bool>{stopping});
      EXPECT_EQ(wait.result, stopping && keys ? Result::Stopped : result) << heldForMs;
      EXPECT_EQ(wait.held, wait.result == Result::Free ? 0 : keys) << heldForMs;
      EXPECT_EQ(keyboard.asked, stopping && keys ? 1 : asked) << "once for a code that finds no key held";
    }
  }
}

TEST(Delivery, UnicodeAndPasteSendEveryCharacterAsItselfAndTheirFieldsAsKeys) {
  const TableLayout us = UsLayout();
  const TypedRun runs[] = {{L"0104601234567893", 0},
                           {L"\t21ABC\x1d"
                            L"91Ж\xD83D\xDE00\n",
                            50},
                           {L"x\n", 0}};
  // Every character as itself: pasted, never a key of the layout.
  const auto plan = PlanKeystrokes(runs, PlanningLayout(TypeAs::Unicode, us), {});
  EXPECT_EQ(&PlanningLayout(TypeAs::Keys, us), &us);
  EXPECT_EQ(MethodFor(TypeAs::Paste, false), TypeAs::Keys) << "a clipboard that cannot be put back is not used";
  const std::wstring second =
      L"[21ABC\x1d"
      L"91Ж\xD83D\xDE00]";
  // Whole; a window change before a part or after it; a part not taken.
  for (const auto& [changedAfter, refusedAt, result, received] :
       {std::tuple{-1, -1, SendResult::Typed, L"[0104601234567893]\t" + second + L"\r{50}[x]\r"},
        std::tuple{1, -1, SendResult::Cut, std::wstring(L"[0104601234567893]")},
        std::tuple{0, -1, SendResult::Cut, std::wstring()},
        std::tuple{-1, 2, SendResult::Refused, L"[0104601234567893]\t" + second}}) {
    Clipboard clipboard;
    clipboard.changedAfter = changedAfter;
    clipboard.refusedAt = refusedAt;
    EXPECT_EQ(SendPasteSteps(PasteSteps(plan), std::atomic<bool>{false}, clipboard), result);
    EXPECT_EQ(clipboard.received, received);
  }
}

TEST(Delivery, ThePasteKeepsEveryFormatItCanPutBackAndIsNotDoneOverOneItCannot) {
  using namespace clipboard_format;
  constexpr std::uint32_t kText = 1, kUnicode = 13, kFiles = 15, kHtml = 0xC0F3;
  const std::tuple<std::vector<std::uint32_t>, std::vector<std::uint32_t>, bool, std::optional<std::uint32_t>> rows[] =
      {{{kUnicode, kText, kFiles, kHtml}, {kUnicode, kText, kFiles, kHtml}, false, std::nullopt},
       {{kBitmap, kDib, kDibV5, kPalette}, {kDib, kDibV5}, false, std::nullopt},
       {{kMetafilePicture, kEnhancedMetafile}, {}, true, std::nullopt},
       {{kUnicode, kBitmap}, {kUnicode}, false, kBitmap},
       {{kMetafilePicture}, {}, false, kMetafilePicture},
       {{kOwnerDisplay, kUnicode}, {kUnicode}, false, kOwnerDisplay},
       {{kUnicode, kPrivateFirst + 5}, {kUnicode}, false, kPrivateFirst + 5}};
  for (const auto& [formats, memory, metafile, lost] : rows) {
    const ClipboardKeeping keeping = KeepingOf(formats);
    EXPECT_TRUE(keeping.memory == memory && keeping.enhancedMetafile == metafile && keeping.lost == lost)
        << formats.size() << " " << lost.value_or(0);
  }
}

TEST(Delivery, TheScannerHearsOfEveryCodeTypedOrRefusedAndTheOperatorOnceAMinute) {
  using Outcome = PreparedCode::Outcome;
  const Replies replies{"\x06", "\x15"};
  const std::pair<Outcome, std::string_view> rows[] = {{Outcome::Typed, "\x06"},    {Outcome::Held, "\x06"},
                                                       {Outcome::Empty, ""},        {Outcome::Refused, "\x15"},
                                                       {Outcome::NotTyped, "\x15"}, {Outcome::Cut, "\x15"}};
  for (const auto& [outcome, reply] : rows) {
    EXPECT_EQ(ReplyFor(outcome, replies), reply) << static_cast<int>(outcome);
    EXPECT_EQ(ReplyFor(outcome, {}), "") << "nothing is written unless asked for";
  }
  RefusalBalloons balloons;
  const RefusalBalloons::Clock::time_point start{};
  EXPECT_EQ(balloons.For(Refusal::Elevated, L"1cv8.exe", 0, start),
            L"Код не введён: программа «1cv8.exe» запущена от имени администратора");
  EXPECT_EQ(balloons.For(Refusal::KeysHeld, L"", modifier::kCtrl, start + std::chrono::seconds(59)), std::nullopt);
  EXPECT_EQ(balloons.For(Refusal::KeysHeld, L"", modifier::kCtrl | modifier::kWin, start + std::chrono::seconds(60)),
            L"Код не введён: удерживалась клавиша Ctrl+Win");
  EXPECT_EQ(balloons.For(Refusal::Cut, L"", 0, start + std::chrono::hours(1)), std::nullopt);
}
