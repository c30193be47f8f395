// The program end to end: an installation laid out in a temporary folder
// (the program, its screen saver and the default data set's maps, with the
// installation record pointing at it), a user's own wallpaper and screen
// saver in place, then Veltaspar.exe started on a desktop of its own. It must
// make its folders and backups, render the Earth, put it on the desktop (the
// registry values and the desktop's own pixels), register its screen saver,
// and after "-QUIT" give everything back and leave no temporary file.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "desktoputil.h"
#include "setup/setupinfo.h"
#include "testutil.h"

namespace {

const char kDesktop[] = "VtProgram";
// The test display's own size: Wine keeps a virtual desktop's size as the
// display mode for the whole prefix, which other tests would then see.
const int kWidth = 1280, kHeight = 1024;

std::string Winpath(const char *unixPath)
{
    std::string path = std::string("Z:") + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The desktop's pixels, read on a thread of its own that joins the
// program's desktop (a thread with windows cannot).
struct Capture {
    std::string bits;   // 24-bit rows, top-down, kWidth wide
    bool ok = false;
};

DWORD WINAPI CaptureThread(void *parameter)
{
    Capture *capture = (Capture *)parameter;
    HDESK desk = OpenDesktopA(kDesktop, 0, FALSE, GENERIC_ALL);
    if (!desk || !SetThreadDesktop(desk))
        return 1;
    HDC screen = GetDC(0);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *bits = 0;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, 0, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    capture->ok = BitBlt(memory, 0, 0, kWidth, kHeight, screen, 0, 0, SRCCOPY) != 0;
    GdiFlush();
    int stride = (kWidth * 3 + 3) & ~3;
    capture->bits.assign((const char *)bits, (size_t)stride * kHeight);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(0, screen);
    CloseDesktop(desk);
    return 0;
}

// Mean absolute channel difference between the desktop and the picture.
double DesktopDifference(const Bmp &picture)
{
    Capture capture;
    HANDLE thread = CreateThread(0, 0, CaptureThread, &capture, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    if (!capture.ok)
        return 1e9;
    // Means of 8 x 8 blocks are compared, not single pixels: how the display
    // reduces and dithers colours differs between X servers and Wine's
    // drawing paths, while a wrong or misplaced picture still differs by tens.
    const int block = 8;
    int stride = (kWidth * 3 + 3) & ~3;
    double sum = 0;
    int n = 0;
    for (int y0 = 0; y0 + block <= kHeight; y0 += block)
        for (int x0 = 0; x0 + block <= kWidth; x0 += block)
            for (int c = 0; c < 3; c++, n++) {
                int shown = 0, rendered = 0;
                for (int y = y0; y < y0 + block; y++)
                    for (int x = x0; x < x0 + block; x++) {
                        shown += ((const uint8_t *)capture.bits.data() + y * stride + x * 3)[c];
                        rendered += picture.Pixel(x, y)[c];
                    }
                sum += abs(shown - rendered) / (double)(block * block);
            }
    return sum / n;
}

// Whether a top-level window of the class and title exists on the
// program's desktop, asked from a thread that joins it.
struct WindowQuery {
    const char *className, *title;
    int childId = 0;          // also read this child's text
    bool found = false;
    std::string childText;
};

DWORD WINAPI FindWindowThread(void *parameter)
{
    WindowQuery *query = (WindowQuery *)parameter;
    HDESK desk = OpenDesktopA(kDesktop, 0, FALSE, GENERIC_ALL);
    if (!desk || !SetThreadDesktop(desk))
        return 1;
    HWND window = FindWindowA(query->className, query->title);
    query->found = window && IsWindowVisible(window);
    if (query->found && query->childId) {
        // GetWindowText would read another process's control's caption, not
        // ask the control: a combo box answers WM_GETTEXT with its selection.
        char text[MAX_PATH] = "";
        DWORD_PTR copied = 0;
        SendMessageTimeoutA(GetDlgItem(window, query->childId), WM_GETTEXT, MAX_PATH,
                            (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &copied);
        query->childText = text;
    }
    CloseDesktop(desk);
    return 0;
}

WindowQuery AskDesktop(const char *className, const char *title, int childId)
{
    WindowQuery query;
    query.className = className;
    query.title = title;
    query.childId = childId;
    HANDLE thread = CreateThread(0, 0, FindWindowThread, &query, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    return query;
}

bool WindowOnDesktop(const char *className, const char *title)
{
    return AskDesktop(className, title, 0).found;
}

// The text of a child of that window; empty when there is none.
std::string ChildTextOnDesktop(const char *className, const char *title, int childId)
{
    return AskDesktop(className, title, childId).childText;
}

// The names in a folder, for a failure message.
std::string Listing(const std::string &folder)
{
    std::string names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return "(none)";
    do
        names += std::string(entry.cFileName) + " ";
    while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

HANDLE StartOnDesktop(const std::string &commandLine)
{
    return StartOnNamedDesktop(kDesktop, commandLine);
}

class Program : public ::testing::Test {
protected:
    std::string root, install, data, exe, userWallpaper, keptWallpaper, keptStyle, keptSaver;

    void SetUp() override
    {
        root = FreshTempFolder("program");
        install = root + "\\Veltaspar";
        data = root + "\\data";
        CreateDirectoryA(install.c_str(), 0);
        exe = install + "\\Veltaspar.exe";
        ASSERT_TRUE(CopyFileA(Winpath(VT_PROGRAM_PATH).c_str(), exe.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(Winpath(VT_SAVER_PATH).c_str(),
                              (install + "\\Veltaspar.scr").c_str(), FALSE));
        static const char *const kData[] = {
            "Seasonal (10 km).map", "Seasonal (10 km).min", "Urban-2048.map", "Urban-300.map",
            "CloudsH.int", "CloudsM.int", "CloudsL.int", "Cities.txt", "Timezones.txt"};
        std::string dataset = Winpath(VT_DATASET_DIR);
        for (const char *name : kData)
            ASSERT_TRUE(CopyFileA((dataset + "\\" + name).c_str(),
                                  (install + "\\" + name).c_str(), FALSE))
                << name;

        SetupInfoRecord record;
        BuildSetupInfo(&record, "Veltaspar", "4.0", 1, 1, 0, install.c_str(), data.c_str(), 0,
                       0, 0);
        ASSERT_TRUE(WriteSetupInfo("Veltaspar", &record));

        // The user's own desktop, to be given back.
        keptWallpaper = ReadDesktopValue("Wallpaper");
        keptStyle = ReadDesktopValue("WallpaperStyle");
        keptSaver = SystemSaver();
        userWallpaper = root + "\\mine.bmp";
        WriteGreyBmp(userWallpaper, 8, 8);
        WriteDesktopValue("Wallpaper", userWallpaper.c_str());
        WriteDesktopValue("WallpaperStyle", "2");
        WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", "C:\\windows\\mine.scr", "SYSTEM.INI");

        // A desktop of its own size, shown as Wine's virtual desktop.
        HKEY key;
        ASSERT_EQ(0, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0,
                                     0, 0, KEY_WRITE, 0, &key, 0));
        char size[32];
        snprintf(size, sizeof size, "%dx%d", kWidth, kHeight);
        RegSetValueExA(key, kDesktop, 0, REG_SZ, (const BYTE *)size, (DWORD)strlen(size) + 1);
        RegCloseKey(key);
    }
    void TearDown() override
    {
        WriteDesktopValue("Wallpaper", keptWallpaper == "<missing>" ? "" : keptWallpaper.c_str());
        WriteDesktopValue("WallpaperStyle", keptStyle == "<missing>" ? "" : keptStyle.c_str());
        WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", keptSaver.c_str(), "SYSTEM.INI");
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, KEY_WRITE, &key) == 0) {
            RegDeleteValueA(key, "Veltaspar");
            RegCloseKey(key);
        }
        RemoveTree(root);
    }
};

TEST_F(Program, RendersInstallsAndGivesTheDesktopBack)
{
    // "-MINIMIZE" keeps the options dialog closed: the whole desktop shows.
    HANDLE program = StartOnDesktop("\"" + exe + "\" -MINIMIZE");
    ASSERT_TRUE(program);

    // Folders and backups.
    ASSERT_TRUE(WaitFor([&] { return Exists(data + "\\Profile-Default"); }, 120));
    ASSERT_TRUE(WaitFor([&] { return Exists(data + "\\BackupSSTimeout.rgc"); }, 30));
    EXPECT_EQ(userWallpaper, ReadWhole(data + "\\BackupWPPath.rgc").c_str());
    EXPECT_STREQ("C:\\windows\\mine.scr", ReadWhole(data + "\\BackupSSPath.rgc").c_str());

    // The rendered Earth becomes the wallpaper.
    std::string ours = data + "\\Veltaspar.bmp";
    Bmp picture;
    bool rendered = WaitFor(
        [&] {
            return ReadDesktopValue("Wallpaper") == ours && ReadBmp(ours, &picture) &&
                   LooksLikeEarth(picture);
        },
        180);
    ASSERT_TRUE(rendered) << ReadDesktopValue("Wallpaper");
    EXPECT_EQ(kWidth, picture.width);
    EXPECT_EQ(kHeight, picture.height);
    // The desktop repaints with it; its pixels are the picture's.
    double difference = 1e9;
    WaitFor(
        [&] {
            ReadBmp(ours, &picture);
            difference = DesktopDifference(picture);
            return difference < 2.0;
        },
        20);
    EXPECT_LT(difference, 2.0);
    printf("desktop against the picture: mean difference %.3f\n", difference);

    // The screen saver is ours: the module setup puts into the Windows folder.
    std::string saver = SystemSaver();
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    EXPECT_STRCASEEQ((std::string(windows) + "\\Veltaspar.scr").c_str(), saver.c_str());

    // A second start with "-QUIT" ends the first; the desktop is the user's again.
    HANDLE quitter = StartOnDesktop("\"" + exe + "\" -QUIT");
    ASSERT_TRUE(quitter);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(quitter, 60000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program, 60000));
    DWORD code = 99;
    GetExitCodeProcess(program, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(quitter);
    CloseHandle(program);
    WaitFor([&] { return SystemSaver() == "C:\\windows\\mine.scr"; }, 10);

    EXPECT_EQ(userWallpaper, ReadDesktopValue("Wallpaper"));
    EXPECT_EQ("2", ReadDesktopValue("WallpaperStyle"));
    EXPECT_EQ("C:\\windows\\mine.scr", SystemSaver());
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((data + "\\*.tmp").c_str(), &entry);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find) << entry.cFileName;
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
}

// Each later start hands its "-PROFILE" to the running copy: that copy shows
// its options dialog with the named profile current, for every later start
// and not only the first one.
TEST_F(Program, LaterStartsSwitchToTheProfileTheyName)
{
    HANDLE program = StartOnDesktop("\"" + exe + "\" -MINIMIZE");
    ASSERT_TRUE(program);
    // A failed step must not leave the program running for the next test.
    struct Ender {
        HANDLE process;
        ~Ender()
        {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
                TerminateProcess(process, 9);
                WaitForSingleObject(process, 10000);
            }
            CloseHandle(process);
        }
    } ender = {program};
    // Started and rendered: "-MINIMIZE" held for that start only.
    std::string ours = data + "\\Veltaspar.bmp";
    Bmp picture;
    ASSERT_TRUE(WaitFor(
        [&] {
            return ReadDesktopValue("Wallpaper") == ours && ReadBmp(ours, &picture) &&
                   LooksLikeEarth(picture);
        },
        180));
    // Two more profiles with the first one's settings (their view lists are
    // the defaults until saved).
    std::string settings = data + "\\Profile-Default\\Settings.rgc";
    ASSERT_TRUE(WaitFor([&] { return Exists(settings); }, 60)) << Listing(data);
    for (const char *name : {"Work", "Home"}) {
        std::string folder = data + "\\Profile-" + name;
        CreateDirectoryA(folder.c_str(), 0);
        ASSERT_TRUE(CopyFileA(settings.c_str(), (folder + "\\Settings.rgc").c_str(), FALSE));
    }

    const int kProfiles = 1299;   // the options dialog's profile selector
    for (const char *name : {"Work", "Home", "Work"}) {
        HANDLE second = StartOnDesktop("\"" + exe + "\" -PROFILE " + name);
        ASSERT_TRUE(second);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 60000));
        CloseHandle(second);
        std::string shown;
        EXPECT_TRUE(WaitFor(
            [&] {
                shown = ChildTextOnDesktop("#32770", "Veltaspar", kProfiles);
                return shown == name;
            },
            60))
            << name << " asked, \"" << shown << "\" shown, the options dialog "
            << (WindowOnDesktop("#32770", "Veltaspar") ? "open" : "not open");
    }
    // For a look: the options dialog over the Earth with the last named profile.
    Sleep(1500);
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string report, shots = std::string(here) + "\\program-shot";
    CreateDirectoryA(shots.c_str(), 0);
    EXPECT_EQ(RunHostScript(shots,
                            "command -v import >/dev/null && import -window root '" +
                                UnixPath(std::string(here) + "\\..\\..\\program-profile.png") +
                                "'",
                            &report),
              0)
        << report;
    EXPECT_EQ(ChildTextOnDesktop("#32770", "Veltaspar", kProfiles), "Work");

