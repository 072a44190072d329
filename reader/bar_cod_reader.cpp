#include "reader/bar_cod_reader.h"

#include <algorithm>

#include "platform/diagnostics.h"
#include "platform/system_events.h"
#include "reader/reader_messages.h"

CBarCodReader::CBarCodReader(SettingsStorage& store, SerialPorts& ports, CodeTypist& typist, DialogFactory makeDialog,
                             ReaderSite& site, const std::vector<std::wstring>& arguments, CodeRecorder* recorder)
    : store_(store),
      ports_(ports),
      typist_(typist),
      recorder_(recorder),
      makeDialog_(std::move(makeDialog)),
      site_(site),
      arguments_(arguments) {
  LoadSettings();
  ApplySettings();
  if (!arguments_.empty()) ApplyCommandLinePort();
  LoadTypingOptions();
}

CBarCodReader::~CBarCodReader() {
  site_.CancelRetry();
  ClosePort();
}

bool CBarCodReader::LoadSettings() {
  const bool loaded = store_.Load(portSettings, AutoStart);
  machineAutoStart_ = AutoStart;
  return loaded;
}

bool CBarCodReader::SaveSettings() {
  const SaveOutcome outcome = store_.Save(portSettings, AutoStart, machineAutoStart_);
  // The box shows what the machine does, not what it was asked to do.
  AutoStart = machineAutoStart_ = outcome.autoStart;
  if (outcome.Succeeded()) return true;
  const std::wstring* message = &reader_messages::kSaveFailed;
  if (outcome.refused == SaveOutcome::Refused::StartWithWindows) message = &reader_messages::kStartWithWindowsFailed;
  if (outcome.refused == SaveOutcome::Refused::StopStartingWithWindows) {
    message = &reader_messages::kStopStartingWithWindowsFailed;
  }
  site_.ShowStopMessage(reader_messages::WithReason(*message, outcome.error, site_.ErrorText(outcome.error)));
  return false;
}

bool CBarCodReader::ApplySettings() { return ::ApplySettings(portSettings, line_); }

void CBarCodReader::ApplyCommandLinePort() {
  // A port enforced by policy wins over the command line too.
  if (store_.Enforced().Covers(&PortSettings::NamePort)) return;
  line_.portName = CommandLinePortName(arguments_.empty() ? std::wstring_view() : arguments_.front());
}

bool CBarCodReader::InitComm() {
  // Callers close the port first; should one not, its reader thread must
  // end before the handle goes, and a failed open must not leave it open.
  ClosePort();
  return OpenPort(Tell::Operator);
}

bool CBarCodReader::OpenPort(Tell tell) {
  SerialPorts::Failure failure;
  port_ = ports_.Open(line_, failure);
  if (!port_) {
    if (linkLost_) {
      lostPortLog_.AttemptFailed(failure.error, LostPortLog::Clock::now());
    } else {
      diagnostics::Failure(failure.operation, failure.error);
    }
    if (tell == Tell::Operator) {
      system_events::Report({system_events::Id::PortNotOpened, {line_.portName, failure.operation}, failure.error});
      site_.ShowStopMessage(failure.step == SerialPorts::Failure::Step::Setup ? reader_messages::kPortSetupFailed
                                                                              : reader_messages::kPortOpenFailed);
    }
    // The operator has been told once; a port that comes later is taken
    // without a restart.
    if (!linkLost_) EnterLost();
    return false;
  }
  // Said once per port that reads: a port that keeps coming and going
  // writes its loss and return lines anyway.
  if (failure.step == SerialPorts::Failure::Step::Tolerated) diagnostics::Failure(failure.operation, failure.error);
  ++generation_;
  site_.CancelRetry();
  if (linkLost_) {
    linkLost_ = false;
    lostPortLog_.Back(LostPortLog::Clock::now());
    site_.LinkChanged();
  }
  return true;
}

