// The engine's start-up, silent runs with their log, and the wizard.
#include "setup/wizard.h"

#include <commctrl.h>
#include <ctype.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/utilities.h"
#include "resources/resource.h"
#include "setup/script.h"
#include "setup/setupinfo.h"
#include "setup/sysactions.h"

SetupEngine gSetup;

static_assert((int)SETUP_CANCELLED == (int)SE_CANCELLED, "a cancelled wizard ends as its runner did");

enum { TEXT_SIZE = SCRIPT_VALUE_SIZE, BASE_DPI = 96 };

static bool IsDefined(const char *name)
{
    return CopyVariable(name, 0, 0) >= 0;
}

void ResetSetupEngine()
{
    free(gSetup.scriptText);
    gSetup = SetupEngine();
    ResetScript();
    SetScriptText(0);
    gScript.statusWindow = 0;
    gSetupAbort = 0;
    gRestartNeeded = 0;
}

// ---------------------------------------------------------------- command line

bool IsSetupModule(HMODULE module)
{
    return FindResourceA(module, "Setup.qis", (LPCSTR)RT_RCDATA) != 0;
}

// The next argument of a command line, split the way the C runtime splits
// argv on Windows: blanks separate arguments outside quotes; 2n backslashes
// before a quote give n backslashes and the quote opens or closes quoting;
// 2n+1 give n backslashes and a literal quote; "" inside quotes is a literal
// quote; other backslashes are kept. So "-INSTALL=C:\a b" (the form cmd and
// launchers write) and -INSTALL="C:\a b" both give -INSTALL=C:\a b. Null at
// the end of the line.
const char *NextCommandLineArgument(const char *p, char *out, size_t size)
{
    size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 < size)
            out[n++] = c;
    };
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        p++;
    if (!*p)
        return 0;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n'))) {
        if (*p == '\\') {
            size_t slashes = 0;
            while (*p == '\\') {
                slashes++;
                p++;
            }
            if (*p != '"') {
                while (slashes--)
                    put('\\');
                continue;
            }
            for (size_t i = 0; i < slashes / 2; i++)
                put('\\');
            if (slashes % 2) {
                put('"');
                p++;
                continue;
            }
        }
        if (*p == '"') {
            if (quoted && p[1] == '"') {
                put('"');
                p += 2;
                continue;
            }
            quoted = !quoted;
            p++;
            continue;
        }
        put(*p++);
    }
    out[n] = 0;
    return p;
}

// The argument's value when it is the switch (compared without case).
static const char *SwitchValue(const char *argument, const char *name)
{
    size_t n = strlen(name);
    return _strnicmp(argument, name, n) == 0 ? argument + n : 0;
}

void ParseSetupCommandLine(const char *commandLine)
{
    char argument[TEXT_SIZE];
    const char *p = commandLine ? commandLine : "";
    while ((p = NextCommandLineArgument(p, argument, sizeof argument)) != 0) {
        const char *value;
        if (!_stricmp(argument, "-SILENT")) {
            gSetup.silent = true;
        } else if ((value = SwitchValue(argument, "-WORKDIR=")) != 0) {
            CopyText(gSetup.workFolder, value, sizeof gSetup.workFolder);
            size_t n = strlen(gSetup.workFolder);
            if (n && gSetup.workFolder[n - 1] == '\\')
                gSetup.workFolder[n - 1] = 0;
        } else if ((value = SwitchValue(argument, "-INSTALL=")) != 0) {
            SetVariable("#INSTALLPATH#", value);
            gSetup.installGiven = gSetup.silent = true;
        } else if ((value = SwitchValue(argument, "-DATA=")) != 0) {
            SetVariable("#CUSTOMPATH#", value);
            gSetup.dataGiven = true;
        } else if ((value = SwitchValue(argument, "-USE=")) != 0) {
            if (gSetup.useCount < SETUP_USE_FILES && value[0])
                CopyText(gSetup.useFiles[gSetup.useCount++], value, SETUP_PATH_SIZE);
        }
    }
    gSetup.allUsersDefault = gSetup.installGiven && !gSetup.dataGiven;
}

// ---------------------------------------------------------------- start-up

int StartSetupEngineInMode(bool uninstallMode)
{
    gSetup.uninstallMode = uninstallMode;
    DWORD n = GetModuleFileNameA(0, gSetup.programPath, sizeof gSetup.programPath);
    if (!n || n >= sizeof gSetup.programPath)
        gSetup.programPath[0] = 0;
    gScript.statusWindow = 0;
    SetBuiltInVariables(uninstallMode, gSetup.allUsersDefault);
    const char *name = uninstallMode ? "Uninstall.qis" : "Setup.qis";
    char *text = 0;
    uint32_t size = 0;
    if (LoadFileOrArchive(name, &text, &size) != 0 || !text)
        return SE_SCRIPT_MISSING;
    free(gSetup.scriptText);
    gSetup.scriptText = text;   // the loader terminates it with a NUL
    SetScriptText(gSetup.scriptText);
    if (RunPhase(0) != 0)
        return SE_SCRIPT_MISSING;
    SetDerivedVariables();
    return 0;
}

int StartSetupEngine()
{
    return StartSetupEngineInMode(!IsSetupModule(gResourceModule ? gResourceModule
                                                                 : GetModuleHandleA(0)));
}

int CheckSystemRequirements()
{
    if (GetVariableNumber("#NOX64#") == 1 && GetVariableNumber("#64#") == 1)
        return 1043;
    if (IsDefined("#MINOS#") && GetVariableNumber("#OS#") < GetVariableNumber("#MINOS#"))
        return 1052;
    return 0;
}

// ---------------------------------------------------------------- messages

