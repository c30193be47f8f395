// The hidden main window: the one-second timer that keeps the outputs
// current and hands a new wallpaper to the desktop, the tray menu's and the
// options dialog's commands, and profile switching on display changes.
// Also the save of all settings, with the one report of a save that failed.
#include "shell/mainwindow.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "earth/clouds.h"
#include "earth/compositor.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "shell/desktop.h"
#include "shell/help.h"
#include "shell/optionsdialog.h"
#include "shell/profiles.h"
#include "shell/program.h"

HWND gOptionsDialog;
volatile uint8_t gTimerBusy;
int64_t gLastDownloadCheck;
int64_t gLastSaverPoll;
int gSaverActive;

enum {
    CANCEL_ROUNDS = 50,
    CANCEL_ROUND_MS = 50,
    OUTPUT_REPORT_FLAGS = 0x114,
    OPTIONS_CLOSE = 0x8002,
    SAVE_REPORT_FLAGS = 0x111,   // stop icon, OK
};

int ReadSaverActiveRecord()
{
    int32_t value = 0;
    if (ReadRecordFile("ScreenSaverActive", -1, &value, sizeof value, 0) != (int)sizeof value)
        return 0;
    return value;
}

HWND MainWindow()
{
    CFrameWindow *frame = FindFrameByIndex(0);
    return frame ? frame->window : 0;
}

// ---------------------------------------------------------------- the timer

static bool FirstViewDue(int list, int64_t now)
{
    const ViewOptions *view = FirstView(list);
    return view && view->bActive && view->bUpdate &&
           now - view->tLastUpdate >= (int64_t)view->iUpdate * 60;
}

int DueOutputs(int64_t now)
{
    int what = -1;
    // The screen-saver image only matters while the screen saver shows it.
    if (FirstViewDue(VIEW_LIST_SCREENSAVER, now) && gSaverActive)
        what = 1;
    if (FirstViewDue(VIEW_LIST_WALLPAPER, now))
        what++;
    return what;
}

static void StartDownloads(int64_t now)
{
    if (now - gLastDownloadCheck < DOWNLOAD_CHECK_SECONDS)
        return;
    if (gPrefs.iCloudsData != 3 && !gCloudUpdaterBusy)
        StartCloudDownload(CLOUD_MODE_IF_DUE, false);
    // The weather worker also fetches the METAR reports.
    if (gPrefs.iWeatherData == 1 && !gWeatherBusy)
        StartWeatherDownload(1);
    gLastDownloadCheck = now;
}

static void PollScreenSaver(int64_t now)
{
    if (now - gLastSaverPoll < SAVER_POLL_SECONDS)
        return;
    gSaverActive = ReadSaverActiveRecord();
    gLastSaverPoll = now;
}

// A new wallpaper waits (the flag stays up) while nothing of the desktop can
// be seen, so that hidden desktops are not repainted for nothing.
static void HandOverWallpaper()
{
    if (!gWallpaperReady || gOutputStatus[RENDER_JOB_WALLPAPER] != 0)
        return;
    if (!FirstViewActive(VIEW_LIST_WALLPAPER))
        return;
    if (!gSaverActive && !gPrefs.bForceWPUpdate && !IsDesktopVisible())
        return;
    gWallpaperReady = 0;
    ViewOptions &view = *FirstView(VIEW_LIST_WALLPAPER);
    view.bActive = IsOurWallpaper();
    if (view.bActive)
        gOutputStatus[RENDER_JOB_WALLPAPER] = InstallWallpaper(DESKTOP_INSTALL);
}

static void ReportOutputs()
{
    for (int i = 0; i < RENDER_REPORTED_JOBS; i++) {
        int code = gOutputStatus[i];
        if (code == 0)
            continue;
        gOutputStatus[i] = 0;   // cleared first: each failure is shown once
        const char *format = gApp.strings.GetText(103, i);
        FrameworkMessageBox(gOptionsDialog, gApp.strings.GetText(0, 0), format ? format : "%d",
                            OUTPUT_REPORT_FLAGS, 0, code);
    }
}

void MainTimerTick(int64_t now)
{
    if (gTimerBusy)
        return;
    gTimerBusy = 1;
    StartDownloads(now);
    PollScreenSaver(now);
    int what = DueOutputs(now);
    RequestRender(what, what, 0);
    HandOverWallpaper();
    ReportOutputs();
    gTimerBusy = 0;
}

