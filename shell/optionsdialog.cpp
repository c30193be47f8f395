// The options dialog: the modeless window in which the user edits the
// current profile's two view lists. It keeps a working copy of the lists,
// shows the views on the screen-area selector and the viewpoint on the map,
// runs the live previews, opens the sub-dialogs and commits on OK or Apply;
// Cancel gives the kept copy back. Also the small pure helpers (zoom and
// trackbar, screen rectangles in pixels) its tests check on their own.
#include "shell/optionsdialog.h"

#include <commctrl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "earth/compositor.h"
#include "earth/mapfile.h"
#include "earth/renderjobs.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/clamp.h"
#include "framework/dialogs.h"
#include "framework/filefind.h"
#include "framework/messages.h"
#include "framework/utilities.h"
#include "shell/aboutdialog.h"
#include "shell/cameradialogs.h"
#include "shell/citiesdialog.h"
#include "shell/desktop.h"
#include "shell/help.h"
#include "shell/mainwindow.h"
#include "shell/mapdialogs.h"
#include "shell/optionspages.h"
#include "shell/profiledialogs.h"
#include "shell/profiles.h"
#include "shell/program.h"
#include "shell/viewdialogs.h"

static const double kPi = 3.14159265358979323846;
// Language string 10 variant 2, should the table not have it.
static const char kDeleteProfileQuestion[] =
    "The selected profile will be deleted permanently!\nDo you want to continue?";

OptionsDialogState gOptions;

static AreaSelector sScreenSelector, sMapSelector;
// Set while the dialog writes its own controls: their change notifications
// are not the user's.
static bool sWriting = false;

AreaSelector *OptionsScreenSelector() { return &sScreenSelector; }
AreaSelector *OptionsMapSelector() { return &sMapSelector; }

// ---------------------------------------------------------------- pure helpers

int ZoomToTrackbar(double zoom)
{
    double position = zoom <= 1 ? (zoom - 0.01) * 500 / 0.99 : (zoom - 1) * 125 + 500;
    int rounded = RoundHalfAway(position);
    return rounded < 0 ? 0 : rounded > ZOOM_BAR_MAX ? ZOOM_BAR_MAX : rounded;
}

double TrackbarToZoom(int position)
{
    if (position > 500)
        return (position - 500) * 4.0 / 500 + 1;
    return position * 0.99 / 500 + 0.01;
}

void ScreenRectToPixels(const FractionRect *rect, int pixels[4])
{
    const double *p = rect->p;
    pixels[0] = RoundHalfAway(p[0] * gScreenW + gScreenX);
    pixels[1] = RoundHalfAway(p[1] * gScreenH + gScreenY);
    pixels[2] = RoundHalfAway((p[2] - p[0]) * gScreenW);
    pixels[3] = RoundHalfAway((p[3] - p[1]) * gScreenH);
}

void FormatViewpointText(double x, double y, char *out, int size)
{
    double latitude = (kPi / 2 - y * kPi) * 180 / kPi;
    double longitude = (x * 2 * kPi - kPi) * 180 / kPi;
    snprintf(out, size, "%.2f\260 %s   %.2f\260 %s", fabs(latitude), latitude < 0 ? "S" : "N",
             fabs(longitude), longitude < 0 ? "W" : "E");
    for (char *c = out; *c; c++)
        if (*c == ',')
            *c = '.';
}

// The next number after skipping what is not a digit; false at the end.
static bool NextNumber(const char **cursor, double *value)
{
    const char *c = *cursor;
    while (*c && !(*c >= '0' && *c <= '9') && !(*c == '.' && c[1] >= '0' && c[1] <= '9'))
        c++;
    if (!*c)
        return false;
    char *end = 0;
    *value = strtod(c, &end);
    *cursor = end && end > c ? end : c + 1;
    return true;
}

bool ParseViewpointText(const char *source, double *x, double *y)
{
    char text[32];
    CopyText(text, source ? source : "", sizeof text);
    for (char *c = text; *c; c++)
        if (*c == ',')
            *c = '.';
    const char *cursor = text;
    double latitude = 0, longitude = 0;
    if (!NextNumber(&cursor, &latitude))
        return false;
    if (!NextNumber(&cursor, &longitude))
        longitude = 0;
    if (strchr(text, 'S'))
        latitude = -latitude;
    if (strchr(text, 'W'))
        longitude = -longitude;
    latitude = latitude > 90 ? 90 : latitude < -90 ? -90 : latitude;
    longitude = longitude > 180 ? 180 : longitude < -180 ? -180 : longitude;
    latitude *= kPi / 180;
    longitude *= kPi / 180;
    *x = (longitude + kPi) / (2 * kPi);
    *y = (kPi / 2 - latitude) / kPi;
    return true;
}

// Compared on a scratch copy: the snapshot must stay what it was, since
// Cancel restores from it.
bool ViewListsDiffer(const ViewList *a, const ViewList *b)
{
    if (a->count != b->count)
        return true;
    if (a->count == 0)
        return false;
    ViewOptions *scratch = (ViewOptions *)malloc(sizeof(ViewOptions));
    if (!scratch)
        return true;   // cannot tell: render rather than miss a change
    bool differ = false;
    for (int i = 0; i < a->count && !differ; i++) {
        memcpy(scratch, &b->data[i], sizeof(ViewOptions));
        scratch->tLastUpdate = a->data[i].tLastUpdate;
        scratch->bActive = a->data[i].bActive;
        differ = memcmp(scratch, &a->data[i], sizeof(ViewOptions)) != 0;
    }
    free(scratch);
    return differ;
}

static bool RenderPrefsDiffer(const PrefsRecord *snapshot)
{
    return gPrefs.iTimeBias != snapshot->iTimeBias || gPrefs.iTransMove != snapshot->iTransMove ||
           gPrefs.iCloudsData != snapshot->iCloudsData ||
           gPrefs.iCloudsRes != snapshot->iCloudsRes;
}

int OutputsToRender(const ViewList snapshot[2], const PrefsRecord *snapshotPrefs)
{
    if (RenderPrefsDiffer(snapshotPrefs))
        return RENDER_BOTH_OUTPUTS;
    bool wallpaper = ViewListsDiffer(&gViewLists[0], &snapshot[0]);
    bool saver = ViewListsDiffer(&gViewLists[1], &snapshot[1]);
    if (wallpaper && saver)
        return RENDER_BOTH_OUTPUTS;
    return wallpaper ? 0 : saver ? 1 : OUTPUT_NONE;
}

// ---------------------------------------------------------------- lists

static ViewList *EditedList()
{
    return &gViewLists[gOptions.editedList ? 1 : 0];
}

static ViewOptions *CurrentView()
{
    ViewList *list = EditedList();
    int i = gOptions.currentView;
    return i >= 0 && i < list->count ? &list->data[i] : 0;
}

static bool CopyViewList(ViewList *to, const ViewList *from)
{
    to->RemoveAll();
    return from->count < 1 || to->InsertAt(from->data, 0, from->count) >= 0;
}

