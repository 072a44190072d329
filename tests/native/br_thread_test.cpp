#include "reader/br_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <semaphore>
#include <string>
#include <vector>

#include "support/diagnostics_recorder.h"

namespace {

using namespace std::chrono_literals;

// What a test can see of a line after the thread has taken it over.
struct LineRecord {
  std::atomic<int> waits{0};
  std::atomic<bool> destroyed{false};
  std::atomic<bool> calledAfterDestruction{false};
  std::atomic<int> quietReturned{0};
  std::atomic<int> lostReported{0};
  std::vector<std::string> written;  // replies, by the thread; read once it has ended
};

// A line fed by the test: chunks of bytes or a break, handed out one per
// wait, with stop and quiet behaving as on a real port.
class FakeLine final : public ScannerLine {
 public:
  explicit FakeLine(std::shared_ptr<LineRecord> record) : record_(std::move(record)) {}
  ~FakeLine() override { record_->destroyed = true; }

  void Push(std::string bytes) {
    std::lock_guard lock(mutex_);
    items_.push_back(std::move(bytes));
    ready_.notify_all();
  }
  void PushBreak() { Push(kBreak); }
  void PushLoss() { Push(kLost); }

  Event Wait(std::optional<std::chrono::milliseconds> quietAfter, std::span<const std::uint8_t>& bytes) override {
    if (record_->destroyed) record_->calledAfterDestruction = true;
    ++record_->waits;
    std::unique_lock lock(mutex_);
    const auto ready = [this] { return stop_ || !items_.empty(); };
    if (quietAfter) {
      if (!ready_.wait_for(lock, *quietAfter, ready)) {
        ++record_->quietReturned;
        return Event::Quiet;
      }
    } else {
      ready_.wait(lock, ready);
    }
    if (stop_) return Event::Stop;
    current_ = std::move(items_.front());
    items_.pop_front();
    if (current_ == kBreak) return Event::Break;
    if (current_ == kLost) return Event::Lost;
    bytes = std::span(reinterpret_cast<const std::uint8_t*>(current_.data()), current_.size());
    return Event::Bytes;
  }

  void RequestStop() override {
    std::lock_guard lock(mutex_);
    stop_ = true;
    ready_.notify_all();
  }
  bool Write(std::span<const std::uint8_t> bytes) override {
    record_->written.push_back(std::string(bytes.begin(), bytes.end()));
    return true;
  }

 private:
  static inline const std::string kBreak = "<break>";
  static inline const std::string kLost = "<lost>";
  std::shared_ptr<LineRecord> record_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> items_;
  std::string current_;
  bool stop_ = false;
};

class RecordingTypist final : public CodeTypist {
 public:
  void SetOptions(std::shared_ptr<const TypingProfiles>) override {}
  void Prepare() override { prepared = true; }
  // A code's first letter says what became of it: r cut, e empty; held, or
  // else typed.
  PreparedCode TypeCode(std::string_view code, std::wstring_view, bool held, const std::atomic<bool>&) override {
    if (!prepared) typedUnprepared = true;
    std::lock_guard lock(mutex_);
    codes_.emplace_back(code);
    typed_.notify_all();
    PreparedCode typed;
    typed.outcome = held                    ? PreparedCode::Outcome::Held
                    : code.starts_with('r') ? PreparedCode::Outcome::Cut
                    : code.starts_with('e') ? PreparedCode::Outcome::Empty
                                            : PreparedCode::Outcome::Typed;
    return typed;
  }
  std::vector<std::string> WaitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    typed_.wait_for(lock, 10s, [&] { return codes_.size() >= count; });
    return codes_;
  }
  std::vector<std::string> codes() {
    std::lock_guard lock(mutex_);
    return codes_;
  }
  std::atomic<bool> prepared{false};
  std::atomic<bool> typedUnprepared{false};

 private:
  std::mutex mutex_;
  std::condition_variable typed_;
  std::vector<std::string> codes_;
};

TypingTurns turns;

// Holds every code back, and counts the codes held.
struct HoldingRecorder final : CodeRecorder {
  bool TypingHeld() const override { return true; }
  void Record(const PreparedCode& code) override { held += code.outcome == PreparedCode::Outcome::Held; }
  std::atomic<int> held{0};
};

struct Started {
  std::shared_ptr<LineRecord> record = std::make_shared<LineRecord>();
  FakeLine* line = nullptr;
  std::unique_ptr<BRThread> thread;
};

