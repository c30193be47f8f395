// Configuration store: the key=value text and its encrypted archive form.
#include "framework/configstore.h"

#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "framework/application.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "framework/zip.h"

const char kConfigPassword[] = "TorWexLM52k38v";

static const char kLineEnd[3] = {0, '\r', '\n'};

CConfigStore::CConfigStore(int mode, const char *stripName)
    : version(mode), writeMode(mode != 0), searchOffset(0),
      stripLength(stripName ? (int)strlen(stripName) : 0), prefixLength(0), value(""),
      keyIndex(), bytesExamined(0)
{
    scratch[0] = key[0] = 0;
    text.SetCapacity(1024, -1);
}

CConfigStore::~CConfigStore()
{
    DropIndex();
    text.RemoveAll();
}

void CConfigStore::SetKeyPrefix(const char *format, ...)
{
    key[0] = 0;
    prefixLength = 0;
    if (!format || !*format)
        return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(key, sizeof key, format, args);
    va_end(args);
    prefixLength = n < 0 ? 0 : (n >= (int)sizeof key ? (int)sizeof key - 1 : n);
    key[prefixLength] = 0;
}

// "opt[xi].City[xj].city" with strip name "opt" and indices 0, 3 gives
// "[0].City[3].city". The cut is by length, whatever the characters are:
// stored files depend on it.
void CConfigStore::FormatKey(const char *keyTemplate, int i, int j, int k)
{
    const char *t = keyTemplate ? keyTemplate : "";
    if (*t == '&')
        t++;
    for (int n = 0; n < stripLength && *t; n++)
        t++;
    char format[2 * sizeof key];
    int out = 0;
    while (*t && out < (int)sizeof format - 4) {
        if (*t == '[' && isalpha((unsigned char)t[1])) {
            format[out++] = '[';
            format[out++] = '%';
            format[out++] = 'd';
            t++;
            while (*t && *t != ']')
                t++;
            continue;
        }
        if (*t == '%')
            format[out++] = '%';   // a literal percent sign stays literal
        format[out++] = *t++;
    }
    format[out] = 0;
    snprintf(key + prefixLength, sizeof key - prefixLength, format, i, j, k);
}

void CConfigStore::AppendEntry(const char *valueText)
{
    DropIndex();
    text.AppendBytes(key, (int)strlen(key));
    text.AppendBytes("=", 1);
    text.AppendBytes(valueText, (int)strlen(valueText));
    text.AppendBytes(kLineEnd, 3);
}

// ---------------------------------------------------------------- key index

// The key buffer holds 260 characters with its terminator.
static const int kLongestKey = (int)sizeof(((CConfigStore *)0)->key) - 1;
static const uint32_t kHashSeed = 0x811C9DC5u;
static const uint32_t kHashStep = 0x01000193u;

// Spreads the bits, so keys alike but for a digit fall into different buckets.
static uint32_t FinishHash(uint32_t h)
{
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}

// Hashed from the last byte to the first, as the index scan meets them.
static uint32_t HashKey(const char *key, int length)
{
    uint32_t h = kHashSeed;
    while (length-- > 0)
        h = (unsigned char)key[length] + kHashStep * h;
    return FinishHash(h);
}

// One pass from the end of the text: the bytes from a line start up to the
// first "=" after it are hashed on the way, so each byte is read once. Only
// counts without a bucket table; fills the slots and end offsets with one.
static void ScanText(ConfigKeyIndex *x, const char *data, int length, int *slotCount,
                     int *endCount)
{
    int slots = 0, ends = 0;
    int equals = -1;   // the first "=" at or after q
    uint32_t run = kHashSeed;
    for (int q = length - 1; q >= 0; q--) {
        unsigned char c = (unsigned char)data[q];
        if (c == '=') {
            equals = q;
            run = kHashSeed;
        } else {
            run = c + kHashStep * run;
        }
        if (c == 0 && q + 2 < length && data[q + 1] == '\r' && data[q + 2] == '\n') {
            if (x->heads)
                x->ends[x->endCount - 1 - ends] = q;
            ends++;
        }
        // A longer stretch before the "=" is no key: the key buffer cannot hold it.
        if ((q == 0 || data[q - 1] == '\n') && equals >= 0 && equals - q <= kLongestKey) {
            if (x->heads) {
                ConfigKeySlot *slot = &x->slots[slots];
                slot->position = q;
                slot->hash = FinishHash(run);
                // Scanning backwards and pushing in front keeps each chain in text order.
                slot->next = x->heads[slot->hash & x->bucketMask];
                x->heads[slot->hash & x->bucketMask] = slots;
            }
            slots++;
        }
    }
    *slotCount = slots;
    *endCount = ends;
}

