// Folder enumeration. CFileFind walks the entries of one folder that match
// one pattern; CDirScanner collects every sub-folder below a root and every
// file matching any of a ";"-separated list of masks, as full paths.
// Every path is at most 259 characters: longer ones are cut, never overrun.
// A link (junction, symbolic link, mount point) is an entry of its folder:
// the scanner never descends through one, and the link tests below let
// callers that write or delete treat one as itself, never as its target.
#pragma once

#include <stdarg.h>

#include <windows.h>
#include <stdint.h>

#include "framework/growarray.h"

class CFileFind {
public:
    WIN32_FIND_DATAA entry;  // the current entry
    char path[260];          // full path of the current entry
    char folder[260];        // the pattern's text before its last "\"
    char pattern[260];
    HANDLE handle;           // INVALID_HANDLE_VALUE: no search open
    int count;               // entries found so far

    CFileFind();
    explicit CFileFind(const char *format, ...);
    ~CFileFind();

    // True while an entry is found; the first call starts the search.
    bool FindNext();
    bool FindFirst(const char *format, ...);
    // Closes a running search and stores the pattern; searches nothing.
    void Open(const char *format, ...);
    // "<folder>\<name>", the bare name without a folder, "" with no search.
    const char *GetFilePath();
    // The FindClose result, or -1 when no search was open.
    int Close();

    const char *GetFileName() const { return entry.cFileName; }
    uint64_t GetFileSize() const
    {
        return ((uint64_t)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
    }
    bool IsFolder() const { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsDots() const;

private:
    void StorePattern(const char *text);
    bool StartSearch();
};

// Whether the entry at path is a link: a junction, symbolic link or mount
// point (a name-surrogate reparse point), or an entry that its folder's
// listing showed as a reparse point but whose own handle does not (the
// system followed it, as Wine does), or one whose handle leads to some
// other place than its folder and its name (Wine shows a link to a file
// as a plain file). listed: the attributes the listing showed for it, or
// INVALID_FILE_ATTRIBUTES. False when the system tells nothing either way.
bool IsLinkEntry(const char *path, DWORD listed);
bool IsLinkEntryW(const wchar_t *path, DWORD listed);
// Whether some part of path below root, the last part too, exists and is a
// link: writing there would write through it. Also true for a path not
// below root, which no check can vouch for.
bool PathPassesLink(const char *root, const char *path);

enum { SCANNER_MASKS_SIZE = 2600 };

class CDirScanner {
public:
    char root[260];
    char masks[SCANNER_MASKS_SIZE];
    char separator;                  // between masks: ';'
    CGrowArray<PathText> folders;    // full paths, the root first
    CGrowArray<PathText> files;      // full paths

    CDirScanner();
    ~CDirScanner();

    // Both store root and masks and scan at once with reset; they answer
    // what Scan answers.
    int SetRoot(const char *rootFolder, const char *maskFormat, ...);
    int ScanMasks(const char *rootFolder, const char *maskFormat, ...);
    int RootAndScanV(const char *rootFolder, const char *maskFormat, va_list args);
    // The number of files listed; -1 for an empty root; 0 without scanning
    // (lists untouched) for empty masks.
    int Scan(bool reset);

    // A listed path relative to the root (the text after the root and its
    // "\"); the path itself when it lies outside the root.
    const char *RelativePath(const char *fullPath) const;

private:
    void StoreRoot(const char *rootFolder);
    void CollectFolders(const char *parent);
    void CollectFiles(const char *folder, const char *mask);
    bool IsInsideRoot(const char *path) const;
};
