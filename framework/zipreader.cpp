// Zip archive reader: stored and deflated entries, traditional encryption.
//
// The archive is never trusted. Every field read from it is checked against
// the bounds of the source before it is used, nothing is allocated by a size
// taken from a header, and entry names are cleaned so that they can never
// reach outside the folder they are extracted into.
#include "framework/zip.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <zlib.h>

#include "framework/application.h"
#include "framework/recordfile.h"
#include "framework/zipcommon.h"

enum {
    ENTRY_BAD_PARAMETER = -102,
    ENTRY_BAD_STRUCTURE = -103,
    ENTRY_NO_MEMORY = -104,
    ENTRY_BAD_CRC = -105,
    ENTRY_BAD_PASSWORD = -106,
    ENTRY_READ_FAILED = -107,
    ENTRY_BAD_LOCAL = -108,
};

// The largest end record plus comment: the search never looks further back.
enum { END_SEARCH_SPAN = ZIP_END_SIZE + 0xFFFF, NAME_CAPACITY = 260 };

struct ZipSource {
    int kind;              // ZIP_SOURCE_HANDLE, ZIP_SOURCE_PATH or ZIP_SOURCE_MEMORY
    HANDLE file;
    bool ownsHandle;
    bool readError;
    uint64_t baseOffset;   // the handle's position when the archive was opened
    const uint8_t *memory;
    uint64_t size;         // file size or memory size: reads never pass it
};

struct ZipCentralEntry {
    uint32_t versionMadeBy, versionNeeded, flags, method, dosDateTime, crc;
    uint32_t compressedSize, size, nameLength, extraLength, commentLength;
    uint32_t disk, internalAttributes, externalAttributes, localOffset;
};

struct ZipEntryStream {
    uint8_t *input;           // ZIP_PIECE_SIZE bytes, kept between entries
    uint32_t inputPos, inputAvail;
    z_stream inflater;
    bool inflating;
    uint64_t nextPos;         // absolute position of the next compressed byte
    uint32_t compressedLeft, uncompressedLeft;
    uint32_t crc, expectedCrc;
    bool deflated, encrypted, atEnd;
    ZipCipher cipher;
};

struct ZipCursor {
    ZipSource source;
    uint64_t bytesBefore;     // data in front of the archive (self-extracting stubs)
    int entryCount;
    uint32_t directoryOffset, directorySize, commentLength;
    int current;              // entry the cursor stands on
    uint64_t currentPos;      // its absolute directory position
    bool valid;
    ZipCentralEntry entry;
    ZipEntryStream stream;
};

struct ZipReaderState {
    ZipCursor cursor;
    int openIndex;            // entry open for streaming, -1 none
    ZipEntryInfo cachedInfo;
    int cachedIndex;
    char *password;
    uint8_t *extractBuffer;   // for file extraction, made on first use
    char baseFolder[MAX_PATH];
};

struct ZipReaderBox {
    ZipHandle handle;
    ZipReaderState state;
};

// ---------------------------------------------------------------- source

static bool ReadAt(ZipSource *source, uint64_t position, void *buffer, uint32_t count)
{
    if (position > source->size || count > source->size - position)
        return false;
    if (source->kind == ZIP_SOURCE_MEMORY) {
        memcpy(buffer, source->memory + position, count);
        return true;
    }
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)position;
    DWORD got = 0;
    if (!SetFilePointerEx(source->file, to, 0, FILE_BEGIN) ||
        !ReadFile(source->file, buffer, count, &got, 0) || got != count) {
        source->readError = true;
        return false;
    }
    return true;
}

static bool OpenFileSource(ZipSource *source, HANDLE file, bool owns)
{
    source->file = file;
    source->ownsHandle = owns;
    LARGE_INTEGER zero, position, size;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(file, zero, &position, FILE_CURRENT) || !GetFileSizeEx(file, &size))
        return false;
    source->baseOffset = (uint64_t)position.QuadPart;
    source->size = (uint64_t)size.QuadPart;
    return source->baseOffset <= source->size;
}

static void CloseSource(ZipSource *source)
{
    if (source->ownsHandle && source->file && source->file != INVALID_HANDLE_VALUE)
        CloseHandle(source->file);
    source->file = 0;
    source->ownsHandle = false;
}

// ---------------------------------------------------------------- end record

