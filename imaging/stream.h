// Byte streams the codecs read and write through: an abstract stream with
// the operations of stdio, over a FILE or over a growable memory block.
#pragma once

#include <stdio.h>
#include <stdint.h>

class CByteStream {
public:
    virtual ~CByteStream() {}
    virtual bool Close() = 0;
    virtual size_t Read(void *buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void *buffer, size_t size, size_t count) = 0;
    virtual bool Seek(long offset, int origin) = 0;   // 0 start, 1 current, 2 end
    virtual long Tell() = 0;
    virtual long Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual int Error() = 0;
    virtual bool PutC(unsigned char byte) { return Write(&byte, 1, 1) == 1; }
    virtual int GetC() = 0;                            // byte, or -1 at the end
    virtual char *GetS(char *buffer, int max) = 0;
    virtual int Scanf(const char *format, void *out) = 0;
};

// Over a stdio stream the caller opened; it is never closed by this object.
class CFileStream : public CByteStream {
public:
    FILE *file;
    bool closeOnDestroy;

    explicit CFileStream(FILE *f = 0) : file(f), closeOnDestroy(f == 0) {}
    virtual ~CFileStream();
    virtual bool Close();
    virtual size_t Read(void *buffer, size_t size, size_t count);
    virtual size_t Write(const void *buffer, size_t size, size_t count);
    virtual bool Seek(long offset, int origin);
    virtual long Tell();
    virtual long Size();
    virtual bool Flush();
    virtual bool Eof();
    virtual int Error();
    virtual bool PutC(unsigned char byte);
    virtual int GetC();
    virtual char *GetS(char *buffer, int max);
    virtual int Scanf(const char *format, void *out);
};

// Over a memory block. Built over a caller's buffer it only borrows it: the
// first write copies the data into a block of its own, so the caller's
// memory (possibly a read-only resource) is never changed or reallocated.
class CMemStream : public CByteStream {
public:
    unsigned char *block;
    long dataSize;          // bytes of valid data
    bool owned;             // the stream frees the block
    long position;
    long capacity;          // bytes allocated (or borrowed)
    bool eof;

    explicit CMemStream(unsigned char *buffer = 0, long size = 0);
    virtual ~CMemStream();
    bool Open();
    unsigned char *GetBuffer(bool detach = true);
    virtual bool Close();
    virtual size_t Read(void *buffer, size_t size, size_t count);
    virtual size_t Write(const void *buffer, size_t size, size_t count);
    virtual bool Seek(long offset, int origin);
    virtual long Tell();
    virtual long Size();
    virtual bool Flush();
    virtual bool Eof();
    virtual int Error();
    virtual bool PutC(unsigned char byte);
    virtual int GetC();
    virtual char *GetS(char *buffer, int max);
    virtual int Scanf(const char *format, void *out);

private:
    bool Grow(int64_t needed);
    bool MakeOwned();
};
