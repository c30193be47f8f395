// The operating-system actions of the setup engine, kept apart from the
// script interpreter so that its commands read as steps while the Windows
// calls, the desktop user's token and their failure paths live here.
#include "setup/sysactions.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <taskschd.h>

#include "framework/recordfile.h"
#include "framework/zip.h"
#include "framework/utilities.h"

volatile LONG gSetupAbort = 0;
volatile LONG gRestartNeeded = 0;
HMODULE gResourceModule = 0;

enum { PATH_BUFFER = 1040 };

static bool FormatPath(char *out, size_t size, const char *format, const char *a,
                       const char *b = "")
{
    int n = snprintf(out, size, format, a, b);
    return n >= 0 && (size_t)n < size;
}

static void CutTrailingSeparators(char *path)
{
    size_t n = strlen(path);
    while (n > 0 && (path[n - 1] == '\\' || path[n - 1] == '/') && !(n == 3 && path[1] == ':'))
        path[--n] = 0;
}

static DWORD Elapsed(DWORD start)
{
    return GetTickCount() - start;
}

// ---------------------------------------------------------------- the desktop user

static HANDLE OpenDesktopUserProcessToken(DWORD access)
{
    HWND shell = FindWindowA("Progman", 0);
    DWORD processId = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &processId) || !processId)
        return 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process)
        return 0;
    HANDLE token = 0;
    if (!OpenProcessToken(process, access, &token))
        token = 0;
    CloseHandle(process);
    return token;
}

bool ActAsDesktopUser(bool on)
{
    if (!on)
        return RevertToSelf() != 0;
    HANDLE token = OpenDesktopUserProcessToken(TOKEN_QUERY | TOKEN_DUPLICATE);
    if (!token)
        return false;
    bool impersonating = ImpersonateLoggedOnUser(token) != 0;
    CloseHandle(token);
    return impersonating;
}

HANDLE DuplicateDesktopUserToken()
{
    HANDLE token = OpenDesktopUserProcessToken(TOKEN_QUERY | TOKEN_DUPLICATE);
    if (!token)
        return 0;
    HANDLE primary = 0;
    if (!DuplicateTokenEx(token, TOKEN_ALL_ACCESS, 0, SecurityImpersonation, TokenPrimary,
                          &primary))
        primary = 0;
    CloseHandle(token);
    return primary;
}

bool GetShellFolder(int csidl, char *out)
{
    out[0] = 0;
    if (SHGetFolderPathA(0, csidl, 0, SHGFP_TYPE_CURRENT, out) != S_OK) {
        out[0] = 0;
        return false;
    }
    CutTrailingSeparators(out);
    return out[0] != 0;
}

HKEY OpenCurrentUserRoot(bool *mustClose)
{
    HKEY key = 0;
    // While impersonating, HKEY_CURRENT_USER still names the engine's hive.
    HANDLE token = 0;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        CloseHandle(token);
        if (RegOpenCurrentUser(KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            *mustClose = true;
            return key;
        }
    }
    *mustClose = false;
    return HKEY_CURRENT_USER;
}

// ---------------------------------------------------------------- closing the program

struct WindowSearch {
    const char *title;
    HWND skip[16];      // windows whose process did not end
    int skipCount;
    HWND found;
};

static BOOL CALLBACK FindProgramWindow(HWND window, LPARAM data)
{
    WindowSearch *search = (WindowSearch *)data;
    char name[64], title[520];
    if (!GetClassNameA(window, name, sizeof name) || strcmp(name, "QRFWindow") != 0)
        return TRUE;
    if (!GetWindowTextA(window, title, sizeof title) || !StrStrIA(title, search->title))
        return TRUE;
    for (int i = 0; i < search->skipCount; i++)
        if (search->skip[i] == window)
            return TRUE;
    search->found = window;
    return FALSE;
}

// Sends the quit request and waits up to 10 s (100 checks) for the process.
static bool QuitWindowProcess(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : 0;
    DWORD_PTR answer;
    // The program handles a sent WM_QUIT like its quit command; a hung one
    // must not hang the engine.
    SendMessageTimeoutA(window, WM_QUIT, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer);
    bool ended = false;
    for (int check = 0; check < 100 && !ended; check++) {
        if (process)
            ended = WaitForSingleObject(process, 100) == WAIT_OBJECT_0;
        else {
            ended = !IsWindow(window);
            if (!ended)
                Sleep(100);
        }
    }
    if (process)
        CloseHandle(process);
    return ended;
}

