// The framework message box, dialog helpers, help and the data-folder wait,
// run against the real templates of the program.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <string.h>
#include <string>

#include "framework/application.h"
#include "framework/datafolder.h"
#include "framework/dialogs.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/messages.h"
#include "resources/resource.h"
#include "testutil.h"

namespace {

// What a helper thread saw of an open message box before it answered.
struct BoxSeen {
    std::string caption;       // waited for
    int answers[2];            // posted in turn; 0 ends the list
    bool found;
    bool stillOpenAfterFirst;
    int visible;               // bit per button: 1 OK, 2 Cancel, 4 Yes, 8 No
    int defaultId;
    LONG_PTR icon;
    bool iconShown;
    int firstWeight;
    std::string line1, lines;
    bool linesExist;
    RECT line1Rect, iconRect, client;
    RECT buttons[4];
    int modalCount;
    bool closeEnabled;
    std::string screenshot;    // host path; empty: none
    int screenshotResult;
};

const int kIds[4] = {IDOK, IDCANCEL, IDYES, IDNO};

HWND WaitForDialog(const char *caption, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 20) {
        HWND found = FindWindowA("#32770", caption);
        if (found && IsWindowVisible(found))
            return found;
        Sleep(20);
    }
    return 0;
}

std::string ControlText(HWND dialog, int id)
{
    char text[2048] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

RECT ControlRect(HWND dialog, int id)
{
    RECT r = {0, 0, 0, 0};
    HWND control = GetDlgItem(dialog, id);
    if (control) {
        GetWindowRect(control, &r);
        MapWindowPoints(HWND_DESKTOP, dialog, (POINT *)&r, 2);
    }
    return r;
}

void Inspect(HWND dialog, BoxSeen *seen)
{
    for (int i = 0; i < 4; i++) {
        if (IsWindowVisible(GetDlgItem(dialog, kIds[i])))
            seen->visible |= 1 << i;
        seen->buttons[i] = ControlRect(dialog, kIds[i]);
    }
    LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    seen->defaultId = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : 0;
    HWND icon = GetDlgItem(dialog, IDC_MSGBOX_ICON);
    seen->icon = GetWindowLongPtrA(icon, GWLP_USERDATA);
    seen->iconShown = IsWindowVisible(icon) != 0;
    seen->iconRect = ControlRect(dialog, IDC_MSGBOX_ICON);
    LOGFONTA font = {};
    HFONT first = (HFONT)SendDlgItemMessageA(dialog, IDC_MSGBOX_LINE1, WM_GETFONT, 0, 0);
    if (first && GetObjectA(first, sizeof font, &font))
        seen->firstWeight = font.lfWeight;
    seen->line1 = ControlText(dialog, IDC_MSGBOX_LINE1);
    seen->linesExist = GetDlgItem(dialog, IDC_MSGBOX_LINES) != 0;
    seen->lines = ControlText(dialog, IDC_MSGBOX_LINES);
    seen->line1Rect = ControlRect(dialog, IDC_MSGBOX_LINE1);
    GetClientRect(dialog, &seen->client);
    seen->modalCount = gModalCount;
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STATE;
    seen->closeEnabled = !(GetMenuItemInfoA(GetSystemMenu(dialog, FALSE), SC_CLOSE, FALSE, &item) &&
                           (item.fState & MFS_GRAYED));
}

void TakeScreenshot(BoxSeen *seen)
{
    Sleep(300);   // let it paint
    std::string report;
    // The host script needs a folder on the drive that maps the host's files.
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string folder = std::string(here) + "\\dlg-shot";
    CreateDirectoryA(folder.c_str(), 0);
    seen->screenshotResult = RunHostScript(
        folder, "command -v import >/dev/null && import -window root '" + seen->screenshot + "'",
        &report);
}

DWORD WINAPI AnswerBox(LPVOID parameter)
{
    BoxSeen *seen = (BoxSeen *)parameter;
    HWND dialog = WaitForDialog(seen->caption.c_str(), 10000);
    seen->found = dialog != 0;
    if (!dialog)
        return 0;
    Sleep(50);
    Inspect(dialog, seen);
    if (!seen->screenshot.empty())
        TakeScreenshot(seen);
    for (int i = 0; i < 2 && seen->answers[i]; i++) {
        PostMessageA(dialog, WM_COMMAND, (WPARAM)seen->answers[i], 0);
        Sleep(200);
        if (i == 0)
            seen->stillOpenAfterFirst = IsWindow(dialog) != 0;
    }
    return 0;
}

HANDLE StartThread(LPTHREAD_START_ROUTINE routine, void *parameter)
{
    return CreateThread(0, 0, routine, parameter, 0, 0);
}

void Join(HANDLE thread)
{
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
}

BoxSeen NewSeen(const char *caption, int first, int second = 0)
{
    BoxSeen seen = {};
    seen.caption = caption;
    seen.answers[0] = first;
    seen.answers[1] = second;
    return seen;
}

int ShowBox(BoxSeen *seen, const char *text, uint32_t flags)
{
    HANDLE thread = StartThread(AnswerBox, seen);
    int result = FrameworkMessageBox(0, seen->caption.c_str(), "%s", flags, 0, text);
    Join(thread);
    return result;
}

bool Below(const RECT &lower, const RECT &upper) { return lower.top >= upper.bottom; }

}  // namespace

