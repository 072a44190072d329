#include "reader/bar_cod_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "app/window_coordinator.h"
#include "settings/settings_store.h"
#include "support/diagnostics_recorder.h"
#include "support/memory_registry.h"

namespace {

using namespace std::chrono_literals;

// What happened to ports, lines and the dialog, in order.
class Journal {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(entries_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// How lines end: at once when `now` is set before they start, as the device
// going (Lost) or a break (Break) ends them.
struct LineEnding {
  std::atomic<bool> now = false;
  ScannerLine::Event how = ScannerLine::Event::Lost;
  std::string port;  // the one port whose lines end; any when empty
};

// Waits for bytes that never come, until stopped or ended.
class FakeLine final : public ScannerLine {
 public:
  FakeLine(Journal& journal, const LineEnding& ending, bool ends) : journal_(journal), ending_(ending), ends_(ends) {}
  ~FakeLine() override { journal_.Add("line ended"); }
  Event Wait(std::optional<std::chrono::milliseconds>, std::span<const std::uint8_t>&) override {
    std::unique_lock lock(mutex_);
    woken_.wait(lock, [this] { return stop_ || (ending_.now && ends_); });
    return stop_ ? Event::Stop : ending_.how;
  }
  bool Write(std::span<const std::uint8_t>) override { return true; }  // never a code to reply to
  void RequestStop() override {
    std::lock_guard lock(mutex_);
    stop_ = true;
    woken_.notify_all();
  }

 private:
  Journal& journal_;
  const LineEnding& ending_;
  const bool ends_;
  std::mutex mutex_;
  std::condition_variable woken_;
  bool stop_ = false;
};

class FakePort final : public SerialPort {
 public:
  FakePort(Journal& journal, std::string name, const LineEnding& ending)
      : journal_(journal), name_(name), ending_(ending) {}
  ~FakePort() override { journal_.Add("close " + name_); }
  std::unique_ptr<ScannerLine> NewLine() override {
    journal_.Add("line on " + name_);
    return std::make_unique<FakeLine>(journal_, ending_, ending_.port.empty() || ending_.port == name_);
  }

 private:
  Journal& journal_;
  std::string name_;
  const LineEnding& ending_;
};

// Ports that are present unless named in `absent`; their drivers refuse
// `refused`'s step, if it has one.
class FakePorts final : public SerialPorts {
 public:
  static constexpr std::uint32_t kNoSuchPort = 2;  // ERROR_FILE_NOT_FOUND
  explicit FakePorts(Journal& journal) : journal_(journal) {}
  std::unique_ptr<SerialPort> Open(const LineParameters& line, Failure& failure) override {
    const std::string name = Narrow(line.portName);
    ++attempts;
    if (std::find(absent.begin(), absent.end(), name) != absent.end()) {
      failure = {Failure::Step::Open, L"opening " + line.portName, kNoSuchPort};
      return nullptr;
    }
    failure = refused;
    if (refused.step == Failure::Step::Setup) return nullptr;
    journal_.Add("open " + name + " " + std::to_string(line.baudRate));
    return std::make_unique<FakePort>(journal_, name, ending);
  }

  std::vector<std::string> absent;
  Failure refused;
  int attempts = 0;
  LineEnding ending;

 private:
  Journal& journal_;
};

class NoTypist final : public CodeTypist {
 public:
  PreparedCode TypeCode(std::string_view, std::wstring_view, bool, const std::atomic<bool>&) override { return {}; }
  void Prepare() override {}
  void SetOptions(std::shared_ptr<const TypingProfiles> options) override {
    latest = options->general;
    ++handedOver;
  }
  TypingOptions latest;
  int handedOver = 0;
};

// A dialog whose operator is the test: `operate` runs while it is shown.
class FakeDialog final : public SettingsDialog {
 public:
  FakeDialog(Journal& journal, std::function<int(FakeDialog&)>& operate) : journal_(journal), operate_(operate) {}
  ~FakeDialog() override { journal_.Add("dialog destroyed"); }
  int ShowModal() override {
    journal_.Add("dialog shown");
    const int result = operate_(*this);
    return endedAsCancel ? mrCancel : result;
  }
  void BringToFront() override { journal_.Add("dialog to front"); }
  void EndAsCancel() override { endedAsCancel = true; }

  bool endedAsCancel = false;

 private:
  Journal& journal_;
  std::function<int(FakeDialog&)>& operate_;
};

class FakeSite final : public ReaderSite {
 public:
  void ShowStopMessage(const std::wstring& text) override { messages.push_back(text); }
  std::wstring ErrorText(std::uint32_t error) override {
    return error == MemoryRegistry::kAccessDenied ? L"Отказано в доступе.\r\n" : L"";
  }
  void PostLineLost(unsigned generation) override {
    std::lock_guard lock(mutex_);
    lost_.push_back(generation);
    posted_.notify_all();
  }
  void ScheduleRetry(unsigned scanner, std::chrono::milliseconds delay) override {
    retry = delay;
    retryFor = scanner;
  }
  void CancelRetry(unsigned) override { retry.reset(); }
  // The tip the main window then shows.
  void LinkChanged() override {
    ASSERT_NE(reader, nullptr);
    tips.push_back(TrayTip(L"T", reader->LinkLost(), reader->lineParameters().portName, false));
  }

  unsigned WaitForLoss() {
    std::unique_lock lock(mutex_);
    EXPECT_TRUE(posted_.wait_for(lock, 10s, [this] { return !lost_.empty(); }));
    const unsigned generation = lost_.empty() ? 0 : lost_.front();
    lost_.clear();
    return generation;
  }

  std::vector<std::wstring> messages;
  std::optional<std::chrono::milliseconds> retry;
  unsigned retryFor = 0;
  const CBarCodReader* reader = nullptr;
  std::vector<std::wstring> tips;

 private:
  std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<unsigned> lost_;
};

const std::wstring kDevice = L"HKCU\\Software\\Ombrek\\Barcode Reader\\DEVICE";

class ReaderTest : public testing::Test {
 protected:
  ReaderTest() { registry.keys[kDevice] = {{L"NamePort", L"COM2"}}; }

  std::unique_ptr<CBarCodReader> Start(std::vector<std::wstring> arguments = {}) {
    auto reader = std::make_unique<CBarCodReader>(
        store, ports, typist, [this] { return std::make_unique<FakeDialog>(journal, operate); }, site, arguments);
    site.reader = reader.get();
    if (reader->InitComm()) reader->ReadData();
    return reader;
  }

  Journal journal;
  MemoryRegistry registry;
  SettingsStore store{registry, L"C:\\scan.exe"};
  FakePorts ports{journal};
  NoTypist typist;
  FakeSite site;
  std::function<int(FakeDialog&)> operate = [](FakeDialog&) { return mrCancel; };
};

}  // namespace

TEST_F(ReaderTest, OkSavesThenStopsJoinsAndClosesBeforeReopening) {
  auto reader = Start();
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"open COM2 9600", "line on COM2"}));
  operate = [](FakeDialog& dialog) {
    dialog.scanners.front().texts.NamePort = L"COM3";
    dialog.scanners.front().texts.BaudRate = L"19200";
    return mrOk;
  };
  registry.journal.clear();
  registry.keys[L"HKCU\\Software\\Ombrek\\Barcode Reader\\APPCFG"][L"Suffix"] = L"Enter";
  EXPECT_TRUE(reader->ShowSettings());
  EXPECT_EQ(typist.latest.suffix, TypingOptions::Suffix::Enter) << "options are read again after OK";
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"dialog shown", "line ended", "close COM2", "open COM3 19200",
                                                      "line on COM3", "dialog destroyed"}))
      << "the thread's line must be gone before its port closes";
  EXPECT_FALSE(registry.journal.empty()) << "saved";
  EXPECT_EQ(*registry.Find(kDevice, L"NamePort"), L"COM3");
  reader.reset();
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"line ended", "close COM3"}));
}

