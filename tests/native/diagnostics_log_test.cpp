#include "platform/diagnostics_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "line/lost_port_log.h"
#include "support/diagnostics_recorder.h"

using diagnostics::Entry;
using diagnostics::LogLevel;

namespace {

const diagnostics::LocalTime kTime{2026, 3, 7, 9, 5, 2, 41};
constexpr std::uint32_t kPid = 4242;

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
      diagnostics::FormatLine(failure, kTime, kPid, LogLevel::Events,
                              L"The system cannot find the file specified.\r\n"),
      L"2026-03-07 09:05:02.041 [4242] FAILED opening COM5: error 2 (The system cannot find the file specified.)");
  EXPECT_EQ(diagnostics::FormatLine(failure, kTime, kPid, LogLevel::Events, L""),
            L"2026-03-07 09:05:02.041 [4242] FAILED opening COM5: error 2");
}

TEST(DiagnosticsLog, ACodesContentsOnlyWhenAskedFor) {
  const Entry code{Entry::Kind::CodeTyped, L"", 0, std::string_view("47\x0d\xFF", 4), "", L"code page 1251"};
  EXPECT_EQ(diagnostics::FormatLine(code, kTime, kPid, LogLevel::Events, L""),
            L"2026-03-07 09:05:02.041 [4242] code typed, 4 bytes");
  EXPECT_EQ(diagnostics::FormatLine(code, kTime, kPid, LogLevel::Off, L""),
            L"2026-03-07 09:05:02.041 [4242] code typed, 4 bytes")
      << "the debugger output is always on: no contents there either";
  EXPECT_EQ(diagnostics::FormatLine(code, kTime, kPid, LogLevel::Contents, L""),
            L"2026-03-07 09:05:02.041 [4242] code typed, 4 bytes: 34 37 0D FF, as code page 1251");
  const Entry pasting{Entry::Kind::CodeTyped, L"", 0,
                      "1\x16"
                      "2\x03",
                      "\x16\x03"};
  EXPECT_EQ(diagnostics::FormatLine(pasting, kTime, kPid, LogLevel::Events, L""),
            L"2026-03-07 09:05:02.041 [4242] code typed, 4 bytes; control bytes left out: 2");
  EXPECT_EQ(diagnostics::FormatLine(pasting, kTime, kPid, LogLevel::Contents, L""),
            L"2026-03-07 09:05:02.041 [4242] code typed, 4 bytes: 31 16 32 03; control bytes left out: 2 (16 03)");
}

TEST(DiagnosticsLog, TheFileMovesAsideOnlyWhenTheNextLineWouldPassTheCap) {
  EXPECT_FALSE(diagnostics::MustRotate(90, 10, 100));
  EXPECT_TRUE(diagnostics::MustRotate(91, 10, 100));
  EXPECT_FALSE(diagnostics::MustRotate(0, 500, 100)) << "an empty file takes any line";
}

TEST(DiagnosticsLog, AFileThatCanNeitherMoveNorEmptyIsNotWrittenUntilItCan) {
  struct FakeFile final : diagnostics::LogFile {
    std::uint64_t Size() override { return size; }
    void Append(std::string_view bytes) override { size += bytes.size(); }
    bool MoveAside() override { return movable && (aside = std::exchange(size, 0), true); }
    void CopyAside() override { aside = size, ++copies; }
    bool Empty() override { return emptiable && (size = 0, true); }
    std::uint64_t size = 0, aside = 0;
    bool movable = false, emptiable = true;
    int copies = 0;
  } file;
  std::vector<std::wstring> told;
  diagnostics::CappedLog log(file, 100, [&](std::wstring_view text) { told.emplace_back(text); });
  const std::string line(30, 'x');
  for (int i = 0; i < 4; ++i) log.Append(line);
  EXPECT_EQ(file.size, 30u) << "held by a viewer: emptied in place";
  EXPECT_EQ(file.aside, 90u);
  file.emptiable = false;  // a viewer maps it
  for (int i = 0; i < 20; ++i) log.Append(line);
  EXPECT_EQ(file.size, 90u) << "the cap holds";
  EXPECT_EQ(file.copies, 2) << "the full file is copied aside once, not at every line";
  EXPECT_EQ(told.size(), 1u);
  file.movable = true;  // the viewer let go
  log.Append(line);
  EXPECT_EQ(file.size, 30u);
  EXPECT_EQ(file.aside, 90u);
  file.movable = false;
  for (int i = 0; i < 3; ++i) log.Append(line);
  EXPECT_EQ(told.size(), 2u) << "held again: told again, once";
  EXPECT_EQ(file.size, 90u);
}