// ---------------------------------------------------------------- message box

TEST(MsgBox, StopFlagsShowOneEmphasisedOkBox)
{
    BoxSeen seen = NewSeen("Stop box", IDOK);
    EXPECT_EQ(ShowBox(&seen, "Stop here\nThe second line", 0x111), IDOK);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.visible, 1);
    EXPECT_EQ(seen.defaultId, IDOK);
    EXPECT_EQ(seen.icon, (LONG_PTR)IDI_HAND);
    EXPECT_TRUE(seen.iconShown);
    EXPECT_GE(seen.firstWeight, FW_BOLD);
    EXPECT_EQ(seen.line1, "Stop here");
    EXPECT_EQ(seen.lines, "The second line");
    EXPECT_EQ(seen.modalCount, 1);
    EXPECT_EQ(gModalCount, 0);
}

TEST(MsgBox, QuestionWithYesNoCancelDefaultsToCancelWhenAsked)
{
    BoxSeen seen = NewSeen("Question box", IDYES);
    EXPECT_EQ(ShowBox(&seen, "Save the changes?", 0x588), IDYES);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.visible, 2 | 4 | 8);
    EXPECT_EQ(seen.defaultId, IDCANCEL);
    EXPECT_EQ(seen.icon, (LONG_PTR)IDI_QUESTION);
    EXPECT_GE(seen.firstWeight, FW_BOLD);   // 0x588 carries 0x100
    // Yes, No, Cancel from left to right in one row.
    EXPECT_LT(seen.buttons[2].right, seen.buttons[3].left);
    EXPECT_LT(seen.buttons[3].right, seen.buttons[1].left);
    EXPECT_EQ(seen.buttons[2].top, seen.buttons[1].top);
}

TEST(MsgBox, OkCancelWithoutIconAnswersCancel)
{
    BoxSeen seen = NewSeen("Plain box", IDCANCEL);
    EXPECT_EQ(ShowBox(&seen, "No icon here", 0x20), IDCANCEL);
    EXPECT_LT(seen.firstWeight, FW_BOLD);
    EXPECT_LT(seen.buttons[0].right, seen.buttons[1].left);   // OK, then Cancel
    EXPECT_EQ(seen.visible, 1 | 2);
    EXPECT_EQ(seen.defaultId, IDOK);
    EXPECT_FALSE(seen.iconShown);
    EXPECT_EQ(seen.icon, 0);
}

TEST(MsgBox, YesNoDefaultsToNoAndEscapeEndsItWithCancel)
{
    BoxSeen seen = NewSeen("Yes no box", IDCANCEL, IDNO);
    // The first answer (Escape's) ends it; the No that follows comes too late.
    EXPECT_EQ(ShowBox(&seen, "Really?", 0x40 | 0x1000 | 0x4), IDCANCEL);
    EXPECT_EQ(seen.visible, 4 | 8);
    EXPECT_EQ(seen.defaultId, IDNO);
    EXPECT_EQ(seen.icon, (LONG_PTR)IDI_EXCLAMATION);
    EXPECT_TRUE(seen.closeEnabled);   // the close box is Escape's
}

