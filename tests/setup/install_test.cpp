// The product installed, run and removed as a user does it, in a prefix of
// its own (scripts/wine-run): the built Setup.exe run silently with the
// installation folder (with blanks) passed as cmd writes it, a custom data
// folder that already holds a file of the user's, and the user's own
// wallpaper and screen saver in place; the installed Veltaspar.exe started
// until its first Earth is the wallpaper, quit with "-QUIT"; then the
// installed Uninstall.exe run silently. Everything setup made must be gone,
// the user's file intact and the user's desktop as it was. A second round
// installs for all users with the folder passed as -INSTALL="..." and checks
// the all-users links and their removal.
#include <gtest/gtest.h>
#include <windows.h>

#include <shlobj.h>
#include <stdio.h>

#include <set>
#include <string>

#include "desktoputil.h"
#include "setup/setupinfo.h"
#include "testutil.h"

namespace {

const char kDesktop[] = "VtInstall";
const char kWork[] = "C:\\Downloads";
const char kShared[] = "C:\\Shared";
const char kThesis[] = "C:\\Shared\\MyThesis.docx";
const char kThesisText[] = "Chapter 1. Four years of work that no uninstaller may touch.";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veltaspar";
const char kUserSaver[] = "C:\\windows\\system32\\mine.scr";

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(0, csidl, 0, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::string WindowsFolder()
{
    char path[MAX_PATH] = "";
    GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

// Runs the command line in the folder and waits: the exit code, or
// 0xFFFFFFFF when it did not start, 0xFFFFFFFE when it did not end.
DWORD RunAndWait(const std::string &commandLine, const char *folder, DWORD waitMs = 180000)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(0, &line[0], 0, 0, FALSE, 0, 0, folder, &startup, &process))
        return 0xFFFFFFFF;
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

// Every file and folder below the folder, as relative paths.
void ListTree(const std::string &folder, const std::string &prefix, std::set<std::string> *out)
{
    WalkTree(folder, [&](const std::string &path, bool) { out->insert(prefix + path); });
}

std::string Listing(const std::set<std::string> &names)
{
    std::string text;
    for (const std::string &name : names)
        text += name + "\n";
    return text;
}

bool KeyExists(HKEY root, const char *key)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != 0)
        return false;
    RegCloseKey(handle);
    return true;
}

std::string ReadText(HKEY root, const char *key, const char *value)
{
    char text[1024] = "";
    DWORD size = sizeof text;
    if (RegGetValueA(root, key, value, RRF_RT_REG_SZ, 0, text, &size) != 0)
        return "<missing>";
    return text;
}

// The raw installation record, as the installed program reads it.
std::string RawRecord()
{
    char bytes[2000];
    DWORD size = sizeof bytes;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", "Veltaspar", RRF_RT_REG_BINARY, 0,
                     bytes, &size) != 0)
        return "";
    return std::string(bytes, size);
}

std::string TextAt(const std::string &record, size_t offset)
{
    return record.size() >= offset + 260 ? std::string(record.c_str() + offset) : "<short>";
}

// A screenshot of the test's display, next to the build's other pictures.
void Screenshot(const char *name)
{
    char module[MAX_PATH];
    GetModuleFileNameA(0, module, MAX_PATH);
    *strrchr(module, '\\') = 0;
    std::string folder = std::string(module) + "\\install-shot";
    CreateDirectoryA(folder.c_str(), 0);
    std::string target = UnixPath(std::string(module) + "\\..\\..\\install-" + name + ".png");
    std::string report;
    EXPECT_EQ(0, RunHostScript(folder, "import -window root '" + target + "'", &report)) << report;
}

std::string SetupLog()
{
    return ReadWhole(std::string(kWork) + "\\Setup.log");
}

class Install : public ::testing::Test {
protected:
    std::string setup, userWallpaper;

