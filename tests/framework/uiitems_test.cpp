// Value, colour, tree and list items under Wine, driven by mouse messages
// with the real cursor placed where they say: sliders and brush sizes edit
// their range in place, colours come from the screen, the list reports its
// columns, sorting and selection, the tree runs the program's procedure.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/ui/frameedges.h"
#include "framework/messages.h"
#include "framework/ui/framewindow.h"
#include "framework/ui/graphics.h"
#include "framework/ui/listitems.h"
#include "framework/ui/uiitem.h"
#include "framework/ui/valueitems.h"
#include "framework/utilities.h"
#include "testutil.h"

namespace {

enum {
    ID_SLIDER = 0x300,
    ID_BRUSH = 0x301,
    ID_COLOR = 0x302,
    ID_PALETTE = 0x303,
    ID_LIST = 0x304,
    ID_TREE = 0x305,
    ID_BARE_TREE = 0x306,
};

const COLORREF kPaintColour = RGB(0x12, 0x34, 0x56);   // the picking target

struct Command {
    WPARAM wParam;
    LPARAM lParam;
};
struct OwnerLog {
    std::vector<Command> commands;
    int drawnRows;
    int compares;
    WPARAM consumeKey;   // QRFN_LIST_KEYDOWN answers 1 for this key
};
OwnerLog gOwner;
CList *gShownList;   // the list whose rows the owner draws

int SortKey(ULONG_PTR data) { return data ? *(const int *)data : 0; }

void DrawRow(const DRAWITEMSTRUCT *draw)
{
    gOwner.drawnRows++;
    if (!gShownList)
        return;
    char text[32];
    for (int c = 0; c < gShownList->columns.count; c++) {
        RECT cell = draw->rcItem;
        cell.left = gShownList->columns.data[c].left + 4;
        wsprintfA(text, c == 0 ? "Station %d" : "%d km", SortKey(draw->itemData));
        DrawTextA(draw->hDC, text, -1, &cell, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    }
}

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case QRFM_COMMAND:
        gOwner.commands.push_back({wParam, lParam});
        if (HIWORD(wParam) == QRFN_LIST_KEYDOWN && gOwner.consumeKey == (WPARAM)lParam)
            return 1;
        return 0;
    case WM_DRAWITEM:
        DrawRow((const DRAWITEMSTRUCT *)lParam);
        return TRUE;
    case WM_COMPAREITEM: {
        gOwner.compares++;
        const COMPAREITEMSTRUCT *c = (const COMPAREITEMSTRUCT *)lParam;
        int a = SortKey(c->itemData1), b = SortKey(c->itemData2);
        return a < b ? -1 : a > b ? 1 : 0;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(const char *className, WNDPROC procedure, HBRUSH background, DWORD style, int x,
                int y, int w, int h)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = background;
    wc.hCursor = LoadCursor(0, IDC_ARROW);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowExA(WS_EX_TOPMOST, className, "", style, x, y, w, h, 0, 0,
                           GetModuleHandleA(nullptr), 0);
}

// The frame stands in for a bar: it paints a face colour behind its items.
void FillFace(HWND window, HDC dc, int dx, int dy)
{
    RECT r;
    GetClientRect(window, &r);
    OffsetRect(&r, -dx, -dy);
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CALLBACK FaceFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) {
        FillFace(window, (HDC)wParam, 0, 0);
        return 1;
    }
    if (message == QRFM_PAINTITEMBACKGROUND) {
        FillFace(window, (HDC)wParam, (short)LOWORD(lParam), (short)HIWORD(lParam));
        return 1;
    }
    return DefFrameWindowProc(window, message, wParam, lParam);
}

// Commands that carry one code (0: plain item commands).
int Count(int code, uint16_t id)
{
    int n = 0;
    for (const Command &c : gOwner.commands)
        n += HIWORD(c.wParam) == code && LOWORD(c.wParam) == id;
    return n;
}

class Items : public ::testing::Test {
protected:
    static HWND frame, owner, paint;
    static void SetUpTestSuite()
    {
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
        InstallFrameHooks();
        int at = CreateFrameWindow(0, FaceFrameProc, "Items", 1, 0, 10, 10, 560, 330);
        frame = at < 0 ? 0 : gFrames.data[at]->window;
        ShowWindow(frame, SW_SHOWNOACTIVATE);
        // Above any other top-level window: the items read the screen and
        // hit-test the cursor, so nothing may cover them.
        // The size too: a frame takes a placement record of its index from
        // the data folder, and the frame tests beside this one save theirs
        // there (their smallest frame is 200 x 100, which would leave the
        // items below its edge).
        SetWindowPos(frame, HWND_TOPMOST, 10, 10, 560, 330, SWP_NOACTIVATE);
        owner = MakeWindow("VtItemOwner", OwnerProc, 0, WS_POPUP, 0, 0, 10, 10);
        paint = MakeWindow("VtItemPaint", DefWindowProcA, CreateSolidBrush(kPaintColour),
                           WS_POPUP | WS_VISIBLE, 700, 500, 120, 120);
        PumpMessages(300);
    }
    static void TearDownTestSuite()
    {
        DestroyWindow(paint);
        DestroyWindow(owner);
        DestroyFrameWindows();
        memset(&gWindowHooks, 0, sizeof gWindowHooks);
    }
    CGraphics graphics;
    std::vector<CUIItem *> made;

