// The installation record: writing, reading, the configuration folder it
// implies, and building a new one. The record is how the main program and
// the screen saver later find the installation and its data folder.
#include "setup/setupinfo.h"

#include <shlobj.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/utilities.h"

bool WriteSetupInfo(const char *programName, SetupInfoRecord *record)
{
    record->recordVersion = 1;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, INSTALL_RECORD_KEY, 0, 0, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, 0, &key, 0) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExA(key, programName, 0, REG_BINARY, (const BYTE *)record,
                                 sizeof *record);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool ReadSetupInfo(const char *programName, SetupInfoRecord *record)
{
    int valueSize = ReadInstallRecordValue(programName, record, sizeof *record);
    return valueSize >= 0 && record->recordVersion == 1;
}

bool GetCurrentConfigFolderUser(ConfigFolderUser *user)
{
    user->appDataFolder[0] = user->logonName[0] = 0;
    bool folder = SUCCEEDED(SHGetFolderPathA(0, CSIDL_APPDATA, 0, SHGFP_TYPE_CURRENT,
                                             user->appDataFolder));
    if (!folder)
        user->appDataFolder[0] = 0;
    DWORD size = sizeof user->logonName;
    bool name = GetUserNameA(user->logonName, &size) != 0;
    if (!name)
        user->logonName[0] = 0;
    return folder && name;
}

// True when the whole text fit into the 260-character path.
static bool FormatWholePath(char *out, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(out, 260, format, args);
    va_end(args);
    out[259] = 0;
    return n >= 0 && n < 260;
}

static bool ComposeFolder(const SetupInfoRecord *record, const char *programName,
                          const ConfigFolderUser *user, char *out)
{
    const char *base = record->customLocation ? record->customPath : user->appDataFolder;
    if (!base[0])
        return false;
    const char *slash = EndsWithBackslash(base) ? "" : "\\";
    if (!record->customLocation)
        return FormatWholePath(out, "%s%sKestrova\\%s", base, slash, programName);
    if (!record->individual)
        return FormatWholePath(out, "%s", base);
    return user->logonName[0] && FormatWholePath(out, "%s%s%s", base, slash, user->logonName);
}

// A path cut to fit would name some other folder, so it counts as none.
bool ComposeConfigFolder(const SetupInfoRecord *record, const char *programName,
                         const ConfigFolderUser *user, char *out)
{
    if (ComposeFolder(record, programName, user, out))
        return true;
    out[0] = 0;
    return false;
}

bool GetConfigFolder(const char *programName, char *out)
{
    out[0] = 0;
    SetupInfoRecord record;
    if (!ReadSetupInfo(programName, &record))
        return false;
    ConfigFolderUser user;
    GetCurrentConfigFolderUser(&user);
    return ComposeConfigFolder(&record, programName, &user, out);
}

// Leading decimal digits; none, or a value beyond 16 bits, gives 0.
static int16_t ParseVersionNumber(const char **text)
{
    const char *p = *text;
    long value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value <= 32767)
            value = value * 10 + (*p - '0');
        p++;
    }
    *text = p;
    return value > 32767 ? 0 : (int16_t)value;
}

void ParseVersionText(const char *text, int16_t *major, int16_t *minor)
{
    *major = *minor = 0;
    if (!text)
        return;
    while (*text == ' ' || *text == '\t')
        text++;
    *major = ParseVersionNumber(&text);
    if (*text == '.') {
        text++;
        *minor = ParseVersionNumber(&text);
    }
}

void BuildSetupInfo(SetupInfoRecord *record, const char *programName, const char *versionText,
                    int forWhom, int customLocation, int individual, const char *installPath,
                    const char *customPath, const char *buyUrl, const char *versionUrl,
                    const char *downloadUrl)
{
    memset(record, 0, sizeof *record);
    record->recordVersion = 1;
    if (programName)
        record->nameCrc = Crc32(programName, (int)strlen(programName));
    ParseVersionText(versionText, &record->versionMajor, &record->versionMinor);
    record->forWhom = (uint16_t)forWhom;
    record->customLocation = (uint16_t)customLocation;
    record->individual = (uint16_t)individual;
    CopyText(record->installPath, installPath, sizeof record->installPath);
    CopyText(record->customPath, customPath, sizeof record->customPath);
    CopyText(record->buyUrl, buyUrl, sizeof record->buyUrl);
    CopyText(record->versionUrl, versionUrl, sizeof record->versionUrl);
    CopyText(record->downloadUrl, downloadUrl, sizeof record->downloadUrl);
}

int CreateSetupInfo(const char *programName, SetupInfoRecord *record, char *configPath)
{
    WriteSetupInfo(programName, record);
    GetConfigFolder(programName, configPath);
    return 0;
}
