// The program options dialog: the program-wide preferences (gPrefs) on five
// pages in a tab control, with the connection test, the download buttons of
// the cloud and weather workers and their status texts. UI thread only.
#pragma once

#include <windows.h>
#include <stdint.h>

enum {
    IDD_PROGRAM_OPTIONS = 111,
    IDD_PAGE_GENERAL = 112,
    IDD_PAGE_CLOUDS = 113,
    IDD_PAGE_WEATHER = 114,
    IDD_PAGE_INTERNET = 115,
    IDD_PAGE_METAR = 119,

    OPTIONS_PAGE_GENERAL = 0,
    OPTIONS_PAGE_CLOUDS = 1,
    OPTIONS_PAGE_WEATHER = 2,
    OPTIONS_PAGE_METAR = 3,
    OPTIONS_PAGE_INTERNET = 4,
    OPTIONS_PAGE_COUNT = 5,

    IDC_OPTIONS_TAB = 1211,
    IDC_OPTIONS_PLACEHOLDER = 1208,

    PAGE_REFRESH = 0x8001,      // enabling and status texts from gPrefs
    PAGE_COMMIT = 0x8002,       // controls into gPrefs
    UTC_TIMER_ID = 4369,
    UTC_TIMER_MS = 1000,
    STATUS_TIMER_ID = 4370,     // weather and METAR pages follow the worker's texts
    STATUS_TIMER_MS = 1000,

    RESTART_QUESTION_FLAGS = 840,   // question, Yes / No, Yes emphasised and default
    API_KEY_REMINDER_FLAGS = 804,   // warning, OK / Cancel, OK emphasised and default
};

// The page shown when the dialog opens: the last one shown in this run.
extern int gProgramOptionsPage;
// The API-key reminder was shown in this run.
extern bool gApiKeyReminderShown;
// The address the connection test requests.
extern const char kConnectionTestUrl[];

// The modal dialog 111 over owner: IDOK (gPrefs holds the edits) or IDCANCEL
// (gPrefs as before, but for what the workers wrote meanwhile).
int ShowProgramOptions(HWND owner);

// Copies what the download workers write into the settings (times, the
// answer's date stamp, the clouds address, the API-key reminder) from now
// into restored, so that a Cancel that restores a snapshot keeps them.
struct PrefsRecord;
void KeepWorkerPrefs(PrefsRecord *restored, const PrefsRecord *now);

// The page window of index while the dialog exists, else 0.
HWND ProgramOptionsPageWindow(int index);

// The METAR test's address for station icao: the provider's report page
// (source 0) or urlTemplate, "#ICAO#" replaced by the code. False when the
// code is empty or the address does not fit size.
bool MetarTestAddress(const char *icao, int source, const char *urlTemplate, char *out, int size);