static const struct { int number; const char *text; } kMessages[] = {
    {1000, "#SETUPMODE# is not complete. If you quit #SETUPMODE# now, it will not be completed.\n"
           "Are you sure you want to exit?"},
    {1001, "A critical error has occured. #SETUPMODE# can not continue.\n"
           "Maybe the #SETUPMODE# file is corrupt!"},
    {1002, "An error (code #LASTERROR#) has occurred while accessing the Task Scheduler!\n"
           "The auto start option of the program will not work, but you can still create a link "
           "in the Startup folder of Windows manually."},
    {1003, "#PROGRAM# requires at least #MINFREE# MB of disk space.\n"
           "There is not enough free space on the specified drive.\n"
           "Please choose a different location."},
    {1004, "The configuration folder seems to be inaccessible!\n"
           "E.g. Windows restricts access to drive C: and other critical locations.\n"
           "If you select this folder, the program might not be able to remember its "
           "configuration, etc.!\nAre you sure you want to choose this folder?"},
    {1005, "The specified installation folder could not be created!"},
    {1007, "A previous version of #REMAPP# is already installed on your computer. It is necessary "
           "to uninstall it before installing the new version!\nPlease do not keep or use any "
           "settings or data of the old version, because this could cause the new version to "
           "malfunction!\nDo you want to uninstall #REMAPP# before installing the new version?"},
    {1008, "Some initialization files could not be copied.\r\n"
           "Check the Init direcory in the installation folder."},
    {1009, "You must have Administrator Privileges to run this program!\n"
           "Click OK to quit #SETUPMODE#."},
    {1011, "Please restart your computer to complete #SETUPMODE#."},
    {1013, "#PROGRAM# is currently running on your computer and it could not be\n"
           "closed automatically. Please quit #PROGRAM# manually and restart #SETUPMODE#."},
    {1015, "A file could not be copied! If #PROGRAM# is currently running,\n"
           "please close the program and all related files and then restart #SETUPMODE#.\n\n"
           "If you have an antivirus software, firewall, etc. that could block #SETUPMODE#,\n"
           "please disable it and try again."},
    {1018, "A shortcut could not be created! #SETUPMODE# can not continue!"},
    {1022, "A value could not be written to the Registry. Please check if you\n"
           "have write access to the Registry and restart #SETUPMODE#."},
    {1023, "A file could not be extracted!\nMaybe the #SETUPMODE# file is corrupt!"},
    {1026, "Setup"},
    {1027, "Uninstall"},
    {1030, "#SETUPMODE# finished successfully!"},
    {1032, "#SETUPMODE# failed!"},
    {1033, "The specified configuration data folder could not be created!"},
    {1035, "The specified directory could not be created!"},
    {1037, "Please do not keep the settings and data if you are upgrading to a new version which "
           "asked you to uninstall the old one first!\nUsing old settings and data with a new "
           "version could cause the program to malfunction!"},
    {1039, "You must use an absolute path (including a drive letter or network drive)!"},
    {1043, "This version of #PROGRAM# does not support 64 bit platforms.\n"
           "Please check our website for updates or other versions."},
    {1045, "A critical error (code #LASTERROR#) has occurred! #SETUPMODE# can not continue!\n"
           "Please restart the computer and try again."},
    {1052, "This version of #PROGRAM# does not work on your Operating System!\n"
           "Please check our website for other versions."},
    // The log of a wizard cancelled while phase 1 ran.
    {SETUP_MSG_CANCELLED_PARTWAY, "#SETUPMODE# was cancelled by the user partway: what was done "
                                  "until then stays in place, the rest was not done."},
};

const char *SetupMessageText(int number)
{
    for (const auto &m : kMessages)
        if (m.number == number)
            return m.text;
    return "";
}

void FormatSetupMessage(int number, char *out)
{
    CopyText(out, SetupMessageText(number), TEXT_SIZE);
    SubstituteVariables(out);
}

int SetupMessageBox(HWND owner, int number, UINT flags)
{
    char text[TEXT_SIZE], caption[TEXT_SIZE];
    FormatSetupMessage(number, text);
    CopyText(caption, "#SETUPMODE#", sizeof caption);
    SubstituteVariables(caption);
    if (owner)
        SetForegroundWindow(owner);
    return MessageBoxA(owner, text, caption, flags | (owner ? 0 : MB_SETFOREGROUND));
}

int ShowScriptError(HWND owner, int error)
{
    UINT flags;
    int number = ScriptErrorMessage(error, &flags);
    return SetupMessageBox(owner, number, flags);
}

// ---------------------------------------------------------------- silent runs

void SetupLogPath(char *out)
{
    char name[MAX_PATH];
    CopyText(name, PathFileName(gSetup.programPath), sizeof name);
    size_t n = strlen(name);
    if (n >= 4)
        name[n - 4] = 0;
    strcat(name, ".log");
    char folder[MAX_PATH];
    if (gSetup.workFolder[0])
        CopyText(folder, gSetup.workFolder, sizeof folder);
    else if (!GetCurrentDirectoryA(sizeof folder, folder))
        folder[0] = 0;
    n = strlen(folder);
    if (n && folder[n - 1] == '\\')   // a drive root
        folder[n - 1] = 0;
    snprintf(out, MAX_PATH, "%s%s%s", folder, folder[0] ? "\\" : "", name);
}

static bool WriteLogText(const char *text)
{
    char path[MAX_PATH];
    SetupLogPath(path);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0, length = (DWORD)strlen(text);
    bool ok = WriteFile(file, text, length, &written, 0) && written == length;
    CloseHandle(file);
    return ok;
}

// A message of its own (start-up refusals) followed by the failure line.
static bool WriteLogMessage(int number)
{
    char message[TEXT_SIZE], outcome[TEXT_SIZE], text[2 * TEXT_SIZE + 8];
    FormatSetupMessage(number, message);
    FormatSetupMessage(1032, outcome);
    snprintf(text, sizeof text, "%s\r\n%s\r\n", message, outcome);
    return WriteLogText(text);
}

bool WriteSetupLog(int error)
{
    if (error) {
        UINT flags;
        return WriteLogMessage(ScriptErrorMessage(error, &flags));
    }
    char outcome[TEXT_SIZE], text[TEXT_SIZE + 4];
    FormatSetupMessage(1030, outcome);
    snprintf(text, sizeof text, "%s\r\n", outcome);
    return WriteLogText(text);
}

bool WriteCancelLog()
{
    return WriteLogMessage(SETUP_MSG_CANCELLED_PARTWAY);
}

int CopyUseFiles()
{
    if (!gSetup.useCount)
        return 0;
    char folder[MAX_PATH + 8];
    snprintf(folder, sizeof folder, "%s\\Init", GetVariableText("#INSTALLPATH#"));
    if (CreateFolderTree(folder) != 0)
        return SE_INIT_FILES;
    int error = 0;
    for (int i = 0; i < gSetup.useCount; i++) {
        const char *source = gSetup.useFiles[i];
        DWORD attributes = GetFileAttributesA(source);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error = SE_INIT_FILES;   // files only
            continue;
        }
        char target[2 * MAX_PATH + 8];
        snprintf(target, sizeof target, "%s\\%s", folder, PathFileName(source));
        if (!CopyFileA(source, target, FALSE))
            error = SE_INIT_FILES;
    }
    return error;
}

static void NoteRestartRequest()
{
    if (IsDefined("#REBOOT#"))
        gRestartNeeded = 1;
}

int RunSilentSetup()
{
    gScript.statusWindow = 0;
    int error = RunPhase(0);
    if (!error)
        error = RunPhase(1);
    // A folder an uninstall only left for the next restart (or one that still
    // holds the user's own files) is done; in setup every failed line is a
    // failed installation.
    if (error == SE_REMOVEDIR && gSetup.uninstallMode)
        error = 0;
    SetVariable("#EXECUTE#", "0");
    SetVariable("#README#", "0");
    if (!error) {
        error = RunPhase(2);
        NoteRestartRequest();
    } else {
        RunPhase(3);
    }
    if (error == SE_REMOVEDIR && gSetup.uninstallMode)
        error = 0;
    // A failed uninstall keeps its uninstaller so that it can be run again.
    if (gSetup.uninstallMode && !error)
        gSetup.removeSelf = true;
    if (!error)
        error = CopyUseFiles();
    WriteSetupLog(error);
    return error;
}

// ---------------------------------------------------------------- folders

