// Dock bays and bars: every frame window has four bays, one per side, that
// hold bars (strips of UI items) in rows; a bar can also float as a small
// popup window of its frame. Bars can be dragged between bays and rows and
// fill rows resized with a splitter, unless the frame locks bar positions
// (0x20) or bar sizes (0x40). UI thread only.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/growarray.h"
#include "framework/ui/uiitem.h"

#define DOCK_BAY_CLASS "QRFAppDockBay"
#define BAR_CLASS "QRFAppBar"

enum BaySide { BAY_TOP, BAY_BOTTOM, BAY_LEFT, BAY_RIGHT, BAY_FLOATING = -1 };

enum {
    BAY_MAX_ROWS = 16,
    BAY_SPLITTER = 4,        // width of a fill row's splitter, part of the row's extent
    BAY_ATTACH = 8,          // how close to a side a dragged bar docks there
    BAR_EMPTY_EXTENT = 20,   // a bar without items
    BAR_EXTENT_MARGIN = 4,
    BAR_DEFAULT_GAP = 2,
    BAR_MAX_FLOAT_ROWS = 256,
    BAR_LAYOUT_PAINT = 1234, // WM_PAINT wParam sent before a layout
    BAY_NO_TARGET = 0xFFFF,  // dock target of a floating bar
};

enum BarFlag { BARF_FILL = 0x8, BARF_SYSMENU = 0x10, BARF_VISIBLE = 0x20, BARF_PACKED = 0x200 };

// Command-entry flags the bar layout reads (item flags of the same bits).
enum BarItemFlag {
    BARITEM_STRETCH = 0x2,
    BARITEM_FILL = 0x4,
    BARITEM_OWNROW = 0x8,
    BARITEM_OPTIONAL = 0x1000,
    BARITEM_HIDDEN = 0x800000,
    BARITEM_MENU = 0x4000000,
};

// Window styles of the two kinds of bar.
enum : DWORD {
    BAR_STYLE_DOCKED = 0x46000000,    // WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
    BAR_STYLE_FLOATING = 0x86C40000,  // WS_POPUP | clip | WS_CAPTION | WS_THICKFRAME
    BAR_STYLE_SYSMENU = 0x86CC0000,   // the same with WS_SYSMENU
};

#pragma pack(push, 1)
// "(QRF)Bar"<command id>: 16 bytes.
struct BarPlacementRecord {
    uint16_t x, y, width, height;
    uint16_t frame;
    uint16_t side;   // low byte of the dock target
    uint16_t row;
    uint16_t flags;
};
#pragma pack(pop)
static_assert(sizeof(BarPlacementRecord) == 16, "(QRF)Bar layout");

inline uint16_t BayId(int side, uint16_t frameIndex) { return (uint16_t)(side + 256 * frameIndex); }

class CBar;

class CDockBay {
public:
    HWND window;
    uint16_t id;
    uint16_t frameIndex;
    int side;
    bool vertical;
    int rowExtents[BAY_MAX_ROWS];   // -(extent) - 4: a fill row with a splitter
    int gripState;                  // -1 none, 0 possible, 1 shown
    int gripSize;
    int dragRow;
    int dragStartExtent;
    POINT dragStart;
    LPARAM lastSize;

    CDockBay();
    ~CDockBay();

    int Create(int side, uint16_t frameIndex, int expectedPosition);
    void DestroyWindow();
    void Place(int x, int y, int width, int height);
    int ArrangeBars(int length);
    void ComputeRows();
    int Extent() const;
    int HitSplitter(const POINT *point) const;
    void PaintBackground(HDC dc, int x, int y);

    // Distance of a row's near edge from the frame side, and its rectangle
    // across the bay in the bay's client coordinates.
    int RowOffset(int row) const;
    void RowBand(int row, int *from, int *to) const;
    bool OnSplitterDown(POINT point);
    void OnSplitterMove(POINT point);
};

class CBar {
public:
    HWND window;
    HWND busyOverlay;
    uint16_t commandId;
    uint16_t ownerFrame;
    uint16_t dockTarget;
    uint16_t row;
    uint16_t x, y, width, height;   // window terms: in the bay, or on the screen when floating
    int16_t minLength;
    uint16_t minExtent;
    uint16_t flags;
    int side;
    RECT layoutRect, previousRect;
    int itemGap;
    CGrowArray<CUIItem *> items;    // the last one is the overflow item
    uint16_t *overflow;             // ids that did not fit, ended by 0xFFFF

