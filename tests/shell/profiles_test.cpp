// Profiles: first-start migration, presets and camera paths on disk, loading
// and switching checked through the stores left on disk, what a load tells
// the real options dialog, the desktop wallpaper setting and the system's
// screen saver, the render jobs a switch cancels, the screen trigger after a
// display change, name checks and what a refused rename or add leaves
// behind, and the "-PROFILE" switch.
#include "outputs.h"

#include <gtest/gtest.h>

#include <math.h>
#include <shlobj.h>
#include <string.h>

#include <string>
#include <vector>

#include "earth/compositor.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/configstore.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "desktoputil.h"
#include "shell/desktop.h"
#include "shell/optionsdialog.h"
#include "shell/profiles.h"
#include "shell/program.h"
#include "testutil.h"

static const double kPi = 3.14159265358979323846;

static const char kUsersWallpaper[] = "C:\\users\\me\\beach.bmp";
static const char kUsersSaver[] = "C:\\windows\\system32\\ssbezier.scr";

class Profiles : public ::testing::Test {
protected:
    std::string folder;
    ViewList list;

    void SetUp() override
    {
        folder = FreshTempFolder(std::string("profiles-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name());
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        gPrefs = kDefaultPrefs;
        memset(&gCurProfileSettings, 0, sizeof gCurProfileSettings);
        memset(&gMonitors, 0, sizeof gMonitors);
        CopyText(gApp.ownFolder, folder.c_str(), MAX_TEXT);
        SetDesktopPaths();
        gWallpaperInstalled = 0;
        // The user's own desktop, and our screen saver in place with the
        // user's in the backup.
        WriteDesktopValue("Wallpaper", kUsersWallpaper);
        WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", gScreenSaverModule, "SYSTEM.INI");
        WriteRecordFile("BackupSSPath", -1, kUsersSaver, (int)strlen(kUsersSaver) + 1, 0);
        memset((void *)&gRenderJobs, 0, sizeof gRenderJobs);
        SetLists(1);
    }
    void TearDown() override
    {
        CloseOptionsDialog();
        EXPECT_TRUE(WaitFor(RenderJobsIdle));
        WaitForScreenSaverThreads();
        list.RemoveAll();
        FreeViewLists();
        RemoveTree(folder);
    }

    // Both lists one default view, the wallpaper view's iActive marked.
    static void SetLists(int mark)
    {
        ASSERT_TRUE(ResizeViewList(&gViewLists[0], 1));
        ASSERT_TRUE(ResizeViewList(&gViewLists[1], 1));
        SetDefaultView(&gViewLists[0].data[0], 0);
        SetDefaultView(&gViewLists[1].data[0], 1);
        gViewLists[0].data[0].iActive = mark;
    }

    // A profile on disk whose wallpaper view carries mark.
    void MakeProfile(const char *name, int mark, int trigger = 0, int x = 0, int y = 0,
                     int w = 0, int h = 0)
    {
        ProfileSettings keep = gCurProfileSettings;
        SetLists(mark);
        gCurProfileSettings.scrtrigger = (uint8_t)trigger;
        gCurProfileSettings.scrx = x;
        gCurProfileSettings.scry = y;
        gCurProfileSettings.scrw = w;
        gCurProfileSettings.scrh = h;
        ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, name)) << name;
        gCurProfileSettings = keep;
    }