static unsigned long long FolderBytes(const char *folder)
{
    char mask[MAX_PATH + 4];
    snprintf(mask, sizeof mask, "%s\\*", folder);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(mask, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    unsigned long long total = 0;
    do {
        if (!strcmp(entry.cFileName, ".") || !strcmp(entry.cFileName, ".."))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            char child[MAX_PATH + 4];
            if (snprintf(child, sizeof child, "%s\\%s", folder, entry.cFileName) < MAX_PATH)
                total += FolderBytes(child);
        } else {
            total += ((unsigned long long)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return total;
}

unsigned long long FolderSizeKB(const char *folder)
{
    return FolderBytes(folder) / 1024;
}

bool FolderHasOtherFiles(const char *folder)
{
    char mask[MAX_PATH + 4];
    snprintf(mask, sizeof mask, "%s\\*", folder);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(mask, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool other = false;
    do {
        if (strcmp(entry.cFileName, ".") && strcmp(entry.cFileName, "..") &&
            _stricmp(entry.cFileName, "Uninstall.exe"))
            other = true;
    } while (!other && FindNextFileA(find, &entry));
    FindClose(find);
    return other;
}

// ---------------------------------------------------------------- upgrade check

static void ParseVersion(const char *text, int *major, int *minor)
{
    int16_t a, b;
    ParseVersionText(text, &a, &b);
    *major = a;
    *minor = b;
}

static bool AtMost(int major, int minor, int limitMajor, int limitMinor)
{
    return major < limitMajor || (major == limitMajor && minor <= limitMinor);
}

void CheckForUpgrade(UpgradeCheck *check)
{
    *check = UpgradeCheck();
    bool haveMessage = IsDefined("#UPGMSG1#"), haveRemove = IsDefined("#REMOVE#");
    if (!haveMessage && !haveRemove)
        return;
    int messageMajor = 0, messageMinor = 0, removeMajor = 0, removeMinor = 0;
    if (haveMessage) {   // "<version> <message>": the variable keeps the message
        char text[TEXT_SIZE];
        CopyText(text, GetVariableText("#UPGMSG1#"), sizeof text);
        ParseVersion(text, &messageMajor, &messageMinor);
        const char *message = strchr(text, ' ');
        SetVariable("#UPGMSG1#", message ? message + 1 : "");
    }
    if (haveRemove)
        ParseVersion(GetVariableText("#REMOVE#"), &removeMajor, &removeMinor);
    if (!IsDefined("#REMAPP#") || !GetVariableText("#REMAPP#")[0])
        SetVariable("#REMAPP#", GetVariableText("#PROGRAM#"));
    char application[TEXT_SIZE], keyPath[TEXT_SIZE + 64];
    CopyText(application, GetVariableText("#REMAPP#"), sizeof application);
    snprintf(keyPath, sizeof keyPath, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s",
             application);
    HKEY key;
    bool keyExists = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) ==
                     ERROR_SUCCESS;
    if (keyExists) {
        DWORD type, size = sizeof check->uninstallString - 1;
        if (RegQueryValueExA(key, "UninstallString", 0, &type, (BYTE *)check->uninstallString,
                             &size) != ERROR_SUCCESS)
            size = 0;
        check->uninstallString[size] = 0;
        RegCloseKey(key);
    }
    SetupInfoRecord record;
    if (ReadSetupInfo(application, &record)) {
        check->askMessage = haveMessage && AtMost(record.versionMajor, record.versionMinor,
                                                  messageMajor, messageMinor);
        check->removalNeeded = haveRemove && AtMost(record.versionMajor, record.versionMinor,
                                                    removeMajor, removeMinor);
    } else {
        check->removalNeeded = keyExists;
    }
}

bool RunOldUninstaller(const char *commandLine)
{
    char line[2 * SETUP_PATH_SIZE + 2];
    CopyText(line, commandLine, sizeof line);
    if (!line[0])
        return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(0, line, 0, 0, FALSE, 0, 0, 0, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 200, QS_ALLINPUT) !=
           WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    CloseHandle(process.hProcess);
    return true;
}

// ---------------------------------------------------------------- fonts

static void ReleaseFonts()
{
    HFONT *fonts[] = {&gSetup.titleFont, &gSetup.boldFont, &gSetup.linkFont};
    for (HFONT *font : fonts)
        if (*font) {
            DeleteObject(*font);
            *font = 0;
        }
}

static int SystemDpi()
{
    HDC screen = GetDC(0);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : BASE_DPI;
    if (screen)
        ReleaseDC(0, screen);
    return dpi > 0 ? dpi : BASE_DPI;
}

static int WindowDpi(HWND window)
{
    typedef UINT(WINAPI * DpiForWindowFn)(HWND);
    static DpiForWindowFn forWindow =
        (DpiForWindowFn)(void *)GetProcAddress(GetModuleHandleA("user32"), "GetDpiForWindow");
    UINT dpi = forWindow && window ? forWindow(window) : 0;
    return dpi ? (int)dpi : SystemDpi();
}

static void BuildFonts()
{
    ReleaseFonts();
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    bool have = SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) &&
                metrics.lfMessageFont.lfFaceName[0];
    int dpi = gSetup.dpi ? gSetup.dpi : BASE_DPI;
    LOGFONTA font = {};
    if (have) {
        // The metrics come at the system resolution.
        int base = SystemDpi();
        font = metrics.lfMessageFont;
        font.lfHeight = MulDiv(font.lfHeight, dpi, base);
        int messageHeight = font.lfHeight;
        font.lfWeight = FW_BOLD;
        gSetup.boldFont = CreateFontIndirectA(&font);
        font.lfWeight = FW_NORMAL;
        font.lfUnderline = TRUE;
        gSetup.linkFont = CreateFontIndirectA(&font);
        font = metrics.lfCaptionFont;
        font.lfHeight = messageHeight * 13 / 10;
        font.lfWeight = FW_BOLD;
        gSetup.titleFont = CreateFontIndirectA(&font);
        return;
    }
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfHeight = -MulDiv(14, dpi, BASE_DPI);
    font.lfWeight = FW_BOLD;
    strcpy(font.lfFaceName, "MS Shell Dlg");
    gSetup.boldFont = CreateFontIndirectA(&font);
    font.lfWeight = FW_NORMAL;
    font.lfUnderline = TRUE;
    gSetup.linkFont = CreateFontIndirectA(&font);
    font.lfUnderline = FALSE;
    font.lfWeight = FW_BOLD;
    font.lfHeight = -MulDiv(16, dpi, BASE_DPI);
    strcpy(font.lfFaceName, "Arial");
    gSetup.titleFont = CreateFontIndirectA(&font);
}

// ---------------------------------------------------------------- web link control

struct WebLink {
    WNDPROC oldProc;
    char target[TEXT_SIZE];
    bool bold, centred;
};

static const char kLinkProperty[] = "VtWebLink";

static void OpenLink(HWND window)
{
    WebLink *link = (WebLink *)GetPropA(window, kLinkProperty);
    if (link && link->target[0])
        ShellExecuteA(GetParent(window), "open", link->target, 0, 0, SW_SHOWNORMAL);
}

static void PaintLink(HWND window, WebLink *link)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNFACE));
    char text[TEXT_SIZE];
    GetWindowTextA(window, text, sizeof text);
    HGDIOBJ old = SelectObject(dc, link->bold ? gSetup.boldFont : gSetup.linkFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 255));
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS |
                  (link->centred ? DT_CENTER : DT_LEFT);
    DrawTextA(dc, text, -1, &area, format);
    if (GetFocus() == window)
        DrawFocusRect(dc, &area);
    SelectObject(dc, old);
    EndPaint(window, &paint);
}

