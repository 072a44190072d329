#include "settings_dialog/option_lists.h"

#include <gtest/gtest.h>

#include "support/memory_registry.h"

namespace {

const OptionList* const kAllLists[] = {&option_lists::kPort,       &option_lists::kBaudRate,    &option_lists::kDataBit,
                                       &option_lists::kParity,     &option_lists::kStopBit,     &option_lists::kCodeEnd,
                                       &option_lists::kReplyTyped, &option_lists::kReplyRefused};

}  // namespace

TEST(OptionLists, FallbacksAreTheReaderDefaults) {
  PortSettings fallbacks;
  for (const OptionList* list : kAllLists) fallbacks.*(list->text) = std::wstring(list->entries[list->fallback]);
  EXPECT_EQ(fallbacks, kDefaultPortSettings);
}

TEST(OptionLists, EveryEntryIsSomethingTheReaderApplies) {
  // An entry the reader cannot convert would silently keep the old line
  // parameters after OK.
  for (const auto baud : option_lists::kBaudRates) {
    PortSettings texts{L"COM1", std::wstring(baud), L"8", L"None", L"1", L"CR"};
    LineParameters line;
    EXPECT_TRUE(ApplySettings(texts, line));
    EXPECT_EQ(std::to_wstring(line.baudRate), baud);
  }
  for (std::size_t i = 0; i < kParityTexts.size(); ++i) {
    PortSettings texts{L"COM1", L"9600", L"8", std::wstring(kParityTexts[i]), L"1", L"CR"};
    LineParameters line;
    ASSERT_TRUE(ApplySettings(texts, line));
    EXPECT_EQ(line.parity, i);
  }
  for (std::size_t i = 0; i < kStopBitsTexts.size(); ++i) {
    PortSettings texts{L"COM1", L"9600", L"8", L"None", std::wstring(kStopBitsTexts[i]), L"CR"};
    LineParameters line;
    ASSERT_TRUE(ApplySettings(texts, line));
    EXPECT_EQ(line.stopBits, i);
  }
  for (const auto port : option_lists::kPorts) EXPECT_TRUE(SerialDevicePath(port).has_value());
}

TEST(OptionLists, ExactTextSelectsItsEntryAnythingElseTheFallback) {
  EXPECT_EQ(PositionFor(option_lists::kPort, L"COM5"), 4u);
  EXPECT_EQ(PositionFor(option_lists::kPort, L"COM9"), 0u);
  EXPECT_EQ(PositionFor(option_lists::kPort, L"com5"), 0u) << "the reader would open com5, the list must not say COM5";
  EXPECT_EQ(PositionFor(option_lists::kBaudRate, L"115200"), 12u);
  EXPECT_EQ(PositionFor(option_lists::kBaudRate, L"1000"), 6u);
  EXPECT_EQ(PositionFor(option_lists::kBaudRate, L""), 6u);
  EXPECT_EQ(PositionFor(option_lists::kDataBit, L"7"), 3u);
  EXPECT_EQ(PositionFor(option_lists::kDataBit, L"08"), 4u);
  EXPECT_EQ(PositionFor(option_lists::kParity, L"Space"), 4u);
  EXPECT_EQ(PositionFor(option_lists::kParity, L"none"), 0u);
  EXPECT_EQ(PositionFor(option_lists::kParity, L"odd"), 0u);
  EXPECT_EQ(PositionFor(option_lists::kStopBit, L"1.5"), 1u);
  EXPECT_EQ(PositionFor(option_lists::kStopBit, L"1,5"), 0u);
}

TEST(OptionLists, PortsPresentAndTheStoredOneFollowInNumericOrder) {
  MemoryRegistry registry;
  registry.keys[MemoryRegistry::Path(platform::Hive::LocalMachine, option_lists::kSerialDeviceMap)] = {
      {L"\\Device\\Serial0", L"COM1"},       {L"\\Device\\VCP0", L"COM12"},   {L"\\Device\\VCP1", L"COM9"},
      {L"\\Device\\VCP2", L"COM10"},         {L"\\Device\\Modem", L"COM300"}, {L"\\Device\\Odd", L"com11"},
      {L"\\Device\\Pipe", L"\\\\.\\pipe\\x"}};
  const OptionList ports = PortList(registry, L"COM12");
  EXPECT_EQ(ports.entries, (std::vector<std::wstring>{L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7",
                                                      L"COM8", L"COM9", L"COM10", L"COM12"}));
  EXPECT_EQ(PositionFor(ports, L"COM12"), 10u);
  EXPECT_EQ(PositionFor(ports, L"COM99"), 0u) << "a text matching no entry still falls back to COM1";

  EXPECT_EQ(PortList(registry, L"COM200").entries.back(), L"COM200") << "the stored port, though absent now";
  EXPECT_EQ(PortList(registry, L"COM0").entries.size(), 11u);
}

TEST(OptionLists, AnUnreadableDeviceMapStillOffersTheStoredPort) {
  MemoryRegistry registry;
  registry.operationsBeforeFailure = 0;
  EXPECT_EQ(PortList(registry, L"COM17").entries.back(), L"COM17");
}
