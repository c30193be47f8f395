// The agreement page: the licence text from the file #EULA# names (on disk
// or in the resource archive), else the text built into the program.
#include <stdlib.h>

#include "resources/resource.h"
#include "setup/engine.h"
#include "setup/script.h"
#include "setup/sysactions.h"
#include "setup/wizard.h"
#include "setup/wizardpages.h"

// Lone LF line ends become CR LF, as the edit control wants them.
static char *WithCrLf(const char *text, size_t length)
{
    char *out = (char *)malloc(length * 2 + 1);
    if (!out)
        return 0;
    size_t n = 0;
    for (size_t i = 0; i < length && text[i]; i++) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out[n++] = '\r';
        out[n++] = text[i];
    }
    out[n] = 0;
    return out;
}

bool InitAgreementPage()
{
    char *data = 0;
    uint32_t size = 0;
    const char *eula = GetVariableText("#EULA#");
    char *text = 0;
    if (eula[0]) {
        if (LoadFileOrArchive(eula, &data, &size) == 0 && data)
            text = WithCrLf(data, size);
        free(data);
    } else {
        HMODULE module = GetModuleHandleA(0);
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(IDR_WIZ_AGREEMENT), "TEXT");
        HGLOBAL loaded = resource ? LoadResource(module, resource) : 0;
        const char *bytes = loaded ? (const char *)LockResource(loaded) : 0;
        if (bytes)
            text = WithCrLf(bytes, SizeofResource(module, resource));
    }
    if (!text)
        return false;
    SetDlgItemTextA(gSetup.page, IDC_WIZ_AGREEMENTTEXT, text);
    free(text);
    return true;
}

void AgreementCommand(int id)
{
    if (id == IDC_WIZ_NEXT)
        ShowWizardPage(IsVariableDefined("#ASKPATH#") ? IDD_WIZ_FOLDERS : IDD_WIZ_PROGRESS);
    else if (id == IDC_WIZ_BACK)
        ShowWizardPage(IDD_WIZ_WELCOME);
}
