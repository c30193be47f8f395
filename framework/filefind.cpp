// Folder enumeration: one pattern in one folder, the recursive scan by masks,
// and the tests that tell a link from the place it leads to.
#include "framework/filefind.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"

enum { PATH_SIZE = 260 };

// Formats into out[size], cutting an over-long result. True when nothing was
// cut. A count of the full size and a forced terminator give the same result
// with the C runtime's and with C99 snprintf semantics.
static bool FormatCutV(char *out, int size, const char *format, va_list args)
{
    int n = _vsnprintf(out, (size_t)size, format, args);
    out[size - 1] = 0;
    return n >= 0 && n < size;
}

static bool FormatPath(char *out, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    bool whole = FormatCutV(out, PATH_SIZE, format, args);
    va_end(args);
    return whole;
}

static int IndexOfPath(const CGrowArray<PathText> *list, const char *path)
{
    for (int i = 0; i < list->count; i++)
        if (_stricmp(list->data[i], path) == 0)
            return i;
    return -1;
}

// ---- CFileFind ----

CFileFind::CFileFind() : handle(INVALID_HANDLE_VALUE), count(0)
{
    memset(&entry, 0, sizeof entry);
    path[0] = folder[0] = pattern[0] = 0;
}

CFileFind::CFileFind(const char *format, ...) : CFileFind()
{
    char text[PATH_SIZE];
    va_list args;
    va_start(args, format);
    FormatCutV(text, PATH_SIZE, format, args);
    va_end(args);
    StorePattern(text);
}

CFileFind::~CFileFind()
{
    Close();
}

void CFileFind::StorePattern(const char *text)
{
    CopyText(pattern, text, PATH_SIZE);
    const char *slash = strrchr(pattern, '\\');
    int length = slash ? (int)(slash - pattern) : 0;
    memcpy(folder, pattern, (size_t)length);
    folder[length] = 0;
}

void CFileFind::Open(const char *format, ...)
{
    Close();
    char text[PATH_SIZE];
    va_list args;
    va_start(args, format);
    FormatCutV(text, PATH_SIZE, format, args);
    va_end(args);
    StorePattern(text);
    count = 0;
}

bool CFileFind::StartSearch()
{
    Close();
    count = 0;
    handle = FindFirstFileExA(pattern, FindExInfoBasic, &entry, FindExSearchNameMatch, 0,
                              FIND_FIRST_EX_LARGE_FETCH);
    // Systems before 7 know neither the basic level nor large fetches.
    if (handle == INVALID_HANDLE_VALUE)
        handle = FindFirstFileExA(pattern, FindExInfoStandard, &entry, FindExSearchNameMatch, 0,
                                  0);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    count = 1;
    return true;
}

bool CFileFind::FindFirst(const char *format, ...)
{
    char text[PATH_SIZE];
    va_list args;
    va_start(args, format);
    FormatCutV(text, PATH_SIZE, format, args);
    va_end(args);
    Close();
    StorePattern(text);
    return StartSearch();
}

bool CFileFind::FindNext()
{
    if (handle == INVALID_HANDLE_VALUE)
        return count == 0 && StartSearch();
    if (!FindNextFileA(handle, &entry))
        return false;
    count++;
    return true;
}

const char *CFileFind::GetFilePath()
{
    if (handle == INVALID_HANDLE_VALUE)
        path[0] = 0;
    else if (strchr(pattern, '\\'))
        FormatPath(path, "%s\\%s", folder, entry.cFileName);
    else
        CopyText(path, entry.cFileName, PATH_SIZE);
    return path;
}

int CFileFind::Close()
{
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    int result = FindClose(handle);
    handle = INVALID_HANDLE_VALUE;
    return result;
}

