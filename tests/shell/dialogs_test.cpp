// The camera-path, preset, seasonal-maps, additional-maps and About dialogs,
// run modally from the real templates and driven with real messages from a
// timer inside their own modal loops.
#include <gtest/gtest.h>
#include <windows.h>
#include <math.h>
#include <string.h>
#include <functional>
#include <string>
#include <vector>

#include "earth/compositor_helpers.h"
#include "earth/mapfile.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/dialogs.h"
#include "framework/installrecord.h"
#include "framework/seams.h"
#include "framework/updatecheck.h"
#include "shell/aboutdialog.h"
#include "shell/cameradialogs.h"
#include "shell/entry.h"
#include "shell/help.h"
#include "shell/mapdialogs.h"
#include "shell/optionsdialog.h"
#include "shell/program.h"
#include "testutil.h"
#include "renderfixture.h"

namespace {

const double kPi = 3.14159265358979323846;
const double kDeg = kPi / 180;

// ---------------------------------------------------------------- driving

std::function<void(HWND)> gDrive;
HWND gDriven;

BOOL CALLBACK FindOwnDialog(HWND window, LPARAM found)
{
    char name[16];
    if (IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) &&
        strcmp(name, "#32770") == 0 && !GetDlgItem(window, 50110)) {
        *(HWND *)found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK DriveTimer(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = 0;
    EnumThreadWindows(GetCurrentThreadId(), FindOwnDialog, (LPARAM)&dialog);
    if (!dialog)
        return;   // not shown yet: the next tick
    KillTimer(0, timer);
    gDriven = dialog;
    RedrawWindow(dialog, 0, 0, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    if (gDrive)
        gDrive(dialog);
    if (IsWindow(dialog))   // a driver that did not end it: never hang
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

// Shows the dialog and runs drive inside its modal loop; the dialog's result.
int RunDialog(std::function<int()> show, std::function<void(HWND)> drive)
{
    gDrive = drive;
    gDriven = 0;
    SetTimer(0, 0, 30, DriveTimer);
    int result = show();
    gDrive = nullptr;
    return result;
}

void Click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

void Command(HWND dialog, int id, int code)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)GetDlgItem(dialog, id));
}

void SelectCombo(HWND dialog, int id, int index)
{
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, (WPARAM)index, 0);
    Command(dialog, id, CBN_SELCHANGE);
}

void SelectListRow(HWND dialog, int id, int index)
{
    SendDlgItemMessageA(dialog, id, LB_SETCURSEL, (WPARAM)index, 0);
    Command(dialog, id, LBN_SELCHANGE);
}