TEST(MsgBox, DefaultOutsideTheSetFallsBackAndEscapeOnOkIsCancel)
{
    BoxSeen seen = NewSeen("Ok box", IDCANCEL);
    EXPECT_EQ(ShowBox(&seen, "Information", 0x12 | 0x800), IDCANCEL);
    EXPECT_EQ(seen.visible, 1);
    EXPECT_EQ(seen.defaultId, IDOK);
    EXPECT_EQ(seen.icon, (LONG_PTR)IDI_ASTERISK);
}

TEST(MsgBox, IdsOfHiddenButtonsDoNotEndIt)
{
    BoxSeen seen = NewSeen("Hidden ids", IDYES, IDOK);
    EXPECT_EQ(ShowBox(&seen, "OK only", 0x10), IDOK);
    EXPECT_TRUE(seen.stillOpenAfterFirst);
}

TEST(MsgBox, OneLineSitsBesideTheIconsMiddleWithoutSecondControl)
{
    BoxSeen seen = NewSeen("One line", IDOK);
    ShowBox(&seen, "Just this", 0x12);
    EXPECT_FALSE(seen.linesExist);
    int lineMiddle = (seen.line1Rect.top + seen.line1Rect.bottom) / 2;
    int iconMiddle = (seen.iconRect.top + seen.iconRect.bottom) / 2;
    EXPECT_NEAR(lineMiddle, iconMiddle, 1);
    EXPECT_GT(seen.line1Rect.left, seen.iconRect.right);
}

TEST(MsgBox, TwentyLinesShowTheFirstSixteenAndButtonsBelowThem)
{
    std::string text;
    for (int i = 1; i <= 20; i++)
        text += "line " + std::to_string(i) + (i < 20 ? "\r\n" : "");
    BoxSeen seen = NewSeen("Many lines", IDOK);
    ShowBox(&seen, text.c_str(), 0x11);
    EXPECT_EQ(seen.line1, "line 1");
    std::string expected;
    for (int i = 2; i <= 16; i++)
        expected += "line " + std::to_string(i) + (i < 16 ? "\n" : "");
    EXPECT_EQ(seen.lines, expected);
    int lineHeight = seen.line1Rect.bottom - seen.line1Rect.top;
    EXPECT_EQ(seen.line1Rect.top, seen.iconRect.top);   // more lines: first at the top
    EXPECT_GE(seen.buttons[0].top - seen.line1Rect.bottom, 15 * lineHeight + lineHeight * 3 / 2);
    EXPECT_LE(seen.buttons[0].bottom, seen.client.bottom);
    // OK alone is centred.
    int middle = (seen.buttons[0].left + seen.buttons[0].right) / 2;
    EXPECT_NEAR(middle, seen.client.right / 2, 1);
}

TEST(MsgBox, WideTextWidensTheBox)
{
    std::string wide(150, 'W');
    BoxSeen seen = NewSeen("Wide", IDOK);
    ShowBox(&seen, wide.c_str(), 0x10);
    EXPECT_LE(seen.line1Rect.right, seen.client.right);
    EXPECT_GT(seen.line1Rect.right - seen.line1Rect.left, 600);
    EXPECT_TRUE(Below(seen.buttons[0], seen.line1Rect));
}

TEST(MsgBox, NullCaptionIsTheProductNameAndTextIsFormatted)
{
    CopyText(gApp.productName, "Veltaspar Test", MAX_TEXT);
    BoxSeen seen = NewSeen("Veltaspar Test", IDOK);
    HANDLE thread = StartThread(AnswerBox, &seen);
    int result = FrameworkMessageBox(0, 0, "%d files in %s", 0x10, 0, 3, "Maps");
    Join(thread);
    EXPECT_EQ(result, IDOK);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.line1, "3 files in Maps");
}

