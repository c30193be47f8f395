// The frame list as the framework core sees it: the frames by position, their
// windows, options and placements, and their status lines, without the window
// classes. framelist.cpp holds them; the command table, the dialogs and the
// message loop call them directly.
#pragma once

#include <windows.h>
#include <stdint.h>

int FrameCount();
HWND FrameWindowAt(int index);        // 0 outside the list
// The window of the frame whose own 16-bit index this is (not its list
// position); 0 when there is no such frame.
HWND FrameWindowOfIndex(uint16_t frameIndex);
uint32_t FrameOptionsAt(int index);   // 0 outside the list
void ShowAllFrames();
// The hovered item's text in the status line of the frame owning owner.
void ShowHoverStatus(HWND owner, const char *text);
// The active frame's default status text back in its status line.
void RestoreStatusText();
// After a display change: the frame's placed rectangle scaled within its own
// monitor (RescaleOnOwnMonitor).
void RescaleFrameAt(int index);
// The rectangle the frame was last placed at; false outside the list.
bool FramePlacement(int index, RECT *placed);
// Every frame's placement and the "(QRF)App" record written.
void SaveLayout();
