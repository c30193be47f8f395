// The program options dialog on the real templates, driven from a helper
// thread with real control messages while ShowProgramOptions runs modally:
// every page's round trip, clamps, defaults and enabling, Cancel restoring,
// the worker starts, status texts, the API-key reminder, the METAR test and
// the connection test, and one screenshot per page. Everything the dialog
// calls is real: the cloud and weather workers fetch from the local servers
// of run_http_test.sh (their runs seen in the stamps they write and in the
// requests the server counts), the connection test goes through the local
// proxy, the message boxes are answered by a helper thread, help files and
// web addresses open in this program registered as their viewer in the test's
// own Wine prefix, Ctrl and Shift are held through the keyboard state, the
// tray icon is the shell's, and the monitors are the display's.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <functional>
#include <string>
#include <vector>

#include "earth/clouds.h"
#include "shell/progress.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/framelist.h"
#include "framework/httpclient.h"
#include "framework/installrecord.h"
#include "framework/ui/framewindow.h"
#include "framework/utilities.h"
#include "shell/entry.h"
#include "shell/optionspages.h"
#include "shell/program.h"
#include "testutil.h"

namespace {

// ---------------------------------------------------------------- the local servers

const char kServerDate[] = "Sat, 01 Feb 2025 10:00:00 GMT";   // /file is not newer

std::string ServerUrl(const std::string &path, const char *port = "VT_HTTP_PORT")
{
    const char *number = getenv(port);
    return "http://127.0.0.1:" + std::string(number ? number : "0") + path;
}

std::string ServerGet(const std::string &url)
{
    CHttpRequest request;
    if (request.Get(url.c_str(), false, 0, 0, 0, false) != 0)
        return "";
    return std::string((const char *)request.response.data, (size_t)request.response.count);
}

int Requests(const char *route)
{
    return atoi(ServerGet(ServerUrl(std::string("/count?name=") + route)).c_str());
}

// What the home page (the connection test's address) answers.
void SetHome(int code, int delayMs)
{
    char path[128];
    snprintf(path, sizeof path, "/setversion?text=home&code=%d&ms=%d", code, delayMs);
    ServerGet(ServerUrl(path));
}

// Every cloud picture address at the local server, whose picture is never
// newer than the one held, and the last download just now: nothing is due.
void PointCloudsAtServer(PrefsRecord *p)
{
    for (int i = 0; i < 4; i++)
        CopyText(p->szCloudsUrl[i], ServerUrl("/file?size=100").c_str(), sizeof p->szCloudsUrl[i]);
    CopyText(p->szModified, kServerDate, sizeof p->szModified);
    p->tCloudsDown = (int64_t)time(0);
}

// A test holds the weather worker's busy flag itself to act as a running
// worker: then only the cloud worker is waited for.
bool gWeatherHeld;

bool WaitForWorkers()
{
    for (int i = 0; i < 500 && (gCloudUpdaterBusy || (gWeatherBusy && !gWeatherHeld)); i++)
        Sleep(20);
    return !gCloudUpdaterBusy && (gWeatherHeld || !gWeatherBusy);
}

bool Recent(int64_t t) { return t >= (int64_t)time(0) - 120; }

// The cloud worker asks the shell whether the options dialog is open each
// time it has rebuilt the cloud map (the one call up from the earth model
// into the shell): counted here.
volatile LONG gMapRebuilds;
bool CountMapRebuild()
{
    InterlockedIncrement(&gMapRebuilds);
    return false;
}

// ---------------------------------------------------------------- message boxes

struct SeenBox {
    std::string text;      // first line, "\n", the rest
    std::string buttons;   // visible O(k), C(ancel), Y(es), N(o)
    int defaultId;
};
std::vector<SeenBox> gBoxes;
CRITICAL_SECTION gBoxLock;
int gBoxAnswer = IDNO;
volatile LONG gStopAnswering;

std::string ItemText(HWND window, int id)
{
    char text[1100] = "";
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

// Answers every framework message box with gBoxAnswer while a dialog runs.
DWORD WINAPI AnswerBoxes(LPVOID)
{
    while (!gStopAnswering) {
        HWND box = 0;
        while ((box = FindWindowExA(0, box, "#32770", 0)) != 0)
            if (IsWindowVisible(box) && GetDlgItem(box, 50110))
                break;
        if (!box) {
            Sleep(30);
            continue;
        }
        Sleep(100);
        SeenBox seen;
        seen.text = ItemText(box, 50108);
        std::string rest = ItemText(box, 50109);
        if (!rest.empty())
            seen.text += "\n" + rest;
        const struct {
            int id;
            char letter;
        } kButtons[] = {{IDOK, 'O'}, {IDCANCEL, 'C'}, {IDYES, 'Y'}, {IDNO, 'N'}};
        for (const auto &button : kButtons) {
            HWND control = GetDlgItem(box, button.id);
            if (control && IsWindowVisible(control))
                seen.buttons += button.letter;
        }
        DWORD_PTR id = 0;
        SendMessageTimeoutA(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &id);
        seen.defaultId = LOWORD(id);
        EnterCriticalSection(&gBoxLock);
        gBoxes.push_back(seen);
        LeaveCriticalSection(&gBoxLock);
        PostMessageA(box, WM_COMMAND, (WPARAM)gBoxAnswer, 0);
        for (int i = 0; i < 100 && IsWindow(box); i++)
            Sleep(20);
    }
    return 0;
}

// ---------------------------------------------------------------- help and addresses

// This program stands in as the viewer of help files and web addresses:
// started with one such argument, it writes it to the file named in
// VT_VIEWER_LOG and ends.
const char kViewerLog[] = "VT_VIEWER_LOG";

bool RunAsViewer(int argc, char **argv)
{
    const char *log = getenv(kViewerLog);
    if (argc != 2 || !log || (!strstr(argv[1], "::/") && strncmp(argv[1], "http", 4) != 0))
        return false;
    FILE *file = fopen(log, "ab");
    if (file) {
        fprintf(file, "%s\n", argv[1]);
        fclose(file);
    }
    return true;
}

void SetDefaultValue(const char *key, const char *value)
{
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, 0, 0, KEY_SET_VALUE, 0, &handle, 0) ==
        ERROR_SUCCESS) {
        RegSetValueExA(handle, 0, 0, REG_SZ, (const BYTE *)value, (DWORD)strlen(value) + 1);
        RegCloseKey(handle);
    }
}

