// The setup engine's system actions, in a temporary folder and a registry
// key of the test's own, with child processes of this very program.
#include "testutil.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "setup/sysactions.h"

// ---------------------------------------------------------------- child processes

// This program started with "--vt-child=<mode>" plays a child and ends
// before the tests start: "window:<title>" and "deaf:<title>" show a
// "QRFWindow" that does or does not quit on a sent WM_QUIT; "exit:<n>" ends
// with n; "sleep" sleeps 30 s; "touch:<path>" creates the file;
// "removeself" removes its own program and folder; "progman" shows a
// window of the shell's class for 30 s.
static LRESULT CALLBACK ChildWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QUIT && GetWindowLongPtrA(window, GWLP_USERDATA)) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int RunWindowChild(const char *title, bool answers)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ChildWindowProc;
    windowClass.hInstance = GetModuleHandleA(0);
    windowClass.lpszClassName = "QRFWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("QRFWindow", title, WS_POPUP, 0, 0, 10, 10, 0, 0,
                                GetModuleHandleA(0), 0);
    SetWindowLongPtrA(window, GWLP_USERDATA, answers);
    SetTimer(window, 1, 30000, 0);
    MSG msg;
    while (GetMessageA(&msg, 0, 0, 0) > 0) {
        if (msg.message == WM_TIMER)
            return 3;   // nobody closed it
        DispatchMessageA(&msg);
    }
    return 0;
}

static int RunChildIfAsked()
{
    const char *marker = strstr(GetCommandLineA(), "--vt-child=");
    if (!marker)
        return 0;
    std::string mode = marker + 11;
    if (!mode.empty() && mode.back() == '"')
        mode.pop_back();
    int code = 0;
    if (mode.rfind("window:", 0) == 0)
        code = RunWindowChild(mode.c_str() + 7, true);
    else if (mode.rfind("deaf:", 0) == 0)
        code = RunWindowChild(mode.c_str() + 5, false);
    else if (mode.rfind("exit:", 0) == 0)
        code = atoi(mode.c_str() + 5);
    else if (mode == "sleep")
        Sleep(30000);
    else if (mode.rfind("touch:", 0) == 0)
        CloseHandle(CreateFileA(mode.c_str() + 6, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0));
    else if (mode == "progman") {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(0);
        windowClass.lpszClassName = "Progman";
        RegisterClassA(&windowClass);
        CreateWindowA("Progman", "Program Manager", WS_POPUP, 0, 0, 1, 1, 0, 0, 0, 0);
        MSG msg;
        SetTimer(0, 0, 30000, 0);
        while (GetMessageA(&msg, 0, 0, 0) > 0 && msg.message != WM_TIMER)
            DispatchMessageA(&msg);
    } else if (mode == "removeself")
        code = 100 + RemoveSelf();
    ExitProcess((UINT)code);
}

static int gChildMode = RunChildIfAsked();

static std::string OwnProgram()
{
    char path[MAX_PATH];
    GetModuleFileNameA(0, path, MAX_PATH);
    return path;
}

static PROCESS_INFORMATION StartChild(const std::string &mode, const std::string &program = "")
{
    std::string line = "\"" + (program.empty() ? OwnProgram() : program) + "\" --vt-child=" + mode;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    EXPECT_TRUE(CreateProcessA(0, &line[0], 0, 0, FALSE, 0, 0, 0, &startup, &info)) << line;
    return info;
}

static HWND WaitForProgramWindow(const char *title)
{
    for (int i = 0; i < 200; i++) {
        HWND window = FindWindowA("QRFWindow", title);
        if (window)
            return window;
        Sleep(50);
    }
    return 0;
}

static bool KeyExists(const char *path);

static const char kTestKey[] = "Software\\VtSetupEngineTest\\Actions";

// ---------------------------------------------------------------- the desktop user

TEST(DesktopUser, ImpersonatesOrFailsCleanly)
{
    bool on = ActAsDesktopUser(true);
    HANDLE token = 0;
    bool threadToken = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) != 0;
    if (token)
        CloseHandle(token);
    EXPECT_EQ(on, threadToken);
    char folder[MAX_PATH];
    EXPECT_TRUE(GetShellFolder(CSIDL_APPDATA, folder));
    EXPECT_NE('\\', folder[strlen(folder) - 1]);
    bool mustClose = false;
    HKEY root = OpenCurrentUserRoot(&mustClose);
    EXPECT_EQ(on, mustClose);
    if (mustClose)
        RegCloseKey(root);
    EXPECT_TRUE(ActAsDesktopUser(false));
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
}