TEST(DiagnosticsLog, ControlCharactersCannotMakeLinesOfTheirOwn) {
  const struct {
    std::wstring_view text, escaped;
  } cases[] = {
      {L"COM1\r\n2026-03-07 09:05:02.041 [1] port opened", L"COM1<0D><0A>2026-03-07 09:05:02.041 [1] port opened"},
      {L"a\tb\x1b[31m\x7f", L"a<09>b<1B>[31m<7F>"},
      {std::wstring_view(L"nul\0end", 7), L"nul<00>end"},
      {L"next\x85line\x2028sep\x2029", L"next<85>line<2028>sep<2029>"},
      {L"Запуск C:\\Program Files\\x ~ \x9f\xa0", L"Запуск C:\\Program Files\\x ~ <9F>\xa0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(diagnostics::EscapeControls(c.text), c.escaped);
    const Entry event{Entry::Kind::Event, c.text};
    const Entry failure{Entry::Kind::Failure, c.text, 5};
    for (const auto& line : {diagnostics::FormatLine(event, kTime, kPid, LogLevel::Events, L""),
                             diagnostics::FormatLine(failure, kTime, kPid, LogLevel::Events, c.text)}) {
      EXPECT_EQ(line.find_first_of(L"\r\n\x85\x2028\x2029"), std::wstring::npos) << line;
      EXPECT_NE(line.find(c.escaped), std::wstring::npos) << line;
    }
  }
}

namespace {

using namespace std::chrono_literals;

// UTF-8, as the file holds it.
std::uint64_t FileBytes(std::wstring_view line) {
  std::uint64_t bytes = 2;  // CR LF
  for (const wchar_t c : line) bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
  return bytes;
}

// The log file and its ".1" as the writer keeps them, in bytes, with
// where the line of interest went.
struct RotatedLog final : diagnostics::Writer {
  RotatedLog() { diagnostics::SetWriter(this); }
  ~RotatedLog() override { diagnostics::SetWriter(nullptr); }
  void Write(const Entry& entry) override {
    // The longest process id there is.
    const auto bytes = FileBytes(diagnostics::FormatLine(entry, kTime, 4294967295u, LogLevel::Events, L""));
    if (diagnostics::MustRotate(current, bytes, diagnostics::kLogCapBytes)) {
      older = current;
      markedInOlder = markedInCurrent;
      current = 0;
      markedInCurrent = false;
    }
    current += bytes;
    if (entry.text.find(mark) != std::wstring_view::npos) markedInCurrent = true;
    mostOnDisk = std::max(mostOnDisk, current + older);
  }
  std::wstring mark;
  std::uint64_t current = 0, older = 0, mostOnDisk = 0;
  bool markedInCurrent = false, markedInOlder = false;
};

}  // namespace

TEST(LostPortLogTest, OneLineAtTheLossAtMostOneAMinuteAndOneAtTheReturnAndTheirEventsInPairs) {
  enum What { Lost, Failed, Back };
  using system_events::Type;
  using Event = std::optional<system_events::Event>;
  const struct {
    std::chrono::milliseconds at;
    What what;
    std::uint32_t error;
    const wchar_t* line;  // none: the step writes nothing
    Event event;          // for the system's log
  } steps[] = {
      {0ms, Lost, 0, L"port COM5 is not available", {}},
      {800ms, Failed, 2, nullptr, {}},
      {59'999ms, Failed, 2, nullptr, {}},
      {60'000ms, Failed, 5, L"port COM5 still away: 3 attempts, last error 5",
       system_events::Event{Type::Warning, 1001, {L"COM5", L"1 min 0 s", L"3", L"5: Access is denied."}}},
      {60'800ms, Failed, 2, nullptr, {}},
      {119'999ms, Failed, 2, nullptr, {}},
      {150'000ms, Failed, 2, L"port COM5 still away: 3 attempts, last error 2", {}},
      {150'800ms, Failed, 2, nullptr, {}},
      {151'000ms, Back, 0, L"port COM5 is back after 2 min 31 s, at attempt 8",
       system_events::Event{Type::Information, 1002, {L"COM5", L"2 min 31 s"}}},
      // The next loss counts its own attempts and its own minute.
      {4000'000ms, Lost, 0, L"port COM5 is not available", {}},
      {4000'800ms, Failed, 2, nullptr, {}},
      {4059'999ms, Failed, 31, nullptr, {}},
      {4060'000ms, Failed, 2, L"port COM5 still away: 3 attempts, last error 2",
       system_events::Event{
           Type::Warning, 1001, {L"COM5", L"1 min 0 s", L"3", L"2: The system cannot find the file specified."}}},
      {4060'900ms, Back, 0, L"port COM5 is back after 1 min 0 s, at attempt 4",
       system_events::Event{Type::Information, 1002, {L"COM5", L"1 min 0 s"}}},
      // Gone and back within ten minutes of the last events: neither goes
      // to the log.
      {4100'000ms, Lost, 0, L"port COM5 is not available", {}},
      {4160'000ms, Failed, 2, L"port COM5 still away: 1 attempts, last error 2", {}},
      {4161'000ms, Back, 0, L"port COM5 is back after 1 min 1 s, at attempt 2", {}},
      // Gone a minute after that, for an hour: written once the ten minutes
      // allow it.
      {4200'000ms, Lost, 0, L"port COM5 is not available", {}},
      {4260'000ms, Failed, 2, L"port COM5 still away: 1 attempts, last error 2", {}},
      {4660'000ms, Failed, 31, L"port COM5 still away: 1 attempts, last error 31",
       system_events::Event{Type::Warning, 1001, {L"COM5", L"7 min 40 s", L"2", L"31"}}},
      {7800'000ms, Back, 0, L"port COM5 is back after 1 h 0 min, at attempt 3",
       system_events::Event{Type::Information, 1002, {L"COM5", L"1 h 0 min"}}},
      // A short absence right after: its return is written as its absence was.
      {7801'000ms, Lost, 0, L"port COM5 is not available", {}},
      {7861'000ms, Failed, 2, L"port COM5 still away: 1 attempts, last error 2",
       system_events::Event{
           Type::Warning, 1001, {L"COM5", L"1 min 0 s", L"1", L"2: The system cannot find the file specified."}}},
      {7862'000ms, Back, 0, L"port COM5 is back after 1 min 1 s, at attempt 2",
       system_events::Event{Type::Information, 1002, {L"COM5", L"1 min 1 s"}}},
      // Back before an attempt failed a minute after the loss: no event.
      {9000'000ms, Lost, 0, L"port COM5 is not available", {}},
      {9000'000ms + 170h + 3min + 59s, Back, 0, L"port COM5 is back after 170 h 3 min, at attempt 1", {}},
  };
  const LostPortLog::Clock::time_point start{};
  LostPortLog log;
  DiagnosticsRecorder recorder;
  for (const auto& step : steps) {
    recorder.events.clear();
    recorder.systemEvents.clear();
    const auto now = start + step.at;
    if (step.what == Lost) log.Lost(L"COM5", now);
    if (step.what == Failed) log.AttemptFailed(step.error, now);
    if (step.what == Back) log.Back(now);
    EXPECT_EQ(recorder.events, step.line ? std::vector<std::wstring>{step.line} : std::vector<std::wstring>{})
        << "at " << step.at.count() << " ms";
    EXPECT_EQ(recorder.systemEvents, step.event ? std::vector{*step.event} : std::vector<system_events::Event>{})
        << "at " << step.at.count() << " ms";
  }
}

TEST(SystemEventsTest, EachIdHasItsTypeAndTheErrorItsText) {
  using namespace system_events;
  const struct {
    std::chrono::seconds at;
    Record record;
    std::optional<Event> written;
  } rows[] = {
      {0s,
       {Id::PortNotOpened, {L"COM2", L"opening COM2"}, 2},
       Event{Type::Error, 1003, {L"COM2", L"opening COM2", L"2: The system cannot find the file specified."}}},
      {1s,
       {Id::SettingUnusable, {L"HKLM policy APPCFG\\KeyDelay", L"= \"500\""}, {}},
       Event{Type::Warning, 1004, {L"HKLM policy APPCFG\\KeyDelay", L"= \"500\""}}},
      {2s, {Id::DriverHung, {L"COM3"}, {}}, Event{Type::Error, 1005, {L"COM3"}}},
      {599s, {Id::PortNotOpened, {L"COM4", L"opening COM4"}, 5}, {}},  // held back by the first
  };
  DiagnosticsRecorder recorder;
  for (const auto& row : rows) {
    recorder.systemEvents.clear();
    EXPECT_EQ(Report(row.record, Clock::time_point{} + row.at), row.written.has_value()) << row.at.count() << " s";
    EXPECT_EQ(recorder.systemEvents, row.written ? std::vector{*row.written} : std::vector<Event>{})
        << row.at.count() << " s";
  }
}

TEST(LostPortLogTest, AWeekAwayKeepsTheLossInTheLogAndTheLogSmall) {
  RotatedLog file;
  file.mark = L"is not available";
  // The worst moment for a loss: its line the last that fits before the
  // file moves aside.
  const Entry loss{Entry::Kind::Event, L"port COM256 is not available"};
  file.current = diagnostics::kLogCapBytes - FileBytes(diagnostics::FormatLine(loss, kTime, 4294967295u, {}, L""));
  LostPortLog log;
  const LostPortLog::Clock::time_point start{};
  log.Lost(L"COM256", start);
  const auto attemptEvery = 800ms;  // the longest retry delay
  std::uint64_t attempt = 1;
  const auto week = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::hours(24 * 7));
  for (; attempt * attemptEvery <= week; ++attempt) log.AttemptFailed(1168, start + attempt * attemptEvery);
  EXPECT_TRUE(file.markedInCurrent || file.markedInOlder) << "the loss rotated out within a week";
  // Four weeks: the file and its ".1" never take more than 2 MB.
  for (; attempt * attemptEvery <= 4 * week; ++attempt) log.AttemptFailed(1168, start + attempt * attemptEvery);
  EXPECT_LE(file.mostOnDisk, 2u * 1024 * 1024);
  EXPECT_GT(file.mostOnDisk, 3u * 1024 * 1024 / 2) << "four weeks must have rotated the file at least once";
}
