// The area selectors of the options dialog: a picture (screen or map
// preview) with items on top in fractions of the picture (0..1 across).
// Rectangle mode: one rectangle per view, later ones on top; they are
// selected, moved and resized with the mouse, their edges snap to the
// monitors and a double click fills a monitor. Point mode: one point (the
// viewpoint on the map) that follows the mouse. Every change goes to the
// parent as WM_COMMAND (wParam = control id + code, lParam = selected index).
#pragma once

#include <windows.h>
#include <stdint.h>

#include "earth/settings.h"
#include "framework/growarray.h"
#include "shell/imageview.h"

enum {
    AREA_MODE_RECTANGLES = 0,
    AREA_MODE_POINT = 1,

    // Notification codes added to the control id.
    AREA_NOTIFY_CHANGED = 0,
    AREA_NOTIFY_MOVING = 0x20000,
    AREA_NOTIFY_SELECT = 0x800000,
    AREA_NOTIFY_COMMIT_FIRST = 0x10000,   // with SELECT: the dialog commits first

    // HitTest's edge bits.
    AREA_EDGE_LEFT = 1,
    AREA_EDGE_TOP = 2,
    AREA_EDGE_RIGHT = 4,
    AREA_EDGE_BOTTOM = 8,

    AREA_DRAG_NONE = -1,
    AREA_DRAG_MOVE = 0,
    AREA_NO_BOX = -9999,
    AREA_HIT_MARGIN = 4,      // pixels around a rectangle's edge
    AREA_POINT_MARGIN = 6,    // pixels around the point
    AREA_NUMBER_BOX = 20,     // the number box in the hovered rectangle
    AREA_POINT_SIZE = 13,
};

#define AREA_SNAP_DISTANCE 0.03

class AreaSelector : public CImageView {
public:
    int mode;
    uint8_t showMonitors;
    uint8_t drawItems;                 // 1 = draw the items
    CGrowArray<FractionRect> items;    // the point uses left and top (and right = left...)
    CGrowArray<FractionRect> background;
    int selected, hovered;
    int drag;                          // AREA_DRAG_*, else edge bits
    int grabX, grabY;
    POINT downPoint, lastPoint;
    RECT lastBox;                      // AREA_NO_BOX when none
    double emptyAspect;                // width / height without an image; 0 = the box's

    AreaSelector();
    virtual ~AreaSelector();

    // 0, or the error of CImageView::Create.
    int Create(HWND parentWindow, int placeholder, int id, int selectorMode, bool monitors);
    void LoadMonitors();
    // Inserts at position (clamped to 0..count); the position, -1 without memory.
    int AddItem(const FractionRect &rect, int position);
    // The point as an item: (x, y, x, y).
    int AddPoint(double x, double y);
    void SetItem(int index, const FractionRect &rect);
    void Redraw(bool all);
    // Edge bits, 0 inside, -1 nothing; sets hovered. The point is in client
    // pixels; the overload without one uses the cursor.
    int HitTest(POINT cursor);
    int HitTest();
    // Selects an item as a click would and tells the parent (commit first).
    void Select(int index);
    void Reset();
    // Fits into the placeholder, with emptyAspect while there is no image.
    void Relayout();

    bool PaintSelector(HDC dc);
    static LRESULT CALLBACK SelectorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Mouse handling, in client pixels; the button state as in wParam.
    void OnButtonDown(POINT p);
    void OnMouseMove(POINT p, WPARAM buttons);
    void OnButtonUp();
    void OnDoubleClick(POINT p);

private:
    void Notify(int code, int index);
    RECT ItemPixels(int index) const;
    void SnapEdge(double *value, int side) const;
    void DragEdges(int x, int y);
    void MoveRectangle(POINT p, int x, int y);
    void MovePoint(int x, int y);
    void PaintBackground(HDC dc);
    void PaintItems(HDC dc);
    void PaintRectangle(HDC dc, int index);
    void PaintPoint(HDC dc, int index);
};

// The cursor of a hit (WM_SETCURSOR), rectangle mode.
LPCSTR AreaCursorForHit(int hit);