static void FreeKeyIndex(ConfigKeyIndex *x)
{
    free(x->slots);
    free(x->heads);
    free(x->ends);
    memset(x, 0, sizeof *x);
}

// False when memory runs out.
static bool BuildKeyIndex(ConfigKeyIndex *x, const char *data, int length, int64_t *examined)
{
    FreeKeyIndex(x);
    if (length > 0) {
        int slots, ends;
        ScanText(x, data, length, &slots, &ends);
        uint32_t buckets = 1;
        while ((int)buckets < slots / 2)
            buckets <<= 1;
        x->slots = (ConfigKeySlot *)malloc((size_t)(slots ? slots : 1) * sizeof(ConfigKeySlot));
        x->heads = (int *)malloc((size_t)buckets * sizeof(int));
        x->ends = (int *)malloc((size_t)(ends ? ends : 1) * sizeof(int));
        if (!x->slots || !x->heads || !x->ends) {
            FreeKeyIndex(x);
            return false;
        }
        memset(x->heads, 0xFF, (size_t)buckets * sizeof(int));
        x->bucketMask = buckets - 1;
        x->endCount = ends;
        ScanText(x, data, length, &x->slotCount, &x->endCount);
        *examined += 2 * (int64_t)length;
    }
    x->text = data;
    x->length = length;
    x->built = true;
    return true;
}

void CConfigStore::DropIndex()
{
    FreeKeyIndex(&keyIndex);
}

// The rule itself, byte by byte: only when memory for the index runs out,
// so that a key in the text is never reported absent. Slow, but rare.
static int ScanForKey(const char *data, int count, const char *key, int keyLength, int start,
                      int64_t *examined)
{
    for (int pass = 0; pass < 2; pass++) {
        for (int p = pass ? 0 : start; p + keyLength < count; p++) {
            ++*examined;
            if ((p == 0 || data[p - 1] == '\n') && data[p + keyLength] == '=' &&
                memcmp(data + p, key, (size_t)keyLength) == 0)
                return p;
        }
        if (start == 0)
            break;
    }
    return -1;
}

// The entry start where an in-order read finds its key: the text's start
// for a fresh pass, right after the terminator of the entry found last;
// -1 for any other offset. No line start lies between the offset and it.
static int NextEntryStart(const char *data, int length, int offset)
{
    if (offset == 0)
        return 0;
    if (offset > 0 && offset + 2 < length && data[offset] == 0 && data[offset + 1] == '\r' &&
        data[offset + 2] == '\n')
        return offset + 3;
    return -1;
}

// The first match at or after the search offset, else the first from the
// start: a match is a line start where the key's bytes stand with "=" after
// them. Its value runs to the first 00 0D 0A after the "=". Keys read in
// the order of writing are found at the next entry without the index, and
// their terminators by a scan that only moves forward; anything else goes
// through the index (or, when there is no memory for one, a plain scan).
int CConfigStore::FindKey()
{
    int keyLength = (int)strlen(key);
    int start = searchOffset < 0 ? 0 : searchOffset;
    int p = NextEntryStart(text.data, text.count, searchOffset);
    if (p >= 0 && p + keyLength < text.count) {
        bytesExamined += keyLength + 1;
        if (text.data[p + keyLength] != '=' || memcmp(text.data + p, key, (size_t)keyLength) != 0)
            p = -1;
    } else {
        p = -1;
    }
    bool indexed = keyIndex.built && keyIndex.text == text.data && keyIndex.length == text.count;
    if (p < 0 && !indexed && !BuildKeyIndex(&keyIndex, text.data, text.count, &bytesExamined)) {
        p = ScanForKey(text.data, text.count, key, keyLength, start, &bytesExamined);
        if (p < 0)
            return -1;
    } else if (p < 0) {
        indexed = true;
        // A key holding "=" (none does) is found by the part before its first "=".
        const char *equals = (const char *)memchr(key, '=', (size_t)keyLength);
        uint32_t hash = HashKey(key, equals ? (int)(equals - key) : keyLength);
        int first = -1;
        for (int s = keyIndex.heads ? keyIndex.heads[hash & keyIndex.bucketMask] : -1; s >= 0;
             s = keyIndex.slots[s].next) {
            const ConfigKeySlot *slot = &keyIndex.slots[s];
            if (slot->hash != hash || slot->position + keyLength >= text.count)
                continue;
            bytesExamined += keyLength + 1;
            if (text.data[slot->position + keyLength] != '=' ||
                memcmp(text.data + slot->position, key, (size_t)keyLength) != 0)
                continue;
            if (first < 0)
                first = slot->position;
            if (slot->position >= start) {
                p = slot->position;
                break;
            }
        }
        if (p < 0)
            p = first;
        if (p < 0)
            return -1;
    }
    int valueStart = p + keyLength + 1, end = -1;
    if (indexed) {
        int low = 0, high = keyIndex.endCount;   // the first end at or after the value
        while (low < high) {
            int middle = low + (high - low) / 2;
            if (keyIndex.ends[middle] < valueStart)
                low = middle + 1;
            else
                high = middle;
        }
        end = low < keyIndex.endCount ? keyIndex.ends[low] : -1;
    } else {
        for (int q = valueStart; q + 2 < text.count && end < 0; q++) {
            bytesExamined++;
            if (text.data[q] == 0 && text.data[q + 1] == '\r' && text.data[q + 2] == '\n')
                end = q;
        }
        // That scan ran to the end; with the index, no later lookup scans again.
        if (end < 0)
            BuildKeyIndex(&keyIndex, text.data, text.count, &bytesExamined);
    }
    if (end < 0) {
        searchOffset = -1;
        return -1;
    }
    searchOffset = end;
    value = text.data + valueStart;
    return end;
}

