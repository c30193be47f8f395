// The places where a lower layer calls up into a higher one, each a function
// pointer that the higher layer sets. Everything else is meant to be a direct
// call: the shell calls the earth model, the imaging library and the
// framework; the earth model calls imaging and the framework; the windows
// and items call the framework.
//
// Every function pointer of the program, with who sets it and when:
//
// Upward, and so pointers:
//   gProgressSink (below)                 shell InstallProgressSink, in
//       InstallProgramHooks before the first worker; rendered by the tray's
//       InstallTrayHook once the tray exists.
//   gWindowHooks (framework/commands.h)   the command table and message loop
//       reaching the items, menus, bars and graphics: describeItem,
//       onArrowStrip, openItemPopup, closeMenu, refreshItem by the menus
//       (InstallMenuHooks); layoutBar, menuKeyboardMode and the bar of an item
//       by the bars (InstallDockBayHooks); addCommandImage by start-up; all in
//       CApplication::Startup. preTranslateFrames is the chain the frames and
//       menus join there (ChainPreTranslate). dailyChecks: the update check
//       and archive, by InstallUpdateCheckHooks before Startup.
//   gCloudHooks.optionsDialogOpen (earth/clouds.h)   the shell, in
//       InstallProgramHooks.
//   gPreviewHooks (earth/renderjobs.h)    the options dialog, when it points
//       the previews at its controls; the render jobs call back into it.
//   gPresetViewChanged (shell/cameradialogs.h)   the shell entry, at start.
//
// Same-layer or downward, still pointers (each set to its real function by
// its own definition or by the shell's InstallProgramHooks, and replaced by
// tests): gCloudHooks.startScreenPreview and requestRender,
// gMainHooks, gProfileHooks (shell entry, at start), gHttpGetToFile,
// gRenderCompose, gTraySetIcon, gViewDialogPreview, gOptionsOurScreenSaver,
// gChooseSaveFile.
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