// Accepts a candidate end record only when it describes a directory that
// fits in front of it; fills the cursor's archive fields.
static bool AcceptEndRecord(ZipCursor *cursor, const uint8_t *record, uint64_t recordPos)
{
    if (ZipGet32(record) != ZIP_END_SIGNATURE)
        return false;
    uint32_t thisDisk = ZipGet16(record + 4), directoryDisk = ZipGet16(record + 6);
    uint32_t onDisk = ZipGet16(record + 8), total = ZipGet16(record + 10);
    uint32_t size = ZipGet32(record + 12), offset = ZipGet32(record + 16);
    if (thisDisk != 0 || directoryDisk != 0 || onDisk != total)
        return false;
    uint64_t directoryEnd = (uint64_t)offset + size;
    if (recordPos < directoryEnd || (uint64_t)total * ZIP_CENTRAL_SIZE > size)
        return false;
    cursor->entryCount = (int)total;
    cursor->directorySize = size;
    cursor->directoryOffset = offset;
    cursor->commentLength = ZipGet16(record + 20);
    cursor->bytesBefore = recordPos - directoryEnd;
    return true;
}

// Scans the tail of the archive backwards for "PK" 5 6 and takes the last
// record that is sound, so a stray signature inside a comment is skipped.
static bool FindEndRecord(ZipCursor *cursor)
{
    ZipSource *source = &cursor->source;
    uint64_t length = source->size - source->baseOffset;
    uint32_t span = length < END_SEARCH_SPAN ? (uint32_t)length : (uint32_t)END_SEARCH_SPAN;
    if (span < ZIP_END_SIZE)
        return false;
    uint8_t *tail = (uint8_t *)malloc(span);
    if (!tail)
        return false;
    uint64_t tailPos = source->size - span;
    bool found = false;
    if (ReadAt(source, tailPos, tail, span)) {
        for (int at = (int)span - ZIP_END_SIZE; at >= 0 && !found; at--) {
            if (tail[at] == 'P' && tail[at + 1] == 'K' && tail[at + 2] == 5 && tail[at + 3] == 6)
                found = AcceptEndRecord(cursor, tail + at, tailPos + (uint64_t)at);
        }
    }
    free(tail);
    return found;
}

// ---------------------------------------------------------------- directory

static uint64_t DirectoryStart(const ZipCursor *cursor)
{
    return cursor->bytesBefore + cursor->directoryOffset;
}

static uint64_t DirectoryEnd(const ZipCursor *cursor)
{
    return DirectoryStart(cursor) + cursor->directorySize;
}

static uint32_t CentralEntrySize(const ZipCentralEntry *e)
{
    return ZIP_CENTRAL_SIZE + e->nameLength + e->extraLength + e->commentLength;
}

static void ParseCentral(const uint8_t *h, ZipCentralEntry *e)
{
    e->versionMadeBy = ZipGet16(h + 4);
    e->versionNeeded = ZipGet16(h + 6);
    e->flags = ZipGet16(h + 8);
    e->method = ZipGet16(h + 10);
    e->dosDateTime = ZipGet32(h + 12);
    e->crc = ZipGet32(h + 16);
    e->compressedSize = ZipGet32(h + 20);
    e->size = ZipGet32(h + 24);
    e->nameLength = ZipGet16(h + 28);
    e->extraLength = ZipGet16(h + 30);
    e->commentLength = ZipGet16(h + 32);
    e->disk = ZipGet16(h + 34);
    e->internalAttributes = ZipGet16(h + 36);
    e->externalAttributes = ZipGet32(h + 38);
    e->localOffset = ZipGet32(h + 42);
}

// Reads the central header at the cursor's position; it must lie wholly
// inside the directory.
static int ReadCurrentCentral(ZipCursor *cursor)
{
    uint8_t header[ZIP_CENTRAL_SIZE];
    cursor->valid = false;
    if (cursor->currentPos + ZIP_CENTRAL_SIZE > DirectoryEnd(cursor))
        return ENTRY_BAD_STRUCTURE;
    if (!ReadAt(&cursor->source, cursor->currentPos, header, sizeof header))
        return ENTRY_READ_FAILED;
    if (ZipGet32(header) != ZIP_CENTRAL_SIGNATURE)
        return ENTRY_BAD_STRUCTURE;
    ParseCentral(header, &cursor->entry);
    if (cursor->currentPos + CentralEntrySize(&cursor->entry) > DirectoryEnd(cursor))
        return ENTRY_BAD_STRUCTURE;
    cursor->valid = true;
    return 0;
}

// Walks forward from the current entry (or from the first one when the
// target lies behind) until the cursor stands on the given index.
static int GoToEntry(ZipCursor *cursor, int index)
{
    if (index < 0 || index >= cursor->entryCount)
        return ENTRY_BAD_PARAMETER;
    if (!cursor->valid || index < cursor->current) {
        cursor->current = 0;
        cursor->currentPos = DirectoryStart(cursor);
        int result = ReadCurrentCentral(cursor);
        if (result != 0)
            return result;
    }
    while (cursor->current < index) {
        cursor->currentPos += CentralEntrySize(&cursor->entry);
        cursor->current++;
        int result = ReadCurrentCentral(cursor);
        if (result != 0)
            return result;
    }
    return 0;
}

