// The UI probe against a real window of the test, checked from the window's
// side: what it received, and whether what the probe reads back is what is
// there. Once in this process and once in another one, where every message
// crosses a process boundary.
#include "support/ui_probe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>

namespace {

constexpr wchar_t kWindowClass[] = L"UiProbeTestWindow";
constexpr wchar_t kTitle[] = L"UI probe test window";
constexpr wchar_t kHostTitle[] = L"UI probe host window";
constexpr wchar_t kHostBoxCaption[] = L"UI probe host box";
constexpr wchar_t kHostVariable[] = L"UI_PROBE_TEST_HOST";
constexpr int kClientWidth = 400;
constexpr int kClientHeight = 240;

constexpr int kLabelId = 100;
constexpr int kComboId = 101;
constexpr int kCheckId = 102;
constexpr int kApplyId = 103;
constexpr int kStatusId = 104;

// wParam: the MB_ flags of a message box the window shows.
constexpr UINT kShowBox = WM_APP + 1;
// wParam: the control that gets the focus.
constexpr UINT kSetFocus = WM_APP + 2;

struct ControlLayout {
  const wchar_t* className;
  const wchar_t* text;
  int id;
  DWORD style;
  RECT rect;
};

// Rectangles far from the client origin, so that window or screen
// coordinates cannot pass for client ones.
const ControlLayout kLayout[] = {
    {L"Static", L"Port:", kLabelId, WS_VISIBLE | SS_LEFT, {10, 12, 70, 32}},
    {L"ComboBox", L"", kComboId, WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, {80, 10, 230, 210}},
    {L"Button", L"Start with Windows", kCheckId, WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP, {10, 50, 210, 70}},
    {L"Button", L"OK", IDOK, WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP, {10, 90, 90, 116}},
    {L"Button", L"Cancel", IDCANCEL, WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, {100, 90, 180, 116}},
    {L"Button", L"Apply", kApplyId, WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON | WS_TABSTOP, {190, 90, 270, 116}},
    // What the window received, for a test in another process to read.
    {L"Static", L"", kStatusId, SS_LEFT, {10, 130, 390, 150}},
};
// Entries that only an exact comparison tells apart.
const std::vector<std::wstring> kEntries = {L"COM1", L"COM10", L"com3", L"COM3"};

struct Received {
  UINT message;
  HWND window;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT selection;  // the combo's selection when it arrived
};

// A settings-like window that records what arrives, run by a message loop
// with the dialog manager, as the program's dialogs are.
class TestWindow {
 public:
  TestWindow(const wchar_t* title, bool quitOnClose) : quitOnClose_(quitOnClose) {
    static const ATOM atom = [] {
      WNDCLASSW windowClass{};
      windowClass.lpfnWndProc = &Procedure;
      windowClass.hInstance = ::GetModuleHandleW(nullptr);
      windowClass.lpszClassName = kWindowClass;
      windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
      windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
      return ::RegisterClassW(&windowClass);
    }();
    (void)atom;
    constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    window_ = ::CreateWindowExW(0, kWindowClass, title, kStyle, 160, 120, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    for (const ControlLayout& control : kLayout) {
      ::CreateWindowExW(
          0, control.className, control.text, WS_CHILD | control.style, control.rect.left, control.rect.top,
          control.rect.right - control.rect.left, control.rect.bottom - control.rect.top, window_,
          reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), ::GetModuleHandleW(nullptr), nullptr);
    }
    for (const std::wstring& entry : kEntries) {
      ::SendMessageW(Control(kComboId), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    }
    ::ShowWindow(window_, SW_SHOW);
  }
  ~TestWindow() {
    if (::IsWindow(window_)) ::DestroyWindow(window_);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  void RunLoop() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR) {
        Record({message.message, message.hwnd, message.wParam, message.lParam, 0});
      }
      if (!::IsDialogMessageW(window_, &message)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
      }
    }
  }

  HWND handle() const { return window_; }
  HWND Control(int id) const { return ::GetDlgItem(window_, id); }
  // Makes the next Cancel click open a modal message box.
  void OpenBoxOnCancel() { boxOnCancel_ = true; }

