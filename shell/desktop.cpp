// Desktop wallpaper and screen-saver installation, the backups of the
// user's own, their restore, and the desktop-visibility test.
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include "earth/settings.h"
#include "framework/application.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "shell/desktop.h"

char gWallpaperImage[MAX_TEXT];
char gScreenSaverModule[MAX_TEXT];
uint8_t gWallpaperInstalled;
uint8_t gDesktopVisible;

const char *const kLayoutValueNames[LAYOUT_VALUES] = {
    "WallpaperStyle", "TileWallpaper", "WallpaperOriginX", "WallpaperOriginY",
};

static const char kDesktopKey[] = "Control Panel\\Desktop";
static const char kWallpaperFile[] = "Veltaspar.bmp";
static const char kSaverFile[] = "Veltaspar.scr";
static const char kBackupWallpaper[] = "BackupWPPath";
static const char kBackupLayout[] = "BackupWPLayout";
static const char kBackupSaver[] = "BackupSSPath";
static const char kBackupTimeout[] = "BackupSSTimeout";
static const UINT kSetFlags = SPIF_UPDATEINIFILE | SPIF_SENDCHANGE;

static HANDLE gSaverThreads[DESKTOP_SAVER_THREADS];
static int gSaverThreadCount;

void SetDesktopPaths()
{
    _snprintf(gWallpaperImage, MAX_TEXT, "%s\\%s", gApp.dataFolder, kWallpaperFile);
    gWallpaperImage[MAX_TEXT - 1] = 0;
    // Setup puts the screen-saver module into the Windows folder, where the
    // system's screen-saver choice lists it.
    char windows[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    if (!n || n >= MAX_PATH) {
        gScreenSaverModule[0] = 0;   // an empty path is never taken for ours
        return;
    }
    _snprintf(gScreenSaverModule, MAX_TEXT, "%s\\%s", windows, kSaverFile);
    gScreenSaverModule[MAX_TEXT - 1] = 0;
}

// ---------------------------------------------------------------- registry

static HKEY OpenDesktopKey()
{
    HKEY key = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kDesktopKey, 0, gApp.productName, 0, KEY_ALL_ACCESS,
                        0, &key, 0) != ERROR_SUCCESS)
        return 0;
    return key;
}

static void SetText(HKEY key, const char *name, const char *text)
{
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
}

static void ReadValue(HKEY key, const char *name, DesktopValue *value)
{
    memset(value, 0, sizeof *value);
    DWORD type = 0, size = DESKTOP_VALUE_BYTES;
    if (RegQueryValueExA(key, name, 0, &type, value->data, &size) != ERROR_SUCCESS)
        return;
    value->present = 1;
    value->type = type;
    value->size = size;
}

static void WriteValue(HKEY key, const char *name, const DesktopValue *value)
{
    if (!value->present) {
        RegDeleteValueA(key, name);
        return;
    }
    DWORD room = DESKTOP_VALUE_BYTES;
    DWORD size = value->size > room ? room : value->size;
    RegSetValueExA(key, name, 0, value->type, value->data, size);
}

// The registry's "Wallpaper" text; empty when missing.
static void ReadWallpaperPath(char *path)
{
    path[0] = 0;
    HKEY key = OpenDesktopKey();
    if (!key)
        return;
    DWORD type = 0, size = MAX_TEXT - 1;
    if (RegQueryValueExA(key, "Wallpaper", 0, &type, (BYTE *)path, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        size = 0;
    path[size < MAX_TEXT ? size : MAX_TEXT - 1] = 0;
    RegCloseKey(key);
}

static void ReadSaverPath(char *path)
{
    GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", path, MAX_TEXT, "SYSTEM.INI");
}

static int SystemSaverTimeout()
{
    int seconds = 0;
    SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0);
    return seconds;
}

static void SetSystemSaver(const char *path, int seconds)
{
    WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", path, "SYSTEM.INI");
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, 0, kSetFlags);
    SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, (UINT)seconds, 0, kSetFlags);
}

// ---------------------------------------------------------------- ownership

bool IsOurWallpaperPath(const char *path)
{
    if (!path || !*path)
        return false;
    if (gWallpaperImage[0] && _stricmp(path, gWallpaperImage) == 0)
        return true;
    // Profile folders hold their own copies of the image under the same name.
    return FindTextNoCase(path, kWallpaperFile) != 0;
}

