#pragma once
// The wizard on displays scaled beyond 96 DPI. The property sheet draws its watermark
// and header bitmap at their own pixel size, and the header's title and subtitle at
// fixed pixel offsets, so on a scaled display the pictures stop short and the two
// header lines run into each other. There the exterior pages paint their picture
// themselves and the sheet's header is painted again, from art drawn for the DPI; at
// 96 DPI the sheet draws everything as it always has.
#include <windows.h>

// The system DPI, read once.
int SystemDpi();
// A length given in pixels at 96 DPI, at the system DPI.
int ScaledPixels(int pixelsAt96);

// For the WM_PAINT of a page without header: paints the watermark column and the
// white beside it over the whole page. False (nothing painted) at 96 DPI.
bool PaintExteriorPicture(HWND page);

// Makes the sheet paint the header of its interior pages for the system DPI: the
// header bitmap at the size the band gives it, the subtitle below the title.
// Nothing changes at 96 DPI.
void ScaleSheetHeader(HWND sheet);
