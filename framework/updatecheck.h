// The update check: at most once per interval (7 days or more) a worker
// fetches the newest version number from the installation record's
// update-check address and, when a newer version is offered that the user
// has not seen yet, opens its dialog. The same dialog, opened by the user,
// shows the state and the settings.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/installrecord.h"

enum {
    UPDATE_STARTED = 0,
    UPDATE_STILL_RUNNING = 1,
    UPDATE_NO_THREAD = 3,
    UPDATE_NOT_DUE = 4,
    UPDATE_MIN_DAYS = 7,
    UPDATE_MAX_DAYS = 9999,
    UPDATE_STOP_ROUNDS = 500,     // 10 ms apart
    UPDATE_TEXT_SIZE = 260,
    UPDATE_CHECK_URL_OFFSET = INSTALL_RECORD_VERSION_URL,
    UPDATE_DOWNLOAD_URL_OFFSET = INSTALL_RECORD_DOWNLOAD_URL,
};

#pragma pack(push, 1)
// "(QRF)UpdateCheck" record file.
struct UpdateCheckRecord {
    char seenVersion[UPDATE_TEXT_SIZE];
    uint32_t zero1;
    int64_t lastCheck;            // whole days, seconds since 1970 UTC
    uint8_t newer;
    uint8_t enabled;
    uint16_t zero2;
    int32_t intervalDays;
};
#pragma pack(pop)
static_assert(sizeof(UpdateCheckRecord) == 280, "(QRF)UpdateCheck layout");

extern UpdateCheckRecord gUpdateRecord;
extern volatile uint8_t gUpdateRunning;
extern volatile uint8_t gUpdateCancel;
extern HWND gUpdateDialog;

// The worker's fetch of the version text: 0 with the reply in reply
// (NUL-terminated), else the request's code. Anything far longer than a
// version number is no answer.
int FetchVersionText(const char *url, volatile uint8_t *cancel, char *reply, int size);

// Reads the record and normalises it (interval 0: enabled, 7 days; any
// interval up to 7 becomes 7).
void ReadUpdateRecord();
void WriteUpdateRecord();
// Three numbers "%d.%d.%d" at the start of text; false when fewer.
bool ParseVersionReply(const char *text, int version[3]);
// True when version is newer than the program's own, major first.
bool IsNewerVersion(const int version[3]);

// now: seconds since 1970 UTC, the caller's clock (start-up and the daily
// tick pass the real time); a successful check stores its day.
// When enabled and due at now, LaunchUpdateCheck's result; else UPDATE_NOT_DUE.
int StartUpdateCheck(int64_t now);
// 0 started, 1 a previous worker did not stop, 3 no thread (the open
// dialog's status line says so).
int LaunchUpdateCheck(int64_t now);
DWORD WINAPI UpdateCheckThread(LPVOID);
INT_PTR CALLBACK UpdateCheckDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The user's dialog, modeless on the calling thread (or the open one).
HWND OpenUpdateCheckDialog(HWND owner);