int CloseProgramWindows(const char *title, DWORD timeoutMs)
{
    WindowSearch search = {};
    search.title = title;
    int result = 0;
    DWORD start = GetTickCount();
    while (Elapsed(start) < timeoutMs) {
        search.found = 0;
        EnumWindows(FindProgramWindow, (LPARAM)&search);
        if (!search.found)
            break;
        if (!QuitWindowProcess(search.found)) {
            result = 1;
            if (search.skipCount == 16)
                break;
            search.skip[search.skipCount++] = search.found;
        }
    }
    return result;
}

int CloseProgramUnder(HKEY root, const char *keyPath, const char *name)
{
    HKEY key;
    if (!name || !*name || RegOpenKeyExA(root, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    int result = 0;
    char valueName[260];
    for (DWORD index = 0;; index++) {
        DWORD length = sizeof valueName;
        LONG status = RegEnumValueA(key, index, valueName, &length, 0, 0, 0, 0);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (length && strstr(valueName, name) && CloseProgramWindows(valueName, 60000))
            result = 1;
    }
    RegCloseKey(key);
    return result;
}

int CloseProgram(const char *name)
{
    return CloseProgramUnder(HKEY_LOCAL_MACHINE, SETUP_PROGRAMS_KEY, name);
}

// ---------------------------------------------------------------- starting programs

typedef BOOL(WINAPI *CreateProcessWithTokenProc)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID,
                                                 LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);

static bool StartWithUserToken(const char *file, const char *parameters)
{
    CreateProcessWithTokenProc start = (CreateProcessWithTokenProc)(void *)GetProcAddress(
        GetModuleHandleA("advapi32.dll"), "CreateProcessWithTokenW");
    if (!start)
        return false;
    char commandLine[PATH_BUFFER];
    bool withParameters = parameters && *parameters;
    int n = snprintf(commandLine, sizeof commandLine, "\"%s\"%s%s", file, withParameters ? " " : "",
                     withParameters ? parameters : "");
    if (n < 0 || n >= (int)sizeof commandLine)
        return false;
    WCHAR wideLine[PATH_BUFFER];
    if (!MultiByteToWideChar(CP_ACP, 0, commandLine, -1, wideLine, PATH_BUFFER))
        return false;
    HANDLE token = DuplicateDesktopUserToken();
    if (!token)
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    bool started = start(token, 0, 0, wideLine, 0, 0, 0, &startup, &info) != 0;
    if (started) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    CloseHandle(token);
    return started;
}

int RunAsDesktopUser(const char *file, const char *parameters, bool elevated)
{
    if (!file || !*file)
        return 1;
    if (!elevated && StrStrIA(file, ".exe") && StartWithUserToken(file, parameters))
        return 0;
    // Documents, elevated programs, and programs without the user's token.
    INT_PTR shell = (INT_PTR)ShellExecuteA(0, 0, file, parameters && *parameters ? parameters : 0,
                                           0, SW_SHOWNORMAL);
    return shell > 32 ? 0 : 1;
}

static void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);   // leave it for the thread's own loop
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int RunAndWait(const char *program, const char *parameters, const char *folder, bool hidden,
               DWORD *exitCode)
{
    *exitCode = 0;
    char commandLine[PATH_BUFFER];
    int n = snprintf(commandLine, sizeof commandLine, "\"%s\" %s", program,
                     parameters ? parameters : "");
    if (n < 0 || n >= (int)sizeof commandLine)
        return 1;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(0, commandLine, 0, 0, FALSE, NORMAL_PRIORITY_CLASS, 0,
                        folder && *folder ? folder : 0, &startup, &info))
        return 1;
    CloseHandle(info.hThread);
    while (WaitForSingleObject(info.hProcess, 50) == WAIT_TIMEOUT) {
        PumpMessages();
        if (gSetupAbort)
            TerminateProcess(info.hProcess, 259);
    }
    GetExitCodeProcess(info.hProcess, exitCode);
    CloseHandle(info.hProcess);
    return 0;
}

// ---------------------------------------------------------------- the logon task

