// The installation record: a binary registry value under HKEY_LOCAL_MACHINE
// "Software\Kestrova" named after the program, written by the setup engine.
// Its layout belongs to the setup engine; the readers here only copy bytes.
// Every reader counts a record whose first 16-bit field (the record
// version) is not 1 as absent.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define INSTALL_RECORD_KEY "Software\\Kestrova"

enum {
    INSTALL_RECORD_BYTES = 1328,       // the whole record
    INSTALL_RECORD_MAIN_BYTES = 1326,  // what the main program keeps and needs
    INSTALL_RECORD_SAVER_BYTES = 544,  // what the screen saver keeps and needs
};

// Where the fields lie, in bytes from the start. Numbers are little-endian;
// the record version is the 16-bit number at 0. Readers that only hold the
// bytes (the main program's copy) reach the fields by these.
enum {
    INSTALL_RECORD_NAME_CRC = 6,            // 32 bits: CRC-32 of the program name
    INSTALL_RECORD_VERSION_MAJOR = 10,      // 16 bits each
    INSTALL_RECORD_VERSION_MINOR = 12,
    INSTALL_RECORD_FOR_WHOM = 14,           // 1 all users
    INSTALL_RECORD_CUSTOM_LOCATION = 16,    // 1 configuration data in the custom folder
    INSTALL_RECORD_INDIVIDUAL = 18,         // 1 a folder per user name below it
    INSTALL_RECORD_INSTALL_PATH = 20,       // the texts, INSTALL_RECORD_TEXT_BYTES each
    INSTALL_RECORD_CUSTOM_PATH = 280,
    INSTALL_RECORD_BUY_URL = 540,
    INSTALL_RECORD_VERSION_URL = 800,       // the update check's address
    INSTALL_RECORD_DOWNLOAD_URL = 1060,
    INSTALL_RECORD_FINISH_CHOICES = 1320,   // four 16-bit finish-page choices
    INSTALL_RECORD_TEXT_BYTES = 260,
};

// Registry bytes need not be terminated: the last byte of every text field
// is forced to NUL so that readers never run past a field.
inline void TerminateInstallRecordTexts(unsigned char *bytes, int size)
{
    for (int end = INSTALL_RECORD_INSTALL_PATH + INSTALL_RECORD_TEXT_BYTES - 1;
         end < INSTALL_RECORD_FINISH_CHOICES && end < size; end += INSTALL_RECORD_TEXT_BYTES)
        bytes[end] = 0;
}

// The text field at offset (one of the INSTALL_RECORD_*_PATH or _URL) of a
// record's bytes.
inline const char *InstallRecordText(const void *record, int offset)
{
    return (const char *)record + offset;
}

// Zeroes out[size] and copies the first min(value size, size) bytes of the
// record of programName into it. Answers the value's size in bytes, or -1
// when the key or the value is missing or cannot be read. Header-only so that
// the screen saver can use it without the framework library. The texts are
// terminated.
inline int ReadInstallRecordValue(const char *programName, void *out, int size)
{
    memset(out, 0, (size_t)size);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, INSTALL_RECORD_KEY, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return -1;
    DWORD valueSize = 0;
    int result = -1;
    if (RegQueryValueExA(key, programName, 0, 0, 0, &valueSize) == ERROR_SUCCESS) {
        // One byte more than needed, so that malloc(0) is never asked for.
        unsigned char *bytes = (unsigned char *)calloc(1, (size_t)valueSize + 1);
        DWORD readSize = valueSize;
        if (bytes && RegQueryValueExA(key, programName, 0, 0, bytes, &readSize) == ERROR_SUCCESS &&
            readSize <= valueSize && readSize <= 0x7FFFFFFF) {
            memcpy(out, bytes, readSize < (DWORD)size ? readSize : (size_t)size);
            TerminateInstallRecordTexts((unsigned char *)out, size);
            result = (int)readSize;
        }
        free(bytes);
    }
    RegCloseKey(key);
    return result;
}

// True when a record of at least minimum bytes with version 1 was read.
inline bool ReadInstallRecordPrefix(const char *programName, void *out, int size, int minimum)
{
    int valueSize = ReadInstallRecordValue(programName, out, size);
    int16_t version;
    memcpy(&version, out, sizeof version);
    return valueSize >= minimum && version == 1;
}

// The main program's copy: the first 1326 bytes into out; false (out zeroed
// or partly filled) when there is no record or it holds fewer than 1326 bytes.
bool ReadMainInstallRecord(const char *productName, void *out);
