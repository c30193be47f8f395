// Zip archives: the reader (stored and deflated entries, traditional
// encryption) and the writer. Both are reached through a ZipHandle; public
// calls answer 0 or a ZipResult bit code.
#pragma once

#include <windows.h>
#include <stdint.h>

enum ZipResult {
    ZIP_OK = 0,
    ZIP_NOT_OPENED = 0x200,        // file not opened / no valid end record / file not created
    ZIP_MAPPING_FAILED = 0x300,
    ZIP_WRITE_FAILED = 0x400,
    ZIP_NOT_FOUND = 0x500,
    ZIP_MORE_DATA = 0x600,
    ZIP_BAD_LOCAL_HEADER = 0x700,
    ZIP_READ_ERROR = 0x800,
    ZIP_BAD_PASSWORD = 0x1000,
    ZIP_BAD_ARGUMENT = 0x10000,
    ZIP_NO_MEMORY_IMAGE = 0x20000,
    ZIP_IMAGE_FULL = 0x30000,
    ZIP_AFTER_FAILURE = 0x40000,
    ZIP_AFTER_FINISH = 0x50000,
    ZIP_SHORT_STORED_WRITE = 0x60000,
    ZIP_WRONG_KIND = 0x80000,
    ZIP_ALREADY_OPEN = 0x1000000,  // reader; writer: no output
    ZIP_CANNOT_TELL = 0x2000000,   // reader: handle has no position; writer: cannot seek back
    ZIP_STORED_LENGTH = 0x4000000,
    ZIP_DATA_ERROR = 0x5000000,
};

enum { ZIP_KIND_READER = 1, ZIP_KIND_WRITER = 2 };
enum { ZIP_SOURCE_HANDLE = 1, ZIP_SOURCE_PATH = 2, ZIP_SOURCE_MEMORY = 3, ZIP_SOURCE_FOLDER = 4 };

struct ZipHandle {
    int kind;
    void *state;
};

// What callers see of one entry (300 bytes).
struct ZipEntryInfo {
    int index;                 // for index -1: the entry count
    char name[260];            // cleaned: never climbs out of the extraction folder
    uint32_t attributes;       // 1 read-only, 2 hidden, 4 system, 16 folder, 32 archive
    FILETIME accessTime, creationTime, modificationTime;   // UTC
    uint32_t compressedSize;
    uint32_t uncompressedSize;
};
static_assert(sizeof(ZipEntryInfo) == 300, "ZipEntryInfo is 300 bytes");

class CZipReader {
public:
    static ZipHandle *Open(const char *path, const char *password);
    static ZipHandle *OpenSource(const void *source, uint32_t size, int kind, const char *password);
    static int Close(ZipHandle *handle);
    static int GetEntry(ZipHandle *handle, int index, ZipEntryInfo *info);
    // The name exactly as the directory stores it, before cleaning, for a
    // caller that judges what an archive holds: at most size - 1 bytes and a
    // NUL (bytes of the name itself may be NUL), its whole length in *length.
    static int GetStoredName(ZipHandle *handle, int index, char *name, uint32_t size,
                             uint32_t *length);
    static int FindEntry(ZipHandle *handle, const char *name, int ignoreCase, int *index,
                         ZipEntryInfo *info);
    static int SetBaseFolder(ZipHandle *handle, const char *folder);
    static int ExtractToMemory(ZipHandle *handle, int index, void *buffer, uint32_t size);
    static int ExtractToFile(ZipHandle *handle, int index, const char *path);
};

bool IsZipReader(ZipHandle *handle);

// What the writer takes from an open file: external attributes (DOS bits in
// the low byte, a Unix mode in the high 16 bits), size, Unix times and the
// DOS date/time (date in the high word) of the last write in local time.
struct ZipFileInfo {
    uint32_t externalAttributes;
    uint32_t size;
    int32_t accessTime, modificationTime, creationTime;
    uint32_t dosDateTime;
};

int GetZipFileInfo(HANDLE file, ZipFileInfo *info);

class CZipWriter {
public:
    static ZipHandle *Create(const char *path, const char *password);
    static ZipHandle *CreateInMemory(void *block, uint32_t size, const char *password);
    static ZipHandle *CreateCore(const void *target, uint32_t size, int kind, const char *password);
    static int AddFile(ZipHandle *handle, const char *name, const char *path);
    static int AddMemory(ZipHandle *handle, const char *name, const void *block, uint32_t length);
    static int AddFolder(ZipHandle *handle, const char *name);
    static int GetMemory(ZipHandle *handle, void **image, uint32_t *length);
    static int Close(ZipHandle *handle);
};
