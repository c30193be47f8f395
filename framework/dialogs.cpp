// Modal dialogs, the framework's message box, help and dialog-control helpers.
#include "framework/dialogs.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/frames.h"
#include "framework/messages.h"
#include "framework/ui/graphics.h"
#include "framework/utilities.h"
#include "resources/resource.h"

int gModalCount = 0;
int gFrameworkLastError = 0;

HINSTANCE ResourceModule()
{
    return gApp.instance ? gApp.instance : GetModuleHandleA(0);
}

// ---------------------------------------------------------------- modal dialogs

static bool IsFrameWindow(HWND window)
{
    for (int i = 0; i < FrameCount(); i++)
        if (FrameWindowAt(i) == window)
            return true;
    return false;
}

void ShowOwner(HWND owner)
{
    if (!owner)
        return;
    if (IsFrameWindow(owner))
        SendMessageA(owner, QRFM_SHOWNORMAL, 0, 0);
    else
        ShowWindow(owner, SW_SHOW);
    SetForegroundWindow(owner);
}

void SetModal(bool raise)
{
    gModalCount += raise ? 1 : -1;
    if (gModalCount < 0)
        gModalCount = 0;
    for (int i = 0; i < FrameCount(); i++) {
        HWND frame = FrameWindowAt(i);
        if (frame)
            SendMessageA(frame, QRFM_MODAL, (WPARAM)gModalCount, 0);
    }
}

int DoModal(HWND owner, int templateId, DLGPROC procedure, LPARAM parameter)
{
    ShowOwner(owner);
    SetModal(true);
    INT_PTR result = DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(templateId), owner,
                                     procedure, parameter);
    SetModal(false);
    return (int)result;
}

// ---------------------------------------------------------------- dialog fonts

// Until the application object holds one, a graphics object of our own
// serves the dialogs.
static CGraphics *DialogGraphics()
{
    if (gGraphics)
        return gGraphics;
    static CGraphics own;
    static bool ready = false;
    if (!ready) {
        own.Init();
        ready = true;
    }
    return &own;
}

int DialogDpi(HWND dialog)
{
    int dpi = GetMonitorDpi(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST));
    return dpi < 96 ? 96 : dpi;
}

HFONT DialogFont(int dpi, bool emphasised)
{
    if (dpi < 96)
        dpi = 96;
    HFONT font = DialogGraphics()->GetFont(emphasised ? FONT_DEFAULT_BOLD : FONT_DEFAULT, dpi);
    return font ? font : (HFONT)GetStockObject(DEFAULT_GUI_FONT);
}

static bool IsButtonClass(HWND window)
{
    char name[16];
    return GetClassNameA(window, name, sizeof name) > 0 && strcmp(name, "Button") == 0;
}

static RECT ChildRect(HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), (POINT *)&r, 2);
    return r;
}

// A check box placed right after a button-like control (typically a colour
// or value button) gets room for the wider dialog font.
static bool WidensBesideButton(HWND child, const RECT &box)
{
    int height = box.bottom - box.top;
    POINT left = {box.left - 1, (box.top + box.bottom) / 2};
    HWND neighbour = ChildWindowFromPointEx(GetParent(child), left, CWP_SKIPINVISIBLE);
    if (!neighbour || neighbour == child || neighbour == GetParent(child) ||
        !IsButtonClass(neighbour) || (GetWindowLongA(neighbour, GWL_STYLE) & BS_TYPEMASK) == 0)
        return false;
    RECT other = ChildRect(neighbour);
    int middle = (box.top + box.bottom) / 2, otherMiddle = (other.top + other.bottom) / 2;
    return abs(middle - otherMiddle) <= height / 2 && box.left - other.left <= 3 * height;
}

