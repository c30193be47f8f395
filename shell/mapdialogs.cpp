// The "Seasonal Maps" and "Additional Maps" dialogs.
#include "shell/mapdialogs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/clamp.h"
#include "framework/dialogs.h"
#include "shell/help.h"

const char kMonthNames[12][12] = {"January", "February", "March",     "April",
                                  "May",     "June",     "July",      "August",
                                  "September", "October", "November", "December"};

namespace {

const char kAutomatic[] = "(Automatic)";
const int kModeRadios[3] = {IDC_SEASON_SIMPLE, IDC_SEASON_ADVANCED, IDC_SEASON_SELECTIVE};

void OpenMapHelp()
{
    ShowProgramHelp("MapArea.htm");
}

struct SeasonState {
    ViewOptions *view;
    ViewOptions *saved;   // the whole record before the dialog, for Cancel
};

SeasonState *SeasonStateOf(HWND dialog)
{
    return (SeasonState *)GetWindowLongPtrA(dialog, DWLP_USER);
}

void FillSeasonCombos(HWND dialog)
{
    HWND month = GetDlgItem(dialog, IDC_SEASON_MONTH), day = GetDlgItem(dialog, IDC_SEASON_DAY);
    SendMessageA(month, CB_ADDSTRING, 0, (LPARAM)kAutomatic);
    for (int i = 0; i < 12; i++)
        SendMessageA(month, CB_ADDSTRING, 0, (LPARAM)kMonthNames[i]);
    SendMessageA(day, CB_ADDSTRING, 0, (LPARAM)kAutomatic);
    for (int i = 1; i <= 31; i++) {
        char text[8];
        snprintf(text, sizeof text, "%d", i);
        SendMessageA(day, CB_ADDSTRING, 0, (LPARAM)text);
    }
}

// Writes the controls from the view.
void RefreshSeason(HWND dialog, const ViewOptions *view)
{
    int month = view->iSeasonMonth, day = view->iSeasonDay, mode = view->iSeasonMixMode;
    ClampToRange(&month, 0, 12);
    ClampToRange(&day, 0, 31);
    SendDlgItemMessageA(dialog, IDC_SEASON_MONTH, CB_SETCURSEL, (WPARAM)month, 0);
    SendDlgItemMessageA(dialog, IDC_SEASON_DAY, CB_SETCURSEL, (WPARAM)day, 0);
    bool blend = view->bSeasonMixNext != 0;
    SetDlgCheck(dialog, IDC_SEASON_BLEND, blend ? BST_CHECKED : BST_UNCHECKED);
    for (int i = 0; i < 3; i++)
        SetDlgCheck(dialog, kModeRadios[i], i == mode ? BST_CHECKED : BST_UNCHECKED);
    EnableDlgItems(blend, dialog, IDC_SEASON_DAY_LABEL, IDC_SEASON_DAY, IDC_SEASON_MODE_LABEL,
                   IDC_SEASON_SIMPLE, IDC_SEASON_ADVANCED, IDC_SEASON_SELECTIVE, 0);
}

// Reads the controls into the view; an unselected control leaves its field.
void CommitSeason(HWND dialog, ViewOptions *view)
{
    int month = (int)SendDlgItemMessageA(dialog, IDC_SEASON_MONTH, CB_GETCURSEL, 0, 0);
    int day = (int)SendDlgItemMessageA(dialog, IDC_SEASON_DAY, CB_GETCURSEL, 0, 0);
    if (month != CB_ERR)
        view->iSeasonMonth = month;
    if (day != CB_ERR)
        view->iSeasonDay = day;
    view->bSeasonMixNext = GetDlgCheck(dialog, IDC_SEASON_BLEND) == BST_CHECKED;
    for (int i = 0; i < 3; i++)
        if (GetDlgCheck(dialog, kModeRadios[i]) == BST_CHECKED)
            view->iSeasonMixMode = i;
}

void SeasonCommand(HWND dialog, SeasonState *state, int id)
{
    switch (id) {
    case IDC_SEASON_BLEND:
        SendMessageA(dialog, SEASON_COMMIT_MESSAGE, 0, 0);
        SendMessageA(dialog, SEASON_REFRESH_MESSAGE, 0, 0);
        break;
    case IDOK:
        CommitSeason(dialog, state->view);
        EndDialog(dialog, IDOK);
        break;
    case IDCANCEL:
        memcpy(state->view, state->saved, sizeof(ViewOptions));
        EndDialog(dialog, IDCANCEL);
        break;
    case 9:
        OpenMapHelp();
        break;
    }
}

}  // namespace

INT_PTR CALLBACK SeasonalMapsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SeasonState *state = new SeasonState();
        state->view = (ViewOptions *)lParam;
        state->saved = CopyOfView(state->view);
        if (!state->saved) {
            delete state;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
        InitDialog(dialog);
        FillSeasonCombos(dialog);
        RefreshSeason(dialog, state->view);
        return FALSE;
    }
    SeasonState *state = SeasonStateOf(dialog);
    if (!state)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        SeasonCommand(dialog, state, LOWORD(wParam));
        return TRUE;
    case SEASON_REFRESH_MESSAGE:
        RefreshSeason(dialog, state->view);
        return TRUE;
    case SEASON_COMMIT_MESSAGE:
        CommitSeason(dialog, state->view);
        return TRUE;
    case WM_HELP:
        OpenMapHelp();
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

int ShowSeasonalMapsDialog(HWND owner, ViewOptions *view)
{
    if (!view)
        return IDCANCEL;
    int result = DoModal(owner, IDD_SEASONAL_MAPS, SeasonalMapsDialogProc, (LPARAM)view);
    return result == IDOK ? IDOK : IDCANCEL;
}

// ---------------------------------------------------------------- additional maps

namespace {

CHyperLink sMapsLink;

void SetHeadingFont(HWND dialog, int dpi)
{
    SendDlgItemMessageA(dialog, IDC_MAPS_HEADING, WM_SETFONT, (WPARAM)DialogFont(dpi, true), TRUE);
}

}  // namespace

INT_PTR CALLBACK AdditionalMapsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        SetHeadingFont(dialog, DialogDpi(dialog));
        SetDlgCheck(dialog, IDC_MAPS_DONT_SHOW, gPrefs.bShowMapDLInfo ? BST_UNCHECKED : BST_CHECKED);
        sMapsLink.Attach(dialog, IDC_MAPS_LINK, ADDITIONAL_MAPS_ADDRESS);
        return FALSE;   // InitDialog focused OK, not the link
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            gPrefs.bShowMapDLInfo = GetDlgCheck(dialog, IDC_MAPS_DONT_SHOW) != BST_CHECKED;
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case 9:
            OpenMapHelp();
            return TRUE;
        }
        return FALSE;
    case WM_HELP:
        OpenMapHelp();
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        SetHeadingFont(dialog, HIWORD(wParam));
        return FALSE;
    case WM_DESTROY:
        sMapsLink.Detach();
        return FALSE;
    }
    return FALSE;
}

int ShowAdditionalMapsDialog(HWND owner)
{
    int result = DoModal(owner, IDD_ADDITIONAL_MAPS, AdditionalMapsDialogProc, 0);
    return result == IDOK ? IDOK : IDCANCEL;
}
