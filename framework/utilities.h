// Free text, path, colour and system helpers shared by the whole program.
// Texts are NUL-terminated ANSI strings in fixed buffers (260 characters
// unless a capacity is passed).
#pragma once

#include <windows.h>
#include <stdint.h>

// CRC-32 (reflected 0xEDB88320, initial value and final XOR 0xFFFFFFFF).
void InitCrc32Table();
uint32_t Crc32(const void *bytes, int length);   // length -1: up to the NUL

// Text. ReplaceAll returns the number of replacements, or -1 (earlier ones
// stay) as soon as one would not fit the capacity; ReplaceAllTruncate can cut
// that replacement to the room left instead.
int ReplaceAll(char *text, int capacity, const char *find, const char *replacement);
int ReplaceAllTruncate(char *text, int capacity, const char *find, const char *replacement,
                       bool truncate);
void TrimWhitespace(char *text);
void TrimCharSet(char *text, const char *set);
const char *FindAfter(const char *text, const char *find);
const char *FindTextNoCase(const char *text, const char *find);
const char *EndsWithNoCase(const char *text, const char *end);
uint8_t HexPairToByte(const char *two);
void ByteToHexPair(uint8_t value, char *out);     // writes two digits, no NUL
bool IsUtf8(const char *text);

// Paths.
char *AppendBackslash(char *path);
// True when the last character is a backslash (not the trail byte of a
// double-byte character); false for null and "".
bool EndsWithBackslash(const char *path);
// Path tests: anything at the path; an existing folder; an existing file
// that is not a folder.
bool PathExists(const char *path);
bool FolderExists(const char *path);
bool IsExistingFile(const char *path);
// The name after the last '\', '/' or ':' of a path (the path itself when
// it has none).
const char *PathFileName(const char *path);
char *StripTrailingBackslash(char *path);
bool GetSpecialFolderPath(int csidl, char *out);

// Bits and colours. Packed HSL: hue bits 0-7, lightness 8-15, saturation 16-23.
void SetFlagBits(uint32_t *flags, uint32_t bits, bool set);
COLORREF SwapRedBlue(COLORREF colour);
uint32_t ColorRefToArgb(COLORREF colour, uint8_t alpha);
uint32_t RgbToHsl(COLORREF colour);
void HslToRgb(double hueDegrees, double lightness, double saturation,
              uint8_t *red, uint8_t *green, uint8_t *blue);
COLORREF AdjustColorHsl(COLORREF colour, double hueShift, double lightnessFactor,
                        double saturationFactor);

// Monitors: a current and a previous table of the same shape.
// (Not MAX_MONITORS: <ddeml.h> defines that name as 4.)
enum { MONITOR_TABLE_SIZE = 16 };
struct MonitorTable {
    int count;
    RECT rect[MONITOR_TABLE_SIZE];
    RECT work[MONITOR_TABLE_SIZE];
    int dpi[MONITOR_TABLE_SIZE];
    DWORD flags[MONITOR_TABLE_SIZE];
    char device[MONITOR_TABLE_SIZE][32];
    int virtualX, virtualY, virtualWidth, virtualHeight;
    RECT virtualRect;
};
extern MonitorTable gMonitors;      // current
extern MonitorTable gPrevMonitors;  // before the last display change

void RefreshMonitors();
int GetMonitorRect(int x, int y, RECT *out, int table, int selector);
int GetMonitorDpi(HMONITOR monitor);   // effective DPI, else the screen's
// A function of a system module that older systems may lack, looked up by
// name: the module is loaded when it is not yet and stays loaded; 0 when
// either is missing. Cast the result to the function's own type.
typedef void (*SystemProc)();
SystemProc SystemFunction(const char *module, const char *name);
int GetScreenDpi();                    // the screen's vertical DPI, 96 when unreadable
// Sizes are designed at 96 DPI.
inline int ScaleForDpi(int size, int dpi) { return size * dpi / 96; }
inline int FontHeightForDpi(int points, int dpi) { return -MulDiv(points, dpi, 96); }
// The monitor's effective DPI by GetDpiForMonitor, looked up once for the
// whole program: the DPI, 0 when the call fails, -1 on a system without it.
int QueryMonitorDpi(HMONITOR monitor);

// Windows.
void CenterWindow(HWND window, RECT *rect, HWND reference);
bool SetTopmostLikeParent(HWND window);
bool IsCursorOver(HWND window);
void InvalidateNewArea(HWND window, int newWidth, int newHeight, int *storedWidth,
                       int *storedHeight);
HWND FindInstanceWindow(const char *title);

// System.
bool CheckComctl32Version();
const char *ShowFileDialog(bool save, const char *filters, int filterIndex, int *indexOut,
                           char *folder, const char *initialPath);
int BrowseForFolder(const char *title, char *path, bool fileSystemOnly);
HRESULT ShellExecuteUnelevated(const char *file, const char *parameters, const char *folder,
                               const char *verb, int show);
void DoNothing();
