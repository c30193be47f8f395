// Helpers shared by the test executables.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <wincrypt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

// True in a CI run (CI=true): what a test needs from the machine (host
// programs, a display that hands out the foreground) must be there, so a
// missing one fails the test instead of skipping it.
inline bool InCI()
{
    char value[16];
    DWORD n = GetEnvironmentVariableA("CI", value, sizeof value);
    return n > 0 && n < sizeof value && lstrcmpiA(value, "true") == 0;
}

// Skips the test for a missing requirement outside CI; fails it under CI.
#define VT_REQUIRE_OR_SKIP(condition, why)                                   \
    do {                                                                     \
        if (!(condition)) {                                                  \
            if (InCI())                                                      \
                FAIL() << (why) << " (required under CI=true)";              \
            else                                                             \
                GTEST_SKIP() << (why);                                       \
        }                                                                    \
    } while (0)

// Removes a link itself, never what it leads to: its attributes are changed
// only through a handle opened on the link (by path the system follows it),
// and a handle that shows no reparse point reached the target (Wine follows
// links even there), so that link is left alone. True when it went.
inline bool RemoveLinkW(const std::wstring &link)
{
    HANDLE handle = CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                                OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    FILE_ATTRIBUTE_TAG_INFO own = {};
    bool onLink = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &own, sizeof own) &&
                  (own.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (onLink && (own.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        FILE_BASIC_INFO basic = {};   // times 0: left as they are
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        onLink = SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != FALSE;
    }
    CloseHandle(handle);
    if (!onLink)
        return false;
    return (own.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(link.c_str()) != FALSE
                                                           : DeleteFileW(link.c_str()) != FALSE;
}

// Deletes a folder and everything below it (no error when it is missing); a
// link in it, or the folder itself as a link, is removed, never followed.
// The wide form takes "\\?\" paths, so it also reaches trees deeper than
// MAX_PATH; the narrow one is that in the ANSI code page.
inline void RemoveTreeW(const std::wstring &folder)
{
    DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveLinkW(folder);
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName, child = folder + L"\\" + name;
            if (name == L"." || name == L"..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveLinkW(child);
                continue;
            }
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTreeW(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
}

inline void RemoveTree(const std::string &path)
{
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, NULL, 0);
    if (n <= 0)
        return;
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
    wide.resize(n - 1);
    RemoveTreeW(wide);
}

// Calls visit(relative path, is a folder) for every file and folder below
// the folder, each folder before what it holds; the relative paths join
// names with "\".
template <class Visit>
inline void WalkTree(const std::string &folder, Visit visit, const std::string &prefix = "")
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        visit(prefix + name, isFolder);
        if (isFolder)
            WalkTree(folder + "\\" + name, visit, prefix + name + "\\");
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

// A fresh, empty folder under the temp folder, named by the tag. Wine reuses
// process ids, so whatever an earlier run left there is removed first.
inline std::string FreshTempFolder(const std::string &tag)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "vt-" + tag;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), 0);
    return path;
}

inline std::string ReadWhole(const std::string &path)
{
    std::string bytes;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return "<missing " + path + ">";
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    fclose(f);
    return bytes;
}

inline void WriteWhole(const std::string &path, const std::string &bytes)
{
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f != 0) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// Adds the test CA of tests/framework/run_http_test.sh (VT_TEST_CA, a DER
// file) to the "ROOT" system store of this test's own Wine prefix, so that
// the program's TLS client trusts the local servers' certificates. Call it
// before the first TLS connection: the client reads the store once per
// process. False without the file, or when the store refused it.
inline bool TrustTestCa()
{
    const char *path = getenv("VT_TEST_CA");
    std::string der = path ? ReadWhole(path) : "";
    if (der.empty() || der[0] != 0x30)   // a DER certificate is a SEQUENCE
        return false;
    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    if (!store)
        return false;
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                  (const BYTE *)der.data(), (DWORD)der.size(),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, 0);
    CertCloseStore(store, 0);
    return added != FALSE;
}

// Unix form of a path under Wine's Z: drive, or empty.
inline std::string UnixPath(const std::string &windowsPath)
{
    char full[MAX_PATH];
    if (!GetFullPathNameA(windowsPath.c_str(), MAX_PATH, full, 0))
        return "";
    if ((full[0] != 'Z' && full[0] != 'z') || full[1] != ':')
        return "";
    std::string unix(full + 2);
    for (char &c : unix)
        if (c == '\\')
            c = '/';
    return unix;
}

