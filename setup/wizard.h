// The wizard: a modeless frame whose pages replace one another (welcome,
// agreement, folders, progress, finish) and whose buttons run the script's
// phases. Each page has a source file of its own; wizardpages.h joins them.
#pragma once

#include <windows.h>

// Private page messages, beyond the phase runner's.
enum {
    SETUPM_APPLYFONTS = WM_APP + 10,    // the frame rebuilt its fonts
    SETUPM_PHASEFAILED = WM_APP + 11,   // phase 1 stopped on an error
};

// Opens the modeless frame with its welcome page; 0 on failure.
HWND OpenSetupWizard();
// Opens the frame and pumps messages until it closes; gSetup.result.
int RunSetupWizard();
// Shows the page (104, 105, 109, 110, 111, 114, 115 or 117) in the frame.
bool ShowWizardPage(int pageId);
// Ends the wizard: destroys the frame.
void CloseSetupWizard();
// Deletes the wizard's fonts.
void ReleaseWizardFonts();

// Total size in KB (rounded down) of the files under the folder.
unsigned long long FolderSizeKB(const char *folder);
// True when the folder holds anything besides "Uninstall.exe".
bool FolderHasOtherFiles(const char *folder);
