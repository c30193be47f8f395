// Dock bays and bars: rows, layout of a bar's items, docking and floating,
// dragging bars and splitters, placement records and the frame hooks.
#include "framework/ui/dockbay.h"

#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/ui/framewindow.h"
#include "framework/ui/graphics.h"
#include "framework/ui/menu.h"

CGrowArray<CBar *> gBars;

static const char kBarRecord[] = "(QRF)Bar";
enum { BAY_BACKGROUND_SLOT = 35, SIZEGRIP_BOTTOMRIGHT = 8 };

static HINSTANCE Instance() { return gApp.instance ? gApp.instance : GetModuleHandleA(0); }

static COLORREF BackgroundColour()
{
    return gGraphics ? gGraphics->slots[BAY_BACKGROUND_SLOT] : GetSysColor(COLOR_BTNFACE);
}

static void FillBackground(HDC dc, const RECT &rect)
{
    HBRUSH brush = CreateSolidBrush(BackgroundColour());
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

static CFrameWindow *FrameOfBay(const CDockBay *bay) { return FindFrameByIndex(bay->frameIndex); }
static CFrameWindow *FrameOfBar(const CBar *bar) { return FindFrameByIndex(bar->ownerFrame); }

static uint32_t FrameOptions(uint16_t frameIndex)
{
    CFrameWindow *frame = FindFrameByIndex(frameIndex);
    return frame ? frame->options : 0;
}

static bool IsVerticalSide(int side) { return side == BAY_LEFT || side == BAY_RIGHT; }

CDockBay *FindDockBay(uint16_t bayId)
{
    for (int i = 0; i < gFrames.count; i++) {
        CFrameWindow *frame = gFrames.data[i];
        for (int b = 0; b < frame->bays.count; b++)
            if (frame->bays.data[b] && frame->bays.data[b]->id == bayId)
                return frame->bays.data[b];
    }
    return 0;
}

CBar *FindBar(uint16_t commandId)
{
    for (int i = 0; i < gBars.count; i++)
        if (gBars.data[i]->commandId == commandId)
            return gBars.data[i];
    return 0;
}

CBar *BarOfWindow(HWND window)
{
    for (int i = 0; window && i < gBars.count; i++)
        if (gBars.data[i]->window == window)
            return gBars.data[i];
    return 0;
}

static CBar *BarOfItem(const CUIItem *item)
{
    for (int i = 0; item && i < gBars.count; i++)
        for (int k = 0; k < gBars.data[i]->items.count; k++)
            if (gBars.data[i]->items.data[k] == item)
                return gBars.data[i];
    return 0;
}

static bool DockedIn(const CBar *bar, const CDockBay *bay)
{
    return bar->dockTarget == bay->id && bar->side == bay->side;
}

static bool BarVisible(const CBar *bar) { return (bar->flags & BARF_VISIBLE) != 0; }

// ---------------------------------------------------------------- bays

CDockBay::CDockBay()
    : window(0), id(0), frameIndex(FRAME_NO_INDEX), side(0), vertical(false), gripState(-1),
      gripSize(16), dragRow(-1), dragStartExtent(0), lastSize(0)
{
    memset(rowExtents, 0, sizeof rowExtents);
    dragStart.x = dragStart.y = 0;
}

CDockBay::~CDockBay() { DestroyWindow(); }

static void RegisterBayClass()
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = DockBayWindowProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorA(0, IDC_ARROW);
    wc.lpszClassName = DOCK_BAY_CLASS;
    RegisterClassA(&wc);   // fails harmlessly once registered
}

int CDockBay::Create(int newSide, uint16_t newFrameIndex, int expectedPosition)
{
    CFrameWindow *frame = FindFrameByIndex(newFrameIndex);
    if (!frame || !frame->window || newSide < 0 || newSide > 3 ||
        frame->bays.count != expectedPosition)
        return QRF_ERR_WINDOW;
    side = newSide;
    frameIndex = newFrameIndex;
    id = BayId(side, frameIndex);
    vertical = IsVerticalSide(side);
    bool gripSide = side == BAY_BOTTOM || side == BAY_RIGHT;
    gripState = (gripSide && (frame->options & FRAME_MINMAXBOX)) ? 0 : -1;
    RegisterBayClass();
    window = CreateWindowExA(0, DOCK_BAY_CLASS, "", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                             0, 0, 0, 0, frame->window, 0, Instance(), 0);
    if (!window)
        return QRF_ERR_WINDOW;
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)this);
    return 0;
}

void CDockBay::DestroyWindow()
{
    if (window && IsWindow(window)) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        ::DestroyWindow(window);
    }
    window = 0;
}

int CDockBay::Extent() const
{
    int sum = 0;
    for (int r = 0; r < BAY_MAX_ROWS; r++)
        sum += abs(rowExtents[r]);
    return sum;
}

void CDockBay::ComputeRows()
{
    // Rows that hold no bar close up: later bars move one row down.
    bool used[BAY_MAX_ROWS] = {};
    for (int i = 0; i < gBars.count; i++)
        if (DockedIn(gBars.data[i], this) && gBars.data[i]->row < BAY_MAX_ROWS)
            used[gBars.data[i]->row] = true;
    int newRow[BAY_MAX_ROWS], next = 0;
    for (int r = 0; r < BAY_MAX_ROWS; r++)
        newRow[r] = used[r] ? next++ : next;
    int extent[BAY_MAX_ROWS] = {};
    bool fill[BAY_MAX_ROWS] = {};
    for (int i = 0; i < gBars.count; i++) {
        CBar *bar = gBars.data[i];
        if (!DockedIn(bar, this))
            continue;
        if (bar->row >= BAY_MAX_ROWS)
            bar->row = BAY_MAX_ROWS - 1;
        bar->row = (uint16_t)newRow[bar->row];
        if (!BarVisible(bar))
            continue;
        int e = bar->GetExtent();
        if (e > extent[bar->row])
            extent[bar->row] = e;
        if (bar->flags & BARF_FILL)
            fill[bar->row] = true;
    }
    for (int r = 0; r < BAY_MAX_ROWS; r++)
        rowExtents[r] = fill[r] ? -extent[r] - BAY_SPLITTER : extent[r];
}

int CDockBay::RowOffset(int row) const
{
    int offset = 0;
    for (int r = 0; r < row && r < BAY_MAX_ROWS; r++)
        offset += abs(rowExtents[r]);
    return offset;
}

