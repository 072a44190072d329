#include "app/win/form_br_main.h"

#include <commctrl.h>
#include <dbt.h>

#include <array>
#include <stdexcept>
#include <string>

#include "app/resources/resource_ids.h"
#include "platform/win/application.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TFormBRMain";
constexpr int kWindowWidth = 300;
constexpr int kWindowHeight = 170;

// The maker's product page, opened by the link under the picture.
constexpr wchar_t kProductPage[] = L"http://www.ombrek.ru/marvane.asp";
constexpr wchar_t kProductHost[] = L"www.ombrek.ru";
const std::wstring kBrowserFailed = L"Ошибка при открытии Интернет-браузера по умолчанию";
// Follows the title in the tray tip while the port is lost: " — COMn: нет связи".
constexpr wchar_t kLinkLostTip[] = L": нет связи";
constexpr wchar_t kTipSeparator[] = L" — ";

constexpr UINT_PTR kRetryTimer = 1;

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
};

enum MenuId { kRestore1 = 200, kOptions, kExit1 };

constexpr DWORD kCaption = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
constexpr DWORD kValue = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

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

// Explorer broadcasts it when it (re)starts; its tray is empty then.
const UINT kTaskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");

// The picture with the colour of its bottom-left pixel replaced by the
// window's face colour, so that it shows through.
platform::UniqueBitmap LoadTransparentBitmap(int id) {
  platform::UniqueBitmap bitmap(static_cast<HBITMAP>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  DIBSECTION dib{};
  if (!bitmap || ::GetObjectW(bitmap.get(), sizeof dib, &dib) != sizeof dib || dib.dsBm.bmBitsPixel != 24) {
    return bitmap;
  }
  auto* const pixels = static_cast<BYTE*>(dib.dsBm.bmBits);
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  const BYTE key[3] = {pixels[0], pixels[1], pixels[2]};  // rows run bottom-up
  for (LONG y = 0; y < dib.dsBm.bmHeight; ++y) {
    BYTE* pixel = pixels + y * dib.dsBm.bmWidthBytes;
    for (LONG x = 0; x < dib.dsBm.bmWidth; ++x, pixel += 3) {
      if (pixel[0] == key[0] && pixel[1] == key[1] && pixel[2] == key[2]) {
        pixel[0] = GetBValue(face);
        pixel[1] = GetGValue(face);
        pixel[2] = GetRValue(face);
      }
    }
  }
  return bitmap;
}

}  // namespace

class TFormBRMain::ModalScope {
 public:
  explicit ModalScope(TFormBRMain& form) : form_(form) { ++form_.modalDepth_; }
  ~ModalScope() {
    if (--form_.modalDepth_ == 0 && form_.exitRequested_) ::PostMessageW(form_.window_, WM_CLOSE, 0, 0);
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  TFormBRMain& form_;
};

TFormBRMain::TFormBRMain() {
  platform::RegisterFormClass(kWindowClass, &platform::RoutedWindowProcedure<TFormBRMain>,
                              ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM)));
  window_ = ::CreateWindowExW(0, kWindowClass, L"FormBRMain",
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME, CW_USEDEFAULT,
                              CW_USEDEFAULT, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) throw std::runtime_error("CreateWindowExW failed");
  const platform::DpiScale scale(platform::DpiOf(window_));
  font_ = platform::CreateFormFont(scale);
  platform::CreateControls(window_, kLayout, scale, font_.get());
  picture_ = LoadTransparentBitmap(IDB_BARCODE);
  ::SendDlgItemMessageW(window_, kProgramIcon, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
  platform::SizeAndCenter(window_, kWindowWidth, kWindowHeight, platform::SizeOf::WholeWindow, scale);

  TrayIconData.cbSize = sizeof TrayIconData;
  TrayIconData.hWnd = window_;
  TrayIconData.uID = kTrayIconId;
  TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  TrayIconData.uCallbackMessage = WM_TRAYNOTIFY;
  TrayIconData.hIcon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PROGRAM));
  ::lstrcpynW(TrayIconData.szTip, platform::ApplicationTitle().c_str(), ARRAYSIZE(TrayIconData.szTip));

  try {
    readerParts_ = std::make_unique<WinReaderParts>(window_);
    BarCodReader = std::make_unique<CBarCodReader>(readerParts_->store, readerParts_->ports, readerParts_->typist,
                                                   readerParts_->dialogs, static_cast<ReaderSite&>(*this),
                                                   platform::CommandLineArguments());
  } catch (...) {
    // The window runs without a reader; every command then does nothing.
    BarCodReader.reset();
  }
}

