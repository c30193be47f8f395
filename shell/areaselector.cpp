// The area selector control of the options dialog: the picture with its
// rectangles or point, their geometry in fractions of the picture, snapping
// to the monitors, the mouse (select, move, resize, double-click fill) and
// painting. Changes go to the parent as WM_COMMAND, so the dialog keeps the
// only copy of the views.
#include "shell/areaselector.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "earth/compositor.h"
#include "framework/utilities.h"

// A double click is followed by a mouse move that must not drag.
static bool sSkipNextMove = false;
// The hovered index last painted, process-wide: a change repaints.
static int sLastHovered = -1;

LPCSTR AreaCursorForHit(int hit)
{
    switch (hit) {
    case 0:
        return IDC_SIZEALL;
    case AREA_EDGE_LEFT:
    case AREA_EDGE_RIGHT:
        return IDC_SIZEWE;
    case AREA_EDGE_TOP:
    case AREA_EDGE_BOTTOM:
        return IDC_SIZENS;
    case AREA_EDGE_LEFT | AREA_EDGE_TOP:
    case AREA_EDGE_RIGHT | AREA_EDGE_BOTTOM:
        return IDC_SIZENWSE;
    case AREA_EDGE_TOP | AREA_EDGE_RIGHT:
    case AREA_EDGE_LEFT | AREA_EDGE_BOTTOM:
        return IDC_SIZENESW;
    }
    return IDC_ARROW;
}

AreaSelector::AreaSelector()
    : mode(AREA_MODE_RECTANGLES), showMonitors(0), drawItems(1), selected(-1), hovered(-1),
      drag(AREA_DRAG_NONE), grabX(0), grabY(0), emptyAspect(0)
{
    downPoint.x = downPoint.y = lastPoint.x = lastPoint.y = 0;
    SetRect(&lastBox, AREA_NO_BOX, AREA_NO_BOX, AREA_NO_BOX, AREA_NO_BOX);
}

AreaSelector::~AreaSelector()
{
    Reset();
}

int AreaSelector::Create(HWND parentWindow, int placeholder, int id, int selectorMode,
                         bool monitors)
{
    mode = selectorMode;
    showMonitors = monitors ? 1 : 0;
    int result = CImageView::Create(parentWindow, placeholder, id);
    if (result)
        return result;
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)SelectorProc);
    LoadMonitors();
    Relayout();
    return 0;
}

void AreaSelector::LoadMonitors()
{
    background.RemoveAll();
    if (!showMonitors || gScreenW <= 0 || gScreenH <= 0 || gMonitors.count < 1) {
        FractionRect whole = {{0, 0, 1, 1}};
        background.Add(whole);
        return;
    }
    for (int i = 0; i < gMonitors.count && i < MONITOR_TABLE_SIZE; i++) {
        const RECT &m = gMonitors.rect[i];
        FractionRect r = {{(double)(m.left - gScreenX) / gScreenW,
                           (double)(m.top - gScreenY) / gScreenH,
                           (double)(m.right - gScreenX) / gScreenW,
                           (double)(m.bottom - gScreenY) / gScreenH}};
        background.Add(r);
    }
}

int AreaSelector::AddItem(const FractionRect &rect, int position)
{
    return items.InsertAt(&rect, position, 1);
}

int AreaSelector::AddPoint(double x, double y)
{
    FractionRect r = {{x, y, x, y}};
    return AddItem(r, items.count);
}

void AreaSelector::SetItem(int index, const FractionRect &rect)
{
    if (index >= 0 && index < items.count)
        items.data[index] = rect;
}

void AreaSelector::Reset()
{
    items.RemoveAll();
    background.RemoveAll();
    selected = hovered = -1;
    drag = AREA_DRAG_NONE;
    SetRect(&lastBox, AREA_NO_BOX, AREA_NO_BOX, AREA_NO_BOX, AREA_NO_BOX);
    Destroy();
}

