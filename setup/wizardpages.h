// What the wizard's files share among themselves and nobody else needs:
// the fonts, the web link control, the page helpers and each page's entry
// points, called by the page procedure in wizardpage.cpp.
#pragma once

#include <windows.h>

// --- fonts (wizardfonts.cpp)

// The title, bold and link fonts at gSetup.dpi, replacing the old ones.
void BuildWizardFonts();
// The window's DPI where the system tells it, else the screen's.
int WizardWindowDpi(HWND window);

// --- web link control (weblink.cpp)

// Turns a static item into a web link that opens target.
void MakeWebLink(HWND item, const char *target, bool bold, bool centred);

// --- every page (wizardpage.cpp)

// An item of the current page.
HWND PageItem(int id);
// Enables the frame's buttons and names its Next button.
void SetWizardButtons(bool back, bool next, bool cancel, const char *nextText);
// EnumChildWindows callback: substitutes the script's variables in the text.
BOOL CALLBACK SubstituteChildText(HWND child, LPARAM);

// --- the frame (wizardframe.cpp)

// Asks 1000; Yes stops the runner and closes the wizard.
void ConfirmWizardCancel();

// --- the pages; each Command takes a button of the frame or the page

void InitWelcomePage();
void WelcomeCommand(int id);
// False when no agreement text can be read.
bool InitAgreementPage();
void AgreementCommand(int id);
void InitFoldersPage();
void FoldersCommand(int id);
// Makes the page the status window and starts phase 1 on its thread.
void StartProgressPage();
// The phase runner's messages to the progress page; true when handled.
bool ProgressPageMessage(UINT message, WPARAM wParam, LPARAM lParam);
void ProgressCommand(int id);
// Waits for phase 1 to end while the window keeps answering.
void WaitForPhaseThread();
void InitFinishPage();
void FinishCommand(int id);