BOOL CALLBACK InitDialogChildProc(HWND child, LPARAM font)
{
    if (!IsButtonClass(child))
        return TRUE;
    LONG style = GetWindowLongA(child, GWL_STYLE);
    int type = style & BS_TYPEMASK;
    HWND dialog = GetParent(child);
    LRESULT defId = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    if (HIWORD(defId) == DC_HASDEFID && LOWORD(defId) == GetDlgCtrlID(child)) {
        SetFocus(child);
        SendMessageA(child, WM_SETFONT, (WPARAM)font, TRUE);
    } else if (type == BS_GROUPBOX) {
        SendMessageA(child, WM_SETFONT, (WPARAM)font, TRUE);
    } else if (style & 0x2) {
        RECT box = ChildRect(child);
        if (WidensBesideButton(child, box)) {
            SendMessageA(child, WM_SETFONT, (WPARAM)font, TRUE);
            int width = (box.right - box.left) * 12 / 10;
            SetWindowPos(child, 0, 0, 0, width, box.bottom - box.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    return TRUE;
}

static void SetDialogIcon(HWND dialog, int iconId)
{
    HINSTANCE module = ResourceModule();
    HANDLE big = LoadImageA(module, MAKEINTRESOURCEA(iconId), IMAGE_ICON, 32, 32, LR_SHARED);
    HANDLE small = LoadImageA(module, MAKEINTRESOURCEA(iconId), IMAGE_ICON, 16, 16, LR_SHARED);
    if (big)
        SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)big);
    if (small)
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, (LPARAM)small);
}

HFONT UpdateDialogFonts(HWND dialog, int dpi)
{
    HFONT font = DialogFont(dpi, false);
    EnumChildWindows(dialog, InitDialogChildProc, (LPARAM)font);
    return font;
}

HFONT InitDialog(HWND dialog)
{
    SetFocus(dialog);
    HFONT font = UpdateDialogFonts(dialog, DialogDpi(dialog));
    SetDialogIcon(dialog, gApp.iconId);
    CenterWindow(dialog, 0, GetParent(dialog));
    SetTopmostLikeParent(dialog);
    return font;
}

// ---------------------------------------------------------------- message box

namespace {

struct MessageBoxState {
    uint32_t flags;
    const char *caption;
    char *lines[MESSAGEBOX_MAX_LINES];
    int lineCount;
    char rest[2048];       // lines 2 and up, joined again
    HICON icon;
    int dpi;
    int footerTop;
};

// In row order: OK, Yes, No, Cancel.
const int kButtonIds[4] = {IDOK, IDYES, IDNO, IDCANCEL};
const int kButtonVariants[4] = {0, 4, 5, 1};

}  // namespace

// Carriage returns out, then at most 16 lines split at the line feeds.
static void SplitLines(char *text, MessageBoxState *state)
{
    char *to = text;
    for (char *from = text; *from; from++)
        if (*from != '\r')
            *to++ = *from;
    *to = 0;
    state->lineCount = 0;
    char *line = text;
    while (line && state->lineCount < MESSAGEBOX_MAX_LINES) {
        state->lines[state->lineCount++] = line;
        char *end = strchr(line, '\n');
        if (end)
            *end++ = 0;
        line = end;
    }
    state->rest[0] = 0;
    for (int i = 1; i < state->lineCount; i++) {
        if (i > 1)
            strncat(state->rest, "\n", sizeof state->rest - strlen(state->rest) - 1);
        strncat(state->rest, state->lines[i][0] ? state->lines[i] : " ",
                sizeof state->rest - strlen(state->rest) - 1);
    }
}

// Which buttons a flag word shows, as a mask over kButtonIds.
static int ButtonMask(uint32_t flags)
{
    if (flags & MBF_YESNOCANCEL)
        return 0x2 | 0x4 | 0x8;
    if (flags & MBF_YESNO)
        return 0x2 | 0x4;
    if (flags & MBF_OKCANCEL)
        return 0x1 | 0x8;
    return 0x1;
}

static bool ShowsButton(uint32_t flags, int id)
{
    for (int i = 0; i < 4; i++)
        if (kButtonIds[i] == id)
            return (ButtonMask(flags) >> i & 1) != 0;
    return false;
}

// A default the shown set lacks falls back to the set's first button.
static int DefaultButton(uint32_t flags)
{
    int first = ShowsButton(flags, IDOK) ? IDOK : IDYES;
    int wanted = first;
    if (flags & MBF_DEFAULT_CANCEL)
        wanted = IDCANCEL;
    else if (flags & MBF_DEFAULT_YES)
        wanted = IDYES;
    else if (flags & MBF_DEFAULT_NO)
        wanted = IDNO;
    return ShowsButton(flags, wanted) ? wanted : first;
}

