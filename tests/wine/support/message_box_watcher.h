#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Watches the desktop, as an operator would, for message boxes of this
// process with a given caption: reads what they say and presses their OK.
class MessageBoxWatcher {
 public:
  struct Box {
    std::wstring caption;
    std::wstring text;
    bool stopIcon = false;
    int buttonCount = 0;
  };

  explicit MessageBoxWatcher(std::wstring caption);
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  std::vector<Box> Boxes();

 private:
  void Watch();
  void Dismiss(HWND box);

  const std::wstring caption_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Box> boxes_;
  std::thread thread_;
};
