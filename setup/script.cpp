// The setup script interpreter: variables, parsing, phases, conditions and
// the commands. One interpreter for setup and uninstall, so that what an
// installation does and how it is undone are both written as scripts.
#include "setup/script.h"

#include <shlobj.h>
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "setup/setupinfo.h"
#include "setup/sysactions.h"

ScriptState gScript;

enum { VALUE_MAX = SCRIPT_VALUE_SIZE - 1, LONG_TEXT = 1100 };

void SetScriptText(const char *text)
{
    gScript.text = text;
}

void ResetScript()
{
    free(gScript.variables);
    gScript.variables = 0;
    gScript.variableCount = gScript.variableCapacity = 0;
    gScript.conditionTop = 0;
    gScript.currentError = 0;
}

// ---------------------------------------------------------------- variables

// The lookup rule: the first variable, in creation order, whose whole name
// begins the query (case-sensitive).
static int FindVariable(const char *query)
{
    for (int i = 0; i < gScript.variableCount; i++) {
        const ScriptVariable *v = &gScript.variables[i];
        if (strncmp(query, v->name, (size_t)v->nameLength) == 0)
            return i;
    }
    return -1;
}

static int FindExactVariable(const char *name)
{
    for (int i = 0; i < gScript.variableCount; i++)
        if (strcmp(gScript.variables[i].name, name) == 0)
            return i;
    return -1;
}

static bool GrowVariables()
{
    if (gScript.variableCount < gScript.variableCapacity)
        return true;
    int capacity = gScript.variableCapacity ? gScript.variableCapacity * 2 : 32;
    ScriptVariable *grown =
        (ScriptVariable *)realloc(gScript.variables, (size_t)capacity * sizeof *grown);
    if (!grown)
        return false;
    gScript.variables = grown;
    gScript.variableCapacity = capacity;
    return true;
}

int SetVariable(const char *name, const char *value)
{
    size_t nameLength = name ? strlen(name) : 0;
    if (nameLength == 0 || nameLength >= SCRIPT_NAME_SIZE)
        return SE_NOT_STORED;
    // Set replaces the variable of exactly this name; the prefix rule of
    // lookups would let "#AB#" overwrite an older "#A".
    int index = FindExactVariable(name);
    if (index < 0) {
        if (!GrowVariables())
            return SE_NOT_STORED;
        index = gScript.variableCount++;
        ScriptVariable *v = &gScript.variables[index];
        memcpy(v->name, name, nameLength + 1);
        v->nameLength = (int)nameLength;
    }
    ScriptVariable *v = &gScript.variables[index];
    CopyText(v->value, value, SCRIPT_VALUE_SIZE);
    v->valueLength = (int)strlen(v->value);
    v->number = atof(v->value);
    return 0;
}

const char *GetVariableText(const char *name)
{
    int index = FindVariable(name);
    return index < 0 ? "" : gScript.variables[index].value;
}

double GetVariableNumber(const char *name)
{
    int index = FindVariable(name);
    return index < 0 ? -1 : gScript.variables[index].number;
}

int CopyVariable(const char *name, char *buffer, int size)
{
    int index = FindVariable(name);
    if (index >= 0 && buffer && size > 0)
        CopyText(buffer, gScript.variables[index].value, size);
    return index;
}

// Scanning goes on after the first character of each inserted value, so a
// value may hold further variables; the text never grows past 519.
void SubstituteVariables(char *text)
{
    int length = (int)strnlen(text, VALUE_MAX);
    text[length] = 0;
    for (int position = 0; position < length;) {
        int index = FindVariable(text + position);
        if (index < 0) {
            position++;
            continue;
        }
        const ScriptVariable *v = &gScript.variables[index];
        char rest[SCRIPT_VALUE_SIZE];
        strcpy(rest, text + position + v->nameLength);
        int room = VALUE_MAX - position;
        int valueLength = v->valueLength < room ? v->valueLength : room;
        memcpy(text + position, v->value, (size_t)valueLength);
        CopyText(text + position + valueLength, rest, room - valueLength + 1);
        length = (int)strlen(text);
        if (valueLength > 0)
            position++;
    }
}

// ---------------------------------------------------------------- parsing