// Registers this program for ".chm" files and http and https addresses in
// the test's own prefix.
void RegisterViewer()
{
    char own[MAX_PATH];
    GetModuleFileNameA(0, own, MAX_PATH);
    std::string command = "\"" + std::string(own) + "\" \"%1\"";
    SetDefaultValue(".chm", "VtTestHelpFile");
    SetDefaultValue("VtTestHelpFile\\shell\\open\\command", command.c_str());
    for (const char *scheme : {"http", "https"}) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string(scheme) + "\\shell\\open\\ddeexec").c_str());
        SetDefaultValue((std::string(scheme) + "\\shell\\open\\command").c_str(), command.c_str());
    }
}

std::string gViewerLog;

std::vector<std::string> Viewed()
{
    std::vector<std::string> lines;
    std::string all = ReadWhole(gViewerLog);
    size_t start = 0, end;
    while ((end = all.find('\n', start)) != std::string::npos) {
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Waits until the viewer was started count times in all.
bool WaitForViewed(size_t count)
{
    for (int i = 0; i < 100 && Viewed().size() < count; i++)
        Sleep(100);
    return Viewed().size() >= count;
}

// The help files and topics opened: "<file name>|<topic>".
std::vector<std::string> HelpTopics()
{
    std::vector<std::string> topics;
    for (const std::string &line : Viewed()) {
        size_t cut = line.find("::/");
        if (cut == std::string::npos)
            continue;
        char full[MAX_PATH] = "";
        std::string file = line.substr(0, cut);
        if (!GetLongPathNameA(file.c_str(), full, MAX_PATH))
            CopyText(full, file.c_str(), MAX_PATH);
        const char *name = strrchr(full, '\\');
        topics.push_back(std::string(name ? name + 1 : full) + "|" + line.substr(cut + 3));
    }
    return topics;
}

std::vector<std::string> OpenedAddresses()
{
    std::vector<std::string> addresses;
    for (const std::string &line : Viewed())
        if (line.compare(0, 4, "http") == 0)
            addresses.push_back(line);
    return addresses;
}

// ---------------------------------------------------------------- keys and tray

// Ctrl and Shift down (or up again) in the keyboard state the dialog's
// thread reads, as when the user holds them while clicking.
void HoldCtrlShift(HWND dialog, bool hold)
{
    DWORD own = GetCurrentThreadId(), theirs = GetWindowThreadProcessId(dialog, 0);
    MSG msg;
    PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE);   // this thread's queue
    AttachThreadInput(own, theirs, TRUE);
    BYTE keys[256];
    GetKeyboardState(keys);
    for (int key : {VK_CONTROL, VK_LCONTROL, VK_SHIFT, VK_LSHIFT})
        keys[key] = hold ? 0x80 : 0;
    SetKeyboardState(keys);
    if (!hold)
        AttachThreadInput(own, theirs, FALSE);
}

LRESULT CALLBACK TrayFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefFrameWindowProc(window, message, wParam, lParam);
}

// The frame that carries the program's tray icon.
CFrameWindow *TrayFrame() { return FindFrameByIndex(0); }

HICON IdleTrayIcon()
{
    return (HICON)LoadImageA(gApp.instance ? gApp.instance : GetModuleHandleA(0),
                             MAKEINTRESOURCEA(TRAY_IDLE_ICON), IMAGE_ICON, 64, 64, LR_SHARED);
}

bool SeveralMonitors() { return GetSystemMetrics(SM_CMONITORS) > 1; }

// ---------------------------------------------------------------- driving

std::string Text(HWND page, int id)
{
    char text[1100] = "";
    GetDlgItemTextA(page, id, text, sizeof text);
    return text;
}

bool Enabled(HWND page, int id) { return IsWindowEnabled(GetDlgItem(page, id)) != 0; }
bool Checked(HWND page, int id) { return SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Click(HWND page, int id) { SendMessageA(GetDlgItem(page, id), BM_CLICK, 0, 0); }
void Type(HWND page, int id, const char *text) { SendDlgItemMessageA(page, id, WM_SETTEXT, 0, (LPARAM)text); }

void Choose(HWND page, int id, int index)
{
    SendDlgItemMessageA(page, id, CB_SETCURSEL, (WPARAM)index, 0);
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)GetDlgItem(page, id));
}

HWND Page(int index) { return ProgramOptionsPageWindow(index); }

void SelectTab(HWND dialog, int index)
{
    HWND tab = GetDlgItem(dialog, IDC_OPTIONS_TAB);
    SendMessageA(tab, TCM_SETCURSEL, (WPARAM)index, 0);
    NMHDR note = {tab, (UINT_PTR)IDC_OPTIONS_TAB, (UINT)TCN_SELCHANGE};
    SendMessageA(dialog, WM_NOTIFY, IDC_OPTIONS_TAB, (LPARAM)&note);
    Sleep(50);   // the posted "page shown" runs
}

struct Run {
    std::function<void(HWND dialog)> steps;
    int finish = IDOK;
    HWND dialog = 0;
};

DWORD WINAPI Driver(LPVOID parameter)
{
    Run *run = (Run *)parameter;
    for (int waited = 0; waited < 10000 && !run->dialog; waited += 20) {
        HWND found = FindWindowA("#32770", "Options");
        if (found && IsWindowVisible(found))
            run->dialog = found;
        else
            Sleep(20);
    }
    if (!run->dialog)
        return 1;
    Sleep(50);
    if (run->steps)
        run->steps(run->dialog);
    SendMessageA(GetDlgItem(run->dialog, run->finish), BM_CLICK, 0, 0);
    return 0;
}

