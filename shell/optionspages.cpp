// The program options dialog and its five pages. Each page writes its
// controls once when created, commits them into gPrefs on request (tab
// change, OK, any check or radio click) and keeps its enabling in step with
// gPrefs through its refresh.
#include "shell/optionspages.h"

#include <commctrl.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "earth/clouds.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/utilities.h"
#include "resources/resource.h"
#include "shell/help.h"
#include "shell/progress.h"
#include "shell/program.h"

const char kConnectionTestUrl[] = "http://www.veltaspar.net/";

enum {
    TEXT_RESTART = 10,
    TEXT_RESTART_VARIANT = 1,
    TEXT_API_KEY = 107,
    TEXT_API_KEY_VARIANT = 2,
    SHORT_TEXT_SIZE = 64,        // user names and passwords: 63 characters
    LONG_TEXT_SIZE = 260,
    DAY_SECONDS = 86400,
    ADDRESS_SIZE = 1040,
};

static const char kTrimSet[] = " \t\r\n";

// ---------------------------------------------------------------- messages

static int ShowOptionsMessage(HWND owner, const char *text, uint32_t flags)
{
    const char *caption = gApp.productName[0] ? gApp.productName : gApp.strings.GetText(0, 0);
    return FrameworkMessageBox(owner, caption, "%s", flags, 0, text);
}

int gProgramOptionsPage = 0;
bool gApiKeyReminderShown = false;

static PrefsRecord sSavedPrefs;           // the Cancel copy
static HWND sPages[OPTIONS_PAGE_COUNT];

HWND ProgramOptionsPageWindow(int index)
{
    return index >= 0 && index < OPTIONS_PAGE_COUNT ? sPages[index] : 0;
}

// ---------------------------------------------------------------- control helpers

static bool Checked(HWND page, int id)
{
    return GetDlgCheck(page, id) == BST_CHECKED;
}

static void SetCheck(HWND page, int id, bool on)
{
    SetDlgCheck(page, id, on ? BST_CHECKED : BST_UNCHECKED);
}

// A radio group as the ids of its buttons and the values they stand for.
struct RadioGroup {
    int count;
    int ids[3];
    int values[3];
};

// Checks the button of value; an unknown value checks the first.
static void WriteRadio(HWND page, const RadioGroup &group, int value)
{
    int chosen = 0;
    for (int i = 0; i < group.count; i++)
        if (group.values[i] == value)
            chosen = i;
    for (int i = 0; i < group.count; i++)
        SetCheck(page, group.ids[i], i == chosen);
}

// The value of the checked button; keep when none is checked.
static int ReadRadio(HWND page, const RadioGroup &group, int keep)
{
    for (int i = 0; i < group.count; i++)
        if (Checked(page, group.ids[i]))
            return group.values[i];
    return keep;
}

// The statics between the buttons split the dialog's own grouping, so a
// click unchecks the rest of its group here.
static bool ClickRadio(HWND page, const RadioGroup &group, int id)
{
    bool member = false;
    for (int i = 0; i < group.count; i++)
        member = member || group.ids[i] == id;
    if (member)
        for (int i = 0; i < group.count; i++)
            SetCheck(page, group.ids[i], group.ids[i] == id);
    return member;
}

static void FillCombo(HWND page, int id, const char *const *items, int count, int value)
{
    HWND combo = GetDlgItem(page, id);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; i++)
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)items[i]);
    int selection = value < 0 ? 0 : value >= count ? count - 1 : value;
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)selection, 0);
}