void SelectListText(HWND dialog, int id, const char *text)
{
    int index = (int)SendDlgItemMessageA(dialog, id, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
    ASSERT_GE(index, 0) << text;
    SelectListRow(dialog, id, index);
}

std::string Text(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}
std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

std::string ListRow(HWND dialog, int id, int row)
{
    char text[512] = "";
    SendDlgItemMessageA(dialog, id, LB_GETTEXT, (WPARAM)row, (LPARAM)text);
    return text;
}
int ListCount(HWND dialog, int id) { return (int)SendDlgItemMessageA(dialog, id, LB_GETCOUNT, 0, 0); }

// A framework message box that a helper thread answers.
struct BoxAnswer {
    int answer;
    bool found;
    std::string line1, lines;
};

DWORD WINAPI AnswerBoxThread(LPVOID parameter)
{
    BoxAnswer *box = (BoxAnswer *)parameter;
    for (int waited = 0; waited < 8000; waited += 20) {
        HWND found = 0;
        while ((found = FindWindowExA(0, found, "#32770", 0)) != 0)
            if (IsWindowVisible(found) && GetDlgItem(found, 50110))
                break;
        if (found) {
            Sleep(100);
            box->found = true;
            box->line1 = ItemText(found, 50108);
            box->lines = ItemText(found, 50109);
            PostMessageA(found, WM_COMMAND, (WPARAM)box->answer, 0);
            return 0;
        }
        Sleep(20);
    }
    return 0;
}

// Clicks the control while a helper answers the message box it opens.
void ClickAndAnswer(HWND dialog, int id, int code, BoxAnswer *box)
{
    HANDLE thread = CreateThread(0, 0, AnswerBoxThread, box, 0, 0);
    if (code == BN_CLICKED)
        Click(dialog, id);
    else
        Command(dialog, id, code);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
}

// The test's own folder, as it was at start: the save dialog moves the
// current folder while it is open.
char gTestFolder[MAX_PATH];

void Screenshot(HWND dialog, const char *name)
{
    RedrawWindow(dialog, 0, 0, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    MSG msg;
    for (int i = 0; i < 20; i++) {
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(dialog, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        Sleep(15);
    }
    const char *here = gTestFolder;
    std::string folder = std::string(here) + "\\dlg-shot";
    CreateDirectoryA(folder.c_str(), 0);
    std::string target = UnixPath(std::string(here) + "\\..\\..\\" + name + ".png");
    std::string report;
    EXPECT_EQ(RunHostScript(folder,
                            "command -v import >/dev/null && import -window root '" + target + "'",
                            &report),
              0)
        << report;
    RemoveTree(folder);
}

// ---------------------------------------------------------------- save dialog

// What a helper types into the system's save-file dialog: the file name,
// then OK; Yes when the dialog asks whether to replace the file. What it saw.
struct SaveAnswer {
    std::string path;
    bool shoot;   // a screenshot of the dialog with the name typed
    bool found, asked;
    std::string title, filter;
    HWND owner;
};

// A visible dialog of this process other than the ones given; with id, one
// that has that control.
HWND FindDialog(HWND notThis, HWND norThis, int id)
{
    HWND found = 0;
    while ((found = FindWindowExA(0, found, "#32770", 0)) != 0) {
        DWORD process = 0;
        GetWindowThreadProcessId(found, &process);
        if (found != notThis && found != norThis && IsWindowVisible(found) &&
            process == GetCurrentProcessId() && !GetDlgItem(found, 50110) &&
            (!id || GetDlgItem(found, id)))
            return found;
    }
    return 0;
}

HWND WaitForDialog(HWND notThis, HWND norThis, int id, int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 20) {
        HWND found = FindDialog(notThis, norThis, id);
        if (found)
            return found;
        Sleep(20);
    }
    return 0;
}

// The file name box of the save dialog: the combo box of the explorer
// style, the edit of the older one, else its first visible edit.
BOOL CALLBACK FirstEdit(HWND child, LPARAM found)
{
    char name[16];
    if (IsWindowVisible(child) && GetClassNameA(child, name, sizeof name) &&
        _stricmp(name, "Edit") == 0) {
        *(HWND *)found = child;
        return FALSE;
    }
    return TRUE;
}

HWND FileNameBox(HWND dialog)
{
    HWND box = GetDlgItem(dialog, 0x47c);   // cmb13
    if (!box)
        box = GetDlgItem(dialog, 0x480);    // edt1
    if (!box)
        EnumChildWindows(dialog, FirstEdit, (LPARAM)&box);
    return box;
}

DWORD WINAPI SaveDialogThread(LPVOID parameter)
{
    SaveAnswer *answer = (SaveAnswer *)parameter;
    HWND dialog = WaitForDialog(answer->owner, 0, IDOK, 10000);
    if (!dialog)
        return 0;
    Sleep(200);
    answer->found = true;
    answer->title = Text(dialog);
    char filter[256] = "";
    GetDlgItemTextA(dialog, 0x470, filter, sizeof filter);   // cmb1, the file types
    answer->filter = filter;
    HWND box = FileNameBox(dialog);
    SendMessageTimeoutA(box, WM_SETTEXT, 0, (LPARAM)answer->path.c_str(), SMTO_ABORTIFHUNG, 2000,
                        0);
    if (answer->shoot)
        Screenshot(dialog, "dialog-save-file");
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
    for (int waited = 0; waited < 8000 && IsWindow(dialog); waited += 20) {
        // An existing file: the dialog asks before it lets it be replaced.
        HWND question = FindDialog(answer->owner, dialog, IDYES);
        if (question) {
            answer->asked = true;
            PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                         (LPARAM)GetDlgItem(question, IDYES));
        }
        Sleep(20);
    }
    if (IsWindow(dialog))   // never hang
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

// Clicks a Save button of dialog; a helper picks path in the system's save
// dialog and, with box, another answers the message box that follows.
void ClickAndSave(HWND dialog, int id, SaveAnswer *answer, BoxAnswer *box = 0)
{
    answer->owner = dialog;
    HANDLE saver = CreateThread(0, 0, SaveDialogThread, answer, 0, 0);
    HANDLE boxes = box ? CreateThread(0, 0, AnswerBoxThread, box, 0, 0) : 0;
    Click(dialog, id);
    WaitForSingleObject(saver, 20000);
    CloseHandle(saver);
    if (boxes) {
        WaitForSingleObject(boxes, 10000);
        CloseHandle(boxes);
    }
}

// Saves over path through the dialog's button while another program holds
// the file open (no sharing), answering the failure box with failed.
void SaveOverHeldFile(HWND dialog, int id, const std::string &path, SaveAnswer *again,
                      BoxAnswer *failed)
{
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    again->path = path;
    ClickAndSave(dialog, id, again, failed);
    CloseHandle(held);
}

// ---------------------------------------------------------------- fixture

// The camera image is rendered by the real compositor from a miniature map
// of the default view's name in the program folder; the progress sink
// counts the pictures drawn.
volatile LONG gRendered;
void CountRendered(int percent)
{
    if (percent == 100)
        InterlockedIncrement(&gRendered);
}


// The width of a picture file, or -1.
int PictureWidth(const std::string &path)
{
    std::string bytes = ReadWhole(path);
    BITMAPINFOHEADER info;
    if (bytes.size() < 14 + sizeof info || bytes[0] != 'B' || bytes[1] != 'M')
        return -1;
    memcpy(&info, bytes.data() + 14, sizeof info);
    return info.biWidth;
}

// Stands in for the open options dialog: counts the refreshes it is sent.
int gViewChanged;
LRESULT CALLBACK CountViewChanged(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == OPTIONS_REFRESH)
        gViewChanged++;
    return DefWindowProcA(window, message, wParam, lParam);
}
HWND OptionsStandIn()
{
    static HWND window = MakeStandInWindow("VtOptionsStandIn", CountViewChanged);
    return window;
}


struct DialogTest : ::testing::Test {
    std::string data, program;
    ViewOptions *view;
    void SetUp() override
    {
        if (!gTestFolder[0])
            GetCurrentDirectoryA(MAX_PATH, gTestFolder);
        data = FreshTempFolder("dlg-data");
        program = FreshTempFolder("dlg-program");
        CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
        CopyText(gApp.ownFolder, program.c_str(), MAX_TEXT);
        CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
        gApp.strings.SetProgramTable(0, gProgramStrings);
        CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, program.c_str(),
                 INSTALL_RECORD_TEXT_BYTES);
        WriteTinyMap(program + "\\" + DefaultView(0)->szMap + ".min", MAP_MINI_WIDTH, MAP_MINI_HEIGHT);
        ASSERT_TRUE(buildCosineTable());
        savedRendered = gProgressSink.rendered;
        gProgressSink.rendered = CountRendered;
        gOptionsDialog = OptionsStandIn();
        gRendered = gViewChanged = 0;
        view = (ViewOptions *)malloc(sizeof(ViewOptions));
        SetDefaultView(view, 0);
    }
    void TearDown() override
    {
        gProgressSink.rendered = savedRendered;
        free(view);
    }
    void (*savedRendered)(int);
    void AddPoint(double latDeg, double lonDeg, double zoom, int time)
    {
        CameraPoint &p = view->sCamPath[view->iCamSteps++];
        p.lat = latDeg * kDeg;
        p.lon = lonDeg * kDeg;
        p.zoom = zoom;
        p.time = time;
    }
    ViewOptions *Copy()
    {
        ViewOptions *copy = (ViewOptions *)malloc(sizeof(ViewOptions));
        memcpy(copy, view, sizeof(ViewOptions));
        return copy;
    }
    bool SameAs(ViewOptions *copy)
    {
        bool same = memcmp(copy, view, sizeof(ViewOptions)) == 0;
        free(copy);
        return same;
    }
    std::string DataFile(const char *name) { return data + "\\" + name; }
    bool Exists(const std::string &path)
    {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    void WritePath(const char *name, int points, bool endAtFirst)
    {
        CameraPath path;
        memset(path, 0, sizeof path);
        for (int i = 0; i < points; i++)
            path[i] = CameraPoint{10.0 * i * kDeg, -20.0 * i * kDeg, 1.0 + i, endAtFirst ? -1 : 5};
        path[points].time = -1;
        ASSERT_EQ(CameraPathIO(1, path, "%s\\%s.vtc", gApp.dataFolder, name), 0);
    }
    void WritePreset(const char *name, double latitude, int urban)
    {
        ViewList list;
        ASSERT_TRUE(ResizeViewList(&list, 1));
        SetDefaultView(&list.data[0], 0);
        list.data[0].dVSLat = latitude;
        list.data[0].iDayUrban = (int8_t)urban;
        ASSERT_EQ(ViewOptionsIO(1, &list, "%s\\%s.vtp", gApp.dataFolder, name), 0);
        list.RemoveAll();
    }
};

int ShowCamera(ViewOptions *view) { return ShowCameraPathDialog(0, view); }

}  // namespace