// ShowProgramOptions with the steps run on the open dialog, then the finish
// button clicked. The dialog's result.
int RunDialog(Run &run)
{
    gStopAnswering = 0;
    HANDLE answerer = CreateThread(0, 0, AnswerBoxes, 0, 0, 0);
    HANDLE thread = CreateThread(0, 0, Driver, &run, 0, 0);
    int result = ShowProgramOptions(0);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    InterlockedExchange(&gStopAnswering, 1);
    WaitForSingleObject(answerer, 10000);
    CloseHandle(answerer);
    EXPECT_TRUE(WaitForWorkers()) << "a worker did not end";
    return result;
}

int RunDialog(std::function<void(HWND)> steps, int finish = IDOK)
{
    Run run;
    run.steps = steps;
    run.finish = finish;
    return RunDialog(run);
}

// A record unlike the defaults in every field the pages show.
PrefsRecord Unusual()
{
    PrefsRecord p = kDefaultPrefs;
    p.bAutoStart = 1;
    p.iAutoStartDelay = 77;
    p.bTrayIcon = 0;
    p.bShowMain = 0;
    p.bUseIdle = 0;
    p.bLowMemMode = 1;
    p.bForceWPUpdate = 0;
    p.bShowOld = 0;
    p.bDetectWP = 1;
    p.bMultiMon = 0;
    p.iTimeFmt = 1;
    p.iDateFmt = 1;
    p.iWindUnits = 3;
    p.iTimeBias = -90;
    p.iTransMove = 45;
    p.iCloudsRes = 1;
    p.iCloudsEnhance = 5;
    p.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    p.iCloudsInterval = 12;
    CopyText(p.szCloudsUser, "cloudy", 64);
    CopyText(p.szCloudsPass, "secret", 64);
    p.iWeatherData = 2;
    p.iWeatherInterval = 90;
    CopyText(p.szWeatherApiKey, "0123abcd", 260);
    p.iWeatherUnits = 1;
    p.iWeatherValid = 300;
    p.iMetarData = 2;
    p.iMetaPreferOWM = 0;
    p.iMetarSource = 1;
    CopyText(p.szMetarURL, "http://metar.example/#ICAO#.txt", 260);
    p.iProxyType = 1;
    CopyText(p.szProxyServer, "proxy.example", 260);
    p.iProxyPort = 3128;
    p.bProxyConn = 1;
    p.bProxyAuth = 1;
    CopyText(p.szProxyUser, "puser", 64);
    CopyText(p.szProxyPass, "ppass", 64);
    PointCloudsAtServer(&p);
    return p;
}

int Today() { return (int)(_time64(0) / 86400); }