TEST_F(ReaderTest, ChangedSettingsAreTakenLiveAndOnlyTheLineReopensThePort) {
  auto reader = Start();
  journal.Take();
  const int handedOver = typist.handedOver;
  reader->OnSettingsChanged();
  EXPECT_EQ(typist.handedOver, handedOver) << "nothing changed";
  registry.keys[L"HKCU\\Software\\Policies\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"Suffix", L"Tab"}};
  reader->OnSettingsChanged();
  EXPECT_EQ(typist.latest.suffix, TypingOptions::Suffix::Tab);
  EXPECT_TRUE(journal.Take().empty()) << "typing options are swapped in, the line stays";
  const std::vector<std::string> reopened{"line ended", "close COM2", "open COM2 19200", "line on COM2"};
  registry.keys[L"HKLM\\Software\\Policies\\Ombrek\\Barcode Reader\\DEVICE"] = {{L"BaudRate", L"19200"}};
  reader->OnSettingsChanged();
  EXPECT_EQ(journal.Take(), reopened);
  registry.keys[L"HKCU\\Software\\Ombrek\\Barcode Reader\\APPCFG"] = {{L"CodeEnd", L"03"}};
  reader->OnSettingsChanged();
  EXPECT_EQ(journal.Take(), reopened) << "a new end of code goes to a new reader thread";
  EXPECT_TRUE(site.messages.empty()) << "quietly";
}

TEST_F(ReaderTest, EachScannerIsLostRetriedAddedAndRemovedOnItsOwn) {
  registry.keys[kDevice + L"\\Scanners\\2"] = {{L"NamePort", L"COM3"}};
  ports.ending.port = "COM3";
  ports.ending.now = true;
  auto reader = Start();
  reader->OnLineLost(site.WaitForLoss());
  ports.ending.now = false;
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"open COM2 9600", "open COM3 9600", "line on COM2",
                                                      "line on COM3", "line ended", "close COM3"}));
  EXPECT_EQ(reader->LostPorts(), std::vector<std::wstring>{L"COM3"});
  EXPECT_FALSE(reader->LinkLost()) << "COM2 reads on";
  EXPECT_EQ(site.retryFor, 2u);
  ports.absent = {"COM3"};
  reader->OnRetryTimer(1);
  reader->OnRetryTimer(2);
  EXPECT_EQ(ports.attempts, 3) << "COM2's timer tries nothing";
  ports.absent.clear();
  reader->OnRetryTimer(2);
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"open COM3 9600", "line on COM3"}));
  registry.keys.erase(kDevice + L"\\Scanners\\2");
  registry.keys[kDevice + L"\\Scanners\\4"] = {{L"NamePort", L"COM4"}};
  reader->OnSettingsChanged();
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"line ended", "close COM3", "open COM4 9600", "line on COM4"}))
      << "one removed is closed, one added opened, COM2 left reading";
  EXPECT_EQ(Start({L"4"})->Link(4), nullptr) << "COM4 given to the first scanner is read once";
}

