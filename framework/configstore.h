// Configuration store: key=value lines, each ended by the bytes 00 0D 0A,
// kept on disk as the single deflated, encrypted entry of a small zip
// archive. One schema routine serves both directions: built in write mode
// the exchanges append entries, built in read mode they look keys up.
#pragma once

#include <stdint.h>

#include "framework/growarray.h"

enum ConfigStoreResult {
    CONFIG_OK = 0,
    CONFIG_KEY_ABSENT = -1,      // exchange, read mode: the variable keeps its value
    CONFIG_UNPARSABLE = 1,       // hex and 64-bit exchanges only
    CONFIG_LOAD_NO_ARCHIVE = -1,
    CONFIG_LOAD_NO_ENTRY = -2,
    CONFIG_LOAD_NO_MEMORY = -3,
    CONFIG_LOAD_EXTRACT = -4,
    CONFIG_SAVE_NO_IMAGE = -1,
    CONFIG_SAVE_NOT_ADDED = -2,
    CONFIG_SAVE_NOT_WRITTEN = -3,
};

extern const char kConfigPassword[];

class CConfigStore {
public:
    int version;           // names the zip entry; after a load, parsed from its name
    uint8_t writeMode;
    int searchOffset;      // where the next key search starts
    int stripLength;       // characters cut from the front of every key template
    int prefixLength;
    CGrowArray<char> text;
    const char *value;     // the value of the last key found (NUL-terminated in the text)
    char scratch[1024];
    char key[260];
    // Text bytes read while finding keys; tests count work with it.
    int64_t bytesExamined;

    CConfigStore(int mode, const char *stripName);
    ~CConfigStore();

    void SetKeyPrefix(const char *format, ...);
    int Load(const char *nameFormat, int index, int folderChoice, ...);
    int LoadFile(const char *path);
    int Save(const char *nameFormat, int index, int folderChoice, ...);
    int SaveFile(const char *path);

    int ExchangeChar(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                     int k = 0);
    int ExchangeHexByte(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                        int k = 0);
    int ExchangeInt(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                    int k = 0);
    int ExchangeHex(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                    int k = 0);
    int ExchangeFloat(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                      int k = 0);
    int ExchangeDouble(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                       int k = 0);
    int ExchangeInt64(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                      int k = 0);
    int ExchangeBool(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                     int k = 0);
    int ExchangeString(void *variable, int size, const char *keyTemplate, int i = 0, int j = 0,
                       int k = 0);

    void FormatKey(const char *keyTemplate, int i, int j, int k);
    int FindKey();
    void AppendEntry(const char *valueText);

private:
    int Exchange(const char *keyTemplate, int i, int j, int k);
};

// Formats a float or double with the given significant digits in the
// shorter of fixed and exponential form; an integral result gets ".0".
void FormatConfigReal(char *out, int size, double value, int digits);