static const struct {
    const char *name;
    int minimum;        // fewer arguments give error 3
    bool asUser;        // acts as the desktop user when #REALUSER# is 1
} kCommands[SC_COUNT] = {
    {"Set", 2, false},            {"CloseProgram", 1, false},   {"CreateDir", 1, true},
    {"CopyFile", 2, true},        {"CreateLink", 2, true},      {"ChangeNotify", 1, true},
    {"CreateRegValSz", 4, true},  {"CreateRegValDW", 4, true},  {"CreateSetupInfo", 2, false},
    {"DeleteFile", 1, true},      {"RemoveDir", 1, true},       {"DeleteRegKey", 2, true},
    {"DeleteRegVal", 3, true},    {"PatchFile", 3, true},       {"If", 3, false},
    {"Else", 0, false},           {"Endif", 0, false},          {"StopService", 1, false},
    {"PhaseBegin", 0, false},     {"PhaseEnd", 0, false},       {"Run", 1, true},
    {"Call", 1, true},            {"Error", 1, false},          {"Status", 1, false},
    {"Status2", 1, false},        {"LogonTrigger", 1, false},
};

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

static bool IsLineBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Lines end at CR; a lone LF ends one too, so that a script saved with
// Unix line ends does not run together into one line.
const char *LineEnd(const char *position)
{
    while (*position && *position != '\r' && *position != '\n')
        position++;
    return position;
}

static const char *SkipBlanks(const char *position)
{
    while (IsBlank(*position))
        position++;
    return position;
}

int MatchCommand(const char *position, const char **arguments, const char **lineEnd)
{
    const char *start = SkipBlanks(position);
    *lineEnd = LineEnd(start);
    *arguments = *lineEnd;
    for (int command = 0; command < SC_COUNT; command++) {
        size_t length = strlen(kCommands[command].name);
        if (_strnicmp(start, kCommands[command].name, length) == 0 && IsBlank(start[length])) {
            const char *cursor = start + length;
            while (cursor < *lineEnd && IsLineBlank(*cursor))
                cursor++;
            *arguments = cursor;
            return command;
        }
    }
    return -1;
}

bool NextArgument(const char **cursor, const char *lineEnd, char *buffer)
{
    const char *p = *cursor;
    int n = 0;
    buffer[0] = 0;
    while (p < lineEnd && IsLineBlank(*p))
        p++;
    if (p >= lineEnd) {
        *cursor = p;
        return false;
    }
    if (*p == '"') {
        for (p++; p < lineEnd && *p != '"'; p++)
            if (n < VALUE_MAX)
                buffer[n++] = *p == '^' ? '"' : *p;
        if (p < lineEnd)
            p++;
    } else {
        for (; p < lineEnd && *p != ','; p++)
            if (n < VALUE_MAX)
                buffer[n++] = *p == '^' ? '"' : *p;
        while (n > 0 && IsLineBlank(buffer[n - 1]))
            n--;
    }
    buffer[n] = 0;
    while (p < lineEnd && IsLineBlank(*p))
        p++;
    if (p < lineEnd && *p == ',')
        p++;
    *cursor = p;
    return true;
}

static int ReadRawArguments(const char *cursor, const char *lineEnd, int count)
{
    for (int i = 0; i < SCRIPT_ARGUMENTS; i++)
        gScript.arguments[i][0] = 0;
    int read = 0;
    while (read < count && read < SCRIPT_ARGUMENTS &&
           NextArgument(&cursor, lineEnd, gScript.arguments[read]))
        read++;
    return read;
}

int ReadArguments(const char *cursor, const char *lineEnd, int count)
{
    int read = ReadRawArguments(cursor, lineEnd, count);
    for (int i = 0; i < read; i++)
        SubstituteVariables(gScript.arguments[i]);
    return read;
}

// ---------------------------------------------------------------- status window

static LRESULT SendToStatus(UINT message, WPARAM wParam, LPARAM lParam)
{
    return gScript.statusWindow ? SendMessageA(gScript.statusWindow, message, wParam, lParam) : 0;
}

static void ShowStatus(int line, const char *format, const char *a = "", const char *b = "")
{
    if (!gScript.statusWindow)
        return;
    char text[LONG_TEXT];
    snprintf(text, sizeof text, format, a, b);
    SendToStatus(SETUPM_STATUS, (WPARAM)line, (LPARAM)text);
}

// ---------------------------------------------------------------- conditions

static int conditionOverflow;   // levels beyond the stack: always skipping

static bool Skipping()
{
    if (conditionOverflow > 0)
        return true;
    for (int i = 0; i < gScript.conditionTop; i++)
        if (gScript.conditions[i] == 2)
            return true;
    return false;
}

static void PushCondition(bool run)
{
    if (gScript.conditionTop < SCRIPT_CONDITION_DEPTH)
        gScript.conditions[gScript.conditionTop++] = run ? 1 : 2;
    else
        conditionOverflow++;
}