void AreaSelector::Relayout()
{
    bool hasImage = false;
    if (objectsReady) {
        EnterCriticalSection(&lock);
        hasImage = image.IsValid();
        LeaveCriticalSection(&lock);
    }
    HWND placeholder = GetDlgItem(parent, placeholderId);
    if (hasImage || emptyAspect <= 0 || !window || !placeholder) {
        Layout();
        return;
    }
    // Without a picture yet the view keeps the shape the picture will have.
    FitToPlaceholder(emptyAspect);
}

// ---------------------------------------------------------------- geometry

RECT AreaSelector::ItemPixels(int index) const
{
    RECT r = {0, 0, 0, 0};
    if (index < 0 || index >= items.count)
        return r;
    const double *p = items.data[index].p;
    r.left = (int)floor(p[0] * displayWidth + 0.5);
    r.top = (int)floor(p[1] * displayHeight + 0.5);
    r.right = (int)floor(p[2] * displayWidth + 0.5);
    r.bottom = (int)floor(p[3] * displayHeight + 0.5);
    return r;
}

int AreaSelector::HitTest(POINT c)
{
    if (items.count < 1) {
        hovered = -1;
        return -1;
    }
    if (mode == AREA_MODE_POINT) {
        int last = items.count - 1;
        RECT r = ItemPixels(last);
        bool onPoint = abs(c.x - r.left) <= AREA_POINT_MARGIN && abs(c.y - r.top) <= AREA_POINT_MARGIN;
        hovered = onPoint ? last : selected;
        return 0;
    }
    const int m = AREA_HIT_MARGIN;
    for (int i = items.count - 1; i >= 0; i--) {
        RECT r = ItemPixels(i);
        if (c.x < r.left - m || c.x > r.right + m || c.y < r.top - m || c.y > r.bottom + m)
            continue;
        hovered = i;
        int edges = 0;
        if (abs(c.x - r.left) <= m)
            edges |= AREA_EDGE_LEFT;
        if (abs(c.y - r.top) <= m)
            edges |= AREA_EDGE_TOP;
        if (abs(c.x - r.right) <= m)
            edges |= AREA_EDGE_RIGHT;
        if (abs(c.y - r.bottom) <= m)
            edges |= AREA_EDGE_BOTTOM;
        // In a rectangle too narrow (or too low) to tell its edges apart the
        // cursor is near both; it gets the left (top) edge alone, so a press
        // drags that edge and the other stays. With both bits each edge
        // would follow the cursor, and the first move would squeeze the
        // rectangle to two pixels wherever the cursor is.
        if ((edges & (AREA_EDGE_LEFT | AREA_EDGE_RIGHT)) == (AREA_EDGE_LEFT | AREA_EDGE_RIGHT))
            edges &= ~AREA_EDGE_RIGHT;
        if ((edges & (AREA_EDGE_TOP | AREA_EDGE_BOTTOM)) == (AREA_EDGE_TOP | AREA_EDGE_BOTTOM))
            edges &= ~AREA_EDGE_BOTTOM;
        return edges;
    }
    hovered = -1;
    return -1;
}

int AreaSelector::HitTest()
{
    POINT c;
    GetCursorPos(&c);
    ScreenToClient(window, &c);
    return HitTest(c);
}

// side 0 left, 1 top, 2 right, 3 bottom: the same edge of a monitor nearby.
void AreaSelector::SnapEdge(double *value, int side) const
{
    for (int i = 0; i < background.count; i++) {
        double edge = background.data[i].p[side];
        if (fabs(*value - edge) < AREA_SNAP_DISTANCE) {
            *value = edge;
            return;
        }
    }
}

// ---------------------------------------------------------------- notifications

void AreaSelector::Notify(int code, int index)
{
    if (parent)
        SendMessageA(parent, WM_COMMAND, (WPARAM)(controlId + code), (LPARAM)index);
}

void AreaSelector::Select(int index)
{
    selected = index >= 0 && index < items.count ? index : -1;
    Redraw(true);
    Notify(AREA_NOTIFY_SELECT | AREA_NOTIFY_COMMIT_FIRST, selected);
}