// ---------------------------------------------------------------- commands

void CancelAllRenderJobs()
{
    gTimerBusy = 1;
    for (int round = 0; round < CANCEL_ROUNDS; round++) {
        bool running = false;
        for (int i = 0; i < RENDER_JOBS; i++)
            running = running || gRenderJobs.running[i];
        if (!running)
            break;
        for (int i = 0; i < RENDER_JOBS; i++)
            gRenderJobs.cancel[i] = 1;
        gApp.PumpFor(CANCEL_ROUND_MS);
    }
    gTimerBusy = 0;
}

// ---------------------------------------------------------------- saving

static bool gUnsavedReported;

// The system's text for the error, or a fixed one when it has none.
static void DescribeError(DWORD error, char *out, int size)
{
    DWORD n = error ? FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0,
                                     error, 0, out, (DWORD)size, 0)
                    : 0;
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' '))
        out[--n] = 0;
    if (!n)
        CopyText(out, "The data folder could not be written.", size);
}

// The stores only answer that they could not be written; without a word
// the change would be gone at the next start. The records stay in memory and
// every later save (OK, Apply, a profile switch, quitting) writes them
// again, so the user hears it once, until a save succeeds again, rather than
// at every one of those saves.
static void ReportUnsaved(const char *what, DWORD error)
{
    if (gUnsavedReported)
        return;
    gUnsavedReported = true;
    char reason[256];
    DescribeError(error, reason, sizeof reason);
    const char *format = gApp.strings.GetText(108, 0);
    FrameworkMessageBox(gOptionsDialog, gApp.strings.GetText(0, 0),
                        format ? format : "Not saved: %s.\n%s", SAVE_REPORT_FLAGS, 0, what,
                        reason);
}

static bool ProfileSaveFailed(int result)
{
    return result == PROFILE_NO_SETTINGS || result == PROFILE_NOT_SAVED;
}

// What could not be saved, as the report names it.
static void DescribeUnsaved(bool prefs, const char *profile, char *out, int size)
{
    snprintf(out, size, "%s%s", prefs ? "the preferences" : "",
             profile && prefs ? " and " : "");
    if (profile)
        snprintf(out + strlen(out), size - strlen(out), "the profile \"%s\"", profile);
}

void ReportProfileSaved(int result, const char *name)
{
    if (!ProfileSaveFailed(result))
        return;
    DWORD error = GetLastError();
    char what[PROFILE_NAME_SIZE + 64];
    DescribeUnsaved(false, name, what, sizeof what);
    ReportUnsaved(what, error);
}

void SaveEverything(bool tell)
{
    bool profile = ProfileSaveFailed(ProfileIO(PROFILE_SAVE, gPrefs.szCurProfile));
    DWORD error = GetLastError();
    bool prefs = PrefsIO(1) != 0;
    if (prefs)
        error = GetLastError();
    SetAutostartShortcut(gPrefs.bAutoStart != 0, "", true, 0, 0);
    if (!profile && !prefs) {
        gUnsavedReported = false;   // the next failure is news again
        return;
    }
    if (!tell)
        return;
    char what[PROFILE_NAME_SIZE + 64];
    DescribeUnsaved(prefs, profile ? gPrefs.szCurProfile : 0, what, sizeof what);
    ReportUnsaved(what, error);
}

static void QuitProgram()
{
    if (gOptionsDialog) {
        SendMessageA(gOptionsDialog, OPTIONS_CLOSE, 0, 0);
        CloseOptionsDialog();
    }
    SaveEverything(false);
    PostQuitMessage(0);
}

static void StartCloudsNow()
{
    if (!gCloudUpdaterBusy)
        StartCloudDownload(CLOUD_MODE_IF_DUE_START, false);
}

