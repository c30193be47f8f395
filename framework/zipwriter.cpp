// Zip archive writer: deflated or stored entries with "UT" time stamps,
// optionally under traditional encryption, into a file, a file handle or a
// memory image.
#include "framework/zip.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <zlib.h>

#include "framework/growarray.h"
#include "framework/zipcommon.h"

enum {
    OUTPUT_FILE = 1,
    OUTPUT_MEMORY = 3,
    INPUT_BLOCK_SIZE = 65536,
    LOCAL_EXTRA_SIZE = 17,    // "UT", size 13: flags, modification, access, creation
    CENTRAL_EXTRA_SIZE = 9,   // "UT", size 5: flags, modification
    MAX_ENTRIES = 0xFFFF,
    VERSION_MADE_BY = 0x0A17,
    VERSION_NEEDED = 20,
    NAME_CAPACITY = 260,
};

static const uint32_t kMemoryAttributes = 0x80000000;   // Unix regular file, no permissions
static const uint32_t kFolderAttributes = 0x41C00010;   // Unix 040700 and the DOS folder bit

struct ZipCentralRecord {
    char name[NAME_CAPACITY];
    uint32_t nameLength, flags, method, dosDateTime, crc, compressedSize, size;
    uint32_t externalAttributes, localOffset;
    int32_t modificationTime;
};

struct ZipWriterState {
    char *password;
    int outputKind;
    HANDLE file;
    bool ownsFile, seekable;
    uint64_t baseOffset;
    uint8_t *memory;
    uint32_t capacity, used;
    HANDLE mapping;
    uint64_t offset;          // bytes written so far
    int failure;              // code of an earlier failed write, 0 none
    bool finished;
    CGrowArray<ZipCentralRecord> records;
    ZipCipher cipher;
    bool encrypting;
    z_stream deflater;
    bool deflaterReady;
    uint8_t *inputBlock;      // INPUT_BLOCK_SIZE
    uint8_t *outputPiece;     // ZIP_PIECE_SIZE
};

struct ZipWriterBox {
    ZipHandle handle;
    ZipWriterState state;
};

// What an added entry brings with it.
struct ZipEntrySource {
    int kind;
    HANDLE file;
    bool ownsFile;
    const uint8_t *block;
    uint32_t size;
    uint32_t externalAttributes, dosDateTime;
    int32_t accessTime, modificationTime, creationTime;
};

// ---------------------------------------------------------------- output

// Appends bytes to the output. After the first failure nothing more is
// written, but the offset still grows so later positions stay consistent.
static bool WriteOutput(ZipWriterState *w, const void *data, uint32_t count)
{
    if (w->failure || w->offset + count > 0xFFFFFFFFu) {
        w->failure = ZIP_WRITE_FAILED;
        w->offset += count;
        return false;
    }
    if (w->outputKind == OUTPUT_MEMORY) {
        if (count > w->capacity - w->used) {
            w->failure = ZIP_WRITE_FAILED;   // the image is too small
            w->offset += count;
            return false;
        }
        memcpy(w->memory + w->used, data, count);
        w->used += count;
    } else {
        DWORD written = 0;
        if (count && (!WriteFile(w->file, data, count, &written, 0) || written != count)) {
            w->failure = ZIP_WRITE_FAILED;
            w->offset += count;
            return false;
        }
    }
    w->offset += count;
    return true;
}

// Writes bytes again at an earlier offset and returns to the end.
static int RewriteAt(ZipWriterState *w, uint64_t at, const void *data, uint32_t count)
{
    if (w->failure)
        return w->failure;
    if (w->outputKind == OUTPUT_MEMORY) {
        memcpy(w->memory + at, data, count);
        return ZIP_OK;
    }
    LARGE_INTEGER to, end;
    to.QuadPart = (LONGLONG)(w->baseOffset + at);
    end.QuadPart = (LONGLONG)(w->baseOffset + w->offset);
    DWORD written = 0;
    if (!SetFilePointerEx(w->file, to, 0, FILE_BEGIN))
        return w->failure = ZIP_CANNOT_TELL;
    bool ok = WriteFile(w->file, data, count, &written, 0) && written == count;
    if (!SetFilePointerEx(w->file, end, 0, FILE_BEGIN))
        return w->failure = ZIP_CANNOT_TELL;
    return ok ? ZIP_OK : (w->failure = ZIP_WRITE_FAILED);
}