struct LogonTaskParts {
    bool comStarted;
    ITaskService *service;
    ITaskFolder *root;
    ITaskDefinition *task;
    IRegistrationInfo *registration;
    ITaskSettings *settings;
    IPrincipal *principal;
    ITriggerCollection *triggers;
    ITrigger *trigger;
    IActionCollection *actions;
    IAction *action;
    IExecAction *exec;
    IRegisteredTask *registered;
};

template <class T> static void ReleaseOne(T *&object)
{
    if (object)
        object->Release();
    object = 0;
}

static int FinishLogonTask(LogonTaskParts *p, int step)
{
    ReleaseOne(p->registered);
    ReleaseOne(p->exec);
    ReleaseOne(p->action);
    ReleaseOne(p->actions);
    ReleaseOne(p->trigger);
    ReleaseOne(p->triggers);
    ReleaseOne(p->principal);
    ReleaseOne(p->settings);
    ReleaseOne(p->registration);
    ReleaseOne(p->task);
    ReleaseOne(p->root);
    ReleaseOne(p->service);
    if (p->comStarted)
        CoUninitialize();
    return step;
}

// A BSTR of an ANSI text; the caller frees it.
static BSTR MakeBstr(const char *text)
{
    WCHAR wide[PATH_BUFFER];
    if (!MultiByteToWideChar(CP_ACP, 0, text ? text : "", -1, wide, PATH_BUFFER))
        wide[0] = 0;
    return SysAllocString(wide);
}

// The local name of a built-in group (S-1-5-32-rid), or 0.
static BSTR BuiltinGroupName(DWORD rid)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = 0;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, rid, 0, 0, 0, 0, 0, 0, &sid))
        return 0;
    char name[256], domain[256];
    DWORD nameLength = sizeof name, domainLength = sizeof domain;
    SID_NAME_USE use;
    BOOL found = LookupAccountSidA(0, sid, name, &nameLength, domain, &domainLength, &use);
    FreeSid(sid);
    return found ? MakeBstr(name) : 0;
}

static bool RegisterForGroup(LogonTaskParts *p, BSTR taskName, BSTR group)
{
    VARIANT user, empty;
    VariantInit(&user);
    VariantInit(&empty);
    user.vt = VT_BSTR;
    user.bstrVal = group;
    ReleaseOne(p->registered);
    HRESULT hr = p->root->RegisterTaskDefinition(taskName, p->task, TASK_CREATE_OR_UPDATE, user,
                                                 empty, TASK_LOGON_GROUP, empty, &p->registered);
    return SUCCEEDED(hr);
}

static bool SetTaskSettings(ITaskSettings *settings)
{
    BSTR noLimit = SysAllocString(L"PT0S");
    bool ok = SUCCEEDED(settings->put_StartWhenAvailable(VARIANT_TRUE)) &&
              SUCCEEDED(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE)) &&
              SUCCEEDED(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE)) &&
              SUCCEEDED(settings->put_ExecutionTimeLimit(noLimit)) &&
              SUCCEEDED(settings->put_MultipleInstances(TASK_INSTANCES_PARALLEL));
    SysFreeString(noLimit);
    return ok;
}

static bool SetExecAction(IExecAction *exec, const char *path, const char *arguments)
{
    BSTR bPath = MakeBstr(path), bArguments = MakeBstr(arguments);
    bool ok = SUCCEEDED(exec->put_Path(bPath)) && SUCCEEDED(exec->put_Arguments(bArguments));
    SysFreeString(bPath);
    SysFreeString(bArguments);
    return ok;
}

