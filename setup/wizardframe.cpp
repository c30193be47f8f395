// The wizard's frame: the dialog that holds the current page and the
// Back, Next and Cancel buttons, with its icon, colour and fonts; opening,
// running and closing the wizard, and the cancel every page shares.
#include "setup/wizard.h"

#include <commctrl.h>

#include "resources/resource.h"
#include "setup/engine.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/sysactions.h"
#include "setup/wizardpages.h"

void ConfirmWizardCancel()
{
    if (gSetup.closing ||
        SetupMessageBox(gSetup.frame, 1000, MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) !=
            IDYES)
        return;
    // The phase runner stops before its next command; a "Call" in progress
    // is ended. The wizard then closes once the runner has let go.
    gSetupAbort = 1;
    gSetup.result = SETUP_CANCELLED;
    gSetup.cancelledPartway = gSetup.phaseThread != 0;
    CloseSetupWizard();
}

static void SetFrameIcon(HWND frame)
{
    LPCSTR id = MAKEINTRESOURCEA(gSetup.uninstallMode ? IDI_UNINSTALL : IDI_SETUP);
    HMODULE module = GetModuleHandleA(0);
    HICON big = (HICON)LoadImageA(module, id, IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR);
    HICON small = (HICON)LoadImageA(module, id, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                    GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    if (big)
        SendMessageA(frame, WM_SETICON, ICON_BIG, (LPARAM)big);
    if (small)
        SendMessageA(frame, WM_SETICON, ICON_SMALL, (LPARAM)small);
}

static void DropFrameIcons(HWND frame)
{
    const WPARAM kinds[] = {ICON_BIG, ICON_SMALL};
    for (WPARAM which : kinds) {
        HICON icon = (HICON)SendMessageA(frame, WM_SETICON, which, 0);
        if (icon)
            DestroyIcon(icon);
    }
}

static void FrameDpiChanged(HWND frame, WPARAM wParam, LPARAM lParam)
{
    gSetup.dpi = HIWORD(wParam);
    BuildWizardFonts();
    const RECT *suggested = (const RECT *)lParam;
    SetWindowPos(frame, 0, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (gSetup.page)
        SendMessageA(gSetup.page, SETUPM_APPLYFONTS, 0, 0);
}

static INT_PTR CALLBACK FrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        gSetup.frame = frame;
        gSetup.dpi = WizardWindowDpi(frame);
        BuildWizardFonts();
        SetFrameIcon(frame);
        gSetup.background = CreateSolidBrush(gSetup.uninstallMode ? RGB(255, 235, 235)
                                                                  : RGB(235, 245, 255));
        EnumChildWindows(frame, SubstituteChildText, 0);
        char caption[SCRIPT_VALUE_SIZE];
        GetWindowTextA(frame, caption, sizeof caption);
        SubstituteVariables(caption);
        SetWindowTextA(frame, caption);
        return FALSE;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && gSetup.page)
            SendMessageA(gSetup.page, WM_COMMAND, wParam, lParam);
        return TRUE;
    case WM_CLOSE:
        if (wParam == 1)   // the wizard itself gives up
            CloseSetupWizard();
        else if (IsWindowEnabled(GetDlgItem(frame, IDCANCEL)))
            SendMessageA(gSetup.page, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    case 0x02E0:   // WM_DPICHANGED
        FrameDpiChanged(frame, wParam, lParam);
        return TRUE;
    case WM_DESTROY:
        DropFrameIcons(frame);
        return FALSE;
    }
    return FALSE;
}

HWND OpenSetupWizard()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    gSetup.result = 0;
    HWND frame = CreateDialogParamA(GetModuleHandleA(0), MAKEINTRESOURCEA(IDD_WIZ_FRAME), 0,
                                    FrameProc, 0);
    if (!frame)
        return 0;
    if (!ShowWizardPage(gSetup.uninstallMode ? IDD_WIZ_UNWELCOME : IDD_WIZ_WELCOME)) {
        CloseSetupWizard();
        return 0;
    }
    ShowWindow(frame, SW_SHOW);
    SetForegroundWindow(frame);
    return frame;
}

void CloseSetupWizard()
{
    if (!gSetup.frame)
        return;
    // A running phase must not outlive the page it reports to.
    WaitForPhaseThread();
    gScript.statusWindow = 0;
    HWND frame = gSetup.frame;
    gSetup.frame = gSetup.page = 0;
    DestroyWindow(frame);
    if (gSetup.background) {
        DeleteObject(gSetup.background);
        gSetup.background = 0;
    }
}

int RunSetupWizard()
{
    if (!OpenSetupWizard()) {
        SetupMessageBox(0, 1001, MB_OK | MB_ICONSTOP);
        return gSetup.result = SE_SCRIPT_MISSING;
    }
    MSG msg;
    while (gSetup.frame && GetMessageA(&msg, 0, 0, 0) > 0) {
        if (gSetup.frame && IsDialogMessageA(gSetup.frame, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return gSetup.result;
}
