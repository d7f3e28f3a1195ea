// The wizard's pictures, stored as gzip-compressed BMP files, unpacked with the zlib
// the program links for its archives and handed to GDI as bitmaps.
#include "wizard/compressed_art.h"

#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

// Far above any picture of the wizard: a damaged length must not ask for gigabytes.
constexpr uLong LargestPicture = 16 * 1024 * 1024;
// A gzip member is a 10-byte header, the deflated bytes, their CRC-32 and length.
constexpr DWORD GzipOverhead = 10 + 8;

bool FindCompressed(HMODULE module, int id, const Bytef*& data, DWORD& size)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_RCDATA);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    data = loaded ? (const Bytef*)LockResource(loaded) : nullptr;
    size = found ? SizeofResource(module, found) : 0;
    return data && size > GzipOverhead;
}

// The length of what a gzip member holds, from its last four bytes.
uLong UnpackedLength(const Bytef* data, DWORD size)
{
    const Bytef* length = data + size - 4;
    return length[0] | length[1] << 8 | (uLong)length[2] << 16 | (uLong)length[3] << 24;
}

bool Gunzip(const Bytef* data, DWORD size, std::vector<unsigned char>& unpacked)
{
    uLong length = UnpackedLength(data, size);
    if (length == 0 || length > LargestPicture) return false;
    unpacked.resize(length);
    z_stream stream = {};
    // 16 + MAX_WBITS: a gzip member, whose CRC-32 inflate checks at its end.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = size;
    stream.next_out = unpacked.data();
    stream.avail_out = length;
    bool whole = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.total_out == length;
    inflateEnd(&stream);
    return whole;
}

size_t RowBytes(const BITMAPINFOHEADER& info)
{
    return ((size_t)info.biWidth * info.biBitCount + 31) / 32 * 4;
}

// The info header and palette of a BMP file, copied out (in the file they follow the
// 14-byte file header, off the 4-byte boundary GDI's structures want), when the file
// holds them and all its rows; and where its rows begin.
bool ReadBitmapInfo(const std::vector<unsigned char>& file, std::vector<DWORD>& info,
                    size_t& rowsAt)
{
    BITMAPFILEHEADER head;
    BITMAPINFOHEADER bitmap;
    if (file.size() < sizeof head + sizeof bitmap) return false;
    memcpy(&head, file.data(), sizeof head);
    memcpy(&bitmap, file.data() + sizeof head, sizeof bitmap);
    size_t colours = bitmap.biClrUsed ? bitmap.biClrUsed
                   : bitmap.biBitCount <= 8 ? (size_t)1 << bitmap.biBitCount : 0;
    size_t infoBytes = bitmap.biSize + colours * sizeof(RGBQUAD);
    size_t rows = (size_t)(bitmap.biHeight < 0 ? -(LONGLONG)bitmap.biHeight : bitmap.biHeight);
    if (head.bfType != 0x4D42 || bitmap.biSize < sizeof bitmap || bitmap.biPlanes != 1
        || bitmap.biCompression != BI_RGB || bitmap.biWidth <= 0 || rows == 0
        || head.bfOffBits < sizeof head + infoBytes || head.bfOffBits > file.size()
        || (file.size() - head.bfOffBits) / rows < RowBytes(bitmap))
        return false;
    info.assign((infoBytes + 3) / 4, 0);
    memcpy(info.data(), file.data() + sizeof head, infoBytes);
    rowsAt = head.bfOffBits;
    return true;
}

// The BMP file stored under id, unpacked.
bool UnpackCompressedArt(HMODULE module, int id, std::vector<unsigned char>& bmpFile)
{
    const Bytef* data;
    DWORD size;
    return FindCompressed(module, id, data, size) && Gunzip(data, size, bmpFile);
}

}  // namespace

HBITMAP LoadCompressedArt(HMODULE module, int id)
{
    std::vector<unsigned char> file;
    std::vector<DWORD> info;
    size_t rowsAt;
    if (!UnpackCompressedArt(module, id, file) || !ReadBitmapInfo(file, info, rowsAt))
        return nullptr;
    // A bitmap of the screen's format, not a DIB section, as LoadImage made of the bitmap
    // resources these were: the sheet and the scaled pages draw it as they drew those.
    HDC screen = GetDC(nullptr);
    if (!screen) return nullptr;
    const BITMAPINFO* bitmapInfo = (const BITMAPINFO*)info.data();
    HBITMAP bitmap = CreateDIBitmap(screen, &bitmapInfo->bmiHeader, CBM_INIT,
                                    file.data() + rowsAt, bitmapInfo, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}
