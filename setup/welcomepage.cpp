// The welcome page: the product's description (setup) or the configuration
// folder with the box for keeping it (uninstall); its Next runs the upgrade
// check and the administrator test before the wizard goes on.
#include "framework/application.h"
#include "resources/resource.h"
#include "setup/engine.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/setupinfo.h"
#include "setup/sysactions.h"
#include "setup/upgrade.h"
#include "setup/wizard.h"
#include "setup/wizardpages.h"

static void ShowConfigFolder()
{
    char folder[MAX_PATH] = "";
    bool asUser = ActAsDesktopUser(true);
    bool found = GetConfigFolder(GetVariableText("#PROGRAM#"), folder);
    if (asUser)
        ActAsDesktopUser(false);
    SetDlgItemTextA(gSetup.page, IDC_WIZ_CONFIGFOLDER,
                    found ? folder : GetVariableText("#CONFIGPATH#"));
}

void InitWelcomePage()
{
    if (gSetup.uninstallMode) {
        ShowConfigFolder();
        return;
    }
    char text[SCRIPT_VALUE_SIZE];
    CopyText(text, GetVariableText("#DESCR#"), (int)sizeof text);
    for (char *p = text; p[0] && p[1]; p++)   // "\n" pairs become line breaks
        if (p[0] == '\\' && p[1] == 'n') {
            p[0] = '\r';
            p[1] = '\n';
            p++;
        }
    SetDlgItemTextA(gSetup.page, IDC_WIZ_DESCRIPTION, text);
}

static bool IsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = 0;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!CheckTokenMembership(0, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

static void RunOldUninstallerHidden(const char *commandLine)
{
    ShowWindow(gSetup.frame, SW_HIDE);
    RunOldUninstaller(commandLine);
    ShowWindow(gSetup.frame, SW_SHOW);
    SetForegroundWindow(gSetup.frame);
}

static void WelcomeNext()
{
    UpgradeCheck check;
    CheckForUpgrade(&check);
    if (check.askMessage && !gSetup.uninstallMode) {
        char text[SCRIPT_VALUE_SIZE], caption[SCRIPT_VALUE_SIZE] = "#SETUPMODE#";
        CopyText(text, GetVariableText("#UPGMSG1#"), (int)sizeof text);
        SubstituteVariables(caption);
        SetForegroundWindow(gSetup.frame);
        if (MessageBoxA(gSetup.frame, text, caption, MB_OKCANCEL | MB_ICONINFORMATION) ==
            IDCANCEL) {
            gSetup.result = SE_REMOVE_OLD;
            CloseSetupWizard();
            return;
        }
    }
    if (check.removalNeeded) {
        if (gSetup.uninstallMode) {
            RunOldUninstallerHidden(check.uninstallString);
        } else {
            int answer = ShowScriptError(gSetup.frame, SE_REMOVE_OLD);
            if (answer == IDYES) {
                RunOldUninstallerHidden(check.uninstallString);
                return;
            }
            if (answer != IDNO)
                return;
        }
    }
    if (!IsAdministrator()) {
        ShowScriptError(gSetup.frame, SE_NOT_ADMIN);
        return;
    }
    if (gSetup.uninstallMode) {
        if (IsDlgButtonChecked(gSetup.page, IDC_WIZ_KEEPCFG) == BST_CHECKED)
            SetVariable("#KEEPCFG#", "1");
        ShowWizardPage(IDD_WIZ_UNPROGRESS);
    } else {
        ShowWizardPage(IDD_WIZ_AGREEMENT);
    }
}

void WelcomeCommand(int id)
{
    if (id == IDC_WIZ_NEXT)
        WelcomeNext();
    else if (id == IDC_WIZ_KEEPCFG &&
             IsDlgButtonChecked(gSetup.page, IDC_WIZ_KEEPCFG) == BST_CHECKED)
        SetupMessageBox(gSetup.frame, 1037, MB_OK | MB_ICONEXCLAMATION);
}
