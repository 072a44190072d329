// End to end: a simulated scanner writes to a real pseudo-terminal behind a
// COM port, the reader types into a window of the test that has the focus.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "keys/win/win_typist.h"
#include "support/raw_registry.h"
#include "support/scanner_sim.h"
#include "support/target_window.h"
#include "support/test_reader.h"
#include "text/win/win_code_pages.h"

namespace {

constexpr int kPort = 2;

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// QueryPerformanceCounter, as the target window times each arrival.
LONGLONG Ticks() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return now.QuadPart;
}

double Milliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

std::string NumberedCode(int number) {
  char code[16];
  std::snprintf(code, sizeof code, "C%06d", number);
  return code;
}

class TypingTest : public testing::Test {
 protected:
  // One window for all: Wine takes seconds to take a window down without a
  // window manager.
  static void SetUpTestSuite() { target = new TargetWindow(); }
  static void TearDownTestSuite() {
    delete target;
    delete second;
  }

  void SetUp() override {
    target->Focus();
    raw_registry::Forget();
    raw_registry::WriteDevice(L"NamePort", L"COM" + std::to_wstring(kPort));
    raw_registry::WriteDevice(L"BaudRate", L"115200");
    sim.Open(kPort);
    StartReader();
  }
  // With typing options written first, where the reader reads them at start.
  void StartReader(const std::wstring& option = {}, const std::wstring& value = {}) {
    reader.reset();
    if (!option.empty()) {
      raw_registry::WriteText(HKEY_CURRENT_USER, std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG", option, value);
    }
    reader = std::make_unique<TestReader>();
    reader->ApplySettings();  // a developer's --gtest_filter must not count as a port argument
    ASSERT_TRUE(reader->InitComm());
    reader->ReadData();
  }
  void TearDown() override {
    reader->StopReading();
    reader->ClosePort();
    reader.reset();
    raw_registry::Forget();
  }

  // Sends the bytes as the scanner would and returns what the window got.
  std::wstring Scan(const std::string& bytes, std::size_t expectedLength) {
    target->Clear();
    sim.Write(kPort, bytes);
    return target->WaitForText(expectedLength);
  }

  // What the monitor says of the last code.
  std::wstring LastOutcome() {
    const auto codes = reader->parts.recent.Newest();
    return codes.empty() ? L"" : OutcomeName(codes.front());
  }

  static inline TargetWindow* target = nullptr;
  static inline TargetWindow* second = nullptr;  // for a window change
  ScannerSim sim;
  std::unique_ptr<TestReader> reader;
};

}  // namespace

TEST_F(TypingTest, CodesArriveExactlyAndCapsLockIsLeftAsItWas) {
  const bool capsLockBefore = CapsLockOn();
  EXPECT_EQ(Scan("12345\r", 5), L"12345");
  EXPECT_EQ(Scan("abc\r", 3), L"abc");
  EXPECT_EQ(Scan("ABC xyz!@#\r", 10), L"ABC xyz!@#");
  EXPECT_EQ(Scan("CODE39-. $/+%\r", 13), L"CODE39-. $/+%");
  target->PumpFor(50);
  EXPECT_EQ(CapsLockOn(), capsLockBefore);
}

TEST_F(TypingTest, CapsLockOnIsLeftOn) {
  // Digits only: under Wine a thread never sees Caps Lock toggled by
  // another thread, so letters cannot show here what they do on Windows.
  if (!CapsLockOn()) PressCapsLock();
  target->PumpFor(50);
  ASSERT_TRUE(CapsLockOn());
  EXPECT_EQ(Scan("4711-08\r", 7), L"4711-08");
  target->PumpFor(50);
  EXPECT_TRUE(CapsLockOn());
  PressCapsLock();
  target->PumpFor(50);
  EXPECT_FALSE(CapsLockOn());
}