// ---------------------------------------------------------------- path rows

TEST(PathRows, RowsShowDegreesHemispheresTimesAndZoom)
{
    HWND list = CreateWindowExA(0, "LISTBOX", "", WS_POPUP, 0, 0, 200, 100, 0, 0, 0, 0);
    CameraPoint path[3] = {{45.5 * kDeg, -122.4 * kDeg, 1.5, 90 + 24 * 60},
                           {-33.9 * kDeg, 151.2 * kDeg, 1.15, 0},
                           {0, 0, 1, 10}};
    FormatPathRow(list, 0, path);
    FormatPathRow(list, 1, path);
    char row[200];
    SendMessageA(list, LB_GETTEXT, 0, (LPARAM)row);
    EXPECT_STREQ(row, "45.5\260 N\t122.4\260 W   \t01:30\t150");   // hours wrap at 24
    SendMessageA(list, LB_GETTEXT, 1, (LPARAM)row);
    EXPECT_STREQ(row, "33.9\260 S\t151.2\260 E   \t0\t115");      // 1.15 shows 115, not 114
    // An existing row is replaced in place, its selection kept.
    SendMessageA(list, LB_SETCURSEL, 0, 0);
    path[0].time = 7 * 60 + 5;
    FormatPathRow(list, 0, path);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 0);
    SendMessageA(list, LB_GETTEXT, 0, (LPARAM)row);
    EXPECT_STREQ(row, "45.5\260 N\t122.4\260 W   \t07:05\t150");
    DestroyWindow(list);
}

TEST(PathRows, AnglesReadTheFirstNumberAndTheHemisphere)
{
    EXPECT_NEAR(ParseAngle("45"), 45 * kDeg, 1e-12);
    EXPECT_NEAR(ParseAngle("12.5\260 W"), -12.5 * kDeg, 1e-12);
    EXPECT_NEAR(ParseAngle("S 3"), -3 * kDeg, 1e-12);
    EXPECT_NEAR(ParseAngle("  60.0\260 N"), 60 * kDeg, 1e-12);
    EXPECT_EQ(ParseAngle("north"), 0);
    EXPECT_EQ(ParseAngle(""), 0);
}

// ---------------------------------------------------------------- camera path dialog

