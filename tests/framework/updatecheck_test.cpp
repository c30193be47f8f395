// The update check against a local server standing in for the maker's
// version file (run_http_test.sh starts http_servers.py; its /version route
// answers what /setversion last set, after the delay asked for): the
// record's layout and normalisation, the due rule, version comparison, a
// newer reply opening the dialog only the first time, failures and
// cancellation leaving the record alone, a refused server certificate named
// in the status line, the dialog's settings, and a check that cannot get its
// thread (the address space reserved) told in the dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/httpclient.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/ui/graphics.h"
#include "framework/updatecheck.h"
#include "resources/resource.h"
#include "testutil.h"

namespace {

int64_t gNow = 1765000000;   // the clock the test hands to the check

std::string ServerUrl(const std::string &path)
{
    const char *port = getenv("VT_HTTP_PORT");
    return "http://127.0.0.1:" + std::string(port ? port : "0") + path;
}

// A request to the server's own routes; the body, or "" on failure.
std::string ServerGet(const std::string &path)
{
    CHttpRequest request;
    if (request.Get(ServerUrl(path).c_str(), false, 0, 0, 0, false) != 0)
        return "";
    return std::string((const char *)request.response.data, (size_t)request.response.count);
}

// What the version file answers from now on.
void SetVersion(const char *text, int code = 200, int delayMs = 0)
{
    char path[256];
    snprintf(path, sizeof path, "/setversion?text=%s&code=%d&ms=%d", text, code, delayMs);
    ASSERT_EQ("set", ServerGet(path));
}

// How many times the version file was asked for since the last reset.
int Fetches()
{
    return atoi(ServerGet("/count?name=/version").c_str());
}

bool WaitForFetches(int count)
{
    for (int i = 0; i < 150 && Fetches() < count; i++)
        Sleep(20);
    return Fetches() >= count;
}

bool WaitIdle()
{
    for (int i = 0; i < 500 && gUpdateRunning; i++)
        Sleep(10);
    return !gUpdateRunning;
}

HWND WaitForDialog()
{
    for (int i = 0; i < 300 && !gUpdateDialog; i++)
        Sleep(10);
    return gUpdateDialog;
}

std::string DialogText(HWND dialog, int id)
{
    char text[260] = "";
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, (LPARAM)text,
                        SMTO_ABORTIFHUNG, 2000, 0);
    return text;
}

// The dialog item's text once it reads expected, or what it reads after
// rounds waits of 10 ms: the worker fills the dialog in its own time.
std::string WaitForText(HWND dialog, int id, const std::string &expected, int rounds = 300)
{
    for (int i = 0; i < rounds && DialogText(dialog, id) != expected; i++)
        Sleep(10);
    return DialogText(dialog, id);
}

class UpdateCheck : public ::testing::Test {
protected:
    std::string folder;
    void SetUp() override
    {
        if (!getenv("VT_HTTP_PORT")) {
            if (getenv("CI") && !strcmp(getenv("CI"), "true"))
                FAIL() << "no local version server (run through run_http_test.sh)";
            GTEST_SKIP() << "no local version server (run through run_http_test.sh)";
        }
        folder = FreshTempFolder("update-" + std::string(::testing::UnitTest::GetInstance()
                                                             ->current_test_info()
                                                             ->name()));
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
        gApp.versionMajor = 2;
        gApp.versionMinor = 9;
        gApp.versionBuild = 15;
        gApp.instance = GetModuleHandleA(0);
        CopyText((char *)gApp.installRecord + UPDATE_CHECK_URL_OFFSET,
                 ServerUrl("/version").c_str(), INSTALL_RECORD_TEXT_BYTES);
        ASSERT_EQ("reset", ServerGet("/reset"));
        SetVersion("2.10.3");
    }
    void TearDown() override
    {
        if (gUpdateDialog)
            PostMessageA(gUpdateDialog, WM_COMMAND, IDCANCEL, 0);
        WaitIdle();
        if (!folder.empty())
            RemoveTree(folder);
    }
    static void Store(int64_t lastCheck, int interval, bool enabled, const char *seen)
    {
        UpdateCheckRecord record = {};
        CopyText(record.seenVersion, seen, UPDATE_TEXT_SIZE);
        record.lastCheck = lastCheck;
        record.enabled = enabled;
        record.intervalDays = interval;
        ASSERT_EQ(280, WriteRecordFile("(QRF)UpdateCheck", -1, &record, sizeof record, 0));
    }
    UpdateCheckRecord Stored()
    {
        UpdateCheckRecord record = {};
        ReadRecordFile("(QRF)UpdateCheck", -1, &record, sizeof record, 0);
        return record;
    }
};

