// The hidden main window's state and its one-second timer. The timer's
// actions go through gMainHooks, so that tests drive its decisions with their
// own clock and observers.
#pragma once

#include <windows.h>
#include <stdint.h>

struct MainHooks {
    int64_t (*now)();                          // seconds since 1970
    int (*startCloudDownload)(int mode);       // 0 started, else not
    bool (*cloudWorkerBusy)();
    int (*startWeatherDownload)(int mode);     // null until the weather updater exists
    bool (*weatherWorkerBusy)();
    int (*readSaverActive)();                  // the "ScreenSaverActive" record, 0 when missing
    int (*requestRender)(int which, int order, int wait);
    bool (*desktopVisible)();
    bool (*ourWallpaper)();
    int (*installWallpaper)(int mode);
    void (*reportOutput)(int job, int code);   // the message box of a failed render
    void (*openOptions)(bool saverList);       // null: there is no options dialog to open
    void (*closeOptions)();
};
extern MainHooks gMainHooks;

extern volatile uint8_t gTimerBusy;
extern int64_t gLastDownloadCheck;
extern int64_t gLastSaverPoll;
extern int gSaverActive;

// One tick of the main timer (what WM_TIMER runs).
void MainTimerTick();
// Which outputs are due at now: -1 none, 0 wallpaper, 1 screen saver, 2 both.
int DueOutputs(int64_t now);
// The ids of the profile submenu, 0xFFFF-ended; checks the current one.
const uint16_t *ProfileMenuCommands();
// Runs one main-window command (the low 16 bits of QRFM_COMMAND's wParam).
void RunMainCommand(int id, LPARAM lParam);
// The settings saved now, as before an export or at quitting.
void SaveEverything();
// Sets all five render jobs' cancel flags and waits (at most 50 rounds of
// 50 ms, pumping messages) until none runs.
void CancelAllRenderJobs();
