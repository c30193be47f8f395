// Desktop: puts the program's wallpaper image and its screen-saver module in
// place, tells whether the system still uses them, decides whether any of
// the desktop can be seen, and gives the user's own wallpaper (with its
// style, tile and origin values) and screen saver back from the backup
// records in the data folder.
//
// The backups never take a value that is the program's own: a start after a
// crash, with the program's wallpaper still on the desktop, keeps the user's
// backup. RestoreDesktop is meant for every exit of the program, error exits
// included; it waits for the screen-saver threads first.
#pragma once

#include <stdint.h>

#include <windows.h>

#include "framework/application.h"

enum {
    DESKTOP_RESTORE = 0,
    DESKTOP_INSTALL = 1,
    DESKTOP_VALUE_BYTES = 64,
    DESKTOP_SAVER_THREADS = 8,   // screen-saver threads tracked at once
};

// Results of BackupDesktop, bits.
enum {
    BACKUP_NOTHING = 0,
    BACKUP_WALLPAPER = 1,   // "BackupWPPath" and "BackupWPLayout" written
    BACKUP_SAVER = 2,       // "BackupSSPath" and "BackupSSTimeout" written
};

// One registry value of "Control Panel\Desktop" as it was, for an exact
// restore; present 0 means the value did not exist.
struct DesktopValue {
    uint8_t present;
    uint32_t type;
    uint32_t size;
    uint8_t data[DESKTOP_VALUE_BYTES];
};

// "WallpaperStyle", "TileWallpaper", "WallpaperOriginX", "WallpaperOriginY".
enum { LAYOUT_VALUES = 4 };
struct WallpaperLayout {
    DesktopValue values[LAYOUT_VALUES];
};
extern const char *const kLayoutValueNames[LAYOUT_VALUES];

extern char gWallpaperImage[MAX_TEXT];      // "<data folder>\Veltaspar.bmp"
extern char gScreenSaverModule[MAX_TEXT];   // "<Windows folder>\Veltaspar.scr"
extern uint8_t gWallpaperInstalled;         // this run put its image on the desktop
extern uint8_t gDesktopVisible;

// Fills gWallpaperImage and gScreenSaverModule from gApp's folders.
void SetDesktopPaths();

// Writes the backup records from the system's current wallpaper and screen
// saver, each only when it is not the program's own. BACKUP_ bits written.
int BackupDesktop();

// The program's own wallpaper or screen saver; an empty path never is.
bool IsOurWallpaperPath(const char *path);
bool IsOurScreenSaverPath(const char *path);

// mode DESKTOP_INSTALL puts gWallpaperImage on the desktop; DESKTOP_RESTORE
// gives the backed-up wallpaper and layout back when this run installed it.
// Always 0.
int InstallWallpaper(int mode);
// True when the desktop shows the program's image (see gPrefs.bDetectWP).
bool IsOurWallpaper();
// True when the system's screen saver is gScreenSaverModule; then the
// system timeout goes to the first screen-saver view's iActive (minutes).
bool IsOurScreenSaver();

// Thread entry; the parameter is the mode. 1 when it changed something, 0
// when a restore found another screen saver in place.
DWORD WINAPI ScreenSaverThread(void *mode);
// Starts ScreenSaverThread and keeps its handle for WaitForScreenSaverThreads.
// false when the thread could not be started (then it ran here, at once).
bool StartScreenSaverThread(int mode);
// Waits for the started screen-saver threads and closes their handles.
void WaitForScreenSaverThreads();

// The user's wallpaper and screen saver back; safe to call on every exit,
// more than once, and when nothing was installed.
void RestoreDesktop();

// True when some part of the desktop is not covered by other top-level
// windows; sets gDesktopVisible.
bool IsDesktopVisible();
BOOL CALLBACK DesktopCoverProc(HWND window, LPARAM coverState);