class OptionPages : public ::testing::Test {
protected:
    static std::string sFolder;

    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX init = {sizeof init, ICC_WIN95_CLASSES | ICC_TAB_CLASSES |
                                                      ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS |
                                                      ICC_BAR_CLASSES};
        InitCommonControlsEx(&init);
        InitializeCriticalSection(&gBoxLock);
        gApp.strings.SetProgramTable(0, gProgramStrings);
        CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
        gApp.instance = GetModuleHandleA(0);
        // The data folder the workers write to, and the program folder
        // with the help file.
        sFolder = FreshTempFolder("optpages");
        std::string data = sFolder + "\\data", program = sFolder + "\\program";
        CreateDirectoryA(data.c_str(), 0);
        CreateDirectoryA(program.c_str(), 0);
        CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, program.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        WriteWhole(program + "\\Veltaspar.chm", "ITSF");
        gViewerLog = sFolder + "\\viewed.txt";
        SetEnvironmentVariableA(kViewerLog, gViewerLog.c_str());
        RegisterViewer();
        CreateFrameWindow(0, TrayFrameProc, "Veltaspar", 1, 0, 0, 0, 200, 100);
    }

    static void TearDownTestSuite()
    {
        DestroyFrameWindows();
        RemoveTree(sFolder);
    }

    void SetUp() override
    {
        if (!getenv("VT_HTTP_PORT")) {
            if (getenv("CI") && !strcmp(getenv("CI"), "true"))
                FAIL() << "no local servers (run through run_http_test.sh)";
            GTEST_SKIP() << "no local servers (run through run_http_test.sh)";
        }
        InstallProgressSink();
        gPrefs = kDefaultPrefs;
        gPrefs.szWeatherApiKey[0] = 'k';   // no reminder unless a test wants one
        gPrefs.szWeatherApiKey[1] = 0;
        PointCloudsAtServer(&gPrefs);
        ASSERT_EQ("reset", ServerGet(ServerUrl("/reset")));
        SetHome(200, 0);
        DeleteFileA(gViewerLog.c_str());
        gBoxes.clear();
        gBoxAnswer = IDNO;
        gApp.restartMode = 0;
        gProgramOptionsPage = 0;
        gApiKeyReminderShown = false;
        ForgetTrayIcon();
        CopyText(gWeatherStatus, "Idle", WEATHER_STATUS_SIZE);
        CopyText(gMetarStatus, "Idle", WEATHER_STATUS_SIZE);
        RegisterProgressWindow(0);
    }

    void TearDown() override
    {
        WaitForWorkers();
        RegisterProgressWindow(0);
        MSG msg;
        while (PeekMessageA(&msg, 0, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        gApp.restartMode = 0;
    }
};

std::string OptionPages::sFolder;

// ---------------------------------------------------------------- round trips

TEST_F(OptionPages, OkWithoutEditsKeepsDefaultsAndAnUnusualRecordExactly)
{
    // The workers OK starts write their check times: those are theirs.
    PrefsRecord expected = gPrefs;
    ASSERT_EQ(IDOK, RunDialog(nullptr));
    KeepWorkerPrefs(&expected, &gPrefs);
    EXPECT_EQ(0, memcmp(&expected, &gPrefs, sizeof gPrefs)) << "defaults changed by OK";

    gPrefs = Unusual();
    expected = gPrefs;
    ASSERT_EQ(IDOK, RunDialog(nullptr));
    KeepWorkerPrefs(&expected, &gPrefs);
    EXPECT_EQ(0, memcmp(&expected, &gPrefs, sizeof gPrefs)) << "unusual record changed by OK";
}

// The unchanged round trip above covers what the pages show; the ranges
// of the spins and the trackbar are not seen through it.
TEST_F(OptionPages, SpinAndTrackbarRanges)
{
    gPrefs = Unusual();
    RunDialog([](HWND) {
        HWND g = Page(OPTIONS_PAGE_GENERAL);
        EXPECT_EQ("-90", Text(g, 1116));
        int low = 0, high = 0;
        for (int spin : {1200, 1191}) {
            SendDlgItemMessageA(g, spin, UDM_GETRANGE32, (WPARAM)&low, (LPARAM)&high);
            EXPECT_EQ(-1440, low) << spin;
            EXPECT_EQ(1440, high) << spin;
        }
        SendDlgItemMessageA(g, 1197, UDM_GETRANGE32, (WPARAM)&low, (LPARAM)&high);
        EXPECT_EQ(0, low);
        EXPECT_EQ(3600, high);
        HWND c = Page(OPTIONS_PAGE_CLOUDS);
        EXPECT_EQ(5, (int)SendDlgItemMessageA(c, 1163, TBM_GETPOS, 0, 0));
        EXPECT_EQ(0, (int)SendDlgItemMessageA(c, 1163, TBM_GETRANGEMIN, 0, 0));
        EXPECT_EQ(6, (int)SendDlgItemMessageA(c, 1163, TBM_GETRANGEMAX, 0, 0));
        EXPECT_EQ("High (5)", Text(c, 1217));
    });
}

TEST_F(OptionPages, GeneralPageStoresItsEditsClamped)
{
    RunDialog([](HWND) {
        HWND g = Page(OPTIONS_PAGE_GENERAL);
        EXPECT_FALSE(Enabled(g, 1113));   // autostart is off by default
        EXPECT_FALSE(Enabled(g, 1215));
        Click(g, 1034);
        EXPECT_TRUE(Enabled(g, 1113));
        EXPECT_TRUE(Enabled(g, 1197));
        EXPECT_TRUE(Enabled(g, 1235));
        EXPECT_EQ(SeveralMonitors(), Enabled(g, 1048)) << "multi-monitor only with several";
        Type(g, 1113, "5000");
        Type(g, 1116, "-2000");
        Type(g, 1102, "1441");
        Click(g, 1046);
        Click(g, 1063);
        Choose(g, 1265, 1);
        Choose(g, 1267, 2);
    });
    EXPECT_EQ(1, gPrefs.bAutoStart);
    EXPECT_EQ(3600, gPrefs.iAutoStartDelay);
    EXPECT_EQ(-1440, gPrefs.iTimeBias);
    EXPECT_EQ(1440, gPrefs.iTransMove);
    EXPECT_EQ(1, gPrefs.bLowMemMode);
    EXPECT_EQ(0, gPrefs.bUseIdle);
    EXPECT_EQ(1, gPrefs.iTimeFmt);
    EXPECT_EQ(0, gPrefs.iDateFmt);
    EXPECT_EQ(2, gPrefs.iWindUnits);
    EXPECT_TRUE(gBoxes.empty()) << "multi-monitor untouched: no restart question";
}

TEST_F(OptionPages, GeneralPageTraySwitchMultiMonitorRestartAndClock)
{
    std::string utc;
    bool multiEnabled = true;
    gBoxAnswer = IDYES;
    CFrameWindow *tray = TrayFrame();
    ASSERT_TRUE(tray != 0);
    ShowTrayIcon(TRAY_IDLE);   // the program's icon, as at start
    bool shownBefore = tray->trayEntry != 0;
    RunDialog([&](HWND) {
        HWND g = Page(OPTIONS_PAGE_GENERAL);
        utc = Text(g, 1237);
        multiEnabled = Enabled(g, 1048);
        Click(g, 1061);                    // tray off
        SendDlgItemMessageA(g, 1048, BM_SETCHECK, BST_UNCHECKED, 0);
    });
    ASSERT_EQ(8u, utc.size()) << utc;
    EXPECT_EQ(':', utc[2]);
    EXPECT_EQ(':', utc[5]);
    EXPECT_EQ(SeveralMonitors(), multiEnabled);
    EXPECT_EQ(0, gPrefs.bTrayIcon);
    EXPECT_TRUE(shownBefore) << "Wine's notification area took no icon";
    EXPECT_EQ(0, tray->trayEntry) << "the tray icon is removed";
    ASSERT_EQ(1u, gBoxes.size());
    EXPECT_EQ("Veltaspar has to be restarted!\nDo you want to restart now?", gBoxes[0].text);
    EXPECT_EQ("YN", gBoxes[0].buttons) << "a question with Yes and No";
    EXPECT_EQ(IDYES, gBoxes[0].defaultId);
    EXPECT_NE(0, gApp.restartMode) << "Yes restarts";
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, 0, WM_QUIT, WM_QUIT, PM_REMOVE));   // the restart's quit
    gApp.restartMode = 0;

    // Back on: the idle icon; a No to the question restarts nothing.
    tray->trayIcon = 0;
    gBoxAnswer = IDNO;
    RunDialog([](HWND) {
        Click(Page(OPTIONS_PAGE_GENERAL), 1061);
        SendDlgItemMessageA(Page(OPTIONS_PAGE_GENERAL), 1048, BM_SETCHECK, BST_CHECKED, 0);
    });
    EXPECT_EQ(1, gPrefs.bTrayIcon);
    EXPECT_EQ(1, tray->trayEntry);
    EXPECT_EQ(IdleTrayIcon(), tray->trayIcon);
    EXPECT_EQ(2u, gBoxes.size());
    EXPECT_EQ(0, gApp.restartMode);
    EXPECT_FALSE(PeekMessageA(&msg, 0, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// ---------------------------------------------------------------- clouds

TEST_F(OptionPages, CloudsPageEnablingClampsAndTrimming)
{
    RunDialog([](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_CLOUDS);
        HWND c = Page(OPTIONS_PAGE_CLOUDS);
        EXPECT_TRUE(Checked(c, 1139));   // demo by default
        EXPECT_FALSE(Enabled(c, 1095));
        EXPECT_FALSE(Enabled(c, 1022));
        EXPECT_FALSE(Enabled(c, 1122));
        Click(c, 1140);
        EXPECT_FALSE(Checked(c, 1139));
        EXPECT_TRUE(Enabled(c, 1095));
        EXPECT_TRUE(Enabled(c, 1218));
        EXPECT_FALSE(Enabled(c, 1022));
        EXPECT_TRUE(Enabled(c, 1108));
        Click(c, 1142);
        EXPECT_FALSE(Checked(c, 1140));
        EXPECT_FALSE(Enabled(c, 1095));
        EXPECT_TRUE(Enabled(c, 1022));
        EXPECT_TRUE(Enabled(c, 1122));
        Type(c, 1095, "1");
        Type(c, 1122, " \t bob \r\n");
        Type(c, 1108, std::string(70, 'p').c_str());
        SendDlgItemMessageA(c, 1163, TBM_SETPOS, TRUE, 0);
        SendMessageA(c, WM_HSCROLL, TB_ENDTRACK, (LPARAM)GetDlgItem(c, 1163));
        EXPECT_EQ("Off (0)", Text(c, 1217));
    });
    EXPECT_EQ(CLOUDS_DATA_ON_REQUEST, gPrefs.iCloudsData);
    EXPECT_EQ(3, gPrefs.iCloudsInterval);
    EXPECT_STREQ("bob", gPrefs.szCloudsUser);
    EXPECT_EQ(63u, strlen(gPrefs.szCloudsPass));
    EXPECT_EQ(0, gPrefs.iCloudsEnhance);

    RunDialog([](HWND) { Type(Page(OPTIONS_PAGE_CLOUDS), 1095, "100000"); });
    EXPECT_EQ(744, gPrefs.iCloudsInterval);
}

// OK starts the cloud worker "when due" (it checks, but downloads nothing
// that is not due), rebuilding the cloud map only after a change of the
// clouds, and the weather worker unless it runs already.
TEST_F(OptionPages, OkStartsTheWorkersAndRegeneratesOnlyForCloudChanges)
{
    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    gPrefs.tCloudsCheck = gPrefs.tWeatherCheck = 0;
    gMapRebuilds = 0;
    gCloudHooks.optionsDialogOpen = CountMapRebuild;
    RunDialog(nullptr);
    EXPECT_TRUE(Recent(gPrefs.tCloudsCheck)) << "the cloud worker did not check";
    EXPECT_EQ(0, Requests("/file")) << "downloaded although not due";
    EXPECT_EQ(0, gMapRebuilds) << "rebuilt without a change";
    EXPECT_TRUE(Recent(gPrefs.tWeatherCheck)) << "the weather worker did not run";

    RunDialog([](HWND) { Choose(Page(OPTIONS_PAGE_CLOUDS), 1073, 0); });
    EXPECT_EQ(0, gPrefs.iCloudsRes);
    EXPECT_EQ(1, gMapRebuilds) << "a new resolution rebuilds the cloud map";
    EXPECT_EQ(0, Requests("/file"));
    gCloudHooks.optionsDialogOpen = 0;

    // A running weather worker is left alone.
    gPrefs.tCloudsCheck = gPrefs.tWeatherCheck = 0;
    gWeatherHeld = true;
    gWeatherBusy = 1;
    RunDialog([](HWND) {});
    gWeatherBusy = 0;
    gWeatherHeld = false;
    EXPECT_EQ(0, gPrefs.tWeatherCheck);
    EXPECT_TRUE(Recent(gPrefs.tCloudsCheck));
}

TEST_F(OptionPages, CloudsDownloadNowAndStatusSink)
{
    gPrefs.iCloudsData = CLOUDS_DATA_ON_REQUEST;
    gPrefs.tCloudsCheck = 1700000000;
    SetProgressStatus("Left by an earlier run", 40);
    std::string before, live, lastCheck, expectedCheck, afterCheck;
    HWND registered = 0, page = 0;
    bool barEnabled = false;
    int64_t firstCheck = 0;
    int forcedRequests = -1, busyRequests = -1;
    char text[LAST_DOWNLOAD_TEXT_SIZE];
    LastDownloadText(gPrefs.tCloudsCheck, text);
    expectedCheck = text;
    RunDialog([&](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_CLOUDS);
        page = Page(OPTIONS_PAGE_CLOUDS);
        before = Text(page, 1232);
        lastCheck = Text(page, 1222);
        barEnabled = Enabled(page, 1133);
        RegisterProgressWindow(0);
        Type(page, 1122, "later");
        Click(page, 1022);   // when due: it checks, nothing is due
        registered = GetProgressWindow();
        WaitForWorkers();
        firstCheck = gPrefs.tCloudsCheck;
        afterCheck = Text(page, 1232);
        SetProgressStatus("Downloading...", 10);
        live = Text(page, 1232);
        HoldCtrlShift(dialog, true);   // now, due or not
        Click(page, 1022);
        HoldCtrlShift(dialog, false);
        WaitForWorkers();
        forcedRequests = Requests("/file");
        gPrefs.tCloudsCheck = 1;
        gCloudUpdaterBusy = 1;
        Click(page, 1022);   // the worker runs: nothing more
        gCloudUpdaterBusy = 0;
        busyRequests = Requests("/file");
    }, IDCANCEL);
    EXPECT_EQ("Left by an earlier run", before);
    EXPECT_TRUE(barEnabled);
    EXPECT_EQ(expectedCheck, lastCheck);
    EXPECT_EQ(page, registered);
    EXPECT_TRUE(Recent(firstCheck)) << "Download Now did not start the worker";
    EXPECT_EQ("No new data available", afterCheck) << "the worker's text on the page";
    EXPECT_EQ("Downloading...", live);
    EXPECT_EQ(1, forcedRequests) << "Ctrl and Shift did not force the download";
    EXPECT_EQ(1, busyRequests) << "a busy worker was started again";
    // Cancel's start only refreshes: no check, no download.
    EXPECT_EQ(1, gPrefs.tCloudsCheck);
    EXPECT_EQ(1, Requests("/file"));
    EXPECT_EQ(0, GetProgressWindow()) << "the destroyed page stays registered";
}

