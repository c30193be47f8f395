// The configuration archive: the data folder's configuration files packed
// into one zip file, made on demand (backup), every few days into a backup
// folder that keeps a rotating set, or almost empty to reset the settings.
// Restore and reset never touch the files of the running program: the
// archive goes to a fixed name in the data folder and the next start-up
// imports it before anything reads the configuration.
#pragma once

#include <windows.h>
#include <stdint.h>

#define ARCHIVE_FILE_EXTENSION "KestrovaConfig"

enum {
    ARCHIVE_RECORD_SIZE = 544,
    ARCHIVE_TEXT_SIZE = 260,
    ARCHIVE_EXPAND_SIZE = 2048,       // the working buffer of ExpandVariables
    ARCHIVE_IDENTITY_MAX = 2599,      // what an import reads of the identity entry
    ARCHIVE_DEFAULT_INTERVAL = 14,
    ARCHIVE_DEFAULT_KEEP = 30,
    ARCHIVE_MAX_INTERVAL = 9999,
    ARCHIVE_MAX_KEEP = 999,
};

// ExchangeConfigArchive modes and results.
enum {
    ARCHIVE_MODE_RESTORE = 0,
    ARCHIVE_MODE_BACKUP = 1,
    ARCHIVE_MODE_RESET = 2,
    ARCHIVE_MODE_EXPORT = 3,   // to the given path, no dialog or message
};
enum {
    ARCHIVE_OK = 0,
    ARCHIVE_CANCELLED = 1,
    ARCHIVE_NOT_CREATED = 2,      // could not be created or opened (or is unsafe)
    ARCHIVE_COPY_FAILED = 3,
    ARCHIVE_WRONG_PRODUCT = 4,
    ARCHIVE_FILES_FAILED = 5,
};

// StartArchive results.
enum {
    ARCHIVE_STARTED = 0,
    ARCHIVE_STILL_RUNNING = 1,
    ARCHIVE_NO_THREAD = 3,
    ARCHIVE_NOT_DUE = 4,
};

// ArchiveThread results.
enum { ARCHIVE_THREAD_DONE = 0, ARCHIVE_THREAD_NO_FOLDER = 1, ARCHIVE_THREAD_FAILED = 2 };

// ImportConfigArchive results. Nothing in the data folder changes unless
// the whole archive could be unpacked first.
enum {
    IMPORT_DONE = 0,
    IMPORT_NOT_AN_ARCHIVE = 1,
    IMPORT_NO_IDENTITY = 2,
    IMPORT_UNSAFE_NAME = 3,      // an entry would land outside the data folder, by its
                                 // name or through a link in the data folder
    IMPORT_BAD_ENTRY = 4,        // an entry could not be unpacked, or would lie too deep
    IMPORT_NOT_ALL_PLACED = 5,   // unpacked, but some file could not be moved in
};

#pragma pack(push, 1)
// "(QRF)Archive" record file.
struct ArchiveRecord {
    char folderTemplate[ARCHIVE_TEXT_SIZE];
    char nameTemplate[ARCHIVE_TEXT_SIZE];
    int64_t lastArchive;       // whole days, seconds since 1970 UTC
    uint8_t enabled;
    uint8_t zero1[3];
    int32_t intervalDays;
    int32_t keepCount;
    int32_t zero2;
};
#pragma pack(pop)
static_assert(sizeof(ArchiveRecord) == ARCHIVE_RECORD_SIZE, "(QRF)Archive layout");

extern ArchiveRecord gArchiveRecord;
extern volatile uint8_t gArchiveRunning;
extern HWND gArchiveDialog;

// Reads "(QRF)Archive" and applies the defaults.
void LoadArchiveSettings();
void SaveArchiveSettings();

// Replaces the template variables (the date and time ones in the local time
// of when, seconds since 1970 UTC), then environment variables; false
// (output empty) when a step fails or the result does not fit.
bool ExpandVariables(const char *text, char *output, int outputSize, int64_t when);

// "<data folder>\<product>.KestrovaConfig": the archive the next start imports.
void GetPendingArchivePath(char *path);

int ExchangeConfigArchive(HWND owner, int mode, const char *path);
// The messages a caller shows after a successful exchange: backup (flags
// 0x114), restore and reset with the restart question (0x128). The answer.
int ShowArchiveSuccess(HWND owner, int mode);

// The start-up import of a pending archive (path of the zip file).
int ImportConfigArchive(const char *path);

// When enabled, due at now (seconds since 1970 UTC; start-up and the daily
// tick pass the real time) and not running, starts ArchiveThread.
int StartArchive(int64_t now);
// One archive; when points to the moment (an int64_t, seconds since 1970
// UTC) that names the archive and is stored as its day, null: the real time.
DWORD WINAPI ArchiveThread(LPVOID when);

INT_PTR CALLBACK ArchiveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int OpenArchiveDialog(HWND owner);   // modal; its end code

// The update check and the archive, each only when due at the real time:
// at the end of start-up and on the daily tick.
void RunDailyChecks();