// Formats the key; in read mode also finds it. 0 on success, -1 absent.
int CConfigStore::Exchange(const char *keyTemplate, int i, int j, int k)
{
    FormatKey(keyTemplate, i, j, k);
    if (writeMode)
        return 0;
    return FindKey() < 0 ? CONFIG_KEY_ABSENT : CONFIG_OK;
}

static long ParseLong(const char *text)
{
    return strtol(text, 0, 10);
}

int CConfigStore::ExchangeChar(void *variable, int size, const char *keyTemplate, int i, int j,
                               int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode) {
        snprintf(scratch, sizeof scratch, "%d", (int)*(signed char *)variable);
        AppendEntry(scratch);
    } else {
        *(signed char *)variable = (signed char)ParseLong(value);
    }
    return CONFIG_OK;
}


int CConfigStore::ExchangeHexByte(void *variable, int size, const char *keyTemplate, int i,
                                  int j, int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode) {
        snprintf(scratch, sizeof scratch, "%02X", *(uint8_t *)variable);
        AppendEntry(scratch);
    } else {
        *(uint8_t *)variable = HexPairToByte(value);
    }
    return CONFIG_OK;
}

int CConfigStore::ExchangeInt(void *variable, int size, const char *keyTemplate, int i, int j,
                              int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode) {
        snprintf(scratch, sizeof scratch, "%d", *(int32_t *)variable);
        AppendEntry(scratch);
    } else {
        *(int32_t *)variable = (int32_t)ParseLong(value);
    }
    return CONFIG_OK;
}

int CConfigStore::ExchangeHex(void *variable, int size, const char *keyTemplate, int i, int j,
                              int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode) {
        snprintf(scratch, sizeof scratch, "0x%08X", *(uint32_t *)variable);
        AppendEntry(scratch);
        return CONFIG_OK;
    }
    unsigned int parsed;
    if (sscanf(value, "0x%08X", &parsed) != 1)
        return CONFIG_UNPARSABLE;
    *(uint32_t *)variable = parsed;
    return CONFIG_OK;
}

void FormatConfigReal(char *out, int size, double value, int digits)
{
    snprintf(out, (size_t)size, "%.*g", digits, value);
    // Integral values read as "2.0", never a bare "2" or "2.".
    if (!strpbrk(out, ".eEnN"))
        strncat(out, ".0", (size_t)size - strlen(out) - 1);
}

int CConfigStore::ExchangeFloat(void *variable, int size, const char *keyTemplate, int i, int j,
                                int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode) {
        FormatConfigReal(scratch, sizeof scratch, *(float *)variable, 8);
        AppendEntry(scratch);
    } else {
        *(float *)variable = (float)strtod(value, 0);
    }
    return CONFIG_OK;
}

int CConfigStore::ExchangeDouble(void *variable, int size, const char *keyTemplate, int i,
                                 int j, int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode) {
        FormatConfigReal(scratch, sizeof scratch, *(double *)variable, 15);
        AppendEntry(scratch);
    } else {
        *(double *)variable = strtod(value, 0);
    }
    return CONFIG_OK;
}