static int ReadCombo(HWND page, int id, int keep)
{
    LRESULT selection = SendDlgItemMessageA(page, id, CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? keep : (int)selection;
}

// An edit with its up-down buddy: range and value on both.
static void WriteSpinNumber(HWND page, int editId, int spinId, int min, int max, int value)
{
    SendDlgItemMessageA(page, spinId, UDM_SETRANGE32, (WPARAM)min, (LPARAM)max);
    SendDlgItemMessageA(page, spinId, UDM_SETPOS32, 0, (LPARAM)value);
    SetDlgItemNumber(page, editId, value);
}

static void WriteText(HWND page, int id, const char *text, int size)
{
    SendDlgItemMessageA(page, id, EM_LIMITTEXT, (WPARAM)(size - 1), 0);
    SetDlgItemTextA(page, id, text);
}

// At most size - 1 characters, blanks, tabs and line ends cut at both ends.
static void ReadTrimmed(HWND page, int id, char *out, int size)
{
    char text[ADDRESS_SIZE];
    GetDlgItemTextA(page, id, text, sizeof text);
    TrimCharSet(text, kTrimSet);
    CopyText(out, text, size);
}

// Only written when it differs, so a ticking refresh does not flicker.
static void ShowText(HWND page, int id, const char *text)
{
    char shown[LONG_TEXT_SIZE];
    if (!GetDlgItemTextA(page, id, shown, sizeof shown))
        shown[0] = 0;
    if (strcmp(shown, text) != 0)
        SetDlgItemTextA(page, id, text);
}

static void ShowTime(HWND page, int id, int64_t t)
{
    char text[LAST_DOWNLOAD_TEXT_SIZE];
    LastDownloadText(t, text);
    ShowText(page, id, text);
}

static void ShowBar(HWND page, int percent)
{
    HWND bar = GetDlgItem(page, IDC_PROGRESS_BAR);
    EnableWindow(bar, percent >= 0);
    SendMessageA(bar, PBM_SETPOS, (WPARAM)(percent < 0 ? 0 : percent), 0);
}

// Ctrl and Shift both held with a click: download even when not due.
static bool ForceKeys()
{
    return (GetKeyState(VK_CONTROL) & 0x8000) && (GetKeyState(VK_SHIFT) & 0x8000);
}

// ---------------------------------------------------------------- general page

enum {
    IDC_AUTOSTART = 1034,
    IDC_DELAY_LABEL = 1215,
    IDC_DELAY = 1113,
    IDC_DELAY_SPIN = 1197,
    IDC_DELAY_UNIT = 1235,
    IDC_TRAY_ICON = 1061,
    IDC_SHOW_MAIN = 1057,
    IDC_USE_IDLE = 1063,
    IDC_LOW_MEMORY = 1046,
    IDC_FORCE_WALLPAPER = 1044,
    IDC_SHOW_OLD = 1058,
    IDC_DETECT_WALLPAPER = 1043,
    IDC_MULTI_MONITOR = 1048,
    IDC_TIME_FORMAT = 1265,
    IDC_DATE_FORMAT = 1266,
    IDC_WIND_UNITS = 1267,
    IDC_TIME_BIAS = 1116,
    IDC_TIME_BIAS_SPIN = 1200,
    IDC_TRANSITION = 1102,
    IDC_TRANSITION_SPIN = 1191,
    IDC_UTC_NOW = 1237,

    AUTOSTART_DELAY_MAX = 3600,
    MINUTES_BIAS_MAX = 1440,
};

static const char *const kTimeFormats[] = {"24 hours", "am / pm"};
static const char *const kDateFormats[] = {"dd.mm.yyyy", "mm/dd/yyyy"};
static const char *const kWindUnits[] = {"m/s", "km/h", "mph", "knots"};

// The simple flags of the page and their checks.
struct FlagControl {
    int id;
    uint8_t PrefsRecord::*flag;
};
static const FlagControl kGeneralFlags[] = {
    {IDC_AUTOSTART, &PrefsRecord::bAutoStart},
    {IDC_TRAY_ICON, &PrefsRecord::bTrayIcon},
    {IDC_SHOW_MAIN, &PrefsRecord::bShowMain},
    {IDC_USE_IDLE, &PrefsRecord::bUseIdle},
    {IDC_LOW_MEMORY, &PrefsRecord::bLowMemMode},
    {IDC_FORCE_WALLPAPER, &PrefsRecord::bForceWPUpdate},
    {IDC_SHOW_OLD, &PrefsRecord::bShowOld},
    {IDC_DETECT_WALLPAPER, &PrefsRecord::bDetectWP},
    {IDC_MULTI_MONITOR, &PrefsRecord::bMultiMon},
};

static void ShowUtcNow(HWND page)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    char text[16];
    snprintf(text, sizeof text, "%02d:%02d:%02d", now.wHour, now.wMinute, now.wSecond);
    ShowText(page, IDC_UTC_NOW, text);
}

static void WriteGeneral(HWND page)
{
    for (const FlagControl &f : kGeneralFlags)
        SetCheck(page, f.id, gPrefs.*f.flag != 0);
    WriteSpinNumber(page, IDC_DELAY, IDC_DELAY_SPIN, 0, AUTOSTART_DELAY_MAX, gPrefs.iAutoStartDelay);
    FillCombo(page, IDC_TIME_FORMAT, kTimeFormats, 2, gPrefs.iTimeFmt);
    FillCombo(page, IDC_DATE_FORMAT, kDateFormats, 2, gPrefs.iDateFmt);
    FillCombo(page, IDC_WIND_UNITS, kWindUnits, 4, gPrefs.iWindUnits);
    WriteSpinNumber(page, IDC_TIME_BIAS, IDC_TIME_BIAS_SPIN, -MINUTES_BIAS_MAX, MINUTES_BIAS_MAX,
                    gPrefs.iTimeBias);
    WriteSpinNumber(page, IDC_TRANSITION, IDC_TRANSITION_SPIN, -MINUTES_BIAS_MAX, MINUTES_BIAS_MAX,
                    gPrefs.iTransMove);
    ShowUtcNow(page);
    SetTimer(page, UTC_TIMER_ID, UTC_TIMER_MS, 0);
}

static void CommitGeneral(HWND page)
{
    for (const FlagControl &f : kGeneralFlags)
        gPrefs.*f.flag = Checked(page, f.id) ? 1 : 0;
    gPrefs.iAutoStartDelay = GetDlgItemNumber(page, IDC_DELAY, 0, AUTOSTART_DELAY_MAX, false);
    gPrefs.iTimeFmt = ReadCombo(page, IDC_TIME_FORMAT, gPrefs.iTimeFmt);
    gPrefs.iDateFmt = ReadCombo(page, IDC_DATE_FORMAT, gPrefs.iDateFmt);
    gPrefs.iWindUnits = ReadCombo(page, IDC_WIND_UNITS, gPrefs.iWindUnits);
    gPrefs.iTimeBias = GetDlgItemNumber(page, IDC_TIME_BIAS, -MINUTES_BIAS_MAX, MINUTES_BIAS_MAX, false);
    gPrefs.iTransMove =
        GetDlgItemNumber(page, IDC_TRANSITION, -MINUTES_BIAS_MAX, MINUTES_BIAS_MAX, false);
}

