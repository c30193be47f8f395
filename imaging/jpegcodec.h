// JPEG codec over libjpeg, with stream, error and destination managers of
// its own so that all bytes pass through a CByteStream. A decode also reads
// the file's EXIF fields into the image's EXIF record.
#pragma once

#include "image.h"

class CByteStream;
class ExifReader;

class CDibImageJPG : public CDibImage {
public:
    ExifReader *exif;   // made by Decode, deleted with the codec
    // Settings behind the dithering (0x200) and smoothing (0x40) option
    // bits; nothing changes them: Floyd-Steinberg dithering, no smoothing.
    int ditherMode;     // a libjpeg J_DITHER_MODE
    int smoothingFactor;

    CDibImageJPG();
    virtual ~CDibImageJPG();

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);

private:
    CDibImageJPG(const CDibImageJPG &);
    CDibImageJPG &operator=(const CDibImageJPG &);
};