void AreaSelector::Redraw(bool all)
{
    if (!window)
        return;
    if (all || selected < 0 || drag == AREA_DRAG_NONE) {
        InvalidateRect(window, 0, FALSE);
        return;
    }
    // While dragging only the old and the new place of the rectangle.
    RECT box = ItemPixels(selected);
    InflateRect(&box, AREA_POINT_SIZE, AREA_POINT_SIZE);
    box.right += AREA_NUMBER_BOX;
    box.bottom += AREA_NUMBER_BOX;
    RECT area = box;
    if (lastBox.left != AREA_NO_BOX)
        UnionRect(&area, &box, &lastBox);
    lastBox = box;
    InvalidateRect(window, &area, FALSE);
}

// ---------------------------------------------------------------- mouse

void AreaSelector::OnButtonDown(POINT p)
{
    if (drag != AREA_DRAG_NONE)
        return;
    sSkipNextMove = false;   // a new press: the double click is over
    SetCapture(window);
    SetFocus(window);
    drag = HitTest(p);
    if (drag < 0 || hovered < 0) {
        drag = AREA_DRAG_NONE;
        selected = -1;
        Redraw(true);
        Notify(AREA_NOTIFY_SELECT, -1);
        return;
    }
    selected = hovered;
    downPoint = p;
    lastPoint = p;
    RECT r = ItemPixels(selected);
    if (drag == AREA_DRAG_MOVE) {
        grabX = p.x - (r.left + r.right) / 2;
        grabY = p.y - (r.top + r.bottom) / 2;
    } else {
        grabX = drag & AREA_EDGE_LEFT ? p.x - r.left : drag & AREA_EDGE_RIGHT ? p.x - r.right : 0;
        grabY = drag & AREA_EDGE_TOP ? p.y - r.top : drag & AREA_EDGE_BOTTOM ? p.y - r.bottom : 0;
    }
    // A click beside the point puts the point there at once.
    if (mode == AREA_MODE_POINT)
        MovePoint((short)(p.x - grabX), (short)(p.y - grabY));
    Redraw(true);
    Notify(AREA_NOTIFY_SELECT, selected);
}

void AreaSelector::DragEdges(int x, int y)
{
    double *p = items.data[selected].p;
    double w = displayWidth > 0 ? displayWidth : 1, h = displayHeight > 0 ? displayHeight : 1;
    // Edges never cross: at least two pixels stay between them.
    double minX = 2 / w, minY = 2 / h;
    if (drag & AREA_EDGE_LEFT) {
        p[0] = x / w;
        SnapEdge(&p[0], 0);
        if (p[0] > p[2] - minX)
            p[0] = p[2] - minX;
    }
    if (drag & AREA_EDGE_TOP) {
        p[1] = y / h;
        SnapEdge(&p[1], 1);
        if (p[1] > p[3] - minY)
            p[1] = p[3] - minY;
    }
    if (drag & AREA_EDGE_RIGHT) {
        p[2] = x / w;
        SnapEdge(&p[2], 2);
        if (p[2] < p[0] + minX)
            p[2] = p[0] + minX;
    }
    if (drag & AREA_EDGE_BOTTOM) {
        p[3] = y / h;
        SnapEdge(&p[3], 3);
        if (p[3] < p[1] + minY)
            p[3] = p[1] + minY;
    }
}

void AreaSelector::MoveRectangle(POINT c, int x, int y)
{
    if (c.x == downPoint.x && c.y == downPoint.y)
        return;
    double *p = items.data[selected].p;
    double w = displayWidth > 0 ? displayWidth : 1, h = displayHeight > 0 ? displayHeight : 1;
    double width = p[2] - p[0], height = p[3] - p[1];
    p[0] = x / w - width / 2;
    p[1] = y / h - height / 2;
    double left = p[0], top = p[1], right = p[0] + width, bottom = p[1] + height;
    SnapEdge(&left, 0);
    if (left != p[0]) {
        p[0] = left;
    } else {
        SnapEdge(&right, 2);
        p[0] = right - width;
    }
    SnapEdge(&top, 1);
    if (top != p[1]) {
        p[1] = top;
    } else {
        SnapEdge(&bottom, 3);
        p[1] = bottom - height;
    }
    p[2] = p[0] + width;
    p[3] = p[1] + height;
}