// ---------------------------------------------------------------- weather

TEST_F(OptionPages, WeatherPageEnablingClampsAndDownloadNow)
{
    CopyText(gWeatherStatus, "Weather status before", WEATHER_STATUS_SIZE);
    std::string shown, followed;
    int64_t started = 0, startedWhileBusy = -1;
    int committedInterval = -1;
    RunDialog([&](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_WEATHER);
        HWND w = Page(OPTIONS_PAGE_WEATHER);
        shown = Text(w, 1232);
        EXPECT_TRUE(Checked(w, 1140));   // default: download every
        EXPECT_TRUE(Enabled(w, 1274));
        EXPECT_FALSE(Enabled(w, 1022));
        EXPECT_TRUE(Enabled(w, 1254));
        Click(w, 1251);
        EXPECT_FALSE(Checked(w, 1140));
        EXPECT_FALSE(Enabled(w, 1254));
        EXPECT_FALSE(Enabled(w, 1274));
        Click(w, 1142);
        EXPECT_TRUE(Enabled(w, 1022));
        EXPECT_TRUE(Enabled(w, 1254));
        Type(w, 1274, "0");
        Type(w, 1255, "50000");
        Type(w, 1254, "  key-with-blanks\t");
        Click(w, 1253);   // a radio click commits the page
        EXPECT_FALSE(Checked(w, 1252));
        committedInterval = gPrefs.iWeatherInterval;
        gPrefs.tWeatherCheck = 0;
        Click(w, 1022);
        EXPECT_STREQ("key-with-blanks", gPrefs.szWeatherApiKey) << "Download Now commits first";
        WaitForWorkers();
        started = gPrefs.tWeatherCheck;
        gPrefs.tWeatherCheck = 0;
        gWeatherBusy = 1;
        Click(w, 1022);
        gWeatherBusy = 0;
        startedWhileBusy = gPrefs.tWeatherCheck;
        CopyText(gWeatherStatus, "Downloading weather for city 1 of 2", WEATHER_STATUS_SIZE);
        Sleep(1500);   // the page follows the worker's text
        followed = Text(w, 1232);
    });
    EXPECT_EQ("Weather status before", shown);
    EXPECT_EQ("Downloading weather for city 1 of 2", followed);
    EXPECT_EQ(2, gPrefs.iWeatherData);
    // The page keeps at least one minute; the worker it starts raises a
    // shorter interval to its own least.
    EXPECT_EQ(1, committedInterval);
    EXPECT_GE(gPrefs.iWeatherInterval, 1);
    EXPECT_EQ(44640, gPrefs.iWeatherValid);
    EXPECT_EQ(1, gPrefs.iWeatherUnits);
    EXPECT_TRUE(Recent(started)) << "Download Now did not start the weather worker";
    EXPECT_EQ(0, startedWhileBusy) << "a busy weather worker was started again";
}

