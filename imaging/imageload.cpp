// Format dispatch: picks the codec for a decode or an encode, tries every
// format in turn when the format is unknown, and hands the codec's result
// over to the caller's image. Entry points for files, memory and resources.
#include "image.h"

#include <string.h>

#include "../framework/application.h"
#include "stream.h"

static const char kErrNullStream[] = "null file handler";
static const char kErrNullImage[] = "null image!!!";
static const char kErrUnknownDecode[] = "Decode: Unknown or wrong format";
static const char kErrNoImage[] = "Decode: no image data";
static const char kErrResource[] = "Unable to load resource!";
static const char kErrUnknownEncode[] = "Encode: Unknown format";
static const char kErrBufferNotEmpty[] = "the buffer must be empty";

// Order of the try-all pass: cheap, unambiguous signatures first.
static const int kTryOrder[] = {FORMAT_BMP, FORMAT_JPG, FORMAT_ICO, FORMAT_GIF, FORMAT_PNG,
                                FORMAT_TIF, FORMAT_TGA, FORMAT_PCX, FORMAT_WMF};

static bool IsCancel(int escape) { return escape != 0 && escape != -1; }

// One attempt with one codec. On failure the stream is back at `start`.
static bool TryCodec(CDibImage *target, CByteStream *stream, long start, int format,
                     ImageDecodeFn decode)
{
    CDibImage codec(format);
    codec.CopyInfo(*target);
    codec.info.format = format;
    codec.info.lastError[0] = 0;
    bool ok = decode(&codec, stream);
    // Success must mean pixels, unless the caller only asked for the size.
    if (ok && !codec.dib && target->info.escape != -1) {
        if (!codec.info.lastError[0])
            codec.SetError(kErrNoImage);
        ok = false;
    }
    if (ok)
        return target->Transfer(codec, true);
    if (format == FORMAT_ICO || format == FORMAT_GIF)
        target->info.frameCount = codec.info.frameCount;
    target->SetError(codec.info.lastError);
    stream->Seek(start, SEEK_SET);
    return false;
}

bool CDibImage::Decode(CByteStream *stream, int format)
{
    if (!stream) {
        SetError(kErrNullStream);
        return false;
    }
    long start = stream->Tell();
    if (format != FORMAT_UNKNOWN) {
        const ImageCodec *codec = GetImageCodec(format);
        if (!codec || !codec->decode) {
            SetError(kErrUnknownDecode);
            return false;
        }
        return TryCodec(this, stream, start, format, codec->decode);
    }
    for (size_t k = 0; k < sizeof kTryOrder / sizeof kTryOrder[0]; k++) {
        const ImageCodec *codec = GetImageCodec(kTryOrder[k]);
        if (!codec || !codec->decode)
            continue;
        if (TryCodec(this, stream, start, kTryOrder[k], codec->decode))
            return true;
        if (IsCancel(info.escape))
            return false;   // cancelled: the other formats would only be cancelled too
    }
    SetError(kErrUnknownDecode);
    return false;
}

bool CDibImage::Decode(const unsigned char *buffer, int size, int format)
{
    if (!buffer || size <= 0) {
        SetError(kErrNullStream);
        return false;
    }
    CMemStream stream((unsigned char *)buffer, size);   // borrowed: never written or freed
    return Decode(&stream, format);
}

bool CDibImage::Decode(FILE *file, int format)
{
    if (!file) {
        SetError(kErrNullStream);
        return false;
    }
    CFileStream stream(file);   // the caller's stream: not closed here
    return Decode(&stream, format);
}

static bool DecodePath(CDibImage *image, const char *path, int format)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return false;
    bool ok = image->Decode(f, format);
    fclose(f);
    return ok;
}

bool CDibImage::Load(const char *path, int format)
{
    if (!path)
        return false;
    if (ImageCodecSlot(format) && DecodePath(this, path, format))
        return true;
    char saved[sizeof info.lastError];
    CopyText(saved, info.lastError, sizeof saved);
    bool ok = DecodePath(this, path, FORMAT_UNKNOWN);
    // Keep the reason the caller's own format failed, not the try-all text.
    if (!ok && format != FORMAT_UNKNOWN)
        CopyText(info.lastError, saved, sizeof info.lastError);
    return ok;
}

bool CDibImage::LoadFromResource(HRSRC resource, int format, HMODULE module)
{
    HGLOBAL handle = resource ? LoadResource(module, resource) : 0;
    if (!handle) {
        SetError(kErrResource);
        return false;
    }
    DWORD size = SizeofResource(module, resource);
    const unsigned char *bytes = (const unsigned char *)LockResource(handle);
    if (!bytes)
        return false;
    return Decode(bytes, (int)size, format);
}

bool CDibImage::CanEncodeTo(CByteStream *stream)
{
    if (!stream) {
        SetError(kErrNullStream);
        return false;
    }
    if (!dib) {
        SetError(kErrNullImage);
        return false;
    }
    return true;
}

bool CDibImage::Encode(CByteStream *stream, int format)
{
    const ImageCodec *codec = GetImageCodec(format);
    if (!codec || !codec->encode) {
        SetError(kErrUnknownEncode);
        return false;
    }
    if (!CanEncodeTo(stream))
        return false;
    CDibImage ghost(format);
    ghost.Ghost(*this);   // reads our buffers, owns nothing
    ghost.info.lastError[0] = 0;
    bool ok = codec->encode(&ghost, stream);
    if (!ok)
        SetError(ghost.info.lastError);
    return ok;
}

bool CDibImage::Encode(unsigned char **buffer, int32_t *size, int format)
{
    if (!buffer || !size || *buffer) {
        SetError(kErrBufferNotEmpty);
        return false;
    }
    CMemStream stream;
    if (!stream.Open() || !Encode(&stream, format))
        return false;   // the stream frees its block
    *size = (int32_t)stream.Size();
    *buffer = stream.GetBuffer(true);
    return true;
}
