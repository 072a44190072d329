#include "reader/code_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Feeds each string as one read and collects the codes.
class Framing {
 public:
  Framing& Read(const std::string& bytes) {
    framer.Feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                [this](std::string_view code) { codes.emplace_back(code); });
    framer.EndOfRead();
    return *this;
  }
  CodeFramer framer;
  std::vector<std::string> codes;
};

using Codes = std::vector<std::string>;

}  // namespace

TEST(CodeFramer, DigitsInOneReadOrSplitGiveOneCode) {
  EXPECT_EQ(Framing().Read("12345\r").codes, Codes{"12345"});
  EXPECT_EQ(Framing().Read("12").Read("34").Read("5\r").codes, Codes{"12345"});
  EXPECT_EQ(Framing().Read("1").Read("2").Read("3").Read("4").Read("5").Read("\r").codes, Codes{"12345"});
}

TEST(CodeFramer, SeveralCodesInOneReadAndTheRestStartsTheNext) {
  Framing f;
  f.Read("A1\rB2\rC3");
  EXPECT_EQ(f.codes, (Codes{"A1", "B2"}));
  f.Read("\r");
  EXPECT_EQ(f.codes, (Codes{"A1", "B2", "C3"}));
}

TEST(CodeFramer, LongUnfinishedReadsAreDroppedAfterTheRead) {
  EXPECT_EQ(Framing().Read(std::string(70, 'x')).Read("\r").codes, Codes{""})
      << "70 bytes without CR in one read are noise";
  EXPECT_EQ(Framing().Read(std::string(60, 'x')).Read(std::string(10, 'y')).Read("\r").codes, Codes{""});
  const std::string seventy = std::string(60, 'x') + std::string(10, 'y');
  EXPECT_EQ(Framing().Read(std::string(60, 'x')).Read(std::string(10, 'y') + "\r").codes, Codes{seventy});
  EXPECT_EQ(Framing().Read(std::string(64, 'x')).Read("\r").codes, Codes{std::string(64, 'x')})
      << "64 is not over the limit";
}

TEST(CodeFramer, ACodeArrivingWholeIsTypedUpTo127Characters) {
  const std::string longest(127, '7');
  EXPECT_EQ(Framing().Read(longest + "\r").codes, Codes{longest});
  EXPECT_EQ(Framing().Read(std::string(100, 'z') + "\r").codes, Codes{std::string(100, 'z')});
}

TEST(CodeFramer, ACodeTooLongForTheBufferIsDroppedNotCutShort) {
  Framing f;
  f.Read(std::string(128, 'a') + "\r" + "OK\r");
  EXPECT_EQ(f.codes, Codes{"OK"});
  EXPECT_EQ(Framing().Read(std::string(5000, 'n')).Read("12\r").codes, Codes{"12"});
}

TEST(CodeFramer, AZeroByteEndsTheTypedText) {
  EXPECT_EQ(Framing()
                .Read(std::string("12\0"
                                  "34\r",
                                  6))
                .codes,
            Codes{"12"});
  EXPECT_EQ(Framing()
                .Read(std::string("\0"
                                  "99\r",
                                  4))
                .codes,
            Codes{""});
}

TEST(CodeFramer, ACarriageReturnAloneGivesAnEmptyCode) {
  EXPECT_EQ(Framing().Read("\r").codes, Codes{""});
  EXPECT_EQ(Framing().Read("\r\r").codes, (Codes{"", ""}));
}

TEST(CodeFramer, LineFeedAfterCarriageReturnBelongsToTheLineEnding) {
  EXPECT_EQ(Framing().Read("111\r\n222\r\n").codes, (Codes{"111", "222"}));
  EXPECT_EQ(Framing().Read("111\r").Read("\n222\r").Read("\n").codes, (Codes{"111", "222"}))
      << "also when the LF comes in the next read";
  EXPECT_EQ(Framing().Read("a\nb\r").codes, Codes{"a\nb"}) << "an LF elsewhere is data";
  EXPECT_EQ(Framing().Read("1\r\n\n2\r").codes, (Codes{"1", "\n2"})) << "only one LF per CR";
}

TEST(CodeFramer, EveryOtherByteIsStored) {
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b != '\r' && b != '\n') all += static_cast<char>(b);
  }
  Framing f;
  f.Read(all.substr(0, 60));
  f.Read(all.substr(60, 60));  // 120 after this read: dropped
  f.Read(all.substr(120, 60) + "\r");
  EXPECT_EQ(f.codes, Codes{all.substr(120, 60)});
  EXPECT_EQ(Framing().Read(all.substr(200) + "\r").codes, Codes{all.substr(200)});
}