static LRESULT CALLBACK WebLinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WebLink *link = (WebLink *)GetPropA(window, kLinkProperty);
    if (!link)
        return DefWindowProcA(window, message, wParam, lParam);
    WNDPROC oldProc = link->oldProc;
    switch (message) {
    case WM_PAINT:
        PaintLink(window, link);
        return 0;
    case WM_SETCURSOR:
        SetCursor(LoadCursor(0, IDC_HAND));
        return TRUE;
    case WM_LBUTTONUP:
        OpenLink(window);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            OpenLink(window);
            return 0;
        }
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(window, 0, TRUE);
        break;
    case WM_NCDESTROY:
        RemovePropA(window, kLinkProperty);
        SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)oldProc);
        delete link;
        return CallWindowProcA(oldProc, window, message, wParam, lParam);
    }
    return CallWindowProcA(oldProc, window, message, wParam, lParam);
}

// Turns a static item into a web link that opens target.
static void MakeWebLink(HWND item, const char *target, bool bold, bool centred)
{
    if (!item)
        return;
    WebLink *link = (WebLink *)GetPropA(item, kLinkProperty);
    if (!link) {
        link = new WebLink();
        SetPropA(item, kLinkProperty, link);
        link->oldProc = (WNDPROC)SetWindowLongPtrA(item, GWLP_WNDPROC, (LONG_PTR)WebLinkProc);
        SetWindowLongA(item, GWL_STYLE, GetWindowLongA(item, GWL_STYLE) | SS_NOTIFY | WS_TABSTOP);
    }
    CopyText(link->target, target, sizeof link->target);
    link->bold = bold;
    link->centred = centred;
    InvalidateRect(item, 0, TRUE);
}

// ---------------------------------------------------------------- pages

struct PageInfo {
    int id;
    int boldItem;   // the item shown in the bold font, 0 for none
};

static const PageInfo kPages[] = {
    {IDD_WIZ_WELCOME, IDC_WIZ_TEXT},       {IDD_WIZ_AGREEMENT, IDC_WIZ_HEADING},
    {IDD_WIZ_FOLDERS, IDC_WIZ_HEADING},    {IDD_WIZ_PROGRESS, IDC_WIZ_STATUS1},
    {IDD_WIZ_FINISH, IDC_WIZ_HEADING},     {IDD_WIZ_UNWELCOME, IDC_WIZ_HEADING},
    {IDD_WIZ_UNPROGRESS, IDC_WIZ_STATUS1}, {IDD_WIZ_UNFINISH, IDC_WIZ_HEADING},
};

static int BoldItemOf(int pageId)
{
    for (const auto &page : kPages)
        if (page.id == pageId)
            return page.boldItem;
    return 0;
}

static HWND Item(int id)
{
    return GetDlgItem(gSetup.page, id);
}

static void SetFrameButtons(bool back, bool next, bool cancel, const char *nextText)
{
    EnableWindow(GetDlgItem(gSetup.frame, IDC_WIZ_BACK), back);
    EnableWindow(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT), next);
    EnableWindow(GetDlgItem(gSetup.frame, IDCANCEL), cancel);
    SetDlgItemTextA(gSetup.frame, IDC_WIZ_NEXT, nextText);
}

static BOOL CALLBACK SubstituteChildText(HWND child, LPARAM)
{
    char text[TEXT_SIZE];
    if (GetWindowTextA(child, text, sizeof text) > 0 && strchr(text, '#')) {
        SubstituteVariables(text);
        SetWindowTextA(child, text);
    }
    return TRUE;
}

static void ApplyPageFonts(HWND page, int pageId)
{
    SendDlgItemMessageA(page, IDC_WIZ_TITLE, WM_SETFONT, (WPARAM)gSetup.titleFont, TRUE);
    int bold = BoldItemOf(pageId);
    if (bold)
        SendDlgItemMessageA(page, bold, WM_SETFONT, (WPARAM)gSetup.boldFont, TRUE);
    InvalidateRect(page, 0, TRUE);
}

// The web link of every page, from #URLTEXT# and #URLLINK# when defined.
static void SetUpPageLink(HWND page)
{
    HWND item = GetDlgItem(page, IDC_WIZ_WEBLINK);
    if (!item)
        return;
    if (IsDefined("#URLTEXT#"))
        SetWindowTextA(item, GetVariableText("#URLTEXT#"));
    else
        SetWindowTextA(item, SETUP_MAKER_URL);
    MakeWebLink(item, IsDefined("#URLLINK#") ? GetVariableText("#URLLINK#") : SETUP_MAKER_URL,
                false, false);
}

static void DrawModeIcon(const DRAWITEMSTRUCT *draw)
{
    int height = (draw->rcItem.bottom - draw->rcItem.top) & ~1;
    int width = draw->rcItem.right - draw->rcItem.left;
    FillRect(draw->hDC, &draw->rcItem, gSetup.background);
    HICON icon = (HICON)LoadImageA(GetModuleHandleA(0),
                                   MAKEINTRESOURCEA(gSetup.uninstallMode ? IDI_UNINSTALL
                                                                         : IDI_SETUP),
                                   IMAGE_ICON, height, height, LR_DEFAULTCOLOR);
    if (!icon)
        icon = LoadIcon(0, IDI_APPLICATION);
    DrawIconEx(draw->hDC, draw->rcItem.left + (width - height) / 2, draw->rcItem.top, icon,
               height, height, 0, 0, DI_NORMAL);
    DestroyIcon(icon);
}

static bool CommonPageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam,
                              INT_PTR *result)
{
    switch (message) {
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT *draw = (const DRAWITEMSTRUCT *)lParam;
        if (draw->CtlID == IDC_WIZ_BAND)
            FillRect(draw->hDC, &draw->rcItem, gSetup.background);
        else if (draw->CtlID == IDC_WIZ_ICON)
            DrawModeIcon(draw);
        else
            return false;
        *result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC: {
        int id = GetDlgCtrlID((HWND)lParam);
        if (id != IDC_WIZ_TITLE && id != IDC_WIZ_SUBTITLE)
            return false;
        SetBkMode((HDC)wParam, TRANSPARENT);
        *result = (INT_PTR)gSetup.background;
        return true;
    }
    case SETUPM_APPLYFONTS:
        ApplyPageFonts(page, gSetup.pageId);
        *result = TRUE;
        return true;
    }
    return false;
}

// --- cancel

static void ConfirmCancel()
{
    if (gSetup.closing ||
        SetupMessageBox(gSetup.frame, 1000, MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) !=
            IDYES)
        return;
    // The phase runner stops before its next command; a "Call" in progress
    // is ended. The wizard then closes once the runner has let go.
    gSetupAbort = 1;
    gSetup.result = SETUP_CANCELLED;
    gSetup.cancelledPartway = gSetup.phaseThread != 0;
    CloseSetupWizard();
}

// --- welcome

static void ShowConfigFolder()
{
    char folder[MAX_PATH] = "";
    bool asUser = ActAsDesktopUser(true);
    bool found = GetConfigFolder(GetVariableText("#PROGRAM#"), folder);
    if (asUser)
        ActAsDesktopUser(false);
    SetDlgItemTextA(gSetup.page, IDC_WIZ_CONFIGFOLDER,
                    found ? folder : GetVariableText("#CONFIGPATH#"));
}

