// What every page of the wizard has: the band and the mode's icon on the
// background colour, the title fonts, the variables substituted into its
// texts and the web link; and the page procedure, which shows a page and
// hands its buttons to the page's own file.
#include "setup/wizard.h"

#include <string.h>

#include "resources/resource.h"
#include "setup/engine.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/wizardpages.h"

struct PageInfo {
    int id;
    int boldItem;   // the item shown in the bold font, 0 for none
};

static const PageInfo kPages[] = {
    {IDD_WIZ_WELCOME, IDC_WIZ_TEXT},       {IDD_WIZ_AGREEMENT, IDC_WIZ_HEADING},
    {IDD_WIZ_FOLDERS, IDC_WIZ_HEADING},    {IDD_WIZ_PROGRESS, IDC_WIZ_STATUS1},
    {IDD_WIZ_FINISH, IDC_WIZ_HEADING},     {IDD_WIZ_UNWELCOME, IDC_WIZ_HEADING},
    {IDD_WIZ_UNPROGRESS, IDC_WIZ_STATUS1}, {IDD_WIZ_UNFINISH, IDC_WIZ_HEADING},
};

static int BoldItemOf(int pageId)
{
    for (const auto &page : kPages)
        if (page.id == pageId)
            return page.boldItem;
    return 0;
}

HWND PageItem(int id)
{
    return GetDlgItem(gSetup.page, id);
}

void SetWizardButtons(bool back, bool next, bool cancel, const char *nextText)
{
    EnableWindow(GetDlgItem(gSetup.frame, IDC_WIZ_BACK), back);
    EnableWindow(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT), next);
    EnableWindow(GetDlgItem(gSetup.frame, IDCANCEL), cancel);
    SetDlgItemTextA(gSetup.frame, IDC_WIZ_NEXT, nextText);
}

BOOL CALLBACK SubstituteChildText(HWND child, LPARAM)
{
    char text[SCRIPT_VALUE_SIZE];
    if (GetWindowTextA(child, text, sizeof text) > 0 && strchr(text, '#')) {
        SubstituteVariables(text);
        SetWindowTextA(child, text);
    }
    return TRUE;
}

static void ApplyPageFonts(HWND page, int pageId)
{
    SendDlgItemMessageA(page, IDC_WIZ_TITLE, WM_SETFONT, (WPARAM)gSetup.titleFont, TRUE);
    int bold = BoldItemOf(pageId);
    if (bold)
        SendDlgItemMessageA(page, bold, WM_SETFONT, (WPARAM)gSetup.boldFont, TRUE);
    InvalidateRect(page, 0, TRUE);
}

// The web link of every page, from #URLTEXT# and #URLLINK# when defined.
static void SetUpPageLink(HWND page)
{
    HWND item = GetDlgItem(page, IDC_WIZ_WEBLINK);
    if (!item)
        return;
    if (IsVariableDefined("#URLTEXT#"))
        SetWindowTextA(item, GetVariableText("#URLTEXT#"));
    else
        SetWindowTextA(item, SETUP_MAKER_URL);
    MakeWebLink(item, IsVariableDefined("#URLLINK#") ? GetVariableText("#URLLINK#") : SETUP_MAKER_URL,
                false, false);
}

static void DrawModeIcon(const DRAWITEMSTRUCT *draw)
{
    int height = (draw->rcItem.bottom - draw->rcItem.top) & ~1;
    int width = draw->rcItem.right - draw->rcItem.left;
    FillRect(draw->hDC, &draw->rcItem, gSetup.background);
    HICON icon = (HICON)LoadImageA(GetModuleHandleA(0),
                                   MAKEINTRESOURCEA(gSetup.uninstallMode ? IDI_UNINSTALL
                                                                         : IDI_SETUP),
                                   IMAGE_ICON, height, height, LR_DEFAULTCOLOR);
    if (!icon)
        icon = LoadIcon(0, IDI_APPLICATION);
    DrawIconEx(draw->hDC, draw->rcItem.left + (width - height) / 2, draw->rcItem.top, icon,
               height, height, 0, 0, DI_NORMAL);
    DestroyIcon(icon);
}