// ---------------------------------------------------------------- closing the program

TEST(CloseProgram, NoInstanceAnswersAtOnce)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(0, CloseProgram("VtNoSuchProgramAnywhere"));
    EXPECT_EQ(0, CloseProgramWindows("VtNoSuchWindowTitle", 60000));
    EXPECT_LT(GetTickCount() - start, 2000u);
}

TEST(CloseProgram, ClosesTheInstanceNamedInTheRegistry)
{
    std::string key = std::string(kTestKey) + "\\Programs";
    HKEY handle;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, 0, 0, KEY_ALL_ACCESS,
                                             0, &handle, 0));
    RegSetValueExA(handle, "VtCloseMeTool", 0, REG_BINARY, (const BYTE *)"x", 1);
    RegCloseKey(handle);
    PROCESS_INFORMATION child = StartChild("window:Vtclosemetool - main window");
    ASSERT_TRUE(WaitForProgramWindow("Vtclosemetool - main window"));
    // The value name contains the name asked for; the title matches without case.
    EXPECT_EQ(0, CloseProgramUnder(HKEY_CURRENT_USER, key.c_str(), "CloseMe"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 5000));
    DWORD code = 99;
    GetExitCodeProcess(child.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\VtSetupEngineTest");
}

TEST(CloseProgram, AnInstanceThatStaysIsReported)
{
    PROCESS_INFORMATION child = StartChild("deaf:VtDeafProgram");
    ASSERT_TRUE(WaitForProgramWindow("VtDeafProgram"));
    EXPECT_EQ(1, CloseProgramWindows("vtdeafprogram", 60000));   // after its 10 s
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(child.hProcess, 0));
    TerminateProcess(child.hProcess, 0);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
}

// ---------------------------------------------------------------- starting programs

TEST(Programs, RunAndWaitGivesTheExitCode)
{
    DWORD code = 0;
    EXPECT_EQ(0, RunAndWait(OwnProgram().c_str(), "--vt-child=exit:1234", 0, true, &code));
    EXPECT_EQ(1234u, code);
    EXPECT_EQ(1, RunAndWait("C:\\no\\such\\program.exe", "", 0, false, &code));
}

