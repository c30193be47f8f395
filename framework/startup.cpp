// CApplication::Startup: turns a fresh process into a running framework
// application, or ends it quietly when another instance takes over; and the
// teardown that the destructor runs at process end.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/datafolder.h"
#include "framework/dialogs.h"
#include "framework/filefind.h"
#include "framework/framelist.h"
#include "framework/installrecord.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "framework/ui/windowstart.h"

enum {
    STRING_STARTUP_ERROR = 0xF003,
    STRING_DATA_FOLDER = 0xF008,
    STARTUP_BOX_FLAGS = MBF_STOP | MBF_OK | MBF_EMPHASISE_FIRST,
    PARSE_QUIT = -1,
    PARSE_WAIT = 1,
};

#define PHANTOM_CLASS "QRFPhantom"

// ---------------------------------------------------------------- messages

static int ShowStartupError(int code)
{
    FrameworkMessageBox(0, gApp.productName, gApp.strings.GetText(STRING_STARTUP_ERROR, 0),
                        STARTUP_BOX_FLAGS, 0, (unsigned)code);
    return code;
}

static int ShowDataFolderError(const char *folder)
{
    FrameworkMessageBox(0, gApp.productName, gApp.strings.GetText(STRING_DATA_FOLDER, 0),
                        STARTUP_BOX_FLAGS, 0, folder);
    return QRF_ERR_DATAFOLDER;
}

// ---------------------------------------------------------------- steps

static void BecomeDpiAware()
{
    typedef BOOL(WINAPI * ContextFn)(HANDLE);
    typedef HRESULT(WINAPI * AwarenessFn)(int);
    ContextFn byContext = (ContextFn)SystemFunction("user32", "SetProcessDpiAwarenessContext");
    AwarenessFn byLevel = (AwarenessFn)SystemFunction("shcore", "SetProcessDpiAwareness");
    if (byContext)
        byContext((HANDLE)(INT_PTR)-4);
    else if (byLevel)
        byLevel(2);
    else
        SetProcessDPIAware();
}

static void ReadVersion(CApplication *app)
{
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(app->ownPath, &ignored);
    char *block = size ? (char *)malloc(size) : 0;
    VS_FIXEDFILEINFO *info = 0;
    UINT length = 0;
    if (block && GetFileVersionInfoA(app->ownPath, 0, size, block) &&
        VerQueryValueA(block, "\\", (void **)&info, &length) && info && length) {
        app->versionMajor = HIWORD(info->dwFileVersionMS);
        app->versionMinor = LOWORD(info->dwFileVersionMS);
        app->versionBuild = HIWORD(info->dwFileVersionLS);
    }
    free(block);
}

static void ReadOwnPath(CApplication *app)
{
    GetModuleFileNameA(0, app->ownPath, MAX_TEXT);
    app->ownPath[MAX_TEXT - 1] = 0;
    ReadVersion(app);
    CopyText(app->ownFolder, app->ownPath, MAX_TEXT);
    char *slash = strrchr(app->ownFolder, '\\');
    if (slash)
        *slash = 0;
}

static uint16_t RecordWord(const uint8_t *record, int offset)
{
    uint16_t value;
    memcpy(&value, record + offset, sizeof value);
    return value;
}

static void NameFolders(CApplication *app)
{
    const char *custom = InstallRecordText(app->installRecord, INSTALL_RECORD_CUSTOM_PATH);
    if (RecordWord(app->installRecord, INSTALL_RECORD_CUSTOM_LOCATION)) {
        CopyText(app->secondFolder, custom, MAX_TEXT);
        char user[MAX_TEXT] = "";
        DWORD size = sizeof user;
        if (RecordWord(app->installRecord, INSTALL_RECORD_INDIVIDUAL) && GetUserNameA(user, &size))
            snprintf(app->dataFolder, MAX_TEXT, "%s\\%s", custom, user);
        else
            CopyText(app->dataFolder, custom, MAX_TEXT);
        return;
    }
    char base[MAX_TEXT];
    GetSpecialFolderPath(CSIDL_APPDATA, base);
    snprintf(app->dataFolder, MAX_TEXT, "%s\\Kestrova\\%s", base, app->productName);
    GetSpecialFolderPath(CSIDL_COMMON_APPDATA, base);
    snprintf(app->secondFolder, MAX_TEXT, "%s\\Kestrova\\%s", base, app->productName);
}

