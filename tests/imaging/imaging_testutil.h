// Small helpers for the image tests.
#pragma once

#include <gtest/gtest.h>
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