bool IsOurScreenSaverPath(const char *path)
{
    if (!path || !*path || !gScreenSaverModule[0])
        return false;
    if (_stricmp(path, gScreenSaverModule) == 0)
        return true;
    // The control panel may store the module's short name.
    char shortPath[MAX_TEXT];
    DWORD n = GetShortPathNameA(gScreenSaverModule, shortPath, MAX_TEXT);
    return n > 0 && n < MAX_TEXT && _stricmp(path, shortPath) == 0;
}

// ---------------------------------------------------------------- backups

static bool BackupWallpaper()
{
    char path[MAX_TEXT];
    ReadWallpaperPath(path);
    if (IsOurWallpaperPath(path))
        return false;   // the last run did not restore: the backup still holds the user's
    WallpaperLayout layout;
    HKEY key = OpenDesktopKey();
    if (!key)
        return false;
    for (int i = 0; i < LAYOUT_VALUES; i++)
        ReadValue(key, kLayoutValueNames[i], &layout.values[i]);
    RegCloseKey(key);
    WriteRecordFile(kBackupWallpaper, -1, path, (int)strlen(path) + 1, 0);
    WriteRecordFile(kBackupLayout, -1, &layout, (int)sizeof layout, 0);
    return true;
}

static bool BackupSaver()
{
    char path[MAX_TEXT];
    ReadSaverPath(path);
    if (IsOurScreenSaverPath(path))
        return false;
    int seconds = SystemSaverTimeout();
    WriteRecordFile(kBackupSaver, -1, path, (int)strlen(path) + 1, 0);
    WriteRecordFile(kBackupTimeout, -1, &seconds, (int)sizeof seconds, 0);
    return true;
}

int BackupDesktop()
{
    int written = BACKUP_NOTHING;
    if (BackupWallpaper())
        written |= BACKUP_WALLPAPER;
    if (BackupSaver())
        written |= BACKUP_SAVER;
    return written;
}

// A backed-up text; empty when the record is missing.
static void ReadBackupText(const char *name, char *text)
{
    memset(text, 0, MAX_TEXT);
    ReadRecordFile(name, -1, text, MAX_TEXT - 1, 0);
}

// ---------------------------------------------------------------- wallpaper

static void InstallOurWallpaper()
{
    HKEY key = OpenDesktopKey();
    if (gPrefs.bMultiMon) {
        // One image over all monitors: tiled from the virtual screen's origin.
        if (key) {
            SetText(key, "Wallpaper", gWallpaperImage);
            SetText(key, "WallpaperStyle", "0");
            SetText(key, "TileWallpaper", "1");
            RegDeleteValueA(key, "WallpaperOriginX");
            RegDeleteValueA(key, "WallpaperOriginY");
        }
        SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, 0, kSetFlags);
    } else {
        if (key) {
            SetText(key, "WallpaperStyle", "4");
            SetText(key, "TileWallpaper", "0");
        }
        SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, gWallpaperImage, kSetFlags);
    }
    if (key)
        RegCloseKey(key);
    gWallpaperInstalled = 1;
}

static void RestoreUserWallpaper()
{
    char path[MAX_TEXT];
    ReadBackupText(kBackupWallpaper, path);
    WallpaperLayout layout;
    bool haveLayout =
        ReadRecordFile(kBackupLayout, -1, &layout, (int)sizeof layout, 0) == (int)sizeof layout;
    HKEY key = OpenDesktopKey();
    if (key) {
        for (int i = 0; i < LAYOUT_VALUES; i++) {
            if (haveLayout)
                WriteValue(key, kLayoutValueNames[i], &layout.values[i]);
            else if (i >= 2)
                RegDeleteValueA(key, kLayoutValueNames[i]);
        }
        SetText(key, "Wallpaper", path);
        RegCloseKey(key);
    }
    SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, path, kSetFlags);
    gWallpaperInstalled = 0;
    InvalidateRect(0, 0, TRUE);
}

int InstallWallpaper(int mode)
{
    if (mode == DESKTOP_INSTALL)
        InstallOurWallpaper();
    else if (gWallpaperInstalled)
        RestoreUserWallpaper();
    return 0;
}

bool IsOurWallpaper()
{
    char path[MAX_TEXT];
    ReadWallpaperPath(path);
    if (strstr(path, kWallpaperFile))
        return true;
    if (gPrefs.bDetectWP)
        return false;   // another program changed the wallpaper
    ViewOptions *view = FirstView(VIEW_LIST_WALLPAPER);
    return view && view->bActive;
}