int CConfigStore::ExchangeInt64(void *variable, int size, const char *keyTemplate, int i, int j,
                                int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode) {
        snprintf(scratch, sizeof scratch, "%lld", (long long)*(int64_t *)variable);
        AppendEntry(scratch);
        return CONFIG_OK;
    }
    long long parsed;
    if (sscanf(value, "%lld", &parsed) != 1)
        return CONFIG_UNPARSABLE;
    *(int64_t *)variable = parsed;
    return CONFIG_OK;
}

int CConfigStore::ExchangeBool(void *variable, int size, const char *keyTemplate, int i, int j,
                               int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode)
        AppendEntry(*(uint8_t *)variable ? "1" : "0");
    else
        *(uint8_t *)variable = value[0] == '1';
    return CONFIG_OK;
}

int CConfigStore::ExchangeString(void *variable, int size, const char *keyTemplate, int i,
                                 int j, int k)
{
    if (Exchange(keyTemplate, i, j, k) != 0)
        return CONFIG_KEY_ABSENT;
    if (writeMode)
        AppendEntry((const char *)variable);
    else
        CopyText((char *)variable, value, size);
    return CONFIG_OK;
}

static void FormatName(char *out, const char *format, va_list args)
{
    int n = vsnprintf(out, MAX_TEXT, format ? format : "", args);
    if (n < 0)
        out[0] = 0;
}

int CConfigStore::Load(const char *nameFormat, int index, int folderChoice, ...)
{
    char name[MAX_TEXT], path[MAX_TEXT];
    va_list args;
    va_start(args, folderChoice);
    FormatName(name, nameFormat, args);
    va_end(args);
    GetRecordFilePath(name, index, path, folderChoice);
    return LoadFile(path);
}

int CConfigStore::LoadFile(const char *path)
{
    DropIndex();
    text.RemoveAll();
    searchOffset = 0;
    ZipHandle *zip = CZipReader::Open(path, kConfigPassword);
    if (!zip)
        return CONFIG_LOAD_NO_ARCHIVE;
    ZipEntryInfo info;
    if (CZipReader::GetEntry(zip, 0, &info) != 0) {
        CZipReader::Close(zip);
        return CONFIG_LOAD_NO_ENTRY;
    }
    uint32_t size = info.uncompressedSize;
    // Stores are a few hundred KB at most; a claim past 256 MB is damage.
    char *block = size <= 0x10000000 ? (char *)malloc(size + 1) : 0;
    if (!block) {
        CZipReader::Close(zip);
        return CONFIG_LOAD_NO_MEMORY;
    }
    int result = size ? CZipReader::ExtractToMemory(zip, 0, block, size) : 0;
    CZipReader::Close(zip);
    if (result != 0) {
        free(block);
        return CONFIG_LOAD_EXTRACT;
    }
    block[size] = 0;
    version = atoi(info.name);
    text.data = block;
    text.count = text.capacity = (int)size;
    return (int)size;
}

int CConfigStore::Save(const char *nameFormat, int index, int folderChoice, ...)
{
    char name[MAX_TEXT], path[MAX_TEXT];
    va_list args;
    va_start(args, folderChoice);
    FormatName(name, nameFormat, args);
    va_end(args);
    GetRecordFilePath(name, index, path, folderChoice);
    return SaveFile(path);
}

int CConfigStore::SaveFile(const char *path)
{
    ZipHandle *zip = CZipWriter::CreateInMemory(0, (uint32_t)text.count + 256, kConfigPassword);
    if (!zip)
        return CONFIG_SAVE_NO_IMAGE;
    char entryName[16];
    snprintf(entryName, sizeof entryName, "%d", version);
    if (CZipWriter::AddMemory(zip, entryName, text.data, (uint32_t)text.count) != 0) {
        CZipWriter::Close(zip);
        return CONFIG_SAVE_NOT_ADDED;
    }
    void *image = 0;
    uint32_t length = 0;
    int result = CZipWriter::GetMemory(zip, &image, &length);
    // Written beside the target and moved over it, so a write that comes up
    // short (a full disk) never replaces a good store with a damaged one.
    if (result == 0 && WriteFileReplacing(path, image, (int)length) != (int)length)
        result = -1;
    DWORD error = GetLastError();
    CZipWriter::Close(zip);
    SetLastError(error);   // the caller may tell the user why
    return result == 0 ? (int)length : CONFIG_SAVE_NOT_WRITTEN;
}