void RunMainCommand(int id, LPARAM lParam)
{
    if (id >= CMD_PROFILE_FIRST && id < CMD_PROFILE_FIRST + PROFILE_COMMANDS) {
        const char *name = gApp.strings.GetText((uint16_t)id, 0);
        if (name && *name)
            SwitchProfile(name);
        return;
    }
    switch (id) {
    case CMD_OPTIONS:
        OpenOptionsDialog(lParam == -1);
        break;
    case CMD_SCREEN_SAVER:
        if (FirstViewActive(VIEW_LIST_SCREENSAVER))
            SendMessageA(MainWindow(), WM_SYSCOMMAND, SC_SCREENSAVE, 0);
        break;
    case CMD_DOWNLOAD_CLOUDS:
        StartCloudsNow();
        break;
    case CMD_CANCEL_UPDATES:
        gRenderJobs.cancel[RENDER_JOB_WALLPAPER] = 1;
        gRenderJobs.cancel[RENDER_JOB_SCREENSAVER] = 1;
        break;
    case CMD_QUIT:
        QuitProgram();
        break;
    case CMD_UPDATE_WALLPAPER:
        RequestRender(RENDER_JOB_WALLPAPER, 0, 1);
        break;
    }
}

const uint16_t *ProfileMenuCommands()
{
    static uint16_t ids[PROFILE_COMMANDS + 1];
    int n = 0;
    for (int i = 0; i < PROFILE_COMMANDS; i++) {
        uint16_t id = (uint16_t)(CMD_PROFILE_FIRST + i);
        const char *name = gApp.strings.GetText(id, 0);
        if (!name || !*name)
            break;
        ids[n++] = id;
        gApp.CheckCommand(id, strcmp(name, gPrefs.szCurProfile) == 0);
    }
    ids[n] = 0xFFFF;
    return ids;
}

// ---------------------------------------------------------------- messages

static void OnDisplayChange(WPARAM wParam)
{
    MeasureOutputScreen();
    if (wParam != STARTUP_POST)
        SwitchProfileForScreen(gScreenX, gScreenY, gScreenW, gScreenH);
    OptionsDisplayChanged();
}

static void OnShow(HWND window, WPARAM wParam)
{
    char name[PROFILE_NAME_SIZE];
    if (GetProfileSwitch(name))
        SwitchProfile(name);
    if (wParam == STARTUP_POST) {
        // "-MINIMIZE", "-AUTOSTART" and a hidden main window hold for this
        // start only: a later start of the program opens the options.
        gApp.minimize = 0;
        return;
    }
    if (!gApp.minimize)
        PostMessageA(window, QRFM_COMMAND, CMD_OPTIONS, 0);
}

static void OnHelp(WPARAM wParam)
{
    const char *topic = (const char *)wParam;
    if (topic && _stricmp(topic, "About") == 0)
        topic = "ConfigurationInformation.htm";
    ShowProgramHelp(topic);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        SetTimer(window, MAIN_TIMER_ID, MAIN_TIMER_MS, 0);
        break;
    case WM_DESTROY:
        KillTimer(window, MAIN_TIMER_ID);
        break;
    case WM_QUIT:   // sent, not posted: the setup engine asks the program to close
        SendMessageA(window, QRFM_COMMAND, CMD_QUIT, lParam);
        return 0;
    case WM_DISPLAYCHANGE:
        OnDisplayChange(wParam);
        break;
    case QRFM_DISPLAYCHANGE:
        // The framework's monitor table may be refreshed only after this
        // window saw WM_DISPLAYCHANGE: the outlines follow once more.
        OptionsDisplayChanged();
        return 0;
    case WM_TIMER:
        MainTimerTick((int64_t)time(0));
        return 0;
    case QRFM_SAVENOW:
        SaveEverything();
        return 0;
    case QRFM_COMMAND:
        RunMainCommand(LOWORD(wParam), lParam);
        return 0;
    case QRFM_GETMENUCOMMANDS:
        return wParam == CMD_PROFILE_MENU ? (LRESULT)ProfileMenuCommands() : 0;
    case QRFM_TRAY:
        if (gModalCount == 0)
            OnTrayMouse(lParam);
        return 0;
    case QRFM_HELP:
        OnHelp(wParam);
        return 0;
    case QRFM_SHOW:
        OnShow(window, wParam);
        return 0;
    case QRFM_TASKBARCREATED:
        ForgetTrayIcon();
        ShowTrayIcon(gPrefs.bTrayIcon ? TRAY_IDLE : TRAY_REMOVE);
        return 0;
    case QRFM_QUIT:
        PostMessageA(window, QRFM_COMMAND, CMD_QUIT, 0);
        return 0;
    }
    return DefFrameWindowProc(window, message, wParam, lParam);
}
