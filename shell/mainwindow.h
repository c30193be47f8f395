// The hidden main window's state and its one-second timer: downloads, the
// screen-saver flag, due renders, the wallpaper hand-over and the report of
// failed renders and of settings that could not be saved.
#pragma once

#include <windows.h>
#include <stdint.h>

extern volatile uint8_t gTimerBusy;
extern int64_t gLastDownloadCheck;
extern int64_t gLastSaverPoll;
extern int gSaverActive;

// One tick of the main timer at now (seconds since 1970); WM_TIMER passes
// the current time.
void MainTimerTick(int64_t now);
// The "ScreenSaverActive" record of the data folder; 0 when missing or torn.
int ReadSaverActiveRecord();
// Which outputs are due at now: -1 none, 0 wallpaper, 1 screen saver, 2 both.
int DueOutputs(int64_t now);
// The ids of the profile submenu, 0xFFFF-ended; checks the current one.
const uint16_t *ProfileMenuCommands();
// Runs one main-window command (the low 16 bits of QRFM_COMMAND's wParam).
void RunMainCommand(int id, LPARAM lParam);
// The settings saved now, as before an export or at quitting. When a store
// cannot be written the settings stay in memory for the next save, and the
// user is told once what was not saved and why; a save that succeeds
// again re-arms that message. Quitting and the end of the session save
// without telling (tell false): a message box there would hold up the quit
// that the session, setup or a "-QUIT" start waits for.
void SaveEverything(bool tell = true);
// The same message after ProfileIO's save of the named profile, when its
// result is a failure (a profile switch or copy saves the current one).
void ReportProfileSaved(int result, const char *name);
// Sets all five render jobs' cancel flags and waits (at most 50 rounds of
// 50 ms, pumping messages) until none runs.
void CancelAllRenderJobs();
