// The four layer dialogs of a view. One table per dialog pairs each
// trackbar with its edit, spin button and view field; the dialog procedure
// is shared and only the background dialog adds controls of its own.
#include "shell/viewdialogs.h"

#include <commctrl.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "earth/renderjobs.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/utilities.h"
#include "shell/help.h"
#include "shell/imageview.h"

namespace {

enum FieldKind {
    KIND_PLAIN,     // 0..100 on a 0..100 trackbar
    KIND_SIGNED,    // -100..100 on a 0..200 trackbar
    KIND_SHADOW,    // trackbar and spin 0..200, typed values 0..100
    KIND_MINUTES,   // edit and spin only, 0..1440
};

enum FieldType { TYPE_I8, TYPE_U8, TYPE_I32 };

// A spin button's id is its edit's plus this (the templates follow it).
enum { SPIN_OFFSET = 2000 };

struct LayerField {
    int trackbar;   // 0 = none
    int edit;
    int spin;
    int kind;
    int type;
    size_t offset;  // in ViewOptions
};

#define FIELD_I8(track, edit, kind, name) \
    {track, edit, edit + SPIN_OFFSET, kind, TYPE_I8, offsetof(ViewOptions, name)}

const LayerField kDayFields[] = {
    FIELD_I8(1175, 1120, KIND_PLAIN, iDayUrban),
    FIELD_I8(1176, 1121, KIND_PLAIN, iDayUrbanDensity),
    FIELD_I8(1157, 1086, KIND_SIGNED, iDayBrightness),
    FIELD_I8(1159, 1090, KIND_SIGNED, iDayContrast),
    FIELD_I8(1171, 1111, KIND_SIGNED, iDaySaturation),
    FIELD_I8(1173, 1114, KIND_PLAIN, iDaySunBright),
    FIELD_I8(1174, 1115, KIND_PLAIN, iDaySunSize),
    FIELD_I8(1169, 1104, KIND_PLAIN, iOHaloRadius),
    FIELD_I8(1165, 1097, KIND_PLAIN, iIHaloRadius),
    FIELD_I8(1168, 1103, KIND_PLAIN, iOHaloIntensity),
    FIELD_I8(1164, 1096, KIND_PLAIN, iIHaloIntensity),
};

const LayerField kNightFields[] = {
    FIELD_I8(1166, 1099, KIND_PLAIN, iNightLights),
    FIELD_I8(1167, 1100, KIND_PLAIN, iNightLightsDensity),
    FIELD_I8(1157, 1086, KIND_SIGNED, iNightBrightness),
    FIELD_I8(1159, 1090, KIND_SIGNED, iNightContrast),
    FIELD_I8(1171, 1111, KIND_SIGNED, iNightSaturation),
    FIELD_I8(1160, 1091, KIND_PLAIN, iNightDarkBright),
    FIELD_I8(1161, 1092, KIND_PLAIN, iNightDarkSize),
    FIELD_I8(1158, 1089, KIND_PLAIN, iNightColorization),
    {0, 1117, 1201, KIND_MINUTES, TYPE_I32, offsetof(ViewOptions, iNightEqu)},
    {0, 1118, 1202, KIND_MINUTES, TYPE_I32, offsetof(ViewOptions, iNightPol)},
};

const LayerField kCloudFields[] = {
    FIELD_I8(1170, 1105, KIND_PLAIN, iCloudsOpacity),
    FIELD_I8(1162, 1094, KIND_SIGNED, iCloudsDensity),
    {1172, 1112, 1112 + SPIN_OFFSET, KIND_SHADOW, TYPE_U8, offsetof(ViewOptions, iCloudsShadow)},
};

const LayerField kBackgroundFields[] = {
    FIELD_I8(1157, 1086, KIND_PLAIN, iStarsBrightness),
    FIELD_I8(1162, 1094, KIND_PLAIN, iStarsDensity),
};

// A colour swatch and the view field it edits.
struct LayerColour {
    int swatch;
    size_t offset;
};

const LayerColour kDayColours[] = {
    {1072, offsetof(ViewOptions, crOHalo)},
    {1070, offsetof(ViewOptions, crIHalo)},
};
const LayerColour kNightColours[] = {{1071, offsetof(ViewOptions, crNightColorization)}};
const LayerColour kBackgroundColours[] = {{1065, offsetof(ViewOptions, crBackground)}};

// The byte range of a layer that "Defaults" takes from the default view.
struct LayerRange {
    size_t first, end;
};

#define COUNT_OF(a) (int)(sizeof(a) / sizeof((a)[0]))

struct LayerDialogType {
    int templateId;
    const LayerField *fields;
    int fieldCount;
    const LayerColour *colours;
    int colourCount;
    LayerRange defaults;   // empty: no "Defaults" button
};

const LayerDialogType kLayerDialogs[] = {
    {VIEWDLG_DAY, kDayFields, COUNT_OF(kDayFields), kDayColours, COUNT_OF(kDayColours),
     {offsetof(ViewOptions, iDayUrban), offsetof(ViewOptions, bNight)}},
    {VIEWDLG_NIGHT, kNightFields, COUNT_OF(kNightFields), kNightColours, COUNT_OF(kNightColours),
     {offsetof(ViewOptions, iNightLights), offsetof(ViewOptions, bClouds)}},
    {VIEWDLG_CLOUDS, kCloudFields, COUNT_OF(kCloudFields), 0, 0, {0, 0}},
    {VIEWDLG_BACKGROUND, kBackgroundFields, COUNT_OF(kBackgroundFields), kBackgroundColours,
     COUNT_OF(kBackgroundColours), {0, 0}},
};

enum {
    MAX_LAYER_COLOURS = 2,
    BG_TRANSPARENT = 1289,
    BG_COLOUR = 1290,
    BG_IMAGE = 1291,
    BG_SWATCH = 1065,
    BG_CHANGE = 1005,
    BG_PATH = 1098,
    BG_BROWSE = 1004,
    BG_IMAGE_MODE = 1294,
    BG_IMAGE_MODE_LABEL = 1295,
    BG_RANDOM = 1054,
    BG_STARS = 1060,
    BG_TILE = 3,
    BG_IMAGE_MODE_COUNT = 5,
};

struct LayerDialog {
    const LayerDialogType *type;
    ViewOptions *view;
    ViewOptions *kept;               // the view as it was on opening
    COLORREF colours[MAX_LAYER_COLOURS];
    uint8_t dirty;
    uint8_t previewed;
    uint8_t refreshing;              // the program writes the controls
};

const LayerDialogType *FindLayerDialog(int templateId)
{
    for (int i = 0; i < COUNT_OF(kLayerDialogs); i++)
        if (kLayerDialogs[i].templateId == templateId)
            return &kLayerDialogs[i];
    return 0;
}

LayerDialog *DialogState(HWND dialog)
{
    return (LayerDialog *)GetWindowLongPtrA(dialog, DWLP_USER);
}

// ---- field access ----

int ReadField(const ViewOptions *view, const LayerField *field)
{
    const char *p = (const char *)view + field->offset;
    switch (field->type) {
    case TYPE_I8:
        return *(const int8_t *)p;
    case TYPE_U8:
        return *(const uint8_t *)p;
    default:
        return *(const int32_t *)p;
    }
}

void WriteField(ViewOptions *view, const LayerField *field, int value)
{
    char *p = (char *)view + field->offset;
    switch (field->type) {
    case TYPE_I8:
        *(int8_t *)p = (int8_t)value;
        break;
    case TYPE_U8:
        *(uint8_t *)p = (uint8_t)value;
        break;
    default:
        *(int32_t *)p = value;
        break;
    }
}

COLORREF *ViewColour(ViewOptions *view, const LayerColour *colour)
{
    return (COLORREF *)((char *)view + colour->offset);
}

// The value range of the spin button (and of the trackbar, shifted for signed values).
void SpinRange(const LayerField *field, int *low, int *high)
{
    *low = field->kind == KIND_SIGNED ? -100 : 0;
    *high = field->kind == KIND_SHADOW ? 200 : field->kind == KIND_MINUTES ? 1440 : 100;
}

// What a typed value is clamped to: the spin range, except the shadow's 0..100.
void TypedRange(const LayerField *field, int *low, int *high)
{
    SpinRange(field, low, high);
    if (field->kind == KIND_SHADOW)
        *high = 100;
}

int TrackbarShift(const LayerField *field)
{
    return field->kind == KIND_SIGNED ? 100 : 0;
}

const LayerField *FieldByControl(const LayerDialog *state, int id)
{
    for (int i = 0; i < state->type->fieldCount; i++) {
        const LayerField *field = &state->type->fields[i];
        if (field->edit == id || field->spin == id || (field->trackbar && field->trackbar == id))
            return field;
    }
    return 0;
}

// ---- refresh and commit ----

void SetTrackbar(HWND dialog, const LayerField *field, int value)
{
    if (field->trackbar)
        SendDlgItemMessageA(dialog, field->trackbar, TBM_SETPOS, TRUE,
                            value + TrackbarShift(field));
}

void RefreshFields(HWND dialog, LayerDialog *state)
{
    for (int i = 0; i < state->type->fieldCount; i++) {
        const LayerField *field = &state->type->fields[i];
        int value = ReadField(state->view, field);
        SetTrackbar(dialog, field, value);
        SetDlgItemNumber(dialog, field->edit, value);
    }
}

bool BackgroundImageChosen(HWND dialog)
{
    return IsDlgButtonChecked(dialog, BG_IMAGE) == BST_CHECKED;
}

void RefreshBackground(HWND dialog, const ViewOptions *view)
{
    int mode = view->iBGMode;
    CheckRadioButton(dialog, BG_TRANSPARENT, BG_IMAGE,
                     mode == 1 ? BG_COLOUR : mode == 2 ? BG_IMAGE : BG_TRANSPARENT);
    SetDlgItemTextA(dialog, BG_PATH, view->szBGImage);
    SendDlgItemMessageA(dialog, BG_IMAGE_MODE, CB_SETCURSEL, view->iBGImgMode, 0);
    SetDlgCheck(dialog, BG_RANDOM, view->bBGRandPos);
    SetDlgCheck(dialog, BG_STARS, view->bStars);
    EnableDlgItems(mode == 1, dialog, BG_SWATCH, BG_CHANGE, 0);
    EnableDlgItems(mode == 2, dialog, BG_PATH, BG_BROWSE, BG_IMAGE_MODE, BG_IMAGE_MODE_LABEL, 0);
    EnableDlgItems(mode == 2 && view->iBGImgMode == BG_TILE, dialog, BG_RANDOM, 0);
    EnableDlgItems(view->bStars != 0, dialog, 1157, 1086, 1086 + SPIN_OFFSET, 1162, 1094,
                   1094 + SPIN_OFFSET, 1058, 1059, 0);
}

void RefreshLayerDialog(HWND dialog, LayerDialog *state)
{
    state->refreshing = 1;
    RefreshFields(dialog, state);
    if (state->type->templateId == VIEWDLG_BACKGROUND)
        RefreshBackground(dialog, state->view);
    state->refreshing = 0;
}

void CommitBackground(HWND dialog, ViewOptions *view)
{
    view->iBGMode = IsDlgButtonChecked(dialog, BG_COLOUR) == BST_CHECKED ? 1
                    : BackgroundImageChosen(dialog)                     ? 2
                                                                        : 0;
    GetDlgItemTextA(dialog, BG_PATH, view->szBGImage, sizeof view->szBGImage);
    int imageMode = (int)SendDlgItemMessageA(dialog, BG_IMAGE_MODE, CB_GETCURSEL, 0, 0);
    if (imageMode >= 0 && imageMode < BG_IMAGE_MODE_COUNT)
        view->iBGImgMode = (int8_t)imageMode;
    view->bBGRandPos = (int8_t)(GetDlgCheck(dialog, BG_RANDOM) == BST_CHECKED);
    view->bStars = (int8_t)(GetDlgCheck(dialog, BG_STARS) == BST_CHECKED);
}

void CommitLayerDialog(HWND dialog, LayerDialog *state)
{
    ViewOptions *view = state->view;
    for (int i = 0; i < state->type->fieldCount; i++) {
        const LayerField *field = &state->type->fields[i];
        int low, high;
        if (field->trackbar) {
            int position = (int)SendDlgItemMessageA(dialog, field->trackbar, TBM_GETPOS, 0, 0);
            SpinRange(field, &low, &high);
            int value = position - TrackbarShift(field);
            ClampToRange(&value, low, high);
            WriteField(view, field, value);
        } else {
            TypedRange(field, &low, &high);
            WriteField(view, field, GetDlgItemNumber(dialog, field->edit, low, high, false));
        }
    }
    for (int i = 0; i < state->type->colourCount; i++)
        *ViewColour(view, &state->type->colours[i]) = state->colours[i];
    if (state->type->templateId == VIEWDLG_DAY)
        view->bHalo = (int8_t)(view->iOHaloRadius != 0 || view->iIHaloRadius != 0);
    if (state->type->templateId == VIEWDLG_BACKGROUND)
        CommitBackground(dialog, view);
    state->dirty = 1;
}

void PostCommitAndRefresh(HWND dialog)
{
    PostMessageA(dialog, VIEWDLG_COMMIT, 0, 0);
    PostMessageA(dialog, VIEWDLG_REFRESH, 0, 0);
}

// ---- edits ----

// A value typed (or spun) into a field's edit: stored and shown on the trackbar.
void TakeEditValue(HWND dialog, LayerDialog *state, const LayerField *field, bool typed)
{
    int low, high;
    if (typed)
        TypedRange(field, &low, &high);
    else
        SpinRange(field, &low, &high);
    int value = GetDlgItemNumber(dialog, field->edit, low, high, false);
    // An edit emptied on the way to a new number leaves the value alone.
    if (gFrameworkLastError == QRF_ERR_EMPTY_NUMBER)
        return;
    WriteField(state->view, field, value);
    SetTrackbar(dialog, field, value);
    PostMessageA(dialog, VIEWDLG_COMMIT, 0, 0);
}

void OnEditChanged(HWND dialog, LayerDialog *state, int id)
{
    if (state->refreshing || GetFocus() != GetDlgItem(dialog, id))
        return;
    const LayerField *field = FieldByControl(state, id);
    if (field && field->edit == id) {
        // While a spin button is held the minutes wait for its release.
        if (field->kind == KIND_MINUTES && (GetKeyState(VK_LBUTTON) & 0x8000))
            return;
        TakeEditValue(dialog, state, field, true);
    } else if (id == BG_PATH && state->type->templateId == VIEWDLG_BACKGROUND) {
        PostMessageA(dialog, VIEWDLG_COMMIT, 0, 0);
    }
}

void OnSpin(HWND dialog, LayerDialog *state, HWND spin, int code)
{
    const LayerField *field = FieldByControl(state, GetDlgCtrlID(spin));
    if (!field || state->refreshing)
        return;
    if (field->kind == KIND_MINUTES && code != SB_ENDSCROLL)
        return;
    TakeEditValue(dialog, state, field, false);
}

// ---- set-up ----

void SetRanges(HWND dialog, const LayerDialogType *type)
{
    for (int i = 0; i < type->fieldCount; i++) {
        const LayerField *field = &type->fields[i];
        int low, high;
        SpinRange(field, &low, &high);
        if (field->trackbar)
            SendDlgItemMessageA(dialog, field->trackbar, TBM_SETRANGE, TRUE,
                                MAKELPARAM(low + TrackbarShift(field),
                                           high + TrackbarShift(field)));
        SendDlgItemMessageA(dialog, field->spin, UDM_SETRANGE32, (WPARAM)low, (LPARAM)high);
        SendDlgItemMessageA(dialog, field->edit, EM_LIMITTEXT, 5, 0);
    }
}

void FillImageModes(HWND dialog)
{
    static const char *const kFallback[BG_IMAGE_MODE_COUNT] = {"Fill", "Fit", "Stretch", "Tile",
                                                               "Center"};
    for (int i = 0; i < BG_IMAGE_MODE_COUNT; i++) {
        const char *text = gApp.strings.GetText(VIEWDLG_IMAGE_MODES, i);
        SendDlgItemMessageA(dialog, BG_IMAGE_MODE, CB_ADDSTRING, 0,
                            (LPARAM)(text ? text : kFallback[i]));
    }
    SendDlgItemMessageA(dialog, BG_PATH, EM_LIMITTEXT, sizeof(((ViewOptions *)0)->szBGImage) - 1,
                        0);
}

void InitLayerDialog(HWND dialog, LayerDialog *state)
{
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
    InitDialog(dialog);
    SetRanges(dialog, state->type);
    for (int i = 0; i < state->type->colourCount; i++) {
        state->colours[i] = *ViewColour(state->view, &state->type->colours[i]);
        InstallColourSwatch(dialog, state->type->colours[i].swatch, &state->colours[i]);
    }
    if (state->type->templateId == VIEWDLG_BACKGROUND)
        FillImageModes(dialog);
    RefreshLayerDialog(dialog, state);
    SetTimer(dialog, VIEWDLG_PREVIEW_TIMER, VIEWDLG_PREVIEW_MS, 0);
}

void PreviewIfDirty(LayerDialog *state)
{
    if (!state->dirty)
        return;
    state->dirty = 0;
    state->previewed = 1;
    StartScreenPreview();
}

// ---- commands ----

void TakeDefaults(HWND dialog, LayerDialog *state)
{
    const LayerRange *range = &state->type->defaults;
    if (range->end <= range->first)
        return;
    memcpy((char *)state->view + range->first, (const char *)DefaultView(0) + range->first,
           range->end - range->first);
    for (int i = 0; i < state->type->colourCount; i++) {
        state->colours[i] = *ViewColour(state->view, &state->type->colours[i]);
        InvalidateRect(GetDlgItem(dialog, state->type->colours[i].swatch), 0, TRUE);
    }
    PostMessageA(dialog, VIEWDLG_REFRESH, 0, 0);
    state->dirty = 1;
}

void BrowseBackgroundImage(HWND dialog, LayerDialog *state)
{
    static const char kFilter[] = "Supported Image Files (*.bmp,*.jpg, *.png)\0"
                                  "*.bmp;*.jpg;*.jpeg;*.png\0";
    char current[260];
    GetDlgItemTextA(dialog, BG_PATH, current, sizeof current);
    const char *chosen = ShowFileDialog(false, kFilter, 0, 0, 0, current);
    if (!chosen)
        return;
    CopyText(state->view->szBGImage, chosen, sizeof state->view->szBGImage);
    SetDlgItemTextA(dialog, BG_PATH, state->view->szBGImage);
    PostCommitAndRefresh(dialog);
}

void EndLayerDialog(HWND dialog, LayerDialog *state, int result)
{
    KillTimer(dialog, VIEWDLG_PREVIEW_TIMER);
    if (result == IDOK) {
        CommitLayerDialog(dialog, state);
        ViewOptions *view = state->view;
        if (state->type->templateId == VIEWDLG_BACKGROUND && view->iBGMode == 2 &&
            !view->szBGImage[0])
            view->iBGMode = 0;
    } else {
        memcpy(state->view, state->kept, sizeof *state->view);
        // The preview showed the edits: let it show the restored view.
        state->dirty = state->previewed;
    }
    PreviewIfDirty(state);
    EndDialog(dialog, result);
}

void RunLayerCommand(HWND dialog, LayerDialog *state, int id, int code)
{
    for (int i = 0; i < state->type->colourCount; i++)
        if (state->type->colours[i].swatch == id) {
            *ViewColour(state->view, &state->type->colours[i]) = state->colours[i];
            state->dirty = 1;
            return;
        }
    switch (id) {
    case IDOK:
    case IDCANCEL:
        EndLayerDialog(dialog, state, id);
        return;
    case VIEWDLG_HELP:
        ShowProgramHelp("ViewOptions.htm");
        return;
    case VIEWDLG_DEFAULTS:
        TakeDefaults(dialog, state);
        return;
    }
    if (code == EN_CHANGE) {
        OnEditChanged(dialog, state, id);
        return;
    }
    if (code == EN_KILLFOCUS && FieldByControl(state, id)) {
        // A typed value out of range now shows as stored.
        PostMessageA(dialog, VIEWDLG_REFRESH, 0, 0);
        return;
    }
    if (state->type->templateId != VIEWDLG_BACKGROUND || state->refreshing)
        return;
    switch (id) {
    case BG_TRANSPARENT:
    case BG_COLOUR:
    case BG_IMAGE:
    case BG_RANDOM:
    case BG_STARS:
        if (code == BN_CLICKED)
            PostCommitAndRefresh(dialog);
        break;
    case BG_IMAGE_MODE:
        if (code == CBN_SELCHANGE)
            PostCommitAndRefresh(dialog);
        break;
    case BG_CHANGE:
        SendDlgItemMessageA(dialog, BG_SWATCH, WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
        break;
    case BG_BROWSE:
        BrowseBackgroundImage(dialog, state);
        break;
    }
}

INT_PTR CALLBACK LayerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        InitLayerDialog(dialog, (LayerDialog *)lParam);
        return TRUE;
    }
    LayerDialog *state = DialogState(dialog);
    if (!state)
        return FALSE;
    switch (message) {
    case VIEWDLG_REFRESH:
        RefreshLayerDialog(dialog, state);
        return TRUE;
    case VIEWDLG_COMMIT:
        CommitLayerDialog(dialog, state);
        return TRUE;
    case WM_TIMER:
        if (wParam == VIEWDLG_PREVIEW_TIMER)
            PreviewIfDirty(state);
        return TRUE;
    case WM_HSCROLL:
        if (lParam)
            PostCommitAndRefresh(dialog);
        return TRUE;
    case WM_VSCROLL:
        if (lParam)
            OnSpin(dialog, state, (HWND)lParam, LOWORD(wParam));
        return TRUE;
    case WM_COMMAND:
        RunLayerCommand(dialog, state, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_HELP:
        RunLayerCommand(dialog, state, VIEWDLG_HELP, 0);
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        return FALSE;
    }
    return FALSE;
}

}   // namespace

int ShowViewLayerDialog(HWND owner, int templateId, ViewOptions *view)
{
    const LayerDialogType *type = FindLayerDialog(templateId);
    if (!type || !view)
        return IDCANCEL;
    LayerDialog state = {};
    state.type = type;
    state.view = view;
    state.kept = CopyOfView(view);
    if (!state.kept)
        return IDCANCEL;
    int result = DoModal(owner, templateId, LayerDialogProc, (LPARAM)&state);
    if (result != IDOK) {
        // Also when the dialog could not be created: the view stays as it was.
        memcpy(view, state.kept, sizeof *view);
        result = IDCANCEL;
    }
    free(state.kept);
    return result;
}
