// The few places where a lower layer calls up into a higher one, each a
// function pointer that the higher layer sets. Everything else is a direct
// call: the shell calls the earth model, the imaging library and the
// framework; the earth model calls imaging and the framework; the windows
// and items call the framework. Who sets each pointer, and when, is written
// beside it; a pointer nobody has set keeps its do-nothing default.
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
