// The options dialog: the program's main window for the user. Modeless, at
// most one (gOptionsDialog). It edits the two view lists of the current
// profile (tab "Wallpaper" = list 0, "Screen Saver" = list 1), shows their
// views on the screen-area selector and the current view's viewpoint on the
// map-area selector, runs the live previews, opens the sub-dialogs (layers,
// cities, camera path, preset, seasonal and additional maps, program options,
// About) and holds the profile controls.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "earth/settings.h"
#include "framework/clamp.h"
#include "shell/areaselector.h"

enum {
    IDD_OPTIONS = 108,

    OPTIONS_REFRESH = 0x8001,   // write every control from the settings
    OPTIONS_COMMIT = 0x8002,    // read every control into the current view

    // Controls.
    IDC_OPT_TABS = 1210,
    IDC_OPT_ACTIVE = 1033,
    IDC_OPT_ACTIVE_MINUTES = 1084,
    IDC_OPT_ACTIVE_SPIN = 1178,
    IDC_OPT_ACTIVE_LABEL = 1212,
    IDC_OPT_UPDATE = 1062,
    IDC_OPT_UPDATE_MINUTES = 1119,
    IDC_OPT_UPDATE_SPIN = 1203,
    IDC_OPT_UPDATE_LABEL = 1241,
    IDC_OPT_SCREEN_AREA = 1248,
    IDC_OPT_MAP_AREA = 1247,
    IDC_OPT_SCREEN_SELECTOR = 401,
    IDC_OPT_MAP_SELECTOR = 402,
    IDC_OPT_MAP = 1077,
    IDC_OPT_SEASONS = 1028,
    IDC_OPT_ZOOM_BAR = 1177,
    IDC_OPT_ZOOM = 1126,
    IDC_OPT_VIEW = 1294,
    IDC_OPT_ADD_VIEW = 1018,
    IDC_OPT_REMOVE_VIEW = 1021,
    IDC_OPT_UP = 1023,
    IDC_OPT_DOWN = 1025,
    IDC_OPT_X = 1108,
    IDC_OPT_Y = 1109,
    IDC_OPT_W = 1110,
    IDC_OPT_H = 1111,
    IDC_OPT_RANDOM_POS = 1055,
    IDC_OPT_RANDOM_SIZE = 1056,
    IDC_OPT_COPY_VIEW = 1011,
    IDC_OPT_PASTE_VIEW = 1012,
    IDC_OPT_PROJECTION = 1079,
    IDC_OPT_BACKGROUND = 1035,
    IDC_OPT_BACKGROUND_MORE = 1003,
    IDC_OPT_DAY = 1042,
    IDC_OPT_DAY_MORE = 1016,
    IDC_OPT_NIGHT = 1050,
    IDC_OPT_NIGHT_MORE = 1026,
    IDC_OPT_CLOUDS = 1041,
    IDC_OPT_CLOUDS_MORE = 1010,
    IDC_OPT_CITIES = 1036,
    IDC_OPT_CITIES_MORE = 1007,
    IDC_OPT_MODE_STATIC = 1152,
    IDC_OPT_MODE_SUN = 1154,
    IDC_OPT_MODE_PATH = 1151,
    IDC_OPT_MODE_RANDOM = 1153,
    IDC_OPT_VIEWPOINT = 1123,
    IDC_OPT_SUN_LAT = 1124,
    IDC_OPT_SUN_LAT_DIR = 1081,
    IDC_OPT_SUN_LON = 1125,
    IDC_OPT_SUN_LON_DIR = 1082,
    IDC_OPT_DEFINE_PATH = 1032,
    IDC_OPT_KEEP_ON_SCREEN = 1064,
    IDC_OPT_OPTIONS = 1027,
    IDC_OPT_PRESET = 1029,
    IDC_OPT_ABOUT = 1000,
    IDC_OPT_PROFILES = 1299,
    IDC_OPT_PROFILE_SETTINGS = 1300,
    IDC_OPT_PROFILE_ADD = 1301,
    IDC_OPT_PROFILE_DELETE = 1302,
    IDC_OPT_QUIT = 1249,
    IDC_OPT_HELP = 9,
    IDC_OPT_APPLY = 1001,
    IDC_OPT_POSITION_LABEL = 1275,
    IDC_OPT_SIZE_LABEL = 1276,
    IDC_OPT_PROJECTION_LABEL = 1284,
    IDC_OPT_MAP_LABEL = 1285,
    IDC_OPT_ZOOM_LABEL = 1286,
    IDC_OPT_PERCENT_LABEL = 1287,

    ZOOM_BAR_MAX = 1000,
    OUTPUT_NONE = -1,
};

// Templates of the layer dialogs.
enum {
    IDD_LAYER_BACKGROUND = 101,
    IDD_LAYER_DAY = 105,
    IDD_LAYER_NIGHT = 110,
    IDD_LAYER_CLOUDS = 104,
};

// The dialog's state (main thread). The snapshots are deep copies.
struct OptionsDialogState {
    int editedList;               // VIEW_LIST_WALLPAPER or VIEW_LIST_SCREENSAVER
    int currentView;              // index into the edited list, -1 none
    ViewList cancelLists[2];      // taken when the dialog is shown
    PrefsRecord cancelPrefs;
    ViewList changeLists[2];      // taken when shown and after every Apply
    PrefsRecord changePrefs;
    ViewList clipboard;           // "Copy View": at most one view
    char lastMap[64];             // szMap last shown in the map list
    char lastViewpointText[32];   // the viewpoint text last read
};
extern OptionsDialogState gOptions;

// Creates the dialog when it does not exist; saverList selects the "Screen
// Saver" tab. Shows it and brings it to the front.
void OpenOptionsDialog(bool saverList);
void CloseOptionsDialog();
// Selects the profile in the list and reloads the dialog from the settings
// (every profile load; nothing while the dialog does not exist).
void OptionsProfileLoaded(const char *name);

// The screen-area selector and the pixel edits follow a display change.
void OptionsDisplayChanged();

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// WM_INITDIALOG's work: 0, or the selector error (the dialog then ends).
int InitOptionsDialog(HWND dialog);
void FillViewCombo(HWND dialog);
// a: the lists now, b: a snapshot. True when they differ in anything but
// the views' tLastUpdate and bActive. Neither list is changed.
bool ViewListsDiffer(const ViewList *a, const ViewList *b);
// The outputs to render against the snapshot: -1 none, 0, 1, 2 both.
int OutputsToRender(const ViewList snapshot[2], const PrefsRecord *snapshotPrefs);

// The viewpoint text of the current view's sSelMap into 1123.
void ShowViewpointText(HWND dialog);
// Parses 1123 into the current view's sSelMap when the text changed since
// the last read; true when it did.
bool ReadViewpointText(HWND dialog);
// The text of a map point (x, y as fractions) and back. Parse: false when
// there is no number at all.
void FormatViewpointText(double x, double y, char *out, int size);
bool ParseViewpointText(const char *text, double *x, double *y);

// Zoom and the trackbar position (0..1000).
int ZoomToTrackbar(double zoom);
double TrackbarToZoom(int position);

// sSelScr and the pixel edits of the output screen (rounded halves away from zero).
void ScreenRectToPixels(const FractionRect *rect, int pixels[4]);

// The selectors of the open dialog.
AreaSelector *OptionsScreenSelector();
AreaSelector *OptionsMapSelector();
