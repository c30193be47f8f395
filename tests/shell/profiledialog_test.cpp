// The profile settings behind the options dialog's "Settings..." button,
// driven inside their modal loop as a user would (clicks, typing), and what
// they leave behind: the stored screen trigger that a display change then
// acts on, the renamed profile folder and the tray's profile commands. Also
// the options dialog's answer to a display change and its Cancel while a
// download worker writes the settings.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>

#include "earth/compositor.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/messages.h"
#include "framework/utilities.h"
#include "shell/areaselector.h"
#include "shell/mainwindow.h"
#include "shell/optionsdialog.h"
#include "shell/profiledialogs.h"
#include "shell/profiles.h"
#include "shell/program.h"
#include "renderfixture.h"
#include "testutil.h"

namespace {

void Pump()
{
    MSG msg;
    for (int round = 0; round < 3; round++) {
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            HWND dialog = GetAncestor(msg.hwnd, GA_ROOT);
            if (!dialog || !IsDialogMessageA(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        Sleep(10);
    }
}

// ---------------------------------------------------------------- the modal loop

std::function<void(HWND)> gDrive;
bool gDriven;

BOOL CALLBACK FindSettingsDialog(HWND window, LPARAM found)
{
    char caption[64] = "";
    GetWindowTextA(window, caption, sizeof caption);
    if (IsWindowVisible(window) && !strcmp(caption, "Profile Settings")) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK DriveTimer(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = 0;
    EnumThreadWindows(GetCurrentThreadId(), FindSettingsDialog, (LPARAM)&dialog);
    if (!dialog)
        return;   // not shown yet
    KillTimer(0, timer);
    gDriven = true;
    Pump();       // the posted enabling of the layout controls
    if (gDrive)
        gDrive(dialog);
    if (IsWindow(dialog))   // a driver that left it open: never hang
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

std::string Text(HWND dialog, int id)
{
    char text[300] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void Type(HWND dialog, int id, const char *text)
{
    SetFocus(GetDlgItem(dialog, id));
    SetDlgItemTextA(dialog, id, text);
}

void ClickIn(HWND dialog, int id)
{
    SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0);
    Pump();
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

// The whole display as a PNG in the build folder. Without the host's
// "import" the picture cannot be taken, which fails the test under CI.
void Screenshot(const char *name)
{
    Pump();
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string target = std::string(cwd) + "\\..\\..\\" + name + ".png";
    DeleteFileA(target.c_str());
    std::string report;
    int started = ShotOfDisplay(name, &report);
    const char *ci = getenv("CI");
    if (started != 0 || GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES)
        EXPECT_FALSE(ci && !strcmp(ci, "true")) << "no screenshot " << name << ": " << report;
}

// ---------------------------------------------------------------- fixture

struct ProfileDialogFixture : ::testing::Test {
    std::string folder;
    HWND options;

    void SetUp() override
    {
        folder = FreshTempFolder("profiledialog");
        CopyText(gApp.dataFolder, folder.c_str(), sizeof gApp.dataFolder);
        CopyText(gApp.ownFolder, folder.c_str(), sizeof gApp.ownFolder);
        gPrefs = kDefaultPrefs;
        gPrefs.bMultiMon = 0;
        RefreshMonitors();
        MeasureOutputScreen();
        // The outputs do not update by themselves: the real render jobs that
        // OK and Cancel start leave the views' times alone.
        for (int i = 0; i < 2; i++) {
            gViewLists[i].RemoveAll();
            gViewLists[i].Add(*DefaultView(i));
            gViewLists[i].data[0].bUpdate = 0;
        }
        memset(&gCurProfileSettings, 0, sizeof gCurProfileSettings);
        ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, "Default"));
        ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Default"));
        gOptions.editedList = 0;
        OpenOptionsDialog(false);
        options = gOptionsDialog;
        ASSERT_TRUE(options != 0);
        Pump();
    }
    void TearDown() override
    {
        CloseOptionsDialog();
        Pump();
        for (int i = 0; i < 500 && !RenderJobsIdle(); i++)
            Sleep(10);
        EXPECT_TRUE(RenderJobsIdle());
        RemoveTree(folder);
    }

    // Clicks "Settings..." and runs drive inside the dialog's modal loop;
    // false when the dialog never showed.
    bool OpenSettings(std::function<void(HWND)> drive)
    {
        gDrive = drive;
        gDriven = false;
        SetTimer(0, 0, 30, DriveTimer);
        SendDlgItemMessageA(options, IDC_OPT_PROFILE_SETTINGS, BM_CLICK, 0, 0);
        gDrive = nullptr;
        Pump();
        return gDriven;
    }

    bool FolderOf(const char *name)
    {
        std::string path = folder + "\\Profile-" + name;
        DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    ProfileSettings Stored(const char *name)
    {
        ProfileSettings settings;
        memset(&settings, 0, sizeof settings);
        EXPECT_EQ(0, ProfileSettingsIO(0, &settings, "%s\\Profile-%s\\%s.rgc", folder.c_str(),
                                       name, "Settings"));
        return settings;
    }

    std::string ComboText()
    {
        char text[300] = "";
        GetDlgItemTextA(options, IDC_OPT_PROFILES, text, sizeof text);
        return text;
    }
};

// ---------------------------------------------------------------- dialog 121

TEST_F(ProfileDialogFixture, TriggerSwitchesTheLayoutControlsAndGetCurrentFillsThem)
{
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ASSERT_TRUE(OpenSettings([&](HWND d) {
        EXPECT_EQ("Default", Text(d, IDC_PROFILE_NAME_EDIT));
        EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(d, IDC_PROFILE_TRIGGER));
        EXPECT_EQ("Use this profile for this screen configuration:", Text(d, IDC_PROFILE_TRIGGER));
        for (int id : {IDC_PROFILE_X, IDC_PROFILE_Y, IDC_PROFILE_W, IDC_PROFILE_H,
                       IDC_PROFILE_GET_CURRENT})
            EXPECT_FALSE(Enabled(d, id)) << id;
        EXPECT_EQ("0", Text(d, IDC_PROFILE_W));

        ClickIn(d, IDC_PROFILE_TRIGGER);
        for (int id : {IDC_PROFILE_X, IDC_PROFILE_Y, IDC_PROFILE_W, IDC_PROFILE_H,
                       IDC_PROFILE_GET_CURRENT})
            EXPECT_TRUE(Enabled(d, id)) << id;
        ClickIn(d, IDC_PROFILE_GET_CURRENT);
        EXPECT_EQ(std::to_string(gMonitors.virtualX), Text(d, IDC_PROFILE_X));
        EXPECT_EQ(std::to_string(gMonitors.virtualY), Text(d, IDC_PROFILE_Y));
        EXPECT_EQ(std::to_string(width), Text(d, IDC_PROFILE_W));
        EXPECT_EQ(std::to_string(height), Text(d, IDC_PROFILE_H));
        Screenshot("profile-settings");

        // Off again: the controls follow, the values stay.
        ClickIn(d, IDC_PROFILE_TRIGGER);
        EXPECT_FALSE(Enabled(d, IDC_PROFILE_W));
        EXPECT_FALSE(Enabled(d, IDC_PROFILE_GET_CURRENT));
        EXPECT_EQ(std::to_string(width), Text(d, IDC_PROFILE_W));
        ClickIn(d, IDC_PROFILE_TRIGGER);
        ClickIn(d, IDOK);
        EXPECT_FALSE(IsWindowVisible(d));   // ended; destroyed when its loop returns
    }));
    EXPECT_EQ(1, gCurProfileSettings.scrtrigger);
    EXPECT_EQ(width, gCurProfileSettings.scrw);
    EXPECT_EQ(height, gCurProfileSettings.scrh);
    EXPECT_EQ(0, gCurProfileSettings.nameChanged);
    // Only the trigger changed: nothing renamed, and it is stored with the
    // profile's next save.
    EXPECT_TRUE(FolderOf("Default"));
    EXPECT_EQ(0, Stored("Default").scrtrigger);
    SendDlgItemMessageA(options, IDOK, BM_CLICK, 0, 0);
    Pump();
    ProfileSettings stored = Stored("Default");
    EXPECT_EQ(1, stored.scrtrigger);
    EXPECT_EQ(width, stored.scrw);
    EXPECT_EQ(height, stored.scrh);
}

TEST_F(ProfileDialogFixture, TypedValuesAreClampedAndCancelKeepsTheOldOnes)
{
    ASSERT_TRUE(OpenSettings([&](HWND d) {
        ClickIn(d, IDC_PROFILE_TRIGGER);
        Type(d, IDC_PROFILE_X, "-20000");
        Type(d, IDC_PROFILE_Y, "16385");
        Type(d, IDC_PROFILE_W, "-5");
        Type(d, IDC_PROFILE_H, "99999");
        ClickIn(d, IDOK);
    }));
    EXPECT_EQ(1, gCurProfileSettings.scrtrigger);
    EXPECT_EQ(-16384, gCurProfileSettings.scrx);
    EXPECT_EQ(16384, gCurProfileSettings.scry);
    EXPECT_EQ(0, gCurProfileSettings.scrw);
    EXPECT_EQ(16384, gCurProfileSettings.scrh);

    ASSERT_TRUE(OpenSettings([&](HWND d) {
        EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(d, IDC_PROFILE_TRIGGER));
        EXPECT_TRUE(Enabled(d, IDC_PROFILE_X));   // enabled by the stored trigger
        EXPECT_EQ("-16384", Text(d, IDC_PROFILE_X));
        ClickIn(d, IDC_PROFILE_TRIGGER);
        Type(d, IDC_PROFILE_X, "12");
        Type(d, IDC_PROFILE_NAME_EDIT, "Elsewhere");
        ClickIn(d, IDCANCEL);
    }));
    EXPECT_EQ(1, gCurProfileSettings.scrtrigger);
    EXPECT_EQ(-16384, gCurProfileSettings.scrx);
    EXPECT_STREQ("Default", gPrefs.szCurProfile);
    EXPECT_FALSE(FolderOf("Elsewhere"));
}

TEST_F(ProfileDialogFixture, RenameMovesTheFolderAndRefillsListAndTrayCommands)
{
    ASSERT_TRUE(OpenSettings([&](HWND d) {
        Type(d, IDC_PROFILE_NAME_EDIT, "Work Desk");
        ClickIn(d, IDOK);
    }));
    EXPECT_STREQ("Work Desk", gPrefs.szCurProfile);
    EXPECT_STREQ("Work Desk", gCurProfileSettings.name);
    EXPECT_EQ(0, gCurProfileSettings.nameChanged);
    EXPECT_TRUE(FolderOf("Work Desk"));
    EXPECT_FALSE(FolderOf("Default"));
    EXPECT_EQ("Work Desk", ComboText());
    EXPECT_EQ(1, (int)SendDlgItemMessageA(options, IDC_OPT_PROFILES, CB_GETCOUNT, 0, 0));
    EXPECT_STREQ("Work Desk", gProfileCommandNames[0]);
    EXPECT_STREQ("", gProfileCommandNames[1]);
}

TEST_F(ProfileDialogFixture, NameThatCannotBeAFolderKeepsTheDialogOpen)
{
    bool stayed = false;
    ASSERT_TRUE(OpenSettings([&](HWND d) {
        ClickIn(d, IDC_PROFILE_TRIGGER);
        Type(d, IDC_PROFILE_NAME_EDIT, "a:b");
        ClickIn(d, IDOK);
        stayed = IsWindow(d) && IsWindowVisible(d);
        EXPECT_EQ(GetDlgItem(d, IDC_PROFILE_NAME_EDIT), GetFocus());
        Type(d, IDC_PROFILE_NAME_EDIT, "Default");   // back to the old name: accepted
        ClickIn(d, IDOK);
        EXPECT_FALSE(IsWindowVisible(d));   // ended; destroyed when its loop returns
    }));
    EXPECT_TRUE(stayed);
    EXPECT_STREQ("Default", gPrefs.szCurProfile);
    EXPECT_TRUE(FolderOf("Default"));
    EXPECT_EQ(1, gCurProfileSettings.scrtrigger);
}

// The whole way: the trigger set in the dialog on one profile makes a later
// display change with that layout switch to it from another profile.
TEST_F(ProfileDialogFixture, TriggerSetInTheDialogSwitchesProfilesOnADisplayChange)
{
    ASSERT_TRUE(OpenSettings([&](HWND d) {
        Type(d, IDC_PROFILE_NAME_EDIT, "Desk");
        ClickIn(d, IDC_PROFILE_TRIGGER);
        Type(d, IDC_PROFILE_X, "0");
        Type(d, IDC_PROFILE_Y, "0");
        Type(d, IDC_PROFILE_W, std::to_string(gScreenW).c_str());
        Type(d, IDC_PROFILE_H, std::to_string(gScreenH).c_str());
        ClickIn(d, IDOK);
    }));
    ASSERT_STREQ("Desk", gPrefs.szCurProfile);
    // A second profile without a trigger becomes current.
    CopyText(gCurProfileSettings.name, "Desk", PROFILE_NAME_SIZE);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, "Desk"));
    memset(&gCurProfileSettings, 0, sizeof gCurProfileSettings);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, "Laptop"));
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Laptop"));
    ASSERT_STREQ("Laptop", gPrefs.szCurProfile);

    MainWindowProc(0, WM_DISPLAYCHANGE, 32, MAKELPARAM(gScreenW, gScreenH));
    Pump();
    EXPECT_STREQ("Desk", gPrefs.szCurProfile);
    EXPECT_EQ("Desk", ComboText());
}

