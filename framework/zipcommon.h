// Internals shared by the zip reader and writer: little-endian field access,
// record signatures and the traditional PKWARE stream cipher.
#pragma once

#include <stdint.h>
#include <zlib.h>

#include "framework/bytes.h"
#include "framework/zip.h"

enum {
    ZIP_LOCAL_SIGNATURE = 0x04034B50,
    ZIP_CENTRAL_SIGNATURE = 0x02014B50,
    ZIP_END_SIGNATURE = 0x06054B50,
    ZIP_DESCRIPTOR_SIGNATURE = 0x08074B50,
    ZIP_LOCAL_SIZE = 30,
    ZIP_CENTRAL_SIZE = 46,
    ZIP_END_SIZE = 22,
    ZIP_DESCRIPTOR_SIZE = 16,
    ZIP_CRYPT_HEADER_SIZE = 12,
    ZIP_PIECE_SIZE = 16384,
    ZIP_EXTRA_TIME_ID = 0x5455,   // "UT"
    ZIP_FLAG_ENCRYPTED = 1,
    ZIP_FLAG_DESCRIPTOR = 8,
};

// Seconds between 1601-01-01 and 1970-01-01, in FILETIME units.
#define ZIP_UNIX_EPOCH_FILETIME 116444736000000000LL

// Names compare with only the ASCII letters folded, whatever the code page.
static inline bool ZipEqualNoCase(const char *a, const char *b)
{
    for (;; a++, b++) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return false;
        if (!x)
            return true;
    }
}

// Every public call checks its handle first: null is a bad argument, a
// handle of the other kind is refused.
static inline int ZipCheckHandle(ZipHandle *handle, int kind, void **state)
{
    if (!handle)
        return ZIP_BAD_ARGUMENT;
    if (handle->kind != kind)
        return ZIP_WRONG_KIND;
    *state = handle->state;
    return ZIP_OK;
}

static inline uint32_t ZipGet16(const uint8_t *p) { return Le16(p); }
static inline uint32_t ZipGet32(const uint8_t *p) { return Le32(p); }

// The writers advance through a header field by field.
static inline uint8_t *ZipPut16(uint8_t *p, uint32_t value)
{
    Put16(p, value);
    return p + 2;
}

static inline uint8_t *ZipPut32(uint8_t *p, uint32_t value)
{
    Put32(p, value);
    return p + 4;
}

// Traditional encryption: three 32-bit keys advanced by every plain byte.
struct ZipCipher {
    uint32_t keys[3];
};

static inline uint32_t ZipCrcStep(uint32_t crc, uint8_t byte)
{
    const z_crc_t *table = get_crc_table();
    return (uint32_t)table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

static inline void ZipCipherUpdate(ZipCipher *cipher, uint8_t plain)
{
    uint32_t *k = cipher->keys;
    k[0] = ZipCrcStep(k[0], plain);
    k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
    k[2] = ZipCrcStep(k[2], (uint8_t)(k[1] >> 24));
}

static inline void ZipCipherInit(ZipCipher *cipher, const char *password)
{
    cipher->keys[0] = 0x12345678;
    cipher->keys[1] = 0x23456789;
    cipher->keys[2] = 0x34567890;
    for (const char *p = password ? password : ""; *p; p++)
        ZipCipherUpdate(cipher, (uint8_t)*p);
}

// Only the low 16 bits of key 2 matter: bits 8-15 of the product depend on no others.
static inline uint8_t ZipCipherMask(const ZipCipher *cipher)
{
    uint32_t t = (cipher->keys[2] | 2) & 0xFFFF;
    return (uint8_t)((t * (t ^ 1)) >> 8);
}

static inline void ZipDecrypt(ZipCipher *cipher, uint8_t *bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        bytes[i] ^= ZipCipherMask(cipher);
        ZipCipherUpdate(cipher, bytes[i]);
    }
}

static inline void ZipEncrypt(ZipCipher *cipher, uint8_t *bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; i++) {
        uint8_t plain = bytes[i];
        bytes[i] ^= ZipCipherMask(cipher);
        ZipCipherUpdate(cipher, plain);
    }
}