    std::string In(const std::string &file) const { return folder + "\\" + file; }
    // The options dialog's profile list shows this.
    std::string ShownProfile()
    {
        char text[PROFILE_NAME_SIZE] = "";
        GetDlgItemTextA(gOptionsDialog, IDC_OPT_PROFILES, text, sizeof text);
        return text;
    }
    std::string Saver()
    {
        WaitForScreenSaverThreads();
        return SystemSaver();
    }
    std::string InProfile(const std::string &name, const std::string &file) const
    {
        return folder + "\\Profile-" + name + "\\" + file;
    }
    bool Exists(const std::string &path) const
    {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    // The stored mark of a profile's wallpaper list, -1 without a store.
    int StoredMark(const char *name)
    {
        list.RemoveAll();
        if (ViewOptionsIO(0, &list, "%s\\Profile-%s\\%s.rgc", folder.c_str(), name, "Options0") ||
            list.count < 1)
            return -1;
        return list.data[0].iActive;
    }
};

// ---------------------------------------------------------------- start-up

TEST_F(Profiles, FirstStartMovesRootFilesIntoDefault)
{
    SetLists(77);
    gViewLists[1].data[0].iActive = 78;
    ASSERT_EQ(0, ViewOptionsIO(1, &gViewLists[0], "%s\\%s.rgc", folder.c_str(), "Options0"));
    ASSERT_EQ(0, ViewOptionsIO(1, &gViewLists[1], "%s\\%s.rgc", folder.c_str(), "Options1"));
    WriteWhole(In("Veltaspar.bmp"), "old wallpaper");
    WriteWhole(In("VTMapPrv.bmp"), "old preview");
    SetLists(1);

    EXPECT_EQ(0, ProfilesStartup());

    EXPECT_STREQ("Default", gPrefs.szCurProfile);
    EXPECT_STREQ("Default", gCurProfileSettings.name);
    EXPECT_TRUE(Exists(InProfile("Default", "Settings.rgc")));
    EXPECT_TRUE(Exists(InProfile("Default", "Options0.rgc")));
    EXPECT_TRUE(Exists(InProfile("Default", "Options1.rgc")));
    EXPECT_FALSE(Exists(In("Options0.rgc")));
    EXPECT_FALSE(Exists(In("Options1.rgc")));
    EXPECT_EQ("old preview", ReadWhole(InProfile("Default", "VTMapPrv.bmp")));
    EXPECT_FALSE(Exists(In("VTMapPrv.bmp")));
    // The old views are the loaded ones, and the desktop's copy is back.
    ASSERT_EQ(1, gViewLists[0].count);
    EXPECT_EQ(77, gViewLists[0].data[0].iActive);
    EXPECT_EQ(78, gViewLists[1].data[0].iActive);
    EXPECT_EQ("old wallpaper", ReadWhole(InProfile("Default", "Veltaspar.bmp")));
    EXPECT_EQ("old wallpaper", ReadWhole(In("Veltaspar.bmp")));
}

TEST_F(Profiles, ProfileSwitchAtStartupOverridesFirstStart)
{
    MakeProfile("Night Shift", 42);
    const char *cmd = "-AUTOSTART -profile \"Night Shift\"";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, (int)strlen(cmd) + 1, 0), 0);
    SetLists(1);

    ProfilesStartup();

    EXPECT_STREQ("Night Shift", gPrefs.szCurProfile);
    EXPECT_EQ(42, gViewLists[0].data[0].iActive);
    EXPECT_FALSE(Exists(folder + "\\Profile-Default"));
}

TEST_F(Profiles, ProfileSwitchWithAReservedNameIsIgnored)
{
    MakeProfile("Home", 5);
    CopyText(gPrefs.szCurProfile, "Home", PROFILE_NAME_SIZE);
    const char *cmd = "-PROFILE ..\\..\\Windows";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, (int)strlen(cmd) + 1, 0), 0);

    ProfilesStartup();

    EXPECT_STREQ("Home", gPrefs.szCurProfile);
    EXPECT_EQ(5, gViewLists[0].data[0].iActive);
}

// ---------------------------------------------------------------- -PROFILE

TEST_F(Profiles, FindProfileSwitchTakesTheFirstArgument)
{
    char name[PROFILE_NAME_SIZE] = "unchanged";
    EXPECT_TRUE(FindProfileSwitch("-PROFILE Work", name));
    EXPECT_STREQ("Work", name);
    EXPECT_TRUE(FindProfileSwitch("-MINIMIZE  -Profile   Home Other -QUIT", name));
    EXPECT_STREQ("Home", name);
    EXPECT_TRUE(FindProfileSwitch("-PROFILE \"Two Screens\" -MINIMIZE", name));
    EXPECT_STREQ("Two Screens", name);
    EXPECT_TRUE(FindProfileSwitch("-PROFILE \"Unclosed quote", name));
    EXPECT_STREQ("Unclosed quote", name);
}

TEST_F(Profiles, FindProfileSwitchWithoutArgumentIsIgnored)
{
    char name[PROFILE_NAME_SIZE] = "unchanged";
    EXPECT_FALSE(FindProfileSwitch("-PROFILE", name));
    EXPECT_FALSE(FindProfileSwitch("-PROFILE   ", name));
    EXPECT_FALSE(FindProfileSwitch("-PROFILE -MINIMIZE Work", name));
    EXPECT_FALSE(FindProfileSwitch("Work -PROFILES Home", name));
    EXPECT_FALSE(FindProfileSwitch("-PROFILE \"\"", name));
    EXPECT_FALSE(FindProfileSwitch("", name));
    EXPECT_FALSE(FindProfileSwitch(0, name));
    EXPECT_STREQ("unchanged", name);
}

TEST_F(Profiles, GetProfileSwitchReadsTheStoredCommandLine)
{
    char name[PROFILE_NAME_SIZE] = "";
    EXPECT_FALSE(GetProfileSwitch(name));
    const char *cmd = "-PROFILE Travel";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, (int)strlen(cmd) + 1, 0), 0);
    EXPECT_TRUE(GetProfileSwitch(name));
    EXPECT_STREQ("Travel", name);
}

// ---------------------------------------------------------------- presets