TEST(MsgBox, ScreenshotOfAnOpenBox)
{
    BoxSeen seen = NewSeen("Veltaspar", IDNO);
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    seen.screenshot = UnixPath(std::string(here) + "\\..\\..\\msgbox.png");
    EXPECT_EQ(ShowBox(&seen, "Download the new cloud map now?\nThe current map is 3 hours old; "
                             "a new one takes about 2 MB.\nYou can change this under Options.",
                      0x100 | 0x80 | 0x8),
              IDNO);
    EXPECT_EQ(seen.screenshotResult, 0);
    EXPECT_NE(GetFileAttributesA((std::string(here) + "\\..\\..\\msgbox.png").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

// ---------------------------------------------------------------- modal counter

namespace {
int gModalSeen[4], gModalMessages;
LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == QRFM_MODAL && gModalMessages < 4)
        gModalSeen[gModalMessages++] = (int)wParam;
    return DefFrameWindowProc(window, message, wParam, lParam);
}
}  // namespace

TEST(Modal, EveryFrameHearsTheCounterWhichNeverGoesBelowZero)
{
    // A real frame of the frame list, its messages seen first by FrameProc.
    ASSERT_EQ(0, CreateFrameWindow(0, FrameProc, "Frame", 1, 0, 0, 0, 200, 100));
    gModalMessages = 0;
    SetModal(true);
    SetModal(true);
    SetModal(false);
    SetModal(false);
    SetModal(false);
    DestroyFrameWindows();
    ASSERT_EQ(gModalMessages, 4);
    EXPECT_EQ(gModalSeen[0], 1);
    EXPECT_EQ(gModalSeen[1], 2);
    EXPECT_EQ(gModalSeen[2], 1);
    EXPECT_EQ(gModalSeen[3], 0);
    EXPECT_EQ(gModalCount, 0);
}

// ---------------------------------------------------------------- control helpers

namespace {
struct Controls {
    HWND parent, edit, check, label;
    Controls()
    {
        parent = CreateWindowA("Static", "", WS_POPUP, 0, 0, 300, 100, 0, 0, 0, 0);
        edit = CreateWindowA("Edit", "", WS_CHILD, 0, 0, 100, 20, parent, (HMENU)100, 0, 0);
        check = CreateWindowA("Button", "Check", WS_CHILD | BS_AUTOCHECKBOX, 0, 30, 100, 20,
                              parent, (HMENU)101, 0, 0);
        label = CreateWindowA("Static", "Our site", WS_CHILD | SS_CENTER, 0, 60, 100, 20, parent,
                              (HMENU)102, 0, 0);
    }
    ~Controls() { DestroyWindow(parent); }
};
}  // namespace

TEST(DialogHelpers, GetDlgItemNumberStrictAndClamped)
{
    Controls c;
    SetDlgItemTextA(c.parent, 100, "12abc");
    EXPECT_EQ(GetDlgItemNumber(c.parent, 100, 3, 50, true), 3);
    EXPECT_EQ(gFrameworkLastError, QRF_ERR_NOT_A_NUMBER);
    EXPECT_EQ(GetDlgItemNumber(c.parent, 100, 3, 10, false), 10);
    EXPECT_EQ(gFrameworkLastError, 0);
    EXPECT_EQ(GetDlgItemNumber(c.parent, 100, 3, 50, false), 12);
    SetDlgItemTextA(c.parent, 100, "");
    EXPECT_EQ(GetDlgItemNumber(c.parent, 100, 7, 50, false), 7);
    EXPECT_EQ(gFrameworkLastError, QRF_ERR_EMPTY_NUMBER);
    SetDlgItemNumber(c.parent, 100, -5);
    EXPECT_EQ(ControlText(c.parent, 100), "-5");
    EXPECT_EQ(GetDlgItemNumber(c.parent, 100, 0, 9, true), 0);
    EXPECT_EQ(gFrameworkLastError, 0);
}

TEST(DialogHelpers, TextChecksAndEnabling)
{
    Controls c;
    SetDlgItemTextF(c.parent, 100, "%s-%03d", "map", 7);
    EXPECT_EQ(ControlText(c.parent, 100), "map-007");
    SetDlgCheck(c.parent, 101, BST_CHECKED);
    EXPECT_EQ(GetDlgCheck(c.parent, 101), BST_CHECKED);
    EnableDlgItems(false, c.parent, 100, 101, 0, 102);
    EXPECT_FALSE(IsWindowEnabled(c.edit));
    EXPECT_FALSE(IsWindowEnabled(c.check));
    EXPECT_TRUE(IsWindowEnabled(c.label));   // after the ending 0
    EXPECT_EQ(SetDlgItemTextUtf8(c.parent, 100, "Z\xC3\xBCrich"), 7);
    WCHAR wide[32];
    GetWindowTextW(c.edit, wide, 32);
    EXPECT_EQ(std::wstring(wide), std::wstring(L"Z\x00FCrich"));
    EXPECT_EQ(SetDlgItemTextUtf8(c.parent, 100, "Z\xFCrich"), 6);   // ANSI stays ANSI
    EXPECT_EQ(ControlText(c.parent, 100), "Z\xFCrich");
}

TEST(HyperLink, AttachesKeepsTheControlOnDetach)
{
    Controls c;
    CHyperLink link;
    EXPECT_FALSE(link.Attach(c.parent, 999, "https://example.invalid/"));
    WNDPROC original = (WNDPROC)GetWindowLongPtrA(c.label, GWLP_WNDPROC);
    ASSERT_TRUE(link.Attach(c.parent, 102, 0));
    EXPECT_STREQ(link.address, "Our site");
    EXPECT_EQ(link.format, (UINT)DT_CENTER);
    EXPECT_TRUE(link.tooltip != 0);
    EXPECT_NE((WNDPROC)GetWindowLongPtrA(c.label, GWLP_WNDPROC), original);
    UpdateWindow(c.label);   // paints through the link without trouble
    ASSERT_TRUE(link.Attach(c.parent, 102, "https://example.invalid/maps"));
    EXPECT_STREQ(link.address, "https://example.invalid/maps");
    link.Detach();
    EXPECT_TRUE(IsWindow(c.label));
    EXPECT_EQ((WNDPROC)GetWindowLongPtrA(c.label, GWLP_WNDPROC), original);
}

// ---------------------------------------------------------------- help

TEST(Help, NonHelpNameIsRefusedSilently)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(ShowHelp("readme.txt", 0), HELP_NOT_A_HELP_FILE);
    EXPECT_EQ(ShowHelp(0, 0), HELP_NOT_A_HELP_FILE);
    EXPECT_LT(GetTickCount() - start, 500u);
}