// Checks the local header against the central one and gives the absolute
// position of the entry's local extra field and of its data.
static int CheckLocalHeader(ZipCursor *cursor, uint64_t *extraPos, uint32_t *extraLength,
                            uint64_t *dataPos)
{
    const ZipCentralEntry *e = &cursor->entry;
    uint8_t h[ZIP_LOCAL_SIZE];
    uint64_t localPos = cursor->bytesBefore + e->localOffset;
    if (!ReadAt(&cursor->source, localPos, h, sizeof h))
        return ENTRY_READ_FAILED;
    if (ZipGet32(h) != ZIP_LOCAL_SIGNATURE || ZipGet16(h + 8) != e->method ||
        (e->method != 0 && e->method != 8) || ZipGet16(h + 26) != e->nameLength)
        return ENTRY_BAD_LOCAL;
    if (!(e->flags & ZIP_FLAG_DESCRIPTOR) &&
        (ZipGet32(h + 14) != e->crc || ZipGet32(h + 18) != e->compressedSize ||
         ZipGet32(h + 22) != e->size))
        return ENTRY_BAD_LOCAL;
    *extraLength = ZipGet16(h + 28);
    *extraPos = localPos + ZIP_LOCAL_SIZE + e->nameLength;
    *dataPos = *extraPos + *extraLength;
    return 0;
}

// ---------------------------------------------------------------- entry info

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Counts dots in a component made only of dots and spaces; -1 for any
// other component. Windows drops trailing dots and spaces, so ".. " and
// "..." must be taken as the parent as well.
static int DotOnlyComponent(const char *text, int length)
{
    int dots = 0;
    for (int i = 0; i < length; i++) {
        if (text[i] == '.')
            dots++;
        else if (text[i] != ' ')
            return -1;
    }
    return dots;
}

// One cleaning pass: drops drive prefixes and roots, then rebuilds the name
// from its components, starting afresh after every parent component and
// leaving out empty and "." components.
static void CleanNameOnce(const char *name, char *out)
{
    const char *p = name;
    for (;;) {
        if (p[0] && p[1] == ':')
            p += 2;
        else if (IsSeparator(*p))
            p++;
        else
            break;
    }
    int n = 0;
    while (*p) {
        const char *start = p;
        while (*p && !IsSeparator(*p))
            p++;
        int length = (int)(p - start);
        char separator = *p;
        if (*p)
            p++;
        int dots = DotOnlyComponent(start, length);
        if (dots >= 2) {
            n = 0;
            continue;
        }
        if (dots >= 0)
            continue;
        memcpy(out + n, start, (size_t)length);
        n += length;
        if (separator)
            out[n++] = separator;
    }
    out[n] = 0;
}

// Repeats until nothing changes: each pass keeps a subsequence of the name,
// so a pass that changes nothing has made it as short as it gets.
static void CleanEntryName(char *name)
{
    char out[NAME_CAPACITY];
    for (;;) {
        CleanNameOnce(name, out);
        if (strcmp(out, name) == 0)
            return;
        strcpy(name, out);
    }
}

static uint32_t MapAttributes(const ZipCentralEntry *e)
{
    uint32_t host = e->versionMadeBy >> 8;
    uint32_t external = e->externalAttributes;
    if (host == 0 || host == 7 || host == 11 || host == 14)
        return external & 0x37;
    uint32_t attributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!(external & 0x800000))
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (external & 0x40000000)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    return attributes;
}

static FILETIME UnixToFileTime(int32_t seconds)
{
    ULARGE_INTEGER value;
    value.QuadPart = (ULONGLONG)((int64_t)seconds * 10000000 + ZIP_UNIX_EPOCH_FILETIME);
    FILETIME time;
    time.dwLowDateTime = value.LowPart;
    time.dwHighDateTime = value.HighPart;
    return time;
}

// The DOS stamp is local time; an impossible one leaves the times zero.
static void SetDosTimes(ZipEntryInfo *info, uint32_t dosDateTime)
{
    FILETIME local, utc;
    if (!DosDateTimeToFileTime((WORD)(dosDateTime >> 16), (WORD)dosDateTime, &local) ||
        !LocalFileTimeToFileTime(&local, &utc))
        return;
    info->accessTime = info->creationTime = info->modificationTime = utc;
}

