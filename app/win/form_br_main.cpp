#include "app/win/form_br_main.h"

#include <commctrl.h>
#include <dbt.h>

#include <array>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/resources/resource_ids.h"
#include "app/restart_arguments.h"
#include "app/win/tray_icon_ids.h"
#include "platform/diagnostics.h"
#include "platform/win/application.h"
#include "platform/win/bitmap.h"
#include "platform/win/error_text.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TFormBRMain";
constexpr int kWindowWidth = 300;
constexpr int kWindowHeight = 170;

// The maker's product page, opened by the link under the picture.
constexpr wchar_t kProductPage[] = L"http://www.ombrek.ru/marvane.asp";
constexpr wchar_t kProductHost[] = L"www.ombrek.ru";
const std::wstring kBrowserFailed = L"Ошибка при открытии Интернет-браузера по умолчанию";

// The coordinator reads Windows' value as Windows defines it.
static_assert(WindowCoordinator::kCloseApp == ENDSESSION_CLOSEAPP);

// One for each scanner, by its number, clear of the settings watcher's.
constexpr UINT_PTR kRetryTimers = 0x100;

enum ControlId {
  kProgramIcon = 100,
  kLabelWWW,
  kLabel1,
  kLabel3,
  kLabel4,
  kLabel5,
  kLabel6,
  kLabelCOMport,
  kLabelBaudRate,
  kLabelByteSize,
  kLabelParity,
  kLabelStopBits,
  kFurtherScanners,  // one line each, from here on
};

enum MenuId { kRestore1 = 200, kOptions, kExit1 };

constexpr DWORD kCaption = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
constexpr DWORD kValue = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

// A further scanner's line, under the link, for each the window grows.
constexpr int kFurtherTop = 140, kFurtherHeight = 20;

const std::array<platform::ControlLayout, 12> kLayout{{
    {kProgramIcon, WC_STATICW, L"", -1, 2, 129, 119, SS_BITMAP | SS_CENTERIMAGE},
    {kLabelWWW, WC_STATICW, kProductHost, 10, 120, 110, 13, SS_NOTIFY | SS_NOPREFIX},
    {kLabel1, WC_STATICW, L"COM-порт:", 138, 10, 53, 13, kCaption, 0, platform::Fit::GrowLeft},
    {kLabel3, WC_STATICW, L"Скорость (бод):", 113, 30, 78, 13, kCaption, 0, platform::Fit::GrowLeft},
    {kLabel4, WC_STATICW, L"Бит в байте:", 129, 50, 62, 13, kCaption, 0, platform::Fit::GrowLeft},
    {kLabel5, WC_STATICW, L"Четность байта:", 108, 70, 83, 13, kCaption, 0, platform::Fit::GrowLeft},
    {kLabel6, WC_STATICW, L"Стоповые биты:", 110, 90, 81, 13, kCaption, 0, platform::Fit::GrowLeft},
    {kLabelCOMport, WC_STATICW, L"", 200, 10, 95, 13, kValue},
    {kLabelBaudRate, WC_STATICW, L"", 200, 30, 95, 13, kValue},
    {kLabelByteSize, WC_STATICW, L"", 200, 50, 95, 13, kValue},
    {kLabelParity, WC_STATICW, L"", 200, 70, 95, 13, kValue},
    {kLabelStopBits, WC_STATICW, L"", 200, 90, 95, 13, kValue},
}};

}  // namespace

