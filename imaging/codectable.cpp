// The codec table: one decode and one encode function per ImageFormat.
// A codec joins by declaring its two functions here and naming them in its
// row; a null function means the format is not available (see image.h).
#include "image.h"

bool DecodeBmp(CDibImage *out, CByteStream *stream);
bool EncodeBmp(CDibImage *ghost, CByteStream *stream);
bool DecodeIco(CDibImage *out, CByteStream *stream);
bool EncodeIco(CDibImage *ghost, CByteStream *stream);

bool DecodeGif(CDibImage *out, CByteStream *stream);
bool EncodeGif(CDibImage *ghost, CByteStream *stream);

bool DecodePng(CDibImage *out, CByteStream *stream);
bool EncodePng(CDibImage *ghost, CByteStream *stream);

bool DecodeJpeg(CDibImage *out, CByteStream *stream);
bool EncodeJpeg(CDibImage *ghost, CByteStream *stream);

bool DecodeTga(CDibImage *out, CByteStream *stream);
bool EncodeTga(CDibImage *ghost, CByteStream *stream);

bool DecodePcx(CDibImage *out, CByteStream *stream);
bool EncodePcx(CDibImage *ghost, CByteStream *stream);

bool DecodeTif(CDibImage *out, CByteStream *stream);
bool EncodeTif(CDibImage *ghost, CByteStream *stream);

bool DecodeWmf(CDibImage *out, CByteStream *stream);
bool EncodeWmf(CDibImage *ghost, CByteStream *stream);   // refuses with its own message

static ImageCodec gImageCodecs[FORMAT_COUNT] = {
    {0, 0},   // unknown: tries all formats, never encodes
    {DecodeBmp, EncodeBmp},   // BMP
    {DecodeGif, EncodeGif},   // GIF
    {DecodeJpeg, EncodeJpeg},   // JPG
    {DecodePng, EncodePng},   // PNG
    {DecodeIco, EncodeIco},   // ICO
    {DecodeTif, EncodeTif},   // TIF
    {DecodeTga, EncodeTga},   // TGA
    {DecodePcx, EncodePcx},   // PCX
    {0, 0},   // no format
    {DecodeWmf, EncodeWmf},   // WMF and EMF (decode only)
};

const ImageCodec *GetImageCodec(int format)
{
    if (format <= FORMAT_UNKNOWN || format >= FORMAT_COUNT || format == FORMAT_NONE)
        return 0;
    return &gImageCodecs[format];
}

ImageCodec SetImageCodec(int format, ImageCodec codec)
{
    ImageCodec previous = {0, 0};
    if (format <= FORMAT_UNKNOWN || format >= FORMAT_COUNT || format == FORMAT_NONE)
        return previous;
    previous = gImageCodecs[format];
    gImageCodecs[format] = codec;
    return previous;
}
