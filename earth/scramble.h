// Cloud source pictures are stored scrambled: byte i of an n-byte file is
// XORed with the low byte of i * i * (n - i). The operation is its own
// inverse, so the one function both scrambles and restores.
#pragma once

#include <stdint.h>

void ScrambleBytes(uint8_t *data, uint32_t size);