TEST_F(OptionPages, ApiKeyReminderOnceADayAndKeptThroughCancel)
{
    gPrefs.szWeatherApiKey[0] = 0;
    gPrefs.iWeatherWarnApiKey = Today() - 3;
    gBoxAnswer = IDOK;
    RunDialog([](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_WEATHER);
        Type(Page(OPTIONS_PAGE_WEATHER), 1254, "typed but cancelled");
        SelectTab(dialog, OPTIONS_PAGE_GENERAL);
        SelectTab(dialog, OPTIONS_PAGE_WEATHER);   // not again in this run
    }, IDCANCEL);
    ASSERT_EQ(1u, gBoxes.size());
    EXPECT_EQ(gApp.strings.GetText(107, 2), gBoxes[0].text);
    EXPECT_EQ("OC", gBoxes[0].buttons) << "a warning with OK and Cancel";
    EXPECT_EQ(IDOK, gBoxes[0].defaultId);
    ASSERT_TRUE(WaitForViewed(1)) << "the help did not open";
    ASSERT_EQ(1u, HelpTopics().size());
    EXPECT_EQ("Veltaspar.chm|WeatherOptions.htm", HelpTopics()[0]);
    EXPECT_STREQ("", gPrefs.szWeatherApiKey);
    EXPECT_EQ(Today(), gPrefs.iWeatherWarnApiKey) << "Cancel brought the reminder back";

    // A new run on the same day: no reminder; the weather page opens first.
    gApiKeyReminderShown = false;
    gProgramOptionsPage = OPTIONS_PAGE_WEATHER;
    RunDialog([](HWND) { Sleep(100); });
    EXPECT_EQ(1u, gBoxes.size());

    // The next day, opening straight on the weather page: reminded; Cancel
    // of the box opens no help.
    gPrefs.iWeatherWarnApiKey = Today() - 1;
    gBoxAnswer = IDCANCEL;
    RunDialog([](HWND) { Sleep(100); });
    EXPECT_EQ(2u, gBoxes.size());
    Sleep(1000);   // a viewer started by mistake would have written by now
    EXPECT_EQ(1u, HelpTopics().size());
}

// ---------------------------------------------------------------- METAR

