// Start-up of the application object. Every start runs in a child copy of
// this executable acting as the program ("-VTPROGRAM <scenario> <product>
// <folder>"), because start-up changes the whole process; the child's exit
// code is its start-up result, and what it saw lands in files of <folder>.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string>

#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/datafolder.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/ui/frameedges.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "framework/zip.h"
#include "framework/ui/graphics.h"
#include "framework/ui/menu.h"
#include "resources/resource.h"
#include "testutil.h"

namespace {

// ---------------------------------------------------------------- the child

struct ChildSetup {
    std::string scenario, product, folder;
};
ChildSetup gChild;

// Both copies of the program log to one file, so each line goes in one
// append-only write: the C library's "ab" seeks to the end and then writes,
// and a line of the other copy could land between the two.
void AppendLog(const std::string &name, const std::string &line)
{
    HANDLE file = CreateFileA((gChild.folder + "\\" + name).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
}

BOOL CALLBACK FindOwnBox(HWND window, LPARAM found)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (process == GetCurrentProcessId() && !strcmp(name, "#32770") && IsWindowVisible(window)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

std::string ItemText(HWND dialog, int id)
{
    char text[2048] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Answers every message box of the child (writing its text to box.txt) and
// gives up any data-folder wait after a second and a half.
DWORD WINAPI Watcher(LPVOID)
{
    for (int waited = 0;; waited += 50) {
        Sleep(50);
        HWND box = 0;
        EnumWindows(FindOwnBox, (LPARAM)&box);
        if (box) {
            Sleep(100);
            AppendLog("box.txt", ItemText(box, IDC_MSGBOX_LINE1) + "|" +
                                     ItemText(box, IDC_MSGBOX_LINES));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            Sleep(300);
        }
        HWND wait = FindWindowA(DATAFOLDER_WINDOW_CLASS, 0);
        if (wait && waited > 1500) {
            AppendLog("log.txt", "gave up");
            PostMessageA(wait, WM_COMMAND, DATAFOLDER_GIVE_UP_COMMAND, 0);
            Sleep(300);
        }
    }
    return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == QRFM_SHOW) {
        // What the program reads for "-PROFILE" at this moment.
        char command[MAX_LONG_TEXT] = "";
        ReadRecordFile("(QRF)Cmd", -1, command, sizeof command - 1, 0);
        AppendLog("log.txt", "show");
        AppendLog("log.txt", std::string("show read ") + command);
    }
    if (message == QRFM_QUIT) {
        AppendLog("log.txt", "quit");
        PostQuitMessage(0);
    }
    return DefFrameWindowProc(window, message, wParam, lParam);
}

StringTableRecord gChildStrings[] = {{0, {0}}, {STRING_TABLE_END, {0}}};

// The text after the program's own name, as a program entry gets it.
const char *ArgumentsOf(const char *line)
{
    if (*line == '"') {
        line = strchr(line + 1, '"');
        line = line ? line + 1 : "";
    } else {
        while (*line && *line != ' ')
            line++;
    }
    while (*line == ' ')
        line++;
    return line;
}

int RunChild(int argc, char **argv)
{
    gChild.scenario = argv[2];
    gChild.product = argv[3];
    gChild.folder = argv[4];
    CreateThread(0, 0, Watcher, 0, 0, 0);
    gChildStrings[0].text[0] = gChild.product.c_str();
    int result = gApp.Startup(GetModuleHandleA(0), 0, gChildStrings, false, 400,
                              ArgumentsOf(GetCommandLineA()));
    AppendLog("log.txt", "startup " + std::to_string(result));
    if (result != 0) {
        gApp.Shutdown();
        return result;
    }
    // The standard commands' images: icons, a swatch and an image without command.
    int images = 0;
    for (uint16_t id : {0xF110, 0xF120, 0xF160, 0xF134, 0xF16C})
        images += gGraphics && gGraphics->FindIcon(id) >= 0;
    AppendLog("log.txt", "images " + std::to_string(images));
    if (gChild.scenario == "run" || gChild.scenario == "restart") {
        CreateFrameWindow(0, MainWindowProc, gChild.product.c_str(), 1, 0, 10, 10, 200, 100);
        if (gChild.scenario == "restart")
            gApp.RequestRestart(1, ("-VTPROGRAM again " + gChild.product + " " + gChild.folder).c_str(),
                                false);
        int code = gApp.Run();
        gApp.Shutdown();   // as a program's entry does before it returns
        return code;
    }
    gApp.Shutdown();
    return 0;
}

// ---------------------------------------------------------------- the parent

std::string OwnPath()
{
    char path[MAX_PATH];
    GetModuleFileNameA(0, path, MAX_PATH);
    return path;
}

// Starts the program copy; the process handle, or 0.
HANDLE StartProgram(const std::string &scenario, const std::string &product,
                    const std::string &folder, const std::string &extra = "")
{
    std::string line = "\"" + OwnPath() + "\" -VTPROGRAM " + scenario + " " + product + " " +
                       folder + (extra.empty() ? "" : " " + extra);
    std::vector<char> text(line.begin(), line.end());
    text.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(0, text.data(), 0, 0, FALSE, 0, 0, 0, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The exit code, or -1 when the copy did not end in time (it is then ended).
int WaitForExit(HANDLE process, DWORD milliseconds = 15000)
{
    if (!process)
        return -2;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0)
        TerminateProcess(process, 99);
    else
        GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return (int)code;
}

int RunProgram(const std::string &scenario, const std::string &product, const std::string &folder,
               const std::string &extra = "")
{
    return WaitForExit(StartProgram(scenario, product, folder, extra));
}

// The installation record the setup engine writes, with the data in a custom
// folder; size bytes of it go to the registry.
void WriteInstallRecord(const std::string &product, const std::string &dataPath,
                        const std::string &installPath, int size = INSTALL_RECORD_BYTES)
{
    unsigned char record[INSTALL_RECORD_BYTES] = {};
    record[0] = 1;     // record version
    record[INSTALL_RECORD_CUSTOM_LOCATION] = 1;
    CopyText((char *)record + INSTALL_RECORD_INSTALL_PATH, installPath.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    CopyText((char *)record + INSTALL_RECORD_CUSTOM_PATH, dataPath.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, 0, 0, KEY_SET_VALUE, 0,
                              &key, 0),
              ERROR_SUCCESS);
    RegSetValueExA(key, product.c_str(), 0, REG_BINARY, record, (DWORD)size);
    RegCloseKey(key);
}

struct Installed {
    std::string folder, data, install;
};

Installed Install(const std::string &product, int recordSize = 1328)
{
    Installed at;
    at.folder = FreshTempFolder("start-" + product);
    at.data = at.folder + "\\data";
    at.install = at.folder + "\\install";
    CreateDirectoryA(at.install.c_str(), 0);
    WriteInstallRecord(product, at.data, at.install, recordSize);
    return at;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForInstance(const std::string &product)
{
    for (int i = 0; i < 200; i++) {
        if (FindInstanceWindow(product.c_str()))
            return true;
        Sleep(50);
    }
    return false;
}

bool WaitForLine(const std::string &path, const std::string &line)
{
    for (int i = 0; i < 100; i++) {
        if (ReadWhole(path).find(line + "\n") != std::string::npos)
            return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------- pure pieces

TEST(StartupPieces, OsCodeFollowsVersion)
{
    EXPECT_EQ(OsCodeFromVersion(6, 0, 6000), 6);
    EXPECT_EQ(OsCodeFromVersion(6, 1, 7601), 7);
    EXPECT_EQ(OsCodeFromVersion(6, 2, 9200), 8);
    EXPECT_EQ(OsCodeFromVersion(6, 3, 9600), 8);
    EXPECT_EQ(OsCodeFromVersion(6, 4, 0), 0);
    EXPECT_EQ(OsCodeFromVersion(10, 0, 21999), 10);
    EXPECT_EQ(OsCodeFromVersion(10, 0, 22000), 11);
    EXPECT_EQ(OsCodeFromVersion(5, 1, 2600), 0);
}

TEST(StartupPieces, AppRecordOfOtherVersionInvalidatesPlacements)
{
    QRFAppRecord record = {};
    record.settingsVersion = 399;
    record.language = 7;
    EXPECT_TRUE(AdoptAppRecord(&record, 400));
    EXPECT_EQ(record.settingsVersion, 400);
    EXPECT_EQ(record.language, 0);
    record.language = 1;
    EXPECT_FALSE(AdoptAppRecord(&record, 400));
    EXPECT_EQ(record.language, 1);
}

TEST(StartupPieces, FirstRunFilesNeverOverwriteAndMakeNoFolders)
{
    std::string base = FreshTempFolder("start-copy");
    std::string init = base + "\\Init", data = base + "\\data";
    CreateDirectoryA(init.c_str(), 0);
    CreateDirectoryA((init + "\\sub").c_str(), 0);
    CreateDirectoryA((init + "\\made").c_str(), 0);
    CreateDirectoryA(data.c_str(), 0);
    CreateDirectoryA((data + "\\made").c_str(), 0);
    WriteWhole(init + "\\new.txt", "new");
    WriteWhole(init + "\\kept.txt", "from init");
    WriteWhole(init + "\\sub\\deep.txt", "deep");
    WriteWhole(init + "\\made\\deep.txt", "deep");
    WriteWhole(data + "\\kept.txt", "user's");
    CopyFirstRunFiles(init.c_str(), data.c_str());
    EXPECT_EQ(ReadWhole(data + "\\new.txt"), "new");
    EXPECT_EQ(ReadWhole(data + "\\kept.txt"), "user's");
    EXPECT_FALSE(Exists(data + "\\sub"));
    EXPECT_EQ(ReadWhole(data + "\\made\\deep.txt"), "deep");
}

// A link in the data folder is no way out of it: first-run files for the
// folder it names are not copied to where it leads. The host makes the link
// (Wine makes none), below the working folder that it sees through Z:.
TEST(StartupPieces, FirstRunFilesGoNowhereThroughALink)
{
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string base = std::string(here) + "\\vt-start-link-" + std::to_string(GetCurrentProcessId());
    std::string init = base + "\\Init", data = base + "\\data", report;
    RemoveTree(base);
    for (const char *folder : {"", "\\Init", "\\Init\\Profiles", "\\data", "\\outside"})
        CreateDirectoryA((base + folder).c_str(), 0);
    WriteWhole(init + "\\top.txt", "top");
    WriteWhole(init + "\\Profiles\\default.vtp", "first run");
    int made = RunHostScript(base, "ln -s \"$PWD/outside\" data/Profiles && echo made", &report);
    VT_REQUIRE_OR_SKIP(made == 0 && report.find("made") != std::string::npos,
                       "the host cannot make the link (Wine makes none): " + report);
    CopyFirstRunFiles(init.c_str(), data.c_str());
    EXPECT_EQ(ReadWhole(data + "\\top.txt"), "top");
    EXPECT_FALSE(Exists(base + "\\outside\\default.vtp"));
    RunHostScript(base, "rm -f data/Profiles", &report);
    RemoveTree(base);
}

// ---------------------------------------------------------------- starts

TEST(Startup, MakesDataFolderAndWritesCommandRecord)
{
    Installed at = Install("VtStartFolders");
    CreateDirectoryA((at.install + "\\Init").c_str(), 0);
    WriteWhole(at.install + "\\Init\\first.txt", "first run");
    EXPECT_EQ(RunProgram("once", "VtStartFolders", at.folder, "-MINIMIZE"), 0);
    EXPECT_TRUE(Exists(at.data));
    std::string expected = "-VTPROGRAM once VtStartFolders " + at.folder + " -MINIMIZE";
    EXPECT_EQ(ReadWhole(at.data + "\\(QRF)Cmd.rgc"), expected + std::string(1, '\0'));
    EXPECT_EQ(ReadWhole(at.data + "\\first.txt"), "first run");
    EXPECT_FALSE(Exists(at.folder + "\\box.txt")) << ReadWhole(at.folder + "\\box.txt");
    EXPECT_NE(ReadWhole(at.folder + "\\log.txt").find("images 5"), std::string::npos);
    // The record is written at the end of the run with this settings version.
    std::string app = ReadWhole(at.data + "\\(QRF)App.rgc");
    ASSERT_EQ(app.size(), 297u);
    int32_t version;
    memcpy(&version, app.data() + 4, 4);
    EXPECT_EQ(version, 400);
}

TEST(Startup, ShortInstallationRecordIsRefusedWithMessage)
{
    Installed at = Install("VtStartShort", 1325);
    EXPECT_EQ(RunProgram("once", "VtStartShort", at.folder), QRF_ERR_INSTALLRECORD);
    EXPECT_EQ(ReadWhole(at.folder + "\\box.txt"),
              "Error initializing the application!|Error code 0x0000F016.\n");
    EXPECT_FALSE(Exists(at.data));
}

TEST(Startup, FullInstallationRecordIsAccepted)
{
    Installed at = Install("VtStartExact", 1326);
    EXPECT_EQ(RunProgram("once", "VtStartExact", at.folder), 0);
    EXPECT_FALSE(Exists(at.folder + "\\box.txt"));
}

TEST(Startup, SecondInstanceShowsTheFirstAndEnds)
{
    Installed at = Install("VtStartTwice");
    HANDLE first = StartProgram("run", "VtStartTwice", at.folder);
    ASSERT_TRUE(WaitForInstance("VtStartTwice"));
    // A pending archive and first-run files belong to the running copy.
    WriteWhole(at.data + "\\VtStartTwice.KestrovaConfig", "pending");
    DeleteFileA((at.data + "\\(QRF)App.rgc").c_str());
    CreateDirectoryA((at.install + "\\Init").c_str(), 0);
    WriteWhole(at.install + "\\Init\\late.txt", "late");
    DeleteFileA((at.data + "\\(QRF)Cmd.rgc").c_str());

    EXPECT_EQ(RunProgram("once", "VtStartTwice", at.folder), QRF_ERR_INSTANCE);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "show"));
    EXPECT_TRUE(Exists(at.data + "\\VtStartTwice.KestrovaConfig"));
    EXPECT_FALSE(Exists(at.data + "\\late.txt"));
    EXPECT_FALSE(Exists(at.data + "\\(QRF)App.rgc"));   // no layout saved by the second
    EXPECT_FALSE(Exists(at.folder + "\\box.txt"));

    EXPECT_EQ(RunProgram("once", "VtStartTwice", at.folder, "-QUIT"), QRF_ERR_INSTANCE);
    EXPECT_EQ(WaitForExit(first), 0);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "quit"));
}

// Each later start leaves its own command line before the running copy is
// asked to show itself, so that copy reads that start's "-PROFILE", not the
// first one's again.
TEST(Startup, EachSecondStartLeavesItsCommandLineBeforeShowing)
{
    Installed at = Install("VtStartProfiles");
    HANDLE first = StartProgram("run", "VtStartProfiles", at.folder, "-PROFILE First");
    ASSERT_TRUE(WaitForInstance("VtStartProfiles"));
    std::string prefix = "-VTPROGRAM once VtStartProfiles " + at.folder;

    EXPECT_EQ(RunProgram("once", "VtStartProfiles", at.folder, "-PROFILE Work"), QRF_ERR_INSTANCE);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "show read " + prefix + " -PROFILE Work"))
        << ReadWhole(at.folder + "\\log.txt");
    EXPECT_EQ(ReadWhole(at.data + "\\(QRF)Cmd.rgc"),
              prefix + " -PROFILE Work" + std::string(1, '\0'));

    EXPECT_EQ(RunProgram("once", "VtStartProfiles", at.folder, "-PROFILE Home"), QRF_ERR_INSTANCE);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "show read " + prefix + " -PROFILE Home"))
        << ReadWhole(at.folder + "\\log.txt");
    // A start without the switch leaves no stale one behind.
    EXPECT_EQ(RunProgram("once", "VtStartProfiles", at.folder), QRF_ERR_INSTANCE);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "show read " + prefix))
        << ReadWhole(at.folder + "\\log.txt");
    EXPECT_EQ(ReadWhole(at.data + "\\(QRF)Cmd.rgc"), prefix + std::string(1, '\0'));

    EXPECT_EQ(RunProgram("once", "VtStartProfiles", at.folder, "-QUIT"), QRF_ERR_INSTANCE);
    EXPECT_EQ(WaitForExit(first), 0);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "quit"));
    EXPECT_FALSE(Exists(at.folder + "\\box.txt")) << ReadWhole(at.folder + "\\box.txt");
}

