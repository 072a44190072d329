#include "settings_dialog/win/form_br_options.h"

#include <commctrl.h>

#include <array>
#include <stdexcept>
#include <string>

namespace {

constexpr wchar_t kWindowClass[] = L"TFormBROptions";
constexpr int kClientWidth = 363;
constexpr int kClientHeight = 213;

enum ControlId {
  kBevel1 = 100,
  kLabel1,
  kLabel2,
  kLabel3,
  kLabel4,
  kLabel5,
  kCbName,
  kCbBaudRate,
  kCbDataBits,
  kCbParity,
  kCbStopBits,
  kCbAutoStart,
  kBtnDefault,
  kBtnOK,
  kBtnCancel,
};

constexpr DWORD kList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kLabel = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

// In tab order first, then the controls the focus never visits.
const std::array<platform::ControlLayout, 15> kLayout{{
    {kCbAutoStart, WC_BUTTONW, L"Начинать работу при запуске Windows", 11, 168, 244, 16, BS_AUTOCHECKBOX | WS_TABSTOP,
     0, platform::Fit::GrowRight},
    {kBtnOK, WC_BUTTONW, L"&OK", 270, 68, 84, 25, kButton},
    {kBtnCancel, WC_BUTTONW, L"О&тмена", 270, 96, 84, 25, kButton},
    {kBtnDefault, WC_BUTTONW, L"По &умолчанию", 270, 26, 84, 25, kButton},
    {kCbStopBits, WC_COMBOBOXW, L"", 139, 126, 78, 21, kList},
    {kCbParity, WC_COMBOBOXW, L"", 139, 99, 78, 21, kList},
    {kCbDataBits, WC_COMBOBOXW, L"", 139, 73, 78, 21, kList},
    {kCbBaudRate, WC_COMBOBOXW, L"", 139, 47, 78, 21, kList},
    {kCbName, WC_COMBOBOXW, L"", 139, 21, 78, 21, kList},
    {kLabel1, WC_STATICW, L"COM-порт:", 68, 25, 53, 13, kLabel, 0, platform::Fit::GrowLeft},
    {kLabel2, WC_STATICW, L"Скорость (бод):", 43, 51, 78, 13, kLabel, 0, platform::Fit::GrowLeft},
    {kLabel3, WC_STATICW, L"Бит в байте:", 59, 77, 62, 13, kLabel, 0, platform::Fit::GrowLeft},
    {kLabel4, WC_STATICW, L"Четность байта:", 38, 103, 83, 13, kLabel, 0, platform::Fit::GrowLeft},
    {kLabel5, WC_STATICW, L"Стоповые биты:", 40, 130, 81, 13, kLabel, 0, platform::Fit::GrowLeft},
    {kBevel1, WC_STATICW, L"", 11, 8, 247, 153, SS_ETCHEDFRAME, WS_EX_TRANSPARENT},
}};

struct ListControl {
  int id;
  const OptionList& list;
};

// In the order the texts are looked up and taken back.
std::array<ListControl, 5> Lists(const OptionList& ports) {
  return {{
      {kCbName, ports},
      {kCbBaudRate, option_lists::kBaudRate},
      {kCbDataBits, option_lists::kDataBit},
      {kCbParity, option_lists::kParity},
      {kCbStopBits, option_lists::kStopBit},
  }};
}

}  // namespace

TFormBROptions::TFormBROptions(HWND owner, platform::Registry& registry) : owner_(owner), registry_(registry) {
  platform::RegisterFormClass(kWindowClass, &platform::RoutedWindowProcedure<TFormBROptions>);
  window_.reset(::CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kWindowClass, L"Настройки",
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, owner_,
                                  nullptr, ::GetModuleHandleW(nullptr), this));
  if (!window_) throw std::runtime_error("CreateWindowExW failed");
  const platform::DpiScale scale(platform::DpiOf(window_.get()));
  font_ = platform::CreateFormFont(scale);
  platform::SizeAndCenter(window_.get(), kClientWidth, kClientHeight, platform::SizeOf::ClientArea, scale);
  platform::CreateControls(window_.get(), kLayout, scale, font_.get());
}

HWND TFormBROptions::Control(int id) const { return ::GetDlgItem(window_.get(), id); }

