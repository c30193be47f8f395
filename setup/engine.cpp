// The engine's state, its start-up and the program's entry: the mode, the
// script and its phase 0, the refusals of an unsuitable system, then a
// silent run or the wizard, and what is left to do when either ends.
#include "setup/engine.h"

#include <stdlib.h>

#include "framework/utilities.h"
#include "setup/commandline.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/silentrun.h"
#include "setup/sysactions.h"
#include "setup/wizard.h"

SetupEngine gSetup;

static_assert((int)SETUP_CANCELLED == (int)SE_CANCELLED, "a cancelled wizard ends as its runner did");

void ResetSetupEngine()
{
    free(gSetup.scriptText);
    gSetup = SetupEngine();
    ResetScript();
    SetScriptText(0);
    gScript.statusWindow = 0;
    gSetupAbort = 0;
    gRestartNeeded = 0;
}

bool IsSetupModule(HMODULE module)
{
    return FindResourceA(module, "Setup.qis", (LPCSTR)RT_RCDATA) != 0;
}

int StartSetupEngineInMode(bool uninstallMode)
{
    gSetup.uninstallMode = uninstallMode;
    DWORD n = GetModuleFileNameA(0, gSetup.programPath, sizeof gSetup.programPath);
    if (!n || n >= sizeof gSetup.programPath)
        gSetup.programPath[0] = 0;
    gScript.statusWindow = 0;
    SetBuiltInVariables(uninstallMode, gSetup.allUsersDefault);
    const char *name = uninstallMode ? "Uninstall.qis" : "Setup.qis";
    char *text = 0;
    uint32_t size = 0;
    if (LoadFileOrArchive(name, &text, &size) != 0 || !text)
        return SE_SCRIPT_MISSING;
    free(gSetup.scriptText);
    gSetup.scriptText = text;   // the loader terminates it with a NUL
    SetScriptText(gSetup.scriptText);
    if (RunPhase(0) != 0)
        return SE_SCRIPT_MISSING;
    SetDerivedVariables();
    return 0;
}

int StartSetupEngine()
{
    return StartSetupEngineInMode(!IsSetupModule(gResourceModule ? gResourceModule
                                                                 : GetModuleHandleA(0)));
}

int CheckSystemRequirements()
{
    if (GetVariableNumber("#NOX64#") == 1 && GetVariableNumber("#64#") == 1)
        return 1043;
    if (IsVariableDefined("#MINOS#") && GetVariableNumber("#OS#") < GetVariableNumber("#MINOS#"))
        return 1052;
    return 0;
}

void NoteRestartRequest()
{
    if (IsVariableDefined("#REBOOT#"))
        gRestartNeeded = 1;
}

void DeclareDpiAwareness()
{
    HMODULE user = GetModuleHandleA("user32");
    typedef BOOL(WINAPI * ContextFn)(HANDLE);
    typedef BOOL(WINAPI * AwareFn)();
    ContextFn byContext = (ContextFn)(void *)GetProcAddress(user, "SetProcessDpiAwarenessContext");
    if (byContext && (byContext((HANDLE)-4) || byContext((HANDLE)-3)))   // v2, else per monitor
        return;
    typedef HRESULT(WINAPI * ProcessFn)(int);
    HMODULE shcore = LoadLibraryA("shcore.dll");
    ProcessFn byProcess = shcore ? (ProcessFn)(void *)GetProcAddress(shcore,
                                                                     "SetProcessDpiAwareness")
                                 : 0;
    if (byProcess && SUCCEEDED(byProcess(2)))
        return;
    AwareFn aware = (AwareFn)(void *)GetProcAddress(user, "SetProcessDPIAware");
    if (aware)
        aware();
}

static void ReleaseEngine()
{
    ReleaseWizardFonts();
    SetScriptText(0);
    free(gSetup.scriptText);
    gSetup.scriptText = 0;
}

int SetupMain(const char *commandLine)
{
    ResetSetupEngine();
    ParseSetupCommandLine(commandLine);
    int error = StartSetupEngine();
    int refusal = error ? 1001 : CheckSystemRequirements();
    if (refusal) {
        if (gSetup.silent)   // nobody is there to answer a box
            WriteSetupLogMessage(refusal);
        else
            SetupMessageBox(0, refusal, MB_OK | MB_ICONSTOP);
        ReleaseEngine();
        return error ? SE_SCRIPT_MISSING : refusal;
    }
    error = gSetup.silent ? RunSilentSetup() : RunSetupWizard();
    // A wizard cancelled before phase 1 changed nothing; one cancelled while
    // it ran leaves a half-done installation, and says so in the log.
    if (!gSetup.silent && error == SETUP_CANCELLED && gSetup.cancelledPartway)
        WriteCancelLog();
    ReleaseEngine();
    if (gRestartNeeded && !gSetup.silent)
        SetupMessageBox(0, 1011, MB_OK | MB_ICONEXCLAMATION);
    if (gSetup.removeSelf)
        RemoveSelf();
    return error;
}
