#include "app/win/form_monitor.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

#include "app/resources/resource_ids.h"
#include "platform/conversions.h"
#include "platform/diagnostics.h"
#include "platform/win/error_text.h"
#include "settings/option_table.h"
#include "version.h"

namespace {

constexpr wchar_t kWindowClass[] = L"TFormMonitor";
constexpr wchar_t kMainWindowClass[] = L"TFormBRMain";
constexpr int kWidth = 720, kHeight = 484;
// The record changed; posted once until the monitor has read it.
constexpr UINT WM_CODESCHANGED = WM_APP + 1;
constexpr UINT_PTR kStateTimer = 1;
constexpr UINT kStateEveryMs = 1000;

// Each its own: the layout finds a control by its id.
enum ControlId {
  kScanner = 99,
  kPortCaption,
  kPort,
  kLineCaption,
  kLine,
  kProgramCaption,
  kProgram,
  kTypingCaption,
  kTyping,
  kCodes,
  kBytesCaption,
  kBytes,
  kCountsCaption,
  kCounts,
  kAdviceCaption,
  kAdvice,
  kHoldTyping,
  kCopyReport,
  kSaveReport,
};

constexpr DWORD kText = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
constexpr DWORD kWrapped = SS_LEFT | SS_NOPREFIX;

// With several scanners, the port's caption gives way to the scanner the
// rows from «Порт» to «Совет» show.
const std::array<platform::ControlLayout, 19> kLayout{{
    {kScanner, WC_COMBOBOXW, L"", 8, 4, 116, 21, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
    {kPortCaption, WC_STATICW, L"Порт:", 8, 8, 120, 14, kText},
    {kPort, WC_STATICW, L"", 130, 8, 582, 14, kText},
    {kLineCaption, WC_STATICW, L"Настройки линии:", 8, 26, 120, 14, kText},
    {kLine, WC_STATICW, L"", 130, 26, 582, 28, kWrapped},
    {kProgramCaption, WC_STATICW, L"Программа впереди:", 8, 56, 120, 14, kText},
    {kProgram, WC_STATICW, L"", 130, 56, 582, 14, kText},
    {kTypingCaption, WC_STATICW, L"Параметры ввода:", 8, 74, 120, 14, kText},
    {kTyping, WC_STATICW, L"", 130, 74, 582, 42, kWrapped},
    {kCodes, WC_LISTVIEWW, L"", 8, 120, 704, 220,
     LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_TABSTOP, WS_EX_CLIENTEDGE},
    {kBytesCaption, WC_STATICW, L"Байты кода:", 8, 349, 120, 14, kText},
    {kBytes, WC_EDITW, L"", 130, 346, 582, 20, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE},
    {kCountsCaption, WC_STATICW, L"Ошибки линии:", 8, 374, 120, 14, kText},
    {kCounts, WC_STATICW, L"", 130, 374, 582, 28, kWrapped},
    {kAdviceCaption, WC_STATICW, L"Совет:", 8, 406, 120, 14, kText},
    {kAdvice, WC_STATICW, L"", 130, 406, 582, 40, kWrapped},
    {kHoldTyping, WC_BUTTONW, L"Не вводить коды", 8, 456, 200, 18, BS_AUTOCHECKBOX | WS_TABSTOP},
    {kCopyReport, WC_BUTTONW, L"Копировать отчёт", 440, 452, 132, 24, BS_PUSHBUTTON | WS_TABSTOP},
    {kSaveReport, WC_BUTTONW, L"Сохранить отчёт…", 580, 452, 132, 24, BS_PUSHBUTTON | WS_TABSTOP},
}};

struct Column {
  const wchar_t* title;
  int width;
};
// «Порт» is as narrow as nothing while there is one scanner.
constexpr int kPortColumn = 1, kPortColumnWidth = 60, kTextColumn = 8;
constexpr std::array<Column, 9> kColumns{{{L"Время", 80},
                                          {L"Порт", 0},
                                          {L"Длина", 44},
                                          {L"Кодировка", 72},
                                          {L"Идентификатор", 96},
                                          {L"Правило", 52},
                                          {L"Программа", 90},
                                          {L"Итог", 96},
                                          {L"Текст", 164}}};

std::wstring WindowsVersion() {
  // GetVersionEx answers what the manifest declares, not what runs.
  using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  const auto get = reinterpret_cast<RtlGetVersion>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  if (get == nullptr || get(&version) != 0) return L"?";
  return platform::IntToStr(version.dwMajorVersion) + L"." + platform::IntToStr(version.dwMinorVersion) + L"." +
         platform::IntToStr(version.dwBuildNumber);
}

std::wstring LayoutOf(HWND window) {
  wchar_t text[24];
  std::swprintf(text, 24, L"%08llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(
                    ::GetKeyboardLayout(::GetWindowThreadProcessId(window, nullptr)))));
  return text;
}

}  // namespace

