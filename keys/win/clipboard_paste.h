#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win/handles.h"

// A code pasted for the operator: what he has on the clipboard is kept and
// put back afterwards, and what the wedge puts there is marked for
// clipboard history, the cloud clipboard and clipboard monitors to leave
// out. Lives on one thread, for one code.
class ClipboardPaste {
 public:
  // How long a window may take to paste; one that has not by then is
  // taken not to accept pasting at all.
  static constexpr DWORD kTakeTimeoutMs = 3000;
  // Content larger than this is not copied to be kept: keys instead.
  static constexpr SIZE_T kLargestKept = 64 * 1024 * 1024;

  // Keeps the operator's content, when every part of it can be put back.
  ClipboardPaste();
  // Puts it back.
  ~ClipboardPaste();
  ClipboardPaste(const ClipboardPaste&) = delete;
  ClipboardPaste& operator=(const ClipboardPaste&) = delete;

  // Whether the operator's content is kept: only then may a code be pasted.
  bool kept() const { return kept_; }

  // Puts `text` on the clipboard, presses Ctrl+V, and waits until a window
  // of `targetProcess` has taken it: the text is given out only when
  // asked for, so the asking tells. False when no window of it took it.
  bool Paste(std::wstring_view text, DWORD targetProcess);

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Render();
  bool Keep();
  void PutBack();

  platform::UniqueWindow window_;
  std::vector<std::pair<UINT, platform::UniqueGlobal>> memory_;
  platform::UniqueEnhancedMetafile metafile_;
  bool kept_ = false;
  bool changed_ = false;  // the clipboard holds ours: the operator's goes back
  std::wstring text_;
  DWORD target_ = 0;
  bool taken_ = false;
};
