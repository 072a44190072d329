// Side by side under Wine: the event-driven reader, the least a wedge can
// do as its floor, and a reader that polls every 100 ms as a baseline.
// Prints latency from the scanner's carriage return to the first character
// in the focused window (the first code after a start on its own), typing
// throughput and idle CPU time; the time to type a code with and without a
// key delay, and 1,500-character codes (digits, capitals, both) from the
// carriage return to the last character, into our reader and its floor in
// turns. Figures only; nothing here passes or fails.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/application_title.h"
#include "keys/win/win_typist.h"
#include "line/code_framer.h"
#include "platform/win/application.h"
#include "platform/win/handles.h"
#include "support/raw_registry.h"
#include "support/scanner_sim.h"
#include "support/target_window.h"
#include "support/test_reader.h"
#include "text/code_rules.h"
#include "text/code_text.h"

namespace {

constexpr int kPort = 2;
constexpr int kLatencyCodes = 300;

double Milliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

LONGLONG Now() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

// The reader as it polled before: wait for a port event without waiting
// for it to complete, sleep 100 ms whenever it has not, read what the
// driver holds, and frame and type with the same code as ours.
class PollingReader {
 public:
  explicit PollingReader(HANDLE port) : port_(port) {
    ::SetCommMask(port_, EV_RXCHAR);
    thread_ = std::thread([this] { Run(); });
  }
  ~PollingReader() {
    stop_ = true;
    thread_.join();
    ::CancelIoEx(port_, nullptr);
    ::Sleep(50);  // let the cancelled operations finish before the buffers go
  }

 private:
  void Run() {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CodeFramer framer;
    WinTypist typist;
    DWORD eventMask = 0;
    std::vector<std::uint8_t> buffer(256);
    while (!stop_) {
      ::ResetEvent(overlapped.hEvent);
      if (!::WaitCommEvent(port_, &eventMask, &overlapped)) {
        if (stop_) break;
        ::Sleep(100);
      }
      if ((eventMask & EV_RXCHAR) != 0) {
        DWORD errors = 0;
        COMSTAT status{};
        ::ClearCommError(port_, &errors, &status);
        ::ResetEvent(overlapped.hEvent);
        const DWORD count = std::min<DWORD>(status.cbInQue, 256);
        DWORD read = 0;
        if (!::ReadFile(port_, buffer.data(), count, &read, &overlapped)) ::Sleep(50);
        framer.Feed(std::span(buffer.data(), count),
                    [&](std::string_view code) { typist.TypeCode(code, L"COM1", false, stop_); });
      }
    }
    ::CloseHandle(overlapped.hEvent);
  }

  HANDLE port_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The floor: what any wedge must do and nothing else. One overlapped read
// that completes as bytes arrive and, at a carriage return, one SendInput
// of the code's characters as themselves: no layout, no options, no log.
class MinimalWedge {
 public:
  explicit MinimalWedge(HANDLE port) : port_(port) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    ::SetCommTimeouts(port_, &timeouts);
    thread_ = std::thread([this] { Run(); });
  }
  ~MinimalWedge() {
    ::SetEvent(stop_.get());
    thread_.join();
  }

 private:
  void Run() {
    const platform::KernelHandle readDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped{};
    overlapped.hEvent = readDone.get();
    std::uint8_t buffer[256];
    std::string code;
    for (;;) {
      DWORD count = 0;
      if (!::ReadFile(port_, buffer, sizeof buffer, &count, &overlapped)) {
        if (::GetLastError() != ERROR_IO_PENDING) return;
        const HANDLE handles[] = {stop_.get(), readDone.get()};
        if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
          ::CancelIoEx(port_, &overlapped);
          ::GetOverlappedResult(port_, &overlapped, &count, TRUE);
          return;
        }
        if (!::GetOverlappedResult(port_, &overlapped, &count, FALSE)) return;
      }
      for (DWORD i = 0; i < count; ++i) {
        if (buffer[i] != '\r') {
          code += static_cast<char>(buffer[i]);
          continue;
        }
        std::vector<INPUT> inputs;
        for (const char c : code) {
          for (const DWORD up : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
            INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wScan = static_cast<unsigned char>(c);
            input.ki.dwFlags = KEYEVENTF_UNICODE | up;
            inputs.push_back(input);
          }
        }
        ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
        code.clear();
      }
    }
  }

