// Memory-mapped files. A read-write mapping that grows its file first
// writes the new part as zeros, so that its blocks exist before anyone
// writes through the view: a mapping alone only sets the size, and on a
// nearly full disk the first page past the free space would fault in the
// writer instead of failing here with a result.
#include "framework/mappedfile.h"

#include <string.h>

CMappedFile::CMappedFile()
    : base(0), cursor(0), sizeLow(0), sizeHigh(0), file(0), mapping(0), writable(0)
{
}

CMappedFile::~CMappedFile()
{
    Close();
}

int CMappedFile::Close()
{
    if (base)
        UnmapViewOfFile(base);
    if (mapping)
        CloseHandle(mapping);
    if (file)
        CloseHandle(file);
    base = cursor = 0;
    mapping = file = 0;
    writable = 0;
    return 0;
}

// created: set when a read-write open made the file.
static HANDLE OpenForMapping(const char *path, bool readWrite, bool *created)
{
    DWORD access = readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD disposition = readWrite ? OPEN_ALWAYS : OPEN_EXISTING;
    HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, disposition,
                                FILE_ATTRIBUTE_NORMAL, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    *created = readWrite && GetLastError() != ERROR_ALREADY_EXISTS;
    return handle;
}

enum { ZERO_CHUNK = 65536 };

static void CutBack(HANDLE file, int64_t size)
{
    LARGE_INTEGER at;
    at.QuadPart = size;
    if (SetFilePointerEx(file, at, 0, FILE_BEGIN))
        SetEndOfFile(file);
}

// Writes zeros from the file's end up to the wanted size; *grownFrom is the
// old size when the file was grown, else -1. A write that fails (the disk is
// full) cuts the file back to its old size, so that a failed open leaves an
// existing file as it was.
static bool GrowWithZeros(HANDLE file, DWORD wantLow, DWORD wantHigh, int64_t *grownFrom)
{
    static const uint8_t zeros[ZERO_CHUNK] = {};
    *grownFrom = -1;
    LARGE_INTEGER old;
    if (!GetFileSizeEx(file, &old))
        return false;
    int64_t want = (int64_t)wantHigh << 32 | wantLow;
    if (want <= old.QuadPart)
        return true;
    if (!SetFilePointerEx(file, old, 0, FILE_BEGIN))
        return false;
    for (int64_t left = want - old.QuadPart; left > 0;) {
        DWORD chunk = left < ZERO_CHUNK ? (DWORD)left : ZERO_CHUNK, done = 0;
        if (!WriteFile(file, zeros, chunk, &done, 0) || done != chunk) {
            DWORD error = GetLastError();
            CutBack(file, old.QuadPart);
            SetLastError(error ? error : ERROR_DISK_FULL);
            return false;
        }
        left -= chunk;
    }
    *grownFrom = old.QuadPart;
    return true;
}

// Fails with the code and closes whatever is open so far; a file that this
// open created goes again, one that it grew gets its old size back (the
// mapping is closed first: a mapped file cannot be cut).
static int FailOpen(CMappedFile *mapped, int code, const char *path, bool created,
                    int64_t grownFrom = -1)
{
    DWORD error = GetLastError();
    if (mapped->mapping)
        CloseHandle(mapped->mapping);
    mapped->mapping = 0;
    if (grownFrom >= 0 && !created)
        CutBack(mapped->file, grownFrom);
    mapped->Close();
    mapped->sizeLow = mapped->sizeHigh = 0;
    if (created)
        DeleteFileA(path);
    SetLastError(error);
    return code;
}

int CMappedFile::Open(const char *path, int flags, DWORD wantLow, DWORD wantHigh)
{
    Close();
    sizeLow = sizeHigh = 0;
    bool readWrite = (flags & MAPPED_READ_WRITE) != 0;
    if (!path || !*path)
        return MAPPED_NOT_OPENED;
    bool created = false;
    file = OpenForMapping(path, readWrite, &created);
    if (!file)
        return FailOpen(this, MAPPED_NOT_OPENED, path, false);

    if (wantLow || wantHigh) {
        sizeLow = wantLow;
        sizeHigh = wantHigh;
    } else {
        sizeLow = GetFileSize(file, &sizeHigh);
        if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            return FailOpen(this, MAPPED_NOT_OPENED, path, created);
        if (!sizeLow && !sizeHigh)
            return FailOpen(this, MAPPED_EMPTY, path, created);
    }
    int64_t grownFrom = -1;
    if (readWrite && !GrowWithZeros(file, sizeLow, sizeHigh, &grownFrom))
        return FailOpen(this, MAPPED_NO_SPACE, path, created);

    mapping = CreateFileMappingA(file, 0, readWrite ? PAGE_READWRITE : PAGE_READONLY, sizeHigh,
                                 sizeLow, 0);
    if (!mapping)
        return FailOpen(this, MAPPED_NO_MAPPING, path, created, grownFrom);
    base = (uint8_t *)MapViewOfFile(mapping, readWrite ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0);
    if (!base)
        return FailOpen(this, MAPPED_NO_VIEW, path, created, grownFrom);
    cursor = base;
    writable = readWrite;
    return MAPPED_OK;
}

// Bytes between the cursor and the end of the mapping; compared as a count so
// that a huge request cannot wrap the pointer arithmetic.
static DWORD BytesLeft(const CMappedFile *mapped)
{
    if (!mapped->base || mapped->cursor < mapped->base)
        return 0;
    DWORD used = (DWORD)(mapped->cursor - mapped->base);
    return used > mapped->sizeLow ? 0 : mapped->sizeLow - used;
}

int CMappedFile::Read(void *buffer, DWORD count)
{
    if (!base || count > BytesLeft(this))
        return 1;
    memcpy(buffer, cursor, count);
    cursor += count;
    return 0;
}

int CMappedFile::Write(const void *buffer, DWORD count)
{
    if (!base || !writable || count > BytesLeft(this))
        return 1;
    memcpy(cursor, buffer, count);
    cursor += count;
    return 0;
}