// 1 true, 0 false, -1 unknown operator.
static int Compare(const char *left, const char *op, const char *right)
{
    if (!strcmp(op, "="))
        return _stricmp(left, right) == 0;
    if (!strcmp(op, "!"))
        return _stricmp(left, right) != 0;
    double a = atof(left), b = atof(right);
    if (!strcmp(op, "<"))
        return a < b;
    if (!strcmp(op, "<="))
        return a <= b;
    if (!strcmp(op, ">"))
        return a > b;
    if (!strcmp(op, ">="))
        return a >= b;
    return -1;
}

static int RunIf(const char *arguments, const char *lineEnd)
{
    if (Skipping()) {   // keeps the nesting balanced
        PushCondition(false);
        return 0;
    }
    int n = ReadArguments(arguments, lineEnd, 5);
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    if ((n != 3 && n != 5) || gScript.conditionTop == SCRIPT_CONDITION_DEPTH) {
        PushCondition(false);   // the block of a broken "If" is skipped
        return SE_ARGUMENTS;
    }
    bool result = Compare(a[0], a[1], a[2]) == 1;
    if (n == 5) {
        int second = Compare(a[0], a[3], a[4]);
        if (second >= 0)
            result = result && second == 1;
    }
    PushCondition(result);
    return 0;
}

static int RunCondition(int command, const char *arguments, const char *lineEnd)
{
    if (command == SC_IF)
        return RunIf(arguments, lineEnd);
    if (conditionOverflow > 0) {
        if (command == SC_ENDIF)
            conditionOverflow--;
        return 0;
    }
    if (gScript.conditionTop == 0)
        return 0;
    unsigned char *top = &gScript.conditions[gScript.conditionTop - 1];
    if (command == SC_ELSE)
        *top = *top == 1 ? 2 : 1;
    else
        gScript.conditionTop--;
    return 0;
}

// ---------------------------------------------------------------- registry commands

static bool ParseRoot(const char *text, HKEY *root)
{
    if (!_stricmp(text, "HKEY_CLASSES_ROOT") || !_stricmp(text, "CR"))
        *root = HKEY_CLASSES_ROOT;
    else if (!_stricmp(text, "HKEY_LOCAL_MACHINE") || !_stricmp(text, "LM"))
        *root = HKEY_LOCAL_MACHINE;
    else if (!_stricmp(text, "HKEY_CURRENT_USER") || !_stricmp(text, "CU"))
        *root = HKEY_CURRENT_USER;
    else
        return false;
    return true;
}

// The root to use and whether to close it: the current user's hive is the
// desktop user's while acting as that user.
static bool OpenRoot(const char *text, HKEY *root, bool *mustClose)
{
    *mustClose = false;
    if (!ParseRoot(text, root))
        return false;
    if (*root == HKEY_CURRENT_USER)
        *root = OpenCurrentUserRoot(mustClose);
    return true;
}

static REGSAM ViewFlag(const char *option)
{
    return !_stricmp(option, "x64") && Is64BitSystem() ? KEY_WOW64_64KEY : 0;
}

static int SetRegistryValue(int error, DWORD type)
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    ShowStatus(0, "Creating Registry value: %s=%s", a[2], a[3]);
    HKEY root, key;
    bool mustClose;
    if (!OpenRoot(a[0], &root, &mustClose))
        return error;
    LONG status = RegCreateKeyExA(root, a[1], 0, 0, 0, KEY_SET_VALUE | ViewFlag(a[4]), 0, &key, 0);
    if (status == ERROR_SUCCESS) {
        if (type == REG_SZ)
            status = RegSetValueExA(key, a[2], 0, REG_SZ, (const BYTE *)a[3],
                                    (DWORD)strlen(a[3]) + 1);
        else {
            DWORD number = (DWORD)strtoll(a[3], 0, 10);
            status = RegSetValueExA(key, a[2], 0, REG_DWORD, (const BYTE *)&number, sizeof number);
        }
        RegCloseKey(key);
    }
    if (mustClose)
        RegCloseKey(root);
    // A value that was not written is reported, not passed over.
    return status == ERROR_SUCCESS ? 0 : error;
}

static int DeleteRegistryKeyCommand()
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    ShowStatus(0, "Deleting Registry key: %s", a[1]);
    HKEY root;
    bool mustClose;
    // An empty key would delete everything under the root.
    if (!a[1][strspn(a[1], "\\ ")] || !OpenRoot(a[0], &root, &mustClose))
        return SE_REG_DELETE_KEY;
    DeleteRegistryTree(root, a[1], !_stricmp(a[2], "x64"));
    if (mustClose)
        RegCloseKey(root);
    return 0;
}