TEST(Programs, AbortTerminatesTheWaitedProgram)
{
    gSetupAbort = 1;
    DWORD code = 0, start = GetTickCount();
    EXPECT_EQ(0, RunAndWait(OwnProgram().c_str(), "--vt-child=sleep", 0, true, &code));
    gSetupAbort = 0;
    EXPECT_EQ(259u, code);
    EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST(Programs, RunStartsWithoutWaiting)
{
    std::string folder = FreshTempFolder("setup-run");
    std::string mark = folder + "\\started.txt";
    EXPECT_EQ(0, RunAsDesktopUser(OwnProgram().c_str(), ("--vt-child=touch:" + mark).c_str(),
                                  false));
    bool started = false;
    for (int i = 0; i < 100 && !started; i++, Sleep(50))
        started = GetFileAttributesA(mark.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_TRUE(started);
    // A document that does not exist cannot be opened.
    EXPECT_EQ(1, RunAsDesktopUser((folder + "\\missing.vtdoc").c_str(), "", false));
    EXPECT_EQ(1, RunAsDesktopUser("", "", true));
    RemoveTree(folder);
}

// ---------------------------------------------------------------- the resource archive

TEST(Archive, ReadsEncryptedStoredAndPlainEntries)
{
    char *data;
    uint32_t size;
    ASSERT_EQ(0, ReadArchiveFile("Payload.txt", &data, &size));
    EXPECT_EQ(600u * 46u, size);
    EXPECT_EQ(0, memcmp(data, "Line 0000 of the payload, compressible text.\r\n", 46));
    EXPECT_EQ(0, memcmp(data + 599 * 46, "Line 0599", 9));
    EXPECT_EQ(0, data[size]);
    free(data);
    ASSERT_EQ(0, ReadArchiveFile("Stored.bin", &data, &size));
    ASSERT_EQ(256u, size);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ((unsigned char)i, (unsigned char)data[i]);
    free(data);
    // The shipped script is deflated and not encrypted.
    ASSERT_EQ(0, ReadArchiveFile("Plain.qis", &data, &size));
    EXPECT_STREQ("PhaseBegin 0\r\nSet #X#, 1\r\nPhaseEnd\r\n", data);
    free(data);
    // The entry is found whatever its letter case.
    ASSERT_EQ(0, ReadArchiveFile("MixedCase.TXT", &data, &size));
    EXPECT_STREQ("found whatever the case\r\n", data);
    free(data);
}

TEST(Archive, MissingResourcesEntriesAndWrongPasswords)
{
    char *data = (char *)1;
    uint32_t size = 7;
    EXPECT_EQ(COPY_NOT_IN_ARCHIVE, ReadArchiveFile("Nothing.txt", &data, &size));
    EXPECT_EQ(0, data);
    EXPECT_EQ(0u, size);
    EXPECT_EQ(COPY_NOT_IN_ARCHIVE, ReadArchiveFile("Mismatch.txt", &data, &size));
    EXPECT_EQ(COPY_NOT_IN_ARCHIVE, ReadArchiveFile("", &data, &size));
    EXPECT_EQ(COPY_FAILED, ReadArchiveFile("BadPass.txt", &data, &size));
    EXPECT_EQ(0, data);
}

TEST(Archive, DiskFilesComeFirst)
{
    std::string folder = FreshTempFolder("setup-load");
    WriteWhole(folder + "\\Payload.txt", "from disk");
    char *data;
    uint32_t size;
    ASSERT_EQ(0, LoadFileOrArchive((folder + "\\Payload.txt").c_str(), &data, &size));
    EXPECT_STREQ("from disk", data);
    free(data);
    // Not on disk: the archive of the file's name.
    ASSERT_EQ(0, LoadFileOrArchive((folder + "\\Stored.bin").c_str(), &data, &size));
    EXPECT_EQ(256u, size);
    free(data);
    RemoveTree(folder);
}

// ---------------------------------------------------------------- copying files

TEST(CopyFiles, FromDiskAndArchiveIntoFoldersAndFiles)
{
    std::string folder = FreshTempFolder("setup-copy");
    WriteWhole(folder + "\\source.txt", "disk source");
    char final[260];
    EXPECT_EQ(0, CopySetupFile((folder + "\\source.txt").c_str(), (folder + "\\copy.txt").c_str(),
                               COPY_PLAIN, 0, final));
    EXPECT_EQ("disk source", ReadWhole(folder + "\\copy.txt"));
    // A folder target gets the source's name; an archive file its contents.
    EXPECT_EQ(0, CopySetupFile("Stored.bin", (folder + "\\").c_str(), COPY_PLAIN, 0, final));
    EXPECT_EQ(folder + "\\Stored.bin", final);
    EXPECT_EQ(256u, ReadWhole(folder + "\\Stored.bin").size());
    EXPECT_EQ(0, CopySetupFile("Payload.txt", folder.c_str(), COPY_PLAIN, 0, final));
    EXPECT_EQ(600u * 46u, ReadWhole(folder + "\\Payload.txt").size());
    EXPECT_EQ(COPY_NOT_IN_ARCHIVE,
              CopySetupFile("Absent.dat", folder.c_str(), COPY_PLAIN, 0, final));
    EXPECT_EQ(COPY_FAILED, CopySetupFile("BadPass.txt", folder.c_str(), COPY_PLAIN, 0, final));
    EXPECT_EQ(COPY_FAILED, CopySetupFile((folder + "\\source.txt").c_str(),
                                         (folder + "\\no\\such\\folder\\x.txt").c_str(),
                                         COPY_PLAIN, 0, final));
    RemoveTree(folder);
}

TEST(CopyFiles, LockedTargets)
{
    std::string folder = FreshTempFolder("setup-locked");
    std::string source = folder + "\\new.txt", target = folder + "\\old.txt";
    WriteWhole(source, "new");
    WriteWhole(target, "old");
    // Locked against writing, not against renaming, like a running program.
    HANDLE lock = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    DWORD start = GetTickCount();
    EXPECT_EQ(COPY_FAILED, CopySetupFile(source.c_str(), target.c_str(), COPY_PLAIN, 400, 0));
    EXPECT_GE(GetTickCount() - start, 390u);   // retried while the try time lasts
    EXPECT_EQ(0, CopySetupFile(source.c_str(), target.c_str(), COPY_SILENT, 0, 0));
    EXPECT_EQ("old", ReadWhole(target));   // silent: success because the target exists
    gRestartNeeded = 0;
    EXPECT_EQ(0, CopySetupFile(source.c_str(), target.c_str(), COPY_REBOOT_IF_LOCKED, 0, 0));
    EXPECT_EQ("new", ReadWhole(target));
    EXPECT_EQ("old", ReadWhole(target + ".bak"));
    EXPECT_EQ(1, gRestartNeeded);
    gRestartNeeded = 0;
    CloseHandle(lock);
    RemoveTree(folder);
}

// ---------------------------------------------------------------- folders and files

TEST(Folders, CreateAndRemove)
{
    std::string folder = FreshTempFolder("setup-dirs");
    std::string deep = folder + "\\a\\b\\c";
    EXPECT_EQ(0, CreateFolderTree((deep + "\\").c_str()));
    EXPECT_TRUE(PathIsDirectoryA(deep.c_str()));
    EXPECT_EQ(0, CreateFolderTree(deep.c_str()));   // already there
    EXPECT_EQ(CREATEDIR_FAILED, CreateFolderTree(""));
    WriteWhole(folder + "\\file", "x");
    EXPECT_EQ(CREATEDIR_FAILED, CreateFolderTree((folder + "\\file\\sub").c_str()));
    EXPECT_EQ(0, RemoveFolder(deep.c_str()));
    EXPECT_FALSE(PathIsDirectoryA(deep.c_str()));
    EXPECT_EQ(0, RemoveFolder(deep.c_str()));   // gone already
    WriteWhole(folder + "\\a\\b\\keep.txt", "x");
    EXPECT_EQ(REMOVEDIR_LATER, RemoveFolder((folder + "\\a\\b").c_str()));
    EXPECT_TRUE(PathIsDirectoryA((folder + "\\a\\b").c_str()));
    RemoveTree(folder);
}

TEST(Folders, LockedFileIsDeletedLater)
{
    std::string folder = FreshTempFolder("setup-delete");
    std::string path = folder + "\\locked.txt";
    WriteWhole(path, "x");
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    DWORD start = GetTickCount();
    EXPECT_FALSE(DeleteFileRetrying(path.c_str(), 0));
    EXPECT_GE(GetTickCount() - start, 990u);   // at least a second
    CloseHandle(lock);
    EXPECT_TRUE(DeleteFileRetrying(path.c_str(), 0));
    EXPECT_TRUE(DeleteFileRetrying(path.c_str(), 0));   // missing counts as gone
    RemoveTree(folder);
}

// ---------------------------------------------------------------- links

static std::string ReadLink(const std::string &path, std::string *arguments, std::string *icon)
{
    CoInitializeEx(0, COINIT_APARTMENTTHREADED);
    IShellLinkA *link = 0;
    IPersistFile *file = 0;
    char target[MAX_PATH] = "", args[MAX_PATH] = "", iconPath[MAX_PATH] = "";
    int iconIndex = -1;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   (void **)&link)) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
        SUCCEEDED(file->Load(wide, STGM_READ))) {
        link->GetPath(target, MAX_PATH, 0, SLGP_RAWPATH);
        link->GetArguments(args, MAX_PATH);
        link->GetIconLocation(iconPath, MAX_PATH, &iconIndex);
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
    *arguments = args;
    *icon = std::string(iconPath) + "," + std::to_string(iconIndex);
    return target;
}