// ---------------------------------------------------------------- screen saver

bool IsOurScreenSaver()
{
    char path[MAX_TEXT];
    ReadSaverPath(path);
    int seconds = SystemSaverTimeout();
    if (!IsOurScreenSaverPath(path))
        return false;
    ViewOptions *view = FirstView(VIEW_LIST_SCREENSAVER);
    if (view)
        view->iActive = seconds / 60;
    return true;
}

DWORD WINAPI ScreenSaverThread(void *mode)
{
    if ((INT_PTR)mode == DESKTOP_INSTALL) {
        ViewOptions *view = FirstView(VIEW_LIST_SCREENSAVER);
        int minutes = view ? view->iActive : 10;
        SetSystemSaver(gScreenSaverModule, minutes * 60);
        return 1;
    }
    if (!IsOurScreenSaver())
        return 0;   // the user chose another screen saver meanwhile
    char path[MAX_TEXT];
    ReadBackupText(kBackupSaver, path);
    int seconds = 0;
    ReadRecordFile(kBackupTimeout, -1, &seconds, (int)sizeof seconds, 0);
    SetSystemSaver(path, seconds);
    return 1;
}

// Closes the handles of threads that have ended.
static void ReapSaverThreads()
{
    int kept = 0;
    for (int i = 0; i < gSaverThreadCount; i++) {
        if (WaitForSingleObject(gSaverThreads[i], 0) == WAIT_OBJECT_0)
            CloseHandle(gSaverThreads[i]);
        else
            gSaverThreads[kept++] = gSaverThreads[i];
    }
    gSaverThreadCount = kept;
}

bool StartScreenSaverThread(int mode)
{
    ReapSaverThreads();
    if (gSaverThreadCount == DESKTOP_SAVER_THREADS)
        WaitForScreenSaverThreads();
    HANDLE thread = CreateThread(0, 0, ScreenSaverThread, (void *)(INT_PTR)mode, 0, 0);
    if (!thread) {
        ScreenSaverThread((void *)(INT_PTR)mode);
        return false;
    }
    gSaverThreads[gSaverThreadCount++] = thread;
    return true;
}

void WaitForScreenSaverThreads()
{
    if (gSaverThreadCount > 0)
        WaitForMultipleObjects((DWORD)gSaverThreadCount, gSaverThreads, TRUE, INFINITE);
    for (int i = 0; i < gSaverThreadCount; i++)
        CloseHandle(gSaverThreads[i]);
    gSaverThreadCount = 0;
}

void RestoreDesktop()
{
    // A pending install must not land after the restore.
    WaitForScreenSaverThreads();
    InstallWallpaper(DESKTOP_RESTORE);
    ScreenSaverThread((void *)(INT_PTR)DESKTOP_RESTORE);
}

// ---------------------------------------------------------------- visibility

struct CoverState {
    HWND progman;
    HRGN area;
};

static bool IsWorkerWindow(HWND window)
{
    char name[8];
    if (!GetClassNameA(window, name, sizeof name))
        return false;
    return _stricmp(name, "WorkerW") == 0;
}

BOOL CALLBACK DesktopCoverProc(HWND window, LPARAM state)
{
    CoverState *cover = (CoverState *)state;
    if (!IsWindowVisible(window) || window == cover->progman || IsIconic(window) ||
        IsWorkerWindow(window))
        return TRUE;
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return TRUE;
    // Every covering window counts, a full-screen one on top included.
    HRGN windowArea = CreateRectRgnIndirect(&rect);
    int left = CombineRgn(cover->area, cover->area, windowArea, RGN_DIFF);
    DeleteObject(windowArea);
    if (left == NULLREGION) {
        gDesktopVisible = 0;
        return FALSE;
    }
    return TRUE;
}

bool IsDesktopVisible()
{
    CoverState cover;
    cover.progman = FindWindowA("Progman", 0);
    RECT rect;
    GetWindowRect(cover.progman ? cover.progman : GetDesktopWindow(), &rect);
    cover.area = CreateRectRgnIndirect(&rect);
    gDesktopVisible = 1;
    EnumWindows(DesktopCoverProc, (LPARAM)&cover);
    DeleteObject(cover.area);
    return gDesktopVisible != 0;
}