TEST_F(TypingTest, LineEndingsAndControlBytes) {
  EXPECT_EQ(Scan("111\r\n222\r\n", 6), L"111222") << "CR LF ends a code once";
  EXPECT_EQ(Scan("A\tB\r", 3), L"A\tB");
  EXPECT_EQ(Scan("X\x01Y\x7f\x16\x03Z\x1e\r", 4), L"XYZ\x1e") << "no control byte that could be a command arrives";
  EXPECT_EQ(Scan("\xcf\xf0\xe8\xe2\xe5\xf2\r", 6), L"\u041f\u0440\u0438\u0432\u0435\u0442")
      << "code page 1251 arrives as the letters themselves";
  const std::wstring payment = L"ST00012|Name=ООО «Ромашка»|Purpose=Счёт № 5";
  EXPECT_EQ(Scan("ST00012|Name=ООО «Ромашка»|Purpose=Счёт № 5\r", payment.size()), payment)
      << "a payment code in UTF-8, as its header says";
  EXPECT_EQ(Scan("ST00013|Name=\xf0\xc5\xd4\xd2\r", 17), L"ST00013|Name=Петр") << "and one in KOI8-R";
  EXPECT_EQ(Scan("\xef\xbb\xbf"
                 "4006381333931\r",
                 13),
            L"4006381333931")
      << "a byte order mark is not typed";
}

TEST(WinCodePagesTest, ACodePageThatCannotRefuseInvalidBytesIsNotUsable) {
  EXPECT_TRUE(WinCodePages().Knows(20866));
  EXPECT_FALSE(WinCodePages().Knows(65000)) << "UTF-7 would type a replacement character";
  EXPECT_FALSE(WinCodePages().Knows(42));
}

TEST_F(TypingTest, Gs1DataMatrixCodesKeepTheirSeparators) {
  const std::string code =
      "0104600439931256"
      "21JgXJ5.T\x1d"
      "8005112000\x1d"
      "930001";
  EXPECT_EQ(Scan(code + "\r", code.size()), Widen(code));
}

TEST_F(TypingTest, LongCodesArriveWholeAndAQuietLineDropsNoise) {
  std::string qr;
  for (int i = 0; i < 1500; ++i) qr += static_cast<char>('0' + i % 10);
  EXPECT_EQ(Scan(qr + "\r", qr.size()), Widen(qr));
  std::string capitals;
  for (int i = 0; i < 1500; ++i) capitals += static_cast<char>(i % 7 ? 'A' + i % 26 : '0' + i % 10);
  EXPECT_EQ(Scan(capitals + "\r", capitals.size()), Widen(capitals));
  EXPECT_EQ(Scan("abc\r", 3), L"abc") << "Shift is up after a run of capitals";

  target->Clear();
  sim.Write(kPort, "\xff");
  target->PumpFor(1300);  // longer than a code may pause
  EXPECT_EQ(Scan("4006381333931\r", 13), L"4006381333931")
      << "a stray byte is dropped alone: never glued to the code after it, never costing it";
}

TEST_F(TypingTest, AnExciseStampCodeTypedAtPaceArrivesWholeAndSoDoesTheCodeScannedMeanwhile) {
  std::string stamp =
      "0104600439931256"
      "21JgXJ5.T\x1d"
      "93dGVz";
  for (int i = 0; stamp.size() < 150; ++i) stamp += static_cast<char>(i % 3 ? 'A' + i % 26 : '0' + i % 10);
  ASSERT_EQ(stamp.size(), 150u);
  // Paced, as a remote desktop needs: 150 characters take 3 s to type.
  StartReader(L"KeyDelay", L"20");
  target->Clear();
  sim.Write(kPort, stamp + "\r");
  target->WaitForText(10);
  sim.Write(kPort, "4601234567893\r");  // while the stamp is being typed
  EXPECT_TRUE(target->WaitForText(163, 30000) == Widen(stamp) + L"4601234567893") << "the typed text differs";
}

TEST_F(TypingTest, AVCardEndedByAPauseArrivesWholeWithItsLineBreaks) {
  StartReader(L"CodeEnd", L"pause");
  const std::wstring vcard = L"BEGIN:VCARD\rN:Kennedy;Steve\rEND:VCARD";
  Scan("BEGIN:VCARD\r\nN:Kennedy;Steve\r\nEND:VCARD\r\n", vcard.size());
  target->PumpFor(500);
  EXPECT_EQ(target->text(), vcard) << "each inner line break one Enter, the last one not typed";
  Scan("\r\n\r\n", 0);
  target->PumpFor(800);
  EXPECT_EQ(target->text(), L"") << "a blank line is an empty code";
}

