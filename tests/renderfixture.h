// What the tests that run the real render jobs share: a tiny map file, so
// that a render finishes in milliseconds and still reads every channel, a
// cloud picture in the program's stored form, and bounded waits for the
// jobs.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <functional>
#include <string>

#include "earth/renderjobs.h"
#include "earth/scramble.h"
#include "imaging/image.h"
#include "testutil.h"

// width x height BGR pixels of a fixed pattern (twelve months of them when
// flags has 0x10, the seasonal bit) and the map trailer.
inline void WriteTinyMap(const std::string &path, uint32_t w, uint32_t h, uint32_t flags = 0x11)
{
    int images = (flags & 0x10) ? 12 : 1;
    std::string bytes;
    for (uint32_t i = 0; i < w * h * images; i++) {
        bytes.push_back((char)(20 + i % 200));   // blue
        bytes.push_back((char)(80 + i % 100));   // green
        bytes.push_back((char)(40 + i % 150));   // red
    }
    const uint32_t trailer[3] = {flags, w, h};
    bytes.append((const char *)trailer, sizeof trailer);
    WriteWhole(path, bytes);
}

// A cloud picture as the program stores it: drawn (pixel gives the colour
// at x and the row from the top), encoded as JPEG by the image library and
// scrambled.
typedef RGBQUAD (*PixelFn)(int x, int top);

inline std::string ScrambledJpeg(int width, int height, PixelFn pixel, int quality = 100)
{
    CImage image;
    image.Create(width, height, 24, FORMAT_JPG);
    for (int top = 0; top < height; top++)
        for (int x = 0; x < width; x++)
            image.SetPixelColor(x, height - 1 - top, pixel(x, top));
    image.SetJpegQuality(quality);
    unsigned char *jpeg = 0;
    int32_t size = 0;
    EXPECT_TRUE(image.Encode(&jpeg, &size, FORMAT_JPG)) << image.GetLastError();
    std::string bytes((const char *)jpeg, size);
    CDibImage::FreeEncodedBuffer(jpeg);
    ScrambleBytes((uint8_t *)&bytes[0], (uint32_t)bytes.size());
    return bytes;
}

// Polls done every 10 ms for at most milliseconds; its last answer.
inline bool WaitFor(const std::function<bool()> &done, int milliseconds = 10000)
{
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (done())
            return true;
        Sleep(10);
    }
    return done();
}

inline bool RenderJobsIdle()
{
    for (int i = 0; i < RENDER_JOBS; i++)
        if (gRenderJobs.running[i])
            return false;
    return true;
}
