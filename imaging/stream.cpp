// Byte streams over stdio and over memory.
#include "stream.h"

#include <stdlib.h>
#include <string.h>

// Memory streams stay below 2 GB so positions fit a long on every host.
static const int64_t kMemStreamLimit = 0x7FFF0000;

// ---- CFileStream ----------------------------------------------------------

CFileStream::~CFileStream() { Close(); }

bool CFileStream::Close()
{
    if (!file || !closeOnDestroy)
        return true;
    int rc = fclose(file);
    file = 0;
    return rc == 0;
}

size_t CFileStream::Read(void *buffer, size_t size, size_t count)
{
    return file && buffer ? fread(buffer, size, count, file) : 0;
}

size_t CFileStream::Write(const void *buffer, size_t size, size_t count)
{
    return file && buffer ? fwrite(buffer, size, count, file) : 0;
}

bool CFileStream::Seek(long offset, int origin)
{
    return file && fseek(file, offset, origin) == 0;
}

long CFileStream::Tell() { return file ? ftell(file) : 0; }

long CFileStream::Size()
{
    if (!file)
        return -1;
    long here = ftell(file);
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, here, SEEK_SET);
    return size;
}

bool CFileStream::Flush() { return file && fflush(file) == 0; }
bool CFileStream::Eof() { return file ? feof(file) != 0 : true; }
int CFileStream::Error() { return file ? ferror(file) : -1; }
bool CFileStream::PutC(unsigned char byte) { return file && fputc(byte, file) == byte; }
int CFileStream::GetC() { return file ? getc(file) : -1; }

char *CFileStream::GetS(char *buffer, int max)
{
    return file && buffer && max > 0 ? fgets(buffer, max, file) : 0;
}

int CFileStream::Scanf(const char *format, void *out)
{
    return file && format ? fscanf(file, format, out) : -1;
}

// ---- CMemStream -----------------------------------------------------------

CMemStream::CMemStream(unsigned char *buffer, long size)
    : block(buffer), dataSize(buffer ? (size > 0 ? size : 0) : 0), owned(buffer == 0),
      position(0), capacity(buffer ? (size > 0 ? size : 0) : 0), eof(false)
{
}

CMemStream::~CMemStream() { Close(); }

bool CMemStream::Open()
{
    if (block)
        return false;
    block = (unsigned char *)malloc(1);
    if (!block)
        return false;
    capacity = dataSize = position = 0;
    owned = true;
    return true;
}

bool CMemStream::Close()
{
    if (block && owned)
        free(block);
    block = 0;
    dataSize = 0;
    capacity = 0;
    position = 0;
    return true;
}

unsigned char *CMemStream::GetBuffer(bool detach)
{
    if (detach)
        owned = false;
    return block;
}

// Capacity grows in 64 KB steps: (needed with its low 16 bits cleared) + 64 KB.
bool CMemStream::Grow(int64_t needed)
{
    if (needed <= capacity)
        return true;
    if (needed > kMemStreamLimit)
        return false;
    int64_t newCapacity = (needed & ~(int64_t)0xFFFF) + 65536;
    unsigned char *grown;
    if (owned) {
        grown = (unsigned char *)realloc(block, (size_t)newCapacity);
    } else {
        grown = (unsigned char *)malloc((size_t)newCapacity);
        if (grown && block && dataSize > 0)
            memcpy(grown, block, (size_t)dataSize);
    }
    if (!grown)
        return false;
    block = grown;
    owned = true;
    capacity = (long)newCapacity;
    return true;
}

// A borrowed block is copied before the first write touches it.
bool CMemStream::MakeOwned()
{
    if (owned)
        return true;
    int64_t keep = capacity;
    capacity = 0;
    if (Grow(keep > 0 ? keep : 1))
        return true;
    capacity = (long)keep;
    return false;
}

size_t CMemStream::Read(void *buffer, size_t size, size_t count)
{
    if (!buffer || !block)
        return 0;
    if (position >= dataSize) {
        eof = true;
        return 0;
    }
    if (size == 0 || count == 0)
        return 0;
    uint64_t wanted = (uint64_t)size * count;
    uint64_t left = (uint64_t)(dataSize - position);
    if (wanted > left) {
        wanted = left;
        eof = true;
    }
    memcpy(buffer, block + position, (size_t)wanted);
    position += (long)wanted;
    return (size_t)(wanted / size);
}

size_t CMemStream::Write(const void *buffer, size_t size, size_t count)
{
    eof = false;
    if (!buffer || !block)
        return 0;
    uint64_t n = (uint64_t)size * count;
    if (n == 0 || n > (uint64_t)kMemStreamLimit)
        return 0;
    int64_t end = (int64_t)position + (int64_t)n;
    if (!MakeOwned() || !Grow(end))
        return 0;
    if (position > dataSize)   // a seek past the end leaves a gap: zero it
        memset(block + dataSize, 0, (size_t)(position - dataSize));
    memcpy(block + position, buffer, (size_t)n);
    position = (long)end;
    if (position > dataSize)
        dataSize = position;
    return count;
}

bool CMemStream::Seek(long offset, int origin)
{
    eof = false;
    if (!block)
        return false;
    int64_t base;
    if (origin == SEEK_SET)
        base = 0;
    else if (origin == SEEK_CUR)
        base = position;
    else if (origin == SEEK_END)
        base = dataSize;
    else
        return false;
    int64_t target = base + offset;
    if (target < 0)
        target = 0;
    if (target > kMemStreamLimit)
        target = kMemStreamLimit;
    position = (long)target;
    return true;
}

long CMemStream::Tell() { return block ? position : -1; }
long CMemStream::Size() { return block ? dataSize : -1; }
bool CMemStream::Flush() { return block != 0; }
bool CMemStream::Eof() { return block ? eof : true; }
int CMemStream::Error() { return block ? (position > dataSize ? 1 : 0) : -1; }

bool CMemStream::PutC(unsigned char byte)
{
    return Write(&byte, 1, 1) == 1;
}

int CMemStream::GetC()
{
    if (!block || position >= dataSize) {
        eof = true;
        return -1;
    }
    return block[position++];
}

char *CMemStream::GetS(char *buffer, int max)
{
    if (!buffer || max < 1)
        return 0;
    int stored = 0;
    while (stored < max - 1) {
        int c = GetC();
        if (c < 0)
            return 0;
        buffer[stored++] = (char)c;
        if (c == '\n')
            break;
    }
    buffer[stored] = 0;
    return buffer;
}

int CMemStream::Scanf(const char *, void *) { return 0; }
