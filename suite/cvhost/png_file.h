// Pictures as PNG files, encoded by the system's imaging component.
#pragma once

#include <windows.h>

#include <string>

namespace cvhost {

// Writes a 24-bit bottom-up BGR picture (rows of stride bytes, as a DIB section
// holds them) to path as a PNG file. COM must be entered on the thread.
HRESULT write_png(const std::wstring& path,
                  LONG width,
                  LONG height,
                  DWORD stride,
                  const BYTE* bottom_up_pixels);

}  // namespace cvhost
