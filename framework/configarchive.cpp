// The configuration archive: export, restore and reset, the start-up import,
// the automatic archive with its rotation and the settings dialog.
//
// An import replaces the whole configuration, so it first unpacks the
// archive into a staging folder and only then clears the data folder: a
// damaged archive, or one whose names would climb out of the data folder or
// lie deeper than paths can go, leaves the configuration as it was.
#include "framework/configarchive.h"

#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/filefind.h"
#include "framework/recordfile.h"
#include "framework/updatecheck.h"
#include "framework/utilities.h"
#include "framework/zip.h"
#include "resources/resource.h"

ArchiveRecord gArchiveRecord;
volatile uint8_t gArchiveRunning;
HWND gArchiveDialog;

enum {
    TEXT_EXCHANGE = 0xF009,     // 0 overwrite warning, 1 file error, 2 restore error,
                                // 3 wrong product, 4 files not backed up
    TEXT_SUCCESS = 0xF00A,      // 0 restored, 1 backed up, 2 reset
    TEXT_RESTART = 0xF00B,
    TEXT_DIALOG = 0xF00F,       // 0 browse title, 1 finished, 2 bad path, 3 bad name, 4 failed
    ASK_FLAGS = MBF_QUESTION | MBF_YESNOCANCEL | MBF_EMPHASISE_FIRST | MBF_DEFAULT_CANCEL,
    ERROR_FLAGS = MBF_STOP | MBF_OK | MBF_EMPHASISE_FIRST,
    DONE_FLAGS = MBF_WARNING | MBF_OK | MBF_EMPHASISE_FIRST,
    RESTART_FLAGS = MBF_QUESTION | MBF_OKCANCEL | MBF_EMPHASISE_FIRST,
    DAY_SECONDS = 86400,
    STORED_NAME_SIZE = 0x10000,    // the longest name a directory can store, and a NUL
    // CreateDirectory keeps room for an 8.3 name below a folder it makes,
    // and the scanner still fits "\*.*" after it.
    STAGED_FOLDER_MAX = MAX_PATH - 13,
    STAGED_FILE_MAX = MAX_PATH - 1,
    LONG_PATH_SIZE = 32768,        // the wide API's longest path and its NUL
};

static const char kRecordName[] = "(QRF)Archive";
static const char kDefaultFolder[] = "%CONFIGDIR%\\Backup";
static const char kDefaultName[] = "%PROGRAM%-%YEAR%.%MONTH%.%DAY%";
static const char kOwnMasks[] = "*.rgc";
static const char kStagingSuffix[] = ".import";
static const char kFilters[] = "Kestrova Configuration Data\0*." ARCHIVE_FILE_EXTENSION
                               "\0All files\0*.*\0";

// ---------------------------------------------------------------- settings

void LoadArchiveSettings()
{
    ArchiveRecord record;
    memset(&record, 0, sizeof record);
    ReadRecordFile(kRecordName, -1, &record, (int)sizeof record, 0);
    record.folderTemplate[ARCHIVE_TEXT_SIZE - 1] = 0;
    record.nameTemplate[ARCHIVE_TEXT_SIZE - 1] = 0;
    if (!record.folderTemplate[0])
        CopyText(record.folderTemplate, kDefaultFolder, ARCHIVE_TEXT_SIZE);
    if (!record.nameTemplate[0])
        CopyText(record.nameTemplate, kDefaultName, ARCHIVE_TEXT_SIZE);
    if (record.intervalDays <= 0)
        record.intervalDays = ARCHIVE_DEFAULT_INTERVAL;
    if (record.keepCount <= 0)
        record.keepCount = ARCHIVE_DEFAULT_KEEP;
    gArchiveRecord = record;
}

void SaveArchiveSettings()
{
    memset(gArchiveRecord.zero1, 0, sizeof gArchiveRecord.zero1);
    gArchiveRecord.zero2 = 0;
    WriteRecordFile(kRecordName, -1, &gArchiveRecord, (int)sizeof gArchiveRecord, 0);
}

// ---------------------------------------------------------------- templates

static int64_t Now()
{
    return (int64_t)time(0);
}

static void LocalTimeAt(int64_t when, SYSTEMTIME *local)
{
    int64_t ticks = (when * 10000000LL) + 116444736000000000LL;
    FILETIME utc, here;
    utc.dwLowDateTime = (DWORD)ticks;
    utc.dwHighDateTime = (DWORD)(ticks >> 32);
    if (!FileTimeToLocalFileTime(&utc, &here) || !FileTimeToSystemTime(&here, local))
        GetLocalTime(local);
}

