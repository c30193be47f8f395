// Edge sizing of borderless frames and Tab focus: the frames' share of the
// message pre-translation, which the message loop runs before it dispatches.
#include "framework/ui/frameedges.h"

#include "framework/application.h"
#include "framework/commands.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"

// Borderless frames have no sizing border of their own: the loop sizes them
// from a thin margin inside their client area. The frame is kept by window
// handle, so that one destroyed meanwhile is simply not found.
static struct {
    HWND frame;        // on a sizing edge, or being sized
    int edge;          // EDGE_*
    bool sizing;
    int grab[4];       // cursor to the left, top, right and bottom edges
} sEdge;

int FrameEdgeAt(int x, int y, int width, int height)
{
    const int m = FRAME_EDGE_MARGIN;
    if (x < m)
        return y < m ? EDGE_TOP_LEFT : y >= height - m ? EDGE_BOTTOM_LEFT : EDGE_LEFT;
    if (x >= width - m)
        return y < m ? EDGE_TOP_RIGHT : y >= height - m ? EDGE_BOTTOM_RIGHT : EDGE_RIGHT;
    if (y < m)
        return EDGE_TOP;
    if (y >= height - m)
        return EDGE_BOTTOM;
    return EDGE_NONE;
}

RECT SizeByEdge(const RECT &current, int edge, POINT cursor, const int grab[4])
{
    RECT r = current;
    if (edge == EDGE_TOP_LEFT || edge == EDGE_LEFT || edge == EDGE_BOTTOM_LEFT)
        r.left = cursor.x - grab[0];
    if (edge == EDGE_TOP_LEFT || edge == EDGE_TOP || edge == EDGE_TOP_RIGHT)
        r.top = cursor.y - grab[1];
    if (edge == EDGE_TOP_RIGHT || edge == EDGE_RIGHT || edge == EDGE_BOTTOM_RIGHT)
        r.right = cursor.x + grab[2];
    if (edge == EDGE_BOTTOM_LEFT || edge == EDGE_BOTTOM || edge == EDGE_BOTTOM_RIGHT)
        r.bottom = cursor.y + grab[3];
    return r;
}

// The mouse message's position on the screen: client coordinates of its
// window, or already the screen's for the non-client messages.
static POINT MessageScreenPoint(const MSG *msg)
{
    POINT p = {(short)LOWORD(msg->lParam), (short)HIWORD(msg->lParam)};
    if (msg->message == WM_MOUSEMOVE || msg->message == WM_LBUTTONDOWN ||
        msg->message == WM_LBUTTONUP)
        ClientToScreen(msg->hwnd, &p);
    return p;
}

static void SizeFrame(const MSG *msg)
{
    CFrameWindow *frame = FindFrameByHwnd(sEdge.frame);
    if (!frame)
        return;
    gApp.SetSizeCursor(sEdge.edge);
    RECT now;
    GetWindowRect(frame->window, &now);
    RECT r = SizeByEdge(now, sEdge.edge, MessageScreenPoint(msg), sEdge.grab);
    // The opposite edge stays where it is when the frame would get too small.
    if (r.right - r.left < frame->minWidth) {
        if (r.left != now.left)
            r.left = r.right - frame->minWidth;
        else
            r.right = r.left + frame->minWidth;
    }
    if (r.bottom - r.top < frame->minHeight) {
        if (r.top != now.top)
            r.top = r.bottom - frame->minHeight;
        else
            r.bottom = r.top + frame->minHeight;
    }
    frame->MoveToRect(r, false);
}

// Rule for a mouse move that is not sizing: is the cursor on an edge of a
// borderless, sizable frame?
static bool FindSizingEdge(const MSG *msg)
{
    CFrameWindow *frame = FindOwningFrame(msg->hwnd);
    if (!frame || (frame->options & (FRAME_BORDERLESS | FRAME_LOCKSIZE)) != FRAME_BORDERLESS) {
        sEdge.frame = 0;
        return false;
    }
    POINT p = MessageScreenPoint(msg);
    ScreenToClient(frame->window, &p);
    RECT client;
    GetClientRect(frame->window, &client);
    int width = client.right, height = client.bottom;
    int edge = FrameEdgeAt(p.x, p.y, width, height);
    if (edge == EDGE_NONE) {
        sEdge.frame = 0;
        return false;
    }
    sEdge.frame = frame->window;
    sEdge.edge = edge;
    sEdge.grab[0] = p.x;
    sEdge.grab[1] = p.y;
    sEdge.grab[2] = width - p.x;
    sEdge.grab[3] = height - p.y;
    gApp.SetSizeCursor(edge);
    return true;
}

// True when the message was taken for sizing.
static bool EdgeSizing(const MSG *msg)
{
    switch (msg->message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
        // A capture taken away (another window, a menu) ends the sizing.
        if (sEdge.sizing && GetCapture() != sEdge.frame)
            sEdge.sizing = false;
        if (sEdge.sizing) {
            SizeFrame(msg);
            return true;
        }
        return FindSizingEdge(msg);
    case WM_LBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
        if (!sEdge.frame || !IsWindow(sEdge.frame))
            return false;
        SetCapture(sEdge.frame);
        sEdge.sizing = true;
        gApp.SetSizeCursor(sEdge.edge);
        return true;
    case WM_LBUTTONUP:
    case WM_NCLBUTTONUP:
        if (!sEdge.sizing)
            return false;
        sEdge.sizing = false;
        ReleaseCapture();
        return true;
    }
    return false;
}

bool FrameEdgeSizing() { return sEdge.sizing; }

bool KeepEdgeCursor(HWND frameWindow)
{
    if (!frameWindow || sEdge.frame != frameWindow)
        return false;
    int edge = sEdge.edge;
    if (!sEdge.sizing) {
        POINT p;
        RECT client;
        if (!GetCursorPos(&p) || !ScreenToClient(frameWindow, &p) ||
            !GetClientRect(frameWindow, &client))
            return false;
        edge = FrameEdgeAt(p.x, p.y, client.right, client.bottom);
        if (edge == EDGE_NONE)
            return false;
    }
    gApp.SetSizeCursor(edge);
    return true;
}

// Whatever was installed before (the menus' keys) keeps going first.
static bool (*gEarlierPreTranslate)(MSG *msg);

static bool HookPreTranslate(MSG *msg)
{
    if (gEarlierPreTranslate && gEarlierPreTranslate(msg))
        return true;
    // Edge sizing waits while a framework menu is open.
    if (!gApp.menuOpen && EdgeSizing(msg))
        return true;
    if (msg->message != WM_KEYDOWN || msg->wParam != VK_TAB)
        return false;
    CFrameWindow *frame = FindOwningFrame(msg->hwnd);
    return frame && frame->CycleFocus(GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
}

void InstallFrameHooks()
{
    ChainPreTranslate(HookPreTranslate, &gEarlierPreTranslate);
}
