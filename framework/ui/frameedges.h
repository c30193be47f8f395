// The frames' share of the message pre-translation: borderless frames sized
// from a thin margin inside their client area, and Tab moving the focus
// among a frame's items.
#pragma once

#include <windows.h>

// Edge types: 1 top-left, 2 left, 3 bottom-left, 4 bottom, 5 bottom-right,
// 6 right, 7 top-right, 8 top (CApplication::SetSizeCursor takes the same).
enum {
    EDGE_NONE = 0,
    EDGE_TOP_LEFT = 1,
    EDGE_LEFT = 2,
    EDGE_BOTTOM_LEFT = 3,
    EDGE_BOTTOM = 4,
    EDGE_BOTTOM_RIGHT = 5,
    EDGE_RIGHT = 6,
    EDGE_TOP_RIGHT = 7,
    EDGE_TOP = 8,
    FRAME_EDGE_MARGIN = 5,
};
// The edge a client point lies on within the margin, EDGE_NONE inside.
int FrameEdgeAt(int x, int y, int width, int height);
// The window rectangle with the edge's sides moved to the screen cursor,
// kept the grab distances (left, top, right, bottom) away.
RECT SizeByEdge(const RECT &current, int edge, POINT cursor, const int grab[4]);
// A frame is being sized from its edge.
bool FrameEdgeSizing();
// WM_SETCURSOR of a frame: true, with the sizing cursor set, while the
// cursor is on the edge the loop found (the class cursor would flicker).
bool KeepEdgeCursor(HWND frameWindow);

// Chains the frames' message pre-translation (edge sizing, Tab focus).
void InstallFrameHooks();