static LPCSTR IconResource(uint32_t flags, UINT *sound)
{
    static const struct { uint32_t bit; LPCSTR icon; UINT sound; } kIcons[4] = {
        {MBF_STOP, IDI_HAND, MB_ICONHAND},
        {MBF_INFORMATION, IDI_ASTERISK, MB_ICONASTERISK},
        {MBF_WARNING, IDI_EXCLAMATION, MB_ICONEXCLAMATION},
        {MBF_QUESTION, IDI_QUESTION, MB_ICONQUESTION},
    };
    for (int i = 0; i < 4; i++)
        if (flags & kIcons[i].bit) {
            *sound = kIcons[i].sound;
            return kIcons[i].icon;
        }
    return 0;
}

static SIZE MeasureBlock(HDC dc, HFONT font, const char *text)
{
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = {0, 0, 0, 0};
    DrawTextA(dc, text[0] ? text : " ", -1, &r, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    SIZE size = {r.right, r.bottom};
    return size;
}

static void Place(HWND dialog, int id, int x, int y, int width, int height)
{
    HWND control = GetDlgItem(dialog, id);
    if (control)
        SetWindowPos(control, 0, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

static int PlaceButtons(HWND dialog, uint32_t flags, HDC dc, HFONT font, int dpi, int rowY,
                        int clientWidth, bool measureOnly)
{
    int width = ScaleForDpi(75, dpi), height = ScaleForDpi(23, dpi), gap = ScaleForDpi(8, dpi);
    int count = 0;
    for (int i = 0; i < 4; i++) {
        if (!(ButtonMask(flags) >> i & 1))
            continue;
        count++;
        const char *caption = gApp.strings.GetText(BUTTON_STRINGS, kButtonVariants[i]);
        int needed = MeasureBlock(dc, font, caption ? caption : "").cx + ScaleForDpi(20, dpi);
        if (needed > width)
            width = needed;
    }
    int rowWidth = count * width + (count - 1) * gap;
    if (measureOnly)
        return rowWidth;
    int x = (clientWidth - rowWidth) / 2;
    for (int i = 0; i < 4; i++) {
        if (!(ButtonMask(flags) >> i & 1))
            continue;
        Place(dialog, kButtonIds[i], x, rowY, width, height);
        x += width + gap;
    }
    return rowWidth;
}

// Every control of the box takes the framework's font, not the template's.
static void ApplyMessageFonts(HWND dialog, HFONT normal, HFONT first)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, (WPARAM)normal, FALSE);
    SendDlgItemMessageA(dialog, IDC_MSGBOX_LINE1, WM_SETFONT, (WPARAM)first, FALSE);
}

// Lines beside the icon, the buttons below, the dialog sized around both.
static void LayOutMessageBox(HWND dialog, MessageBoxState *state)
{
    int dpi = state->dpi;
    HFONT normal = DialogFont(dpi, false);
    HFONT first = DialogFont(dpi, (state->flags & MBF_EMPHASISE_FIRST) != 0);
    ApplyMessageFonts(dialog, normal, first);
    HDC dc = GetDC(dialog);
    SIZE line1 = MeasureBlock(dc, first, state->lines[0]);
    SIZE rest = {0, 0};
    if (state->lineCount > 1)
        rest = MeasureBlock(dc, normal, state->rest);
    int lineHeight = MeasureBlock(dc, normal, "Ag").cy;

    int margin = ScaleForDpi(16, dpi), iconSize = state->icon ? ScaleForDpi(32, dpi) : 0;
    int textLeft = margin + (state->icon ? iconSize + ScaleForDpi(12, dpi) : 0);
    int textHeight = line1.cy + rest.cy, textTop = margin;
    if (state->lineCount <= 2 && textHeight < iconSize)
        textTop = margin + (iconSize - textHeight) / 2;
    // A little slack: the statics wrap words and would push a last character
    // of an exactly measured line onto a line of its own.
    int textWidth = (line1.cx > rest.cx ? line1.cx : rest.cx) + ScaleForDpi(4, dpi);
    int contentBottom = textTop + textHeight;
    if (margin + iconSize > contentBottom)
        contentBottom = margin + iconSize;
    int below = lineHeight * 3 / 2 > ScaleForDpi(24, dpi) ? lineHeight * 3 / 2
                                                          : ScaleForDpi(24, dpi);
    int rowY = contentBottom + below, inset = ScaleForDpi(11, dpi);
    int rowWidth = PlaceButtons(dialog, state->flags, dc, normal, dpi, 0, 0, true);
    int clientWidth = textLeft + textWidth + margin;
    if (clientWidth < rowWidth + 2 * margin)
        clientWidth = rowWidth + 2 * margin;
    if (clientWidth < ScaleForDpi(260, dpi))
        clientWidth = ScaleForDpi(260, dpi);
    PlaceButtons(dialog, state->flags, dc, normal, dpi, rowY, clientWidth, false);
    ReleaseDC(dialog, dc);

    Place(dialog, IDC_MSGBOX_ICON, margin, margin, iconSize, iconSize);
    Place(dialog, IDC_MSGBOX_LINE1, textLeft, textTop, textWidth, line1.cy);
    Place(dialog, IDC_MSGBOX_LINES, textLeft, textTop + line1.cy, textWidth, rest.cy);
    state->footerTop = rowY - inset;
    int clientHeight = rowY + ScaleForDpi(23, dpi) + inset;

    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, (DWORD)GetWindowLongA(dialog, GWL_STYLE), FALSE,
                       (DWORD)GetWindowLongA(dialog, GWL_EXSTYLE));
    SetWindowPos(dialog, 0, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CenterWindow(dialog, 0, GetParent(dialog));
    InvalidateRect(dialog, 0, TRUE);
}

static void SetUpButtons(HWND dialog, uint32_t flags)
{
    for (int i = 0; i < 4; i++) {
        HWND button = GetDlgItem(dialog, kButtonIds[i]);
        bool shown = (ButtonMask(flags) >> i & 1) != 0;
        const char *caption = gApp.strings.GetText(BUTTON_STRINGS, kButtonVariants[i]);
        if (caption)
            SetWindowTextA(button, caption);
        SendMessageA(button, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
        ShowWindow(button, shown ? SW_SHOW : SW_HIDE);
        EnableWindow(button, shown);
    }
    int defaultId = DefaultButton(flags);
    SendMessageA(dialog, DM_SETDEFID, (WPARAM)defaultId, 0);
    SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dialog, defaultId), TRUE);
}