static int DeleteRegistryValueCommand()
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    ShowStatus(0, "Deleting Registry value: %s", a[2]);
    HKEY root, key;
    bool mustClose;
    if (!OpenRoot(a[0], &root, &mustClose))
        return SE_REG_DELETE_VALUE;
    if (RegOpenKeyExA(root, a[1], 0, KEY_SET_VALUE | ViewFlag(a[3]), &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, a[2]);
        RegCloseKey(key);
    }
    if (mustClose)
        RegCloseKey(root);
    return 0;
}

// ---------------------------------------------------------------- file commands

static DWORD TryTime()
{
    double ms = GetVariableNumber("#TRYTIME#");
    return ms > 0 ? (DWORD)ms : 0;
}

static int CopyFileCommand()
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    int option = !_stricmp(a[2], "REBOOTIFLOCKED") ? COPY_REBOOT_IF_LOCKED
                 : !_stricmp(a[2], "SILENT")       ? COPY_SILENT
                                                   : COPY_PLAIN;
    ShowStatus(0, "Copying file: %s", a[1]);
    return CopySetupFile(a[0], a[1], option, TryTime(), 0);
}

static bool HasWildcard(const char *text)
{
    return strpbrk(text, "*?") != 0;
}

// Splits path into its folder (with the trailing separator) and its last part.
static const char *LastPart(const char *path, char *folder)
{
    const char *cut = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            cut = p + 1;
    memcpy(folder, path, cut - path);
    folder[cut - path] = 0;
    return cut;
}

static void DeleteMatchingFiles(const char *mask)
{
    char folder[SCRIPT_VALUE_SIZE], path[LONG_TEXT];
    const char *pattern = LastPart(mask, folder);
    // The search also matches short names: "*.rgc" would find a user's
    // "notes.rgcx" by its "NOTES~1.RGC". Only the long name counts.
    bool everything = !strcmp(pattern, "*") || !strcmp(pattern, "*.*");
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(mask, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (!everything && !PathMatchSpecA(entry.cFileName, pattern))
            continue;
        snprintf(path, sizeof path, "%s%s", folder, entry.cFileName);
        ShowStatus(0, "Deleting file: %s", path);
        DeleteFileRetrying(path, TryTime());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

// Calls act(folder path) for every folder matching pattern, whose last part
// may hold wildcards (the program's folders of user-chosen names, such as
// its profiles); a pattern without wildcards is the one folder itself.
template <typename Act> static void ForEachFolder(const char *pattern, Act act)
{
    char parent[SCRIPT_VALUE_SIZE], path[LONG_TEXT];
    const char *last = LastPart(pattern, parent);
    if (!HasWildcard(last)) {
        act(pattern);
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !strcmp(entry.cFileName, ".") || !strcmp(entry.cFileName, ".."))
            continue;
        snprintf(path, sizeof path, "%s%s", parent, entry.cFileName);
        act(path);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

// "DeleteFile": the mask's file part may hold wildcards, and so may the last
// folder of its path ("#CONFIGPATH#\Profile-*\Options0.rgc").
static int DeleteFileCommand()
{
    char folder[SCRIPT_VALUE_SIZE], mask[LONG_TEXT];
    const char *name = LastPart(gScript.arguments[0], folder);
    size_t n = strlen(folder);
    if (n > 1 && (folder[n - 1] == '\\' || folder[n - 1] == '/') && folder[n - 2] != ':' &&
        HasWildcard(folder)) {
        folder[n - 1] = 0;
        ForEachFolder(folder, [&](const char *each) {
            snprintf(mask, sizeof mask, "%s\\%s", each, name);
            DeleteMatchingFiles(mask);
        });
        return 0;
    }
    DeleteMatchingFiles(gScript.arguments[0]);
    return 0;
}

// "RemoveDir": every matching empty folder goes; 20 when one stays.
static int RemoveDirCommand()
{
    int result = 0;
    ForEachFolder(gScript.arguments[0], [&](const char *folder) {
        ShowStatus(0, "Removing directory: %s", folder);
        if (RemoveFolder(folder))
            result = SE_REMOVEDIR;
    });
    return result;
}

static int CreateSetupInfoCommand()
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    SetupInfoRecord record;
    BuildSetupInfo(&record, a[0], a[1], (int)GetVariableNumber("#FORWHO#"),
                   (int)GetVariableNumber("#CUSTOMLOC#"), (int)GetVariableNumber("#INDIVIDUAL#"),
                   GetVariableText("#INSTALLPATH#"), GetVariableText("#CUSTOMPATH#"),
                   GetVariableText("#BUYURL#"), GetVariableText("#VERURL#"),
                   GetVariableText("#DLDURL#"));
    // Undefined numbers read as -1; the record wants 0 then.
    if (GetVariableNumber("#FORWHO#") < 0)
        record.forWhom = 0;
    if (GetVariableNumber("#CUSTOMLOC#") < 0)
        record.customLocation = 0;
    if (GetVariableNumber("#INDIVIDUAL#") < 0)
        record.individual = 0;
    WriteSetupInfo(a[0], &record);   // a failed write is no error
    char configPath[260];
    bool asUser = ActAsDesktopUser(true);
    GetConfigFolder(a[0], configPath);
    if (asUser)
        ActAsDesktopUser(false);
    SetVariable("#CONFIGPATH#", configPath);
    return 0;
}

// ---------------------------------------------------------------- programs

static int CallCommand()
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    ShowStatus(0, "Executing: %s", a[0]);
    DWORD exitCode = 0;
    bool hidden = a[3][0] == 'H' || a[3][0] == 'h';
    if (RunAndWait(a[0], a[1], a[2], hidden, &exitCode) != 0) {
        SetVariable("#LASTERROR#", "0");
        return !_stricmp(a[4], "SILENT") ? 0 : SE_NOT_STARTED;
    }
    char code[16];
    snprintf(code, sizeof code, "%08lx", (unsigned long)exitCode);
    SetVariable("#LASTERROR#", code);
    return 0;
}

static int LogonTriggerCommand()
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    ShowStatus(0, a[1][0] ? "Creating startup task" : "Deleting startup task");
    int step = CreateLogonTaskRetrying(a[0], a[1], a[2], 10, 1000);
    if (step == 0)
        return 0;
    char code[16];
    snprintf(code, sizeof code, "%08x", step);
    SetVariable("#LASTERROR#", code);
    return SE_TASK_SCHEDULER;
}