static void RefreshGeneral(HWND page)
{
    EnableDlgItems(gPrefs.bAutoStart != 0, page, IDC_DELAY_LABEL, IDC_DELAY, IDC_DELAY_SPIN,
                   IDC_DELAY_UNIT, 0);
    EnableWindow(GetDlgItem(page, IDC_MULTI_MONITOR), GetSystemMetrics(SM_CMONITORS) > 1);
}

// The page's part of OK: the tray icon follows its switch, and a changed
// multi-monitor switch only takes effect after a restart.
static void AcceptGeneral(HWND page)
{
    CommitGeneral(page);
    ShowTrayIcon(gPrefs.bTrayIcon ? TRAY_IDLE : TRAY_REMOVE);
    if (gPrefs.bMultiMon == sSavedPrefs.bMultiMon)
        return;
    const char *text = gApp.strings.GetText(TEXT_RESTART, TEXT_RESTART_VARIANT);
    if (text && ShowOptionsMessage(GetParent(page), text, RESTART_QUESTION_FLAGS) == IDYES)
        gApp.RequestRestart(-1, 0, false);
}

// ---------------------------------------------------------------- clouds page

enum {
    IDC_CLOUDS_RESOLUTION = 1073,
    IDC_CLOUDS_ENHANCE = 1163,
    IDC_CLOUDS_ENHANCE_TEXT = 1217,
    IDC_CLOUDS_DEMO = 1139,
    IDC_DOWNLOAD_EVERY = 1140,
    IDC_DOWNLOAD_MANUAL = 1142,
    IDC_CLOUDS_INTERVAL = 1095,
    IDC_CLOUDS_INTERVAL_UNIT = 1218,
    IDC_DOWNLOAD_NOW = 1022,
    IDC_USER = 1122,
    IDC_PASSWORD = 1108,
    IDC_LAST_CHECK = 1222,
    IDC_LAST_DOWNLOAD = 1223,

    CLOUDS_INTERVAL_MAX = 744,
};

static const char *const kCloudResolutions[] = {
    "Low Resolution (0,5 MB)", "Medium Resolution (1.5 MB)", "High Resolution (4,5 MB)"};
static const char *const kEnhanceTexts[CLOUDS_ENHANCE_LEVELS + 1] = {
    "Off (0)", "Low (1)", "Low (2)", "Medium (3)", "Medium (4)", "High (5)", "High (6)"};
static const RadioGroup kCloudSources = {
    3, {IDC_CLOUDS_DEMO, IDC_DOWNLOAD_EVERY, IDC_DOWNLOAD_MANUAL},
    {CLOUDS_DATA_BUILTIN, CLOUDS_DATA_AUTOMATIC, CLOUDS_DATA_ON_REQUEST}};

static int EnhanceLevel(int level)
{
    return level < 0 ? 0 : level > CLOUDS_ENHANCE_LEVELS ? CLOUDS_ENHANCE_LEVELS : level;
}

static void ShowEnhanceText(HWND page)
{
    int level = EnhanceLevel((int)SendDlgItemMessageA(page, IDC_CLOUDS_ENHANCE, TBM_GETPOS, 0, 0));
    SetDlgItemTextA(page, IDC_CLOUDS_ENHANCE_TEXT, kEnhanceTexts[level]);
}

// The process-wide status sink as it stands.
static void ShowSinkStatus(HWND page)
{
    ShowText(page, IDC_STATUS_TEXT, GetProgressText());
    ShowBar(page, GetProgressPercent());
}

static void WriteClouds(HWND page)
{
    FillCombo(page, IDC_CLOUDS_RESOLUTION, kCloudResolutions, 3, gPrefs.iCloudsRes);
    SendDlgItemMessageA(page, IDC_CLOUDS_ENHANCE, TBM_SETRANGE, TRUE,
                        MAKELPARAM(0, CLOUDS_ENHANCE_LEVELS));
    SendDlgItemMessageA(page, IDC_CLOUDS_ENHANCE, TBM_SETPOS, TRUE,
                        (LPARAM)EnhanceLevel(gPrefs.iCloudsEnhance));
    ShowEnhanceText(page);
    WriteRadio(page, kCloudSources, gPrefs.iCloudsData);
    SetDlgItemNumber(page, IDC_CLOUDS_INTERVAL, gPrefs.iCloudsInterval);
    WriteText(page, IDC_USER, gPrefs.szCloudsUser, SHORT_TEXT_SIZE);
    WriteText(page, IDC_PASSWORD, gPrefs.szCloudsPass, SHORT_TEXT_SIZE);
    RegisterProgressWindow(page);
    ShowSinkStatus(page);
}

