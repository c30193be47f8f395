// The folders page: the installation folder, for whom, and where the
// configuration data lives; its Next checks each folder (absolute, room,
// created, writable by the desktop user) before anything is installed.
#include <ctype.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/utilities.h"
#include "resources/resource.h"
#include "setup/engine.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/sysactions.h"
#include "setup/wizard.h"
#include "setup/wizardpages.h"

static bool IsAbsolutePath(const char *path)
{
    return (isalpha((unsigned char)path[0]) && path[1] == ':' && path[2] == '\\') ||
           (path[0] == '\\' && path[1] == '\\');
}

static void EnableCustomControls()
{
    bool custom = IsDlgButtonChecked(gSetup.page, IDC_WIZ_CUSTOMDATA) == BST_CHECKED;
    int ids[] = {IDC_WIZ_CUSTOMPATH, IDC_WIZ_BROWSECUSTOM, IDC_WIZ_PERUSER, IDC_WIZ_SHARED};
    for (int id : ids)
        EnableWindow(PageItem(id), custom);
}

void InitFoldersPage()
{
    SetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, GetVariableText("#INSTALLPATH#"));
    SetDlgItemTextA(gSetup.page, IDC_WIZ_CUSTOMPATH, GetVariableText("#CUSTOMPATH#"));
    bool allUsers = GetVariableNumber("#FORWHO#") == 1;
    CheckRadioButton(gSetup.page, IDC_WIZ_ALLUSERS, IDC_WIZ_ONLYME,
                     allUsers ? IDC_WIZ_ALLUSERS : IDC_WIZ_ONLYME);
    bool custom = GetVariableNumber("#CUSTOMLOC#") == 1;
    CheckRadioButton(gSetup.page, IDC_WIZ_STDDATA, IDC_WIZ_CUSTOMDATA,
                     custom ? IDC_WIZ_CUSTOMDATA : IDC_WIZ_STDDATA);
    bool perUser = !IsVariableDefined("#INDIVIDUAL#") || GetVariableNumber("#INDIVIDUAL#") == 1;
    CheckRadioButton(gSetup.page, IDC_WIZ_PERUSER, IDC_WIZ_SHARED,
                     perUser ? IDC_WIZ_PERUSER : IDC_WIZ_SHARED);
    EnableCustomControls();
}

static void BrowseFolder(bool install)
{
    BROWSEINFOA browse = {};
    char chosen[MAX_PATH] = "";
    browse.hwndOwner = gSetup.frame;
    browse.pszDisplayName = chosen;
    browse.lpszTitle = install ? "Select Installation Folder" : "Select Configuration Data Folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST list = SHBrowseForFolderA(&browse);
    if (!list)
        return;
    char path[MAX_PATH];
    bool ok = SHGetPathFromIDListA(list, path);
    CoTaskMemFree(list);
    if (!ok)
        return;
    if (install) {
        char folder[2 * MAX_PATH];
        size_t n = strlen(path);
        snprintf(folder, sizeof folder, "%s%s%s", path, n && path[n - 1] == '\\' ? "" : "\\",
                 GetVariableText("#PROGRAM#"));
        SetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, folder);
    } else {
        SetDlgItemTextA(gSetup.page, IDC_WIZ_CUSTOMPATH, path);
    }
}

// The deepest part of the path that exists, for the free-space query.
static void ExistingParent(const char *path, char *out)
{
    CopyText(out, path, (int)MAX_PATH);
    while (out[0] && !FolderExists(out)) {
        char *cut = strrchr(out, '\\');
        if (!cut)
            break;
        *cut = 0;
        if (cut - out == 2 && out[1] == ':') {   // the drive root keeps its backslash
            strcat(out, "\\");
            break;
        }
    }
}

static bool DesktopUserCanWrite(const char *folder)
{
    char path[MAX_PATH + 16];
    snprintf(path, sizeof path, "%s\\test.tmp", folder);
    bool asUser = ActAsDesktopUser(true);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    bool ok = file != INVALID_HANDLE_VALUE;
    if (ok) {
        CloseHandle(file);
        ok = DeleteFileA(path) != 0;
    }
    if (asUser)
        ActAsDesktopUser(false);
    return ok;
}


static bool CheckInstallFolder(const char *folder)
{
    if (!IsAbsolutePath(folder)) {
        SetupMessageBox(gSetup.frame, 1039, MB_OK | MB_ICONSTOP);
        return false;
    }
    double needed = GetVariableNumber("#MINFREE#");
    if (needed > 0) {
        char parent[MAX_PATH];
        ExistingParent(folder, parent);
        if ((double)FreeDiskSpace(parent) < needed * 1024 * 1024) {
            SetupMessageBox(gSetup.frame, 1003, MB_OK | MB_ICONSTOP);
            return false;
        }
    }
    if (CreateFolderTree(folder) != 0) {
        SetupMessageBox(gSetup.frame, 1005, MB_OK | MB_ICONSTOP);
        return false;
    }
    return true;
}

static bool CheckCustomFolder(const char *folder)
{
    if (!IsAbsolutePath(folder)) {
        SetupMessageBox(gSetup.frame, 1039, MB_OK | MB_ICONSTOP);
        return false;
    }
    if (CreateFolderTree(folder) != 0) {
        SetupMessageBox(gSetup.frame, 1033, MB_OK | MB_ICONSTOP);
        return false;
    }
    return DesktopUserCanWrite(folder) ||
           ShowScriptError(gSetup.frame, SE_FOLDER_INACCESSIBLE) == IDYES;
}

static void FoldersNext()
{
    char folder[SCRIPT_VALUE_SIZE];
    GetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, folder, sizeof folder);
    if (!CheckInstallFolder(folder))
        return;
    bool allUsers = IsDlgButtonChecked(gSetup.page, IDC_WIZ_ALLUSERS) == BST_CHECKED;
    bool custom = IsDlgButtonChecked(gSetup.page, IDC_WIZ_CUSTOMDATA) == BST_CHECKED;
    SetVariable("#INSTALLPATH#", folder);
    SetVariable("#FORWHO#", allUsers ? "1" : "0");
    SetVariable("#CUSTOMLOC#", custom ? "1" : "0");
    if (custom) {
        GetDlgItemTextA(gSetup.page, IDC_WIZ_CUSTOMPATH, folder, sizeof folder);
        if (!CheckCustomFolder(folder))
            return;
        SetVariable("#CUSTOMPATH#", folder);
        bool perUser = IsDlgButtonChecked(gSetup.page, IDC_WIZ_PERUSER) == BST_CHECKED;
        SetVariable("#INDIVIDUAL#", perUser ? "1" : "0");
    }
    ChooseShellFolders(allUsers);
    ShowWizardPage(IDD_WIZ_PROGRESS);
}

void FoldersCommand(int id)
{
    if (id == IDC_WIZ_NEXT)
        FoldersNext();
    else if (id == IDC_WIZ_BACK)
        ShowWizardPage(IDD_WIZ_AGREEMENT);
    else if (id == IDC_WIZ_STDDATA || id == IDC_WIZ_CUSTOMDATA)
        EnableCustomControls();
    else if (id == IDC_WIZ_BROWSEINSTALL || id == IDC_WIZ_BROWSECUSTOM)
        BrowseFolder(id == IDC_WIZ_BROWSEINSTALL);
}