TEST(Links, ShellLinkIntoANewFolderReadsBack)
{
    std::string folder = FreshTempFolder("setup-links");
    std::string program = folder + "\\Program.exe";
    WriteWhole(program, "MZ");
    std::string link = folder + "\\Start Menu\\Veltaspar Test\\Program";
    ASSERT_EQ(0, CreateShellLink(program.c_str(), link.c_str(), "-AUTOSTART -X", ""));
    std::string arguments, icon;
    EXPECT_EQ(program, ReadLink(link + ".lnk", &arguments, &icon));
    EXPECT_EQ("-AUTOSTART -X", arguments);
    EXPECT_EQ(program + ",0", icon);   // the icon defaults to the target
    ASSERT_EQ(0, CreateShellLink(program.c_str(), (folder + "\\Second").c_str(), "",
                                 (folder + "\\icon.ico").c_str()));
    ReadLink(folder + "\\Second.lnk", &arguments, &icon);
    EXPECT_EQ(folder + "\\icon.ico,0", icon);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((std::string(temp) + "Temp.lnk").c_str()));
    RemoveTree(folder);
}

TEST(Links, InternetShortcutAndFailures)
{
    std::string folder = FreshTempFolder("setup-url");
    ASSERT_EQ(0, CreateShellLink("http://www.example.com/a?b=c", (folder + "\\new\\Web").c_str(),
                                 "", ""));
    EXPECT_EQ("[InternetShortcut]\r\nURL=http://www.example.com/a?b=c",
              ReadWhole(folder + "\\new\\Web.url"));
    EXPECT_EQ(1, CreateShellLink("", (folder + "\\x").c_str(), "", ""));
    WriteWhole(folder + "\\blocker", "x");   // a file where the folder should be
    EXPECT_EQ(3, CreateShellLink("C:\\windows\\notepad.exe", (folder + "\\blocker\\x").c_str(),
                                 "", ""));
    EXPECT_EQ(1, CreateShellLink("http://x", (folder + "\\blocker\\x").c_str(), "", ""));
    RemoveTree(folder);
}