// ---------------------------------------------------------------- display change

TEST_F(ProfileDialogFixture, DisplayChangeGivesTheScreenSelectorTheNewMonitors)
{
    AreaSelector *selector = OptionsScreenSelector();
    ASSERT_EQ(1, selector->background.count);
    int width = gScreenW, height = gScreenH;
    // What the options dialog showed before: another, smaller screen.
    gPrefs.bMultiMon = 1;
    // The framework's monitor table after the change: the screen in two halves.
    memset(&gMonitors, 0, sizeof gMonitors);
    gMonitors.count = 2;
    SetRect(&gMonitors.rect[0], 0, 0, width / 2, height);
    SetRect(&gMonitors.rect[1], width / 2, 0, width, height);
    gMonitors.virtualWidth = width;
    gMonitors.virtualHeight = height;
    gScreenW = 640;   // stale until the display change measures again
    gScreenH = 480;

    MainWindowProc(0, WM_DISPLAYCHANGE, 32, MAKELPARAM(width, height));
    Pump();

    EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), gScreenW);
    ASSERT_EQ(2, selector->background.count);
    EXPECT_NEAR(0.5, selector->background.data[0].p[2], 1.0 / width);
    EXPECT_NEAR(0.5, selector->background.data[1].p[0], 1.0 / width);
    EXPECT_DOUBLE_EQ(1.0, selector->background.data[1].p[2]);
    EXPECT_DOUBLE_EQ((double)width / height, selector->emptyAspect);
    // The pixel edits show the view in the new screen's pixels.
    int pixels[4];
    ScreenRectToPixels(&gViewLists[0].data[0].sSelScr, pixels);
    char text[32];
    GetDlgItemTextA(options, IDC_OPT_W, text, sizeof text);
    EXPECT_EQ(std::to_string(pixels[2]), text);

    // The user's drag now snaps to the new monitor edge in the middle.
    FractionRect left = {{0.1, 0.1, 0.3, 0.9}};
    gViewLists[0].data[0].sSelScr = left;
    SendMessageA(options, OPTIONS_REFRESH, 0, 0);
    Pump();
    HWND view = selector->window;
    int w = selector->displayWidth, h = selector->displayHeight;
    int edgeX = (int)(0.3 * w), y = h / 2, target = (int)(0.49 * w);
    SendMessageA(view, WM_MOUSEMOVE, 0, MAKELPARAM(edgeX, y));
    SendMessageA(view, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(edgeX, y));
    SendMessageA(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((edgeX + target) / 2, y));
    SendMessageA(view, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(target, y));
    SendMessageA(view, WM_LBUTTONUP, 0, MAKELPARAM(target, y));
    Pump();
    EXPECT_NEAR((double)(width / 2) / width, gViewLists[0].data[0].sSelScr.p[2], 1e-9);

    // The framework refreshes its monitor table when its own window hears of
    // the change, which may come after the main window did: its notice to
    // the frames brings the outlines up to date once more.
    gMonitors.count = 3;
    SetRect(&gMonitors.rect[1], width / 2, 0, 3 * width / 4, height);
    SetRect(&gMonitors.rect[2], 3 * width / 4, 0, width, height);
    MainWindowProc(0, QRFM_DISPLAYCHANGE, 0, 0);
    Pump();
    ASSERT_EQ(3, selector->background.count);
    EXPECT_NEAR(0.75, selector->background.data[2].p[0], 1.0 / width);
    RefreshMonitors();
}

