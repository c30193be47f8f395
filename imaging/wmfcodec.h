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

// Codec table entries; the decode plays at the natural size.
bool DecodeWmf(CDibImage *out, CByteStream *stream);
bool EncodeWmf(CDibImage *ghost, CByteStream *stream);

// Decode at a forced size: a non-zero width or height replaces the natural one.
bool DecodeWmfSized(CDibImage *out, CByteStream *stream, int forcedWidth, int forcedHeight);
