#include "reader/bar_cod_reader.h"

#include "platform/win/application.h"
#include "reader/reader_messages.h"
#include "reader/typing_options.h"
#include "reader/win_scanner_line.h"

platform::FileHandle PortHandle;

namespace {

// Queue sizes asked of the driver; a scanner code is far shorter.
constexpr DWORD kQueueSize = 256;

}  // namespace

CBarCodReader::CBarCodReader() : store_(registry_, platform::ExecutablePath()) {
  LoadSettings();
  ApplySettings();
  if (!platform::CommandLineArguments().empty()) ApplyCommandLinePort();
  typist_.SetOptions(ReadTypingOptions(registry_));
}

CBarCodReader::~CBarCodReader() { ClosePort(); }

bool CBarCodReader::LoadSettings() { return store_.Load(portSettings, AutoStart); }

bool CBarCodReader::SaveSettings() { return store_.Save(portSettings, AutoStart); }

bool CBarCodReader::UpdateAutoStart() { return store_.UpdateAutoStart(AutoStart); }

bool CBarCodReader::ApplySettings() { return ::ApplySettings(portSettings, line_); }

void CBarCodReader::ApplyCommandLinePort() {
  const auto arguments = platform::CommandLineArguments();
  line_.portName = CommandLinePortName(arguments.empty() ? std::wstring_view() : arguments.front());
}

bool CBarCodReader::InitComm() {
  // Callers close the port first; should one not, its reader thread must
  // end before the handle goes, and a failed open must not leave it open.
  ClosePort();
  if (const auto devicePath = SerialDevicePath(line_.portName)) {
    PortHandle.reset(::CreateFileW(devicePath->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr));
  }
  if (!PortHandle) {
    platform::ShowStopMessage(reader_messages::kPortOpenFailed);
    return false;
  }

  DCB state{};
  state.DCBlength = sizeof state;
  bool configured = ::GetCommState(PortHandle.get(), &state);
  // Some drivers keep fixed queues and refuse the request; that costs nothing.
  ::SetupComm(PortHandle.get(), kQueueSize, kQueueSize);
  if (configured) {
    state.BaudRate = line_.baudRate;
    state.ByteSize = line_.byteSize;
    state.Parity = line_.parity;
    state.StopBits = line_.stopBits;
    configured = ::SetCommState(PortHandle.get(), &state);
  }
  configured = configured && ::SetCommMask(PortHandle.get(), EV_RXCHAR | EV_BREAK);
  if (!configured) {
    // Reading at settings the operator did not choose would type garbage.
    PortHandle.reset();
    platform::ShowStopMessage(reader_messages::kPortSetupFailed);
    return false;
  }
  return true;
}

void CBarCodReader::ClosePort() {
  StopReading();
  stoppingThreads_.clear();
  if (!PortHandle) return;
  ::EscapeCommFunction(PortHandle.get(), SETBREAK);
  PortHandle.reset();
}

void CBarCodReader::ReadData() {
  // Two threads on one port would share out its bytes between them.
  StopReading();
  stoppingThreads_.clear();
  if (!PortHandle) return;
  try {
    thread_ = std::make_unique<BRThread>(std::make_unique<WinScannerLine>(PortHandle.get()), typist_,
                                         BRThread::QuietGap(line_.baudRate));
  } catch (...) {
    thread_.reset();
    platform::ShowStopMessage(reader_messages::kThreadFailed);
  }
}

void CBarCodReader::StopReading() {
  if (!thread_) return;
  thread_->Terminate();
  stoppingThreads_.push_back(std::move(thread_));
}

bool CBarCodReader::CreateOptions() {
  try {
    dialog_ = std::make_unique<TFormBROptions>();
    return true;
  } catch (...) {
    dialog_.reset();
    platform::ShowStopMessage(reader_messages::kCreateOptionsFailed);
    return false;
  }
}

bool CBarCodReader::ShowSettings() {
  if (dialog_) {
    dialog_->BringToFront();
    return true;
  }
  if (!CreateOptions()) return false;
  dialog_->portSettings = portSettings;
  dialog_->AutoStart = AutoStart;
  if (dialog_->ShowModal() == mrOk) {
    portSettings = dialog_->portSettings;
    AutoStart = dialog_->AutoStart;
    // A failed save or conversion still reopens the port with what it has.
    SaveSettings();
    ApplySettings();
    StopReading();
    ClosePort();
    // No reader thread is left to type with the old options.
    typist_.SetOptions(ReadTypingOptions(registry_));
    if (InitComm()) ReadData();
  }
  dialog_.reset();
  return true;
}