static void CommitClouds(HWND page)
{
    gPrefs.iCloudsRes = ReadCombo(page, IDC_CLOUDS_RESOLUTION, gPrefs.iCloudsRes);
    gPrefs.iCloudsEnhance =
        EnhanceLevel((int)SendDlgItemMessageA(page, IDC_CLOUDS_ENHANCE, TBM_GETPOS, 0, 0));
    gPrefs.iCloudsData = ReadRadio(page, kCloudSources, gPrefs.iCloudsData);
    gPrefs.iCloudsInterval = GetDlgItemNumber(page, IDC_CLOUDS_INTERVAL, CLOUDS_MIN_INTERVAL_HOURS,
                                              CLOUDS_INTERVAL_MAX, false);
    ReadTrimmed(page, IDC_USER, gPrefs.szCloudsUser, SHORT_TEXT_SIZE);
    ReadTrimmed(page, IDC_PASSWORD, gPrefs.szCloudsPass, SHORT_TEXT_SIZE);
}

// Also the cloud worker's call when it ends: the times it wrote.
static void RefreshClouds(HWND page)
{
    int source = gPrefs.iCloudsData;
    EnableDlgItems(source == CLOUDS_DATA_AUTOMATIC, page, IDC_CLOUDS_INTERVAL,
                   IDC_CLOUDS_INTERVAL_UNIT, 0);
    EnableWindow(GetDlgItem(page, IDC_DOWNLOAD_NOW), source == CLOUDS_DATA_ON_REQUEST);
    EnableDlgItems(source == CLOUDS_DATA_AUTOMATIC || source == CLOUDS_DATA_ON_REQUEST, page,
                   IDC_USER, IDC_PASSWORD, 0);
    ShowTime(page, IDC_LAST_CHECK, gPrefs.tCloudsCheck);
    ShowTime(page, IDC_LAST_DOWNLOAD, gPrefs.tCloudsDown);
    ShowSinkStatus(page);
}

static void DownloadCloudsNow(HWND page)
{
    CommitClouds(page);
    RegisterProgressWindow(page);
    if (!gCloudUpdaterBusy)
        StartCloudDownload(ForceKeys() ? CLOUD_MODE_NOW : CLOUD_MODE_IF_DUE_START, false);
}

// ---------------------------------------------------------------- weather page

enum {
    IDC_WEATHER_NONE = 1251,
    IDC_WEATHER_INTERVAL = 1274,
    IDC_WEATHER_INTERVAL_UNIT = 1296,
    IDC_API_KEY = 1254,
    IDC_CELSIUS = 1252,
    IDC_FAHRENHEIT = 1253,
    IDC_WEATHER_VALID = 1255,

    WEATHER_MINUTES_MAX = 44640,
};

static const RadioGroup kWeatherSources = {
    3, {IDC_WEATHER_NONE, IDC_DOWNLOAD_EVERY, IDC_DOWNLOAD_MANUAL}, {0, 1, 2}};
static const RadioGroup kWeatherUnits = {2, {IDC_CELSIUS, IDC_FAHRENHEIT}, {0, 1}};

static void ShowWeatherStatus(HWND page)
{
    ShowTime(page, IDC_LAST_CHECK, gPrefs.tWeatherCheck);
    ShowTime(page, IDC_LAST_DOWNLOAD, gPrefs.tWeatherDown);
    char text[WEATHER_STATUS_SIZE];
    CopyText(text, gWeatherStatus, sizeof text);   // the worker may be rewriting it
    ShowText(page, IDC_STATUS_TEXT, text);
    ShowBar(page, gWeatherBusy ? GetProgressPercent() : -1);
}

static void WriteWeather(HWND page)
{
    WriteRadio(page, kWeatherSources, gPrefs.iWeatherData);
    SetDlgItemNumber(page, IDC_WEATHER_INTERVAL, gPrefs.iWeatherInterval);
    WriteText(page, IDC_API_KEY, gPrefs.szWeatherApiKey, sizeof gPrefs.szWeatherApiKey);
    WriteRadio(page, kWeatherUnits, gPrefs.iWeatherUnits);
    SetDlgItemNumber(page, IDC_WEATHER_VALID, gPrefs.iWeatherValid);
    SetTimer(page, STATUS_TIMER_ID, STATUS_TIMER_MS, 0);
}

static void CommitWeather(HWND page)
{
    gPrefs.iWeatherData = ReadRadio(page, kWeatherSources, gPrefs.iWeatherData);
    gPrefs.iWeatherInterval = GetDlgItemNumber(page, IDC_WEATHER_INTERVAL, 1, WEATHER_MINUTES_MAX, false);
    ReadTrimmed(page, IDC_API_KEY, gPrefs.szWeatherApiKey, sizeof gPrefs.szWeatherApiKey);
    gPrefs.iWeatherUnits = ReadRadio(page, kWeatherUnits, gPrefs.iWeatherUnits);
    gPrefs.iWeatherValid = GetDlgItemNumber(page, IDC_WEATHER_VALID, 1, WEATHER_MINUTES_MAX, false);
}

static void RefreshWeather(HWND page)
{
    int source = gPrefs.iWeatherData;
    EnableDlgItems(source == 1, page, IDC_WEATHER_INTERVAL, IDC_WEATHER_INTERVAL_UNIT, 0);
    EnableWindow(GetDlgItem(page, IDC_DOWNLOAD_NOW), source == 2);
    EnableWindow(GetDlgItem(page, IDC_API_KEY), source != 0);
    ShowWeatherStatus(page);
}

