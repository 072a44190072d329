// Prepares a code as the reader does, with the options' encoding, a
// prefix, a suffix, a group-separator replacement, and plans it with any
// keyboard state and pace, against the French, German and Czech layouts'
// tables and layouts that include characters on Ctrl+Alt and on Alt alone,
// and plays the events into a simulated window. The window must receive
// exactly the text, with no control character that could be a command,
// every key released, Caps Lock as found and never a Ctrl, Alt, Windows or
// Caps Lock key; so too when the input stream refuses part of the events
// or the typing stops after any batch.
// A surrogate pair always goes in one group, and a line with nothing to
// type (line feeds alone included) sends nothing at all.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include "support/simulated_keyboard.h"
#include "text/code_text.h"
#include "text/prepared_code.h"

namespace {

using namespace simulated;

void Check(bool holds, const char* what, const Reception& r) {
  if (holds) return;
  std::fprintf(stderr, "%s%s%s\n", what, r.faults.empty() ? "" : ": ", r.faults.empty() ? "" : r.faults[0].c_str());
  std::abort();
}

// No code page beyond the two the reader decodes itself.
class NoCodePages final : public CodePages {
 public:
  bool Knows(unsigned) const override { return false; }
  std::optional<std::wstring> Decode(unsigned, std::string_view) const override { return std::nullopt; }
};

std::wstring Decode(const std::string& bytes, unsigned codePage = TypingOptions::kAutomaticEncoding) {
  return DecodeCode(bytes, codePage, NoCodePages()).text;
}

// What the window must receive: the characters as they are, line feed as
// Enter, of the other control characters only Tab, Backspace, Escape and
// the separators, no character where there is none.
std::wstring Expected(std::wstring_view text) {
  std::wstring expected;
  for (const wchar_t c : text) {
    const bool control = c < 0x20 || c == 0x7F;
    const bool kept = c == L'\t' || c == L'\b' || c == 0x1B || c == 0x04 || (c >= 0x1C && c <= 0x1F);
    if (c == L'\n') {
      expected += L'\r';
    } else if (!control || kept) {
      expected += c;
    }
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TableLayout layouts[] = {UsLayout(),     RussianLikeLayout(), AltCharactersLayout(),
                                        FrenchLayout(), GermanLayout(),      CzechLayout()};
  FuzzedDataProvider input(data, size);
  const TableLayout& layout = layouts[input.ConsumeIntegralInRange<std::size_t>(0, std::size(layouts) - 1)];
  const KeyboardState keyboard{input.ConsumeBool(), input.ConsumeBool()};
  TypingOptions options;
  options.suffix =
      input.PickValueInArray({TypingOptions::Suffix::None, TypingOptions::Suffix::Enter, TypingOptions::Suffix::Tab});
  options.keyDelayMs = input.ConsumeBool() ? 20 : 0;
  options.prefix = Decode(input.ConsumeRandomLengthString(16));
  options.groupSeparator = Decode(input.ConsumeRandomLengthString(8));
  options.codePage =
      input.PickValueInArray({TypingOptions::kAutomaticEncoding, TypingOptions::kWindows1251, TypingOptions::kUtf8});
  const std::size_t cut = input.ConsumeIntegral<std::uint16_t>();
  const std::string bytes = input.ConsumeRemainingBytesAsString();
  const NoCodePages none;
  const PreparedCode prepared = PrepareCode(bytes, L"", TypingSettings(TypingProfiles{options, {}}, none), none);
  const std::wstring& code = prepared.decoded.text;

  std::wstring text;
  for (const wchar_t c : code) {
    text += c == 0x1D && !options.groupSeparator.empty() ? options.groupSeparator : std::wstring(1, c);
  }
  std::wstring expected;
  // Line feeds alone are a blank line: nothing to type either.
  if (Expected(text).find_first_not_of(L'\r') != std::wstring::npos) {
    expected = Expected(options.prefix + text);
    if (options.suffix == TypingOptions::Suffix::Enter) expected += L'\r';
    if (options.suffix == TypingOptions::Suffix::Tab) expected += L'\t';
  }

  const auto plan = PlanKeystrokes(prepared.runs, layout, keyboard);
  const Reception whole = Play(Flatten(plan), layout, keyboard);
  Check(whole.faults.empty(), "unsound keys", whole);
  Check(whole.capsLockOn == keyboard.capsLockOn, "Caps Lock changed", whole);
  Check(whole.text == expected, "text differs", whole);
  // Sent as themselves they would be commands to an edit control.
  const std::string dropped = DroppedControlBytes(code);
  for (const KeyStroke& stroke : Flatten(plan)) {
    const bool control = stroke.code < 0x20 || stroke.code == 0x7F;
    Check(stroke.kind != KeyStroke::Kind::Unicode || !control ||
              dropped.find(static_cast<char>(stroke.code)) == std::string::npos,
          "a left-out control byte was sent", whole);
  }
  for (const KeyGroup& group : plan) {  // decoded text holds a low surrogate only after a high one
    Check(group.empty() || group.front().kind != KeyStroke::Kind::Unicode || (group.front().code & 0xFC00) != 0xDC00,
          "a surrogate pair split between groups", whole);
  }
  if (options.keyDelayMs > 0) {
    for (const KeyGroup& group : plan) {
      const Reception alone = Play(group, layout, keyboard);
      Check(alone.faults.empty() && alone.capsLockOn == keyboard.capsLockOn, "paced group not balanced", alone);
    }
  }

  InterruptedSink wholeSink(SIZE_MAX), sink(cut);
  const std::atomic<bool> stopping{false};
  SendPlan(plan, options.keyDelayMs, stopping, wholeSink);
  const Reception sent = Play(wholeSink.received, layout, keyboard);
  Check(sent.faults.empty() && sent.text == expected, "sent unlike its plan (a key left down?)", sent);
  SendPlan(plan, options.keyDelayMs, stopping, sink);
  const Reception refused = Play(sink.received, layout, keyboard);
  Check(refused.faults.empty(), "unsound keys after a refused send", refused);
  Check(refused.capsLockOn == keyboard.capsLockOn, "Caps Lock changed by a refused send", refused);
  // A stop after any batch leaves no key down either.
  struct StoppingSink final : KeySink {
    std::size_t Send(std::span<const KeyStroke> strokes) override {
      received.insert(received.end(), strokes.begin(), strokes.end());
      if (--batchesLeft == 0) stopping = true;
      return strokes.size();
    }
    void Pause(int) override {}
    std::size_t batchesLeft;
    std::atomic<bool> stopping{false};
    std::vector<KeyStroke> received;
  } stopped;
  stopped.batchesLeft = cut % (plan.size() + 1) + 1;
  SendPlan(plan, options.keyDelayMs, stopped.stopping, stopped);
  const Reception partial = Play(stopped.received, layout, keyboard);
  Check(partial.faults.empty() && partial.capsLockOn == keyboard.capsLockOn, "a key left down at a stop", partial);
  return 0;
}
