// TIFF codec over libtiff: reads one page (the frame index) of a TIFF file
// into the 1, 4, 8 or 24-bit model and writes single-page files. The TIF
// codec option word holds a TIFF compression scheme number: set from the
// file on decode, and used on encode when non-zero.
#pragma once

#include "image.h"

class CByteStream;
struct tiff;

// The codec object; the write handle is closed by the destructor.
class CDibImageTIF : public CDibImage {
public:
    struct tiff *writer;    // libtiff handle while writing, or null
    bool multiPage;
    int32_t pageCount;

    CDibImageTIF();
    virtual ~CDibImageTIF();

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);
};