    HANDLE quitter = StartOnDesktop("\"" + exe + "\" -QUIT");
    ASSERT_TRUE(quitter);
    WaitForSingleObject(quitter, 60000);
    CloseHandle(quitter);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program, 60000));
    EXPECT_EQ(userWallpaper, ReadDesktopValue("Wallpaper"));
}

// A program that was killed leaves its own wallpaper on the desktop; the next
// start must not take that for the user's, so its quit still gives the
// user's wallpaper back.
TEST_F(Program, StartAfterACrashKeepsTheUsersBackup)
{
    std::string ours = data + "\\Veltaspar.bmp";
    HANDLE program = StartOnDesktop("\"" + exe + "\" -MINIMIZE");
    ASSERT_TRUE(program);
    ASSERT_TRUE(WaitFor([&] { return ReadDesktopValue("Wallpaper") == ours; }, 120));
    TerminateProcess(program, 9);
    WaitForSingleObject(program, 10000);
    CloseHandle(program);
    EXPECT_EQ(ours, ReadDesktopValue("Wallpaper"));

    // A start without "-MINIMIZE" opens the options dialog.
    program = StartOnDesktop("\"" + exe + "\"");
    ASSERT_TRUE(program);
    EXPECT_TRUE(WaitFor([&] { return WindowOnDesktop("#32770", "Veltaspar"); }, 60));
    Bmp picture;
    ASSERT_TRUE(WaitFor([&] { return ReadBmp(ours, &picture) && LooksLikeEarth(picture); }, 120));
    EXPECT_EQ(userWallpaper, ReadWhole(data + "\\BackupWPPath.rgc").c_str());
    HANDLE quitter = StartOnDesktop("\"" + exe + "\" -QUIT");
    ASSERT_TRUE(quitter);
    WaitForSingleObject(quitter, 60000);
    CloseHandle(quitter);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program, 60000));
    CloseHandle(program);
    EXPECT_EQ(userWallpaper, ReadDesktopValue("Wallpaper"));
    EXPECT_EQ("2", ReadDesktopValue("WallpaperStyle"));
}

}  // namespace