static void TakeSnapshot(ViewList lists[2], PrefsRecord *prefs)
{
    for (int i = 0; i < 2; i++)
        CopyViewList(&lists[i], &gViewLists[i]);
    memcpy(prefs, &gPrefs, sizeof gPrefs);
}

static void FreeSnapshots()
{
    for (int i = 0; i < 2; i++) {
        gOptions.cancelLists[i].RemoveAll();
        gOptions.changeLists[i].RemoveAll();
    }
}

// ---------------------------------------------------------------- previews

static void ShowScreenPreviewPicture(const char *path)
{
    sScreenSelector.LoadImage(path);
}

static void ShowMapPreviewPicture(const char *path)
{
    sMapSelector.LoadImage(path);
}

static void TellPreviews()
{
    gPreviewHooks.list = EditedList();
    gPreviewHooks.viewIndex = gOptions.currentView;
    gPreviewHooks.screenPreviewWidth = sScreenSelector.window ? sScreenSelector.displayWidth : 0;
    gPreviewHooks.mapPreviewWidth = sMapSelector.window ? sMapSelector.displayWidth : 0;
    gPreviewHooks.showScreenPreview = ShowScreenPreviewPicture;
    gPreviewHooks.showMapPreview = ShowMapPreviewPicture;
}

// The previews may still run: stop them before their views go.
static void ForgetPreviews()
{
    gRenderJobs.cancel[RENDER_JOB_SCREEN_PREVIEW] = 1;
    gRenderJobs.cancel[RENDER_JOB_MAP_PREVIEW] = 1;
    for (int round = 0; round < RENDER_WAIT_ROUNDS; round++) {
        if (!gRenderJobs.running[RENDER_JOB_SCREEN_PREVIEW] &&
            !gRenderJobs.running[RENDER_JOB_MAP_PREVIEW])
            break;
        Sleep(RENDER_WAIT_ROUND_MS);
    }
    gPreviewHooks.screenPreviewWidth = gPreviewHooks.mapPreviewWidth = 0;
    gPreviewHooks.showScreenPreview = gPreviewHooks.showMapPreview = 0;
    gPreviewHooks.list = 0;
}

static void StartScreenPreviewNow()
{
    TellPreviews();
    StartScreenPreview();
}

static void StartMapPreviewNow()
{
    TellPreviews();
    StartMapPreview();
}

// ---------------------------------------------------------------- small control helpers

static void SetText(HWND dialog, int id, const char *text)
{
    bool was = sWriting;
    sWriting = true;
    SetDlgItemTextA(dialog, id, text);
    sWriting = was;
}

static void SetNumber(HWND dialog, int id, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    SetText(dialog, id, text);
}

// False for an empty edit; else the value clamped to min..max.
static bool ReadNumber(HWND dialog, int id, int min, int max, int *value)
{
    char text[32];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    char *c = text;
    while (*c == ' ')
        c++;
    if (!*c)
        return false;
    long v = strtol(c, 0, 10);
    *value = v < min ? min : v > max ? max : (int)v;
    return true;
}

static void Enable(HWND dialog, int id, bool enable)
{
    EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

static void Show(HWND dialog, int id, bool show)
{
    ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

static void AddComboText(HWND dialog, int id, const char *text)
{
    SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, (LPARAM)text);
}

static int ComboSelection(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
}

static void SelectCombo(HWND dialog, int id, int index)
{
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, (WPARAM)index, 0);
}

// ---------------------------------------------------------------- viewpoint text

void ShowViewpointText(HWND dialog)
{
    ViewOptions *view = CurrentView();
    char text[64] = "";
    if (view)
        FormatViewpointText(view->sSelMap.p[0], view->sSelMap.p[1], text, sizeof text);
    SetText(dialog, IDC_OPT_VIEWPOINT, text);
    CopyText(gOptions.lastViewpointText, text, sizeof gOptions.lastViewpointText);
}

bool ReadViewpointText(HWND dialog)
{
    ViewOptions *view = CurrentView();
    char text[32];
    GetDlgItemTextA(dialog, IDC_OPT_VIEWPOINT, text, sizeof text);
    if (!view || !strcmp(text, gOptions.lastViewpointText))
        return false;
    CopyText(gOptions.lastViewpointText, text, sizeof gOptions.lastViewpointText);
    double x, y;
    if (!ParseViewpointText(text, &x, &y))
        return false;
    view->sSelMap.p[0] = x;
    view->sSelMap.p[1] = y;
    return true;
}

// ---------------------------------------------------------------- selectors

static void LoadScreenItems()
{
    sScreenSelector.items.RemoveAll();
    ViewList *list = EditedList();
    for (int i = 0; i < list->count; i++)
        sScreenSelector.AddItem(list->data[i].sSelScr, i);
    sScreenSelector.selected = gOptions.currentView;
}

static void LoadMapPoint()
{
    sMapSelector.items.RemoveAll();
    ViewOptions *view = CurrentView();
    if (view)
        sMapSelector.AddPoint(view->sSelMap.p[0], view->sSelMap.p[1]);
    sMapSelector.selected = view ? 0 : -1;
}

static void RedrawSelectors()
{
    sScreenSelector.Redraw(true);
    sMapSelector.Redraw(true);
}

void FillViewCombo(HWND dialog)
{
    SendDlgItemMessageA(dialog, IDC_OPT_VIEW, CB_RESETCONTENT, 0, 0);
    ViewList *list = EditedList();
    for (int i = 0; i < list->count; i++) {
        char text[16];
        snprintf(text, sizeof text, "%d", i + 1);
        AddComboText(dialog, IDC_OPT_VIEW, text);
    }
    SelectCombo(dialog, IDC_OPT_VIEW, gOptions.currentView);
}

// After the lists changed under the dialog (tab, profile, Cancel of a sub-dialog).
static void ReloadFromLists(HWND dialog)
{
    gOptions.currentView = EditedList()->count - 1;
    LoadScreenItems();
    LoadMapPoint();
    FillViewCombo(dialog);
    gOptions.lastMap[0] = 0;
    SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
}

// ---------------------------------------------------------------- refresh

static const int kPerViewControls[] = {
    IDC_OPT_POSITION_LABEL, IDC_OPT_SIZE_LABEL, IDC_OPT_X, IDC_OPT_Y, IDC_OPT_W, IDC_OPT_H,
    IDC_OPT_RANDOM_POS, IDC_OPT_RANDOM_SIZE, IDC_OPT_BACKGROUND, IDC_OPT_BACKGROUND_MORE,
    IDC_OPT_DAY, IDC_OPT_DAY_MORE, IDC_OPT_NIGHT, IDC_OPT_NIGHT_MORE, IDC_OPT_CLOUDS,
    IDC_OPT_CLOUDS_MORE, IDC_OPT_CITIES, IDC_OPT_CITIES_MORE, IDC_OPT_PROJECTION_LABEL,
    IDC_OPT_PROJECTION, IDC_OPT_MAP_LABEL, IDC_OPT_MAP, IDC_OPT_SEASONS, IDC_OPT_ZOOM_LABEL,
    IDC_OPT_ZOOM_BAR, IDC_OPT_ZOOM, IDC_OPT_PERCENT_LABEL, IDC_OPT_MODE_STATIC,
    IDC_OPT_MODE_SUN, IDC_OPT_MODE_PATH, IDC_OPT_MODE_RANDOM, IDC_OPT_VIEWPOINT,
    IDC_OPT_SUN_LAT, IDC_OPT_SUN_LAT_DIR, IDC_OPT_SUN_LON, IDC_OPT_SUN_LON_DIR,
    IDC_OPT_DEFINE_PATH, IDC_OPT_KEEP_ON_SCREEN, IDC_OPT_COPY_VIEW,
};