  HANDLE port_;
  platform::KernelHandle stop_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread thread_;
};

struct Figures {
  double firstMs = 0;  // the first code after the reader started
  double medianMs = 0;
  double p99Ms = 0;
  double maxMs = 0;
};

Figures Latency(ScannerSim& sim, TargetWindow& target, int baud) {
  std::vector<double> latencies;
  for (int i = 0; i < kLatencyCodes; ++i) {
    char body[16];
    std::snprintf(body, sizeof body, "%08d", i);
    target.Clear();
    sim.Pace(kPort, baud, body);
    target.PumpFor(1);
    target.Clear();
    const LONGLONG carriageReturn = Now();
    sim.Write(kPort, "\r");
    target.WaitForText(8, 2000);
    if (target.arrivals().empty()) continue;
    latencies.push_back(Milliseconds(target.arrivals().front() - carriageReturn));
  }
  if (latencies.empty()) return {};
  const double first = latencies.front();
  std::sort(latencies.begin(), latencies.end());
  return {first, latencies[latencies.size() / 2],
          latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)], latencies.back()};
}

// Long codes of 1,500 characters: digits (a long QR code), capitals (a
// driver's licence's PDF417), and digits and capitals in turns of three.
constexpr std::size_t kLongCodeLength = 1500;
const struct {
  const char* name;
  char (*character)(std::size_t i);
} kLongCodes[] = {
    {"digits", [](std::size_t i) { return static_cast<char>('0' + i % 10); }},
    {"capitals", [](std::size_t i) { return static_cast<char>('A' + i % 26); }},
    {"mixed", [](std::size_t i) { return static_cast<char>(i / 3 % 2 ? 'A' + i % 26 : '0' + i % 10); }},
};

// From the carriage return of a long code to its last character in the
// window; 0 when it did not arrive whole and exact.
double LongCodeMs(ScannerSim& sim, TargetWindow& target, char (*character)(std::size_t i),
                  std::size_t length = kLongCodeLength) {
  std::string code;
  for (std::size_t i = 0; i < length; ++i) code += character(i);
  target.Clear();
  sim.Write(kPort, code);
  target.PumpFor(100);
  const LONGLONG carriageReturn = Now();
  sim.Write(kPort, "\r");
  target.WaitForText(length, 10000);
  if (target.text() != std::wstring(code.begin(), code.end())) return 0;  // a letter's case counts too
  return Milliseconds(target.arrivals().back() - carriageReturn);
}

double CharactersPerSecond(TargetWindow& target) {
  constexpr int kCodes = 2000;
  std::string stream;
  for (int i = 0; i < kCodes; ++i) {
    char code[16];
    std::snprintf(code, sizeof code, "%08d\r", i);
    stream += code;
  }
  target.Clear();
  const LONGLONG start = Now();
  std::thread writer([&] {
    ScannerSim line;
    line.Write(kPort, stream);
  });
  target.WaitForText(kCodes * 8, 120000);
  writer.join();
  return target.text().size() / (Milliseconds(target.arrivals().back() - start) / 1000.0);
}

