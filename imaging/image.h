// CDibImage: the one in-memory picture type. A device-independent bitmap in
// a single heap block (40-byte BITMAPINFOHEADER, palette of 4-byte entries
// blue, green, red, reserved, then the pixel rows bottom row first) plus an
// information block with format, last error, progress, escape and codec data.
//
// Pixel coordinates are bitmap coordinates: x = 0 is the left column, y = 0
// the first row in memory (the bottom row of the picture). The renderer and
// the screen saver read the block directly, so its layout must not change.
//
// The codec family
// ----------------
// Each file format has a codec class derived from CDibImage, declared in its
// codec's header and defined in its codec's file: CDibImageBMP, CDibImageGIF,
// CDibImageJPG, CDibImagePNG, CDibImageICO, CDibImageTIF, CDibImageTGA,
// CDibImagePCX and CDibImageWMF. A codec object lives only for one decode or
// encode inside the dispatcher (imageload.cpp), which constructs the class of
// the format and calls its two operations directly:
//
//   bool Decode(CByteStream *stream)
//       Called on a fresh codec object to which the dispatcher has copied the
//       caller's ImageInfo (escape, JPEG scale, codec options, frame index,
//       get-all-frames). Reads from the stream's current position. On success
//       the object holds the whole result (Create, header, ImageInfo, AddFrame
//       for extra frames) and the dispatcher moves it into the caller's image.
//       On failure it leaves a message in its last-error text (SetError); GIF
//       and ICO also leave the frame count they found. It honours the escape:
//       IsCancelled() aborts; -1 means stop once width, height and format are
//       set in head / info (no DIB needed) and answer true. The dispatcher
//       rewinds the stream after a failure. WMF decodes at its natural size.
//
//   bool Encode(CByteStream *stream)
//       Called on a fresh codec object made a ghost of the image to save (it
//       owns nothing). Every encoder starts with CanEncodeTo ("null file
//       handler", "null image!!!") except WMF, which refuses every image with
//       its own message. On failure it leaves a message in its last-error text.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <stdio.h>

class CByteStream;
class CDibImage;

enum ImageFormat {
    FORMAT_UNKNOWN = 0,
    FORMAT_BMP = 1,
    FORMAT_GIF = 2,
    FORMAT_JPG = 3,
    FORMAT_PNG = 4,
    FORMAT_ICO = 5,
    FORMAT_TIF = 6,
    FORMAT_TGA = 7,
    FORMAT_PCX = 8,
    FORMAT_NONE = 9,     // no codec; never decoded or encoded
    FORMAT_WMF = 10,     // WMF and EMF, decode only
    FORMAT_COUNT = 11
};

#define DIBIMAGE_MAX_MEMORY 1073741824.0   // 2^30 bytes of pixels at most

// Interpolation methods for InterpolatePixel / InterpolateArea.
enum {
    IM_NEAREST = 1, IM_BILINEAR = 2, IM_BSPLINE = 3, IM_BICUBIC = 4, IM_BICUBIC2 = 5,
    IM_LANCZOS = 6, IM_BOX = 7, IM_HERMITE = 8, IM_HAMMING = 9, IM_SINC = 10,
    IM_BLACKMAN = 11, IM_BESSEL = 12, IM_GAUSSIAN = 13, IM_QUADRATIC = 14,
    IM_MITCHELL = 15, IM_CATROM = 16, IM_HANNING = 17, IM_POWER = 18
};

// What a position outside the image yields.
enum {
    OM_COLOR = 1, OM_BACKGROUND = 2, OM_TRANSPARENT = 3, OM_WRAP = 4, OM_REPEAT = 5, OM_MIRROR = 6
};

struct ImageBox {
    int32_t left, top, right, bottom;
};

// Information block. Field order is fixed; codecs read and write it directly.
struct ImageInfo {
    int32_t rowStride;              // bytes per DIB row
    unsigned char *pixels;          // start of the pixel rows inside the DIB block
    CDibImage *ghostSource;         // non-null: buffers belong to that image
    CDibImage *parent;
    int32_t format;                 // ImageFormat of the last decode, or the one to use
    char lastError[256];
    int32_t progress;               // percent done of a long operation
    int32_t escape;                 // non-zero stops loops; -1: decoders stop at the size
    int32_t backgroundIndex;        // transparent palette index, -1 = none
    RGBQUAD backgroundColor;
    float jpegQuality;
    uint8_t jpegScale;
    int32_t frameIndex;
    int32_t frameCount;             // frames found by the last decode
    int32_t frameDelay;
    int32_t xDpi, yDpi;
    ImageBox selectionBox;
    uint8_t alphaMax;
    uint8_t alphaPaletteEnabled;
    uint8_t enabled;
    int32_t xOffset, yOffset;
    uint32_t codecOptions[10];      // one option word per codec slot
    RGBQUAD lastColor;              // nearest-colour cache
    uint8_t lastIndex;
    uint8_t lastValid;
    int32_t layerCount;
    uint32_t flags;
    uint8_t displayMethod;
    uint8_t getAllFrames;
    uint8_t littleEndianHost;       // byte-order helpers swap only when zero
    unsigned char exif[464];        // the EXIF reader overlays its own record here
};

