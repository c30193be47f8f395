// The setup script interpreter: one command per line, grouped into numbered
// phases, with variables ("#NAME#") substituted into every argument. The
// same engine installs ("Setup.qis") and uninstalls ("Uninstall.qis").
#pragma once

#include <windows.h>

enum {
    SCRIPT_NAME_SIZE = 32,      // a variable's name with both "#", 31 characters at most
    SCRIPT_VALUE_SIZE = 520,    // values and arguments, 519 characters at most
    SCRIPT_ARGUMENTS = 5,
    SCRIPT_CONDITION_DEPTH = 100,
};

struct ScriptVariable {
    char name[SCRIPT_NAME_SIZE];
    char value[SCRIPT_VALUE_SIZE];
    double number;              // the value read as a decimal number, 0 when none
    int nameLength;
    int valueLength;
};

// Messages from the phase runner to the status window; all are sent, so the
// window's answer is known before the runner goes on.
enum {
    SETUPM_STATUS = WM_APP + 1,     // wParam status line 0 or 1, lParam the text
    SETUPM_PROGRESS = WM_APP + 2,   // wParam percent
    SETUPM_PHASEEND = WM_APP + 3,
    SETUPM_ERROR = WM_APP + 4,      // wParam the error; the answer is a message-box result
};

// Errors of the script commands (the current error).
enum ScriptError {
    SCRIPT_OK = 0,
    SE_SERVICE_MANAGER = 1,
    SE_CANCELLED = 2,           // the user cancelled; the runner stopped before a command
    SE_ARGUMENTS = 3,
    SE_NOT_STORED = 4,
    SE_PROGRAM_RUNNING = 6,
    SE_CREATEDIR = 7,
    SE_COPY = 8,
    SE_LINK = 9,
    SE_REG_SZ = 11,
    SE_REG_DWORD = 12,
    SE_SCRIPT_MISSING = 13,
    SE_THREAD = 14,
    SE_REMOVE_OLD = 15,
    SE_NOT_ADMIN = 16,
    SE_NOT_IN_ARCHIVE = 17,
    SE_REMOVEDIR = 20,
    SE_REG_DELETE_KEY = 21,
    SE_REG_DELETE_VALUE = 22,
    SE_PATCH = 24,
    SE_NOT_STARTED = 27,
    SE_NO_PHASE = 28,
    SE_ERROR_COMMAND = 29,
    SE_INIT_FILES = 32,
    SE_TASK_SCHEDULER = 33,
    SE_FOLDER_INACCESSIBLE = 34,
    SE_EXTRACT = 35,
};

enum ScriptCommand {
    SC_SET, SC_CLOSEPROGRAM, SC_CREATEDIR, SC_COPYFILE, SC_CREATELINK, SC_CHANGENOTIFY,
    SC_CREATEREGVALSZ, SC_CREATEREGVALDW, SC_CREATESETUPINFO, SC_DELETEFILE, SC_REMOVEDIR,
    SC_DELETEREGKEY, SC_DELETEREGVAL, SC_PATCHFILE, SC_IF, SC_ELSE, SC_ENDIF, SC_STOPSERVICE,
    SC_PHASEBEGIN, SC_PHASEEND, SC_RUN, SC_CALL, SC_ERROR, SC_STATUS, SC_STATUS2,
    SC_LOGONTRIGGER, SC_COUNT
};

// The interpreter's state: one script at a time.
struct ScriptState {
    const char *text;                   // the whole script, NUL-terminated (caller's memory)
    ScriptVariable *variables;          // in order of creation
    int variableCount, variableCapacity;
    unsigned char conditions[SCRIPT_CONDITION_DEPTH];   // 1 run, 2 skip
    int conditionTop;
    char arguments[SCRIPT_ARGUMENTS][SCRIPT_VALUE_SIZE];
    int currentError;
    HWND statusWindow;                  // 0 in silent mode
    bool uninstallMode;
};
extern ScriptState gScript;

// The script text stays the caller's; it must end with a NUL.
void SetScriptText(const char *text);
// Forgets every variable and the condition stack.
void ResetScript();

// --- variables

// Replaces or appends; 0, or 4 when the name is empty or too long, or no
// memory is left. Values are cut to 519 characters.
int SetVariable(const char *name, const char *value);
// The value, or "" when undefined.
const char *GetVariableText(const char *name);
// The numeric value, or -1 when undefined.
double GetVariableNumber(const char *name);
// Copies the value into buffer[size] when defined; the variable's position or -1.
int CopyVariable(const char *name, char *buffer, int size);
// True when the variable is defined (even as "").
inline bool IsVariableDefined(const char *name)
{
    return CopyVariable(name, 0, 0) >= 0;
}
// Replaces every defined variable's name in text[SCRIPT_VALUE_SIZE] by its value.
void SubstituteVariables(char *text);

// --- parsing

// Skips blanks at position; the command of the line there, with the start of
// its arguments and the end of its line; -1 for other lines and at the end.
int MatchCommand(const char *position, const char **arguments, const char **lineEnd);
// The end of the line that starts at position (its CR, its LF, or the NUL).
const char *LineEnd(const char *position);
// Reads one argument into buffer[SCRIPT_VALUE_SIZE]; false at the line end.
bool NextArgument(const char **cursor, const char *lineEnd, char *buffer);
// Reads up to count arguments of the line into gScript.arguments (the rest
// empty) and substitutes variables in each; the number read.
int ReadArguments(const char *cursor, const char *lineEnd, int count);

// --- running

// Runs one command line; its result.
int RunCommand(int command, const char *arguments, const char *lineEnd);
// Runs phase n; the current error afterwards.
int RunPhase(int n);

// The wizard's message for an error: its string number, with the message
// box's buttons and icon in flags.
int ScriptErrorMessage(int error, UINT *flags);

// --- built-in variables

// Set before the script is loaded. allUsersDefault: the command line gave
// an installation folder but no data folder.
void SetBuiltInVariables(bool uninstallMode, bool allUsersDefault);
// Set after phase 0, from the installation record of #PROGRAM#.
void SetDerivedVariables();
// #STARTUPDIR#, #STARTMENUDIR# and #DESKTOPDIR# follow the all-users
// folders or the user's own.
void ChooseShellFolders(bool allUsers);

// The maker's web address (#BUYURL# and the default web link).
#define SETUP_MAKER_URL "https://www.kestrova.com/"
