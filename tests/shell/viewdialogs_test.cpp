// The layer dialogs and the cities dialog, driven through their real
// templates by a helper thread while the dialog runs modally on the test's
// own thread. The helper only records; the checks run afterwards.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>
#include <functional>
#include <string>

#include "earth/cities.h"
#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/mapfile.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/installrecord.h"
#include "shell/citiesdialog.h"
#include "shell/entry.h"
#include "shell/viewdialogs.h"
#include "testutil.h"
#include "renderfixture.h"

namespace {

// Screen previews the dialogs started that rendered and reached the
// options dialog's control (here: this counter). They render a tiny map set.
volatile LONG sPreviews;
void CountPreview(const char *path)
{
    if (path[0])
        InterlockedIncrement(&sPreviews);
}

// Waits for the last preview to finish; false when it never does.
bool PreviewsDone()
{
    for (int i = 0; i < 500 && gRenderJobs.running[RENDER_JOB_SCREEN_PREVIEW]; i++)
        Sleep(10);
    return !gRenderJobs.running[RENDER_JOB_SCREEN_PREVIEW];
}


HWND WaitForWindow(const char *caption, HWND notThis, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 20) {
        HWND found = 0;
        while ((found = FindWindowExA(0, found, "#32770", caption)) != 0)
            if (found != notThis && IsWindowVisible(found))
                return found;
        Sleep(20);
    }
    return 0;
}

struct Drive {
    const char *caption;
    std::function<void(HWND)> script;
    int closeWith;
    const char *screenshot;   // file name in the test folder; 0 none
    bool found;
    int shotResult;
};

void Settle()
{
    Sleep(150);   // posted commits and refreshes run
}

void Screenshot(Drive *drive)
{
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string folder = std::string(here) + "\\viewdlg-shot";
    CreateDirectoryA(folder.c_str(), 0);
    std::string target = UnixPath(std::string(here) + "\\" + drive->screenshot);
    std::string report;
    Sleep(300);
    drive->shotResult = RunHostScript(folder, "import -window root '" + target + "'", &report);
}

DWORD WINAPI DriveThread(LPVOID parameter)
{
    Drive *drive = (Drive *)parameter;
    HWND dialog = WaitForWindow(drive->caption, 0, 10000);
    drive->found = dialog != 0;
    if (!dialog)
        return 0;
    Sleep(100);
    drive->script(dialog);
    Settle();
    if (drive->screenshot)
        Screenshot(drive);
    PostMessageA(dialog, WM_COMMAND, drive->closeWith, 0);
    return 0;
}

int RunDriven(Drive *drive, const std::function<int()> &open)
{
    drive->found = false;
    drive->shotResult = -1;
    HANDLE thread = CreateThread(0, 0, DriveThread, drive, 0, 0);
    int result = open();
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    return result;
}

// ---- control helpers, sent from the helper thread ----

int Pos(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0);
}

void Track(HWND dialog, int id, int position)
{
    HWND track = GetDlgItem(dialog, id);
    SendMessageA(track, TBM_SETPOS, TRUE, position);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)track);
    Settle();
}

void Type(HWND dialog, int id, const char *text)
{
    HWND control = GetDlgItem(dialog, id);
    SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)control, TRUE);
    SendMessageA(control, WM_SETTEXT, 0, (LPARAM)text);
    Settle();
}

void Click(HWND dialog, int id)
{
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
    Settle();
}

std::string Text(HWND dialog, int id)
{
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool Enabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != 0;
}

void PickList(HWND dialog, int id, int index, bool combo = false)
{
    HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, combo ? CB_SETCURSEL : LB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                 (LPARAM)list);
    Settle();
}

int FindItem(HWND dialog, int id, const char *text, bool combo = false)
{
    return (int)SendDlgItemMessageA(dialog, id, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT,
                                    (WPARAM)-1, (LPARAM)text);
}

int Count(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, LB_GETCOUNT, 0, 0);
}

std::string ItemText(HWND dialog, int id, int index)
{
    char text[512] = "";
    SendDlgItemMessageA(dialog, id, LB_GETTEXT, index, (LPARAM)text);
    return text;
}

