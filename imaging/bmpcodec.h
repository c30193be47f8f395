// BMP codec: Windows bitmaps with core, 40-byte and later info headers,
// 1/4/8/16/24/32 bits, RLE8 and RLE4, with a file header or as a bare DIB;
// written uncompressed with a file header.
#pragma once

#include "image.h"

class CByteStream;

class CDibImageBMP : public CDibImage {
public:
    CDibImageBMP();
    virtual ~CDibImageBMP() {}

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);
};
