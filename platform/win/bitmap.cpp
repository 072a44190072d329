#include "platform/win/bitmap.h"

namespace platform {

UniqueBitmap LoadColourKeyedBitmap(int resourceId, COLORREF background) {
  UniqueBitmap bitmap(static_cast<HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resourceId),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  DIBSECTION dib{};
  if (!bitmap || ::GetObjectW(bitmap.get(), sizeof dib, &dib) != sizeof dib || dib.dsBm.bmBitsPixel != 24) {
    return bitmap;
  }
  auto* const pixels = static_cast<BYTE*>(dib.dsBm.bmBits);
  const BYTE key[3] = {pixels[0], pixels[1], pixels[2]};  // rows run bottom-up; blue, green, red
  for (LONG y = 0; y < dib.dsBm.bmHeight; ++y) {
    BYTE* pixel = pixels + y * dib.dsBm.bmWidthBytes;
    for (LONG x = 0; x < dib.dsBm.bmWidth; ++x, pixel += 3) {
      if (pixel[0] == key[0] && pixel[1] == key[1] && pixel[2] == key[2]) {
        pixel[0] = GetBValue(background);
        pixel[1] = GetGValue(background);
        pixel[2] = GetRValue(background);
      }
    }
  }
  return bitmap;
}

}  // namespace platform
