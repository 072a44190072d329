#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The system's text for a Win32 error, in the language of the user's
// Windows; empty for a code it has no text for.
std::wstring SystemErrorText(std::uint32_t code);

}  // namespace platform