void CBarCodReader::ClosePort() {
  StopReading();
  // Joined before the port goes: their lines finish with it first.
  stoppingThreads_.clear();
  port_.reset();
}

void CBarCodReader::ReadData() {
  // Two threads on one port would share out its bytes between them.
  StopReading();
  stoppingThreads_.clear();
  if (!port_) return;
  try {
    const unsigned generation = generation_;
    thread_ = std::make_unique<BRThread>(port_->NewLine(), typist_, recorder_, typing_->general.codeEnd,
                                         typing_->general.replies, BRThread::kUnfinishedCodeTimeout,
                                         [this, generation] { site_.PostLineLost(generation); });
  } catch (...) {
    thread_.reset();
    site_.ShowStopMessage(reader_messages::kThreadFailed);
  }
}

void CBarCodReader::StopReading() {
  if (!thread_) return;
  thread_->Terminate();
  stoppingThreads_.push_back(std::move(thread_));
}

bool CBarCodReader::Reopen(Tell tell) {
  StopReading();
  ClosePort();
  if (!OpenPort(tell)) return false;
  ReadData();
  return true;
}

void CBarCodReader::EnterLost() {
  linkLost_ = true;
  retryDelay_ = kFirstRetry;
  site_.ScheduleRetry(retryDelay_);
  lostPortLog_.Lost(line_.portName, LostPortLog::Clock::now());
  site_.LinkChanged();
}

void CBarCodReader::OnLineLost(unsigned generation) {
  // A loss reported by a thread of a port closed meanwhile is old news.
  if (generation != generation_ || !port_ || linkLost_) return;
  ClosePort();
  EnterLost();
}

void CBarCodReader::OnRetryTimer() {
  if (!linkLost_) return;
  if (Reopen(Tell::Nobody)) return;
  retryDelay_ = std::min(retryDelay_ * 2, kLongestRetry);
  site_.ScheduleRetry(retryDelay_);
}

void CBarCodReader::OnDeviceArrival() {
  if (!linkLost_) return;
  site_.CancelRetry();
  OnRetryTimer();
}

void CBarCodReader::LoadTypingOptions() {
  auto typing = std::make_shared<const TypingProfiles>(store_.LoadTypingOptions());
  if (typing_ && *typing == *typing_) return;
  typing_ = std::move(typing);
  typist_.SetOptions(typing_);
}

void CBarCodReader::OnSettingsChanged() {
  const TypingOptions::CodeEnd codeEnd = typing_->general.codeEnd;
  const TypingOptions::Replies replies = typing_->general.replies;
  LoadTypingOptions();
  const LineParameters line = line_;
  LoadSettings();
  ApplySettings();
  if (!arguments_.empty()) ApplyCommandLinePort();
  if (line_ == line && typing_->general.codeEnd == codeEnd && typing_->general.replies == replies) return;
  // A port never opened (its window not created yet) or closed for the
  // program's end stays closed; a lost one is tried with the new settings.
  if (port_ || linkLost_) Reopen(Tell::Nobody);
}

bool CBarCodReader::CreateOptions() {
  try {
    dialog_ = makeDialog_();
    return true;
  } catch (...) {
    dialog_.reset();
    site_.ShowStopMessage(reader_messages::kCreateOptionsFailed);
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
  dialog_->enforced = store_.Enforced();
  if (dialog_->ShowModal() == mrOk) {
    portSettings = dialog_->portSettings;
    AutoStart = dialog_->AutoStart;
    // A failed save or conversion still reopens the port with what it has.
    SaveSettings();
    ApplySettings();
    // The operator chose anew: a port lost before is not retried as well.
    linkLost_ = false;
    site_.CancelRetry();
    StopReading();
    ClosePort();
    LoadTypingOptions();
    Reopen(Tell::Operator);
    site_.LinkChanged();
  }
  dialog_.reset();
  return true;
}

void CBarCodReader::CancelSettings() {
  if (dialog_) dialog_->EndAsCancel();
}
