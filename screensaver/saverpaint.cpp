// Painting the screen-saver picture and the screen-saver window's messages.
// The picture is the main program's bitmap file; the module reads only
// that one format and checks it before GDI draws it.
#include "screensaver/saver.h"

#include <string.h>


enum { BMP_FILE_HEADER_BYTES = 14 };

static uint32_t ReadLittle32(const unsigned char *bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

// The main program always writes a complete 24-bit BMP, but a half-copied or
// foreign file must not make GDI read past the block.
bool SaverImageLooksValid(const unsigned char *bytes, DWORD size)
{
    if (!bytes || size < BMP_FILE_HEADER_BYTES + sizeof(BITMAPINFOHEADER))
        return false;
    if (bytes[0] != 'B' || bytes[1] != 'M')
        return false;
    BITMAPINFOHEADER head;
    memcpy(&head, bytes + BMP_FILE_HEADER_BYTES, sizeof head);
    if (head.biSize < sizeof head || head.biWidth <= 0 || head.biHeight == 0)
        return false;
    if (head.biCompression != BI_RGB || head.biPlanes != 1)
        return false;
    if (head.biBitCount != 24 && head.biBitCount != 32)
        return false;
    uint32_t offset = ReadLittle32(bytes + 10);
    uint64_t height = head.biHeight < 0 ? -(int64_t)head.biHeight : head.biHeight;
    uint64_t stride = ((uint64_t)head.biWidth * head.biBitCount + 31) / 32 * 4;
    return offset >= BMP_FILE_HEADER_BYTES + head.biSize && offset + stride * height <= size;
}

int PlanSaverPaint(const SaverState *state, int imageWidth, int imageHeight, RECT *targets)
{
    if (imageWidth >= state->virtualWidth && imageHeight >= state->virtualHeight) {
        SetRect(&targets[0], 0, 0, state->virtualWidth, state->virtualHeight);
        return 1;
    }
    // One pixel wider and higher than the monitor, so no seam stays unpainted.
    for (int i = 0; i < state->monitorCount; i++) {
        const RECT &m = state->monitors[i];
        targets[i].left = m.left - state->virtualX;
        targets[i].top = m.top - state->virtualY;
        targets[i].right = targets[i].left + (m.right - m.left + 1);
        targets[i].bottom = targets[i].top + (m.bottom - m.top + 1);
    }
    return state->monitorCount;
}

static void StretchImage(HDC dc, const SaverState *state)
{
    const BITMAPINFOHEADER *head = (const BITMAPINFOHEADER *)(state->image + BMP_FILE_HEADER_BYTES);
    const unsigned char *pixels = state->image + ReadLittle32(state->image + 10);
    HBITMAP bitmap = CreateDIBitmap(dc, head, CBM_INIT, pixels, (const BITMAPINFO *)head,
                                    DIB_RGB_COLORS);
    if (!bitmap)
        return;
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, 0);
    int width = head->biWidth, height = head->biHeight < 0 ? -head->biHeight : head->biHeight;
    static RECT targets[SAVER_MAX_MONITORS];
    int count = PlanSaverPaint(state, width, height, targets);
    for (int i = 0; i < count; i++)
        StretchBlt(dc, targets[i].left, targets[i].top, targets[i].right - targets[i].left,
                   targets[i].bottom - targets[i].top, memory, 0, 0, width, height, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

void PaintSaverImage(HWND window, const SaverState *state)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (state->image && SaverImageLooksValid(state->image, state->imageSize))
        StretchImage(dc, state);
    else if (state->image)
        FillRect(dc, &paint.rcPaint, (HBRUSH)GetStockObject(BLACK_BRUSH));
    EndPaint(window, &paint);
}

static LRESULT OnCreate(SaverState *state, HWND window)
{
    const char *name = state->programName ? state->programName : SAVER_PRODUCT_NAME;
    if (!FindSaverDataFolder(name, &state->record, state->dataFolder))
        return -1;
    WriteSaverActive(state->dataFolder, 1);
    ReadVirtualScreen(state);
    CollectMonitors(state);
    SetTimer(window, SAVER_TIMER_ID, SAVER_TICK_MS, 0);
    SendMessageA(window, WM_TIMER, SAVER_TIMER_ID, 0);
    if (state->image)
        return 0;
    // Not every system sends WM_DESTROY to a window refused here, and a
    // flag left at 1 would keep the main program rendering for nobody.
    WriteSaverActive(state->dataFolder, 0);
    return -1;
}

static LRESULT OnDestroy(SaverState *state, HWND window)
{
    // A window refused for want of a record has no folder to write into.
    if (state->dataFolder[0])
        WriteSaverActive(state->dataFolder, 0);
    DropSaverImage(state);
    state->imageWriteTime = 0;
    KillTimer(window, SAVER_TIMER_ID);
    return 0;
}

LRESULT HandleSaverMessage(SaverState *state, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam, bool *handled)
{
    (void)lParam;
    *handled = true;
    switch (message) {
    case WM_CREATE:
        return OnCreate(state, window);
    case WM_DESTROY:
        return OnDestroy(state, window);
    case WM_TIMER:
        if (SaverTick(state) == SAVER_IMAGE_CHANGED)
            InvalidateRect(window, 0, FALSE);
        return 0;
    case WM_PAINT:
        PaintSaverImage(window, state);
        return 0;
    case WM_ERASEBKGND:
        return 0;   // the picture covers everything
    case WM_POWERBROADCAST:
        if (wParam == 0)
            return 0;
        break;
    }
    *handled = false;
    return 0;
}
