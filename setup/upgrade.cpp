// The upgrade check: the installed version from its installation record,
// compared with the script's #UPGMSG1# and #REMOVE# versions, and the old
// uninstaller run while the wizard waits.
#include "setup/upgrade.h"

#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "setup/script.h"
#include "setup/setupinfo.h"

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
    bool haveMessage = IsVariableDefined("#UPGMSG1#"), haveRemove = IsVariableDefined("#REMOVE#");
    if (!haveMessage && !haveRemove)
        return;
    int messageMajor = 0, messageMinor = 0, removeMajor = 0, removeMinor = 0;
    if (haveMessage) {   // "<version> <message>": the variable keeps the message
        char text[SCRIPT_VALUE_SIZE];
        CopyText(text, GetVariableText("#UPGMSG1#"), (int)sizeof text);
        ParseVersion(text, &messageMajor, &messageMinor);
        const char *message = strchr(text, ' ');
        SetVariable("#UPGMSG1#", message ? message + 1 : "");
    }
    if (haveRemove)
        ParseVersion(GetVariableText("#REMOVE#"), &removeMajor, &removeMinor);
    if (!IsVariableDefined("#REMAPP#") || !GetVariableText("#REMAPP#")[0])
        SetVariable("#REMAPP#", GetVariableText("#PROGRAM#"));
    char application[SCRIPT_VALUE_SIZE], keyPath[SCRIPT_VALUE_SIZE + 64];
    CopyText(application, GetVariableText("#REMAPP#"), (int)sizeof application);
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
    CopyText(line, commandLine, (int)sizeof line);
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