TEST_F(UpdateCheck, RecordIsNormalisedAndDueAfterTheInterval)
{
    Store(0, 0, false, "");
    ReadUpdateRecord();
    EXPECT_EQ(1, gUpdateRecord.enabled);   // never configured
    EXPECT_EQ(7, gUpdateRecord.intervalDays);
    Store(0, 3, false, "");
    ReadUpdateRecord();
    EXPECT_EQ(0, gUpdateRecord.enabled);
    EXPECT_EQ(7, gUpdateRecord.intervalDays);

    Store(gNow - 7 * 86400, 7, true, "");
    EXPECT_EQ(UPDATE_NOT_DUE, StartUpdateCheck(gNow));
    SetVersion("2.9.15");   // not newer: no dialog
    Store(gNow - 7 * 86400 - 1, 7, true, "");
    EXPECT_EQ(UPDATE_STARTED, StartUpdateCheck(gNow));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(gNow / 86400 * 86400, Stored().lastCheck);   // the day of the clock handed in
    Store(0, 30, false, "");
    EXPECT_EQ(UPDATE_NOT_DUE, StartUpdateCheck(gNow));   // switched off
    EXPECT_EQ(1, Fetches());
}

TEST_F(UpdateCheck, VersionsCompareMajorFirst)
{
    int v[3];
    ASSERT_TRUE(ParseVersionReply("2.10.3\r\n", v));
    EXPECT_TRUE(IsNewerVersion(v));
    ASSERT_TRUE(ParseVersionReply("2.9.15", v));
    EXPECT_FALSE(IsNewerVersion(v));
    ASSERT_TRUE(ParseVersionReply("3.0.0", v));
    EXPECT_TRUE(IsNewerVersion(v));
    ASSERT_TRUE(ParseVersionReply("2.9.14", v));
    EXPECT_FALSE(IsNewerVersion(v));
    EXPECT_FALSE(ParseVersionReply("abc", v));
    EXPECT_FALSE(ParseVersionReply("2.9", v));
}

TEST_F(UpdateCheck, ANewerReplyOpensTheDialogOnlyTheFirstTime)
{
    Store(0, 7, true, "");
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    HWND dialog = WaitForDialog();
    ASSERT_TRUE(dialog);
    // The worker fills the dialog after creating it.
    WaitForText(dialog, IDC_UPD_STATUS, "New version available", 100);
    EXPECT_EQ("New version available", DialogText(dialog, IDC_UPD_STATUS));
    EXPECT_EQ("2.10.3", DialogText(dialog, IDC_UPD_REPLY));
    EXPECT_EQ("2.9.15", DialogText(dialog, IDC_UPD_OWN));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPD_DOWNLOAD)));
    char title[260];
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ("Veltaspar Update Check", title);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(gUpdateDialog);

    UpdateCheckRecord record = Stored();
    EXPECT_STREQ("2.10.3", record.seenVersion);
    EXPECT_EQ(gNow / 86400 * 86400, record.lastCheck);
    EXPECT_EQ(1, record.newer);

    // The same reply again: the record moves, nothing opens.
    int64_t later = gNow + 8 * 86400;
    ASSERT_EQ(UPDATE_STARTED, StartUpdateCheck(later));
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(gUpdateDialog);
    EXPECT_EQ(later / 86400 * 86400, Stored().lastCheck);
    EXPECT_EQ(2, Fetches());
}

