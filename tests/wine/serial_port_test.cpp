// Opening and closing the scanner's port: a real pseudo-terminal behind a
// COM port of Wine, and the real message box.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/diagnostics.h"
#include "support/raw_registry.h"
#include "support/scanner_sim.h"
#include "support/test_reader.h"
#include "support/ui_probe.h"

namespace {

const std::wstring kTitle = L"Драйвер для сканера штрих-кода";
const std::wstring kOpenFailed = L"CBarCodReader::InitComm :\r\n Невозможно открыть COM порт !";
const std::wstring kSetupFailed = L"CBarCodReader::InitComm :\r\n Невозможно настроить COM порт !";

class SerialPortTest : public testing::Test {
 protected:
  void SetUp() override { raw_registry::Forget(); }
  void TearDown() override { raw_registry::Forget(); }

  // A reader whose stored settings are these texts.
  static std::unique_ptr<TestReader> ReaderFor(const PortSettings& texts) {
    raw_registry::WriteDevice(L"NamePort", texts.NamePort);
    raw_registry::WriteDevice(L"BaudRate", texts.BaudRate);
    raw_registry::WriteDevice(L"ByteSize", texts.ByteSize);
    raw_registry::WriteDevice(L"Parity", texts.Parity);
    raw_registry::WriteDevice(L"StopBits", texts.StopBits);
    auto reader = std::make_unique<TestReader>();
    reader->ApplySettings();  // a developer's --gtest_filter must not count as a port argument
    return reader;
  }