// Codec slot of a format (0 = none); the slot indexes info.codecOptions.
int ImageCodecSlot(int format);

// Kernel k(t) of an interpolation method (3..18); 0 for other methods.
float ImageKernel(int method, float t);

class CDibImage {
public:
    unsigned char *dib;             // the one block, or null
    BITMAPINFOHEADER head;          // copy of the block's header; accessors read this
    ImageInfo info;
    unsigned char *selection;       // width x height bytes, or null
    unsigned char *alpha;           // width x height bytes, or null
    CDibImage **layers;             // info.layerCount owned images
    CDibImage **frames;             // frameSlots owned images
    int32_t frameSlots;             // entries in `frames` (info.frameCount counts the file's)

    explicit CDibImage(int format = FORMAT_UNKNOWN);
    CDibImage(int width, int height, int bpp, int format);
    CDibImage(const CDibImage &src, bool copyPixels = true, bool copySelection = true,
              bool copyAlpha = true);
    virtual ~CDibImage();

    // Life cycle
    unsigned char *Create(int width, int height, int bpp, int format = FORMAT_UNKNOWN);
    bool Destroy();
    bool DestroyFrames();
    void Copy(const CDibImage &src, bool copyPixels = true, bool copySelection = true,
              bool copyAlpha = true);
    bool Transfer(CDibImage &src, bool transferFrames = true);
    void Ghost(const CDibImage &src);
    void ShareBuffers(const CDibImage &src);
    void CopyInfo(const CDibImage &src);
    void Clear(int value = 0);
    bool AddFrame(CDibImage *frame);          // takes ownership; false when out of memory
    void SetError(const char *text);
    // An encode needs a stream and pixels; otherwise the error is set.
    bool CanEncodeTo(CByteStream *stream);
    // The caller asked a long operation to stop: any escape but 0 and -1
    // (-1 only asks decoders for the size).
    bool IsCancelled() const { return info.escape != 0 && info.escape != -1; }

    // Accessors
    int GetWidth() const { return head.biWidth; }
    int GetHeight() const { return head.biHeight; }
    int GetBpp() const { return head.biBitCount; }
    int GetRowStride() const { return info.rowStride; }
    int GetNumColors() const { return (int)head.biClrUsed; }
    int GetClrImportant() const { return (int)head.biClrImportant; }
    void SetClrImportant(int n);
    int GetPaletteSize() const { return 4 * (int)head.biClrUsed; }
    int GetSize() const { return 40 + GetPaletteSize() + (int)head.biSizeImage; }
    unsigned char *GetDIB() const { return dib; }
    unsigned char *GetBits(int row = 0) const;
    bool IsValid() const { return dib != 0; }
    bool IsInside(int x, int y) const;
    bool IsIndexed() const { return head.biClrUsed != 0; }
    bool IsGrayScale() const;
    bool IsTransparent() const { return info.backgroundIndex >= 0; }
    int GetTransIndex() const { return info.backgroundIndex; }
    void SetTransIndex(int index);
    RGBQUAD GetTransColor() const;
    void SetTransColor(RGBQUAD color);
    int GetType() const { return info.format; }
    bool SetType(int format);
    uint32_t GetCodecOption(int format = FORMAT_UNKNOWN) const;
    void SetCodecOption(uint32_t value, int format = FORMAT_UNKNOWN);
    int GetJpegQuality() const { return (int)(info.jpegQuality + 0.5f); }
    void SetJpegQuality(int quality) { info.jpegQuality = (float)(quality & 0xFF); }
    int GetJpegScale() const { return info.jpegScale; }
    int GetNumFrames() const { return info.frameCount; }
    int GetXDPI() const { return info.xDpi; }
    int GetYDPI() const { return info.yDpi; }
    void SetXDPI(int dpi);
    void SetYDPI(int dpi);
    void SetOffset(int x, int y) { info.xOffset = x; info.yOffset = y; }
    void SetDisplayMethod(int method) { info.displayMethod = (uint8_t)method; }
    int GetDisplayMethod() const { return info.displayMethod; }
    void SetGetAllFrames(bool all) { info.getAllFrames = all ? 1 : 0; }
    void SetEscape(int value) { info.escape = value; }
    const char *GetLastError() const { return info.lastError; }
    static void FreeEncodedBuffer(unsigned char *buffer);