// From the typist starting on a 13-digit code to its last character in
// the window, the median of a few runs.
double ThirteenDigitsMs(TargetWindow& target, int keyDelayMs) {
  TypingOptions options;
  options.keyDelayMs = keyDelayMs;
  WinTypist typist;
  typist.SetOptions(std::make_shared<const TypingProfiles>(TypingProfiles{options, {}}));
  const std::atomic<bool> stopping{false};
  std::vector<double> times;
  for (int run = 0; run < 15; ++run) {
    target.Clear();
    const LONGLONG start = Now();
    std::thread typing([&] { typist.TypeCode("4601234567893", L"COM1", false, stopping); });
    target.WaitForText(13, 5000);
    typing.join();
    if (target.text().size() == 13) times.push_back(Milliseconds(target.arrivals().back() - start));
  }
  std::sort(times.begin(), times.end());
  return times.empty() ? 0 : times[times.size() / 2];
}

double IdleCpuPercent() {
  const double before = ProcessCpuSeconds();
  ::Sleep(10000);
  return 100.0 * (ProcessCpuSeconds() - before) / 10.0;
}

// With "latency" as its argument the benchmark measures latency and long
// codes alone, of our reader and its floor: a quick look while working on
// speed.
bool latencyOnly = false;

// A wedge under measurement, started on the line at a baud rate and
// stopped.
struct Wedge {
  const char* name;
  std::function<void(int baud)> start;
  std::function<void()> stop;
};

void Measure(ScannerSim& sim, TargetWindow& target, const Wedge& wedge) {
  const auto& [name, start, stop] = wedge;
  for (const int baud : {9600, 115200}) {
    start(baud);
    const Figures figures = Latency(sim, target, baud);
    std::printf("%-16s %6d baud  latency median %6.2f ms  p99 %6.2f ms  max %6.2f ms  first %6.2f ms\n", name, baud,
                figures.medianMs, figures.p99Ms, figures.maxMs, figures.firstMs);
    std::fflush(stdout);
    stop();
  }
  if (latencyOnly) return;
  start(115200);
  std::printf("%-16s typing throughput %8.0f characters/s\n", name, CharactersPerSecond(target));
  std::printf("%-16s idle CPU over 10 s %6.2f %% of a core\n", name, IdleCpuPercent());
  std::fflush(stdout);
  stop();
}

// Long codes into our reader and into its floor in turns, so that both
// meet the same load on the machine: the median time of each, and of the
// ratio of each pair of runs.
void LongCodes(ScannerSim& sim, TargetWindow& target, const Wedge& ours, const Wedge& floor) {
  for (const auto& longCode : kLongCodes) {
    std::vector<double> times[2], ratios;
    for (int run = 0; run < 7; ++run) {
      for (const Wedge* wedge : {&ours, &floor}) {
        wedge->start(115200);
        times[wedge == &floor].push_back(LongCodeMs(sim, target, longCode.character));
        wedge->stop();
      }
      if (times[0].back() > 0 && times[1].back() > 0) ratios.push_back(times[0].back() / times[1].back());
    }
    for (auto* sorted : {&times[0], &times[1], &ratios}) std::sort(sorted->begin(), sorted->end());
    if (ratios.size() != times[0].size()) std::printf("a 1,500-character code of %s arrived wrong\n", longCode.name);
    if (ratios.empty()) continue;
    std::printf(
        "1,500-character code of %-8s carriage return to last character: %s %7.2f ms, %s %7.2f ms, "
        "ratio %.2f (%.2f-%.2f), medians of 7 runs in turns\n",
        longCode.name, ours.name, times[0][3], floor.name, times[1][3], ratios[ratios.size() / 2], ratios.front(),
        ratios.back());
    std::fflush(stdout);
  }
}