class TFormBRMain::ModalScope {
 public:
  explicit ModalScope(TFormBRMain& form) : form_(form) { form_.coordinator_.EnterModal(); }
  ~ModalScope() {
    form_.Carry(form_.coordinator_.LeaveModal());
    if (form_.settingsChangeWatcher_) form_.settingsChangeWatcher_->ModalEnded();
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  TFormBRMain& form_;
};

TFormBRMain::TFormBRMain() {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const HICON icon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
  platform::RegisterFormClass(kWindowClass, &platform::RoutedWindowProcedure<TFormBRMain>, icon);
  window_.reset(::CreateWindowExW(0, kWindowClass, L"FormBRMain",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this));
  if (!window_) throw std::runtime_error("CreateWindowExW failed");
  const HWND window = window_.get();
  const platform::DpiScale scale(platform::DpiOf(window));
  font_ = platform::CreateFormFont(scale);
  platform::CreateControls(window, kLayout, scale, font_.get());
  picture_ = platform::LoadColourKeyedBitmap(IDB_BARCODE, ::GetSysColor(COLOR_BTNFACE));
  ::SendDlgItemMessageW(window, kProgramIcon, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
  platform::SizeAndCenter(window, kWindowWidth, kWindowHeight, platform::SizeOf::WholeWindow, scale);
  trayIcon_ = std::make_unique<TrayIcon>(window, kTrayIconId, WM_TRAYNOTIFY, icon, platform::ApplicationTitle());
  showMonitorMessage_ = AcceptShowMonitorMessage(window);

  // Without a reader the window still shows, so that the operator can read
  // why and close it; every command then does nothing.
  readerFailure_ = MakeReader(window, static_cast<ReaderSite&>(*this), readerParts_, BarCodReader);
  if (!BarCodReader) return;
  // Further scanners make it taller: centred as it is.
  ShowFurtherScanners();
  if (furtherShown_ > 0) platform::SizeAndCenter(window, kWindowWidth, Height(), platform::SizeOf::WholeWindow, scale);
  settingsChangeWatcher_ = std::make_unique<SettingsWatcher>(window, [this] {
    BarCodReader->OnSettingsChanged();
    RefreshLabels();
  });
}

TFormBRMain::~TFormBRMain() = default;

void TFormBRMain::FormCreate() {
  trayIcon_->Add();
  IsMinimizedToTray = false;
  ::SetWindowTextW(window_.get(), platform::ApplicationTitle().c_str());
  if (!readerFailure_.empty()) ShowStopMessage(std::exchange(readerFailure_, {}));
  // A port that will not open is reported here, before the window shows;
  // the others are read all the same.
  if (!BarCodReader) return;
  BarCodReader->InitComm();
  BarCodReader->ReadData();
}

void TFormBRMain::Show() {
  FormShow();
  ::ShowWindow(window_.get(), SW_SHOW);
  ::SetForegroundWindow(window_.get());
}

void TFormBRMain::ShowMonitor() {
  if (BarCodReader) TFormMonitor::ShowIn(monitor_, readerParts_->recent, readerParts_->registry, *BarCodReader, *this);
}

void TFormBRMain::RunModal(const std::function<void()>& dialog) {
  const ModalScope modal(*this);
  dialog();
}

void TFormBRMain::ShowStopMessage(const std::wstring& text) {
  const ModalScope modal(*this);
  platform::ShowStopMessage(text, window_.get());
}

std::wstring TFormBRMain::ErrorText(std::uint32_t error) { return platform::SystemErrorText(error); }

void TFormBRMain::PostLineLost(unsigned generation) { ::PostMessageW(window_.get(), WM_LINELOST, generation, 0); }

void TFormBRMain::ScheduleRetry(unsigned scanner, std::chrono::milliseconds delay) {
  ::SetTimer(window_.get(), kRetryTimers + scanner, static_cast<UINT>(delay.count()), nullptr);
}

void TFormBRMain::CancelRetry(unsigned scanner) { ::KillTimer(window_.get(), kRetryTimers + scanner); }

void TFormBRMain::LinkChanged() {
  if (!BarCodReader) return;
  std::wstring lost;
  for (const std::wstring& port : BarCodReader->LostPorts()) lost += (lost.empty() ? L"" : L", ") + port;
  trayIcon_->SetTip(TrayTip(platform::ApplicationTitle(), !lost.empty(), lost, readerParts_->recent.typingHeld));
  ShowFurtherScanners();
}

void TFormBRMain::Carry(const WindowSteps& steps) {
  for (const WindowStep step : steps) {
    switch (step) {
      case WindowStep::EndModalAsCancel:
        EndModalWindows();
        break;
      case WindowStep::StopReading:
        FormCloseQuery();
        break;
      case WindowStep::ClosePort:
        FormClose();
        break;
      case WindowStep::Close:
        Close();
        break;
      case WindowStep::PostClose:
        ::PostMessageW(window_.get(), WM_CLOSE, 0, 0);
        break;
      case WindowStep::BringModalToFront:
        platform::BringOwnedWindowToFront(window_.get());
        break;
      case WindowStep::RestoreFromTray:
        Restore1Click();
        ::SetForegroundWindow(window_.get());
        break;
      case WindowStep::ShowMenu:
        ShowMenu();
        break;
      case WindowStep::ShowMinimized:
        IsMinimizedToTray = false;
        ::ShowWindow(window_.get(), SW_SHOWMINNOACTIVE);
        break;
    }
  }
}

void TFormBRMain::EndModalWindows() {
  if (BarCodReader) BarCodReader->CancelSettings();
  platform::EndOwnedMessageBoxes(window_.get());
}

void TFormBRMain::Close() {
  // The reader thread stops before its port closes, whatever asked.
  FormCloseQuery();
  FormClose();
  window_.reset();
}

void TFormBRMain::FormShow() { RefreshLabels(); }

void TFormBRMain::RefreshLabels() {
  if (!BarCodReader) return;
  // The stored texts, not the port a command line may have chosen.
  const PortSettings& texts = BarCodReader->scanners.front().texts;
  const HWND window = window_.get();
  ::SetDlgItemTextW(window, kLabelCOMport, texts.NamePort.c_str());
  ::SetDlgItemTextW(window, kLabelBaudRate, texts.BaudRate.c_str());
  ::SetDlgItemTextW(window, kLabelByteSize, texts.ByteSize.c_str());
  ::SetDlgItemTextW(window, kLabelParity, texts.Parity.c_str());
  ::SetDlgItemTextW(window, kLabelStopBits, texts.StopBits.c_str());
  ShowFurtherScanners();
  if (monitor_) monitor_->Refresh();
}

std::vector<platform::ControlLayout> TFormBRMain::Layout() const {
  std::vector<platform::ControlLayout> layout(kLayout.begin(), kLayout.end());
  for (int i = 0; i < furtherShown_; ++i) {
    layout.push_back({kFurtherScanners + i, WC_STATICW, L"", 10, kFurtherTop + i * kFurtherHeight, 285, 13, kValue});
  }
  return layout;
}

void TFormBRMain::ShowFurtherScanners() {
  const HWND window = window_.get();
  const ScannerList& scanners = BarCodReader->scanners;
  const int further = static_cast<int>(scanners.size()) - 1;
  if (further != furtherShown_) {
    for (int i = 0; i < furtherShown_; ++i) ::DestroyWindow(::GetDlgItem(window, kFurtherScanners + i));
    furtherShown_ = further;
    const std::vector<platform::ControlLayout> layout = Layout();
    const platform::DpiScale scale(platform::DpiOf(window));
    platform::CreateControls(window, std::span(layout).subspan(kLayout.size()), scale, font_.get());
    // The one resize the window makes itself: a line for each further scanner.
    RECT frame;
    ::GetWindowRect(window, &frame);
    rescaling_ = true;
    ::SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, scale(Height()),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    rescaling_ = false;
  }
  for (int i = 0; i < further; ++i) {
    const ScannerSettings& scanner = scanners[static_cast<std::size_t>(i) + 1];
    const ScannerLink* const link = BarCodReader->Link(scanner.number);
    std::wstring text = scanner.texts.NamePort + L": ";
    if (!link) {
      text += L"не читается, этот порт читается для другого сканера";
    } else {
      text += ShortLineName(link->line()) + L", " +
              (link->lost() ? L"нет связи с " + LostSince(link->lostPort()) : std::wstring(L"открыт"));
    }
    ::SetDlgItemTextW(window, kFurtherScanners + i, text.c_str());
  }
}

int TFormBRMain::Height() const { return kWindowHeight + furtherShown_ * kFurtherHeight; }

void TFormBRMain::FormCloseQuery() {
  if (BarCodReader) BarCodReader->StopReading();
}

void TFormBRMain::FormClose() {
  if (BarCodReader) BarCodReader->ClosePort();
}

void TFormBRMain::FormDestroy() {
  monitor_.reset();
  settingsChangeWatcher_.reset();
  BarCodReader.reset();
  if (trayIcon_) trayIcon_->Remove();  // none when the constructor failed before it
}

void TFormBRMain::AppMinimize() {
  // Hidden, it has no taskbar entry; the tray icon is the way back. Where
  // the shell refused the icon (a kiosk or replacement shell), it stays on
  // the taskbar as any minimised window.
  if (!trayIcon_ || !trayIcon_->InTray()) return;
  IsMinimizedToTray = true;
  ::ShowWindow(window_.get(), SW_HIDE);
}

void TFormBRMain::WMTrayNotify(LPARAM mouseMessage) {
  Carry(coordinator_.OnTrayMouse(TrayIcon::MouseOf(mouseMessage), IsMinimizedToTray));
}

void TFormBRMain::ShowMenu() {
  const TrayIcon::MenuItem restore{kRestore1, L"Восстановить"};
  const TrayIcon::MenuItem rest[] = {{kOptions, L"Настройки"}, {0, nullptr}, {kExit1, L"Закрыть"}};
  std::vector<TrayIcon::MenuItem> items;
  if (IsMinimizedToTray) items.push_back(restore);
  items.insert(items.end(), std::begin(rest), std::end(rest));
  trayIcon_->ShowMenu(items);
}

bool TFormBRMain::OnCommand(WORD id, WORD notification) {
  // A menu command under a dialog; a control's notification is fine.
  if (notification == 0 && !coordinator_.CommandAllowed()) return true;
  switch (id) {
    case kRestore1:
      Restore1Click();
      return true;
    case kOptions:
      OptionsClick();
      return true;
    case kExit1:
      ::PostMessageW(window_.get(), WM_CLOSE, 0, 0);
      return true;
    case kLabelWWW:
      if (notification == STN_CLICKED) LabelWWWClick();
      return true;
  }
  return false;
}

void TFormBRMain::Restore1Click() {
  IsMinimizedToTray = false;
  ::ShowWindow(window_.get(), SW_RESTORE);
}

void TFormBRMain::OptionsClick() {
  if (!BarCodReader) return;
  {
    const ModalScope modal(*this);
    BarCodReader->ShowSettings();
  }
  RefreshLabels();
}

void TFormBRMain::LabelWWWClick() {
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteW(::GetDesktopWindow(), L"open", kProductPage, nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return;
  diagnostics::Failure(L"opening the product page in the browser", static_cast<std::uint32_t>(result));
  const ModalScope modal(*this);
  ::MessageBoxW(window_.get(), kBrowserFailed.c_str(), platform::ApplicationTitle().c_str(), MB_OK);
}

LRESULT TFormBRMain::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TRAYNOTIFY) {
    WMTrayNotify(lParam);
    return 0;
  }
  if (message == showMonitorMessage_ || (message == WM_KEYDOWN && wParam == 'M' && ::GetKeyState(VK_CONTROL) < 0)) {
    ShowMonitor();
    return 0;
  }
  if (trayIcon_ && trayIcon_->ReAddOn(message)) {
    Carry(coordinator_.OnTaskbarCreated(IsMinimizedToTray, trayIcon_->InTray()));
    return 0;
  }
  if (settingsChangeWatcher_ && settingsChangeWatcher_->OnMessage(message, wParam, lParam, coordinator_.Modal())) {
    return 0;
  }
  switch (message) {
    case WM_CODEBALLOON:
      if (readerParts_ && trayIcon_) trayIcon_->ShowBalloon(readerParts_->typist.TakeBalloon());
      return 0;
    case WM_LINELOST:
      if (BarCodReader) BarCodReader->OnLineLost(static_cast<unsigned>(wParam));
      return 0;
    case WM_TIMER:
      if (wParam <= kRetryTimers) break;
      // One attempt per request; the reader asks for the next.
      ::KillTimer(window, wParam);
      if (BarCodReader) BarCodReader->OnRetryTimer(static_cast<unsigned>(wParam - kRetryTimers));
      return 0;
    case WM_DEVICECHANGE: {
      const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
      const std::uint32_t deviceType = header != nullptr ? header->dbch_devicetype : 0;
      if (IsPortArrival(wParam, header != nullptr ? &deviceType : nullptr) && BarCodReader) {
        BarCodReader->OnDeviceArrival();
      }
      break;
    }
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam), HIWORD(wParam))) return 0;
      break;
    case WM_CONTEXTMENU:
      Carry(coordinator_.OnContextMenu());
      return 0;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) AppMinimize();
      break;
    case WM_WINDOWPOSCHANGING: {
      // Every resize is refused: the window keeps its designed size.
      auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
      if (!rescaling_ && !::IsIconic(window) && ::IsWindowVisible(window)) position->flags |= SWP_NOSIZE;
      break;
    }
    case WM_DPICHANGED:
      // Moved to a monitor of another density; the one resize not refused.
      rescaling_ = true;
      platform::Rescale(window, {Layout(), kWindowWidth, Height(), platform::SizeOf::WholeWindow}, LOWORD(wParam),
                        *reinterpret_cast<const RECT*>(lParam), font_);
      rescaling_ = false;
      return 0;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == ::GetDlgItem(window, kLabelWWW)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(window, kLabelWWW)) {
        const auto dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, RGB(0, 0, 128));
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_CLOSE:
      Carry(coordinator_.OnCloseRequest());
      return 0;
    case WM_QUERYENDSESSION:
      return coordinator_.OnQueryEndSession() ? TRUE : FALSE;
    case WM_ENDSESSION:
      Carry(coordinator_.OnEndSession(wParam != FALSE, static_cast<std::uint32_t>(lParam)));
      return 0;
    case WM_DESTROY:
      FormDestroy();
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      window_.release();
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