static int StatusCommand(int line)
{
    char *text = gScript.arguments[0];
    if (line == 1)   // "\n" pairs become line breaks; the length stays
        for (char *p = text; p[0] && p[1]; p++)
            if (p[0] == '\\' && p[1] == 'n') {
                p[0] = '\r';
                p[1] = '\n';
                p++;
            }
    ShowStatus(line, "%s", text);
    return 0;
}

// ---------------------------------------------------------------- commands

static int SetCommand(const char *arguments, const char *lineEnd)
{
    ShowStatus(0, "Setting variable...");
    if (ReadRawArguments(arguments, lineEnd, 2) < 2)
        return SE_ARGUMENTS;
    SubstituteVariables(gScript.arguments[1]);
    return SetVariable(gScript.arguments[0], gScript.arguments[1]);
}

static int RunFileCommand(int command)
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    switch (command) {
    case SC_CLOSEPROGRAM:
        ShowStatus(0, "Closing program...");
        return CloseProgram(a[0]) ? SE_PROGRAM_RUNNING : 0;
    case SC_CREATEDIR:
        ShowStatus(0, "Creating folder: %s", a[0]);
        return CreateFolderTree(a[0]) ? SE_CREATEDIR : 0;
    case SC_COPYFILE:
        return CopyFileCommand();
    case SC_CREATELINK:
        ShowStatus(0, "Creating link: %s", a[1]);
        return CreateShellLink(a[0], a[1], a[2], a[3]) ? SE_LINK : 0;
    case SC_CHANGENOTIFY:
        ShowStatus(0, "Applying changes: %s", a[0]);
        SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, a[0], 0);
        return 0;
    case SC_DELETEFILE:
        return DeleteFileCommand();
    case SC_REMOVEDIR:
        return RemoveDirCommand();
    case SC_PATCHFILE:
        ShowStatus(0, "Patching file: %s", a[0]);
        return ApplyPatch(a[0], a[1], a[2], TryTime());
    }
    return -1;
}