    // Drag state of the bar itself.
    uint8_t dragging;
    POINT grab;                     // cursor offset from the bar's corner
    uint8_t placing;                // the bar moves itself: no lock applies
    void *openMenu;                 // the menu open under the bar (QRFM_SETOPENMENU)

    CBar();
    virtual ~CBar();

    // Builds the window and one item per id (ids end with 0xFFFF; the last
    // id is the overflow menu). 0 or a QRF_ERR_ code.
    int Create(uint16_t commandId, uint16_t frameIndex, const uint16_t *itemIds);
    void Layout(int width, int height, bool force);
    int Dock(uint16_t target, int x, int y, int width, int height, bool reparent);
    int GetExtent();
    int SavePlacement();
    void Show(int nCmdShow);
    void SetBusy(bool on);

    bool Vertical() const { return side == BAY_LEFT || side == BAY_RIGHT; }
    // Length along the bay of the items that are not hidden, gaps included.
    int NaturalLength();
    bool HasStretchItems() const;
    CUIItem *OverflowItem() const { return items.count ? items.data[items.count - 1] : 0; }

private:
    void LayoutDocked(int length, int extent);
    void LayoutFloating(int requestedWidth, int requestedHeight);
    void SetOverflowList(const bool *dropped);
};

// The application's bar list.
extern CGrowArray<CBar *> gBars;

CBar *FindBar(uint16_t commandId);
CDockBay *FindDockBay(uint16_t bayId);
CBar *BarOfWindow(HWND window);

// Adds a bar for a frame: the stored "(QRF)Bar"<command id> wins over the
// given target and row when it is usable. Result: the bar, or null.
CBar *AddBar(uint16_t commandId, uint16_t frameIndex, const uint16_t *itemIds,
             uint16_t target, int row, int position, uint16_t barFlags);
// Deletes every bar (before the frames go).
void DestroyBars();
// Sets the visible bit, shows or hides the window, lays out every frame
// again and tells the bar's frame with QRFM_BARSHOWN (wParam shown, lParam bar).
void ShowBar(CBar *bar, bool show);
// Lays out the bar's frame again (or the floating bar itself).
void RelayoutBarFrame(CBar *bar);
// Writes every bar's placement record.
void SaveBarPlacements();

// Where a bar dragged to a point of its frame's client area would go: true
// with the bay side, the row and the position along the bay (bay
// coordinates), false when the point is near no side.
bool DropTarget(uint16_t frameIndex, POINT client, int *side, int *row);

// Keyboard navigation over the active frame's bar menus (type 0 start,
// 1 next, -1 previous, 2 leave); 0 when a menu was opened or left.
int BarMenuKeyboardMode(int type);

LRESULT CALLBACK DockBayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK BarWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What a frame window does with its bays and bars (framewindow.cpp).
// The bay of one side of a frame window (0 top, 1 bottom, 2 left, 3 right),
// or null when it could not be made.
CDockBay *CreateFrameBay(HWND frameWindow, int side);
void DestroyFrameBay(CDockBay *bay);   // the frame's bars go first
SIZE FrameBayExtent(CDockBay *bay);    // width of side bays, height of top/bottom
void PlaceFrameBay(CDockBay *bay, const RECT *rect);
// The bars belonging to a frame (by frame index), in the order of gBars.
int FrameBarCount(uint16_t frame);
uint16_t FrameBarCommand(uint16_t frame, int i);
bool FrameBarVisible(uint16_t frame, int i);
bool ToggleBarByCommand(uint16_t command);   // false: no bar has this command
void ShowFloatingBars(uint16_t frame, int nCmdShow);
void SetFloatingBarsOpacity(uint16_t frame, int percent, bool clickThrough);
void SetFloatingBarsBusy(uint16_t frame, bool busy);
void ScaleFrameBars(uint16_t frame, double ratio);
void SaveFrameBars(uint16_t frame);   // the frame's bars write "(QRF)Bar"

// Fills the bar hooks of the command table (layout, menu keys, the bar of
// an item).
void InstallDockBayHooks();
