#include "reader/read_ahead_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <random>
#include <string>

namespace {

using namespace std::chrono_literals;

struct DriverRecord {
  std::atomic<int> reads{0};  // Waits that returned something
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> destroyed{false};
  std::atomic<bool> waitedWhenStopped{false};
};

// A driver that hands out its script as fast as it is asked, then waits
// for a stop; `endless` keeps handing out chunks of that many bytes.
class ScriptedLine final : public ScannerLine {
 public:
  struct Item {
    std::string bytes;
    Event event = Event::Bytes;
  };
  ScriptedLine(std::shared_ptr<DriverRecord> record, std::deque<Item> script, std::size_t endless = 0)
      : record_(std::move(record)), script_(std::move(script)), endless_(endless) {}
  ~ScriptedLine() override { record_->destroyed = true; }

  Event Wait(std::optional<std::chrono::milliseconds>, std::span<const std::uint8_t>& bytes) override {
    std::unique_lock lock(mutex_);
    if (stop_) record_->waitedWhenStopped = true;
    stopped_.wait(lock, [this] { return stop_ || !script_.empty() || endless_ > 0; });
    if (stop_) return Event::Stop;
    current_ = endless_ > 0 ? Item{std::string(endless_, 'x')} : std::move(script_.front());
    if (endless_ == 0) script_.pop_front();
    ++record_->reads;
    bytes = std::span(reinterpret_cast<const std::uint8_t*>(current_.bytes.data()), current_.bytes.size());
    return current_.event;
  }
  void RequestStop() override {
    std::lock_guard lock(mutex_);
    stop_ = true;
    record_->stopRequested = true;
    stopped_.notify_all();
  }

 private:
  std::shared_ptr<DriverRecord> record_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  std::deque<Item> script_;
  const std::size_t endless_;
  Item current_;
  bool stop_ = false;
};

std::string Text(std::span<const std::uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

void WaitUntil(const std::function<bool()>& condition) {
  for (int i = 0; i < 10000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
}

}  // namespace

TEST(ReadAheadLine, KeepsReadingWhileItsReaderTypesAndHandsEverythingOverAtOnce) {
  auto record = std::make_shared<DriverRecord>();
  ReadAheadLine line(std::make_unique<ScriptedLine>(
      record, std::deque<ScriptedLine::Item>{{"12"}, {"3\r4"}, {"5\r"}, {"", ScannerLine::Event::Lost}}));
  // The reader is typing: it does not ask, yet the driver is emptied.
  WaitUntil([&] { return record->reads == 4; });
  EXPECT_EQ(record->reads, 4);
  std::span<const std::uint8_t> bytes;
  ASSERT_EQ(line.Wait(std::nullopt, bytes), ScannerLine::Event::Bytes);
  EXPECT_EQ(Text(bytes), "123\r45\r");
  EXPECT_EQ(line.Wait(1h, bytes), ScannerLine::Event::Lost) << "the end comes after the bytes";
  EXPECT_EQ(line.Wait(std::nullopt, bytes), ScannerLine::Event::Lost);
}

TEST(ReadAheadLine, EveryByteArrivesOnceInOrderWithTheLinesEndLastWhateverTheReadersPace) {
  std::mt19937 random(7);
  for (int run = 0; run < 200; ++run) {
    std::deque<ScriptedLine::Item> script;
    std::string sent;
    for (int chunk = random() % 20; chunk > 0; --chunk) {
      std::string bytes(1 + random() % 300, '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      sent += bytes;
      script.push_back({bytes});
    }
    const auto end = run % 2 ? ScannerLine::Event::Break : ScannerLine::Event::Lost;
    script.push_back({"", end});
    ReadAheadLine line(std::make_unique<ScriptedLine>(std::make_shared<DriverRecord>(), std::move(script)));
    std::string received;
    std::span<const std::uint8_t> bytes;
    ScannerLine::Event event;
    while ((event = line.Wait(std::chrono::milliseconds(random() % 2), bytes)) != end) {
      ASSERT_NE(event, ScannerLine::Event::Stop);
      if (event == ScannerLine::Event::Bytes) received += Text(bytes);
      if (random() % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));  // typing
    }
    ASSERT_EQ(received, sent) << "run " << run;
  }
}

TEST(ReadAheadLine, AReaderFarBehindLeavesTheRestToTheDriverUntilItCatchesUp) {
  auto record = std::make_shared<DriverRecord>();
  constexpr std::size_t kChunk = 1000;
  ReadAheadLine line(std::make_unique<ScriptedLine>(record, std::deque<ScriptedLine::Item>{}, kChunk));
  const int chunksHeld = static_cast<int>((ReadAheadLine::kCapacity + kChunk - 1) / kChunk);
  WaitUntil([&] { return record->reads >= chunksHeld; });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(record->reads, chunksHeld) << "held no more than the capacity and one read";
  std::span<const std::uint8_t> bytes;
  ASSERT_EQ(line.Wait(std::nullopt, bytes), ScannerLine::Event::Bytes);
  EXPECT_EQ(bytes.size(), chunksHeld * kChunk);
  WaitUntil([&] { return record->reads > chunksHeld; });
  EXPECT_GT(record->reads, chunksHeld) << "reading again once the reader took the bytes";
}

TEST(ReadAheadLine, QuietWhenNothingCameStopAtOnceAndTheDriverLineEndsLast) {
  auto record = std::make_shared<DriverRecord>();
  {
    ReadAheadLine line(std::make_unique<ScriptedLine>(record, std::deque<ScriptedLine::Item>{{"1"}}));
    std::span<const std::uint8_t> bytes;
    ASSERT_EQ(line.Wait(std::nullopt, bytes), ScannerLine::Event::Bytes);
    EXPECT_EQ(line.Wait(5ms, bytes), ScannerLine::Event::Quiet);
    std::thread stopper([&] {
      std::this_thread::sleep_for(5ms);
      line.RequestStop();
    });
    EXPECT_EQ(line.Wait(std::nullopt, bytes), ScannerLine::Event::Stop);
    stopper.join();
    EXPECT_TRUE(record->stopRequested) << "the driver's pending read is ended too";
    EXPECT_FALSE(record->destroyed);
  }
  EXPECT_TRUE(record->destroyed);
  EXPECT_FALSE(record->waitedWhenStopped) << "no read started after the stop";
}