static int RunOtherCommand(int command)
{
    char (*a)[SCRIPT_VALUE_SIZE] = gScript.arguments;
    switch (command) {
    case SC_CREATEREGVALSZ:
        return SetRegistryValue(SE_REG_SZ, REG_SZ);
    case SC_CREATEREGVALDW:
        return SetRegistryValue(SE_REG_DWORD, REG_DWORD);
    case SC_CREATESETUPINFO:
        return CreateSetupInfoCommand();
    case SC_DELETEREGKEY:
        return DeleteRegistryKeyCommand();
    case SC_DELETEREGVAL:
        return DeleteRegistryValueCommand();
    case SC_STOPSERVICE:
        ShowStatus(0, "Stopping service: %s", a[0]);
        return StopServiceByName(a[0]) ? SE_SERVICE_MANAGER : 0;
    case SC_RUN:
        RunAsDesktopUser(a[0], a[1], !_stricmp(a[2], "Elevated"));   // failure is ignored
        return 0;
    case SC_CALL:
        return CallCommand();
    case SC_ERROR:
        SetVariable("#LASTERROR#", a[0]);
        return SE_ERROR_COMMAND;
    case SC_STATUS:
        return StatusCommand(0);
    case SC_STATUS2:
        return StatusCommand(1);
    case SC_LOGONTRIGGER:
        return LogonTriggerCommand();
    }
    return 0;
}

int RunCommand(int command, const char *arguments, const char *lineEnd)
{
    if (command < 0 || command >= SC_COUNT)
        return 0;
    if (command == SC_IF || command == SC_ELSE || command == SC_ENDIF)
        return RunCondition(command, arguments, lineEnd);
    if (command == SC_PHASEBEGIN || command == SC_PHASEEND)
        return 0;
    if (command == SC_SET)
        return SetCommand(arguments, lineEnd);
    if (ReadArguments(arguments, lineEnd, SCRIPT_ARGUMENTS) < kCommands[command].minimum)
        return SE_ARGUMENTS;
    bool asUser = kCommands[command].asUser && GetVariableNumber("#REALUSER#") == 1 &&
                  ActAsDesktopUser(true);
    int result = RunFileCommand(command);
    if (result < 0)
        result = RunOtherCommand(command);
    if (asUser)
        ActAsDesktopUser(false);
    return result;
}

// ---------------------------------------------------------------- phases

// The body of phase n: from the line after its "PhaseBegin" up to the next
// "PhaseEnd" line or the end of the text.
static bool FindPhase(int n, const char **bodyStart, const char **bodyEnd)
{
    const char *position = gScript.text, *arguments, *lineEnd;
    for (;;) {
        int command = MatchCommand(position, &arguments, &lineEnd);
        if (command == SC_PHASEBEGIN) {
            char number[SCRIPT_VALUE_SIZE];
            const char *cursor = arguments;
            if (NextArgument(&cursor, lineEnd, number) && atof(number) == n)
                break;
        }
        if (!*lineEnd)
            return false;
        position = lineEnd;
    }
    *bodyStart = position = lineEnd;
    for (;;) {
        const char *start = SkipBlanks(position);
        int command = MatchCommand(start, &arguments, &lineEnd);
        if (command == SC_PHASEEND || !*start) {
            *bodyEnd = start;
            return true;
        }
        position = lineEnd;
    }
}

enum ErrorAnswer { ANSWER_RETRY, ANSWER_GO_ON, ANSWER_STOP };

static int AskAboutError(int error)
{
    if (gScript.uninstallMode)
        return ANSWER_GO_ON;
    if (!gScript.statusWindow)
        return ANSWER_STOP;
    LRESULT answer = SendToStatus(SETUPM_ERROR, (WPARAM)error, 0);
    if (answer == IDRETRY)
        return ANSWER_RETRY;
    if (answer == IDYES || error == SE_TASK_SCHEDULER)
        return ANSWER_GO_ON;
    return ANSWER_STOP;
}

int RunPhase(int n)
{
    const char *bodyStart, *bodyEnd;
    gScript.conditionTop = 0;
    conditionOverflow = 0;
    gScript.currentError = 0;
    if (!gScript.text)
        return gScript.currentError = SE_SCRIPT_MISSING;
    if (!FindPhase(n, &bodyStart, &bodyEnd))
        return gScript.currentError = (n == 0 || n == 1) ? SE_NO_PHASE : 0;
    long long bodyLength = bodyEnd - bodyStart;
    int remembered = 0;
    const char *position = bodyStart;
    for (;;) {
        const char *start = SkipBlanks(position), *arguments, *lineEnd;
        if (start >= bodyEnd)
            break;
        int command = MatchCommand(start, &arguments, &lineEnd);
        bool condition = command == SC_IF || command == SC_ELSE || command == SC_ENDIF;
        // The user cancelled: nothing more is done, and nobody is asked.
        if (command >= 0 && gSetupAbort)
            return gScript.currentError = SE_CANCELLED;
        if (command >= 0 && (condition || !Skipping()))
            gScript.currentError = RunCommand(command, arguments, lineEnd);
        const char *next = SkipBlanks(lineEnd);
        long long done = (next < bodyEnd ? next : bodyEnd) - bodyStart;
        SendToStatus(SETUPM_PROGRESS, bodyLength ? (WPARAM)(done * 100 / bodyLength) : 100, 0);
        if (gScript.currentError) {
            int answer = AskAboutError(gScript.currentError);
            if (answer == ANSWER_RETRY)
                continue;
            if (answer == ANSWER_STOP)
                return gScript.currentError;
            remembered = gScript.currentError;
            if (!gScript.uninstallMode)
                gScript.currentError = 0;
        }
        position = lineEnd;
    }
    if (gScript.uninstallMode)
        gScript.currentError = remembered;
    SendToStatus(SETUPM_PHASEEND, 0, 0);
    return gScript.currentError;
}