// ---------------------------------------------------------------- Cancel

TEST_F(ProfileDialogFixture, CancelKeepsWhatTheDownloadWorkersWroteMeanwhile)
{
    // The user's own change, to be undone.
    gPrefs.iTimeBias = 60;
    gViewLists[0].data[0].bCities = !DefaultView(0)->bCities;
    // A download worker and a render job, meanwhile.
    gPrefs.tCloudsDown = 1765000000;
    gPrefs.tCloudsCheck = 1765000100;
    gPrefs.tWeatherDown = 1765000200;
    gPrefs.tWeatherCheck = 1765000300;
    gPrefs.tMetarDown = 1765000400;
    gPrefs.iWeatherWarnApiKey = 20261209;
    CopyText(gPrefs.szModified, "Tue, 08 Dec 2026 10:00:00 GMT", sizeof gPrefs.szModified);
    CopyText(gPrefs.szCloudsUrl[1], "http://127.0.0.1:1/moved.jpg", sizeof gPrefs.szCloudsUrl[1]);
    gViewLists[0].data[0].tLastUpdate = 1765000500;

    SendDlgItemMessageA(options, IDCANCEL, BM_CLICK, 0, 0);
    Pump();

    EXPECT_EQ(0, gOptionsDialog);
    EXPECT_EQ(kDefaultPrefs.iTimeBias, gPrefs.iTimeBias);
    EXPECT_EQ(DefaultView(0)->bCities, gViewLists[0].data[0].bCities);
    EXPECT_EQ(1765000000, (int64_t)gPrefs.tCloudsDown);
    EXPECT_EQ(1765000100, (int64_t)gPrefs.tCloudsCheck);
    EXPECT_EQ(1765000200, (int64_t)gPrefs.tWeatherDown);
    EXPECT_EQ(1765000300, (int64_t)gPrefs.tWeatherCheck);
    EXPECT_EQ(1765000400, (int64_t)gPrefs.tMetarDown);
    EXPECT_EQ(20261209, (int)gPrefs.iWeatherWarnApiKey);
    EXPECT_STREQ("Tue, 08 Dec 2026 10:00:00 GMT", gPrefs.szModified);
    EXPECT_STREQ("http://127.0.0.1:1/moved.jpg", gPrefs.szCloudsUrl[1]);
    EXPECT_EQ(1765000500, (int64_t)gViewLists[0].data[0].tLastUpdate);
    // And so they were saved.
    PrefsRecord stored = kDefaultPrefs;
    PrefsRecord now = gPrefs;
    PrefsIO(0);
    stored = gPrefs;
    gPrefs = now;
    EXPECT_EQ(1765000000, (int64_t)stored.tCloudsDown);
    EXPECT_EQ(kDefaultPrefs.iTimeBias, stored.iTimeBias);
}

}  // namespace
