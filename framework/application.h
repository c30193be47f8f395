// The framework's application object: one global per process holding the
// process identity, the folders every other part works in and the
// framework's lists.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/growarray.h"
#include "framework/stringtable.h"

enum {
    QRF_ERR_INDEX = 0xF006,
    QRF_ERR_IMAGELIST = 0xF00A,
    QRF_ERR_COMMANDTABLE = 0xF00B,
    QRF_ERR_INSTANCE = 0xF012,
    QRF_ERR_COMCTL = 0xF015,
    QRF_ERR_INSTALLRECORD = 0xF016,
    QRF_ERR_DATAFOLDER = 0xF019,
};

enum { MAX_TEXT = 260, MAX_LONG_TEXT = 1040, INSTALL_RECORD_SIZE = 1326 };

#pragma pack(push, 1)
// "(QRF)App" record file: 297 bytes.
struct QRFAppRecord {
    int32_t language;
    int32_t settingsVersion;
    uint8_t colorScheme;
    uint32_t colors[6];
    char fontFace[260];
    int32_t fontSize;
};
#pragma pack(pop)
static_assert(sizeof(QRFAppRecord) == 297, "(QRF)App layout");

class CApplication {
public:
    // One command-line switch with its arguments, in command-line order.
    struct SwitchRecord {
        char name[260];
        CGrowArray<PathText> arguments;
        uint8_t flag;
    };

    HINSTANCE instance;
    DWORD processId;
    uint16_t productStringId;
    char productName[MAX_TEXT];
    int versionMajor, versionMinor, versionBuild;
    char commandLine[MAX_LONG_TEXT];
    char ownFolder[MAX_TEXT];
    char ownPath[MAX_TEXT];
    char dataFolder[MAX_TEXT];
    char secondFolder[MAX_TEXT];
    HWND tooltipWindow;
    HWND hiddenWindow;
    void *hoveredItem;
    uint16_t iconId;
    int osCode;
    uint8_t wow64;
    UINT taskbarMessage;
    UINT controlMessage;
    uint8_t signalled;
    uint8_t inLoop;
    uint32_t token;
    uint8_t autoStart, minimize, taskScheduler;
    int restartMode;
    char restartParameters[MAX_TEXT];
    char archiveIdentity[MAX_TEXT];
    char archiveMasks[MAX_TEXT];
    uint8_t broadcastRestart;
    UINT doubleClickTime;
    uint8_t placementInvalid;
    QRFAppRecord appRecord;
    uint8_t installRecord[INSTALL_RECORD_SIZE];
    uint8_t accelerators;
    HICON appIcon;
    CStringTable strings;
    CGrowArray<SwitchRecord> switches;

    CApplication();

    int ParseCommandLine(const char *text);
    int FindSwitch(const char *name) const;
    void FreeSwitches();
    bool CanRestorePlacement() const { return !placementInvalid; }
};

extern CApplication gApp;

// 1 elevated (or a system before Vista), 0 not, -1 when the token cannot be read.
int IsElevated();

// Copies at most size-1 characters and always terminates: the fixed-buffer
// rule of the whole program (over-long texts are cut, never overrun).
void CopyText(char *dst, const char *src, int size);
