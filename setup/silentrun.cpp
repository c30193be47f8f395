// The silent run: the phases without a window, the "-USE=" files copied
// afterwards, and the log, overwritten each time, which is how an
// unattended installation reports its outcome.
#include "setup/silentrun.h"

#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/utilities.h"
#include "setup/engine.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/sysactions.h"

void SetupLogPath(char *out)
{
    char name[MAX_PATH];
    CopyText(name, PathFileName(gSetup.programPath), (int)sizeof name);
    size_t n = strlen(name);
    if (n >= 4)
        name[n - 4] = 0;
    strcat(name, ".log");
    char folder[MAX_PATH];
    if (gSetup.workFolder[0])
        CopyText(folder, gSetup.workFolder, (int)sizeof folder);
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

bool WriteSetupLogMessage(int number)
{
    char message[SCRIPT_VALUE_SIZE], outcome[SCRIPT_VALUE_SIZE], text[2 * SCRIPT_VALUE_SIZE + 8];
    FormatSetupMessage(number, message);
    FormatSetupMessage(1032, outcome);
    snprintf(text, sizeof text, "%s\r\n%s\r\n", message, outcome);
    return WriteLogText(text);
}

bool WriteSetupLog(int error)
{
    if (error) {
        UINT flags;
        return WriteSetupLogMessage(ScriptErrorMessage(error, &flags));
    }
    char outcome[SCRIPT_VALUE_SIZE], text[SCRIPT_VALUE_SIZE + 4];
    FormatSetupMessage(1030, outcome);
    snprintf(text, sizeof text, "%s\r\n", outcome);
    return WriteLogText(text);
}

bool WriteCancelLog()
{
    return WriteSetupLogMessage(SETUP_MSG_CANCELLED_PARTWAY);
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

int RunSilentSetup()
{
    gScript.statusWindow = 0;
    int error = RunPhase(0);
    if (!error)
        error = RunPhase(1);
    // A folder an uninstall only left for the next restart (or one that still
    // holds the user's own files) is done: an uninstall goes on past a failed
    // "RemoveDir". Setup stops at it instead, so the lines after it never ran
    // and an error 20 there is a failed installation, not a success.
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