TEST(Startup, QuitWithoutInstanceEndsAtOnce)
{
    Installed at = Install("VtStartQuitNone");
    EXPECT_EQ(RunProgram("once", "VtStartQuitNone", at.folder, "-QUIT"), QRF_ERR_INSTANCE);
    EXPECT_FALSE(Exists(at.data));
}

TEST(Startup, OtherProductsIgnoreTheControlMessage)
{
    Installed mine = Install("VtStartMine");
    Installed other = Install("VtStartOther");
    HANDLE first = StartProgram("run", "VtStartMine", mine.folder);
    ASSERT_TRUE(WaitForInstance("VtStartMine"));
    HANDLE second = StartProgram("run", "VtStartOther", other.folder);
    ASSERT_TRUE(WaitForInstance("VtStartOther"));
    EXPECT_EQ(RunProgram("once", "VtStartOther", other.folder, "-QUIT"), QRF_ERR_INSTANCE);
    EXPECT_EQ(WaitForExit(second), 0);
    Sleep(300);
    EXPECT_EQ(ReadWhole(mine.folder + "\\log.txt").find("quit"), std::string::npos);
    EXPECT_EQ(RunProgram("once", "VtStartMine", mine.folder, "-QUIT"), QRF_ERR_INSTANCE);
    EXPECT_EQ(WaitForExit(first), 0);
}

