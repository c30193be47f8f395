// CRC-32, text replacement and trimming, searching, hexadecimal pairs, the
// UTF-8 check, path helpers and flag bits.
#include "framework/utilities.h"

#include <string.h>
#include <windows.h>

// ---------------------------------------------------------------- CRC-32

static uint32_t gCrcTable[256];
static volatile LONG gCrcTableReady;

// Every caller builds the same values, so a race between two first callers
// only writes identical entries; the flag is raised once the table is whole.
void InitCrc32Table()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        gCrcTable[n] = c;
    }
    InterlockedExchange(&gCrcTableReady, 1);
}

uint32_t Crc32(const void *bytes, int length)
{
    if (!bytes)
        return 0;
    if (length == -1)
        length = (int)strlen((const char *)bytes);
    if (!gCrcTableReady)
        InitCrc32Table();   // callers may come before start-up has built it
    const uint8_t *p = (const uint8_t *)bytes;
    uint32_t c = 0xFFFFFFFFu;
    for (int i = 0; i < length; i++)
        c = gCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// ---------------------------------------------------------------- replacing

// Offset of the next occurrence of find at or after start, or -1. The
// character-wise search steps over double-byte characters of the ANSI code
// page so that it never matches inside one.
static int NextMatch(const char *text, int start, const char *find, int findLength,
                     bool byteWise)
{
    if (byteWise) {
        const char *hit = strstr(text + start, find);
        return hit ? (int)(hit - text) : -1;
    }
    for (int i = start; text[i];) {
        if (strncmp(text + i, find, (size_t)findLength) == 0)
            return i;
        i += (IsDBCSLeadByte((BYTE)text[i]) && text[i + 1]) ? 2 : 1;
    }
    return -1;
}

// The replacement must not point into the text.
static int ReplaceCore(char *text, int capacity, const char *find, const char *replacement,
                       bool byteWise, bool truncate)
{
    if (!text || !find || !replacement || !*find || capacity < 1)
        return -1;
    int length = (int)strnlen(text, (size_t)capacity);
    if (length >= capacity)
        return -1;   // not terminated inside its own buffer
    int findLength = (int)strlen(find);
    int replacementLength = (int)strlen(replacement);
    int count = 0;
    for (int at = NextMatch(text, 0, find, findLength, byteWise); at >= 0;
         at = NextMatch(text, at, find, findLength, byteWise)) {
        int room = capacity - 1 - (length - findLength);   // keeps the tail and the NUL
        int insert = replacementLength;
        if (insert > room) {
            if (!truncate)
                return -1;
            insert = room;
        }
        memmove(text + at + insert, text + at + findLength, (size_t)(length - at - findLength + 1));
        memcpy(text + at, replacement, (size_t)insert);
        length += insert - findLength;
        at += insert;
        count++;
    }
    return count;
}

int ReplaceAll(char *text, int capacity, const char *find, const char *replacement)
{
    return ReplaceCore(text, capacity, find, replacement, false, false);
}

int ReplaceAllTruncate(char *text, int capacity, const char *find, const char *replacement,
                       bool truncate)
{
    return ReplaceCore(text, capacity, find, replacement, true, truncate);
}

// ---------------------------------------------------------------- trimming

void TrimCharSet(char *text, const char *set)
{
    if (!text || !set)
        return;
    const char *start = text;
    while (*start && strchr(set, *start))
        start++;
    size_t n = strlen(start);
    while (n && strchr(set, start[n - 1]))
        n--;
    memmove(text, start, n);
    text[n] = 0;
}

void TrimWhitespace(char *text)
{
    TrimCharSet(text, " \t\r\n");
}

// ---------------------------------------------------------------- searching

// Case folding is by ASCII letters only, so results do not depend on the
// user's locale.
static char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
}

static bool EqualNoCase(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

const char *FindAfter(const char *text, const char *find)
{
    if (!text)
        return 0;
    const char *hit = find ? strstr(text, find) : 0;
    return hit ? hit + strlen(find) : text + strlen(text);
}

const char *FindTextNoCase(const char *text, const char *find)
{
    if (!text || !find)
        return 0;
    size_t n = strlen(find);
    for (const char *p = text;; p++) {
        if (strnlen(p, n) < n)
            return 0;
        if (EqualNoCase(p, find, n))
            return p;
    }
}

const char *EndsWithNoCase(const char *text, const char *end)
{
    if (!text || !end || !*text || !*end)
        return 0;
    size_t textLength = strlen(text), endLength = strlen(end);
    if (endLength > textLength)
        return 0;
    const char *tail = text + textLength - endLength;
    return EqualNoCase(tail, end, endLength) ? tail : 0;
}

// ---------------------------------------------------------------- hexadecimal

static int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;   // not a digit: counts as 0
}

uint8_t HexPairToByte(const char *two)
{
    if (!two || !two[0])
        return 0;   // never read past a terminator
    return (uint8_t)(HexDigitValue(two[0]) << 4 | HexDigitValue(two[1]));
}

void ByteToHexPair(uint8_t value, char *out)
{
    static const char digits[] = "0123456789ABCDEF";
    if (!out)
        return;
    out[0] = digits[value >> 4];
    out[1] = digits[value & 15];
}

// ---------------------------------------------------------------- UTF-8

// Well-formed sequences only: no overlong forms, no surrogates, nothing above
// U+10FFFF, no truncated sequence and no stray continuation byte.
bool IsUtf8(const char *text)
{
    if (!text)
        return true;
    const uint8_t *p = (const uint8_t *)text;
    while (*p) {
        uint8_t lead = *p++;
        if (lead < 0x80)
            continue;
        int extra;
        uint8_t low = 0x80, high = 0xBF;   // allowed range of the first continuation byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            if (lead == 0xE0)
                low = 0xA0;    // overlong below U+0800
            if (lead == 0xED)
                high = 0x9F;   // surrogates D800-DFFF
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            if (lead == 0xF0)
                low = 0x90;    // overlong below U+10000
            if (lead == 0xF4)
                high = 0x8F;   // above U+10FFFF
        } else {
            return false;      // continuation byte, C0, C1 or F5 and up
        }
        if (*p < low || *p > high)
            return false;      // a NUL here is a truncated sequence
        p++;
        while (--extra) {
            if (*p < 0x80 || *p > 0xBF)
                return false;
            p++;
        }
    }
    return true;
}

// ---------------------------------------------------------------- paths

// True when the last character (not the trail byte of a double-byte
// character) is a backslash.
static bool EndsInBackslash(const char *path, size_t length)
{
    if (!length)
        return false;
    const char *last = CharPrevA(path, path + length);
    return last == path + length - 1 && *last == '\\';
}

bool EndsWithBackslash(const char *path)
{
    return path && EndsInBackslash(path, strlen(path));
}

char *AppendBackslash(char *path)
{
    if (!path)
        return 0;
    size_t length = strnlen(path, MAX_PATH);
    if (length && length < MAX_PATH - 1 && !EndsInBackslash(path, length)) {
        path[length] = '\\';
        path[length + 1] = 0;
    }
    return path;
}

bool PathExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsExistingFile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

const char *PathFileName(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    return name;
}

char *StripTrailingBackslash(char *path)
{
    if (!path)
        return 0;
    size_t length = strlen(path);
    if (EndsInBackslash(path, length))
        path[length - 1] = 0;
    return path;
}

// ---------------------------------------------------------------- small helpers

void SetFlagBits(uint32_t *flags, uint32_t bits, bool set)
{
    if (!flags)
        return;
    if (set)
        *flags |= bits;
    else
        *flags &= ~bits;
}

void DoNothing()
{
}
