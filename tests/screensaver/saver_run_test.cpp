// Veltaspar.scr run as the system would run it: "/s" on the test display,
// the screen photographed from the host, then ended with WM_CLOSE.
#include <gtest/gtest.h>

#include "saverhelpers.h"

static const Rgb kRed = {255, 0, 0}, kGreen = {0, 255, 0}, kBlue = {0, 0, 255},
                 kYellow = {255, 255, 0};

static std::string SaverModulePath()
{
    std::string path = std::string("Z:") + VT_SAVER_PATH;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// The installation record of the product as it was, to be put back.
struct SavedRecord {
    std::string bytes;
    bool present;
};

static SavedRecord SaveProductRecord()
{
    SavedRecord saved = {"", false};
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, KEY_QUERY_VALUE, &key))
        return saved;
    DWORD size = 0;
    if (RegQueryValueExA(key, SAVER_PRODUCT_NAME, 0, 0, 0, &size) == ERROR_SUCCESS) {
        saved.bytes.resize(size);
        saved.present = RegQueryValueExA(key, SAVER_PRODUCT_NAME, 0, 0,
                                         (BYTE *)&saved.bytes[0], &size) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return saved;
}

static void RestoreProductRecord(const SavedRecord &saved)
{
    if (!saved.present) {
        RemoveSaverRecord(SAVER_PRODUCT_NAME);
        return;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, KEY_SET_VALUE, &key))
        return;
    RegSetValueExA(key, SAVER_PRODUCT_NAME, 0, REG_BINARY, (const BYTE *)saved.bytes.data(),
                   (DWORD)saved.bytes.size());
    RegCloseKey(key);
}

static bool WaitForFlag(const std::string &folder, int value, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 50) {
        if (ReadSaverFlag(folder) == value)
            return true;
        Sleep(50);
    }
    return ReadSaverFlag(folder) == value;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

static BOOL CALLBACK MatchProcessWindow(HWND window, LPARAM data)
{
    WindowSearch *search = (WindowSearch *)data;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND FindProcessWindow(DWORD processId)
{
    WindowSearch search = {processId, 0};
    EnumWindows(MatchProcessWindow, (LPARAM)&search);
    return search.found;
}

// A binary PPM ("P6 w h 255") as written by ImageMagick.
struct Screenshot {
    int width, height;
    std::string pixels;

    bool Parse(const std::string &bytes)
    {
        int maxValue = 0, used = 0;
        if (sscanf(bytes.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &used) != 3)
            return false;
        pixels = bytes.substr(used + 1);
        return maxValue == 255 && (int)pixels.size() >= width * height * 3;
    }
    Rgb At(int x, int y) const
    {
        const char *p = &pixels[(y * width + x) * 3];
        return {(unsigned char)p[0], (unsigned char)p[1], (unsigned char)p[2]};
    }
};

static ::testing::AssertionResult Near(Rgb got, Rgb want)
{
    if (abs(got.r - want.r) <= 24 && abs(got.g - want.g) <= 24 && abs(got.b - want.b) <= 24)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel " << (int)got.r << "," << (int)got.g << ","
                                         << (int)got.b << " wanted " << (int)want.r << ","
                                         << (int)want.g << "," << (int)want.b;
}

class SaverRunTest : public ::testing::Test {
protected:
    std::string folder;
    SavedRecord saved;
    PROCESS_INFORMATION process = {};

    void SetUp() override
    {
        // Under the build folder, so that the host's screenshot tool reaches it.
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, cwd);
        folder = std::string(cwd) + "\\saver-run-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RemoveTree(folder);
        CreateDirectoryA(folder.c_str(), 0);
        saved = SaveProductRecord();
    }
    void TearDown() override
    {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
        }
        RestoreProductRecord(saved);
    }
    bool StartSaver(const char *switches)
    {
        std::string command = "\"" + SaverModulePath() + "\" " + switches;
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        return CreateProcessA(0, line.data(), 0, 0, FALSE, 0, 0, 0, &startup, &process) != 0;
    }
};

TEST_F(SaverRunTest, ShowsThePictureStretchedAndClearsTheFlagWhenClosed)
{
    ASSERT_NE(GetFileAttributesA(SaverModulePath().c_str()), INVALID_FILE_ATTRIBUTES);
    WriteWhole(folder + "\\VTScrsvr.bmp", QuadrantBmp(64, 32, kRed, kGreen, kBlue, kYellow));
    ASSERT_TRUE(PutSaverRecord(SAVER_PRODUCT_NAME, folder, 1328));
    ASSERT_TRUE(StartSaver("/s"));
    ASSERT_TRUE(WaitForFlag(folder, 1, 15000)) << "the saver never said it runs";
    HWND window = 0;
    for (int i = 0; i < 200 && !window; i++, Sleep(50))
        window = FindProcessWindow(process.dwProcessId);
    ASSERT_TRUE(window != 0);
    Sleep(1500);   // first paint

    std::string report;
    ASSERT_EQ(RunHostScript(folder, "import -window root shot.png && convert shot.png -depth 8 shot.ppm",
                            &report),
              0)
        << report;
    Screenshot shot;
    ASSERT_TRUE(shot.Parse(ReadWhole(folder + "\\shot.ppm"))) << report;
    int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ASSERT_EQ(shot.width, w);
    ASSERT_EQ(shot.height, h);
    // 64 x 32 over the whole screen: each quadrant fills a quarter of it.
    EXPECT_TRUE(Near(shot.At(w / 4, h / 4), kRed));
    EXPECT_TRUE(Near(shot.At(3 * w / 4, h / 4), kGreen));
    EXPECT_TRUE(Near(shot.At(w / 4, 3 * h / 4), kBlue));
    EXPECT_TRUE(Near(shot.At(3 * w / 4, 3 * h / 4), kYellow));
    EXPECT_TRUE(Near(shot.At(4, 4), kRed));
    EXPECT_TRUE(Near(shot.At(w - 5, h - 5), kYellow));
    // Smoothing blends only near the seams, within about one picture pixel.
    EXPECT_TRUE(Near(shot.At(w / 2 - 48, h / 2 - 48), kRed));
    EXPECT_TRUE(Near(shot.At(w / 2 + 48, h / 2 + 48), kYellow));

    // A new picture from the main program shows within the one-second tick.
    WriteWhole(folder + "\\VTScrsvr.bmp", QuadrantBmp(16, 16, kGreen, kGreen, kGreen, kGreen));
    Sleep(2500);
    ASSERT_EQ(RunHostScript(folder, "import -window root shot2.png && convert shot2.png -depth 8 shot2.ppm",
                            &report),
              0)
        << report;
    ASSERT_TRUE(shot.Parse(ReadWhole(folder + "\\shot2.ppm"))) << report;
    EXPECT_TRUE(Near(shot.At(w / 4, h / 4), kGreen));
    EXPECT_TRUE(Near(shot.At(w / 4, 3 * h / 4), kGreen));
    EXPECT_EQ(ReadSaverFlag(folder), 1);

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadSaverFlag(folder), 0);
}

TEST_F(SaverRunTest, RefusesToRunWithoutItsInstallationRecord)
{
    RemoveSaverRecord(SAVER_PRODUCT_NAME);
    WriteWhole(folder + "\\VTScrsvr.bmp", QuadrantBmp(64, 32, kRed, kGreen, kBlue, kYellow));
    ASSERT_TRUE(StartSaver("/s"));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 15000), WAIT_OBJECT_0);
    EXPECT_EQ(ReadSaverFlag(folder), -1);
}