TFormBRMain::~TFormBRMain() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void TFormBRMain::FormCreate() {
  AddTrayIcon();
  IsMinimizedToTray = false;
  ::SetWindowTextW(window_, platform::ApplicationTitle().c_str());
  // A port that will not open is reported here, before the window shows.
  if (BarCodReader && BarCodReader->InitComm()) BarCodReader->ReadData();
}

void TFormBRMain::Show() {
  FormShow();
  ::ShowWindow(window_, SW_SHOW);
  ::SetForegroundWindow(window_);
}

void TFormBRMain::AddTrayIcon() { ::Shell_NotifyIconW(NIM_ADD, &TrayIconData); }

void TFormBRMain::RefreshTrayTip() {
  std::wstring tip = platform::ApplicationTitle();
  if (BarCodReader && BarCodReader->LinkLost()) {
    tip += kTipSeparator + BarCodReader->lineParameters().portName + kLinkLostTip;
  }
  ::lstrcpynW(TrayIconData.szTip, tip.c_str(), ARRAYSIZE(TrayIconData.szTip));
  ::Shell_NotifyIconW(NIM_MODIFY, &TrayIconData);
}

void TFormBRMain::ShowStopMessage(const std::wstring& text) {
  const ModalScope modal(*this);
  platform::ShowStopMessage(text, window_);
}

void TFormBRMain::PostLineLost(unsigned generation) { ::PostMessageW(window_, WM_LINELOST, generation, 0); }

void TFormBRMain::ScheduleRetry(std::chrono::milliseconds delay) {
  ::SetTimer(window_, kRetryTimer, static_cast<UINT>(delay.count()), nullptr);
}

void TFormBRMain::CancelRetry() { ::KillTimer(window_, kRetryTimer); }

void TFormBRMain::LinkChanged() { RefreshTrayTip(); }

void TFormBRMain::EndModalWindows() {
  if (BarCodReader) BarCodReader->CancelSettings();
  // The program's message boxes have OK alone, which ends them.
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM owner) CALLBACK -> BOOL {
        wchar_t className[16] = {};
        ::GetClassNameW(window, className, ARRAYSIZE(className));
        if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) && std::wstring(className) == L"#32770") {
          ::PostMessageW(window, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(window_));
}

void TFormBRMain::BringModalToFront() {
  // The dialog or the box: the visible window this one owns.
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM owner) CALLBACK -> BOOL {
        if (::GetWindow(window, GW_OWNER) != reinterpret_cast<HWND>(owner) || !::IsWindowVisible(window)) return TRUE;
        ::SetForegroundWindow(window);
        return FALSE;
      },
      reinterpret_cast<LPARAM>(window_));
}

void TFormBRMain::Close() {
  // The reader thread stops before its port closes, whatever asked.
  FormCloseQuery();
  FormClose();
  ::DestroyWindow(window_);
}

void TFormBRMain::FormShow() { RefreshLabels(); }

void TFormBRMain::RefreshLabels() {
  if (!BarCodReader) return;
  // The stored texts, not the port a command line may have chosen.
  const PortSettings& texts = BarCodReader->portSettings;
  ::SetDlgItemTextW(window_, kLabelCOMport, texts.NamePort.c_str());
  ::SetDlgItemTextW(window_, kLabelBaudRate, texts.BaudRate.c_str());
  ::SetDlgItemTextW(window_, kLabelByteSize, texts.ByteSize.c_str());
  ::SetDlgItemTextW(window_, kLabelParity, texts.Parity.c_str());
  ::SetDlgItemTextW(window_, kLabelStopBits, texts.StopBits.c_str());
}

void TFormBRMain::FormCloseQuery() {
  if (BarCodReader) BarCodReader->StopReading();
}

void TFormBRMain::FormClose() {
  if (BarCodReader) BarCodReader->ClosePort();
}

void TFormBRMain::FormDestroy() {
  BarCodReader.reset();
  ::Shell_NotifyIconW(NIM_DELETE, &TrayIconData);
}

void TFormBRMain::AppMinimize() {
  IsMinimizedToTray = true;
  // Hidden, it has no taskbar entry; the tray icon is the way back.
  ::ShowWindow(window_, SW_HIDE);
}

