#pragma once

#include <atomic>
#include <chrono>
#include <vector>

#include "app/win/win_reader_parts.h"
#include "platform/win/application.h"
#include "platform/win/error_text.h"

// The real serial ports, counted as the reader opens and closes them.
class CountedPorts final : public SerialPorts {
 public:
  std::unique_ptr<SerialPort> Open(const LineParameters& line, Failure& failure) override {
    ++attempts;
    auto port = real_.Open(line, failure);
    if (!port) return nullptr;
    ++opened;
    return std::make_unique<Counted>(std::move(port), open);
  }

  int open = 0;      // ports open now
  int opened = 0;    // ports opened so far
  int attempts = 0;  // opens tried, failed ones too

 private:
  struct Counted final : SerialPort {
    Counted(std::unique_ptr<SerialPort> port, int& open) : port_(std::move(port)), open_(++open) {}
    ~Counted() override { --open_; }
    std::unique_ptr<ScannerLine> NewLine() override { return port_->NewLine(); }
    std::unique_ptr<SerialPort> port_;
    int& open_;
  };
  WinSerialPorts real_;
};

// The test as the reader's user interface thread: message boxes of their
// own (an operator thread of the test answers them), and what the reader
// asks of the thread recorded.
class RecordingSite final : public ReaderSite {
 public:
  void ShowStopMessage(const std::wstring& text) override { platform::ShowStopMessage(text); }
  std::wstring ErrorText(std::uint32_t error) override { return platform::SystemErrorText(error); }
  void PostLineLost(unsigned) override { ++linesLost; }
  void ScheduleRetry(unsigned, std::chrono::milliseconds delay) override { retries.push_back(delay); }
  void CancelRetry(unsigned) override {}
  void LinkChanged() override {}

  std::atomic<int> linesLost{0};  // from reader threads
  std::vector<std::chrono::milliseconds> retries;
};

struct TestReaderParts {
  WinReaderParts parts{nullptr};
  CountedPorts ports;
  RecordingSite site;
};

// A reader of the real registry, ports, typist, dialog and record of recent
// codes, started with no command-line port.
class TestReader : private TestReaderParts, public CBarCodReader {
 public:
  TestReader() : CBarCodReader(parts.store, ports, parts.typist, parts.dialogs, site, {}, &parts.recent) {}
  using TestReaderParts::parts;
  using TestReaderParts::ports;
  using TestReaderParts::site;
};
