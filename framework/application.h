// The framework's application object: one global per process holding the
// process identity, the folders every other part works in and the
// framework's lists.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/commands.h"
#include "framework/errors.h"
#include "framework/growarray.h"
#include "framework/installrecord.h"
#include "framework/stringtable.h"


enum { MAX_TEXT = 260, MAX_LONG_TEXT = 1040, INSTALL_RECORD_SIZE = INSTALL_RECORD_MAIN_BYTES };

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
    CGrowArray<CUIItem *> items;
    CGrowArray<CommandEntry> commands;
    CGrowArray<AcceleratorEntry> acceleratorTable;
    CGrowArray<CUIItem *> navigationItems;
    CUIItem *openMenu;           // the open top popup menu
    uint8_t menuOpen;
    CUIItem *openMenuItem;       // the item whose menu is open
    uint16_t activeFrame;
    int hourlyTicks;
    // A command clicked while a menu was open; the closing menu sends it.
    HWND pendingOwner;
    WPARAM pendingCommand;

    uint8_t started;             // Startup returned 0: the destructor tears the framework down
    int hiddenWindowDpi;         // DPI of the hidden window's monitor at start-up

    CApplication();
    ~CApplication();

    // Start-up: 0 running, or a QRF_ERR_ code (or 1, the graphics' first stage).
    int Startup(HINSTANCE module, uint16_t productId, StringTableRecord *programTable,
                bool allowSeveral, int settingsVersion, const char *startCommandLine);
    void SetConfigFileTypes(const char *extraMasks, const char *identity);
    // The end of a started program: windows, layout, restart. Runs once; the
    // program calls it before it returns from its entry, while the frame
    // list and the records it saves still exist (never from a destructor).
    void Shutdown();

    int ParseCommandLine(const char *text);
    int FindSwitch(const char *name) const;
    void FreeSwitches();
    bool CanRestorePlacement() const { return !placementInvalid; }
    HWND GetOwnForegroundWindow() const;

    // Command table.
    int AddCommand(uint16_t id, uint16_t type, uint32_t flags, int16_t imageId, int16_t stringId,
                   uint32_t data, uint32_t valueA, uint32_t valueB);
    int FindCommand(uint16_t id) const;
    CommandEntry *CommandById(uint16_t id);
    int GetCommand(uint16_t id, CommandEntry *out) const;
    int SetCommand(uint16_t id, const CommandEntry &entry);
    int EnableCommand(uint16_t id, bool enable);
    int CheckCommand(uint16_t id, bool check);
    void SetItemState(CUIItem *item, uint32_t setBits, uint32_t clearBits);
    void RefreshCommand(uint16_t id, bool relayout, int value);
    int AddStandardCommands();

    // Item events from the UI-item window procedure.
    void OnItemButtonDown(CUIItem *item);
    void OnItemClick(CUIItem *item, int buttons);
    void OnItemDoubleClick(CUIItem *item, int buttons);
    void OnItemHover(CUIItem *item);
    void OnItemLeave(CUIItem *item);
    void OnItemMouseMove(CUIItem *item);

    // Message loop.
    int Run();
    bool PreTranslate(MSG *msg);
    bool PumpFor(int milliseconds);
    void RequestRestart(int mode, const char *parameters, bool broadcast);
    LRESULT SendToMainWindow(UINT message, WPARAM wParam, LPARAM lParam);
    CUIItem *CloseMenu(CUIItem *item);
    int MenuKeyboardMode(int type);
    // The sizing cursor of an edge type (1-8, as FrameEdgeAt); others nothing.
    void SetSizeCursor(int edge);
};

extern CApplication gApp;

// Pieces of start-up that depend only on their inputs.
// 6 Vista, 7, 8 (8 and 8.1), 10, 11, else 0.
int OsCodeFromVersion(DWORD major, DWORD minor, DWORD build);
// Applies the stored record to this run; true when stored window placements
// are not to be restored (another settings version).
bool AdoptAppRecord(QRFAppRecord *record, int settingsVersion);
// Copies the files below source to the same relative paths under target,
// never over an existing file and without making sub-folders.
void CopyFirstRunFiles(const char *source, const char *target);

// The hidden "QRFPhantom" window's procedure: inter-instance control,
// taskbar re-creation, the hourly timer, session end and display changes.
LRESULT CALLBACK PhantomWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// 1 elevated (or a system before Vista), 0 not, -1 when the token cannot be read.
int IsElevated();

// Copies at most size-1 characters and always terminates: the fixed-buffer
// rule of the whole program (over-long texts are cut, never overrun).
void CopyText(char *dst, const char *src, int size);