TEST_F(UpdateCheck, FailuresAndCancelLeaveTheRecordAlone)
{
    Store(12 * 86400, 7, true, "1.0.0");
    SetVersion("abc");
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(12 * 86400, Stored().lastCheck);
    EXPECT_STREQ("1.0.0", Stored().seenVersion);

    SetVersion("9.0.0", 404);
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(12 * 86400, Stored().lastCheck);
    EXPECT_EQ(2, Fetches());

    // A new start cancels the running check, which ends without writing:
    // the server would answer only after eight seconds.
    SetVersion("9.0.0", 200, 8000);
    DWORD start = GetTickCount();
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    ASSERT_TRUE(WaitForFetches(3));
    gUpdateCancel = 1;
    ASSERT_TRUE(WaitIdle());
    EXPECT_LT(GetTickCount() - start, 6000u);
    EXPECT_EQ(12 * 86400, Stored().lastCheck);
    EXPECT_STREQ("1.0.0", Stored().seenVersion);
}

TEST_F(UpdateCheck, TheUsersDialogShowsAndStoresTheSettings)
{
    // OK decides on the real clock whether a check is due.
    int64_t realNow = (int64_t)time(0);
    Store(realNow - 2 * 86400, 14, true, "2.9.15");
    HWND dialog = OpenUpdateCheckDialog(0);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog, gUpdateDialog);
    EXPECT_EQ("2.9.15", DialogText(dialog, IDC_UPD_REPLY));
    EXPECT_EQ("14", DialogText(dialog, IDC_UPD_INTERVAL));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPD_DOWNLOAD)));
    time_t last = (time_t)(realNow - 2 * 86400);
    char expected[64];
    struct tm *day = gmtime(&last);
    snprintf(expected, sizeof expected, "Last check: %02d.%02d.%04d", day->tm_mday,
             day->tm_mon + 1, day->tm_year + 1900);
    EXPECT_EQ(expected, DialogText(dialog, IDC_UPD_STATUS));

    // Switching off greys the interval; OK stores it clamped.
    SendMessageA(GetDlgItem(dialog, IDC_UPD_ENABLED), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPD_INTERVAL)));
    SendMessageA(GetDlgItem(dialog, IDC_UPD_ENABLED), BM_CLICK, 0, 0);
    SetDlgItemTextA(dialog, IDC_UPD_INTERVAL, "3");
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(gUpdateDialog);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(7, Stored().intervalDays);
    EXPECT_EQ(1, Stored().enabled);
    Sleep(200);
    EXPECT_EQ(0, Fetches());   // two days ago is within seven
}

// The worker's own dialog: "Check now" runs the check again at once on the
// worker, without waiting for itself, and shows the new answer.
TEST_F(UpdateCheck, CheckNowInTheWorkersOwnDialogChecksAgainInPlace)
{
    Store(0, 7, true, "");
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    HWND dialog = WaitForDialog();
    ASSERT_TRUE(dialog);
    WaitForText(dialog, IDC_UPD_STATUS, "New version available", 200);
    ASSERT_EQ(1, Fetches());

    SetVersion("2.9.15");   // meanwhile the newer version was withdrawn
    DWORD start = GetTickCount();
    PostMessageA(GetDlgItem(dialog, IDC_UPD_CHECKNOW), BM_CLICK, 0, 0);
    WaitForText(dialog, IDC_UPD_STATUS, "No update available");
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_EQ("No update available", DialogText(dialog, IDC_UPD_STATUS));
    EXPECT_EQ("2.9.15", DialogText(dialog, IDC_UPD_REPLY));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_UPD_DOWNLOAD)));
    EXPECT_EQ(2, Fetches());
    EXPECT_TRUE(gUpdateRunning);   // the same worker, still serving its dialog
    EXPECT_EQ(dialog, gUpdateDialog);
    EXPECT_STREQ("2.9.15", Stored().seenVersion);
    // What the user sees now, for a look by eye.
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string shots = std::string(here) + "\\update-shot", report;
    CreateDirectoryA(shots.c_str(), 0);
    int shot = RunHostScript(
        shots, "command -v import >/dev/null && import -window root ../update-checknow.png", &report);
    if (getenv("CI") && !strcmp(getenv("CI"), "true"))
        EXPECT_EQ(0, shot) << "no screenshot of the dialog";

    // While the slow check runs in place, the dialog still answers.
    SetVersion("2.9.15", 200, 1500);
    PostMessageA(GetDlgItem(dialog, IDC_UPD_CHECKNOW), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFetches(3));
    ASSERT_EQ(3, Fetches());
    DWORD_PTR answer = 0;
    start = GetTickCount();
    EXPECT_TRUE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer));
    EXPECT_LT(GetTickCount() - start, 500u);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitIdle());
    EXPECT_FALSE(gUpdateDialog);
}