TEST_F(OptionPages, MetarPageEnablingDefaultUrlAndTest)
{
    gPrefs.iMetarSource = 1;
    CopyText(gPrefs.szMetarURL, "http://mine.example/#ICAO#/#ICAO#", 260);
    CopyText(gMetarStatus, "METAR idle text", WEATHER_STATUS_SIZE);
    std::string status;
    RunDialog([&](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_METAR);
        HWND m = Page(OPTIONS_PAGE_METAR);
        status = Text(m, 1232);
        EXPECT_TRUE(Checked(m, 1266));
        EXPECT_TRUE(Enabled(m, 1267));
        EXPECT_TRUE(Enabled(m, 1272));
        Type(m, 1094, " EDDF ");
        Click(m, 1031);
        WaitForViewed(1);
        Click(m, 1268);
        EXPECT_FALSE(Enabled(m, 1267));
        EXPECT_TRUE(Enabled(m, 1270));
        Click(m, 1270);
        EXPECT_FALSE(Enabled(m, 1272));
        EXPECT_FALSE(Enabled(m, 1273));
        Click(m, 1031);
        WaitForViewed(2);
        Type(m, 1094, "   ");
        Click(m, 1031);   // no station: nothing opens
        Click(m, 1271);
        Click(m, 1273);
        Click(m, 1251);
        EXPECT_FALSE(Enabled(m, 1270));
        EXPECT_FALSE(Enabled(m, 1271));
        EXPECT_FALSE(Enabled(m, 1272));
    });
    EXPECT_EQ("METAR idle text", status);
    Sleep(1000);   // a third address would have arrived by now
    std::vector<std::string> opened = OpenedAddresses();
    ASSERT_EQ(2u, opened.size());
    EXPECT_EQ("http://mine.example/EDDF/EDDF", opened[0]);
    std::string page = kMetarPageUrl;
    page.replace(page.find("#ICAO#"), 6, "EDDF");
    EXPECT_EQ(page, opened[1]);
    EXPECT_NE(std::string::npos, opened[1].find("/metar/data?ids=EDDF&format=raw&hours=0&taf=off"));
    EXPECT_EQ(0, gPrefs.iMetarData);
    EXPECT_EQ(1, gPrefs.iMetarSource);
    EXPECT_STREQ(DEFAULT_METAR_URL, gPrefs.szMetarURL);
}

TEST(MetarTestAddressTest, EmptyCodeAndOverflowGiveNoAddress)
{
    char out[64];
    EXPECT_FALSE(MetarTestAddress(" \t", 1, "http://x/#ICAO#", out, sizeof out));
    EXPECT_FALSE(MetarTestAddress(0, 1, "http://x/#ICAO#", out, sizeof out));
    EXPECT_TRUE(MetarTestAddress("KJFK", 1, "http://x/#ICAO#", out, sizeof out));
    EXPECT_STREQ("http://x/KJFK", out);
    std::string longTemplate = "http://x/" + std::string(40, 'a') + "#ICAO##ICAO##ICAO#";
    EXPECT_FALSE(MetarTestAddress("LONGCODE", 1, longTemplate.c_str(), out, sizeof out));
}

// ---------------------------------------------------------------- internet

TEST_F(OptionPages, InternetPagePortRulesAndEnabling)
{
    gPrefs.iProxyPort = 0;
    std::string portShown;
    RunDialog([&](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_INTERNET);
        HWND i = Page(OPTIONS_PAGE_INTERNET);
        portShown = Text(i, 1109);
        for (int id : {1233, 1110, 1230, 1109, 1053, 1052, 1122, 1108})
            EXPECT_FALSE(Enabled(i, id)) << id;
        Click(i, 1150);
        EXPECT_FALSE(Checked(i, 1148));
        for (int id : {1233, 1110, 1230, 1109, 1053, 1052})
            EXPECT_TRUE(Enabled(i, id)) << id;
        EXPECT_FALSE(Enabled(i, 1122));
        Click(i, 1052);
        EXPECT_TRUE(Enabled(i, 1122));
        EXPECT_TRUE(Enabled(i, 1108));
        Type(i, 1109, "70000");
        Type(i, 1110, " proxy.local ");
        Type(i, 1122, "u");
        Type(i, 1108, "p");
    });
    EXPECT_EQ("", portShown);
    EXPECT_EQ(1, gPrefs.iProxyType);
    EXPECT_EQ(65535, gPrefs.iProxyPort);
    EXPECT_STREQ("proxy.local", gPrefs.szProxyServer);
    EXPECT_EQ(1, gPrefs.bProxyAuth);
    EXPECT_STREQ("u", gPrefs.szProxyUser);
    EXPECT_STREQ("p", gPrefs.szProxyPass);

    RunDialog([](HWND) { Type(Page(OPTIONS_PAGE_INTERNET), 1109, ""); });
    EXPECT_EQ(0, gPrefs.iProxyPort) << "an empty port stays 'no port'";
}

// The connection test asks for the maker's home page through the proxy
// typed on the page (the local proxy, which answers for that host itself).
TEST_F(OptionPages, ConnectionTestThroughTheTransport)
{
    std::string success, failure, shownWhileRunning, proxySaw;
    HWND internet = 0, clouds = 0, afterwards = 0, statusWhileRunning = 0;
    const char *proxyPort = getenv("VT_PROXY_PORT");
    SetHome(200, 800);   // slow enough to look at the page meanwhile
    RunDialog([&](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_INTERNET);
        internet = Page(OPTIONS_PAGE_INTERNET);
        clouds = Page(OPTIONS_PAGE_CLOUDS);
        Click(internet, 1150);
        Type(internet, 1110, "127.0.0.1");
        Type(internet, 1109, proxyPort ? proxyPort : "0");
        PostMessageA(GetDlgItem(internet, 1031), BM_CLICK, 0, 0);
        for (int i = 0; i < 100 && Requests("/") < 1; i++)
            Sleep(20);
        statusWhileRunning = GetProgressWindow();
        WCHAR text[260] = L"";
        InternalGetWindowText(GetDlgItem(internet, 1232), text, 260);
        char narrow[260];
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, 0, 0);
        shownWhileRunning = narrow;
        success = Text(internet, 1232);   // waits for the test to end
        afterwards = GetProgressWindow();
        proxySaw = ServerGet(ServerUrl("/log", "VT_PROXY_PORT"));
        SetHome(404, 0);
        Click(internet, 1031);
        failure = Text(internet, 1232);
    });
    EXPECT_EQ(2, Requests("/"));
    EXPECT_EQ(0u, proxySaw.find(std::string("GET ") + kConnectionTestUrl + " HTTP/1."))
        << "the test did not run on the typed proxy: " << proxySaw;
    EXPECT_EQ(internet, statusWhileRunning);
    EXPECT_EQ("Downloading...", shownWhileRunning);
    EXPECT_EQ("Test successful!", success);
    EXPECT_EQ(clouds, afterwards) << "the clouds page gets the sink back";
    char text[PROGRESS_TEXT_SIZE];
    DownloadResultText(404, text, sizeof text);
    EXPECT_EQ(text, failure);
}