TEST(Startup, RestartRequestStartsNewCopy)
{
    Installed at = Install("VtStartAgain");
    EXPECT_EQ(RunProgram("restart", "VtStartAgain", at.folder), 0);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "startup 0"));
    // The new copy runs with the restart parameters.
    std::string expected = "-VTPROGRAM again VtStartAgain " + at.folder + std::string(1, '\0');
    // Up to 30 s: a new Wine process can take over 10 s to start while the
    // whole suite runs side by side.
    bool restarted = false;
    for (int i = 0; i < 600 && !restarted; i++, Sleep(50))
        restarted = ReadWhole(at.data + "\\(QRF)Cmd.rgc") == expected;
    EXPECT_TRUE(restarted);
}

// A reset archive as the About dialog leaves it for the next start: the
// product's identity entry and no settings.
void WriteResetArchive(const std::string &path, const std::string &product)
{
    ZipHandle *zip = CZipWriter::Create(path.c_str(), 0);
    ASSERT_TRUE(zip != 0);
    const char identity[] = "\0" "1.0.0";
    EXPECT_EQ(CZipWriter::AddMemory(zip, product.c_str(), identity, sizeof identity - 1), ZIP_OK);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "reset.rgc", "from the archive", 16), ZIP_OK);
    EXPECT_EQ(CZipWriter::Close(zip), ZIP_OK);
}

