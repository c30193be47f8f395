// Helpers of the end-to-end program and install tests, which run the
// program on a desktop of its own: the desktop's registry values and screen
// saver, 24-bit BMP files, and starting a process on a named desktop.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <string>

#include "testutil.h"

inline std::string ReadDesktopValue(const char *name)
{
    char value[MAX_PATH] = "";
    DWORD size = sizeof value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, KEY_READ, &key) != 0)
        return "<no key>";
    if (RegQueryValueExA(key, name, 0, 0, (BYTE *)value, &size) != 0)
        strcpy(value, "<missing>");
    RegCloseKey(key);
    return value;
}

inline void WriteDesktopValue(const char *name, const char *value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, 0, 0, KEY_WRITE, 0, &key,
                        0) != 0)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)value, (DWORD)strlen(value) + 1);
    RegCloseKey(key);
}

inline std::string SystemSaver()
{
    char value[MAX_PATH] = "";
    GetPrivateProfileStringA("boot", "SCRNSAVE.EXE", "", value, MAX_PATH, "SYSTEM.INI");
    return value;
}

// A 24-bit BMP's pixels, bottom row first as stored.
struct Bmp {
    int width = 0, height = 0, stride = 0;
    std::string bytes;
    const uint8_t *Pixel(int x, int y) const   // y from the top
    {
        int offset = *(const int32_t *)(bytes.data() + 10);
        return (const uint8_t *)bytes.data() + offset + (height - 1 - y) * stride + x * 3;
    }
};

inline bool ReadBmp(const std::string &path, Bmp *bmp)
{
    bmp->bytes = ReadWhole(path);
    if (bmp->bytes.size() < 54 || bmp->bytes.compare(0, 2, "BM") != 0)
        return false;
    bmp->width = *(const int32_t *)(bmp->bytes.data() + 18);
    bmp->height = *(const int32_t *)(bmp->bytes.data() + 22);
    bmp->stride = (bmp->width * 3 + 3) & ~3;
    return bmp->width > 0 && bmp->height > 0 &&
           bmp->bytes.size() >= 54 + (size_t)bmp->stride * bmp->height;
}

// The Earth has oceans; the placeholder before the first render is black
// and grey.
inline bool LooksLikeEarth(const Bmp &bmp)
{
    int blue = 0, total = 0;
    for (int y = 0; y < bmp.height; y += 4)
        for (int x = 0; x < bmp.width; x += 4) {
            const uint8_t *p = bmp.Pixel(x, y);
            total++;
            blue += p[0] > p[2] + 20;
        }
    return total > 0 && blue * 20 > total;
}

inline void WriteGreyBmp(const std::string &path, int width, int height)
{
    int stride = (width * 3 + 3) & ~3;
    std::string b(54 + stride * height, '\x80');
    memset(&b[0], 0, 54);
    b[0] = 'B';
    b[1] = 'M';
    *(int32_t *)&b[2] = (int32_t)b.size();
    *(int32_t *)&b[10] = 54;
    *(int32_t *)&b[14] = 40;
    *(int32_t *)&b[18] = width;
    *(int32_t *)&b[22] = height;
    *(int16_t *)&b[26] = 1;
    *(int16_t *)&b[28] = 24;
    WriteWhole(path, b);
}

template <class Test> inline bool WaitFor(Test test, int seconds)
{
    for (int i = 0; i < seconds * 4; i++) {
        if (test())
            return true;
        Sleep(250);
    }
    return test();
}

// Starts the command line on the named desktop (Wine shows it as a virtual
// desktop); the process handle, or 0.
inline HANDLE StartOnNamedDesktop(const char *desktop, const std::string &commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = (char *)desktop;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(0, &line[0], 0, 0, FALSE, 0, 0, 0, &startup, &process))
        return 0;
    CloseHandle(process.hThread);
    return process.hProcess;
}