int ScriptErrorMessage(int error, UINT *flags)
{
    static const struct { int error, message; UINT buttons; } kMessages[] = {
        {SE_PROGRAM_RUNNING, 1013, MB_RETRYCANCEL}, {SE_CREATEDIR, 1035, MB_RETRYCANCEL},
        {SE_COPY, 1015, MB_RETRYCANCEL},           {SE_PATCH, 1015, MB_RETRYCANCEL},
        {SE_LINK, 1018, MB_OK},                    {SE_REG_SZ, 1022, MB_OK},
        {SE_REMOVE_OLD, 1007, MB_YESNOCANCEL},     {SE_NOT_ADMIN, 1009, MB_OK},
        {SE_ERROR_COMMAND, 1045, MB_OK},           {SE_INIT_FILES, 1008, MB_OK},
        {SE_TASK_SCHEDULER, 1002, MB_OK},          {SE_FOLDER_INACCESSIBLE, 1004, MB_YESNOCANCEL},
        {SE_EXTRACT, 1023, MB_OK},
    };
    for (const auto &m : kMessages)
        if (m.error == error) {
            *flags = m.buttons | MB_ICONSTOP;
            return m.message;
        }
    *flags = MB_OK | MB_ICONSTOP;
    return 1001;
}

// ---------------------------------------------------------------- built-in variables

static void SetNumberVariable(const char *name, long long value)
{
    char text[32];
    snprintf(text, sizeof text, "%lld", value);
    SetVariable(name, text);
}

static void SetFolderVariable(const char *name, int csidl)
{
    char folder[MAX_PATH];
    GetShellFolder(csidl, folder);
    SetVariable(name, folder);
}

void ChooseShellFolders(bool allUsers)
{
    SetVariable("#STARTUPDIR#", GetVariableText(allUsers ? "#STARTUPDIRALL#" : "#STARTUPDIRUSR#"));
    SetVariable("#STARTMENUDIR#", GetVariableText(allUsers ? "#STARTMENUALL#" : "#STARTMENUUSR#"));
    SetVariable("#DESKTOPDIR#", GetVariableText(allUsers ? "#DESKTOPDIRALL#" : "#DESKTOPDIRUSR#"));
}

void SetBuiltInVariables(bool uninstallMode, bool allUsersDefault)
{
    gScript.uninstallMode = uninstallMode;
    SetVariable("#SETUPMODE#", uninstallMode ? "Uninstall" : "Setup");
    SetVariable("#CRLF#", "\r\n");
    SetVariable("#EULA#", "");
    SetNumberVariable("#OS#", SystemVersionCode());
    SetVariable("#64#", Is64BitSystem() ? "1" : "0");
    char folder[MAX_PATH + 16];
    UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
    if (n && n < MAX_PATH && folder[n - 1] == '\\')
        folder[n - 1] = 0;
    SetVariable("#WINDOWSDIR#", n && n < MAX_PATH ? folder : "");
    n = GetSystemDirectoryA(folder, MAX_PATH);
    if (n && n < MAX_PATH)
        strcat(folder, "\\Drivers");
    SetVariable("#DRIVERSDIR#", n && n < MAX_PATH ? folder : "");
    bool asUser = ActAsDesktopUser(true);
    SetFolderVariable("#STARTUPDIRUSR#", CSIDL_STARTUP);
    SetFolderVariable("#STARTUPDIRALL#", CSIDL_COMMON_STARTUP);
    SetFolderVariable("#STARTMENUUSR#", CSIDL_PROGRAMS);
    SetFolderVariable("#STARTMENUALL#", CSIDL_COMMON_PROGRAMS);
    SetFolderVariable("#DESKTOPDIRUSR#", CSIDL_DESKTOPDIRECTORY);
    SetFolderVariable("#DESKTOPDIRALL#", CSIDL_COMMON_DESKTOPDIRECTORY);
    if (asUser)
        ActAsDesktopUser(false);
    // The machine's application-data folder, where the program keeps its
    // all-users data folder beside the user's own.
    SetFolderVariable("#COMMONDATADIR#", CSIDL_COMMON_APPDATA);
    ChooseShellFolders(allUsersDefault);
    SetVariable("#BUYURL#", SETUP_MAKER_URL);
}