// Wine sends recycled files to the host's trash: the import's, from this
// test's folder, are taken out again.
void ForgetRecycledFiles(const std::string &tag)
{
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string host = std::string(here) + "\\start-trash", report;
    RemoveTree(host);
    CreateDirectoryA(host.c_str(), 0);
    RunHostScript(host, "t=\"${XDG_DATA_HOME:-$HOME/.local/share}/Trash\"\n"
                        "for i in \"$t\"/info/*.trashinfo; do\n"
                        "    [ -e \"$i\" ] || continue\n"
                        "    if grep -q '^Path=.*/vt-" + tag + "/' \"$i\"; then\n"
                        "        rm -rf \"$t/files/$(basename \"$i\" .trashinfo)\" && rm -f \"$i\"\n"
                        "    fi\n"
                        "done",
                  &report);
    RemoveTree(host);
}

// A reset removes the settings, so the first-run files must follow: the
// import has to come first.
TEST(Startup, ImportComesBeforeFirstRunCopy)
{
    Installed at = Install("VtStartReset");
    CreateDirectoryA(at.data.c_str(), 0);
    WriteWhole(at.data + "\\(QRF)App.rgc", std::string(297, '\0'));
    WriteResetArchive(at.data + "\\VtStartReset.KestrovaConfig", "VtStartReset");
    CreateDirectoryA((at.install + "\\Init").c_str(), 0);
    WriteWhole(at.install + "\\Init\\default.txt", "default");
    EXPECT_EQ(RunProgram("reset", "VtStartReset", at.folder), 0);
    EXPECT_EQ(ReadWhole(at.data + "\\reset.rgc"), "from the archive");
    EXPECT_FALSE(Exists(at.data + "\\VtStartReset.KestrovaConfig"));
    EXPECT_FALSE(Exists(at.data + "\\VtStartReset.KestrovaConfig.import"));
    EXPECT_EQ(ReadWhole(at.data + "\\default.txt"), "default");
    // A damaged archive goes as well, and the settings stay.
    WriteWhole(at.data + "\\VtStartReset.KestrovaConfig", "not an archive");
    EXPECT_EQ(RunProgram("reset", "VtStartReset", at.folder), 0);
    EXPECT_FALSE(Exists(at.data + "\\VtStartReset.KestrovaConfig"));
    EXPECT_EQ(ReadWhole(at.data + "\\reset.rgc"), "from the archive");
    ForgetRecycledFiles("start-VtStartReset");
}

