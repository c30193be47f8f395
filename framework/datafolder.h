// Waiting at start-up for a data folder that is not reachable yet (a network
// share or a drive that is not ready when the session starts): retries about
// once a second while a blinking notification-area icon offers to give up.
#pragma once

#include <windows.h>
#include <stdint.h>

enum {
    DATAFOLDER_READY = 0,        // exists, or was created
    DATAFOLDER_GAVE_UP = 1,      // the user chose the icon's menu entry
    DATAFOLDER_UNREACHABLE = 2,  // not made within the rounds (also an empty path)
    DATAFOLDER_WAIT_FOREVER = -1,
    DATAFOLDER_GIVE_UP_COMMAND = 1,
};

#define DATAFOLDER_WINDOW_CLASS "QRFWaitForDataPath"

struct CWaitForDataFolder {
    char tipText[260];
    char menuText[260];
    HINSTANCE module;
    HWND window;
    volatile uint8_t giveUp;

    CWaitForDataFolder();
};

// Rounds: one-second waits after the first failed attempt; -1 without limit,
// 0 a single attempt.
int WaitForDataFolder(const char *folder, int rounds, int iconId, const char *tipText,
                      const char *menuText);
LRESULT CALLBACK WaitForDataFolderWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

// icons[0] the icon, icons[1] a copy greyed in the system's 3-D colours.
// 0, 1 when the icon resource is missing, or QRF_ERR_MEMORY.
int MakeShadedIcon(int iconId, HICON icons[2]);

// Depth preference indexes the bit counts 1, 4, 8, 32 (negative: none);
// size 0 takes the first entry of the depth found.
HICON LoadIconResource(int groupId, int depthPreference, int size);
