#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "line/port_settings.h"
#include "line/scanner_line.h"
#include "platform/diagnostics_log.h"
#include "reader/reader_parts.h"

// What the monitor shows of the line: the last codes read, what became of
// each, and the line's counts. Written by the reader and typing threads,
// read by the user interface thread; held in memory only.

// How much of a code a site lets the monitor and its report show (the
// `Monitor` policy): its text and bytes, its length alone, or neither.
enum class CodeDisclosure { Text, LengthsOnly, Nothing };

struct CodeRecord {
  // Cut: typed in part, until another window came in front.
  enum class Outcome { Typed, Dropped, Empty, Rejected, Cut };  // in LineCounts' order

  diagnostics::LocalTime time{};
  std::wstring port;       // the one it came from
  std::string bytes;       // as they came off the line
  std::wstring text;       // as decoded, before any rule
  std::wstring encoding;   // the code page it was decoded from
  std::wstring symbology;  // the identifier a scanner sent before it
  std::wstring rule;       // the rule that shaped it
  std::wstring program;    // the file name of the program it went to
  Outcome outcome = Outcome::Typed;
  std::wstring why;  // what dropped or rejected it
};

// A line's counts since the program started.
struct LineCounts {
  unsigned codes = 0, typed = 0, dropped = 0, empty = 0, rejected = 0;
  unsigned framing = 0, parity = 0, overrun = 0, breaks = 0;
  unsigned cut = 0;  // codes, with the outcomes above

  LineCounts& operator+=(const LineCounts& other);
  bool operator==(const LineCounts&) const = default;
};

class RecentCodes final : public LineErrorCounter, public CodeRecorder {
 public:
  static constexpr std::size_t kKept = 50;

  // `now` stamps each code recorded.
  explicit RecentCodes(std::function<diagnostics::LocalTime()> now = {}) : now_(std::move(now)) {}

  // From the reader thread: what became of a code, as its record.
  void Record(const PreparedCode& code) override;
  bool TypingHeld() const override { return typingHeld; }
  // The record is moved into the ring, whose slot keeps its strings'
  // memory for the next code.
  void Add(CodeRecord& record);
  // From a reader thread: the error flags ClearCommError gave on `port`.
  void CountLineErrors(std::wstring_view port, std::uint32_t flags) override;

  // Newest first.
  std::vector<CodeRecord> Newest() const;
  // Of every port together, and of one.
  LineCounts Counts() const;
  LineCounts Counts(std::wstring_view port) const;

  // Called on the adding thread after each change while a monitor watches;
  // once until the next Newest(), so a burst of codes wakes it once.
  void Watch(std::function<void()> changed);

  // Codes are shown and not typed while the monitor's box says so.
  std::atomic<bool> typingHeld{false};

 private:
  void Changed();
  LineCounts& CountsOf(std::wstring_view port);

  const std::function<diagnostics::LocalTime()> now_;
  mutable std::mutex mutex_;  // held for a copy, never for I/O
  std::array<CodeRecord, kKept> ring_;
  std::size_t next_ = 0, size_ = 0;
  std::vector<std::pair<std::wstring, LineCounts>> counts_;  // by port, as first counted
  std::function<void()> changed_;
  mutable bool told_ = false;
};

// A code's text for one line of a list: control characters by their names,
// as <GS>, <CR>, <LF>, <TAB>, <ESC>.
std::wstring NamedControls(std::wstring_view text);

// "9600 8N1": how scanner manuals write a line's settings.
std::wstring ShortLineName(const LineParameters& line);

// What the counts and the port's state suggest the operator check first.
struct LineState {
  LineCounts counts;
  bool portOpen = true;
  bool typingHeld = false;
  LineParameters line;
};
std::wstring Advice(const LineState& state);

// The outcome as the monitor's list says it.
std::wstring OutcomeName(const CodeRecord& record);
