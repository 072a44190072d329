#include "line/code_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/diagnostics_recorder.h"

namespace {

using Codes = std::vector<std::string>;
using namespace std::string_literals;

// Between two reads the line went quiet: after a line break, for longer
// than the pause that ends a code; elsewhere, for longer than a code may
// pause.
const std::string kQuiet = "<quiet>";

Codes Frame(const std::vector<std::string>& reads, CodeEnd end = {}) {
  CodeFramer framer(end);
  Codes codes;
  const auto type = [&](std::string_view code) { codes.emplace_back(code); };
  for (const std::string& read : reads) {
    if (read == kQuiet) {
      framer.AwaitsPause() ? framer.EndAtPause(type) : framer.DropUnfinished();
      continue;
    }
    framer.Feed(std::span(reinterpret_cast<const std::uint8_t*>(read.data()), read.size()), type);
  }
  return codes;
}

std::string EveryByteButLineEndsAndNul() {
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b != '\r' && b != '\n') all += static_cast<char>(b);
  }
  return all;
}

}  // namespace

TEST(CodeFramer, EachLineIsOneWholeCodeOrNothing) {
  using Kind = CodeEnd::Kind;
  const CodeEnd pause{Kind::Pause}, etx{Kind::Byte, 0x03}, lf{Kind::Byte, 0x0A};
  const std::string longest(CodeFramer::kMaxCodeLength, '7');
  const std::string qr(1500, 'q');
  const struct {
    const char* what;
    std::vector<std::string> reads;
    Codes codes;
    CodeEnd end = {};
  } cases[] = {
      {"one read", {"12345\r"}, {"12345"}},
      {"split reads", {"12", "34", "5\r"}, {"12345"}},
      {"several codes in a read", {"A1\rB2\rC3", "\r"}, {"A1", "B2", "C3"}},
      {"an empty line", {"\r\r"}, {"", ""}},
      {"CR LF, also split", {"111\r\n222\r", "\n333\r"}, {"111", "222", "333"}},
      {"LF elsewhere is data", {"a\nb\r1\r\n\n2\r"}, {"a\nb", "1", "\n2"}},
      {"every other byte is stored", {EveryByteButLineEndsAndNul() + "\r"}, {EveryByteButLineEndsAndNul()}},
      {"a 1,500-byte QR code in 256-byte reads", {qr.substr(0, 256), qr.substr(256, 256), qr.substr(512) + "\r"}, {qr}},
      {"the longest code", {longest + "\r"}, {longest}},
      {"one byte too long: dropped whole, the next typed", {longest + "8\r", "OK\r"}, {"OK"}},
      {"NUL is never stored",
       {"12\0"s
        "34\r"},
       {"1234"}},
      {"NUL ends nothing", {"\0"s, kQuiet, "99\r"}, {"99"}},
      {"NUL inside CR LF", {"1\r\0\n2\r"s}, {"1", "2"}},
      {"a pause inside the idle time",
       {std::string(100, 'b'), std::string(40, 't') + "\r"},
       {std::string(100, 'b') + std::string(40, 't')}},
      {"a head dropped by the quiet takes its tail",
       {std::string(100, 'b'), kQuiet, std::string(40, 't') + "\r", "7\r"},
       {"7"}},
      {"a lone 0xFF is dropped, never glued", {"\xff", kQuiet, "4006381333931\r"}, {"4006381333931"}},
      {"a lone control byte too", {"\x1b", kQuiet, "5\r"}, {"5"}},
      {"and a lone DEL", {"\x7f", kQuiet, "5\r"}, {"5"}},
      {"a lone digit is a head: dropped with its tail", {"4", kQuiet, "006381333931\r", "7\r"}, {"7"}},
      {"a two-byte head takes its tail", {"xy", kQuiet, "z\r", "1\r"}, {"1"}},
      {"quiet between codes drops nothing", {"1\r", kQuiet, "2\r"}, {"1", "2"}},
      {"pause: a vCard whole, its last line break the end",
       {"BEGIN:VCARD\r\nN:Kennedy;Steve\r\nEND:VCARD\r\n", kQuiet, "2\n", kQuiet},
       {"BEGIN:VCARD\nN:Kennedy;Steve\nEND:VCARD", "2"},
       pause},
      {"pause: CR, LF and a split CR LF are one break each",
       {"a\r", "\nb\rc\n\n", "d\r", kQuiet},
       {"a\nb\nc\n\nd"},
       pause},
      {"pause: noise rules",
       {"1\0\r"s, "\0\n"s, kQuiet, longest + "8\r\n", kQuiet, "12", kQuiet, "3\r", kQuiet, "\xff", kQuiet, "4\r",
        kQuiet},
       {"1", "4"},
       pause},
      {"a lone line break is an empty code", {"\r\n", kQuiet}, {""}, pause},
      {"ETX: line breaks inside, CR LF split", {"L1\r", "\nL2\rL3\nL4\r\n\x03"}, {"L1\nL2\nL3\nL4\n"}, etx},
      {"ETX: a CR right before it is a line break of the code", {"12\r\x03", "\r\n\x03"}, {"12\n", "\n"}, etx},
      {"ETX: noise rules",
       {"1\0\x03"s, longest + "8\x03", "xy", kQuiet, "z\x03", "\xff", kQuiet, "5\x03"},
       {"1", "5"},
       etx},
      {"LF: CR LF ends a code once", {"1\r\n2\n\r\r\n"}, {"1", "2", "\n"}, lf},
  };
  for (const auto& c : cases) EXPECT_EQ(Frame(c.reads, c.end), c.codes) << c.what;
}

TEST(CodeFramer, ADroppedLineIsLoggedWithItsLength) {
  DiagnosticsRecorder log;
  Frame({std::string(CodeFramer::kMaxCodeLength + 1, '7') + "\r", std::string(100, 'b'), kQuiet,
         std::string(40, 't') + "\r"});
  EXPECT_EQ(log.events, (std::vector<std::wstring>{L"code of 8193 bytes dropped: too long, or its start was lost",
                                                   L"unfinished code of 100 bytes dropped: the line went quiet",
                                                   L"code of 140 bytes dropped: too long, or its start was lost"}));
}
