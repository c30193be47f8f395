// Memory-mapped files.
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

static HANDLE OpenForMapping(const char *path, bool readWrite)
{
    DWORD access = readWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD disposition = readWrite ? OPEN_ALWAYS : OPEN_EXISTING;
    HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, disposition,
                                FILE_ATTRIBUTE_NORMAL, 0);
    return handle == INVALID_HANDLE_VALUE ? 0 : handle;
}

// Fails with the code and closes whatever is open so far.
static int FailOpen(CMappedFile *mapped, int code)
{
    mapped->Close();
    mapped->sizeLow = mapped->sizeHigh = 0;
    return code;
}

int CMappedFile::Open(const char *path, int flags, DWORD wantLow, DWORD wantHigh)
{
    Close();
    sizeLow = sizeHigh = 0;
    bool readWrite = (flags & MAPPED_READ_WRITE) != 0;
    if (!path || !*path)
        return MAPPED_NOT_OPENED;
    file = OpenForMapping(path, readWrite);
    if (!file)
        return FailOpen(this, MAPPED_NOT_OPENED);

    if (wantLow || wantHigh) {
        sizeLow = wantLow;
        sizeHigh = wantHigh;
    } else {
        sizeLow = GetFileSize(file, &sizeHigh);
        if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            return FailOpen(this, MAPPED_NOT_OPENED);
        if (!sizeLow && !sizeHigh)
            return FailOpen(this, MAPPED_EMPTY);
    }

    mapping = CreateFileMappingA(file, 0, readWrite ? PAGE_READWRITE : PAGE_READONLY, sizeHigh,
                                 sizeLow, 0);
    if (!mapping)
        return FailOpen(this, MAPPED_NO_MAPPING);
    base = (uint8_t *)MapViewOfFile(mapping, readWrite ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0);
    if (!base)
        return FailOpen(this, MAPPED_NO_VIEW);
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
