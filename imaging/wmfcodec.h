// Metafile reader: placeable WMF (22-byte placeable header before the
// 16-bit metafile) and enhanced metafiles (EMF), played with GDI into a
// screen-compatible bitmap and copied into the image. Saving is refused.
#pragma once

#include "image.h"

class CByteStream;

static const uint32_t WMF_PLACEABLE_KEY = 0x9AC6CDD7;

enum {
    WMF_PLACEABLE_SIZE = 22,       // placeable header
    WMF_HEADER_SIZE = 18,          // standard metafile header after it
    WMF_EMF_HEADER_SIZE = 108,     // EMF header as read from the stream
    WMF_MAX_SIDE = 4000            // larger pictures are scaled down to this
};

class CDibImageWMF : public CDibImage {
public:
    CDibImageWMF();
    virtual ~CDibImageWMF() {}

    using CDibImage::Encode;
    // A non-zero forced width or height replaces the natural one; the
    // dispatcher decodes at the natural size.
    bool Decode(CByteStream *stream, int forcedWidth = 0, int forcedHeight = 0);
    bool Encode(CByteStream *stream);
};