// Two scanners, COM1 and COM3, at 115200 baud: the latency of a code on
// COM1 while COM3 is idle, and while COM3's 1,500-character code is being
// typed (then COM1's code waits for its turn: the wait is from its carriage
// return to the last character of COM3's code); and what two open ports
// cost idle against one.
void TwoScanners(ScannerSim& sim, TargetWindow& target) {
  const std::wstring further = std::wstring(raw_registry::kSettingsKey) + L"\\DEVICE\\Scanners\\2";
  const auto open = [&](bool two) {
    raw_registry::Forget();
    raw_registry::WriteDevice(L"NamePort", L"COM1");
    raw_registry::WriteDevice(L"BaudRate", L"115200");
    if (two) raw_registry::WriteText(HKEY_CURRENT_USER, further, L"NamePort", L"COM3");
    if (two) raw_registry::WriteText(HKEY_CURRENT_USER, further, L"BaudRate", L"115200");
    sim.Open(1);
    sim.Open(3);
    auto reader = std::make_unique<TestReader>();
    reader->ApplySettings();
    reader->InitComm();
    reader->ReadData();
    target.Focus();
    return reader;
  };
  auto reader = open(true);
  std::vector<double> idle, behind, waits;
  std::string longCode;
  for (std::size_t i = 0; i < kLongCodeLength; ++i) longCode += static_cast<char>('0' + i % 10);
  for (int i = 0; i < 100; ++i) {
    target.Clear();
    sim.Pace(1, 115200, "12345678");
    target.PumpFor(1);
    const LONGLONG carriageReturn = Now();
    sim.Write(1, "\r");
    target.WaitForText(8, 2000);
    if (target.text().size() == 8) idle.push_back(Milliseconds(target.arrivals().front() - carriageReturn));
  }
  for (int round = 0; round < 15; ++round) {
    target.Clear();
    sim.Write(3, longCode);
    target.PumpFor(100);
    sim.Write(3, "\r");
    target.PumpFor(5);  // COM3's code is being typed
    const LONGLONG carriageReturn = Now();
    sim.Write(1, "12345678\r");
    target.WaitForText(kLongCodeLength + 8, 10000);
    if (target.text() != std::wstring(longCode.begin(), longCode.end()) + L"12345678") continue;
    behind.push_back(Milliseconds(target.arrivals()[kLongCodeLength] - carriageReturn));
    waits.push_back(Milliseconds(target.arrivals()[kLongCodeLength - 1] - carriageReturn));
  }
  for (auto* sorted : {&idle, &behind, &waits}) std::sort(sorted->begin(), sorted->end());
  if (!idle.empty()) {
    std::printf("two scanners: a code on COM1 with COM3 idle, latency median %6.2f ms  p99 %6.2f ms (%zu codes)\n",
                idle[idle.size() / 2], idle[idle.size() * 99 / 100], idle.size());
  }
  if (!behind.empty()) {
    std::printf(
        "two scanners: a code on COM1 behind COM3's 1,500-character code, latency median %7.2f ms  max %7.2f ms,"
        " of it waiting for its turn median %7.2f ms (%zu of 15 whole and in order)\n",
        behind[behind.size() / 2], behind.back(), waits[waits.size() / 2], behind.size());
  }
  const double two = IdleCpuPercent();
  reader.reset();
  reader = open(false);
  const double one = IdleCpuPercent();
  std::printf("idle CPU over 10 s: two open ports %6.2f %% of a core, one %6.2f %%\n", two, one);
  std::fflush(stdout);
  reader.reset();
  raw_registry::Forget();
}

// The user interface thread's side of a reader, as the main window plays
// it: a lost line and the retries arrive as messages of a window of this
// thread, handled whenever the thread pumps.
class PumpedSite final : public ReaderSite {
 public:
  PumpedSite() {
    window_ = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
  }
  ~PumpedSite() override { ::DestroyWindow(window_); }

  CBarCodReader* reader = nullptr;

  void ShowStopMessage(const std::wstring&) override {}
  std::wstring ErrorText(std::uint32_t) override { return {}; }
  void PostLineLost(unsigned generation) override { ::PostMessageW(window_, kLineLost, generation, 0); }
  void ScheduleRetry(unsigned scanner, std::chrono::milliseconds delay) override {
    ::SetTimer(window_, scanner, static_cast<UINT>(delay.count()), nullptr);
  }
  void CancelRetry(unsigned scanner) override { ::KillTimer(window_, scanner); }
  void LinkChanged() override {}