static void InitMessageBox(HWND dialog, MessageBoxState *state)
{
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
    SetDialogIcon(dialog, (state->flags & MBF_MESSAGE_ICON) ? IDI_MESSAGE : gApp.iconId);
    SetWindowTextA(dialog, state->caption);
    UINT sound = 0;
    LPCSTR iconName = IconResource(state->flags, &sound);
    state->icon = iconName ? LoadIconA(0, iconName) : 0;
    HWND iconControl = GetDlgItem(dialog, IDC_MSGBOX_ICON);
    SetWindowLongPtrA(iconControl, GWLP_USERDATA, (LONG_PTR)iconName);
    ShowWindow(iconControl, state->icon ? SW_SHOW : SW_HIDE);
    SetDlgItemTextA(dialog, IDC_MSGBOX_LINE1, state->lines[0]);
    if (state->lineCount == 1)
        DestroyWindow(GetDlgItem(dialog, IDC_MSGBOX_LINES));
    else
        SetDlgItemTextA(dialog, IDC_MSGBOX_LINES, state->rest);
    SetUpButtons(dialog, state->flags);
    state->dpi = DialogDpi(dialog);
    LayOutMessageBox(dialog, state);
    SetTopmostLikeParent(dialog);
    if (sound)
        MessageBeep(sound);
}

static void PaintMessageBackground(HWND dialog, HDC dc, MessageBoxState *state)
{
    RECT client;
    GetClientRect(dialog, &client);
    RECT footer = client;
    footer.top = state ? state->footerTop : client.bottom;
    RECT body = client;
    body.bottom = footer.top;
    FillRect(dc, &body, GetSysColorBrush(COLOR_WINDOW));
    FillRect(dc, &footer, GetSysColorBrush(COLOR_BTNFACE));
}