static void RefreshFirstView(HWND dialog)
{
    bool saver = gOptions.editedList == VIEW_LIST_SCREENSAVER;
    SetText(dialog, IDC_OPT_ACTIVE, saver ? "Activate after" : "Active");
    Show(dialog, IDC_OPT_ACTIVE_MINUTES, saver);
    Show(dialog, IDC_OPT_ACTIVE_SPIN, saver);
    Show(dialog, IDC_OPT_ACTIVE_LABEL, saver);
    ViewOptions *first = FirstView(gOptions.editedList);
    CheckDlgButton(dialog, IDC_OPT_ACTIVE, first && first->bActive ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OPT_UPDATE, first && first->bUpdate ? BST_CHECKED : BST_UNCHECKED);
    SetNumber(dialog, IDC_OPT_ACTIVE_MINUTES, first ? first->iActive : 10);
    SetNumber(dialog, IDC_OPT_UPDATE_MINUTES, first ? first->iUpdate : 10);
    bool active = first && first->bActive, update = first && first->bUpdate;
    Enable(dialog, IDC_OPT_ACTIVE, first != 0);
    Enable(dialog, IDC_OPT_UPDATE, first != 0);
    Enable(dialog, IDC_OPT_ACTIVE_MINUTES, active);
    Enable(dialog, IDC_OPT_ACTIVE_SPIN, active);
    Enable(dialog, IDC_OPT_ACTIVE_LABEL, active);
    Enable(dialog, IDC_OPT_UPDATE_MINUTES, update);
    Enable(dialog, IDC_OPT_UPDATE_SPIN, update);
    Enable(dialog, IDC_OPT_UPDATE_LABEL, update);
}

static void RefreshMap(HWND dialog, ViewOptions *view)
{
    int found = (int)SendDlgItemMessageA(dialog, IDC_OPT_MAP, CB_FINDSTRINGEXACT, (WPARAM)-1,
                                         (LPARAM)view->szMap);
    SelectCombo(dialog, IDC_OPT_MAP, found);
    if (!strcmp(view->szMap, gOptions.lastMap))
        return;
    char path[MAX_TEXT];
    snprintf(path, sizeof path, "%s\\%s.%s", gApp.ownFolder, view->szMap, "map");
    ReadMapTrailer(path, view, 0);
    StartMapPreviewNow();
    CopyText(gOptions.lastMap, view->szMap, sizeof gOptions.lastMap);
}

static void RefreshView(HWND dialog, ViewOptions *view)
{
    int pixels[4];
    ScreenRectToPixels(&view->sSelScr, pixels);
    for (int i = 0; i < 4; i++)
        SetNumber(dialog, IDC_OPT_X + i, pixels[i]);
    CheckDlgButton(dialog, IDC_OPT_RANDOM_POS, view->bRndPos ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OPT_RANDOM_SIZE, view->bRndSize ? BST_CHECKED : BST_UNCHECKED);
    SelectCombo(dialog, IDC_OPT_PROJECTION, view->iPrjType ? 1 : 0);
    CheckDlgButton(dialog, IDC_OPT_BACKGROUND, view->bBackground ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OPT_DAY, view->bDay ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OPT_NIGHT, view->bNight ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OPT_CLOUDS, view->bClouds ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_OPT_CITIES, view->bCities ? BST_CHECKED : BST_UNCHECKED);
    Enable(dialog, IDC_OPT_SEASONS, view->bSeasonEnable != 0);
    SendDlgItemMessageA(dialog, IDC_OPT_ZOOM_BAR, TBM_SETPOS, TRUE,
                        (LPARAM)ZoomToTrackbar(view->dSMpZoom));
    SetNumber(dialog, IDC_OPT_ZOOM, RoundHalfAway(view->dSMpZoom * 100));
    static const int modes[4] = {IDC_OPT_MODE_STATIC, IDC_OPT_MODE_SUN, IDC_OPT_MODE_PATH,
                                 IDC_OPT_MODE_RANDOM};
    int mode = view->iViewMode >= 0 && view->iViewMode < 4 ? view->iViewMode : 0;
    for (int i = 0; i < 4; i++)
        CheckDlgButton(dialog, modes[i], i == mode ? BST_CHECKED : BST_UNCHECKED);
    bool was = sWriting;
    sWriting = true;
    SetAngleEdit(dialog, IDC_OPT_SUN_LAT, view->dVSLat, IDC_OPT_SUN_LAT_DIR);
    SetAngleEdit(dialog, IDC_OPT_SUN_LON, view->dVSLon, IDC_OPT_SUN_LON_DIR);
    sWriting = was;
    EnableDlgItems(mode == 1, dialog, IDC_OPT_SUN_LAT, IDC_OPT_SUN_LAT_DIR, IDC_OPT_SUN_LON,
                   IDC_OPT_SUN_LON_DIR, 0);
    Enable(dialog, IDC_OPT_DEFINE_PATH, mode == 2);
    CheckDlgButton(dialog, IDC_OPT_KEEP_ON_SCREEN, view->iViewRoi ? BST_CHECKED : BST_UNCHECKED);
    Enable(dialog, IDC_OPT_KEEP_ON_SCREEN, mode > 0);
    RefreshMap(dialog, view);
    ShowViewpointText(dialog);
}

static void Refresh(HWND dialog)
{
    gTimerBusy = 1;
    RefreshFirstView(dialog);
    ViewList *list = EditedList();
    ViewOptions *view = CurrentView();
    int current = gOptions.currentView;
    for (int id : kPerViewControls)
        Enable(dialog, id, view != 0);
    Enable(dialog, IDC_OPT_REMOVE_VIEW, view && list->count >= 2);
    Enable(dialog, IDC_OPT_UP, view && current < list->count - 1);
    Enable(dialog, IDC_OPT_DOWN, view && current > 0);
    if (sMapSelector.window)
        EnableWindow(sMapSelector.window, view != 0);
    // The selectors follow the list; the current view is the selected one.
    if (sScreenSelector.items.count != list->count)
        LoadScreenItems();
    for (int i = 0; i < list->count; i++)
        sScreenSelector.SetItem(i, list->data[i].sSelScr);
    sScreenSelector.selected = view ? current : -1;
    if (view) {
        if (sMapSelector.items.count < 1)
            sMapSelector.AddPoint(view->sSelMap.p[0], view->sSelMap.p[1]);
        FractionRect point = {{view->sSelMap.p[0], view->sSelMap.p[1], view->sSelMap.p[0],
                               view->sSelMap.p[1]}};
        sMapSelector.SetItem(0, point);
        sMapSelector.selected = 0;
        RefreshView(dialog, view);
    } else {
        SetText(dialog, IDC_OPT_VIEWPOINT, "");
    }
    RedrawSelectors();
    StartScreenPreviewNow();
    gTimerBusy = 0;
}

