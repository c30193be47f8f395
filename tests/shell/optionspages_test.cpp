// The program options dialog on the real templates, driven from a helper
// thread with real control messages while ShowProgramOptions runs modally:
// every page's round trip, clamps, defaults and enabling, Cancel restoring,
// the worker starts, status texts, the API-key reminder, the METAR test and
// the connection test against a fake transport, and one screenshot per page.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
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
#include "framework/utilities.h"
#include "shell/entry.h"
#include "shell/optionspages.h"
#include "shell/program.h"
#include "testutil.h"

namespace {

// ---------------------------------------------------------------- recording fakes

struct WorkerCall {
    char worker;   // 'c' clouds, 'w' weather
    int mode;
    bool regenerate;
};
std::vector<WorkerCall> gWorkerCalls;
std::vector<std::string> gBoxTexts;
std::vector<uint32_t> gBoxFlags;
int gBoxAnswer = IDNO;
std::vector<std::string> gHelpTopics;
std::vector<std::string> gOpened;
int gRestarts = 0;
bool gForceKeys = false;
int gMonitors = 1;
std::vector<uint16_t> gTrayIcons;   // icon ids given to the shell; 0 removes

struct HttpSeen {
    std::string url, proxyServer;
    int proxyPort;
    HWND statusWindow;
    std::string statusShown;   // 1232 of the status window while the request ran
};
std::vector<HttpSeen> gHttpSeen;
int gHttpAnswer = 0;

int RecordCloudStart(int mode, bool regenerate)
{
    gWorkerCalls.push_back({'c', mode, regenerate});
    return 0;
}

int RecordWeatherStart(int mode)
{
    gWorkerCalls.push_back({'w', mode, false});
    return 0;
}

int RecordBox(HWND, const char *text, uint32_t flags)
{
    gBoxTexts.push_back(text ? text : "");
    gBoxFlags.push_back(flags);
    return gBoxAnswer;
}

int RecordHelp(const char *file, const char *topic)
{
    gHelpTopics.push_back(std::string(file) + "|" + (topic ? topic : ""));
    return 0;
}

void RecordOpen(const char *address) { gOpened.push_back(address); }
void RecordRestart() { gRestarts++; }
bool ForceKeys() { return gForceKeys; }
int Monitors() { return gMonitors; }

bool RecordTray(uint16_t, uint16_t iconId, const char *)
{
    gTrayIcons.push_back(iconId);
    return true;
}

int FakeGet(HttpFileRequest *request)
{
    HttpSeen seen;
    seen.url = request->url ? request->url : "";
    seen.proxyServer = request->proxyServer ? request->proxyServer : "";
    seen.proxyPort = request->proxyPort;
    seen.statusWindow = GetProgressWindow();
    char text[260] = "";
    GetDlgItemTextA(seen.statusWindow, 1232, text, sizeof text);
    seen.statusShown = text;
    gHttpSeen.push_back(seen);
    return gHttpAnswer;
}

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
    HANDLE thread = CreateThread(0, 0, Driver, &run, 0, 0);
    int result = ShowProgramOptions(0);
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
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
    return p;
}

int Today() { return (int)(_time64(0) / 86400); }

class OptionPages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX init = {sizeof init, ICC_WIN95_CLASSES | ICC_TAB_CLASSES |
                                                      ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS |
                                                      ICC_BAR_CLASSES};
        InitCommonControlsEx(&init);
        gApp.strings.SetProgramTable(0, gProgramStrings);
        CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
    }

    void SetUp() override
    {
        InstallProgressSink();
        gPrefs = kDefaultPrefs;
        gPrefs.szWeatherApiKey[0] = 'k';   // no reminder unless a test wants one
        gPrefs.szWeatherApiKey[1] = 0;
        gWorkerCalls.clear();
        gBoxTexts.clear();
        gBoxFlags.clear();
        gHelpTopics.clear();
        gOpened.clear();
        gHttpSeen.clear();
        gTrayIcons.clear();
        gBoxAnswer = IDNO;
        gRestarts = 0;
        gForceKeys = false;
        gMonitors = 1;
        gHttpAnswer = 0;
        gProgramOptionsPage = 0;
        gApiKeyReminderShown = false;
        gProgramOptionsHooks = {RecordCloudStart, RecordWeatherStart, RecordBox, RecordHelp,
                                RecordOpen,       RecordRestart,      ForceKeys, Monitors};
        ForgetTrayIcon();
        CopyText(gWeatherStatus, "Idle", WEATHER_STATUS_SIZE);
        CopyText(gMetarStatus, "Idle", WEATHER_STATUS_SIZE);
        RegisterProgressWindow(0);
    }

    void TearDown() override
    {
        RegisterProgressWindow(0);
    }
};