static void DownloadWeatherNow(HWND page)
{
    CommitWeather(page);
    if (!gWeatherBusy)
        StartWeatherDownload(ForceKeys() ? WEATHER_MODE_NOW : WEATHER_MODE_IF_DUE);
}

// Once a day at most, and once a run: without a key of their own users share
// a limited one.
static void RemindApiKey(HWND dialog)
{
    if (gPrefs.szWeatherApiKey[0] || gApiKeyReminderShown)
        return;
    int today = (int)(_time64(0) / DAY_SECONDS);
    if (today == gPrefs.iWeatherWarnApiKey)
        return;
    gPrefs.iWeatherWarnApiKey = today;
    gApiKeyReminderShown = true;
    const char *text = gApp.strings.GetText(TEXT_API_KEY, TEXT_API_KEY_VARIANT);
    if (text && ShowOptionsMessage(dialog, text, API_KEY_REMINDER_FLAGS) == IDOK)
        ShowHelp(kHelpFileName, "WeatherOptions.htm");
}

// ---------------------------------------------------------------- METAR page

enum {
    IDC_METAR_NONE = 1251,
    IDC_METAR_WITH_OWM = 1266,
    IDC_METAR_PREFER_OWM = 1267,
    IDC_METAR_ONLY = 1268,
    IDC_METAR_DEFAULT_SOURCE = 1270,
    IDC_METAR_OWN_SOURCE = 1271,
    IDC_METAR_URL = 1272,
    IDC_METAR_URL_DEFAULT = 1273,
    IDC_TEST_ICAO = 1094,
    IDC_TEST = 1031,
};

static const RadioGroup kMetarData = {
    3, {IDC_METAR_NONE, IDC_METAR_WITH_OWM, IDC_METAR_ONLY}, {0, 1, 2}};
static const RadioGroup kMetarSources = {
    2, {IDC_METAR_DEFAULT_SOURCE, IDC_METAR_OWN_SOURCE}, {0, 1}};

static void ShowMetarStatus(HWND page)
{
    ShowTime(page, IDC_LAST_DOWNLOAD, gPrefs.tMetarDown);
    char text[WEATHER_STATUS_SIZE];
    CopyText(text, gMetarStatus, sizeof text);
    ShowText(page, IDC_STATUS_TEXT, text);
}

static void WriteMetar(HWND page)
{
    WriteRadio(page, kMetarData, gPrefs.iMetarData);
    SetCheck(page, IDC_METAR_PREFER_OWM, gPrefs.iMetaPreferOWM != 0);
    WriteRadio(page, kMetarSources, gPrefs.iMetarSource);
    WriteText(page, IDC_METAR_URL, gPrefs.szMetarURL, sizeof gPrefs.szMetarURL);
    SendDlgItemMessageA(page, IDC_TEST_ICAO, EM_LIMITTEXT, LONG_TEXT_SIZE - 1, 0);
    SetTimer(page, STATUS_TIMER_ID, STATUS_TIMER_MS, 0);
}

static void CommitMetar(HWND page)
{
    gPrefs.iMetarData = ReadRadio(page, kMetarData, gPrefs.iMetarData);
    gPrefs.iMetaPreferOWM = Checked(page, IDC_METAR_PREFER_OWM) ? 1 : 0;
    gPrefs.iMetarSource = ReadRadio(page, kMetarSources, gPrefs.iMetarSource);
    ReadTrimmed(page, IDC_METAR_URL, gPrefs.szMetarURL, sizeof gPrefs.szMetarURL);
}

static void RefreshMetar(HWND page)
{
    bool on = gPrefs.iMetarData != 0;
    EnableWindow(GetDlgItem(page, IDC_METAR_PREFER_OWM), gPrefs.iMetarData == 1);
    EnableDlgItems(on, page, IDC_METAR_DEFAULT_SOURCE, IDC_METAR_OWN_SOURCE, 0);
    EnableDlgItems(on && gPrefs.iMetarSource == 1, page, IDC_METAR_URL, IDC_METAR_URL_DEFAULT, 0);
    ShowMetarStatus(page);
}

bool MetarTestAddress(const char *icao, int source, const char *urlTemplate, char *out, int size)
{
    char code[LONG_TEXT_SIZE];
    CopyText(code, icao ? icao : "", sizeof code);
    TrimCharSet(code, kTrimSet);
    if (!code[0] || size <= 0)
        return false;
    const char *address = source == 0 ? kMetarPageUrl : urlTemplate ? urlTemplate : "";
    if ((int)strlen(address) >= size)
        return false;
    CopyText(out, address, size);
    return ReplaceAll(out, size, "#ICAO#", code) >= 0;
}

static void TestMetar(HWND page)
{
    CommitMetar(page);
    char icao[LONG_TEXT_SIZE], address[ADDRESS_SIZE];
    GetDlgItemTextA(page, IDC_TEST_ICAO, icao, sizeof icao);
    if (MetarTestAddress(icao, gPrefs.iMetarSource, gPrefs.szMetarURL, address, sizeof address))
        ShellExecuteA(0, "open", address, 0, 0, SW_SHOWNORMAL);
}