TEST_F(ReaderTest, APortEnforcedByPolicyWinsOverTheCommandLine) {
  registry.keys[L"HKLM\\Software\\Policies\\Ombrek\\Barcode Reader\\DEVICE"] = {{L"NamePort", L"COM7"}};
  EXPECT_EQ(Start({L"5"})->lineParameters().portName, L"COM7");
}

TEST_F(ReaderTest, AnExitRequestWhileTheDialogRunsEndsItAsCancel) {
  auto reader = Start();
  journal.Take();
  registry.journal.clear();
  operate = [&](FakeDialog& dialog) {
    dialog.scanners.front().texts.NamePort = L"COM5";
    EXPECT_TRUE(reader->ShowSettings()) << "a second request while it runs";
    reader->CancelSettings();  // what the main window does on WM_CLOSE
    return mrOk;               // the operator's OK loses to the exit
  };
  reader->ShowSettings();
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"dialog shown", "dialog to front", "dialog destroyed"}));
  EXPECT_TRUE(registry.journal.empty()) << "nothing saved";
  EXPECT_EQ(reader->lineParameters().portName, L"COM2");
  reader->CancelSettings();  // with no dialog: nothing to end, nothing freed twice
}

// A break ends a line as a vanished device does: a scanner power-cycled or
// an adapter replugged leaves a line that is best opened afresh.
class LineEndTest : public ReaderTest, public testing::WithParamInterface<ScannerLine::Event> {};
INSTANTIATE_TEST_SUITE_P(LostOrBreak, LineEndTest, testing::Values(ScannerLine::Event::Lost, ScannerLine::Event::Break),
                         [](const auto& info) { return info.param == ScannerLine::Event::Break ? "Break" : "Lost"; });