    // Palette
    RGBQUAD *GetPalette() const;
    RGBQUAD GetPaletteColor(int index) const;
    bool GetPaletteColor(int index, uint8_t *r, uint8_t *g, uint8_t *b) const;
    void SetPaletteColor(int index, uint8_t r, uint8_t g, uint8_t b, uint8_t alphaByte = 0);
    void SetPaletteColor(int index, RGBQUAD color);
    void SetPalette(const RGBQUAD *entries, int n);
    void SetPalette(const uint8_t *rgbTriples, int n);
    void SetPalette(int n, const uint8_t *red, const uint8_t *green, const uint8_t *blue);
    void SetGrayPalette();
    void SwapIndex(int i, int j);
    int GetNearestIndex(RGBQUAD color);

    // Helpers for codecs
    uint32_t SwapLong(uint32_t v) const;
    uint16_t SwapShort(uint16_t v) const;
    void SwapHeader(BITMAPINFOHEADER *h) const;
    void RGBtoBGR(unsigned char *buffer, int length) const;
    static RGBQUAD RGBtoRGBQUAD(uint32_t rgb);
    static int CompareColors(const RGBQUAD *a, const RGBQUAD *b);
    // Expands rows of 16 or 32-bit pixels (src, srcBytes long, not overlapping
    // this image) into this 24-bit image. False when src is too short.
    bool Bitfield2RGB(const unsigned char *src, uint32_t srcBytes, uint32_t redMask,
                      uint32_t greenMask, uint32_t blueMask, int bpp);

    // Pixels (pixels.cpp)
    RGBQUAD GetPixelColor(int x, int y) const;
    uint8_t GetPixelGray(int x, int y) const;
    uint8_t GetPixelIndex(int x, int y) const;
    void SetPixelIndex(int x, int y, uint8_t index);
    void SetPixelColor(int x, int y, RGBQUAD color);
    void SetPixelColorRGB(int x, int y, uint32_t rgb);
    RGBQUAD BlindGetPixelColor(int x, int y) const;
    uint8_t BlindGetPixelIndex(int x, int y) const;
    void BlindSetPixelIndex(int x, int y, uint8_t index);
    void BlindSetPixelColor(int x, int y, RGBQUAD color);
    RGBQUAD GetPixelColorWithOverflow(int x, int y, int overflow, const RGBQUAD *replacement) const;
    RGBQUAD InterpolatePixel(float x, float y, int method, int overflow,
                             const RGBQUAD *replacement = 0) const;
    RGBQUAD InterpolateArea(float x, float y, float w, float h, int method, int overflow,
                            const RGBQUAD *replacement = 0) const;

    // Transforms (transform.cpp)
    bool Resample(int newWidth, int newHeight, int mode = 1, CDibImage *target = 0);
    bool Filter(const int *kernel, int size, int divisor, int offset);
    bool Flip();
    bool Mirror();
    bool RotateLeft(CDibImage *target = 0);
    bool RotateRight(CDibImage *target = 0);
    bool IncreaseBpp(int bits);
    bool Negative();
    // Paints into a rectangle of dc (draw.cpp); -1 sizes are the image's own.
    bool Draw(HDC dc, int x, int y, int w = -1, int h = -1, const RECT *clip = 0,
              bool smooth = false, bool flip = false);

    // Format dispatch (imageload.cpp)
    bool Decode(CByteStream *stream, int format);
    bool Decode(const unsigned char *buffer, int size, int format);
    bool Decode(FILE *file, int format);
    bool Load(const char *path, int format = FORMAT_UNKNOWN);
    bool LoadFromResource(HRSRC resource, int format, HMODULE module = 0);
    bool Encode(CByteStream *stream, int format);
    bool Encode(unsigned char **buffer, int32_t *size, int format);

private:
    void InitDefaults(int format);
    void StoreDpiInHeader();
    bool MakeLike(CDibImage &tmp, int width, int height, int bpp);
    bool RotateInto(CDibImage *target, bool left);
    CDibImage &operator=(const CDibImage &);
};

// The program's own image type. It may carry an attached data block, which
// it frees on destruction unless the block is marked borrowed.
class CImage : public CDibImage {
public:
    unsigned char *attached;
    int32_t attachedSize;
    uint8_t attachedBorrowed;

    CImage() : CDibImage(FORMAT_UNKNOWN), attached(0), attachedSize(0), attachedBorrowed(0) {}
    virtual ~CImage();
};
