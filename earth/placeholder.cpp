// Placeholder output image.
#include "earth/placeholder.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "framework/application.h"
#include "earth/mapfile.h"
#include "framework/mappedfile.h"

int Bmp24RowStride(int width)
{
    return ((width * 24 + 31) / 32) * 4;
}

struct PlaceholderCanvas {
    HDC dc;
    HBITMAP bitmap, oldBitmap;
    HFONT font, oldFont;
    uint8_t *pixels;
};

static void ReleaseCanvas(PlaceholderCanvas *c)
{
    if (c->oldFont)
        SelectObject(c->dc, c->oldFont);
    if (c->oldBitmap)
        SelectObject(c->dc, c->oldBitmap);
    if (c->font)
        DeleteObject(c->font);
    if (c->bitmap)
        DeleteObject(c->bitmap);
    if (c->dc)
        DeleteDC(c->dc);
}

static void FillInfoHeader(BITMAPINFOHEADER *info, int width, int height)
{
    memset(info, 0, sizeof *info);
    info->biSize = sizeof *info;
    info->biWidth = width;
    info->biHeight = height;   // positive: bottom-up rows, as in the file
    info->biPlanes = 1;
    info->biBitCount = 24;
    info->biCompression = BI_RGB;
}

// Draws the title centred on a black picture; 0 or the failed step's letter.
static int DrawCanvas(PlaceholderCanvas *c, const BITMAPINFOHEADER *info, int width, int height)
{
    c->dc = CreateCompatibleDC(0);
    if (!c->dc)
        return 'J';
    void *bits = 0;
    c->bitmap = CreateDIBSection(c->dc, (const BITMAPINFO *)info, DIB_RGB_COLORS, &bits, 0, 0);
    if (!c->bitmap || !bits)
        return 'K';
    c->pixels = (uint8_t *)bits;
    c->oldBitmap = (HBITMAP)SelectObject(c->dc, c->bitmap);
    int points = height / 12;
    c->font = CreateFontA(-MulDiv(points, GetDeviceCaps(c->dc, LOGPIXELSY), 72), 0, 0, 0, 600,
                          0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Times New Roman");
    if (!c->oldBitmap || !c->font)
        return 'L';
    c->oldFont = (HFONT)SelectObject(c->dc, c->font);
    if (!c->oldFont)
        return 'L';
    RECT all = {0, 0, width, height};
    FillRect(c->dc, &all, (HBRUSH)GetStockObject(BLACK_BRUSH));
    SetTextColor(c->dc, RGB(144, 144, 144));
    SetBkColor(c->dc, RGB(0, 0, 0));
    const char *title = gApp.strings.GetText(0, 0);
    if (!title)
        title = gApp.productName;
    if (*title && !DrawTextA(c->dc, title, -1, &all, DT_CENTER | DT_VCENTER | DT_SINGLELINE))
        return 'M';
    GdiFlush();
    return 0;
}

// Written beside the target and moved over it, so a failed write never
// leaves a torn output image where the screen saver would show it.
static int WriteBmpFile(const char *path, const BITMAPINFOHEADER *info, const uint8_t *pixels,
                        int height)
{
    int stride = Bmp24RowStride(info->biWidth);
    uint32_t size = 54 + (uint32_t)height * (uint32_t)stride;
    char temp[MAX_TEXT];
    if (snprintf(temp, sizeof temp, "%s_tmp", path) >= (int)sizeof temp)
        return 'N';
    DeleteFileA(temp);
    CMappedFile file;
    if (file.Open(temp, MAPPED_READ_WRITE, size, 0) != MAPPED_OK)
        return 'N';
    int result = 0;
    if (WriteBmpHeader(&file, info->biWidth, height) || file.Write(pixels, size - 54))
        result = 'O';
    file.Close();
    if (!result && !MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        result = 'O';
    if (result)
        DeleteFileA(temp);
    return result;
}

int WritePlaceholderImage(const char *path, int width, int height)
{
    if (width < 1 || height < 1 || width > 32768 || height > 32768 || !path)
        return 'K';
    BITMAPINFOHEADER info;
    FillInfoHeader(&info, width, height);
    PlaceholderCanvas canvas = {};
    int result = DrawCanvas(&canvas, &info, width, height);
    if (!result)
        result = WriteBmpFile(path, &info, canvas.pixels, height);
    ReleaseCanvas(&canvas);
    return result;
}
