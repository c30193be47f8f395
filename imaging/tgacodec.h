// TGA codec: colour-mapped, true-colour and grey images, plain or
// run-length; writes 8 or 24-bit files.
#pragma once

#include "image.h"

class CByteStream;

class CDibImageTGA : public CDibImage {
public:
    CDibImageTGA();
    virtual ~CDibImageTGA() {}

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);
};