// ---------------------------------------------------------------- round trips

TEST_F(OptionPages, OkWithoutEditsKeepsDefaultsAndAnUnusualRecordExactly)
{
    PrefsRecord expected = gPrefs;
    ASSERT_EQ(IDOK, RunDialog(nullptr));
    EXPECT_EQ(0, memcmp(&expected, &gPrefs, sizeof gPrefs)) << "defaults changed by OK";

    gPrefs = Unusual();
    expected = gPrefs;
    ASSERT_EQ(IDOK, RunDialog(nullptr));
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
    gMonitors = 2;
    RunDialog([](HWND) {
        HWND g = Page(OPTIONS_PAGE_GENERAL);
        EXPECT_FALSE(Enabled(g, 1113));   // autostart is off by default
        EXPECT_FALSE(Enabled(g, 1215));
        Click(g, 1034);
        EXPECT_TRUE(Enabled(g, 1113));
        EXPECT_TRUE(Enabled(g, 1197));
        EXPECT_TRUE(Enabled(g, 1235));
        EXPECT_TRUE(Enabled(g, 1048));
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
    EXPECT_TRUE(gBoxTexts.empty()) << "multi-monitor untouched: no restart question";
}

TEST_F(OptionPages, GeneralPageTraySwitchMultiMonitorRestartAndClock)
{
    std::string utc;
    bool multiEnabled = true;
    gBoxAnswer = IDYES;
    RunDialog([&](HWND) {
        HWND g = Page(OPTIONS_PAGE_GENERAL);
        utc = Text(g, 1237);
        multiEnabled = Enabled(g, 1048);   // one monitor
        Click(g, 1061);                    // tray off
        SendDlgItemMessageA(g, 1048, BM_SETCHECK, BST_UNCHECKED, 0);
    });
    ASSERT_EQ(8u, utc.size()) << utc;
    EXPECT_EQ(':', utc[2]);
    EXPECT_EQ(':', utc[5]);
    EXPECT_FALSE(multiEnabled);
    EXPECT_EQ(0, gPrefs.bTrayIcon);
    ASSERT_FALSE(gTrayIcons.empty());
    EXPECT_EQ(0, gTrayIcons.back()) << "the tray icon is removed";
    ASSERT_EQ(1u, gBoxTexts.size());
    EXPECT_EQ("Veltaspar has to be restarted!\nDo you want to restart now?", gBoxTexts[0]);
    EXPECT_EQ(840u, gBoxFlags[0]);
    EXPECT_EQ(1, gRestarts);

    // Back on: the idle icon; a No to the question restarts nothing.
    gTrayIcons.clear();
    gBoxAnswer = IDNO;
    RunDialog([](HWND) {
        Click(Page(OPTIONS_PAGE_GENERAL), 1061);
        SendDlgItemMessageA(Page(OPTIONS_PAGE_GENERAL), 1048, BM_SETCHECK, BST_CHECKED, 0);
    });
    EXPECT_EQ(1, gPrefs.bTrayIcon);
    ASSERT_FALSE(gTrayIcons.empty());
    EXPECT_EQ(TRAY_IDLE_ICON, gTrayIcons.back());
    EXPECT_EQ(2u, gBoxTexts.size());
    EXPECT_EQ(1, gRestarts);
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

TEST_F(OptionPages, OkStartsTheWorkersAndRegeneratesOnlyForCloudChanges)
{
    RunDialog(nullptr);
    ASSERT_EQ(2u, gWorkerCalls.size());
    EXPECT_EQ('c', gWorkerCalls[0].worker);
    EXPECT_EQ(CLOUD_MODE_IF_DUE, gWorkerCalls[0].mode);
    EXPECT_FALSE(gWorkerCalls[0].regenerate);
    EXPECT_EQ('w', gWorkerCalls[1].worker);
    EXPECT_EQ(WEATHER_MODE_AUTO, gWorkerCalls[1].mode);

    gWorkerCalls.clear();
    RunDialog([](HWND) { Choose(Page(OPTIONS_PAGE_CLOUDS), 1073, 0); });
    EXPECT_EQ(0, gPrefs.iCloudsRes);
    ASSERT_FALSE(gWorkerCalls.empty());
    EXPECT_TRUE(gWorkerCalls[0].regenerate) << "a new resolution rebuilds the cloud map";

    // A running weather worker is left alone.
    gWorkerCalls.clear();
    gWeatherBusy = 1;
    RunDialog(nullptr);
    gWeatherBusy = 0;
    ASSERT_EQ(1u, gWorkerCalls.size());
    EXPECT_EQ('c', gWorkerCalls[0].worker);
}

TEST_F(OptionPages, CloudsDownloadNowAndStatusSink)
{
    gPrefs.iCloudsData = CLOUDS_DATA_ON_REQUEST;
    gPrefs.tCloudsCheck = 1700000000;
    SetProgressStatus("Left by an earlier run", 40);
    std::string before, live, lastCheck, expectedCheck;
    HWND registered = 0, page = 0;
    bool barEnabled = false;
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
        Click(page, 1022);
        registered = GetProgressWindow();
        SetProgressStatus("Downloading...", 10);
        live = Text(page, 1232);
        gForceKeys = true;
        Click(page, 1022);
        gCloudUpdaterBusy = 1;
        Click(page, 1022);   // the worker runs: nothing more
        gCloudUpdaterBusy = 0;
    }, IDCANCEL);
    EXPECT_EQ("Left by an earlier run", before);
    EXPECT_TRUE(barEnabled);
    EXPECT_EQ(expectedCheck, lastCheck);
    EXPECT_EQ(page, registered);
    EXPECT_EQ("Downloading...", live);
    ASSERT_GE(gWorkerCalls.size(), 2u);
    EXPECT_EQ(CLOUD_MODE_IF_DUE_START, gWorkerCalls[0].mode);
    EXPECT_EQ(CLOUD_MODE_NOW, gWorkerCalls[1].mode);
    ASSERT_EQ(3u, gWorkerCalls.size()) << "busy worker started again, or Cancel's start missing";
    EXPECT_EQ(CLOUD_MODE_NONE, gWorkerCalls[2].mode);
    EXPECT_EQ(0, GetProgressWindow()) << "the destroyed page stays registered";
}

// ---------------------------------------------------------------- weather

TEST_F(OptionPages, WeatherPageEnablingClampsAndDownloadNow)
{
    CopyText(gWeatherStatus, "Weather status before", WEATHER_STATUS_SIZE);
    std::string shown, followed;
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
        Click(w, 1253);
        EXPECT_FALSE(Checked(w, 1252));
        Click(w, 1022);
        EXPECT_STREQ("key-with-blanks", gPrefs.szWeatherApiKey) << "Download Now commits first";
        gWeatherBusy = 1;
        Click(w, 1022);
        gWeatherBusy = 0;
        CopyText(gWeatherStatus, "Downloading weather for city 1 of 2", WEATHER_STATUS_SIZE);
        Sleep(1500);   // the page follows the worker's text
        followed = Text(w, 1232);
    });
    EXPECT_EQ("Weather status before", shown);
    EXPECT_EQ("Downloading weather for city 1 of 2", followed);
    EXPECT_EQ(2, gPrefs.iWeatherData);
    EXPECT_EQ(1, gPrefs.iWeatherInterval);
    EXPECT_EQ(44640, gPrefs.iWeatherValid);
    EXPECT_EQ(1, gPrefs.iWeatherUnits);
    ASSERT_GE(gWorkerCalls.size(), 1u);
    EXPECT_EQ('w', gWorkerCalls[0].worker);
    EXPECT_EQ(WEATHER_MODE_IF_DUE, gWorkerCalls[0].mode);
    EXPECT_EQ('c', gWorkerCalls[1].worker) << "a busy weather worker was started again";
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
    ASSERT_EQ(1u, gBoxTexts.size());
    EXPECT_EQ(gApp.strings.GetText(107, 2), gBoxTexts[0]);
    EXPECT_EQ(804u, gBoxFlags[0]);
    ASSERT_EQ(1u, gHelpTopics.size());
    EXPECT_EQ("Veltaspar.chm|WeatherOptions.htm", gHelpTopics[0]);
    EXPECT_STREQ("", gPrefs.szWeatherApiKey);
    EXPECT_EQ(Today(), gPrefs.iWeatherWarnApiKey) << "Cancel brought the reminder back";

    // A new run on the same day: no reminder; the weather page opens first.
    gApiKeyReminderShown = false;
    gProgramOptionsPage = OPTIONS_PAGE_WEATHER;
    RunDialog([](HWND) { Sleep(100); });
    EXPECT_EQ(1u, gBoxTexts.size());

    // The next day, opening straight on the weather page: reminded; Cancel
    // of the box opens no help.
    gPrefs.iWeatherWarnApiKey = Today() - 1;
    gBoxAnswer = IDCANCEL;
    RunDialog([](HWND) { Sleep(100); });
    EXPECT_EQ(2u, gBoxTexts.size());
    EXPECT_EQ(1u, gHelpTopics.size());
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
        Click(m, 1268);
        EXPECT_FALSE(Enabled(m, 1267));
        EXPECT_TRUE(Enabled(m, 1270));
        Click(m, 1270);
        EXPECT_FALSE(Enabled(m, 1272));
        EXPECT_FALSE(Enabled(m, 1273));
        Click(m, 1031);
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
    ASSERT_EQ(2u, gOpened.size());
    EXPECT_EQ("http://mine.example/EDDF/EDDF", gOpened[0]);
    std::string page = kMetarPageUrl;
    page.replace(page.find("#ICAO#"), 6, "EDDF");
    EXPECT_EQ(page, gOpened[1]);
    EXPECT_NE(std::string::npos, gOpened[1].find("/metar/data?ids=EDDF&format=raw&hours=0&taf=off"));
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