TEST_F(Profiles, PresetsRoundTripThroughTheirFiles)
{
    MakeBuiltInPresets();
    EXPECT_EQ(0, WriteBuiltInPresets());
    for (int i = 0; i < BUILTIN_PRESETS; i++) {
        list.RemoveAll();
        ASSERT_EQ(0, ViewOptionsIO(0, &list, "%s\\%s.vtp", folder.c_str(), kBuiltInPresetNames[i]))
            << kBuiltInPresetNames[i];
        ASSERT_EQ(1, list.count);
        const ViewOptions &stored = list.data[0], &preset = *BuiltInPreset(i);
        EXPECT_STREQ(preset.szMap, stored.szMap);
        EXPECT_EQ(preset.iViewMode, stored.iViewMode);
        EXPECT_EQ(preset.iPrjType, stored.iPrjType);
        EXPECT_EQ(preset.bNight, stored.bNight);
        EXPECT_EQ(preset.bClouds, stored.bClouds);
        EXPECT_EQ(preset.bCities, stored.bCities);
        EXPECT_DOUBLE_EQ(preset.dVSLon, stored.dVSLon);
        for (int k = 0; k < 4; k++)
            EXPECT_DOUBLE_EQ(preset.sSelScr.p[k], stored.sSelScr.p[k]);
    }
    EXPECT_EQ(0, memcmp(DefaultView(1), BuiltInPreset(PRESET_GLOBE_VIEW), sizeof(ViewOptions)));
    const ViewOptions *bare = BuiltInPreset(PRESET_MAP_ONLY);
    EXPECT_EQ(DefaultView(0)->iViewMode, bare->iViewMode);
    EXPECT_EQ(1, bare->bDay);
    EXPECT_EQ(0, bare->bNight + bare->bClouds + bare->bCities + bare->bHalo + bare->bStars);
}

TEST_F(Profiles, PresetsFitTheFirstOfSeveralMonitors)
{
    // The first monitor right of a smaller one at negative x.
    gMonitors.count = 2;
    SetRect(&gMonitors.rect[0], 0, 0, 1920, 1080);
    SetRect(&gMonitors.rect[1], -1280, 56, 0, 1080);
    gScreenX = -1280;
    gScreenY = 0;
    gScreenW = 3200;
    gScreenH = 1080;
    MakeBuiltInPresets();
    for (int i = 0; i < 2; i++) {
        const FractionRect &r = BuiltInPreset(i)->sSelScr;
        EXPECT_DOUBLE_EQ(0.4, r.p[0]);
        EXPECT_DOUBLE_EQ(0.0, r.p[1]);
        EXPECT_DOUBLE_EQ(1.0, r.p[2]);
        EXPECT_DOUBLE_EQ(1.0, r.p[3]);
    }
    EXPECT_DOUBLE_EQ(0.0, BuiltInPreset(PRESET_MAP_ONLY)->sSelScr.p[0]);

    gMonitors.count = 1;
    MakeBuiltInPresets();
    EXPECT_DOUBLE_EQ(0.0, BuiltInPreset(PRESET_MAP_VIEW)->sSelScr.p[0]);
}

TEST_F(Profiles, StartupWritesPresetsAndCameraPaths)
{
    ProfilesStartup();
    for (int i = 0; i < BUILTIN_PRESETS; i++)
        EXPECT_TRUE(Exists(In(std::string(kBuiltInPresetNames[i]) + ".vtp")));

    CameraPath path;
    ASSERT_EQ(0, CameraPathIO(0, path, "%s\\%s.vtc", folder.c_str(), "Around the Equator"));
    EXPECT_DOUBLE_EQ(0.0, path[0].lat);
    EXPECT_NEAR(-kPi, path[0].lon, 1e-12);
    EXPECT_DOUBLE_EQ(1.0, path[0].zoom);
    EXPECT_EQ(0, path[0].time);
    EXPECT_NEAR(kPi, path[1].lon, 1e-12);
    EXPECT_EQ(60, path[1].time);
    EXPECT_EQ(-1, path[2].time);

    ASSERT_EQ(0, CameraPathIO(0, path, "%s\\%s.vtc", folder.c_str(), "From Pole to Pole"));
    EXPECT_NEAR(kPi / 2, path[0].lat, 1e-12);
    EXPECT_NEAR(-kPi / 2, path[1].lat, 1e-12);
    EXPECT_EQ(30, path[3].time);
    EXPECT_EQ(-1, path[4].time);

    ASSERT_EQ(0, CameraPathIO(0, path, "%s\\%s.vtc", folder.c_str(),
                              "Around the World in 80 Minutes"));
    EXPECT_NEAR(51.5 * kPi / 180, path[0].lat, 1e-12);
    EXPECT_NEAR(-0.17 * kPi / 180, path[0].lon, 1e-12);
    EXPECT_EQ(525, path[0].time);
    EXPECT_NEAR(37.78 * kPi / 180, path[13].lat, 1e-12);
    EXPECT_EQ(11, path[13].time);
    EXPECT_EQ(1, path[18].time);
    EXPECT_EQ(-1, path[19].time);
    EXPECT_DOUBLE_EQ(0.0, path[19].zoom);
}

