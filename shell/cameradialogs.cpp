// The camera-path and preset dialogs.
#include "shell/cameradialogs.h"

#include <commdlg.h>
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windowsx.h>

#include "earth/renderjobs.h"
#include "framework/application.h"
#include "framework/clamp.h"
#include "framework/dialogs.h"
#include "shell/help.h"
#include "shell/optionsdialog.h"
#include "shell/program.h"

namespace {

const double kPi = 3.14159265358979323846;
const double kDegree = kPi / 180.0;
const int kTabStops[3] = {42, 88, 120};   // dialog units of the points list
const uint32_t kErrorFlags = 273;          // stop icon, OK
const uint32_t kConfirmFlags = 392;        // question icon, Yes and No

void OpenHelp(const char *topic)
{
    ShowProgramHelp(topic);
}

const char *ProgramText(int id, int variant, const char *fallback)
{
    const char *text = gApp.strings.GetText((uint16_t)id, variant);
    return text ? text : fallback;
}

// The save-file dialog both dialogs use: filter "<name>\0<pattern>\0",
// starting in the data folder, with the default extension. True with the
// chosen path in path.
bool SystemSaveFile(HWND owner, const char *filter, const char *extension, char *path, int size)
{
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = path;
    ofn.nMaxFile = (DWORD)size;
    ofn.lpstrInitialDir = gApp.dataFolder;
    ofn.lpstrDefExt = extension;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                OFN_EXPLORER | OFN_ENABLESIZING;
    return GetSaveFileNameA(&ofn) != 0;
}

bool ListText(HWND list, int index, char *text, int size)
{
    int length = (int)SendMessageA(list, LB_GETTEXTLEN, (WPARAM)index, 0);
    if (index < 0 || length < 0 || length >= size)
        return false;
    return SendMessageA(list, LB_GETTEXT, (WPARAM)index, (LPARAM)text) != LB_ERR;
}

// The confirmation every file deletion asks; true for Yes.
bool ConfirmDelete(HWND dialog)
{
    const char *text = ProgramText(10, 0, "The selected file will be deleted!\n"
                                          "Do you want to continue?");
    return FrameworkMessageBox(dialog, gApp.productName, "%s", kConfirmFlags, 0, text) == IDYES;
}

// Deletes the data file named by the list's selection, after asking.
bool DeleteSelectedFile(HWND dialog, int listId, const char *extension)
{
    HWND list = GetDlgItem(dialog, listId);
    char name[MAX_PATH], path[MAX_PATH];
    if (!ListText(list, (int)SendMessageA(list, LB_GETCURSEL, 0, 0), name, sizeof name))
        return false;
    if (!ConfirmDelete(dialog))
        return false;
    snprintf(path, sizeof path, "%s\\%s.%s", gApp.dataFolder, name, extension);
    return DeleteFileA(path) != 0;
}

void FillFileList(HWND dialog, int listId, const char *extension)
{
    HWND list = GetDlgItem(dialog, listId);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    ListDataFiles(list, extension);
}

int Round(double value) { return (int)floor(value + 0.5); }

}  // namespace


// ---------------------------------------------------------------- path rows

double ParseAngle(const char *text)
{
    const char *digit = text;
    while (*digit && !isdigit((unsigned char)*digit))
        digit++;
    if (!*digit)
        return 0;
    double radians = atof(digit) * kDegree;
    if (strpbrk(text, "WwSs"))
        radians = -radians;
    return radians;
}