TEST_F(DialogTest, CameraPathPointsAreAddedDeletedClearedAndOnlyOkWrites)
{
    AddPoint(10, 20, 1, 60);
    AddPoint(-5, -40, 2, 30);
    AddPoint(30, 100, 1, 15);
    ViewOptions *before = Copy();
    int result = RunDialog([&] { return ShowCamera(view); }, [&](HWND d) {
        EXPECT_EQ(Text(d), "Camera path");
        EXPECT_EQ(ListCount(d, IDC_PATH_POINTS), 3);
        // The camera image was rendered once, at the map's width.
        RECT map;
        GetClientRect(GetDlgItem(d, IDC_PATH_MAP), &map);
        EXPECT_EQ(gRendered, 1);
        EXPECT_EQ(gRenderJobs.status[RENDER_JOB_CAMERA_IMAGE], 0);
        EXPECT_GT(map.right, 100);
        EXPECT_NEAR(PictureWidth(DataFile("VTCamImg.bmp")), map.right, 1);
        SelectListRow(d, IDC_PATH_POINTS, 1);
        Click(d, IDC_PATH_DELETE);
        EXPECT_EQ(ListCount(d, IDC_PATH_POINTS), 2);
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 1), "30.0\260 N\t100.0\260 E   \t15\t100");
        Click(d, IDC_PATH_NEW);
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 2), "0.0\260 N\t0.0\260 E   \t10\t100");
        EXPECT_EQ(SendDlgItemMessageA(d, IDC_PATH_POINTS, LB_GETCURSEL, 0, 0), 2);
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(SameAs(before));

    result = RunDialog([&] { return ShowCamera(view); }, [&](HWND d) {
        Click(d, IDC_PATH_CLEAR);
        EXPECT_EQ(ListCount(d, IDC_PATH_POINTS), 0);
        for (int i = 0; i < 33; i++)   // the 33rd does nothing
            Click(d, IDC_PATH_NEW);
        EXPECT_EQ(ListCount(d, IDC_PATH_POINTS), 32);
        SelectListRow(d, IDC_PATH_POINTS, 0);
        Click(d, IDC_PATH_DELETE);
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(view->iCamSteps, 31);
    EXPECT_EQ(view->sCamPath[30].time, 10);
    EXPECT_EQ(view->sCamPath[30].zoom, 1.0);
    EXPECT_EQ(view->sCamPath[0].lat, 0.0);
}

namespace {

const int kTabs[3] = {42, 88, 120};

// Double-clicks the cell of the points list the way the mouse does and
// types text into the in-place edit that opens; what the edit held first.
std::string EditCell(HWND d, int row, int column, const char *text, int key = 13)
{
    HWND list = GetDlgItem(d, IDC_PATH_POINTS);
    RECT item, tab = {column == 0 ? 0 : kTabs[column - 1], 0, 0, 0};
    SendMessageA(list, LB_GETITEMRECT, (WPARAM)row, (LPARAM)&item);
    MapDialogRect(d, &tab);
    LPARAM at = MAKELPARAM(tab.left + 4, (item.top + item.bottom) / 2);
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(list, WM_LBUTTONUP, 0, at);
    SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageA(list, WM_LBUTTONUP, 0, at);
    HWND edit = FindWindowExA(list, 0, "Edit", 0);
    EXPECT_TRUE(edit != 0);
    if (!edit)
        return "<no edit>";
    EXPECT_EQ(GetDlgCtrlID(edit), IDC_PATH_EDIT);
    std::string shown = Text(edit);
    SetWindowTextA(edit, text);
    SendMessageA(edit, WM_CHAR, (WPARAM)key, 0);
    EXPECT_FALSE(IsWindow(edit));
    return shown;
}

void Pump()
{
    MSG msg;
    for (int i = 0; i < 5; i++) {
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

// The map's client area drawn into a top-down 32-bit bitmap.
struct MapPixels {
    int w, h;
    uint32_t *bits;
    HBITMAP bitmap;
    explicit MapPixels(HWND map)
    {
        RECT r;
        GetClientRect(map, &r);
        w = r.right;
        h = r.bottom;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = w;
        info.bmiHeader.biHeight = -h;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        bitmap = CreateDIBSection(0, &info, DIB_RGB_COLORS, (void **)&bits, 0, 0);
        HDC dc = CreateCompatibleDC(0);
        HGDIOBJ old = SelectObject(dc, bitmap);
        SendMessageA(map, WM_PRINTCLIENT, (WPARAM)dc, PRF_CLIENT);
        GdiFlush();
        SelectObject(dc, old);
        DeleteDC(dc);
    }
    ~MapPixels() { DeleteObject(bitmap); }
    // Whether the colour (0xRRGGBB) is found within one pixel of (x, y).
    bool Near(int x, int y, uint32_t rgb) const
    {
        for (int dy = -1; dy <= 1; dy++)
            for (int dx = -1; dx <= 1; dx++) {
                int px = x + dx, py = y + dy;
                if (px >= 0 && py >= 0 && px < w && py < h && (bits[py * w + px] & 0xFFFFFF) == rgb)
                    return true;
            }
        return false;
    }
};

const uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

int PixelX(double lonDeg, int w) { return (int)((lonDeg * kDeg + kPi) * w / (2 * kPi)); }
int PixelY(double latDeg, int h) { return (int)((latDeg * kDeg - kPi / 2) * h / -kPi); }

}  // namespace

TEST_F(DialogTest, CameraPathCellsAreEditedInPlaceWithClampsAndGuards)
{
    AddPoint(0, 0, 1, 8 * 60 + 30);
    AddPoint(10, 20, 1, 30);
    int result = RunDialog([&] { return ShowCamera(view); }, [&](HWND d) {
        EXPECT_EQ(EditCell(d, 0, 2, "7:75"), "08:30");   // minutes clamped to 59
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 0), "0.0\260 N\t0.0\260 E   \t07:59\t100");
        EXPECT_EQ(EditCell(d, 0, 0, "12.5 S"), "0.0\260 N");
        EXPECT_EQ(EditCell(d, 0, 1, "200 W"), "0.0\260 E");   // trailing blanks dropped
        EXPECT_EQ(EditCell(d, 0, 3, "250"), "100");
        EXPECT_EQ(EditCell(d, 0, 3, "0"), "250");             // no zoom of zero
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 0), "12.5\260 S\t180.0\260 W   \t07:59\t250");
        EXPECT_EQ(EditCell(d, 1, 2, "-5"), "30");             // never the end marker
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 1), "10.0\260 N\t20.0\260 E   \t0\t100");
        EXPECT_EQ(EditCell(d, 1, 2, "45"), "0");
        EXPECT_EQ(EditCell(d, 1, 0, "95 N"), "10.0\260 N");     // no further than the pole
        EXPECT_EQ(EditCell(d, 1, 1, "99 E", 27), "20.0\260 E"); // Escape keeps the value
        EXPECT_EQ(EditCell(d, 0, 2, "25:10"), "07:59");         // hours clamped to 23
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(view->sCamPath[0].time, 23 * 60 + 10);
    EXPECT_NEAR(view->sCamPath[0].lat, -12.5 * kDeg, 1e-12);
    EXPECT_NEAR(view->sCamPath[0].lon, -kPi, 1e-12);
    EXPECT_DOUBLE_EQ(view->sCamPath[0].zoom, 2.5);
    EXPECT_EQ(view->sCamPath[1].time, 45);
    EXPECT_NEAR(view->sCamPath[1].lat, kPi / 2, 1e-12);
    EXPECT_NEAR(view->sCamPath[1].lon, 20 * kDeg, 1e-12);
}

TEST_F(DialogTest, CameraPathPointsAreDraggedOnTheMapAndClampedToIt)
{
    AddPoint(0, 0, 1, 60);
    AddPoint(0, 0, 1, 20);   // on top of the first: the later one is picked
    AddPoint(45, 90, 1, 20);
    double lon = 0, lat = 0;
    int result = RunDialog([&] { return ShowCamera(view); }, [&](HWND d) {
        Pump();
        HWND map = GetDlgItem(d, IDC_PATH_MAP);
        ASSERT_TRUE(map != 0);
        RECT r;
        GetClientRect(map, &r);
        int w = r.right, h = r.bottom;
        EXPECT_NEAR(w, 2 * h, 2);   // the camera image's 2:1 shape
        SendMessageA(map, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(w / 2 + 4, h / 2 - 5));
        EXPECT_EQ(SendDlgItemMessageA(d, IDC_PATH_POINTS, LB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(GetCapture(), map);
        SendMessageA(map, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(w / 4, h / 4));
        lon = (w / 4) * 2 * kPi / w - kPi;
        lat = kPi / 2 - (h / 4) * kPi / h;
        char expected[100];
        snprintf(expected, sizeof expected, "%.1f\260 N\t%.1f\260 W   \t20\t100", lat / kDeg,
                 -lon / kDeg);
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 1), expected);
        Screenshot(d, "dialog-camera-path");
        SendMessageA(map, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(-50, h + 40));
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 1), "90.0\260 S\t180.0\260 W   \t20\t100");
        SendMessageA(map, WM_LBUTTONUP, 0, MAKELPARAM(-50, h + 40));
        EXPECT_NE(GetCapture(), map);
        SendMessageA(map, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));   // released: no drag
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 1), "90.0\260 S\t180.0\260 W   \t20\t100");
        // A press on no point keeps the selection; one on a point takes it.
        SendMessageA(map, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(w - 2, 2));
        SendMessageA(map, WM_LBUTTONUP, 0, MAKELPARAM(w - 2, 2));
        EXPECT_EQ(SendDlgItemMessageA(d, IDC_PATH_POINTS, LB_GETCURSEL, 0, 0), 1);
        SendMessageA(map, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(PixelX(90, w), PixelY(45, h)));
        SendMessageA(map, WM_LBUTTONUP, 0, MAKELPARAM(PixelX(90, w), PixelY(45, h)));
        EXPECT_EQ(SendDlgItemMessageA(d, IDC_PATH_POINTS, LB_GETCURSEL, 0, 0), 2);
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(view->sCamPath[0].lat, 0.0);
    EXPECT_EQ(view->sCamPath[0].lon, 0.0);
    EXPECT_NEAR(view->sCamPath[1].lon, -kPi, 1e-12);
    EXPECT_NEAR(view->sCamPath[1].lat, -kPi / 2, 1e-12);
    EXPECT_NEAR(view->sCamPath[2].lat, 45 * kDeg, 1e-12);
}

