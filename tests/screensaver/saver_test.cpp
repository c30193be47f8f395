// The screen-saver module's logic, run in this process.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "saverhelpers.h"

static const char kTestProgram[] = "VeltasparSaverTest";
static const Rgb kRed = {255, 0, 0}, kGreen = {0, 255, 0}, kBlue = {0, 0, 255},
                 kYellow = {255, 255, 0};

// The high half of the clock now: times far before 1970 do not survive
// every file system.
static uint32_t RecentHigh()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return now.dwHighDateTime;
}

class SaverTest : public ::testing::Test {
protected:
    std::string folder;
    SaverState *state;

    void SetUp() override
    {
        folder = FreshTempFolder("saver-unit");
        state = new SaverState();
        state->programName = kTestProgram;
        strcpy(state->dataFolder, folder.c_str());
    }
    void TearDown() override
    {
        DropSaverImage(state);
        delete state;
        RemoveSaverRecord(kTestProgram);
        RemoveTree(folder);
    }
    std::string ImagePath() const { return folder + "\\VTScrsvr.bmp"; }
    // Sets the picture's last-write time to the given 64-bit value.
    void SetWriteTime(uint32_t high, uint32_t low)
    {
        HANDLE file = CreateFileA(ImagePath().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, 0,
                                  OPEN_EXISTING, 0, 0);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME time = {low, high};
        ASSERT_TRUE(SetFileTime(file, 0, 0, &time));
        CloseHandle(file);
    }
};

TEST_F(SaverTest, DataFolderComesFromTheCustomPathOfTheRecord)
{
    ASSERT_TRUE(PutSaverRecord(kTestProgram, "C:\\SaverData", 544));
    SetupInfoRecord record;
    char out[260];
    ASSERT_TRUE(FindSaverDataFolder(kTestProgram, &record, out));
    EXPECT_STREQ(out, "C:\\SaverData");
}

TEST_F(SaverTest, DataFolderOfAnIndividualRecordEndsInTheUserName)
{
    ASSERT_TRUE(PutSaverRecord(kTestProgram, "C:\\SaverData", 1328, 1));
    char user[260];
    DWORD size = sizeof user;
    ASSERT_TRUE(GetUserNameA(user, &size));
    SetupInfoRecord record;
    char out[260];
    ASSERT_TRUE(FindSaverDataFolder(kTestProgram, &record, out));
    EXPECT_EQ(std::string(out), std::string("C:\\SaverData\\") + user);
}

TEST_F(SaverTest, DataFolderOfTheStandardLocationIsUnderApplicationData)
{
    ASSERT_TRUE(PutSaverRecord(kTestProgram, "C:\\Ignored", 544));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, KEY_ALL_ACCESS, &key), 0);
    SetupInfoRecord record;
    ReadSaverSetupInfo(kTestProgram, &record);
    record.customLocation = 0;
    RegSetValueExA(key, kTestProgram, 0, REG_BINARY, (const BYTE *)&record, 544);
    RegCloseKey(key);
    char appData[MAX_PATH], out[260];
    ASSERT_EQ(SHGetFolderPathA(0, CSIDL_APPDATA, 0, SHGFP_TYPE_CURRENT, appData), S_OK);
    ASSERT_TRUE(FindSaverDataFolder(kTestProgram, &record, out));
    EXPECT_EQ(std::string(out), std::string(appData) + "\\Kestrova\\" + kTestProgram);
}

TEST_F(SaverTest, RecordOf543BytesOrNoneIsRefused)
{
    SetupInfoRecord record;
    char out[260] = "stale";
    EXPECT_FALSE(FindSaverDataFolder(kTestProgram, &record, out));
    EXPECT_STREQ(out, "");
    ASSERT_TRUE(PutSaverRecord(kTestProgram, "C:\\SaverData", 543));
    EXPECT_FALSE(FindSaverDataFolder(kTestProgram, &record, out));
}

TEST_F(SaverTest, ActiveFlagPathHasOneBackslash)
{
    char path[MAX_PATH];
    GetSaverActivePath("C:\\Data\\", path);
    EXPECT_STREQ(path, "C:\\Data\\ScreenSaverActive.rgc");
    GetSaverActivePath("C:\\Data", path);
    EXPECT_STREQ(path, "C:\\Data\\ScreenSaverActive.rgc");
    GetSaverActivePath("C:\\", path);   // a drive root
    EXPECT_STREQ(path, "C:\\ScreenSaverActive.rgc");
}

