// The wizard's web link: a static item subclassed to paint its text as a
// link and to open its target with the shell on a click or the space key.
#include "setup/wizardpages.h"

#include <shellapi.h>

#include "framework/application.h"
#include "setup/engine.h"
#include "setup/script.h"

struct WebLink {
    WNDPROC oldProc;
    char target[SCRIPT_VALUE_SIZE];
    bool bold, centred;
};

static const char kLinkProperty[] = "VtWebLink";

static void OpenLink(HWND window)
{
    WebLink *link = (WebLink *)GetPropA(window, kLinkProperty);
    if (link && link->target[0])
        ShellExecuteA(GetParent(window), "open", link->target, 0, 0, SW_SHOWNORMAL);
}

static void PaintLink(HWND window, WebLink *link)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
    char text[SCRIPT_VALUE_SIZE];
    GetWindowTextA(window, text, sizeof text);
    HGDIOBJ old = SelectObject(dc, link->bold ? gSetup.boldFont : gSetup.linkFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 255));
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS |
                  (link->centred ? DT_CENTER : DT_LEFT);
    DrawTextA(dc, text, -1, &area, format);
    if (GetFocus() == window)
        DrawFocusRect(dc, &area);
    SelectObject(dc, old);
    EndPaint(window, &paint);
}

static LRESULT CALLBACK WebLinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WebLink *link = (WebLink *)GetPropA(window, kLinkProperty);
    if (!link)
        return DefWindowProcA(window, message, wParam, lParam);
    WNDPROC oldProc = link->oldProc;
    switch (message) {
    case WM_PAINT:
        PaintLink(window, link);
        return 0;
    case WM_SETCURSOR:
        SetCursor(LoadCursor(0, IDC_HAND));
        return TRUE;
    case WM_LBUTTONUP:
        OpenLink(window);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            OpenLink(window);
            return 0;
        }
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(window, 0, TRUE);
        break;
    case WM_NCDESTROY:
        RemovePropA(window, kLinkProperty);
        SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)oldProc);
        delete link;
        return CallWindowProcA(oldProc, window, message, wParam, lParam);
    }
    return CallWindowProcA(oldProc, window, message, wParam, lParam);
}

void MakeWebLink(HWND item, const char *target, bool bold, bool centred)
{
    if (!item)
        return;
    WebLink *link = (WebLink *)GetPropA(item, kLinkProperty);
    if (!link) {
        link = new WebLink();
        SetPropA(item, kLinkProperty, link);
        link->oldProc = (WNDPROC)SetWindowLongPtrA(item, GWLP_WNDPROC, (LONG_PTR)WebLinkProc);
        SetWindowLongA(item, GWL_STYLE, GetWindowLongA(item, GWL_STYLE) | SS_NOTIFY | WS_TABSTOP);
    }
    CopyText(link->target, target, (int)sizeof link->target);
    link->bold = bold;
    link->centred = centred;
    InvalidateRect(item, 0, TRUE);
}