void SetSwatch(HWND dialog, int id, COLORREF colour)
{
    HWND swatch = GetDlgItem(dialog, id);
    *(COLORREF *)GetWindowLongPtrA(swatch, GWLP_USERDATA) = colour;
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, 0), (LPARAM)swatch);
}

struct ViewHolder {
    ViewOptions *view;
    ViewHolder() : view((ViewOptions *)calloc(1, sizeof(ViewOptions)))
    {
        SetDefaultView(view, 0);
    }
    ~ViewHolder() { free(view); }
};

class ViewDialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        gApp.strings.SetProgramTable(0, gProgramStrings);
        InitCommonControls();
        sPreviews = 0;
        // The screen preview renders the wallpaper list's one view of a
        // tiny map into a data folder of the test's own.
        std::string data = FreshTempFolder("viewdlg-data");
        std::string install = FreshTempFolder("viewdlg-install");
        WriteTinyMap(install + "\\Tiny.map", 8, 4);
        WriteTinyMap(install + "\\Tiny.min", MAP_MINI_WIDTH, MAP_MINI_HEIGHT);   // the preview's
        CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, install.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        CopyText(gPrefs.szCurProfile, "Test", sizeof gPrefs.szCurProfile);
        CreateDirectoryA((data + "\\Profile-Test").c_str(), 0);
        gPrefs.bUseIdle = 0;
        gScreenW = 64;
        gScreenH = 32;
        ASSERT_TRUE(buildCosineTable());
        ASSERT_TRUE(ResizeViewList(&gViewLists[VIEW_LIST_WALLPAPER], 1));
        SetDefaultView(&gViewLists[VIEW_LIST_WALLPAPER].data[0], VIEW_LIST_WALLPAPER);
        CopyText(gViewLists[VIEW_LIST_WALLPAPER].data[0].szMap, "Tiny", 64);
        gViewLists[VIEW_LIST_WALLPAPER].data[0].bCities = 0;
        memset(&gPreviewHooks, 0, sizeof gPreviewHooks);
        gPreviewHooks.screenPreviewWidth = 40;
        gPreviewHooks.showScreenPreview = CountPreview;
    }
    void TearDown() override
    {
        EXPECT_TRUE(PreviewsDone());
        memset(&gPreviewHooks, 0, sizeof gPreviewHooks);
        FreeViewLists();
    }
};

// ---- layer dialogs ----

TEST_F(ViewDialogs, DayShowsSignedValuesClampsTypingAndSwitchesTheAtmosphereOff)
{
    ViewHolder h;
    h.view->iDayBrightness = -100;
    h.view->iDayContrast = 100;
    int brightPos = -1, contrastPos = -1, urbanPos = -1, typedPos = -1;
    std::string brightText, urbanShown;
    Drive drive = {"Day view", [&](HWND d) {
                       brightPos = Pos(d, 1157);
                       contrastPos = Pos(d, 1159);
                       brightText = Text(d, 1086);
                       Track(d, 1169, 0);
                       Track(d, 1165, 0);
                       Type(d, 1120, "250");
                       urbanPos = Pos(d, 1175);
                       SendMessageA(d, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(d, 1121), TRUE);
                       Settle();
                       urbanShown = Text(d, 1120);
                       Type(d, 1086, "-30");
                       typedPos = Pos(d, 1157);
                       SetSwatch(d, 1072, 0x123456);
                       Sleep(700);   // one preview tick
                   },
                   IDOK, "viewdlg-day.png"};
    int result = RunDriven(&drive, [&] { return ShowViewLayerDialog(0, 105, h.view); });
    ASSERT_TRUE(drive.found);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(brightPos, 0);
    EXPECT_EQ(contrastPos, 200);
    EXPECT_EQ(brightText, "-100");
    EXPECT_EQ(urbanPos, 100);
    EXPECT_EQ(urbanShown, "100");   // the typed 250 as stored, once the focus left
    EXPECT_EQ(typedPos, 70);
    EXPECT_EQ(h.view->iDayUrban, 100);
    EXPECT_EQ(h.view->iDayBrightness, -30);
    EXPECT_EQ(h.view->iDayContrast, 100);
    EXPECT_EQ(h.view->iOHaloRadius, 0);
    EXPECT_EQ(h.view->iIHaloRadius, 0);
    EXPECT_EQ(h.view->bHalo, 0);
    EXPECT_EQ(h.view->crOHalo, 0x123456u);
    ASSERT_TRUE(PreviewsDone());
    EXPECT_GE(sPreviews, 1);
    EXPECT_EQ(gRenderJobs.status[RENDER_JOB_SCREEN_PREVIEW], RENDER_OK);
    EXPECT_EQ(drive.shotResult, 0);
}