TEST_F(OptionPages, ConnectionTestThroughTheTransport)
{
    std::string success, failure;
    HWND internet = 0, clouds = 0, afterwards = 0;
    RunDialog([&](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_INTERNET);
        internet = Page(OPTIONS_PAGE_INTERNET);
        clouds = Page(OPTIONS_PAGE_CLOUDS);
        Click(internet, 1150);
        Type(internet, 1110, "testproxy");
        Type(internet, 1109, "8888");
        Click(internet, 1031);
        success = Text(internet, 1232);
        afterwards = GetProgressWindow();
        gHttpAnswer = 404;
        Click(internet, 1031);
        failure = Text(internet, 1232);
    });
    ASSERT_EQ(2u, gHttpSeen.size());
    EXPECT_EQ(kConnectionTestUrl, gHttpSeen[0].url);
    EXPECT_EQ("testproxy", gHttpSeen[0].proxyServer) << "the test runs on the typed settings";
    EXPECT_EQ(8888, gHttpSeen[0].proxyPort);
    EXPECT_EQ(internet, gHttpSeen[0].statusWindow);
    EXPECT_EQ("Downloading...", gHttpSeen[0].statusShown);
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
    ASSERT_EQ(1u, gWorkerCalls.size());
    EXPECT_EQ(CLOUD_MODE_NONE, gWorkerCalls[0].mode);
}

TEST_F(OptionPages, RemembersThePageAndHelpFollowsIt)
{
    RunDialog([](HWND dialog) {
        SelectTab(dialog, OPTIONS_PAGE_METAR);
        Click(dialog, 9);
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
    ASSERT_EQ(2u, gHelpTopics.size());
    EXPECT_EQ("Veltaspar.chm|METAROptions.htm", gHelpTopics[0]);
    EXPECT_EQ("Veltaspar.chm|GeneralOptions.htm", gHelpTopics[1]);
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
