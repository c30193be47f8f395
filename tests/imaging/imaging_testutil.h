// Small helpers for the image tests.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include "../../imaging/image.h"
#include "../../imaging/stream.h"

inline RGBQUAD Bgr(int b, int g, int r)
{
    RGBQUAD c = {(BYTE)b, (BYTE)g, (BYTE)r, 0};
    return c;
}

inline bool SameColor(RGBQUAD a, RGBQUAD b)
{
    return a.rgbBlue == b.rgbBlue && a.rgbGreen == b.rgbGreen && a.rgbRed == b.rgbRed &&
           a.rgbReserved == b.rgbReserved;
}

#define EXPECT_COLOR(actual, b, g, r)                                                         \
    do {                                                                                      \
        RGBQUAD c_ = (actual);                                                                \
        EXPECT_EQ((int)c_.rgbBlue, (b));                                                      \
        EXPECT_EQ((int)c_.rgbGreen, (g));                                                     \
        EXPECT_EQ((int)c_.rgbRed, (r));                                                       \
        EXPECT_EQ((int)c_.rgbReserved, 0);                                                    \
    } while (0)

// A 24-bit image filled with one colour.
inline void FillRgb(CDibImage &im, RGBQUAD c)
{
    for (int y = 0; y < im.GetHeight(); y++)
        for (int x = 0; x < im.GetWidth(); x++)
            im.SetPixelColor(x, y, c);
}

// An image encoded in the format into a byte string ("" when encoding fails).
inline std::string EncodeToBytes(CDibImage &im, int format)
{
    unsigned char *buffer = 0;
    int32_t size = 0;
    if (!im.Encode(&buffer, &size, format))
        return "";
    std::string bytes((const char *)buffer, (size_t)size);
    CDibImage::FreeEncodedBuffer(buffer);
    return bytes;
}

inline bool DecodeBytes(CDibImage &im, const std::string &bytes, int format)
{
    return im.Decode((const unsigned char *)bytes.data(), (int)bytes.size(), format);
}

// Same size and every pixel the same colour, reserved byte included.
inline void ExpectSamePixels(const CDibImage &a, const CDibImage &b, const std::string &what)
{
    ASSERT_EQ(a.GetWidth(), b.GetWidth()) << what;
    ASSERT_EQ(a.GetHeight(), b.GetHeight()) << what;
    int mismatches = 0;
    for (int y = 0; y < a.GetHeight(); y++)
        for (int x = 0; x < a.GetWidth(); x++)
            if (!SameColor(a.GetPixelColor(x, y), b.GetPixelColor(x, y)))
                mismatches++;
    EXPECT_EQ(mismatches, 0) << what;
}