// ---------------------------------------------------------------- internet page

enum {
    IDC_DIRECT = 1148,
    IDC_USE_PROXY = 1150,
    IDC_PROXY_SERVER_LABEL = 1233,
    IDC_PROXY_SERVER = 1110,
    IDC_PROXY_PORT_LABEL = 1230,
    IDC_PROXY_PORT = 1109,
    IDC_PROXY_CONNECT = 1053,
    IDC_PROXY_AUTH = 1052,
    IDC_PROXY_USER_LABEL = 1227,
    IDC_PROXY_PASSWORD_LABEL = 1228,

    PROXY_PORT_MAX = 65535,
};

static const RadioGroup kProxyTypes = {2, {IDC_DIRECT, IDC_USE_PROXY}, {0, 1}};

static void WriteInternet(HWND page)
{
    WriteRadio(page, kProxyTypes, gPrefs.iProxyType);
    WriteText(page, IDC_PROXY_SERVER, gPrefs.szProxyServer, sizeof gPrefs.szProxyServer);
    SendDlgItemMessageA(page, IDC_PROXY_PORT, EM_LIMITTEXT, 5, 0);
    if (gPrefs.iProxyPort)
        SetDlgItemNumber(page, IDC_PROXY_PORT, gPrefs.iProxyPort);
    else
        SetDlgItemTextA(page, IDC_PROXY_PORT, "");
    SetCheck(page, IDC_PROXY_CONNECT, gPrefs.bProxyConn != 0);
    SetCheck(page, IDC_PROXY_AUTH, gPrefs.bProxyAuth != 0);
    WriteText(page, IDC_USER, gPrefs.szProxyUser, SHORT_TEXT_SIZE);
    WriteText(page, IDC_PASSWORD, gPrefs.szProxyPass, SHORT_TEXT_SIZE);
}

// An empty port field keeps "no port" rather than becoming port 1.
static int ReadProxyPort(HWND page)
{
    int port = GetDlgItemNumber(page, IDC_PROXY_PORT, 1, PROXY_PORT_MAX, false);
    return gFrameworkLastError == QRF_ERR_EMPTY_NUMBER ? 0 : port;
}

static void CommitInternet(HWND page)
{
    gPrefs.iProxyType = ReadRadio(page, kProxyTypes, gPrefs.iProxyType);
    ReadTrimmed(page, IDC_PROXY_SERVER, gPrefs.szProxyServer, sizeof gPrefs.szProxyServer);
    gPrefs.iProxyPort = ReadProxyPort(page);
    gPrefs.bProxyConn = Checked(page, IDC_PROXY_CONNECT) ? 1 : 0;
    gPrefs.bProxyAuth = Checked(page, IDC_PROXY_AUTH) ? 1 : 0;
    ReadTrimmed(page, IDC_USER, gPrefs.szProxyUser, SHORT_TEXT_SIZE);
    ReadTrimmed(page, IDC_PASSWORD, gPrefs.szProxyPass, SHORT_TEXT_SIZE);
}

static void RefreshInternet(HWND page)
{
    bool proxy = gPrefs.iProxyType == 1;
    EnableDlgItems(proxy, page, IDC_PROXY_SERVER_LABEL, IDC_PROXY_SERVER, IDC_PROXY_PORT_LABEL,
                   IDC_PROXY_PORT, IDC_PROXY_CONNECT, IDC_PROXY_AUTH, 0);
    EnableDlgItems(proxy && gPrefs.bProxyAuth, page, IDC_PROXY_USER_LABEL, IDC_USER,
                   IDC_PROXY_PASSWORD_LABEL, IDC_PASSWORD, 0);
}

// The page shows the request's texts while it runs; the window registered
// before gets the sink back afterwards.
static void TestConnection(HWND page)
{
    CommitInternet(page);
    HWND previous = GetProgressWindow();
    RegisterProgressWindow(page);
    SetDlgItemTextA(page, IDC_STATUS_TEXT, "Testing internet connection...");
    UpdateWindow(page);
    char url[HTTP_URL_SIZE];
    CopyText(url, kConnectionTestUrl, sizeof url);
    if (DownloadToFile(url, sizeof url, 0, 0, 0, 0, false) == 0)
        SetDlgItemTextA(page, IDC_STATUS_TEXT, "Test successful!");
    RegisterProgressWindow(previous);
}

// ---------------------------------------------------------------- pages

struct PageKind {
    int templateId;
    const char *tabText;
    const char *helpTopic;
    void (*write)(HWND page);
    void (*commit)(HWND page);
    void (*refresh)(HWND page);
    const RadioGroup *radios[2];
};

static const PageKind kPages[OPTIONS_PAGE_COUNT] = {
    {IDD_PAGE_GENERAL, "General", "GeneralOptions.htm", WriteGeneral, CommitGeneral,
     RefreshGeneral, {0, 0}},
    {IDD_PAGE_CLOUDS, "Clouds", "CloudsOptions.htm", WriteClouds, CommitClouds, RefreshClouds,
     {&kCloudSources, 0}},
    {IDD_PAGE_WEATHER, "Weather", "WeatherOptions.htm", WriteWeather, CommitWeather,
     RefreshWeather, {&kWeatherSources, &kWeatherUnits}},
    {IDD_PAGE_METAR, "METAR", "METAROptions.htm", WriteMetar, CommitMetar, RefreshMetar,
     {&kMetarData, &kMetarSources}},
    {IDD_PAGE_INTERNET, "Internet", "InternetOptions.htm", WriteInternet, CommitInternet,
     RefreshInternet, {&kProxyTypes, 0}},
};

