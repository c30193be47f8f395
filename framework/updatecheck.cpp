// The update check's worker and dialog. The record moves only on a
// successful reply, so a failed or cancelled check is tried again as soon as
// the interval allows; the user hears of it only through the dialog. A
// worker that opened the dialog serves it until it closes and runs any
// further check itself, and nothing waits for a check without serving its
// own windows. A server certificate the HTTP client refused is named in
// the status line.
#include "framework/updatecheck.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/dialogs.h"
#include "framework/httpclient.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "resources/resource.h"

UpdateCheckRecord gUpdateRecord;
volatile uint8_t gUpdateRunning;
volatile uint8_t gUpdateCancel;
HWND gUpdateDialog;

enum {
    TEXT_ID = 0xF00C,
    TEXT_LAST_CHECK = 0,
    TEXT_CHECKING = 1,
    TEXT_DOWNLOAD_ERROR = 2,
    TEXT_FORMAT_ERROR = 3,
    TEXT_NEWER = 4,
    TEXT_NOT_NEWER = 5,
    TEXT_NOT_STARTED = 6,
    TEXT_TITLE = 11,
    DAY_SECONDS = 86400,
    UPDATE_TEXT_WAIT_MS = 2000,
    UPDATE_MAX_REPLY = 4096,      // a version number; anything longer is no answer
};

static const char kRecordName[] = "(QRF)UpdateCheck";

int FetchVersionText(const char *url, volatile uint8_t *cancel, char *reply, int size)
{
    CHttpRequest request;
    request.SetCancelFlag(cancel);
    request.maxBody = UPDATE_MAX_REPLY;
    int result = request.Get(url, false, 0, 0, 0, false);
    if (result != 0)
        return result;
    int n = request.response.count < size - 1 ? request.response.count : size - 1;
    memcpy(reply, request.response.data, (size_t)n);
    reply[n] = 0;
    return 0;
}

// ---------------------------------------------------------------- record

void ReadUpdateRecord()
{
    UpdateCheckRecord record;
    memset(&record, 0, sizeof record);
    ReadRecordFile(kRecordName, -1, &record, (int)sizeof record, 0);
    record.seenVersion[UPDATE_TEXT_SIZE - 1] = 0;
    if (record.intervalDays == 0)
        record.enabled = 1;   // never configured
    if (record.intervalDays <= UPDATE_MIN_DAYS)
        record.intervalDays = UPDATE_MIN_DAYS;
    gUpdateRecord = record;
}

void WriteUpdateRecord()
{
    gUpdateRecord.zero1 = 0;
    gUpdateRecord.zero2 = 0;
    WriteRecordFile(kRecordName, -1, &gUpdateRecord, (int)sizeof gUpdateRecord, 0);
}

bool ParseVersionReply(const char *text, int version[3])
{
    return text && sscanf(text, "%d.%d.%d", &version[0], &version[1], &version[2]) == 3;
}

bool IsNewerVersion(const int version[3])
{
    const int own[3] = {gApp.versionMajor, gApp.versionMinor, gApp.versionBuild};
    for (int i = 0; i < 3; i++)
        if (version[i] != own[i])
            return version[i] > own[i];
    return false;
}

static const char *InstallText(int offset)
{
    return (const char *)gApp.installRecord + offset;
}

// ---------------------------------------------------------------- status line

// Texts go to the dialog from the worker as well: never wait long on the
// dialog's thread, which may itself be waiting for the worker to stop.
static void SetDialogText(HWND dialog, int id, const char *text)
{
    HWND control = GetDlgItem(dialog, id);
    if (control)
        SendMessageTimeoutA(control, WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG,
                            UPDATE_TEXT_WAIT_MS, 0);
}

static void ShowStatusLine(const char *text)
{
    HWND dialog = gUpdateDialog;
    if (dialog)
        SetDialogText(dialog, IDC_UPD_STATUS, text);
}

static void ShowStatus(int variant)
{
    const char *text = gApp.strings.GetText(TEXT_ID, variant);
    ShowStatusLine(text ? text : "");
}

// A failed fetch: the table's text, and for a refused server certificate
// also why, since the user can do something about that one.
static void ShowFetchFailure(int result)
{
    const char *text = gApp.strings.GetText(TEXT_ID, TEXT_DOWNLOAD_ERROR);
    char line[UPDATE_TEXT_SIZE];
    if (IsCertificateRefusal(result))
        snprintf(line, sizeof line, "%s - %s", text ? text : "", HttpResultText(result));
    else
        CopyText(line, text ? text : "", sizeof line);
    ShowStatusLine(line);
}

