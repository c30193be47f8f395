// The main program's start-up and shutdown around the message loop.
#pragma once

#include <windows.h>

#include "framework/application.h"
#include "framework/stringtable.h"

enum {
    SETTINGS_VERSION = 400,
    ENTRY_ERROR_WINDOW = 50,      // main window, commands or options dialog failed
};

extern StringTableRecord gProgramStrings[];
extern char gScreenSaverImage[MAX_TEXT];   // "<data folder>\VTScrsvr.bmp"

// The whole program: start-up, the loop, shutdown. Always 0.
int ProgramMain(HINSTANCE instance, const char *commandLine);

// The main window's commands and the tray menu; 0 or the error to report.
int AddProgramCommands();
// The options dialog at start unless the main window is to stay hidden
// (which then sets the "-MINIMIZE" byte) or this start asked for none:
// 0, or ENTRY_ERROR_WINDOW when the dialog could not be created.
int OpenOptionsAtStart();
// Fills the hooks through which profiles and the main window reach the
// desktop, the render jobs and the workers.
void InstallProgramHooks();