void FormatPathRow(HWND list, int index, const CameraPoint *path)
{
    const CameraPoint &point = path[index];
    char position[96], minutes[32], row[160];
    snprintf(position, sizeof position, "%.1f\260 %s\t%.1f\260 %s   ",
             fabs(point.lat) / kDegree, point.lat < 0 ? "S" : "N", fabs(point.lon) / kDegree,
             point.lon < 0 ? "W" : "E");
    if (index == 0)
        snprintf(minutes, sizeof minutes, "%02d:%02d", point.time / 60 % 24, point.time % 60);
    else
        snprintf(minutes, sizeof minutes, "%d", point.time);
    snprintf(row, sizeof row, "%s\t%s\t%d", position, minutes, Round(point.zoom * 100));

    int rows = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (index >= rows) {
        SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)row);
        return;
    }
    bool wasSelected = SendMessageA(list, LB_GETCURSEL, 0, 0) == index;
    SendMessageA(list, LB_DELETESTRING, (WPARAM)index, 0);
    SendMessageA(list, LB_INSERTSTRING, (WPARAM)index, (LPARAM)row);
    if (wasSelected)
        SendMessageA(list, LB_SETCURSEL, (WPARAM)index, 0);
}

// ---------------------------------------------------------------- path map

CPathMap::CPathMap() : points(0), count(0), selected(-1), dragging(-1)
{
    SetRectEmpty(&lastBox);
}

void CPathMap::PointToPixel(const CameraPoint &point, int *x, int *y) const
{
    *x = (int)((point.lon + kPi) * displayWidth / (2 * kPi));
    *y = (int)((point.lat - kPi / 2) * displayHeight / -kPi);
}

void CPathMap::PixelToPoint(int x, int y, CameraPoint *point) const
{
    if (displayWidth < 1 || displayHeight < 1)
        return;
    point->lon = x * 2 * kPi / displayWidth - kPi;
    point->lat = kPi / 2 - y * kPi / displayHeight;
}

RECT CPathMap::PointArea(int index) const
{
    RECT area;
    SetRectEmpty(&area);
    for (int i = index - 1; i <= index + 1; i++) {
        if (i < 0 || i >= *count)
            continue;
        int x, y;
        PointToPixel(points[i], &x, &y);
        // The 2-pixel pens reach a pixel past the point's box.
        RECT box = {x - PATH_POINT_BOX / 2 - 2, y - PATH_POINT_BOX / 2 - 2,
                    x + PATH_POINT_BOX / 2 + 3, y + PATH_POINT_BOX / 2 + 3};
        UnionRect(&area, &area, &box);
    }
    return area;
}

int CPathMap::PickPoint(int x, int y) const
{
    int found = -1;
    for (int i = 0; i < *count; i++) {
        int px, py;
        PointToPixel(points[i], &px, &py);
        if (abs(px - x) <= PATH_PICK_DISTANCE && abs(py - y) <= PATH_PICK_DISTANCE)
            found = i;
    }
    return found;
}