// ---------------------------------------------------------------- commit

// The edit's value when the user changed what it shows; else the stored
// fraction stays as it is, so that unchanged views compare equal.
static void ReadScreenRect(HWND dialog, ViewOptions *view)
{
    int shown[4];
    ScreenRectToPixels(&view->sSelScr, shown);
    double *p = view->sSelScr.p;
    double w = gScreenW > 0 ? gScreenW : 1, h = gScreenH > 0 ? gScreenH : 1;
    int x, y, width, height;
    bool hasX = ReadNumber(dialog, IDC_OPT_X, -100000, 100000, &x);
    bool hasY = ReadNumber(dialog, IDC_OPT_Y, -100000, 100000, &y);
    bool hasW = ReadNumber(dialog, IDC_OPT_W, 10, 100000, &width);
    bool hasH = ReadNumber(dialog, IDC_OPT_H, 10, 100000, &height);
    if (!hasX)
        x = 0;
    if (!hasY)
        y = 0;
    double oldWidth = p[2] - p[0], oldHeight = p[3] - p[1];
    if (x != shown[0])
        p[0] = (x - gScreenX) / w;
    if (y != shown[1])
        p[1] = (y - gScreenY) / h;
    if (!hasW)
        p[2] = 1 - p[0];
    else if (width != shown[2])
        p[2] = p[0] + width / w;
    else
        p[2] = p[0] + oldWidth;
    if (!hasH)
        p[3] = 1 - p[1];
    else if (height != shown[3])
        p[3] = p[1] + height / h;
    else
        p[3] = p[1] + oldHeight;
}

static void ReadFirstView(HWND dialog)
{
    ViewOptions *first = FirstView(gOptions.editedList);
    if (!first)
        return;
    first->bActive = IsDlgButtonChecked(dialog, IDC_OPT_ACTIVE) == BST_CHECKED;
    first->bUpdate = IsDlgButtonChecked(dialog, IDC_OPT_UPDATE) == BST_CHECKED;
    int value;
    if (gOptions.editedList == VIEW_LIST_SCREENSAVER)
        first->iActive = ReadNumber(dialog, IDC_OPT_ACTIVE_MINUTES, 1, 1000, &value) ? value : 10;
    first->iUpdate = ReadNumber(dialog, IDC_OPT_UPDATE_MINUTES, 0, 1000, &value) ? value : 10;
}

static void ReadZoomEdit(HWND dialog, ViewOptions *view)
{
    int percent;
    if (ReadNumber(dialog, IDC_OPT_ZOOM, 1, 500, &percent) &&
        percent != RoundHalfAway(view->dSMpZoom * 100))
        view->dSMpZoom = percent / 100.0;
}

// An angle edit's value when it shows another whole degree than the stored angle.
static void ReadAngle(HWND dialog, int edit, int combo, double limit, double *stored)
{
    double read = GetAngleEdit(combo, limit, dialog, edit, -limit);
    double shownDegrees = RoundHalfAway(fabs(*stored) * 180 / kPi) * (*stored < 0 ? -1 : 1);
    if (fabs(read * 180 / kPi - shownDegrees) > 1e-6)
        *stored = read;
}

static void ReadViewMode(HWND dialog, ViewOptions *view)
{
    static const int modes[4] = {IDC_OPT_MODE_STATIC, IDC_OPT_MODE_SUN, IDC_OPT_MODE_PATH,
                                 IDC_OPT_MODE_RANDOM};
    for (int i = 0; i < 4; i++)
        if (IsDlgButtonChecked(dialog, modes[i]) == BST_CHECKED)
            view->iViewMode = (int8_t)i;
}

static void Commit(HWND dialog)
{
    ViewOptions *view = CurrentView();
    if (!view)
        return;
    ReadScreenRect(dialog, view);
    view->bRndPos = IsDlgButtonChecked(dialog, IDC_OPT_RANDOM_POS) == BST_CHECKED;
    view->bRndSize = IsDlgButtonChecked(dialog, IDC_OPT_RANDOM_SIZE) == BST_CHECKED;
    ReadFirstView(dialog);
    int map = ComboSelection(dialog, IDC_OPT_MAP);
    if (map >= 0 && SendDlgItemMessageA(dialog, IDC_OPT_MAP, CB_GETLBTEXTLEN, map, 0) <
                        (LRESULT)sizeof view->szMap)
        SendDlgItemMessageA(dialog, IDC_OPT_MAP, CB_GETLBTEXT, map, (LPARAM)view->szMap);
    ReadZoomEdit(dialog, view);
    view->bBackground = IsDlgButtonChecked(dialog, IDC_OPT_BACKGROUND) == BST_CHECKED;
    view->bDay = IsDlgButtonChecked(dialog, IDC_OPT_DAY) == BST_CHECKED;
    view->bNight = IsDlgButtonChecked(dialog, IDC_OPT_NIGHT) == BST_CHECKED;
    view->bClouds = IsDlgButtonChecked(dialog, IDC_OPT_CLOUDS) == BST_CHECKED;
    view->bCities = IsDlgButtonChecked(dialog, IDC_OPT_CITIES) == BST_CHECKED;
    int projection = ComboSelection(dialog, IDC_OPT_PROJECTION);
    if (projection >= 0)
        view->iPrjType = (int8_t)projection;
    ReadViewMode(dialog, view);
    ReadAngle(dialog, IDC_OPT_SUN_LON, IDC_OPT_SUN_LON_DIR, kPi, &view->dVSLon);
    ReadAngle(dialog, IDC_OPT_SUN_LAT, IDC_OPT_SUN_LAT_DIR, kPi / 2, &view->dVSLat);
    view->iViewRoi = IsDlgButtonChecked(dialog, IDC_OPT_KEEP_ON_SCREEN) == BST_CHECKED;
    sScreenSelector.SetItem(gOptions.currentView, view->sSelScr);
    FractionRect point = {{view->sSelMap.p[0], view->sSelMap.p[1], view->sSelMap.p[0],
                           view->sSelMap.p[1]}};
    sMapSelector.SetItem(0, point);
}

static void CommitAndRefresh(HWND dialog)
{
    Commit(dialog);
    SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
}

// ---------------------------------------------------------------- views

static void SelectView(HWND dialog, int index)
{
    gOptions.currentView = index;
    LoadScreenItems();
    LoadMapPoint();
    FillViewCombo(dialog);
    SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
}

static void AppendView(HWND dialog, const ViewOptions *view)
{
    ViewList *list = EditedList();
    if (list->count >= VIEW_LIST_MAX)   // more would be lost when the list is saved
        return;
    Commit(dialog);
    int index = list->Add(*view);
    if (index >= 0)
        SelectView(dialog, index);
}

