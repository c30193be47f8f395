// The profile name prompt (120) and the profile settings (121) of the
// options dialog. The settings edit gCurProfileSettings in place; the layout
// values are saved with the profile's next save, a new name is applied by
// RunProfileSettings through the profile module's rename.
#include "shell/profiledialogs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/utilities.h"
#include "shell/help.h"
#include "shell/profiles.h"

static void OpenProfilesHelp()
{
    ShowProgramHelp("Profiles.htm");
}

// ---------------------------------------------------------------- name prompt

INT_PTR CALLBACK ProfileNameDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        SendDlgItemMessageA(dialog, IDC_PROFILE_NAME_EDIT, EM_LIMITTEXT, PROFILE_NAME_SIZE - 1, 0);
        SetDlgItemTextA(dialog, IDC_PROFILE_NAME_EDIT, (const char *)lParam);
        SendDlgItemMessageA(dialog, IDC_PROFILE_NAME_EDIT, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(dialog, IDC_PROFILE_NAME_EDIT));
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            GetDlgItemTextA(dialog, IDC_PROFILE_NAME_EDIT,
                            (char *)GetWindowLongPtrA(dialog, GWLP_USERDATA), PROFILE_NAME_SIZE);
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_PROFILE_HELP:
            OpenProfilesHelp();
            return TRUE;
        }
        break;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- settings

static const int kLayoutControls[] = {
    IDC_PROFILE_X_LABEL, IDC_PROFILE_X, IDC_PROFILE_Y_LABEL, IDC_PROFILE_Y, IDC_PROFILE_W_LABEL,
    IDC_PROFILE_W,       IDC_PROFILE_H_LABEL, IDC_PROFILE_H, IDC_PROFILE_GET_CURRENT,
};

static void SetNumber(HWND dialog, int id, int value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    SetDlgItemTextA(dialog, id, text);
}

// The edit's integer clamped to min..max; an empty or unreadable edit is 0.
static int ReadClamped(HWND dialog, int id, int min, int max)
{
    char text[32];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    long value = strtol(text, 0, 10);
    return value < min ? min : value > max ? max : (int)value;
}

static void EnableLayout(HWND dialog)
{
    bool on = IsDlgButtonChecked(dialog, IDC_PROFILE_TRIGGER) == BST_CHECKED;
    for (int id : kLayoutControls)
        EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE);
}

static void ShowLayout(HWND dialog, int x, int y, int width, int height)
{
    SetNumber(dialog, IDC_PROFILE_X, x);
    SetNumber(dialog, IDC_PROFILE_Y, y);
    SetNumber(dialog, IDC_PROFILE_W, width);
    SetNumber(dialog, IDC_PROFILE_H, height);
}

static void InitSettings(HWND dialog)
{
    InitDialog(dialog);
    const ProfileSettings &settings = gCurProfileSettings;
    SendDlgItemMessageA(dialog, IDC_PROFILE_NAME_EDIT, EM_LIMITTEXT, PROFILE_NAME_SIZE - 1, 0);
    SetDlgItemTextA(dialog, IDC_PROFILE_NAME_EDIT, settings.name);
    CheckDlgButton(dialog, IDC_PROFILE_TRIGGER, settings.scrtrigger ? BST_CHECKED : BST_UNCHECKED);
    ShowLayout(dialog, settings.scrx, settings.scry, settings.scrw, settings.scrh);
    PostMessageA(dialog, PROFILE_TRIGGER_ENABLE, 0, 0);
}

// False, with the name selected for correction, when the edited name could
// not become the profile's folder; the profile would silently keep its old
// name otherwise.
static bool AcceptSettings(HWND dialog)
{
    ProfileSettings &settings = gCurProfileSettings;
    char name[PROFILE_NAME_SIZE];
    GetDlgItemTextA(dialog, IDC_PROFILE_NAME_EDIT, name, sizeof name);
    bool renamed = strcmp(name, settings.name) != 0;
    if (renamed && CheckProfileName(name, settings.name) != NAME_OK) {
        MessageBeep(MB_ICONWARNING);
        HWND edit = GetDlgItem(dialog, IDC_PROFILE_NAME_EDIT);
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        return false;
    }
    settings.scrtrigger = IsDlgButtonChecked(dialog, IDC_PROFILE_TRIGGER) == BST_CHECKED;
    settings.scrx = ReadClamped(dialog, IDC_PROFILE_X, -PROFILE_ORIGIN_LIMIT, PROFILE_ORIGIN_LIMIT);
    settings.scry = ReadClamped(dialog, IDC_PROFILE_Y, -PROFILE_ORIGIN_LIMIT, PROFILE_ORIGIN_LIMIT);
    settings.scrw = ReadClamped(dialog, IDC_PROFILE_W, 0, PROFILE_SIZE_LIMIT);
    settings.scrh = ReadClamped(dialog, IDC_PROFILE_H, 0, PROFILE_SIZE_LIMIT);
    if (renamed)
        CopyText(settings.name, name, PROFILE_NAME_SIZE);
    settings.nameChanged = renamed ? 1 : 0;
    return true;
}

INT_PTR CALLBACK ProfileSettingsDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitSettings(dialog);
        return TRUE;
    case PROFILE_TRIGGER_ENABLE:
        EnableLayout(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PROFILE_TRIGGER:
            if (HIWORD(wParam) == BN_CLICKED)
                PostMessageA(dialog, PROFILE_TRIGGER_ENABLE, 0, 0);
            return TRUE;
        case IDC_PROFILE_GET_CURRENT:
            ShowLayout(dialog, gMonitors.virtualX, gMonitors.virtualY, gMonitors.virtualWidth,
                       gMonitors.virtualHeight);
            return TRUE;
        case IDOK:
            if (AcceptSettings(dialog))
                EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case IDC_PROFILE_HELP:
            OpenProfilesHelp();
            return TRUE;
        }
        break;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        return TRUE;
    }
    (void)lParam;
    return FALSE;
}

int RunProfileSettings(HWND owner)
{
    if (DoModal(owner, IDD_PROFILE_SETTINGS, ProfileSettingsDialogProc, 0) != IDOK)
        return IDCANCEL;
    if (gCurProfileSettings.nameChanged)
        RenameProfile(gCurProfileSettings.name);
    return IDOK;
}
