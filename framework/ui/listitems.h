// Items that wrap standard controls and are sized by their container: a tree
// view whose behaviour is a window procedure the program supplies, and a
// multi-column list (a header over an owner-drawn list box, in a container
// that scrolls them sideways). The list tells its owner what happens with
// QRFM_COMMAND, wParam = QRFN_LIST_* code << 16 | command id.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <stdint.h>

#include "framework/growarray.h"
#include "framework/ui/uiitem.h"

enum {
    ITEMF_FILL = 0x4,            // the item stretches across its bar
    ITEMF_OPTIONAL = 0x1000,     // a bar may hide the item when short of room
    ITEMF_TABSTOP = 0x2000000,   // trees and lists
    LIST_ITEM_START_SIZE = 64,
    LIST_EDIT_TIMER = 0x1234,
};

class CTree : public CUIItem {
public:
    WNDPROC previousProc;   // the tree view's own procedure, for the program's to call
    DWORD style;
    HIMAGELIST imageList;   // destroyed with the item

    CTree() : previousProc(0), style(0), imageList(0) { typeCode = CMD_TREE; }
    ~CTree() override;
    int Create(uint16_t id, HWND parent, HWND ownerWindow, CMenu *parentMenu) override;
    void Measure(const CommandEntry &, int) override {}
    void Paint(HDC, const RECT &) override {}
    void OnDestroy() override;
};

struct ListColumn {
    char title[260];
    int left;          // computed by LayoutColumns
    double width;      // fraction of the container's width
};

class CList : public CUIItem {
public:
    HWND header;
    HWND listBox;
    CGrowArray<ListColumn> columns;
    int sortColumn;            // -1: sorting off
    int sortDirection;         // 1 ascending, -1 descending, 0 none
    WNDPROC listBoxProc;
    int rowHeight;
    int totalWidth;
    uint8_t columnsLocked;
    uint8_t sortFrozen;
    uint8_t rowsOwnData;       // row item data is malloc'ed and freed with the list
    int drawingRow;
    uint8_t ownerDraw;
    int scrollPosition;
    uint8_t multiSelect;
    uint8_t listFocused;
    HIMAGELIST sortImages;
    COLORREF alternateColour;
    // The edit request: a press on the selected row arms it, a double click
    // disarms it, the timer after the release delivers it.
    uint8_t editArmed;
    LPARAM editPosition;       // where the arming press was
    int containerWidth, containerHeight;

    CList();
    ~CList() override;
    int Create(uint16_t id, HWND parent, HWND ownerWindow, CMenu *parentMenu) override;
    void Paint(HDC, const RECT &) override {}
    void OnDestroy() override;

    // Appends a column whose width is this fraction of the container's;
    // gives its index or -1.
    int AddColumn(const char *title, double fraction);
    void Select(int row, bool select, bool notify);
    // 0, or QRF_ERR_INDEX for a column that does not exist (nothing changes).
    int SetSortColumn(int column, int direction);
    void LayoutColumns();
    void Scroll(int code, int position = 0);
    int GetRowCount() const;
    int GetVisibleRows() const;
    int BuildSortImages();
    // Sends a QRFN_LIST_* code to the owner; gives the owner's answer.
    LRESULT Notify(int code, LPARAM lParam);
};

// For the program's tree procedure: hands a message on to the tree view's
// own procedure.
LRESULT CallTreeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

LRESULT CALLBACK ListContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ListBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