TEST(Startup, UnreachableDataFolderWaitsThenFailsWithMessage)
{
    Installed at = Install("VtStartBlocked");
    WriteWhole(at.data, "a file where the folder should be");
    WriteInstallRecord("VtStartBlocked", at.data + "\\inside", at.install);
    DWORD start = GetTickCount();
    EXPECT_EQ(RunProgram("once", "VtStartBlocked", at.folder), QRF_ERR_DATAFOLDER);
    EXPECT_GE(GetTickCount() - start, 900u);
    std::string box = ReadWhole(at.folder + "\\box.txt");
    EXPECT_EQ(box.find("Could not access the data path!|"), 0u) << box;
    EXPECT_NE(box.find(at.data + "\\inside"), std::string::npos) << box;
}

TEST(Startup, WaitForDataPathEndsQuietlyWhenUserGivesUp)
{
    Installed at = Install("VtStartGiveUp");
    WriteWhole(at.data, "a file where the folder should be");
    WriteInstallRecord("VtStartGiveUp", at.data + "\\inside", at.install);
    EXPECT_EQ(RunProgram("once", "VtStartGiveUp", at.folder, "-WAITFORDATAPATH"),
              QRF_ERR_DATAFOLDER);
    EXPECT_TRUE(WaitForLine(at.folder + "\\log.txt", "gave up"));
    EXPECT_FALSE(Exists(at.folder + "\\box.txt")) << ReadWhole(at.folder + "\\box.txt");
}