void CPathMap::PaintPath(HDC dc)
{
    if (!objectsReady || !points || !count)
        return;
    HGDIOBJ oldPen = SelectObject(dc, blackPen), oldBrush = SelectObject(dc, redBrush);
    int previousX = 0, previousY = 0;
    for (int i = 0; i < *count; i++) {
        int x, y;
        PointToPixel(points[i], &x, &y);
        if (i > 0) {
            HPEN pen = i == selected ? greenPen : points[i].time != 0 ? redPen : bluePen;
            SelectObject(dc, pen);
            MoveToEx(dc, previousX, previousY, 0);
            LineTo(dc, x, y);
        }
        SelectObject(dc, blackPen);
        SelectObject(dc, i == selected ? greenBrush : redBrush);
        Ellipse(dc, x - PATH_POINT_BOX / 2, y - PATH_POINT_BOX / 2, x + PATH_POINT_BOX / 2 + 1,
                y + PATH_POINT_BOX / 2 + 1);
        previousX = x;
        previousY = y;
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
}

void CPathMap::InvalidatePoint(int index)
{
    if (!window)
        return;
    RECT area = PointArea(index);
    InvalidateRect(window, &area, FALSE);
}

static void NotifyPathParent(CPathMap *map)
{
    SendMessageA(map->parent, WM_COMMAND, MAKEWPARAM(IDC_PATH_MAP, 0), (LPARAM)map->window);
}

static void DragPointTo(CPathMap *map, int x, int y)
{
    ClampToRange(&x, 0, map->displayWidth);
    ClampToRange(&y, 0, map->displayHeight);
    map->PixelToPoint(x, y, &map->points[map->dragging]);
    RECT area = map->PointArea(map->dragging), both;
    UnionRect(&both, &area, &map->lastBox);
    InvalidateRect(map->window, &both, FALSE);
    map->lastBox = area;
    NotifyPathParent(map);
}

LRESULT CALLBACK PathMapProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CPathMap *map = static_cast<CPathMap *>(CImageView::FromWindow(window));
    if (!map)
        return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        map->Paint(dc);
        map->PaintPath(dc);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_PRINTCLIENT:
        map->Paint((HDC)wParam);
        map->PaintPath((HDC)wParam);
        return 0;
    case WM_LBUTTONDOWN: {
        SetCapture(window);
        int picked = map->PickPoint(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        if (picked < 0)
            return 0;
        int before = map->selected;
        map->selected = map->dragging = picked;
        map->lastBox = map->PointArea(picked);
        map->InvalidatePoint(before);
        map->InvalidatePoint(picked);
        NotifyPathParent(map);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (map->dragging >= 0 && map->dragging < *map->count)
            DragPointTo(map, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        map->dragging = -1;
        if (message == WM_LBUTTONUP && GetCapture() == window)
            ReleaseCapture();
        return 0;
    case PATH_SIZE_MESSAGE:
        map->Layout();
        InvalidateRect(window, 0, FALSE);
        return 0;
    }
    return CImageView::WindowProc(window, message, wParam, lParam);
}

// ---------------------------------------------------------------- camera path dialog

namespace {

enum { CAMERA_REFRESH = 0x8001 };

struct CameraPathState {
    ViewOptions *view;
    ViewOptions *work;
    CPathMap map;
    InPlaceEdit edit;
    int editRow, editColumn;
    WNDPROC listProc;
    LPARAM lastListClick;    // where the points list was last pressed
};

CameraPathState *sCameraState;   // the open dialog, for the camera image hooks

CameraPathState *CameraStateOf(HWND dialog)
{
    return (CameraPathState *)GetWindowLongPtrA(dialog, DWLP_USER);
}

void ShowCameraImage(const char *path)
{
    if (sCameraState)
        sCameraState->map.LoadImage(path);
}

void ClearCameraCaption()
{
    if (!sCameraState)
        return;
    sCameraState->map.overlayText[0] = 0;
    if (sCameraState->map.window)
        InvalidateRect(sCameraState->map.window, 0, FALSE);
}

// The camera image renders on this thread, into the map, with the hooks
// of the options dialog put back afterwards.
void RenderPathBackground(CameraPathState *state)
{
    PreviewHooks saved = gPreviewHooks;
    CopyText(state->map.overlayText, "Rendering...", sizeof state->map.overlayText);
    // The picture is a 2:1 world map: size the control for it first, so it is
    // rendered at the width it is shown at, whatever the dialog font makes
    // of the placeholder's shape.
    state->map.FitToPlaceholder(2.0);
    gPreviewHooks.cameraImageWidth = state->map.displayWidth;
    gPreviewHooks.showCameraImage = ShowCameraImage;
    gPreviewHooks.clearCameraCaption = ClearCameraCaption;
    RenderCameraImage();
    gPreviewHooks = saved;
    state->map.overlayText[0] = 0;
}

LRESULT CALLBACK PointsListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    CameraPathState *state = CameraStateOf(GetParent(list));
    if (!state)
        return DefWindowProcA(list, message, wParam, lParam);
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK)
        state->lastListClick = lParam;
    return CallWindowProcA(state->listProc, list, message, wParam, lParam);
}

// The pixel where each column of the points list begins; [3] = 4 columns.
void ColumnStarts(HWND dialog, int starts[4])
{
    starts[0] = 0;
    for (int i = 0; i < 3; i++) {
        RECT r = {kTabStops[i], 0, 0, 0};
        MapDialogRect(dialog, &r);
        starts[i + 1] = r.left;
    }
}

void RefreshCamera(HWND dialog, CameraPathState *state)
{
    HWND list = GetDlgItem(dialog, IDC_PATH_POINTS);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < state->work->iCamSteps; i++)
        FormatPathRow(list, i, state->work->sCamPath);
    if (state->map.selected >= state->work->iCamSteps)
        state->map.selected = state->work->iCamSteps - 1;
    SendMessageA(list, LB_SETCURSEL, (WPARAM)state->map.selected, 0);
    FillFileList(dialog, IDC_PATH_FILES, "vtc");
    if (state->map.window)
        InvalidateRect(state->map.window, 0, FALSE);
}