static INT_PTR Answer(HWND dialog, LRESULT result)
{
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

static bool EndMessageBox(HWND dialog, MessageBoxState *state, int id)
{
    if (id != IDOK && id != IDCANCEL && id != IDYES && id != IDNO)
        return false;
    // Escape and the close box end every box with Cancel, also one without
    // a Cancel button: callers take anything but their Yes or OK as "no".
    if (id != IDCANCEL && !ShowsButton(state->flags, id))
        return false;
    HWND owner = GetWindow(dialog, GW_OWNER);
    EndDialog(dialog, id);
    if (owner)
        BringWindowToTop(owner);
    return true;
}

INT_PTR CALLBACK MessageBoxDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    MessageBoxState *state = (MessageBoxState *)GetWindowLongPtrA(dialog, DWLP_USER);
    switch (message) {
    case WM_INITDIALOG:
        InitMessageBox(dialog, (MessageBoxState *)lParam);
        return FALSE;   // the default button has the focus
    case WM_ERASEBKGND:
        PaintMessageBackground(dialog, (HDC)wParam, state);
        return Answer(dialog, 1);
    case WM_CTLCOLORSTATIC:
        SetBkColor((HDC)wParam, GetSysColor(COLOR_WINDOW));
        SetTextColor((HDC)wParam, GetSysColor(COLOR_WINDOWTEXT));
        return (INT_PTR)GetSysColorBrush(COLOR_WINDOW);
    case WM_DRAWITEM: {
        DRAWITEMSTRUCT *item = (DRAWITEMSTRUCT *)lParam;
        if (wParam != IDC_MSGBOX_ICON || !state)
            return FALSE;
        FillRect(item->hDC, &item->rcItem, GetSysColorBrush(COLOR_WINDOW));
        if (state->icon)
            DrawIconEx(item->hDC, 0, 0, state->icon, item->rcItem.right, item->rcItem.bottom, 0,
                       0, DI_NORMAL);
        return TRUE;
    }
    case WM_COMMAND:
        return state && HIWORD(wParam) == BN_CLICKED && EndMessageBox(dialog, state, LOWORD(wParam));
    case WM_DPICHANGED:
        if (state) {
            state->dpi = LOWORD(wParam) < 96 ? 96 : LOWORD(wParam);
            LayOutMessageBox(dialog, state);
        }
        return TRUE;
    }
    return FALSE;
}

int FrameworkMessageBoxV(HWND owner, const char *caption, const char *format, uint32_t flags,
                         int focusId, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    int length = vsnprintf(0, 0, format ? format : "", copy);
    va_end(copy);
    char *text = length >= 0 ? (char *)malloc((size_t)length + 1) : 0;
    if (!text)
        return MESSAGEBOX_NO_MEMORY;
    vsnprintf(text, (size_t)length + 1, format ? format : "", arguments);

    MessageBoxState state;
    memset(&state, 0, sizeof state);
    state.flags = flags;
    state.caption = caption ? caption : gApp.productName;
    SplitLines(text, &state);

    if (!owner)
        owner = gApp.GetOwnForegroundWindow();
    HWND focus = GetFocus();
    ShowOwner(owner);
    SetModal(true);
    int result = (int)DialogBoxParamA(ResourceModule(), MAKEINTRESOURCEA(IDD_FW_MESSAGEBOX), owner,
                                      MessageBoxDialogProc, (LPARAM)&state);
    SetModal(false);
    free(text);
    if (owner && focusId)
        FocusDlgEdit(owner, focusId);
    else if (focus && IsWindow(focus))
        SetFocus(focus);
    return result;
}

int FrameworkMessageBox(HWND owner, const char *caption, const char *format, uint32_t flags,
                        int focusId, ...)
{
    va_list arguments;
    va_start(arguments, focusId);
    int result = FrameworkMessageBoxV(owner, caption, format, flags, focusId, arguments);
    va_end(arguments);
    return result;
}

// ---------------------------------------------------------------- help

static int HelpMessage(int variant, const char *text, int result)
{
    const char *format = gApp.strings.GetText(HELP_STRINGS, variant);
    FrameworkMessageBox(0, gApp.productName, format ? format : "%s", 0x111, 0, text);
    return result;
}