// ---------------------------------------------------------------- load, save, switch

TEST_F(Profiles, LoadMakesTheProfileCurrentAndTellsTheShell)
{
    MakeProfile("Home", 3);
    WriteWhole(InProfile("Home", "Veltaspar.bmp"), "home wallpaper");
    WriteWhole(InProfile("Home", "VTScrsvr.bmp"), "home saver");
    WriteWhole(InProfile("Home", "job.tmp"), "left over");
    SetLists(1);
    gViewLists[1].data[0].bActive = 0;
    // Written after the views above: the loaded ones must not be these.
    ViewOptionsIO(1, &gViewLists[1], "%s\\Profile-%s\\%s.rgc", folder.c_str(), "Home", "Options1");
    SetLists(1);

    MakeProfile("Other", 4);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Other"));
    OpenOptionsDialog(false);
    ASSERT_TRUE(gOptionsDialog != 0);
    EXPECT_EQ("Other", ShownProfile());
    WaitForScreenSaverThreads();
    WriteDesktopValue("Wallpaper", kUsersWallpaper);
    WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", gScreenSaverModule, "SYSTEM.INI");
    SetLists(1);

    EXPECT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Home"));

    EXPECT_STREQ("Home", gPrefs.szCurProfile);
    EXPECT_STREQ("Home", gCurProfileSettings.name);
    EXPECT_EQ(3, gViewLists[0].data[0].iActive);
    EXPECT_EQ("home wallpaper", ReadWhole(In("Veltaspar.bmp")));
    EXPECT_EQ("home saver", ReadWhole(In("VTScrsvr.bmp")));
    EXPECT_FALSE(Exists(InProfile("Home", "job.tmp")));
    // The open options dialog shows it, the desktop has the profile's
    // wallpaper, and its switched-off screen saver gives the user's back.
    EXPECT_EQ("Home", ShownProfile());
    EXPECT_EQ(gWallpaperImage, ReadDesktopValue("Wallpaper"));
    EXPECT_EQ(kUsersSaver, Saver());
}

TEST_F(Profiles, ProfileWithoutSettingsIsNeitherLoadedNorSaved)
{
    MakeProfile("Home", 3);
    CopyText(gPrefs.szCurProfile, "Home", PROFILE_NAME_SIZE);
    CreateDirectoryA((folder + "\\Profile-Broken").c_str(), 0);
    ViewOptionsIO(1, &gViewLists[0], "%s\\Profile-%s\\%s.rgc", folder.c_str(), "Broken", "Options0");
    SetLists(9);

    EXPECT_EQ(PROFILE_NO_SETTINGS, ProfileIO(PROFILE_LOAD, "Broken"));
    EXPECT_STREQ("Home", gPrefs.szCurProfile);
    EXPECT_EQ(9, gViewLists[0].data[0].iActive);
    // Nothing was told: the desktop and the screen saver are as they were.
    EXPECT_EQ(kUsersWallpaper, ReadDesktopValue("Wallpaper"));
    EXPECT_EQ(gScreenSaverModule, Saver());
    EXPECT_EQ(PROFILE_BAD_NAME, ProfileIO(PROFILE_SAVE, ""));
    EXPECT_FALSE(Exists(folder + "\\Profile-"));
}

TEST_F(Profiles, LoadDoesNotKeepThePreviousTrigger)
{
    MakeProfile("Plain", 1);
    // A "Settings" store without any trigger keys.
    CConfigStore store(SETTINGS_STORE_VERSION, "");
    CopyText(store.key, "unrelated", sizeof store.key);
    store.AppendEntry("1");
    ASSERT_GT(store.SaveFile(InProfile("Plain", "Settings.rgc").c_str()), 0);
    gCurProfileSettings.scrtrigger = 1;
    gCurProfileSettings.scrw = 1920;
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Plain"));
    EXPECT_EQ(0, gCurProfileSettings.scrtrigger);
    EXPECT_EQ(0, gCurProfileSettings.scrw);
}