static int DefineLogonTask(LogonTaskParts *p, const char *programPath, const char *arguments)
{
    if (FAILED(p->service->NewTask(0, &p->task)))
        return 6;
    if (FAILED(p->task->get_RegistrationInfo(&p->registration)))
        return 7;
    BSTR author = SysAllocString(L"Kestrova");
    bool authorSet = SUCCEEDED(p->registration->put_Author(author));
    SysFreeString(author);
    if (!authorSet)
        return 8;
    if (FAILED(p->task->get_Settings(&p->settings)))
        return 9;
    if (!SetTaskSettings(p->settings))
        return 10;
    if (FAILED(p->task->get_Principal(&p->principal)))
        return 11;
    if (FAILED(p->principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST)))
        return 12;
    if (FAILED(p->task->get_Triggers(&p->triggers)))
        return 13;
    if (FAILED(p->triggers->Create(TASK_TRIGGER_LOGON, &p->trigger)))
        return 14;
    BSTR id = SysAllocString(L"Trigger1");
    // The trigger is a logon trigger by its creation; its id is common to all.
    bool idSet = SUCCEEDED(p->trigger->put_Id(id));
    SysFreeString(id);
    if (!idSet)
        return 15;
    if (FAILED(p->task->get_Actions(&p->actions)))
        return 16;
    if (FAILED(p->actions->Create(TASK_ACTION_EXEC, &p->action)))
        return 17;
    if (FAILED(p->action->QueryInterface(IID_IExecAction, (void **)&p->exec)))
        return 18;
    if (!SetExecAction(p->exec, programPath, arguments))
        return 19;
    return 0;
}

static int RegisterLogonTask(LogonTaskParts *p, BSTR taskName)
{
    BSTR admins = BuiltinGroupName(DOMAIN_ALIAS_RID_ADMINS);
    if (!admins)
        return 20;
    bool registered = RegisterForGroup(p, taskName, admins);
    SysFreeString(admins);
    if (!registered)
        return 21;
    BSTR users = BuiltinGroupName(DOMAIN_ALIAS_RID_USERS);
    if (!users)
        return 22;
    registered = RegisterForGroup(p, taskName, users);
    SysFreeString(users);
    return registered ? 0 : 23;
}

int CreateLogonTask(const char *taskName, const char *programPath, const char *arguments)
{
    LogonTaskParts p = {};
    HRESULT hr = CoInitializeEx(0, COINIT_APARTMENTTHREADED);
    if (hr == S_OK || hr == S_FALSE)
        p.comStarted = true;
    else if (hr != RPC_E_CHANGED_MODE)   // COM runs already, in the other model
        return 1;
    hr = CoInitializeSecurity(0, -1, 0, 0, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                              RPC_C_IMP_LEVEL_IMPERSONATE, 0, 0, 0);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE)
        return FinishLogonTask(&p, 2);
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, 0, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                (void **)&p.service)))
        return FinishLogonTask(&p, 3);
    VARIANT empty;
    VariantInit(&empty);
    if (FAILED(p.service->Connect(empty, empty, empty, empty)))
        return FinishLogonTask(&p, 4);
    BSTR rootName = SysAllocString(L"\\");
    hr = p.service->GetFolder(rootName, &p.root);
    SysFreeString(rootName);
    if (FAILED(hr))
        return FinishLogonTask(&p, 5);
    BSTR name = MakeBstr(taskName);
    p.root->DeleteTask(name, 0);   // a missing task is no error
    int step = 0;
    if (programPath && *programPath) {
        step = DefineLogonTask(&p, programPath, arguments);
        if (step == 0)
            step = RegisterLogonTask(&p, name);
    }
    SysFreeString(name);
    return FinishLogonTask(&p, step);
}

int CreateLogonTaskRetrying(const char *taskName, const char *programPath, const char *arguments,
                            int tries, DWORD delayMs)
{
    int result = 0;
    for (int attempt = 0; attempt < tries; attempt++) {
        if (attempt)
            Sleep(delayMs);
        result = CreateLogonTask(taskName, programPath, arguments);
        if (result == 0)
            break;
    }
    return result;
}

// ---------------------------------------------------------------- files

// 0 or the system's error code; a short write leaves no partial file.
static DWORD WriteBytesToFile(const char *path, const void *bytes, uint32_t size)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    DWORD error = 0;
    if (!WriteFile(file, bytes, size, &written, 0))
        error = GetLastError();
    else if (written != size)
        error = ERROR_WRITE_FAULT;
    CloseHandle(file);
    if (error)
        DeleteFileA(path);
    return error;
}

static int ReadDiskFile(const char *path, char **data, uint32_t *size)
{
    char *bytes = ReadWholeFile(path, size, 0x7FFFFFFF);
    if (!bytes)
        return COPY_FAILED;
    *data = bytes;
    return 0;
}