static int PageIndex(HWND page)
{
    return (int)GetWindowLongPtrA(page, GWLP_USERDATA);
}

static bool IsCheckOrRadio(HWND page, int id)
{
    LONG style = GetWindowLongA(GetDlgItem(page, id), GWL_STYLE) & BS_TYPEMASK;
    return style == BS_AUTOCHECKBOX || style == BS_CHECKBOX || style == BS_AUTORADIOBUTTON ||
           style == BS_RADIOBUTTON;
}

// The pages' own buttons; true when handled.
static bool PageButton(HWND page, int index, int id)
{
    if (index == OPTIONS_PAGE_CLOUDS && id == IDC_DOWNLOAD_NOW)
        DownloadCloudsNow(page);
    else if (index == OPTIONS_PAGE_WEATHER && id == IDC_DOWNLOAD_NOW)
        DownloadWeatherNow(page);
    else if (index == OPTIONS_PAGE_METAR && id == IDC_METAR_URL_DEFAULT)
        SetDlgItemTextA(page, IDC_METAR_URL, kDefaultPrefs.szMetarURL);
    else if (index == OPTIONS_PAGE_METAR && id == IDC_TEST)
        TestMetar(page);
    else if (index == OPTIONS_PAGE_INTERNET && id == IDC_TEST)
        TestConnection(page);
    else
        return false;
    return true;
}

static void PageCommand(HWND page, int id, int code)
{
    int index = PageIndex(page);
    const PageKind &kind = kPages[index];
    if (id == IDOK && code == 0 && index == OPTIONS_PAGE_GENERAL) {
        AcceptGeneral(page);
        return;
    }
    if (id == IDOK && code == 0) {
        kind.commit(page);
        return;
    }
    if (id == IDCANCEL || code != BN_CLICKED)
        return;
    if (PageButton(page, index, id) || !IsCheckOrRadio(page, id))
        return;
    for (const RadioGroup *group : kind.radios)
        if (group)
            ClickRadio(page, *group, id);
    kind.commit(page);
    kind.refresh(page);
}

static void PageTimer(HWND page, UINT_PTR timer)
{
    int index = PageIndex(page);
    if (timer == UTC_TIMER_ID)
        ShowUtcNow(page);
    else if (timer == STATUS_TIMER_ID && index == OPTIONS_PAGE_WEATHER)
        ShowWeatherStatus(page);
    else if (timer == STATUS_TIMER_ID && index == OPTIONS_PAGE_METAR)
        ShowMetarStatus(page);
}

static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(page, GWLP_USERDATA, lParam);
        UpdateDialogFonts(page, DialogDpi(page));
        kPages[lParam].write(page);
        kPages[lParam].refresh(page);
        return FALSE;   // the focus stays with the dialog
    case PAGE_REFRESH:
        kPages[PageIndex(page)].refresh(page);
        return TRUE;
    case PAGE_COMMIT:
        kPages[PageIndex(page)].commit(page);
        return TRUE;
    case WM_COMMAND:
        PageCommand(page, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_HSCROLL:
        if ((HWND)lParam == GetDlgItem(page, IDC_CLOUDS_ENHANCE))
            ShowEnhanceText(page);
        return TRUE;
    case WM_TIMER:
        PageTimer(page, wParam);
        return TRUE;
    case WM_DESTROY:
        KillTimer(page, UTC_TIMER_ID);
        KillTimer(page, STATUS_TIMER_ID);
        if (GetProgressWindow() == page)
            RegisterProgressWindow(0);
        return FALSE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- the dialog

enum { OPTIONS_PAGE_SHOWN = 0x8003 };   // posted: the page is up, the reminder may follow

static void ShowPage(HWND dialog, int index)
{
    TabCtrl_SetCurSel(GetDlgItem(dialog, IDC_OPTIONS_TAB), index);
    for (int i = 0; i < OPTIONS_PAGE_COUNT; i++)
        if (sPages[i])
            ShowWindow(sPages[i], i == index ? SW_SHOW : SW_HIDE);
    PostMessageA(dialog, OPTIONS_PAGE_SHOWN, (WPARAM)index, 0);
}

static RECT PlaceholderRect(HWND dialog)
{
    RECT area = {0, 0, 0, 0};
    HWND placeholder = GetDlgItem(dialog, IDC_OPTIONS_PLACEHOLDER);
    if (placeholder) {
        GetWindowRect(placeholder, &area);
        MapWindowPoints(HWND_DESKTOP, dialog, (POINT *)&area, 2);
        DestroyWindow(placeholder);
    }
    return area;
}

static void CreatePages(HWND dialog)
{
    HWND tab = GetDlgItem(dialog, IDC_OPTIONS_TAB);
    for (int i = 0; i < OPTIONS_PAGE_COUNT; i++) {
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = (char *)kPages[i].tabText;
        SendMessageA(tab, TCM_INSERTITEMA, (WPARAM)i, (LPARAM)&item);
    }
    RECT area = PlaceholderRect(dialog);
    for (int i = 0; i < OPTIONS_PAGE_COUNT; i++) {
        HWND page = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(kPages[i].templateId),
                                       dialog, PageProc, (LPARAM)i);
        if (!page)
            break;   // a page missing leaves the ones after it out too
        sPages[i] = page;
        SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOACTIVATE);
    }
}

