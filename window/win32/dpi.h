// DPI awareness with what the running Windows offers: the per-monitor calls
// of Windows 10 where they exist, the system DPI on Windows 7.
#pragma once

#include <windows.h>

namespace rilvano::dpi {

inline int Scale(int pixelsAt96, UINT dpi) { return MulDiv(pixelsAt96, static_cast<int>(dpi), 96); }

UINT ForWindow(HWND window);
// Lets Windows 10 1607 scale the caption and menu under per-monitor v1.
void EnableNonClientScaling(HWND window);
void AdjustWindowRect(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);
// The message font (the look of Windows' own dialogs) at this DPI.
LOGFONTW MessageFont(UINT dpi);

}  // namespace rilvano::dpi