// ---------------------------------------------------------------- patches

TEST(Patches, RecordsFromTheArchiveAndDisk)
{
    std::string folder = FreshTempFolder("setup-patch");
    WriteWhole(folder + "\\source.bin", "0123456789");
    CreateDirectoryA((folder + "\\out").c_str(), 0);
    // "Patch.pat" is not in the working folder: it comes from the archive.
    EXPECT_EQ(0, ApplyPatch((folder + "\\source.bin").c_str(), "Patch.pat",
                            (folder + "\\out\\").c_str(), 0));
    EXPECT_EQ("AB234567xyz", ReadWhole(folder + "\\out\\Patch.pat"));
    EXPECT_EQ("0123456789", ReadWhole(folder + "\\source.bin"));
    // A source that cannot be copied gives the copy's error.
    EXPECT_EQ(COPY_NOT_IN_ARCHIVE,
              ApplyPatch("Absent.bin", "Patch.pat", (folder + "\\out").c_str(), 0));
    EXPECT_EQ(PATCH_FAILED, ApplyPatch((folder + "\\source.bin").c_str(), "NoSuch.pat",
                                       (folder + "\\out").c_str(), 0));
    RemoveTree(folder);
}

TEST(Patches, DamagedPatchesAndNamesOutsideTheFolder)
{
    std::string folder = FreshTempFolder("setup-badpatch");
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(folder.c_str());
    WriteWhole("source.bin", "0123456789");
    CreateDirectoryA("out", 0);
    // The second record claims more bytes than the file holds.
    std::string patch("\x01\x00\x00\x00\x01\x00\x00\x00Z\x05\x00\x00\x00\x09\x00\x00\x00" "abc", 21);
    WriteWhole("Cut.pat", patch);
    EXPECT_EQ(PATCH_FAILED, ApplyPatch("source.bin", "Cut.pat", "out", 0));
    EXPECT_NE("0Z23456789", ReadWhole("out\\Cut.pat"));   // nothing half applied
    WriteWhole("Short.pat", std::string("\x01\x00\x00", 3));
    EXPECT_EQ(PATCH_FAILED, ApplyPatch("source.bin", "Short.pat", "out", 0));
    WriteWhole("Empty.pat", "");
    EXPECT_EQ(0, ApplyPatch("source.bin", "Empty.pat", "out", 0));
    EXPECT_EQ("0123456789", ReadWhole("out\\Empty.pat"));
    EXPECT_EQ(PATCH_FAILED, ApplyPatch("source.bin", "..\\Cut.pat", "out", 0));
    EXPECT_EQ(PATCH_FAILED, ApplyPatch("source.bin", "..", "out", 0));
    EXPECT_EQ(PATCH_FAILED, ApplyPatch("source.bin", "C:Cut.pat", "out", 0));
    SetCurrentDirectoryA(previous);
    RemoveTree(folder);
}