// Runs a host shell script through Wine's start of Unix programs. Wine hands
// back no process handle for those, so the script leaves a marker when done.
// Gives 0 done, 1 no way to start host programs, 2 started but never finished.
inline int RunHostScript(const std::string &folder, const std::string &body, std::string *report)
{
    std::string script = folder + "\\check.sh", done = folder + "\\check.done";
    std::string unixFolder = UnixPath(folder);
    if (unixFolder.empty() || GetFileAttributesA("Z:\\bin\\sh") == INVALID_FILE_ATTRIBUTES)
        return 1;
    DeleteFileA(done.c_str());
    WriteWhole(script, "cd '" + unixFolder + "'\n{\n" + body + "\n} > check.out 2>&1\n" +
                           "echo finished > check.tmp && mv check.tmp check.done\n");
    std::string command = "sh \"" + unixFolder + "/check.sh\"";   // Wine splits by Windows rules
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessA("Z:\\bin\\sh", line.data(), 0, 0, FALSE, 0, 0, 0, &startup, &process))
        return 1;
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    for (int i = 0; i < 600 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(50);
    *report = ReadWhole(folder + "\\check.out");
    return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES ? 0 : 2;
}

// A top-down 32-bit DIB section in a memory DC, so that every pixel can be
// read back; filled with one colour at first.
struct DibCanvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    uint32_t *bits;
    int width, height;

    DibCanvas(int w, int h, COLORREF fill = RGB(255, 255, 255)) : width(w), height(h)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void *p = 0;
        dc = CreateCompatibleDC(0);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &p, 0, 0);
        bits = (uint32_t *)p;
        old = SelectObject(dc, bitmap);
        Fill(fill);
    }
    ~DibCanvas()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    void Fill(COLORREF c)
    {
        GdiFlush();
        for (int i = 0; i < width * height; i++)
            bits[i] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
    COLORREF At(int x, int y)
    {
        GdiFlush();
        uint32_t v = bits[y * width + x];
        return RGB((v >> 16) & 255, (v >> 8) & 255, v & 255);
    }
    int Count(COLORREF c, int left = 0, int top = 0, int right = -1, int bottom = -1)
    {
        GdiFlush();
        int n = 0;
        for (int y = top; y < (bottom < 0 ? height : bottom); y++)
            for (int x = left; x < (right < 0 ? width : right); x++)
                n += At(x, y) == c;
        return n;
    }
};

// A hidden window of a class of its own that proc answers (registered on
// first use): a stand-in for a window the code under test talks to. parent
// HWND_MESSAGE makes a message-only window.
inline HWND MakeStandInWindow(const char *className, WNDPROC proc, HWND parent = 0)
{
    WNDCLASSA c = {};
    if (!GetClassInfoA(GetModuleHandleA(0), className, &c)) {
        c.lpfnWndProc = proc;
        c.hInstance = GetModuleHandleA(0);
        c.lpszClassName = className;
        RegisterClassA(&c);
    }
    return CreateWindowExA(0, className, "", parent == HWND_MESSAGE ? 0 : WS_POPUP, 0, 0, 10, 10,
                           parent, 0, GetModuleHandleA(0), 0);
}

// For EnumChildWindows over a real file or folder dialog: types text (a
// const char *) into its first visible edit control, as a user would.
inline BOOL CALLBACK TypeIntoFirstEdit(HWND child, LPARAM text)
{
    char cls[16];
    if (!GetClassNameA(child, cls, sizeof cls) || _stricmp(cls, "Edit") != 0 ||
        !IsWindowVisible(child))
        return TRUE;
    SendMessageTimeoutA(child, WM_SETTEXT, 0, text, SMTO_ABORTIFHUNG, 2000, 0);
    return FALSE;
}

// Saves the whole test display as <file>.png in the build folder, two levels
// above the test's working folder, through the host's "import"; crop is an
// ImageMagick geometry ("WxH+X+Y") or empty. RunHostScript's result, with
// the host's words in report.
inline int ShotOfDisplay(const std::string &file, std::string *report, const std::string &crop = "")
{
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string shots = std::string(cwd) + "\\" + file + "-shot";
    RemoveTree(shots);
    CreateDirectoryA(shots.c_str(), 0);
    std::string target = UnixPath(std::string(cwd) + "\\..\\..\\" + file + ".png");
    std::string geometry = crop.empty() ? "" : " -crop " + crop + " +repage";
    int result = RunHostScript(shots, "import -window root" + geometry + " '" + target + "'", report);
    RemoveTree(shots);
    return result;
}

// Dispatches every message that arrives for the given time.
inline void PumpMessages(int milliseconds)
{
    ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (GetTickCount64() < end);
}

// What the process holds: the bytes in use in all its heaps (malloc goes to
// msvcrt's heap, which need not be the process heap), and its private memory
// as the system counts it, which also takes in what the system allocates for
// the process outside those heaps (under Wine, for one, what it keeps for
// the process's icons).
struct ProcessMemory {
    long long heap, privateBytes;
};

inline ProcessMemory ProcessMemoryInUse()
{
    ProcessMemory use = {0, 0};
    HANDLE heaps[256];
    DWORD n = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < n && i < 256; i++) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = 0;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                use.heap += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    // The commit charge: Wine leaves PrivateUsage at 0 but counts this one.
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        use.privateBytes = (long long)counters.PagefileUsage;
    return use;
}
