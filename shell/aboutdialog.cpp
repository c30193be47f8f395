// The About dialog.
#include "shell/aboutdialog.h"

#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/dialogs.h"
#include "framework/framelist.h"
#include "framework/messages.h"
#include "framework/updatecheck.h"
#include "framework/utilities.h"
#include "resources/resource.h"
#include "shell/help.h"

namespace {

const char kNoticeFallback[] = "Copyright \251 Kestrova. All rights reserved.";
const char kWebFallback[] = "https://www.veltaspar.net/";
const uint32_t kBackedUpFlags = 276;   // information, OK
const uint32_t kRestartFlags = 296;    // question, OK and Cancel

enum { LINK_WEB, LINK_PROGRAM, LINK_DATA, LINKS };
CHyperLink sLinks[LINKS];

const char *FrameworkText(int id, int variant, const char *fallback)
{
    const char *text = gApp.strings.GetText((uint16_t)id, variant);
    return text && text[0] ? text : fallback;
}

const char *ProductName()
{
    return FrameworkText(0, 0, gApp.productName);
}

void SetProductFont(HWND dialog, int dpi)
{
    SendDlgItemMessageA(dialog, IDC_ABOUT_PRODUCT, WM_SETFONT, (WPARAM)DialogFont(dpi, true),
                        TRUE);
}

void SetAboutTexts(HWND dialog)
{
    SetWindowTextA(dialog, ProductName());
    SetDlgItemTextF(dialog, IDC_ABOUT_PRODUCT, FrameworkText(ABOUT_STRINGS, 0, "%s v%d.%d.%d"),
                    ProductName(), gApp.versionMajor, gApp.versionMinor, gApp.versionBuild);
    SetDlgItemTextA(dialog, IDC_ABOUT_NOTICE, FrameworkText(ABOUT_STRINGS, 1, kNoticeFallback));
    const char *web = FrameworkText(ABOUT_STRINGS, 2, kWebFallback);
    SetDlgItemTextA(dialog, IDC_ABOUT_WEB, web);
    SetDlgItemTextA(dialog, IDC_ABOUT_PROGRAM_FOLDER, gApp.ownFolder);
    SetDlgItemTextA(dialog, IDC_ABOUT_DATA_FOLDER, gApp.dataFolder);
    sLinks[LINK_WEB].Attach(dialog, IDC_ABOUT_WEB, web);
    sLinks[LINK_PROGRAM].Attach(dialog, IDC_ABOUT_PROGRAM_FOLDER, gApp.ownFolder);
    sLinks[LINK_DATA].Attach(dialog, IDC_ABOUT_DATA_FOLDER, gApp.dataFolder);
}

void InitAboutDialog(HWND dialog)
{
    InitDialog(dialog);
    SetProductFont(dialog, DialogDpi(dialog));
    SetAboutTexts(dialog);
    EnableWindow(GetDlgItem(dialog, 9), HelpFileExists());
}

void DrawProgramIcon(const DRAWITEMSTRUCT *item)
{
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_BTNFACE));
    int size = (item->rcItem.right - item->rcItem.left) & ~1;
    HICON icon = (HICON)LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDI_PROGRAM), IMAGE_ICON,
                                   size, size, LR_SHARED);
    if (icon)
        DrawIconEx(item->hDC, item->rcItem.left, item->rcItem.top, icon, size, size, 0, 0,
                   DI_NORMAL);
}

void Backup(HWND dialog)
{
    SaveLayout();
    gApp.SendToMainWindow(QRFM_SAVENOW, 0, 0);
    if (ExchangeConfigArchive(dialog, ARCHIVE_MODE_BACKUP, 0) == ARCHIVE_OK)
        FrameworkMessageBox(dialog, ProductName(), "%s", kBackedUpFlags, 0,
                            FrameworkText(ARCHIVE_RESULT_STRINGS, 1, "Data backed up successfully!"));
}

// Restore and reset take effect at the next start, which the user may ask for now.
void RestoreOrReset(HWND dialog, int mode, int variant, const char *fallback)
{
    if (ExchangeConfigArchive(dialog, mode, 0) != ARCHIVE_OK)
        return;
    int answer = FrameworkMessageBox(
        dialog, ProductName(), "%s\n%s", kRestartFlags, 0,
        FrameworkText(ARCHIVE_RESULT_STRINGS, variant, fallback),
        FrameworkText(RESTART_STRING, 0, "The program must be restarted to apply the changes.\n"
                                         "Click OK to restart the program now."));
    if (answer != IDOK)
        return;
    EndDialog(dialog, IDOK);
    gApp.RequestRestart(-1, 0, true);
}

void AboutHelp(HWND dialog)
{
    if (IsWindowEnabled(GetDlgItem(dialog, 9)))
        gApp.SendToMainWindow(QRFM_HELP, (WPARAM) "About", 0);
}

void AboutCommand(HWND dialog, int id)
{
    switch (id) {
    case IDC_ABOUT_BACKUP:
        Backup(dialog);
        break;
    case IDC_ABOUT_RESTORE:
        RestoreOrReset(dialog, ARCHIVE_MODE_RESTORE, 0, "Data restored successfully!");
        break;
    case IDC_ABOUT_RESET:
        RestoreOrReset(dialog, ARCHIVE_MODE_RESET, 2, "Data reset successfully!");
        break;
    case IDC_ABOUT_ARCHIVE:
        OpenArchiveDialog(dialog);
        break;
    case IDC_ABOUT_UPDATE:
        // The update dialog is modeless and outlives this one: an owner
        // destroyed under it would leave the check holding a dead window.
        OpenUpdateCheckDialog(GetWindow(dialog, GW_OWNER));
        break;
    case IDOK:
    case IDCANCEL:
        EndDialog(dialog, id);
        break;
    case 9:
        AboutHelp(dialog);
        break;
    }
}

}  // namespace

bool HelpFileExists()
{
    char path[MAX_PATH];
    ProgramHelpPath(path, sizeof path);
    return gApp.ownFolder[0] && PathExists(path);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitAboutDialog(dialog);
        return FALSE;
    case WM_DRAWITEM:
        if (wParam != IDC_ABOUT_ICON_LEFT && wParam != IDC_ABOUT_ICON_RIGHT)
            return FALSE;
        DrawProgramIcon((const DRAWITEMSTRUCT *)lParam);
        return TRUE;
    case WM_COMMAND:
        AboutCommand(dialog, LOWORD(wParam));
        return TRUE;
    case WM_HELP:
        AboutHelp(dialog);
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        SetProductFont(dialog, HIWORD(wParam));
        return FALSE;
    case WM_DESTROY:
        for (CHyperLink &link : sLinks)
            link.Detach();
        return FALSE;
    }
    return FALSE;
}

int ShowAboutDialog(HWND owner)
{
    if (!owner)
        owner = gApp.GetOwnForegroundWindow();
    int result = DoModal(owner, IDD_ABOUT, AboutDialogProc, 0);
    return result == IDCANCEL ? IDCANCEL : IDOK;
}
