// The scrambling of stored cloud pictures: one self-inverse function, so
// the same call scrambles a download and restores it for decoding.
#include "earth/scramble.h"

void ScrambleBytes(uint8_t *data, uint32_t size)
{
    // Unsigned 32-bit arithmetic wraps, which keeps the low byte exact.
    for (uint32_t i = 0; i < size; i++)
        data[i] ^= (uint8_t)(i * i * (size - i));
}