TEST_F(DialogTest, CameraPathSegmentsAreRedBlueForJumpsAndGreenWhenSelected)
{
    AddPoint(0, 0, 1, 600);
    AddPoint(0, 60, 1, 0);    // a jump: blue
    AddPoint(30, 60, 1, 20);  // travelled: red
    RunDialog([&] { return ShowCamera(view); }, [&](HWND d) {
        Pump();
        HWND map = GetDlgItem(d, IDC_PATH_MAP);
        {
            MapPixels p(map);
            int xa = PixelX(0, p.w), xb = PixelX(60, p.w), y0 = PixelY(0, p.h);
            int y30 = PixelY(30, p.h);
            EXPECT_TRUE(p.Near((xa + xb) / 2, y0, kBlue));
            EXPECT_FALSE(p.Near((xa + xb) / 2, y0, kRed));
            EXPECT_TRUE(p.Near(xb, (y0 + y30) / 2, kRed));
            EXPECT_TRUE(p.Near(xa - 3, y0 + 3, kRed));   // unselected points are red
            EXPECT_FALSE(p.Near(xb + 3, y0 + 3, kGreen));
        }
        SelectListRow(d, IDC_PATH_POINTS, 1);
        {
            MapPixels p(map);
            int xa = PixelX(0, p.w), xb = PixelX(60, p.w), y0 = PixelY(0, p.h);
            EXPECT_TRUE(p.Near((xa + xb) / 2, y0, kGreen));
            EXPECT_FALSE(p.Near((xa + xb) / 2, y0, kBlue));
            EXPECT_TRUE(p.Near(xb + 3, y0 + 3, kGreen));
        }
        Click(d, IDCANCEL);
    });
}