static void AddView(HWND dialog)
{
    ViewOptions *view = (ViewOptions *)malloc(sizeof(ViewOptions));
    if (!view)
        return;
    memcpy(view, DefaultView(VIEW_LIST_WALLPAPER), sizeof(ViewOptions));
    FractionRect middle = {{0.25, 0.25, 0.75, 0.75}};
    view->sSelScr = middle;
    AppendView(dialog, view);
    free(view);
}

static void RemoveView(HWND dialog)
{
    ViewList *list = EditedList();
    if (!CurrentView() || list->count < 2)
        return;
    list->RemoveAt(gOptions.currentView);
    SelectView(dialog, list->count - 1);
}

// Swaps the current view with its neighbour; an allocation failure leaves
// the order as it was.
static void MoveView(HWND dialog, int step)
{
    ViewList *list = EditedList();
    int from = gOptions.currentView, to = from + step;
    if (!CurrentView() || to < 0 || to >= list->count)
        return;
    Commit(dialog);
    ViewOptions *swap = (ViewOptions *)malloc(sizeof(ViewOptions));
    if (!swap)
        return;
    memcpy(swap, &list->data[from], sizeof(ViewOptions));
    memcpy(&list->data[from], &list->data[to], sizeof(ViewOptions));
    memcpy(&list->data[to], swap, sizeof(ViewOptions));
    free(swap);
    SelectView(dialog, to);
}

static void CopyView(HWND dialog)
{
    ViewOptions *view = CurrentView();
    if (!view)
        return;
    Commit(dialog);
    gOptions.clipboard.RemoveAll();
    if (gOptions.clipboard.Add(*view) >= 0)
        Enable(dialog, IDC_OPT_PASTE_VIEW, true);
}

// ---------------------------------------------------------------- sub-dialogs

// Each sub-dialog edits the current view (or the program's settings) in
// place: the dialog's controls are read into the view first and written back
// from it afterwards, whatever the sub-dialog's result.
static void RunViewDialog(HWND dialog, int button)
{
    ViewOptions *view = CurrentView();
    if (!view)
        return;
    Commit(dialog);
    switch (button) {
    case IDC_OPT_BACKGROUND_MORE: ShowViewLayerDialog(dialog, IDD_LAYER_BACKGROUND, view); break;
    case IDC_OPT_DAY_MORE: ShowViewLayerDialog(dialog, IDD_LAYER_DAY, view); break;
    case IDC_OPT_NIGHT_MORE: ShowViewLayerDialog(dialog, IDD_LAYER_NIGHT, view); break;
    case IDC_OPT_CLOUDS_MORE: ShowViewLayerDialog(dialog, IDD_LAYER_CLOUDS, view); break;
    case IDC_OPT_CITIES_MORE: ShowCitiesDialog(dialog, view); break;
    case IDC_OPT_DEFINE_PATH: ShowCameraPathDialog(dialog, view); break;
    case IDC_OPT_PRESET: ShowPresetDialog(dialog, view); break;
    case IDC_OPT_SEASONS: ShowSeasonalMapsDialog(dialog, view); break;
    }
    SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
    if (button == IDC_OPT_SEASONS)
        StartMapPreviewNow();
}

static void RunPlainDialog(HWND dialog, int button)
{
    Commit(dialog);
    if (button == IDC_OPT_OPTIONS)
        ShowProgramOptions(dialog);
    else
        ShowAboutDialog(dialog);
    SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
}

// ---------------------------------------------------------------- profiles

static void FillProfileCombo(HWND dialog)
{
    static char names[PROFILE_LIST_MAX][PROFILE_NAME_SIZE];
    HWND combo = GetDlgItem(dialog, IDC_OPT_PROFILES);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    int count = ListProfiles(names, PROFILE_LIST_MAX);
    for (int i = 0; i < count; i++)
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)names[i]);
    SendMessageA(combo, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)gPrefs.szCurProfile);
    Enable(dialog, IDC_OPT_PROFILE_DELETE, count >= 2);
}

static void RefillProfiles(HWND dialog, const char *name)
{
    FillProfileList(name);
    FillProfileCombo(dialog);
}

void OptionsProfileLoaded(const char *name)
{
    HWND dialog = gOptionsDialog;
    if (!dialog)
        return;
    SendDlgItemMessageA(dialog, IDC_OPT_PROFILES, CB_SELECTSTRING, (WPARAM)-1, (LPARAM)name);
    ReloadFromLists(dialog);
}

// After a display change (gScreenX.. and the monitor table already new):
// the screen-area selector takes the new monitor outlines, for its snapping
// as well, and the new shape of the screen; the pixel edits and the screen
// preview follow with the refresh.
void OptionsDisplayChanged()
{
    HWND dialog = gOptionsDialog;
    if (!dialog || !sScreenSelector.window)
        return;
    sScreenSelector.emptyAspect = gScreenH > 0 ? (double)gScreenW / gScreenH : 0;
    sScreenSelector.showMonitors = gPrefs.bMultiMon != 0;
    sScreenSelector.LoadMonitors();
    sScreenSelector.Relayout();
    sScreenSelector.Redraw(true);
    PostMessageA(dialog, OPTIONS_REFRESH, 0, 0);
}

static bool AskProfileName(HWND dialog, char *name)
{
    CopyText(name, gPrefs.szCurProfile, PROFILE_NAME_SIZE);
    return DoModal(dialog, IDD_PROFILE_NAME, ProfileNameDialogProc, (LPARAM)name) == IDOK;
}

static void OnProfileSelected(HWND dialog)
{
    char name[PROFILE_NAME_SIZE];
    int index = ComboSelection(dialog, IDC_OPT_PROFILES);
    if (index < 0 || SendDlgItemMessageA(dialog, IDC_OPT_PROFILES, CB_GETLBTEXTLEN, index, 0) >=
                         PROFILE_NAME_SIZE)
        return;
    SendDlgItemMessageA(dialog, IDC_OPT_PROFILES, CB_GETLBTEXT, index, (LPARAM)name);
    if (!strcmp(name, gPrefs.szCurProfile))
        return;
    Commit(dialog);
    SwitchProfile(name);
    FillProfileCombo(dialog);
    ReloadFromLists(dialog);
}

static void OnProfileButton(HWND dialog, int id)
{
    char name[PROFILE_NAME_SIZE];
    if (id == IDC_OPT_PROFILE_SETTINGS) {
        if (RunProfileSettings(dialog) == IDOK)
            RefillProfiles(dialog, gPrefs.szCurProfile);
    } else if (id == IDC_OPT_PROFILE_ADD && AskProfileName(dialog, name)) {
        Commit(dialog);
        AddProfile(name);
        RefillProfiles(dialog, gPrefs.szCurProfile);
        ReloadFromLists(dialog);
    } else if (id == IDC_OPT_PROFILE_DELETE) {
        const char *text = gApp.strings.GetText(10, 2);
        if (!text || !*text)
            text = kDeleteProfileQuestion;
        if (FrameworkMessageBox(dialog, gApp.strings.GetText(0, 0), text, 392, 0) !=
            IDYES)
            return;
        DeleteCurrentProfile();
        RefillProfiles(dialog, gPrefs.szCurProfile);
        ReloadFromLists(dialog);
    }
}