static bool CommonPageMessage(HWND page, UINT message, WPARAM wParam, LPARAM lParam,
                              INT_PTR *result)
{
    switch (message) {
    case WM_DRAWITEM: {
        const DRAWITEMSTRUCT *draw = (const DRAWITEMSTRUCT *)lParam;
        if (draw->CtlID == IDC_WIZ_BAND)
            FillRect(draw->hDC, &draw->rcItem, gSetup.background);
        else if (draw->CtlID == IDC_WIZ_ICON)
            DrawModeIcon(draw);
        else
            return false;
        *result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC: {
        int id = GetDlgCtrlID((HWND)lParam);
        if (id != IDC_WIZ_TITLE && id != IDC_WIZ_SUBTITLE)
            return false;
        SetBkMode((HDC)wParam, TRANSPARENT);
        *result = (INT_PTR)gSetup.background;
        return true;
    }
    case SETUPM_APPLYFONTS:
        ApplyPageFonts(page, gSetup.pageId);
        *result = TRUE;
        return true;
    }
    return false;
}

// --- the page procedure

static void InitPage()
{
    switch (gSetup.pageId) {
    case IDD_WIZ_WELCOME:
    case IDD_WIZ_UNWELCOME:
        InitWelcomePage();
        SetWizardButtons(false, true, true, "&Next >");
        break;
    case IDD_WIZ_AGREEMENT:
        SetWizardButtons(true, true, true, "I &Agree");
        if (!InitAgreementPage()) {
            SetupMessageBox(gSetup.frame, 1001, MB_OK | MB_ICONSTOP);
            gSetup.result = SE_SCRIPT_MISSING;
            PostMessageA(gSetup.frame, WM_CLOSE, 1, 0);
        }
        break;
    case IDD_WIZ_FOLDERS:
        InitFoldersPage();
        SetWizardButtons(true, true, true, "&Next >");
        break;
    case IDD_WIZ_PROGRESS:
    case IDD_WIZ_UNPROGRESS:
        SetWizardButtons(false, false, true, "&Next >");
        break;
    case IDD_WIZ_FINISH:
    case IDD_WIZ_UNFINISH:
        InitFinishPage();
        SetWizardButtons(false, true, false, "&Finish");
        break;
    }
}

static void PageCommand(int id)
{
    if (gSetup.closing)
        return;
    if (id == IDCANCEL) {
        ConfirmWizardCancel();
        return;
    }
    switch (gSetup.pageId) {
    case IDD_WIZ_WELCOME:
    case IDD_WIZ_UNWELCOME:
        WelcomeCommand(id);
        break;
    case IDD_WIZ_AGREEMENT:
        AgreementCommand(id);
        break;
    case IDD_WIZ_FOLDERS:
        FoldersCommand(id);
        break;
    case IDD_WIZ_PROGRESS:
    case IDD_WIZ_UNPROGRESS:
        ProgressCommand(id);
        break;
    case IDD_WIZ_FINISH:
    case IDD_WIZ_UNFINISH:
        FinishCommand(id);
        break;
    }
}

static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    INT_PTR result = 0;
    if (CommonPageMessage(page, message, wParam, lParam, &result))
        return result;
    if (message == WM_INITDIALOG)
        return TRUE;
    if (page == gSetup.page &&
        (gSetup.pageId == IDD_WIZ_PROGRESS || gSetup.pageId == IDD_WIZ_UNPROGRESS))
        if (ProgressPageMessage(message, wParam, lParam))
            return TRUE;
    if (message == WM_COMMAND && page == gSetup.page && HIWORD(wParam) == BN_CLICKED) {
        PageCommand(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

bool ShowWizardPage(int pageId)
{
    if (!gSetup.frame)
        return false;
    HWND old = gSetup.page;
    HWND page = CreateDialogParamA(GetModuleHandleA(0), MAKEINTRESOURCEA(pageId), gSetup.frame,
                                   PageProc, 0);
    if (!page)
        return false;
    gSetup.page = page;
    gSetup.pageId = pageId;
    if (old)
        DestroyWindow(old);
    SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
    EnumChildWindows(page, SubstituteChildText, 0);
    SetUpPageLink(page);
    ApplyPageFonts(page, pageId);
    InitPage();
    ShowWindow(page, SW_SHOW);
    if (pageId == IDD_WIZ_PROGRESS || pageId == IDD_WIZ_UNPROGRESS)
        StartProgressPage();
    SetFocus(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT));
    return true;
}