  void Reset() {
    ::SendMessageW(Control(kComboId), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ::SendMessageW(Control(kCheckId), BM_SETCHECK, BST_UNCHECKED, 0);
    ::SendMessageW(window_, kSetFocus, reinterpret_cast<WPARAM>(Control(kComboId)), 0);
    boxOnCancel_ = false;
    std::lock_guard lock(mutex_);
    received_.clear();
  }

  std::vector<Received> ReceivedSoFar() {
    std::lock_guard lock(mutex_);
    return received_;
  }

  // How many WM_COMMANDs from this control with this code arrived.
  int Commands(int id, WORD code) {
    int count = 0;
    for (const Received& r : ReceivedSoFar()) {
      if (r.message == WM_COMMAND && LOWORD(r.wParam) == id && HIWORD(r.wParam) == code) ++count;
    }
    return count;
  }

  std::optional<Received> WaitFor(const std::function<bool(const Received&)>& matches, DWORD timeoutMs = 3000) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;) {
      for (const Received& r : ReceivedSoFar()) {
        if (matches(r)) return r;
      }
      if (::GetTickCount64() >= end) return std::nullopt;
      ::Sleep(10);
    }
  }

  std::optional<Received> WaitForCommand(int id, WORD code) {
    return WaitFor([&](const Received& r) {
      return r.message == WM_COMMAND && LOWORD(r.wParam) == id && HIWORD(r.wParam) == code;
    });
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
      // CreateWindowExW has not returned it yet.
      static_cast<TestWindow*>(create->lpCreateParams)->window_ = window;
    }
    auto* self = reinterpret_cast<TestWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
  }

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_COMMAND:
        OnCommand(wParam, lParam);
        return 0;
      case WM_SYSCOMMAND:
        Record({message, window_, wParam, lParam, 0});
        if ((wParam & 0xFFF0) == SC_CLOSE) sawSysClose_ = true;
        break;
      case WM_CLOSE:
        // Stays open, as a dialog that asks first would: taking a window
        // down costs Wine seconds without a window manager.
        Record({message, window_, wParam, lParam, 0});
        if (quitOnClose_ && sawSysClose_) ::PostQuitMessage(0);
        return 0;
      case WM_ACTIVATE:
        // Focus goes back to the control that had it, as in a dialog.
        if (LOWORD(wParam) == WA_INACTIVE) {
          HWND focus = ::GetFocus();
          if (focus != nullptr && ::IsChild(window_, focus)) lastFocus_ = focus;
        } else {
          ::SetFocus(lastFocus_ != nullptr ? lastFocus_ : Control(kComboId));
        }
        return 0;
      case WM_TIMER:
        // A host left behind by a failed test ends by itself.
        ::PostQuitMessage(1);
        return 0;
      case kShowBox: {
        const int answer =
            ::MessageBoxW(window_, L"Port COM7 cannot be opened.", kHostBoxCaption, static_cast<UINT>(wParam));
        AppendStatus(L"box:" + std::to_wstring(answer) + L";");
        return 0;
      }
      case kSetFocus:
        lastFocus_ = reinterpret_cast<HWND>(wParam);
        ::SetFocus(lastFocus_);
        return 0;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
  }

  void OnCommand(WPARAM wParam, LPARAM lParam) {
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    const LRESULT selection = ::SendMessageW(Control(kComboId), CB_GETCURSEL, 0, 0);
    // Takes its time, as a handler that opens the chosen port would: the
    // pick must still be over by the time PickEntry returns.
    if (id == kComboId && code == CBN_SELCHANGE) ::Sleep(100);
    Record({WM_COMMAND, window_, wParam, lParam, selection});
    if (id == kComboId && code == CBN_SELCHANGE) {
      AppendStatus(std::to_wstring(id) + L":" + std::to_wstring(code) + L"@" + std::to_wstring(selection) + L";");
    } else if (code == BN_CLICKED) {
      AppendStatus(std::to_wstring(id) + L":" + std::to_wstring(code) + L";");
    }
    if (id == IDCANCEL && boxOnCancel_) {
      boxOnCancel_ = false;
      ::MessageBoxW(window_, L"Cancel pressed", L"UI probe cancel", MB_OK);
    }
  }

  void AppendStatus(const std::wstring& event) {
    status_ += event;
    ::SetWindowTextW(Control(kStatusId), status_.c_str());
  }

  void Record(const Received& received) {
    std::lock_guard lock(mutex_);
    received_.push_back(received);
  }

  HWND window_ = nullptr;
  HWND lastFocus_ = nullptr;
  const bool quitOnClose_;
  bool sawSysClose_ = false;
  std::atomic<bool> boxOnCancel_{false};
  std::wstring status_;
  std::mutex mutex_;
  std::vector<Received> received_;
};