// Rows start at the frame's edge: the bottom and right bays count inward
// from their far side.
void CDockBay::RowBand(int row, int *from, int *to) const
{
    int offset = RowOffset(row), size = abs(rowExtents[row]);
    if (side == BAY_TOP || side == BAY_LEFT) {
        *from = offset;
        *to = offset + size;
    } else {
        int total = Extent();
        *from = total - offset - size;
        *to = total - offset;
    }
}

struct RowSlot {
    CBar *bar;
    int along, length;
};

static int CompareSlots(const void *a, const void *b)
{
    return ((const RowSlot *)a)->along - ((const RowSlot *)b)->along;
}

// Bars of a row in order along the bay; returns how many.
static int CollectRow(const CDockBay *bay, int row, RowSlot *slots, int capacity)
{
    int n = 0;
    for (int i = 0; i < gBars.count && n < capacity; i++) {
        CBar *bar = gBars.data[i];
        if (!DockedIn(bar, bay) || !BarVisible(bar) || bar->row != row)
            continue;
        slots[n].bar = bar;
        slots[n].along = bay->vertical ? bar->y : bar->x;
        slots[n].length = bar->NaturalLength();
        n++;
    }
    qsort(slots, n, sizeof *slots, CompareSlots);
    return n;
}

// Each bar after the previous one, pushed back where the row would run past
// the bay's end, never before its start; stretching bars take the room up
// to the next bar.
static void PackRow(RowSlot *slots, int n, int length)
{
    int end = 0;
    for (int i = 0; i < n; i++) {
        if (slots[i].along < end)
            slots[i].along = end;
        end = slots[i].along + slots[i].length;
    }
    int limit = length;
    for (int i = n - 1; i >= 0; i--) {
        if (slots[i].along + slots[i].length > limit)
            slots[i].along = limit - slots[i].length;
        if (slots[i].along < 0)
            slots[i].along = 0;
        limit = slots[i].along;
    }
    for (int i = 0; i < n; i++) {
        int room = (i + 1 < n ? slots[i + 1].along : length) - slots[i].along;
        if (slots[i].bar->HasStretchItems() || slots[i].length > room)
            slots[i].length = room;
        if (slots[i].length < 0)
            slots[i].length = 0;
    }
}

