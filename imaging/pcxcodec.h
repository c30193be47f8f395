// PCX codec: run-length images of one to four planes, with the 256-colour
// palette at the end of 8-bit files.
#pragma once

#include "image.h"

class CByteStream;

class CDibImagePCX : public CDibImage {
public:
    CDibImagePCX();
    virtual ~CDibImagePCX() {}

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);
};