TEST_F(TypingTest, ACodeSplitAcrossReadsArrivesWhole) {
  target->Clear();
  sim.Write(kPort, "12");
  target->PumpFor(20);
  sim.Write(kPort, "34");
  target->PumpFor(20);
  sim.Write(kPort, "5\r");
  EXPECT_EQ(target->WaitForText(5), L"12345");
}

TEST_F(TypingTest, TenThousandCodesAt115200BaudNothingLostDoubledOrReordered) {
  constexpr int kCodes = 10000;
  std::string stream;
  std::wstring expected;
  for (int i = 0; i < kCodes; ++i) {
    stream += NumberedCode(i) + "\r";
    expected += Widen(NumberedCode(i));
  }
  target->Clear();
  std::thread scanner([&] {
    ScannerSim line;
    line.Pace(kPort, 115200, stream);
  });
  const std::wstring& received = target->WaitForText(expected.size(), 300000);
  scanner.join();
  ASSERT_EQ(received.size(), expected.size());
  const auto differ = std::mismatch(received.begin(), received.end(), expected.begin());
  EXPECT_TRUE(differ.first == received.end())
      << "the typed text differs from the scanned codes at " << (differ.first - received.begin()) << ": "
      << std::string(differ.first, differ.first + std::min<std::ptrdiff_t>(20, received.end() - differ.first));
}

TEST_F(TypingTest, SettingsStyleRestartsWhileTheScannerKeepsSending) {
  std::atomic<bool> scanning{true};
  std::atomic<int> sent{0};
  std::string scannerError;
  std::thread scanner([&] {
    try {
      ScannerSim line;
      while (scanning) {
        line.Write(kPort, NumberedCode(sent) + "\r");
        ++sent;
        // Slower than Wine types, so the window is never flooded.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    } catch (const std::exception& e) {
      scannerError = e.what();
    }
  });
  target->Clear();
  for (int i = 0; i < 200; ++i) {
    reader->StopReading();
    reader->ClosePort();
    ASSERT_TRUE(reader->InitComm()) << "restart " << i;
    reader->ReadData();
    target->PumpFor(5);
  }
  target->PumpFor(300);
  scanning = false;
  scanner.join();
  target->PumpFor(300);
  EXPECT_EQ(scannerError, "");

  // Every code typed is a whole code, or the tail of one cut by a restart;
  // none twice, none out of order.
  const std::wstring& text = target->text();
  int previous = -1;
  std::size_t position = 0;
  int whole = 0;
  while (position < text.size()) {
    const std::size_t next = text.find(L'C', position + 1);
    const std::wstring piece = text.substr(position, next == std::wstring::npos ? std::wstring::npos : next - position);
    position = next == std::wstring::npos ? text.size() : next;
    if (piece.size() != 7 || piece[0] != L'C') continue;
    const int number = std::stoi(piece.substr(1));
    EXPECT_GT(number, previous) << "code typed twice or out of order";
    previous = number;
    ++whole;
  }
  // Bytes in flight when a port closes are lost, as on a real line; what
  // the scanner sends once the restarts are over arrives.
  EXPECT_EQ(previous, sent - 1) << "the last code must arrive whole; " << whole << " whole codes of " << sent;
}

TEST_F(TypingTest, AVanishedPortIsWaitedOutCalmlyAndCanBeReopened) {
  EXPECT_EQ(Scan("1\r", 1), L"1");
  sim.Close(kPort);
  FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernelBefore, &userBefore);
  target->PumpFor(2000);
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernelAfter, &userAfter);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const double cpuSeconds = ((ticks(kernelAfter) - ticks(kernelBefore)) + (ticks(userAfter) - ticks(userBefore))) / 1e7;
  EXPECT_LT(cpuSeconds, 1.0) << "a reader spinning on a vanished port burns a core";

  reader->StopReading();
  reader->ClosePort();
  sim.Open(kPort);
  ASSERT_TRUE(reader->InitComm());
  reader->ReadData();
  EXPECT_EQ(Scan("2\r", 1), L"2");
}