// The window on a thread of its own, as another thread of the program would
// run it, so that the test thread is free to drive it.
class WindowThread {
 public:
  WindowThread() {
    std::promise<TestWindow*> created;
    std::future<TestWindow*> window = created.get_future();
    thread_ = std::thread([this, &created] {
      threadId_ = ::GetCurrentThreadId();
      TestWindow window(kTitle, false);
      created.set_value(&window);
      window.RunLoop();
    });
    window_ = window.get();
  }
  ~WindowThread() {
    ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;
  TestWindow& window() { return *window_; }

 private:
  TestWindow* window_ = nullptr;
  DWORD threadId_ = 0;
  std::thread thread_;
};

// A message box on a thread of its own; the answer is what the box returned.
class BoxThread {
 public:
  BoxThread(std::wstring text, std::wstring caption, UINT flags)
      : answer_(std::async(std::launch::async,
                           [=] { return ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags); })) {}
  // Waits for the box to return, 0 when it is still up after the time.
  int Answer(DWORD timeoutMs = 5000) {
    return answer_.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready ? answer_.get() : 0;
  }

 private:
  std::future<int> answer_;
};

class UiProbeTest : public testing::Test {
 protected:
  // One window for all: Wine takes seconds to take a window down.
  static void SetUpTestSuite() { thread_ = new WindowThread(); }
  static void TearDownTestSuite() {
    delete thread_;
    thread_ = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(window().handle(), nullptr);
    window().Reset();
  }

  static TestWindow& window() { return thread_->window(); }
  static HWND Control(int id) { return window().Control(id); }

 private:
  static inline WindowThread* thread_ = nullptr;
};

void ExpectSameRect(const RECT& actual, const RECT& expected, bool compareBottom) {
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.top, expected.top);
  EXPECT_EQ(actual.right, expected.right);
  if (compareBottom) {
    EXPECT_EQ(actual.bottom, expected.bottom);
  }
}

}  // namespace

TEST_F(UiProbeTest, FindsTheWindowByExactTitleAndClass) {
  EXPECT_EQ(ui_probe::WaitForWindow(kTitle), window().handle());
  EXPECT_EQ(ui_probe::WaitForWindow(kTitle, L"uiprobetestwindow"), window().handle());
  EXPECT_EQ(ui_probe::WaitForWindow(kTitle, L"#32770", 100), nullptr);
  EXPECT_EQ(ui_probe::WaitForWindow(L"UI probe test", L"", 100), nullptr);
  EXPECT_EQ(ui_probe::WaitForWindow(L"UI PROBE TEST WINDOW", L"", 100), nullptr);
}

TEST_F(UiProbeTest, ListsChildrenInCreationOrderWithClientRectangles) {
  const RECT client = ui_probe::ClientRect(window().handle());
  EXPECT_EQ(client.right - client.left, kClientWidth);
  EXPECT_EQ(client.bottom - client.top, kClientHeight);

  ASSERT_TRUE(ui_probe::PickEntry(Control(kComboId), L"COM10"));
  const std::vector<ui_probe::Control> children = ui_probe::Children(window().handle());
  ASSERT_EQ(children.size(), std::size(kLayout));
  for (std::size_t i = 0; i < children.size(); ++i) {
    SCOPED_TRACE(kLayout[i].id);
    const ui_probe::Control& child = children[i];
    EXPECT_EQ(child.handle, Control(kLayout[i].id));
    EXPECT_EQ(child.className, kLayout[i].className);
    EXPECT_EQ(child.id, kLayout[i].id);
    // A drop-down list is as high as its closed field, whatever it was created with.
    ExpectSameRect(child.rect, kLayout[i].rect, kLayout[i].id != kComboId);
    EXPECT_EQ(child.visible, (kLayout[i].style & WS_VISIBLE) != 0);
    EXPECT_EQ(child.enabled, (kLayout[i].style & WS_DISABLED) == 0);
  }
  EXPECT_EQ(children[0].text, L"Port:");
  EXPECT_EQ(children[1].text, L"COM10");
  EXPECT_EQ(children[2].text, L"Start with Windows");
}

