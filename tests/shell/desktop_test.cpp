// Desktop: install and restore of the wallpaper checked through the values of
// "Control Panel\Desktop", the backups across a start after a crash, the
// screen saver in SYSTEM.INI, what counts as the program's own, and the
// desktop-visibility test with real windows.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "earth/settings.h"
#include "framework/application.h"
#include "framework/utilities.h"
#include "shell/desktop.h"
#include "testutil.h"

static const char kKey[] = "Control Panel\\Desktop";
static const char *const kValues[] = {
    "Wallpaper", "WallpaperStyle", "TileWallpaper", "WallpaperOriginX", "WallpaperOriginY",
};
static const char kMissing[] = "<missing>";

static std::string RegText(const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return kMissing;
    char text[MAX_TEXT] = {0};
    DWORD size = sizeof text - 1, type = 0;
    LONG result = RegQueryValueExA(key, name, 0, &type, (BYTE *)text, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(text) : std::string(kMissing);
}

static void SetRegText(const char *name, const std::string &text)
{
    HKEY key;
    RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0);
    if (text == kMissing)
        RegDeleteValueA(key, name);
    else
        RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text.c_str(), (DWORD)text.size() + 1);
    RegCloseKey(key);
}

// SYSTEM.INI read as a file of the Windows folder, not through the same call
// the code uses.
static std::string SystemIniSaver()
{
    char folder[MAX_PATH], path[MAX_PATH], text[MAX_TEXT] = {0};
    GetWindowsDirectoryA(folder, MAX_PATH);
    _snprintf(path, MAX_PATH, "%s\\system.ini", folder);
    GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", kMissing, text, MAX_TEXT, path);
    return text;
}

static void SetSystemIniSaver(const char *path)
{
    WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", path, "SYSTEM.INI");
}

static int SaverTimeout()
{
    int seconds = 0;
    SystemParametersInfoA(SPI_GETSCREENSAVETIMEOUT, 0, &seconds, 0);
    return seconds;
}

static void SetSaverTimeout(int seconds)
{
    SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, (UINT)seconds, 0, SPIF_UPDATEINIFILE);
}

class Desktop : public ::testing::Test {
protected:
    std::string folder;
    std::string saved[5];
    std::string savedSaver;
    int savedTimeout;

    void SetUp() override
    {
        for (int i = 0; i < 5; i++)
            saved[i] = RegText(kValues[i]);
        savedSaver = SystemIniSaver();
        savedTimeout = SaverTimeout();
        folder = FreshTempFolder(std::string("desktop-") +
                                 testing::UnitTest::GetInstance()->current_test_info()->name());
        CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
        CopyText(gApp.ownFolder, (folder + "\\Program").c_str(), MAX_TEXT);
        SetDesktopPaths();
        gWallpaperInstalled = 0;
        gPrefs = kDefaultPrefs;
        gPrefs.bMultiMon = 0;
        ResizeViewList(&gViewLists[VIEW_LIST_WALLPAPER], 1);
        ResizeViewList(&gViewLists[VIEW_LIST_SCREENSAVER], 1);
        gViewLists[VIEW_LIST_SCREENSAVER].data[0].iActive = 7;
        SetUserDesktop("C:\\users\\me\\beach.bmp", "2", "0", "12", "34");
        SetSystemIniSaver("C:\\windows\\system32\\ssbezier.scr");
        SetSaverTimeout(300);
    }
    void TearDown() override
    {
        WaitForScreenSaverThreads();
        for (int i = 0; i < 5; i++)
            SetRegText(kValues[i], saved[i]);
        SetSystemIniSaver(savedSaver == kMissing ? 0 : savedSaver.c_str());
        SetSaverTimeout(savedTimeout);
        FreeViewLists();
        RemoveTree(folder);
    }