  ScannerSim sim;
};

// The failures and events reported, from any thread, while it is installed.
class DiagnosticsLog final : public diagnostics::Writer {
 public:
  DiagnosticsLog() { diagnostics::SetWriter(this); }
  ~DiagnosticsLog() override { diagnostics::SetWriter(nullptr); }
  void Write(const diagnostics::Entry& entry) override {
    std::lock_guard lock(mutex_);
    if (entry.kind == diagnostics::Entry::Kind::Failure) {
      failures_.push_back(std::wstring(entry.text) + L": error " + std::to_wstring(entry.errorCode));
    } else if (entry.kind == diagnostics::Entry::Kind::Event) {
      events_.emplace_back(entry.text);
    }
  }
  std::vector<std::wstring> Failures() {
    std::lock_guard lock(mutex_);
    return failures_;
  }
  std::vector<std::wstring> Events() {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::wstring> failures_;
  std::vector<std::wstring> events_;
};

// InitComm, with an operator who waits for its message box, reads it and
// presses OK; the message must be this one, shown once.
bool InitCommShowing(TestReader& reader, const std::wstring& text) {
  std::optional<ui_probe::MessageBoxContent> box;
  std::thread operatorThread([&] { box = ui_probe::DismissMessageBox(kTitle, 30000); });
  const bool opened = reader.InitComm();
  operatorThread.join();
  EXPECT_TRUE(box.has_value()) << "no message box";
  if (box) {
    EXPECT_EQ(box->text, text);
    EXPECT_TRUE(box->stopIcon);
    EXPECT_EQ(box->buttonCount, 1) << "OK alone";
  }
  EXPECT_EQ(ui_probe::WaitForWindow(kTitle, L"#32770", 300), nullptr) << "a second message box";
  return opened;
}

// The port's state as another program sees it, through a handle of its own
// (Wine does not hold the port for the first opener alone).
class OtherProgramsHandle {
 public:
  explicit OtherProgramsHandle(int port)
      : handle_(::CreateFileW((L"\\\\.\\COM" + std::to_wstring(port)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr)) {}
  ~OtherProgramsHandle() { ::CloseHandle(handle_); }
  DCB State() const {
    DCB state{};
    state.DCBlength = sizeof state;
    EXPECT_TRUE(::GetCommState(handle_, &state));
    return state;
  }
  // As a terminal program may leave the line: flow control of both kinds.
  void LeaveFlowControlOn() {
    DCB state = State();
    state.fOutX = state.fInX = TRUE;
    state.fOutxCtsFlow = TRUE;
    state.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(::SetCommState(handle_, &state));
  }

 private:
  HANDLE handle_;
};

}  // namespace

TEST_F(SerialPortTest, InitCommConfiguresTheLineAsAsked) {
  struct Case {
    PortSettings texts;
    int baud;
    int stopBits;
  };
  const Case cases[] = {
      {{L"COM3", L"115200", L"8", L"None", L"1", L"CR"}, 115200, 1},
      {{L"COM3", L"19200", L"8", L"None", L"2", L"CR"}, 19200, 2},
      {{L"com3", L"1200", L"8", L"Odd", L"1", L"CR"}, 1200, 1},
  };
  for (const auto& c : cases) {
    sim.Open(3);
    OtherProgramsHandle before(3);
    before.LeaveFlowControlOn();
    auto reader = ReaderFor(c.texts);
    ASSERT_TRUE(reader->InitComm());
    EXPECT_EQ(reader->ports.open, 1);
    const auto line = sim.Termios(3);
    EXPECT_EQ(line.baud, c.baud);
    EXPECT_EQ(line.stopBits, c.stopBits);

    const DCB state = OtherProgramsHandle(3).State();
    EXPECT_EQ(state.BaudRate, static_cast<DWORD>(c.baud));
    EXPECT_FALSE(state.fOutX || state.fInX) << "no XON/XOFF left from before";
    EXPECT_FALSE(state.fOutxCtsFlow) << "no CTS flow control left from before";
    EXPECT_NE(state.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    reader->ClosePort();
  }
}

TEST_F(SerialPortTest, PortsAboveNineOpenToo) {
  sim.Open(12);
  auto reader = ReaderFor({L"COM12", L"38400", L"8", L"None", L"1", L"CR"});
  ASSERT_TRUE(reader->InitComm());
  EXPECT_EQ(sim.Termios(12).baud, 38400);
  reader->ClosePort();
}

TEST_F(SerialPortTest, ClosePortClosesTheHandleAndIsHarmlessTwice) {
  sim.Open(4);
  auto reader = ReaderFor({L"COM4", L"9600", L"8", L"None", L"1", L"CR"});
  ASSERT_TRUE(reader->InitComm());
  reader->ClosePort();
  EXPECT_EQ(reader->ports.open, 0);
  reader->ClosePort();
  EXPECT_EQ(reader->ports.open, 0);

  // The port can be taken again, as after the settings dialog.
  ASSERT_TRUE(reader->InitComm());
  EXPECT_EQ(reader->ports.open, 1);
}

TEST_F(SerialPortTest, AFailedOpenWhileAPortIsOpenLeavesNoPortOpen) {
  sim.Open(4);
  auto reader = ReaderFor({L"COM4", L"9600", L"8", L"None", L"1", L"CR"});
  ASSERT_TRUE(reader->InitComm());
  raw_registry::WriteDevice(L"NamePort", L"LPT1");
  reader->LoadSettings();
  reader->ApplySettings();
  EXPECT_FALSE(InitCommShowing(*reader, kOpenFailed)) << "the old port must not pass for the new one";
  EXPECT_EQ(reader->ports.open, 0);
}

TEST_F(SerialPortTest, MissingPortShowsTheOpenFailure) {
  sim.Unmap(9);
  auto reader = ReaderFor({L"COM9", L"9600", L"8", L"None", L"1", L"CR"});
  EXPECT_FALSE(InitCommShowing(*reader, kOpenFailed));
  EXPECT_EQ(reader->ports.open, 0);
  reader->ClosePort();  // closing with no port open is no error
}

TEST_F(SerialPortTest, VanishedFarEndStillOpensButNothingElseDoes) {
  sim.Open(6);
  sim.Close(6);
  auto reader = ReaderFor({L"COM6", L"9600", L"8", L"None", L"1", L"CR"});
  EXPECT_FALSE(InitCommShowing(*reader, kOpenFailed));
}

TEST_F(SerialPortTest, NamesThatAreNotComPortsOpenNothing) {
  // A file that exists: opening it as the port would succeed without the
  // name check, and a pipe or share would reach another program.
  const std::wstring file = L"C:\\windows\\temp\\scanner-port.txt";
  std::ofstream(file.c_str()) << "not a port";
  for (const std::wstring& name : {file, std::wstring(L"\\\\.\\pipe\\scanner"), std::wstring(L"\\\\.\\COM3"),
                                   std::wstring(L"COM3 "), std::wstring(L"COM0")}) {
    sim.Open(3);
    auto reader = ReaderFor({name, L"9600", L"8", L"None", L"1", L"CR"});
    EXPECT_FALSE(InitCommShowing(*reader, kOpenFailed));
    EXPECT_EQ(reader->ports.open, 0);
  }
  ::DeleteFileW(file.c_str());
}

TEST_F(SerialPortTest, LineSettingsTheDriverRefusesCloseThePortAndSaySo) {
  sim.Open(5);
  auto reader = ReaderFor({L"COM5", L"9600", L"4", L"None", L"1", L"CR"});
  DiagnosticsLog log;
  EXPECT_FALSE(InitCommShowing(*reader, kSetupFailed));
  EXPECT_EQ(reader->ports.open, 0);
  const auto failures = log.Failures();
  ASSERT_EQ(failures.size(), 1u) << "the step that failed, and nothing after it";
  EXPECT_EQ(failures.front().rfind(L"SetCommState on COM5: error ", 0), 0u) << failures.front();
  EXPECT_NE(failures.front(), L"SetCommState on COM5: error 0") << "with the driver's own error";
}

TEST_F(SerialPortTest, RestartsWithAReadPendingCancelItInTimeAndLeakNothing) {
  sim.Open(7);
  auto reader = ReaderFor({L"COM7", L"115200", L"8", L"None", L"1", L"CR"});
  DiagnosticsLog log;
  for (int restart = 0; restart < 200; ++restart) {
    ASSERT_TRUE(reader->InitComm()) << "restart " << restart;
    reader->ReadData();
    ::Sleep(restart % 3);  // the read is pending, or just being started
    reader->StopReading();
    reader->ClosePort();
  }
  EXPECT_EQ(reader->ports.open, 0);
  // A cancel not waited for long enough would be logged here, and leave its
  // buffer, events and port behind.
  EXPECT_EQ(log.Failures(), std::vector<std::wstring>{});
}

TEST_F(SerialPortTest, ClosingEndsTheEventWaitOfADriverThatIgnoresItsCancel) {
  // Wine's host serial port ends a pending event wait only when the event
  // mask is set again, never on a cancel.
  if (!sim.AttachHostSerial(1)) GTEST_SKIP() << "this machine has no serial device of its own";
  auto reader = ReaderFor({L"COM1", L"9600", L"8", L"None", L"1", L"CR"});
  DiagnosticsLog log;
  if (!reader->InitComm()) GTEST_SKIP() << "the machine's serial device does not open here";
  reader->ReadData();
  ::Sleep(200);  // the read and the event wait are pending in the driver now
  std::atomic<bool> closed{false};
  const ULONGLONG start = ::GetTickCount64();
  std::thread closer([&] {
    reader->ClosePort();
    closed = true;
  });
  while (!closed && ::GetTickCount64() - start < 20000) ::Sleep(10);
  const ULONGLONG took = ::GetTickCount64() - start;
  if (!closed) closer.detach();  // hung for good: fail without waiting for ever
  ASSERT_TRUE(closed) << "closing waits for the driver for ever";
  closer.join();
  std::printf("closing the host serial port with its reads pending took %llu ms\n", took);
  EXPECT_EQ(reader->ports.open, 0);
  EXPECT_EQ(log.Failures(), std::vector<std::wstring>{}) << "every pending operation ended";
  const auto events = log.Events();
  EXPECT_NE(std::find(events.begin(), events.end(), L"port closed: COM1 9600 8 None 1"), events.end())
      << "nothing left to the driver: the port is closed";
}