static void InitWelcome()
{
    if (gSetup.uninstallMode) {
        ShowConfigFolder();
        return;
    }
    char text[TEXT_SIZE];
    CopyText(text, GetVariableText("#DESCR#"), sizeof text);
    for (char *p = text; p[0] && p[1]; p++)   // "\n" pairs become line breaks
        if (p[0] == '\\' && p[1] == 'n') {
            p[0] = '\r';
            p[1] = '\n';
            p++;
        }
    SetDlgItemTextA(gSetup.page, IDC_WIZ_DESCRIPTION, text);
}

static bool IsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = 0;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(0, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

static void RunOldUninstallerHidden(const char *commandLine)
{
    ShowWindow(gSetup.frame, SW_HIDE);
    RunOldUninstaller(commandLine);
    ShowWindow(gSetup.frame, SW_SHOW);
    SetForegroundWindow(gSetup.frame);
}

static void WelcomeNext()
{
    UpgradeCheck check;
    CheckForUpgrade(&check);
    if (check.askMessage && !gSetup.uninstallMode) {
        char text[TEXT_SIZE], caption[TEXT_SIZE] = "#SETUPMODE#";
        CopyText(text, GetVariableText("#UPGMSG1#"), sizeof text);
        SubstituteVariables(caption);
        SetForegroundWindow(gSetup.frame);
        if (MessageBoxA(gSetup.frame, text, caption, MB_OKCANCEL | MB_ICONINFORMATION) ==
            IDCANCEL) {
            gSetup.result = SE_REMOVE_OLD;
            CloseSetupWizard();
            return;
        }
    }
    if (check.removalNeeded) {
        if (gSetup.uninstallMode) {
            RunOldUninstallerHidden(check.uninstallString);
        } else {
            int answer = ShowScriptError(gSetup.frame, SE_REMOVE_OLD);
            if (answer == IDYES) {
                RunOldUninstallerHidden(check.uninstallString);
                return;
            }
            if (answer != IDNO)
                return;
        }
    }
    if (!IsAdministrator()) {
        ShowScriptError(gSetup.frame, SE_NOT_ADMIN);
        return;
    }
    if (gSetup.uninstallMode) {
        if (IsDlgButtonChecked(gSetup.page, IDC_WIZ_KEEPCFG) == BST_CHECKED)
            SetVariable("#KEEPCFG#", "1");
        ShowWizardPage(IDD_WIZ_UNPROGRESS);
    } else {
        ShowWizardPage(IDD_WIZ_AGREEMENT);
    }
}

// --- agreement

// Lone LF line ends become CR LF, as the edit control wants them.
static char *WithCrLf(const char *text, size_t length)
{
    char *out = (char *)malloc(length * 2 + 1);
    if (!out)
        return 0;
    size_t n = 0;
    for (size_t i = 0; i < length && text[i]; i++) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out[n++] = '\r';
        out[n++] = text[i];
    }
    out[n] = 0;
    return out;
}

static bool InitAgreement()
{
    char *data = 0;
    uint32_t size = 0;
    const char *eula = GetVariableText("#EULA#");
    char *text = 0;
    if (eula[0]) {
        if (LoadFileOrArchive(eula, &data, &size) == 0 && data)
            text = WithCrLf(data, size);
        free(data);
    } else {
        HMODULE module = GetModuleHandleA(0);
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(IDR_WIZ_AGREEMENT), "TEXT");
        HGLOBAL loaded = resource ? LoadResource(module, resource) : 0;
        const char *bytes = loaded ? (const char *)LockResource(loaded) : 0;
        if (bytes)
            text = WithCrLf(bytes, SizeofResource(module, resource));
    }
    if (!text)
        return false;
    SetDlgItemTextA(gSetup.page, IDC_WIZ_AGREEMENTTEXT, text);
    free(text);
    return true;
}

// --- folders

static bool IsAbsolutePath(const char *path)
{
    return (isalpha((unsigned char)path[0]) && path[1] == ':' && path[2] == '\\') ||
           (path[0] == '\\' && path[1] == '\\');
}

static void EnableCustomControls()
{
    bool custom = IsDlgButtonChecked(gSetup.page, IDC_WIZ_CUSTOMDATA) == BST_CHECKED;
    int ids[] = {IDC_WIZ_CUSTOMPATH, IDC_WIZ_BROWSECUSTOM, IDC_WIZ_PERUSER, IDC_WIZ_SHARED};
    for (int id : ids)
        EnableWindow(Item(id), custom);
}

static void InitFolders()
{
    SetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, GetVariableText("#INSTALLPATH#"));
    SetDlgItemTextA(gSetup.page, IDC_WIZ_CUSTOMPATH, GetVariableText("#CUSTOMPATH#"));
    bool allUsers = GetVariableNumber("#FORWHO#") == 1;
    CheckRadioButton(gSetup.page, IDC_WIZ_ALLUSERS, IDC_WIZ_ONLYME,
                     allUsers ? IDC_WIZ_ALLUSERS : IDC_WIZ_ONLYME);
    bool custom = GetVariableNumber("#CUSTOMLOC#") == 1;
    CheckRadioButton(gSetup.page, IDC_WIZ_STDDATA, IDC_WIZ_CUSTOMDATA,
                     custom ? IDC_WIZ_CUSTOMDATA : IDC_WIZ_STDDATA);
    bool perUser = !IsDefined("#INDIVIDUAL#") || GetVariableNumber("#INDIVIDUAL#") == 1;
    CheckRadioButton(gSetup.page, IDC_WIZ_PERUSER, IDC_WIZ_SHARED,
                     perUser ? IDC_WIZ_PERUSER : IDC_WIZ_SHARED);
    EnableCustomControls();
}

static void BrowseFolder(bool install)
{
    BROWSEINFOA browse = {};
    char chosen[MAX_PATH] = "";
    browse.hwndOwner = gSetup.frame;
    browse.pszDisplayName = chosen;
    browse.lpszTitle = install ? "Select Installation Folder" : "Select Configuration Data Folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST list = SHBrowseForFolderA(&browse);
    if (!list)
        return;
    char path[MAX_PATH];
    bool ok = SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
    if (!ok)
        return;
    if (install) {
        char folder[2 * MAX_PATH];
        size_t n = strlen(path);
        snprintf(folder, sizeof folder, "%s%s%s", path, n && path[n - 1] == '\\' ? "" : "\\",
                 GetVariableText("#PROGRAM#"));
        SetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, folder);
    } else {
        SetDlgItemTextA(gSetup.page, IDC_WIZ_CUSTOMPATH, path);
    }
}

// The deepest part of the path that exists, for the free-space query.
static void ExistingParent(const char *path, char *out)
{
    CopyText(out, path, MAX_PATH);
    while (out[0] && !FolderExists(out)) {
        char *cut = strrchr(out, '\\');
        if (!cut)
            break;
        *cut = 0;
        if (cut - out == 2 && out[1] == ':') {   // the drive root keeps its backslash
            strcat(out, "\\");
            break;
        }
    }
}

