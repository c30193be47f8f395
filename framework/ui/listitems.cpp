// The tree item (a tree view run by the program's window procedure) and the
// list item (header and owner-drawn list box in a scrolling container).
#include "framework/ui/listitems.h"

#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/messages.h"
#include "framework/ui/framewindow.h"
#include "framework/ui/graphics.h"

// One column drag at a time in the whole program.
static bool gColumnDragging;

static void InitListControls()
{
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
}

// Optional items may be hidden by a bar short of room; these never are.
static void DropOptionalFlag(CUIItem *item)
{
    CommandEntry *live = gApp.CommandById(item->commandId);
    if (live)
        live->flags &= ~(uint32_t)ITEMF_OPTIONAL;
    item->flags &= ~(uint32_t)ITEMF_OPTIONAL;
}

static UINT DoubleClickTime()
{
    return gApp.doubleClickTime ? gApp.doubleClickTime : GetDoubleClickTime();
}

// ---- Tree ----

CTree::~CTree() { OnDestroy(); }

int CTree::Create(uint16_t id, HWND parent, HWND ownerWindow, CMenu *parentMenu)
{
    OnDestroy();
    InitListControls();
    commandId = id;
    owner = ownerWindow;
    parentItem = parentMenu;
    CommandEntry entry;
    ReadEntry(&entry);
    flags = entry.flags;
    DropOptionalFlag(this);
    style = WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_LINESATROOT;
    if (entry.flags & ITEMF_TABSTOP)
        style |= WS_TABSTOP;
    HWND made = CreateWindowExA(WS_EX_STATICEDGE, WC_TREEVIEWA, "", style, 0, 0, width, height,
                                parent, (HMENU)(UINT_PTR)id, GetModuleHandleA(0), 0);
    if (!made)
        return QRF_ERR_WINDOW;
    window = made;
    SetWindowLongPtrA(made, GWLP_USERDATA, (LONG_PTR)this);
    // Without a procedure the tree view keeps its own behaviour.
    WNDPROC procedure = (WNDPROC)(uintptr_t)entry.data;
    if (procedure)
        previousProc = (WNDPROC)SetWindowLongPtrA(made, GWLP_WNDPROC, (LONG_PTR)procedure);
    width = height = LIST_ITEM_START_SIZE;
    SetWindowPos(made, 0, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    flags |= ITEMF_FILL;
    // The program's procedure starts its work here (the control already exists).
    CREATESTRUCTA create;
    memset(&create, 0, sizeof create);
    create.hInstance = GetModuleHandleA(0);
    create.hwndParent = parent;
    create.cx = width;
    create.cy = height;
    create.style = (LONG)style;
    create.lpszClass = WC_TREEVIEWA;
    create.dwExStyle = WS_EX_STATICEDGE;
    if (procedure)
        SendMessageA(made, WM_CREATE, 0, (LPARAM)&create);
    return 0;
}

void CTree::OnDestroy()
{
    if (imageList) {
        ImageList_Destroy(imageList);
        imageList = 0;
    }
    if (window) {
        // The item stays bound while the control goes, so that the
        // program's procedure can still reach the tree view's own.
        HWND gone = window;
        window = 0;
        DestroyWindow(gone);
    }
    previousProc = 0;
}

LRESULT CallTreeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CTree *tree = (CTree *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (tree && tree->typeCode == CMD_TREE && tree->previousProc)
        return CallWindowProcA(tree->previousProc, window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- List ----

CList::CList()
    : header(0), listBox(0), sortColumn(-1), sortDirection(0), listBoxProc(0), rowHeight(0),
      totalWidth(0), columnsLocked(0), sortFrozen(0), rowsOwnData(0), drawingRow(-1),
      ownerDraw(1), scrollPosition(0), multiSelect(1), listFocused(0), sortImages(0),
      alternateColour(0), editArmed(0), editPosition(0), containerWidth(0), containerHeight(0)
{
    typeCode = CMD_LIST;
}

CList::~CList()
{
    OnDestroy();
    columns.RemoveAll();
}

LRESULT CList::Notify(int code, LPARAM lParam)
{
    if (!owner)
        return 0;
    return SendMessageA(owner, QRFM_COMMAND, (WPARAM)code << 16 | commandId, lParam);
}

static HFONT ListFont(const CList *list)
{
    return gGraphics ? gGraphics->GetFont(FONT_DEFAULT, list->Dpi()) : 0;
}

static int MeasureRowHeight(const CList *list)
{
    int w = 0, h = 16;
    // The framework's measuring text, "Ag": a capital and a descender.
    if (gGraphics)
        gGraphics->MeasureText("Ag", &w, &h, ListFont(list));
    return h + 4;
}

static void BindContainer(CList *list, HWND container)
{
    SetWindowLongPtrA(container, GWLP_USERDATA, (LONG_PTR)list);
    SetWindowLongPtrA(container, GWLP_WNDPROC, (LONG_PTR)ListContainerProc);
}

int CList::Create(uint16_t id, HWND parent, HWND ownerWindow, CMenu *parentMenu)
{
    Destroy();
    InitListControls();
    RegisterUIItemClass();
    commandId = id;
    owner = ownerWindow;
    parentItem = parentMenu;
    CommandEntry entry;
    ReadEntry(&entry);
    flags = entry.flags;
    DropOptionalFlag(this);
    DWORD containerStyle = WS_CHILD | WS_CLIPCHILDREN | WS_HSCROLL;
    if (entry.flags & ITEMF_ARROWZONE)
        containerStyle |= WS_BORDER;
    HWND container = CreateWindowExA(WS_EX_CONTROLPARENT, UI_ITEM_CLASS, "", containerStyle, 0, 0,
                                     0, 0, parent, (HMENU)(UINT_PTR)id, GetModuleHandleA(0), 0);
    if (!container)
        return QRF_ERR_WINDOW;
    window = container;
    BindContainer(this, container);
    if (gGraphics)
        alternateColour = CGraphics::BlendColours(0.5, gGraphics->slots[6], gGraphics->slots[2]);
    rowHeight = MeasureRowHeight(this);
    HFONT font = ListFont(this);
    header = CreateWindowExA(0, WC_HEADERA, "",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN |
                                 HDS_FULLDRAG | HDS_BUTTONS,
                             0, 0, 0, 0, container, 0, GetModuleHandleA(0), 0);
    if (!header)
        return QRF_ERR_WINDOW;
    SendMessageA(header, WM_SETFONT, (WPARAM)font, 0);
    if (BuildSortImages() == 0)
        SendMessageA(header, HDM_SETIMAGELIST, 0, (LPARAM)sortImages);
    DWORD boxStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VSCROLL |
                     LBS_NOINTEGRALHEIGHT | LBS_OWNERDRAWFIXED | LBS_SORT | LBS_NOTIFY;
    if (multiSelect)
        boxStyle |= LBS_EXTENDEDSEL;
    if (entry.flags & ITEMF_TABSTOP)
        boxStyle |= WS_TABSTOP;
    listBox = CreateWindowExA(0, "LISTBOX", "", boxStyle, 0, 0, 0, 0, container, 0,
                              GetModuleHandleA(0), 0);
    if (!listBox)
        return QRF_ERR_WINDOW;
    SendMessageA(listBox, WM_SETFONT, (WPARAM)font, 0);
    SetWindowLongPtrA(listBox, GWLP_USERDATA, (LONG_PTR)this);
    listBoxProc = (WNDPROC)SetWindowLongPtrA(listBox, GWLP_WNDPROC, (LONG_PTR)ListBoxSubclassProc);
    width = height = LIST_ITEM_START_SIZE;
    SetWindowPos(container, 0, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayoutColumns();
    return 0;
}

void CList::OnDestroy()
{
    if (listBox && rowsOwnData) {
        int rows = GetRowCount();
        for (int i = 0; i < rows; i++) {
            void *data = (void *)SendMessageA(listBox, LB_GETITEMDATA, i, 0);
            if (data != (void *)LB_ERR)
                free(data);
            // The list box's own deletion notices must not free it again.
            SendMessageA(listBox, LB_SETITEMDATA, i, 0);
        }
    }
    if (sortImages) {
        if (header)
            SendMessageA(header, HDM_SETIMAGELIST, 0, 0);
        ImageList_Destroy(sortImages);
        sortImages = 0;
    }
    if (header) {
        DestroyWindow(header);
        header = 0;
    }
    if (listBox) {
        HWND gone = listBox;
        listBox = 0;
        DestroyWindow(gone);
    }
    listBoxProc = 0;
    columns.RemoveAll();
    scrollPosition = 0;
    totalWidth = 0;
    sortColumn = -1;
    sortDirection = 0;
}

int CList::AddColumn(const char *title, double fraction)
{
    if (!header || !title || !(fraction >= 0))
        return -1;
    ListColumn column;
    memset(&column, 0, sizeof column);
    CopyText(column.title, title, sizeof column.title);
    column.width = fraction;
    int index = columns.Add(column);
    if (index < 0)
        return -1;
    RECT client;
    GetClientRect(window, &client);
    HDITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
    item.fmt = HDF_STRING | HDF_LEFT;
    item.pszText = columns.data[index].title;
    item.cxy = (int)(client.right * fraction);
    if (SendMessageA(header, HDM_INSERTITEMA, index, (LPARAM)&item) < 0) {
        columns.RemoveAt(index);
        return -1;
    }
    LayoutColumns();
    return index;
}

int CList::GetRowCount() const
{
    if (!listBox)
        return 0;
    LRESULT count = SendMessageA(listBox, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : (int)count;
}

int CList::GetVisibleRows() const
{
    if (!rowHeight || !listBox)
        return 0;
    RECT client;
    GetClientRect(listBox, &client);
    return client.bottom / rowHeight + 1;
}

void CList::Select(int row, bool select, bool notify)
{
    if (!listBox)
        return;
    if (multiSelect)
        SendMessageA(listBox, LB_SETSEL, select ? TRUE : FALSE, row);
    else if (select && row >= 0)
        SendMessageA(listBox, LB_SETCURSEL, row, 0);
    else if (!select && (row < 0 || SendMessageA(listBox, LB_GETCURSEL, 0, 0) == row))
        SendMessageA(listBox, LB_SETCURSEL, (WPARAM)-1, 0);
    if (notify)
        Notify(QRFN_LIST_SELCHANGE, 0);
}

static void SetHeaderImage(HWND header, int column, int image)
{
    HDITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = HDI_FORMAT;
    SendMessageA(header, HDM_GETITEMA, column, (LPARAM)&item);
    item.mask = HDI_FORMAT | HDI_IMAGE;
    item.fmt &= ~(HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
    item.fmt |= HDF_STRING;
    if (image >= 0) {
        item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
        item.iImage = image;
    }
    SendMessageA(header, HDM_SETITEMA, column, (LPARAM)&item);
}

int CList::SetSortColumn(int column, int direction)
{
    if (column < -1 || column >= columns.count)
        return QRF_ERR_INDEX;
    if (direction > 1 || direction < -1)
        direction = direction > 0 ? 1 : -1;
    if (header && sortColumn >= 0 && sortColumn < columns.count)
        SetHeaderImage(header, sortColumn, -1);
    sortColumn = column;
    sortDirection = direction;
    if (header && column >= 0) {
        int image = direction == 0 ? -1 : (direction > 0 ? 0 : 1) + (sortFrozen ? 2 : 0);
        SetHeaderImage(header, column, image);
    }
    return 0;
}

// A triangle with its tip at the top (up) or bottom, each row one pixel
// wider on both sides; mask 0 is drawn, 1 shows through.
static void DrawSortTriangle(HDC colourDC, HDC maskDC, int w, int h, bool up, COLORREF colour)
{
    RECT all = {0, 0, w, h};
    HBRUSH brush = CreateSolidBrush(colour);
    ::FillRect(colourDC, &all, brush);
    DeleteObject(brush);
    PatBlt(maskDC, 0, 0, w, h, WHITENESS);
    for (int r = 0; r < h; r++) {
        int y = up ? r : h - 1 - r;
        PatBlt(maskDC, h - 1 - r, y, 2 * r + 1, 1, BLACKNESS);
    }
}

int CList::BuildSortImages()
{
    if (sortImages) {
        ImageList_Destroy(sortImages);
        sortImages = 0;
    }
    int h = rowHeight / 3;
    if (h % 2 == 0)
        h--;
    if (h < 1)
        h = 1;
    int w = 2 * h;
    HIMAGELIST images = ImageList_Create(w, h, ILC_COLOR24 | ILC_MASK, 4, 0);
    if (!images)
        return QRF_ERR_IMAGELIST;
    HDC screen = GetDC(0);
    HDC colourDC = CreateCompatibleDC(screen), maskDC = CreateCompatibleDC(screen);
    const COLORREF colours[2] = {GetSysColor(COLOR_3DDKSHADOW), GetSysColor(COLOR_BTNSHADOW)};
    int added = 0;
    for (int i = 0; i < 4; i++) {
        HBITMAP colour = CreateCompatibleBitmap(screen, w, h);
        HBITMAP mask = CreateBitmap(w, h, 1, 1, 0);
        HGDIOBJ oldColour = SelectObject(colourDC, colour), oldMask = SelectObject(maskDC, mask);
        DrawSortTriangle(colourDC, maskDC, w, h, i % 2 == 0, colours[i / 2]);
        SelectObject(colourDC, oldColour);
        SelectObject(maskDC, oldMask);
        if (ImageList_Add(images, colour, mask) >= 0)
            added++;
        DeleteObject(colour);
        DeleteObject(mask);
    }
    DeleteDC(colourDC);
    DeleteDC(maskDC);
    ReleaseDC(0, screen);
    if (added != 4) {
        ImageList_Destroy(images);
        return QRF_ERR_IMAGELIST;
    }
    sortImages = images;
    return 0;
}

void CList::LayoutColumns()
{
    if (!window)
        return;
    RECT client;
    GetClientRect(window, &client);
    int W = client.right;
    int right = 0;
    for (int i = 0; i < columns.count; i++) {
        columns.data[i].left = i == 0 ? 0
                                      : columns.data[i - 1].left +
                                            (int)(W * columns.data[i - 1].width);
        right = columns.data[i].left + (int)(W * columns.data[i].width);
    }
    totalWidth = (columns.count == 0 || right == 0) ? W : right;
    SCROLLINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE;
    info.nMin = 0;
    info.nMax = totalWidth > 0 ? totalWidth - 1 : 0;
    info.nPage = W > 0 ? (UINT)W : 0;
    SetScrollInfo(window, SB_HORZ, &info, TRUE);
    Scroll(-1);
}

void CList::Scroll(int code, int position)
{
    if (!window)
        return;
    RECT client;
    GetClientRect(window, &client);
    int W = client.right, H = client.bottom;
    int line = textHeight > 0 ? textHeight : rowHeight;
    int at = scrollPosition;
    switch (code) {
    case SB_LINELEFT: at -= line; break;
    case SB_LINERIGHT: at += line; break;
    case SB_PAGELEFT: at -= W; break;
    case SB_PAGERIGHT: at += W; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: at = position; break;
    case SB_LEFT: at = 0; break;
    case SB_RIGHT: at = totalWidth; break;
    }
    // The columns' overhang is all there is to scroll.
    int limit = totalWidth - W > 0 ? totalWidth - W : 0;
    if (at > limit)
        at = limit;
    if (at < 0)
        at = 0;
    scrollPosition = at;
    SetScrollPos(window, SB_HORZ, at, TRUE);
    int headerHeight = columns.count ? (int)(rowHeight * 1.2) : 0;
    if (header)
        MoveWindow(header, -at, 0, at + W, headerHeight, TRUE);
    if (listBox)
        MoveWindow(listBox, -at, headerHeight, at + W, H - headerHeight > 0 ? H - headerHeight : 0,
                   TRUE);
    if (header)
        InvalidateRect(header, 0, TRUE);
}

// ---- Container ----

static CList *ListOf(HWND window)
{
    CUIItem *item = ItemFromWindow(window);
    return item && item->typeCode == CMD_LIST ? (CList *)item : 0;
}

static bool BarSizesLocked(HWND window)
{
    CFrameWindow *frame = FindParentFrame(window);
    return frame && (frame->options & FRAME_LOCKBARSIZE);
}

static void OnContainerSize(CList *list, int w, int h)
{
    if (gColumnDragging)
        return;
    list->LayoutColumns();
    list->containerWidth = w;
    list->containerHeight = h;
    for (int i = 0; i < list->columns.count && list->header; i++) {
        HDITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = HDI_WIDTH;
        item.cxy = (int)(w * list->columns.data[i].width);
        SendMessageA(list->header, HDM_SETITEMA, i, (LPARAM)&item);
    }
    list->LayoutColumns();
}

static void TakeColumnWidth(CList *list, const NMHEADERA *nm)
{
    RECT client;
    GetClientRect(list->window, &client);
    if (nm->iItem < 0 || nm->iItem >= list->columns.count || client.right <= 0)
        return;
    int width = 0;
    if (nm->pitem && (nm->pitem->mask & HDI_WIDTH)) {
        width = nm->pitem->cxy;
    } else {
        HDITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = HDI_WIDTH;
        SendMessageA(list->header, HDM_GETITEMA, nm->iItem, (LPARAM)&item);
        width = item.cxy;
    }
    list->columns.data[nm->iItem].width = (double)width / client.right;
    list->LayoutColumns();
    InvalidateRect(list->listBox, 0, FALSE);
}

static void OnHeaderClick(CList *list, int column)
{
    if (list->sortColumn < 0 || list->sortFrozen || column < 0 || column >= list->columns.count)
        return;
    int direction = list->sortDirection ? list->sortDirection : 1;
    if (column == list->sortColumn)
        direction = list->sortDirection == 1 ? -1 : 1;
    list->SetSortColumn(column, direction);
    list->Notify(QRFN_LIST_SORTED, column);
}

static void OnHeaderRightClick(CList *list)
{
    if (list->sortColumn < 0)
        return;
    POINT cursor;
    RECT cell;
    if (!GetCursorPos(&cursor) ||
        !SendMessageA(list->header, HDM_GETITEMRECT, list->sortColumn, (LPARAM)&cell))
        return;
    ScreenToClient(list->header, &cursor);
    if (!PtInRect(&cell, cursor))
        return;
    list->sortFrozen = list->sortFrozen ? 0 : 1;
    list->SetSortColumn(list->sortColumn, list->sortDirection);
}

static bool OnHeaderNotify(CList *list, const NMHDR *hdr, LRESULT *result)
{
    const NMHEADERA *nm = (const NMHEADERA *)hdr;
    *result = 0;
    switch (hdr->code) {
    case HDN_BEGINTRACKA:
    case HDN_BEGINTRACKW:
        if (list->columnsLocked || BarSizesLocked(list->window)) {
            *result = TRUE;   // refused
            return true;
        }
        gColumnDragging = true;
        return true;
    case HDN_ITEMCHANGINGA:
    case HDN_ITEMCHANGINGW:
    case HDN_ITEMCHANGEDA:
    case HDN_ITEMCHANGEDW:
        if (gColumnDragging) {
            TakeColumnWidth(list, nm);
            if (hdr->code == HDN_ITEMCHANGEDA || hdr->code == HDN_ITEMCHANGEDW)
                list->Notify(QRFN_LIST_COLUMNSIZED, nm->iItem);
        }
        return true;
    case HDN_ENDTRACKA:
    case HDN_ENDTRACKW:
        gColumnDragging = false;
        return true;
    case HDN_ITEMCLICKA:
    case HDN_ITEMCLICKW:
        OnHeaderClick(list, nm->iItem);
        return true;
    case NM_RCLICK:
        OnHeaderRightClick(list);
        *result = TRUE;
        return true;
    }
    return false;
}

static COLORREF Slot(int slot)
{
    return gGraphics ? gGraphics->slots[slot] : GetSysColor(COLOR_WINDOW);
}

static LRESULT OnDrawRow(CList *list, WPARAM wParam, DRAWITEMSTRUCT *draw)
{
    if (!list->ownerDraw || list->GetRowCount() == 0 || (int)draw->itemID < 0)
        return TRUE;
    COLORREF text, back;
    if (draw->itemState & ODS_SELECTED) {
        text = Slot(list->listFocused ? 48 : 49);
        back = Slot(list->listFocused ? 46 : 58);
    } else {
        text = Slot(49);
        back = (draw->itemID & 1) ? Slot(6) : list->alternateColour;
    }
    HBRUSH brush = CreateSolidBrush(back);
    ::FillRect(draw->hDC, &draw->rcItem, brush);
    DeleteObject(brush);
    HGDIOBJ oldFont = SelectObject(draw->hDC, ListFont(list));
    SetTextColor(draw->hDC, text);
    SetBkColor(draw->hDC, back);
    SetBkMode(draw->hDC, TRANSPARENT);
    list->drawingRow = (int)draw->itemID;
    if (list->owner)
        SendMessageA(list->owner, WM_DRAWITEM, wParam, (LPARAM)draw);
    list->drawingRow = -1;
    if (draw->itemState & ODS_FOCUS)
        DrawFocusRect(draw->hDC, &draw->rcItem);
    SelectObject(draw->hDC, oldFont);
    return TRUE;
}

static void PaintContainerFrame(CList *list, HWND window)
{
    if (!(list->flags & ITEMF_ARROWZONE))
        return;
    HDC dc = GetWindowDC(window);
    if (!dc)
        return;
    RECT r;
    GetWindowRect(window, &r);
    OffsetRect(&r, -r.left, -r.top);
    bool focused = IsWindowEnabled(window) && list->listFocused;
    HBRUSH brush = CreateSolidBrush(Slot(focused ? 46 : 50));
    FrameRect(dc, &r, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
}

LRESULT CALLBACK ListContainerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CList *list = ListOf(window);
    if (!list)
        return UIItemWindowProc(window, message, wParam, lParam);
    LRESULT result;
    switch (message) {
    case WM_SIZE:
        OnContainerSize(list, LOWORD(lParam), HIWORD(lParam));
        break;
    case WM_NOTIFY:
        if (((NMHDR *)lParam)->hwndFrom == list->header &&
            OnHeaderNotify(list, (NMHDR *)lParam, &result))
            return result;
        break;
    case WM_COMPAREITEM:
        if (list->sortColumn < 0 || !list->owner)
            return -1;
        return SendMessageA(list->owner, WM_COMPAREITEM, wParam, lParam);
    case WM_MEASUREITEM:
        ((MEASUREITEMSTRUCT *)lParam)->itemHeight = list->rowHeight;
        return TRUE;
    case WM_DRAWITEM:
        if (((DRAWITEMSTRUCT *)lParam)->hwndItem == list->listBox)
            return OnDrawRow(list, wParam, (DRAWITEMSTRUCT *)lParam);
        break;
    case WM_DELETEITEM:
        // Rows removed one by one free their data too.
        if (list->rowsOwnData && ((DELETEITEMSTRUCT *)lParam)->itemData)
            free((void *)((DELETEITEMSTRUCT *)lParam)->itemData);
        return TRUE;
    case WM_NCPAINT:
        result = DefWindowProcA(window, message, wParam, lParam);
        PaintContainerFrame(list, window);
        return result;
    case WM_SETFOCUS:
        if (list->listBox)
            SetFocus(list->listBox);
        return 0;
    case WM_ENABLE:
        if (list->header)
            EnableWindow(list->header, (BOOL)wParam);
        if (list->listBox)
            EnableWindow(list->listBox, (BOOL)wParam);
        RedrawWindow(window, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
        return 0;
    case WM_COMMAND:
        if ((HWND)lParam == list->listBox && HIWORD(wParam) == LBN_SELCHANGE) {
            list->Notify(QRFN_LIST_SELCHANGE, 0);
            return 0;
        }
        break;
    case WM_HSCROLL:
        list->Scroll(LOWORD(wParam), HIWORD(wParam));
        return 0;
    }
    return UIItemWindowProc(window, message, wParam, lParam);
}

// ---- List box ----

static int RowAt(HWND listBox, LPARAM lParam)
{
    LRESULT hit = SendMessageA(listBox, LB_ITEMFROMPOINT, 0, lParam);
    if (hit == LB_ERR || HIWORD(hit))
        return -1;
    return (int)LOWORD(hit);
}

static int FirstSelectedRow(const CList *list)
{
    if (!list->multiSelect) {
        LRESULT row = SendMessageA(list->listBox, LB_GETCURSEL, 0, 0);
        return row == LB_ERR ? -1 : (int)row;
    }
    int row = -1;
    LRESULT got = SendMessageA(list->listBox, LB_GETSELITEMS, 1, (LPARAM)&row);
    return got == 1 ? row : -1;
}

static void InvalidateSelectedRows(CList *list)
{
    int top = (int)SendMessageA(list->listBox, LB_GETTOPINDEX, 0, 0);
    int end = top + list->GetVisibleRows(), rows = list->GetRowCount();
    for (int row = top < 0 ? 0 : top; row < end && row < rows; row++) {
        if (SendMessageA(list->listBox, LB_GETSEL, row, 0) > 0) {
            RECT r;
            if (SendMessageA(list->listBox, LB_GETITEMRECT, row, (LPARAM)&r) != LB_ERR)
                InvalidateRect(list->listBox, &r, FALSE);
        }
    }
}

static void OnRightButtonDown(CList *list, HWND box, LPARAM lParam)
{
    int row = RowAt(box, lParam);
    if (row >= 0 && SendMessageA(box, LB_GETSEL, row, 0) <= 0) {
        if (list->multiSelect)
            list->Select(-1, false, false);
        list->Select(row, true, true);
    } else if (row < 0) {
        list->Select(-1, false, true);
    } else {
        list->Notify(QRFN_LIST_SELCHANGE, 0);
    }
    SetFocus(box);
}

static bool CtrlHeld() { return GetKeyState(VK_CONTROL) < 0; }

LRESULT CALLBACK ListBoxSubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CList *list = (CList *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!list || !list->listBoxProc)
        return DefWindowProcA(window, message, wParam, lParam);
    WNDPROC own = list->listBoxProc;
    LRESULT result;
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        list->listFocused = message == WM_SETFOCUS ? 1 : 0;
        if (list->window)
            RedrawWindow(list->window, 0, 0, RDW_FRAME | RDW_INVALIDATE);
        InvalidateSelectedRows(list);
        break;
    case WM_PAINT:
        if (list->ownerDraw && list->GetRowCount() == 0) {
            ValidateRect(window, 0);
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        if (list->ownerDraw) {
            RECT client;
            GetClientRect(window, &client);
            HWND above = list->window ? GetParent(list->window) : 0;
            bool enabled = !above || IsWindowEnabled(above);
            ::FillRect((HDC)wParam, &client, GetSysColorBrush(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
            return 1;
        }
        break;
    case WM_KEYDOWN:
        if (list->Notify(QRFN_LIST_KEYDOWN, (LPARAM)wParam) == 1)
            return 0;
        if (wParam == 'A' && CtrlHeld() && list->multiSelect) {
            list->Select(-1, true, true);
            return 0;
        }
        break;
    case WM_LBUTTONDOWN: {
        int row = RowAt(window, lParam);
        list->editArmed = row >= 0 && row == FirstSelectedRow(list);
        list->editPosition = lParam;
        result = CallWindowProcA(own, window, message, wParam, lParam);
        list->Notify(QRFN_LIST_LBUTTONDOWN, lParam);
        return result;
    }
    case WM_LBUTTONUP:
        result = CallWindowProcA(own, window, message, wParam, lParam);
        if (list->editArmed)
            SetTimer(window, LIST_EDIT_TIMER, DoubleClickTime(), 0);
        return result;
    case WM_TIMER:
        if (wParam != LIST_EDIT_TIMER)
            break;
        KillTimer(window, LIST_EDIT_TIMER);
        if (list->editArmed) {
            list->editArmed = 0;
            list->Notify(QRFN_LIST_EDIT, list->editPosition);
        }
        return 0;
    case WM_LBUTTONDBLCLK:
        list->editArmed = 0;
        KillTimer(window, LIST_EDIT_TIMER);
        result = CallWindowProcA(own, window, message, wParam, lParam);
        list->Notify(QRFN_LIST_DBLCLK, lParam);
        return result;
    case WM_RBUTTONDOWN:
        OnRightButtonDown(list, window, lParam);
        return 0;
    case WM_RBUTTONUP:
        result = CallWindowProcA(own, window, message, wParam, lParam);
        list->Notify(QRFN_LIST_RBUTTONUP, lParam);
        return result;
    }
    return CallWindowProcA(own, window, message, wParam, lParam);
}