TEST_F(Profiles, SwitchSavesTheCurrentProfileBeforeLoadingTheNext)
{
    MakeProfile("A", 11);
    MakeProfile("B", 22);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "A"));
    gViewLists[0].data[0].iActive = 33;   // edited, not yet saved
    gCurProfileSettings.scrtrigger = 1;
    gCurProfileSettings.scrh = 777;
    // A wallpaper render of A in progress.
    UseTinyMaps(folder + "\\Program");
    gScreenW = 640;
    gScreenH = 480;
    DeleteFileA(In("Veltaspar.bmp").c_str());
    ASSERT_EQ(0, RequestRender(RENDER_JOB_WALLPAPER, 0, 0));

    EXPECT_EQ(PROFILE_DONE, SwitchProfile("B"));

    // The render was cancelled and had ended before B came in: nothing of
    // it reached the desktop's copy.
    EXPECT_TRUE(RenderJobsIdle());
    EXPECT_EQ(1, gRenderJobs.cancel[RENDER_JOB_WALLPAPER]);
    EXPECT_FALSE(Exists(In("Veltaspar.bmp")));
    EXPECT_EQ(33, StoredMark("A"));
    EXPECT_EQ(22, StoredMark("B"));
    EXPECT_EQ(22, gViewLists[0].data[0].iActive);
    EXPECT_STREQ("B", gPrefs.szCurProfile);
    EXPECT_EQ(0, gCurProfileSettings.scrh);
    ProfileSettings stored;
    memset(&stored, 0, sizeof stored);
    ASSERT_EQ(0, ProfileSettingsIO(0, &stored, "%s\\Profile-%s\\%s.rgc", folder.c_str(), "A",
                                   "Settings"));
    EXPECT_EQ(1, stored.scrtrigger);
    EXPECT_EQ(777, stored.scrh);
}

TEST_F(Profiles, SwitchToAMissingProfileKeepsTheCurrentOne)
{
    MakeProfile("A", 11);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "A"));
    gViewLists[0].data[0].iActive = 44;

    EXPECT_EQ(PROFILE_NO_SETTINGS, SwitchProfile("Nowhere"));

    EXPECT_STREQ("A", gPrefs.szCurProfile);
    EXPECT_EQ(44, StoredMark("A"));
    EXPECT_FALSE(Exists(folder + "\\Profile-Nowhere"));
}

// ---------------------------------------------------------------- screen triggers

TEST_F(Profiles, DisplayChangeSelectsTheProfileOfTheLayout)
{
    MakeProfile("Laptop", 1, 1, 0, 0, 1920, 1080);
    MakeProfile("Docked", 2, 1, -1280, 0, 3200, 1080);
    MakeProfile("Untriggered", 3, 0, 0, 0, 800, 600);
    MakeProfile("Current", 4);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Current"));
    gViewLists[0].data[0].iActive = 40;

    EXPECT_EQ(PROFILE_DONE, SwitchProfileForScreen(-1280, 0, 3200, 1080));
    EXPECT_STREQ("Docked", gPrefs.szCurProfile);
    EXPECT_EQ(2, gViewLists[0].data[0].iActive);
    EXPECT_EQ(40, StoredMark("Current"));   // saved on the way out

    gMonitors.virtualWidth = 1920;   // the laptop alone again
    gMonitors.virtualHeight = 1080;
    EXPECT_EQ(PROFILE_DONE, SwitchProfileForMonitors());
    EXPECT_STREQ("Laptop", gPrefs.szCurProfile);

    // Same size, other origin: no match. A trigger that is off never matches.
    EXPECT_EQ(PROFILE_NOT_FOUND, SwitchProfileForScreen(0, 0, 3200, 1080));
    EXPECT_EQ(PROFILE_NOT_FOUND, SwitchProfileForScreen(0, 0, 800, 600));
    EXPECT_STREQ("Laptop", gPrefs.szCurProfile);

    // The current profile never answers, even when its own record matches:
    // the other profile stored with that layout loads.
    gCurProfileSettings.scrx = -1280;
    gCurProfileSettings.scrw = 3200;
    EXPECT_EQ(PROFILE_DONE, SwitchProfileForScreen(-1280, 0, 3200, 1080));
    EXPECT_STREQ("Docked", gPrefs.szCurProfile);
}

// A layout stored in the current profile and in two others: the first of
// the others that the folder enumeration returns loads, whatever its place
// in the sorted list.
TEST_F(Profiles, DisplayChangeLoadsTheFirstOtherProfileListed)
{
    MakeProfile("Zulu", 2, 1, 0, 0, 2560, 1440);
    MakeProfile("Current", 1, 1, 0, 0, 2560, 1440);
    MakeProfile("alpha", 3, 1, 0, 0, 2560, 1440);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Current"));
    // Ask the same enumeration which of the two others comes first.
    std::string first;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\Profile-*").c_str(), &entry);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    do {
        if (strcmp(entry.cFileName, "Profile-Current") != 0)
            first = entry.cFileName + 8;
    } while (first.empty() && FindNextFileA(find, &entry));
    FindClose(find);
    ASSERT_FALSE(first.empty());

    EXPECT_EQ(PROFILE_DONE, SwitchProfileForScreen(0, 0, 2560, 1440));
    EXPECT_EQ(first, gPrefs.szCurProfile);
    EXPECT_EQ(first == "Zulu" ? 2 : 3, gViewLists[0].data[0].iActive);

    // Loaded as "laptop" ("-PROFILE laptop"), the folder "Laptop" is current
    // under the folder's spelling: its own trigger does not reload it.
    MakeProfile("Laptop", 4, 1, 0, 0, 1366, 768);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "laptop"));
    EXPECT_STREQ("Laptop", gPrefs.szCurProfile);
    EXPECT_STREQ("Laptop", gCurProfileSettings.name);
    gViewLists[0].data[0].iActive = 44;   // edited, not saved
    EXPECT_EQ(PROFILE_NOT_FOUND, SwitchProfileForScreen(0, 0, 1366, 768));
    EXPECT_EQ(44, gViewLists[0].data[0].iActive);
    EXPECT_EQ(4, StoredMark("Laptop"));
}

