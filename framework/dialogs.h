// Modal dialogs the framework way (modal counter, DPI font, icon, centring),
// the framework's own message box, the compiled help, hyperlink statics and
// small helpers for dialog controls. UI thread only.
#pragma once

#include <windows.h>
#include <stdarg.h>
#include <stdint.h>

// Message-box flag word.
enum MessageBoxFlag {
    MBF_STOP = 0x1,
    MBF_INFORMATION = 0x2,
    MBF_WARNING = 0x4,
    MBF_QUESTION = 0x8,
    MBF_ICON_MASK = 0x0F,
    MBF_OK = 0x10,
    MBF_OKCANCEL = 0x20,
    MBF_YESNO = 0x40,
    MBF_YESNOCANCEL = 0x80,
    MBF_BUTTON_MASK = 0xF0,
    MBF_EMPHASISE_FIRST = 0x100,
    MBF_DEFAULT_FIRST = 0x200,
    MBF_DEFAULT_CANCEL = 0x400,
    MBF_DEFAULT_YES = 0x800,
    MBF_DEFAULT_NO = 0x1000,
    MBF_DEFAULT_MASK = 0x1E00,
    MBF_MESSAGE_ICON = 0x2000,   // caption icon = icon resource 2
};

enum {
    MESSAGEBOX_NO_MEMORY = -666,
    MESSAGEBOX_MAX_LINES = 16,
    BUTTON_STRINGS = 0xF200,     // variants 0 OK, 1 Cancel, 4 Yes, 5 No
    HELP_STRINGS = 0xF007,
};

// GetDlgItemNumber's reasons in the framework's last-error word.
enum { QRF_ERR_EMPTY_NUMBER = 0xF00E, QRF_ERR_NOT_A_NUMBER = 0xF00F };

// ShowHelp results.
enum {
    HELP_OPENED = 0,
    HELP_NOT_A_HELP_FILE = 1,
    HELP_NO_VIEWER = 2,
    HELP_FILE_MISSING = 3,
    HELP_NOT_STARTED = 4,
};

extern int gModalCount;          // open framework dialogs; never below 0
extern int gFrameworkLastError;  // 0 or the reason of the last failing helper

// The module holding the dialog templates and icons.
HINSTANCE ResourceModule();

int DoModal(HWND owner, int templateId, DLGPROC procedure, LPARAM parameter);
void SetModal(bool raise);
void ShowOwner(HWND owner);

HFONT InitDialog(HWND dialog);
HFONT UpdateDialogFonts(HWND dialog, int dpi);
BOOL CALLBACK InitDialogChildProc(HWND child, LPARAM font);
int DialogDpi(HWND dialog);      // at least 96
HFONT DialogFont(int dpi, bool emphasised);

int FrameworkMessageBox(HWND owner, const char *caption, const char *format, uint32_t flags,
                        int focusId, ...);
int FrameworkMessageBoxV(HWND owner, const char *caption, const char *format, uint32_t flags,
                         int focusId, va_list arguments);
INT_PTR CALLBACK MessageBoxDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

int ShowHelp(const char *fileName, const char *topic);
// The framework dialogs' Help: QRFM_HELP with topic and index 0 to the first
// frame window, which knows the program's help; nothing without frames.
void AskFirstFrameForHelp(const char *topic);

// Control helpers.
BOOL EnableDlgItems(bool enable, HWND dialog, ...);   // ids ended by one of 0 or less
void FocusDlgEdit(HWND dialog, int id);
int GetDlgCheck(HWND dialog, int id);
void SetDlgCheck(HWND dialog, int id, int check);
void SetDlgItemNumber(HWND dialog, int id, int value);
void SetDlgItemTextF(HWND dialog, int id, const char *format, ...);
int SetDlgItemTextUtf8(HWND dialog, int id, const char *text);
int GetDlgItemNumber(HWND dialog, int id, int min, int max, bool strict);

// A static dialog control shown and used as a link to an address.
class CHyperLink {
public:
    int controlId;
    HWND control;
    HWND dialog;
    HWND tooltip;
    char text[260];
    char address[260];
    UINT format;          // DT_ alignment taken from the static's style
    WNDPROC previousProc;

    CHyperLink();
    bool Attach(HWND dialog, int id, const char *address);
    void Detach();
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Paint();
    void Open();
};