// ---------------------------------------------------------------- starting

// The worker that serves its own dialog (its thread id, 0 none) and a
// request that it check again in place: that worker holds the running byte
// for as long as its dialog is open, so waiting for it would wait for the
// user, and from its own dialog it would wait for itself.
static volatile LONG gServingThread;
static volatile LONG gCheckAgain;
// The moment the latest check was asked for (seconds since 1970 UTC): what
// a successful check stores as its day, whichever thread runs it.
static volatile int64_t gCheckTime;

// Handles what waits in this thread's queue; false once WM_QUIT came (it is
// posted again for the loop that owns it).
static bool PumpWaitingMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);
            return false;
        }
        HWND dialog = gUpdateDialog;
        if (!dialog || !IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

// Waits for handle (0: just milliseconds) while this thread's windows go on
// being served. True when the handle was signalled.
static bool WaitServingMessages(HANDLE handle, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds)
            return false;
        DWORD answer = MsgWaitForMultipleObjectsEx(handle ? 1 : 0, handle ? &handle : 0,
                                                   milliseconds - spent, QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
        if (handle && answer == WAIT_OBJECT_0)
            return true;
        if (answer == WAIT_FAILED) {
            Sleep(1);   // never spin on a failing wait
            continue;
        }
        if (!PumpWaitingMessages())
            return handle && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    }
}

// Hands a new check to the worker serving its dialog; false when there is
// none (any more), so the caller starts a worker of its own.
static bool AskServingWorker()
{
    InterlockedExchange(&gCheckAgain, 1);
    DWORD thread = (DWORD)gServingThread;
    if (thread) {
        PostThreadMessageA(thread, WM_NULL, 0, 0);   // wakes its loop
        return true;
    }
    // The worker left its loop meanwhile: take the request back unless it
    // saw it already.
    return InterlockedExchange(&gCheckAgain, 0) == 0;
}

int LaunchUpdateCheck(int64_t now)
{
    gCheckTime = now;
    if (gUpdateRunning && gServingThread && AskServingWorker())
        return UPDATE_STARTED;
    // Messages are served while a running check is stopped, so a call from a
    // window (a dialog's "Check now", the daily tick) freezes nothing.
    static volatile LONG waiting;
    if (InterlockedExchange(&waiting, 1))
        return UPDATE_STARTED;   // a call further out is starting one already
    for (int round = 0; gUpdateRunning && round < UPDATE_STOP_ROUNDS; round++) {
        if (gServingThread && AskServingWorker()) {
            InterlockedExchange(&waiting, 0);
            return UPDATE_STARTED;
        }
        gUpdateCancel = 1;
        WaitServingMessages(0, 10);
    }
    InterlockedExchange(&waiting, 0);
    if (gUpdateRunning)
        return UPDATE_STILL_RUNNING;
    gUpdateCancel = 0;
    gUpdateRunning = 1;
    HANDLE thread = CreateThread(0, 0, UpdateCheckThread, 0, 0, 0);
    if (!thread) {
        gUpdateRunning = 0;
        // Told here, whoever asked ("Check now", the daily tick), when the
        // dialog is open.
        ShowStatus(TEXT_NOT_STARTED);
        return UPDATE_NO_THREAD;
    }
    CloseHandle(thread);
    return UPDATE_STARTED;
}

static bool UpdateDue(int64_t now)
{
    return gUpdateRecord.enabled &&
           now - gUpdateRecord.lastCheck > (int64_t)gUpdateRecord.intervalDays * DAY_SECONDS;
}

int StartUpdateCheck(int64_t now)
{
    ReadUpdateRecord();
    return UpdateDue(now) ? LaunchUpdateCheck(now) : UPDATE_NOT_DUE;
}

// ---------------------------------------------------------------- dialog texts

static void ShowLastCheck(HWND dialog)
{
    char text[UPDATE_TEXT_SIZE];
    time_t when = (time_t)gUpdateRecord.lastCheck;
    struct tm *day = gmtime(&when);
    const char *format = gApp.strings.GetText(TEXT_ID, TEXT_LAST_CHECK);
    snprintf(text, sizeof text, format ? format : "%02d.%02d.%04d", day ? day->tm_mday : 1,
             day ? day->tm_mon + 1 : 1, day ? day->tm_year + 1900 : 1970);
    SetDialogText(dialog, IDC_UPD_STATUS, text);
}

