// The layer dialogs of a view: "Background" (101), "Day view" (105),
// "Night view" (110) and "Clouds" (104). Each edits the view in place so
// that the options dialog's screen preview follows the edits, and puts the
// view back as it was on Cancel.
#pragma once

#include <windows.h>

#include "earth/settings.h"

enum {
    VIEWDLG_BACKGROUND = 101,
    VIEWDLG_CLOUDS = 104,
    VIEWDLG_DAY = 105,
    VIEWDLG_NIGHT = 110,
    VIEWDLG_REFRESH = 0x8001,     // posted: controls from the view
    VIEWDLG_COMMIT = 0x8002,      // posted: controls into the view
    VIEWDLG_PREVIEW_TIMER = 4369,
    VIEWDLG_PREVIEW_MS = 500,
    VIEWDLG_DEFAULTS = 1017,
    VIEWDLG_HELP = 9,
    VIEWDLG_IMAGE_MODES = 20,     // language string: "Fill" ... "Center"
};

// templateId is one of the four above. IDOK with the view edited, IDCANCEL
// with the view exactly as it was (also for an unknown template or when the
// undo copy cannot be allocated).
int ShowViewLayerDialog(HWND owner, int templateId, ViewOptions *view);