void InitCameraDialog(HWND dialog, ViewOptions *view)
{
    CameraPathState *state = new CameraPathState();
    state->view = view;
    state->work = CopyOfView(view);
    if (!state->work) {
        delete state;
        EndDialog(dialog, IDCANCEL);
        return;
    }
    int steps = state->work->iCamSteps;
    ClampToRange(&steps, 0, CAMERA_PATH_POINTS);
    state->work->iCamSteps = (int8_t)steps;
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
    sCameraState = state;
    InitDialog(dialog);

    CPathMap &map = state->map;
    map.points = state->work->sCamPath;
    map.count = &state->work->iCamSteps;
    if (map.Create(dialog, IDC_PATH_PLACEHOLDER, IDC_PATH_MAP) == 0)
        SetWindowLongPtrA(map.window, GWLP_WNDPROC, (LONG_PTR)PathMapProc);
    RenderPathBackground(state);

    HWND list = GetDlgItem(dialog, IDC_PATH_POINTS);
    SendMessageA(list, LB_SETTABSTOPS, 3, (LPARAM)kTabStops);
    state->listProc = (WNDPROC)SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)PointsListProc);
    state->edit.edit = 0;
    RefreshCamera(dialog, state);
}

void AddPoint(HWND dialog, CameraPathState *state)
{
    ViewOptions *work = state->work;
    if (work->iCamSteps >= CAMERA_PATH_POINTS)
        return;
    int index = work->iCamSteps++;
    CameraPoint &point = work->sCamPath[index];
    point.lat = point.lon = 0;
    point.zoom = 1;
    point.time = PATH_NEW_POINT_MINUTES;
    state->map.selected = index;
    state->map.InvalidatePoint(index);
    HWND list = GetDlgItem(dialog, IDC_PATH_POINTS);
    FormatPathRow(list, index, work->sCamPath);
    SendMessageA(list, LB_SETCURSEL, (WPARAM)index, 0);
}

void DeletePoint(HWND dialog, CameraPathState *state)
{
    ViewOptions *work = state->work;
    int index = state->map.selected;
    if (index < 0 || index >= work->iCamSteps)
        return;
    memmove(&work->sCamPath[index], &work->sCamPath[index + 1],
            (work->iCamSteps - index - 1) * sizeof(CameraPoint));
    work->iCamSteps--;
    RefreshCamera(dialog, state);
}

// Text of one tab-separated column of the row, without trailing blanks.
void ColumnText(const char *row, int column, char *out, int size)
{
    const char *start = row;
    for (int i = 0; i < column && start; i++) {
        start = strchr(start, '\t');
        if (start)
            start++;
    }
    out[0] = 0;
    if (!start)
        return;
    const char *end = strchr(start, '\t');
    int length = end ? (int)(end - start) : (int)strlen(start);
    while (length > 0 && start[length - 1] == ' ')
        length--;
    if (length >= size)
        length = size - 1;
    memcpy(out, start, (size_t)length);
    out[length] = 0;
}

