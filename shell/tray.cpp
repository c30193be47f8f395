// The notification-area icon: the progress picture of the running render or
// download, its tooltip with the last download times, and the tray menu.
#include <stdio.h>
#include <string.h>

#include "framework/seams.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/messages.h"
#include "framework/ui/menu.h"
#include "shell/program.h"

enum { TRAY_FRAME = 0, TRAY_TIP_SIZE = 260 };

// Progress steps 0..11, then 100 % (and idle): the program icon.
static const uint16_t kTrayIcons[TRAY_PROGRESS_ICONS + 1] = {
    10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, TRAY_IDLE_ICON,
};

// What was last handed to the shell. The removal is a state of its own, so
// the unchanged shortcut never swallows a removal or a re-adding.
struct TrayState {
    int iconId;
    uint8_t shown;        // a call went through since start or the last forget
    uint8_t removed;      // that call removed the icon
    HWND dialog;          // the options dialog that got the icon
};
static TrayState gTray;
// Progress arrives from worker threads as well as from the main window.
static volatile LONG gTrayBusy;

int TrayIconForPercent(int percent)
{
    int p = percent < 0 || percent > 100 ? 100 : percent;
    return kTrayIcons[p * TRAY_PROGRESS_ICONS / 100];
}

static const char *ProductName()
{
    const char *name = gApp.strings.GetText(0, 0);
    if (!name || !name[0])
        name = gApp.productName;
    return name[0] ? name : "Veltaspar";
}

// Appends with the fixed-buffer rule: cut, never overrun.
static void AppendText(char *buffer, int size, const char *text)
{
    int used = (int)strlen(buffer);
    if (used < size - 1)
        CopyText(buffer + used, text, size - used);
}

static void AppendTimeLine(char *buffer, int size, const char *label, int64_t t)
{
    char when[LAST_DOWNLOAD_TEXT_SIZE];
    LastDownloadText(t, when);
    AppendText(buffer, size, label);
    AppendText(buffer, size, when);
}

void TrayTooltip(char *buffer, int size)
{
    if (!buffer || size < 1)
        return;
    char clouds[LAST_DOWNLOAD_TEXT_SIZE];
    if (gPrefs.iCloudsData)
        LastDownloadText(gPrefs.tCloudsDown, clouds);
    else
        CopyText(clouds, "Demo", sizeof clouds);
    _snprintf(buffer, size, "%s\nClouds: %s", ProductName(), clouds);
    buffer[size - 1] = 0;
    if (gPrefs.iWeatherData)
        AppendTimeLine(buffer, size, "\nWeather: ", gPrefs.tWeatherDown);
    if (gPrefs.iMetarData)
        AppendTimeLine(buffer, size, "\nMETAR: ", gPrefs.tMetarDown);
}

static void LockTray()
{
    while (InterlockedExchange(&gTrayBusy, 1))
        Sleep(0);
}

static void UnlockTray()
{
    InterlockedExchange(&gTrayBusy, 0);
}

static bool TrayUnchanged(int iconId, bool remove, HWND dialog)
{
    return gTray.shown && gTray.iconId == iconId && gTray.removed == (remove ? 1 : 0) &&
           gTray.dialog == dialog;
}

void ShowTrayIcon(int percent)
{
    int iconId = TrayIconForPercent(percent);
    bool remove = percent == TRAY_REMOVE || !gPrefs.bTrayIcon;
    HWND dialog = gOptionsDialog;
    LockTray();
    if (TrayUnchanged(iconId, remove, dialog)) {
        UnlockTray();
        return;
    }
    char tip[TRAY_TIP_SIZE];
    TrayTooltip(tip, sizeof tip);
    // The tip goes as an argument: a '%' in a product name stays a '%'.
    SetTrayIcon(TRAY_FRAME, (uint16_t)(remove ? 0 : iconId), "%s", tip);
    if (dialog) {
        // Posted: worker threads call this while the dialog's thread may be
        // waiting for them.
        HICON icon = LoadIconA(gApp.instance ? gApp.instance : GetModuleHandleA(0),
                               MAKEINTRESOURCEA(iconId));
        PostMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)icon);
        PostMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);
    }
    gTray.iconId = iconId;
    gTray.shown = 1;
    gTray.removed = remove ? 1 : 0;
    gTray.dialog = dialog;
    UnlockTray();
}

int TrayIconShown()
{
    LockTray();
    int icon = !gTray.shown ? -1 : gTray.removed ? 0 : gTray.iconId;
    UnlockTray();
    return icon;
}

void ForgetTrayIcon()
{
    LockTray();
    gTray.shown = 0;
    UnlockTray();
}

