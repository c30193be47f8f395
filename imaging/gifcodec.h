// GIF codec: reads GIF87a and GIF89a (multi-image files are composed on the
// logical screen up to the requested frame), writes GIF89a with one of three
// code streams chosen by the GIF codec option word:
//   0 LZW, 1 uncompressed codes, 2 run-length codes.
// True-colour images are written as a mosaic of 17 x 15 palette tiles.
#pragma once

#include "image.h"

class CByteStream;

enum { GIF_LZW = 0, GIF_UNCOMPRESSED = 1, GIF_RLE = 2 };

struct GifControlBlock {
    uint8_t flags;          // bit 0 transparent, bits 2..4 disposal method
    uint16_t delay;         // hundredths of a second
    uint8_t transIndex;
};

// The codec object. Its tables are large, so make it with new.
class CDibImageGIF : public CDibImage {
public:
    GifControlBlock control;
    char comment[256];      // NUL-terminated, at most 255 characters
    int32_t loopCount;      // from or for the looping extension

    CDibImageGIF();
    virtual ~CDibImageGIF() {}

    using CDibImage::Decode;
    using CDibImage::Encode;
    bool Decode(CByteStream *stream);
    bool Encode(CByteStream *stream);
    // Writes `count` palette frames as one animation; the header comes from
    // frame 0, the loop count and comment from this object.
    bool EncodeFrames(CByteStream *stream, CDibImage **frameList, int count, bool localTables,
                      bool perFrameDisposal);

    // Buffered input of image data (public for the decoder's helpers).
    enum { kInputSize = 16384, kInputBlock = 16383 };
    unsigned char input[kInputSize];
    int32_t inputPos, inputFill;
    CByteStream *inStream;

    // LZW decoder tables and bit state.
    uint8_t stack[4096], suffix[4096];
    uint16_t prefix[4096];
    uint8_t subBlock[257];
    int bitsLeft, blockLeft, blockPos, bitBuffer, codeSize, topSlot, clearCode, endCode,
        firstFree, nextSlot, badCodes;

    // Interlace state and the non-interlaced row cursor.
    bool interlaced, overflowed;
    int imageHeight, rowStep, yPos, pass;

    // LZW encoder tables, output block and bit state.
    int32_t hashTable[5003];
    uint16_t codeTable[5003];
    unsigned char outBlock[256];
    int outCount, outBlockLimit;
    uint32_t accumulator;
    int accumulatedBits, outBits, initBits, maxCode, freeCode, encClear, encEnd;
    bool clearFlag;
    CByteStream *outStream;
    bool writeFailed;

    // Encoder cursor: pixels by rows from the top of the picture.
    int curX, curY;
    long remaining;
};