int TFormBROptions::ShowModal() {
  // As Windows' own modal dialogs do: the owner waits, also while it is
  // hidden in the tray, so none of its commands can run under the dialog.
  const bool ownerWasEnabled = owner_ != nullptr && !::EnableWindow(owner_, FALSE);
  FormShow();
  modalResult_ = 0;
  ::ShowWindow(window_.get(), SW_SHOW);
  ::SetForegroundWindow(window_.get());
  ::SetFocus(Control(kCbAutoStart));  // first in the tab order
  MSG message;
  while (modalResult_ == 0) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      // The application is ending: leave the quit for the main loop.
      if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
      modalResult_ = mrCancel;
      break;
    }
    if (!::IsDialogMessageW(window_.get(), &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  // Enabled before the dialog hides, so that the activation goes back to
  // the owner rather than to another program.
  if (ownerWasEnabled) ::EnableWindow(owner_, TRUE);
  ::ShowWindow(window_.get(), SW_HIDE);
  return modalResult_;
}

void TFormBROptions::BringToFront() {
  ::ShowWindow(window_.get(), SW_SHOW);
  ::SetForegroundWindow(window_.get());
}

void TFormBROptions::EndAsCancel() { ::PostMessageW(window_.get(), WM_CLOSE, 0, 0); }

void TFormBROptions::SelectFromTexts() {
  for (const ListControl& control : Lists(portList_)) {
    const std::size_t position = PositionFor(control.list, portSettings.*(control.list.text));
    ::SendMessageW(Control(control.id), CB_SETCURSEL, position, 0);
  }
}

void TFormBROptions::FormShow() {
  // Ports come and go with their adapters: the list is made for each showing.
  portList_ = PortList(registry_, portSettings.NamePort);
  for (const ListControl& control : Lists(portList_)) {
    ::SendMessageW(Control(control.id), CB_RESETCONTENT, 0, 0);
    for (const std::wstring& entry : control.list.entries) {
      ::SendMessageW(Control(control.id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
  }
  SelectFromTexts();
  ::SendMessageW(Control(kCbAutoStart), BM_SETCHECK, AutoStart ? BST_CHECKED : BST_UNCHECKED, 0);
  // What a policy enforces shows as it is, and cannot be changed.
  for (const ListControl& control : Lists(portList_)) {
    ::EnableWindow(Control(control.id), !enforced.Covers(control.list.text));
  }
  ::EnableWindow(Control(kCbAutoStart), !enforced.autoStart);
}

void TFormBROptions::btnOKClick() {
  for (const ListControl& control : Lists(portList_)) {
    if (enforced.Covers(control.list.text)) continue;
    const LRESULT position = ::SendMessageW(Control(control.id), CB_GETCURSEL, 0, 0);
    if (position >= 0 && static_cast<std::size_t>(position) < control.list.entries.size()) {
      portSettings.*(control.list.text) = control.list.entries[static_cast<std::size_t>(position)];
    }
  }
  if (!enforced.autoStart) AutoStart = ::SendMessageW(Control(kCbAutoStart), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TFormBROptions::btnDefaultClick() {
  for (const ListControl& control : Lists(portList_)) {
    if (!enforced.Covers(control.list.text))
      portSettings.*(control.list.text) = kDefaultPortSettings.*(control.list.text);
  }
  if (!enforced.autoStart) AutoStart = false;
  SelectFromTexts();
  ::SendMessageW(Control(kCbAutoStart), BM_SETCHECK, AutoStart ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TFormBROptions::btnCancelClick() {
  SelectFromTexts();
  ::SendMessageW(Control(kCbAutoStart), BM_SETCHECK, AutoStart ? BST_CHECKED : BST_UNCHECKED, 0);
}

LRESULT TFormBROptions::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) break;
      // Enter and Escape arrive as IDOK and IDCANCEL from the dialog
      // manager; with no default or cancel button they do nothing.
      switch (LOWORD(wParam)) {
        case kBtnOK:
          btnOKClick();
          modalResult_ = mrOk;
          return 0;
        case kBtnDefault:
          btnDefaultClick();
          return 0;
        case kBtnCancel:
          btnCancelClick();
          return 0;
        default:
          return 0;
      }
    case WM_CLOSE:
      modalResult_ = mrCancel;
      return 0;
    case WM_NCDESTROY:
      // Gone with its owner, perhaps: nothing is left to destroy.
      window_.release();
      break;
    case WM_DPICHANGED:
      // Moved to a monitor of another density.
      platform::Rescale(window, {kLayout, kClientWidth, kClientHeight, platform::SizeOf::ClientArea}, LOWORD(wParam),
                        *reinterpret_cast<const RECT*>(lParam), font_);
      return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