TEST(Help, MissingManualIsReportedWithItsPath)
{
    std::string folder = FreshTempFolder("dlg-help");
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, folder.c_str(), MAX_TEXT);
    CopyText(gApp.productName, "Help Test", MAX_TEXT);
    BoxSeen seen = NewSeen("Help Test", IDOK);
    HANDLE thread = StartThread(AnswerBox, &seen);
    int result = ShowHelp("NoSuchManual.chm", "Intro.htm");
    Join(thread);
    EXPECT_TRUE(result == HELP_FILE_MISSING || result == HELP_NO_VIEWER) << result;
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.visible, 1);
    EXPECT_EQ(seen.icon, (LONG_PTR)IDI_HAND);
    if (result == HELP_FILE_MISSING) {
        EXPECT_EQ(seen.line1, "Could not find the manual \"" + folder + "\\NoSuchManual.chm\".");
    }

    // A full path is not put behind the installation folder again.
    std::string elsewhere = FreshTempFolder("dlg-help-beside") + "\\Gone.chm";
    BoxSeen again = NewSeen("Help Test", IDOK);
    thread = StartThread(AnswerBox, &again);
    result = ShowHelp(elsewhere.c_str(), 0);
    Join(thread);
    EXPECT_TRUE(result == HELP_FILE_MISSING || result == HELP_NO_VIEWER) << result;
    ASSERT_TRUE(again.found);
    EXPECT_NE(again.line1.find("the manual \"" + elsewhere + "\""), std::string::npos)
        << again.line1;
}

// ---------------------------------------------------------------- data folder

