// The camera-path dialog (a world map with draggable path points and a list
// with in-place editing, plus the camera-path files of the data folder) and
// the preset dialog (views saved in preset files). Both work on one view of
// the options dialog and run modally on the UI thread.
#pragma once

#include <windows.h>

#include "earth/settings.h"
#include "shell/imageview.h"

enum {
    IDD_CAMERA_PATH = 102,
    IDD_PRESET = 116,
    IDC_PATH_PLACEHOLDER = 1246,
    IDC_PATH_MAP = 400,
    IDC_PATH_POINTS = 1127,
    IDC_PATH_FILES = 1131,
    IDC_PATH_NEW = 1014,
    IDC_PATH_DELETE = 1012,
    IDC_PATH_CLEAR = 1011,
    IDC_PATH_SAVE = 1015,
    IDC_PATH_FILE_DELETE = 1013,
    IDC_PATH_EDIT = 1999,
    IDC_PRESET_LIST = 1132,
    IDC_PRESET_LOAD = 1024,
    IDC_PRESET_SAVE = 1030,
    IDC_PRESET_DELETE = 1019,
    PATH_POINT_BOX = 13,        // the square a point is drawn in
    PATH_PICK_DISTANCE = 6,     // a press this close to a centre picks the point
    PATH_NEW_POINT_MINUTES = 10,
    PATH_SIZE_MESSAGE = 0x8001,
};

// The world map of the camera-path dialog: the camera image with the path
// drawn over it. Points are the dialog's working copy.
class CPathMap : public CImageView {
public:
    CameraPoint *points;
    int8_t *count;
    int selected;                // -1 none
    int dragging;                // -1 none
    RECT lastBox;                // last area repainted while dragging

    CPathMap();
    void PointToPixel(const CameraPoint &point, int *x, int *y) const;
    void PixelToPoint(int x, int y, CameraPoint *point) const;
    // The union of the boxes of points index - 1, index and index + 1.
    RECT PointArea(int index) const;
    // The last point whose centre is within the pick distance, or -1.
    int PickPoint(int x, int y) const;
    void PaintPath(HDC dc);
    void InvalidatePoint(int index);
};
LRESULT CALLBACK PathMapProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Writes point index of the path as row index of the list box (appended
// when the list is shorter): position, tab, minutes, tab, zoom in percent.
void FormatPathRow(HWND list, int index, const CameraPoint *path);
// The first number of the text in degrees, as radians; negative when the
// text holds a "W" or an "S". 0 when there is no digit.
double ParseAngle(const char *text);

INT_PTR CALLBACK CameraPathDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PresetDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// IDOK after writing the view, IDCANCEL with the view as it was.
int ShowCameraPathDialog(HWND owner, ViewOptions *view);
int ShowPresetDialog(HWND owner, ViewOptions *view);