int ReadArchiveFile(const char *name, char **data, uint32_t *size)
{
    *data = 0;
    *size = 0;
    HMODULE module = gResourceModule ? gResourceModule : GetModuleHandleA(0);
    HRSRC resource = name && *name ? FindResourceA(module, name, (LPCSTR)RT_RCDATA) : 0;
    if (!resource)
        return COPY_NOT_IN_ARCHIVE;
    HGLOBAL loaded = LoadResource(module, resource);
    const void *bytes = loaded ? LockResource(loaded) : 0;
    DWORD length = SizeofResource(module, resource);
    if (!bytes || !length)
        return COPY_FAILED;
    ZipHandle *zip = CZipReader::OpenSource(bytes, length, ZIP_SOURCE_MEMORY, SETUP_ARCHIVE_PASSWORD);
    if (!zip)
        return COPY_FAILED;
    int index = -1;
    ZipEntryInfo info;
    int found = CZipReader::FindEntry(zip, name, 1, &index, &info);
    int result = found == ZIP_NOT_FOUND ? COPY_NOT_IN_ARCHIVE : found ? COPY_FAILED : 0;
    char *buffer = 0;
    if (result == 0 && info.uncompressedSize < 0x7FFFFFFF) {
        buffer = (char *)malloc((size_t)info.uncompressedSize + 1);
        if (!buffer || CZipReader::ExtractToMemory(zip, index, buffer, info.uncompressedSize) != 0)
            result = COPY_FAILED;
    } else if (result == 0) {
        result = COPY_FAILED;
    }
    CZipReader::Close(zip);
    if (result) {
        free(buffer);
        return result;
    }
    buffer[info.uncompressedSize] = 0;
    *data = buffer;
    *size = info.uncompressedSize;
    return 0;
}

int LoadFileOrArchive(const char *path, char **data, uint32_t *size)
{
    *data = 0;
    *size = 0;
    if (IsExistingFile(path))
        return ReadDiskFile(path, data, size);
    return ReadArchiveFile(PathFileName(path), data, size);
}

int CreateFolderTree(const char *folder)
{
    char path[PATH_BUFFER];
    if (!folder || !*folder || strlen(folder) >= sizeof path)
        return CREATEDIR_FAILED;
    strcpy(path, folder);
    CutTrailingSeparators(path);
    // Find the deepest existing parent, then create each level below it.
    size_t length = strlen(path);
    size_t existing = length;
    while (existing > 0 && !FolderExists(path)) {
        while (existing > 0 && path[existing - 1] != '\\' && path[existing - 1] != '/')
            existing--;
        while (existing > 0 && (path[existing - 1] == '\\' || path[existing - 1] == '/'))
            existing--;
        char keep = path[existing];
        path[existing] = 0;
        bool found = existing == 0 || FolderExists(path) ||
                     (existing == 2 && path[1] == ':');   // a drive without its root
        path[existing] = keep;
        if (found)
            break;
    }
    strcpy(path, folder);
    CutTrailingSeparators(path);
    for (size_t end = existing + 1; end <= length; end++) {
        if (end < length && path[end] != '\\' && path[end] != '/')
            continue;
        char keep = path[end];
        path[end] = 0;
        for (int retry = 0; !CreateDirectoryA(path, 0) && !FolderExists(path); retry++) {
            if (retry == 10)
                return CREATEDIR_FAILED;
            Sleep(SETUP_TRY_STEP_MS);
        }
        path[end] = keep;
    }
    return FolderExists(path) ? 0 : CREATEDIR_FAILED;
}

int RemoveFolder(const char *folder)
{
    if (!folder || !*folder)
        return REMOVEDIR_LATER;
    if (RemoveDirectoryA(folder))
        return 0;
    DWORD why = GetLastError();
    if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES)
        return 0;
    // A folder that still holds files (the user's own, in a data folder the
    // user chose) stays; only one held by someone is left for the restart.
    if (why != ERROR_DIR_NOT_EMPTY)
        MoveFileExA(folder, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    return REMOVEDIR_LATER;
}