TEST_P(LineEndTest, ALostPortIsRetriedWithBackOffQuietlyUntilItReturns) {
  ports.ending.how = GetParam();
  ports.ending.now = true;
  auto reader = Start();
  reader->OnLineLost(site.WaitForLoss());
  EXPECT_TRUE(reader->LinkLost());
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"open COM2 9600", "line on COM2", "line ended", "close COM2"}));
  ports.ending.now = false;
  ports.absent = {"COM2"};

  std::vector<std::chrono::milliseconds> delays;
  const int attemptsBefore = ports.attempts;
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(site.retry) << "retrying goes on while the port is away";
    delays.push_back(*site.retry);
    reader->OnRetryTimer(1);
  }
  EXPECT_EQ(delays, (std::vector<std::chrono::milliseconds>{250ms, 500ms, 800ms, 800ms, 800ms, 800ms}));
  EXPECT_EQ(ports.attempts - attemptsBefore, 6) << "one attempt per timer, none in between";
  EXPECT_TRUE(site.messages.empty()) << "no message box for a lost port";

  ports.absent.clear();
  reader->OnDeviceArrival();  // tried at once, not at the next timer
  EXPECT_FALSE(reader->LinkLost());
  EXPECT_FALSE(site.retry);
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"open COM2 9600", "line on COM2"}));
  EXPECT_EQ(site.tips, (std::vector<std::wstring>{L"T — COM2: нет связи", L"T"}))
      << "the tray tip tells of the loss, and of the return";
}

TEST_F(ReaderTest, ALossReportedForAPortClosedMeanwhileChangesNothing) {
  ports.ending.now = true;
  auto reader = Start();
  const unsigned stale = site.WaitForLoss();
  ports.ending.now = false;
  operate = [](FakeDialog&) { return mrOk; };
  reader->ShowSettings();  // reopened by the operator before the loss arrived
  journal.Take();
  reader->OnLineLost(stale);
  EXPECT_FALSE(reader->LinkLost());
  EXPECT_TRUE(journal.Take().empty()) << "the fresh port stays open";
}

TEST_F(ReaderTest, APortMissingAtStartIsToldOnceAndTakenWhenItComes) {
  ports.absent = {"COM2"};
  auto reader = Start();
  ASSERT_EQ(site.messages.size(), 1u);
  EXPECT_EQ(site.messages.front(), L"CBarCodReader::InitComm :\r\n Невозможно открыть COM порт !");
  reader->OnRetryTimer(1);
  EXPECT_EQ(site.messages.size(), 1u);
  ports.absent.clear();
  reader->OnRetryTimer(1);
  EXPECT_FALSE(reader->LinkLost());
  EXPECT_EQ(journal.Take(), (std::vector<std::string>{"open COM2 9600", "line on COM2"}));
}