std::wstring LostSince(const LostPortLog& lost) {
  const auto away =
      std::chrono::duration_cast<std::chrono::system_clock::duration>(LostPortLog::Clock::now() - lost.lostAt());
  const std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() - away);
  wchar_t text[16] = L"";
  if (const std::tm* local = std::localtime(&seconds)) std::wcsftime(text, 16, L"%H:%M:%S", local);
  return text;
}

UINT AcceptShowMonitorMessage(HWND mainWindow) {
  const UINT message = ::RegisterWindowMessageW(kShowMonitorMessageName);
  // An elevated copy still hears a shortcut's or a script's request.
  if (message != 0) ::ChangeWindowMessageFilterEx(mainWindow, message, MSGFLT_ALLOW, nullptr);
  return message;
}

bool HandOverMonitor() {
  const HWND running = ::FindWindowW(kMainWindowClass, nullptr);
  if (running == nullptr) return false;
  DWORD processId = 0;
  ::GetWindowThreadProcessId(running, &processId);
  // Its monitor may come to the front, as this start's own window would.
  ::AllowSetForegroundWindow(processId);
  return ::PostMessageW(running, ::RegisterWindowMessageW(kShowMonitorMessageName), 0, 0) != FALSE;
}

TFormMonitor::TFormMonitor(RecentCodes& recent, platform::Registry& registry, CBarCodReader& reader, MonitorSite& site)
    : recent_(recent), registry_(registry), reader_(reader), site_(site) {
  const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&classes);
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  platform::RegisterFormClass(kWindowClass, &platform::RoutedWindowProcedure<TFormMonitor>,
                              ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM)));
  // Not owned by the main window: it stays on screen while that one hides
  // in the tray.
  window_ =
      ::CreateWindowExW(0, kWindowClass, L"Монитор сканера", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                        CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
  if (window_ == nullptr) {
    diagnostics::Failure(L"creating the monitor window", ::GetLastError());
    return;
  }
  const platform::DpiScale scale(platform::DpiOf(window_));
  font_ = platform::CreateFormFont(scale);
  platform::CreateControls(window_, kLayout, scale, font_.get());
  const HWND list = ::GetDlgItem(window_, kCodes);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
  for (int i = 0; i < static_cast<int>(kColumns.size()); ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = scale(kColumns[i].width);
    column.pszText = const_cast<wchar_t*>(kColumns[i].title);
    ListView_InsertColumn(list, i, &column);
  }
  platform::SizeAndCenter(window_, kWidth, kHeight, platform::SizeOf::ClientArea, scale);
  recent_.Watch([window = window_] { ::PostMessageW(window, WM_CODESCHANGED, 0, 0); });
  ::SetTimer(window_, kStateTimer, kStateEveryMs, nullptr);
  Refresh();
}