bool DeleteFileRetrying(const char *path, DWORD tryTimeMs)
{
    DWORD limit = tryTimeMs < 1000 ? 1000 : tryTimeMs;
    DWORD start = GetTickCount();
    for (;;) {
        if (DeleteFileA(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            return true;
        if (Elapsed(start) >= limit)
            break;
        Sleep(SETUP_TRY_STEP_MS);
    }
    MoveFileExA(path, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    return false;
}

static bool IsLockError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

struct CopySource {
    const char *path;   // on disk, or
    char *bytes;        // from the archive
    uint32_t size;
};

static DWORD CopyOnce(const CopySource *source, const char *target)
{
    if (!source->bytes)
        return CopyFileA(source->path, target, FALSE) ? 0 : GetLastError();
    return WriteBytesToFile(target, source->bytes, source->size);
}

static DWORD CopyRetrying(const CopySource *source, const char *target, DWORD tryTimeMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        DWORD error = CopyOnce(source, target);
        if (!error || Elapsed(start) >= tryTimeMs)
            return error;
        Sleep(SETUP_TRY_STEP_MS);
    }
}

// The locked target moves aside to "<target>.bak", removed at the restart.
static DWORD CopyPastLock(const CopySource *source, const char *target)
{
    char backup[PATH_BUFFER];
    if (!FormatPath(backup, sizeof backup, "%s.bak", target) ||
        !MoveFileExA(target, backup, MOVEFILE_REPLACE_EXISTING))
        return ERROR_SHARING_VIOLATION;
    MoveFileExA(backup, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    InterlockedExchange(&gRestartNeeded, 1);
    return CopyOnce(source, target);
}

static bool ResolveCopyTarget(const char *source, const char *target, char *out, size_t size)
{
    size_t n = strlen(target);
    bool folder = FolderExists(target) || (n && (target[n - 1] == '\\' || target[n - 1] == '/'));
    if (!folder)
        return FormatPath(out, size, "%s", target);
    const char *separator = (n && (target[n - 1] == '\\' || target[n - 1] == '/')) ? "" : "\\";
    char joined[PATH_BUFFER];
    if (!FormatPath(joined, sizeof joined, "%s%s", target, separator))
        return false;
    return FormatPath(out, size, "%s%s", joined, PathFileName(source));
}

int CopySetupFile(const char *source, const char *target, int option, DWORD tryTimeMs,
                  char *finalTarget)
{
    char path[PATH_BUFFER];
    if (finalTarget)
        finalTarget[0] = 0;
    if (!source || !*source || !target || !*target || !*PathFileName(source) ||
        !ResolveCopyTarget(source, target, path, 260))
        return COPY_FAILED;
    if (finalTarget)
        strcpy(finalTarget, path);
    CopySource from = {source, 0, 0};
    if (!IsExistingFile(source)) {
        int result = ReadArchiveFile(PathFileName(source), &from.bytes, &from.size);
        if (result)
            return result;
    }
    DWORD error = CopyRetrying(&from, path, tryTimeMs);
    if (error && IsLockError(error) && option == COPY_REBOOT_IF_LOCKED)
        error = CopyPastLock(&from, path);
    free(from.bytes);
    if (error && option == COPY_SILENT && IsExistingFile(path))
        error = 0;
    return error ? COPY_FAILED : 0;
}

// ---------------------------------------------------------------- links

static bool CreateParentFolders(const char *path)
{
    char parent[PATH_BUFFER];
    if (!FormatPath(parent, sizeof parent, "%s", path))
        return false;
    char *cut = (char *)PathFileName(parent);
    if (cut == parent)
        return true;
    *cut = 0;
    return CreateFolderTree(parent) == 0;
}

static int CreateInternetShortcut(const char *target, const char *linkPath)
{
    char path[PATH_BUFFER], text[PATH_BUFFER + 32];
    if (!FormatPath(path, sizeof path, "%s.url", linkPath) ||
        !FormatPath(text, sizeof text, "[InternetShortcut]\r\nURL=%s", target))
        return 1;
    CreateParentFolders(path);
    return WriteBytesToFile(path, text, (uint32_t)strlen(text)) ? 1 : 0;
}

static bool SaveShellLink(const char *target, const char *arguments, const char *iconFile,
                          const char *savePath)
{
    IShellLinkA *link = 0;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void **)&link)))
        return false;
    IPersistFile *file = 0;
    WCHAR wide[MAX_PATH];
    bool saved = SUCCEEDED(link->SetPath(target)) &&
                 SUCCEEDED(link->SetArguments(arguments ? arguments : "")) &&
                 SUCCEEDED(link->SetIconLocation(iconFile && *iconFile ? iconFile : target, 0)) &&
                 SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void **)&file)) &&
                 MultiByteToWideChar(CP_ACP, 0, savePath, -1, wide, MAX_PATH) &&
                 SUCCEEDED(file->Save(wide, TRUE));
    if (file)
        file->Release();
    link->Release();
    return saved;
}

