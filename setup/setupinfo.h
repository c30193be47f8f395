// The installation record: where an installation lives, where its
// configuration data lives, the installed version and the finish-page
// choices. One REG_BINARY value of exactly 1328 bytes per program under
// HKEY_LOCAL_MACHINE "Software\Kestrova", named after the program.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "framework/installrecord.h"

#pragma pack(push, 1)
struct SetupInfoRecord {
    int16_t recordVersion;       // always 1; any other value means no record
    uint32_t reserved;
    uint32_t nameCrc;            // CRC-32 of the program name, no terminator
    int16_t versionMajor;
    int16_t versionMinor;
    uint16_t forWhom;            // 1 all users, 0 the installing user
    uint16_t customLocation;     // 1 configuration data in customPath
    uint16_t individual;         // 1 customPath gets a folder per user name
    char installPath[INSTALL_RECORD_TEXT_BYTES];
    char customPath[INSTALL_RECORD_TEXT_BYTES];
    char buyUrl[INSTALL_RECORD_TEXT_BYTES];
    char versionUrl[INSTALL_RECORD_TEXT_BYTES];        // the update check's address
    char downloadUrl[INSTALL_RECORD_TEXT_BYTES];
    uint16_t finishStartProgram;
    uint16_t finishShowReadme;
    uint16_t finishDesktopLink;
    uint16_t finishStartMenuLink;
};
#pragma pack(pop)

static_assert(sizeof(SetupInfoRecord) == INSTALL_RECORD_BYTES, "installation record size");
// The structure and the readers' offsets are one layout.
#define VT_RECORD_FIELD_AT(field, offset) \
    static_assert(offsetof(SetupInfoRecord, field) == (offset), "installation record layout")
VT_RECORD_FIELD_AT(nameCrc, INSTALL_RECORD_NAME_CRC);
VT_RECORD_FIELD_AT(versionMajor, INSTALL_RECORD_VERSION_MAJOR);
VT_RECORD_FIELD_AT(versionMinor, INSTALL_RECORD_VERSION_MINOR);
VT_RECORD_FIELD_AT(forWhom, INSTALL_RECORD_FOR_WHOM);
VT_RECORD_FIELD_AT(customLocation, INSTALL_RECORD_CUSTOM_LOCATION);
VT_RECORD_FIELD_AT(individual, INSTALL_RECORD_INDIVIDUAL);
VT_RECORD_FIELD_AT(installPath, INSTALL_RECORD_INSTALL_PATH);
VT_RECORD_FIELD_AT(customPath, INSTALL_RECORD_CUSTOM_PATH);
VT_RECORD_FIELD_AT(buyUrl, INSTALL_RECORD_BUY_URL);
VT_RECORD_FIELD_AT(versionUrl, INSTALL_RECORD_VERSION_URL);
VT_RECORD_FIELD_AT(downloadUrl, INSTALL_RECORD_DOWNLOAD_URL);
VT_RECORD_FIELD_AT(finishStartProgram, INSTALL_RECORD_FINISH_CHOICES);
VT_RECORD_FIELD_AT(finishStartMenuLink, INSTALL_RECORD_MAIN_BYTES);
#undef VT_RECORD_FIELD_AT

// Sets the record version to 1 and writes all 1328 bytes; true on success.
bool WriteSetupInfo(const char *programName, SetupInfoRecord *record);
// Copies at most 1328 bytes (a shorter value leaves the rest zero) and
// terminates the texts; true only when the value exists and its version is 1.
bool ReadSetupInfo(const char *programName, SetupInfoRecord *record);

// The screen saver's copy: the first 544 bytes (through the custom folder),
// the rest zeroed; false when there is no record or it is shorter than that.
inline bool ReadSaverSetupInfo(const char *programName, SetupInfoRecord *record)
{
    memset(record, 0, sizeof *record);
    return ReadInstallRecordPrefix(programName, record, INSTALL_RECORD_SAVER_BYTES,
                                   INSTALL_RECORD_SAVER_BYTES);
}

// What the configuration folder depends on besides the record. Filled for
// the user this thread runs as; running it as the desktop user is the
// caller's business.
struct ConfigFolderUser {
    char appDataFolder[260];
    char logonName[260];
};
bool GetCurrentConfigFolderUser(ConfigFolderUser *user);

// "<application data>\Kestrova\<program>" for the standard location, the
// custom folder (plus "\<logon name>" when individual) for a custom one.
// False when the folder cannot be named (empty custom folder, missing
// user part); out is then empty.
bool ComposeConfigFolder(const SetupInfoRecord *record, const char *programName,
                         const ConfigFolderUser *user, char *out);
// False when there is no record; otherwise the folder above for the current user.
bool GetConfigFolder(const char *programName, char *out);

// "3.10" gives 3 and 10. Each number is its leading decimal digits; text that
// is not a number, or one beyond 32767, gives 0.
void ParseVersionText(const char *text, int16_t *major, int16_t *minor);

// A zeroed record filled the way a new installation describes itself. Texts
// may be null (empty) and are cut to 259 characters.
void BuildSetupInfo(SetupInfoRecord *record, const char *programName, const char *versionText,
                    int forWhom, int customLocation, int individual, const char *installPath,
                    const char *customPath, const char *buyUrl, const char *versionUrl,
                    const char *downloadUrl);
// Writes a built record and names its configuration folder in configPath
// (empty when it cannot be named). A failed write is not an error: answers 0.
int CreateSetupInfo(const char *programName, SetupInfoRecord *record, char *configPath);