TEST_F(ViewDialogs, DayDefaultsResetOnlyTheDayLayer)
{
    ViewHolder h;
    h.view->iDayUrban = 7;
    h.view->crIHalo = 1;
    h.view->bDay = 0;
    h.view->iNightLights = 3;
    std::string urbanText;
    Drive drive = {"Day view", [&](HWND d) {
                       Click(d, 1017);
                       urbanText = Text(d, 1120);
                       Track(d, 1169, 0);   // one radius left: the atmosphere stays
                   },
                   IDOK, 0};
    EXPECT_EQ(RunDriven(&drive, [&] { return ShowViewLayerDialog(0, 105, h.view); }), IDOK);
    EXPECT_EQ(urbanText, "50");
    EXPECT_EQ(h.view->iDayUrban, 50);
    EXPECT_EQ(h.view->crIHalo, DefaultView(0)->crIHalo);
    EXPECT_EQ(h.view->iOHaloRadius, 0);
    EXPECT_EQ(h.view->bHalo, 1);
    EXPECT_EQ(h.view->bDay, 0);
    EXPECT_EQ(h.view->iNightLights, 3);
}

TEST_F(ViewDialogs, NightMinutesClampAndCancelRestoresTheViewExactly)
{
    ViewHolder h;
    Drive typing = {"Night view", [&](HWND d) {
                        Type(d, 1117, "2000");
                        Type(d, 1118, "-5");
                        Track(d, 1157, 0);
                    },
                    IDOK, "viewdlg-night.png"};
    EXPECT_EQ(RunDriven(&typing, [&] { return ShowViewLayerDialog(0, 110, h.view); }), IDOK);
    EXPECT_EQ(h.view->iNightEqu, 1440);
    EXPECT_EQ(h.view->iNightPol, 0);
    EXPECT_EQ(h.view->iNightBrightness, -100);
    EXPECT_EQ(typing.shotResult, 0);

    ViewOptions *before = (ViewOptions *)malloc(sizeof(ViewOptions));
    memcpy(before, h.view, sizeof *before);
    sPreviews = 0;
    Drive cancel = {"Night view", [&](HWND d) {
                        Track(d, 1166, 10);
                        Type(d, 1117, "45");
                        Sleep(700);
                        Click(d, 1017);
                        SetSwatch(d, 1071, 0xABCDEF);
                        Sleep(700);
                    },
                    IDCANCEL, 0};
    EXPECT_EQ(RunDriven(&cancel, [&] { return ShowViewLayerDialog(0, 110, h.view); }), IDCANCEL);
    EXPECT_EQ(memcmp(before, h.view, sizeof *before), 0);
    // Two live previews and one more for the restored view.
    ASSERT_TRUE(PreviewsDone());
    EXPECT_GE(sPreviews, 3);
    free(before);
}