int ShowHelp(const char *fileName, const char *topic)
{
    if (!fileName || !FindTextNoCase(fileName, ".chm"))
        return HELP_NOT_A_HELP_FILE;
    char path[MAX_PATH], shortPath[MAX_PATH];
    // A bare name is looked for in the installation folder; a full path
    // stays as it is, so that a missing one is reported under its own name.
    if (PathExists(fileName) || !PathIsRelativeA(fileName))
        CopyText(path, fileName, MAX_PATH);
    else
        snprintf(path, MAX_PATH, "%s\\%s",
                 InstallRecordText(gApp.installRecord, INSTALL_RECORD_INSTALL_PATH), fileName);
    if (GetShortPathNameA(path, shortPath, MAX_PATH) == 0)
        CopyText(shortPath, path, MAX_PATH);

    char viewer[MAX_PATH] = "";
    INT_PTR found = (INT_PTR)FindExecutableA(shortPath, 0, viewer);
    if (found == SE_ERR_NOASSOC)
        return HelpMessage(0, fileName, HELP_NO_VIEWER);
    if (!PathExists(shortPath))
        return HelpMessage(1, path, HELP_FILE_MISSING);
    char parameters[MAX_PATH * 2];
    if (topic && topic[0])
        snprintf(parameters, sizeof parameters, "\"%s::/%s\"", shortPath, topic);
    else
        snprintf(parameters, sizeof parameters, "\"%s\"", shortPath);
    INT_PTR started = found > 32 ? (INT_PTR)ShellExecuteA(0, "open", viewer, parameters, 0,
                                                          SW_SHOWNORMAL)
                                 : 0;
    if (started <= 32)
        return HelpMessage(0, fileName, HELP_NOT_STARTED);
    return HELP_OPENED;
}

void AskFirstFrameForHelp(const char *topic)
{
    HWND first = FrameWindowAt(0);
    if (first)
        SendMessageA(first, QRFM_HELP, (WPARAM)topic, 0);
}

// ---------------------------------------------------------------- control helpers

BOOL EnableDlgItems(bool enable, HWND dialog, ...)
{
    va_list ids;
    va_start(ids, dialog);
    BOOL result = FALSE;
    for (int id = va_arg(ids, int); id > 0; id = va_arg(ids, int))
        result = EnableWindow(GetDlgItem(dialog, id), enable);
    va_end(ids);
    return result;
}

void FocusDlgEdit(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (!control)
        return;
    SetFocus(control);
    SendMessageA(control, EM_SETSEL, 0, -1);
}

int GetDlgCheck(HWND dialog, int id)
{
    return (int)SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0);
}

void SetDlgCheck(HWND dialog, int id, int check)
{
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, (WPARAM)check, 0);
}

void SetDlgItemNumber(HWND dialog, int id, int value)
{
    SetDlgItemTextF(dialog, id, "%d", value);
}

void SetDlgItemTextF(HWND dialog, int id, const char *format, ...)
{
    char text[1025];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    SetDlgItemTextA(dialog, id, text);
}

int SetDlgItemTextUtf8(HWND dialog, int id, const char *text)
{
    if (!text)
        text = "";
    int length = (int)strlen(text);
    if (!IsUtf8(text)) {
        SetDlgItemTextA(dialog, id, text);
        return length;
    }
    int wide = MultiByteToWideChar(CP_UTF8, 0, text, -1, 0, 0);
    WCHAR *buffer = wide > 0 ? (WCHAR *)malloc(sizeof(WCHAR) * (size_t)wide) : 0;
    if (!buffer) {
        SetDlgItemTextA(dialog, id, text);
        return length;
    }
    MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer, wide);
    SetDlgItemTextW(dialog, id, buffer);
    free(buffer);
    return length;
}

int GetDlgItemNumber(HWND dialog, int id, int min, int max, bool strict)
{
    char text[32];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    gFrameworkLastError = 0;
    if (!text[0]) {
        gFrameworkLastError = QRF_ERR_EMPTY_NUMBER;
        return min;
    }
    char *end = 0;
    long value = strtol(text, &end, 10);
    if (strict && end && *end) {
        gFrameworkLastError = QRF_ERR_NOT_A_NUMBER;
        return min;
    }
    if (value < min)
        return min;
    return value > max ? max : (int)value;
}