Started Start(CodeTypist& typist, std::chrono::milliseconds unfinishedCodeTimeout = 1h, CodeEnd codeEnd = {},
              CodeRecorder* recorder = nullptr, Replies replies = {}) {
  Started s;
  auto line = std::make_unique<FakeLine>(s.record);
  s.line = line.get();
  s.thread = std::make_unique<BRThread>(std::move(line), L"COM1", codeEnd, replies, typist, turns, recorder,
                                        unfinishedCodeTimeout, [record = s.record] { ++record->lostReported; });
  return s;
}

void WaitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 10000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
}

}  // namespace

TEST(BRThread, TypesEachCodeAsItsCarriageReturnArrives) {
  RecordingTypist typist;
  Started s = Start(typist);
  s.line->Push("123\r");
  EXPECT_EQ(typist.WaitFor(1), std::vector<std::string>{"123"});
  s.line->Push("45");
  s.line->Push("6\r\n7");
  s.line->Push("\r");
  EXPECT_EQ(typist.WaitFor(3), (std::vector<std::string>{"123", "456", "7"}));
  EXPECT_FALSE(typist.typedUnprepared) << "the first code must not wait for the typist to get ready";
}

TEST(BRThread, TheRecorderHoldsCodesBackAndGetsWhatTheTypistMadeOfEach) {
  RecordingTypist typist;
  HoldingRecorder recorder;
  Started s = Start(typist, 1h, {}, &recorder);
  s.line->Push("123\r");
  WaitUntil([&] { return recorder.held > 0; });
  EXPECT_EQ(recorder.held, 1);
}

TEST(BRThread, TheScannerHearsOfEachCodeOnceItIsDoneAndOfABlankLineNothing) {
  RecordingTypist typist;
  Started s = Start(typist, 1h, {}, nullptr, {"\x06", "\x15"});
  s.line->Push("t1\rr2\re3\rt4\re5\r");
  typist.WaitFor(5);  // t4's reply is written before e5 is typed
  s.thread.reset();
  EXPECT_EQ(s.record->written, (std::vector<std::string>{"\x06", "\x15", "\x06"}));
}

TEST(BRThread, AnUnfinishedCodeThatFallsQuietIsDroppedWithItsTail) {
  RecordingTypist typist;
  Started s = Start(typist, 5ms);
  s.line->Push("\x7f\xff");
  WaitUntil([&] { return s.record->quietReturned > 0; });
  s.line->Push("42\r");
  s.line->Push("43\r");
  EXPECT_EQ(typist.WaitFor(1), std::vector<std::string>{"43"});
}

TEST(BRThread, WhereAPauseEndsACodeItsLineBreaksStayInsideIt) {
  RecordingTypist typist;
  Started s = Start(typist, 1h, {CodeEnd::Kind::Pause});
  s.line->Push("BEGIN:VCARD\r\nN:Kennedy");
  s.line->Push("\r\nEND:VCARD\r\n");
  EXPECT_EQ(typist.WaitFor(1), std::vector<std::string>{"BEGIN:VCARD\nN:Kennedy\nEND:VCARD"});
}

TEST(BRThread, NoQuietTimerWhileNoCodeIsUnderway) {
  RecordingTypist typist;
  Started s = Start(typist, 1ms);
  s.line->Push("1\r");
  typist.WaitFor(1);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(s.record->quietReturned, 0) << "an idle reader must sleep, not tick";
}

TEST(BRThread, ABreakOrALossIsReportedOnceAndItsHalfCodeNeverTyped) {
  struct Case {
    const char* name;
    void (FakeLine::*end)();
    int breaksLogged;
  };
  for (const Case& c : {Case{"break", &FakeLine::PushBreak, 1}, Case{"loss", &FakeLine::PushLoss, 0}}) {
    SCOPED_TRACE(c.name);
    DiagnosticsRecorder log;
    RecordingTypist typist;
    Started s = Start(typist);
    s.line->Push("1\r");
    typist.WaitFor(1);
    s.line->Push("23");
    (s.line->*c.end)();
    s.line->Push("4\r");
    WaitUntil([&] { return s.record->lostReported > 0; });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(s.record->lostReported, 1) << "recovered like a vanished port";
    EXPECT_EQ(s.record->waits, 3) << "no wait after the line ended";
    EXPECT_EQ(typist.codes(), std::vector<std::string>{"1"});
    EXPECT_EQ(std::count(log.events.begin(), log.events.end(), L"break on the line"), c.breaksLogged);
    s.thread.reset();  // the owner still ends an ended thread safely
    EXPECT_TRUE(s.record->destroyed);
  }
}

