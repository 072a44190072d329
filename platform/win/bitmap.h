#pragma once

#include <windows.h>

#include "platform/win/handles.h"

namespace platform {

// A 24-bit bitmap resource of the program with the colour of its
// bottom-left pixel replaced by `background`, so that the window shows
// through it. Other bitmaps come as they are; none when it cannot load.
UniqueBitmap LoadColourKeyedBitmap(int resourceId, COLORREF background);

}  // namespace platform