TEST_F(DialogTest, CameraPathFilesAreLoadedSavedAndDeleted)
{
    WritePath("Two", 2, false);
    WritePath("Empty", 1, true);
    AddPoint(5, 5, 1, 5);
    ViewOptions *before = Copy();
    int result = RunDialog([&] { return ShowCamera(view); }, [&](HWND d) {
        ASSERT_EQ(ListCount(d, IDC_PATH_FILES), 2);
        SelectListText(d, IDC_PATH_FILES, "Two");
        Command(d, IDC_PATH_FILES, LBN_DBLCLK);
        ASSERT_EQ(ListCount(d, IDC_PATH_POINTS), 2);
        EXPECT_EQ(ListRow(d, IDC_PATH_POINTS, 1), "10.0\260 N\t20.0\260 W   \t5\t200");
        SelectListText(d, IDC_PATH_FILES, "Empty");   // first point ends it: no points
        Command(d, IDC_PATH_FILES, LBN_DBLCLK);
        EXPECT_EQ(ListCount(d, IDC_PATH_POINTS), 0);

        for (int i = 0; i < 3; i++)
            Click(d, IDC_PATH_NEW);
        // Typed without its extension: the dialog adds the default one.
        SaveAnswer save = {DataFile("Route"), true};
        ClickAndSave(d, IDC_PATH_SAVE, &save);
        ASSERT_TRUE(save.found) << "the save dialog never opened";
        EXPECT_FALSE(save.asked);
        EXPECT_NE(save.filter.find("Veltaspar Camera Paths"), std::string::npos) << save.filter;
        EXPECT_EQ(ListCount(d, IDC_PATH_FILES), 3);
        CameraPath saved;
        memset(saved, 0x55, sizeof saved);
        EXPECT_EQ(CameraPathIO(0, saved, "%s", DataFile("Route.vtc").c_str()), 0);
        EXPECT_EQ(saved[2].time, 10);
        EXPECT_EQ(saved[3].time, -1);   // ends after the third

        // Replacing a file another program holds: confirmed, then refused.
        BoxAnswer failed = {IDOK};
        SaveAnswer again = {};
        ASSERT_NO_FATAL_FAILURE(
            SaveOverHeldFile(d, IDC_PATH_SAVE, DataFile("Route.vtc"), &again, &failed));
        EXPECT_TRUE(again.asked) << "no question before replacing the file";
        EXPECT_TRUE(failed.found);
        EXPECT_EQ(failed.line1, "The camera path could not be saved!");

        SelectListText(d, IDC_PATH_FILES, "Two");
        BoxAnswer no = {IDNO};
        ClickAndAnswer(d, IDC_PATH_FILE_DELETE, BN_CLICKED, &no);
        EXPECT_EQ(no.line1, "The selected file will be deleted!");
        EXPECT_EQ(no.lines, "Do you want to continue?");
        EXPECT_TRUE(Exists(DataFile("Two.vtc")));
        BoxAnswer yes = {IDYES};
        ClickAndAnswer(d, IDC_PATH_FILE_DELETE, BN_CLICKED, &yes);
        EXPECT_FALSE(Exists(DataFile("Two.vtc")));
        EXPECT_EQ(ListCount(d, IDC_PATH_FILES), 2);
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(SameAs(before));   // loads touched the working copy only
}

// ---------------------------------------------------------------- preset dialog

TEST_F(DialogTest, PresetsPreviewLiveAndCancelPutsTheViewBack)
{
    WritePreset("Alpha", 0.25, 11);
    WritePreset("Beta", -0.5, 22);
    view->dVSLat = 0.1;
    ViewOptions *before = Copy();
    int result = RunDialog([&] { return ShowPresetDialog(0, view); }, [&](HWND d) {
        EXPECT_EQ(Text(d), "Preset");
        ASSERT_EQ(ListCount(d, IDC_PRESET_LIST), 2);
        SelectListText(d, IDC_PRESET_LIST, "Alpha");
        EXPECT_EQ(view->dVSLat, 0.25);
        EXPECT_EQ(view->iDayUrban, 11);
        EXPECT_EQ(gViewChanged, 1);
        SelectListText(d, IDC_PRESET_LIST, "Beta");
        EXPECT_EQ(view->dVSLat, -0.5);
        Screenshot(d, "dialog-preset");
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(gViewChanged, 3);   // the restored view is shown too
    EXPECT_TRUE(SameAs(before));

    result = RunDialog([&] { return ShowPresetDialog(0, view); }, [&](HWND d) {
        SelectListText(d, IDC_PRESET_LIST, "Alpha");
        Click(d, IDC_PRESET_LOAD);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(view->dVSLat, 0.25);

    result = RunDialog([&] { return ShowPresetDialog(0, view); }, [&](HWND d) {
        SelectListText(d, IDC_PRESET_LIST, "Beta");
        Command(d, IDC_PRESET_LIST, LBN_DBLCLK);   // acts as OK
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(view->dVSLat, -0.5);
}

TEST_F(DialogTest, PresetsAreSavedAndDeletedInTheDataFolder)
{
    WritePreset("Alpha", 0.25, 11);
    view->iDayUrban = 77;
    RunDialog([&] { return ShowPresetDialog(0, view); }, [&](HWND d) {
        SaveAnswer save = {DataFile("Mine")};
        ClickAndSave(d, IDC_PRESET_SAVE, &save);
        ASSERT_TRUE(save.found) << "the save dialog never opened";
        EXPECT_NE(save.filter.find("Veltaspar Presets"), std::string::npos) << save.filter;
        EXPECT_EQ(ListCount(d, IDC_PRESET_LIST), 2);
        BoxAnswer failed = {IDOK};
        SaveAnswer again = {};
        ASSERT_NO_FATAL_FAILURE(
            SaveOverHeldFile(d, IDC_PRESET_SAVE, DataFile("Mine.vtp"), &again, &failed));
        EXPECT_TRUE(again.asked);
        EXPECT_EQ(failed.line1, "The preset could not be saved!");
        SelectListText(d, IDC_PRESET_LIST, "Alpha");
        BoxAnswer yes = {IDYES};
        ClickAndAnswer(d, IDC_PRESET_DELETE, BN_CLICKED, &yes);
        EXPECT_EQ(ListCount(d, IDC_PRESET_LIST), 1);
        Click(d, IDOK);
    });
    EXPECT_FALSE(Exists(DataFile("Alpha.vtp")));
    ViewList saved;
    ASSERT_EQ(ViewOptionsIO(0, &saved, "%s\\Mine.vtp", gApp.dataFolder), 0);
    ASSERT_EQ(saved.count, 1);
    EXPECT_EQ(saved.data[0].iDayUrban, 77);
    saved.RemoveAll();
}

// ---------------------------------------------------------------- map dialogs

// Every Help button looks for the manual beside the program, never in the
// folder the installation record names nor in the working folder: with the
// manual only there, each reports it missing under the program's own path.
TEST_F(DialogTest, HelpButtonsLookForTheManualBesideTheProgram)
{
    std::string elsewhere = FreshTempFolder("dlg-install");
    WriteWhole(elsewhere + "\\Veltaspar.chm", "ITSF");
    char keptInstall[MAX_TEXT];
    CopyText(keptInstall, (char *)gApp.installRecord + 20, MAX_TEXT);
    CopyText((char *)gApp.installRecord + 20, elsewhere.c_str(), MAX_TEXT);
    char keptCurrent[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, keptCurrent);
    SetCurrentDirectoryA(elsewhere.c_str());

    char path[MAX_PATH];
    ProgramHelpPath(path, sizeof path);
    EXPECT_EQ(std::string(path), program + "\\Veltaspar.chm");
    ProgramHelpPath(path, 12);   // cut, never overrun
    EXPECT_EQ(strlen(path), 11u);
    EXPECT_STREQ(kHelpFileName, "Veltaspar.chm");
    EXPECT_FALSE(HelpFileExists());

    std::function<int()> dialogs[] = {
        [&] { return ShowPresetDialog(0, view); },
        [&] { return ShowSeasonalMapsDialog(0, view); },
    };
    for (auto &show : dialogs) {
        BoxAnswer box = {IDOK, false, "", ""};
        RunDialog(show, [&](HWND d) {
            ClickAndAnswer(d, 9, BN_CLICKED, &box);
            Click(d, IDCANCEL);
        });
        ASSERT_TRUE(box.found);
        // "Could not find the manual", or "display" where no viewer is registered.
        EXPECT_NE(box.line1.find("the manual \"" + program + "\\Veltaspar.chm\""),
                  std::string::npos)
            << box.line1;
    }
    WriteWhole(program + "\\Veltaspar.chm", "ITSF");
    EXPECT_TRUE(HelpFileExists());

    SetCurrentDirectoryA(keptCurrent);
    CopyText((char *)gApp.installRecord + 20, keptInstall, MAX_TEXT);
}

TEST_F(DialogTest, SeasonalMapsRoundTripAndBlendControlsFollowTheCheck)
{
    view->iSeasonMonth = 3;
    view->iSeasonDay = 15;
    view->bSeasonMixNext = 1;
    view->iSeasonMixMode = 2;
    ViewOptions *before = Copy();
    int result = RunDialog([&] { return ShowSeasonalMapsDialog(0, view); }, [&](HWND d) {
        EXPECT_EQ(Text(d), "Seasonal Maps");
        HWND month = GetDlgItem(d, IDC_SEASON_MONTH), day = GetDlgItem(d, IDC_SEASON_DAY);
        ASSERT_EQ(SendMessageA(month, CB_GETCOUNT, 0, 0), 13);
        ASSERT_EQ(SendMessageA(day, CB_GETCOUNT, 0, 0), 32);
        char text[32];
        SendMessageA(month, CB_GETLBTEXT, 0, (LPARAM)text);
        EXPECT_STREQ(text, "(Automatic)");
        SendMessageA(month, CB_GETLBTEXT, 1, (LPARAM)text);
        EXPECT_STREQ(text, "January");
        SendMessageA(month, CB_GETLBTEXT, 12, (LPARAM)text);
        EXPECT_STREQ(text, "December");
        SendMessageA(day, CB_GETLBTEXT, 31, (LPARAM)text);
        EXPECT_STREQ(text, "31");
        EXPECT_EQ(SendMessageA(month, CB_GETCURSEL, 0, 0), 3);
        EXPECT_EQ(SendMessageA(day, CB_GETCURSEL, 0, 0), 15);
        EXPECT_EQ(GetDlgCheck(d, IDC_SEASON_BLEND), BST_CHECKED);
        EXPECT_EQ(GetDlgCheck(d, IDC_SEASON_SELECTIVE), BST_CHECKED);
        EXPECT_EQ(GetDlgCheck(d, IDC_SEASON_SIMPLE), BST_UNCHECKED);
        EXPECT_TRUE(IsWindowEnabled(day));
        Screenshot(d, "dialog-seasonal-maps");
        SelectCombo(d, IDC_SEASON_MONTH, 12);
        Click(d, IDC_SEASON_BLEND);   // commits at once
        EXPECT_EQ(view->bSeasonMixNext, 0);
        EXPECT_EQ(view->iSeasonMonth, 12);
        const int blendIds[] = {IDC_SEASON_DAY_LABEL, IDC_SEASON_DAY, IDC_SEASON_MODE_LABEL,
                                IDC_SEASON_SIMPLE, IDC_SEASON_ADVANCED, IDC_SEASON_SELECTIVE};
        for (int id : blendIds)
            EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, id))) << id;
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(SameAs(before));

    view->iSeasonMonth = 40;   // out of range: shown as the last month
    result = RunDialog([&] { return ShowSeasonalMapsDialog(0, view); }, [&](HWND d) {
        EXPECT_EQ(SendDlgItemMessageA(d, IDC_SEASON_MONTH, CB_GETCURSEL, 0, 0), 12);
        SelectCombo(d, IDC_SEASON_MONTH, 0);
        SelectCombo(d, IDC_SEASON_DAY, 31);
        Click(d, IDC_SEASON_SIMPLE);
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(view->iSeasonMonth, 0);
    EXPECT_EQ(view->iSeasonDay, 31);
    EXPECT_EQ(view->iSeasonMixMode, 0);
    EXPECT_EQ(view->bSeasonMixNext, 1);
}

TEST_F(DialogTest, AdditionalMapsStoreTheInverseOfTheCheckEitherWay)
{
    gPrefs.bShowMapDLInfo = 1;
    int result = RunDialog([&] { return ShowAdditionalMapsDialog(0); }, [&](HWND d) {
        EXPECT_EQ(Text(d), "Additional Maps");
        EXPECT_EQ(GetDlgCheck(d, IDC_MAPS_DONT_SHOW), BST_UNCHECKED);
        EXPECT_EQ(ItemText(d, IDC_MAPS_HEADING), "Download Additional Maps");
        LOGFONTA font = {};
        GetObjectA((HFONT)SendDlgItemMessageA(d, IDC_MAPS_HEADING, WM_GETFONT, 0, 0), sizeof font,
                   &font);
        EXPECT_GE(font.lfWeight, FW_SEMIBOLD);
        Screenshot(d, "dialog-additional-maps");
        Click(d, IDC_MAPS_DONT_SHOW);
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(gPrefs.bShowMapDLInfo, 0);
    result = RunDialog([&] { return ShowAdditionalMapsDialog(0); }, [&](HWND d) {
        EXPECT_EQ(GetDlgCheck(d, IDC_MAPS_DONT_SHOW), BST_CHECKED);
        Click(d, IDC_MAPS_DONT_SHOW);
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(gPrefs.bShowMapDLInfo, 1);
}

// ---------------------------------------------------------------- about dialog

namespace {

// What a user does after clicking one of the About dialog's configuration
// buttons, done by a helper thread while the click runs: pick a file in the
// open or save dialog (when pick is set), close the archive settings dialog
// (when archiveDialog), then answer the framework's message boxes in turn.
struct UserSteps {
    std::string pick;
    bool archiveDialog;
    std::vector<BoxAnswer> boxes;
    int lastBoxWaitMs;   // how long the last box is waited for (one that must not come)
    bool picked, archiveSeen;
};

struct FileDialogSearch {
    HWND found;
};

BOOL CALLBACK FindFileDialog(HWND window, LPARAM data)
{
    char cls[16];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) ||
        !GetClassNameA(window, cls, sizeof cls) || strcmp(cls, "#32770") != 0 ||
        GetDlgItem(window, 50110) || GetDlgItem(window, IDC_ABOUT_PRODUCT) || window == gArchiveDialog)
        return TRUE;
    ((FileDialogSearch *)data)->found = window;
    return FALSE;
}

void PickInFileDialog(UserSteps *steps)
{
    FileDialogSearch search = {0};
    for (int waited = 0; waited < 10000 && !search.found; waited += 50) {
        EnumWindows(FindFileDialog, (LPARAM)&search);
        if (!search.found)
            Sleep(50);
    }
    if (!search.found)
        return;
    steps->picked = true;
    Sleep(200);
    EnumChildWindows(search.found, TypeIntoFirstEdit, (LPARAM)steps->pick.c_str());
    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 (LPARAM)GetDlgItem(search.found, IDOK));
    for (int i = 0; i < 100 && IsWindow(search.found); i++)
        Sleep(50);
    if (IsWindow(search.found))   // never hang on a dialog that stays
        PostMessageA(search.found, WM_COMMAND, IDCANCEL, 0);
}

HWND WaitForBox(int milliseconds)
{
    for (int waited = 0; waited < milliseconds; waited += 20) {
        HWND found = 0;
        while ((found = FindWindowExA(0, found, "#32770", 0)) != 0)
            if (IsWindowVisible(found) && GetDlgItem(found, 50110))
                return found;
        Sleep(20);
    }
    return 0;
}

DWORD WINAPI UserStepsThread(LPVOID parameter)
{
    UserSteps *steps = (UserSteps *)parameter;
    if (!steps->pick.empty())
        PickInFileDialog(steps);
    if (steps->archiveDialog) {
        for (int i = 0; i < 200 && !gArchiveDialog; i++)
            Sleep(50);
        HWND archive = gArchiveDialog;
        steps->archiveSeen = archive != 0;
        if (archive) {
            Sleep(100);
            PostMessageA(archive, WM_COMMAND, IDCANCEL, 0);
        }
    }
    for (size_t i = 0; i < steps->boxes.size(); i++) {
        bool last = i + 1 == steps->boxes.size();
        HWND box = WaitForBox(last && steps->lastBoxWaitMs ? steps->lastBoxWaitMs : 8000);
        if (!box)
            return 0;
        Sleep(100);
        BoxAnswer &answer = steps->boxes[i];
        answer.found = true;
        answer.line1 = ItemText(box, 50108);
        answer.lines = ItemText(box, 50109);
        PostMessageA(box, WM_COMMAND, (WPARAM)answer.answer, 0);
        for (int w = 0; w < 100 && IsWindow(box); w++)
            Sleep(20);
    }
    return 0;
}

// Clicks the About dialog's button while the helper does the user's steps.
void ClickWithSteps(HWND dialog, int id, UserSteps *steps)
{
    steps->picked = steps->archiveSeen = false;
    HANDLE thread = CreateThread(0, 0, UserStepsThread, steps, 0, 0);
    Click(dialog, id);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TEST_F(DialogTest, AboutShowsProductVersionFoldersAndHelpOnlyWithItsFile)
{
    gApp.versionMajor = 4;
    gApp.versionMinor = 2;
    gApp.versionBuild = 17;
    int result = RunDialog([&] { return ShowAboutDialog(0); }, [&](HWND d) {
        EXPECT_EQ(Text(d), "Veltaspar");
        EXPECT_EQ(ItemText(d, IDC_ABOUT_PRODUCT), "Veltaspar v4.2.17");
        EXPECT_FALSE(ItemText(d, IDC_ABOUT_NOTICE).empty());
        EXPECT_EQ(ItemText(d, IDC_ABOUT_WEB).compare(0, 8, "https://"), 0);
        EXPECT_EQ(ItemText(d, IDC_ABOUT_PROGRAM_FOLDER), program);
        EXPECT_EQ(ItemText(d, IDC_ABOUT_DATA_FOLDER), data);
        // The configuration tools are always there; help only with its file.
        for (int id : {(int)IDC_ABOUT_BACKUP, (int)IDC_ABOUT_RESTORE, (int)IDC_ABOUT_RESET,
                       (int)IDC_ABOUT_ARCHIVE, (int)IDC_ABOUT_UPDATE})
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, id))) << id;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 9)));
        Click(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);

    WriteWhole(program + "\\Veltaspar.chm", "ITSF");
    result = RunDialog([&] { return ShowAboutDialog(0); }, [&](HWND d) {
        for (int id : {(int)IDC_ABOUT_BACKUP, (int)IDC_ABOUT_RESTORE, (int)IDC_ABOUT_RESET,
                       (int)IDC_ABOUT_ARCHIVE, 9})
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, id))) << id;
        Screenshot(d, "dialog-about");
        Click(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
}

// The buttons run the real configuration archive: the save and open
// dialogs, the archive settings dialog and the archive's own questions.
TEST_F(DialogTest, AboutConfigurationToolsReportAndOfferTheRestart)
{
    gApp.restartMode = 0;
    WriteWhole(data + "\\(QRF)Tested.rgc", "settings");
    std::string backup = program + "\\about.KestrovaConfig";
    std::string pending = data + "\\Veltaspar.KestrovaConfig";
    UserSteps backedUp, later, archive, declined, now;
    int result = RunDialog([&] { return ShowAboutDialog(0); }, [&](HWND d) {
        backedUp.pick = backup;
        backedUp.boxes = {BoxAnswer{IDOK}};
        ClickWithSteps(d, IDC_ABOUT_BACKUP, &backedUp);
        // Declining the restart keeps the program and the dialog running.
        later.pick = backup;
        later.boxes = {BoxAnswer{IDYES}, BoxAnswer{IDCANCEL}};   // overwrite? yes; restart? later
        ClickWithSteps(d, IDC_ABOUT_RESTORE, &later);
        EXPECT_EQ(gApp.restartMode, 0);
        EXPECT_TRUE(IsWindow(d));
        archive.archiveDialog = true;
        ClickWithSteps(d, IDC_ABOUT_ARCHIVE, &archive);
        // A cancelled operation says nothing more (the archive asked).
        DeleteFileA(pending.c_str());
        declined.boxes = {BoxAnswer{IDCANCEL}, BoxAnswer{IDOK}};
        declined.lastBoxWaitMs = 1500;
        ClickWithSteps(d, IDC_ABOUT_RESET, &declined);
        now.boxes = {BoxAnswer{IDYES}, BoxAnswer{IDOK}};
        ClickWithSteps(d, IDC_ABOUT_RESET, &now);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(backedUp.picked) << "the save dialog never opened";
    EXPECT_EQ(backedUp.boxes[0].line1, "Data backed up successfully!");
    EXPECT_EQ(ReadWhole(backup).compare(0, 2, "PK"), 0) << "no archive where the user chose";

    EXPECT_TRUE(later.picked) << "the open dialog never opened";
    EXPECT_EQ(later.boxes[0].line1, "Warning: your current configuration will be overwritten!");
    EXPECT_EQ(later.boxes[1].line1, "Data restored successfully!");
    EXPECT_EQ(later.boxes[1].lines.find("The program must be restarted"), 0u) << later.boxes[1].lines;

    EXPECT_TRUE(archive.archiveSeen) << "the archive settings dialog never opened";
    EXPECT_EQ(gArchiveDialog, (HWND)0);

    EXPECT_TRUE(declined.boxes[0].found);
    EXPECT_FALSE(declined.boxes[1].found) << declined.boxes[1].line1;
    EXPECT_EQ(now.boxes[0].line1, "Warning: your current configuration will be overwritten!");
    EXPECT_EQ(now.boxes[1].line1, "Data reset successfully!");
    EXPECT_TRUE(FileExists(pending)) << "no reset archive for the next start";
    EXPECT_NE(gApp.restartMode, 0);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, 0, WM_QUIT, WM_QUIT, PM_REMOVE));   // the restart's quit
    gApp.restartMode = 0;
}

TEST_F(DialogTest, AboutUpdateCheckOutlivesTheAboutDialog)
{
    HWND update = 0;
    RunDialog([&] { return ShowAboutDialog(0); }, [&](HWND d) {
        Click(d, IDC_ABOUT_UPDATE);
        update = gUpdateDialog;
        ASSERT_TRUE(update != 0);
        EXPECT_NE(GetWindow(update, GW_OWNER), d);
        Click(d, IDOK);
    });
    EXPECT_TRUE(IsWindow(update));
    EXPECT_EQ(gUpdateDialog, update);
    if (IsWindow(update))
        SendMessageA(update, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(gUpdateDialog, (HWND)0);
}