static void InitProgramOptions(HWND dialog)
{
    InitDialog(dialog);
    sSavedPrefs = gPrefs;
    memset(sPages, 0, sizeof sPages);
    CreatePages(dialog);
    if (gProgramOptionsPage < 0 || gProgramOptionsPage >= OPTIONS_PAGE_COUNT)
        gProgramOptionsPage = 0;
    ShowPage(dialog, gProgramOptionsPage);
}

static void SendToPages(UINT message, WPARAM wParam)
{
    for (int i = 0; i < OPTIONS_PAGE_COUNT; i++)
        if (sPages[i])
            SendMessageA(sPages[i], message, wParam, 0);
}

static void ChangeTab(HWND dialog)
{
    int index = (int)SendDlgItemMessageA(dialog, IDC_OPTIONS_TAB, TCM_GETCURSEL, 0, 0);
    if (index < 0 || index >= OPTIONS_PAGE_COUNT)
        return;
    gProgramOptionsPage = index;
    SendToPages(PAGE_COMMIT, 0);
    ShowPage(dialog, index);
}

static void ForgetPages()
{
    memset(sPages, 0, sizeof sPages);
}

static void AcceptProgramOptions(HWND dialog)
{
    SendToPages(WM_COMMAND, IDOK);
    EndDialog(dialog, IDOK);
    bool regenerate = gPrefs.iCloudsRes != sSavedPrefs.iCloudsRes ||
                      gPrefs.iCloudsEnhance != sSavedPrefs.iCloudsEnhance ||
                      gPrefs.iCloudsData != sSavedPrefs.iCloudsData;
    StartCloudDownload(CLOUD_MODE_IF_DUE, regenerate);
    if (!gWeatherBusy)
        StartWeatherDownload(WEATHER_MODE_AUTO);
}

// What the download workers wrote while a dialog was open (times, the
// answer's date stamp, a redirected address) and a reminder already shown
// today, from now into a restored copy.
void KeepWorkerPrefs(PrefsRecord *restored, const PrefsRecord *now)
{
    restored->iWeatherWarnApiKey = now->iWeatherWarnApiKey;
    restored->tCloudsDown = now->tCloudsDown;
    restored->tCloudsCheck = now->tCloudsCheck;
    restored->tWeatherDown = now->tWeatherDown;
    restored->tWeatherCheck = now->tWeatherCheck;
    restored->tMetarDown = now->tMetarDown;
    memcpy(restored->szModified, now->szModified, sizeof restored->szModified);
    memcpy(restored->szCloudsUrl, now->szCloudsUrl, sizeof restored->szCloudsUrl);
}

// The dialog's edits go; what the workers wrote meanwhile stays.
static void RestorePrefs()
{
    PrefsRecord now = gPrefs;
    gPrefs = sSavedPrefs;
    KeepWorkerPrefs(&gPrefs, &now);
}

static void CancelProgramOptions(HWND dialog)
{
    SendToPages(WM_COMMAND, IDCANCEL);
    RestorePrefs();
    EndDialog(dialog, IDCANCEL);
    if (!gCloudUpdaterBusy)
        StartCloudDownload(CLOUD_MODE_NONE, false);
}

static void ShowPageHelp()
{
    ShowHelp(kHelpFileName, kPages[gProgramOptionsPage].helpTopic);
}

static INT_PTR CALLBACK ProgramOptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitProgramOptions(dialog);
        return TRUE;
    case WM_NOTIFY:
        if (((NMHDR *)lParam)->idFrom == IDC_OPTIONS_TAB && ((NMHDR *)lParam)->code == TCN_SELCHANGE)
            ChangeTab(dialog);
        return TRUE;
    case OPTIONS_PAGE_SHOWN:
        if ((int)wParam == OPTIONS_PAGE_WEATHER && gProgramOptionsPage == OPTIONS_PAGE_WEATHER)
            RemindApiKey(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            AcceptProgramOptions(dialog);
        else if (LOWORD(wParam) == IDCANCEL)
            CancelProgramOptions(dialog);
        else if (LOWORD(wParam) == 9)
            ShowPageHelp();
        return TRUE;
    case WM_HELP:
        ShowPageHelp();
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, LOWORD(wParam));
        for (HWND page : sPages)
            if (page)
                UpdateDialogFonts(page, LOWORD(wParam));
        return TRUE;
    case WM_DESTROY:
        ForgetPages();
        return FALSE;
    }
    return FALSE;
}

int ShowProgramOptions(HWND owner)
{
    int result = DoModal(owner, IDD_PROGRAM_OPTIONS, ProgramOptionsProc, 0);
    return result == IDOK ? IDOK : IDCANCEL;
}