 private:
  static constexpr UINT kLineLost = WM_APP + 1;
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* site = reinterpret_cast<PumpedSite*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == kLineLost) {
      site->reader->OnLineLost(static_cast<unsigned>(wParam));
      return 0;
    }
    if (message == WM_TIMER) {
      ::KillTimer(window, wParam);
      site->reader->OnRetryTimer(static_cast<unsigned>(wParam));
      return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  HWND window_ = nullptr;
};

// A scanner unplugged long enough for the retries to slow to their longest
// pause, then plugged in and scanning at once: from its return to the
// code's first character in the window. Also how often the reader tries
// the port while it is away.
void Recovery(ScannerSim& sim, TargetWindow& target) {
  raw_registry::Forget();
  raw_registry::WriteDevice(L"NamePort", L"COM" + std::to_wstring(kPort));
  sim.Open(kPort);
  WinReaderParts parts(nullptr);
  CountedPorts ports;
  PumpedSite site;
  CBarCodReader reader(parts.store, ports, parts.typist, parts.dialogs, site, {});
  site.reader = &reader;
  if (reader.InitComm()) reader.ReadData();
  target.Focus();
  std::vector<double> recoveries;
  int absentAttempts = 0;
  double absentSeconds = 0;
  for (int round = 0; round < 10; ++round) {
    sim.Unmap(kPort);
    // Away a little longer each round, so that the return falls at every
    // point between two attempts.
    const DWORD away = 3000 + round * 80;
    const int attemptsBefore = ports.attempts;
    target.PumpFor(away);
    absentAttempts += ports.attempts - attemptsBefore;
    absentSeconds += away / 1000.0;
    target.Clear();
    sim.Open(kPort);
    const LONGLONG back = Now();
    sim.Write(kPort, "7\r");  // waits in the line until the port is open again
    target.WaitForText(1, 5000);
    if (!target.arrivals().empty()) recoveries.push_back(Milliseconds(target.arrivals().front() - back));
  }
  std::sort(recoveries.begin(), recoveries.end());
  if (recoveries.empty()) {
    std::printf("recovery: no code typed after the port came back\n");
    return;
  }
  std::printf("recovery after the port returns: median %7.2f ms  max %7.2f ms  (%zu of 10)\n",
              recoveries[recoveries.size() / 2], recoveries.back(), recoveries.size());
  std::printf("attempts to open the port while it is away: %.2f a second\n", absentAttempts / absentSeconds);
  std::fflush(stdout);
}

