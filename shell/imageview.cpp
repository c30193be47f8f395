// The small controls the option dialogs share: the picture view fitted into
// a placeholder, the in-place edit of list entries, the colour swatch, the
// angle edits with their unit combo and the lister of data-folder files.
// They live together because every sub-dialog uses several of them.
#include "shell/imageview.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/filefind.h"
#include "framework/ui/framewindow.h"

static const double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Image view

CImageView::CImageView()
    : window(0), parent(0), placeholderId(0), controlId(0), redBrush(0), darkRedBrush(0),
      greenBrush(0), greyBrush(0), redPen(0), greenPen(0), bluePen(0), blackPen(0),
      objectsReady(0), displayWidth(0), displayHeight(0)
{
    overlayText[0] = 0;
    CreateObjects();
}

CImageView::~CImageView()
{
    Destroy();
}

void CImageView::CreateObjects()
{
    if (objectsReady)
        return;
    redBrush = CreateSolidBrush(RGB(255, 0, 0));
    darkRedBrush = CreateSolidBrush(RGB(176, 0, 0));
    greenBrush = CreateSolidBrush(RGB(0, 255, 0));
    greyBrush = CreateSolidBrush(RGB(80, 80, 80));
    redPen = CreatePen(PS_SOLID, 2, RGB(255, 0, 0));
    greenPen = CreatePen(PS_SOLID, 2, RGB(0, 255, 0));
    bluePen = CreatePen(PS_SOLID, 2, RGB(0, 0, 255));
    blackPen = CreatePen(PS_SOLID, 2, RGB(0, 0, 0));
    InitializeCriticalSection(&lock);
    objectsReady = 1;
}

static bool RegisterImageViewClass(HINSTANCE instance)
{
    WNDCLASSA wc = {};
    if (GetClassInfoA(instance, IMAGEVIEW_CLASS, &wc))
        return true;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(0, IDC_ARROW);
    wc.lpszClassName = IMAGEVIEW_CLASS;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

int CImageView::Create(HWND parentWindow, int placeholder, int id)
{
    // A record kept across dialog openings was destroyed with the last one.
    CreateObjects();
    if (window && IsWindow(window))
        return 0;
    parent = parentWindow;
    placeholderId = placeholder;
    controlId = id;
    HINSTANCE instance = GetModuleHandleA(0);
    if (!RegisterImageViewClass(instance))
        return 1;
    window = CreateWindowExA(0, IMAGEVIEW_CLASS, "", WS_CHILD, 0, 0, 0, 0, parent,
                             (HMENU)(INT_PTR)id, instance, 0);
    if (!window)
        return 1;
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)this);
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)WindowProc);
    Layout();
    return 0;
}

void CImageView::Layout()
{
    if (!window || !GetDlgItem(parent, placeholderId))
        return;
    EnterCriticalSection(&lock);
    double aspect = image.IsValid() ? (double)image.GetWidth() / image.GetHeight() : 0;
    LeaveCriticalSection(&lock);
    FitToPlaceholder(aspect);
}

void CImageView::FitToPlaceholder(double aspect)
{
    HWND placeholder = GetDlgItem(parent, placeholderId);
    if (!window || !placeholder)
        return;
    RECT box;
    GetWindowRect(placeholder, &box);
    MapWindowPoints(HWND_DESKTOP, parent, (POINT *)&box, 2);
    box.left += 3;
    box.top += 3;
    box.right -= 5;
    box.bottom -= 5;
    int boxWidth = box.right - box.left, boxHeight = box.bottom - box.top;
    if (aspect <= 0)
        aspect = boxHeight > 0 ? (double)boxWidth / boxHeight : 1.0;
    if (aspect <= 0)   // a placeholder narrower than the insets
        aspect = 1.0;

    int width = boxWidth + 1;
    int height = (int)(width / aspect);
    if (height > boxHeight + 1) {
        height = boxHeight + 1;
        width = (int)(height * aspect);
    }
    int x = box.left + (boxWidth + 1 - width) / 2, y = box.top + (boxHeight + 1 - height) / 2;
    SetWindowPos(window, 0, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    displayWidth = width;
    displayHeight = height;
}

int CImageView::LoadImage(const char *path)
{
    if (!objectsReady)   // destroyed: no lock to take
        return 1;
    EnterCriticalSection(&lock);
    image.Destroy();
    bool loaded = !path || !path[0] || image.Load(path, FORMAT_BMP);
    int width = image.GetWidth(), height = image.GetHeight();
    if (!image.IsValid())
        width = height = 0;
    LeaveCriticalSection(&lock);
    // The old picture is gone either way, so the view must repaint.
    if (window)
        InvalidateRect(window, 0, FALSE);
    if (!loaded)
        return 1;
    if (window)
        PostMessageA(window, IMAGEVIEW_SIZE_MESSAGE, (WPARAM)((height << 16) | (width & 0xFFFF)), 0);
    return 0;
}

bool CImageView::Paint(HDC dc)
{
    bool failed = true;
    if (objectsReady) {
        EnterCriticalSection(&lock);
        failed = !image.Draw(dc, 0, 0, displayWidth, displayHeight, 0, false, false);
        LeaveCriticalSection(&lock);
    }
    if (failed) {
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, (HBRUSH)(COLOR_BTNFACE + 1));
    }
    PaintOverlay(dc);
    return failed;
}