// The spelling of a folder as the file system lists it.
static std::string ListedFolder(const std::string &pattern)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return "<none>";
    std::string name = entry.cFileName;
    FindClose(find);
    return name;
}

// "-PROFILE work" at start with the folder "Profile-Work": the current
// profile is "Work", and a display change to its own layout loads nothing.
TEST_F(Profiles, ProfileSwitchAtStartupTakesTheFolderSpelling)
{
    MakeProfile("Work", 7, 1, 0, 0, 1920, 1080);
    const char *cmd = "-PROFILE work";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, (int)strlen(cmd) + 1, 0), 0);
    SetLists(1);

    ProfilesStartup();

    EXPECT_STREQ("Work", gPrefs.szCurProfile);
    EXPECT_STREQ("Work", gCurProfileSettings.name);
    EXPECT_EQ(7, gViewLists[0].data[0].iActive);
    WriteWhole(In("Veltaspar.bmp"), "rendered since");
    gViewLists[0].data[0].iActive = 70;
    EXPECT_EQ(PROFILE_NOT_FOUND, SwitchProfileForScreen(0, 0, 1920, 1080));
    EXPECT_EQ(70, gViewLists[0].data[0].iActive);
    EXPECT_EQ("rendered since", ReadWhole(In("Veltaspar.bmp")));
}

// A rename that changes only the case: the current name is the folder's
// spelling afterwards, whichever the file system kept, in both places.
TEST_F(Profiles, RenameOfTheCaseOnlyKeepsTheFolderSpelling)
{
    MakeProfile("Home", 60, 1, 0, 0, 1024, 768);
    MakeProfile("Work", 50);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Home"));

    EXPECT_EQ(PROFILE_DONE, RenameProfile("HOME"));

    std::string listed = ListedFolder(folder + "\\Profile-h*");
    EXPECT_EQ("Profile-" + std::string(gPrefs.szCurProfile), listed);
    EXPECT_STREQ(gPrefs.szCurProfile, gCurProfileSettings.name);
    EXPECT_EQ(0, gCurProfileSettings.nameChanged);
    gViewLists[0].data[0].iActive = 66;
    EXPECT_EQ(PROFILE_NOT_FOUND, SwitchProfileForScreen(0, 0, 1024, 768));
    EXPECT_EQ(66, gViewLists[0].data[0].iActive);
}

// ---------------------------------------------------------------- the list

TEST_F(Profiles, ListIsSortedAndTheCommandsHoldTheFirstSixteen)
{
    for (int i = 17; i >= 0; i--) {
        char name[16];
        sprintf(name, "p%02d", i);
        MakeProfile(name, i);
    }
    MakeProfile("Alpha", 0);
    EXPECT_EQ(19, FillProfileList("p05"));
    EXPECT_STREQ("p05", gPrefs.szCurProfile);
    EXPECT_STREQ("Alpha", gProfileCommandNames[0]);
    EXPECT_STREQ("p00", gProfileCommandNames[1]);
    EXPECT_STREQ("p14", gProfileCommandNames[15]);

    EXPECT_EQ(19, FillProfileList("missing"));
    EXPECT_STREQ("Alpha", gPrefs.szCurProfile);

    RemoveTree(folder + "\\Profile-p00");
    for (int i = 1; i < 18; i++)
        RemoveTree(folder + "\\Profile-p" + (i < 10 ? "0" : "") + std::to_string(i));
    EXPECT_EQ(1, FillProfileList(0));
    EXPECT_STREQ("", gProfileCommandNames[1]);
}

// ---------------------------------------------------------------- names

TEST_F(Profiles, NameCheckRefusesWhatCannotBeAFolderOfItsOwn)
{
    MakeProfile("Work", 1);
    EXPECT_EQ(NAME_OK, CheckProfileName("Home Office", 0));
    EXPECT_EQ(NAME_OK, CheckProfileName("COM0", 0));
    EXPECT_EQ(NAME_OK, CheckProfileName("CONSOLE", 0));
    EXPECT_EQ(NAME_OK, CheckProfileName(".hidden", 0));
    EXPECT_EQ(NAME_EMPTY, CheckProfileName("", 0));
    EXPECT_EQ(NAME_EMPTY, CheckProfileName(0, 0));
    for (const char *bad : {"a\\b", "a/b", "a:b", "a*b", "a?b", "a\"b", "a<b", "a>b", "a|b",
                            "tab\there"})
        EXPECT_EQ(NAME_RESERVED_CHAR, CheckProfileName(bad, 0)) << bad;
    for (const char *device : {"CON", "con", "Prn", "AUX", "NUL", "nul.txt", "COM1", "lpt9",
                               "CON .x"})
        EXPECT_EQ(NAME_DEVICE, CheckProfileName(device, 0)) << device;
    EXPECT_EQ(NAME_TRAILING, CheckProfileName("Work.", 0));
    EXPECT_EQ(NAME_TRAILING, CheckProfileName("Work ", 0));
    EXPECT_EQ(NAME_TRAILING, CheckProfileName(" ", 0));
    EXPECT_EQ(NAME_EXISTS, CheckProfileName("Work", 0));
    EXPECT_EQ(NAME_EXISTS, CheckProfileName("WORK", "Home"));
    EXPECT_EQ(NAME_OK, CheckProfileName("work", "Work"));   // a new case of itself
}

