// Plans a code with a prefix, a suffix, a group-separator replacement, any
// keyboard state and pace, against layouts that include characters on
// Ctrl+Alt and on Alt alone, and plays the events into a simulated window.
// The window must receive exactly the text, with every key released, Caps
// Lock as found and never a Ctrl, Alt or Windows key; so too when the
// input stream refuses part of the events.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include "support/simulated_keyboard.h"

namespace {

using namespace simulated;

void Check(bool holds, const char* what, const Reception& r) {
  if (holds) return;
  std::fprintf(stderr, "%s%s%s\n", what, r.faults.empty() ? "" : ": ", r.faults.empty() ? "" : r.faults[0].c_str());
  std::abort();
}

std::wstring Decode(const std::string& bytes) {
  std::wstring text;
  for (const char byte : bytes) text += FromCodePage1251(static_cast<std::uint8_t>(byte));
  return text;
}

// What the window must receive: the characters as they are, line feed as
// Enter, no character where there is none.
std::wstring Expected(std::wstring_view text) {
  std::wstring expected;
  for (const wchar_t c : text) {
    if (c != 0) expected += c == L'\n' ? L'\r' : c;
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TableLayout layouts[] = {UsLayout(), RussianLikeLayout(), GermanLikeLayout()};
  FuzzedDataProvider input(data, size);
  const TableLayout& layout = layouts[input.ConsumeIntegralInRange<int>(0, 2)];
  const KeyboardState keyboard{input.ConsumeBool(), input.ConsumeBool()};
  TypingOptions options;
  options.suffix =
      input.PickValueInArray({TypingOptions::Suffix::None, TypingOptions::Suffix::Enter, TypingOptions::Suffix::Tab});
  options.keyDelayMs = input.ConsumeBool() ? 20 : 0;
  options.prefix = Decode(input.ConsumeRandomLengthString(16));
  options.groupSeparator = Decode(input.ConsumeRandomLengthString(8));
  const std::size_t cut = input.ConsumeIntegral<std::uint16_t>();
  const std::string code = input.ConsumeRemainingBytesAsString();

  std::wstring text = options.prefix;
  for (const wchar_t c : Decode(code)) {
    text += c == 0x1D && !options.groupSeparator.empty() ? options.groupSeparator : std::wstring(1, c);
  }
  if (options.suffix == TypingOptions::Suffix::Enter) text += L'\r';
  if (options.suffix == TypingOptions::Suffix::Tab) text += L'\t';

  const auto plan = PlanKeystrokes(code, layout, keyboard, options);
  const Reception whole = Play(Flatten(plan), layout, keyboard);
  Check(whole.faults.empty(), "unsound keys", whole);
  Check(whole.capsLockOn == keyboard.capsLockOn, "Caps Lock changed", whole);
  Check(whole.text == Expected(text), "text differs", whole);
  if (options.keyDelayMs > 0) {
    for (const KeyGroup& group : plan) {
      const Reception alone = Play(group, layout, keyboard);
      Check(alone.faults.empty() && alone.capsLockOn == keyboard.capsLockOn, "paced group not balanced", alone);
    }
  }

  InterruptedSink sink(cut);
  const std::atomic<bool> stopping{false};
  SendPlan(plan, options.keyDelayMs, stopping, sink);
  const Reception refused = Play(sink.received, layout, keyboard);
  Check(refused.faults.empty(), "unsound keys after a refused send", refused);
  Check(refused.capsLockOn == keyboard.capsLockOn, "Caps Lock changed by a refused send", refused);
  return 0;
}
