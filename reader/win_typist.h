#pragma once

#include "reader/scanner_line.h"

// Types codes into the focused window through the system's input stream,
// with the keyboard layout of the window in front.
class WinTypist final : public CodeTypist {
 public:
  void TypeCode(std::string_view code, const std::atomic<bool>& stopping) override;
};
