#include "keys/delivery.h"

#include <algorithm>
#include <array>

bool InputBlockedByIntegrity(std::optional<std::uint32_t> target, OwnIntegrity own) {
  return target && *target > own.level && !own.uiAccess;
}

std::wstring ModifierNames(std::uint8_t held) {
  static constexpr std::array<std::pair<std::uint8_t, std::wstring_view>, 4> kNames{
      {{modifier::kCtrl, L"Ctrl"}, {modifier::kAlt, L"Alt"}, {modifier::kShift, L"Shift"}, {modifier::kWin, L"Win"}}};
  std::wstring names;
  for (const auto& [bit, name] : kNames) {
    if ((held & bit) == 0) continue;
    if (!names.empty()) names += L'+';
    names += name;
  }
  return names;
}

HeldKeysWait AwaitReleasedModifiers(HeldModifiers& keyboard, const std::atomic<bool>& stopping) {
  std::uint8_t held = keyboard.Held();
  if (held == 0) return {};
  const std::chrono::milliseconds since = keyboard.Now();
  while (held != 0) {
    if (stopping) return {HeldKeysWait::Result::Stopped, held};
    if (keyboard.Now() - since >= kHeldKeysPatience) return {HeldKeysWait::Result::StillHeld, held};
    keyboard.Pause(kHeldKeysPollMs);
    held = keyboard.Held();
  }
  return {};
}

namespace {

// Has no key for any character.
class KeylessLayout final : public KeyboardLayout {
 public:
  std::int16_t KeyFor(wchar_t) const override { return -1; }
  std::optional<wchar_t> CharacterOf(std::uint16_t, bool, bool) const override { return std::nullopt; }
};

const KeylessLayout kKeyless;

bool IsCharacter(const KeyGroup& group) {
  return !group.empty() &&
         std::ranges::all_of(group, [](const KeyStroke& stroke) { return stroke.kind == KeyStroke::Kind::Unicode; });
}

}  // namespace

const KeyboardLayout& PlanningLayout(TypingOptions::TypeAs typeAs, const KeyboardLayout& window) {
  return typeAs == TypingOptions::TypeAs::Keys ? window : kKeyless;
}

TypingOptions::TypeAs MethodFor(TypingOptions::TypeAs asked, bool clipboardKept) {
  return asked == TypingOptions::TypeAs::Paste && !clipboardKept ? TypingOptions::TypeAs::Keys : asked;
}

std::vector<PasteStep> PasteSteps(const std::vector<KeyGroup>& plan) {
  std::vector<PasteStep> steps;
  for (const KeyGroup& group : plan) {
    if (!IsCharacter(group)) {
      if (steps.empty()) steps.emplace_back();
      steps.back().keysAfter.push_back(group);
      continue;
    }
    if (steps.empty() || !steps.back().keysAfter.empty()) steps.emplace_back();
    for (const KeyStroke& stroke : group) {
      if (!stroke.up) steps.back().text += static_cast<wchar_t>(stroke.code);
    }
  }
  return steps;
}

SendResult SendPasteSteps(const std::vector<PasteStep>& steps, const std::atomic<bool>& stopping, PasteSink& sink) {
  for (const PasteStep& step : steps) {
    if (!step.text.empty()) {
      if (stopping) return SendResult::Stopped;
      if (sink.TargetChanged()) return SendResult::Cut;
      if (!sink.Paste(step.text)) return SendResult::Refused;
    }
    if (const SendResult result = SendPlan(step.keysAfter, 0, stopping, sink); result != SendResult::Typed) {
      return result;
    }
  }
  return SendResult::Typed;
}

ClipboardKeeping KeepingOf(const std::vector<std::uint32_t>& formats) {
  using namespace clipboard_format;
  const auto has = [&](std::uint32_t format) { return std::ranges::find(formats, format) != formats.end(); };
  const bool image = has(kDib) || has(kDibV5);
  ClipboardKeeping keeping;
  for (const std::uint32_t format : formats) {
    switch (format) {
      case kEnhancedMetafile:
        keeping.enhancedMetafile = true;
        continue;
      case kBitmap:
      case kPalette:
        if (image) continue;
        break;
      case kMetafilePicture:
        if (has(kEnhancedMetafile)) continue;
        break;
      case kOwnerDisplay:
      case kDisplayBitmap:
      case kDisplayMetafilePicture:
      case kDisplayEnhancedMetafile:
        break;
      default:
        if (format < kPrivateFirst || format > kGdiObjectLast) {
          keeping.memory.push_back(format);
          continue;
        }
    }
    if (!keeping.lost) keeping.lost = format;
  }
  return keeping;
}

std::string_view ReplyFor(PreparedCode::Outcome outcome, const Replies& replies) {
  using Outcome = PreparedCode::Outcome;
  switch (outcome) {
    case Outcome::Typed:
    case Outcome::Held:
      return replies.typed;
    case Outcome::Empty:
    case Outcome::ToType:
      return {};
    case Outcome::Refused:
    case Outcome::NotTyped:
    case Outcome::Cut:
      break;
  }
  return replies.refused;
}

std::optional<std::wstring> RefusalBalloons::For(Refusal refusal, std::wstring_view program, std::uint8_t held,
                                                 Clock::time_point now) {
  if (refusal == Refusal::Cut) return std::nullopt;
  if (last_ && now - *last_ < kQuiet) return std::nullopt;
  last_ = now;
  if (refusal == Refusal::KeysHeld) return L"Код не введён: " + RefusalText(refusal, held);
  return L"Код не введён: программа «" + std::wstring(program.empty() ? L"?" : program) +
         L"» запущена от имени администратора";
}

std::wstring RefusalText(Refusal refusal, std::uint8_t held) {
  switch (refusal) {
    case Refusal::Elevated:
      return L"программа запущена от имени администратора";
    case Refusal::KeysHeld:
      return L"удерживалась клавиша " + ModifierNames(held);
    case Refusal::Cut:
      break;
  }
  return L"окно сменилось во время ввода";
}