static int MakeFolderUsable(const char *folder, bool waitForever)
{
    char tip[MAX_TEXT], menu[MAX_TEXT];
    snprintf(tip, sizeof tip, "%s: %s", gApp.productName, gApp.strings.GetText(STRING_DATA_FOLDER, 1));
    snprintf(menu, sizeof menu, gApp.strings.GetText(STRING_DATA_FOLDER, 2), gApp.productName);
    int result = WaitForDataFolder(folder, waitForever ? DATAFOLDER_WAIT_FOREVER : 1, gApp.iconId,
                                   tip, menu);
    if (result == DATAFOLDER_GAVE_UP)
        return QRF_ERR_DATAFOLDER;
    if (result != DATAFOLDER_READY || TestWriteAccess(folder) != 0)
        return ShowDataFolderError(folder);
    return 0;
}

static int MakeFoldersUsable(CApplication *app, bool waitForever)
{
    int result = MakeFolderUsable(app->dataFolder, waitForever);
    if (result == 0 && _stricmp(app->secondFolder, app->dataFolder) != 0)
        result = MakeFolderUsable(app->secondFolder, waitForever);
    return result;
}

// The whole command line, read back later for its "-PROFILE".
static void WriteCommandRecord(const CApplication *app)
{
    WriteRecordFile("(QRF)Cmd", -1, app->commandLine, (int)strlen(app->commandLine) + 1, 0);
}

// Another instance of this product takes over: it shows itself, or quits
// under -QUIT. True when this process is to end. The command record goes
// first: the running copy, asked to show itself, switches to the profile
// this start names there.
static bool HandOverToInstance(CApplication *app, bool quit)
{
    HWND other = FindInstanceWindow(app->productName);
    if (other) {
        WriteCommandRecord(app);
        PostMessageA(HWND_BROADCAST, app->controlMessage, quit ? QRFM_QUIT : QRFM_SHOW,
                     (LPARAM)app->token);
    }
    if (!other && !quit)
        return false;
    app->signalled = 1;
    return true;
}

static void ImportPendingArchive(const char *folder, const char *productName)
{
    char path[MAX_TEXT];
    snprintf(path, sizeof path, "%s\\%s.%s", folder, productName, ARCHIVE_FILE_EXTENSION);
    if (!PathExists(path))
        return;
    ImportConfigArchive(path);
    // Also a damaged archive goes: it would be tried at every start.
    DeleteFileA(path);
}

void CopyFirstRunFiles(const char *source, const char *target)
{
    CDirScanner scanner;
    if (scanner.SetRoot(source, "*.*") <= 0)
        return;
    for (int i = 0; i < scanner.files.count; i++) {
        char destination[MAX_TEXT];
        snprintf(destination, sizeof destination, "%s\\%s", target,
                 scanner.RelativePath(scanner.files.data[i]));
        // Never into the folder a link in the data folder leads to.
        char folder[MAX_TEXT];
        CopyText(folder, destination, MAX_TEXT);
        *strrchr(folder, '\\') = 0;
        if (PathPassesLink(target, folder))
            continue;
        CopyFileA(scanner.files.data[i], destination, TRUE);
    }
}

static void CopyFirstRunFilesOnce(CApplication *app)
{
    char record[MAX_TEXT];
    GetRecordFilePath("(QRF)App", -1, record, 0);
    if (PathExists(record))
        return;
    char init[MAX_TEXT];
    snprintf(init, sizeof init, "%s\\Init",
             InstallRecordText(app->installRecord, INSTALL_RECORD_INSTALL_PATH));
    CopyFirstRunFiles(init, app->dataFolder);
}

bool AdoptAppRecord(QRFAppRecord *record, int settingsVersion)
{
    bool otherVersion = record->settingsVersion != settingsVersion;
    if (record->language < 0 || record->language > 1)
        record->language = 0;
    record->settingsVersion = settingsVersion;
    return otherVersion;
}