// Walks the local extra field for a "UT" block and takes the Unix times it
// carries (modification, access, creation, as its flags say).
static void ApplyExtraTimes(ZipCursor *cursor, uint64_t extraPos, uint32_t extraLength,
                            ZipEntryInfo *info)
{
    uint32_t at = 0;
    while (at + 4 <= extraLength) {
        uint8_t block[4 + 13];
        if (!ReadAt(&cursor->source, extraPos + at, block, 4))
            return;
        uint32_t id = ZipGet16(block), size = ZipGet16(block + 2);
        uint32_t room = extraLength - at - 4;
        if (id == ZIP_EXTRA_TIME_ID) {
            uint32_t have = size < room ? size : room;
            if (have > 13)
                have = 13;
            if (have < 1 || !ReadAt(&cursor->source, extraPos + at + 4, block + 4, have))
                return;
            uint32_t flags = block[4], next = 5;
            FILETIME *targets[3] = {&info->modificationTime, &info->accessTime,
                                    &info->creationTime};
            for (int bit = 0; bit < 3; bit++) {
                if (!(flags & (1u << bit)))
                    continue;
                if (next + 4 > 4 + have)
                    return;
                *targets[bit] = UnixToFileTime((int32_t)ZipGet32(block + next));
                next += 4;
            }
            return;
        }
        at += 4 + size;
    }
}

static int EntryResultCode(int result)
{
    switch (result) {
    case 0: return ZIP_OK;
    case ENTRY_BAD_PARAMETER: return ZIP_BAD_ARGUMENT;
    case ENTRY_BAD_PASSWORD: return ZIP_BAD_PASSWORD;
    case ENTRY_READ_FAILED: return ZIP_READ_ERROR;
    case ENTRY_BAD_LOCAL: return ZIP_BAD_LOCAL_HEADER;
    default: return ZIP_DATA_ERROR;
    }
}

// The current entry's name as the directory stores it, cut to size - 1
// bytes and NUL-terminated.
static bool ReadStoredName(ZipCursor *cursor, char *name, uint32_t size)
{
    uint32_t stored = cursor->entry.nameLength;
    uint32_t copied = stored < size - 1 ? stored : size - 1;
    if (!ReadAt(&cursor->source, cursor->currentPos + ZIP_CENTRAL_SIZE, name, copied))
        return false;
    name[copied] = 0;
    return true;
}

// Fills the caller's view of one entry.
static int GetEntryCore(ZipReaderState *state, int index, ZipEntryInfo *info)
{
    ZipCursor *cursor = &state->cursor;
    int result = GoToEntry(cursor, index);
    uint64_t extraPos = 0, dataPos = 0;
    uint32_t extraLength = 0;
    if (result == 0)
        result = CheckLocalHeader(cursor, &extraPos, &extraLength, &dataPos);
    if (result != 0)
        return result == ENTRY_BAD_STRUCTURE ? ZIP_BAD_LOCAL_HEADER : EntryResultCode(result);
    const ZipCentralEntry *e = &cursor->entry;
    info->index = index;
    // The raw name is cut before cleaning: cutting afterwards could leave a
    // fresh ".." at the end.
    if (!ReadStoredName(cursor, info->name, NAME_CAPACITY))
        return ZIP_READ_ERROR;
    CleanEntryName(info->name);
    info->attributes = MapAttributes(e);
    SetDosTimes(info, e->dosDateTime);
    ApplyExtraTimes(cursor, extraPos, extraLength, info);
    info->compressedSize = e->compressedSize;
    info->uncompressedSize = e->size;
    return ZIP_OK;
}

// ---------------------------------------------------------------- entry stream

static void CloseEntryStream(ZipReaderState *state)
{
    ZipEntryStream *s = &state->cursor.stream;
    if (s->inflating)
        inflateEnd(&s->inflater);
    s->inflating = false;
    state->openIndex = -1;
}

// Reads and checks the 12-byte encryption header; its last byte must match
// the check byte (DOS time high byte with a data descriptor, else CRC high byte).
static int ConsumeCryptHeader(ZipCursor *cursor)
{
    ZipEntryStream *s = &cursor->stream;
    uint8_t header[ZIP_CRYPT_HEADER_SIZE];
    if (s->compressedLeft < ZIP_CRYPT_HEADER_SIZE)
        return ENTRY_BAD_STRUCTURE;
    if (!ReadAt(&cursor->source, s->nextPos, header, sizeof header))
        return ENTRY_READ_FAILED;
    ZipDecrypt(&s->cipher, header, sizeof header);
    s->nextPos += ZIP_CRYPT_HEADER_SIZE;
    s->compressedLeft -= ZIP_CRYPT_HEADER_SIZE;
    const ZipCentralEntry *e = &cursor->entry;
    uint8_t check = (e->flags & ZIP_FLAG_DESCRIPTOR) ? (uint8_t)(e->dosDateTime >> 8)
                                                    : (uint8_t)(e->crc >> 24);
    return header[ZIP_CRYPT_HEADER_SIZE - 1] == check ? 0 : ENTRY_BAD_PASSWORD;
}