TEST_F(ViewDialogs, CloudShadowTypedToHundredDraggedToTwoHundred)
{
    ViewHolder h;
    int afterTyping = -1, posAfterTyping = -1, posAfterSpin = -1;
    Drive drive = {"Clouds", [&](HWND d) {
                       Type(d, 1112, "150");
                       afterTyping = h.view->iCloudsShadow;
                       posAfterTyping = Pos(d, 1172);
                       Track(d, 1172, 200);
                       Track(d, 1162, 0);
                       // The spin button reaches past the typed limit, like the trackbar.
                       HWND spin = GetDlgItem(d, 3112);
                       SendMessageA(spin, UDM_SETPOS32, 0, 150);
                       SendMessageA(d, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 150), (LPARAM)spin);
                       Settle();
                       posAfterSpin = Pos(d, 1172);
                   },
                   IDOK, "viewdlg-clouds.png"};
    EXPECT_EQ(RunDriven(&drive, [&] { return ShowViewLayerDialog(0, 104, h.view); }), IDOK);
    EXPECT_EQ(afterTyping, 100);
    EXPECT_EQ(posAfterTyping, 100);
    EXPECT_EQ(posAfterSpin, 150);
    EXPECT_EQ(h.view->iCloudsShadow, 150);
    EXPECT_EQ(h.view->iCloudsDensity, -100);
    EXPECT_EQ(drive.shotResult, 0);
}

TEST_F(ViewDialogs, BackgroundEnablingAndImageWithoutPathFallsBackToTransparent)
{
    ViewHolder h;
    bool swatch0 = true, stars0 = true, path1 = false, swatch1 = true, random1 = true,
         random2 = false, stars2 = false;
    std::string tile;
    Drive drive = {"Background", [&](HWND d) {
                       swatch0 = Enabled(d, 1065);
                       stars0 = Enabled(d, 1157);
                       Click(d, 1291);
                       path1 = Enabled(d, 1098);
                       swatch1 = Enabled(d, 1065);
                       random1 = Enabled(d, 1054);
                       PickList(d, 1294, 3, true);
                       random2 = Enabled(d, 1054);
                       char text[64] = "";
                       SendDlgItemMessageA(d, 1294, CB_GETLBTEXT, 3, (LPARAM)text);
                       tile = text;
                       Click(d, 1054);
                       Click(d, 1060);
                       stars2 = Enabled(d, 1157);
                       Track(d, 1157, 80);
                   },
                   IDOK, "viewdlg-background.png"};
    EXPECT_EQ(RunDriven(&drive, [&] { return ShowViewLayerDialog(0, 101, h.view); }), IDOK);
    EXPECT_FALSE(swatch0);
    EXPECT_FALSE(stars0);
    EXPECT_TRUE(path1);
    EXPECT_FALSE(swatch1);
    EXPECT_FALSE(random1);
    EXPECT_TRUE(random2);
    EXPECT_TRUE(stars2);
    EXPECT_EQ(tile, "Tile");
    EXPECT_EQ(h.view->iBGMode, 0);
    EXPECT_EQ(h.view->iBGImgMode, 3);
    EXPECT_EQ(h.view->bBGRandPos, 1);
    EXPECT_EQ(h.view->bStars, 1);
    EXPECT_EQ(h.view->iStarsBrightness, 80);
    EXPECT_EQ(drive.shotResult, 0);

    Drive withPath = {"Background", [&](HWND d) {
                          Click(d, 1291);
                          Type(d, 1098, "C:\\pictures\\sky.jpg");
                      },
                      IDOK, 0};
    EXPECT_EQ(RunDriven(&withPath, [&] { return ShowViewLayerDialog(0, 101, h.view); }), IDOK);
    EXPECT_EQ(h.view->iBGMode, 2);
    EXPECT_STREQ(h.view->szBGImage, "C:\\pictures\\sky.jpg");

    Drive colour = {"Background", [&](HWND d) {
                        Click(d, 1290);
                        SetSwatch(d, 1065, 0x00FF00);
                    },
                    IDOK, 0};
    EXPECT_EQ(RunDriven(&colour, [&] { return ShowViewLayerDialog(0, 101, h.view); }), IDOK);
    EXPECT_EQ(h.view->iBGMode, 1);
    EXPECT_EQ(h.view->crBackground, 0x00FF00u);
}

TEST_F(ViewDialogs, UnknownTemplateOrNoViewIsCancelled)
{
    ViewHolder h;
    EXPECT_EQ(ShowViewLayerDialog(0, 103, h.view), IDCANCEL);
    EXPECT_EQ(ShowViewLayerDialog(0, 105, 0), IDCANCEL);
    EXPECT_EQ(ShowCitiesDialog(0, 0), IDCANCEL);
}