static bool DesktopUserCanWrite(const char *folder)
{
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%s\\test.tmp", folder);
    bool asUser = ActAsDesktopUser(true);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    bool ok = file != INVALID_HANDLE_VALUE;
    if (ok) {
        CloseHandle(file);
        ok = DeleteFileA(path) != 0;
    }
    if (asUser)
        ActAsDesktopUser(false);
    return ok;
}

static void ChooseShellFolders(bool allUsers)
{
    SetVariable("#STARTUPDIR#", GetVariableText(allUsers ? "#STARTUPDIRALL#" : "#STARTUPDIRUSR#"));
    SetVariable("#STARTMENUDIR#", GetVariableText(allUsers ? "#STARTMENUALL#" : "#STARTMENUUSR#"));
    SetVariable("#DESKTOPDIR#", GetVariableText(allUsers ? "#DESKTOPDIRALL#" : "#DESKTOPDIRUSR#"));
}

static bool CheckInstallFolder(const char *folder)
{
    if (!IsAbsolutePath(folder)) {
        SetupMessageBox(gSetup.frame, 1039, MB_OK | MB_ICONSTOP);
        return false;
    }
    double needed = GetVariableNumber("#MINFREE#");
    if (needed > 0) {
        char parent[MAX_PATH];
        ExistingParent(folder, parent);
        if ((double)FreeDiskSpace(parent) < needed * 1024 * 1024) {
            SetupMessageBox(gSetup.frame, 1003, MB_OK | MB_ICONSTOP);
            return false;
        }
    }
    if (CreateFolderTree(folder) != 0) {
        SetupMessageBox(gSetup.frame, 1005, MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

static bool CheckCustomFolder(const char *folder)
{
    if (!IsAbsolutePath(folder)) {
        SetupMessageBox(gSetup.frame, 1039, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (CreateFolderTree(folder) != 0) {
        SetupMessageBox(gSetup.frame, 1033, MB_OK | MB_ICONSTOP);
        return false;
    }
    return DesktopUserCanWrite(folder) ||
           ShowScriptError(gSetup.frame, SE_FOLDER_INACCESSIBLE) == IDYES;
}

static void FoldersNext()
{
    char folder[TEXT_SIZE];
    GetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, folder, sizeof folder);
    if (!CheckInstallFolder(folder))
        return;
    bool allUsers = IsDlgButtonChecked(gSetup.page, IDC_WIZ_ALLUSERS) == BST_CHECKED;
    bool custom = IsDlgButtonChecked(gSetup.page, IDC_WIZ_CUSTOMDATA) == BST_CHECKED;
    SetVariable("#INSTALLPATH#", folder);
    SetVariable("#FORWHO#", allUsers ? "1" : "0");
    SetVariable("#CUSTOMLOC#", custom ? "1" : "0");
    if (custom) {
        GetDlgItemTextA(gSetup.page, IDC_WIZ_CUSTOMPATH, folder, sizeof folder);
        if (!CheckCustomFolder(folder))
            return;
        SetVariable("#CUSTOMPATH#", folder);
        bool perUser = IsDlgButtonChecked(gSetup.page, IDC_WIZ_PERUSER) == BST_CHECKED;
        SetVariable("#INDIVIDUAL#", perUser ? "1" : "0");
    }
    ChooseShellFolders(allUsers);
    ShowWizardPage(IDD_WIZ_PROGRESS);
}

// --- progress

static DWORD WINAPI PhaseOneThread(void *)
{
    int error = RunPhase(1);
    // In the wizard a stop comes without an end-of-phase message; a cancel
    // needs none, the wizard is already closing.
    if (error && error != SE_CANCELLED && !gScript.uninstallMode)
        PostMessageA(gSetup.page, SETUPM_PHASEFAILED, (WPARAM)error, 0);
    return (DWORD)error;
}

// Waits for phase 1 to end while the window stays alive: the phase's sent
// messages are answered and everything else is dispatched, so the wizard
// repaints and moves. gSetup.closing keeps the buttons and the phase's
// posted messages from starting anything meanwhile.
static void WaitForPhaseThread()
{
    if (!gSetup.phaseThread)
        return;
    bool wasClosing = gSetup.closing, quit = false;
    int quitCode = 0;
    gSetup.closing = true;
    // A message dispatched here may close the wizard and wait in its turn;
    // then the thread is gone when that returns.
    while (gSetup.phaseThread &&
           MsgWaitForMultipleObjects(1, &gSetup.phaseThread, FALSE, INFINITE, QS_ALLINPUT) !=
               WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {   // kept for the loop that owns it
                quit = true;
                quitCode = (int)msg.wParam;
                continue;
            }
            if (gSetup.frame && IsDialogMessageA(gSetup.frame, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (gSetup.phaseThread)
        CloseHandle(gSetup.phaseThread);
    gSetup.phaseThread = 0;
    gSetup.closing = wasClosing;
    if (quit)
        PostQuitMessage(quitCode);
}

static void FailWizard(int error)
{
    WaitForPhaseThread();
    gScript.statusWindow = 0;
    RunPhase(3);
    gSetup.result = error ? error : SE_THREAD;
    CloseSetupWizard();
}

static void InitProgress()
{
    SendDlgItemMessageA(gSetup.page, IDC_WIZ_PROGRESSBAR, PBM_SETRANGE32, 0, 100);
    gSetup.phaseFailed = false;
    gScript.statusWindow = gSetup.page;
    gSetup.phaseThread = CreateThread(0, 0, PhaseOneThread, 0, 0, 0);
    if (!gSetup.phaseThread) {
        gScript.statusWindow = 0;
        ShowScriptError(gSetup.frame, SE_THREAD);
        PostMessageA(gSetup.page, SETUPM_PHASEFAILED, SE_THREAD, 0);
        gSetup.phaseFailed = true;
    }
}

static INT_PTR ProgressMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (gSetup.closing) {   // cancelled: no box, no next page, the runner stops
        if (message == SETUPM_ERROR) {
            SetWindowLongPtrA(gSetup.page, DWLP_MSGRESULT, IDCANCEL);
            return TRUE;
        }
        if (message == SETUPM_PHASEEND || message == SETUPM_PHASEFAILED)
            return TRUE;
    }
    switch (message) {
    case SETUPM_STATUS:
        SetDlgItemTextA(gSetup.page, wParam ? IDC_WIZ_STATUS2 : IDC_WIZ_STATUS1,
                        (const char *)lParam);
        return TRUE;
    case SETUPM_PROGRESS:
        SendDlgItemMessageA(gSetup.page, IDC_WIZ_PROGRESSBAR, PBM_SETPOS, wParam, 0);
        return TRUE;
    case SETUPM_PHASEEND:
        SetDlgItemTextA(gSetup.page, IDC_WIZ_STATUS1, "Finished");
        SendDlgItemMessageA(gSetup.page, IDC_WIZ_PROGRESSBAR, PBM_SETPOS, 100, 0);
        EnableWindow(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT), TRUE);
        // Pressed once the phase thread has let go of the page.
        PostMessageA(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT), BM_CLICK, 0, 0);
        return TRUE;
    case SETUPM_ERROR: {
        int answer = ShowScriptError(gSetup.frame, (int)wParam);
        if (wParam == SE_TASK_SCHEDULER)
            answer = IDYES;   // the script goes on after it
        if (answer == IDOK || answer == IDCANCEL || answer == IDNO)
            gSetup.phaseFailed = true;   // the phase ends; FailWizard follows
        SetWindowLongPtrA(gSetup.page, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    case SETUPM_PHASEFAILED:
        if (!gSetup.phaseFailed)   // a stop the user was not asked about
            ShowScriptError(gSetup.frame, (int)wParam);
        FailWizard((int)wParam);
        return TRUE;
    }
    return FALSE;
}

static void ProgressNext()
{
    WaitForPhaseThread();
    gScript.statusWindow = 0;
    ShowWizardPage(gSetup.uninstallMode ? IDD_WIZ_UNFINISH : IDD_WIZ_FINISH);
}

// --- finish

struct FinishChoice {
    int item;
    const char *variable, *selection;
};
static const FinishChoice kChoices[] = {
    {IDC_WIZ_EXECUTE, "#EXECUTE#", "#SELEXECUTE#"},
    {IDC_WIZ_README, "#README#", "#SELREADME#"},
    {IDC_WIZ_DESKTOP, "#DESKTOP#", "#SELDESKTOP#"},
    {IDC_WIZ_STARTMENU, "#STARTMENU#", "#SELSTARTMENU#"},
};

static void InitFinish()
{
    if (gSetup.uninstallMode) {
        const char *folder = GetVariableText("#INSTALLPATH#");
        if (folder[0] && FolderHasOtherFiles(folder)) {
            SetDlgItemTextA(gSetup.page, IDC_WIZ_FOLDERLINK, folder);
            MakeWebLink(Item(IDC_WIZ_FOLDERLINK), folder, false, false);
        } else {
            ShowWindow(Item(IDC_WIZ_REMAINING), SW_HIDE);
            ShowWindow(Item(IDC_WIZ_FOLDERLINK), SW_HIDE);
        }
        return;
    }
    for (const auto &choice : kChoices) {
        bool hidden = !IsDefined(choice.variable) ||
                      (choice.item == IDC_WIZ_EXECUTE && gRestartNeeded);
        ShowWindow(Item(choice.item), hidden ? SW_HIDE : SW_SHOW);
        CheckDlgButton(gSetup.page, choice.item,
                       !hidden && GetVariableNumber(choice.selection) == 1 ? BST_CHECKED
                                                                          : BST_UNCHECKED);
    }
}

static void StoreFinishChoices()
{
    bool checked[4];
    for (int i = 0; i < 4; i++) {
        HWND box = Item(kChoices[i].item);
        checked[i] = box && IsWindowVisible(box) &&
                     IsDlgButtonChecked(gSetup.page, kChoices[i].item) == BST_CHECKED;
        SetVariable(kChoices[i].variable, checked[i] ? "1" : "0");
    }
    SetupInfoRecord record;
    const char *program = GetVariableText("#PROGRAM#");
    if (!program[0] || !ReadSetupInfo(program, &record))
        return;
    record.finishStartProgram = checked[0];
    record.finishShowReadme = checked[1];
    record.finishDesktopLink = checked[2];
    record.finishStartMenuLink = checked[3];
    WriteSetupInfo(program, &record);   // silently
}

static void FinishNext()
{
    StoreFinishChoices();
    char size[32];
    snprintf(size, sizeof size, "%llu", FolderSizeKB(GetVariableText("#INSTALLPATH#")));
    SetVariable("#INSTALLSIZE#", size);
    gScript.statusWindow = 0;
    RunPhase(2);
    NoteRestartRequest();
    if (gSetup.uninstallMode)
        gSetup.removeSelf = true;
    gSetup.result = 0;
    CloseSetupWizard();
}

// --- the page procedure

static void InitPage()
{
    switch (gSetup.pageId) {
    case IDD_WIZ_WELCOME:
    case IDD_WIZ_UNWELCOME:
        InitWelcome();
        SetFrameButtons(false, true, true, "&Next >");
        break;
    case IDD_WIZ_AGREEMENT:
        SetFrameButtons(true, true, true, "I &Agree");
        if (!InitAgreement()) {
            SetupMessageBox(gSetup.frame, 1001, MB_OK | MB_ICONSTOP);
            gSetup.result = SE_SCRIPT_MISSING;
            PostMessageA(gSetup.frame, WM_CLOSE, 1, 0);
        }
        break;
    case IDD_WIZ_FOLDERS:
        InitFolders();
        SetFrameButtons(true, true, true, "&Next >");
        break;
    case IDD_WIZ_PROGRESS:
    case IDD_WIZ_UNPROGRESS:
        SetFrameButtons(false, false, true, "&Next >");
        break;
    case IDD_WIZ_FINISH:
    case IDD_WIZ_UNFINISH:
        InitFinish();
        SetFrameButtons(false, true, false, "&Finish");
        break;
    }
}

static void PageCommand(int id)
{
    if (gSetup.closing)
        return;
    if (id == IDCANCEL) {
        ConfirmCancel();
        return;
    }
    switch (gSetup.pageId) {
    case IDD_WIZ_WELCOME:
    case IDD_WIZ_UNWELCOME:
        if (id == IDC_WIZ_NEXT)
            WelcomeNext();
        else if (id == IDC_WIZ_KEEPCFG &&
                 IsDlgButtonChecked(gSetup.page, IDC_WIZ_KEEPCFG) == BST_CHECKED)
            SetupMessageBox(gSetup.frame, 1037, MB_OK | MB_ICONEXCLAMATION);
        break;
    case IDD_WIZ_AGREEMENT:
        if (id == IDC_WIZ_NEXT)
            ShowWizardPage(IsDefined("#ASKPATH#") ? IDD_WIZ_FOLDERS : IDD_WIZ_PROGRESS);
        else if (id == IDC_WIZ_BACK)
            ShowWizardPage(IDD_WIZ_WELCOME);
        break;
    case IDD_WIZ_FOLDERS:
        if (id == IDC_WIZ_NEXT)
            FoldersNext();
        else if (id == IDC_WIZ_BACK)
            ShowWizardPage(IDD_WIZ_AGREEMENT);
        else if (id == IDC_WIZ_STDDATA || id == IDC_WIZ_CUSTOMDATA)
            EnableCustomControls();
        else if (id == IDC_WIZ_BROWSEINSTALL || id == IDC_WIZ_BROWSECUSTOM)
            BrowseFolder(id == IDC_WIZ_BROWSEINSTALL);
        break;
    case IDD_WIZ_PROGRESS:
    case IDD_WIZ_UNPROGRESS:
        if (id == IDC_WIZ_NEXT)
            ProgressNext();
        break;
    case IDD_WIZ_FINISH:
    case IDD_WIZ_UNFINISH:
        if (id == IDC_WIZ_NEXT)
            FinishNext();
        break;
    }
}

static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = 0;
    if (CommonPageMessage(page, message, wParam, lParam, &result))
        return result;
    if (message == WM_INITDIALOG)
        return TRUE;
    if (page == gSetup.page &&
        (gSetup.pageId == IDD_WIZ_PROGRESS || gSetup.pageId == IDD_WIZ_UNPROGRESS))
        if (ProgressMessage(message, wParam, lParam))
            return TRUE;
    if (message == WM_COMMAND && page == gSetup.page && HIWORD(wParam) == BN_CLICKED) {
        PageCommand(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

bool ShowWizardPage(int pageId)
{
    if (!gSetup.frame)
        return false;
    HWND old = gSetup.page;
    HWND page = CreateDialogParamA(GetModuleHandleA(0), MAKEINTRESOURCEA(pageId), gSetup.frame,
                                   PageProc, 0);
    if (!page)
        return false;
    gSetup.page = page;
    gSetup.pageId = pageId;
    if (old)
        DestroyWindow(old);
    SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    EnumChildWindows(page, SubstituteChildText, 0);
    SetUpPageLink(page);
    ApplyPageFonts(page, pageId);
    InitPage();
    ShowWindow(page, SW_SHOW);
    if (pageId == IDD_WIZ_PROGRESS || pageId == IDD_WIZ_UNPROGRESS)
        InitProgress();
    SetFocus(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT));
    return true;
}

// ---------------------------------------------------------------- frame

static void SetFrameIcon(HWND frame)
{
    LPCSTR id = MAKEINTRESOURCEA(gSetup.uninstallMode ? IDI_UNINSTALL : IDI_SETUP);
    HMODULE module = GetModuleHandleA(0);
    HICON big = (HICON)LoadImageA(module, id, IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR);
    HICON small = (HICON)LoadImageA(module, id, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                    GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    if (big)
        SendMessageA(frame, WM_SETICON, ICON_BIG, (LPARAM)big);
    if (small)
        SendMessageA(frame, WM_SETICON, ICON_SMALL, (LPARAM)small);
}

static void DropFrameIcons(HWND frame)
{
    const WPARAM kinds[] = {ICON_BIG, ICON_SMALL};
    for (WPARAM which : kinds) {
        HICON icon = (HICON)SendMessageA(frame, WM_SETICON, which, 0);
        if (icon)
            DestroyIcon(icon);
    }
}

static void FrameDpiChanged(HWND frame, WPARAM wParam, LPARAM lParam)
{
    gSetup.dpi = HIWORD(wParam);
    BuildFonts();
    const RECT *suggested = (const RECT *)lParam;
    SetWindowPos(frame, 0, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (gSetup.page)
        SendMessageA(gSetup.page, SETUPM_APPLYFONTS, 0, 0);
}

static INT_PTR CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        gSetup.frame = frame;
        gSetup.dpi = WindowDpi(frame);
        BuildFonts();
        SetFrameIcon(frame);
        gSetup.background = CreateSolidBrush(gSetup.uninstallMode ? RGB(255, 235, 235)
                                                                  : RGB(235, 245, 255));
        EnumChildWindows(frame, SubstituteChildText, 0);
        char caption[TEXT_SIZE];
        GetWindowTextA(frame, caption, sizeof caption);
        SubstituteVariables(caption);
        SetWindowTextA(frame, caption);
        return FALSE;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && gSetup.page)
            SendMessageA(gSetup.page, WM_COMMAND, wParam, lParam);
        return TRUE;
    case WM_CLOSE:
        if (wParam == 1)   // the wizard itself gives up
            CloseSetupWizard();
        else if (IsWindowEnabled(GetDlgItem(frame, IDCANCEL)))
            SendMessageA(gSetup.page, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    case 0x02E0:   // WM_DPICHANGED
        FrameDpiChanged(frame, wParam, lParam);
        return TRUE;
    case WM_DESTROY:
        DropFrameIcons(frame);
        return FALSE;
    }
    return FALSE;
}

HWND OpenSetupWizard()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    gSetup.result = 0;
    HWND frame = CreateDialogParamA(GetModuleHandleA(0), MAKEINTRESOURCEA(IDD_WIZ_FRAME), 0,
                                    FrameProc, 0);
    if (!frame)
        return 0;
    if (!ShowWizardPage(gSetup.uninstallMode ? IDD_WIZ_UNWELCOME : IDD_WIZ_WELCOME)) {
        CloseSetupWizard();
        return 0;
    }
    ShowWindow(frame, SW_SHOW);
    SetForegroundWindow(frame);
    return frame;
}

void CloseSetupWizard()
{
    if (!gSetup.frame)
        return;
    // A running phase must not outlive the page it reports to.
    WaitForPhaseThread();
    gScript.statusWindow = 0;
    HWND frame = gSetup.frame;
    gSetup.frame = gSetup.page = 0;
    DestroyWindow(frame);
    if (gSetup.background) {
        DeleteObject(gSetup.background);
        gSetup.background = 0;
    }
}

int RunSetupWizard()
{
    if (!OpenSetupWizard()) {
        SetupMessageBox(0, 1001, MB_OK | MB_ICONSTOP);
        return gSetup.result = SE_SCRIPT_MISSING;
    }
    MSG msg;
    while (gSetup.frame && GetMessageA(&msg, 0, 0, 0) > 0) {
        if (gSetup.frame && IsDialogMessageA(gSetup.frame, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return gSetup.result;
}

// ---------------------------------------------------------------- the program

void DeclareDpiAwareness()
{
    HMODULE user = GetModuleHandleA("user32");
    typedef BOOL(WINAPI * ContextFn)(HANDLE);
    typedef BOOL(WINAPI * AwareFn)();
    ContextFn byContext = (ContextFn)(void *)GetProcAddress(user, "SetProcessDpiAwarenessContext");
    if (byContext && (byContext((HANDLE)-4) || byContext((HANDLE)-3)))   // v2, else per monitor
        return;
    typedef HRESULT(WINAPI * ProcessFn)(int);
    HMODULE shcore = LoadLibraryA("shcore.dll");
    ProcessFn byProcess = shcore ? (ProcessFn)(void *)GetProcAddress(shcore,
                                                                     "SetProcessDpiAwareness")
                                 : 0;
    if (byProcess && SUCCEEDED(byProcess(2)))
        return;
    AwareFn aware = (AwareFn)(void *)GetProcAddress(user, "SetProcessDPIAware");
    if (aware)
        aware();
}

static void ReleaseEngine()
{
    ReleaseFonts();
    SetScriptText(0);
    free(gSetup.scriptText);
    gSetup.scriptText = 0;
}

int SetupMain(const char *commandLine)
{
    ResetSetupEngine();
    ParseSetupCommandLine(commandLine);
    int error = StartSetupEngine();
    int refusal = error ? 1001 : CheckSystemRequirements();
    if (refusal) {
        if (gSetup.silent)   // nobody is there to answer a box
            WriteLogMessage(refusal);
        else
            SetupMessageBox(0, refusal, MB_OK | MB_ICONSTOP);
        ReleaseEngine();
        return error ? SE_SCRIPT_MISSING : refusal;
    }
    error = gSetup.silent ? RunSilentSetup() : RunSetupWizard();
    // A wizard cancelled before phase 1 changed nothing; one cancelled while
    // it ran leaves a half-done installation, and says so in the log.
    if (!gSetup.silent && error == SETUP_CANCELLED && gSetup.cancelledPartway)
        WriteCancelLog();
    ReleaseEngine();
    if (gRestartNeeded && !gSetup.silent)
        SetupMessageBox(0, 1011, MB_OK | MB_ICONEXCLAMATION);
    if (gSetup.removeSelf)
        RemoveSelf();
    return error;
}