static int OpenEntryStream(ZipReaderState *state, int index)
{
    ZipCursor *cursor = &state->cursor;
    ZipEntryStream *s = &cursor->stream;
    CloseEntryStream(state);
    int result = GoToEntry(cursor, index);
    uint64_t extraPos, dataPos;
    uint32_t extraLength;
    if (result == 0)
        result = CheckLocalHeader(cursor, &extraPos, &extraLength, &dataPos);
    if (result != 0)
        return result == ENTRY_BAD_STRUCTURE ? ENTRY_BAD_LOCAL : result;
    const ZipCentralEntry *e = &cursor->entry;
    if (dataPos + e->compressedSize > cursor->source.size)
        return ENTRY_READ_FAILED;   // the data would run past the end of the archive
    if (!s->input && !(s->input = (uint8_t *)malloc(ZIP_PIECE_SIZE)))
        return ENTRY_NO_MEMORY;
    s->inputPos = s->inputAvail = 0;
    s->nextPos = dataPos;
    s->compressedLeft = e->compressedSize;
    s->uncompressedLeft = e->size;
    s->crc = crc32(0, 0, 0);
    s->expectedCrc = e->crc;
    s->deflated = e->method == 8;
    s->encrypted = (e->flags & ZIP_FLAG_ENCRYPTED) != 0;
    s->atEnd = false;
    if (s->deflated) {
        memset(&s->inflater, 0, sizeof s->inflater);
        if (inflateInit2(&s->inflater, -MAX_WBITS) != Z_OK)
            return ENTRY_NO_MEMORY;
        s->inflating = true;
    }
    state->openIndex = index;
    if (s->encrypted) {
        ZipCipherInit(&s->cipher, state->password);
        result = ConsumeCryptHeader(cursor);
        if (result != 0) {
            CloseEntryStream(state);
            return result;
        }
    }
    return 0;
}

static int RefillInput(ZipCursor *cursor)
{
    ZipEntryStream *s = &cursor->stream;
    uint32_t count =
        s->compressedLeft < ZIP_PIECE_SIZE ? s->compressedLeft : (uint32_t)ZIP_PIECE_SIZE;
    if (!ReadAt(&cursor->source, s->nextPos, s->input, count))
        return ENTRY_READ_FAILED;
    if (s->encrypted)
        ZipDecrypt(&s->cipher, s->input, count);
    s->nextPos += count;
    s->compressedLeft -= count;
    s->inputPos = 0;
    s->inputAvail = count;
    return 0;
}

// One step of stored copying or inflating into out; gives the bytes made,
// or a negative result. A step that can make no progress is a data error,
// so no damaged stream can loop.
static int DecodeStep(ZipEntryStream *s, uint8_t *out, uint32_t room)
{
    if (room > s->uncompressedLeft)
        room = s->uncompressedLeft;
    if (!s->deflated) {
        uint32_t count = s->inputAvail < room ? s->inputAvail : room;
        if (count == 0)
            return ENTRY_BAD_STRUCTURE;   // the stored data ended early
        memcpy(out, s->input + s->inputPos, count);
        s->inputPos += count;
        s->inputAvail -= count;
        return (int)count;
    }
    z_stream *z = &s->inflater;
    z->next_in = s->input + s->inputPos;
    z->avail_in = s->inputAvail;
    z->next_out = out;
    z->avail_out = room;
    int status = inflate(z, Z_SYNC_FLUSH);
    uint32_t used = s->inputAvail - z->avail_in, made = room - z->avail_out;
    s->inputPos += used;
    s->inputAvail -= used;
    if (status == Z_STREAM_END) {
        s->atEnd = true;
        if (s->uncompressedLeft != made)
            return ENTRY_BAD_STRUCTURE;   // shorter than the directory says
    } else if ((status != Z_OK && status != Z_BUF_ERROR) || (used == 0 && made == 0)) {
        return ENTRY_BAD_STRUCTURE;
    }
    return (int)made;
}