void OpenPointEdit(HWND dialog, CameraPathState *state)
{
    HWND list = GetDlgItem(dialog, IDC_PATH_POINTS);
    int row = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    char text[160], cell[64];
    if (row < 0 || row >= state->work->iCamSteps || !ListText(list, row, text, sizeof text))
        return;
    if (state->edit.edit)
        DestroyWindow(state->edit.edit);
    int starts[4], x = GET_X_LPARAM(state->lastListClick), column = 0;
    ColumnStarts(dialog, starts);
    while (column < 3 && x >= starts[column + 1])
        column++;
    RECT item, client;
    SendMessageA(list, LB_GETITEMRECT, (WPARAM)row, (LPARAM)&item);
    GetClientRect(list, &client);
    int right = column < 3 ? starts[column + 1] : client.right;
    ColumnText(text, column, cell, sizeof cell);
    HWND edit = CreateWindowExA(0, "EDIT", cell, WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                starts[column], item.top - 2, right - starts[column],
                                item.bottom - item.top + 4, list, (HMENU)IDC_PATH_EDIT,
                                GetModuleHandleA(0), 0);
    if (!edit)
        return;
    SendMessageA(edit, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), TRUE);
    state->editRow = row;
    state->editColumn = column;
    StartInPlaceEdit(&state->edit, edit, dialog, IDC_PATH_EDIT);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

// The first point's time of day as "hours:minutes".
int ParseTimeOfDay(const char *text, int old)
{
    int hours = 0, minutes = 0;
    if (sscanf(text, "%d:%d", &hours, &minutes) < 1)
        return old;
    ClampToRange(&hours, 0, 23);
    ClampToRange(&minutes, 0, 59);
    return hours * 60 + minutes;
}

void CommitPointEdit(HWND dialog, CameraPathState *state)
{
    int row = state->editRow;
    if (row < 0 || row >= state->work->iCamSteps)
        return;
    CameraPoint &point = state->work->sCamPath[row];
    const char *text = state->edit.text;
    switch (state->editColumn) {
    case 0:
        point.lat = ParseAngle(text);
        // Beyond a pole the point would leave the map.
        if (fabs(point.lat) > kPi / 2)
            point.lat = point.lat < 0 ? -kPi / 2 : kPi / 2;
        break;
    case 1:
        point.lon = ParseAngle(text);
        if (fabs(point.lon) > kPi)
            point.lon = point.lon < 0 ? -kPi : kPi;
        break;
    case 2:
        if (row == 0) {
            point.time = ParseTimeOfDay(text, point.time);
        } else {
            int minutes = point.time;
            // A negative time would end the path when it is saved.
            if (sscanf(text, "%d", &minutes) == 1)
                point.time = minutes < 0 ? 0 : minutes;
        }
        break;
    case 3: {
        double percent = 0;
        // A zoom of zero or less has no picture.
        if (sscanf(text, "%lf", &percent) == 1 && percent > 0)
            point.zoom = percent / 100;
        break;
    }
    }
    if (state->map.window)
        InvalidateRect(state->map.window, 0, FALSE);
    FormatPathRow(GetDlgItem(dialog, IDC_PATH_POINTS), row, state->work->sCamPath);
}

void LoadPathFile(HWND dialog, CameraPathState *state)
{
    HWND list = GetDlgItem(dialog, IDC_PATH_FILES);
    char name[MAX_PATH];
    if (!ListText(list, (int)SendMessageA(list, LB_GETCURSEL, 0, 0), name, sizeof name))
        return;
    CameraPath path;
    memset(path, 0, sizeof path);
    if (CameraPathIO(0, path, "%s\\%s.%s", gApp.dataFolder, name, "vtc") != 0)
        return;
    memcpy(state->work->sCamPath, path, sizeof path);
    int steps = 0;
    while (steps < CAMERA_PATH_POINTS && path[steps].time != -1)
        steps++;
    state->work->iCamSteps = (int8_t)steps;
    state->map.selected = -1;
    RefreshCamera(dialog, state);
}