bool CFileFind::IsDots() const
{
    const char *name = entry.cFileName;
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// ---- links ----

enum { FINAL_PATH_SIZE = 32768 };   // the wide API's longest path and its NUL

static HANDLE OpenForAttributes(const wchar_t *path, DWORD flags)
{
    return CreateFileW(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | flags, 0);
}

// The path the system reached the opened entry by, every link on the way
// resolved; false when it cannot tell.
static bool FinalPath(HANDLE handle, wchar_t *out)
{
    DWORD length = GetFinalPathNameByHandleW(handle, out, FINAL_PATH_SIZE,
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return length > 0 && length < FINAL_PATH_SIZE;
}

// Whether the opened entry lies where its path says: its final path is its
// folder's final path and its own name. Only a link leads elsewhere; no
// answer (false) when a final path cannot be had.
static bool LeadsElsewhere(const wchar_t *path, HANDLE entry)
{
    const wchar_t *slash = wcsrchr(path, L'\\');
    if (!slash || !slash[1])
        return false;
    wchar_t *own = (wchar_t *)malloc(FINAL_PATH_SIZE * sizeof(wchar_t));
    wchar_t *folder = (wchar_t *)malloc((FINAL_PATH_SIZE + 2) * sizeof(wchar_t));
    bool elsewhere = false;
    if (own && folder && FinalPath(entry, own)) {
        size_t length = (size_t)(slash - path);
        memcpy(folder, path, length * sizeof(wchar_t));
        if (length > 0 && path[length - 1] == L':')
            folder[length++] = L'\\';   // "C:" alone is that drive's current folder
        folder[length] = 0;
        // The folder followed: a link above the entry (the data folder
        // itself may be one) is resolved in the entry's final path too.
        HANDLE parent = OpenForAttributes(folder, 0);
        if (parent != INVALID_HANDLE_VALUE) {
            if (FinalPath(parent, folder)) {
                size_t used = wcslen(folder);
                if (used > 0 && folder[used - 1] != L'\\')
                    folder[used++] = L'\\';
                folder[used] = 0;
                if (used + wcslen(slash + 1) < FINAL_PATH_SIZE) {
                    wcscat(folder, slash + 1);
                    elsewhere = CompareStringOrdinal(own, -1, folder, -1, TRUE) != CSTR_EQUAL;
                }
            }
            CloseHandle(parent);
        }
    }
    free(folder);
    free(own);
    return elsewhere;
}

bool IsLinkEntryW(const wchar_t *path, DWORD listed)
{
    bool listedAsLink = listed != INVALID_FILE_ATTRIBUTES && (listed & FILE_ATTRIBUTE_REPARSE_POINT);
    HANDLE entry = OpenForAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT);
    if (entry == INVALID_HANDLE_VALUE)
        return listedAsLink;
    bool link = listedAsLink;
    FILE_ATTRIBUTE_TAG_INFO own;
    if (GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &own, sizeof own) &&
        (own.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        // Reparse points that are no links (cloud placeholders, deduplicated
        // files) hold their data where they are.
        link = IsReparseTagNameSurrogate(own.ReparseTag) != 0;
    else if (!listedAsLink)
        link = LeadsElsewhere(path, entry);
    CloseHandle(entry);
    return link;
}

bool IsLinkEntry(const char *path, DWORD listed)
{
    wchar_t wide[2 * PATH_SIZE];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 2 * PATH_SIZE))
        return listed != INVALID_FILE_ATTRIBUTES && (listed & FILE_ATTRIBUTE_REPARSE_POINT);
    return IsLinkEntryW(wide, listed);
}

bool PathPassesLink(const char *root, const char *path)
{
    size_t rootLength = strlen(root);
    while (rootLength > 1 && root[rootLength - 1] == '\\')
        rootLength--;
    size_t length = strlen(path);
    if (length >= PATH_SIZE || _strnicmp(path, root, rootLength) != 0 ||
        (path[rootLength] != 0 && path[rootLength] != '\\'))
        return true;
    char part[PATH_SIZE];
    memcpy(part, path, length + 1);
    for (size_t i = rootLength + 1, start = i; i <= length; i++) {
        if (part[i] != '\\' && part[i] != 0)
            continue;
        if (i == start) {   // an empty part (a doubled or trailing "\\") names no entry
            start = i + 1;
            continue;
        }
        start = i + 1;
        char kept = part[i];
        part[i] = 0;
        DWORD attributes = GetFileAttributesA(part);
        // What does not exist yet holds no link; what is made there is real.
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if (IsLinkEntry(part, attributes))
            return true;
        part[i] = kept;
    }
    return false;
}

// ---- CDirScanner ----

CDirScanner::CDirScanner() : separator(';')
{
    root[0] = masks[0] = 0;
}

CDirScanner::~CDirScanner()
{
    folders.RemoveAll();
    files.RemoveAll();
}