    void SetUserDesktop(const char *wallpaper, const char *style, const char *tile,
                        const char *x, const char *y)
    {
        const char *texts[5] = {wallpaper, style, tile, x, y};
        for (int i = 0; i < 5; i++)
            SetRegText(kValues[i], texts[i]);
    }
    void ExpectDesktop(const char *wallpaper, const char *style, const char *tile,
                       const char *x, const char *y)
    {
        const char *texts[5] = {wallpaper, style, tile, x, y};
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(texts[i], RegText(kValues[i])) << kValues[i];
    }
};

TEST_F(Desktop, InstallThenRestoreGivesTheUsersWallpaperStyleAndTileBack)
{
    EXPECT_EQ(BACKUP_WALLPAPER | BACKUP_SAVER, BackupDesktop());
    EXPECT_EQ(0, InstallWallpaper(DESKTOP_INSTALL));
    EXPECT_EQ(1, gWallpaperInstalled);
    EXPECT_EQ("4", RegText("WallpaperStyle"));
    EXPECT_EQ("0", RegText("TileWallpaper"));
    EXPECT_TRUE(IsOurWallpaperPath(RegText("Wallpaper").c_str())) << RegText("Wallpaper");
    EXPECT_TRUE(IsOurWallpaper());

    EXPECT_EQ(0, InstallWallpaper(DESKTOP_RESTORE));
    EXPECT_EQ(0, gWallpaperInstalled);
    ExpectDesktop("C:\\users\\me\\beach.bmp", "2", "0", "12", "34");
}

TEST_F(Desktop, SpanningInstallTilesWithoutOriginsAndRestoreGivesThemBack)
{
    gPrefs.bMultiMon = 1;
    BackupDesktop();
    InstallWallpaper(DESKTOP_INSTALL);
    ExpectDesktop(gWallpaperImage, "0", "1", kMissing, kMissing);
    InstallWallpaper(DESKTOP_RESTORE);
    ExpectDesktop("C:\\users\\me\\beach.bmp", "2", "0", "12", "34");
}

TEST_F(Desktop, ValuesTheUserDidNotHaveAreGoneAgainAfterRestore)
{
    SetUserDesktop("C:\\users\\me\\tiles.bmp", kMissing, "1", kMissing, kMissing);
    BackupDesktop();
    InstallWallpaper(DESKTOP_INSTALL);
    InstallWallpaper(DESKTOP_RESTORE);
    ExpectDesktop("C:\\users\\me\\tiles.bmp", kMissing, "1", kMissing, kMissing);
}

TEST_F(Desktop, AStartAfterACrashKeepsTheUsersBackup)
{
    BackupDesktop();
    InstallWallpaper(DESKTOP_INSTALL);
    ScreenSaverThread((void *)DESKTOP_INSTALL);
    // The process died here; the next start knows nothing of this run.
    gWallpaperInstalled = 0;
    EXPECT_EQ(BACKUP_NOTHING, BackupDesktop());
    InstallWallpaper(DESKTOP_INSTALL);
    ScreenSaverThread((void *)DESKTOP_INSTALL);
    RestoreDesktop();
    ExpectDesktop("C:\\users\\me\\beach.bmp", "2", "0", "12", "34");
    EXPECT_EQ("C:\\windows\\system32\\ssbezier.scr", SystemIniSaver());
    EXPECT_EQ(300, SaverTimeout());
}

TEST_F(Desktop, RestoreDoesNothingWhenThisRunNeverInstalled)
{
    BackupDesktop();
    SetUserDesktop("C:\\users\\me\\new.bmp", "6", "0", kMissing, kMissing);
    EXPECT_EQ(0, InstallWallpaper(DESKTOP_RESTORE));
    ExpectDesktop("C:\\users\\me\\new.bmp", "6", "0", kMissing, kMissing);
}

TEST_F(Desktop, OwnWallpaperPaths)
{
    EXPECT_FALSE(IsOurWallpaperPath(""));
    EXPECT_FALSE(IsOurWallpaperPath(0));
    EXPECT_FALSE(IsOurWallpaperPath("C:\\users\\me\\beach.bmp"));
    EXPECT_TRUE(IsOurWallpaperPath(gWallpaperImage));
    EXPECT_TRUE(IsOurWallpaperPath("C:\\data\\Profile-Default\\VELTASPAR.BMP"));
}