TFormMonitor::~TFormMonitor() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void TFormMonitor::ShowIn(std::unique_ptr<TFormMonitor>& monitor, RecentCodes& recent, platform::Registry& registry,
                          CBarCodReader& reader, MonitorSite& site) {
  if (!monitor || monitor->window_ == nullptr) {
    monitor = std::make_unique<TFormMonitor>(recent, registry, reader, site);
  }
  const HWND window = monitor->window_;
  if (window == nullptr) return;
  ::ShowWindow(window, ::IsIconic(window) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(window);
}

void TFormMonitor::Refresh() {
  if (window_ == nullptr) return;
  disclosure_ = StoredCodeDisclosure(registry_);
  const ScannerList& scanners = reader_.scanners;
  const bool several = scanners.size() > 1;
  const HWND picker = ::GetDlgItem(window_, kScanner);
  ::SendMessageW(picker, CB_RESETCONTENT, 0, 0);
  if (std::ranges::none_of(scanners, [&](const auto& scanner) { return scanner.number == shown_; })) {
    shown_ = ScannerSettings::kFirst;
  }
  for (std::size_t i = 0; i < scanners.size() && several; ++i) {
    const std::wstring entry = L"Порт " + scanners[i].texts.NamePort + L":";
    ::SendMessageW(picker, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    if (scanners[i].number == shown_) ::SendMessageW(picker, CB_SETCURSEL, i, 0);
  }
  ::ShowWindow(picker, several ? SW_SHOW : SW_HIDE);
  ::ShowWindow(::GetDlgItem(window_, kPortCaption), several ? SW_HIDE : SW_SHOW);
  const HWND list = ::GetDlgItem(window_, kCodes);
  const platform::DpiScale scale(platform::DpiOf(window_));
  const int portWidth = several ? kPortColumnWidth : 0;
  ListView_SetColumnWidth(list, kPortColumn, scale(portWidth));
  ListView_SetColumnWidth(list, kTextColumn, scale(kColumns[kTextColumn].width - portWidth));
  ShowLine();
  program_.reset();  // its options are read again
  ShowState();
  ShowCodes();
}

void TFormMonitor::ShowLine() {
  std::wstring line;
  try {
    // The replies are the report's: two lines hold the line's own settings.
    std::vector<OptionShown> options = LineOptions(registry_, shown_);
    std::erase_if(options, [](const OptionShown& option) {
      const auto text = option_table::Find(option.name).lineText;
      return text == &PortSettings::ReplyTyped || text == &PortSettings::ReplyRefused;
    });
    line = OptionsLine(options);
  } catch (const platform::RegistryError& error) {
    line = platform::SystemErrorText(error.code);
  }
  ::SetDlgItemTextW(window_, kLine, line.c_str());
}

void TFormMonitor::ShowCodes() {
  const LineCounts counts = recent_.Counts();
  std::vector<CodeRecord> codes = recent_.Newest();
  const HWND list = ::GetDlgItem(window_, kCodes);
  // The newest code is selected, and followed as codes come in, until the
  // operator picks another: that one then stays selected.
  int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
  selected = selected > 0 ? selected + static_cast<int>(counts.codes - codesSeen_) : 0;
  codes_ = std::move(codes);
  codesSeen_ = counts.codes;
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  for (int row = 0; row < static_cast<int>(codes_.size()); ++row) {
    const CodeRecord& code = codes_[row];
    const std::wstring cells[] = {TimeText(code.time), code.port,         ShownLength(code, disclosure_),
                                  code.encoding,       code.symbology,    code.rule,
                                  code.program,        OutcomeName(code), ShownText(code, disclosure_)};
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(cells[0].c_str());
    ListView_InsertItem(list, &item);
    for (int column = 1; column < static_cast<int>(std::size(cells)); ++column) {
      ListView_SetItemText(list, row, column, const_cast<wchar_t*>(cells[column].c_str()));
    }
  }
  if (selected >= 0 && selected < static_cast<int>(codes_.size())) {
    ListView_SetItemState(list, selected, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ShowSelectedBytes();
  ShowState();
}

void TFormMonitor::ShowSelectedBytes() {
  const int selected = ListView_GetNextItem(::GetDlgItem(window_, kCodes), -1, LVNI_SELECTED);
  std::wstring bytes;
  if (selected >= 0 && selected < static_cast<int>(codes_.size())) {
    bytes =
        disclosure_ == CodeDisclosure::Text ? ShownBytes(codes_[selected], disclosure_) : L"скрыто политикой Monitor";
  }
  ::SetDlgItemTextW(window_, kBytes, bytes.c_str());
}

std::wstring TFormMonitor::PortText(const ScannerSettings& scanner) {
  const ScannerLink* const link = reader_.Link(scanner.number);
  if (!link) return scanner.texts.NamePort + L": не читается, этот порт читается для другого сканера";
  const LineParameters& line = link->line();
  std::wstring text = line.portName;
  if (line.portName != scanner.texts.NamePort) text += L" (из командной строки)";
  if (!link->lost()) return text + L", " + ShortLineName(line) + L": открыт";
  const LostPortLog& lost = link->lostPort();
  text += L": нет связи с " + LostSince(lost) + L", попыток: " + platform::IntToStr(lost.attempts());
  if (lost.lastError() != 0) {
    text += L", последняя ошибка " + platform::IntToStr(lost.lastError()) + L": " +
            std::wstring(platform::WithoutTrailingBreak(platform::SystemErrorText(lost.lastError())));
  }
  return text;
}

ScannerFacts TFormMonitor::FactsOf(const ScannerSettings& scanner) {
  const ScannerLink* const link = reader_.Link(scanner.number);
  LineParameters line;
  if (link) line = link->line();
  line.portName = link ? line.portName : scanner.texts.NamePort;
  // With one scanner, its counts are all the program's, whichever port it
  // read before.
  const LineCounts counts = reader_.scanners.size() > 1 ? recent_.Counts(line.portName) : recent_.Counts();
  return {PortText(scanner), counts, Advice({counts, link && !link->lost(), recent_.typingHeld, line})};
}

void TFormMonitor::ShowState() {
  const auto shown =
      std::ranges::find_if(reader_.scanners, [&](const auto& scanner) { return scanner.number == shown_; });
  if (shown != reader_.scanners.end()) {
    const ScannerFacts facts = FactsOf(*shown);
    ::SetDlgItemTextW(window_, kPort, facts.port.c_str());
    ::SetDlgItemTextW(window_, kCounts, CountsText(facts.counts).c_str());
    ::SetDlgItemTextW(window_, kAdvice, facts.advice.c_str());
  }
  // The program the operator types into, not this window.
  const HWND front = ::GetForegroundWindow();
  DWORD processId = 0;
  if (front != nullptr && ::GetWindowThreadProcessId(front, &processId) && processId != ::GetCurrentProcessId()) {
    programWindow_ = front;
  }
  const std::wstring program = programWindow_ != nullptr ? programs_.Of(programWindow_) : L"";
  if (program != program_) {
    program_ = program;
    ::SetDlgItemTextW(window_, kProgram, program.empty() ? L"—" : program.c_str());
    std::vector<OptionShown> typing;
    try {
      for (const OptionShown& option : OptionsWithSources(registry_, program)) {
        if (option_table::Find(option.name).PerProgram()) typing.push_back(option);
      }
    } catch (const platform::RegistryError&) {
    }
    ::SetDlgItemTextW(window_, kTyping, OptionsLine(typing).c_str());
  }
}

void TFormMonitor::HoldTyping(bool held) {
  recent_.typingHeld = held;
  site_.TypingHeldChanged();
  ShowState();
}

ReportFacts TFormMonitor::Facts() {
  ReportFacts facts;
  facts.version = L"" PROGRAM_VERSION_TEXT;
  facts.windows = WindowsVersion();
  facts.layout = LayoutOf(programWindow_ != nullptr ? programWindow_ : window_);
  for (const ScannerSettings& scanner : reader_.scanners) facts.scanners.push_back(FactsOf(scanner));
  try {
    facts.options = EveryOption(registry_);
  } catch (const platform::RegistryError& error) {
    facts.options.push_back({L"?", L"", platform::SystemErrorText(error.code), L""});
  }
  facts.codes = recent_.Newest();
  facts.disclosure = StoredCodeDisclosure(registry_);
  facts.logLines = diagnostics::RecentLog().Lines();
  return facts;
}

void TFormMonitor::CopyReport() {
  const std::wstring report = BuildReport(Facts());
  const std::size_t bytes = (report.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* const text = memory != nullptr ? ::GlobalLock(memory) : nullptr;
  if (text != nullptr) {
    std::memcpy(text, report.c_str(), bytes);
    ::GlobalUnlock(memory);
  }
  if (text == nullptr || !::OpenClipboard(window_)) {
    diagnostics::Failure(L"copying the report", ::GetLastError());
    if (memory != nullptr) ::GlobalFree(memory);
    return;
  }
  ::EmptyClipboard();
  // The clipboard owns the memory once it takes it.
  if (::SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
    diagnostics::Failure(L"copying the report", ::GetLastError());
    ::GlobalFree(memory);
  }
  ::CloseClipboard();
}

void TFormMonitor::SaveReport() {
  wchar_t path[MAX_PATH] = L"отчёт сканера.txt";
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = L"Текст (*.txt)\0*.txt\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrDefExt = L"txt";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  bool chosen = false;
  site_.RunModal([&] { chosen = ::GetSaveFileNameW(&dialog) != FALSE; });
  if (!chosen) return;
  const std::wstring report = BuildReport(Facts());
  // With its byte order mark, so Notepad of any Windows reads it as UTF-8.
  std::string bytes = "\xEF\xBB\xBF";
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, report.data(), static_cast<int>(report.size()), nullptr, 0, nullptr, nullptr);
  bytes.resize(3 + static_cast<std::size_t>(size));
  ::WideCharToMultiByte(CP_UTF8, 0, report.data(), static_cast<int>(report.size()), bytes.data() + 3, size, nullptr,
                        nullptr);
  const platform::FileHandle file(
      ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size()) {
    return;
  }
  const DWORD error = ::GetLastError();
  diagnostics::Failure(L"saving the report", error);
  const std::wstring text = L"Не удалось сохранить отчёт: " + platform::SystemErrorText(error);
  site_.RunModal([&] { ::MessageBoxW(window_, text.c_str(), L"Монитор сканера", MB_OK | MB_ICONSTOP); });
}

LRESULT TFormMonitor::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CODESCHANGED:
      ShowCodes();
      return 0;
    case WM_TIMER:
      if (wParam == kStateTimer) ShowState();
      return 0;
    case WM_NOTIFY: {
      const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
      if (change->hdr.idFrom == kCodes && change->hdr.code == LVN_ITEMCHANGED && (change->uChanged & LVIF_STATE)) {
        ShowSelectedBytes();
      }
      break;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kScanner && HIWORD(wParam) == CBN_SELCHANGE) {
        const auto picked = static_cast<std::size_t>(::SendDlgItemMessageW(window, kScanner, CB_GETCURSEL, 0, 0));
        if (picked < reader_.scanners.size()) shown_ = reader_.scanners[picked].number;
        ShowLine();
        ShowState();
        return 0;
      }
      if (HIWORD(wParam) != BN_CLICKED) break;
      if (LOWORD(wParam) == kHoldTyping) HoldTyping(::IsDlgButtonChecked(window, kHoldTyping) == BST_CHECKED);
      if (LOWORD(wParam) == kCopyReport) CopyReport();
      if (LOWORD(wParam) == kSaveReport) SaveReport();
      return 0;
    case WM_DESTROY:
      // Never left on: codes are typed again once the monitor is closed.
      ::KillTimer(window, kStateTimer);
      recent_.Watch(nullptr);
      if (recent_.typingHeld.exchange(false)) site_.TypingHeldChanged();
      window_ = nullptr;
      return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}