TEST_F(ReaderTest, EachLossStartsItsRetriesAtTheFirstDelayAndAtThePortOfTheCommandLine) {
  ports.ending.now = true;
  auto reader = Start({L"5"});  // barcode_reader.exe 5: COM5, whatever is stored
  for (int loss = 0; loss < 2; ++loss) {
    reader->OnLineLost(site.WaitForLoss());
    ASSERT_TRUE(reader->LinkLost());
    ports.ending.now = false;
    ports.absent = {"COM5"};
    std::vector<std::chrono::milliseconds> delays;
    for (int i = 0; i < 4; ++i) {
      delays.push_back(site.retry.value_or(0ms));
      reader->OnRetryTimer(1);
    }
    EXPECT_EQ(delays, (std::vector<std::chrono::milliseconds>{250ms, 500ms, 800ms, 800ms})) << "loss " << loss;
    ports.absent.clear();
    ports.ending.now = true;  // the next line reports its loss at once
    reader->OnRetryTimer(1);
    ASSERT_FALSE(reader->LinkLost());
  }
  std::vector<std::string> opened;
  for (const auto& entry : journal.Take()) {
    if (entry.rfind("open ", 0) == 0) opened.push_back(entry);
  }
  EXPECT_EQ(opened, std::vector<std::string>(3, "open COM5 9600")) << "the stored COM2 is never tried";
  ports.ending.now = false;
}

TEST_F(ReaderTest, RetriesOfALostPortAreNotLoggedOneByOne) {
  using Step = SerialPorts::Failure::Step;
  DiagnosticsRecorder log;
  ports.absent = {"COM2"};
  auto reader = Start();
  for (int i = 0; i < 10; ++i) reader->OnRetryTimer(1);
  // Opens, and its driver refuses the set-up: the same port still away.
  ports.absent.clear();
  ports.refused = {Step::Setup, L"SetCommState on COM2", 1};
  for (int i = 0; i < 10; ++i) reader->OnRetryTimer(1);
  ports.refused = {Step::Tolerated, L"SetupComm on COM2", 1};
  reader->OnRetryTimer(1);
  ASSERT_EQ(log.events.size(), 4u);
  EXPECT_EQ(log.events[0], L"opening COM2") << "the failure the operator was told of";
  EXPECT_EQ(log.events[1], L"port COM2 is not available");
  EXPECT_EQ(log.events[2], L"SetupComm on COM2") << "a refusal the port reads without, once it reads";
  EXPECT_EQ(log.events[3].rfind(L"port COM2 is back after ", 0), 0u) << log.events[3];
  EXPECT_NE(log.events[3].find(L", at attempt 21"), std::wstring::npos) << log.events[3];
  // Only the failure at start is news for the system's log: the retries
  // took less than a minute.
  EXPECT_EQ(log.systemEvents, (std::vector<system_events::Event>{
                                  {system_events::Type::Error,
                                   1003,
                                   {L"COM2", L"opening COM2", L"2: The system cannot find the file specified."}}}));
}

TEST_F(ReaderTest, WhatTheRegistryRefusesAtOkIsToldWithTheSystemsReason) {
  const std::wstring userRun = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const std::wstring machineRun = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  const struct {
    bool machineEntry, askOn, refuseEverything;
    std::wstring message;
    bool autoStartAfter;
  } rows[] = {
      {false, true, false, L"Невозможно включить запуск при старте Windows !\r\n Ошибка 5: Отказано в доступе.", false},
      {true, false, false, L"Невозможно отключить запуск при старте Windows !\r\n Ошибка 5: Отказано в доступе.", true},
      {false, true, true, L"Невозможно сохранить настройки !\r\n Ошибка 8", false},
  };
  auto reader = Start();
  for (const auto& row : rows) {
    registry.keys.erase(machineRun);
    if (row.machineEntry) registry.keys[machineRun][L"Barcode Reader"] = L"x";
    registry.refuseLocalMachine = true;
    registry.refusedKeys = {userRun};
    reader->LoadSettings();  // the box shows the entry the machine has
    registry.operationsBeforeFailure = row.refuseEverything ? 0 : -1;
    site.messages.clear();
    operate = [&](FakeDialog& dialog) {
      dialog.AutoStart = row.askOn;
      return mrOk;
    };
    reader->ShowSettings();
    ASSERT_FALSE(site.messages.empty());
    EXPECT_EQ(site.messages.front(), L"CBarCodReader::SaveSettings :\r\n " + row.message);
    EXPECT_EQ(reader->AutoStart, row.autoStartAfter) << "the box shows what the machine does";
  }
  registry.operationsBeforeFailure = -1;
}
