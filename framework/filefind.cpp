// Folder enumeration: one pattern in one folder, and the recursive scan by masks.
#include "framework/filefind.h"

#include <stdarg.h>
#include <stdio.h>
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
// not fit is left out: cut, it would name some other folder.
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
        if (!FormatPath(child, "%s\\%s", parent, find.GetFileName()))
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