// ---------------------------------------------------------------- OK, Apply, Cancel

static void SaveSettings()
{
    SaveEverything();
    // New cities get their weather.
    if (!gWeatherBusy)
        StartWeatherDownload(1);
}

static int RequestRenderNow(int which)
{
    return RequestRender(which, gOptions.editedList, 1);
}

// The wallpaper and the screen saver put in place or taken back when the
// first views' switches changed since the snapshot.
static void UpdateDesktop(const ViewList snapshot[2])
{
    const ViewList *wallpaper = &snapshot[VIEW_LIST_WALLPAPER];
    ViewOptions *first = FirstView(VIEW_LIST_WALLPAPER);
    if (first && wallpaper->count > 0 && first->bActive != wallpaper->data[0].bActive)
        InstallWallpaper(first->bActive ? DESKTOP_INSTALL : DESKTOP_RESTORE);
    const ViewList *saver = &snapshot[VIEW_LIST_SCREENSAVER];
    ViewOptions *firstSaver = FirstView(VIEW_LIST_SCREENSAVER);
    if (firstSaver && saver->count > 0 &&
        (firstSaver->bActive != saver->data[0].bActive ||
         firstSaver->iActive != saver->data[0].iActive))
        StartScreenSaverThread(firstSaver->bActive ? DESKTOP_INSTALL : DESKTOP_RESTORE);
}

static void OnOk(HWND dialog)
{
    Commit(dialog);
    SaveSettings();
    DestroyWindow(dialog);
    UpdateDesktop(gOptions.changeLists);
    RequestRenderNow(OutputsToRender(gOptions.changeLists, &gOptions.changePrefs));
    FreeSnapshots();
}

static void OnApply(HWND dialog)
{
    Commit(dialog);
    UpdateDesktop(gOptions.changeLists);
    SaveSettings();
    TakeSnapshot(gOptions.changeLists, &gOptions.changePrefs);
    int which = RenderPrefsDiffer(&gOptions.cancelPrefs) ? RENDER_BOTH_OUTPUTS
                                                         : gOptions.editedList;
    RequestRenderNow(which);
    if (gOptions.editedList == VIEW_LIST_SCREENSAVER && MainWindow())
        PostMessageA(MainWindow(), QRFM_COMMAND, CMD_SCREEN_SAVER, 0);
}

// The list as the snapshot had it; the times the render jobs stamped on
// the views meanwhile stay, or the timer would render them again at once.
static void RestoreViewList(ViewList *list, const ViewList *snapshot)
{
    int count = list->count < snapshot->count ? list->count : snapshot->count;
    decltype(ViewOptions::tLastUpdate) stamped[VIEW_LIST_MAX];
    for (int i = 0; i < count && i < VIEW_LIST_MAX; i++)
        stamped[i] = list->data[i].tLastUpdate;
    CopyViewList(list, snapshot);
    for (int i = 0; i < count && i < VIEW_LIST_MAX && i < list->count; i++)
        list->data[i].tLastUpdate = stamped[i];
}

// The settings as the snapshot had them, but for what the download workers
// wrote while the dialog was open.
static void RestorePrefs(const PrefsRecord *snapshot)
{
    PrefsRecord now;
    memcpy(&now, &gPrefs, sizeof now);
    memcpy(&gPrefs, snapshot, sizeof gPrefs);
    KeepWorkerPrefs(&gPrefs, &now);
}

static void OnCancel(HWND dialog)
{
    DestroyWindow(dialog);
    int which = OutputsToRender(gOptions.cancelLists, &gOptions.cancelPrefs);
    for (int i = 0; i < 2; i++)
        RestoreViewList(&gViewLists[i], &gOptions.cancelLists[i]);
    RestorePrefs(&gOptions.cancelPrefs);
    if (gOptions.currentView >= EditedList()->count)
        gOptions.currentView = EditedList()->count - 1;
    // What an Apply installed follows the restored switches.
    UpdateDesktop(gOptions.changeLists);
    if (which != OUTPUT_NONE)
        RequestRenderNow(which);
    SaveEverything();
    FreeSnapshots();
}

static void OnShown()
{
    ViewOptions *wallpaper = FirstView(VIEW_LIST_WALLPAPER);
    if (wallpaper)
        wallpaper->bActive = IsOurWallpaper();
    ViewOptions *saver = FirstView(VIEW_LIST_SCREENSAVER);
    if (saver)
        saver->bActive = IsOurScreenSaver();
    TakeSnapshot(gOptions.cancelLists, &gOptions.cancelPrefs);
    TakeSnapshot(gOptions.changeLists, &gOptions.changePrefs);
}

static void Quit()
{
    if (MainWindow())
        PostMessageA(MainWindow(), QRFM_COMMAND, CMD_QUIT, 0);
}

static void OpenHelp()
{
    ShowProgramHelp(0);
}

// ---------------------------------------------------------------- init

static void FillMapList(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, IDC_OPT_MAP);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    CFileFind find("%s\\*.%s", gApp.ownFolder, "map");
    while (find.FindNext()) {
        if (find.entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        MapTrailer trailer;
        int flags = ReadMapTrailer(find.GetFilePath(), 0, &trailer);
        if (flags < 0 || !(flags & 1))
            continue;
        char name[MAX_PATH];
        CopyText(name, find.GetFileName(), sizeof name);
        char *dot = strrchr(name, '.');
        if (dot)
            *dot = 0;
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)name);
    }
}

static void SetButtonIcon(HWND dialog, int id, int iconId)
{
    HICON icon = (HICON)LoadImageA(ResourceModule(), MAKEINTRESOURCEA(iconId), IMAGE_ICON, 16, 16,
                                   LR_SHARED);
    if (!icon)
        return;   // the text stays
    HWND button = GetDlgItem(dialog, id);
    SetWindowLongA(button, GWL_STYLE, GetWindowLongA(button, GWL_STYLE) | BS_ICON);
    SendMessageA(button, BM_SETIMAGE, IMAGE_ICON, (LPARAM)icon);
}

// The controls inside the tab get the tab's background where themes draw one.
static void UseTabBackground(HWND dialog)
{
    typedef HRESULT(WINAPI * EnableTexture)(HWND, DWORD);
    EnableTexture enable = (EnableTexture)SystemFunction("uxtheme", "EnableThemeDialogTexture");
    if (enable)
        enable(dialog, 6);   // ETDT_ENABLETAB
}

