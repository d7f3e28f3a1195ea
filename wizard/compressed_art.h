#pragma once
// The wizard's pictures are kept in the exe as gzip-compressed BMP files (RCDATA, a
// quarter of the bytes of bitmap resources) and made bitmaps again here, with zlib.
#include <windows.h>

// The picture stored under id in module as a bitmap of the screen's format, the kind
// LoadImage makes of a bitmap resource; null when it is missing or damaged. The caller
// deletes it.
HBITMAP LoadCompressedArt(HMODULE module, int id);