static void LoadAppRecord(CApplication *app, int settingsVersion)
{
    QRFAppRecord stored = app->appRecord;
    if (ReadRecordFile("(QRF)App", -1, &stored, sizeof stored, 0) == (int)sizeof stored)
        app->appRecord = stored;
    app->placementInvalid = AdoptAppRecord(&app->appRecord, settingsVersion) ? 1 : 0;
}

static int InitCommonControlLibrary()
{
    if (!CheckComctl32Version())
        return QRF_ERR_COMCTL;
    INITCOMMONCONTROLSEX controls = {8, 0xFFFFFFFF};
    InitCommonControlsEx(&controls);
    return 0;
}

static void RegisterMessages(CApplication *app)
{
    typedef BOOL(WINAPI * FilterFn)(UINT, DWORD);
    app->taskbarMessage = RegisterWindowMessageA("TaskbarCreated");
    FilterFn filter = (FilterFn)SystemFunction("user32", "ChangeWindowMessageFilter");
    if (!filter)
        return;
    filter(app->taskbarMessage, 1);   // MSGFLT_ADD
    filter(app->controlMessage, 1);
}

int OsCodeFromVersion(DWORD major, DWORD minor, DWORD build)
{
    if (major == 6)
        return minor == 0 ? 6 : minor == 1 ? 7 : (minor == 2 || minor == 3) ? 8 : 0;
    if (major == 10)
        return build > 21999 ? 11 : 10;
    return 0;
}

static void ReadSystemKind(CApplication *app)
{
    typedef BOOL(WINAPI * Wow64Fn)(HANDLE, PBOOL);
    typedef LONG(WINAPI * VersionFn)(OSVERSIONINFOW *);
    Wow64Fn isWow64 = (Wow64Fn)SystemFunction("kernel32", "IsWow64Process");
    BOOL wow64 = FALSE;
    if (isWow64 && isWow64(GetCurrentProcess(), &wow64))
        app->wow64 = wow64 ? 1 : 0;
    VersionFn getVersion = (VersionFn)SystemFunction("ntdll", "RtlGetVersion");
    OSVERSIONINFOW version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    app->osCode = 0;
    if (getVersion && getVersion(&version) == 0)
        app->osCode = OsCodeFromVersion(version.dwMajorVersion, version.dwMinorVersion,
                                        version.dwBuildNumber);
}