int CreateShellLink(const char *target, const char *linkPath, const char *arguments,
                    const char *iconFile)
{
    if (!target || !*target || !linkPath || !*linkPath)
        return 1;
    if (!_strnicmp(target, "http://", 7))
        return CreateInternetShortcut(target, linkPath);
    char temp[MAX_PATH], tempLink[PATH_BUFFER], path[PATH_BUFFER];
    if (!GetTempPathA(sizeof temp, temp))
        return 1;
    CutTrailingSeparators(temp);
    if (!FormatPath(tempLink, sizeof tempLink, "%s\\Temp.%s", temp, "lnk") ||
        !FormatPath(path, sizeof path, "%s.lnk", linkPath))
        return 3;
    HRESULT com = CoInitializeEx(0, COINIT_APARTMENTTHREADED);
    bool saved = SaveShellLink(target, arguments, iconFile, tempLink);
    if (com == S_OK || com == S_FALSE)
        CoUninitialize();
    if (!saved)
        return 1;
    char *bytes = 0;
    uint32_t size = 0;
    int result = ReadDiskFile(tempLink, &bytes, &size) ? 2 : 0;
    if (result == 0 && (!CreateParentFolders(path) || WriteBytesToFile(path, bytes, size)))
        result = 3;
    free(bytes);
    DeleteFileA(tempLink);
    return result;
}

// ---------------------------------------------------------------- patches

struct PatchRecord {
    uint32_t offset, length;
    const char *bytes;
};

static uint32_t ReadU32(const char *p)
{
    const unsigned char *u = (const unsigned char *)p;
    return u[0] | (u[1] << 8) | (u[2] << 16) | ((uint32_t)u[3] << 24);
}

// Checks every record before anything is written, so that a damaged patch
// leaves the copied file as it was rather than half patched.
static bool PatchIsWhole(const char *patch, uint32_t size)
{
    uint32_t position = 0;
    while (position < size) {
        if (size - position < 8)
            return false;
        uint32_t length = ReadU32(patch + position + 4);
        if (length > size - position - 8)
            return false;
        position += 8 + length;
    }
    return true;
}