static double Clamp01(double v)
{
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

void AreaSelector::MovePoint(int x, int y)
{
    double *p = items.data[selected].p;
    double w = displayWidth > 0 ? displayWidth : 1, h = displayHeight > 0 ? displayHeight : 1;
    // A press beside the point makes the point jump to the cursor.
    bool beside = abs(grabX) > AREA_POINT_MARGIN || abs(grabY) > AREA_POINT_MARGIN;
    double px = beside ? (x + grabX) / w : x / w, py = beside ? (y + grabY) / h : y / h;
    p[0] = p[2] = Clamp01(px);
    p[1] = p[3] = Clamp01(py);
    drag = AREA_DRAG_MOVE;
}

void AreaSelector::OnMouseMove(POINT c, WPARAM buttons)
{
    if (sSkipNextMove) {
        sSkipNextMove = false;
        return;
    }
    HitTest(c);
    if (hovered != sLastHovered) {
        sLastHovered = hovered;
        InvalidateRect(window, 0, FALSE);
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
    }
    bool leftDown = (buttons & MK_LBUTTON) != 0;
    if (selected < 0 || selected >= items.count)
        return;
    if (mode != AREA_MODE_POINT && drag == AREA_DRAG_NONE)
        return;
    int x = (short)(c.x - grabX), y = (short)(c.y - grabY);
    if (mode == AREA_MODE_POINT) {
        if (leftDown)
            MovePoint(x, y);
    } else if (drag > 0) {
        DragEdges(x, y);
    } else {
        MoveRectangle(c, x, y);
    }
    lastPoint = c;
    if (leftDown)
        Notify(AREA_NOTIFY_MOVING, selected);
    if (drag != AREA_DRAG_NONE)
        Redraw(false);
}

void AreaSelector::OnButtonUp()
{
    drag = AREA_DRAG_NONE;
    SetRect(&lastBox, AREA_NO_BOX, AREA_NO_BOX, AREA_NO_BOX, AREA_NO_BOX);
    if (GetCapture() == window)
        ReleaseCapture();
    Notify(AREA_NOTIFY_CHANGED, selected);
}

void AreaSelector::OnDoubleClick(POINT c)
{
    sSkipNextMove = true;
    if (selected < 0 || selected >= items.count)
        return;
    downPoint = c;
    double w = displayWidth > 0 ? displayWidth : 1, h = displayHeight > 0 ? displayHeight : 1;
    double x = c.x / w, y = c.y / h;
    for (int i = 0; i < background.count; i++) {
        const double *m = background.data[i].p;
        if (!(x > m[0] && x < m[2] && y > m[1] && y < m[3]))
            continue;
        double *p = items.data[selected].p;
        if (mode == AREA_MODE_POINT) {
            p[0] = p[2] = (m[0] + m[2]) / 2;
            p[1] = p[3] = (m[1] + m[3]) / 2;
        } else {
            memcpy(p, m, 4 * sizeof(double));
        }
        break;
    }
    Redraw(true);
    Notify(AREA_NOTIFY_CHANGED, selected);
}

// ---------------------------------------------------------------- painting

void AreaSelector::PaintBackground(HDC dc)
{
    if (background.count < 2)
        return;
    RECT client;
    GetClientRect(window, &client);
    HRGN outside = CreateRectRgnIndirect(&client);
    for (int i = 0; i < background.count; i++) {
        const double *m = background.data[i].p;
        RECT r = {(int)floor(m[0] * displayWidth + 0.5), (int)floor(m[1] * displayHeight + 0.5),
                  (int)floor(m[2] * displayWidth + 0.5), (int)floor(m[3] * displayHeight + 0.5)};
        HRGN monitor = CreateRectRgnIndirect(&r);
        CombineRgn(outside, outside, monitor, RGN_DIFF);
        DeleteObject(monitor);
        FrameRect(dc, &r, greyBrush);
    }
    FillRgn(dc, outside, greyBrush);
    DeleteObject(outside);
}

void AreaSelector::PaintPoint(HDC dc, int index)
{
    RECT r = ItemPixels(index);
    HBRUSH brush = index == hovered || index == selected ? redBrush : darkRedBrush;
    HGDIOBJ oldPen = SelectObject(dc, blackPen), oldBrush = SelectObject(dc, brush);
    int half = AREA_POINT_SIZE / 2;
    Ellipse(dc, r.left - half, r.top - half, r.left + half + 1, r.top + half + 1);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
}

void AreaSelector::PaintRectangle(HDC dc, int index)
{
    int saved = SaveDC(dc);
    // Later views lie on top: their rectangles hide this one.
    for (int j = index + 1; j < items.count; j++) {
        RECT above = ItemPixels(j);
        ExcludeClipRect(dc, above.left, above.top, above.right, above.bottom);
    }
    RECT r = ItemPixels(index);
    bool lit = index == hovered || index == selected;
    HBRUSH brush = lit ? redBrush : darkRedBrush;
    RECT edges[4] = {{r.left, r.top, r.right, r.top + 2},
                     {r.left, r.bottom - 2, r.right, r.bottom},
                     {r.left, r.top, r.left + 2, r.bottom},
                     {r.right - 2, r.top, r.right, r.bottom}};
    for (const RECT &edge : edges)
        FillRect(dc, &edge, brush);
    if (lit) {
        RECT box = {r.left, r.top, r.left + AREA_NUMBER_BOX, r.top + AREA_NUMBER_BOX};
        FillRect(dc, &box, brush);
        char number[16];
        snprintf(number, sizeof number, "%d", index + 1);
        HFONT font = (HFONT)SendMessageA(parent, WM_GETFONT, 0, 0);
        HGDIOBJ oldFont = font ? SelectObject(dc, font) : 0;
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        DrawTextA(dc, number, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        if (oldFont)
            SelectObject(dc, oldFont);
    }
    RestoreDC(dc, saved);
}

void AreaSelector::PaintItems(HDC dc)
{
    if (!IsWindowEnabled(window) || !drawItems)
        return;
    for (int i = 0; i < items.count; i++) {
        if (mode == AREA_MODE_POINT)
            PaintPoint(dc, i);
        else
            PaintRectangle(dc, i);
    }
}

bool AreaSelector::PaintSelector(HDC dc)
{
    if (Paint(dc))
        return true;
    PaintBackground(dc);
    PaintItems(dc);
    return false;
}

// Painted off screen first: a drag repaints many times a second.
static void PaintBuffered(AreaSelector *selector, HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right > 0 ? client.right : 1,
                                            client.bottom > 0 ? client.bottom : 1);
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        selector->PaintSelector(memory);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
    } else {
        selector->PaintSelector(dc);
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memory)
        DeleteDC(memory);
    EndPaint(window, &ps);
}