namespace {
struct LaterAction {
    int delay;
    std::string deletePath;
    UINT message;      // posted to the wait window; 0 none
    WPARAM wParam;
    LPARAM lParam;
    bool windowSeen;
    DWORD postedAt;
    bool openMenu;     // open the icon's menu and pick its entry
};

DWORD WINAPI DoLater(LPVOID parameter)
{
    LaterAction *action = (LaterAction *)parameter;
    Sleep(action->delay);
    HWND window = FindWindowA(DATAFOLDER_WINDOW_CLASS, 0);
    action->windowSeen = window != 0;
    if (!action->deletePath.empty())
        DeleteFileA(action->deletePath.c_str());
    if (action->openMenu && window) {
        PostMessageA(window, QRFM_TRAY, 1, WM_RBUTTONDOWN);
        HWND menu = 0;
        for (int i = 0; i < 100 && !(menu = FindWindowA("#32768", 0)); i++)
            Sleep(20);
        Sleep(100);
        if (menu) {
            PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
            PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
        }
    }
    if (action->message && window) {
        action->postedAt = GetTickCount();
        PostMessageA(window, action->message, action->wParam, action->lParam);
    }
    return 0;
}

// Removing a notification-area icon costs Wine a fixed wait (without a
// window manager it waits for the icon window to be withdrawn); measured once
// so the tests can time the wait itself.
DWORD TrayRemovalCost()
{
    static DWORD cost = (DWORD)-1;
    if (cost != (DWORD)-1)
        return cost;
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP, 0, 0, 0, 0, 0, 0, 0, 0);
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_ICON;
    data.hIcon = LoadIconA(0, IDI_HAND);
    Shell_NotifyIconA(NIM_ADD, &data);
    DWORD start = GetTickCount();
    Shell_NotifyIconA(NIM_DELETE, &data);
    cost = GetTickCount() - start;
    DestroyWindow(window);
    return cost;
}

// A file where a folder level should be keeps the folder from being made.
std::string BlockedFolder(const std::string &tag, std::string *blocker)
{
    std::string base = FreshTempFolder(tag);
    *blocker = base + "\\share";
    WriteWhole(*blocker, "not a folder");
    return *blocker + "\\Veltaspar\\data";
}
}  // namespace

TEST(DataFolderWait, ExistingFolderReturnsAtOnceWithoutWindow)
{
    std::string folder = FreshTempFolder("dlg-ready") + "\\new\\levels";
    DWORD start = GetTickCount();
    EXPECT_EQ(WaitForDataFolder(folder.c_str(), -1, IDI_PROGRAM, "Waiting", "Give up"), 0);
    EXPECT_LT(GetTickCount() - start, 300u);
    EXPECT_NE(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(FindWindowA(DATAFOLDER_WINDOW_CLASS, 0), (HWND)0);
}

TEST(DataFolderWait, EmptyPathAndSingleAttemptFail)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(WaitForDataFolder("", 3, IDI_PROGRAM, "", ""), DATAFOLDER_UNREACHABLE);
    EXPECT_LT(GetTickCount() - start, 300u);   // an empty path never appears: no waiting
    std::string blocker;
    std::string folder = BlockedFolder("dlg-once", &blocker);
    start = GetTickCount();
    EXPECT_EQ(WaitForDataFolder(folder.c_str(), 0, IDI_PROGRAM, "", ""), DATAFOLDER_UNREACHABLE);
    EXPECT_LT(GetTickCount() - start, 300u);
}

TEST(DataFolderWait, FolderThatNeverAppearsGivesUpAfterItsRounds)
{
    std::string blocker;
    std::string folder = BlockedFolder("dlg-never", &blocker);
    DWORD removal = TrayRemovalCost();
    LaterAction action = {};
    action.delay = 400;
    HANDLE thread = StartThread(DoLater, &action);
    DWORD start = GetTickCount();
    int result = WaitForDataFolder(folder.c_str(), 1, IDI_PROGRAM, "Waiting for data", "Stop");
    DWORD elapsed = GetTickCount() - start - removal;
    Join(thread);
    EXPECT_EQ(result, DATAFOLDER_UNREACHABLE);
    EXPECT_GE(elapsed + removal, 900u);
    EXPECT_LT(elapsed, 1800u);   // two attempts one round apart
    EXPECT_TRUE(action.windowSeen);
    EXPECT_EQ(FindWindowA(DATAFOLDER_WINDOW_CLASS, 0), (HWND)0);
}