TEST_F(UiProbeTest, PickSelectsExactlyThatEntryAndNotifiesTheParent) {
  HWND combo = Control(kComboId);
  EXPECT_EQ(ui_probe::Entries(combo), kEntries);
  EXPECT_EQ(ui_probe::SelectedEntry(combo), L"");

  ASSERT_TRUE(ui_probe::PickEntry(combo, L"COM3"));
  // Handled by the time PickEntry returns, with the selection already made.
  const std::vector<Received> received = window().ReceivedSoFar();
  EXPECT_EQ(ui_probe::SelectedEntry(combo), L"COM3");
  EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), 3);
  auto notification = std::find_if(received.begin(), received.end(), [](const Received& r) {
    return r.message == WM_COMMAND && HIWORD(r.wParam) == CBN_SELCHANGE;
  });
  ASSERT_NE(notification, received.end());
  EXPECT_EQ(LOWORD(notification->wParam), kComboId);
  EXPECT_EQ(reinterpret_cast<HWND>(notification->lParam), combo);
  EXPECT_EQ(notification->selection, 3);

  ASSERT_TRUE(ui_probe::PickEntry(combo, L"COM1"));
  EXPECT_EQ(::SendMessageW(combo, CB_GETCURSEL, 0, 0), 0);
  EXPECT_FALSE(ui_probe::PickEntry(combo, L"COM2"));
  EXPECT_EQ(ui_probe::SelectedEntry(combo), L"COM1");
  EXPECT_EQ(window().Commands(kComboId, CBN_SELCHANGE), 2);
}

TEST_F(UiProbeTest, ClickArrivesAsBnClickedAndDisabledButtonsAreNotClicked) {
  EXPECT_FALSE(ui_probe::Click(Control(kApplyId)));
  ASSERT_TRUE(ui_probe::Click(Control(IDOK)));
  const auto clicked = window().WaitForCommand(IDOK, BN_CLICKED);
  ASSERT_TRUE(clicked);
  EXPECT_EQ(reinterpret_cast<HWND>(clicked->lParam), Control(IDOK));
  // Posted messages arrive in order: a click on Apply would be here by now.
  EXPECT_EQ(window().Commands(kApplyId, BN_CLICKED), 0);
  EXPECT_EQ(window().Commands(IDOK, BN_CLICKED), 1);
}

TEST_F(UiProbeTest, ClickReturnsWhileTheClickHoldsAModalLoop) {
  window().OpenBoxOnCancel();
  const ULONGLONG start = ::GetTickCount64();
  ASSERT_TRUE(ui_probe::Click(Control(IDCANCEL)));
  EXPECT_LT(::GetTickCount64() - start, 1000u);
  const auto box = ui_probe::DismissMessageBox(L"UI probe cancel");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->text, L"Cancel pressed");
  EXPECT_FALSE(box->stopIcon);
  EXPECT_EQ(box->buttonCount, 1);
  EXPECT_EQ(window().Commands(IDCANCEL, BN_CLICKED), 1);
}