// A server certificate the HTTP client refused is named in the status line;
// other failures keep the table's text.
TEST_F(UpdateCheck, ARefusedServerCertificateIsNamedInTheStatus)
{
    const char *selfSigned = getenv("VT_HTTPS_SELF_PORT");
    ASSERT_TRUE(selfSigned);
    Store(0, 7, true, "");
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    HWND dialog = WaitForDialog();
    ASSERT_TRUE(dialog);
    WaitForText(dialog, IDC_UPD_STATUS, "New version available", 200);

    std::string url = "https://127.0.0.1:" + std::string(selfSigned) + "/version";
    CopyText((char *)gApp.installRecord + UPDATE_CHECK_URL_OFFSET, url.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    const std::string refused = "Version download error - Server certificate not trusted";
    PostMessageA(GetDlgItem(dialog, IDC_UPD_CHECKNOW), BM_CLICK, 0, 0);
    EXPECT_EQ(refused, WaitForText(dialog, IDC_UPD_STATUS, refused));
    EXPECT_EQ(1, Fetches());   // the refused server was never asked

    SetVersion("9.0.0", 404);
    CopyText((char *)gApp.installRecord + UPDATE_CHECK_URL_OFFSET, ServerUrl("/version").c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    PostMessageA(GetDlgItem(dialog, IDC_UPD_CHECKNOW), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForFetches(2));
    EXPECT_EQ("Version download error",
              WaitForText(dialog, IDC_UPD_STATUS, "Version download error"));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitIdle());
}

// A dialog the worker opened and the user left open past the interval: the
// daily tick neither freezes for five seconds nor gives up; the worker
// checks again.
TEST_F(UpdateCheck, DailyTickWhileTheWorkersDialogIsOpen)
{
    Store(0, 7, true, "");
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    HWND dialog = WaitForDialog();
    ASSERT_TRUE(dialog);
    WaitForText(dialog, IDC_UPD_STATUS, "New version available", 200);
    int64_t later = gNow + 8 * 86400;
    SetVersion("2.11.0");
    DWORD start = GetTickCount();
    EXPECT_EQ(UPDATE_STARTED, StartUpdateCheck(later));
    EXPECT_LT(GetTickCount() - start, 500u);
    WaitForText(dialog, IDC_UPD_REPLY, "2.11.0");
    EXPECT_EQ("2.11.0", DialogText(dialog, IDC_UPD_REPLY));
    EXPECT_EQ(2, Fetches());
    EXPECT_EQ(later / 86400 * 86400, Stored().lastCheck);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitIdle());
}

namespace {

LONG gPumped;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        gPumped++;
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

// Stopping a running check that takes its time: the caller's windows are
// served meanwhile.
TEST_F(UpdateCheck, WaitingForARunningCheckServesTheCallersWindows)
{
    WNDCLASSA cls = {};
    cls.lpfnWndProc = CountingProc;
    cls.hInstance = GetModuleHandleA(0);
    cls.lpszClassName = "VtUpdateWaitProbe";
    RegisterClassA(&cls);
    HWND window = CreateWindowA("VtUpdateWaitProbe", "", 0, 0, 0, 0, 0, 0, 0, cls.hInstance, 0);
    ASSERT_TRUE(window);
    Store(0, 7, true, "2.9.15");
    // A server that answers only after 700 ms: the second start cancels the
    // first check and waits for its worker to end, serving this thread's
    // window meanwhile, and only then starts its own.
    SetVersion("2.9.15", 200, 700);
    ASSERT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));
    ASSERT_TRUE(WaitForFetches(1));
    gPumped = 0;
    PostMessageA(window, WM_APP, 0, 0);
    DWORD start = GetTickCount();
    EXPECT_EQ(UPDATE_STARTED, LaunchUpdateCheck(gNow));   // waits for the first to end
    EXPECT_LT(GetTickCount() - start, 600u) << "the running request was not cut short";
    EXPECT_EQ(1, gPumped);
    ASSERT_TRUE(WaitForFetches(2));
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(2, Fetches());
    EXPECT_EQ(gNow / 86400 * 86400, Stored().lastCheck);   // the second check came through
    DestroyWindow(window);
}

