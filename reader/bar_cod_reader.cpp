#include "reader/bar_cod_reader.h"

#include <algorithm>
#include <map>

#include "platform/conversions.h"
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
  Relink(!arguments_.empty());
  LoadTypingOptions();
}

CBarCodReader::~CBarCodReader() {
  for (const auto& link : links_) site_.CancelRetry(link->number());
  ClosePort();
}

bool CBarCodReader::LoadSettings() {
  const bool loaded = store_.Load(scanners, AutoStart);
  machineAutoStart_ = AutoStart;
  return loaded;
}

bool CBarCodReader::SaveSettings() {
  const SaveOutcome outcome = store_.Save(scanners, AutoStart, machineAutoStart_);
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

bool CBarCodReader::ApplySettings() { return Relink(false); }

void CBarCodReader::ApplyCommandLinePort() { Relink(true); }

bool CBarCodReader::Relink(bool commandLine) {
  if (scanners.empty()) scanners.push_back({});
  bool converted = true;
  std::vector<std::unique_ptr<ScannerLink>> links;
  for (ScannerSettings& scanner : scanners) {
    LineParameters line;
    converted = ::ApplySettings(scanner.texts, line) && converted;
    // A port enforced by policy wins over the command line too.
    if (scanner.number == ScannerSettings::kFirst && commandLine &&
        !store_.Enforced().Covers(ScannerSettings::kFirst, &PortSettings::NamePort)) {
      line.portName = CommandLinePortName(arguments_.empty() ? std::wstring_view() : arguments_.front());
    }
    const auto reads = [&](const auto& link) { return SamePort(link->line().portName, line.portName); };
    if (std::ranges::any_of(links, reads)) {
      diagnostics::Event(L"scanner " + platform::IntToStr(scanner.number) + L" is not read: " + line.portName +
                         L" is read for another scanner");
      continue;
    }
    // A scanner read before keeps its link, with its loss and its retries.
    const auto same =
        std::ranges::find_if(links_, [&](const auto& link) { return link && link->number() == scanner.number; });
    links.push_back(same != links_.end() ? std::move(*same) : std::make_unique<ScannerLink>(scanner.number));
    links.back()->line_ = line;
  }
  // What is left was removed: its thread and port end now.
  for (const auto& gone : links_) {
    if (!gone) continue;
    site_.CancelRetry(gone->number());
    ClosePort(*gone);
  }
  links_ = std::move(links);
  return converted;
}

bool CBarCodReader::InitComm() {
  // Callers close the ports first; should one not, its reader thread must
  // end before the handle goes, and a failed open must not leave it open.
  ClosePort();
  running_ = true;
  bool opened = true;
  for (const auto& link : links_) opened = OpenPort(*link, Tell::Operator) && opened;
  return opened;
}

bool CBarCodReader::OpenPort(ScannerLink& link, Tell tell) {
  SerialPorts::Failure failure;
  const LineParameters& line = link.line_;
  link.port_ = ports_.Open(line, failure);
  if (!link.port_) {
    if (link.lost_) {
      link.lostPortLog_.AttemptFailed(failure.error, LostPortLog::Clock::now());
    } else {
      diagnostics::Failure(failure.operation, failure.error);
    }
    if (tell == Tell::Operator) {
      system_events::Report({system_events::Id::PortNotOpened, {line.portName, failure.operation}, failure.error});
      site_.ShowStopMessage(failure.step == SerialPorts::Failure::Step::Setup ? reader_messages::kPortSetupFailed
                                                                              : reader_messages::kPortOpenFailed);
    }
    // The operator has been told once; a port that comes later is taken
    // without a restart.
    if (!link.lost_) EnterLost(link);
    return false;
  }
  // Said once per port that reads: a port that keeps coming and going
  // writes its loss and return lines anyway.
  if (failure.step == SerialPorts::Failure::Step::Tolerated) diagnostics::Failure(failure.operation, failure.error);
  link.generation_ = ++generation_;
  site_.CancelRetry(link.number());
  if (link.lost_) {
    link.lost_ = false;
    link.lostPortLog_.Back(LostPortLog::Clock::now());
    site_.LinkChanged();
  }
  return true;
}

void CBarCodReader::ClosePort() {
  running_ = false;
  // Every thread told first: none then waits for a code of another port to
  // be typed before it ends.
  StopReading();
  for (const auto& link : links_) ClosePort(*link);
}

void CBarCodReader::ClosePort(ScannerLink& link) {
  StopReading(link);
  // Joined before the port goes: their lines finish with it first.
  link.stoppingThreads_.clear();
  link.port_.reset();
}

void CBarCodReader::ReadData() {
  for (const auto& link : links_) ReadData(*link);
}

void CBarCodReader::ReadData(ScannerLink& link) {
  // Two threads on one port would share out its bytes between them.
  StopReading(link);
  link.stoppingThreads_.clear();
  if (!link.port_) return;
  try {
    const unsigned generation = link.generation_;
    link.thread_ = std::make_unique<BRThread>(
        link.port_->NewLine(), link.line_.portName, link.line_.codeEnd, link.line_.replies, typist_, turns_, recorder_,
        BRThread::kUnfinishedCodeTimeout, [this, generation] { site_.PostLineLost(generation); });
  } catch (...) {
    link.thread_.reset();
    site_.ShowStopMessage(reader_messages::kThreadFailed);
  }
}

void CBarCodReader::StopReading() {
  for (const auto& link : links_) StopReading(*link);
}

void CBarCodReader::StopReading(ScannerLink& link) {
  if (!link.thread_) return;
  link.thread_->Terminate();
  link.stoppingThreads_.push_back(std::move(link.thread_));
}

bool CBarCodReader::Reopen(ScannerLink& link, Tell tell) {
  ClosePort(link);
  if (!OpenPort(link, tell)) return false;
  ReadData(link);
  return true;
}

void CBarCodReader::EnterLost(ScannerLink& link) {
  link.lost_ = true;
  link.retryDelay_ = kFirstRetry;
  site_.ScheduleRetry(link.number(), link.retryDelay_);
  link.lostPortLog_.Lost(link.line_.portName, LostPortLog::Clock::now());
  site_.LinkChanged();
}

ScannerLink* CBarCodReader::FindLink(unsigned scanner) {
  const auto found = std::ranges::find_if(links_, [&](const auto& link) { return link->number() == scanner; });
  return found != links_.end() ? found->get() : nullptr;
}

const ScannerLink* CBarCodReader::Link(unsigned scanner) const {
  return const_cast<CBarCodReader*>(this)->FindLink(scanner);
}

std::vector<std::wstring> CBarCodReader::LostPorts() const {
  std::vector<std::wstring> lost;
  for (const auto& link : links_) {
    if (link->lost()) lost.push_back(link->line().portName);
  }
  return lost;
}

void CBarCodReader::OnLineLost(unsigned generation) {
  // A loss reported by a thread of a port closed meanwhile is old news.
  const auto found = std::ranges::find_if(links_, [&](const auto& link) { return link->generation_ == generation; });
  if (found == links_.end()) return;
  ScannerLink& link = **found;
  if (!link.port_ || link.lost_) return;
  ClosePort(link);
  EnterLost(link);
}

void CBarCodReader::OnRetryTimer(unsigned scanner) {
  ScannerLink* const link = FindLink(scanner);
  if (!link || !link->lost_) return;
  if (Reopen(*link, Tell::Nobody)) return;
  link->retryDelay_ = std::min(link->retryDelay_ * 2, kLongestRetry);
  site_.ScheduleRetry(scanner, link->retryDelay_);
}

void CBarCodReader::OnDeviceArrival() {
  for (const auto& link : links_) {
    if (!link->lost_) continue;
    site_.CancelRetry(link->number());
    OnRetryTimer(link->number());
  }
}

void CBarCodReader::LoadTypingOptions() {
  auto typing = std::make_shared<const TypingProfiles>(store_.LoadTypingOptions());
  if (typing_ && *typing == *typing_) return;
  typing_ = std::move(typing);
  typist_.SetOptions(typing_);
}

void CBarCodReader::OnSettingsChanged() {
  LoadTypingOptions();
  std::map<unsigned, LineParameters> before;
  for (const auto& link : links_) before.emplace(link->number(), link->line());
  LoadSettings();
  Relink(!arguments_.empty());
  for (const auto& link : links_) {
    const auto was = before.find(link->number());
    if (was != before.end() && was->second == link->line()) continue;
    // A port never opened (its window not created yet) or closed for the
    // program's end stays closed; a lost one is tried with the new
    // settings, a new scanner opened while the others read.
    if (link->port_ || link->lost_ || (was == before.end() && running_)) Reopen(*link, Tell::Nobody);
  }
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
  dialog_->scanners = scanners;
  dialog_->AutoStart = AutoStart;
  dialog_->enforced = store_.Enforced();
  if (dialog_->ShowModal() == mrOk) {
    scanners = dialog_->scanners;
    AutoStart = dialog_->AutoStart;
    // A failed save or conversion still reopens the ports with what it has.
    SaveSettings();
    // The operator chose anew: a port lost before is not retried as well.
    for (const auto& link : links_) {
      link->lost_ = false;
      site_.CancelRetry(link->number());
    }
    ClosePort();
    ApplySettings();
    LoadTypingOptions();
    InitComm();
    ReadData();
    site_.LinkChanged();
  }
  dialog_.reset();
  return true;
}

void CBarCodReader::CancelSettings() {
  if (dialog_) dialog_->EndAsCancel();
}