namespace {
int gEarlierCalls;
bool EarlierPreTranslate(MSG *)
{
    gEarlierCalls++;
    return false;
}
}  // namespace

TEST(Startup, HookInstallersChainPreTranslation)
{
    // Start-up installs frames first, then menus: a message passes the menus,
    // then the frames, then whatever was there before, once each, however
    // often the installers run.
    gWindowHooks.preTranslateFrames = EarlierPreTranslate;
    InstallFrameHooks();
    InstallMenuHooks();
    bool (*installed)(MSG *) = gWindowHooks.preTranslateFrames;
    InstallFrameHooks();
    InstallMenuHooks();
    EXPECT_EQ(gWindowHooks.preTranslateFrames, installed);
    ASSERT_TRUE(installed != 0 && installed != EarlierPreTranslate);
    MSG msg = {};
    msg.message = WM_KEYDOWN;
    msg.wParam = VK_TAB;
    gEarlierCalls = 0;
    EXPECT_FALSE(installed(&msg));
    EXPECT_EQ(gEarlierCalls, 1);
    EXPECT_TRUE(gWindowHooks.describeItem != 0);
}

int main(int argc, char **argv)
{
    if (argc >= 5 && !strcmp(argv[1], "-VTPROGRAM"))
        return RunChild(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