// Reserves the free address space in blocks of 1 MB, so that no new thread
// finds room for its stack while smaller allocations still fit in the gaps
// left; the blocks, for ReleaseBlocks.
std::vector<void *> FillAddressSpace()
{
    std::vector<void *> blocks;
    blocks.reserve(4096);
    for (size_t i = 0; i < 4096; i++) {
        void *block = VirtualAlloc(0, 1 << 20, MEM_RESERVE, PAGE_NOACCESS);
        if (!block)
            break;
        blocks.push_back(block);
    }
    return blocks;
}

DWORD WINAPI DoNothing(LPVOID)
{
    return 0;
}

void ReleaseBlocks(std::vector<void *> &blocks)
{
    for (void *block : blocks)
        VirtualFree(block, 0, MEM_RELEASE);
    blocks.clear();
}

// A due check that cannot get its thread, asked for by the daily tick while
// the user's dialog is open: the dialog says so, not only after "Check now".
TEST_F(UpdateCheck, ADailyCheckWithoutAThreadSaysSoInTheOpenDialog)
{
    Store(0, 7, true, "2.9.15");
    HWND dialog = OpenUpdateCheckDialog(0);
    ASSERT_TRUE(dialog);
    std::vector<void *> blocks = FillAddressSpace();
    HANDLE probe = CreateThread(0, 0, DoNothing, 0, 0, 0);
    int started = probe ? -1 : StartUpdateCheck(gNow);
    ReleaseBlocks(blocks);
    if (probe) {
        WaitForSingleObject(probe, 5000);
        CloseHandle(probe);
        FAIL() << "a thread still started with the address space reserved";
    }
    EXPECT_EQ(UPDATE_NO_THREAD, started);
    EXPECT_FALSE(gUpdateRunning);
    EXPECT_EQ("Could not start update check", DialogText(dialog, IDC_UPD_STATUS));
    EXPECT_EQ(0, Fetches());
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

HWND gHelpFrame;
WPARAM gHelpTopic;
int gHelpCount;
LRESULT CALLBACK HelpFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == QRFM_HELP) {
        gHelpCount++;
        gHelpTopic = wParam;
        return 0;
    }
    return DefFrameWindowProc(window, message, wParam, lParam);
}

// The texts carry the dialog font, as its buttons do; Help goes to the first
// frame window with the topic "About".
TEST_F(UpdateCheck, TextsTakeTheDialogFontAndHelpGoesToTheFirstFrame)
{
    Store(gNow - 2 * 86400, 14, true, "2.9.15");
    // The first frame of the frame list, its messages seen first by HelpFrameProc.
    ASSERT_EQ(0, CreateFrameWindow(0, HelpFrameProc, "Help", 1, 0, 0, 0, 200, 100));
    gHelpFrame = gFrames.data[0]->window;
    gHelpCount = 0;
    HWND dialog = OpenUpdateCheckDialog(0);
    ASSERT_TRUE(dialog);
    HFONT buttonFont = (HFONT)SendDlgItemMessageA(dialog, IDOK, WM_GETFONT, 0, 0);
    ASSERT_TRUE(buttonFont != 0);
    for (int id : {IDC_UPD_OWN, IDC_UPD_LABEL, IDC_UPD_REPLY, IDC_UPD_STATUS})
        EXPECT_EQ(buttonFont, (HFONT)SendDlgItemMessageA(dialog, id, WM_GETFONT, 0, 0)) << id;
    SendMessageA(GetDlgItem(dialog, 9), BM_CLICK, 0, 0);
    EXPECT_EQ(1, gHelpCount);
    EXPECT_STREQ("About", (const char *)gHelpTopic);
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    DestroyFrameWindows();
}

}  // namespace