void SavePathFile(HWND dialog, CameraPathState *state)
{
    char file[MAX_PATH] = "";
    if (!SystemSaveFile(dialog, "Veltaspar Camera Paths\0*.vtc\0", "vtc", file, sizeof file))
        return;
    CameraPath path;
    memcpy(path, state->work->sCamPath, sizeof path);
    int steps = state->work->iCamSteps;
    if (steps < CAMERA_PATH_POINTS) {
        memset(&path[steps], 0, sizeof path[steps]);
        path[steps].time = -1;
    }
    if (CameraPathIO(1, path, "%s", file) != 0)
        FrameworkMessageBox(dialog, gApp.productName, "%s", kErrorFlags, 0,
                            ProgramText(105, 0, "The camera path could not be saved!"));
    RefreshCamera(dialog, state);
}

void CameraCommand(HWND dialog, CameraPathState *state, int id, int code)
{
    switch (id) {
    case IDC_PATH_NEW:
        AddPoint(dialog, state);
        break;
    case IDC_PATH_DELETE:
        DeletePoint(dialog, state);
        break;
    case IDC_PATH_CLEAR:
        state->work->iCamSteps = 0;
        state->map.selected = -1;
        RefreshCamera(dialog, state);
        break;
    case IDC_PATH_POINTS:
        if (code == LBN_SELCHANGE) {
            state->map.selected =
                (int)SendDlgItemMessageA(dialog, IDC_PATH_POINTS, LB_GETCURSEL, 0, 0);
            InvalidateRect(state->map.window, 0, FALSE);
        } else if (code == LBN_DBLCLK) {
            OpenPointEdit(dialog, state);
        }
        break;
    case IDC_PATH_EDIT:
        CommitPointEdit(dialog, state);
        break;
    case IDC_PATH_MAP: {
        HWND list = GetDlgItem(dialog, IDC_PATH_POINTS);
        if (state->map.selected >= 0)
            FormatPathRow(list, state->map.selected, state->work->sCamPath);
        SendMessageA(list, LB_SETCURSEL, (WPARAM)state->map.selected, 0);
        break;
    }
    case IDC_PATH_FILES:
        if (code == LBN_DBLCLK)
            LoadPathFile(dialog, state);
        break;
    case IDC_PATH_SAVE:
        SavePathFile(dialog, state);
        break;
    case IDC_PATH_FILE_DELETE:
        if (DeleteSelectedFile(dialog, IDC_PATH_FILES, "vtc"))
            RefreshCamera(dialog, state);
        break;
    case IDOK:
        memcpy(state->view, state->work, sizeof(ViewOptions));
        EndDialog(dialog, IDOK);
        break;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        break;
    case 9:
        OpenHelp("Viewpoint.htm");
        break;
    }
}

void DestroyCameraDialog(HWND dialog, CameraPathState *state)
{
    SetWindowLongPtrA(dialog, DWLP_USER, 0);
    if (sCameraState == state)
        sCameraState = 0;
    HWND list = GetDlgItem(dialog, IDC_PATH_POINTS);
    if (list && state->listProc)
        SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)state->listProc);
    state->map.Destroy();
    free(state->work);
    delete state;
}

}  // namespace

INT_PTR CALLBACK CameraPathDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        InitCameraDialog(dialog, (ViewOptions *)lParam);
        return FALSE;   // the focus is set
    }
    CameraPathState *state = CameraStateOf(dialog);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        CameraCommand(dialog, state, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case CAMERA_REFRESH:
        RefreshCamera(dialog, state);
        return TRUE;
    case WM_HELP:
        OpenHelp("Viewpoint.htm");
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        return FALSE;
    case WM_DESTROY:
        DestroyCameraDialog(dialog, state);
        return FALSE;
    }
    return FALSE;
}

int ShowCameraPathDialog(HWND owner, ViewOptions *view)
{
    if (!view)
        return IDCANCEL;
    int result = DoModal(owner, IDD_CAMERA_PATH, CameraPathDialogProc, (LPARAM)view);
    return result == IDOK ? IDOK : IDCANCEL;
}

// ---------------------------------------------------------------- preset dialog