// ---------------------------------------------------------------- hyperlink

static LRESULT CALLBACK HyperLinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CHyperLink *link = (CHyperLink *)GetWindowLongPtrA(window, GWLP_USERDATA);
    if (!link)
        return DefWindowProcA(window, message, wParam, lParam);
    return link->WindowProc(message, wParam, lParam);
}

CHyperLink::CHyperLink()
    : controlId(0), control(0), dialog(0), tooltip(0), format(0), previousProc(0)
{
    text[0] = address[0] = 0;
}

static UINT AlignmentOf(LONG style)
{
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        return DT_CENTER;
    case SS_RIGHT:
        return DT_RIGHT;
    }
    return (style & SS_PATHELLIPSIS) == SS_PATHELLIPSIS ? DT_PATH_ELLIPSIS : DT_LEFT;
}

bool CHyperLink::Attach(HWND dialogWindow, int id, const char *target)
{
    Detach();
    HWND window = GetDlgItem(dialogWindow, id);
    if (!window)
        return false;
    dialog = dialogWindow;
    control = window;
    controlId = id;
    GetWindowTextA(window, text, sizeof text);
    CopyText(address, target && target[0] ? target : text, sizeof address);
    if (!text[0])
        CopyText(text, address, sizeof text);
    LONG style = GetWindowLongA(window, GWL_STYLE);
    format = AlignmentOf(style);
    // Statics see the mouse and the focus only with these.
    SetWindowLongA(window, GWL_STYLE, style | SS_NOTIFY | WS_TABSTOP);
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)this);
    previousProc = (WNDPROC)SetWindowLongPtrA(window, GWLP_WNDPROC, (LONG_PTR)HyperLinkProc);

    tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, 0, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              dialogWindow, 0, ResourceModule(), 0);
    if (tooltip) {
        TOOLINFOA tool;
        memset(&tool, 0, sizeof tool);
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = dialogWindow;
        tool.uId = (UINT_PTR)window;
        tool.lpszText = address;
        SendMessageA(tooltip, TTM_ADDTOOLA, 0, (LPARAM)&tool);
    }
    return true;
}

// The control belongs to its dialog: detaching only takes the link off it.
void CHyperLink::Detach()
{
    if (control && IsWindow(control) && previousProc) {
        SetWindowLongPtrA(control, GWLP_WNDPROC, (LONG_PTR)previousProc);
        SetWindowLongPtrA(control, GWLP_USERDATA, 0);
        InvalidateRect(control, 0, TRUE);
    }
    if (tooltip)
        DestroyWindow(tooltip);
    control = tooltip = 0;
    previousProc = 0;
}

void CHyperLink::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(control, &paint);
    RECT client;
    GetClientRect(control, &client);
    int dpi = DialogDpi(dialog);
    HFONT font = CreateFontA(FontHeightForDpi(12, dpi), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                             DEFAULT_CHARSET, 0, 0, 0, 0, DialogGraphics()->defaultFace);
    HGDIOBJ old = SelectObject(dc, font);
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    SetTextColor(dc, 0x00FF0000);
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text, -1, &client, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | format);
    if (GetFocus() == control) {
        SetTextColor(dc, 0);
        DrawFocusRect(dc, &client);
    }
    SelectObject(dc, old);
    DeleteObject(font);
    EndPaint(control, &paint);
}

void CHyperLink::Open()
{
    InvalidateRect(control, 0, TRUE);
    ShellExecuteUnelevated(address, 0, 0, "open", SW_SHOWNORMAL);
}

LRESULT CHyperLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = control;
    WNDPROC previous = previousProc;
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        InvalidateRect(window, 0, TRUE);
        return 0;
    case WM_SETCURSOR:
        SetCursor(LoadCursorA(0, IDC_HAND));
        return TRUE;
    case WM_PAINT:
        Paint();
        break;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && GetFocus() == window)
            Open();
        break;
    case WM_LBUTTONUP:
        if (GetFocus() == window)
            Open();
        break;
    case WM_LBUTTONDOWN:
        SetFocus(window);
        break;
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}
