// The two small profile dialogs of the options dialog: the name prompt of
// "Add..." and the profile settings of "Settings..." (the name and the screen
// layout that makes the profile switch in by itself after a display change).
#pragma once

#include <windows.h>

enum {
    IDD_PROFILE_NAME = 120,
    IDD_PROFILE_SETTINGS = 121,

    IDC_PROFILE_NAME_EDIT = 1303,
    IDC_PROFILE_TRIGGER = 1304,
    IDC_PROFILE_X_LABEL = 1305,
    IDC_PROFILE_X = 1306,
    IDC_PROFILE_Y_LABEL = 1307,
    IDC_PROFILE_Y = 1308,
    IDC_PROFILE_W = 1110,
    IDC_PROFILE_H = 1111,
    IDC_PROFILE_W_LABEL = 1312,
    IDC_PROFILE_H_LABEL = 1313,
    IDC_PROFILE_GET_CURRENT = 1309,
    IDC_PROFILE_HELP = 9,

    PROFILE_TRIGGER_ENABLE = 0x8003,   // posted: enable the layout controls by 1304

    PROFILE_ORIGIN_LIMIT = 16384,
    PROFILE_SIZE_LIMIT = 16384,
};

// Dialog 120; the init parameter is a 260-character buffer with the
// proposed name, which OK overwrites with the edited one. IDOK or IDCANCEL.
INT_PTR CALLBACK ProfileNameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Dialog 121 on gCurProfileSettings: OK writes the layout and the name; a
// changed name sets its renamed byte, an unchanged one clears it.
INT_PTR CALLBACK ProfileSettingsDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam);

// "Settings...": the dialog, then the rename it asked for. IDOK or IDCANCEL.
int RunProfileSettings(HWND owner);
