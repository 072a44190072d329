#include "platform/diagnostics_log.h"

#include <gtest/gtest.h>

using diagnostics::Entry;
using diagnostics::LogLevel;

namespace {

const diagnostics::LocalTime kTime{2026, 3, 7, 9, 5, 2, 41};

}  // namespace

TEST(DiagnosticsLog, OnlyOneAndTwoSwitchTheLogOn) {
  EXPECT_EQ(diagnostics::ParseLogLevel(L"1"), LogLevel::Events);
  EXPECT_EQ(diagnostics::ParseLogLevel(L"2"), LogLevel::Contents);
  for (const wchar_t* other : {L"", L"0", L"3", L" 1", L"2 ", L"yes", L"12"}) {
    EXPECT_EQ(diagnostics::ParseLogLevel(other), LogLevel::Off) << other;
  }
  EXPECT_EQ(diagnostics::ParseLogLevel(std::nullopt), LogLevel::Off);
}

TEST(DiagnosticsLog, AFailureIsOneLineWithItsCodeAndText) {
  const Entry failure{Entry::Kind::Failure, L"opening COM5", 2};
  EXPECT_EQ(
      diagnostics::FormatLine(failure, kTime, LogLevel::Events, L"The system cannot find the file specified.\r\n"),
      L"2026-03-07 09:05:02.041 FAILED opening COM5: error 2 (The system cannot find the file specified.)");
  EXPECT_EQ(diagnostics::FormatLine(failure, kTime, LogLevel::Events, L""),
            L"2026-03-07 09:05:02.041 FAILED opening COM5: error 2");
}

TEST(DiagnosticsLog, ACodesContentsOnlyWhenAskedFor) {
  const Entry code{Entry::Kind::CodeTyped, L"", 0, std::string_view("47\x0d\xFF", 4)};
  EXPECT_EQ(diagnostics::FormatLine(code, kTime, LogLevel::Events, L""),
            L"2026-03-07 09:05:02.041 code typed, 4 characters");
  EXPECT_EQ(diagnostics::FormatLine(code, kTime, LogLevel::Off, L""),
            L"2026-03-07 09:05:02.041 code typed, 4 characters")
      << "the debugger output is always on: no contents there either";
  EXPECT_EQ(diagnostics::FormatLine(code, kTime, LogLevel::Contents, L""),
            L"2026-03-07 09:05:02.041 code typed, 4 characters: 34 37 0D FF");
  const Entry pasting{Entry::Kind::CodeTyped, L"", 0,
                      "1"
                      "2",
                      ""};
  EXPECT_EQ(diagnostics::FormatLine(pasting, kTime, LogLevel::Events, L""),
            L"2026-03-07 09:05:02.041 code typed, 4 characters; control bytes left out: 2");
  EXPECT_EQ(diagnostics::FormatLine(pasting, kTime, LogLevel::Contents, L""),
            L"2026-03-07 09:05:02.041 code typed, 4 characters: 31 16 32 03; control bytes left out: 2 (16 03)");
}

TEST(DiagnosticsLog, TheFileMovesAsideOnlyWhenTheNextLineWouldPassTheCap) {
  EXPECT_FALSE(diagnostics::MustRotate(90, 10, 100));
  EXPECT_TRUE(diagnostics::MustRotate(91, 10, 100));
  EXPECT_FALSE(diagnostics::MustRotate(0, 500, 100)) << "an empty file takes any line";
}
