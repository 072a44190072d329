#include "platform/conversions.h"

#include <gtest/gtest.h>

using platform::ExtractFileName;
using platform::StrToInt;

TEST(StrToInt, AcceptsOptionallySignedDecimalDigits) {
  EXPECT_EQ(StrToInt(L"9600"), 9600);
  EXPECT_EQ(StrToInt(L"+12"), 12);
  EXPECT_EQ(StrToInt(L"-5"), -5);
  EXPECT_EQ(StrToInt(L"0007"), 7);
  EXPECT_EQ(StrToInt(L"2147483647"), 2147483647);
  EXPECT_EQ(StrToInt(L"-2147483648"), INT32_MIN);
}

TEST(StrToInt, RejectsEverythingElse) {
  for (const wchar_t* text : {L"", L"+", L"-", L" 12", L"12 ", L"12a", L"0x10", L"$10", L"1.5", L"1,5", L"2147483648",
                              L"-2147483649", L"99999999999999999999", L"\x0663"}) {
    EXPECT_FALSE(StrToInt(text).has_value()) << "text: " << testing::PrintToString(std::wstring(text));
  }
}

TEST(ExtractFileName, TakesEverythingAfterTheLastSeparator) {
  EXPECT_EQ(ExtractFileName(L"C:\\Tools\\scan.exe"), L"scan.exe");
  EXPECT_EQ(ExtractFileName(L"C:\\Program Files\\Barcode\\reader.exe"), L"reader.exe");
  EXPECT_EQ(ExtractFileName(L"\\\\server\\share\\a.exe"), L"a.exe");
  EXPECT_EQ(ExtractFileName(L"C:scan.exe"), L"scan.exe");
  EXPECT_EQ(ExtractFileName(L"scan.exe"), L"scan.exe");
}