TEST_F(SaverTest, ActiveFlagIsFourBytesAndCreatesMissingFolders)
{
    std::string deep = folder + "\\a\\b";
    EXPECT_EQ(WriteSaverActive(deep.c_str(), 1), 0);
    EXPECT_EQ(ReadSaverFlag(deep), 1);
    EXPECT_EQ(WriteSaverActive(deep.c_str(), 0), 0);
    EXPECT_EQ(ReadSaverFlag(deep), 0);
    EXPECT_EQ(GetFileAttributesA((deep + "\\ScreenSaverActive.rgc_tmp").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST_F(SaverTest, ActiveFlagInAFolderEndingInBackslash)
{
    std::string deep = folder + "\\c\\";
    EXPECT_EQ(WriteSaverActive(deep.c_str(), 1), 0);
    EXPECT_EQ(ReadSaverFlag(folder + "\\c"), 1);
}

TEST_F(SaverTest, TickLoadsThePictureOnlyWhenTheLowWriteTimeChanges)
{
    std::string first = QuadrantBmp(8, 4, kRed, kGreen, kBlue, kYellow);
    WriteWhole(ImagePath(), first);
    uint32_t high = RecentHigh();
    SetWriteTime(high, 1000);
    EXPECT_EQ(SaverTick(state), SAVER_IMAGE_CHANGED);
    EXPECT_EQ(state->imageWriteTime, 1000u);
    ASSERT_EQ(state->imageSize, first.size());
    EXPECT_EQ(std::string((char *)state->image, state->imageSize), first);
    EXPECT_EQ(SaverTick(state), SAVER_IMAGE_UNCHANGED);

    // Only the high half differs: the same picture as far as the saver knows.
    WriteWhole(ImagePath(), QuadrantBmp(8, 4, kBlue, kBlue, kBlue, kBlue));
    SetWriteTime(high + 1, 1000);
    EXPECT_EQ(SaverTick(state), SAVER_IMAGE_UNCHANGED);
    EXPECT_EQ(std::string((char *)state->image, state->imageSize), first);

    SetWriteTime(high + 1, 2000);
    EXPECT_EQ(SaverTick(state), SAVER_IMAGE_CHANGED);
    EXPECT_EQ(std::string((char *)state->image, state->imageSize),
              QuadrantBmp(8, 4, kBlue, kBlue, kBlue, kBlue));
}

TEST_F(SaverTest, MissingPictureKeepsTheOldOneAndRetriesLater)
{
    std::string first = QuadrantBmp(8, 4, kRed, kGreen, kBlue, kYellow);
    WriteWhole(ImagePath(), first);
    SetWriteTime(RecentHigh(), 5000);
    ASSERT_EQ(SaverTick(state), SAVER_IMAGE_CHANGED);
    DeleteFileA(ImagePath().c_str());
    EXPECT_EQ(SaverTick(state), SAVER_IMAGE_UNCHANGED);
    EXPECT_EQ(state->imageWriteTime, 0u);
    EXPECT_EQ(state->imageSize, first.size());
    // The same file back with the same time is read again, the time was forgotten.
    WriteWhole(ImagePath(), first);
    SetWriteTime(RecentHigh(), 5000);
    EXPECT_EQ(SaverTick(state), SAVER_IMAGE_CHANGED);
}

TEST_F(SaverTest, NoDataFolderPictureMeansNoChange)
{
    EXPECT_EQ(SaverTick(state), SAVER_IMAGE_UNCHANGED);
    EXPECT_TRUE(state->image == 0);
}

static void TwoMonitors(SaverState *state)
{
    state->virtualX = 0;
    state->virtualY = 0;
    state->virtualWidth = 3840;
    state->virtualHeight = 1080;
    RECT left = {0, 0, 1920, 1080}, right = {1920, 0, 3840, 1080};
    state->monitorCount = 0;
    AddSaverMonitor(state, &left);
    AddSaverMonitor(state, &right);
}

TEST_F(SaverTest, MonitorSizedPictureIsDrawnOnEveryMonitor)
{
    TwoMonitors(state);
    RECT targets[SAVER_MAX_MONITORS];
    ASSERT_EQ(PlanSaverPaint(state, 1920, 1080, targets), 2);
    EXPECT_EQ(targets[0].left, 0);
    EXPECT_EQ(targets[0].right - targets[0].left, 1921);
    EXPECT_EQ(targets[0].bottom - targets[0].top, 1081);
    EXPECT_EQ(targets[1].left, 1920);
    EXPECT_EQ(targets[1].right, 3841);
}

TEST_F(SaverTest, VirtualScreenSizedPictureIsDrawnOnceAcross)
{
    TwoMonitors(state);
    RECT targets[SAVER_MAX_MONITORS];
    ASSERT_EQ(PlanSaverPaint(state, 3840, 1080, targets), 1);
    EXPECT_EQ(targets[0].left, 0);
    EXPECT_EQ(targets[0].top, 0);
    EXPECT_EQ(targets[0].right, 3840);
    EXPECT_EQ(targets[0].bottom, 1080);
}

TEST_F(SaverTest, MonitorsLeftOfTheOriginAreShiftedIntoTheWindow)
{
    state->virtualX = -1280;
    state->virtualY = -200;
    state->virtualWidth = 3200;
    state->virtualHeight = 1280;
    RECT left = {-1280, -200, 0, 824};
    AddSaverMonitor(state, &left);
    RECT targets[SAVER_MAX_MONITORS];
    ASSERT_EQ(PlanSaverPaint(state, 100, 100, targets), 1);
    EXPECT_EQ(targets[0].left, 0);
    EXPECT_EQ(targets[0].top, 0);
    EXPECT_EQ(targets[0].right, 1281);
    EXPECT_EQ(targets[0].bottom, 1025);
}

TEST_F(SaverTest, The257thMonitorIsIgnored)
{
    RECT rect = {0, 0, 10, 10};
    for (int i = 0; i < 300; i++)
        AddSaverMonitor(state, &rect);
    EXPECT_EQ(state->monitorCount, 256);
}

TEST_F(SaverTest, CollectMonitorsFindsAtLeastTheDesktop)
{
    CollectMonitors(state);
    ASSERT_GE(state->monitorCount, 1);
    EXPECT_GT(state->monitors[0].right - state->monitors[0].left, 0);
}

TEST_F(SaverTest, ImageCheckRefusesDamagedFiles)
{
    std::string good = QuadrantBmp(8, 4, kRed, kGreen, kBlue, kYellow);
    EXPECT_TRUE(SaverImageLooksValid((const unsigned char *)good.data(), (DWORD)good.size()));
    std::string cut = good.substr(0, good.size() - 1);
    EXPECT_FALSE(SaverImageLooksValid((const unsigned char *)cut.data(), (DWORD)cut.size()));
    std::string unsigned_ = good;
    unsigned_[0] = 'X';
    EXPECT_FALSE(SaverImageLooksValid((const unsigned char *)unsigned_.data(),
                                      (DWORD)unsigned_.size()));
    std::string farOffset = good;
    farOffset[11] = 0x10;   // pixel offset 4150, past the end
    EXPECT_FALSE(SaverImageLooksValid((const unsigned char *)farOffset.data(),
                                      (DWORD)farOffset.size()));
    EXPECT_FALSE(SaverImageLooksValid((const unsigned char *)good.data(), 20));
}

// A window of our own class driven by the saver's message handling, as the
// platform library's window would be.
static SaverState *gWindowState;

static LRESULT CALLBACK TestSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    bool handled = false;
    LRESULT result = HandleSaverMessage(gWindowState, window, message, wParam, lParam, &handled);
    return handled ? result : DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateTestSaverWindow()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = TestSaverProc;
        wc.hInstance = GetModuleHandleA(0);
        wc.lpszClassName = "VtTestSaverWindow";
        registered = RegisterClassA(&wc) != 0;
    }
    return CreateWindowExA(0, "VtTestSaverWindow", "", WS_POPUP, 0, 0, 64, 32, 0, 0,
                           GetModuleHandleA(0), 0);
}

TEST_F(SaverTest, WindowSetsTheFlagWhileRunningAndClearsItAfter)
{
    ASSERT_TRUE(PutSaverRecord(kTestProgram, folder, 544));
    WriteWhole(ImagePath(), QuadrantBmp(8, 4, kRed, kGreen, kBlue, kYellow));
    gWindowState = state;
    state->dataFolder[0] = 0;
    HWND window = CreateTestSaverWindow();
    ASSERT_TRUE(window != 0);
    EXPECT_STREQ(state->dataFolder, folder.c_str());
    EXPECT_EQ(ReadSaverFlag(folder), 1);
    EXPECT_TRUE(state->image != 0);
    EXPECT_GE(state->monitorCount, 1);
    EXPECT_EQ(state->virtualWidth, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    DestroyWindow(window);
    EXPECT_EQ(ReadSaverFlag(folder), 0);
    EXPECT_TRUE(state->image == 0);
}

// Creation fails after the flag was set, which is cleared again.
TEST_F(SaverTest, WindowWithoutPictureFailsAndLeavesTheFlagCleared)
{
    ASSERT_TRUE(PutSaverRecord(kTestProgram, folder, 544));
    gWindowState = state;
    HWND window = CreateTestSaverWindow();
    EXPECT_TRUE(window == 0);
    EXPECT_EQ(ReadSaverFlag(folder), 0);
    if (window)
        DestroyWindow(window);
}

TEST_F(SaverTest, WindowWithoutRecordFailsAndWritesNothing)
{
    WriteWhole(ImagePath(), QuadrantBmp(8, 4, kRed, kGreen, kBlue, kYellow));
    gWindowState = state;
    HWND window = CreateTestSaverWindow();
    EXPECT_TRUE(window == 0);
    EXPECT_EQ(ReadSaverFlag(folder), -1);
    if (window)
        DestroyWindow(window);
}