// ---------------------------------------------------------------- dialog

TEST_F(OptionPages, CancelRestoresEveryPageButKeepsWorkerResults)
{
    gPrefs = Unusual();
    PrefsRecord before = gPrefs;
    RunDialog([](HWND dialog) {
        HWND g = Page(OPTIONS_PAGE_GENERAL);
        Click(g, 1034);
        Type(g, 1113, "5");
        SelectTab(dialog, OPTIONS_PAGE_CLOUDS);
        Click(Page(OPTIONS_PAGE_CLOUDS), 1139);
        Type(Page(OPTIONS_PAGE_CLOUDS), 1122, "other");
        SelectTab(dialog, OPTIONS_PAGE_WEATHER);
        Click(Page(OPTIONS_PAGE_WEATHER), 1251);
        SelectTab(dialog, OPTIONS_PAGE_METAR);
        Click(Page(OPTIONS_PAGE_METAR), 1251);
        SelectTab(dialog, OPTIONS_PAGE_INTERNET);
        Click(Page(OPTIONS_PAGE_INTERNET), 1148);
        SelectTab(dialog, OPTIONS_PAGE_GENERAL);
        EXPECT_EQ(0, gPrefs.bAutoStart) << "tab change commits";
        EXPECT_EQ(CLOUDS_DATA_BUILTIN, gPrefs.iCloudsData);
        gPrefs.tCloudsDown = 1234567;   // a worker finished meanwhile
        CopyText(gPrefs.szModified, "Tue, 01 Dec 2026 10:00:00 GMT", 260);
    }, IDCANCEL);
    EXPECT_EQ(1234567, gPrefs.tCloudsDown);
    EXPECT_STREQ("Tue, 01 Dec 2026 10:00:00 GMT", gPrefs.szModified);
    gPrefs.tCloudsDown = before.tCloudsDown;
    memcpy(gPrefs.szModified, before.szModified, sizeof gPrefs.szModified);
    EXPECT_EQ(0, memcmp(&before, &gPrefs, sizeof gPrefs));
    EXPECT_EQ(0, Requests("/file")) << "Cancel's start of the cloud worker downloads nothing";
}

TEST_F(OptionPages, RemembersThePageAndHelpFollowsIt)
{
    RunDialog([](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_METAR);
        Click(dialog, 9);
        WaitForViewed(1);   // in order
    });
    EXPECT_EQ(OPTIONS_PAGE_METAR, gProgramOptionsPage);
    int tab = -1;
    bool onlyMetar = true;
    RunDialog([&](HWND dialog) {
        tab = (int)SendDlgItemMessageA(dialog, IDC_OPTIONS_TAB, TCM_GETCURSEL, 0, 0);
        for (int i = 0; i < OPTIONS_PAGE_COUNT; i++)
            onlyMetar = onlyMetar && (IsWindowVisible(Page(i)) != 0) == (i == OPTIONS_PAGE_METAR);
        SelectTab(dialog, OPTIONS_PAGE_GENERAL);
        Click(dialog, 9);
    });
    EXPECT_EQ(OPTIONS_PAGE_METAR, tab);
    EXPECT_TRUE(onlyMetar);
    ASSERT_TRUE(WaitForViewed(2)) << "the help did not open twice";
    std::vector<std::string> topics = HelpTopics();
    ASSERT_EQ(2u, topics.size());
    EXPECT_EQ("Veltaspar.chm|METAROptions.htm", topics[0]);
    EXPECT_EQ("Veltaspar.chm|GeneralOptions.htm", topics[1]);
    EXPECT_EQ(0, Page(0)) << "pages forgotten after the dialog";
}

TEST_F(OptionPages, ScreenshotOfEveryPage)
{
    gPrefs.tCloudsCheck = gPrefs.tCloudsDown = 1765000000;
    gPrefs.iCloudsData = CLOUDS_DATA_AUTOMATIC;
    gPrefs.iProxyType = 1;
    SetProgressStatus("Download complete", 100);
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string folder = std::string(here) + "\\optpages-shot";
    CreateDirectoryA(folder.c_str(), 0);
    std::vector<int> results;
    RunDialog([&](HWND dialog) {
        SetWindowPos(dialog, 0, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        const char *names[] = {"general", "clouds", "weather", "metar", "internet"};
        for (int i = 0; i < OPTIONS_PAGE_COUNT; i++) {
            SelectTab(dialog, i);
            Sleep(300);
            std::string report;
            std::string target = UnixPath(std::string(here) + "\\optpages-" + names[i] + ".png");
            RECT r;
            GetWindowRect(dialog, &r);
            char crop[64];
            snprintf(crop, sizeof crop, "%ldx%ld+0+0", r.right + 20, r.bottom + 20);
            results.push_back(RunHostScript(folder, "command -v import >/dev/null && import -window root -crop " +
                                                        std::string(crop) + " +repage '" + target + "'",
                                            &report));
        }
    }, IDCANCEL);
    for (int r : results)
        EXPECT_EQ(0, r);
}

}  // namespace

int main(int argc, char **argv)
{
    if (RunAsViewer(argc, argv))
        return 0;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