LRESULT CALLBACK AreaSelector::SelectorProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam)
{
    AreaSelector *selector = static_cast<AreaSelector *>(FromWindow(window));
    if (!selector || selector->window != window)
        return CImageView::WindowProc(window, message, wParam, lParam);
    POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    switch (message) {
    case WM_PAINT:
        PaintBuffered(selector, window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case IMAGEVIEW_SIZE_MESSAGE:
        selector->Relayout();
        InvalidateRect(window, 0, FALSE);
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) != HTCLIENT)
            break;
        SetCursor(LoadCursor(0, selector->mode == AREA_MODE_POINT
                                    ? IDC_ARROW
                                    : AreaCursorForHit(selector->HitTest())));
        return TRUE;
    case WM_LBUTTONDOWN:
        selector->OnButtonDown(p);
        return 0;
    case WM_MOUSEMOVE:
        selector->OnMouseMove(p, wParam);
        return 0;
    case WM_LBUTTONUP:
        selector->OnButtonUp();
        return 0;
    case WM_LBUTTONDBLCLK:
        selector->OnDoubleClick(p);
        return 0;
    case WM_MOUSELEAVE:
        selector->hovered = -1;
        sLastHovered = -1;
        InvalidateRect(window, 0, FALSE);
        return 0;
    }
    return CImageView::WindowProc(window, message, wParam, lParam);
}