TEST(BRThread, ACodeCutOffByALossOrAStopIsNotGluedToTheNextThreadsFirstCode) {
  for (const bool lost : {true, false}) {
    SCOPED_TRACE(lost ? "unplugged" : "restarted");
    RecordingTypist typist;
    {
      Started cut = Start(typist);
      cut.line->Push("CUT");
      if (lost) {
        cut.line->PushLoss();
        WaitUntil([&] { return cut.record->lostReported > 0; });
      } else {
        WaitUntil([&] { return cut.record->waits >= 2; });  // the head is framed
      }
    }
    Started next = Start(typist);
    next.line->Push("42\r");
    EXPECT_EQ(typist.WaitFor(1), std::vector<std::string>{"42"});
  }
}

TEST(BRThread, StopAndRestartRacesLoseNothingAndTouchNothingFreed) {
  RecordingTypist typist;
  int sent = 0;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    Started s = Start(typist, std::chrono::milliseconds(cycle % 3));
    // Codes race with the stop: some are typed, none twice, none out of order.
    for (int i = 0; i < 3; ++i) s.line->Push(std::to_string(sent++) + "\r");
    if (cycle % 2 == 0) std::this_thread::yield();
    s.thread->Terminate();
    s.thread.reset();
    ASSERT_TRUE(s.record->destroyed) << "the line ends with the thread object";
    ASSERT_FALSE(s.record->calledAfterDestruction);
  }
  const auto codes = typist.codes();
  int previous = -1;
  for (const auto& code : codes) {
    const int number = std::stoi(code);
    ASSERT_GT(number, previous) << "typed twice or out of order";
    previous = number;
  }
  EXPECT_LT(previous, sent);
}

// A till's two scanners share the typist: each code typed whole, in the
// order the codes were completed, though one port has more waiting.
TEST(BRThread, CodesOfTwoPortsAreTypedWholeInTheOrderTheyWereCompleted) {
  struct SlowTypist final : CodeTypist {
    void SetOptions(std::shared_ptr<const TypingProfiles>) override {}
    void Prepare() override {}
    PreparedCode TypeCode(std::string_view code, std::wstring_view port, bool, const std::atomic<bool>&) override {
      if (++begun == 1 || code == "A3") firstHeld.acquire();
      for (const char c : code) {
        typed += c;  // a plain string: two typing at once is a race the sanitizer sees
        std::this_thread::yield();
      }
      typed += std::string(port.begin(), port.end()) + " ";
      ++done;
      return {};
    }
    std::binary_semaphore firstHeld{0};
    std::atomic<int> begun{0}, done{0};
    std::string typed;
  } typist;
  {
    const auto record = std::make_shared<LineRecord>();
    auto lineA = std::make_unique<FakeLine>(record), lineB = std::make_unique<FakeLine>(record);
    FakeLine &a = *lineA, &b = *lineB;
    const BRThread one(std::move(lineA), L"COM1", {}, {}, typist, turns, nullptr, 1h, [] {});
    auto three =
        std::make_unique<BRThread>(std::move(lineB), L"COM3", CodeEnd{}, Replies{}, typist, turns, nullptr, 1h, [] {});
    WaitUntil([&] { return record->waits == 2; });  // both ready, past Prepare's turn
    a.Push("A1\rA2\r");
    WaitUntil([&] { return typist.begun == 1; });
    b.Push("B1\r");
    std::this_thread::sleep_for(100ms);  // B1 completed, waiting for its turn
    typist.firstHeld.release();
    WaitUntil([&] { return typist.done == 3; });
    // Closed while its code waits behind another port's, a reader ends at
    // once and types nothing more.
    a.Push("A3\r");
    WaitUntil([&] { return typist.begun == 4; });
    b.Push("B2\r");
    std::this_thread::sleep_for(20ms);
    std::binary_semaphore closed{0};
    std::thread release([&] {  // lets A3 go where closing would wait for it
      if (!closed.try_acquire_for(2s)) typist.firstHeld.release();
    });
    three.reset();
    closed.release();
    release.join();
    typist.firstHeld.release();
  }
  EXPECT_EQ(typist.typed, "A1COM1 B1COM3 A2COM1 A3COM1 ");
}