TEST_F(Profiles, LongestAllowedNameCanBeSaved)
{
    // data folder + "\Profile-" + name + "\" + a render's temporary file
    // ("Veltaspar.bmp" + 8 hex digits + ".tmp") must stay <= 258.
    int longest = 258 - (int)strlen(gApp.dataFolder) - 10 - 25;
    ASSERT_GT(longest, 0);
    std::string name(longest, 'n');
    EXPECT_EQ(NAME_TOO_LONG, CheckProfileName((name + "n").c_str(), 0));
    ASSERT_EQ(NAME_OK, CheckProfileName(name.c_str(), 0));
    EXPECT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, name.c_str()));
    EXPECT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, name.c_str()));
    EXPECT_EQ(NAME_TOO_LONG, CheckProfileName(std::string(300, 'x').c_str(), 0));
}

// ---------------------------------------------------------------- rename, add, delete

TEST_F(Profiles, RenameOntoAnotherProfileKeepsTheOldName)
{
    MakeProfile("Work", 50);
    MakeProfile("Home", 60);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Home"));
    // What the settings dialog leaves after OK.
    strcpy(gCurProfileSettings.name, "work");
    gCurProfileSettings.nameChanged = 1;

    EXPECT_EQ(PROFILE_BAD_NAME, RenameProfile(gCurProfileSettings.name));

    EXPECT_STREQ("Home", gPrefs.szCurProfile);
    EXPECT_STREQ("Home", gCurProfileSettings.name);
    EXPECT_EQ(0, gCurProfileSettings.nameChanged);
    for (const char *bad : {"", "a|b", "NUL", "Home.", "..\\Work"}) {
        EXPECT_EQ(PROFILE_BAD_NAME, RenameProfile(bad)) << bad;
        EXPECT_STREQ("Home", gPrefs.szCurProfile);
        EXPECT_STREQ("Home", gCurProfileSettings.name);
    }
    // The next save goes to the old profile, never over the other one.
    gViewLists[0].data[0].iActive = 61;
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_SAVE, gPrefs.szCurProfile));
    EXPECT_EQ(61, StoredMark("Home"));
    EXPECT_EQ(50, StoredMark("Work"));
}

TEST_F(Profiles, RenameMovesTheFolder)
{
    MakeProfile("Home", 60);
    MakeProfile("Work", 50);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Home"));

    EXPECT_EQ(PROFILE_DONE, RenameProfile("Office"));

    EXPECT_STREQ("Office", gPrefs.szCurProfile);
    EXPECT_STREQ("Office", gCurProfileSettings.name);
    EXPECT_FALSE(Exists(folder + "\\Profile-Home"));
    EXPECT_EQ(60, StoredMark("Office"));
    EXPECT_STREQ("Office", gProfileCommandNames[0]);
    EXPECT_STREQ("Work", gProfileCommandNames[1]);
    EXPECT_EQ(PROFILE_DONE, RenameProfile("Office"));   // unchanged: nothing to do
    EXPECT_STREQ("Office", gPrefs.szCurProfile);
}

TEST_F(Profiles, AddCopiesTheSavedCurrentProfile)
{
    MakeProfile("Home", 60);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Home"));
    gViewLists[0].data[0].iActive = 65;

    EXPECT_EQ(PROFILE_DONE, AddProfile("Travel"));

    EXPECT_STREQ("Travel", gPrefs.szCurProfile);
    EXPECT_EQ(65, StoredMark("Home"));
    EXPECT_EQ(65, StoredMark("Travel"));
    EXPECT_EQ(65, gViewLists[0].data[0].iActive);

    EXPECT_EQ(PROFILE_BAD_NAME, AddProfile("home"));
    EXPECT_EQ(PROFILE_BAD_NAME, AddProfile("a:b"));
    EXPECT_STREQ("Travel", gPrefs.szCurProfile);
}