bool ExpandVariables(const char *text, char *output, int outputSize, int64_t when)
{
    if (!output || outputSize < 1)
        return false;
    output[0] = 0;
    char buffer[ARCHIVE_EXPAND_SIZE];
    int capacity = outputSize < ARCHIVE_EXPAND_SIZE ? outputSize : ARCHIVE_EXPAND_SIZE;
    if (!text || (int)strlen(text) >= capacity)
        return false;
    strcpy(buffer, text);

    SYSTEMTIME now;
    LocalTimeAt(when, &now);
    char version[48], year[8], month[4], day[4], hour[4], minute[4], second[4], date[16],
        clock[16];
    snprintf(version, sizeof version, "%d.%d.%d", gApp.versionMajor, gApp.versionMinor,
             gApp.versionBuild);
    snprintf(year, sizeof year, "%04d", now.wYear);
    snprintf(month, sizeof month, "%02d", now.wMonth);
    snprintf(day, sizeof day, "%02d", now.wDay);
    snprintf(hour, sizeof hour, "%02d", now.wHour);
    snprintf(minute, sizeof minute, "%02d", now.wMinute);
    snprintf(second, sizeof second, "%02d", now.wSecond);
    snprintf(date, sizeof date, "%02d.%02d.%04d", now.wDay, now.wMonth, now.wYear);
    snprintf(clock, sizeof clock, "%02d-%02d-%02d", now.wHour, now.wMinute, now.wSecond);
    const char *pairs[][2] = {
        {"%PROGRAM%", gApp.productName},
        // This user's data folder: the installation record names the
        // installing account's, which other users cannot or must not share.
        {"%CONFIGDIR%", gApp.dataFolder},
        {"%PROGVER%", version},
        {"%YEAR%", year},
        {"%MONTH%", month},
        {"%DAY%", day},
        {"%HOUR%", hour},
        {"%MINUTE%", minute},
        {"%SECOND%", second},
        {"%DATE%", date},
        {"%TIME%", clock},
    };
    for (size_t i = 0; i < sizeof pairs / sizeof pairs[0]; i++)
        if (ReplaceAll(buffer, capacity, pairs[i][0], pairs[i][1]) < 0)
            return false;
    DWORD needed = ExpandEnvironmentStringsA(buffer, output, (DWORD)outputSize);
    if (needed == 0 || needed > (DWORD)outputSize) {
        output[0] = 0;
        return false;
    }
    return true;
}

void GetPendingArchivePath(char *path)
{
    snprintf(path, MAX_TEXT, "%s\\%s.%s", gApp.dataFolder, gApp.productName,
             ARCHIVE_FILE_EXTENSION);
}

// ---------------------------------------------------------------- entry names

// A stored name must stay below the folder it is unpacked into: no root, no
// drive or stream colon, no parent component (Windows also takes ". ." and
// "..." as the parent, dropping trailing dots and spaces).
static bool IsSafeEntryName(const uint8_t *name, int length)
{
    if (length <= 0 || name[0] == '/' || name[0] == '\\')
        return false;
    int dots = 0;
    bool onlyDots = true;
    for (int i = 0; i <= length; i++) {
        char c = i < length ? (char)name[i] : '/';
        if (c == 0 || c == ':')
            return false;
        if (c == '/' || c == '\\') {
            if (onlyDots && dots >= 2)
                return false;
            dots = 0;
            onlyDots = true;
        } else if (c == '.') {
            dots++;
        } else if (c != ' ') {
            onlyDots = false;
        }
    }
    return true;
}

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

static int StagingPath(const char *archivePath, char *staging)
{
    return snprintf(staging, MAX_TEXT, "%s%s", archivePath, kStagingSuffix);
}

// Whether unpacking the stored name below the staging folder makes only
// paths that the system creates and the scanner lists whole; an entry that
// does not fit would fail half way, or be left behind unseen. Judged on the
// stored name: cleaning only shortens a safe one.
static bool EntryPathFits(const char *staging, const char *name, uint32_t length, bool folder)
{
    uint32_t below = (uint32_t)strlen(staging) + 1;
    if (folder)
        return below + length <= STAGED_FOLDER_MAX;
    uint32_t deepestFolder = below - 1;   // the staging folder itself
    for (uint32_t i = 0; i < length; i++)
        if (IsSeparator(name[i]))
            deepestFolder = below + i;
    return below + length <= STAGED_FILE_MAX && deepestFolder <= STAGED_FOLDER_MAX;
}