TEST_F(UiProbeTest, SetCheckedClicksOnlyWhenTheStateDiffers) {
  HWND check = Control(kCheckId);
  EXPECT_FALSE(ui_probe::IsChecked(check));
  ASSERT_TRUE(ui_probe::SetChecked(check, true));
  EXPECT_TRUE(ui_probe::IsChecked(check));
  EXPECT_EQ(::SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
  ASSERT_TRUE(ui_probe::SetChecked(check, true));
  EXPECT_TRUE(ui_probe::IsChecked(check));
  ASSERT_TRUE(ui_probe::SetChecked(check, false));
  EXPECT_FALSE(ui_probe::IsChecked(check));
  EXPECT_EQ(::SendMessageW(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // One click on, none for "on" again, one click off.
  EXPECT_EQ(window().Commands(kCheckId, BN_CLICKED), 2);
}

TEST_F(UiProbeTest, KeysGoToTheFocusedControlOfTheWindowBroughtToFront) {
  // Another window in front first, where a key pressed blindly would land.
  HWND other = ::CreateWindowExW(0, L"Static", L"UI probe other window", WS_POPUP | WS_VISIBLE | WS_BORDER, 600, 500,
                                 200, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&::DestroyWindow)> destroyOther(other, &::DestroyWindow);
  ::SetForegroundWindow(other);
  ASSERT_EQ(::GetForegroundWindow(), other);

  ASSERT_TRUE(ui_probe::PressKey(window().handle(), VK_ESCAPE));
  const auto key = window().WaitFor([](const Received& r) { return r.message == WM_KEYDOWN && r.wParam == VK_ESCAPE; });
  ASSERT_TRUE(key);
  EXPECT_EQ(key->window, Control(kComboId));
  EXPECT_TRUE(window().WaitFor([](const Received& r) { return r.message == WM_KEYUP && r.wParam == VK_ESCAPE; }));
  // The dialog manager turns Escape into Cancel.
  EXPECT_TRUE(window().WaitForCommand(IDCANCEL, BN_CLICKED));
  EXPECT_EQ(ui_probe::FocusedControl(window().handle()), Control(kComboId));

  ASSERT_TRUE(ui_probe::PressKey(window().handle(), VK_TAB));
  const ULONGLONG end = ::GetTickCount64() + 3000;
  while (ui_probe::FocusedControl(window().handle()) != Control(kCheckId) && ::GetTickCount64() < end) ::Sleep(10);
  EXPECT_EQ(ui_probe::FocusedControl(window().handle()), Control(kCheckId));
}

TEST_F(UiProbeTest, CloseArrivesAsTheSystemMenuClose) {
  ui_probe::Close(window().handle());
  const auto close = window().WaitFor([](const Received& r) { return r.message == WM_SYSCOMMAND; });
  ASSERT_TRUE(close);
  EXPECT_EQ(close->wParam & 0xFFF0, static_cast<WPARAM>(SC_CLOSE));
  EXPECT_TRUE(window().WaitFor([](const Received& r) { return r.message == WM_CLOSE; }));
  // It chose to stay open.
  EXPECT_FALSE(ui_probe::WaitUntilGone(window().handle(), 200));
}

TEST_F(UiProbeTest, DismissesMessageBoxesOfAnotherThread) {
  BoxThread stop(L"Port COM7 cannot be opened.", L"UI probe box", MB_OK | MB_ICONSTOP);
  EXPECT_FALSE(ui_probe::DismissMessageBox(L"UI probe bo", 300));
  const auto stopBox = ui_probe::DismissMessageBox(L"UI probe box");
  ASSERT_TRUE(stopBox);
  EXPECT_EQ(stopBox->caption, L"UI probe box");
  EXPECT_EQ(stopBox->text, L"Port COM7 cannot be opened.");
  EXPECT_TRUE(stopBox->stopIcon);
  EXPECT_EQ(stopBox->buttonCount, 1);
  EXPECT_EQ(stop.Answer(), IDOK);

  BoxThread warning(L"Really?", L"UI probe box", MB_OKCANCEL | MB_ICONWARNING);
  const auto warningBox = ui_probe::DismissMessageBox(L"UI probe box");
  ASSERT_TRUE(warningBox);
  EXPECT_EQ(warningBox->text, L"Really?");
  EXPECT_FALSE(warningBox->stopIcon);
  EXPECT_EQ(warningBox->buttonCount, 2);
  EXPECT_EQ(warning.Answer(), IDOK);
}

namespace {

using Handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, decltype(&::CloseHandle)>;

// This test program again, as the host of a window in another process.
class HostProcess {
 public:
  HostProcess() : process_(nullptr, &::CloseHandle) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(path) + L"\" --gtest_filter=UiProbeHost.* --gtest_brief=1";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ::SetEnvironmentVariableW(kHostVariable, L"1");
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      process_.reset(info.hProcess);
      ::CloseHandle(info.hThread);
    }
    ::SetEnvironmentVariableW(kHostVariable, nullptr);
  }
  ~HostProcess() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) ::TerminateProcess(process_.get(), 2);
  }

  bool started() const { return process_ != nullptr; }
  DWORD id() const { return ::GetProcessId(process_.get()); }
  // The exit code, or STILL_ACTIVE when it did not end in time.
  DWORD WaitForExit(DWORD timeoutMs) {
    DWORD code = STILL_ACTIVE;
    if (::WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0) ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  Handle process_;
};

// The host's record of what it received, once it has grown to `expected`.
std::wstring WaitForStatus(HWND status, const std::wstring& expected) {
  const ULONGLONG end = ::GetTickCount64() + 5000;
  std::wstring text = ui_probe::Text(status);
  while (text != expected && ::GetTickCount64() < end) {
    ::Sleep(10);
    text = ui_probe::Text(status);
  }
  return text;
}

}  // namespace

