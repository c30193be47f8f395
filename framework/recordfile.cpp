// Record files and the plain whole-file helpers. Records (and the
// configuration stores, and copies of pictures) are written beside their
// file as "<path>_tmp" and moved over it; a write that fails (a full disk)
// removes that temporary again and leaves the old file whole.
#include "framework/recordfile.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "framework/application.h"
#include "framework/utilities.h"

// Formats into a 260-character buffer; an over-long result is cut.
static void FormatPath(char *out, const char *fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    int n = _vsnprintf(out, MAX_TEXT - 1, fmt, args);
    va_end(args);
    if (n < 0 || n >= MAX_TEXT - 1)
        out[MAX_TEXT - 1] = 0;
}

static const char *ChosenFolder(int folderChoice)
{
    return folderChoice == RECORD_SECOND_FOLDER ? gApp.secondFolder : gApp.dataFolder;
}

static void ComposePath(char *path, const char *folder, const char *name, const char *extension,
                        int folderChoice)
{
    const char *base = folder ? folder : ChosenFolder(folderChoice);
    // No folder chosen yet: the path would start at the drive's root.
    if (!*base) {
        path[0] = 0;
        return;
    }
    char withName[MAX_TEXT];
    if (name && *name)
        FormatPath(withName, "%s\\%s", base, name);
    else
        CopyText(withName, base, MAX_TEXT);
    if (extension && *extension)
        FormatPath(path, "%s.%s", withName, extension);
    else
        CopyText(path, withName, MAX_TEXT);
}

static void RecordName(char *out, const char *name, int index)
{
    if (index == -1)
        CopyText(out, name, MAX_TEXT);
    else
        FormatPath(out, "%s%d", name, index);
}

void GetRecordFilePath(const char *name, int index, char *path, int folderChoice)
{
    char named[MAX_TEXT];
    RecordName(named, name, index);
    ComposePath(path, 0, named, "rgc", folderChoice);
}

int ReadFileData(const char *path, void *buffer, int byteCount)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD result = 0;
    if (buffer) {
        if (byteCount > 0 && !ReadFile(file, buffer, (DWORD)byteCount, &result, 0))
            result = 0;
    } else {
        result = GetFileSize(file, 0);
        if (result == INVALID_FILE_SIZE || result > 0x7FFFFFFF)
            result = 0;
    }
    CloseHandle(file);
    return (int)result;
}

int ReadRecordFileEx(const char *folder, const char *name, const char *extension, void *buffer,
                     int byteCount, int folderChoice)
{
    char path[MAX_TEXT];
    ComposePath(path, folder, name, extension, folderChoice);
    return ReadFileData(path, buffer, byteCount);
}

int ReadRecordFile(const char *name, int index, void *buffer, int byteCount, int folderChoice)
{
    char path[MAX_TEXT];
    GetRecordFilePath(name, index, path, folderChoice);
    return ReadFileData(path, buffer, byteCount);
}

// Creates the file; when that fails, creates its folder chain and tries once more.
static HANDLE CreateWithFolder(const char *path, DWORD share, DWORD disposition)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share, 0, disposition,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file != INVALID_HANDLE_VALUE)
        return file;
    char folder[MAX_TEXT];
    CopyText(folder, path, MAX_TEXT);
    char *slash = strrchr(folder, '\\');
    if (!slash)
        return INVALID_HANDLE_VALUE;
    *slash = 0;
    if (!PathExists(folder))
        CreateFolderPath(folder, true);
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, share, 0, disposition,
                       FILE_ATTRIBUTE_NORMAL, 0);
}

static int WriteAll(HANDLE file, const void *buffer, int byteCount)
{
    DWORD written = 0;
    if (byteCount > 0 && !WriteFile(file, buffer, (DWORD)byteCount, &written, 0))
        written = 0;
    else if ((int)written != byteCount)
        SetLastError(ERROR_DISK_FULL);   // a short count without an error
    return (int)written;
}

bool MakeReplacingPath(const char *path, char *temp)
{
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);   // "_tmp" would land in the working folder
        return false;
    }
    if (strlen(path) + 4 >= MAX_TEXT) {
        // The temporary name would be cut onto another file. Callers read
        // why from the last error, so it must not be some earlier call's.
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    FormatPath(temp, "%s_tmp", path);
    return true;
}