    void SetUp() override
    {
        ASSERT_TRUE(frame && owner && paint);
        ASSERT_EQ(graphics.Init(), 0);
        gGraphics = &graphics;
        graphics.LoadColours();
        gApp.commands.RemoveAll();
        gApp.doubleClickTime = 150;
        gOwner = OwnerLog();
        gShownList = 0;
        SetCursorPos(1000, 900);
    }
    void TearDown() override
    {
        for (CUIItem *item : made)
            delete item;
        gApp.commands.RemoveAll();
        gGraphics = 0;
        SetCursorPos(1000, 900);
    }
    CUIItem *Make(uint16_t id, uint16_t type, uint32_t flags, const void *data, int x, int y,
                  int w = 0, int h = 0)
    {
        EXPECT_GE(gApp.AddCommand(id, type, flags, 0, -1, (uint32_t)(uintptr_t)data, 0, 0), 0);
        CopyText(gApp.CommandById(id)->text, "Size", 260);
        CUIItem *item = NewItemForType(type);
        EXPECT_TRUE(item != nullptr);
        if (!item)
            return nullptr;
        made.push_back(item);
        EXPECT_EQ(item->Create(id, frame, owner, 0), 0);
        SetWindowPos(item->window, HWND_TOP, x, y, w ? w : item->width, h ? h : item->height,
                     SWP_SHOWWINDOW | SWP_NOACTIVATE);
        UpdateWindow(item->window);
        return item;
    }
    // Puts the cursor at a screen point and waits (up to a second) until the
    // display reports it there: the items read the cursor, and a busy X
    // server may answer with the old position for a moment.
    static void CursorTo(int sx, int sy)
    {
        SetCursorPos(sx, sy);
        POINT now = {};
        for (int i = 0; i < 50 && (!GetCursorPos(&now) || now.x != sx || now.y != sy); i++) {
            PumpMessages(20);
            SetCursorPos(sx, sy);
        }
    }
    // The window's pixel as the display shows it, looked at again (up to a
    // second) until it is the expected colour: the display may still be
    // catching up with a repaint on a busy machine.
    static COLORREF ShownPixel(HWND window, int x, int y, COLORREF expected)
    {
        COLORREF shown = CLR_INVALID;
        for (int attempt = 0; attempt < 50 && shown != expected; attempt++) {
            if (attempt)
                PumpMessages(20);
            RedrawWindow(window, 0, 0, RDW_INVALIDATE | RDW_UPDATENOW);
            HDC dc = GetDC(window);
            shown = GetPixel(dc, x, y);
            ReleaseDC(window, dc);
        }
        if (shown != expected) {
            // Say what covers the point, for the failure message.
            POINT at = {x, y};
            ClientToScreen(window, &at);
            char name[64] = "";
            GetClassNameA(WindowFromPoint(at), name, sizeof name);
            HWND top = GetAncestor(window, GA_ROOT);
            RECT mine = {}, root = {};
            GetWindowRect(window, &mine);
            GetWindowRect(top, &root);
            ADD_FAILURE() << "at (" << at.x << ", " << at.y << ") the display shows window class \""
                          << name << "\"; the item " << (IsWindowVisible(window) ? "shown" : "hidden")
                          << " at " << mine.left << "," << mine.top << "-" << mine.right << ","
                          << mine.bottom << ", its frame "
                          << (IsWindowVisible(top) ? "shown" : "hidden")
                          << (IsIconic(top) ? " minimised" : "") << " at " << root.left << ","
                          << root.top << "-" << root.right << "," << root.bottom;
        }
        return shown;
    }
    // A mouse message at a client point of the window, with the cursor there.
    void Mouse(HWND window, UINT message, int x, int y, WPARAM keys = 0)
    {
        POINT at = {x, y};
        ClientToScreen(window, &at);
        CursorTo(at.x, at.y);
        SendMessageA(window, message, keys, MAKELPARAM(x, y));
    }
    // The same with the cursor at a screen point, possibly outside.
    void MouseAtScreen(HWND window, UINT message, int sx, int sy, WPARAM keys = 0)
    {
        CursorTo(sx, sy);
        POINT at = {sx, sy};
        ScreenToClient(window, &at);
        SendMessageA(window, message, keys, MAKELPARAM(at.x, at.y));
    }
    POINT PaintCentre()
    {
        RECT r;
        GetWindowRect(paint, &r);
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
};
HWND Items::frame, Items::owner, Items::paint;

TEST_F(Items, FactoryBuildsEveryValueAndListType)
{
    const int types[] = {CMD_TREE, CMD_LIST, CMD_SLIDER, CMD_BRUSHSIZE, CMD_COLOR, CMD_PALETTE};
    for (int type : types) {
        CUIItem *item = NewItemForType(type);
        ASSERT_TRUE(item != nullptr) << type;
        EXPECT_EQ(item->typeCode, type);
        delete item;
    }
    EXPECT_EQ(NewItemForType(7), nullptr);
    EXPECT_EQ(NewItemForType(8), nullptr);
}

TEST_F(Items, ValueItemsWithoutARecordFailToCreate)
{
    const int types[] = {CMD_SLIDER, CMD_BRUSHSIZE, CMD_COLOR, CMD_PALETTE};
    for (int type : types) {
        uint16_t id = (uint16_t)(0x3A0 + type);
        ASSERT_GE(gApp.AddCommand(id, (uint16_t)type, CMDF_ENABLED, 0, -1, 0, 0, 0), 0);
        CUIItem *item = NewItemForType(type);
        CommandEntry entry;
        gApp.GetCommand(id, &entry);
        EXPECT_EQ(item->OnCreate(entry, frame, owner, 0), QRF_ERR_NOCOMMAND) << type;
        EXPECT_EQ(item->Create(id, frame, owner, 0), QRF_ERR_WINDOW) << type;
        delete item;
    }
}

TEST_F(Items, SliderTrackClicksStepByOneAndStopAtTheEnds)
{
    RangeValue range = {5, 0, 10};
    CSlider *slider = (CSlider *)Make(ID_SLIDER, CMD_SLIDER, CMDF_ENABLED, &range, 10, 10);
    int a = slider->contentHeight;
    EXPECT_EQ(slider->contentWidth, 7 * a);
    int y = slider->thumbRect.top + a / 2;
    Mouse(slider->window, WM_LBUTTONDOWN, slider->thumbRect.right + 3, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, slider->thumbRect.right + 3, y);
    EXPECT_EQ(range.value, 6);
    ASSERT_EQ(gOwner.commands.size(), 1u);
    EXPECT_EQ(gOwner.commands[0].wParam, (WPARAM)ID_SLIDER);
    EXPECT_EQ(gOwner.commands[0].lParam, 1);
    UpdateWindow(slider->window);
    Mouse(slider->window, WM_LBUTTONDOWN, slider->thumbRect.left - 2, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, slider->thumbRect.left - 2, y);
    EXPECT_EQ(range.value, 5);
    // At the maximum a click further right keeps the value.
    range.value = 10;
    InvalidateRect(slider->window, 0, FALSE);
    UpdateWindow(slider->window);
    Mouse(slider->window, WM_LBUTTONDOWN, slider->contentRect.right + 1, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, slider->contentRect.right + 1, y);
    EXPECT_EQ(range.value, 10);
    // A value set out of range by the program is pulled back in by a step.
    range.value = 40;
    Mouse(slider->window, WM_LBUTTONDOWN, 0, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, 0, y);
    EXPECT_EQ(range.value, 10);
    // Disabled: nothing moves and nothing is sent.
    size_t sent = gOwner.commands.size();
    gApp.EnableCommand(ID_SLIDER, false);
    Mouse(slider->window, WM_LBUTTONDOWN, 0, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, 0, y);
    EXPECT_EQ(range.value, 10);
    EXPECT_EQ(gOwner.commands.size(), sent);
}

TEST_F(Items, SliderDragMapsTheCursorOntoTheRangeAndNotifiesPerChange)
{
    RangeValue range = {0, -10, 10};
    CSlider *slider = (CSlider *)Make(ID_SLIDER, CMD_SLIDER, CMDF_ENABLED, &range, 10, 10);
    ASSERT_FALSE(IsRectEmpty(&slider->thumbRect));
    int a = slider->contentHeight, left = slider->contentRect.left;
    int track = slider->contentWidth - a;
    // The minimum's thumb sits at the left end, 0 in the middle.
    EXPECT_EQ(slider->thumbRect.left, left + track / 2);
    int y = slider->thumbRect.top + a / 2;
    Mouse(slider->window, WM_LBUTTONDOWN, slider->thumbRect.left + a / 2, y, MK_LBUTTON);
    EXPECT_TRUE(gOwner.commands.empty());   // pressing the thumb changes nothing
    // Each value's thumb centre maps back onto that value.
    for (int v : {3, 7, -4}) {
        int x = left + (v + 10) * track / 20 + a / 2;
        Mouse(slider->window, WM_MOUSEMOVE, x, y, MK_LBUTTON);
        EXPECT_EQ(range.value, v);
    }
    EXPECT_EQ(gOwner.commands.size(), 3u);
    Mouse(slider->window, WM_MOUSEMOVE, left + (6 * track / 20) + a / 2 + 1, y, MK_LBUTTON);
    EXPECT_EQ(gOwner.commands.size(), 3u);   // same value: no notice
    Mouse(slider->window, WM_MOUSEMOVE, 5000, y, MK_LBUTTON);
    EXPECT_EQ(range.value, 10);
    Mouse(slider->window, WM_MOUSEMOVE, -5000, y, MK_LBUTTON);
    EXPECT_EQ(range.value, -10);
    EXPECT_EQ(gOwner.commands.size(), 5u);
    for (const Command &c : gOwner.commands)
        EXPECT_EQ(c.lParam, 1);
    Mouse(slider->window, WM_LBUTTONUP, -5000, y);
    Mouse(slider->window, WM_MOUSEMOVE, 5000, y);
    EXPECT_EQ(range.value, -10);   // the drag ended
}

TEST_F(Items, SliderWithAnEmptyOrReversedRange)
{
    RangeValue empty = {4, 4, 4};
    CSlider *slider = (CSlider *)Make(ID_SLIDER, CMD_SLIDER, CMDF_ENABLED, &empty, 10, 10);
    int y = slider->thumbRect.top + 2;
    Mouse(slider->window, WM_LBUTTONDOWN, slider->contentRect.right, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, slider->contentRect.right, y);
    EXPECT_EQ(empty.value, 4);
    RangeValue reversed = {9, 10, 0};   // still the range 0..10
    slider->range = &reversed;
    InvalidateRect(slider->window, 0, FALSE);
    UpdateWindow(slider->window);
    Mouse(slider->window, WM_LBUTTONDOWN, slider->contentRect.right, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, slider->contentRect.right, y);
    Mouse(slider->window, WM_LBUTTONDOWN, slider->contentRect.right, y, MK_LBUTTON);
    Mouse(slider->window, WM_LBUTTONUP, slider->contentRect.right, y);
    EXPECT_EQ(reversed.value, 10);
}

TEST_F(Items, BrushSizeFollowsVerticalDragInFivePixelSteps)
{
    RangeValue range = {10, 1, 30};
    CBrushSize *brush = (CBrushSize *)Make(ID_BRUSH, CMD_BRUSHSIZE, CMDF_ENABLED, &range, 10, 60);
    EXPECT_TRUE(gApp.CommandById(ID_BRUSH)->flags & CMDF_NOPRESSEDLOOK);
    MouseAtScreen(brush->window, WM_LBUTTONDOWN, 300, 500, MK_LBUTTON);
    MouseAtScreen(brush->window, WM_MOUSEMOVE, 300, 477, MK_LBUTTON);   // 23 up
    EXPECT_EQ(range.value, 14);
    MouseAtScreen(brush->window, WM_MOUSEMOVE, 300, 507, MK_LBUTTON);   // 7 down
    EXPECT_EQ(range.value, 9);
    MouseAtScreen(brush->window, WM_MOUSEMOVE, 300, 100, MK_LBUTTON);
    EXPECT_EQ(range.value, 30);
    MouseAtScreen(brush->window, WM_MOUSEMOVE, 300, 900, MK_LBUTTON);
    EXPECT_EQ(range.value, 1);
    EXPECT_TRUE(gOwner.commands.empty());   // told once, at the release
    MouseAtScreen(brush->window, WM_MOUSEMOVE, 300, 480, 0);   // no button: no change
    EXPECT_EQ(range.value, 1);
    MouseAtScreen(brush->window, WM_LBUTTONUP, 300, 480);
    ASSERT_EQ(Count(0, ID_BRUSH), 1);
    EXPECT_EQ(gOwner.commands[0].lParam, 0);
    MouseAtScreen(brush->window, WM_MOUSEMOVE, 300, 100, MK_LBUTTON);
    MouseAtScreen(brush->window, WM_LBUTTONUP, 300, 100);
    EXPECT_EQ(range.value, 1);
    EXPECT_EQ(Count(0, ID_BRUSH), 1);   // a release without a press sends nothing
    // The digits are drawn and the font refitted for a three-digit value.
    range.maximum = 500;
    range.value = 120;
    RedrawWindow(brush->window, 0, 0, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_STREQ(brush->text, "120");
    EXPECT_EQ(brush->drawnLength, 3);
    EXPECT_TRUE(brush->digitFont != 0);
}

TEST_F(Items, ColourIsPickedFromTheScreenAndSentOnReleaseOutside)
{
    ColorValue value = {0xFF000000, 0};
    CColor *swatch = (CColor *)Make(ID_COLOR, CMD_COLOR, CMDF_ENABLED, &value, 10, 110);
    POINT target = PaintCentre();
    Mouse(swatch->window, WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
    ASSERT_EQ(GetCapture(), swatch->window);
    Mouse(swatch->window, WM_MOUSEMOVE, 6, 6, MK_LBUTTON);   // inside: nothing picked
    EXPECT_EQ(value.colour, 0xFF000000u);
    MouseAtScreen(swatch->window, WM_MOUSEMOVE, target.x, target.y, MK_LBUTTON);
    EXPECT_EQ(value.colour, 0xFF123456u);
    MouseAtScreen(swatch->window, WM_LBUTTONUP, target.x, target.y);
    ASSERT_EQ(gOwner.commands.size(), 1u);
    EXPECT_EQ(gOwner.commands[0].wParam, (WPARAM)ID_COLOR);
    EXPECT_EQ(gOwner.commands[0].lParam, 0);
    // Released over the swatch itself: no command.
    Mouse(swatch->window, WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
    Mouse(swatch->window, WM_LBUTTONUP, 5, 5);
    EXPECT_EQ(Count(0, ID_COLOR), 1);
    // The swatch is painted in the picked colour.
    EXPECT_EQ(ShownPixel(swatch->window, (swatch->iconRect.left + swatch->iconRect.right) / 2,
                         swatch->iconRect.top + 2, kPaintColour),
              kPaintColour);
}

TEST_F(Items, PaletteSelectsASwatchAndPicksIntoIt)
{
    PaletteValue palette = {};
    for (int i = 0; i < PALETTE_SIZE; i++)
        palette.colours[i] = 0xFF000000u | (uint32_t)(i * 0x101010);
    CPalette *grid = (CPalette *)Make(ID_PALETTE, CMD_PALETTE, CMDF_ENABLED, &palette, 10, 160);
    int s = grid->SpaceWidth();
    EXPECT_EQ(grid->contentWidth, 32 * s);
    EXPECT_EQ(grid->contentHeight, 6 * s);
    // 8 x 2, numbered row by row.
    EXPECT_EQ(grid->swatches[1].left, grid->swatches[0].right);
    EXPECT_EQ(grid->swatches[8].top, grid->swatches[0].bottom);
    EXPECT_EQ(grid->swatches[8].left, grid->swatches[0].left);
    const RECT &cell = grid->swatches[10];
    Mouse(grid->window, WM_LBUTTONDOWN, (cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2,
          MK_LBUTTON);
    EXPECT_EQ(palette.selected, 10);
    POINT target = PaintCentre();
    MouseAtScreen(grid->window, WM_MOUSEMOVE, target.x, target.y, MK_LBUTTON);
    EXPECT_EQ(palette.picked, 0xFF123456u);
    EXPECT_EQ(palette.colours[10], 0xFF123456u);
    EXPECT_EQ(palette.colours[9], 0xFF909090u);
    MouseAtScreen(grid->window, WM_LBUTTONUP, target.x, target.y);
    EXPECT_EQ(Count(0, ID_PALETTE), 1);
    // The grid shows the new colour in swatch 10.
    EXPECT_EQ(ShownPixel(grid->window, (cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2,
                         kPaintColour),
              kPaintColour);
}

TEST_F(Items, PaletteIgnoresASelectedIndexOutsideItsSixteenColours)
{
    struct Guarded {
        uint32_t before;
        PaletteValue palette;
        uint32_t after;
    } record = {};
    PaletteValue &palette = record.palette;
    CPalette *grid = (CPalette *)Make(ID_PALETTE, CMD_PALETTE, CMDF_ENABLED, &palette, 10, 160);
    POINT target = PaintCentre();
    for (int selected : {-1, 17, 18}) {
        palette.selected = selected;
        Mouse(grid->window, WM_LBUTTONDOWN, 0, 0, MK_LBUTTON);   // the margin: no swatch
        EXPECT_EQ(palette.selected, selected);
        MouseAtScreen(grid->window, WM_MOUSEMOVE, target.x, target.y, MK_LBUTTON);
        EXPECT_EQ(palette.picked, 0xFF123456u);
        EXPECT_EQ(palette.selected, selected);
        EXPECT_EQ(record.before, 0u);
        EXPECT_EQ(record.after, 0u);
        for (int i = 0; i < PALETTE_SIZE; i++)
            EXPECT_EQ(palette.colours[i], 0u);
        MouseAtScreen(grid->window, WM_LBUTTONUP, target.x, target.y);
        palette.picked = 0;
    }
}

TEST_F(Items, PaletteInAVerticalBarIsTwoByEight)
{
    PaletteValue palette = {};
    CPalette *grid = (CPalette *)Make(ID_PALETTE, CMD_PALETTE, CMDF_ENABLED, &palette, 10, 10);
    CommandEntry entry;
    gApp.GetCommand(ID_PALETTE, &entry);
    grid->Measure(entry, ORIENT_VERTICAL);
    int s = grid->SpaceWidth();
    EXPECT_EQ(grid->contentWidth, 6 * s);
    EXPECT_EQ(grid->contentHeight, 32 * s);
    SetWindowPos(grid->window, 0, 0, 0, grid->width, grid->height, SWP_NOMOVE | SWP_NOZORDER);
    RedrawWindow(grid->window, 0, 0, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(grid->swatches[1].left, grid->swatches[0].right);
    EXPECT_EQ(grid->swatches[2].top, grid->swatches[0].bottom);
    EXPECT_EQ(grid->swatches[2].left, grid->swatches[0].left);
}

// ---- Tree ----

struct TreeLog {
    int creates, destroys, inserts;
    bool sawItem;
};
TreeLog gTree;

LRESULT CALLBACK ProgramTreeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        gTree.creates++;
        gTree.sawItem = ItemFromWindow(window) != nullptr;
        return 0;   // the control exists already: not handed on
    }
    if (message == WM_DESTROY)
        gTree.destroys++;
    if (message == TVM_INSERTITEMA)
        gTree.inserts++;
    return CallTreeProc(window, message, wParam, lParam);
}

TEST_F(Items, TreeRunsTheProgramsProcedureOverTheTreeView)
{
    gTree = TreeLog();
    CTree *tree = (CTree *)Make(ID_TREE, CMD_TREE, CMDF_ENABLED | ITEMF_OPTIONAL | ITEMF_TABSTOP,
                                (const void *)ProgramTreeProc, 10, 10, 0, 0);
    ASSERT_TRUE(tree && tree->window);
    char name[64];
    GetClassNameA(tree->window, name, sizeof name);
    EXPECT_STREQ(name, WC_TREEVIEWA);
    EXPECT_EQ(gTree.creates, 1);
    EXPECT_TRUE(gTree.sawItem);
    EXPECT_EQ(tree->width, 64);
    EXPECT_EQ(tree->height, 64);
    RECT r;
    GetWindowRect(tree->window, &r);
    EXPECT_EQ(r.right - r.left, 64);
    EXPECT_EQ((DWORD)GetWindowLongA(tree->window, GWL_STYLE) & 0xFFFF0FFFu,
              (DWORD)(WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_LINESATROOT));
    EXPECT_TRUE(GetWindowLongA(tree->window, GWL_EXSTYLE) & WS_EX_STATICEDGE);
    EXPECT_TRUE(tree->flags & ITEMF_FILL);
    EXPECT_FALSE(tree->flags & ITEMF_OPTIONAL);
    EXPECT_FALSE(gApp.CommandById(ID_TREE)->flags & ITEMF_OPTIONAL);
    TVINSERTSTRUCTA insert = {};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = (char *)"Stations";
    EXPECT_TRUE(SendMessageA(tree->window, TVM_INSERTITEMA, 0, (LPARAM)&insert) != 0);
    EXPECT_EQ(gTree.inserts, 1);
    EXPECT_EQ(SendMessageA(tree->window, TVM_GETCOUNT, 0, 0), 1);
    tree->Destroy();
    EXPECT_EQ(gTree.destroys, 1);
    EXPECT_EQ(tree->window, (HWND)0);

    // Without a procedure the tree view works on its own.
    CTree *bare = (CTree *)Make(ID_BARE_TREE, CMD_TREE, CMDF_ENABLED, nullptr, 10, 10);
    ASSERT_TRUE(bare && bare->window);
    EXPECT_EQ(bare->previousProc, (WNDPROC)0);
    EXPECT_TRUE(SendMessageA(bare->window, TVM_INSERTITEMA, 0, (LPARAM)&insert) != 0);
    EXPECT_EQ(gTree.inserts, 1);
}


// ---- List ----

class Lists : public Items {
protected:
    CList *list = nullptr;
    int keys[5] = {30, 10, 50, 20, 40};

    void SetUp() override
    {
        Items::SetUp();
        list = (CList *)Make(ID_LIST, CMD_LIST, CMDF_ENABLED | ITEMF_OPTIONAL, nullptr, 10, 10);
        ASSERT_TRUE(list && list->window);
        gShownList = list;
    }
    void Fill()
    {
        ASSERT_EQ(list->AddColumn("Station", 0.5), 0);
        ASSERT_EQ(list->AddColumn("Distance", 0.5), 1);
        SetWindowPos(list->window, 0, 10, 10, 300, 150, SWP_NOZORDER | SWP_SHOWWINDOW);
        ASSERT_EQ(list->SetSortColumn(0, 1), 0);
        for (int &key : keys)
            SendMessageA(list->listBox, LB_ADDSTRING, 0, (LPARAM)&key);
        UpdateWindow(list->window);
        UpdateWindow(list->listBox);
    }
    int KeyAt(int row) { return SortKey(SendMessageA(list->listBox, LB_GETITEMDATA, row, 0)); }
    RECT HeaderCell(int column)
    {
        RECT r = {};
        SendMessageA(list->header, HDM_GETITEMRECT, column, (LPARAM)&r);
        return r;
    }
    void ClickHeader(int column)
    {
        RECT r = HeaderCell(column);
        int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
        Mouse(list->header, WM_LBUTTONDOWN, x, y, MK_LBUTTON);
        Mouse(list->header, WM_LBUTTONUP, x, y);
    }
    HDITEMA HeaderItem(int column)
    {
        HDITEMA item = {};
        item.mask = HDI_FORMAT | HDI_IMAGE | HDI_WIDTH;
        SendMessageA(list->header, HDM_GETITEMA, column, (LPARAM)&item);
        return item;
    }
    POINT RowCentre(int row)
    {
        RECT r = {};
        SendMessageA(list->listBox, LB_GETITEMRECT, row, (LPARAM)&r);
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    void ClickRow(int row)
    {
        POINT p = RowCentre(row);
        Mouse(list->listBox, WM_LBUTTONDOWN, p.x, p.y, MK_LBUTTON);
        Mouse(list->listBox, WM_LBUTTONUP, p.x, p.y);
    }
};

TEST_F(Lists, StartsAtSixtyFourWithoutColumns)
{
    EXPECT_EQ(list->width, 64);
    EXPECT_EQ(list->height, 64);
    EXPECT_FALSE(list->flags & ITEMF_OPTIONAL);
    EXPECT_FALSE(gApp.CommandById(ID_LIST)->flags & ITEMF_OPTIONAL);
    EXPECT_GT(list->rowHeight, 4);
    EXPECT_EQ(list->SetSortColumn(0, 1), QRF_ERR_INDEX);   // no columns yet
    EXPECT_EQ(list->sortColumn, -1);
    // No columns: no header height.
    RECT r;
    GetWindowRect(list->header, &r);
    EXPECT_EQ(r.bottom - r.top, 0);
}

TEST_F(Lists, ColumnsFollowTheirFractionsAndRowsSortByTheOwner)
{
    Fill();
    EXPECT_EQ(HeaderItem(0).cxy, 150);
    EXPECT_EQ(HeaderItem(1).cxy, 150);
    EXPECT_EQ(list->columns.data[1].left, 150);
    EXPECT_EQ(list->totalWidth, 300);
    RECT r;
    GetWindowRect(list->header, &r);
    EXPECT_EQ(r.bottom - r.top, (int)(list->rowHeight * 1.2));
    EXPECT_GT(gOwner.compares, 0);
    for (int row = 0; row < 5; row++)
        EXPECT_EQ(KeyAt(row), 10 * (row + 1));
    EXPECT_GT(gOwner.drawnRows, 0);
    // A wider container keeps the fractions.
    SetWindowPos(list->window, 0, 0, 0, 400, 150, SWP_NOMOVE | SWP_NOZORDER);
    RECT client;
    GetClientRect(list->window, &client);
    EXPECT_EQ(HeaderItem(1).cxy, client.right / 2);
    EXPECT_EQ(list->columns.data[1].left, client.right / 2);
}

TEST_F(Lists, HeaderClicksFlipTheDirectionAndMoveTheArrow)
{
    Fill();
    EXPECT_EQ(HeaderItem(0).iImage, 0);
    EXPECT_TRUE(HeaderItem(0).fmt & HDF_IMAGE);
    ClickHeader(1);   // another column keeps the direction
    EXPECT_EQ(list->sortColumn, 1);
    EXPECT_EQ(list->sortDirection, 1);
    EXPECT_FALSE(HeaderItem(0).fmt & HDF_IMAGE);
    EXPECT_TRUE(HeaderItem(1).fmt & HDF_IMAGE);
    EXPECT_TRUE(HeaderItem(1).fmt & HDF_BITMAP_ON_RIGHT);
    ClickHeader(1);
    EXPECT_EQ(list->sortDirection, -1);
    EXPECT_EQ(HeaderItem(1).iImage, 1);
    ClickHeader(1);
    EXPECT_EQ(list->sortDirection, 1);
    ASSERT_EQ(Count(QRFN_LIST_SORTED, ID_LIST), 3);
    for (const Command &c : gOwner.commands) {
        if (HIWORD(c.wParam) == QRFN_LIST_SORTED) {
            EXPECT_EQ(c.lParam, 1);
        }
    }
    // A right click on the sorted column's cell freezes the sort.
    RECT cell = HeaderCell(1);
    Mouse(list->header, WM_RBUTTONDOWN, cell.left + 5, cell.top + 3, MK_RBUTTON);
    Mouse(list->header, WM_RBUTTONUP, cell.left + 5, cell.top + 3);
    EXPECT_EQ(list->sortFrozen, 1);
    EXPECT_EQ(HeaderItem(1).iImage, 2);
    ClickHeader(0);
    EXPECT_EQ(list->sortColumn, 1);
    EXPECT_EQ(Count(QRFN_LIST_SORTED, ID_LIST), 3);
    // Sorting off: clicks do nothing.
    list->sortFrozen = 0;
    list->SetSortColumn(-1, 0);
    EXPECT_FALSE(HeaderItem(1).fmt & HDF_IMAGE);
    ClickHeader(0);
    EXPECT_EQ(list->sortColumn, -1);
    EXPECT_EQ(Count(QRFN_LIST_SORTED, ID_LIST), 3);
}

TEST_F(Lists, DraggingAColumnBorderUnlessBarSizesAreLocked)
{
    Fill();
    RECT cell = HeaderCell(0);
    int y = (cell.top + cell.bottom) / 2;
    Mouse(list->header, WM_LBUTTONDOWN, cell.right - 1, y, MK_LBUTTON);
    Mouse(list->header, WM_MOUSEMOVE, cell.right + 29, y, MK_LBUTTON);
    Mouse(list->header, WM_LBUTTONUP, cell.right + 29, y);
    EXPECT_EQ(HeaderItem(0).cxy, 180);
    RECT client;
    GetClientRect(list->window, &client);
    EXPECT_NEAR(list->columns.data[0].width, 180.0 / client.right, 1e-9);
    EXPECT_EQ(list->columns.data[1].left, 180);
    EXPECT_GE(Count(QRFN_LIST_COLUMNSIZED, ID_LIST), 1);
    for (const Command &c : gOwner.commands) {
        if (HIWORD(c.wParam) == QRFN_LIST_COLUMNSIZED) {
            EXPECT_EQ(c.lParam, 0);
        }
    }

    CFrameWindow *frameObject = FrameOfWindow(frame);
    ASSERT_TRUE(frameObject != nullptr);
    frameObject->options |= FRAME_LOCKBARSIZE;
    int sized = Count(QRFN_LIST_COLUMNSIZED, ID_LIST);
    cell = HeaderCell(0);
    Mouse(list->header, WM_LBUTTONDOWN, cell.right - 1, y, MK_LBUTTON);
    Mouse(list->header, WM_MOUSEMOVE, cell.right + 40, y, MK_LBUTTON);
    Mouse(list->header, WM_LBUTTONUP, cell.right + 40, y);
    frameObject->options &= ~(uint32_t)FRAME_LOCKBARSIZE;
    EXPECT_EQ(HeaderItem(0).cxy, 180);
    EXPECT_EQ(Count(QRFN_LIST_COLUMNSIZED, ID_LIST), sized);
}

TEST_F(Lists, ClicksSelectAndReportWithTheirCodes)
{
    Fill();
    ClickRow(1);
    EXPECT_EQ(SendMessageA(list->listBox, LB_GETSEL, 1, 0), 1);
    EXPECT_EQ(Count(QRFN_LIST_SELCHANGE, ID_LIST), 1);
    ASSERT_EQ(Count(QRFN_LIST_LBUTTONDOWN, ID_LIST), 1);
    POINT p = RowCentre(1);
    for (const Command &c : gOwner.commands) {
        if (HIWORD(c.wParam) == QRFN_LIST_LBUTTONDOWN) {
            EXPECT_EQ(c.lParam, MAKELPARAM(p.x, p.y));
        }
    }
    PumpMessages(300);
    EXPECT_EQ(Count(QRFN_LIST_EDIT, ID_LIST), 0);   // the first click selected it
    // A second click on the selected row asks for an edit, once.
    ClickRow(1);
    PumpMessages(400);
    EXPECT_EQ(Count(QRFN_LIST_EDIT, ID_LIST), 1);
    // A double click is only a double click.
    ClickRow(1);
    p = RowCentre(1);
    Mouse(list->listBox, WM_LBUTTONDBLCLK, p.x, p.y, MK_LBUTTON);
    Mouse(list->listBox, WM_LBUTTONUP, p.x, p.y);
    PumpMessages(400);
    EXPECT_EQ(Count(QRFN_LIST_EDIT, ID_LIST), 1);
    EXPECT_EQ(Count(QRFN_LIST_DBLCLK, ID_LIST), 1);
    // The right button selects the row under it alone and reports the release.
    int changes = Count(QRFN_LIST_SELCHANGE, ID_LIST);
    p = RowCentre(3);
    Mouse(list->listBox, WM_RBUTTONDOWN, p.x, p.y, MK_RBUTTON);
    Mouse(list->listBox, WM_RBUTTONUP, p.x, p.y);
    EXPECT_EQ(SendMessageA(list->listBox, LB_GETSEL, 3, 0), 1);
    EXPECT_EQ(SendMessageA(list->listBox, LB_GETSELCOUNT, 0, 0), 1);
    EXPECT_EQ(Count(QRFN_LIST_SELCHANGE, ID_LIST), changes + 1);
    EXPECT_EQ(Count(QRFN_LIST_RBUTTONUP, ID_LIST), 1);
    EXPECT_EQ(gOwner.commands.back().lParam, MAKELPARAM(p.x, p.y));
}

TEST_F(Lists, KeysGoToTheOwnerFirstAndCtrlASelectsAll)
{
    Fill();
    gOwner.consumeKey = VK_DOWN;
    SendMessageA(list->listBox, LB_SETCARETINDEX, 0, 0);
    SendMessageA(list->listBox, WM_KEYDOWN, VK_DOWN, 0);
    ASSERT_EQ(Count(QRFN_LIST_KEYDOWN, ID_LIST), 1);
    EXPECT_EQ(gOwner.commands.back().lParam, VK_DOWN);
    EXPECT_EQ(SendMessageA(list->listBox, LB_GETSELCOUNT, 0, 0), 0);   // consumed
    BYTE state[256];
    GetKeyboardState(state);
    state[VK_CONTROL] = 0x80;
    SetKeyboardState(state);
    SendMessageA(list->listBox, WM_KEYDOWN, 'A', 0);
    state[VK_CONTROL] = 0;
    SetKeyboardState(state);
    EXPECT_EQ(SendMessageA(list->listBox, LB_GETSELCOUNT, 0, 0), 5);
    EXPECT_EQ(Count(QRFN_LIST_SELCHANGE, ID_LIST), 1);
    list->Select(-1, false, false);
    EXPECT_EQ(SendMessageA(list->listBox, LB_GETSELCOUNT, 0, 0), 0);
    EXPECT_EQ(Count(QRFN_LIST_SELCHANGE, ID_LIST), 1);
}

TEST_F(Lists, ScrollingStopsAtTheColumnsOverhang)
{
    ASSERT_EQ(list->AddColumn("Station", 0.8), 0);
    ASSERT_EQ(list->AddColumn("Distance", 0.8), 1);
    SetWindowPos(list->window, 0, 10, 10, 300, 150, SWP_NOZORDER | SWP_SHOWWINDOW);
    RECT client;
    GetClientRect(list->window, &client);
    int W = client.right, total = 2 * (int)(W * 0.8);
    EXPECT_EQ(list->totalWidth, total);
    list->Scroll(SB_PAGERIGHT);
    EXPECT_EQ(list->scrollPosition, total - W);
    RECT r;
    GetWindowRect(list->header, &r);
    POINT origin = {0, 0};
    ClientToScreen(list->window, &origin);
    EXPECT_EQ(r.left - origin.x, -(total - W));
    list->Scroll(SB_THUMBPOSITION, 100000);
    EXPECT_EQ(list->scrollPosition, total - W);
    SendMessageA(list->window, WM_HSCROLL, SB_LINELEFT, 0);
    int line = list->textHeight > 0 ? list->textHeight : list->rowHeight;
    EXPECT_EQ(list->scrollPosition, total - W - line);
    list->Scroll(SB_THUMBPOSITION, -50);
    EXPECT_EQ(list->scrollPosition, 0);
    // Columns that fit do not scroll at all.
    list->columns.data[0].width = list->columns.data[1].width = 0.25;
    list->LayoutColumns();
    list->Scroll(SB_PAGERIGHT);
    EXPECT_EQ(list->scrollPosition, 0);
    GetClientRect(list->listBox, &client);
    EXPECT_EQ(list->GetVisibleRows(), client.bottom / list->rowHeight + 1);
}

TEST_F(Lists, AnEmptyListPaintsOnlyItsBackground)
{
    ASSERT_EQ(list->AddColumn("Station", 1.0), 0);
    SetWindowPos(list->window, 0, 10, 10, 200, 120, SWP_NOZORDER | SWP_SHOWWINDOW);
    RedrawWindow(list->window, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_EQ(gOwner.drawnRows, 0);
    HDC dc = GetDC(list->listBox);
    EXPECT_EQ(GetPixel(dc, 20, 10), GetSysColor(COLOR_WINDOW));
    ReleaseDC(list->listBox, dc);
}

TEST_F(Lists, RowsThatOwnTheirDataFreeItOnceWhenDeletedOrDestroyed)
{
    Fill();
    SendMessageA(list->listBox, LB_RESETCONTENT, 0, 0);
    list->rowsOwnData = 1;
    for (int i = 0; i < 3; i++) {
        int *key = (int *)malloc(sizeof(int));
        *key = i;
        SendMessageA(list->listBox, LB_ADDSTRING, 0, (LPARAM)key);
    }
    EXPECT_EQ(list->GetRowCount(), 3);
    SendMessageA(list->listBox, LB_DELETESTRING, 0, 0);   // frees that row's data
    EXPECT_EQ(list->GetRowCount(), 2);
    list->OnDestroy();   // the rest, each once (a double free would abort here)
    EXPECT_EQ(list->listBox, (HWND)0);
    EXPECT_EQ(list->header, (HWND)0);
    EXPECT_EQ(list->columns.count, 0);
}

// ---- What a user sees ----

TEST_F(Items, ScreenshotOfSliderPaletteAndList)
{
    static RangeValue range = {6, 0, 10};
    static PaletteValue palette;
    const COLORREF colours[16] = {RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),
                                  RGB(128, 128, 0),   RGB(0, 0, 128),   RGB(128, 0, 128),
                                  RGB(0, 128, 128),   RGB(192, 192, 192), RGB(128, 128, 128),
                                  RGB(255, 0, 0),     RGB(0, 255, 0),   RGB(255, 255, 0),
                                  RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255),
                                  RGB(255, 255, 255)};
    for (int i = 0; i < 16; i++)
        palette.colours[i] = ColorRefToArgb(colours[i], 255);
    MoveWindow(frame, 0, 0, 560, 330, TRUE);
    Make(ID_SLIDER, CMD_SLIDER, CMDF_ENABLED | ITEMF_MEASURETEXT, &range, 20, 20);
    Make(ID_PALETTE, CMD_PALETTE, CMDF_ENABLED, &palette, 20, 70);
    CList *list = (CList *)Make(ID_LIST, CMD_LIST, CMDF_ENABLED | ITEMF_ARROWZONE, nullptr, 20,
                                140, 500, 150);
    gShownList = list;
    list->AddColumn("Station", 0.6);
    list->AddColumn("Distance", 0.4);
    SetWindowPos(list->window, 0, 20, 140, 500, 150, SWP_NOZORDER | SWP_SHOWWINDOW);
    list->SetSortColumn(0, 1);
    static int keys[6] = {412, 87, 1290, 356, 23, 640};
    for (int &key : keys)
        SendMessageA(list->listBox, LB_ADDSTRING, 0, (LPARAM)&key);
    list->Select(2, true, false);
    SetForegroundWindow(frame);
    SetFocus(list->listBox);
    RedrawWindow(frame, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    PumpMessages(400);
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string folder = std::string(cwd) + "\\items-shot";
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), 0);
    std::string target = UnixPath(std::string(cwd) + "\\..\\..\\items.png");
    ASSERT_FALSE(target.empty());
    std::string report;
    int started = RunHostScript(
        folder, "import -window root -crop 600x360+0+0 +repage '" + target + "'", &report);
    VT_REQUIRE_OR_SKIP(started != 1, "no host shell");
    EXPECT_EQ(started, 0) << report;
    RemoveTree(folder);
}

}  // namespace