// Encrypts (when the entry is encrypted) and writes one piece of entry data.
static bool WriteEntryData(ZipWriterState *w, uint8_t *piece, uint32_t count)
{
    if (w->encrypting)
        ZipEncrypt(&w->cipher, piece, count);
    return WriteOutput(w, piece, count);
}

// ---------------------------------------------------------------- file information

static int32_t FileTimeToUnix(const FILETIME *time)
{
    ULARGE_INTEGER value;
    value.LowPart = time->dwLowDateTime;
    value.HighPart = time->dwHighDateTime;
    return (int32_t)(((int64_t)value.QuadPart - ZIP_UNIX_EPOCH_FILETIME) / 10000000);
}

static uint32_t DosDateTimeOf(const FILETIME *utc)
{
    FILETIME local;
    WORD date = 0x21, time = 0;   // 1980-01-01 when the time cannot be converted
    if (FileTimeToLocalFileTime(utc, &local))
        FileTimeToDosDateTime(&local, &date, &time);
    return (uint32_t)date << 16 | time;
}

int GetZipFileInfo(HANDLE file, ZipFileInfo *info)
{
    BY_HANDLE_FILE_INFORMATION about;
    if (!info || !GetFileInformationByHandle(file, &about))
        return ZIP_NOT_OPENED;
    if (about.nFileSizeHigh != 0)
        return ZIP_BAD_ARGUMENT;   // no entry can hold 4 GB or more
    bool folder = (about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    uint32_t mode = folder ? 040600 : 0100600;
    if (about.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~0200u;
    info->externalAttributes = mode << 16 | (about.dwFileAttributes & 0x37);
    info->size = about.nFileSizeLow;
    info->accessTime = FileTimeToUnix(&about.ftLastAccessTime);
    info->modificationTime = FileTimeToUnix(&about.ftLastWriteTime);
    info->creationTime = FileTimeToUnix(&about.ftCreationTime);
    info->dosDateTime = DosDateTimeOf(&about.ftLastWriteTime);
    return ZIP_OK;
}

static void UseCurrentTime(ZipEntrySource *source)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    source->accessTime = source->modificationTime = source->creationTime = FileTimeToUnix(&now);
    source->dosDateTime = DosDateTimeOf(&now);
}

static int PrepareSource(ZipEntrySource *source)
{
    if (source->kind == ZIP_SOURCE_MEMORY || source->kind == ZIP_SOURCE_FOLDER) {
        UseCurrentTime(source);
        source->externalAttributes =
            source->kind == ZIP_SOURCE_MEMORY ? kMemoryAttributes : kFolderAttributes;
        return ZIP_OK;
    }
    ZipFileInfo info;
    int result = GetZipFileInfo(source->file, &info);
    if (result != ZIP_OK)
        return result;
    source->size = info.size;
    source->externalAttributes = info.externalAttributes;
    source->accessTime = info.accessTime;
    source->modificationTime = info.modificationTime;
    source->creationTime = info.creationTime;
    source->dosDateTime = info.dosDateTime;
    return ZIP_OK;
}

// ---------------------------------------------------------------- headers


// Already-compressed kinds are stored; the test is on the text from the last ".".
static bool IsCompressedName(const char *name)
{
    static const char *const kinds[] = {".z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz",
                                        ".tgz"};
    const char *dot = strrchr(name, '.');
    for (size_t i = 0; dot && i < sizeof kinds / sizeof kinds[0]; i++) {
        if (ZipEqualNoCase(dot, kinds[i]))
            return true;
    }
    return false;
}

static uint32_t BuildLocalHeader(uint8_t *out, const ZipCentralRecord *r,
                                 const ZipEntrySource *s)
{
    uint8_t *p = ZipPut32(out, ZIP_LOCAL_SIGNATURE);
    p = ZipPut16(p, VERSION_NEEDED);
    p = ZipPut16(p, r->flags);
    p = ZipPut16(p, r->method);
    p = ZipPut32(p, r->dosDateTime);
    p = ZipPut32(p, r->crc);
    p = ZipPut32(p, r->compressedSize);
    p = ZipPut32(p, r->size);
    p = ZipPut16(p, r->nameLength);
    p = ZipPut16(p, LOCAL_EXTRA_SIZE);
    memcpy(p, r->name, r->nameLength);
    p += r->nameLength;
    p = ZipPut16(p, ZIP_EXTRA_TIME_ID);
    p = ZipPut16(p, 13);
    *p++ = 7;
    p = ZipPut32(p, (uint32_t)s->modificationTime);
    p = ZipPut32(p, (uint32_t)s->accessTime);
    p = ZipPut32(p, (uint32_t)s->creationTime);
    return (uint32_t)(p - out);
}

static uint32_t BuildCentralHeader(uint8_t *out, const ZipCentralRecord *r)
{
    uint8_t *p = ZipPut32(out, ZIP_CENTRAL_SIGNATURE);
    p = ZipPut16(p, VERSION_MADE_BY);
    p = ZipPut16(p, VERSION_NEEDED);
    p = ZipPut16(p, r->flags);
    p = ZipPut16(p, r->method);
    p = ZipPut32(p, r->dosDateTime);
    p = ZipPut32(p, r->crc);
    p = ZipPut32(p, r->compressedSize);
    p = ZipPut32(p, r->size);
    p = ZipPut16(p, r->nameLength);
    p = ZipPut16(p, CENTRAL_EXTRA_SIZE);
    p = ZipPut16(p, 0);   // comment
    p = ZipPut16(p, 0);   // disk
    p = ZipPut16(p, 0);   // internal attributes
    p = ZipPut32(p, r->externalAttributes);
    p = ZipPut32(p, r->localOffset);
    memcpy(p, r->name, r->nameLength);
    p += r->nameLength;
    p = ZipPut16(p, ZIP_EXTRA_TIME_ID);
    p = ZipPut16(p, 5);
    *p++ = 7;
    p = ZipPut32(p, (uint32_t)r->modificationTime);
    return (uint32_t)(p - out);
}

// Twelve random bytes, the last one the check byte the reader expects for
// an entry with a data descriptor: the high byte of the DOS time.
static bool WriteCryptHeader(ZipWriterState *w, uint32_t dosDateTime)
{
    uint8_t header[ZIP_CRYPT_HEADER_SIZE];
    srand(GetTickCount() ^ (unsigned)(UINT_PTR)GetDesktopWindow());
    for (int i = 0; i < ZIP_CRYPT_HEADER_SIZE; i++)
        header[i] = (uint8_t)(rand() >> 7);
    header[ZIP_CRYPT_HEADER_SIZE - 1] = (uint8_t)(dosDateTime >> 8);
    return WriteEntryData(w, header, sizeof header);
}

// ---------------------------------------------------------------- data

// Next piece of plain input: from the block, or read from the file.
static int ReadSource(ZipEntrySource *s, uint32_t *consumed, uint8_t *buffer, uint32_t room,
                      const uint8_t **piece)
{
    if (s->kind == ZIP_SOURCE_MEMORY) {
        uint32_t left = s->size - *consumed;
        uint32_t count = left < room ? left : room;
        *piece = s->block + *consumed;
        *consumed += count;
        return (int)count;
    }
    if (s->kind == ZIP_SOURCE_FOLDER)
        return 0;
    DWORD got = 0;
    if (!ReadFile(s->file, buffer, room, &got, 0))
        return -1;
    *piece = buffer;
    *consumed += got;
    return (int)got;
}

static int WriteStoredData(ZipWriterState *w, ZipEntrySource *s, ZipCentralRecord *r)
{
    uint32_t consumed = 0;
    for (;;) {
        const uint8_t *piece = 0;
        int count = ReadSource(s, &consumed, w->inputBlock, ZIP_PIECE_SIZE, &piece);
        if (count < 0)
            return ZIP_WRITE_FAILED;
        if (count == 0)
            break;
        if (consumed > 0xFFFFFFFFu - ZIP_PIECE_SIZE)
            return ZIP_WRITE_FAILED;
        r->crc = crc32(r->crc, piece, (uInt)count);
        memcpy(w->outputPiece, piece, (size_t)count);
        if (!WriteEntryData(w, w->outputPiece, (uint32_t)count))
            return ZIP_SHORT_STORED_WRITE;
    }
    r->size = consumed;
    r->compressedSize = consumed + (w->encrypting ? ZIP_CRYPT_HEADER_SIZE : 0);
    return ZIP_OK;
}

// Runs the compressor until it wants more input (or, finishing, to its end).
static int DrainDeflater(ZipWriterState *w, ZipCentralRecord *r, int flush)
{
    z_stream *z = &w->deflater;
    int status;
    do {
        z->next_out = w->outputPiece;
        z->avail_out = ZIP_PIECE_SIZE;
        status = deflate(z, flush);
        if (status == Z_STREAM_ERROR)
            return ZIP_WRITE_FAILED;
        uint32_t made = ZIP_PIECE_SIZE - z->avail_out;
        r->compressedSize += made;
        if (made && !WriteEntryData(w, w->outputPiece, made))
            return ZIP_WRITE_FAILED;
    } while (z->avail_out == 0);
    if (flush == Z_FINISH && status != Z_STREAM_END)
        return ZIP_WRITE_FAILED;
    return ZIP_OK;
}

static bool ReadyDeflater(ZipWriterState *w)
{
    if (w->deflaterReady)
        return deflateReset(&w->deflater) == Z_OK;
    memset(&w->deflater, 0, sizeof w->deflater);
    if (deflateInit2(&w->deflater, 8, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    w->deflaterReady = true;
    // Level 8 with good 32, lazy 128, nice 258 and chain 1024.
    return deflateTune(&w->deflater, 32, 128, 258, 1024) == Z_OK;
}

static int WriteDeflatedData(ZipWriterState *w, ZipEntrySource *s, ZipCentralRecord *r)
{
    if (!ReadyDeflater(w))
        return ZIP_WRITE_FAILED;
    uint32_t consumed = 0;
    for (;;) {
        const uint8_t *piece = 0;
        int count = ReadSource(s, &consumed, w->inputBlock, INPUT_BLOCK_SIZE, &piece);
        if (count < 0)
            return ZIP_WRITE_FAILED;
        if (consumed > 0xFFFFFFFFu - INPUT_BLOCK_SIZE)
            return ZIP_WRITE_FAILED;
        r->crc = crc32(r->crc, piece, (uInt)count);
        w->deflater.next_in = (Bytef *)piece;
        w->deflater.avail_in = (uInt)count;
        int result = DrainDeflater(w, r, count == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (result != ZIP_OK)
            return result;
        if (count == 0)
            break;
    }
    r->size = consumed;
    if (w->encrypting)
        r->compressedSize += ZIP_CRYPT_HEADER_SIZE;
    return ZIP_OK;
}

// Puts the real CRC-32 and sizes where the reader finds them: in the local
// header (seekable, unencrypted output) or in a data descriptor.
static int FinishEntryHeaders(ZipWriterState *w, ZipCentralRecord *r, const ZipEntrySource *s,
                              uint32_t announcedCompressed)
{
    if (w->seekable && !w->encrypting) {
        r->flags = r->method == 8 ? 2 : 0;
        uint8_t header[ZIP_LOCAL_SIZE + NAME_CAPACITY + LOCAL_EXTRA_SIZE];
        uint32_t length = BuildLocalHeader(header, r, s);
        return RewriteAt(w, r->localOffset - w->baseOffset, header, length);
    }
    uint8_t descriptor[ZIP_DESCRIPTOR_SIZE];
    uint8_t *p = ZipPut32(descriptor, ZIP_DESCRIPTOR_SIGNATURE);
    p = ZipPut32(p, r->crc);
    p = ZipPut32(p, r->compressedSize);
    ZipPut32(p, r->size);
    if (!WriteOutput(w, descriptor, sizeof descriptor))
        return ZIP_WRITE_FAILED;
    if (r->method == 0 && r->compressedSize != announcedCompressed)
        return ZIP_STORED_LENGTH;
    return ZIP_OK;
}

// ---------------------------------------------------------------- adding

static int CheckWriter(ZipHandle *handle, ZipWriterState **state)
{
    return ZipCheckHandle(handle, ZIP_KIND_WRITER, (void **)state);
}

// Copies the name with forward slashes; a folder gets a trailing "/".
static int PrepareName(ZipCentralRecord *r, const char *name, bool folder)
{
    if (!name || !*name)
        return ZIP_BAD_ARGUMENT;
    size_t length = strlen(name);
    if (length > NAME_CAPACITY - 2)
        return ZIP_BAD_ARGUMENT;
    for (size_t i = 0; i <= length; i++)
        r->name[i] = name[i] == '\\' ? '/' : name[i];
    if (folder && r->name[length - 1] != '/') {
        r->name[length++] = '/';
        r->name[length] = 0;
    }
    r->nameLength = (uint32_t)length;
    return ZIP_OK;
}

static int OpenEntrySource(ZipEntrySource *s, int kind, const void *source, uint32_t length)
{
    s->kind = kind;
    if (kind == ZIP_SOURCE_PATH) {
        if (!source)
            return ZIP_BAD_ARGUMENT;
        s->file = CreateFileA((const char *)source, GENERIC_READ, FILE_SHARE_READ, 0,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
        if (s->file == INVALID_HANDLE_VALUE)
            return ZIP_NOT_OPENED;
        s->ownsFile = true;
    } else if (kind == ZIP_SOURCE_HANDLE) {
        s->file = (HANDLE)source;
        if (!s->file || s->file == INVALID_HANDLE_VALUE)
            return ZIP_BAD_ARGUMENT;
    } else if (kind == ZIP_SOURCE_MEMORY) {
        if (!source || length == 0)
            return ZIP_BAD_ARGUMENT;
        s->block = (const uint8_t *)source;
        s->size = length;
    } else if (kind != ZIP_SOURCE_FOLDER) {
        return ZIP_BAD_ARGUMENT;
    }
    return PrepareSource(s);
}

static int WriteEntry(ZipWriterState *w, ZipEntrySource *s, ZipCentralRecord *r)
{
    w->encrypting = w->password && s->kind != ZIP_SOURCE_FOLDER;
    r->flags = w->encrypting ? ZIP_FLAG_DESCRIPTOR | ZIP_FLAG_ENCRYPTED : ZIP_FLAG_DESCRIPTOR;
    r->method = s->kind == ZIP_SOURCE_FOLDER || IsCompressedName(r->name) ? 0 : 8;
    r->dosDateTime = s->dosDateTime;
    r->externalAttributes = s->externalAttributes;
    r->modificationTime = s->modificationTime;
    r->localOffset = (uint32_t)(w->baseOffset + w->offset);
    r->size = s->size;
    r->compressedSize = r->method == 0 ? s->size + (w->encrypting ? ZIP_CRYPT_HEADER_SIZE : 0) : 0;
    uint32_t announced = r->compressedSize;
    if (w->baseOffset + w->offset > 0xFFFFFFFFu)
        return ZIP_WRITE_FAILED;
    uint8_t header[ZIP_LOCAL_SIZE + NAME_CAPACITY + LOCAL_EXTRA_SIZE];
    if (!WriteOutput(w, header, BuildLocalHeader(header, r, s)))
        return ZIP_WRITE_FAILED;
    if (w->encrypting) {
        ZipCipherInit(&w->cipher, w->password);
        if (!WriteCryptHeader(w, r->dosDateTime))
            return ZIP_WRITE_FAILED;
    }
    r->crc = crc32(0, 0, 0);
    r->compressedSize = 0;
    int result = r->method == 8 ? WriteDeflatedData(w, s, r) : WriteStoredData(w, s, r);
    if (result != ZIP_OK)
        return result;
    return FinishEntryHeaders(w, r, s, announced);
}

static int Add(ZipHandle *handle, const char *name, int kind, const void *source,
               uint32_t length)
{
    ZipWriterState *w;
    int result = CheckWriter(handle, &w);
    if (result != ZIP_OK)
        return result;
    if (w->failure)
        return ZIP_AFTER_FAILURE;
    if (w->finished)
        return ZIP_AFTER_FINISH;
    ZipCentralRecord record;
    memset(&record, 0, sizeof record);
    result = PrepareName(&record, name, kind == ZIP_SOURCE_FOLDER);
    if (result == ZIP_OK && w->records.count >= MAX_ENTRIES)
        result = ZIP_BAD_ARGUMENT;
    ZipEntrySource entry;
    memset(&entry, 0, sizeof entry);
    if (result == ZIP_OK)
        result = OpenEntrySource(&entry, kind, source, length);
    if (result == ZIP_OK)
        result = WriteEntry(w, &entry, &record);
    if (entry.ownsFile)
        CloseHandle(entry.file);
    // A failed entry leaves unreferenced bytes but no directory record, so
    // the archive stays sound; only a failed write refuses further entries.
    if (result == ZIP_OK && w->records.Add(record) < 0)
        result = ZIP_WRITE_FAILED;
    return result;
}

int CZipWriter::AddFile(ZipHandle *handle, const char *name, const char *path)
{
    return Add(handle, name, ZIP_SOURCE_PATH, path, 0);
}

int CZipWriter::AddMemory(ZipHandle *handle, const char *name, const void *block,
                          uint32_t length)
{
    return Add(handle, name, ZIP_SOURCE_MEMORY, block, length);
}

int CZipWriter::AddFolder(ZipHandle *handle, const char *name)
{
    return Add(handle, name, ZIP_SOURCE_FOLDER, 0, 0);
}

// ---------------------------------------------------------------- finishing

static int Finish(ZipWriterState *w)
{
    if (w->finished)
        return w->failure ? ZIP_WRITE_FAILED : ZIP_OK;
    w->finished = true;
    uint64_t directoryStart = w->offset;
    for (int i = 0; i < w->records.count; i++) {
        uint8_t header[ZIP_CENTRAL_SIZE + NAME_CAPACITY + CENTRAL_EXTRA_SIZE];
        WriteOutput(w, header, BuildCentralHeader(header, &w->records.data[i]));
    }
    uint32_t count = (uint32_t)w->records.count;
    w->records.RemoveAll();
    uint8_t end[ZIP_END_SIZE];
    uint8_t *p = ZipPut32(end, ZIP_END_SIGNATURE);
    p = ZipPut16(p, 0);
    p = ZipPut16(p, 0);
    p = ZipPut16(p, count);
    p = ZipPut16(p, count);
    p = ZipPut32(p, (uint32_t)(w->offset - directoryStart));
    p = ZipPut32(p, (uint32_t)(w->baseOffset + directoryStart));
    ZipPut16(p, 0);
    WriteOutput(w, end, sizeof end);
    return w->failure ? ZIP_WRITE_FAILED : ZIP_OK;
}

int CZipWriter::GetMemory(ZipHandle *handle, void **image, uint32_t *length)
{
    ZipWriterState *w;
    int result = CheckWriter(handle, &w);
    if (result != ZIP_OK)
        return result;
    if (w->outputKind != OUTPUT_MEMORY)
        return ZIP_NO_MEMORY_IMAGE;
    result = Finish(w);
    if (image)
        *image = result == ZIP_OK ? w->memory : 0;
    if (length)
        *length = result == ZIP_OK ? w->used : 0;
    return result;
}

static void FreeWriter(ZipWriterBox *box)
{
    ZipWriterState *w = &box->state;
    if (w->mapping) {
        UnmapViewOfFile(w->memory);
        CloseHandle(w->mapping);
    }
    if (w->ownsFile && w->file && w->file != INVALID_HANDLE_VALUE)
        CloseHandle(w->file);
    if (w->deflaterReady)
        deflateEnd(&w->deflater);
    w->records.RemoveAll();
    free(w->inputBlock);
    free(w->outputPiece);
    free(w->password);
    free(box);
}

int CZipWriter::Close(ZipHandle *handle)
{
    ZipWriterState *w;
    int result = CheckWriter(handle, &w);
    if (result != ZIP_OK)
        return result;
    result = Finish(w);
    FreeWriter((ZipWriterBox *)handle);
    return result;
}

// ---------------------------------------------------------------- creating

static bool OpenOutput(ZipWriterState *w, const void *target, uint32_t size, int kind)
{
    if (kind == ZIP_SOURCE_HANDLE || kind == ZIP_SOURCE_PATH) {
        w->outputKind = OUTPUT_FILE;
        if (kind == ZIP_SOURCE_PATH) {
            if (!target)
                return false;
            w->file = CreateFileA((const char *)target, GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, 0);
            w->ownsFile = true;
        } else {
            w->file = (HANDLE)target;
        }
        if (!w->file || w->file == INVALID_HANDLE_VALUE) {
            w->ownsFile = false;
            return false;
        }
        // A handle that reports its position can be sought back for the header fix-up.
        LARGE_INTEGER zero, position;
        zero.QuadPart = 0;
        w->seekable = SetFilePointerEx(w->file, zero, &position, FILE_CURRENT) != 0;
        w->baseOffset = w->seekable ? (uint64_t)position.QuadPart : 0;
        return w->baseOffset < 0xFFFFFFFFu;
    }
    if (kind != ZIP_SOURCE_MEMORY || size == 0)
        return false;
    w->outputKind = OUTPUT_MEMORY;
    w->seekable = true;
    w->capacity = size;
    if (target) {
        w->memory = (uint8_t *)target;
        return true;
    }
    w->mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, 0, PAGE_READWRITE, 0, size, 0);
    if (!w->mapping)
        return false;
    w->memory = (uint8_t *)MapViewOfFile(w->mapping, FILE_MAP_WRITE, 0, 0, size);
    return w->memory != 0;
}

ZipHandle *CZipWriter::CreateCore(const void *target, uint32_t size, int kind,
                                  const char *password)
{
    ZipWriterBox *box = (ZipWriterBox *)calloc(1, sizeof *box);
    if (!box)
        return 0;
    box->state.records.growStep = -1;   // calloc made it zero: double as every array does
    box->handle.kind = ZIP_KIND_WRITER;
    box->handle.state = &box->state;
    ZipWriterState *w = &box->state;
    bool ok = OpenOutput(w, target, size, kind);
    w->inputBlock = (uint8_t *)malloc(INPUT_BLOCK_SIZE);
    w->outputPiece = (uint8_t *)malloc(ZIP_PIECE_SIZE);
    if (ok && password && *password)
        ok = (w->password = _strdup(password)) != 0;
    if (!ok || !w->inputBlock || !w->outputPiece) {
        w->finished = true;   // nothing to finish on a failed output
        FreeWriter(box);
        return 0;
    }
    return &box->handle;
}

ZipHandle *CZipWriter::Create(const char *path, const char *password)
{
    return CreateCore(path, 0, ZIP_SOURCE_PATH, password);
}

ZipHandle *CZipWriter::CreateInMemory(void *block, uint32_t size, const char *password)
{
    return CreateCore(block, size, ZIP_SOURCE_MEMORY, password);
}