// Reads up to count plain bytes of the open entry; gives the bytes read.
static int ReadEntryStream(ZipCursor *cursor, uint8_t *out, uint32_t count)
{
    ZipEntryStream *s = &cursor->stream;
    uint32_t produced = 0;
    while (produced < count && !s->atEnd) {
        if (s->uncompressedLeft == 0) {
            s->atEnd = true;
            break;
        }
        if (s->inputAvail == 0 && s->compressedLeft > 0) {
            int result = RefillInput(cursor);
            if (result != 0)
                return result;
        }
        int made = DecodeStep(s, out + produced, count - produced);
        if (made < 0)
            return made;
        s->crc = crc32(s->crc, out + produced, (uInt)made);
        s->uncompressedLeft -= (uint32_t)made;
        produced += (uint32_t)made;
    }
    if (s->uncompressedLeft == 0)
        s->atEnd = true;
    return (int)produced;
}

// Closes the open entry; a fully read entry must match its CRC-32.
static int FinishEntryStream(ZipReaderState *state)
{
    ZipEntryStream *s = &state->cursor.stream;
    bool complete = s->atEnd;
    uint32_t crc = s->crc, expected = s->expectedCrc;
    CloseEntryStream(state);
    return complete && crc != expected ? ENTRY_BAD_CRC : 0;
}

// ---------------------------------------------------------------- handle checks

static int CheckReader(ZipHandle *handle, ZipReaderState **state)
{
    return ZipCheckHandle(handle, ZIP_KIND_READER, (void **)state);
}

bool IsZipReader(ZipHandle *handle)
{
    return handle && handle->kind == ZIP_KIND_READER;
}

// ---------------------------------------------------------------- public calls