static void ShowReply(HWND dialog, const char *reply, bool newer)
{
    SetDialogText(dialog, IDC_UPD_REPLY, reply);
    ShowStatus(newer ? TEXT_NEWER : TEXT_NOT_NEWER);
    EnableWindow(GetDlgItem(dialog, IDC_UPD_DOWNLOAD), newer);
}

// ---------------------------------------------------------------- worker

static HWND CreateUpdateDialog(HWND owner)
{
    HWND dialog = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(IDD_FW_UPDATECHECK), owner,
                                     UpdateCheckDialogProc, 0);
    if (dialog) {
        gUpdateDialog = dialog;
        ShowWindow(dialog, SW_SHOWNORMAL);
    }
    return dialog;
}

struct FetchJob {
    char reply[UPDATE_TEXT_SIZE];
    int result;
};

static DWORD WINAPI FetchThread(LPVOID parameter)
{
    FetchJob *job = (FetchJob *)parameter;
    job->result = FetchVersionText(InstallText(UPDATE_CHECK_URL_OFFSET), &gUpdateCancel, job->reply,
                               sizeof job->reply);
    return 0;
}

// The version text into reply: on this thread, or, while this thread serves
// the dialog, on a helper thread so that the dialog stays alive meanwhile.
static int FetchVersion(char *reply, int size, bool serving)
{
    FetchJob job;
    job.reply[0] = 0;
    job.result = HTTP_SEND_FAILED;
    HANDLE helper = serving ? CreateThread(0, 0, FetchThread, &job, 0, 0) : 0;
    if (helper) {
        // Only a WM_QUIT ends the serving wait early: then wait plainly.
        if (!WaitServingMessages(helper, INFINITE - 1))
            WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    } else {
        FetchThread(&job);
    }
    CopyText(reply, job.reply, size);
    return job.result;
}

// One check: fetch, compare, show, store. The dialog this call created (to
// be served by the caller), or 0.
static HWND RunCheck(bool serving)
{
    ReadUpdateRecord();
    ShowStatus(TEXT_CHECKING);
    char reply[UPDATE_TEXT_SIZE];
    int version[3];
    HWND created = 0;
    int fetched = FetchVersion(reply, sizeof reply, serving);
    if (fetched != 0) {
        ShowFetchFailure(fetched);
    } else if (!ParseVersionReply(reply, version)) {
        ShowStatus(TEXT_FORMAT_ERROR);
    } else if (!gUpdateCancel) {
        bool newer = IsNewerVersion(version);
        gUpdateRecord.newer = newer;
        // A newer version the user was already shown opens nothing again.
        if (newer && !gUpdateDialog && strcmp(reply, gUpdateRecord.seenVersion) != 0)
            created = CreateUpdateDialog(0);
        if (gUpdateDialog)
            ShowReply(gUpdateDialog, reply, newer);
        gUpdateRecord.lastCheck = gCheckTime / DAY_SECONDS * DAY_SECONDS;
        CopyText(gUpdateRecord.seenVersion, reply, UPDATE_TEXT_SIZE);
        WriteUpdateRecord();
    }
    return created;
}

// The worker's own dialog until it closes. "Check now" in it, and a check
// started elsewhere meanwhile, run here again (see LaunchUpdateCheck).
static void ServeOwnDialog(HWND dialog)
{
    InterlockedExchange(&gServingThread, (LONG)GetCurrentThreadId());
    MSG msg;
    while (gUpdateDialog == dialog) {
        if (InterlockedExchange(&gCheckAgain, 0)) {
            gUpdateCancel = 0;
            RunCheck(true);
            continue;
        }
        if (GetMessageA(&msg, 0, 0, 0) <= 0)
            break;
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    InterlockedExchange(&gServingThread, 0);
}

DWORD WINAPI UpdateCheckThread(LPVOID)
{
    HWND created = RunCheck(false);
    while (created) {
        ServeOwnDialog(created);
        // A request that came as the dialog closed is still honoured.
        created = 0;
        if (InterlockedExchange(&gCheckAgain, 0)) {
            gUpdateCancel = 0;
            created = RunCheck(false);
        }
    }
    gUpdateRunning = 0;
    return 0;
}

// ---------------------------------------------------------------- dialog

static void FollowEnabled(HWND dialog)
{
    bool on = IsDlgButtonChecked(dialog, IDC_UPD_ENABLED) == BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_UPD_INTERVAL), on);
    EnableWindow(GetDlgItem(dialog, IDC_UPD_DAYS), on);
}