void CImageView::PaintOverlay(HDC dc)
{
    if (!overlayText[0])
        return;
    RECT client;
    GetClientRect(window, &client);
    HFONT font = (HFONT)SendMessageA(parent, WM_GETFONT, 0, 0);
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : 0;
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    DrawTextA(dc, overlayText, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (oldFont)
        SelectObject(dc, oldFont);
}

void CImageView::Destroy()
{
    if (window && IsWindow(window))
        DestroyWindow(window);
    window = 0;
    if (!objectsReady)
        return;
    HGDIOBJ objects[] = {redBrush, darkRedBrush, greenBrush, greyBrush,
                         redPen, greenPen, bluePen, blackPen};
    for (HGDIOBJ object : objects)
        if (object)
            DeleteObject(object);
    redBrush = darkRedBrush = greenBrush = greyBrush = 0;
    redPen = greenPen = bluePen = blackPen = 0;
    image.Destroy();
    DeleteCriticalSection(&lock);
    objectsReady = 0;
}

CImageView *CImageView::FromWindow(HWND window)
{
    return (CImageView *)GetWindowLongPtrA(window, GWLP_USERDATA);
}

LRESULT CALLBACK CImageView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CImageView *view = FromWindow(window);
    if (message == WM_PAINT && view) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        view->Paint(dc);
        EndPaint(window, &ps);
        return 0;
    }
    // Destroyed with its dialog: forget the handle so Destroy does not reuse it.
    if (message == WM_NCDESTROY && view && view->window == window)
        view->window = 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// In-place edit

void StartInPlaceEdit(InPlaceEdit *record, HWND edit, HWND notify, int commandId)
{
    record->edit = edit;
    record->notify = notify;
    record->commandId = commandId;
    record->text[0] = 0;
    SetWindowLongPtrA(edit, GWLP_USERDATA, (LONG_PTR)record);
    record->previous = (WNDPROC)SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)InPlaceEditProc);
}

// Detaches first: destroying the focused edit sends WM_KILLFOCUS, which must
// not commit a second time (nor commit an edit thrown away with Escape).
static void FinishInPlaceEdit(HWND window, InPlaceEdit *record, bool commit)
{
    SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)record->previous);
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    record->edit = 0;
    if (commit) {
        GetWindowTextA(window, record->text, sizeof record->text);
        SendMessageA(record->notify, WM_COMMAND, MAKEWPARAM(record->commandId, 0),
                     (LPARAM)window);
    }
    if (IsWindow(window))
        DestroyWindow(window);
}