TEST(UiProbeHost, ServesTheWindowOfTheCrossProcessTest) {
  if (::GetEnvironmentVariableW(kHostVariable, nullptr, 0) == 0) {
    GTEST_SKIP() << "runs only as the window host of UiProbeCrossProcess";
  }
  TestWindow window(kHostTitle, true);
  ::SetTimer(window.handle(), 1, 60000, nullptr);
  window.RunLoop();
  EXPECT_EQ(window.Commands(kComboId, CBN_SELCHANGE), 1);
}

TEST(UiProbeCrossProcess, DrivesAWindowOfAnotherProcess) {
  HostProcess host;
  ASSERT_TRUE(host.started());
  HWND window = ui_probe::WaitForWindow(kHostTitle, kWindowClass, 20000);
  ASSERT_NE(window, nullptr);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  ASSERT_EQ(process, host.id());

  const std::vector<ui_probe::Control> children = ui_probe::Children(window);
  ASSERT_EQ(children.size(), std::size(kLayout));
  EXPECT_EQ(children[0].text, L"Port:");
  EXPECT_EQ(children[2].text, L"Start with Windows");
  ExpectSameRect(children[3].rect, kLayout[3].rect, true);
  HWND combo = children[1].handle;
  HWND check = children[2].handle;
  HWND status = children.back().handle;

  EXPECT_EQ(ui_probe::Entries(combo), kEntries);
  ASSERT_TRUE(ui_probe::PickEntry(combo, L"COM3"));
  EXPECT_EQ(ui_probe::SelectedEntry(combo), L"COM3");
  EXPECT_EQ(ui_probe::Text(status), L"101:1@3;");

  ASSERT_TRUE(ui_probe::SetChecked(check, true));
  EXPECT_TRUE(ui_probe::IsChecked(check));
  EXPECT_EQ(WaitForStatus(status, L"101:1@3;102:0;"), L"101:1@3;102:0;");

  ASSERT_TRUE(ui_probe::PressKey(window, VK_ESCAPE));
  EXPECT_EQ(WaitForStatus(status, L"101:1@3;102:0;2:0;"), L"101:1@3;102:0;2:0;");

  ui_probe::Post(window, kShowBox, MB_OK | MB_ICONSTOP, 0);
  const auto stopBox = ui_probe::DismissMessageBox(kHostBoxCaption);
  ASSERT_TRUE(stopBox);
  EXPECT_EQ(stopBox->text, L"Port COM7 cannot be opened.");
  EXPECT_TRUE(stopBox->stopIcon);
  EXPECT_EQ(stopBox->buttonCount, 1);
  ui_probe::Post(window, kShowBox, MB_OKCANCEL | MB_ICONWARNING, 0);
  const auto warningBox = ui_probe::DismissMessageBox(kHostBoxCaption);
  ASSERT_TRUE(warningBox);
  EXPECT_FALSE(warningBox->stopIcon);
  EXPECT_EQ(warningBox->buttonCount, 2);
  EXPECT_EQ(WaitForStatus(status, L"101:1@3;102:0;2:0;box:1;box:1;"), L"101:1@3;102:0;2:0;box:1;box:1;");

  ui_probe::Close(window);
  EXPECT_EQ(host.WaitForExit(15000), 0u);
  EXPECT_TRUE(ui_probe::WaitUntilGone(window, 5000));
}
