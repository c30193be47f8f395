// A whole file mapped into memory, read-only or read-write, with a cursor
// that Read and Write keep inside the mapping. Map files, the cloud map and
// the output bitmaps go through it. A read-write open that grows the file
// secures the new blocks first, so writing through the view cannot fault
// on a full disk.
#pragma once

#include <windows.h>
#include <stdint.h>

enum {
    MAPPED_READ_WRITE = 1,        // Open flag bit 0; clear = read-only

    MAPPED_OK = 0,
    MAPPED_NOT_OPENED = 1,        // the file could not be opened or created
    MAPPED_EMPTY = 2,             // the file is empty and no size was given
    MAPPED_NO_MAPPING = 3,        // the mapping object could not be created
    MAPPED_NO_VIEW = 4,           // the view could not be mapped
    MAPPED_NO_SPACE = 5,          // the file could not be grown to the size (disk full)
};

struct CMappedFile {
    uint8_t *base;       // first byte of the view; null when not mapped
    uint8_t *cursor;     // next byte for Read and Write
    DWORD sizeLow;       // mapped size, low and high 32 bits
    DWORD sizeHigh;
    HANDLE file;         // 0 when closed
    HANDLE mapping;      // 0 when closed
    uint8_t writable;    // the view was mapped read-write

    CMappedFile();
    ~CMappedFile();

    // A size of 0 maps the whole file; a read-write mapping of a larger size
    // grows the file to it (new bytes are zero, written before the mapping
    // is made). A failed open leaves no file that it created, and an
    // existing file at its old size. Opening an open object closes it first.
    int Open(const char *path, int flags, DWORD sizeLow, DWORD sizeHigh);
    // 0 copied and cursor advanced; 1 nothing done (not mapped, not enough
    // bytes left, or a write into a read-only view).
    int Read(void *buffer, DWORD count);
    int Write(const void *buffer, DWORD count);
    int Close();
};