    void SetUp() override
    {
        CreateDirectoryA(kWork, 0);
        CreateDirectoryA(kShared, 0);
        setup = std::string(kWork) + "\\Setup.exe";
        std::string built = std::string("Z:") + VT_SETUP_PATH;
        for (char &c : built)
            if (c == '/')
                c = '\\';
        ASSERT_TRUE(CopyFileA(built.c_str(), setup.c_str(), FALSE)) << built;
        WriteWhole(kThesis, kThesisText);
        // The user's own desktop, set the way the system does it.
        userWallpaper = std::string(kShared) + "\\Holiday.bmp";
        WriteGreyBmp(userWallpaper, 8, 8);
        WriteDesktopValue("WallpaperStyle", "2");
        SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, (void *)userWallpaper.c_str(),
                              SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
        WriteDesktopValue("Wallpaper", userWallpaper.c_str());
        WritePrivateProfileStringA("boot", "SCRNSAVE.EXE", kUserSaver, "SYSTEM.INI");
        SystemParametersInfoA(SPI_SETSCREENSAVETIMEOUT, 240, 0,
                              SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
        HKEY key;
        ASSERT_EQ(0, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Explorer\\Desktops", 0,
                                     0, 0, KEY_WRITE, 0, &key, 0));
        RegSetValueExA(key, kDesktop, 0, REG_SZ, (const BYTE *)"1280x1024", 10);
        RegCloseKey(key);
    }

    // Everything setup made, after the uninstaller ran and removed itself.
    void ExpectAllGone(const std::string &install)
    {
        for (int i = 0; i < 100 && Exists(install); i++)   // the uninstaller's own folder
            Sleep(200);
        EXPECT_FALSE(Exists(install)) << install;
        EXPECT_FALSE(Exists(WindowsFolder() + "\\Veltaspar.scr"));
        EXPECT_EQ("", RawRecord());
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
        for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
            EXPECT_FALSE(Exists(ShellFolder(csidl) + "\\Veltaspar.lnk")) << csidl;
        for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS})
            EXPECT_FALSE(Exists(ShellFolder(csidl) + "\\Veltaspar")) << csidl;
        EXPECT_FALSE(Exists(ShellFolder(CSIDL_APPDATA) + "\\Kestrova"));
        EXPECT_FALSE(Exists(ShellFolder(CSIDL_COMMON_APPDATA) + "\\Kestrova"));
        // The user's own things.
        EXPECT_EQ(kThesisText, ReadWhole(kThesis));
        EXPECT_EQ(userWallpaper, ReadDesktopValue("Wallpaper"));
        EXPECT_EQ(kUserSaver, SystemSaver());
    }
};

TEST_F(Install, SilentSetupRunQuitAndSilentUninstallLeaveTheUsersThings)
{
    const std::string install = "C:\\Program Files\\Velta Spar";
    // One argument with the blanks inside its quotes, as cmd and launchers write it.
    DWORD code = RunAndWait("\"" + setup + "\" -SILENT \"-INSTALL=" + install + "\" -DATA=" + kShared +
                         " -WORKDIR=" + kWork,
                     kWork);
    ASSERT_EQ(0u, code) << SetupLog();
    EXPECT_EQ("Setup finished successfully!\r\n", SetupLog());

    // The files, the screen saver in the Windows folder and nowhere else.
    for (const char *name : {"Veltaspar.exe", "Uninstall.exe", "Seasonal (10 km).vtd", "Urban.vtd",
                             "CloudsH.int", "Cities.txt", "Timezones.txt"})
        EXPECT_TRUE(Exists(install + "\\" + name)) << name;
    EXPECT_TRUE(Exists(WindowsFolder() + "\\Veltaspar.scr"));
    EXPECT_FALSE(Exists(install + "\\Veltaspar.scr"));
    EXPECT_FALSE(Exists("C:\\Program"));

    // The record: the folders, and the update check's addresses at 800 and 1060.
    std::string record = RawRecord();
    ASSERT_EQ(1328u, record.size());
    SetupInfoRecord info;
    ASSERT_TRUE(ReadSetupInfo("Veltaspar", &info));
    EXPECT_STREQ(install.c_str(), info.installPath);
    EXPECT_STREQ(kShared, info.customPath);
    EXPECT_EQ(0, info.forWhom);
    EXPECT_EQ(1, info.customLocation);
    EXPECT_EQ("https://download.veltaspar.net/Download/version.txt", TextAt(record, 800));
    EXPECT_EQ("https://www.veltaspar.net/download/", TextAt(record, 1060));
    EXPECT_EQ("\"" + install + "\\Uninstall.exe\"",
              ReadText(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString"));
    // Only for this user: the user's own links.
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\Veltaspar.lnk"));
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_PROGRAMS) + "\\Veltaspar\\Veltaspar.lnk"));
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_PROGRAMS) + "\\Veltaspar\\Uninstall Veltaspar.lnk"));
    EXPECT_FALSE(Exists(ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\Veltaspar.lnk"));

    // The installed program's first start: its Earth becomes the wallpaper.
    std::string exe = install + "\\Veltaspar.exe";
    DWORD started = GetTickCount();
    HANDLE program = StartOnNamedDesktop(kDesktop, "\"" + exe + "\" -MINIMIZE");
    ASSERT_TRUE(program);
    std::string ours = std::string(kShared) + "\\Veltaspar.bmp";
    Bmp picture;
    bool rendered = WaitFor(
        [&] {
            return ReadDesktopValue("Wallpaper") == ours && ReadBmp(ours, &picture) &&
                   LooksLikeEarth(picture);
        },
        300);
    printf("first start until the Earth was the wallpaper: %.1f s\n",
           (GetTickCount() - started) / 1000.0);
    EXPECT_TRUE(rendered) << ReadDesktopValue("Wallpaper");
    EXPECT_TRUE(WaitFor([&] { return !_stricmp(SystemSaver().c_str(),
                                               (WindowsFolder() + "\\Veltaspar.scr").c_str()); },
                        30))
        << SystemSaver();
    Sleep(2000);   // the desktop repaints with it
    Screenshot("desktop");
    std::set<std::string> made;
    ListTree(kShared, "", &made);
    printf("the data folder while the program runs:\n%s", Listing(made).c_str());

    // "-QUIT" ends it; the user's desktop is back.
    HANDLE quitter = StartOnNamedDesktop(kDesktop, "\"" + exe + "\" -QUIT");
    ASSERT_TRUE(quitter);
    WaitForSingleObject(quitter, 60000);
    CloseHandle(quitter);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(program, 60000));
    CloseHandle(program);
    WaitFor([&] { return SystemSaver() == kUserSaver; }, 10);
    EXPECT_EQ(userWallpaper, ReadDesktopValue("Wallpaper"));
    EXPECT_EQ(kUserSaver, SystemSaver());

    // The installed uninstaller, silently, from its own folder.
    code = RunAndWait("\"" + install + "\\Uninstall.exe\" -SILENT -WORKDIR=" + kWork, kWork);
    EXPECT_EQ(0u, code);
    EXPECT_EQ("Uninstall finished successfully!\r\n",
              ReadWhole(std::string(kWork) + "\\Uninstall.log"));
    ExpectAllGone(install);
    // Of the data folder only the user's own files are left.
    std::set<std::string> left;
    ListTree(kShared, "", &left);
    EXPECT_EQ("Holiday.bmp\nMyThesis.docx\n", Listing(left));
}

