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

// Where keys can stand in a store's text, built at most once per text (on
// the first lookup that does not find its key right after the last one), so
// that a lookup costs about the key's length, not the text's: every line start
// (the text's start or right after a LF) whose first "=" lies within the
// longest possible key, chained by a hash of the bytes before that "=", and
// the positions of every 00 0D 0A in ascending order.
struct ConfigKeySlot {
    int position;
    uint32_t hash;
    int next;              // the next slot of the same bucket, later in the text; -1 ends
};

struct ConfigKeyIndex {
    const char *text;      // the text it describes: any other pointer or length is stale
    int length;
    bool built;
    ConfigKeySlot *slots;
    int slotCount;
    int *heads;            // first slot of each bucket, -1 = none
    uint32_t bucketMask;
    int *ends;             // offsets of the 00 of every 00 0D 0A
    int endCount;
};

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
    ConfigKeyIndex keyIndex;
    // Text bytes read while finding keys, indexing included; tests count
    // work with it.
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
    // Call after changing the text by hand; the store's own loads and
    // appends do it themselves.
    void DropIndex();

private:
    int Exchange(const char *keyTemplate, int i, int j, int k);
};

// Formats a float or double with the given significant digits in the
// shorter of fixed and exponential form; an integral result gets ".0".
void FormatConfigReal(char *out, int size, double value, int digits);
