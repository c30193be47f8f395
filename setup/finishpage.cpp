// The finish page: the four choices of setup (stored in the installation
// record for the next installation), the remaining-files notice of
// uninstall, and Finish, which sizes the installation and runs phase 2.
#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "resources/resource.h"
#include "setup/engine.h"
#include "setup/script.h"
#include "setup/setupinfo.h"
#include "setup/sysactions.h"
#include "setup/wizard.h"
#include "setup/wizardpages.h"

static unsigned long long FolderBytes(const char *folder)
{
    char mask[MAX_PATH + 4];
    snprintf(mask, sizeof mask, "%s\\*", folder);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(mask, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    unsigned long long total = 0;
    do {
        if (!strcmp(entry.cFileName, ".") || !strcmp(entry.cFileName, ".."))
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            char child[MAX_PATH + 4];
            if (snprintf(child, sizeof child, "%s\\%s", folder, entry.cFileName) < MAX_PATH)
                total += FolderBytes(child);
        } else {
            total += ((unsigned long long)entry.nFileSizeHigh << 32) | entry.nFileSizeLow;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return total;
}

unsigned long long FolderSizeKB(const char *folder)
{
    return FolderBytes(folder) / 1024;
}

bool FolderHasOtherFiles(const char *folder)
{
    char mask[MAX_PATH + 4];
    snprintf(mask, sizeof mask, "%s\\*", folder);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(mask, &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    bool other = false;
    do {
        if (strcmp(entry.cFileName, ".") && strcmp(entry.cFileName, "..") &&
            _stricmp(entry.cFileName, "Uninstall.exe"))
            other = true;
    } while (!other && FindNextFileA(find, &entry));
    FindClose(find);
    return other;
}

struct FinishChoice {
    int item;
    const char *variable, *selection;
};
static const FinishChoice kChoices[] = {
    {IDC_WIZ_EXECUTE, "#EXECUTE#", "#SELEXECUTE#"},
    {IDC_WIZ_README, "#README#", "#SELREADME#"},
    {IDC_WIZ_DESKTOP, "#DESKTOP#", "#SELDESKTOP#"},
    {IDC_WIZ_STARTMENU, "#STARTMENU#", "#SELSTARTMENU#"},
};

void InitFinishPage()
{
    if (gSetup.uninstallMode) {
        const char *folder = GetVariableText("#INSTALLPATH#");
        if (folder[0] && FolderHasOtherFiles(folder)) {
            SetDlgItemTextA(gSetup.page, IDC_WIZ_FOLDERLINK, folder);
            MakeWebLink(PageItem(IDC_WIZ_FOLDERLINK), folder, false, false);
        } else {
            ShowWindow(PageItem(IDC_WIZ_REMAINING), SW_HIDE);
            ShowWindow(PageItem(IDC_WIZ_FOLDERLINK), SW_HIDE);
        }
        return;
    }
    for (const auto &choice : kChoices) {
        bool hidden = !IsVariableDefined(choice.variable) ||
                      (choice.item == IDC_WIZ_EXECUTE && gRestartNeeded);
        ShowWindow(PageItem(choice.item), hidden ? SW_HIDE : SW_SHOW);
        CheckDlgButton(gSetup.page, choice.item,
                       !hidden && GetVariableNumber(choice.selection) == 1 ? BST_CHECKED
                                                                          : BST_UNCHECKED);
    }
}

static void StoreFinishChoices()
{
    bool checked[4];
    for (int i = 0; i < 4; i++) {
        HWND box = PageItem(kChoices[i].item);
        checked[i] = box && IsWindowVisible(box) &&
                     IsDlgButtonChecked(gSetup.page, kChoices[i].item) == BST_CHECKED;
        SetVariable(kChoices[i].variable, checked[i] ? "1" : "0");
    }
    SetupInfoRecord record;
    const char *program = GetVariableText("#PROGRAM#");
    if (!program[0] || !ReadSetupInfo(program, &record))
        return;
    record.finishStartProgram = checked[0];
    record.finishShowReadme = checked[1];
    record.finishDesktopLink = checked[2];
    record.finishStartMenuLink = checked[3];
    WriteSetupInfo(program, &record);   // silently
}

void FinishCommand(int id)
{
    if (id != IDC_WIZ_NEXT)
        return;
    StoreFinishChoices();
    char size[32];
    snprintf(size, sizeof size, "%llu", FolderSizeKB(GetVariableText("#INSTALLPATH#")));
    SetVariable("#INSTALLSIZE#", size);
    gScript.statusWindow = 0;
    RunPhase(2);
    NoteRestartRequest();
    if (gSetup.uninstallMode)
        gSetup.removeSelf = true;
    gSetup.result = 0;
    CloseSetupWizard();
}