// ---------------------------------------------------------------- registry

static bool KeyExists(const char *path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(Registry, DeletesWholeTreesInBothViews)
{
    for (int view = 0; view < 2; view++) {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER,
                                                 "Software\\VtSetupEngineTest\\Tree\\a\\b\\c", 0, 0,
                                                 0, KEY_ALL_ACCESS, 0, &key, 0));
        RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE *)"x", 2);
        RegCloseKey(key);
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\VtSetupEngineTest\\Tree\\d", 0, 0, 0,
                        KEY_ALL_ACCESS, 0, &key, 0);
        RegCloseKey(key);
        // On a 32-bit system "x64" deletes in the default view.
        EXPECT_EQ(ERROR_SUCCESS, DeleteRegistryTree(HKEY_CURRENT_USER,
                                                    "Software\\VtSetupEngineTest\\Tree", view == 1));
        EXPECT_FALSE(KeyExists("Software\\VtSetupEngineTest\\Tree"));
        EXPECT_TRUE(KeyExists("Software\\VtSetupEngineTest"));
    }
    EXPECT_NE(ERROR_SUCCESS, DeleteRegistryTree(HKEY_CURRENT_USER, "", false));
    EXPECT_NE(ERROR_SUCCESS, DeleteRegistryTree(HKEY_CURRENT_USER, "\\\\", true));
    EXPECT_TRUE(KeyExists("Software"));
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\VtSetupEngineTest");
}

// ---------------------------------------------------------------- the system

TEST(System, RemoveSelfDeletesProgramAndFolder)
{
    std::string folder = FreshTempFolder("setup-removeself");
    std::string copy = folder + "\\Uninstall.exe";
    ASSERT_TRUE(CopyFileA(OwnProgram().c_str(), copy.c_str(), FALSE));
    PROCESS_INFORMATION child = StartChild("removeself", copy);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 10000));
    DWORD code = 99;
    GetExitCodeProcess(child.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    bool gone = false;
    for (int i = 0; i < 100 && !gone; i++, Sleep(100))
        gone = GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
    EXPECT_TRUE(gone);
    RemoveTree(folder);
}

// With a "Progman" window of a child (Wine shows none of its own), the
// engine impersonates that child's user for real.
TEST(DesktopUser, TakesTheTokenOfTheShellWindowsProcess)
{
    PROCESS_INFORMATION shell = StartChild("progman");
    HWND window = 0;
    for (int i = 0; i < 200 && !window; i++, Sleep(50))
        window = FindWindowA("Progman", 0);
    ASSERT_TRUE(window);
    ASSERT_TRUE(ActAsDesktopUser(true));
    HANDLE token = 0;
    EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    CloseHandle(token);
    char folder[MAX_PATH];
    EXPECT_TRUE(GetShellFolder(CSIDL_DESKTOPDIRECTORY, folder));
    bool mustClose = false;
    HKEY root = OpenCurrentUserRoot(&mustClose);
    EXPECT_TRUE(mustClose);
    HKEY key;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, "Software\\VtSetupEngineTest\\AsUser", 0, 0, 0,
                                             KEY_ALL_ACCESS, 0, &key, 0));
    RegCloseKey(key);
    if (mustClose)
        RegCloseKey(root);
    EXPECT_TRUE(ActAsDesktopUser(false));
    EXPECT_TRUE(KeyExists("Software\\VtSetupEngineTest\\AsUser"));   // one user here
    token = DuplicateDesktopUserToken();
    EXPECT_TRUE(token != 0);
    if (token)
        CloseHandle(token);
    // An ".exe" starts with the user's token (or through the shell).
    std::string folderMark = FreshTempFolder("setup-asuser");
    std::string mark = folderMark + "\\started.txt";
    EXPECT_EQ(0, RunAsDesktopUser(OwnProgram().c_str(), ("--vt-child=touch:" + mark).c_str(), false));
    bool started = false;
    for (int i = 0; i < 100 && !started; i++, Sleep(50))
        started = GetFileAttributesA(mark.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_TRUE(started);
    TerminateProcess(shell.hProcess, 0);
    WaitForSingleObject(shell.hProcess, 5000);
    CloseHandle(shell.hProcess);
    CloseHandle(shell.hThread);
    RemoveTree(folderMark);
    SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\VtSetupEngineTest");
}