TEST(DataFolderWait, FolderThatAppearsLaterEndsTheWait)
{
    std::string blocker;
    std::string folder = BlockedFolder("dlg-later", &blocker);
    DWORD removal = TrayRemovalCost();
    LaterAction action = {};
    action.delay = 1500;
    action.deletePath = blocker;
    HANDLE thread = StartThread(DoLater, &action);
    DWORD start = GetTickCount();
    int result = WaitForDataFolder(folder.c_str(), -1, IDI_PROGRAM, "Waiting", "Stop");
    DWORD elapsed = GetTickCount() - start - removal;
    Join(thread);
    EXPECT_EQ(result, DATAFOLDER_READY);
    EXPECT_GE(elapsed + removal, 1400u);
    EXPECT_LT(elapsed, 2800u);   // the next attempt after the folder appeared
    EXPECT_NE(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(DataFolderWait, GivingUpEndsTheRoundPromptly)
{
    std::string blocker;
    std::string folder = BlockedFolder("dlg-giveup", &blocker);
    DWORD removal = TrayRemovalCost();
    LaterAction action = {};
    action.delay = 1300;
    action.message = WM_COMMAND;
    action.wParam = DATAFOLDER_GIVE_UP_COMMAND;
    HANDLE thread = StartThread(DoLater, &action);
    int result = WaitForDataFolder(folder.c_str(), -1, IDI_PROGRAM, "Waiting", "Stop");
    DWORD late = GetTickCount() - action.postedAt - removal;
    Join(thread);
    EXPECT_EQ(result, DATAFOLDER_GAVE_UP);
    EXPECT_LT((int)late, 350);   // within the round, not at its end
}

TEST(DataFolderWait, TheIconsMenuEntryGivesUp)
{
    std::string blocker;
    std::string folder = BlockedFolder("dlg-menu", &blocker);
    LaterAction action = {};
    action.delay = 300;
    action.openMenu = true;
    HANDLE thread = StartThread(DoLater, &action);
    int result = WaitForDataFolder(folder.c_str(), 8, IDI_PROGRAM, "Waiting", "Stop waiting");
    Join(thread);
    EXPECT_EQ(result, DATAFOLDER_GAVE_UP);
}

TEST(DataFolderIcons, LoadIconResourceChoosesByDepthAndSize)
{
    EXPECT_EQ(LoadIconResource(999, 3, 16), (HICON)0);
    struct { int size, expected; } cases[] = {{16, 16}, {48, 48}, {20, 16}, {40, 32}, {0, 16}};
    for (auto &c : cases) {
        HICON icon = LoadIconResource(IDI_PROGRAM, 3, c.size);
        ASSERT_TRUE(icon != 0) << c.size;
        ICONINFO info;
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP shape;
        GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof shape, &shape);
        EXPECT_EQ(shape.bmWidth, c.expected) << c.size;
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    HICON chosen = LoadIconResource(IDI_PROGRAM, 0, 32);   // no 1-bit pictures: the system picks
    EXPECT_TRUE(chosen != 0);
    DestroyIcon(chosen);
}

TEST(DataFolderIcons, ShadedIconIsGreyedBetweenTheThreeDColours)
{
    HICON icons[2] = {(HICON)1, (HICON)1};
    EXPECT_EQ(MakeShadedIcon(999, icons), 1);
    EXPECT_EQ(icons[0], (HICON)0);
    ASSERT_EQ(MakeShadedIcon(IDI_PROGRAM, icons), 0);
    ASSERT_TRUE(icons[0] && icons[1]);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icons[1], &info));
    BITMAP shape;
    GetObjectA(info.hbmColor, sizeof shape, &shape);
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = shape.bmWidth;
    header.bmiHeader.biHeight = -shape.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    std::vector<uint32_t> colour(shape.bmWidth * shape.bmHeight), mask(colour.size());
    HDC dc = GetDC(0);
    GetDIBits(dc, info.hbmColor, 0, shape.bmHeight, colour.data(), &header, DIB_RGB_COLORS);
    GetDIBits(dc, info.hbmMask, 0, shape.bmHeight, mask.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(0, dc);
    COLORREF light = GetSysColor(COLOR_3DLIGHT), shadow = GetSysColor(COLOR_BTNSHADOW);
    int checked = 0;
    for (size_t i = 0; i < colour.size(); i++) {
        if ((mask[i] & 0xFFFFFF) == 0xFFFFFF)
            continue;
        for (int shift = 0; shift < 24; shift += 8) {
            int v = (int)(colour[i] >> shift & 0xFF);
            int a = (int)(light >> (16 - shift) & 0xFF), b = (int)(shadow >> (16 - shift) & 0xFF);
            EXPECT_GE(v, (a < b ? a : b) - 1);
            EXPECT_LE(v, (a > b ? a : b) + 1);
        }
        checked++;
    }
    EXPECT_GT(checked, 0);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icons[0]);
    DestroyIcon(icons[1]);
}