// Judges the very directory the reader unpacks, entry by entry through the
// reader (a second end record hidden in the comment cannot show another
// one), by the names as stored: the reader's cleaning would hide what the
// archive tried. IMPORT_UNSAFE_NAME for a name that would leave the folder,
// IMPORT_BAD_ENTRY for an entry that cannot be read or would not fit below
// the staging folder, else IMPORT_DONE. Nothing is written.
static int CheckEntryNames(ZipHandle *zip, const char *staging)
{
    ZipEntryInfo info;
    if (CZipReader::GetEntry(zip, -1, &info) != ZIP_OK)
        return IMPORT_BAD_ENTRY;
    int count = info.index;
    char *name = (char *)malloc(STORED_NAME_SIZE);   // any stored length
    if (!name)
        return IMPORT_BAD_ENTRY;
    int result = IMPORT_DONE;
    for (int i = 0; i < count && result != IMPORT_UNSAFE_NAME; i++) {
        uint32_t length = 0;
        if (CZipReader::GetEntry(zip, i, &info) != ZIP_OK ||
            CZipReader::GetStoredName(zip, i, name, STORED_NAME_SIZE, &length) != ZIP_OK) {
            result = IMPORT_BAD_ENTRY;
            continue;
        }
        if (!IsSafeEntryName((const uint8_t *)name, (int)length))
            result = IMPORT_UNSAFE_NAME;
        else if (!EntryPathFits(staging, name, length,
                                (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
            result = IMPORT_BAD_ENTRY;
    }
    free(name);
    return result;
}

// ---------------------------------------------------------------- export

static int AddIdentityEntry(ZipHandle *zip)
{
    char identity[MAX_TEXT + 48];
    int length = (int)strlen(gApp.archiveIdentity);
    memcpy(identity, gApp.archiveIdentity, (size_t)length);
    identity[length++] = 0;
    length += snprintf(identity + length, sizeof identity - (size_t)length, "%d.%d.%d",
                       gApp.versionMajor, gApp.versionMinor, gApp.versionBuild);
    return CZipWriter::AddMemory(zip, gApp.productName, identity, (uint32_t)length);
}

// The number of files that could not be added.
static int AddConfigurationFiles(ZipHandle *zip)
{
    CDirScanner scanner;
    if (gApp.archiveMasks[0])
        scanner.SetRoot(gApp.dataFolder, "%s;%s", kOwnMasks, gApp.archiveMasks);
    else
        scanner.SetRoot(gApp.dataFolder, "%s", kOwnMasks);
    int failures = 0;
    for (int i = 0; i < scanner.files.count; i++) {
        const char *file = scanner.files.data[i];
        if (CZipWriter::AddFile(zip, scanner.RelativePath(file), file) != ZIP_OK)
            failures++;
    }
    return failures;
}

// Written beside the target and moved over it only when whole: an archive
// the user chose to overwrite, or the day's rotation name, stays as it was
// when the disk fills up, and a half-written one never passes for a backup.
static int ExportArchive(const char *target, bool withFiles)
{
    char temp[MAX_TEXT];
    if (!MakeReplacingPath(target, temp))
        return ARCHIVE_NOT_CREATED;
    ZipHandle *zip = CZipWriter::Create(temp, 0);
    if (!zip) {
        FinishReplacing(temp, target, false);
        return ARCHIVE_NOT_CREATED;
    }
    bool written = AddIdentityEntry(zip) == ZIP_OK;
    int failures = written && withFiles ? AddConfigurationFiles(zip) : 0;
    written = CZipWriter::Close(zip) == ZIP_OK && written;
    if (!FinishReplacing(temp, target, written))
        return ARCHIVE_NOT_CREATED;
    return failures ? ARCHIVE_FILES_FAILED : ARCHIVE_OK;
}

// ---------------------------------------------------------------- exchange

static int ShowMessage(HWND owner, int id, int variant, uint32_t flags)
{
    const char *text = gApp.strings.GetText((uint16_t)id, variant);
    return FrameworkMessageBox(owner, gApp.productName, "%s", flags, 0, text ? text : "");
}

static bool AskOverwrite(HWND owner)
{
    return ShowMessage(owner, TEXT_EXCHANGE, 0, ASK_FLAGS) == IDYES;
}

static void DefaultArchiveName(char *name)
{
    char expanded[MAX_TEXT];
    if (!ExpandVariables(gArchiveRecord.nameTemplate, expanded, MAX_TEXT, Now()))
        expanded[0] = 0;
    snprintf(name, MAX_TEXT, "%s.%s", expanded, ARCHIVE_FILE_EXTENSION);
}

static int RestoreArchive(HWND owner)
{
    char name[MAX_TEXT], chosen[MAX_TEXT], pending[MAX_TEXT];
    DefaultArchiveName(name);
    const char *picked = ShowFileDialog(false, kFilters, 0, 0, 0, name);
    if (!picked)
        return ARCHIVE_CANCELLED;
    CopyText(chosen, picked, MAX_TEXT);
    ZipHandle *zip = CZipReader::Open(chosen, 0);
    if (!zip)
        return ARCHIVE_NOT_CREATED;
    ZipEntryInfo info;
    bool ours = CZipReader::FindEntry(zip, gApp.productName, 0, 0, &info) == ZIP_OK;
    // The import would refuse it at the next start, after the user was told
    // that the restore succeeded.
    GetPendingArchivePath(pending);
    char staging[MAX_TEXT];
    int names = StagingPath(pending, staging) >= MAX_TEXT ? IMPORT_BAD_ENTRY
                : ours                                     ? CheckEntryNames(zip, staging)
                                                           : IMPORT_DONE;
    CZipReader::Close(zip);
    if (!ours) {
        ShowMessage(owner, TEXT_EXCHANGE, 3, ERROR_FLAGS);
        return ARCHIVE_WRONG_PRODUCT;
    }
    if (names != IMPORT_DONE) {
        ShowMessage(owner, TEXT_EXCHANGE, 1, ERROR_FLAGS);
        return ARCHIVE_NOT_CREATED;
    }
    if (!AskOverwrite(owner))
        return ARCHIVE_CANCELLED;
    // Beside and moved over: a copy that does not fit leaves no torn archive
    // for the next start to import, and an earlier pending restore stays.
    if (!CopyFileReplacing(chosen, pending)) {
        ShowMessage(owner, TEXT_EXCHANGE, 2, ERROR_FLAGS);
        return ARCHIVE_COPY_FAILED;
    }
    return ARCHIVE_OK;
}

static void ShowExportError(HWND owner, int result)
{
    if (result == ARCHIVE_NOT_CREATED)
        ShowMessage(owner, TEXT_EXCHANGE, 1, ERROR_FLAGS);
    else if (result == ARCHIVE_FILES_FAILED)
        ShowMessage(owner, TEXT_EXCHANGE, 4, ERROR_FLAGS);
}

int ExchangeConfigArchive(HWND owner, int mode, const char *path)
{
    char target[MAX_TEXT];
    switch (mode) {
    case ARCHIVE_MODE_RESTORE:
        LoadArchiveSettings();
        return RestoreArchive(owner);
    case ARCHIVE_MODE_BACKUP: {
        LoadArchiveSettings();
        char name[MAX_TEXT];
        DefaultArchiveName(name);
        const char *picked = ShowFileDialog(true, kFilters, 0, 0, 0, name);
        if (!picked)
            return ARCHIVE_CANCELLED;
        CopyText(target, picked, MAX_TEXT);
        break;
    }
    case ARCHIVE_MODE_RESET:
        if (!AskOverwrite(owner))
            return ARCHIVE_CANCELLED;
        GetPendingArchivePath(target);
        break;
    case ARCHIVE_MODE_EXPORT:
        if (!path || !*path)
            return ARCHIVE_NOT_CREATED;
        CopyText(target, path, MAX_TEXT);
        break;
    default:
        return ARCHIVE_NOT_CREATED;
    }
    int result = ExportArchive(target, mode != ARCHIVE_MODE_RESET);
    if (mode != ARCHIVE_MODE_EXPORT)
        ShowExportError(owner, result);
    return result;
}

int ShowArchiveSuccess(HWND owner, int mode)
{
    if (mode == ARCHIVE_MODE_BACKUP)
        return ShowMessage(owner, TEXT_SUCCESS, 1, DONE_FLAGS);
    const char *done = gApp.strings.GetText(TEXT_SUCCESS, mode == ARCHIVE_MODE_RESET ? 2 : 0);
    const char *restart = gApp.strings.GetText(TEXT_RESTART, 0);
    return FrameworkMessageBox(owner, gApp.productName, "%s\n%s", RESTART_FLAGS, 0,
                               done ? done : "", restart ? restart : "");
}

// ---------------------------------------------------------------- import

static bool SamePath(const char *a, const char *b)
{
    return _stricmp(a, b) == 0;
}

// A file with the archives' extension.
static bool IsArchiveFile(const char *path)
{
    const char *name = strrchr(path, '\\');
    const char *dot = strrchr(name ? name : path, '.');
    return dot && _stricmp(dot + 1, ARCHIVE_FILE_EXTENSION) == 0;
}

// Every file of the data folder that the keep list does not name, the
// product's archives aside: the pending one (start-up deletes that one
// itself) and the user's backups, which may lie in a folder below.
static void CollectDeleteSet(const char *keepList, const char *archivePath,
                             CGrowArray<PathText> *doomed)
{
    CDirScanner keep, all;
    if (keepList[0])
        keep.SetRoot(gApp.dataFolder, "%s", keepList);
    all.SetRoot(gApp.dataFolder, "%s", "*.*");
    for (int i = 0; i < all.files.count; i++) {
        const char *file = all.files.data[i];
        bool kept = SamePath(file, archivePath) || IsArchiveFile(file);
        for (int k = 0; k < keep.files.count && !kept; k++)
            kept = SamePath(file, keep.files.data[k]);
        if (!kept)
            doomed->Add(all.files.data[i]);
    }
}

static void SendToRecycleBin(const char *file)
{
    char from[MAX_TEXT + 2];
    memset(from, 0, sizeof from);
    CopyText(from, file, MAX_TEXT);   // double-NUL terminated list of one
    SHFILEOPSTRUCTA operation;
    memset(&operation, 0, sizeof operation);
    operation.wFunc = FO_DELETE;
    operation.pFrom = from;
    operation.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI |
                       FOF_NOCONFIRMMKDIR;
    SHFileOperationA(&operation);
}

struct RemovalLevel {
    HANDLE find;   // the search in this folder, INVALID_HANDLE_VALUE when it failed
    int length;    // the folder's path length
};

static bool IsDotsW(const wchar_t *name)
{
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// The folder in the long-path form of the wide API ("\\?\C:\..." or
// "\\?\UNC\server\share\..."), so that nothing below it is held to
// MAX_PATH; false when it cannot be made.
static bool LongFolderPath(const char *folder, wchar_t *out)
{
    wchar_t wide[MAX_PATH], full[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, folder, -1, wide, MAX_PATH))
        return false;
    DWORD length = GetFullPathNameW(wide, MAX_PATH, full, 0);
    if (length == 0 || length >= MAX_PATH)
        return false;
    while (length > 3 && full[length - 1] == L'\\')
        full[--length] = 0;
    bool network = full[0] == L'\\' && full[1] == L'\\';
    if (network && (full[2] == L'?' || full[2] == L'.')) {
        wcscpy(out, full);   // already in a device form
    } else if (network) {
        wcscpy(out, L"\\\\?\\UNC");
        wcscat(out, full + 1);
    } else {
        wcscpy(out, L"\\\\?\\");
        wcscat(out, full);
    }
    return true;
}

// Starts the search in the folder path[0..length) and stacks it; true when
// an entry was found.
static bool EnterFolder(wchar_t *path, int length, RemovalLevel *levels, int *depth,
                        WIN32_FIND_DATAW *entry)
{
    wcscpy(path + length, L"\\*");
    HANDLE find = FindFirstFileW(path, entry);
    path[length] = 0;
    levels[*depth].find = find;
    levels[*depth].length = length;
    ++*depth;
    return find != INVALID_HANDLE_VALUE;
}

// Removes the link itself, never what it leads to. Its attributes are changed
// only through a handle opened on the link, as by path the system follows it
// to the target, and only when read-only would stop the deletion. A handle
// that shows no reparse point reached the target instead (a system that
// follows links even there, as Wine does): the link is then left alone, for
// whatever could be done through it would be done to the target.
static bool RemoveLink(const wchar_t *path)
{
    HANDLE link = CreateFileW(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                              0);
    if (link == INVALID_HANDLE_VALUE)
        return false;
    FILE_ATTRIBUTE_TAG_INFO own;
    bool onLink = GetFileInformationByHandleEx(link, FileAttributeTagInfo, &own, sizeof own) &&
                  (own.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (onLink && (own.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        FILE_BASIC_INFO basic;
        memset(&basic, 0, sizeof basic);   // times 0: left as they are
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        onLink = SetFileInformationByHandle(link, FileBasicInfo, &basic, sizeof basic) != 0;
    }
    CloseHandle(link);
    if (!onLink)
        return false;
    if (own.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return RemoveDirectoryW(path) != 0;
    return DeleteFileW(path) != 0;
}

static bool RemoveLinkA(const char *path)
{
    wchar_t wide[MAX_TEXT];
    return MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_TEXT) && RemoveLink(wide);
}

// A file of the delete set goes to the Recycle Bin, a link as a link: the
// shell would recycle what a link leads to (Wine moves the target to the
// trash), which lies outside the data folder. A link that cannot be removed
// without touching its target stays.
static void DiscardFile(const char *file)
{
    if (IsLinkEntry(file, GetFileAttributesA(file)))
        RemoveLinkA(file);
    else
        SendToRecycleBin(file);
}

// Removes the folder with everything below it, however deep: an import cut
// short, or an older version's, may have left paths longer than MAX_PATH,
// which no MAX_PATH scan can list. Walked with the wide API in its long-path
// form and without recursion; a path that would not fit is left alone,
// never cut, and a link, the folder itself too, is removed, never followed.
// True when the folder is gone.
static bool RemoveFolderTree(const char *folder)
{
    // Every level adds at least two characters to the path.
    wchar_t *path = (wchar_t *)malloc(LONG_PATH_SIZE * sizeof(wchar_t));
    RemovalLevel *levels = (RemovalLevel *)malloc(LONG_PATH_SIZE / 2 * sizeof(RemovalLevel));
    WIN32_FIND_DATAW entry;
    int depth = 0;
    bool formed = path && levels && LongFolderPath(folder, path);
    DWORD top = formed ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
    bool have = false;
    if (top != INVALID_FILE_ATTRIBUTES && (top & FILE_ATTRIBUTE_REPARSE_POINT))
        RemoveLink(path);
    else if (formed)
        have = EnterFolder(path, (int)wcslen(path), levels, &depth, &entry);
    while (depth > 0) {
        RemovalLevel *level = &levels[depth - 1];
        if (!have) {   // emptied as far as it could be
            if (level->find != INVALID_HANDLE_VALUE)
                FindClose(level->find);
            path[level->length] = 0;
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            RemoveDirectoryW(path);
            depth--;
            have = depth > 0 && FindNextFileW(levels[depth - 1].find, &entry);
            continue;
        }
        int nameLength = (int)wcslen(entry.cFileName);
        if (!IsDotsW(entry.cFileName) && level->length + 1 + nameLength + 2 < LONG_PATH_SIZE) {
            int length = level->length + 1 + nameLength;
            path[level->length] = L'\\';
            wcscpy(path + level->length + 1, entry.cFileName);
            DWORD attributes = entry.dwFileAttributes;
            // Wine lists a link to a file as a plain file: deleted, it
            // would take the target.
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsLinkEntryW(path, attributes)) {
                RemoveLink(path);
            } else {
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
                if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                    have = EnterFolder(path, length, levels, &depth, &entry);
                    continue;
                }
                DeleteFileW(path);
            }
            path[level->length] = 0;
        }
        have = FindNextFileW(level->find, &entry);
    }
    bool gone = false;
    if (formed && GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    free(levels);
    free(path);
    return gone;
}

// The keep list: the identity text up to its NUL; false without identity.
static bool ReadKeepList(ZipHandle *zip, char *keepList, int *identityIndex)
{
    ZipEntryInfo info;
    if (CZipReader::FindEntry(zip, gApp.productName, 0, identityIndex, &info) != ZIP_OK)
        return false;
    char identity[ARCHIVE_IDENTITY_MAX + 1];
    uint32_t size = info.uncompressedSize;
    if (size > (uint32_t)ARCHIVE_IDENTITY_MAX)
        size = ARCHIVE_IDENTITY_MAX;
    memset(identity, 0, sizeof identity);
    int result = CZipReader::ExtractToMemory(zip, *identityIndex, identity, size);
    if (result != ZIP_OK && result != ZIP_MORE_DATA)
        return false;
    CopyText(keepList, identity, SCANNER_MASKS_SIZE);
    return true;
}

// Every entry but the identity into the staging folder; false at the first failure.
static bool UnpackToStaging(ZipHandle *zip, int identityIndex, const char *staging)
{
    ZipEntryInfo info;
    if (CZipReader::GetEntry(zip, -1, &info) != ZIP_OK ||
        CZipReader::SetBaseFolder(zip, staging) != ZIP_OK)
        return false;
    CreateDirectoryA(staging, 0);
    int count = info.index;
    for (int i = 0; i < count; i++)
        if (i != identityIndex && CZipReader::ExtractToFile(zip, i, 0) != ZIP_OK)
            return false;
    return true;
}

// Whether some staged folder would be made or filled in the data folder
// through a link there: the files would land where the link leads.
static bool StagedFoldersMeetLink(const char *staging)
{
    CDirScanner scanner;
    scanner.SetRoot(staging, "%s", "*.*");
    for (int i = 0; i < scanner.folders.count; i++) {
        char folder[MAX_TEXT];
        snprintf(folder, sizeof folder, "%s\\%s", gApp.dataFolder,
                 scanner.RelativePath(scanner.folders.data[i]));
        if (PathPassesLink(gApp.dataFolder, folder))
            return true;
    }
    return false;
}

// Moves the staged files to the same relative paths in the data folder;
// the number that could not be moved. Nothing is made or moved through a
// link in the data folder (checked before, and again here, as the folder
// may have changed since); a file that is a link is replaced as the link.
static int PlaceStagedFiles(const char *staging)
{
    CDirScanner scanner;
    scanner.SetRoot(staging, "%s", "*.*");
    int failures = 0;
    for (int i = 0; i < scanner.folders.count; i++) {
        char folder[MAX_TEXT];
        snprintf(folder, sizeof folder, "%s\\%s", gApp.dataFolder,
                 scanner.RelativePath(scanner.folders.data[i]));
        if (!PathPassesLink(gApp.dataFolder, folder))
            CreateFolderPath(folder, false);
    }
    for (int i = 0; i < scanner.files.count; i++) {
        char target[MAX_TEXT], folder[MAX_TEXT];
        snprintf(target, sizeof target, "%s\\%s", gApp.dataFolder,
                 scanner.RelativePath(scanner.files.data[i]));
        CopyText(folder, target, MAX_TEXT);
        *strrchr(folder, '\\') = 0;
        if (PathPassesLink(gApp.dataFolder, folder)) {
            failures++;
            continue;
        }
        // By path the system follows a link: its target's attributes would
        // change. The move replaces a link that stays, never its target.
        DWORD was = GetFileAttributesA(target);
        if (was != INVALID_FILE_ATTRIBUTES && IsLinkEntry(target, was))
            RemoveLinkA(target);
        else
            SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
        if (!MoveFileExA(scanner.files.data[i], target, MOVEFILE_REPLACE_EXISTING))
            failures++;
    }
    return failures;
}

static int ImportOpenArchive(ZipHandle *zip, const char *path, const char *staging)
{
    char keepList[SCANNER_MASKS_SIZE];
    int identityIndex = -1;
    if (!ReadKeepList(zip, keepList, &identityIndex))
        return IMPORT_NO_IDENTITY;
    int names = CheckEntryNames(zip, staging);
    if (names != IMPORT_DONE)
        return names;
    // Listed before the staging folder exists, so it is never in the set.
    CGrowArray<PathText> doomed;
    CollectDeleteSet(keepList, path, &doomed);
    int result;
    if (!UnpackToStaging(zip, identityIndex, staging)) {
        result = IMPORT_BAD_ENTRY;
    } else if (StagedFoldersMeetLink(staging)) {
        result = IMPORT_UNSAFE_NAME;   // refused before anything is recycled
    } else {
        for (int i = 0; i < doomed.count; i++)
            DiscardFile(doomed.data[i]);
        result = PlaceStagedFiles(staging) ? IMPORT_NOT_ALL_PLACED : IMPORT_DONE;
    }
    doomed.RemoveAll();
    return result;
}

int ImportConfigArchive(const char *path)
{
    ZipHandle *zip = CZipReader::Open(path, 0);
    if (!zip)
        return IMPORT_NOT_AN_ARCHIVE;
    char staging[MAX_TEXT];
    if (StagingPath(path, staging) >= MAX_TEXT) {   // cut, it would name another folder
        CZipReader::Close(zip);
        return IMPORT_BAD_ENTRY;
    }
    // Left by an import that was cut short. What stays there would be placed
    // as configuration, and placing would follow a link left there.
    if (!RemoveFolderTree(staging)) {
        CZipReader::Close(zip);
        return IMPORT_BAD_ENTRY;
    }
    int result = ImportOpenArchive(zip, path, staging);
    CZipReader::Close(zip);
    RemoveFolderTree(staging);
    return result;
}

// ---------------------------------------------------------------- automatic archive

static bool ArchiveDue(int64_t now)
{
    return gArchiveRecord.enabled &&
           now - gArchiveRecord.lastArchive >
               (int64_t)gArchiveRecord.intervalDays * DAY_SECONDS;
}

// The moment the running archive was started, its thread's parameter.
static int64_t gArchiveStartTime;

static int LaunchArchive(int64_t now)
{
    if (gArchiveRunning)
        return ARCHIVE_STILL_RUNNING;
    gArchiveRunning = 1;
    gArchiveStartTime = now;
    HANDLE thread = CreateThread(0, 0, ArchiveThread, &gArchiveStartTime, 0, 0);
    if (!thread) {
        gArchiveRunning = 0;
        return ARCHIVE_NO_THREAD;
    }
    CloseHandle(thread);
    return ARCHIVE_STARTED;
}

int StartArchive(int64_t now)
{
    LoadArchiveSettings();
    if (!ArchiveDue(now))
        return ARCHIVE_NOT_DUE;
    return LaunchArchive(now);
}

struct ArchiveListEntry {
    PathText path;
    FILETIME written;
};

// Newest first; a file as old as one listed goes behind it.
static void InsertByAge(CGrowArray<ArchiveListEntry> *list, const ArchiveListEntry &entry)
{
    int low = 0, high = list->count;
    while (low < high) {
        int middle = (low + high) / 2;
        if (CompareFileTime(&list->data[middle].written, &entry.written) >= 0)
            low = middle + 1;
        else
            high = middle;
    }
    list->InsertAt(&entry, low, 1);
}

static void PruneArchives(const char *folder, int keepCount)
{
    CGrowArray<ArchiveListEntry> list;
    CFileFind find;
    if (find.FindFirst("%s*.%s", folder, ARCHIVE_FILE_EXTENSION)) {
        do {
            if (find.IsFolder() || !FindTextNoCase(find.GetFileName(), gApp.productName))
                continue;
            ArchiveListEntry entry;
            snprintf(entry.path, sizeof entry.path, "%s%s", folder, find.GetFileName());
            entry.written = find.entry.ftLastWriteTime;
            InsertByAge(&list, entry);
        } while (find.FindNext());
    }
    find.Close();
    for (int i = keepCount; i < list.count; i++)
        DeleteFileA(list.data[i].path);
    list.RemoveAll();
}

static int ArchiveOnce(int64_t now)
{
    if (!gArchiveRecord.folderTemplate[0])
        return ARCHIVE_THREAD_NO_FOLDER;
    char folder[MAX_TEXT], name[MAX_TEXT], target[MAX_TEXT];
    if (!ExpandVariables(gArchiveRecord.folderTemplate, folder, MAX_TEXT - 1, now) ||
        !ExpandVariables(gArchiveRecord.nameTemplate, name, MAX_TEXT, now))
        return ARCHIVE_THREAD_FAILED;
    AppendBackslash(folder);
    CreateFolderPath(folder, false);
    if (snprintf(target, sizeof target, "%s%s.%s", folder, name, ARCHIVE_FILE_EXTENSION) >=
        (int)sizeof target)
        return ARCHIVE_THREAD_FAILED;   // cut, it would name another file
    int exported = ExchangeConfigArchive(0, ARCHIVE_MODE_EXPORT, target);
    if (exported != ARCHIVE_OK && exported != ARCHIVE_FILES_FAILED)
        return ARCHIVE_THREAD_FAILED;
    gArchiveRecord.lastArchive = now / DAY_SECONDS * DAY_SECONDS;
    SaveArchiveSettings();
    PruneArchives(folder, gArchiveRecord.keepCount);
    return ARCHIVE_THREAD_DONE;
}

// Every way out clears the running byte, a failure too: the next check
// must be able to try again.
DWORD WINAPI ArchiveThread(LPVOID when)
{
    gArchiveRunning = 1;
    int result = ArchiveOnce(when ? *(const int64_t *)when : Now());
    gArchiveRunning = 0;
    return (DWORD)result;
}

// ---------------------------------------------------------------- dialog

static void FollowEnabled(HWND dialog)
{
    bool on = IsDlgButtonChecked(dialog, IDC_ARC_ENABLED) == BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_ARC_INTERVAL), on);
    EnableWindow(GetDlgItem(dialog, IDC_ARC_DAYS), on);
}

static void GetDialogText(HWND dialog, int id, char *text)
{
    text[0] = 0;
    GetDlgItemTextA(dialog, id, text, ARCHIVE_TEXT_SIZE);
}

static void ShowExpansion(HWND dialog, int sourceId, int targetId)
{
    char text[ARCHIVE_TEXT_SIZE], expanded[MAX_TEXT];
    GetDialogText(dialog, sourceId, text);
    if (!ExpandVariables(text, expanded, MAX_TEXT, Now()))
        expanded[0] = 0;
    SetDlgItemTextA(dialog, targetId, expanded);
}

static void InitArchiveDialog(HWND dialog)
{
    InitDialog(dialog);
    LoadArchiveSettings();
    CheckDlgButton(dialog, IDC_ARC_ENABLED, gArchiveRecord.enabled ? BST_CHECKED : BST_UNCHECKED);
    FollowEnabled(dialog);
    SetDlgItemInt(dialog, IDC_ARC_INTERVAL, (UINT)gArchiveRecord.intervalDays, FALSE);
    SetDlgItemInt(dialog, IDC_ARC_KEEP, (UINT)gArchiveRecord.keepCount, FALSE);
    SetDlgItemTextA(dialog, IDC_ARC_FOLDER, gArchiveRecord.folderTemplate);
    SetDlgItemTextA(dialog, IDC_ARC_NAME, gArchiveRecord.nameTemplate);
    ShowExpansion(dialog, IDC_ARC_FOLDER, IDC_ARC_FOLDER_SHOWN);
    ShowExpansion(dialog, IDC_ARC_NAME, IDC_ARC_NAME_SHOWN);
    gArchiveDialog = dialog;
}

static void BrowseArchiveFolder(HWND dialog)
{
    char text[ARCHIVE_TEXT_SIZE], path[MAX_TEXT];
    GetDialogText(dialog, IDC_ARC_FOLDER, text);
    if (!ExpandVariables(text, path, MAX_TEXT, Now()))
        path[0] = 0;
    const char *title = gApp.strings.GetText(TEXT_DIALOG, 0);
    if (BrowseForFolder(title ? title : "", path, true) == 1)   // 1: a folder was chosen
        SetDlgItemTextA(dialog, IDC_ARC_FOLDER, path);
}

static void ArchiveNow(HWND dialog)
{
    gArchiveRecord.keepCount = GetDlgItemNumber(dialog, IDC_ARC_KEEP, 1, ARCHIVE_MAX_KEEP, false);
    GetDialogText(dialog, IDC_ARC_FOLDER, gArchiveRecord.folderTemplate);
    if (ArchiveThread(0) != ARCHIVE_THREAD_DONE)
        ShowMessage(dialog, TEXT_DIALOG, 4, ERROR_FLAGS);
    else
        ShowMessage(dialog, TEXT_DIALOG, 1, DONE_FLAGS);
}

static bool TemplateExpands(const char *text)
{
    char expanded[MAX_TEXT];
    return text[0] && ExpandVariables(text, expanded, MAX_TEXT, Now());
}

static void CloseArchiveDialog(HWND dialog, int code)
{
    if (gArchiveDialog == dialog)
        gArchiveDialog = 0;
    EndDialog(dialog, code);
}

static void AcceptArchiveDialog(HWND dialog)
{
    ArchiveRecord record = gArchiveRecord;
    record.enabled = IsDlgButtonChecked(dialog, IDC_ARC_ENABLED) == BST_CHECKED;
    record.intervalDays =
        GetDlgItemNumber(dialog, IDC_ARC_INTERVAL, 1, ARCHIVE_MAX_INTERVAL, false);
    record.keepCount = GetDlgItemNumber(dialog, IDC_ARC_KEEP, 1, ARCHIVE_MAX_KEEP, false);
    GetDialogText(dialog, IDC_ARC_FOLDER, record.folderTemplate);
    GetDialogText(dialog, IDC_ARC_NAME, record.nameTemplate);
    if (record.enabled && !TemplateExpands(record.folderTemplate)) {
        ShowMessage(dialog, TEXT_DIALOG, 2, ERROR_FLAGS);
        FocusDlgEdit(dialog, IDC_ARC_FOLDER);
        return;
    }
    if (!TemplateExpands(record.nameTemplate)) {
        ShowMessage(dialog, TEXT_DIALOG, 3, ERROR_FLAGS);
        FocusDlgEdit(dialog, IDC_ARC_NAME);
        return;
    }
    gArchiveRecord = record;
    SaveArchiveSettings();
    LoadArchiveSettings();
    int64_t now = Now();
    if (ArchiveDue(now))
        LaunchArchive(now);
    CloseArchiveDialog(dialog, IDOK);
}

static void RunArchiveCommand(HWND dialog, int id, int notification)
{
    switch (id) {
    case IDC_ARC_ENABLED:
        FollowEnabled(dialog);
        break;
    case IDC_ARC_FOLDER:
        if (notification == EN_CHANGE)
            ShowExpansion(dialog, IDC_ARC_FOLDER, IDC_ARC_FOLDER_SHOWN);
        break;
    case IDC_ARC_NAME:
        if (notification == EN_CHANGE)
            ShowExpansion(dialog, IDC_ARC_NAME, IDC_ARC_NAME_SHOWN);
        break;
    case IDC_ARC_BROWSE:
        BrowseArchiveFolder(dialog);
        break;
    case IDC_ARC_DEFAULTS:
        SetDlgItemTextA(dialog, IDC_ARC_FOLDER, kDefaultFolder);
        SetDlgItemTextA(dialog, IDC_ARC_NAME, kDefaultName);
        break;
    case IDC_ARC_NOW:
        ArchiveNow(dialog);
        break;
    case IDOK:
        AcceptArchiveDialog(dialog);
        break;
    case IDCANCEL:
        CloseArchiveDialog(dialog, IDCANCEL);
        break;
    case 9:   // help
        AskFirstFrameForHelp("About");
        break;
    }
}

INT_PTR CALLBACK ArchiveDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitArchiveDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        RunArchiveCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_HELP:
        RunArchiveCommand(dialog, 9, 0);
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        return FALSE;
    }
    return FALSE;
}

int OpenArchiveDialog(HWND owner)
{
    return DoModal(owner, IDD_FW_ARCHIVE, ArchiveDialogProc, 0);
}

// ---------------------------------------------------------------- daily checks

void RunDailyChecks()
{
    int64_t now = Now();
    StartUpdateCheck(now);
    StartArchive(now);
}