static void InitControls(HWND dialog)
{
    UseTabBackground(dialog);
    HWND tabs = GetDlgItem(dialog, IDC_OPT_TABS);
    const char *tabNames[2] = {"Wallpaper", "Screen Saver"};
    for (int i = 0; i < 2; i++) {
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = (char *)tabNames[i];
        SendMessageA(tabs, TCM_INSERTITEMA, i, (LPARAM)&item);
    }
    SendMessageA(tabs, TCM_SETCURSEL, gOptions.editedList, 0);
    // The tab's body lies under every control of the page: at the bottom of
    // the order it never paints over them (a themed tab fills its body).
    SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendDlgItemMessageA(dialog, IDC_OPT_ZOOM_BAR, TBM_SETRANGE, TRUE, MAKELPARAM(0, ZOOM_BAR_MAX));
    SendDlgItemMessageA(dialog, IDC_OPT_ACTIVE_SPIN, UDM_SETRANGE32, 1, 1000);
    SendDlgItemMessageA(dialog, IDC_OPT_UPDATE_SPIN, UDM_SETRANGE32, 0, 1000);
    SendDlgItemMessageA(dialog, IDC_OPT_ZOOM, EM_LIMITTEXT, 3, 0);
    AddComboText(dialog, IDC_OPT_PROJECTION, "Globe");
    AddComboText(dialog, IDC_OPT_PROJECTION, "Map");
    AddComboText(dialog, IDC_OPT_SUN_LAT_DIR, "North");
    AddComboText(dialog, IDC_OPT_SUN_LAT_DIR, "South");
    AddComboText(dialog, IDC_OPT_SUN_LON_DIR, "East");
    AddComboText(dialog, IDC_OPT_SUN_LON_DIR, "West");
    Enable(dialog, IDC_OPT_PASTE_VIEW, gOptions.clipboard.count > 0);
    SetButtonIcon(dialog, IDC_OPT_UP, 24);
    SetButtonIcon(dialog, IDC_OPT_DOWN, 25);
    HMENU menu = GetSystemMenu(dialog, FALSE);
    if (menu) {
        AppendMenuA(menu, MF_SEPARATOR, 0, 0);
        AppendMenuA(menu, MF_STRING, CMD_QUIT, "&Quit Veltaspar");
    }
}

int InitOptionsDialog(HWND dialog)
{
    InitControls(dialog);
    sScreenSelector.emptyAspect = gScreenH > 0 ? (double)gScreenW / gScreenH : 0;
    int result = sScreenSelector.Create(dialog, IDC_OPT_SCREEN_AREA, IDC_OPT_SCREEN_SELECTOR,
                                        AREA_MODE_RECTANGLES, gPrefs.bMultiMon != 0);
    if (result)
        return result;
    gOptions.currentView = EditedList()->count - 1;
    LoadScreenItems();
    FillViewCombo(dialog);
    sMapSelector.emptyAspect = (double)MAP_MINI_WIDTH / MAP_MINI_HEIGHT;
    result = sMapSelector.Create(dialog, IDC_OPT_MAP_AREA, IDC_OPT_MAP_SELECTOR, AREA_MODE_POINT,
                                 false);
    if (result)
        return result;
    LoadMapPoint();
    FillMapList(dialog);
    gOptions.lastMap[0] = 0;
    FillProfileList(gPrefs.szCurProfile);
    FillProfileCombo(dialog);
    TellPreviews();
    PostMessageA(dialog, OPTIONS_REFRESH, 0, 0);
    return 0;
}

// ---------------------------------------------------------------- messages

static void OnTabChange(HWND dialog)
{
    Commit(dialog);
    int tab = (int)SendDlgItemMessageA(dialog, IDC_OPT_TABS, TCM_GETCURSEL, 0, 0);
    gOptions.editedList = tab == 1 ? VIEW_LIST_SCREENSAVER : VIEW_LIST_WALLPAPER;
    ReloadFromLists(dialog);
}

static void OnScreenSelector(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    int code = HIWORD(wParam);
    if (code & (AREA_NOTIFY_SELECT >> 16)) {
        if (code & (AREA_NOTIFY_COMMIT_FIRST >> 16))
            Commit(dialog);
        gOptions.currentView = (int)lParam;
        LoadMapPoint();
        SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
        FillViewCombo(dialog);
        return;
    }
    ViewOptions *view = CurrentView();
    if (!view || gOptions.currentView >= sScreenSelector.items.count)
        return;
    view->sSelScr = sScreenSelector.items.data[gOptions.currentView];
    if (!(code & (AREA_NOTIFY_MOVING >> 16)))
        SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
}

static void OnMapSelector(HWND dialog, WPARAM wParam)
{
    ViewOptions *view = CurrentView();
    if (GetFocus() == GetDlgItem(dialog, IDC_OPT_VIEWPOINT) || !view ||
        sMapSelector.items.count < 1)
        return;
    view->sSelMap.p[0] = sMapSelector.items.data[0].p[0];
    view->sSelMap.p[1] = sMapSelector.items.data[0].p[1];
    ShowViewpointText(dialog);
    if (HIWORD(wParam) != (AREA_NOTIFY_MOVING >> 16))
        SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
}

static bool HasFocus(HWND dialog, int id)
{
    return GetFocus() == GetDlgItem(dialog, id);
}

static void OnEditChange(HWND dialog, int id)
{
    ViewOptions *view = CurrentView();
    if (sWriting || gSuppressEditNotify || !view)
        return;
    if (id >= IDC_OPT_X && id <= IDC_OPT_H && HasFocus(dialog, id)) {
        ReadScreenRect(dialog, view);
        sScreenSelector.SetItem(gOptions.currentView, view->sSelScr);
        sScreenSelector.Redraw(true);
        StartScreenPreviewNow();
    } else if (id == IDC_OPT_ZOOM && HasFocus(dialog, id)) {
        ReadZoomEdit(dialog, view);
        SendDlgItemMessageA(dialog, IDC_OPT_ZOOM_BAR, TBM_SETPOS, TRUE,
                            (LPARAM)ZoomToTrackbar(view->dSMpZoom));
        StartScreenPreviewNow();
    } else if (id == IDC_OPT_VIEWPOINT && HasFocus(dialog, id)) {
        if (!ReadViewpointText(dialog))
            return;
        FractionRect point = {{view->sSelMap.p[0], view->sSelMap.p[1], view->sSelMap.p[0],
                               view->sSelMap.p[1]}};
        sMapSelector.SetItem(0, point);
        sMapSelector.Redraw(true);
        StartScreenPreviewNow();
    } else if (id == IDC_OPT_SUN_LAT || id == IDC_OPT_SUN_LON) {
        double lat = view->dVSLat, lon = view->dVSLon;
        ReadAngle(dialog, IDC_OPT_SUN_LAT, IDC_OPT_SUN_LAT_DIR, kPi / 2, &lat);
        ReadAngle(dialog, IDC_OPT_SUN_LON, IDC_OPT_SUN_LON_DIR, kPi, &lon);
        if (lat != view->dVSLat || lon != view->dVSLon)
            CommitAndRefresh(dialog);
    }
}