// A trailing "\" would double every separator below the root.
void CDirScanner::StoreRoot(const char *rootFolder)
{
    CopyText(root, rootFolder, PATH_SIZE);
    int length = (int)strlen(root);
    while (length > 1 && root[length - 1] == '\\')
        root[--length] = 0;
}

int CDirScanner::RootAndScanV(const char *rootFolder, const char *maskFormat, va_list args)
{
    StoreRoot(rootFolder);
    FormatCutV(masks, SCANNER_MASKS_SIZE, maskFormat, args);
    return Scan(true);
}

int CDirScanner::SetRoot(const char *rootFolder, const char *maskFormat, ...)
{
    va_list args;
    va_start(args, maskFormat);
    int found = RootAndScanV(rootFolder, maskFormat, args);
    va_end(args);
    return found;
}

// The same as SetRoot: the form callers use to rescan with other masks.
int CDirScanner::ScanMasks(const char *rootFolder, const char *maskFormat, ...)
{
    va_list args;
    va_start(args, maskFormat);
    int found = RootAndScanV(rootFolder, maskFormat, args);
    va_end(args);
    return found;
}

bool CDirScanner::IsInsideRoot(const char *path) const
{
    size_t length = strlen(root);
    return _strnicmp(path, root, length) == 0 && (path[length] == 0 || path[length] == '\\');
}

const char *CDirScanner::RelativePath(const char *fullPath) const
{
    if (!IsInsideRoot(fullPath))
        return fullPath;
    const char *rest = fullPath + strlen(root);
    return *rest == '\\' ? rest + 1 : rest;
}

// Depth first, in the order the system returns the entries. A path that would
// not fit is left out: cut, it would name some other folder. A link is not
// entered: what it leads to is not below the root, and callers delete and
// replace what they list.
void CDirScanner::CollectFolders(const char *parent)
{
    char search[PATH_SIZE];
    if (!FormatPath(search, "%s\\*.*", parent))
        return;
    CFileFind find;
    if (!find.FindFirst("%s", search))
        return;
    do {
        if (!find.IsFolder() || find.IsDots())
            continue;
        PathText child;
        if (!FormatPath(child, "%s\\%s", parent, find.GetFileName()) ||
            IsLinkEntry(child, find.entry.dwFileAttributes))
            continue;
        if (IndexOfPath(&folders, child) < 0 && folders.Add(child) < 0)
            continue;
        CollectFolders(child);
    } while (find.FindNext());
}

void CDirScanner::CollectFiles(const char *folder, const char *mask)
{
    char search[PATH_SIZE];
    if (!FormatPath(search, "%s\\%s", folder, mask))
        return;
    CFileFind find;
    if (!find.FindFirst("%s", search))
        return;
    do {
        if (find.IsFolder())
            continue;
        PathText file;
        if (!FormatPath(file, "%s\\%s", folder, find.GetFileName()))
            continue;
        if (IndexOfPath(&files, file) < 0)
            files.Add(file);
    } while (find.FindNext());
}

// Folders already listed by an earlier scan without reset are searched again
// when they lie below this root, so a rescan with other masks sees them all.
int CDirScanner::Scan(bool reset)
{
    if (!root[0])
        return -1;
    if (!masks[0])
        return 0;
    if (reset) {
        folders.RemoveAll();
        files.RemoveAll();
    }
    // Only the root and the folders this scan adds are searched: a scan
    // without reset adds to what an earlier one listed.
    int first = folders.count;
    int rootIndex = IndexOfPath(&folders, root);
    if (rootIndex < 0)
        rootIndex = folders.Add(root);
    CollectFolders(root);
    auto searchFolder = [this](const char *folder) {
        const char *next = masks;
        // An empty mask (also one after a trailing separator) ends the list.
        while (*next) {
            const char *end = strchr(next, separator);
            int length = end ? (int)(end - next) : (int)strlen(next);
            if (length == 0)
                break;
            PathText mask;
            CopyText(mask, next, length + 1 < PATH_SIZE ? length + 1 : PATH_SIZE);
            CollectFiles(folder, mask);
            next += end ? length + 1 : length;
        }
    };
    if (rootIndex >= 0)
        searchFolder(folders.data[rootIndex]);
    for (int i = first; i < folders.count; i++)
        if (i != rootIndex)
            searchFolder(folders.data[i]);
    return files.count;
}
