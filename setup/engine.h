// The setup engine's state and its start-up: the mode (setup when the
// program carries a "Setup.qis" resource, else uninstall), the script loaded
// and its phase 0 run, the system checks, and the program's entry that then
// runs silently or opens the wizard. The command line, the messages, the
// silent run and the wizard each have a header of their own.
#pragma once

#include <windows.h>

enum {
    SETUP_USE_FILES = 16,       // "-USE=" files kept from the command line
    SETUP_PATH_SIZE = 260,
};

// The wizard's outcome when the user cancelled, also the exit code (the
// runner's own error for a cancel has the same number).
enum { SETUP_CANCELLED = 2 };

struct SetupEngine {
    bool uninstallMode;
    bool silent;
    bool allUsersDefault;       // an installation folder but no data folder was given
    bool removeSelf;            // the uninstall finished: remove the uninstaller at the end
    bool installGiven, dataGiven;
    char programPath[MAX_PATH];
    char workFolder[SETUP_PATH_SIZE];
    char useFiles[SETUP_USE_FILES][SETUP_PATH_SIZE];
    int useCount;
    char *scriptText;           // malloc'ed, NUL-terminated
    // The wizard.
    HWND frame, page;
    int pageId;
    HANDLE phaseThread;
    bool phaseFailed;
    bool closing;               // cancelled or closing: waiting for phase 1 to stop
    bool cancelledPartway;      // the cancel came while phase 1 ran
    HFONT titleFont, boldFont, linkFont;
    HBRUSH background;
    int dpi;
    int result;                 // the wizard's outcome: 0 finished, else the error
};
extern SetupEngine gSetup;

// Forgets everything of an earlier run (the script's variables too).
void ResetSetupEngine();

// Setup mode when the module carries an RCDATA resource "Setup.qis".
bool IsSetupModule(HMODULE module);
// Mode, built-in variables, the script (file in the current folder, else the
// resource archive), phase 0 and the derived variables: 0, or 13 when the
// script is missing or phase 0 fails.
int StartSetupEngine();
// The same in a mode chosen by the caller.
int StartSetupEngineInMode(bool uninstallMode);
// The checks of #NOX64# and #MINOS#: 0, or the message number that refuses.
int CheckSystemRequirements();
// A script that defined #REBOOT# by the end of phase 2 asks for a restart.
void NoteRestartRequest();

// The whole entry after the DPI declaration: the exit code.
int SetupMain(const char *commandLine);
// Per-monitor DPI awareness where the system offers it.
void DeclareDpiAwareness();