static bool OpenSourceOfKind(ZipSource *source, const void *from, uint32_t size, int kind)
{
    source->kind = kind;
    if (kind == ZIP_SOURCE_HANDLE)
        return from && OpenFileSource(source, (HANDLE)from, false);
    if (kind == ZIP_SOURCE_PATH) {
        if (!from)
            return false;
        HANDLE file = CreateFileA((const char *)from, GENERIC_READ, FILE_SHARE_READ, 0,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        if (OpenFileSource(source, file, true))
            return true;
        CloseHandle(file);
        return false;
    }
    if (kind == ZIP_SOURCE_MEMORY) {
        source->memory = (const uint8_t *)from;
        source->size = size;
        return from != 0;
    }
    return false;
}

static void FreeReader(ZipReaderBox *box)
{
    ZipReaderState *state = &box->state;
    CloseEntryStream(state);
    CloseSource(&state->cursor.source);
    free(state->cursor.stream.input);
    free(state->extractBuffer);
    free(state->password);
    free(box);
}

ZipHandle *CZipReader::OpenSource(const void *source, uint32_t size, int kind,
                                  const char *password)
{
    ZipReaderBox *box = (ZipReaderBox *)calloc(1, sizeof *box);
    if (!box)
        return 0;
    ZipReaderState *state = &box->state;
    box->handle.kind = ZIP_KIND_READER;
    box->handle.state = state;
    state->openIndex = state->cachedIndex = -1;
    if (!OpenSourceOfKind(&state->cursor.source, source, size, kind) ||
        !FindEndRecord(&state->cursor)) {
        FreeReader(box);
        return 0;
    }
    if (password && !(state->password = _strdup(password))) {
        FreeReader(box);
        return 0;
    }
    DWORD length = GetCurrentDirectoryA(MAX_PATH - 1, state->baseFolder);
    if (length == 0 || length >= MAX_PATH - 1)
        state->baseFolder[0] = 0;
    SetBaseFolder(&box->handle, state->baseFolder);
    return &box->handle;
}

ZipHandle *CZipReader::Open(const char *path, const char *password)
{
    return OpenSource(path, 0, ZIP_SOURCE_PATH, password);
}

int CZipReader::Close(ZipHandle *handle)
{
    ZipReaderState *state;
    int result = CheckReader(handle, &state);
    if (result != ZIP_OK)
        return result;
    FreeReader((ZipReaderBox *)handle);
    return ZIP_OK;
}

int CZipReader::GetEntry(ZipHandle *handle, int index, ZipEntryInfo *info)
{
    ZipReaderState *state;
    int result = CheckReader(handle, &state);
    if (result != ZIP_OK)
        return result;
    if (!info)
        return ZIP_BAD_ARGUMENT;
    memset(info, 0, sizeof *info);
    if (index == -1) {
        info->index = state->cursor.entryCount;
        return ZIP_OK;
    }
    if (index < 0 || index >= state->cursor.entryCount)
        return ZIP_BAD_ARGUMENT;
    if (index == state->cachedIndex) {
        *info = state->cachedInfo;
        return ZIP_OK;
    }
    result = GetEntryCore(state, index, info);
    if (result != ZIP_OK) {
        memset(info, 0, sizeof *info);
        return result;
    }
    state->cachedInfo = *info;
    state->cachedIndex = index;
    return ZIP_OK;
}

int CZipReader::GetStoredName(ZipHandle *handle, int index, char *name, uint32_t size,
                              uint32_t *length)
{
    ZipReaderState *state;
    int result = CheckReader(handle, &state);
    if (result != ZIP_OK)
        return result;
    if (!name || size == 0 || !length || index < 0 || index >= state->cursor.entryCount)
        return ZIP_BAD_ARGUMENT;
    name[0] = 0;
    *length = 0;
    ZipCursor *cursor = &state->cursor;
    result = GoToEntry(cursor, index);
    if (result != 0)
        return result == ENTRY_BAD_STRUCTURE ? ZIP_BAD_LOCAL_HEADER : EntryResultCode(result);
    if (!ReadStoredName(cursor, name, size))
        return ZIP_READ_ERROR;
    *length = cursor->entry.nameLength;
    return ZIP_OK;
}

static bool NamesMatch(const char *a, const char *b, int ignoreCase)
{
    return ignoreCase ? ZipEqualNoCase(a, b) : strcmp(a, b) == 0;
}

int CZipReader::FindEntry(ZipHandle *handle, const char *name, int ignoreCase, int *index,
                          ZipEntryInfo *info)
{
    ZipReaderState *state;
    int result = CheckReader(handle, &state);
    if (result != ZIP_OK)
        return result;
    ZipEntryInfo scratch;
    ZipEntryInfo *found = info ? info : &scratch;
    if (index)
        *index = -1;
    if (name && strlen(name) < 256) {
        for (int i = 0; i < state->cursor.entryCount; i++) {
            if (GetEntry(handle, i, found) == ZIP_OK && NamesMatch(found->name, name, ignoreCase)) {
                if (index)
                    *index = i;
                return ZIP_OK;
            }
        }
    }
    memset(found, 0, sizeof *found);
    found->index = -1;
    return ZIP_NOT_FOUND;
}

int CZipReader::SetBaseFolder(ZipHandle *handle, const char *folder)
{
    ZipReaderState *state;
    int result = CheckReader(handle, &state);
    if (result != ZIP_OK)
        return result;
    if (!folder || strlen(folder) > MAX_PATH - 2)
        return ZIP_BAD_ARGUMENT;
    char copy[MAX_PATH];
    CopyText(copy, folder, MAX_PATH);
    size_t length = strlen(copy);
    if (length == 0 || !IsSeparator(copy[length - 1]))
        strcat(copy, "\\");
    strcpy(state->baseFolder, copy);
    return ZIP_OK;
}

// Opens the entry unless it is the one already open (a continued read).
static int EnsureEntryOpen(ZipReaderState *state, int index)
{
    if (state->openIndex == index)
        return 0;
    return OpenEntryStream(state, index);
}

int CZipReader::ExtractToMemory(ZipHandle *handle, int index, void *buffer, uint32_t size)
{
    ZipReaderState *state;
    int result = CheckReader(handle, &state);
    if (result != ZIP_OK)
        return result;
    if (index < 0 || index >= state->cursor.entryCount || (!buffer && size > 0))
        return ZIP_BAD_ARGUMENT;
    result = EnsureEntryOpen(state, index);
    if (result != 0)
        return EntryResultCode(result);
    int read = ReadEntryStream(&state->cursor, (uint8_t *)buffer, size);
    if (read < 0) {
        CloseEntryStream(state);
        return EntryResultCode(read);
    }
    if (!state->cursor.stream.atEnd)
        return ZIP_MORE_DATA;   // the entry stays open for the next call
    return EntryResultCode(FinishEntryStream(state));
}

// ---------------------------------------------------------------- extraction to a file

static bool IsAbsolutePath(const char *path)
{
    return IsSeparator(path[0]) || (path[0] && path[1] == ':');
}

static bool IsDeviceName(const char *text, int length)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    int n = 0;
    while (n < length && text[n] != '.')
        n++;   // "NUL.txt" is the device as well
    while (n > 0 && text[n - 1] == ' ')
        n--;
    char upper[8];
    if (n > 7)
        return false;
    for (int i = 0; i < n; i++)
        upper[i] = (text[i] >= 'a' && text[i] <= 'z') ? (char)(text[i] - 'a' + 'A') : text[i];
    upper[n] = 0;
    for (size_t i = 0; i < sizeof devices / sizeof devices[0]; i++) {
        if (strcmp(upper, devices[i]) == 0)
            return true;
    }
    return n == 4 && (!strncmp(upper, "COM", 3) || !strncmp(upper, "LPT", 3)) && upper[3] >= '1' &&
           upper[3] <= '9';
}

