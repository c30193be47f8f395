// The engine's start-up and its wizard: the mode (setup when the program
// carries a "Setup.qis" resource, else uninstall), the command line, the
// script, silent runs with their log file, and the wizard pages whose buttons
// run the script's phases.
#pragma once

#include <windows.h>

enum {
    SETUP_USE_FILES = 16,       // "-USE=" files kept from the command line
    SETUP_PATH_SIZE = 260,
};

// Private page messages, beyond the phase runner's.
enum {
    SETUPM_APPLYFONTS = WM_APP + 10,    // the frame rebuilt its fonts
    SETUPM_PHASEFAILED = WM_APP + 11,   // phase 1 stopped on an error
};

// The wizard's outcome when the user cancelled, also the exit code (the
// runner's own error for a cancel has the same number).
enum { SETUP_CANCELLED = 2 };
// The log text of a wizard cancelled while phase 1 ran, beyond the numbered
// messages.
enum { SETUP_MSG_CANCELLED_PARTWAY = 1060 };

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

// --- start-up

// Setup mode when the module carries an RCDATA resource "Setup.qis".
bool IsSetupModule(HMODULE module);
// Reads the switches into gSetup and the variables #INSTALLPATH# and
// #CUSTOMPATH#. The line is split into arguments as the C runtime splits
// argv; each argument is one switch with its value, others are ignored.
void ParseSetupCommandLine(const char *commandLine);
// The next argument after p into out[size] by those rules; the position
// after it, or null when none is left.
const char *NextCommandLineArgument(const char *p, char *out, size_t size);
// Mode, built-in variables, the script (file in the current folder, else the
// resource archive), phase 0 and the derived variables: 0, or 13 when the
// script is missing or phase 0 fails.
int StartSetupEngine();
// The same in a mode chosen by the caller.
int StartSetupEngineInMode(bool uninstallMode);
// The checks of #NOX64# and #MINOS#: 0, or the message number that refuses.
int CheckSystemRequirements();

// --- messages

// The engine's message text by number ("" for unknown numbers).
const char *SetupMessageText(int number);
// The text with the script's variables substituted, into out[520].
void FormatSetupMessage(int number, char *out);
// Shows message number with the caption #SETUPMODE#; the box's result.
int SetupMessageBox(HWND owner, int number, UINT flags);
// Shows the message that belongs to a script error; the box's result.
int ShowScriptError(HWND owner, int error);

// --- silent runs

// Phases 0 (again), 1 and then 2 or 3, the "-USE=" files and the log: the
// final error (0 on success, also for a last error 20).
int RunSilentSetup();
// The log's path: the program's file name with ".log" for its extension, in
// the work folder or else the current folder.
void SetupLogPath(char *out);
// Overwrites the log: the error's message and the outcome line.
bool WriteSetupLog(int error);
// The log of a wizard cancelled while phase 1 ran: the cancel and the
// failure line.
bool WriteCancelLog();
// Copies the "-USE=" files into #INSTALLPATH#\Init: 0, or 32.
int CopyUseFiles();

// --- the wizard

// Opens the modeless frame with its welcome page; 0 on failure.
HWND OpenSetupWizard();
// Opens the frame and pumps messages until it closes; gSetup.result.
int RunSetupWizard();
// Shows the page (104, 105, 109, 110, 111, 114, 115 or 117) in the frame.
bool ShowWizardPage(int pageId);
// Ends the wizard: destroys the frame.
void CloseSetupWizard();

// The upgrade check of the welcome page.
struct UpgradeCheck {
    bool askMessage;            // show #UPGMSG1#
    bool removalNeeded;         // the installed version must be removed first
    char uninstallString[SETUP_PATH_SIZE * 2];
};
void CheckForUpgrade(UpgradeCheck *check);
// Runs the old uninstaller's command line and waits, pumping messages.
bool RunOldUninstaller(const char *commandLine);

// Total size in KB (rounded down) of the files under the folder.
unsigned long long FolderSizeKB(const char *folder);
// True when the folder holds anything besides "Uninstall.exe".
bool FolderHasOtherFiles(const char *folder);

// --- the program

// The whole entry after the DPI declaration: the exit code.
int SetupMain(const char *commandLine);
// Per-monitor DPI awareness where the system offers it.
void DeclareDpiAwareness();
