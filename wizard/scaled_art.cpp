#include "wizard/scaled_art.h"

#include <commctrl.h>
#include <prsht.h>

#include "resources/resource.h"
#include "wizard/compressed_art.h"
#include "wizard/page_headers.h"

namespace {

// The sheet's line under the header band.
constexpr int HeaderLineId = 0x3027;
// Where the sheet puts the header's parts at 96 DPI, in pixels.
constexpr int TitleLeft = 20, TitleTop = 10, SubtitleLeft = 40, BitmapBox = 49;

struct DrawnArt {
    int dpi;
    int watermarkId;
    int headerId;
};

// In rising DPI; 96 is the sheet's own.
const DrawnArt ArtSizes[] = {
    {96, IDB_WATERMARK, IDB_HEADER},
    {120, IDB_WATERMARK_120, IDB_HEADER_120},
    {144, IDB_WATERMARK_144, IDB_HEADER_144},
    {192, IDB_WATERMARK_192, IDB_HEADER_192},
};

// The art drawn for this DPI, or for the next DPI above (shrunk a little beats
// blown up), or the largest.
const DrawnArt& ArtForSystemDpi()
{
    for (const DrawnArt& art : ArtSizes)
        if (art.dpi >= SystemDpi()) return art;
    return ArtSizes[sizeof ArtSizes / sizeof ArtSizes[0] - 1];
}

bool DisplayIsScaled()
{
    return SystemDpi() > 96;
}

HBITMAP LoadArt(int id)
{
    return LoadCompressedArt(GetModuleHandleW(nullptr), id);
}

// Draws art (drawn for artDpi) with its top-left corner at x, y, at the system DPI;
// returns its size there.
SIZE DrawArt(HDC dc, HBITMAP art, int artDpi, int x, int y)
{
    BITMAP bm = {};
    GetObjectW(art, sizeof bm, &bm);
    SIZE size = {MulDiv(bm.bmWidth, SystemDpi(), artDpi), MulDiv(bm.bmHeight, SystemDpi(), artDpi)};
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, art);
    if (size.cx == bm.bmWidth && size.cy == bm.bmHeight) {
        BitBlt(dc, x, y, size.cx, size.cy, source, 0, 0, SRCCOPY);
    } else {
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, x, y, size.cx, size.cy, source, 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
    }
    SelectObject(source, old);
    DeleteDC(source);
    return size;
}

void FillWithColour(HDC dc, const RECT& area, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}

// The band above the header line, in the sheet's client coordinates.
bool HeaderBand(HWND sheet, RECT& band)
{
    HWND line = GetDlgItem(sheet, HeaderLineId);
    if (!line || !IsWindowVisible(line)) return false;
    RECT lineRect;
    GetWindowRect(line, &lineRect);
    MapWindowPoints(nullptr, sheet, (POINT*)&lineRect, 2);
    GetClientRect(sheet, &band);
    band.bottom = lineRect.top;
    return band.bottom > 0;
}

HFONT CreateBoldFont(HFONT font)
{
    LOGFONTW bold = {};
    GetObjectW(font, sizeof bold, &bold);
    bold.lfWeight = FW_BOLD;
    return CreateFontIndirectW(&bold);
}

// Title and subtitle from the left, each line below the one before; textRight is
// where the bitmap begins.
void DrawHeaderTexts(HWND sheet, HDC dc, const wchar_t* title, const wchar_t* subtitle,
                     const RECT& band, int textRight)
{
    HFONT font = (HFONT)SendMessageW(sheet, WM_GETFONT, 0, 0);
    if (!font) font = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
    HFONT bold = CreateBoldFont(font);
    HGDIOBJ old = SelectObject(dc, bold);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    RECT line = {ScaledPixels(TitleLeft), ScaledPixels(TitleTop), textRight, band.bottom};
    DrawTextW(dc, title, -1, &line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(dc, font);
    line.left = ScaledPixels(SubtitleLeft);
    line.top += metrics.tmHeight;
    if (subtitle) DrawTextW(dc, subtitle, -1, &line, DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(bold);
}

void PaintScaledHeader(HWND sheet)
{
    HWND page = (HWND)SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
    int index = (int)SendMessageW(sheet, PSM_HWNDTOINDEX, (WPARAM)page, 0);
    const wchar_t* title = nullptr;
    const wchar_t* subtitle = nullptr;
    RECT band;
    if (!page || !PageHeaderTexts(index, title, subtitle) || !HeaderBand(sheet, band)) return;

    static HBITMAP header = LoadArt(ArtForSystemDpi().headerId);
    HDC dc = GetDC(sheet);
    FillRect(dc, &band, GetSysColorBrush(COLOR_WINDOW));
    int box = ScaledPixels(BitmapBox);
    int margin = (band.bottom - box) / 2;
    int bitmapLeft = band.right - box - margin;
    if (header) DrawArt(dc, header, ArtForSystemDpi().dpi, bitmapLeft, margin);
    DrawHeaderTexts(sheet, dc, title, subtitle, band, bitmapLeft - ScaledPixels(8));
    ReleaseDC(sheet, dc);
}

LRESULT CALLBACK ScaledHeaderProc(HWND sheet, UINT message, WPARAM wParam, LPARAM lParam,
                                  UINT_PTR, DWORD_PTR)
{
    switch (message) {
    case WM_PAINT: {
        // The sheet paints its header first; then it is painted again over it.
        LRESULT result = DefSubclassProc(sheet, message, wParam, lParam);
        PaintScaledHeader(sheet);
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(sheet, ScaledHeaderProc, 1);
        break;
    }
    return DefSubclassProc(sheet, message, wParam, lParam);
}

}  // namespace

int SystemDpi()
{
    static int dpi = [] {
        HDC screen = GetDC(nullptr);
        int found = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ReleaseDC(nullptr, screen);
        return found > 0 ? found : 96;
    }();
    return dpi;
}

int ScaledPixels(int pixelsAt96)
{
    return MulDiv(pixelsAt96, SystemDpi(), 96);
}

bool PaintExteriorPicture(HWND page)
{
    if (!DisplayIsScaled()) return false;
    static HBITMAP watermark = LoadArt(ArtForSystemDpi().watermarkId);
    if (!watermark) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(page, &paint);
    RECT client;
    GetClientRect(page, &client);
    SIZE drawn = DrawArt(dc, watermark, ArtForSystemDpi().dpi, 0, 0);
    RECT beside = {drawn.cx, 0, client.right, client.bottom};
    FillRect(dc, &beside, GetSysColorBrush(COLOR_WINDOW));
    if (drawn.cy < client.bottom) {
        // A page taller than the picture continues in its last row's colour.
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, watermark);
        BITMAP bm = {};
        GetObjectW(watermark, sizeof bm, &bm);
        COLORREF bottom = GetPixel(source, 0, bm.bmHeight - 1);
        SelectObject(source, old);
        DeleteDC(source);
        FillWithColour(dc, RECT{0, drawn.cy, drawn.cx, client.bottom}, bottom);
    }
    EndPaint(page, &paint);
    return true;
}

void ScaleSheetHeader(HWND sheet)
{
    if (DisplayIsScaled()) SetWindowSubclass(sheet, ScaledHeaderProc, 1, 0);
}