// A reader with its port open on a fresh line at this baud rate, typing
// codes as `typeAs` says.
std::unique_ptr<TestReader> OpenReader(ScannerSim& sim, int baud, const wchar_t* typeAs = L"keys") {
  raw_registry::Forget();
  raw_registry::WriteDevice(L"NamePort", L"COM" + std::to_wstring(kPort));
  raw_registry::WriteDevice(L"BaudRate", std::to_wstring(baud));
  raw_registry::WriteText(HKEY_CURRENT_USER, std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG", L"TypeAs", typeAs);
  sim.Open(kPort);
  auto reader = std::make_unique<TestReader>();
  reader->ApplySettings();
  reader->InitComm();
  return reader;
}

// What deciding a code's encoding costs: a 3,000-byte code (a full QR code)
// of UTF-8 Cyrillic and signs, the case that reads every byte.
double EncodingDecisionMs() {
  std::string code;
  for (const std::string piece = "Оплата по счёту № 5 «Ромашка» "; code.size() + piece.size() <= 3000;) code += piece;
  code.resize(3000, '.');
  constexpr int kRepeats = 100;
  std::vector<double> samples;
  for (int round = 0; round < 201; ++round) {
    const LONGLONG start = Now();
    unsigned decided = 0;
    for (int i = 0; i < kRepeats; ++i) decided += ChooseCodePage(code, TypingOptions::kAutomaticEncoding);
    samples.push_back(Milliseconds(Now() - start) / kRepeats);
    if (decided != kRepeats * TypingOptions::kUtf8) std::printf("the code was not taken as UTF-8\n");
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// What telling which program a code goes to costs, where some program has
// options of its own: the first code into a window, then every next one.
void ProgramLookup(const TargetWindow& target) {
  ProgramNames names;
  const LONGLONG start = Now();
  const std::wstring program = names.Of(target.handle());
  const double firstMs = Milliseconds(Now() - start);
  constexpr int kCodes = 100000;
  const LONGLONG again = Now();
  for (int i = 0; i < kCodes; ++i) names.Of(::GetForegroundWindow());
  std::printf("program in front (%ls): first code %.4f ms, every next %.5f ms\n", program.c_str(), firstMs,
              Milliseconds(Now() - again) / kCodes);
}

// The median of 201 rounds of `repeats` calls, in ms a call.
template <class Call>
double MedianMs(int repeats, Call call) {
  std::vector<double> samples;
  for (int round = 0; round < 201; ++round) {
    const LONGLONG start = Now();
    for (int i = 0; i < repeats; ++i) call();
    samples.push_back(Milliseconds(Now() - start) / repeats);
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// What a code's rules cost before its first key: ten rules of every kind
// on a 100-character code, the last of them the one that applies; a
// 3,000-character code (a full QR code) through a regular expression; and
// a code without rules.
void RulesCost() {
  const std::vector<std::wstring> ten = {L"if aim=]d2 and gs1 then output {01}{TAB}{21}",
                                         L"if length=13 and digits then check-digit drop",
                                         L"if starts=ST0001 then reject",
                                         L"if ends=XYZ and contains=QQ then upper",
                                         L"if at=5:ZZ then drop first 2",
                                         L"if like=#*#-## then keep last 2",
                                         L"if regex=PN:0*(\\d+)-(\\w) then output $2{TAB}$1",
                                         L"if gs1 then output {01}",
                                         L"if length=1-20 then pad 20",
                                         L"if length=100 then replace - /; upper; output {1-40}{TAB}{41-100}{ENTER}"};
  std::wstring code;
  while (code.size() < 100) code += L"AB-12 345 ";
  const RuleList rules = RuleList::Read(ten, L"benchmark");
  const RuleList none;
  const auto shaped = [&](std::wstring_view text, const RuleList& list) {
    const CodeOutcome outcome = ShapeCode(text, TypingOptions::AimId::None, list, TypingOptions::NoMatch::Pass);
    if (outcome.result != CodeOutcome::Result::Typed) std::printf("rules refused the code: %ls\n", outcome.why.c_str());
  };
  const double withTen = MedianMs(100, [&] { shaped(code, rules); });
  const double withNone = MedianMs(100, [&] { shaped(code, none); });
  std::printf("ten rules on a 100-character code: %.4f ms a code (%.4f ms more than none; median of 201)\n", withTen,
              withTen - withNone);
  std::wstring qr;
  while (qr.size() < 3000) qr += L"ST00012|Name=OOO Romashka|PersonalAcc=40702810138000000001|Sum=150000|";
  qr.resize(3000);
  const RuleList regex = RuleList::Read(
      std::vector<std::wstring>{L"if regex=\"ST0001[123]\\|.*Sum=(\\d+).*\" then regex-replace \"\\|\" {TAB}"});
  std::printf("a 3,000-character code through a regular expression: %.4f ms; without rules: %.4f ms (medians of 201)\n",
              MedianMs(10, [&] { shaped(qr, regex); }), MedianMs(10, [&] { shaped(qr, none); }));
  // The worst patterns can do, each until it gives up at the work bound:
  // however large the pattern, and recursion too.
  const std::pair<std::wstring, std::wstring> worst[] = {
      {L"(a+)+b", std::wstring(3000, L'a')},
      {L"(?#" + std::wstring(190, L'x') + L")(a+)+b", std::wstring(3000, L'a')},
      {L"00000+0++02", std::wstring(8000, L'0')},
      {L"(a(?1)?)b", std::wstring(1500, L'a')},
      {L"(?#" + std::wstring(183, L'x') + L")(a(?1)?)b", std::wstring(8000, L'a')}};
  for (const auto& [pattern, code] : worst) {
    const RuleList runaway = RuleList::Read(std::vector<std::wstring>{L"if regex=\"" + pattern + L"\" then reject"});
    const LONGLONG start = Now();
    const CodeOutcome refused = ShapeCode(code, TypingOptions::AimId::None, runaway, TypingOptions::NoMatch::Pass);
    std::printf("%.20ls (%d characters) on %d characters: %.1f ms (%ls)\n", pattern.c_str(),
                static_cast<int>(pattern.size()), static_cast<int>(code.size()), Milliseconds(Now() - start),
                refused.why.c_str());
  }
}

// What the monitor's record costs the typing thread for each code: a code
// held by «Не вводить коды» is decoded, its program looked up and recorded,
// and not typed. With the monitor open each code also wakes it, and the
// monitor reads the record before the next (not timed: its own thread's).
void MonitorRecordCost() {
  RecentCodes recent(diagnostics::LocalNow);
  WinTypist typist;
  const std::atomic<bool> stopping{false};
  const platform::UniqueWindow monitor(
      ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
  CodeRecord record;
  // The whole of a held code, and the record's own part: its strings
  // filled and the record taken into the ring.
  const std::function<void()> steps[] = {
      [&] { recent.Record(typist.TypeCode("4607001234567", L"COM1", true, stopping)); },
      [&] {
        record.bytes.assign("4607001234567");
        record.text.assign(L"4607001234567");
        record.program.assign(L"excel.exe");
        recent.Add(record);
      }};
  for (const bool open : {false, true}) {
    recent.Watch(open ? std::function<void()>([window = monitor.get()] { ::PostMessageW(window, WM_NULL, 0, 0); })
                      : nullptr);
    for (const auto& step : steps) {
      std::vector<double> samples;
      for (int i = 0; i < 5000; ++i) {
        const LONGLONG start = Now();
        step();
        samples.push_back(Milliseconds(Now() - start));
        if (!open) continue;
        MSG message;
        while (::PeekMessageW(&message, monitor.get(), 0, 0, PM_REMOVE)) {
        }
        recent.Newest();
      }
      std::sort(samples.begin(), samples.end());
      std::printf("monitor %-6s %-44s median %.4f ms  p99 %.4f ms\n", open ? "open" : "closed",
                  &step == steps ? "a held code (decoded, program, recorded):" : "the record alone:",
                  samples[samples.size() / 2], samples[samples.size() * 99 / 100]);
    }
  }
  recent.Watch(nullptr);
}

// How each way of typing fares against the floor, in turns, seven runs
// each: a 3,000-character code pasted, typed as keys and by the floor; a
// 1,500-character code of digits and capitals as Unicode characters and by
// the floor. And what the questions asked before each code cost: the
// integrity level of the window in front (asked once a window, kept for
// the next codes) and the modifiers held.
void Delivery(ScannerSim& sim, TargetWindow& target, const Wedge& floor) {
  std::unique_ptr<TestReader> reader;
  const auto ours = [&](const wchar_t* typeAs) {
    return Wedge{"",
                 [&, typeAs](int baud) {
                   reader = OpenReader(sim, baud, typeAs);
                   reader->ReadData();
                   target.Focus();
                 },
                 [&] { reader.reset(); }};
  };
  const auto mixed = kLongCodes[2].character;
  const struct {
    const char* name;
    std::size_t length;
    Wedge wedge;
  } rows[] = {{"3,000 pasted", 3000, ours(L"paste")},
              {"3,000 as keys", 3000, ours(L"keys")},
              {"3,000 floor", 3000, floor},
              {"1,500 as Unicode", 1500, ours(L"unicode")},
              {"1,500 floor", 1500, floor}};
  std::vector<double> times[std::size(rows)];
  for (int run = 0; run < 7; ++run) {
    for (std::size_t row = 0; row < std::size(rows); ++row) {
      rows[row].wedge.start(115200);
      times[row].push_back(LongCodeMs(sim, target, mixed, rows[row].length));
      rows[row].wedge.stop();
    }
  }
  for (std::size_t row = 0; row < std::size(rows); ++row) {
    std::sort(times[row].begin(), times[row].end());
    std::printf("mixed code, %-18s carriage return to last character: median %8.2f ms (%.2f-%.2f)%s\n", rows[row].name,
                times[row][3], times[row].front(), times[row].back(),
                times[row].front() == 0 ? ", some arrived wrong" : "");
  }
  IntegrityLevels levels;
  const LONGLONG start = Now();
  levels.Of(target.handle());
  const double firstMs = Milliseconds(Now() - start);
  SystemModifiers modifiers;
  std::printf("integrity level of the window in front: first code %.4f ms, every next %.5f ms; held keys %.5f ms\n",
              firstMs, MedianMs(1000, [&] { levels.Of(target.handle()); }), MedianMs(1000, [&] { modifiers.Held(); }));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  latencyOnly = only == "latency";
  platform::SetApplicationTitle(kApplicationTitle);
  ScannerSim sim;
  TargetWindow target;
  // With "delivery": the ways of typing and the questions before each code.
  const bool delivery = only == "delivery";
  if (!delivery) ProgramLookup(target);
  if (only == "lookup") return 0;
  if (only == "scanners") {
    TwoScanners(sim, target);
    return 0;
  }
  if (only != "monitor" && !delivery) RulesCost();
  if (only == "rules") return 0;
  if (!delivery) MonitorRecordCost();
  if (only == "monitor") return 0;

  if (!delivery)
    std::printf("encoding of a 3,000-byte code decided in %.4f ms (median of 201)\n", EncodingDecisionMs());
  if (!latencyOnly && !delivery) {
    for (const int keyDelayMs : {0, 20}) {
      std::printf("13-digit code, KeyDelay %3d: %7.2f ms\n", keyDelayMs, ThirteenDigitsMs(target, keyDelayMs));
      std::fflush(stdout);
    }
    Recovery(sim, target);
    TwoScanners(sim, target);
  }

  std::unique_ptr<TestReader> reader;
  const Wedge ours{"event-driven",
                   [&](int baud) {
                     reader = OpenReader(sim, baud);
                     reader->ReadData();
                     target.Focus();
                   },
                   [&] {
                     reader->StopReading();
                     reader.reset();
                   }};
  if (!delivery) Measure(sim, target, ours);

  std::unique_ptr<MinimalWedge> floor;
  platform::FileHandle port;
  const auto openPort = [&] {
    port.reset(::CreateFileW((L"\\\\.\\COM" + std::to_wstring(kPort)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  };
  const Wedge minimal{"minimal wedge",
                      [&](int baud) {
                        reader = OpenReader(sim, baud);  // sets the line up; reads nothing without its thread
                        openPort();
                        floor = std::make_unique<MinimalWedge>(port.get());
                        target.Focus();
                      },
                      [&] {
                        floor.reset();
                        port.reset();
                        reader.reset();
                      }};
  if (delivery) {
    Delivery(sim, target, minimal);
    return 0;
  }
  Measure(sim, target, minimal);
  LongCodes(sim, target, ours, minimal);

  if (latencyOnly) return 0;
  std::unique_ptr<PollingReader> polling;
  Measure(sim, target,
          {"100 ms polling",
           [&](int baud) {
             reader = OpenReader(sim, baud);
             openPort();
             polling = std::make_unique<PollingReader>(port.get());
             target.Focus();
           },
           [&] {
             polling.reset();
             port.reset();
             reader.reset();
           }});
  raw_registry::Forget();
  return 0;
}
