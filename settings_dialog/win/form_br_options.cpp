#include "settings_dialog/win/form_br_options.h"

#include <commctrl.h>

#include <array>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/conversions.h"
#include "platform/win/application.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TFormBROptions";
constexpr int kClientWidth = 363;
constexpr int kClientHeight = 213;
// With further scanners: the row of the scanner picked above the line, and
// the end of a code and the two replies in it.
constexpr int kPickerRow = 28;
constexpr int kLineRow = 26, kFurtherRows = 3 * kLineRow;

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
  kBtnAdd,
  kBtnRemove,
  kLabelScanner,
  kCbScanner,
  kLabelCodeEnd,
  kCbCodeEnd,
  kLabelReplyTyped,
  kCbReplyTyped,
  kLabelReplyRefused,
  kCbReplyRefused,
};

constexpr DWORD kList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP;
constexpr DWORD kLabel = SS_LEFTNOWORDWRAP | SS_NOPREFIX;

// In tab order first, then the controls the focus never visits: the dialog
// as it is with one scanner.
const std::array<platform::ControlLayout, 16> kLayout{{
    {kCbAutoStart, WC_BUTTONW, L"Начинать работу при запуске Windows", 11, 168, 244, 16, BS_AUTOCHECKBOX | WS_TABSTOP,
     0, platform::Fit::GrowRight},
    {kBtnOK, WC_BUTTONW, L"&OK", 270, 68, 84, 25, kButton},
    {kBtnCancel, WC_BUTTONW, L"О&тмена", 270, 96, 84, 25, kButton},
    {kBtnDefault, WC_BUTTONW, L"По &умолчанию", 270, 26, 84, 25, kButton},
    {kBtnAdd, WC_BUTTONW, L"Добавить сканер", 264, 130, 96, 25, kButton},
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

// What a dialog of several scanners adds, where it ends up: the scanner
// picked and its removal above the line, the end of a code under it. Each
// follows the control named in tab order.
struct FurtherControl {
  platform::ControlLayout layout;
  int after;
};
const std::array<FurtherControl, 9> kFurther{{
    {{kBtnRemove, WC_BUTTONW, L"Удалить сканер", 264, 4, 96, 25, kButton}, kBtnAdd},
    {{kCbReplyRefused, WC_COMBOBOXW, L"", 139, 152 + kPickerRow + 2 * kLineRow, 78, 21, kList}, kBtnRemove},
    {{kCbReplyTyped, WC_COMBOBOXW, L"", 139, 152 + kPickerRow + kLineRow, 78, 21, kList}, kCbReplyRefused},
    {{kCbCodeEnd, WC_COMBOBOXW, L"", 139, 152 + kPickerRow, 78, 21, kList}, kCbReplyTyped},
    {{kCbScanner, WC_COMBOBOXW, L"", 139, 6, 78, 21, kList}, kCbName},
    {{kLabelScanner, WC_STATICW, L"Сканер:", 79, 10, 42, 13, kLabel, 0, platform::Fit::GrowLeft}, kBevel1},
    {{kLabelCodeEnd, WC_STATICW, L"Конец кода:", 58, 156 + kPickerRow, 63, 13, kLabel, 0, platform::Fit::GrowLeft},
     kLabelScanner},
    {{kLabelReplyTyped, WC_STATICW, L"Ответ после ввода:", 24, 156 + kPickerRow + kLineRow, 97, 13, kLabel, 0,
      platform::Fit::GrowLeft},
     kLabelCodeEnd},
    {{kLabelReplyRefused, WC_STATICW, L"Ответ при отказе:", 30, 156 + kPickerRow + 2 * kLineRow, 91, 13, kLabel, 0,
      platform::Fit::GrowLeft},
     kLabelReplyTyped},
}};

// The table moved down below the picker's row, the line's frame and what
// is under it grown by the end of a code's; with the further controls.
std::vector<platform::ControlLayout> LayoutFor(bool several) {
  std::vector<platform::ControlLayout> layout(kLayout.begin(), kLayout.end());
  if (!several) return layout;
  for (platform::ControlLayout& control : layout) {
    control.top += kPickerRow;
    if (control.id == kBevel1) control.height += kFurtherRows;
    if (control.id == kCbAutoStart) control.top += kFurtherRows;
  }
  for (const FurtherControl& further : kFurther) layout.push_back(further.layout);
  return layout;
}

int ClientHeight(bool several) { return kClientHeight + (several ? kPickerRow + kFurtherRows : 0); }

const std::wstring kSamePortTwice = L"Порт %s выбран для двух сканеров: у каждого сканера должен быть свой порт.";

struct ListControl {
  int id;
  const OptionList& list;
};

// In the order the texts are looked up and taken back: with one scanner,
// its end of a code and replies are IT's, as before there were several.
std::vector<ListControl> Lists(const std::array<OptionList, 4>& lists, bool several) {
  std::vector<ListControl> controls{
      {kCbName, lists[0]},
      {kCbBaudRate, option_lists::kBaudRate},
      {kCbDataBits, option_lists::kDataBit},
      {kCbParity, option_lists::kParity},
      {kCbStopBits, option_lists::kStopBit},
  };
  if (several) {
    controls.push_back({kCbCodeEnd, lists[1]});
    controls.push_back({kCbReplyTyped, lists[2]});
    controls.push_back({kCbReplyRefused, lists[3]});
  }
  return controls;
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

void TFormBROptions::Arrange() {
  const bool several = scanners.size() > 1;
  if (several == several_) return;
  several_ = several;
  const HWND window = window_.get();
  const platform::DpiScale scale(platform::DpiOf(window));
  for (const FurtherControl& further : kFurther) {
    if (!several) {
      ::DestroyWindow(Control(further.layout.id));
      continue;
    }
    platform::CreateControls(window, std::span(&further.layout, 1), scale, font_.get());
    ::SetWindowPos(Control(further.layout.id), Control(further.after), 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  platform::ArrangeControls(window, LayoutFor(several), scale, font_.get());
  RECT frame;
  ::GetWindowRect(window, &frame);
  platform::SizeAt(window, kClientWidth, ClientHeight(several), platform::SizeOf::ClientArea, scale,
                   {frame.left, frame.top});
}

void TFormBROptions::ShowScanner(std::size_t index) {
  selected_ = index;
  const ScannerSettings& scanner = scanners[selected_];
  // Ports come and go with their adapters: the list is made for each showing.
  const PortSettings& texts = scanner.texts;
  shownLists_ = {
      PortList(registry_, texts.NamePort),
      WithStored(option_lists::kCodeEnd, texts.CodeEnd, ReadCodeEnd(texts.CodeEnd).has_value()),
      WithStored(option_lists::kReplyTyped, texts.ReplyTyped, ReadHexBytes(texts.ReplyTyped).has_value()),
      WithStored(option_lists::kReplyRefused, texts.ReplyRefused, ReadHexBytes(texts.ReplyRefused).has_value())};
  for (const ListControl& control : Lists(shownLists_, several_)) {
    ::SendMessageW(Control(control.id), CB_RESETCONTENT, 0, 0);
    for (const std::wstring& entry : control.list.entries) {
      ::SendMessageW(Control(control.id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    // What a policy enforces shows as it is, and cannot be changed.
    ::EnableWindow(Control(control.id), !enforced.Covers(scanner.number, control.list.text));
  }
  SelectFromTexts();
  ShowPicker();
  ::EnableWindow(Control(kBtnRemove), selected_ > 0 && !enforced.Keeps(scanner.number));
}

void TFormBROptions::ShowPicker() {
  const HWND picker = Control(kCbScanner);
  if (picker == nullptr) return;
  ::SendMessageW(picker, CB_RESETCONTENT, 0, 0);
  // The scanner shown with the port its list shows, taken or not.
  const auto shownPort = static_cast<std::size_t>(::SendMessageW(Control(kCbName), CB_GETCURSEL, 0, 0));
  for (std::size_t i = 0; i < scanners.size(); ++i) {
    const std::wstring& port = i == selected_ && shownPort < shownLists_[0].entries.size()
                                   ? shownLists_[0].entries[shownPort]
                                   : scanners[i].texts.NamePort;
    const std::wstring entry = platform::IntToStr(static_cast<std::uint64_t>(i + 1)) + L": " + port;
    ::SendMessageW(picker, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
  ::SendMessageW(picker, CB_SETCURSEL, selected_, 0);
}

void TFormBROptions::TakeFromControls() {
  const ScannerSettings& scanner = scanners[selected_];
  for (const ListControl& control : Lists(shownLists_, several_)) {
    if (enforced.Covers(scanner.number, control.list.text)) continue;
    const LRESULT position = ::SendMessageW(Control(control.id), CB_GETCURSEL, 0, 0);
    if (position >= 0 && static_cast<std::size_t>(position) < control.list.entries.size()) {
      scanners[selected_].texts.*(control.list.text) = control.list.entries[static_cast<std::size_t>(position)];
    }
  }
}

void TFormBROptions::SelectFromTexts() {
  for (const ListControl& control : Lists(shownLists_, several_)) {
    const std::size_t position = PositionFor(control.list, scanners[selected_].texts.*(control.list.text));
    ::SendMessageW(Control(control.id), CB_SETCURSEL, position, 0);
  }
}

void TFormBROptions::FormShow() {
  Arrange();
  ShowScanner(0);
  ::SendMessageW(Control(kCbAutoStart), BM_SETCHECK, AutoStart ? BST_CHECKED : BST_UNCHECKED, 0);
  ::EnableWindow(Control(kCbAutoStart), !enforced.autoStart);
}

bool TFormBROptions::btnOKClick() {
  TakeFromControls();
  // One port read for two scanners would share out its codes between them.
  if (const std::wstring port = RepeatedPort(scanners); !port.empty()) {
    std::wstring text = kSamePortTwice;
    text.replace(text.find(L"%s"), 2, port);
    platform::ShowStopMessage(text, window_.get());
    return false;
  }
  if (!enforced.autoStart) AutoStart = ::SendMessageW(Control(kCbAutoStart), BM_GETCHECK, 0, 0) == BST_CHECKED;
  return true;
}

void TFormBROptions::btnDefaultClick() {
  ScannerSettings& scanner = scanners[selected_];
  for (const ListControl& control : Lists(shownLists_, several_)) {
    // A further scanner keeps its port: the default one is the first's.
    if (enforced.Covers(scanner.number, control.list.text)) continue;
    if (selected_ > 0 && control.list.text == &PortSettings::NamePort) continue;
    scanner.texts.*(control.list.text) = kDefaultPortSettings.*(control.list.text);
  }
  if (!enforced.autoStart) AutoStart = false;
  SelectFromTexts();
  ::SendMessageW(Control(kCbAutoStart), BM_SETCHECK, AutoStart ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TFormBROptions::btnCancelClick() {
  SelectFromTexts();
  ::SendMessageW(Control(kCbAutoStart), BM_SETCHECK, AutoStart ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TFormBROptions::btnAddClick() {
  TakeFromControls();
  scanners.push_back(NewScanner(scanners, shownLists_[0]));
  Arrange();
  ShowScanner(scanners.size() - 1);
}

void TFormBROptions::btnRemoveClick() {
  if (selected_ == 0 || enforced.Keeps(scanners[selected_].number)) return;
  scanners.erase(scanners.begin() + static_cast<std::ptrdiff_t>(selected_));
  Arrange();
  ShowScanner(selected_ - 1);
}

LRESULT TFormBROptions::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == kCbScanner) {
        TakeFromControls();
        const LRESULT picked = ::SendMessageW(Control(kCbScanner), CB_GETCURSEL, 0, 0);
        if (picked >= 0 && static_cast<std::size_t>(picked) < scanners.size())
          ShowScanner(static_cast<std::size_t>(picked));
        return 0;
      }
      if (HIWORD(wParam) == CBN_SELCHANGE && LOWORD(wParam) == kCbName) {
        ShowPicker();
        return 0;
      }
      if (HIWORD(wParam) != BN_CLICKED) break;
      // Enter and Escape arrive as IDOK and IDCANCEL from the dialog
      // manager; with no default or cancel button they do nothing.
      switch (LOWORD(wParam)) {
        case kBtnOK:
          if (btnOKClick()) modalResult_ = mrOk;
          return 0;
        case kBtnDefault:
          btnDefaultClick();
          return 0;
        case kBtnCancel:
          btnCancelClick();
          return 0;
        case kBtnAdd:
          btnAddClick();
          return 0;
        case kBtnRemove:
          btnRemoveClick();
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
      platform::Rescale(window,
                        {LayoutFor(several_), kClientWidth, ClientHeight(several_), platform::SizeOf::ClientArea},
                        LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam), font_);
      return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