LRESULT CALLBACK InPlaceEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    InPlaceEdit *record = (InPlaceEdit *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!record)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_GETDLGCODE:
        return CallWindowProcA(record->previous, window, message, wParam, lParam) |
               DLGC_WANTALLKEYS;
    case WM_CHAR:
        if (wParam == 13 || wParam == 27) {
            FinishInPlaceEdit(window, record, wParam == 13);
            return 0;
        }
        break;
    case WM_KILLFOCUS:
        FinishInPlaceEdit(window, record, true);
        return 0;
    case WM_NCDESTROY: {
        // Destroyed from outside (its parent closed): just let go.
        WNDPROC previous = record->previous;
        SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)previous);
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        record->edit = 0;
        return CallWindowProcA(previous, window, message, wParam, lParam);
    }
    }
    return CallWindowProcA(record->previous, window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Colour swatch

static WNDPROC sStaticProc;   // the static class procedure the swatches replace

void InstallColourSwatch(HWND dialog, int id, COLORREF *colour)
{
    HWND swatch = GetDlgItem(dialog, id);
    if (!swatch)
        return;
    SetWindowLongPtrA(swatch, GWLP_USERDATA, (LONG_PTR)colour);
    WNDPROC old = (WNDPROC)SetWindowLongPtrA(swatch, GWLP_WNDPROC, (LONG_PTR)ColourSwatchProc);
    if (old != ColourSwatchProc)
        sStaticProc = old;
    InvalidateRect(swatch, 0, TRUE);
}

static void PaintSwatch(HWND window)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    COLORREF *colour = (COLORREF *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (colour && IsWindowEnabled(window)) {
        HBRUSH brush = CreateSolidBrush(*colour);
        FillRect(dc, &client, brush);
        DeleteObject(brush);
    } else {
        FillRect(dc, &client, (HBRUSH)(COLOR_BTNFACE + 1));
    }
    EndPaint(window, &ps);
}

static void ChooseSwatchColour(HWND window)
{
    COLORREF *colour = (COLORREF *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!colour)
        return;
    HWND parent = GetParent(window);
    CHOOSECOLORA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = parent;
    choose.rgbResult = *colour;
    choose.lpCustColors = gCustomColours;
    choose.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
    if (!ChooseColorA(&choose))
        return;
    *colour = choose.rgbResult;
    InvalidateRect(window, 0, TRUE);
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), 0), (LPARAM)window);
}

LRESULT CALLBACK ColourSwatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        PaintSwatch(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;   // the paint covers the whole client area
    case WM_NCHITTEST:
        return HTCLIENT;   // a plain static would let the clicks through to the dialog
    case WM_LBUTTONDBLCLK:
        ChooseSwatchColour(window);
        return 0;
    case WM_ENABLE:
        InvalidateRect(window, 0, TRUE);
        break;
    }
    if (sStaticProc)
        return CallWindowProcA(sStaticProc, window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// Angle edits

uint8_t gSuppressEditNotify;

void SetAngleEdit(HWND dialog, int editId, double angle, int comboId)
{
    gSuppressEditNotify = 1;
    HWND edit = GetDlgItem(dialog, editId);
    DWORD start = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    char text[32];
    snprintf(text, sizeof text, "%.0f\xB0", fabs(angle) * 180.0 / kPi);
    SetWindowTextA(edit, text);
    SendMessageA(edit, EM_SETSEL, start, end);
    SendDlgItemMessageA(dialog, comboId, CB_SETCURSEL, angle < 0 ? 1 : 0, 0);
    gSuppressEditNotify = 0;
}

double GetAngleEdit(int comboId, double maximum, HWND dialog, int editId, double minimum)
{
    char text[32];
    if (!GetDlgItemTextA(dialog, editId, text, sizeof text))
        text[0] = 0;
    char *comma = strchr(text, ',');
    if (comma)
        *comma = '.';
    double angle = strtod(text, 0) * kPi / 180.0;
    if (SendDlgItemMessageA(dialog, comboId, CB_GETCURSEL, 0, 0) == 1)
        angle = -angle;
    if (angle < minimum)
        angle = minimum;
    if (angle > maximum)
        angle = maximum;
    return angle;
}

// ---------------------------------------------------------------------------
// Data-folder files

int ListDataFiles(HWND listBox, const char *extension)
{
    // Without a data folder the pattern would search the drive's root.
    if (!gApp.dataFolder[0] || !extension)
        return 0;
    CFileFind find("%s\\*.%s", gApp.dataFolder, extension);
    int count = 0;
    while (find.FindNext()) {
        if (find.IsFolder())
            continue;
        count++;
        if (!listBox)
            continue;
        char name[260];
        snprintf(name, sizeof name, "%s", find.GetFileName());
        char *dot = strrchr(name, '.');
        if (dot)
            *dot = 0;
        SendMessageA(listBox, LB_ADDSTRING, 0, (LPARAM)name);
    }
    return count;
}
