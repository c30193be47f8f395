// Screen-saver module state, data folder, flag record and picture reload:
// the module finds the main program's data through the installation record
// and tells it through a record file that the screen saver runs.
#include "screensaver/saver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/utilities.h"

SaverState gSaver;

bool FindSaverDataFolder(const char *programName, SetupInfoRecord *record, char *out)
{
    out[0] = 0;
    if (!ReadSaverSetupInfo(programName, record))
        return false;
    ConfigFolderUser user;
    GetCurrentConfigFolderUser(&user);
    return ComposeConfigFolder(record, programName, &user, out);
}

// Folder plus file name; an over-long result is cut, as every path here is.
static void JoinPath(char *out, const char *folder, const char *file)
{
    const char *slash = EndsWithBackslash(folder) ? "" : "\\";
    _snprintf(out, MAX_PATH - 1, "%s%s%s", folder, slash, file);
    out[MAX_PATH - 1] = 0;
}

void GetSaverActivePath(const char *folder, char *out)
{
    JoinPath(out, folder, SAVER_ACTIVE_RECORD ".rgc");
}

enum { FOLDER_VISIBLE_WAITS = 11, FOLDER_WAIT_MS = 100 };

// Network folders may show up a moment after their creation succeeded. A
// failing create call is passed over; false when a level never showed up.
static bool CreateOneFolder(const char *path)
{
    for (int waits = 0;; waits++) {
        if (!CreateDirectoryA(path, 0) || FolderExists(path))
            return true;
        if (waits == FOLDER_VISIBLE_WAITS)
            return false;
        Sleep(FOLDER_WAIT_MS);
    }
}

// Creates the missing levels below the longest existing leading part.
static void CreateSaverFolders(const char *folder)
{
    char text[MAX_PATH];
    _snprintf(text, MAX_PATH - 1, "%s", folder);
    text[MAX_PATH - 1] = 0;
    int length = (int)strlen(text);
    char *slash;
    while ((slash = strrchr(text, '\\')) != 0) {
        *slash = 0;
        if (FolderExists(text))
            break;
    }
    for (;;) {
        int end = (int)strlen(text);
        if (end >= length)
            return;
        text[end] = '\\';
        end = (int)strlen(text);
        if (end > 0 && text[end - 1] != ':' && !FolderExists(text) && !CreateOneFolder(text))
            return;
    }
}

int WriteSaverActive(const char *folder, int32_t value)
{
    char path[MAX_PATH];
    GetSaverActivePath(folder, path);
    if (!FolderExists(folder))
        CreateSaverFolders(folder);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    BOOL ok = WriteFile(file, &value, sizeof value, &written, 0);
    CloseHandle(file);
    return ok && written == sizeof value ? 0 : 1;
}

void DropSaverImage(SaverState *state)
{
    free(state->image);
    state->image = 0;
    state->imageSize = 0;
}

// The whole file into a fresh block; null on any failure.
static unsigned char *ReadWholeFile(HANDLE file, DWORD *size)
{
    DWORD length = GetFileSize(file, 0);
    if (length == INVALID_FILE_SIZE)
        return 0;
    unsigned char *bytes = (unsigned char *)malloc(length ? length : 1);
    DWORD got = 0;
    if (!bytes || !ReadFile(file, bytes, length, &got, 0) || got != length) {
        free(bytes);
        return 0;
    }
    *size = length;
    return bytes;
}

int SaverTick(SaverState *state)
{
    char path[MAX_PATH];
    JoinPath(path, state->dataFolder, SAVER_IMAGE_FILE);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) {
        state->imageWriteTime = 0;
        return SAVER_IMAGE_UNCHANGED;
    }
    FILETIME written = {};
    GetFileTime(file, 0, 0, &written);
    if (written.dwLowDateTime == state->imageWriteTime) {
        CloseHandle(file);
        return SAVER_IMAGE_UNCHANGED;
    }
    state->imageWriteTime = written.dwLowDateTime;
    DWORD size = 0;
    unsigned char *bytes = ReadWholeFile(file, &size);
    CloseHandle(file);
    if (!bytes) {
        state->imageWriteTime = 0;   // the next tick tries again
        return SAVER_IMAGE_UNCHANGED;
    }
    DropSaverImage(state);
    state->image = bytes;
    state->imageSize = size;
    return SAVER_IMAGE_CHANGED;
}

void ReadVirtualScreen(SaverState *state)
{
    state->virtualX = GetSystemMetrics(SM_XVIRTUALSCREEN);
    state->virtualY = GetSystemMetrics(SM_YVIRTUALSCREEN);
    state->virtualWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    state->virtualHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
}

bool AddSaverMonitor(SaverState *state, const RECT *rect)
{
    if (state->monitorCount >= SAVER_MAX_MONITORS)
        return false;
    state->monitors[state->monitorCount++] = *rect;
    return state->monitorCount < SAVER_MAX_MONITORS;
}

static BOOL CALLBACK StoreMonitor(HMONITOR, HDC, LPRECT rect, LPARAM data)
{
    return AddSaverMonitor((SaverState *)data, rect) ? TRUE : FALSE;
}

typedef BOOL(WINAPI *EnumDisplayMonitorsFn)(HDC, LPCRECT, MONITORENUMPROC, LPARAM);

// Looked up at run time: systems without multi-monitor support lack it.
void CollectMonitors(SaverState *state)
{
    state->monitorCount = 0;
    HMODULE user32 = LoadLibraryA("user32.dll");
    if (user32) {
        EnumDisplayMonitorsFn enumerate =
            (EnumDisplayMonitorsFn)(void *)GetProcAddress(user32, "EnumDisplayMonitors");
        if (enumerate)
            enumerate(0, 0, StoreMonitor, (LPARAM)state);
        FreeLibrary(user32);
    }
    if (state->monitorCount == 0) {
        GetWindowRect(GetDesktopWindow(), &state->monitors[0]);
        state->monitorCount = 1;
    }
}
