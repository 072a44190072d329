// Feeds the framer a scanner's bytes in reads of any size, with or without
// a quiet line after each, and checks every code against the lines of the
// stream: each one is a whole line up to its carriage return, its zero
// bytes left out, never longer than the limit, never a proper part of a
// line (a line whose head a quiet line dropped is not typed at all, unless
// that head was one stray byte, which goes alone), and no
// line that fits and never fell quiet is lost.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "reader/code_framer.h"

namespace {

void Fail(const char* what, const std::string& code) {
  std::fprintf(stderr, "%s (%zu bytes)\n", what, code.size());
  std::abort();
}

// The line being sent, as the framer must see it.
struct Line {
  std::string text;  // without zero bytes and the line feed ending the previous line
  bool fellQuiet = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  CodeFramer framer;
  Line line;
  bool afterCarriageReturn = false;
  std::vector<std::string> typed, expected;

  while (input.remaining_bytes() > 0) {
    // Long runs now and then, to cross the length limit.
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 300);
    std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(count);
    if (input.ConsumeBool() && !bytes.empty() && input.ConsumeBool()) {
      bytes.insert(bytes.begin(), CodeFramer::kMaxCodeLength - 20 + input.ConsumeIntegralInRange<std::size_t>(0, 40),
                   bytes.front());
    }
    framer.Feed(bytes, [&](std::string_view code) { typed.emplace_back(code); });
    for (const std::uint8_t byte : bytes) {
      if (byte == '\r') {
        if (!line.fellQuiet && line.text.size() <= CodeFramer::kMaxCodeLength) expected.push_back(line.text);
        line = {};
        afterCarriageReturn = true;
        continue;
      }
      if (byte == 0) continue;
      const bool endsPreviousLine = byte == '\n' && afterCarriageReturn;
      afterCarriageReturn = false;
      if (!endsPreviousLine) line.text += static_cast<char>(byte);
    }
    if (input.ConsumeBool()) {
      // A lone byte is stray noise, dropped alone; a longer head takes its line.
      if (!line.fellQuiet && line.text.size() == 1) {
        line.text.clear();
      } else if (!line.text.empty()) {
        line.fellQuiet = true;
      }
      framer.DropUnfinished();
    }
  }
  for (const std::string& code : typed) {
    if (code.size() > CodeFramer::kMaxCodeLength) Fail("code over the limit", code);
    if (code.find('\0') != std::string::npos) Fail("zero byte inside a code", code);
    if (code.find('\r') != std::string::npos) Fail("carriage return inside a code", code);
  }
  if (typed != expected) Fail("codes differ from the whole lines of the stream", line.text);
  return 0;
}
