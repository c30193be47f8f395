// ICO codec: Windows icon and cursor files. Standard entries are a DIB with
// a doubled height and a 1-bit AND mask; large or modern entries hold a PNG
// stream. Writes one image per file.
#pragma once

#include "image.h"

class CByteStream;

class CDibImageICO : public CDibImage {
public:
    // Where the next image's data goes while writing: after the header and
    // the directory entries (6 + 16 x image count) and the images before it.
    uint32_t nextOffset;

    CDibImageICO();
    virtual ~CDibImageICO() {}

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);
};