void InstallTrayHook()
{
    gProgressSink.rendered = ShowTrayIcon;
}

// ---------------------------------------------------------------- times

// Removes the year (whole numbers only, the four digits or else two digits
// at either end) and then the non-digits at both ends: "12/31/2026" gives
// "12/31", "2026-12-31" gives "12-31".
void TrimShortDate(char *date, int year)
{
    char digits[16];
    int found = -1, length = 0, n = (int)strlen(date);
    _snprintf(digits, sizeof digits, "%d", year);
    digits[sizeof digits - 1] = 0;
    length = (int)strlen(digits);
    for (int i = 0; found < 0 && i + length <= n; i++) {
        bool before = i > 0 && date[i - 1] >= '0' && date[i - 1] <= '9';
        bool after = date[i + length] >= '0' && date[i + length] <= '9';
        if (!before && !after && strncmp(date + i, digits, length) == 0)
            found = i;
    }
    if (found < 0 && year >= 0) {
        // A two-digit year counts only at an end, where day and month are not.
        _snprintf(digits, sizeof digits, "%02d", year % 100);
        length = 2;
        if (n > 2 && strncmp(date + n - 2, digits, 2) == 0 &&
            !(date[n - 3] >= '0' && date[n - 3] <= '9'))
            found = n - 2;
        else if (n > 2 && strncmp(date, digits, 2) == 0 && !(date[2] >= '0' && date[2] <= '9'))
            found = 0;
    }
    if (found >= 0)
        memmove(date + found, date + found + length, (size_t)(n - found - length + 1));
    n = (int)strlen(date);
    while (n > 0 && !(date[n - 1] >= '0' && date[n - 1] <= '9'))
        date[--n] = 0;
    int start = 0;
    while (start < n && !(date[start] >= '0' && date[start] <= '9'))
        start++;
    memmove(date, date + start, (size_t)(n - start + 1));
}

// Seconds since 1970 (UTC) to the local calendar time.
static bool LocalTimeOf(int64_t t, SYSTEMTIME *local)
{
    ULONGLONG ticks = (ULONGLONG)t * 10000000ULL + 116444736000000000ULL;
    FILETIME file;
    file.dwLowDateTime = (DWORD)ticks;
    file.dwHighDateTime = (DWORD)(ticks >> 32);
    SYSTEMTIME utc;
    return FileTimeToSystemTime(&file, &utc) && SystemTimeToTzSpecificLocalTime(0, &utc, local);
}

void LastDownloadText(int64_t t, char *buffer)
{
    SYSTEMTIME local;
    if (t <= 0 || !LocalTimeOf(t, &local)) {
        CopyText(buffer, "n/a", LAST_DOWNLOAD_TEXT_SIZE);
        return;
    }
    char clock[LAST_DOWNLOAD_TEXT_SIZE], date[LAST_DOWNLOAD_TEXT_SIZE];
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &local, 0, clock, sizeof clock) &&
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, 0, date, sizeof date)) {
        TrimShortDate(date, local.wYear);
        _snprintf(buffer, LAST_DOWNLOAD_TEXT_SIZE, "%s - %s", date, clock);
    } else {
        _snprintf(buffer, LAST_DOWNLOAD_TEXT_SIZE, "%02d.%02d.%04d - %02d:%02d", local.wDay,
                  local.wMonth, local.wYear, local.wHour, local.wMinute);
    }
    buffer[LAST_DOWNLOAD_TEXT_SIZE - 1] = 0;
}

// ---------------------------------------------------------------- mouse

// The tray menu's commands that can run now.
void EnableTrayCommands()
{
    gApp.EnableCommand(CMD_UPDATE_WALLPAPER, FirstViewActive(VIEW_LIST_WALLPAPER));
    gApp.EnableCommand(CMD_DOWNLOAD_CLOUDS, gPrefs.iCloudsData != 0);
    gApp.EnableCommand(CMD_SCREEN_SAVER, FirstViewActive(VIEW_LIST_SCREENSAVER));
    gApp.EnableCommand(CMD_CANCEL_UPDATES, gRenderJobs.running[RENDER_JOB_WALLPAPER] ||
                                               gRenderJobs.running[RENDER_JOB_SCREENSAVER]);
}

void OnTrayMouse(LPARAM mouseMessage)
{
    switch ((UINT)mouseMessage) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        PostMessageA(MainWindow(), QRFM_COMMAND, CMD_OPTIONS, 0);
        break;
    case WM_RBUTTONDOWN:
        EnableTrayCommands();
        PopupMenu(CMD_TRAY_MENU, 0, MainWindow());
        break;
    }
}
