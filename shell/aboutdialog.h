// The About dialog: product name and version, links to the maker's site and
// to the program and data folders, and the configuration tools (backup,
// restore, reset, periodic archive, update check).
#pragma once

#include <windows.h>

enum {
    IDD_ABOUT = 50102,
    IDC_ABOUT_ICON_LEFT = 50106,
    IDC_ABOUT_ICON_RIGHT = 50107,
    IDC_ABOUT_PRODUCT = 50108,
    IDC_ABOUT_NOTICE = 50120,
    IDC_ABOUT_WEB = 50116,
    IDC_ABOUT_PROGRAM_FOLDER = 50132,
    IDC_ABOUT_DATA_FOLDER = 50133,
    IDC_ABOUT_BACKUP = 50112,
    IDC_ABOUT_RESTORE = 50111,
    IDC_ABOUT_RESET = 50113,
    IDC_ABOUT_ARCHIVE = 50140,
    IDC_ABOUT_UPDATE = 50147,
    ABOUT_STRINGS = 0xF005,          // 0 product line, 1 notice, 2 web address
    ARCHIVE_RESULT_STRINGS = 0xF00A, // 0 restored, 1 backed up, 2 reset
    RESTART_STRING = 0xF00B,
};

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// With no owner, the process's foreground window (if any) owns it. IDOK or
// IDCANCEL.
int ShowAboutDialog(HWND owner);
// The program's compiled help next to the executable exists.
bool HelpFileExists();