TEST_F(Desktop, AnotherProgramsWallpaperCountsAsOursOnlyWithoutDetection)
{
    gViewLists[VIEW_LIST_WALLPAPER].data[0].bActive = 1;
    gPrefs.bDetectWP = 1;
    EXPECT_FALSE(IsOurWallpaper());
    gPrefs.bDetectWP = 0;
    EXPECT_TRUE(IsOurWallpaper());
    gViewLists[VIEW_LIST_WALLPAPER].data[0].bActive = 0;
    EXPECT_FALSE(IsOurWallpaper());
}

// The program points the system at the module setup puts into the Windows
// folder, wherever the program itself lives.
TEST_F(Desktop, ScreenSaverModuleIsTheOneInTheWindowsFolder)
{
    char windows[MAX_PATH] = "";
    ASSERT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
    EXPECT_EQ(std::string(windows) + "\\Veltaspar.scr", gScreenSaverModule);
    EXPECT_EQ(folder + "\\Veltaspar.bmp", gWallpaperImage);
    EXPECT_TRUE(IsOurScreenSaverPath((std::string(windows) + "\\VELTASPAR.SCR").c_str()));
    EXPECT_FALSE(IsOurScreenSaverPath((folder + "\\Program\\Veltaspar.scr").c_str()));
}

TEST_F(Desktop, AnEmptyScreenSaverPathIsNeverOurs)
{
    EXPECT_FALSE(IsOurScreenSaverPath(""));
    EXPECT_FALSE(IsOurScreenSaverPath(0));
    gScreenSaverModule[0] = 0;
    SetSystemIniSaver("");
    EXPECT_FALSE(IsOurScreenSaverPath(""));
    EXPECT_FALSE(IsOurScreenSaver());
    EXPECT_EQ(0u, ScreenSaverThread((void *)DESKTOP_RESTORE));
}

TEST_F(Desktop, AnEmptyUserScreenSaverIsBackedUpAndGivenBack)
{
    SetSystemIniSaver("");
    EXPECT_EQ(BACKUP_WALLPAPER | BACKUP_SAVER, BackupDesktop());
    ScreenSaverThread((void *)DESKTOP_INSTALL);
    EXPECT_EQ(1u, ScreenSaverThread((void *)DESKTOP_RESTORE));
    EXPECT_EQ("", SystemIniSaver());
    EXPECT_EQ(300, SaverTimeout());
}

TEST_F(Desktop, ScreenSaverIsInSystemIniAfterInstallAndThePreviousOneAfterRestore)
{
    BackupDesktop();
    EXPECT_EQ(1u, ScreenSaverThread((void *)DESKTOP_INSTALL));
    EXPECT_STRCASEEQ(gScreenSaverModule, SystemIniSaver().c_str());
    EXPECT_EQ(7 * 60, SaverTimeout());
    gViewLists[VIEW_LIST_SCREENSAVER].data[0].iActive = 0;
    EXPECT_TRUE(IsOurScreenSaver());
    EXPECT_EQ(7, gViewLists[VIEW_LIST_SCREENSAVER].data[0].iActive);

    EXPECT_EQ(1u, ScreenSaverThread((void *)DESKTOP_RESTORE));
    EXPECT_EQ("C:\\windows\\system32\\ssbezier.scr", SystemIniSaver());
    EXPECT_EQ(300, SaverTimeout());
    EXPECT_FALSE(IsOurScreenSaver());
}

TEST_F(Desktop, RestoreLeavesAnotherScreenSaverAlone)
{
    BackupDesktop();
    ScreenSaverThread((void *)DESKTOP_INSTALL);
    SetSystemIniSaver("C:\\windows\\system32\\other.scr");
    EXPECT_EQ(0u, ScreenSaverThread((void *)DESKTOP_RESTORE));
    EXPECT_EQ("C:\\windows\\system32\\other.scr", SystemIniSaver());
}

