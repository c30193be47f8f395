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
      bytesExamined(0)
{
    scratch[0] = key[0] = 0;
    text.SetCapacity(1024, -1);
}

CConfigStore::~CConfigStore()
{
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
    text.AppendBytes(key, (int)strlen(key));
    text.AppendBytes("=", 1);
    text.AppendBytes(valueText, (int)strlen(valueText));
    text.AppendBytes(kLineEnd, 3);
}

// A key counts only at the start of the text or right after a LF, and only
// when "=" follows it; the first pass starts after the previous find.
static int FindKeyFrom(const char *data, int count, const char *key, int keyLength, int start,
                       int64_t *examined)
{
    for (int p = start; p + keyLength < count; p++) {
        ++*examined;
        if (p > 0 && data[p - 1] != '\n')
            continue;
        *examined += keyLength + 1;
        if (data[p + keyLength] == '=' && memcmp(data + p, key, (size_t)keyLength) == 0)
            return p;
    }
    return -1;
}

int CConfigStore::FindKey()
{
    int keyLength = (int)strlen(key);
    int start = searchOffset < 0 ? 0 : searchOffset;
    if (start > text.count)
        start = text.count;
    int p = FindKeyFrom(text.data, text.count, key, keyLength, start, &bytesExamined);
    if (p < 0 && start > 0)
        p = FindKeyFrom(text.data, text.count, key, keyLength, 0, &bytesExamined);
    if (p < 0)
        return -1;
    int valueStart = p + keyLength + 1;
    for (int q = valueStart; q + 2 < text.count; q++) {
        bytesExamined++;
        if (text.data[q] == 0 && text.data[q + 1] == '\r' && text.data[q + 2] == '\n') {
            searchOffset = q;
            value = text.data + valueStart;
            return q;
        }
    }
    searchOffset = -1;
    return -1;
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