TEST_F(Install, AllUsersInstallationTakesTheQuotedValueAndTheAllUsersFolders)
{
    const std::string install = "C:\\Program Files\\Velta Spar All";
    // The value quoted after the "=": the same folder, blanks and all.
    DWORD code = RunAndWait("\"" + setup + "\" -SILENT -INSTALL=\"" + install + "\" -WORKDIR=" + kWork,
                     kWork);
    ASSERT_EQ(0u, code) << SetupLog();
    EXPECT_EQ("Setup finished successfully!\r\n", SetupLog());
    SetupInfoRecord info;
    ASSERT_TRUE(ReadSetupInfo("Veltaspar", &info));
    EXPECT_STREQ(install.c_str(), info.installPath);
    EXPECT_EQ(1, info.forWhom);
    EXPECT_EQ(0, info.customLocation);
    EXPECT_TRUE(Exists(install + "\\Veltaspar.exe"));
    // For all users: the all-users desktop and Start menu.
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\Veltaspar.lnk"));
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\Veltaspar\\Veltaspar.lnk"));
    EXPECT_FALSE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\Veltaspar.lnk"));

    // What the program makes in the standard data folders on its start.
    std::string data = ShellFolder(CSIDL_APPDATA) + "\\Kestrova\\Veltaspar";
    ASSERT_EQ(0, SHCreateDirectoryExA(0, (data + "\\Profile-Default").c_str(), 0));
    WriteWhole(data + "\\Preferences.rgc", "program");
    WriteWhole(data + "\\Profile-Default\\Options0.rgc", "program");
    ASSERT_EQ(0, SHCreateDirectoryExA(
                     0, (ShellFolder(CSIDL_COMMON_APPDATA) + "\\Kestrova\\Veltaspar").c_str(), 0));

    code = RunAndWait("\"" + install + "\\Uninstall.exe\" -SILENT -WORKDIR=" + kWork, kWork);
    EXPECT_EQ(0u, code);
    EXPECT_EQ("Uninstall finished successfully!\r\n",
              ReadWhole(std::string(kWork) + "\\Uninstall.log"));
    ExpectAllGone(install);
}

}  // namespace