TEST_F(TypingTest, SuffixEnterPutsEveryCodeOnALineOfItsOwnInAnEditControl) {
  const HWND edit = ::CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN,
                                      100, 100, 300, 200, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(edit, nullptr);
  for (int attempt = 0; attempt < 20 && ::GetForegroundWindow() != edit; ++attempt) {
    ::SetForegroundWindow(edit);
    ::SetFocus(edit);
    target->PumpFor(50);
  }
  TypingOptions options;
  options.suffix = TypingOptions::Suffix::Enter;
  WinTypist typist;
  typist.SetOptions(std::make_shared<const TypingProfiles>(TypingProfiles{options, {}}));
  const std::atomic<bool> stopping{false};
  std::thread typing([&] {
    typist.TypeCode("4601234567893", L"COM1", false, stopping);
    typist.TypeCode("ab12", L"COM1", false, stopping);
  });
  wchar_t text[64] = {};
  for (int wait = 0; wait < 200 && ::GetWindowTextLengthW(edit) < 23; ++wait) target->PumpFor(20);
  typing.join();
  ::GetWindowTextW(edit, text, 64);
  ::DestroyWindow(edit);
  EXPECT_EQ(std::wstring(text), L"4601234567893\r\nab12\r\n");
}

TEST_F(TypingTest, KeyDelaySpacesTheCharactersOfACode) {
  TypingOptions options;
  options.keyDelayMs = 20;
  WinTypist typist;
  typist.SetOptions(std::make_shared<const TypingProfiles>(TypingProfiles{options, {}}));
  const std::atomic<bool> stopping{false};
  target->Clear();
  // Timed by the sender: the window's own scheduling can shorten the gap
  // between two arrivals as well as lengthen it.
  const LONGLONG start = Ticks();
  LONGLONG end = start;
  std::thread typing([&] {
    typist.TypeCode("4601234567893", L"COM1", false, stopping);
    end = Ticks();
  });
  EXPECT_EQ(target->WaitForText(13), L"4601234567893");
  typing.join();
  EXPECT_GE(Milliseconds(end - start), 12 * 20.0);
}

TEST_F(TypingTest, RulesFromAMultiStringShapeEachCodeWholeBeforeItIsTyped) {
  // One rule a string, as IT deploys a list; the identifiers taken off.
  const std::wstring appcfg = std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG";
  const std::wstring rules = std::wstring(L"if aim=]d2 and gs1 then output {01}{TAB}{21}") + L'\0' +
                             L"if length=13 then output {CODE}{TAB}{PAUSE:50}" + L'\0' + L'\0';
  raw_registry::Write(HKEY_CURRENT_USER, appcfg, L"Rules", REG_MULTI_SZ, rules.data(),
                      static_cast<DWORD>(rules.size() * sizeof(wchar_t)));
  raw_registry::WriteText(HKEY_CURRENT_USER, appcfg, L"Suffix", L"Enter");
  StartReader(L"AimId", L"strip");
  EXPECT_EQ(Scan("]d2010460123456789321ABC123\x1d"
                 "91EE07\x1d"
                 "92abc\r",
                 22),
            L"04601234567893\tABC123\r");
  const LONGLONG scanned = Ticks();
  EXPECT_EQ(Scan("4601234567893\r", 15), L"4601234567893\t\r");
  // The suffix comes after the pause: it cannot arrive sooner after the
  // scan, however the window is scheduled.
  EXPECT_GE(Milliseconds(target->arrivals().back() - scanned), 50.0);
}

TEST_F(TypingTest, AHeldCtrlIsWaitedForUpToTwoSecondsAndTheScannerHearsOfEachCode) {
  raw_registry::WriteDevice(L"ReplyTyped", L"06");
  raw_registry::WriteDevice(L"ReplyRefused", L"15");
  StartReader();
  const auto hold = [&](bool down) {
    sim.Key(down, "Control_L");
    target->PumpFor(100);  // Wine takes the key from the X server as the window pumps
  };
  hold(true);
  target->Clear();
  sim.Write(kPort, "abc\r");
  EXPECT_EQ(target->PumpFor(1000), L"") << "nothing goes out while Ctrl is held";
  hold(false);
  EXPECT_EQ(target->WaitForText(3), L"abc") << "let go of within 2 s, the code arrives as itself";
  EXPECT_EQ(sim.Read(kPort), "\x06");
  hold(true);
  target->Clear();
  sim.Write(kPort, "def\r");
  target->PumpFor(2500);
  hold(false);
  EXPECT_EQ(target->PumpFor(300), L"") << "still held after 2 s: refused";
  EXPECT_EQ(sim.Read(kPort), "\x15");
  EXPECT_EQ(LastOutcome(), L"не введён: удерживалась клавиша Ctrl");
}

