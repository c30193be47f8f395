// Shared by the screen-saver tests: installation records, BMP files, flags.
#pragma once

#include <string>

#include "screensaver/saver.h"
#include "testutil.h"

// Writes the record of programName as exactly byteCount bytes, pointing to
// the custom folder; false when the registry refused.
inline bool PutSaverRecord(const char *programName, const std::string &folder, int byteCount,
                           int individual = 0)
{
    SetupInfoRecord record;
    BuildSetupInfo(&record, programName, "1.0", 1, 1, individual, "C:\\P", folder.c_str(), 0, 0,
                   0);
    record.recordVersion = 1;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, 0, 0, KEY_SET_VALUE, 0, &key,
                        0) != ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExA(key, programName, 0, REG_BINARY, (const BYTE *)&record,
                             (DWORD)byteCount) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

inline void RemoveSaverRecord(const char *programName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, KEY_SET_VALUE, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueA(key, programName);
        RegCloseKey(key);
    }
}

struct Rgb {
    unsigned char r, g, b;
};

// A 24-bit bottom-up BMP file whose four quadrants have the given colours
// (as the picture is seen: top-left, top-right, bottom-left, bottom-right).
inline std::string QuadrantBmp(int width, int height, Rgb topLeft, Rgb topRight,
                               Rgb bottomLeft, Rgb bottomRight)
{
    int stride = (width * 3 + 3) / 4 * 4;
    std::string bytes(54 + stride * height, '\0');
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; i++)
            bytes[at + i] = (char)(v >> (8 * i));
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, (uint32_t)bytes.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, (uint32_t)width);
    put32(22, (uint32_t)height);
    bytes[26] = 1;
    bytes[28] = 24;
    put32(34, (uint32_t)(stride * height));
    for (int row = 0; row < height; row++) {
        bool top = row >= height / 2;   // rows are stored bottom first
        for (int x = 0; x < width; x++) {
            bool left = x < width / 2;
            Rgb c = top ? (left ? topLeft : topRight) : (left ? bottomLeft : bottomRight);
            char *p = &bytes[54 + row * stride + x * 3];
            p[0] = (char)c.b;
            p[1] = (char)c.g;
            p[2] = (char)c.r;
        }
    }
    return bytes;
}

// The flag's value, or -1 when the file is missing or not 4 bytes long.
inline int ReadSaverFlag(const std::string &folder)
{
    std::string bytes = ReadWhole(folder + "\\ScreenSaverActive.rgc");
    if (bytes.size() != 4)
        return -1;
    int32_t value;
    memcpy(&value, bytes.data(), 4);
    return value;
}