static bool WritePatchRecords(HANDLE file, const char *patch, uint32_t size)
{
    for (uint32_t position = 0; position < size;) {
        uint32_t offset = ReadU32(patch + position), length = ReadU32(patch + position + 4);
        DWORD written = 0;
        if (SetFilePointer(file, (LONG)offset, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
            !WriteFile(file, patch + position + 8, length, &written, 0) || written != length)
            return false;
        position += 8 + length;
    }
    return true;
}

// A patch name is a plain file name: it must not lead out of the target folder.
static bool IsPlainFileName(const char *name)
{
    return *name && !strpbrk(name, "\\/:") && strcmp(name, ".") && strcmp(name, "..");
}

int ApplyPatch(const char *source, const char *patchName, const char *targetFolder,
               DWORD tryTimeMs)
{
    char target[PATH_BUFFER], folder[PATH_BUFFER];
    if (!patchName || !IsPlainFileName(patchName) || !targetFolder ||
        !FormatPath(folder, sizeof folder, "%s", targetFolder))
        return PATCH_FAILED;
    CutTrailingSeparators(folder);
    if (!FormatPath(target, 260, "%s\\%s", folder, patchName))
        return PATCH_FAILED;
    char *patch = 0;
    uint32_t size = 0;
    if (LoadFileOrArchive(patchName, &patch, &size) || !PatchIsWhole(patch, size)) {
        free(patch);
        return PATCH_FAILED;
    }
    int result = CopySetupFile(source, target, COPY_PLAIN, tryTimeMs, 0);
    if (result == 0) {
        HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
        if (file == INVALID_HANDLE_VALUE)
            result = PATCH_FAILED;
        else {
            if (!WritePatchRecords(file, patch, size))
                result = PATCH_FAILED;
            CloseHandle(file);
        }
    }
    free(patch);
    return result;
}

// ---------------------------------------------------------------- registry, services

bool Is64BitSystem()
{
    typedef BOOL(WINAPI * IsWow64Proc)(HANDLE, PBOOL);
    IsWow64Proc isWow64 =
        (IsWow64Proc)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

typedef LONG(WINAPI *RegDeleteKeyExProc)(HKEY, LPCSTR, REGSAM, DWORD);

static LONG DeleteTree64(HKEY root, const char *key, RegDeleteKeyExProc deleteKey, int depth)
{
    HKEY handle;
    LONG status = RegOpenKeyExA(root, key, 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, &handle);
    if (status != ERROR_SUCCESS)
        return status;
    char child[256], path[PATH_BUFFER];
    for (;;) {
        DWORD length = sizeof child;
        // Always the first subkey: each one is gone after its turn.
        if (depth > 512 || RegEnumKeyExA(handle, 0, child, &length, 0, 0, 0, 0) != ERROR_SUCCESS)
            break;
        if (!FormatPath(path, sizeof path, "%s\\%s", key, child) ||
            DeleteTree64(root, path, deleteKey, depth + 1) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(handle);
    return deleteKey(root, key, KEY_WOW64_64KEY, 0);
}

LONG DeleteRegistryTree(HKEY root, const char *key, bool view64)
{
    // An empty key would name the whole root.
    if (!key || !key[strspn(key, "\\")])
        return ERROR_INVALID_PARAMETER;
    if (view64 && Is64BitSystem()) {
        RegDeleteKeyExProc deleteKey = (RegDeleteKeyExProc)(void *)GetProcAddress(
            GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA");
        if (deleteKey)
            return DeleteTree64(root, key, deleteKey, 0);
    }
    return (LONG)SHDeleteKeyA(root, key);
}

int StopServiceByName(const char *name)
{
    SC_HANDLE manager = OpenSCManagerA(0, 0, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return 1;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return 0;
}

// ---------------------------------------------------------------- the system

int SystemVersionCode()
{
    typedef LONG(WINAPI * RtlGetVersionProc)(OSVERSIONINFOW *);
    RtlGetVersionProc getVersion = (RtlGetVersionProc)(void *)GetProcAddress(
        GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!getVersion || getVersion(&version) != 0)
        return 0;
    if (version.dwMajorVersion >= 10)
        return 630;
    if (version.dwMajorVersion != 6)
        return 0;
    if (version.dwMinorVersion == 0)
        return 600;
    return version.dwMinorVersion == 1 ? 610 : 620;
}

uint64_t FreeDiskSpace(const char *folder)
{
    typedef BOOL(WINAPI * FreeSpaceExProc)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER,
                                           PULARGE_INTEGER);
    FreeSpaceExProc freeSpaceEx = (FreeSpaceExProc)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetDiskFreeSpaceExA");
    ULARGE_INTEGER available, total, free;
    if (freeSpaceEx)
        return freeSpaceEx(folder, &available, &total, &free) ? available.QuadPart : 0;
    char root[4] = {folder[0], ':', '\\', 0};
    DWORD sectors, bytes, freeClusters, clusters;
    if (!GetDiskFreeSpaceA(root, &sectors, &bytes, &freeClusters, &clusters))
        return 0;
    return (uint64_t)sectors * bytes * freeClusters;
}

int RemoveSelf()
{
    char program[MAX_PATH], folder[MAX_PATH], shell[MAX_PATH], system[MAX_PATH];
    DWORD n = GetModuleFileNameA(0, program, sizeof program);
    if (!n || n >= sizeof program)
        return 1;
    strcpy(folder, program);
    *(char *)PathFileName(folder) = 0;
    CutTrailingSeparators(folder);
    MoveFileExA(program, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    n = GetEnvironmentVariableA("ComSpec", shell, sizeof shell);
    if (!n || n >= sizeof shell)
        return 1;
    char commandLine[PATH_BUFFER];
    int length = snprintf(commandLine, sizeof commandLine, "\"%s\" /c del \"%s\" & rmdir \"%s\"",
                          shell, program, folder);
    if (length < 0 || length >= (int)sizeof commandLine)
        return 1;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    // The interpreter must not stand in the folder it is to remove.
    GetSystemDirectoryA(system, sizeof system);
    if (!CreateProcessA(shell, commandLine, 0, 0, FALSE, CREATE_NO_WINDOW, 0, system, &startup,
                        &info))
        return 1;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    ExitProcess(0);
}