TEST_F(Profiles, DeleteLeavesTheLastProfileAlone)
{
    MakeProfile("Home", 60);
    MakeProfile("Work", 50);
    ASSERT_EQ(PROFILE_DONE, ProfileIO(PROFILE_LOAD, "Work"));
    WriteWhole(InProfile("Work", "VTMapPrv.bmp"), "preview");

    EXPECT_EQ(PROFILE_DONE, DeleteCurrentProfile());

    EXPECT_FALSE(Exists(folder + "\\Profile-Work"));
    EXPECT_STREQ("Home", gPrefs.szCurProfile);
    EXPECT_EQ(60, gViewLists[0].data[0].iActive);
    EXPECT_EQ(PROFILE_LAST_ONE, DeleteCurrentProfile());
    EXPECT_TRUE(Exists(folder + "\\Profile-Home"));
}

// The tray's profile submenu is there from the start, also when the options
// dialog never opens (a start with "-AUTOSTART").
TEST_F(Profiles, StartupFillsTheTrayProfileCommands)
{
    MakeProfile("Beta", 2);
    MakeProfile("alpha", 1);
    CopyText(gPrefs.szCurProfile, "Beta", PROFILE_NAME_SIZE);
    const char *cmd = "-AUTOSTART";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, (int)strlen(cmd) + 1, 0), 0);
    memset(gProfileCommandNames, 0, sizeof gProfileCommandNames);

    ProfilesStartup();

    EXPECT_STREQ("Beta", gPrefs.szCurProfile);
    EXPECT_EQ(2, gViewLists[0].data[0].iActive);
    EXPECT_STREQ("alpha", gProfileCommandNames[0]);
    EXPECT_STREQ("Beta", gProfileCommandNames[1]);
    EXPECT_STREQ("", gProfileCommandNames[2]);
}

// A "-PROFILE" name without a folder: the stored profile is loaded instead;
// the unknown name neither becomes current nor gets a folder.
TEST_F(Profiles, StartupWithAnUnknownProfileSwitchKeepsTheStoredProfile)
{
    MakeProfile("Home", 5);
    CopyText(gPrefs.szCurProfile, "Home", PROFILE_NAME_SIZE);
    const char *cmd = "-PROFILE Nowhere";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, (int)strlen(cmd) + 1, 0), 0);
    SetLists(1);

    ProfilesStartup();

    EXPECT_STREQ("Home", gPrefs.szCurProfile);
    EXPECT_EQ(5, gViewLists[0].data[0].iActive);
    EXPECT_FALSE(Exists(folder + "\\Profile-Nowhere"));
    EXPECT_STREQ("Home", gProfileCommandNames[0]);
}

// A current profile whose folder is gone gets one at start, so that the
// list holds it and no other profile is taken for it and overwritten.
TEST_F(Profiles, StartupGivesAMissingCurrentProfileItsFolder)
{
    MakeProfile("Other", 9);
    CopyText(gPrefs.szCurProfile, "Gone", PROFILE_NAME_SIZE);
    const char *cmd = "";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, 1, 0), 0);

    ProfilesStartup();

    EXPECT_STREQ("Gone", gPrefs.szCurProfile);
    EXPECT_TRUE(Exists(InProfile("Gone", "Settings.rgc")));
    EXPECT_EQ(9, StoredMark("Other"));
    EXPECT_EQ(2, FillProfileList(gPrefs.szCurProfile));
    EXPECT_STREQ("Gone", gPrefs.szCurProfile);
}

// The start puts the autostart link in the user's Startup folder, or takes
// it away, as the stored preferences say; it starts the installed program.
TEST_F(Profiles, StartupMakesOrRemovesTheAutostartLink)
{
    char startup[MAX_PATH] = "";
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(0, CSIDL_STARTUP | CSIDL_FLAG_CREATE, 0, 0, startup)));
    CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
    std::string link = std::string(startup) + "\\Veltaspar.lnk";
    DeleteFileA(link.c_str());
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, folder.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    MakeProfile("Home", 5);
    CopyText(gPrefs.szCurProfile, "Home", PROFILE_NAME_SIZE);
    const char *cmd = "";
    ASSERT_GT(WriteRecordFile("(QRF)Cmd", -1, cmd, 1, 0), 0);

    gPrefs.bAutoStart = 1;
    ASSERT_EQ(0, PrefsIO(1));
    gPrefs.bAutoStart = 0;   // what counts is the stored value
    ProfilesStartup();
    EXPECT_EQ(1, gPrefs.bAutoStart);
    ASSERT_TRUE(Exists(link));
    // A shell link (its class id at byte 4) naming the installed program.
    std::string bytes = ReadWhole(link);
    ASSERT_GT(bytes.size(), 20u);
    EXPECT_EQ(0x4C, (unsigned char)bytes[0]);
    EXPECT_NE(std::string::npos, bytes.find("Veltaspar.exe"));

    gPrefs.bAutoStart = 0;
    ASSERT_EQ(0, PrefsIO(1));
    ProfilesStartup();
    EXPECT_FALSE(Exists(link));
}