// The version, label, reply and status texts take the dialog font, which
// the dialog's own child preparation gives only to buttons.
static void SetTextFonts(HWND dialog, HFONT font)
{
    if (!font)
        return;
    for (int id = IDC_UPD_OWN; id <= IDC_UPD_STATUS; id++)
        SendDlgItemMessageA(dialog, id, WM_SETFONT, (WPARAM)font, TRUE);
}

static void InitUpdateDialog(HWND dialog)
{
    SetTextFonts(dialog, InitDialog(dialog));
    char text[UPDATE_TEXT_SIZE];
    const char *title = gApp.strings.GetText(TEXT_ID, TEXT_TITLE);
    snprintf(text, sizeof text, "%s %s", gApp.productName, title ? title : "");
    SetWindowTextA(dialog, text);
    snprintf(text, sizeof text, "%d.%d.%d", gApp.versionMajor, gApp.versionMinor,
             gApp.versionBuild);
    SetDlgItemTextA(dialog, IDC_UPD_OWN, text);
    CheckDlgButton(dialog, IDC_UPD_ENABLED, gUpdateRecord.enabled ? BST_CHECKED : BST_UNCHECKED);
    FollowEnabled(dialog);
    SetDlgItemInt(dialog, IDC_UPD_INTERVAL, (UINT)gUpdateRecord.intervalDays, FALSE);
    SetDlgItemTextA(dialog, IDC_UPD_REPLY, gUpdateRecord.seenVersion);
    EnableWindow(GetDlgItem(dialog, IDC_UPD_DOWNLOAD), gUpdateRecord.newer);
    ShowLastCheck(dialog);
}

static void CloseUpdateDialog(HWND dialog)
{
    gUpdateCancel = 1;   // a running check ends
    if (gUpdateDialog == dialog)
        gUpdateDialog = 0;
    DestroyWindow(dialog);
}

static void AcceptUpdateDialog(HWND dialog)
{
    gUpdateRecord.enabled = IsDlgButtonChecked(dialog, IDC_UPD_ENABLED) == BST_CHECKED;
    int days = GetDlgItemNumber(dialog, IDC_UPD_INTERVAL, UPDATE_MIN_DAYS, UPDATE_MAX_DAYS, false);
    gUpdateRecord.intervalDays = days < UPDATE_MIN_DAYS   ? UPDATE_MIN_DAYS
                                 : days > UPDATE_MAX_DAYS ? UPDATE_MAX_DAYS
                                                          : days;
    WriteUpdateRecord();
    ReadUpdateRecord();
    int64_t now = (int64_t)time(0);
    bool due = UpdateDue(now);
    // Closed before the launch, not after: closing sets the cancel byte,
    // which would stop the new check at once. So a launch that fails finds
    // no dialog to tell.
    CloseUpdateDialog(dialog);
    if (due)
        LaunchUpdateCheck(now);
}

static void RunUpdateCommand(HWND dialog, int id)
{
    switch (id) {
    case IDC_UPD_ENABLED:
        FollowEnabled(dialog);
        break;
    case IDC_UPD_CHECKNOW:
        LaunchUpdateCheck((int64_t)time(0));
        break;
    case IDC_UPD_DOWNLOAD:
        ShellExecuteUnelevated(InstallText(UPDATE_DOWNLOAD_URL_OFFSET), 0, 0, 0, SW_SHOWNORMAL);
        break;
    case IDOK:
        AcceptUpdateDialog(dialog);
        break;
    case IDCANCEL:
        CloseUpdateDialog(dialog);
        break;
    case 9:   // help
        AskFirstFrameForHelp("About");
        break;
    }
}

INT_PTR CALLBACK UpdateCheckDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitUpdateDialog(dialog);
        return TRUE;
    case WM_SHOWWINDOW:
        if (wParam)
            gUpdateDialog = dialog;
        return FALSE;
    case WM_DESTROY:
        // Destroyed with its owner, too: the handle must not outlive it.
        if (gUpdateDialog == dialog)
            gUpdateDialog = 0;
        return FALSE;
    case WM_COMMAND:
        RunUpdateCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_HELP:
        RunUpdateCommand(dialog, 9);
        return TRUE;
    case WM_DPICHANGED:
        SetTextFonts(dialog, UpdateDialogFonts(dialog, HIWORD(wParam)));
        return FALSE;
    }
    return FALSE;
}

HWND OpenUpdateCheckDialog(HWND owner)
{
    if (gUpdateDialog) {
        SetForegroundWindow(gUpdateDialog);
        return gUpdateDialog;
    }
    ReadUpdateRecord();
    return CreateUpdateDialog(owner);
}
