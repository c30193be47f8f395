// The codec table: one decode and one encode function per ImageFormat.
// A codec joins by declaring its two functions here and naming them in its
// row; a null function means the format is not available (see image.h).
#include "image.h"

static ImageCodec gImageCodecs[FORMAT_COUNT] = {
    {0, 0},   // unknown: tries all formats, never encodes
    {0, 0},   // BMP
    {0, 0},   // GIF
    {0, 0},   // JPG
    {0, 0},   // PNG
    {0, 0},   // ICO
    {0, 0},   // TIF
    {0, 0},   // TGA
    {0, 0},   // PCX
    {0, 0},   // no format
    {0, 0},   // WMF and EMF (decode only)
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
