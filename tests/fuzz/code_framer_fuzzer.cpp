// Feeds the framer a scanner's bytes in reads of any size, with or without
// a quiet line after each, and checks every code against the stream: each
// one is a whole line up to its carriage return (its first zero byte ends
// it), never more than 127 characters, never the first part of a longer
// line, and no line that fits is lost.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  CodeFramer framer;
  std::string stream;
  std::size_t lineStart = 0;  // where the line being framed began in the stream
  std::vector<std::string> typed, expected;

  while (input.remaining_bytes() > 0) {
    const auto bytes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 300));
    framer.Feed(bytes, [&](std::string_view code) { typed.emplace_back(code); });
    for (const std::uint8_t byte : bytes) {
      stream += static_cast<char>(byte);
      if (byte != '\r') continue;
      // A line feed right after the previous carriage return ends that line.
      std::size_t begin = lineStart;
      if (begin > 0 && begin < stream.size() && stream[begin - 1] == '\r' && stream[begin] == '\n') ++begin;
      const std::string line = stream.substr(begin, stream.size() - 1 - begin);
      if (line.size() <= CodeFramer::kCapacity - 1) expected.push_back(line.substr(0, line.find('\0')));
      lineStart = stream.size();
    }
    if (input.ConsumeBool()) {
      // A quiet line drops an unfinished code that is too long to be one.
      if (framer.position() > CodeFramer::kMaxUnfinishedLength) lineStart = stream.size();
      framer.EndOfRead();
    }
  }
  for (const std::string& code : typed) {
    if (code.size() > CodeFramer::kCapacity - 1) Fail("code longer than the buffer", code);
    if (code.find('\r') != std::string::npos) Fail("carriage return inside a code", code);
  }
  if (typed != expected) Fail("codes differ from the lines of the stream", stream);
  return 0;
}