TEST_F(Desktop, RestoreOnExitWaitsForAPendingInstall)
{
    BackupDesktop();
    InstallWallpaper(DESKTOP_INSTALL);
    EXPECT_TRUE(StartScreenSaverThread(DESKTOP_INSTALL));
    RestoreDesktop();
    EXPECT_EQ("C:\\windows\\system32\\ssbezier.scr", SystemIniSaver());
    EXPECT_EQ(300, SaverTimeout());
    ExpectDesktop("C:\\users\\me\\beach.bmp", "2", "0", "12", "34");
    // A second exit path calling it again changes nothing.
    RestoreDesktop();
    EXPECT_EQ("C:\\windows\\system32\\ssbezier.scr", SystemIniSaver());
    ExpectDesktop("C:\\users\\me\\beach.bmp", "2", "0", "12", "34");
}

// ---------------------------------------------------------------- visibility

class DesktopCover : public ::testing::Test {
protected:
    HWND windows[2];
    RECT desktop;

    void SetUp() override
    {
        windows[0] = windows[1] = 0;
        HWND progman = FindWindowA("Progman", 0);
        GetWindowRect(progman ? progman : GetDesktopWindow(), &desktop);
        RegisterClassOf("VtCover");
        RegisterClassOf("WorkerW");
    }
    void TearDown() override
    {
        for (HWND window : windows)
            if (window)
                DestroyWindow(window);
    }
    static void RegisterClassOf(const char *name)
    {
        WNDCLASSA c = {};
        c.lpfnWndProc = DefWindowProcA;
        c.hInstance = GetModuleHandleA(0);
        c.lpszClassName = name;
        RegisterClassA(&c);
    }
    HWND Cover(int slot, const char *className, int x, int y, int w, int h)
    {
        windows[slot] = CreateWindowExA(WS_EX_TOPMOST, className, "", WS_POPUP | WS_VISIBLE, x,
                                        y, w, h, 0, 0, GetModuleHandleA(0), 0);
        return windows[slot];
    }
    int Width() const { return desktop.right - desktop.left; }
    int Height() const { return desktop.bottom - desktop.top; }
};

TEST_F(DesktopCover, VisibleWithNothingInFront)
{
    EXPECT_TRUE(IsDesktopVisible());
    EXPECT_EQ(1, gDesktopVisible);
}

TEST_F(DesktopCover, AWindowLargerThanTheDesktopHidesIt)
{
    ASSERT_TRUE(Cover(0, "VtCover", desktop.left - 10, desktop.top - 10, Width() + 20,
                      Height() + 20));
    EXPECT_FALSE(IsDesktopVisible());
    EXPECT_EQ(0, gDesktopVisible);
}

TEST_F(DesktopCover, AFullScreenWindowHidesIt)
{
    ASSERT_TRUE(Cover(0, "VtCover", desktop.left, desktop.top, Width(), Height()));
    EXPECT_FALSE(IsDesktopVisible());
}

TEST_F(DesktopCover, TwoWindowsTogetherHideIt)
{
    ASSERT_TRUE(Cover(0, "VtCover", desktop.left, desktop.top, Width() / 2 + 1, Height()));
    EXPECT_TRUE(IsDesktopVisible());
    ASSERT_TRUE(Cover(1, "VtCover", desktop.left + Width() / 2, desktop.top,
                      Width() - Width() / 2, Height()));
    EXPECT_FALSE(IsDesktopVisible());
}

TEST_F(DesktopCover, WorkerWindowsAndMinimizedOnesNeverCover)
{
    ASSERT_TRUE(Cover(0, "WorkerW", desktop.left - 10, desktop.top - 10, Width() + 20,
                      Height() + 20));
    EXPECT_TRUE(IsDesktopVisible());
    ASSERT_TRUE(Cover(1, "VtCover", desktop.left - 10, desktop.top - 10, Width() + 20,
                      Height() + 20));
    ShowWindow(windows[1], SW_MINIMIZE);
    EXPECT_TRUE(IsDesktopVisible());
}