// ---- cities ----

std::string DatasetFolder()
{
    std::string path = std::string("Z:") + VT_DATASET_DIR;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

class CitiesDialogs : public ViewDialogs {
protected:
    void SetUp() override
    {
        ViewDialogs::SetUp();
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, DatasetFolder().c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        ClearTimeZoneCache();
        ASSERT_EQ(LoadCityDatabase(), 0);
    }
};

void AddCity(ViewOptions *view, const char *line)
{
    CityEntry *city = &view->City[view->iCityNumber++];
    memset(city, 0, sizeof *city);
    DefaultCityLabel(city);
    CopyText(city->cityline, line, sizeof city->cityline);
    ParseCityLine(city->cityline, city);
}

const char kBerlin[] = "DE;Berlin;most of Germany;0;52.5000;13.3667;Europe/Berlin";
const char kKabul[] = "AF;Kabul;;0;34.5167;69.2000;Asia/Kabul";

TEST(CityLabel, DefaultsAreTheDocumentedLook)
{
    CityEntry city;
    memset(&city, 0x5A, sizeof city);
    DefaultCityLabel(&city);
    EXPECT_STREQ(city.text, "^#CCI\r\n\r\n#DW3 #DDY.#DMO. ^#TTM^\r\n#WDS #WSS32 #WTP\260");
    EXPECT_EQ(city.crtext[0], 0u);
    EXPECT_EQ(city.crtext[1], 0u);
    EXPECT_EQ(city.crbackground[0], (uint32_t)RGB(200, 200, 168));
    EXPECT_EQ(city.crbackground[1], (uint32_t)RGB(255, 255, 225));
    EXPECT_EQ(city.crframe[0], 0u);
    EXPECT_EQ(city.crarrow[0], (uint32_t)RGB(144, 0, 0));
    EXPECT_EQ(city.crarrow[1], (uint32_t)RGB(255, 0, 0));
    EXPECT_EQ(city.labelpos, 3);
    EXPECT_STREQ(city.font, "");
    EXPECT_EQ(city.fontsize, 10);
    EXPECT_EQ(city.shadow, 0);
    EXPECT_EQ(city.opacity, 100);
    EXPECT_EQ(city.framesize, 1);
    EXPECT_EQ(city.arrowsize, 12);
}

TEST_F(CitiesDialogs, FiltersAddRefusesDuplicatesRemoveAndCancelRestores)
{
    ViewHolder h;
    AddCity(h.view, kBerlin);
    ViewOptions *before = (ViewOptions *)malloc(sizeof(ViewOptions));
    memcpy(before, h.view, sizeof *before);
    int displayed0 = 0, countriesAll = 0, countriesUnited = 0, usCities = 0, filtered = 0,
        displayed1 = 0, displayed2 = 0, displayed3 = 0, displayed4 = 0;
    bool addShown = false, labelEnabled = false, labelDisabled = false;
    std::string remaining, first, united, info, newText, newSize, added;
    Drive drive = {"Cities", [&](HWND d) {
                       displayed0 = Count(d, 1130);
                       first = ItemText(d, 1130, 0);
                       countriesAll = Count(d, 1129);
                       Type(d, 1089, "united");
                       countriesUnited = Count(d, 1129);
                       for (int i = 0; i < countriesUnited; i++)
                           united += ItemText(d, 1129, i) + "|";
                       PickList(d, 1129, FindItem(d, 1129, "United States"));
                       usCities = Count(d, 1128);
                       Type(d, 1090, "ANCH");
                       filtered = Count(d, 1128);
                       PickList(d, 1128, 0);
                       info = Text(d, 1219);
                       HWND add = FindWindowExA(GetDlgItem(d, 1128), 0, "Button", 0);
                       addShown = add && IsWindowVisible(add);
                       SendMessageA(add, BM_CLICK, 0, 0);
                       Settle();
                       displayed1 = Count(d, 1130);
                       added = ItemText(d, 1130, 1);
                       newText = Text(d, 1091);
                       newSize = Text(d, 1088);
                       labelEnabled = Enabled(d, 1091);
                       SendMessageA(add, BM_CLICK, 0, 0);
                       Settle();
                       SendMessageA(d, WM_COMMAND, MAKEWPARAM(1128, LBN_DBLCLK),
                                    (LPARAM)GetDlgItem(d, 1128));
                       Settle();
                       displayed2 = Count(d, 1130);
                       PickList(d, 1130, 0);
                       HWND remove = FindWindowExA(GetDlgItem(d, 1130), 0, "Button", 0);
                       SendMessageA(remove, BM_CLICK, 0, 0);
                       Settle();
                       displayed3 = Count(d, 1130);
                       remaining = ItemText(d, 1130, 0);
                       SendMessageA(remove, BM_CLICK, 0, 0);
                       Settle();
                       displayed4 = Count(d, 1130);
                       labelDisabled = !Enabled(d, 1091);
                   },
                   IDCANCEL, 0};
    EXPECT_EQ(RunDriven(&drive, [&] { return ShowCitiesDialog(0, h.view); }), IDCANCEL);
    ASSERT_TRUE(drive.found);
    EXPECT_EQ(displayed0, 1);
    EXPECT_EQ(first, "Berlin, Germany");
    EXPECT_EQ(countriesAll, gCountries.count);
    EXPECT_GT(countriesAll, 200);
    EXPECT_EQ(united, "United Arab Emirates|United States|");
    EXPECT_EQ(usCities, 29);
    EXPECT_EQ(filtered, 1);
    // The shipped table names each city's airport station last.
    EXPECT_EQ(info, "Anchorage (Alaska (most areas)), 61.21810\260 N  149.90030\260 W, "
                    "United States (America/Anchorage), PANC");
    EXPECT_TRUE(addShown);
    EXPECT_EQ(displayed1, 2);
    EXPECT_EQ(added, "Anchorage, United States");
    EXPECT_EQ(newText, "^#CCI\r\n\r\n#DW3 #DDY.#DMO. ^#TTM^\r\n#WDS #WSS32 #WTP\260");
    EXPECT_EQ(newSize, "10");
    EXPECT_TRUE(labelEnabled);
    EXPECT_EQ(displayed2, 2);
    EXPECT_EQ(displayed3, 1);
    EXPECT_EQ(remaining, "Anchorage, United States");
    EXPECT_EQ(displayed4, 0);
    EXPECT_TRUE(labelDisabled);
    EXPECT_EQ(memcmp(before, h.view, sizeof *before), 0);
    free(before);
}

TEST_F(CitiesDialogs, OkWritesLabelsZoneStationAndAppliesToAll)
{
    ViewHolder h;
    AddCity(h.view, kBerlin);
    AddCity(h.view, kKabul);
    int kabulPosition = h.view->City[1].labelpos;
    ASSERT_NE(1, kabulPosition);
    h.view->City[1].crtext[0] = 0x123456;
    std::string restoredFilter, zoneInfo, dstInfo, berlinDst, shownSize, shownArrow;
    HWND box = 0;
    Drive drive = {"Cities", [&](HWND d) {
                       restoredFilter = Text(d, 1089);
                       PickList(d, 1130, 0);
                       berlinDst = Text(d, 1216);
                       Type(d, 1088, "200");
                       Type(d, 1087, "150");
                       Type(d, 1093, "7");
                       Type(d, 1092, "-3");
                       Type(d, 1091, "#CCI");
                       PickList(d, 1076, 1, true);
                       Type(d, 1094, " EDDB ");
                       PickList(d, 1080, FindItem(d, 1080, "Asia/Kathmandu", true), true);
                       zoneInfo = Text(d, 1240);
                       dstInfo = Text(d, 1216);
                       PostMessageA(d, WM_COMMAND, 1010, 0);
                       box = WaitForWindow(0, d, 5000);
                       if (box)
                           PostMessageA(box, WM_COMMAND, IDYES, 0);
                       for (int i = 0; i < 100 && box && IsWindow(box); i++)
                           Sleep(20);
                       SendMessageA(d, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(d, 1091), TRUE);
                       Settle();
                       shownSize = Text(d, 1088);
                       shownArrow = Text(d, 1092);
                   },
                   IDOK, "viewdlg-cities.png"};
    EXPECT_EQ(RunDriven(&drive, [&] { return ShowCitiesDialog(0, h.view); }), IDOK);
    EXPECT_EQ(restoredFilter, "united");   // remembered from the last opening
    EXPECT_EQ(berlinDst.compare(0, 4, "DST "), 0) << berlinDst;
    EXPECT_NE(berlinDst.find("starts on"), std::string::npos) << berlinDst;
    EXPECT_EQ(zoneInfo, "UTC+5:45 (+0545), Asia/Kathmandu (Kathmandu)");
    EXPECT_EQ(dstInfo, "No daylight saving time changes");
    EXPECT_TRUE(box != 0);
    EXPECT_EQ(shownSize, "127");
    EXPECT_EQ(shownArrow, "0");
    ASSERT_EQ(h.view->iCityNumber, 2);
    CityEntry *berlin = &h.view->City[0], *kabul = &h.view->City[1];
    EXPECT_EQ(berlin->fontsize, CITIESDLG_FONT_SIZE_MAX);
    EXPECT_EQ(berlin->opacity, 100);
    EXPECT_EQ(berlin->framesize, 7);
    EXPECT_EQ(berlin->arrowsize, 0);
    EXPECT_EQ(berlin->labelpos, 1);
    EXPECT_STREQ(berlin->text, "#CCI");
    EXPECT_STREQ(berlin->icao, "EDDB");
    EXPECT_STREQ(berlin->cityline,
                 "DE;Berlin;most of Germany;0;52.5000;13.3667;Asia/Kathmandu;EDDB");
    EXPECT_STREQ(berlin->timezone, "Asia/Kathmandu");
    EXPECT_EQ(berlin->utcoff, 5 * 3600 + 45 * 60);
    // Applied to all: the font and what follows it, not the colours, the
    // position, the text or the city.
    EXPECT_EQ(kabul->fontsize, CITIESDLG_FONT_SIZE_MAX);
    EXPECT_EQ(kabul->framesize, 7);
    EXPECT_EQ(kabul->opacity, 100);
    EXPECT_EQ(kabul->labelpos, kabulPosition);
    EXPECT_EQ(0x123456u, (uint32_t)kabul->crtext[0]);
    EXPECT_STRNE(kabul->text, "#CCI");
    EXPECT_STREQ(kabul->cityline, kKabul);
    EXPECT_EQ(drive.shotResult, 0);
}

TEST_F(CitiesDialogs, TheTwoHundredFiftySeventhCityIsRefused)
{
    ViewHolder h;
    for (int i = 0; i < VIEW_CITIES; i++) {
        CityEntry *city = &h.view->City[i];
        memset(city, 0, sizeof *city);
        snprintf(city->city, sizeof city->city, "C%d", i);
        CopyText(city->country, "X", sizeof city->country);
    }
    h.view->iCityNumber = VIEW_CITIES;
    int before = 0, after = 0;
    Drive drive = {"Cities", [&](HWND d) {
                       before = Count(d, 1130);
                       Type(d, 1089, "");
                       Type(d, 1090, "");
                       PickList(d, 1129, FindItem(d, 1129, "Germany"));
                       PickList(d, 1128, 0);
                       SendMessageA(d, WM_COMMAND, 1008, 0);
                       Settle();
                       after = Count(d, 1130);
                   },
                   IDOK, 0};
    EXPECT_EQ(RunDriven(&drive, [&] { return ShowCitiesDialog(0, h.view); }), IDOK);
    EXPECT_EQ(before, VIEW_CITIES);
    EXPECT_EQ(after, VIEW_CITIES);
    EXPECT_EQ(h.view->iCityNumber, VIEW_CITIES);
    EXPECT_STREQ(h.view->City[255].city, "C255");
}

}   // namespace