// A component naming a DOS device would send the entry to the device, not
// into the folder.
static bool HasDeviceComponent(const char *path)
{
    while (*path) {
        const char *start = path;
        while (*path && !IsSeparator(*path))
            path++;
        if (IsDeviceName(start, (int)(path - start)))
            return true;
        if (*path)
            path++;
    }
    return false;
}

static void ToBackslashes(char *path)
{
    for (; *path; path++) {
        if (*path == '/')
            *path = '\\';
    }
}

// Creates the base folder and every level of the target's folder part.
static void CreateEntryFolders(const char *target, bool wholePath)
{
    char folder[2 * MAX_PATH];
    CopyText(folder, target, sizeof folder);
    size_t length = strlen(folder);
    while (length > 0 && folder[length - 1] == '\\')
        folder[--length] = 0;
    if (!wholePath) {
        char *slash = strrchr(folder, '\\');
        if (!slash)
            return;
        *slash = 0;
    }
    CreateFolderPath(folder, false);
}

// An earlier extraction may have left the file read-only or hidden, which
// CREATE_ALWAYS refuses: such a file is made plain and created again.
static HANDLE CreateTargetFile(const char *target, uint32_t attributes)
{
    DWORD fileAttributes = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (!fileAttributes)
        fileAttributes = FILE_ATTRIBUTE_NORMAL;
    HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, fileAttributes, 0);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD existing = GetFileAttributesA(target);
        if (existing != INVALID_FILE_ATTRIBUTES && !(existing & FILE_ATTRIBUTE_DIRECTORY) &&
            SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL))
            file = CreateFileA(target, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, fileAttributes, 0);
    }
    return file;
}

static int CopyEntryToFile(ZipReaderState *state, int index, HANDLE file)
{
    if (!state->extractBuffer && !(state->extractBuffer = (uint8_t *)malloc(ZIP_PIECE_SIZE)))
        return ZIP_DATA_ERROR;
    int result = OpenEntryStream(state, index);   // always from the start
    if (result != 0)
        return EntryResultCode(result);
    while (!state->cursor.stream.atEnd) {
        int read = ReadEntryStream(&state->cursor, state->extractBuffer, ZIP_PIECE_SIZE);
        if (read < 0) {
            CloseEntryStream(state);
            return EntryResultCode(read);
        }
        DWORD written = 0;
        if (read > 0 && (!WriteFile(file, state->extractBuffer, (DWORD)read, &written, 0) ||
                         written != (DWORD)read)) {
            CloseEntryStream(state);
            return ZIP_WRITE_FAILED;
        }
    }
    return EntryResultCode(FinishEntryStream(state));
}

static int ExtractCore(ZipHandle *handle, ZipReaderState *state, int index, const char *path)
{
    ZipEntryInfo info;
    int result = CZipReader::GetEntry(handle, index, &info);
    if (result != ZIP_OK)
        return result;
    if (!path)
        path = info.name;
    if (!IsAbsolutePath(path) && HasDeviceComponent(path))
        return ZIP_NOT_OPENED;
    char target[2 * MAX_PATH];
    if (IsAbsolutePath(path))
        CopyText(target, path, sizeof target);
    else
        snprintf(target, sizeof target, "%s%s", state->baseFolder, path);
    target[sizeof target - 1] = 0;
    ToBackslashes(target);
    char base[MAX_PATH];
    CopyText(base, state->baseFolder, MAX_PATH);
    ToBackslashes(base);
    CreateEntryFolders(base, true);
    bool folder = (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CreateEntryFolders(target, folder);
    if (folder)
        return ZIP_OK;
    if (!*path)
        return ZIP_NOT_OPENED;   // a name that cleaned away to nothing
    HANDLE file = CreateTargetFile(target, info.attributes);
    if (file == INVALID_HANDLE_VALUE)
        return ZIP_NOT_OPENED;
    result = CopyEntryToFile(state, index, file);
    if (result == ZIP_OK)
        SetFileTime(file, &info.creationTime, &info.accessTime, &info.modificationTime);
    CloseHandle(file);
    if (result != ZIP_OK) {
        // Damaged data is not left behind as if it were the entry.
        SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(target);
    }
    return result;
}

int CZipReader::ExtractToFile(ZipHandle *handle, int index, const char *path)
{
    ZipReaderState *state;
    int result = CheckReader(handle, &state);
    if (result != ZIP_OK)
        return result;
    if (index < 0 || index >= state->cursor.entryCount)
        return ZIP_BAD_ARGUMENT;
    return ExtractCore(handle, state, index, path);
}