TEST_F(TypingTest, AWindowThatComesInFrontMidCodeGetsNothingOfIt) {
  if (!second) second = new TargetWindow();
  target->Focus();
  StartReader(L"KeyDelay", L"50");
  target->Clear();
  sim.Write(kPort, "ABCDEFGHIJKLMNOPQRST\r");
  target->WaitForText(5);
  second->Focus();
  second->PumpFor(1500);
  EXPECT_EQ(second->text(), L"");
  EXPECT_LT(target->text().size(), 20u);
  EXPECT_EQ(LastOutcome(), L"прерван: окно сменилось во время ввода");
  target->Focus();
}

TEST_F(TypingTest, TypedAsUnicodeEveryCharacterArrivesExactly) {
  raw_registry::WriteText(HKEY_CURRENT_USER, std::wstring(raw_registry::kSettingsKey) + L"\\APPCFG", L"GroupSeparator",
                          L"\t");
  StartReader(L"TypeAs", L"unicode");
  EXPECT_EQ(Scan("\xcf\xf0\xe8\xe2\xe5\xf2 \xb9 5\r", 10), L"Привет № 5");
  EXPECT_EQ(Scan("ST00012|Name=ООО «Ромашка» \xf0\x9f\x98\x80\r", 29), L"ST00012|Name=ООО «Ромашка» \xD83D\xDE00");
  EXPECT_EQ(Scan("010460043993125621JgXJ5.T\x1d"
                 "930001\r",
                 32),
            L"010460043993125621JgXJ5.T\t930001");
}

TEST_F(TypingTest, PastedTheCodeArrivesWholeAndTheOperatorsTextAndImageAreBackAfterwards) {
  // A text and a 2x2 24-bit image, as the operator copied them (UTF-16 bytes and a DIB).
  const std::wstring wide = L"текст оператора";
  const std::string text(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * 2);
  const BITMAPINFOHEADER header{sizeof header, 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  const std::string image = std::string(reinterpret_cast<const char*>(&header), sizeof header) +
                            std::string("\x10\x20\x30\x40\x50\x60\0\0\x70\x80\x90\xa0\xb0\xc0\0\0", 16);
  ASSERT_TRUE(::OpenClipboard(target->handle()) && ::EmptyClipboard());
  for (const auto& [format, bytes] : {std::pair{CF_UNICODETEXT, &text}, std::pair{CF_DIB, &image}}) {
    const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes->size());
    std::memcpy(::GlobalLock(memory), bytes->data(), bytes->size());
    ::GlobalUnlock(memory);
    ::SetClipboardData(format, memory);
  }
  ::CloseClipboard();
  StartReader(L"TypeAs", L"paste");
  std::string code =
      "0104600439931256"
      "21JgXJ5.T\x1d"
      "93dGVz";
  while (code.size() < 3000) code += static_cast<char>('A' + code.size() % 26);
  EXPECT_EQ(Scan(code + "\r", 3000), Widen(code));
  EXPECT_TRUE(target->pasteMarked()) << "kept out of the clipboard history";
  target->PumpFor(100);
  ASSERT_TRUE(::OpenClipboard(target->handle()));
  for (const auto& [format, bytes] : {std::pair{CF_UNICODETEXT, &text}, std::pair{CF_DIB, &image}}) {
    const HANDLE memory = ::GetClipboardData(format);
    const char* held = memory ? static_cast<const char*>(::GlobalLock(memory)) : "";
    EXPECT_EQ(std::string(held, std::min<SIZE_T>(memory ? ::GlobalSize(memory) : 0, bytes->size())), *bytes);
    if (memory) ::GlobalUnlock(memory);
  }
  EXPECT_NE(::GetClipboardData(CF_BITMAP), nullptr);
  ::CloseClipboard();
}

TEST_F(TypingTest, TheIntegrityLevelOfOurOwnWindowIsOurOwn) {
  IntegrityLevels levels;
  const auto level = levels.Of(target->handle());
  ASSERT_TRUE(level.has_value());
  EXPECT_EQ(*level, levels.own().level);
  EXPECT_FALSE(InputBlockedByIntegrity(level, levels.own()));
}