bool FinishReplacing(const char *temp, const char *path, bool written)
{
    DWORD error = GetLastError();
    if (written && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    // The old file stays; a short temporary (a full disk) goes, and the
    // caller still reads why the write failed.
    if (written)
        error = GetLastError();
    DeleteFileA(temp);
    SetLastError(error ? error : ERROR_WRITE_FAULT);
    return false;
}

int WriteFileReplacing(const char *path, const void *buffer, int byteCount)
{
    char temp[MAX_TEXT];
    if (!MakeReplacingPath(path, temp))
        return 0;
    if (!buffer || byteCount < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    HANDLE file = CreateWithFolder(temp, 0, CREATE_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int written = WriteAll(file, buffer, byteCount);
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return FinishReplacing(temp, path, written == byteCount) ? byteCount : 0;
}

bool CopyFileReplacing(const char *source, const char *target)
{
    char temp[MAX_TEXT];
    if (!source) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!MakeReplacingPath(target, temp))
        return false;
    return FinishReplacing(temp, target, CopyFileA(source, temp, FALSE) != 0);
}

int WriteRecordFileEx(const char *folder, const char *name, const char *extension,
                      const void *buffer, int byteCount, int folderChoice)
{
    char path[MAX_TEXT];
    ComposePath(path, folder, name, extension, folderChoice);
    return WriteFileReplacing(path, buffer, byteCount);
}

int WriteRecordFile(const char *name, int index, const void *buffer, int byteCount,
                    int folderChoice)
{
    char named[MAX_TEXT];
    RecordName(named, name, index);
    return WriteRecordFileEx(0, named, "rgc", buffer, byteCount, folderChoice);
}

char *ReadWholeFile(const char *path, uint32_t *size, uint32_t limit)
{
    *size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0, length = GetFileSize(file, &high);
    char *bytes = (length != INVALID_FILE_SIZE && !high && length < limit)
                      ? (char *)malloc((size_t)length + 1)
                      : 0;
    DWORD got = 0;
    bool ok = bytes && ReadFile(file, bytes, length, &got, 0) && got == length;
    CloseHandle(file);
    if (!ok) {
        free(bytes);
        return 0;
    }
    bytes[length] = 0;
    *size = length;
    return bytes;
}

int WriteFileData(const char *path, const void *buffer, int byteCount, int mode)
{
    if (!path || !*path || (!buffer && byteCount > 0))
        return 0;
    HANDLE file = CreateWithFolder(path, 0, mode == WRITE_TRUNCATE ? CREATE_ALWAYS : OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (mode == WRITE_APPEND)
        SetFilePointer(file, 0, 0, FILE_END);
    int written = WriteAll(file, buffer, byteCount);
    CloseHandle(file);
    return written;
}

int CreateFolderPath(const char *path, bool sleepOnFailure)
{
    char text[520];
    if (!path || !*path)
        return 2;
    CopyText(text, path, sizeof text);
    if (FolderExists(text))
        return 0;
    // Walk back to the deepest prefix that exists.
    int length = (int)strlen(text);
    char *slash;
    while ((slash = strrchr(text, '\\')) != 0) {
        *slash = 0;
        if (FolderExists(text))
            break;
    }
    if (!*text)
        return 1;   // nothing left to stand on (a path starting with "\")
    // Walk forward, putting each "\" back and creating that level. A first
    // level without any "\" (a relative path) is created too.
    for (;;) {
        if (!FolderExists(text)) {
            CreateDirectoryA(text, 0);
            if (!FolderExists(text)) {
                if (sleepOnFailure)
                    Sleep(100);
                return 1;
            }
        }
        int end = (int)strlen(text);
        if (end >= length)
            return 0;
        text[end] = '\\';
    }
}

int TestWriteAccess(const char *folder)
{
    char path[MAX_TEXT], base[MAX_TEXT];
    CopyText(base, folder, MAX_TEXT);
    int n = (int)strlen(base);
    if (n > 0 && base[n - 1] == '\\')
        base[n - 1] = 0;
    FormatPath(path, "%s\\QRFWriteTest.tmp", base);
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    CloseHandle(file);
    DeleteFileA(path);
    return 0;
}
