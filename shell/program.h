// The main program: its entry, its hidden main window with the one-second
// timer, and its tray icon. What the three share lives here.
#pragma once

#include <windows.h>
#include <stdint.h>

enum {
    // Commands of the main window (the tray menu and the options dialog).
    CMD_TRAY_MENU = 1000,
    CMD_PROFILE_MENU = 1100,
    CMD_PROFILE_FIRST = 1101,   // 1101..1116, one per listed profile
    CMD_OPTIONS = 4000,
    CMD_SCREEN_SAVER = 4001,
    CMD_DOWNLOAD_CLOUDS = 4002,
    CMD_CANCEL_UPDATES = 4004,
    CMD_QUIT = 4005,
    CMD_UPDATE_WALLPAPER = 4006,

    MAIN_TIMER_ID = 4096,
    MAIN_TIMER_MS = 1000,
    STARTUP_POST = 1234,          // wParam of the entry's own posts at start-up
    DOWNLOAD_CHECK_SECONDS = 60,
    SAVER_POLL_SECONDS = 15,

    // UpdateTrayIcon's special values.
    TRAY_IDLE = -1,
    TRAY_REMOVE = -2,
    TRAY_IDLE_ICON = 1,
    TRAY_FIRST_PROGRESS_ICON = 10,  // 10..21, twelve steps
    TRAY_PROGRESS_ICONS = 12,
    LAST_DOWNLOAD_TEXT_SIZE = 260,
};

// The modeless options dialog; 0 while it does not exist.
extern HWND gOptionsDialog;

// The main window: frame 0 (0 before it exists).
HWND MainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// tray.cpp
// The icon for a progress value: 0..100 percent, anything else the idle icon.
int TrayIconForPercent(int percent);
// The tray icon and its tooltip; percent 0..100, TRAY_IDLE or TRAY_REMOVE.
// InstallTrayHook makes it the progress sink's rendered share, once the tray
// exists.
void ShowTrayIcon(int percent);
void InstallTrayHook();
// The next ShowTrayIcon adds the icon again even when it did not change
// (the taskbar was re-created and lost it).
void ForgetTrayIcon();
// "n/a" for 0, else the local date and time of t in the user's format.
void LastDownloadText(int64_t t, char *buffer);
// The tooltip text for the current settings.
void TrayTooltip(char *buffer, int size);
// A mouse message of the tray icon (lParam of the tray message).
void OnTrayMouse(LPARAM mouseMessage);
// The icon last handed to the shell: 0 after a removal, -1 when nothing
// went to the shell since start or the last ForgetTrayIcon.
int TrayIconShown();
// The next ShowTrayIcon goes to the shell even when nothing changed: after
// the taskbar was re-created the shell has no icon of ours any more.
void ForgetTrayIcon();
// The enabling of the tray menu's commands for the current state.
void EnableTrayCommands();
// A short date without its year and without non-digits at both ends.
void TrimShortDate(char *date, int year);