static bool RegisterPhantomClass(HINSTANCE module)
{
    WNDCLASSEXA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = PhantomWindowProc;
    windowClass.hInstance = module;
    windowClass.hIcon = LoadIconA(module, MAKEINTRESOURCEA(1));
    windowClass.lpszClassName = PHANTOM_CLASS;
    return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

static int CreateHiddenWindows(CApplication *app)
{
    app->hiddenWindow = CreateWindowExA(WS_EX_TOOLWINDOW, PHANTOM_CLASS, app->productName,
                                        WS_POPUP, 0, 0, 0, 0, 0, 0, app->instance, 0);
    if (!app->hiddenWindow)
        return QRF_ERR_WINDOW;
    app->hiddenWindowDpi = GetWindowDpi(app->hiddenWindow);
    app->tooltipWindow = CreateWindowExA(0, TOOLTIPS_CLASSA, 0, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0,
                                         0, 0, 0, app->instance, 0);
    if (app->tooltipWindow)
        SetWindowPos(app->tooltipWindow, HWND_TOPMOST, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return 0;
}

// ---------------------------------------------------------------- Startup

static void TakeIdentity(CApplication *app, HINSTANCE module, uint16_t productId,
                         StringTableRecord *programTable, const char *startCommandLine)
{
    app->instance = module;
    app->productStringId = productId;
    CopyText(app->commandLine, startCommandLine, MAX_LONG_TEXT);
    app->strings.SetProgramTable(0, programTable);
    CopyText(app->productName, app->strings.GetText(productId, 0), MAX_TEXT);
    app->processId = GetCurrentProcessId();
    app->controlMessage = RegisterWindowMessageA(QRF_CONTROL_MESSAGE_NAME);
    app->token = Crc32(app->productName, -1);
    RefreshMonitors();
    app->doubleClickTime = GetDoubleClickTime();
}

// Everything up to the moment the data folders are usable. Another instance
// is looked for before anything here touches a folder, so that a second
// start changes none of the running copy's files but its command record.
static int StartProcess(CApplication *app, bool allowSeveral)
{
    int result = StartAppGraphics();
    if (result != 0)
        return ShowStartupError(result);
    int parsed = app->ParseCommandLine(app->commandLine);
    ReadOwnPath(app);
    if (!ReadMainInstallRecord(app->productName, app->installRecord))
        return ShowStartupError(QRF_ERR_INSTALLRECORD);
    NameFolders(app);
    if ((!allowSeveral || parsed == PARSE_QUIT) && HandOverToInstance(app, parsed == PARSE_QUIT))
        return QRF_ERR_INSTANCE;
    return MakeFoldersUsable(app, parsed == PARSE_WAIT);
}

// The data folder's contents: a pending import first, so that an archive
// that resets the settings brings the first-run files back.
static void PrepareDataFolder(CApplication *app, int settingsVersion)
{
    ImportPendingArchive(app->dataFolder, app->productName);
    CopyFirstRunFilesOnce(app);
    LoadAppRecord(app, settingsVersion);
    WriteCommandRecord(app);
}

static int StartWindows(CApplication *app)
{
    int result = InitColoursAndFonts(app);
    if (result == 0)
        result = InitCommonControlLibrary();
    if (result != 0)
        return ShowStartupError(result);
    RegisterMessages(app);
    ReadSystemKind(app);
    if (!StartWindowLayer() || !RegisterPhantomClass(app->instance))
        return ShowStartupError(QRF_ERR_WINDOW);
    result = CreateHiddenWindows(app);
    if (result == 0)
        result = app->AddStandardCommands();
    return result != 0 ? ShowStartupError(result) : 0;
}

int CApplication::Startup(HINSTANCE module, uint16_t productId, StringTableRecord *programTable,
                          bool allowSeveral, int settingsVersion, const char *startCommandLine)
{
    BecomeDpiAware();
    TakeIdentity(this, module, productId, programTable, startCommandLine);
    int result = StartProcess(this, allowSeveral);
    if (result != 0)
        return result;
    PrepareDataFolder(this, settingsVersion);
    result = StartWindows(this);
    if (result != 0)
        return result;
    started = 1;
    RunDailyChecks();   // each only when due
    return 0;
}

void CApplication::SetConfigFileTypes(const char *extraMasks, const char *identity)
{
    CopyText(archiveMasks, extraMasks, MAX_TEXT);
    CopyText(archiveIdentity, identity, MAX_TEXT);
}

// ---------------------------------------------------------------- teardown

static void DestroyWindowOnce(HWND *window)
{
    if (*window && IsWindow(*window))
        DestroyWindow(*window);
    *window = 0;
}

static void StartRestartedCopy(const CApplication *app)
{
    char path[MAX_TEXT] = "";
    GetModuleFileNameA(0, path, MAX_TEXT);
    const char *verb = (app->restartMode == 2 && app->osCode > 5) ? "runas" : 0;
    ShellExecuteA(0, verb, path, app->restartParameters, 0, SW_SHOWNORMAL);
}

void CApplication::Shutdown()
{
    if (!started)
        return;
    started = 0;
    DestroyWindowOnce(&tooltipWindow);
    DestroyWindowOnce(&hiddenWindow);
    DestroyFrameWindows();
    if (appIcon)
        DestroyIcon(appIcon);
    appIcon = 0;
    if (!signalled)
        ::SaveLayout();
    if (broadcastRestart)
        PostMessageA(HWND_BROADCAST, controlMessage, QRFM_RESTART, (LPARAM)token);
    if (restartMode != 0)
        StartRestartedCopy(this);
}

// No Shutdown here: at static destruction the frame list and the other
// globals it walks may already be gone.
CApplication::~CApplication()
{
    OleUninitialize();
}
