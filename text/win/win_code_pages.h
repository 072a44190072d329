#pragma once

#include "text/code_text.h"

// The code pages Windows knows, through MultiByteToWideChar.
class WinCodePages final : public CodePages {
 public:
  bool Knows(unsigned codePage) const override;
  std::optional<std::wstring> Decode(unsigned codePage, std::string_view bytes) const override;
};
