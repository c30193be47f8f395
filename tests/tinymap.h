// A tiny map file for the tests that run the real render jobs: width x
// height BGR pixels of a fixed pattern (twelve months of them when flags has
// 0x10, the seasonal bit) and the map trailer, so that a render finishes in
// milliseconds and still reads every channel.
#pragma once

#include <stdint.h>

#include <string>

#include "testutil.h"

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
