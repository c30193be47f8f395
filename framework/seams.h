// Where a lower layer calls up into a higher one: a function pointer that
// the higher layer sets. Everything else is a direct call: the shell calls
// the earth model, the imaging library and the framework; the earth model
// calls imaging and the framework; the windows and items call the framework;
// and modules of one layer call each other. Tests change what a call meets
// (a local server, a private data folder, a tiny map set, a clock passed in,
// the real dialogs driven with real messages), never the call.
//
// Every function pointer of the program that outlives a call, with who sets
// it and when, and why it must be a pointer:
//
//   gProgressSink (below): the earth model's workers reporting to the shell's
//       status text, progress dialog and tray picture. Set by the shell's
//       InstallProgressSink (InstallProgramHooks, before the first worker);
//       its rendered slot by InstallTrayHook once the tray exists.
//   gWindowHooks (framework/commands.h): the command table and the message
//       loop of the framework core reaching the items, menus and bars of the
//       window layer above it. describeItem, onArrowStrip, openItemPopup,
//       closeMenu and refreshItem by the menus (InstallMenuHooks); layoutBar,
//       menuKeyboardMode and the bar of an item by the bars
//       (InstallDockBayHooks, wrapping the menus' describeItem);
//       addCommandImage by the window layer's start-up step; all from
//       CApplication::Startup (framework/ui/windowstart.cpp).
//       preTranslateFrames is a chain that the frames' edge sizing and Tab
//       focus and then the menus join there (ChainPreTranslate; each keeps
//       the one before it in a static of its own).
//   gCloudHooks.optionsDialogOpen (earth/clouds.h): the cloud worker asking
//       the shell whether the options dialog shows previews to refresh. Set
//       by the shell's InstallProgramHooks at start.
//   gPreviewHooks (earth/renderjobs.h): the preview render jobs handing their
//       pictures to the options dialog's and the camera-path dialog's
//       controls. Set by those dialogs while they are open.
//
// Callbacks passed as arguments (the HTTP client's progress and body
// callbacks, window and dialog procedures, thread routines) are not listed.
#pragma once

#include <windows.h>

// The process-wide progress sink of long workers (data packs, data files,
// cloud maps, downloads, renders). The earth model's workers report through
// it; the shell's progress module (shell/progress.cpp) holds the status text,
// the status window and the progress dialog behind it. Set by
// InstallProgressSink at the start of the program, before the first worker
// runs; the tray icon's share (rendered) is set once the tray exists. Until
// then every slot does nothing (window: none).
enum { PROGRESS_TEXT_SIZE = 260 };   // a status text with its terminator

struct ProgressSink {
    // A null text keeps the previous text; a negative percentage means there
    // is no progress to show. Any thread.
    void (*status)(const char *text, int percent);
    HWND (*window)();                 // the window showing the status, or 0
    void (*waitForDialog)();          // a start-up worker's first step
    void (*workerDone)(int result);   // ends the progress dialog with the result
    void (*rendered)(int percent);    // the renderer's share done, 0..100
};
extern ProgressSink gProgressSink;
