// The framework's top-level window: a "QRFWindow" popup with four dock bays
// around its client area, keyed status texts behind a mutex, transparency,
// position and size locks, and a placement kept in "(QRF)Win"<index>.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/growarray.h"

class CDockBay;   // dockbay.h

enum FrameOption {
    FRAME_TASKBAR = 0x1,
    FRAME_MINMAXBOX = 0x2,
    FRAME_KEEPONRESCALE = 0x4,
    FRAME_NOCAPTION = 0x8,
    FRAME_SMALLCAPTION = 0x10,
    FRAME_LOCKBARPOS = 0x20,
    FRAME_LOCKBARSIZE = 0x40,
    FRAME_LOCKPOS = 0x80,
    FRAME_TOPMOST = 0x100,
    FRAME_MAXIMIZED = 0x200,
    FRAME_MAINRECEIVER = 0x400,
    FRAME_BORDERLESS = 0x800,
    FRAME_LOCKSIZE = 0x1000,
    FRAME_ACCEPTFILES = 0x2000,
};

enum {
    FRAME_NO_INDEX = 0xFFFF,
    FRAME_NO_COMMAND = 0xFFFF,
    STATUS_KEY_OVERRIDE = -1,
    STATUS_KEY_HOVER = -2,
    STATUS_KEY_DEFAULT = -3,
    STATUS_TEXT_SIZE = 1024,
    STATUS_WAIT_MS = 1000,
    STANDARD_MENU_SIZE = 64,
    FRAME_MIN_WIDTH = 150,
    FRAME_MIN_HEIGHT = 100,
    QRF_STRING_READY = 0xF004,
    QRF_STRING_RESTART = 0xF00B,
};

#pragma pack(push, 1)
// "(QRF)Win"<index>: 16 bytes.
struct FramePlacementRecord {
    int16_t x, y;
    uint16_t width, height;
    uint32_t options;
    uint32_t transparency;   // percent in bits 0-11, click-through in bit 12
};
#pragma pack(pop)
static_assert(sizeof(FramePlacementRecord) == 16, "(QRF)Win layout");

struct StatusEntry {
    int key;
    char text[STATUS_TEXT_SIZE];
};

class CFrameWindow {
public:
    HWND window;
    HWND busyOverlay;
    HWND focusToRestore;
    HWND focusLostToItem;
    uint16_t index;
    uint32_t options;
    RECT clientArea;
    RECT currentRect;
    RECT lastPlacedRect;
    uint16_t statusCommand;
    uint8_t restyling;
    int minWidth, minHeight;
    HICON trayIcon;
    int transparency;
    uint8_t clickThrough;
    int showMode;
    int dpi;
    uint16_t standardMenu[STANDARD_MENU_SIZE];
    CGrowArray<CDockBay *> bays;
    CGrowArray<StatusEntry> statusTexts;
    HANDLE statusMutex;
    void *openMenu;
    char shownStatus[STATUS_TEXT_SIZE];   // the string table keeps a pointer to it
    uint8_t trayEntry;                    // the shell holds an entry for this frame

    CFrameWindow();
    virtual ~CFrameWindow();

    int Create(uint16_t index, WNDPROC procedure, const char *title, uint16_t iconId,
               uint32_t options, int x, int y, int width, int height);
    void GetStyles(DWORD *style, DWORD *exStyle) const;
    int AddDockBay(int side);
    void Show(int nCmdShow, int mode);
    void Move(int x, int y, int cx, int cy, bool show);
    void MoveToRect(const RECT &rect, bool show);
    void Relayout();
    int SavePlacement();
    bool CycleFocus(int step);
    DWORD SetStatusText(int key, const char *text);
    void SetTransparency(int percent);
    void SetClickThrough(bool on);
    void ApplyOpacity();
    void SetCaptionStyle(uint32_t bits);
    void SetOption(uint32_t bits, bool on);
    void ToggleOption(uint32_t bits);
    void BuildStandardMenu();
    bool OnStandardCommand(uint16_t id);
    void OnDpiChanged(int newDpi, const RECT *suggested);

    // Message handlers of FrameWindowProc.
    void LayOutBays(int width, int height);
    void TrackPlacement();
    void OnActivate(bool active);
    LRESULT OnModal(WPARAM counter);

private:
    void DestroyBays();
    uint16_t BarCount() const;
};

// Style bits for an option word.
void GetFrameStyles(uint32_t options, DWORD *style, DWORD *exStyle);

// Default position of a frame on the monitor rectangle: zero sizes become
// 2/3 of the monitor, zero coordinates centre it cascaded by 40 per index.
void DefaultFrameRect(const RECT &monitor, uint16_t index, int *x, int *y, int *width,
                      int *height);
// A stored placement is used only when it has a size and one of its top
// corners (20 pixels in) lies on a monitor.
struct MonitorTable;
bool PlacementUsable(const FramePlacementRecord &record, const MonitorTable &monitors);

// The status text on show: the override (-1) when there is one, else the last.
const StatusEntry *ShownStatusEntry(const CGrowArray<StatusEntry> &list);

// The "QRFWindow" class procedure; caller procedures pass what they leave to
// DefFrameWindowProc.
LRESULT CALLBACK FrameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefFrameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

CFrameWindow *FrameOfWindow(HWND window);

// Scheme 0-2 stored in "(QRF)App", the graphics object's colours and icons
// reloaded, and every frame and bar redrawn whole.
int SetColorScheme(int scheme);
// Every frame's and bar's non-client area drawn again.
void RedrawFrames();

// Colours of the colour dialog: the run's 16 custom colours.
extern COLORREF gCustomColours[16];
