#include "line/port_settings.h"

#include <gtest/gtest.h>

namespace {

// Far from every default, so that a member left alone is told apart from
// one that was reset.
LineParameters Untouched() { return {L"COM7", 1200, 7, 2, 2, {CodeEnd::Kind::Pause}}; }

}  // namespace

TEST(ApplySettings, EmptyTextsTakeTheDefaults) {
  PortSettings texts;
  LineParameters line = Untouched();
  EXPECT_TRUE(ApplySettings(texts, line));
  EXPECT_EQ(texts, kDefaultPortSettings);
  EXPECT_EQ(line, (LineParameters{L"COM1", 9600, 8, 0, 0, {}}));
}

TEST(ApplySettings, OnlyTheEmptyTextsAreFilled) {
  PortSettings texts{L"", L"19200", L"", L"Even", L"", L""};
  LineParameters line;
  EXPECT_TRUE(ApplySettings(texts, line));
  EXPECT_EQ(texts, (PortSettings{L"COM1", L"19200", L"8", L"Even", L"1", L"CR"}));
  EXPECT_EQ(line, (LineParameters{L"COM1", 19200, 8, 2, 0, {}}));
}

TEST(ApplySettings, DerivesEveryParityAndStopBitsCode) {
  const std::pair<const wchar_t*, std::uint8_t> parities[] = {
      {L"None", 0}, {L"Odd", 1}, {L"Even", 2}, {L"Mark", 3}, {L"Space", 4}};
  for (const auto& [text, code] : parities) {
    PortSettings texts{L"COM2", L"9600", L"8", text, L"1", L"CR"};
    LineParameters line;
    ASSERT_TRUE(ApplySettings(texts, line));
    EXPECT_EQ(line.parity, code) << "parity " << testing::PrintToString(std::wstring(text));
  }
  const std::pair<const wchar_t*, std::uint8_t> stopBits[] = {{L"1", 0}, {L"1.5", 1}, {L"2", 2}};
  for (const auto& [text, code] : stopBits) {
    PortSettings texts{L"COM2", L"9600", L"8", L"None", text, L"CR"};
    LineParameters line;
    ASSERT_TRUE(ApplySettings(texts, line));
    EXPECT_EQ(line.stopBits, code) << "stop bits " << testing::PrintToString(std::wstring(text));
  }
}

TEST(ApplySettings, UnknownParityAndStopBitsTextsGiveCodeZero) {
  for (const wchar_t* parity : {L"none", L"odd", L"EVEN", L"N", L" Odd"}) {
    PortSettings texts{L"COM1", L"9600", L"8", parity, L"2", L"CR"};
    LineParameters line = Untouched();
    ASSERT_TRUE(ApplySettings(texts, line));
    EXPECT_EQ(line.parity, 0) << testing::PrintToString(std::wstring(parity));
  }
  for (const wchar_t* stopBits : {L"1,5", L"1.50", L"2.0", L"3"}) {
    PortSettings texts{L"COM1", L"9600", L"8", L"Odd", stopBits, L"CR"};
    LineParameters line = Untouched();
    ASSERT_TRUE(ApplySettings(texts, line));
    EXPECT_EQ(line.stopBits, 0) << testing::PrintToString(std::wstring(stopBits));
  }
}

TEST(ApplySettings, ByteSizeIsKeptInEightBits) {
  PortSettings texts{L"COM1", L"9600", L"264", L"None", L"1", L"CR"};
  LineParameters line;
  ASSERT_TRUE(ApplySettings(texts, line));
  EXPECT_EQ(line.byteSize, 8);
}

TEST(ApplySettings, NonNumericBaudRateStopsAfterThePortName) {
  PortSettings texts{L"COM4", L"fast", L"7", L"Odd", L"2", L"CR"};
  LineParameters line = Untouched();
  EXPECT_FALSE(ApplySettings(texts, line));
  LineParameters expected = Untouched();
  expected.portName = L"COM4";
  EXPECT_EQ(line, expected);
  EXPECT_EQ(texts.BaudRate, L"fast") << "texts are never rewritten except when empty";
}

TEST(ApplySettings, NonNumericByteSizeKeepsItAndEverythingAfter) {
  PortSettings texts{L"COM3", L"115200", L"eight", L"Even", L"1", L"CR"};
  LineParameters line = Untouched();
  EXPECT_FALSE(ApplySettings(texts, line));
  EXPECT_EQ(line, (LineParameters{L"COM3", 115200, 7, 2, 2, {CodeEnd::Kind::Pause}}));
}

TEST(ApplySettings, ASignedBaudRateConverts) {
  PortSettings texts{L"COM1", L"+4800", L"8", L"None", L"1", L"CR"};
  LineParameters line;
  ASSERT_TRUE(ApplySettings(texts, line));
  EXPECT_EQ(line.baudRate, 4800u);
}

TEST(CommandLinePortName, FirstCharacterOneToEightSelectsThePort) {
  EXPECT_EQ(CommandLinePortName(L"5"), L"COM5");
  EXPECT_EQ(CommandLinePortName(L"1"), L"COM1");
  EXPECT_EQ(CommandLinePortName(L"8"), L"COM8");
  EXPECT_EQ(CommandLinePortName(L"27"), L"COM2") << "only the first character counts";
}

TEST(CommandLinePortName, AnythingElseSelectsCom1) {
  for (const wchar_t* argument : {L"9", L"0", L"COM3", L"", L" 5", L"-5"}) {
    EXPECT_EQ(CommandLinePortName(argument), L"COM1") << testing::PrintToString(std::wstring(argument));
  }
}

TEST(SerialDevicePath, ComNamesOpenThroughTheDeviceNamespace) {
  EXPECT_EQ(SerialDevicePath(L"COM1"), L"\\\\.\\COM1");
  EXPECT_EQ(SerialDevicePath(L"com12"), L"\\\\.\\COM12");
  EXPECT_EQ(SerialDevicePath(L"Com256"), L"\\\\.\\COM256");
}

TEST(SerialDevicePath, AnythingButAComPortHasNoPath) {
  for (const wchar_t* name : {L"", L"COM", L"COM0", L"COM257", L"COM01", L"COM1000", L"COM+1", L"COM-1", L"COM1 ",
                              L" COM1", L"COM1:", L"LPT1", L"C:\\Windows\\win.ini", L"\\\\.\\pipe\\scanner",
                              L"\\\\server\\share\\x", L"COM1\\..\\x", L"\\\\.\\COM1", L"NUL"}) {
    EXPECT_FALSE(SerialDevicePath(name).has_value()) << testing::PrintToString(std::wstring(name));
  }
}

TEST(LineSetupFor, TheOperatorsLineNoFlowControlAndDtrAndRtsRaised) {
  for (const LineParameters& line :
       {LineParameters{L"COM2", 9600, 8, 0, 0, {}}, LineParameters{L"COM3", 1200, 7, 2, 2, {}}}) {
    // No signal a scanner never sends is waited for; DTR and RTS power or
    // enable many scanners.
    const LineSetup expected{.baudRate = line.baudRate,
                             .byteSize = line.byteSize,
                             .parity = line.parity,
                             .stopBits = line.stopBits,
                             .binary = true,
                             .checkParity = line.parity != 0,
                             .dtrControl = 1,
                             .rtsControl = 1};
    EXPECT_EQ(LineSetupFor(line), expected) << line.baudRate;
  }
}