static void ProgramsFolder(char *out)
{
    if (GetShellFolder(CSIDL_PROGRAM_FILES, out))
        return;
    HKEY key;
    DWORD size = MAX_PATH;
    out[0] = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD type;
        if (RegQueryValueExA(key, "ProgramFilesDir", 0, &type, (BYTE *)out, &size) !=
                ERROR_SUCCESS || type != REG_SZ)
            size = 0;
        out[size < MAX_PATH ? size : MAX_PATH - 1] = 0;
        RegCloseKey(key);
    }
}

static void SetDefaultFolders(const SetupInfoRecord *record, bool haveRecord, const char *program)
{
    char folder[MAX_PATH], path[LONG_TEXT];
    if (CopyVariable("#INSTALLPATH#", 0, 0) < 0) {
        if (haveRecord && record->installPath[0])
            SetVariable("#INSTALLPATH#", record->installPath);
        else {
            ProgramsFolder(folder);
            snprintf(path, sizeof path, "%s\\%s", folder, program);
            SetVariable("#INSTALLPATH#", path);
        }
    }
    if (CopyVariable("#CUSTOMPATH#", 0, 0) >= 0) {
        SetVariable("#FORWHO#", "0");
        SetVariable("#CUSTOMLOC#", "1");
        SetVariable("#INDIVIDUAL#", "0");
    } else if (haveRecord && record->customPath[0]) {
        SetVariable("#CUSTOMPATH#", record->customPath);
    } else {
        bool asUser = ActAsDesktopUser(true);
        GetShellFolder(CSIDL_APPDATA, folder);
        if (asUser)
            ActAsDesktopUser(false);
        snprintf(path, sizeof path, "%s\\Kestrova\\%s", folder, program);
        SetVariable("#CUSTOMPATH#", path);
    }
}

static void SetConfigPathVariable(const char *program)
{
    SetupInfoRecord record;
    BuildSetupInfo(&record, program, "0.0", 0, (int)GetVariableNumber("#CUSTOMLOC#"),
                   (int)GetVariableNumber("#INDIVIDUAL#"), GetVariableText("#INSTALLPATH#"),
                   GetVariableText("#CUSTOMPATH#"), 0, 0, 0);
    ConfigFolderUser user;
    char path[260];
    bool asUser = ActAsDesktopUser(true);
    GetCurrentConfigFolderUser(&user);
    if (asUser)
        ActAsDesktopUser(false);
    if (!ComposeConfigFolder(&record, program, &user, path))
        path[0] = 0;
    SetVariable("#CONFIGPATH#", path);
}

void SetDerivedVariables()
{
    char program[SCRIPT_VALUE_SIZE];
    CopyText(program, GetVariableText("#PROGRAM#"), sizeof program);
    SetupInfoRecord record;
    bool haveRecord = program[0] && ReadSetupInfo(program, &record);
    char text[64];
    snprintf(text, sizeof text, "%d.%d", haveRecord ? record.versionMajor : 0,
             haveRecord ? record.versionMinor : 0);
    SetVariable("#CURVER#", text);
    SetNumberVariable("#FORWHO#", haveRecord ? record.forWhom : 1);
    SetNumberVariable("#CUSTOMLOC#", haveRecord ? record.customLocation : 0);
    SetNumberVariable("#INDIVIDUAL#", haveRecord ? record.individual : 0);
    SetDefaultFolders(&record, haveRecord, program);
    SetConfigPathVariable(program);
    SetNumberVariable("#SELEXECUTE#", haveRecord ? record.finishStartProgram != 0 : 1);
    SetNumberVariable("#SELREADME#", haveRecord ? record.finishShowReadme != 0 : 1);
    SetNumberVariable("#SELDESKTOP#", haveRecord ? record.finishDesktopLink != 0 : 1);
    SetNumberVariable("#SELSTARTMENU#", haveRecord ? record.finishStartMenuLink != 0 : 1);
    if (GetVariableNumber("#FORWHO#") == 1)
        ChooseShellFolders(true);
}
