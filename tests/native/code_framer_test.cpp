#include "reader/code_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Codes = std::vector<std::string>;
using namespace std::string_literals;

// Between two reads, the line went quiet for longer than a code may pause.
const std::string kQuiet = "<quiet>";

Codes Frame(const std::vector<std::string>& reads) {
  CodeFramer framer;
  Codes codes;
  for (const std::string& read : reads) {
    if (read == kQuiet) {
      framer.DropUnfinished();
      continue;
    }
    framer.Feed(std::span(reinterpret_cast<const std::uint8_t*>(read.data()), read.size()),
                [&](std::string_view code) { codes.emplace_back(code); });
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
  const std::string longest(CodeFramer::kMaxCodeLength, '7');
  const std::string qr(1500, 'q');
  const struct {
    const char* what;
    std::vector<std::string> reads;
    Codes codes;
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
      {"one byte too long: dropped whole, the next typed", {longest + "8", "9\rOK\r"}, {"OK"}},
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
      {"a two-byte head takes its tail", {"xy", kQuiet, "z\r", "1\r"}, {"1"}},
      {"quiet between codes drops nothing", {"1\r", kQuiet, "2\r"}, {"1", "2"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Frame(c.reads), c.codes) << c.what;
}
