// Format dispatch: constructs the codec class for a decode or an encode,
// tries every format in turn when the format is unknown, and hands the
// codec's result over to the caller's image. Entry points for files, memory
// and resources.
#include "image.h"

#include <string.h>

#include <new>

#include "../framework/application.h"
#include "bmpcodec.h"
#include "gifcodec.h"
#include "icocodec.h"
#include "jpegcodec.h"
#include "pcxcodec.h"
#include "pngcodec.h"
#include "stream.h"
#include "tgacodec.h"
#include "tifcodec.h"
#include "wmfcodec.h"

static const char kErrNullStream[] = "null file handler";
static const char kErrNullImage[] = "null image!!!";
static const char kErrUnknownDecode[] = "Decode: Unknown or wrong format";
static const char kErrNoImage[] = "Decode: no image data";
static const char kErrNoMemory[] = "can't allocate memory";
static const char kErrCancelled[] = "Cancelled";
static const char kErrResource[] = "Unable to load resource!";
static const char kErrUnknownEncode[] = "Encode: Unknown format";
static const char kErrBufferNotEmpty[] = "the buffer must be empty";

// Order of the try-all pass: cheap, unambiguous signatures first.
static const int kTryOrder[] = {FORMAT_BMP, FORMAT_JPG, FORMAT_ICO, FORMAT_GIF, FORMAT_PNG,
                                FORMAT_TIF, FORMAT_TGA, FORMAT_PCX, FORMAT_WMF};

// One attempt with the codec class of `format`. On failure the stream is
// back at `start`. Codec objects go on the heap: the GIF one carries large
// tables.
template <class Codec>
static bool TryCodec(CDibImage *target, CByteStream *stream, long start, int format)
{
    Codec *codec = new (std::nothrow) Codec();
    if (!codec) {
        target->SetError(kErrNoMemory);
        return false;
    }
    codec->CopyInfo(*target);
    codec->info.format = format;
    codec->info.lastError[0] = 0;
    bool ok = codec->Decode(stream);
    // Success must mean pixels, unless the caller only asked for the size.
    if (ok && !codec->dib && target->info.escape != -1) {
        if (!codec->info.lastError[0])
            codec->SetError(kErrNoImage);
        ok = false;
    }
    if (ok) {
        ok = target->Transfer(*codec, true);
    } else {
        if (format == FORMAT_ICO || format == FORMAT_GIF)
            target->info.frameCount = codec->info.frameCount;
        target->SetError(codec->info.lastError);
        stream->Seek(start, SEEK_SET);
    }
    delete codec;
    return ok;
}

static bool DecodeAs(CDibImage *target, CByteStream *stream, long start, int format)
{
    switch (format) {
    case FORMAT_BMP: return TryCodec<CDibImageBMP>(target, stream, start, format);
    case FORMAT_GIF: return TryCodec<CDibImageGIF>(target, stream, start, format);
    case FORMAT_JPG: return TryCodec<CDibImageJPG>(target, stream, start, format);
    case FORMAT_PNG: return TryCodec<CDibImagePNG>(target, stream, start, format);
    case FORMAT_ICO: return TryCodec<CDibImageICO>(target, stream, start, format);
    case FORMAT_TIF: return TryCodec<CDibImageTIF>(target, stream, start, format);
    case FORMAT_TGA: return TryCodec<CDibImageTGA>(target, stream, start, format);
    case FORMAT_PCX: return TryCodec<CDibImagePCX>(target, stream, start, format);
    case FORMAT_WMF: return TryCodec<CDibImageWMF>(target, stream, start, format);
    }
    target->SetError(kErrUnknownDecode);
    return false;
}

bool CDibImage::Decode(CByteStream *stream, int format)
{
    if (!stream) {
        SetError(kErrNullStream);
        return false;
    }
    long start = stream->Tell();
    if (format != FORMAT_UNKNOWN)
        return DecodeAs(this, stream, start, format);
    for (size_t k = 0; k < sizeof kTryOrder / sizeof kTryOrder[0]; k++) {
        if (DecodeAs(this, stream, start, kTryOrder[k]))
            return true;
        // Cancelled: the other formats would only be cancelled too, and the
        // caller should hear that it stopped the decode, not why the first
        // codec did not recognise the bytes.
        if (IsCancelled()) {
            SetError(kErrCancelled);
            return false;
        }
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

// The codec class of `format` as a ghost of `source`: it reads the
// source's buffers and owns nothing.
template <class Codec>
static bool EncodeWith(CDibImage *source, CByteStream *stream)
{
    Codec *codec = new (std::nothrow) Codec();
    if (!codec) {
        source->SetError(kErrNoMemory);
        return false;
    }
    codec->Ghost(*source);
    codec->info.lastError[0] = 0;
    bool ok = codec->Encode(stream);
    if (!ok)
        source->SetError(codec->info.lastError);
    delete codec;
    return ok;
}

bool CDibImage::Encode(CByteStream *stream, int format)
{
    switch (format) {
    case FORMAT_BMP: return EncodeWith<CDibImageBMP>(this, stream);
    case FORMAT_GIF: return EncodeWith<CDibImageGIF>(this, stream);
    case FORMAT_JPG: return EncodeWith<CDibImageJPG>(this, stream);
    case FORMAT_PNG: return EncodeWith<CDibImagePNG>(this, stream);
    case FORMAT_ICO: return EncodeWith<CDibImageICO>(this, stream);
    case FORMAT_TIF: return EncodeWith<CDibImageTIF>(this, stream);
    case FORMAT_TGA: return EncodeWith<CDibImageTGA>(this, stream);
    case FORMAT_PCX: return EncodeWith<CDibImagePCX>(this, stream);
    case FORMAT_WMF: return EncodeWith<CDibImageWMF>(this, stream);
    }
    SetError(kErrUnknownEncode);
    return false;
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