void TFormBRMain::WMTrayNotify(LPARAM mouseMessage) {
  if (Modal()) {
    if (mouseMessage == WM_LBUTTONUP || mouseMessage == WM_RBUTTONUP || mouseMessage == WM_LBUTTONDBLCLK) {
      BringModalToFront();
    }
    return;
  }
  if (!IsMinimizedToTray) return;
  switch (mouseMessage) {
    case WM_LBUTTONDBLCLK:
      IsMinimizedToTray = false;
      ::ShowWindow(window_, SW_RESTORE);
      ::SetForegroundWindow(window_);
      break;
    case WM_RBUTTONDOWN:
      PopupAtCursor();
      break;
  }
}

void TFormBRMain::PopupAtCursor() {
  POINT cursor;
  ::GetCursorPos(&cursor);
  const HMENU menu = ::CreatePopupMenu();
  if (IsMinimizedToTray) ::AppendMenuW(menu, MF_STRING, kRestore1, L"Восстановить");
  ::AppendMenuW(menu, MF_STRING, kOptions, L"Настройки");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, kExit1, L"Закрыть");
  // In front first, or the menu stays open when the operator clicks
  // elsewhere.
  ::SetForegroundWindow(window_);
  ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window_, nullptr);
  ::PostMessageW(window_, WM_NULL, 0, 0);
  ::DestroyMenu(menu);
}

void TFormBRMain::Restore1Click() {
  IsMinimizedToTray = false;
  ::ShowWindow(window_, SW_RESTORE);
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
  const ModalScope modal(*this);
  ::MessageBoxW(window_, kBrowserFailed.c_str(), platform::ApplicationTitle().c_str(), MB_OK);
}

LRESULT TFormBRMain::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TRAYNOTIFY) {
    WMTrayNotify(lParam);
    return 0;
  }
  if (message == kTaskbarCreated) {
    AddTrayIcon();
    return 0;
  }
  switch (message) {
    case WM_LINELOST:
      if (BarCodReader) BarCodReader->OnLineLost(static_cast<unsigned>(wParam));
      return 0;
    case WM_TIMER:
      if (wParam != kRetryTimer) break;
      // One attempt per request; the reader asks for the next.
      ::KillTimer(window_, kRetryTimer);
      if (BarCodReader) BarCodReader->OnRetryTimer();
      return 0;
    case WM_DEVICECHANGE:
      if (wParam == DBT_DEVICEARRIVAL && lParam != 0 &&
          reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam)->dbch_devicetype == DBT_DEVTYP_PORT && BarCodReader) {
        BarCodReader->OnDeviceArrival();
      }
      break;
    case WM_COMMAND:
      if (Modal() && HIWORD(wParam) == 0) return 0;  // a menu command under a dialog
      switch (LOWORD(wParam)) {
        case kRestore1:
          Restore1Click();
          return 0;
        case kOptions:
          OptionsClick();
          return 0;
        case kExit1:
          ::PostMessageW(window_, WM_CLOSE, 0, 0);
          return 0;
        case kLabelWWW:
          if (HIWORD(wParam) == STN_CLICKED) LabelWWWClick();
          return 0;
      }
      break;
    case WM_CONTEXTMENU:
      if (!Modal()) PopupAtCursor();
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
      platform::Rescale(window, {kLayout, kWindowWidth, kWindowHeight, platform::SizeOf::WholeWindow}, LOWORD(wParam),
                        *reinterpret_cast<const RECT*>(lParam), font_);
      rescaling_ = false;
      return 0;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == ::GetDlgItem(window_, kLabelWWW)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(window_, kLabelWWW)) {
        const auto dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, RGB(0, 0, 128));
        ::SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_CLOSE:
      if (Modal()) {
        // The dialog or box up the stack still uses the reader.
        exitRequested_ = true;
        EndModalWindows();
        return 0;
      }
      Close();
      return 0;
    case WM_QUERYENDSESSION:
      if (Modal()) {
        exitRequested_ = true;
        EndModalWindows();
      }
      return TRUE;
    case WM_ENDSESSION:
      if (wParam == FALSE) return 0;
      // Windows ends the process once this returns. Under a dialog or box
      // the port is still left as it should be; nothing it uses is freed.
      if (Modal()) {
        FormCloseQuery();
        FormClose();
      } else {
        Close();
      }
      return 0;
    case WM_DESTROY:
      FormDestroy();
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      window_ = nullptr;
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
