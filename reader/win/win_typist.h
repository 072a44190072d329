#pragma once

#include "reader/scanner_line.h"
#include "reader/typing_options.h"

// Types codes into the focused window through the system's input stream,
// with the keyboard layout of the window in front.
class WinTypist final : public CodeTypist {
 public:
  // Only on the user interface thread, and only while no reader thread is
  // typing with this typist (before a reader starts or after it has
  // stopped): the reader thread reads the options without a lock.
  void SetOptions(const TypingOptions& options) override { options_ = options; }

  void TypeCode(std::string_view code, const std::atomic<bool>& stopping) override;

 private:
  TypingOptions options_;
};
