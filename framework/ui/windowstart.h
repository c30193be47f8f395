// The window layer's steps of the application's start-up: the graphics
// object the application holds, the UI-item window class, and the hooks by
// which the framework core reaches frames, items, menus and bars.
#pragma once

class CApplication;

// The graphics object's first stage (system fonts and metrics); from here on
// gGraphics is the application's. 0 or the stage's error.
int StartAppGraphics();
// Its second stage: the colours, then the fonts of the "(QRF)App" face and
// size at the screen's DPI. 0 or the stage's error.
int InitColoursAndFonts(CApplication *app);
// The command images, the frames', menus' and bars' hooks, and the UI-item
// window class. False when the class cannot be registered.
bool StartWindowLayer();
