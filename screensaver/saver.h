// The screen-saver module's logic: it renders nothing itself, it shows the
// main program's latest screen-saver picture over every monitor and tells
// the main program through a record file that it is running.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "setup/setupinfo.h"

#define SAVER_PRODUCT_NAME "Veltaspar"
#define SAVER_IMAGE_FILE "VTScrsvr.bmp"
#define SAVER_ACTIVE_RECORD "ScreenSaverActive"

enum {
    SAVER_TIMER_ID = 4096,
    SAVER_TICK_MS = 1000,
    SAVER_MAX_MONITORS = 256,
    SAVER_IMAGE_CHANGED = 1,
    SAVER_IMAGE_UNCHANGED = 0,
};

struct SaverState {
    const char *programName;       // whose installation record; null = the product
    SetupInfoRecord record;        // only the first 544 bytes are read
    char dataFolder[260];
    unsigned char *image;          // the whole file as read, or null
    DWORD imageSize;
    DWORD imageWriteTime;          // low 32 bits of the last-write time; 0 = none
    int virtualX, virtualY, virtualWidth, virtualHeight;
    RECT monitors[SAVER_MAX_MONITORS];
    int monitorCount;
};

extern SaverState gSaver;

// The data folder from the installation record of programName; false (out
// empty) when there is no record of at least 544 bytes or no nameable folder.
bool FindSaverDataFolder(const char *programName, SetupInfoRecord *record, char *out);

// "<folder>\ScreenSaverActive.rgc", with no doubled backslash.
void GetSaverActivePath(const char *folder, char *out);
// Writes the 4-byte flag directly (no temporary file), creating the folder
// when missing. 0 written, 1 failed (which callers ignore).
int WriteSaverActive(const char *folder, int32_t value);

// Checks the picture's write time and reads it anew when it changed.
int SaverTick(SaverState *state);
void DropSaverImage(SaverState *state);

// Virtual screen and up to 256 monitor rectangles.
void ReadVirtualScreen(SaverState *state);
void CollectMonitors(SaverState *state);
// Adds one monitor rectangle; false once the table is full.
bool AddSaverMonitor(SaverState *state, const RECT *rect);

// Where the picture goes, in window coordinates: once across the virtual
// screen when it is at least that big, else once per monitor. Gives the count.
int PlanSaverPaint(const SaverState *state, int imageWidth, int imageHeight, RECT *targets);
// True when the bytes are a BMP file whose header and pixels fit inside it.
bool SaverImageLooksValid(const unsigned char *bytes, DWORD size);
void PaintSaverImage(HWND window, const SaverState *state);

// The screen-saver window's messages. Sets *handled and answers the result;
// unhandled messages go to the platform library's default procedure.
LRESULT HandleSaverMessage(SaverState *state, HWND window, UINT message, WPARAM wParam,
                           LPARAM lParam, bool *handled);
