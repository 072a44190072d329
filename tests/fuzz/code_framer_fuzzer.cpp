// Feeds the framer a scanner's bytes in reads of any size, with or without
// a quiet line after each, and checks every code against the lines of the
// stream: each one is a whole line up to its end, its zero
// bytes left out, never longer than the limit, never a proper part of a
// line (a line whose head a quiet line dropped is not typed at all, unless
// that head was one noise byte, which goes alone), and no
// line that fits and never fell quiet is lost. A code ends at a carriage
// return, a line break and a pause, or a byte; each line break inside it is
// one line feed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "line/code_framer.h"

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

bool IsNoise(std::uint8_t byte) { return byte < 0x20 || byte >= 0x7F; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  using Kind = CodeEnd::Kind;
  CodeEnd end{input.PickValueInArray({Kind::CarriageReturn, Kind::Pause, Kind::Byte})};
  if (end.kind == Kind::Byte) {
    end.byte = input.ConsumeIntegralInRange<std::uint8_t>(1, 0xFF);
    if (end.byte == '\r') end = {};
  }
  CodeFramer framer(end);
  Line line;
  bool afterCarriageReturn = false;
  // A line break not yet in the line: it may still end it, or be half of
  // CR LF.
  enum class Break { None, CarriageReturn, Complete } pending = Break::None;
  std::vector<std::string> typed, expected;
  const auto type = [&](std::string_view code) { typed.emplace_back(code); };
  const auto endLine = [&] {
    if (!line.fellQuiet && line.text.size() <= CodeFramer::kMaxCodeLength) expected.push_back(line.text);
    line = {};
    pending = Break::None;
  };
  const auto storePending = [&] {
    if (pending != Break::None) line.text += '\n';
    pending = Break::None;
  };

  while (input.remaining_bytes() > 0) {
    // Long runs now and then, to cross the length limit.
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 300);
    std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(count);
    if (input.ConsumeBool() && !bytes.empty() && input.ConsumeBool()) {
      bytes.insert(bytes.begin(), CodeFramer::kMaxCodeLength - 20 + input.ConsumeIntegralInRange<std::size_t>(0, 40),
                   bytes.front());
    }
    framer.Feed(bytes, type);
    for (const std::uint8_t byte : bytes) {
      if (byte == 0) continue;
      if (end.kind == Kind::CarriageReturn) {
        if (byte == '\r') {
          endLine();
          afterCarriageReturn = true;
          continue;
        }
        const bool endsPreviousLine = byte == '\n' && afterCarriageReturn;
        afterCarriageReturn = false;
        if (!endsPreviousLine) line.text += static_cast<char>(byte);
        continue;
      }
      if (end.kind == Kind::Byte && byte == end.byte) {
        if (byte == '\n' && pending == Break::CarriageReturn) pending = Break::None;
        storePending();
        endLine();
      } else if (byte == '\n' && pending == Break::CarriageReturn) {
        pending = Break::Complete;
      } else if (byte == '\r' || byte == '\n') {
        storePending();
        pending = byte == '\r' ? Break::CarriageReturn : Break::Complete;
      } else {
        storePending();
        line.text += static_cast<char>(byte);
      }
    }
    if (input.ConsumeBool()) {
      if (framer.AwaitsPause() != (end.kind == Kind::Pause && pending != Break::None)) {
        Fail("a pause would end a different code", line.text);
      }
      if (framer.AwaitsPause()) {
        // The line break before the pause is the scanner's terminator.
        pending = Break::None;
        endLine();
        framer.EndAtPause(type);
        continue;
      }
      storePending();
      // A lone noise byte is dropped alone; any other head takes its line.
      if (!line.fellQuiet && line.text.size() == 1 && IsNoise(line.text[0])) {
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
