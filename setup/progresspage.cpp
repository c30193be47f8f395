// The progress page: phase 1 on a thread of its own, the page its status
// window; the runner's status, progress, end and error messages arrive
// here, and a failure runs phase 3 and ends the wizard.
#include "setup/wizardpages.h"

#include <commctrl.h>

#include "resources/resource.h"
#include "setup/engine.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/wizard.h"

static DWORD WINAPI PhaseOneThread(void *)
{
    int error = RunPhase(1);
    // In the wizard a stop comes without an end-of-phase message; a cancel
    // needs none, the wizard is already closing.
    if (error && error != SE_CANCELLED && !gScript.uninstallMode)
        PostMessageA(gSetup.page, SETUPM_PHASEFAILED, (WPARAM)error, 0);
    return (DWORD)error;
}

// Waits for phase 1 to end while the window stays alive: the phase's sent
// messages are answered and everything else is dispatched, so the wizard
// repaints and moves. gSetup.closing keeps the buttons and the phase's
// posted messages from starting anything meanwhile.
void WaitForPhaseThread()
{
    if (!gSetup.phaseThread)
        return;
    bool wasClosing = gSetup.closing, quit = false;
    int quitCode = 0;
    gSetup.closing = true;
    // A message dispatched here may close the wizard and wait in its turn;
    // then the thread is gone when that returns.
    while (gSetup.phaseThread &&
           MsgWaitForMultipleObjects(1, &gSetup.phaseThread, FALSE, INFINITE, QS_ALLINPUT) !=
               WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {   // kept for the loop that owns it
                quit = true;
                quitCode = (int)msg.wParam;
                continue;
            }
            if (gSetup.frame && IsDialogMessageA(gSetup.frame, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    if (gSetup.phaseThread)
        CloseHandle(gSetup.phaseThread);
    gSetup.phaseThread = 0;
    gSetup.closing = wasClosing;
    if (quit)
        PostQuitMessage(quitCode);
}

static void FailWizard(int error)
{
    WaitForPhaseThread();
    gScript.statusWindow = 0;
    RunPhase(3);
    gSetup.result = error ? error : SE_THREAD;
    CloseSetupWizard();
}

void StartProgressPage()
{
    SendDlgItemMessageA(gSetup.page, IDC_WIZ_PROGRESSBAR, PBM_SETRANGE32, 0, 100);
    gSetup.phaseFailed = false;
    gScript.statusWindow = gSetup.page;
    gSetup.phaseThread = CreateThread(0, 0, PhaseOneThread, 0, 0, 0);
    if (!gSetup.phaseThread) {
        gScript.statusWindow = 0;
        ShowScriptError(gSetup.frame, SE_THREAD);
        PostMessageA(gSetup.page, SETUPM_PHASEFAILED, SE_THREAD, 0);
        gSetup.phaseFailed = true;
    }
}

bool ProgressPageMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (gSetup.closing) {   // cancelled: no box, no next page, the runner stops
        if (message == SETUPM_ERROR) {
            SetWindowLongPtrA(gSetup.page, DWLP_MSGRESULT, IDCANCEL);
            return true;
        }
        if (message == SETUPM_PHASEEND || message == SETUPM_PHASEFAILED)
            return true;
    }
    switch (message) {
    case SETUPM_STATUS:
        SetDlgItemTextA(gSetup.page, wParam ? IDC_WIZ_STATUS2 : IDC_WIZ_STATUS1,
                        (const char *)lParam);
        return true;
    case SETUPM_PROGRESS:
        SendDlgItemMessageA(gSetup.page, IDC_WIZ_PROGRESSBAR, PBM_SETPOS, wParam, 0);
        return true;
    case SETUPM_PHASEEND:
        SetDlgItemTextA(gSetup.page, IDC_WIZ_STATUS1, "Finished");
        SendDlgItemMessageA(gSetup.page, IDC_WIZ_PROGRESSBAR, PBM_SETPOS, 100, 0);
        EnableWindow(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT), TRUE);
        // Pressed once the phase thread has let go of the page.
        PostMessageA(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT), BM_CLICK, 0, 0);
        return true;
    case SETUPM_ERROR: {
        int answer = ShowScriptError(gSetup.frame, (int)wParam);
        if (wParam == SE_TASK_SCHEDULER)
            answer = IDYES;   // the script goes on after it
        if (answer == IDOK || answer == IDCANCEL || answer == IDNO)
            gSetup.phaseFailed = true;   // the phase ends; FailWizard follows
        SetWindowLongPtrA(gSetup.page, DWLP_MSGRESULT, answer);
        return true;
    }
    case SETUPM_PHASEFAILED:
        if (!gSetup.phaseFailed)   // a stop the user was not asked about
            ShowScriptError(gSetup.frame, (int)wParam);
        FailWizard((int)wParam);
        return true;
    }
    return false;
}

void ProgressCommand(int id)
{
    if (id != IDC_WIZ_NEXT)
        return;
    WaitForPhaseThread();
    gScript.statusWindow = 0;
    ShowWizardPage(gSetup.uninstallMode ? IDD_WIZ_UNFINISH : IDD_WIZ_FINISH);
}