static void OnZoomBar(HWND dialog, WPARAM wParam)
{
    ViewOptions *view = CurrentView();
    if (!view)
        return;
    if (LOWORD(wParam) == TB_ENDTRACK) {
        SendMessageA(dialog, OPTIONS_REFRESH, 0, 0);
        return;
    }
    int position = (int)SendDlgItemMessageA(dialog, IDC_OPT_ZOOM_BAR, TBM_GETPOS, 0, 0);
    view->dSMpZoom = TrackbarToZoom(position);
    SetNumber(dialog, IDC_OPT_ZOOM, RoundHalfAway(view->dSMpZoom * 100));
}

static bool OnButton(HWND dialog, int id)
{
    switch (id) {
    case IDOK: OnOk(dialog); return true;
    case IDCANCEL: OnCancel(dialog); return true;
    case IDC_OPT_APPLY: OnApply(dialog); return true;
    case IDC_OPT_ADD_VIEW: AddView(dialog); return true;
    case IDC_OPT_REMOVE_VIEW: RemoveView(dialog); return true;
    case IDC_OPT_UP: MoveView(dialog, 1); return true;
    case IDC_OPT_DOWN: MoveView(dialog, -1); return true;
    case IDC_OPT_COPY_VIEW: CopyView(dialog); return true;
    case IDC_OPT_PASTE_VIEW:
        if (gOptions.clipboard.count > 0)
            AppendView(dialog, &gOptions.clipboard.data[0]);
        return true;
    case IDC_OPT_BACKGROUND_MORE: case IDC_OPT_DAY_MORE: case IDC_OPT_NIGHT_MORE:
    case IDC_OPT_CLOUDS_MORE: case IDC_OPT_CITIES_MORE: case IDC_OPT_DEFINE_PATH:
    case IDC_OPT_PRESET: case IDC_OPT_SEASONS:
        RunViewDialog(dialog, id);
        return true;
    case IDC_OPT_OPTIONS: case IDC_OPT_ABOUT: RunPlainDialog(dialog, id); return true;
    case IDC_OPT_QUIT: Quit(); return true;
    case IDC_OPT_HELP: OpenHelp(); return true;
    case IDC_OPT_PROFILE_SETTINGS:
    case IDC_OPT_PROFILE_ADD:
    case IDC_OPT_PROFILE_DELETE: OnProfileButton(dialog, id); return true;
    case IDC_OPT_ACTIVE: case IDC_OPT_UPDATE: case IDC_OPT_RANDOM_POS: case IDC_OPT_RANDOM_SIZE:
    case IDC_OPT_BACKGROUND: case IDC_OPT_DAY: case IDC_OPT_NIGHT: case IDC_OPT_CLOUDS:
    case IDC_OPT_CITIES: case IDC_OPT_MODE_STATIC: case IDC_OPT_MODE_SUN: case IDC_OPT_MODE_PATH:
    case IDC_OPT_MODE_RANDOM: case IDC_OPT_KEEP_ON_SCREEN:
        CommitAndRefresh(dialog);
        return true;
    }
    return false;
}

static void OnCommand(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDC_OPT_SCREEN_SELECTOR && (HWND)lParam != GetDlgItem(dialog, id)) {
        OnScreenSelector(dialog, wParam, lParam);
        return;
    }
    if (id == IDC_OPT_MAP_SELECTOR && (HWND)lParam != GetDlgItem(dialog, id)) {
        OnMapSelector(dialog, wParam);
        return;
    }
    if (code == EN_CHANGE) {
        OnEditChange(dialog, id);
        return;
    }
    if (code == CBN_SELCHANGE) {
        switch (id) {
        case IDC_OPT_MAP:
        case IDC_OPT_PROJECTION:
            CommitAndRefresh(dialog);
            break;
        case IDC_OPT_SUN_LAT_DIR:
        case IDC_OPT_SUN_LON_DIR:
            if (!gSuppressEditNotify && !sWriting)
                OnEditChange(dialog, id == IDC_OPT_SUN_LAT_DIR ? IDC_OPT_SUN_LAT : IDC_OPT_SUN_LON);
            break;
        case IDC_OPT_VIEW:
            sScreenSelector.Select(ComboSelection(dialog, IDC_OPT_VIEW));
            break;
        case IDC_OPT_PROFILES:
            OnProfileSelected(dialog);
            break;
        }
        return;
    }
    if (code == CBN_DROPDOWN && id == IDC_OPT_MAP && gPrefs.bShowMapDLInfo) {
        ShowAdditionalMapsDialog(dialog);
        return;
    }
    if (code == BN_CLICKED || code == 0)
        OnButton(dialog, id);
}

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        gOptionsDialog = dialog;
        HFONT font = InitDialog(dialog);
        int result = InitOptionsDialog(dialog);
        if (result) {
            DestroyWindow(dialog);
            return FALSE;
        }
        if (font)
            SendDlgItemMessageA(dialog, IDC_OPT_TABS, WM_SETFONT, (WPARAM)font, TRUE);
        return TRUE;
    }
    case WM_SHOWWINDOW:
        if (wParam == 1) {
            OnShown();
            PostMessageA(dialog, OPTIONS_REFRESH, 0, 0);
        }
        break;
    case OPTIONS_REFRESH:
        Refresh(dialog);
        return TRUE;
    case OPTIONS_COMMIT:
        Commit(dialog);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dialog, wParam, lParam);
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *header = (const NMHDR *)lParam;
        if (header->idFrom == IDC_OPT_TABS && header->code == TCN_SELCHANGE)
            OnTabChange(dialog);
        return TRUE;
    }
    case WM_HSCROLL:
        if ((HWND)lParam == GetDlgItem(dialog, IDC_OPT_ZOOM_BAR))
            OnZoomBar(dialog, wParam);
        return TRUE;
    case WM_SYSCOMMAND:
        if (wParam == CMD_QUIT) {
            Quit();
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        OnCancel(dialog);
        return TRUE;
    case WM_HELP:
        OpenHelp();
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            SaveEverything(false);
        return TRUE;
    case WM_QUIT:
        Quit();
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        sScreenSelector.Relayout();
        sMapSelector.Relayout();
        return TRUE;
    case WM_DESTROY:
        ForgetPreviews();
        sScreenSelector.Reset();
        sMapSelector.Reset();
        if (gOptionsDialog == dialog)
            gOptionsDialog = 0;
        gOptions.lastMap[0] = 0;
        break;
    }
    return FALSE;
}

// ---------------------------------------------------------------- open and close

void OpenOptionsDialog(bool saverList)
{
    if (!gOptionsDialog) {
        HWND dialog = CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(IDD_OPTIONS), 0,
                                         OptionsDialogProc, 0);
        if (!dialog || !IsWindow(dialog)) {
            gOptionsDialog = 0;
            return;
        }
    }
    HWND dialog = gOptionsDialog;
    if (saverList) {
        Commit(dialog);
        gOptions.editedList = VIEW_LIST_SCREENSAVER;
        SendDlgItemMessageA(dialog, IDC_OPT_TABS, TCM_SETCURSEL, 1, 0);
        ReloadFromLists(dialog);
    }
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);
}

void CloseOptionsDialog()
{
    if (gOptionsDialog)
        DestroyWindow(gOptionsDialog);
    gOptionsDialog = 0;
}
