// PNG codec over libpng: every byte passes through a CByteStream; decoded
// images are 1, 4, 8 or 24 bits.
#pragma once

#include "image.h"

class CByteStream;

class CDibImagePNG : public CDibImage {
public:
    CDibImagePNG();
    virtual ~CDibImagePNG() {}

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);
};