namespace {

struct PresetState {
    ViewOptions *view;
    ViewOptions *saved;   // the view before the dialog, for Cancel
};

PresetState *PresetStateOf(HWND dialog)
{
    return (PresetState *)GetWindowLongPtrA(dialog, DWLP_USER);
}

// The options dialog, when open, refreshes its controls and previews.
void TellViewChanged()
{
    if (gOptionsDialog)
        SendMessageA(gOptionsDialog, OPTIONS_REFRESH, 0, 0);
}

// A preset's first view replaces the current view at once (live preview).
void LoadSelectedPreset(HWND dialog, PresetState *state)
{
    HWND list = GetDlgItem(dialog, IDC_PRESET_LIST);
    char name[MAX_PATH];
    if (!ListText(list, (int)SendMessageA(list, LB_GETCURSEL, 0, 0), name, sizeof name))
        return;
    ViewList loaded;
    if (ViewOptionsIO(0, &loaded, "%s\\%s.%s", gApp.dataFolder, name, "vtp") == 0 &&
        loaded.count > 0) {
        memcpy(state->view, &loaded.data[0], sizeof(ViewOptions));
        TellViewChanged();
    }
    loaded.RemoveAll();
}

void SavePreset(HWND dialog, PresetState *state)
{
    char file[MAX_PATH] = "";
    if (!SystemSaveFile(dialog, "Veltaspar Presets\0*.vtp\0", "vtp", file, sizeof file))
        return;
    ViewList one;
    int result = 1;
    if (ResizeViewList(&one, 1)) {
        memcpy(&one.data[0], state->view, sizeof(ViewOptions));
        result = ViewOptionsIO(1, &one, "%s", file);
    }
    one.RemoveAll();
    if (result != 0)
        FrameworkMessageBox(dialog, gApp.productName, "%s", kErrorFlags, 0,
                            ProgramText(104, 0, "The preset could not be saved!"));
    FillFileList(dialog, IDC_PRESET_LIST, "vtp");
}

void PresetCommand(HWND dialog, PresetState *state, int id, int code)
{
    switch (id) {
    case IDC_PRESET_LIST:
        if (code == LBN_SELCHANGE) {
            LoadSelectedPreset(dialog, state);
        } else if (code == LBN_DBLCLK) {
            // The list must not keep the pressed button once the dialog is gone.
            SendDlgItemMessageA(dialog, IDC_PRESET_LIST, WM_LBUTTONUP, 0, 0);
            EndDialog(dialog, IDOK);
        }
        break;
    case IDC_PRESET_LOAD:
    case IDOK:
        EndDialog(dialog, IDOK);
        break;
    case IDCANCEL:
        memcpy(state->view, state->saved, sizeof(ViewOptions));
        TellViewChanged();
        EndDialog(dialog, IDCANCEL);
        break;
    case IDC_PRESET_SAVE:
        SavePreset(dialog, state);
        break;
    case IDC_PRESET_DELETE:
        if (DeleteSelectedFile(dialog, IDC_PRESET_LIST, "vtp"))
            FillFileList(dialog, IDC_PRESET_LIST, "vtp");
        break;
    case 9:
        OpenHelp("MainDialog.htm");
        break;
    }
}

}  // namespace

INT_PTR CALLBACK PresetDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        PresetState *state = new PresetState();
        state->view = (ViewOptions *)lParam;
        state->saved = CopyOfView(state->view);
        if (!state->saved) {
            delete state;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
        InitDialog(dialog);
        FillFileList(dialog, IDC_PRESET_LIST, "vtp");
        return FALSE;
    }
    PresetState *state = PresetStateOf(dialog);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        PresetCommand(dialog, state, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_HELP:
        OpenHelp("MainDialog.htm");
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        return FALSE;
    case WM_DESTROY:
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        free(state->saved);
        delete state;
        return FALSE;
    }
    return FALSE;
}

int ShowPresetDialog(HWND owner, ViewOptions *view)
{
    if (!view)
        return IDCANCEL;
    int result = DoModal(owner, IDD_PRESET, PresetDialogProc, (LPARAM)view);
    return result == IDOK ? IDOK : IDCANCEL;
}