int CDockBay::ArrangeBars(int length)
{
    ComputeRows();
    // The size grip sits in the bottom bay's right end.
    if (side == BAY_BOTTOM && gripState >= 0)
        length -= gripSize;
    for (int r = 0; r < BAY_MAX_ROWS; r++) {
        if (rowExtents[r] == 0)
            continue;
        RowSlot slots[64];
        int n = CollectRow(this, r, slots, 64);
        PackRow(slots, n, length);
        int from, to;
        RowBand(r, &from, &to);
        // A fill row's splitter is on the side toward the client area.
        if (rowExtents[r] < 0) {
            if (side == BAY_TOP || side == BAY_LEFT)
                to -= BAY_SPLITTER;
            else
                from += BAY_SPLITTER;
        }
        for (int i = 0; i < n; i++) {
            CBar *bar = slots[i].bar;
            int w = vertical ? to - from : slots[i].length;
            int h = vertical ? slots[i].length : to - from;
            int bx = vertical ? from : slots[i].along;
            int by = vertical ? slots[i].along : from;
            // The stored position along the bay is the bar's wish; only the
            // position across and the size follow the arrangement.
            if (vertical)
                bar->x = (uint16_t)bx;
            else
                bar->y = (uint16_t)by;
            bar->width = (uint16_t)w;
            bar->height = (uint16_t)h;
            bar->Layout(w, h, false);
            bar->placing = 1;
            SetWindowPos(bar->window, 0, bx, by, w, h,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            bar->placing = 0;
        }
    }
    return Extent();
}

void CDockBay::Place(int x, int y, int width, int height)
{
    int extent = ArrangeBars(vertical ? height : width);
    CFrameWindow *frame = FrameOfBay(this);
    if (gripState >= 0)
        gripState = (side == BAY_BOTTOM && extent > 0 && frame && !IsZoomed(frame->window)) ? 1 : 0;
    // Bottom and right bays grow toward the client area from the far edge.
    if (vertical) {
        if (side == BAY_RIGHT)
            x = x + width - extent;
        width = extent;
    } else {
        if (side == BAY_BOTTOM)
            y = y + height - extent;
        height = extent;
    }
    SetWindowPos(window, 0, x, y, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE | (extent > 0 ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    InvalidateRect(window, 0, TRUE);
}

static bool SplitterRect(const CDockBay *bay, int row, RECT *out)
{
    if (row < 0 || row >= BAY_MAX_ROWS || bay->rowExtents[row] >= 0)
        return false;
    RECT client;
    GetClientRect(bay->window, &client);
    int from, to;
    bay->RowBand(row, &from, &to);
    bool nearEdge = bay->side == BAY_TOP || bay->side == BAY_LEFT;
    int a = nearEdge ? to - BAY_SPLITTER : from, b = a + BAY_SPLITTER;
    if (bay->vertical)
        SetRect(out, a, 0, b, client.bottom);
    else
        SetRect(out, 0, a, client.right, b);
    return true;
}

int CDockBay::HitSplitter(const POINT *point) const
{
    POINT p;
    if (point) {
        p = *point;
    } else {
        GetCursorPos(&p);
        ScreenToClient(window, &p);
    }
    for (int r = 0; r < BAY_MAX_ROWS; r++) {
        RECT rect;
        if (SplitterRect(this, r, &rect) && PtInRect(&rect, p))
            return r;
    }
    return -1;
}

void CDockBay::PaintBackground(HDC dc, int x, int y)
{
    RECT client;
    GetClientRect(window, &client);
    OffsetRect(&client, -x, -y);
    FillBackground(dc, client);
}

static void PaintBay(CDockBay *bay)
{
    PAINTSTRUCT paint;
    HDC target = BeginPaint(bay->window, &paint);
    RECT client;
    GetClientRect(bay->window, &client);
    CMemoryDC memory;
    HDC dc = target;
    memory.Begin(&dc, client.right + 1, client.bottom + 1);
    bay->PaintBackground(dc, 0, 0);
    for (int r = 0; gGraphics && r < BAY_MAX_ROWS; r++) {
        RECT strip;
        if (SplitterRect(bay, r, &strip))
            gGraphics->DrawSplitter(dc, &strip, 0, bay->vertical);
    }
    if (bay->gripState == 1 && gGraphics) {
        RECT grip = {client.right - bay->gripSize, client.bottom - bay->gripSize, client.right,
                     client.bottom};
        gGraphics->DrawSizeGrip(dc, &grip);
    }
    memory.End();
    EndPaint(bay->window, &paint);
}

static int LargestRowMinimum(const CDockBay *bay, int row)
{
    int minimum = 0;
    for (int i = 0; i < gBars.count; i++) {
        CBar *bar = gBars.data[i];
        if (DockedIn(bar, bay) && bar->row == row && BarVisible(bar)) {
            bar->GetExtent();
            if (bar->minExtent > minimum)
                minimum = bar->minExtent;
        }
    }
    return minimum;
}

bool CDockBay::OnSplitterDown(POINT point)
{
    if (FrameOptions(frameIndex) & FRAME_LOCKBARSIZE)
        return false;
    int row = HitSplitter(&point);
    if (row < 0)
        return false;
    dragRow = row;
    dragStartExtent = abs(rowExtents[row]) - BAY_SPLITTER;
    // Screen coordinates: the bay itself moves while its extent changes.
    dragStart = point;
    ClientToScreen(window, &dragStart);
    SetCapture(window);
    return true;
}

void CDockBay::OnSplitterMove(POINT point)
{
    ClientToScreen(window, &point);
    int moved = vertical ? point.x - dragStart.x : point.y - dragStart.y;
    if (side == BAY_BOTTOM || side == BAY_RIGHT)
        moved = -moved;
    int extent = dragStartExtent + moved;
    int minimum = LargestRowMinimum(this, dragRow);
    if (extent < minimum)
        extent = minimum;
    for (int i = 0; i < gBars.count; i++) {
        CBar *bar = gBars.data[i];
        if (!DockedIn(bar, this) || bar->row != dragRow || !(bar->flags & BARF_FILL))
            continue;
        if (vertical)
            bar->width = (uint16_t)extent;
        else
            bar->height = (uint16_t)extent;
    }
    CFrameWindow *frame = FrameOfBay(this);
    if (frame)
        frame->Move(-1, -1, -1, -1, false);
    InvalidateRect(window, 0, TRUE);
}

static CDockBay *BayOfWindow(HWND window)
{
    return window ? (CDockBay *)GetWindowLongPtrA(window, GWLP_USERDATA) : 0;
}

static POINT PointOf(LPARAM lParam)
{
    POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    return p;
}

LRESULT CALLBACK DockBayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDockBay *bay = BayOfWindow(window);
    if (!bay)
        return DefWindowProcA(window, message, wParam, lParam);
    CFrameWindow *frame = FrameOfBay(bay);
    switch (message) {
    case WM_SIZE:
        bay->gripSize = GetWindowDpi(window) / 6;
        bay->lastSize = lParam;
        return 0;
    case WM_PAINT:
        PaintBay(bay);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && (bay->dragRow >= 0 || bay->HitSplitter(0) >= 0)) {
            SetCursor(LoadCursorA(0, bay->vertical ? IDC_SIZEWE : IDC_SIZENS));
            return 1;
        }
        break;
    case WM_NCHITTEST:
        if (bay->gripState == 1 && frame && !(frame->options & FRAME_BORDERLESS)) {
            POINT p = PointOf(lParam);
            ScreenToClient(window, &p);
            RECT client;
            GetClientRect(window, &client);
            if (p.x >= client.right - bay->gripSize && p.y >= client.bottom - bay->gripSize &&
                p.x < client.right && p.y < client.bottom)
                return HTBOTTOMRIGHT;
        }
        break;
    case WM_NCLBUTTONDOWN:
        // The grip sizes the frame, not the bay, which is a child of it.
        if (wParam == HTBOTTOMRIGHT && frame) {
            SendMessageA(frame->window, WM_SYSCOMMAND, SC_SIZE | SIZEGRIP_BOTTOMRIGHT, lParam);
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
        bay->OnSplitterDown(PointOf(lParam));
        return 0;
    case WM_MOUSEMOVE:
        if (bay->dragRow >= 0 && GetCapture() == window)
            bay->OnSplitterMove(PointOf(lParam));
        return 0;
    case WM_LBUTTONUP:
        if (bay->dragRow >= 0) {
            bay->dragRow = -1;
            ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        bay->dragRow = -1;
        return 0;
    case WM_RBUTTONUP:
        if (frame)
            SendMessageA(frame->window, QRFM_CONTEXTMENU, 0, 0);
        return 0;
    case QRFM_PAINTITEMBACKGROUND:
        bay->PaintBackground((HDC)wParam, (short)LOWORD(lParam), (short)HIWORD(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---------------------------------------------------------------- bars

CBar::CBar()
    : window(0), busyOverlay(0), commandId(0), ownerFrame(FRAME_NO_INDEX),
      dockTarget(BAY_NO_TARGET), row(0), x(0), y(0), width(0), height(0), minLength(0),
      minExtent(0), flags(0), side(BAY_FLOATING), itemGap(BAR_DEFAULT_GAP), overflow(0),
      dragging(0), placing(0), openMenu(0)
{
    SetRectEmpty(&layoutRect);
    SetRectEmpty(&previousRect);
    grab.x = grab.y = 0;
    items.growStep = -1;
}

CBar::~CBar()
{
    for (int i = gApp.navigationItems.count - 1; i >= 0; i--)
        for (int k = 0; k < items.count; k++)
            if (i < gApp.navigationItems.count && gApp.navigationItems.data[i] == items.data[k])
                gApp.navigationItems.RemoveAt(i);
    for (int i = items.count - 1; i >= 0; i--)
        delete items.data[i];
    free(overflow);
    overflow = 0;
    if (busyOverlay && IsWindow(busyOverlay))
        DestroyWindow(busyOverlay);
    busyOverlay = 0;
    if (window && IsWindow(window))
        DestroyWindow(window);
    window = 0;
    items.RemoveAll();
    // The list never keeps a bar that is gone.
    for (int i = gBars.count - 1; i >= 0; i--)
        if (gBars.data[i] == this)
            gBars.RemoveAt(i);
}

static void RegisterBarClass()
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = BarWindowProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorA(0, IDC_ARROW);
    wc.lpszClassName = BAR_CLASS;
    RegisterClassA(&wc);
}

int CBar::Create(uint16_t id, uint16_t frameIndex, const uint16_t *itemIds)
{
    CFrameWindow *frame = FindFrameByIndex(frameIndex);
    if (!frame || !frame->window || frame->bays.count < 1 || !itemIds)
        return QRF_ERR_WINDOW;
    commandId = id;
    ownerFrame = frameIndex;
    RegisterBarClass();
    CommandEntry own;
    const char *title = gApp.GetCommand(id, &own) == 0 ? own.text : "";
    window = CreateWindowExA(0, BAR_CLASS, title, BAR_STYLE_DOCKED, 0, 0, 0, 0,
                             frame->bays.data[0]->window, 0, Instance(), 0);
    if (!window)
        return QRF_ERR_WINDOW;
    for (int i = 0; itemIds[i] != CMD_ID_LIST_END; i++) {
        CommandEntry entry;
        if (gApp.GetCommand(itemIds[i], &entry) != 0)
            return QRF_ERR_NOCOMMAND;
        CUIItem *item = NewItemForType(entry.type);
        if (!item)
            return QRF_ERR_MEMORY;
        if (item->Create(itemIds[i], window, frame->window, 0) != 0 || items.Add(item) < 0) {
            delete item;
            return QRF_ERR_MEMORY;
        }
    }
    return 0;
}

static int Orientation(int side)
{
    if (side == BAY_FLOATING)
        return ORIENT_FLOATING;
    return IsVerticalSide(side) ? ORIENT_VERTICAL : ORIENT_HORIZONTAL;
}

static void MeasureItem(CUIItem *item, int side)
{
    CommandEntry entry;
    item->ReadEntry(&entry);
    item->Measure(entry, Orientation(side));
}

static int AlongOf(const CUIItem *item, bool vertical) { return vertical ? item->height : item->width; }
static int AcrossOf(const CUIItem *item, bool vertical) { return vertical ? item->width : item->height; }

int CBar::GetExtent()
{
    bool vertical = Vertical();
    int largest = -1;
    for (int i = 0; i < items.count; i++) {
        MeasureItem(items.data[i], side);
        if (AcrossOf(items.data[i], vertical) > largest)
            largest = AcrossOf(items.data[i], vertical);
    }
    int extent = (largest < 0 ? BAR_EMPTY_EXTENT : largest + 1) + BAR_EXTENT_MARGIN;
    minExtent = (uint16_t)extent;
    int stored = vertical ? width : height;
    if ((flags & BARF_FILL) && side != BAY_FLOATING && stored > extent)
        return stored;
    return extent;
}

bool CBar::HasStretchItems() const
{
    for (int i = 0; i + 1 < items.count; i++)
        if ((items.data[i]->flags & BARITEM_STRETCH) && !(items.data[i]->flags & BARITEM_HIDDEN))
            return true;
    return false;
}

int CBar::NaturalLength()
{
    int total = 0;
    for (int i = 0; i + 1 < items.count; i++) {
        CUIItem *item = items.data[i];
        MeasureItem(item, side);
        if (!(item->flags & BARITEM_HIDDEN))
            total += AlongOf(item, Vertical()) + itemGap;
    }
    return total > 0 ? total : BAR_EMPTY_EXTENT;
}

static void PlaceItem(CUIItem *item, int x, int y, int w, int h)
{
    SetWindowPos(item->window, 0, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

static void HideItem(CUIItem *item) { ShowWindow(item->window, SW_HIDE); }

void CBar::SetOverflowList(const bool *dropped)
{
    int n = items.count - 1, count = 0;
    free(overflow);
    overflow = (uint16_t *)malloc(sizeof(uint16_t) * (n + 1 > 0 ? n + 1 : 1));
    if (!overflow)
        return;
    for (int i = 0; i < n; i++) {
        if (!dropped[i])
            continue;
        // A separator cannot head the list.
        if (count == 0 && items.data[i]->typeCode == CMD_SEPARATOR)
            continue;
        overflow[count++] = items.data[i]->commandId;
    }
    overflow[count] = CMD_ID_LIST_END;
    CUIItem *more = OverflowItem();
    CommandEntry *entry = more ? gApp.CommandById(more->commandId) : 0;
    if (entry && entry->type == CMD_MENU)
        entry->data = (uint32_t)(uintptr_t)overflow;
}

void CBar::LayoutDocked(int length, int extent)
{
    bool vertical = Vertical();
    int n = items.count - 1;
    bool *dropped = (bool *)calloc(n > 0 ? n : 1, sizeof(bool));
    if (!dropped)
        return;
    CUIItem *more = OverflowItem();
    int total = 0, stretch = 0, minimum = 0;
    for (int i = 0; i < n; i++) {
        CUIItem *item = items.data[i];
        MeasureItem(item, side);
        if (item->flags & BARITEM_HIDDEN)
            continue;
        total += AlongOf(item, vertical) + itemGap;
        if (item->flags & BARITEM_STRETCH)
            stretch++;
        if (!(item->flags & BARITEM_OPTIONAL))
            minimum += AlongOf(item, vertical);
    }
    minLength = (int16_t)minimum;
    int available = length;
    bool overflowShown = total > length;
    if (overflowShown) {
        // The overflow item takes its own room at the end of the bar.
        available = length - AlongOf(more, vertical) - itemGap;
        for (int i = n - 1; i >= 0 && total > available; i--) {
            CUIItem *item = items.data[i];
            if ((item->flags & BARITEM_HIDDEN) || !(item->flags & BARITEM_OPTIONAL))
                continue;
            dropped[i] = true;
            total -= AlongOf(item, vertical) + itemGap;
            if (item->flags & BARITEM_STRETCH)
                stretch--;
        }
    }
    int extra = stretch > 0 ? (available - total) / stretch : 0;
    if (extra < 0)
        extra = 0;
    int position = 0;
    for (int i = 0; i < n; i++) {
        CUIItem *item = items.data[i];
        if ((item->flags & BARITEM_HIDDEN) || dropped[i]) {
            HideItem(item);
            continue;
        }
        int along = AlongOf(item, vertical) + ((item->flags & BARITEM_STRETCH) ? extra : 0);
        int across = (item->flags & BARITEM_FILL) ? extent : AcrossOf(item, vertical);
        int offset = (extent - across) / 2;
        if (vertical)
            PlaceItem(item, offset, position, across, along);
        else
            PlaceItem(item, position, offset, along, across);
        position += along + itemGap;
    }
    if (more) {
        if (overflowShown) {
            int along = AlongOf(more, vertical), across = AcrossOf(more, vertical);
            int start = length - along, offset = (extent - across) / 2;
            if (vertical)
                PlaceItem(more, offset, start, across, along);
            else
                PlaceItem(more, start, offset, along, across);
        } else {
            HideItem(more);
        }
    }
    SetOverflowList(dropped);
    free(dropped);
}

struct FloatRow {
    int first, last;   // item indexes, inclusive
    int width, height;
    int stretch;
    bool own;
};

void CBar::LayoutFloating(int requestedWidth, int requestedHeight)
{
    int n = items.count - 1;
    static FloatRow rows[BAR_MAX_FLOAT_ROWS];
    int count = 0;
    FloatRow current = {-1, -1, 0, 0, 0, false};
    for (int i = 0; i < n; i++) {
        CUIItem *item = items.data[i];
        MeasureItem(item, side);
        if (item->flags & BARITEM_HIDDEN) {
            HideItem(item);
            continue;
        }
        bool own = (item->flags & BARITEM_OWNROW) != 0;
        bool full = current.first >= 0 && current.width + item->width > requestedWidth;
        if (current.first >= 0 && (own || full) && count < BAR_MAX_FLOAT_ROWS) {
            rows[count++] = current;
            current.first = -1;
        }
        if (current.first < 0) {
            current.first = i;
            current.width = current.height = current.stretch = 0;
            current.own = own;
        }
        current.last = i;
        current.width += item->width + itemGap;
        if (item->height > current.height)
            current.height = item->height;
        if (item->flags & BARITEM_STRETCH)
            current.stretch++;
        if (own && count < BAR_MAX_FLOAT_ROWS) {
            rows[count++] = current;
            current.first = -1;
        }
    }
    if (current.first >= 0 && count < BAR_MAX_FLOAT_ROWS)
        rows[count++] = current;
    int widest = 0, othersHeight = 0, ownRows = 0;
    for (int r = 0; r < count; r++) {
        if (rows[r].width > widest)
            widest = rows[r].width;
        if (rows[r].own)
            ownRows++;
        else
            othersHeight += rows[r].height;
    }
    // Rows of their own share what the other rows leave of the height.
    int share = ownRows ? (requestedHeight - 3 - othersHeight) / ownRows : 0;
    int top = 1, totalHeight = 0;
    for (int r = 0; r < count; r++) {
        FloatRow &row = rows[r];
        if (row.own && share > row.height)
            row.height = share;
        int extra = row.stretch ? (widest - row.width) / row.stretch : 0;
        int left = 1;
        for (int i = row.first; i <= row.last; i++) {
            CUIItem *item = items.data[i];
            if (item->flags & BARITEM_HIDDEN)
                continue;
            int w = row.own ? widest - itemGap : item->width;
            if (!row.own && (item->flags & BARITEM_STRETCH))
                w += extra;
            PlaceItem(item, left, top, w, row.own ? row.height : item->height);
            left += w + itemGap;
        }
        top += row.height;
        totalHeight += row.height;
    }
    if (OverflowItem())
        HideItem(OverflowItem());
    bool none[1] = {false};
    bool *dropped = n > 0 ? (bool *)calloc(n, sizeof(bool)) : none;
    if (dropped) {
        SetOverflowList(dropped);
        if (dropped != none)
            free(dropped);
    }
    width = (uint16_t)(widest + 2);
    height = (uint16_t)(totalHeight + 3);
}

void CBar::Layout(int w, int h, bool force)
{
    if (!window)
        return;
    SendMessageA(window, WM_PAINT, BAR_LAYOUT_PAINT, 0);
    RECT wanted = {0, 0, w, h};
    if (!force && EqualRect(&wanted, &layoutRect))
        return;
    if (OverflowItem())
        MeasureItem(OverflowItem(), side);
    if (side == BAY_FLOATING)
        LayoutFloating(w, h);
    else if (Vertical())
        LayoutDocked(h, w);
    else
        LayoutDocked(w, h);
    if (!EqualRect(&wanted, &layoutRect)) {
        previousRect = layoutRect;
        layoutRect = wanted;
        InvalidateRect(window, 0, TRUE);
    }
}

static DWORD FloatingStyle(uint16_t barFlags)
{
    return (barFlags & BARF_SYSMENU) ? BAR_STYLE_SYSMENU : BAR_STYLE_FLOATING;
}

int CBar::Dock(uint16_t target, int nx, int ny, int w, int h, bool reparent)
{
    if (!window)
        return QRF_ERR_WINDOW;
    CDockBay *bay = FindDockBay(target);
    CFrameWindow *frame = FrameOfBar(this);
    int newSide = bay ? bay->side : BAY_FLOATING;
    DWORD style = bay ? BAR_STYLE_DOCKED : FloatingStyle(flags);
    placing = 1;
    if (reparent) {
        ShowWindow(window, SW_HIDE);
        if (IsVerticalSide(newSide) != Vertical()) {
            int swap = w;
            w = h;
            h = swap;
        }
        SetWindowLongA(window, GWL_STYLE, (LONG)style);
        SetWindowLongA(window, GWL_EXSTYLE, bay ? 0 : WS_EX_TOOLWINDOW);
        SetParent(window, bay ? bay->window : 0);
        // A floating bar stays with its frame: owned by it.
        if (!bay && frame)
            SetWindowLongPtrA(window, GWLP_HWNDPARENT, (LONG_PTR)frame->window);
        side = newSide;
        Layout(w, h, true);
        if (!bay) {
            w = width;
            h = height;
            if (frame)
                SetWindowOpacity(window, frame->transparency, frame->clickThrough != 0);
        }
    }
    side = newSide;
    int outerW = w, outerH = h;
    if (!bay) {
        RECT outer = {0, 0, w, h};
        AdjustWindowRectForDpi(&outer, style, FALSE, WS_EX_TOOLWINDOW, GetWindowDpi(window));
        outerW = outer.right - outer.left;
        outerH = outer.bottom - outer.top;
    }
    SetWindowPos(window, 0, nx, ny, outerW, outerH,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED |
                     (BarVisible(this) ? SWP_SHOWWINDOW : 0));
    placing = 0;
    x = (uint16_t)nx;
    y = (uint16_t)ny;
    width = (uint16_t)w;
    height = (uint16_t)h;
    dockTarget = target;
    return 0;
}

int CBar::SavePlacement()
{
    BarPlacementRecord record;
    record.x = x;
    record.y = y;
    record.width = width;
    record.height = height;
    record.frame = ownerFrame;
    record.side = (uint16_t)(dockTarget & 0xFF);
    record.row = row;
    record.flags = flags;
    return WriteRecordFile(kBarRecord, commandId, &record, sizeof record, 0);
}

void CBar::Show(int nCmdShow)
{
    if (window)
        ShowWindow(window, nCmdShow);
}

void CBar::SetBusy(bool on)
{
    if (on && !busyOverlay && window) {
        RECT client;
        GetClientRect(window, &client);
        busyOverlay = CreateWindowExA(WS_EX_TRANSPARENT, "QRFBUSY", "", WS_CHILD, 0, 0,
                                      client.right, client.bottom, window, 0, Instance(), 0);
        if (busyOverlay)
            ShowWindow(busyOverlay, SW_SHOW);
    } else if (!on && busyOverlay) {
        DestroyWindow(busyOverlay);
        busyOverlay = 0;
    }
}

// ---------------------------------------------------------------- bar list

void RelayoutBarFrame(CBar *bar)
{
    CFrameWindow *frame = bar ? FrameOfBar(bar) : 0;
    if (!bar)
        return;
    if (bar->side == BAY_FLOATING)
        bar->Dock(bar->dockTarget, bar->x, bar->y, bar->width, bar->height, false);
    else if (frame)
        frame->Move(-1, -1, -1, -1, false);
}

static void ReadStoredPlacement(uint16_t commandId, uint16_t frameIndex, uint16_t *target,
                                int *row, int *position, CBar *bar)
{
    BarPlacementRecord record;
    if (!gApp.CanRestorePlacement() ||
        ReadRecordFile(kBarRecord, commandId, &record, sizeof record, 0) != sizeof record ||
        record.frame != frameIndex)
        return;
    int storedSide = record.side & 0xFF;
    bool docked = storedSide < 4;
    // A floating bar needs a size to come back with.
    if (!docked && (record.width == 0 || record.height == 0))
        return;
    *target = docked ? BayId(storedSide, frameIndex) : (uint16_t)BAY_NO_TARGET;
    *row = record.row < BAY_MAX_ROWS ? record.row : BAY_MAX_ROWS - 1;
    *position = IsVerticalSide(storedSide) ? record.y : record.x;
    bar->x = record.x;
    bar->y = record.y;
    bar->width = record.width;
    bar->height = record.height;
    bar->flags = record.flags;
}

CBar *AddBar(uint16_t commandId, uint16_t frameIndex, const uint16_t *itemIds, uint16_t target,
             int row, int position, uint16_t barFlags)
{
    if (FindBar(commandId))
        return 0;
    CBar *bar = new CBar;
    bar->flags = barFlags;
    if (bar->Create(commandId, frameIndex, itemIds) != 0 || gBars.Add(bar) < 0) {
        delete bar;
        return 0;
    }
    ReadStoredPlacement(commandId, frameIndex, &target, &row, &position, bar);
    bar->row = (uint16_t)row;
    CDockBay *bay = FindDockBay(target);
    int nx = bar->x, ny = bar->y;
    if (bay) {
        nx = bay->vertical ? 0 : position;
        ny = bay->vertical ? position : 0;
    }
    // Sizes are already in the terms of the target: nothing to swap.
    bar->side = bay ? bay->side : BAY_FLOATING;
    bar->Dock(target, nx, ny, bar->width, bar->height, true);
    RelayoutBarFrame(bar);
    return bar;
}

void DestroyBars()
{
    while (gBars.count > 0)
        delete gBars.data[gBars.count - 1];
    gBars.RemoveAll();
    // The bays give the room back at once.
    for (int i = 0; i < gFrames.count; i++)
        if (gFrames.data[i]->window)
            gFrames.data[i]->Relayout();
}

static void DestroyBarsOfFrame(uint16_t frameIndex)
{
    for (int i = gBars.count - 1; i >= 0; i--)
        if (i < gBars.count && gBars.data[i]->ownerFrame == frameIndex)
            delete gBars.data[i];
}

void ShowBar(CBar *bar, bool show)
{
    if (!bar)
        return;
    if (show)
        bar->flags |= BARF_VISIBLE;
    else
        bar->flags &= ~BARF_VISIBLE;
    bar->Show(show ? SW_SHOWNA : SW_HIDE);
    for (int i = 0; i < gFrames.count; i++)
        gFrames.data[i]->Relayout();
    CFrameWindow *frame = FrameOfBar(bar);
    if (frame)
        SendMessageA(frame->window, QRFM_BARSHOWN, show ? 1 : 0, (LPARAM)bar);
}

void SaveBarPlacements()
{
    for (int i = 0; i < gBars.count; i++)
        gBars.data[i]->SavePlacement();
}

// ---------------------------------------------------------------- dragging

bool DropTarget(uint16_t frameIndex, POINT p, int *sideOut, int *rowOut)
{
    CFrameWindow *frame = FindFrameByIndex(frameIndex);
    if (!frame || frame->bays.count < 4)
        return false;
    RECT client;
    GetClientRect(frame->window, &client);
    int w = client.right, h = client.bottom;
    if (p.x < 0 || p.y < 0 || p.x >= w || p.y >= h)
        return false;
    int top = frame->bays.data[BAY_TOP]->Extent(), bottom = frame->bays.data[BAY_BOTTOM]->Extent();
    for (int s = 0; s < 4; s++) {
        CDockBay *bay = frame->bays.data[s];
        int distance = s == BAY_TOP ? p.y : s == BAY_BOTTOM ? h - 1 - p.y : s == BAY_LEFT ? p.x
                                                                                  : w - 1 - p.x;
        bool inSpan = !bay->vertical || (p.y >= top && p.y < h - bottom);
        if (!inSpan || distance >= bay->Extent() + BAY_ATTACH)
            continue;
        int row = 0;
        while (row < BAY_MAX_ROWS - 1 && bay->rowExtents[row] != 0 &&
               distance >= bay->RowOffset(row + 1))
            row++;
        *sideOut = s;
        *rowOut = row;
        return true;
    }
    return false;
}

static void DragTo(CBar *bar, POINT screen)
{
    CFrameWindow *frame = FrameOfBar(bar);
    if (!frame)
        return;
    POINT client = screen;
    ScreenToClient(frame->window, &client);
    int side, row;
    if (DropTarget(bar->ownerFrame, client, &side, &row)) {
        CDockBay *bay = frame->bays.data[side];
        POINT inBay = {screen.x - bar->grab.x, screen.y - bar->grab.y};
        ScreenToClient(bay->window, &inBay);
        int along = bay->vertical ? inBay.y : inBay.x;
        if (along < 0)
            along = 0;
        bool sameBay = bar->dockTarget == bay->id && bar->side == bay->side;
        bar->row = (uint16_t)row;
        if (!sameBay) {
            // A drop into another row of the bay goes between the rows.
            bar->Dock(bay->id, bay->vertical ? 0 : along, bay->vertical ? along : 0, bar->width,
                      bar->height, true);
        } else if (bay->vertical) {
            bar->y = (uint16_t)along;
        } else {
            bar->x = (uint16_t)along;
        }
        frame->Move(-1, -1, -1, -1, false);
        return;
    }
    RECT outer;
    GetWindowRect(frame->window, &outer);
    if (PtInRect(&outer, screen))
        return;   // over the client area: the bar stays where it is
    int nx = screen.x - bar->grab.x, ny = screen.y - bar->grab.y;
    if (bar->side != BAY_FLOATING) {
        bar->Dock(BAY_NO_TARGET, nx, ny, bar->NaturalLength() + 2, bar->height, true);
        frame->Move(-1, -1, -1, -1, false);
    } else {
        bar->Dock(bar->dockTarget, nx, ny, bar->width, bar->height, false);
    }
}

static void StartBarDrag(CBar *bar)
{
    if (FrameOptions(bar->ownerFrame) & FRAME_LOCKBARPOS)
        return;
    POINT cursor;
    GetCursorPos(&cursor);
    RECT rect;
    GetWindowRect(bar->window, &rect);
    bar->grab.x = cursor.x - rect.left;
    bar->grab.y = cursor.y - rect.top;
    bar->dragging = 1;
    SetCapture(bar->window);
}

// ---------------------------------------------------------------- bar window

static void PaintBarBackground(CBar *bar, HDC dc, int ox, int oy)
{
    CDockBay *bay = bar->side != BAY_FLOATING ? FindDockBay(bar->dockTarget) : 0;
    if (bay) {
        RECT rect;
        GetWindowRect(bar->window, &rect);
        POINT corner = {rect.left, rect.top};
        ScreenToClient(bay->window, &corner);
        bay->PaintBackground(dc, ox + corner.x, oy + corner.y);
        return;
    }
    RECT client;
    GetClientRect(bar->window, &client);
    OffsetRect(&client, -ox, -oy);
    FillBackground(dc, client);
}

static void PaintBar(CBar *bar)
{
    PAINTSTRUCT paint;
    HDC target = BeginPaint(bar->window, &paint);
    RECT client;
    GetClientRect(bar->window, &client);
    CMemoryDC memory;
    HDC dc = target;
    memory.Begin(&dc, client.right + 1, client.bottom + 1);
    PaintBarBackground(bar, dc, 0, 0);
    memory.End();
    EndPaint(bar->window, &paint);
}

static bool OnBarPositionChanging(CBar *bar, WINDOWPOS *position)
{
    if (bar->placing || bar->side != BAY_FLOATING)
        return false;
    uint32_t options = FrameOptions(bar->ownerFrame);
    if (options & FRAME_LOCKBARPOS)
        position->flags |= SWP_NOMOVE;
    if (options & FRAME_LOCKBARSIZE)
        position->flags |= SWP_NOSIZE;
    return false;
}

// The user moved or sized a floating bar: keep what it shows.
static void OnFloatingBarChanged(CBar *bar)
{
    if (bar->placing || bar->side != BAY_FLOATING)
        return;
    RECT rect, client;
    GetWindowRect(bar->window, &rect);
    GetClientRect(bar->window, &client);
    bar->x = (uint16_t)rect.left;
    bar->y = (uint16_t)rect.top;
    bar->placing = 1;
    int w = bar->width, h = bar->height;
    bar->Layout(client.right, client.bottom, false);
    bar->width = (uint16_t)w;
    bar->height = (uint16_t)h;
    bar->placing = 0;
}

LRESULT CALLBACK BarWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CBar *bar = BarOfWindow(window);
    if (!bar)
        return DefWindowProcA(window, message, wParam, lParam);
    CFrameWindow *frame = FrameOfBar(bar);
    switch (message) {
    case WM_PAINT:
        // The layout's announcement paints nothing.
        if (wParam == BAR_LAYOUT_PAINT)
            return 0;
        PaintBar(bar);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case QRFM_PAINTITEMBACKGROUND:
        PaintBarBackground(bar, (HDC)wParam, (short)LOWORD(lParam), (short)HIWORD(lParam));
        return 0;
    case QRFM_SETOPENMENU:
        bar->openMenu = (void *)lParam;
        return 0;
    case QRFM_GETOPENMENU:
        return (LRESULT)bar->openMenu;
    case WM_LBUTTONDOWN:
        StartBarDrag(bar);
        return 0;
    case WM_MOUSEMOVE:
        if (bar->dragging && GetCapture() == window) {
            POINT cursor = PointOf(lParam);
            ClientToScreen(window, &cursor);
            DragTo(bar, cursor);
        }
        return 0;
    case WM_LBUTTONUP:
        if (bar->dragging) {
            bar->dragging = 0;
            ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED:
        bar->dragging = 0;
        return 0;
    case WM_RBUTTONUP:
        if (frame)
            SendMessageA(frame->window, QRFM_CONTEXTMENU, 0, 0);
        return 0;
    case WM_WINDOWPOSCHANGING:
        OnBarPositionChanging(bar, (WINDOWPOS *)lParam);
        break;
    case WM_SIZE:
    case WM_MOVE:
        OnFloatingBarChanged(bar);
        break;
    case WM_NCACTIVATE:
        return DefWindowProcA(window, message, frame && gApp.activeFrame == frame->index, lParam);
    case WM_CLOSE:
        ShowBar(bar, false);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---------------------------------------------------------------- menu keys

// The next bar menu the keys can open, wrapping: shown and enabled, as
// in a popup menu; -1 when none is.
static int NextNavigationItem(int index, int direction)
{
    CGrowArray<CUIItem *> &list = gApp.navigationItems;
    for (int step = 0; step < list.count; step++) {
        index += direction;
        if (index >= list.count)
            index = 0;
        if (index < 0)
            index = list.count - 1;
        CUIItem *item = list.data[index];
        if (item->window && IsWindowVisible(item->window) && ItemEnabled(item))
            return index;
    }
    return -1;
}

static void CollectBarMenus(uint16_t frameIndex)
{
    for (int i = 0; i < gBars.count; i++) {
        CBar *bar = gBars.data[i];
        if (bar->ownerFrame != frameIndex)
            continue;
        for (int k = 0; k < bar->items.count; k++) {
            CUIItem *item = bar->items.data[k];
            if (item->typeCode == ITEM_TYPE_MENU && (item->flags & BARITEM_MENU))
                gApp.navigationItems.Add(item);
        }
    }
}

int BarMenuKeyboardMode(int type)
{
    CGrowArray<CUIItem *> &list = gApp.navigationItems;
    if (list.count == 0) {
        CFrameWindow *frame = FindFrameByIndex(gApp.activeFrame);
        if (!frame) {
            if (type == 2)
                gApp.CloseMenu(0);
            return 1;
        }
        SendMessageA(frame->window, QRFM_MENUCLOSED, 0, 0);
        CollectBarMenus(frame->index);
    }
    int found = -1;
    for (int i = 0; i < list.count; i++)
        if (list.data[i] == gApp.openMenu)
            found = i;
    if ((list.count > 0 || type == 2) && (gApp.openMenu || gApp.menuOpen))
        gApp.CloseMenu(0);
    if (type == 2) {
        if (found >= 0 && list.data[found]->window)
            SendMessageA(list.data[found]->window, WM_MOUSELEAVE, 0, 0);
        list.RemoveAll();
        return 0;
    }
    int next = type == 0 ? NextNavigationItem(-1, 1) : NextNavigationItem(found, type);
    if (next < 0)
        return 1;
    CUIItem *item = list.data[next];
    RECT rect;
    GetWindowRect(item->window, &rect);
    ((CMenu *)item)->Open(rect);
    SendMessageA(item->window, WM_MOUSEMOVE, 0, -1);
    return 0;
}

// ---------------------------------------------------------------- hooks

CDockBay *CreateFrameBay(HWND frameWindow, int side)
{
    CFrameWindow *frame = FrameOfWindow(frameWindow);
    if (!frame)
        return 0;
    CDockBay *bay = new CDockBay;
    if (bay->Create(side, frame->index, side) != 0) {
        delete bay;
        return 0;
    }
    return bay;
}

void DestroyFrameBay(CDockBay *bay)
{
    // Bars live in their frame's windows: they go before the first bay does.
    DestroyBarsOfFrame(bay->frameIndex);
    delete bay;
}

SIZE FrameBayExtent(CDockBay *bay)
{
    bay->ComputeRows();
    int extent = bay->Extent();
    SIZE size = {bay->vertical ? extent : 0, bay->vertical ? 0 : extent};
    return size;
}

void PlaceFrameBay(CDockBay *bay, const RECT *rect)
{
    bay->Place(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
}

static CBar *FrameBarAt(uint16_t frame, int i)
{
    for (int k = 0; k < gBars.count; k++)
        if (gBars.data[k]->ownerFrame == frame && i-- == 0)
            return gBars.data[k];
    return 0;
}

int FrameBarCount(uint16_t frame)
{
    int n = 0;
    for (int k = 0; k < gBars.count; k++)
        if (gBars.data[k]->ownerFrame == frame)
            n++;
    return n;
}

uint16_t FrameBarCommand(uint16_t frame, int i)
{
    CBar *bar = FrameBarAt(frame, i);
    return bar ? bar->commandId : 0;
}

bool FrameBarVisible(uint16_t frame, int i)
{
    CBar *bar = FrameBarAt(frame, i);
    return bar && BarVisible(bar);
}

bool ToggleBarByCommand(uint16_t command)
{
    CBar *bar = FindBar(command);
    if (!bar)
        return false;
    ShowBar(bar, !BarVisible(bar));
    return true;
}

void ShowFloatingBars(uint16_t frame, int nCmdShow)
{
    for (int k = 0; k < gBars.count; k++) {
        CBar *bar = gBars.data[k];
        if (bar->ownerFrame == frame && bar->side == BAY_FLOATING)
            bar->Show(BarVisible(bar) ? nCmdShow : SW_HIDE);
    }
}

void SetFloatingBarsOpacity(uint16_t frame, int percent, bool clickThrough)
{
    for (int k = 0; k < gBars.count; k++)
        if (gBars.data[k]->ownerFrame == frame && gBars.data[k]->side == BAY_FLOATING)
            SetWindowOpacity(gBars.data[k]->window, percent, clickThrough);
}

void SetFloatingBarsBusy(uint16_t frame, bool modal)
{
    for (int k = 0; k < gBars.count; k++)
        if (gBars.data[k]->ownerFrame == frame && gBars.data[k]->side == BAY_FLOATING)
            gBars.data[k]->SetBusy(modal);
}

static uint16_t Scaled(uint16_t value, double ratio) { return (uint16_t)(value * ratio + 0.5); }

void ScaleFrameBars(uint16_t frame, double ratio)
{
    for (int k = 0; k < gBars.count; k++) {
        CBar *bar = gBars.data[k];
        if (bar->ownerFrame != frame)
            continue;
        bar->width = Scaled(bar->width, ratio);
        bar->height = Scaled(bar->height, ratio);
        if (bar->side != BAY_FLOATING) {
            if (bar->Vertical())
                bar->y = Scaled(bar->y, ratio);
            else
                bar->x = Scaled(bar->x, ratio);
        }
        bar->Layout(bar->width, bar->height, true);
    }
}

void SaveFrameBars(uint16_t frame)
{
    for (int k = 0; k < gBars.count; k++)
        if (gBars.data[k]->ownerFrame == frame)
            gBars.data[k]->SavePlacement();
}

static void HookLayoutBar(void *bar)
{
    CBar *own = (CBar *)bar;
    for (int k = 0; k < gBars.count; k++)
        if (gBars.data[k] == own) {
            own->Layout(own->width, own->height, true);
            RelayoutBarFrame(own);
        }
}

static bool (*gEarlierDescribeItem)(CUIItem *item, ItemFacts *out);

static bool HookDescribeItem(CUIItem *item, ItemFacts *out)
{
    if (!gEarlierDescribeItem || !gEarlierDescribeItem(item, out))
        return false;
    out->bar = BarOfItem(item);
    return true;
}

void InstallDockBayHooks()
{
    gWindowHooks.layoutBar = HookLayoutBar;
    gWindowHooks.menuKeyboardMode = BarMenuKeyboardMode;
    if (gWindowHooks.describeItem != HookDescribeItem) {
        gEarlierDescribeItem = gWindowHooks.describeItem;
        gWindowHooks.describeItem = HookDescribeItem;
    }
}
