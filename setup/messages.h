// The engine's numbered messages and the one way they reach the user: a box
// captioned with the mode, its text with the script's variables substituted.
#pragma once

#include <windows.h>

// The log text of a wizard cancelled while phase 1 ran, beyond the numbered
// messages.
enum { SETUP_MSG_CANCELLED_PARTWAY = 1060 };

// The engine's message text by number ("" for unknown numbers).
const char *SetupMessageText(int number);
// The text with the script's variables substituted, into out[520].
void FormatSetupMessage(int number, char *out);
// Shows message number with the caption #SETUPMODE#; the box's result.
int SetupMessageBox(HWND owner, int number, UINT flags);
// Shows the message that belongs to a script error; the box's result.
int ShowScriptError(HWND owner, int error);
