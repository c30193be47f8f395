// The image view and the small dialog controls, in a plain parent window.
#include <math.h>
#include <string.h>

#include "framework/application.h"
#include "framework/clamp.h"
#include "shell/imageview.h"
#include "testutil.h"

namespace {

const int kPlaceholder = 100, kView = 101, kEdit = 102, kCombo = 103, kOther = 104,
          kSwatch = 105, kList = 106;
const double kPi = 3.14159265358979323846;

// What the parent window has been told.
struct Heard {
    int commands;
    WPARAM lastCommand;
    int changesWhileSuppressed;
} gHeard;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) {
        if (HIWORD(wParam) == EN_CHANGE) {
            if (gSuppressEditNotify)
                gHeard.changesWhileSuppressed++;
        } else if (HIWORD(wParam) == 0) {
            gHeard.commands++;
            gHeard.lastCommand = wParam;
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A parent with a 108 x 108 placeholder at (10, 10): the view's box is
// (13, 13) to (113, 113), 100 pixels each way.
struct Parent {
    HWND window;
    Parent()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = ParentProc;
        wc.hInstance = GetModuleHandleA(0);
        wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        wc.lpszClassName = "VtViewTestParent";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "VtViewTestParent", "View test",
                                 WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 40, 40, 300, 200, 0, 0,
                                 GetModuleHandleA(0), 0);
        Child("STATIC", SS_ETCHEDFRAME, 10, 10, 108, 108, kPlaceholder);
        gHeard = Heard();
    }
    ~Parent() { DestroyWindow(window); }
    HWND Child(const char *cls, DWORD style, int x, int y, int w, int h, int id)
    {
        return CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, x, y, w, h, window,
                               (HMENU)(INT_PTR)id, GetModuleHandleA(0), 0);
    }
};

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

RECT PlaceInParent(HWND view)
{
    RECT r;
    GetWindowRect(view, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(view), (POINT *)&r, 2);
    return r;
}

// A BMP file: left half red, right half blue, a white band of 4 rows on top.
std::string WriteBmp(const std::string &folder, const char *name, int w, int h)
{
    CDibImage im;
    im.Create(w, h, 24);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            RGBQUAD c = {0, 0, 0, 0};
            if (y >= h - 4)
                c.rgbRed = c.rgbGreen = c.rgbBlue = 255;
            else if (x < w / 2)
                c.rgbRed = 220;
            else
                c.rgbBlue = 220;
            im.SetPixelColor(x, y, c);
        }
    unsigned char *buffer = 0;
    int32_t size = 0;
    std::string path = folder + "\\" + name;
    if (im.Encode(&buffer, &size, FORMAT_BMP)) {
        WriteWhole(path, std::string((char *)buffer, size));
        CDibImage::FreeEncodedBuffer(buffer);
    }
    return path;
}

// Paints the view into a memory DC of its size and hands back the pixels.
struct Snapshot {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    bool failed;
    Snapshot(CImageView &view)
    {
        HDC screen = GetDC(0);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, view.displayWidth, view.displayHeight);
        ReleaseDC(0, screen);
        old = SelectObject(dc, bitmap);
        failed = view.Paint(dc);
    }
    ~Snapshot()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) { return GetPixel(dc, x, y); }
};

}  // namespace

TEST(ImageView, FitsWideAndTallPicturesIntoThePlaceholder)
{
    std::string folder = FreshTempFolder("imageview-fit");
    Parent parent;
    CImageView view;
    ASSERT_EQ(0, view.Create(parent.window, kPlaceholder, kView));
    EXPECT_EQ(0, view.Create(parent.window, kPlaceholder, kView));   // exists: still ok
    ASSERT_TRUE(view.window != 0);
    EXPECT_EQ(kView, GetDlgCtrlID(view.window));
    EXPECT_TRUE(IsWindowVisible(view.window));
    // No picture: the box's own shape.
    RECT r = PlaceInParent(view.window);
    EXPECT_EQ(13, r.left);
    EXPECT_EQ(13, r.top);
    EXPECT_EQ(101, view.displayWidth);
    EXPECT_EQ(101, view.displayHeight);

    // Twice as wide as high: full width, half height, centred vertically.
    ASSERT_EQ(0, view.LoadImage(WriteBmp(folder, "wide.bmp", 200, 100).c_str()));
    view.Layout();
    r = PlaceInParent(view.window);
    EXPECT_EQ(101, view.displayWidth);
    EXPECT_EQ(50, view.displayHeight);
    EXPECT_EQ(13, r.left);
    EXPECT_EQ(13 + 25, r.top);
    EXPECT_EQ(r.right - r.left, 101);
    EXPECT_EQ(r.bottom - r.top, 50);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, view.window, IMAGEVIEW_SIZE_MESSAGE, IMAGEVIEW_SIZE_MESSAGE,
                             PM_REMOVE));
    EXPECT_EQ((WPARAM)((100 << 16) | 200), msg.wParam);

    // Twice as high as wide: full height, half width, centred horizontally.
    ASSERT_EQ(0, view.LoadImage(WriteBmp(folder, "tall.bmp", 50, 100).c_str()));
    view.Layout();
    r = PlaceInParent(view.window);
    EXPECT_EQ(50, view.displayWidth);
    EXPECT_EQ(101, view.displayHeight);
    EXPECT_EQ(13 + 25, r.left);
    EXPECT_EQ(13, r.top);
    view.Destroy();
    EXPECT_TRUE(view.window == 0);
}

TEST(ImageView, PaintsThePictureOrButtonFaceAndTheOverlay)
{
    std::string folder = FreshTempFolder("imageview-paint");
    Parent parent;
    CImageView view;
    ASSERT_EQ(0, view.Create(parent.window, kPlaceholder, kView));
    ASSERT_EQ(0, view.LoadImage(WriteBmp(folder, "wide.bmp", 200, 100).c_str()));
    view.Layout();
    {
        Snapshot shot(view);
        EXPECT_FALSE(shot.failed);
        EXPECT_EQ(RGB(255, 255, 255), shot.At(10, 0));   // the top band comes out on top
        EXPECT_EQ(RGB(220, 0, 0), shot.At(5, 25));
        EXPECT_EQ(RGB(0, 0, 220), shot.At(95, 25));
    }
    // The overlay: centred on one line over button face, the picture around it.
    strcpy(view.overlayText, "Rendering");
    {
        Snapshot shot(view);
        EXPECT_FALSE(shot.failed);
        int face = 0, other = 0;
        for (int x = 30; x < 70; x++) {
            COLORREF c = shot.At(x, 25);
            if (c == GetSysColor(COLOR_BTNFACE))
                face++;
            else if (c != RGB(220, 0, 0) && c != RGB(0, 0, 220))
                other++;
        }
        EXPECT_GT(face, 5);
        EXPECT_GT(other, 0);   // the letters
        EXPECT_EQ(RGB(220, 0, 0), shot.At(2, 25));
        EXPECT_EQ(RGB(220, 0, 0), shot.At(5, 47));
    }
    view.overlayText[0] = 0;

    // A missing file: 1, and the view is empty.
    EXPECT_EQ(1, view.LoadImage((folder + "\\missing.bmp").c_str()));
    EXPECT_FALSE(view.image.IsValid());
    {
        Snapshot shot(view);
        EXPECT_TRUE(shot.failed);
        EXPECT_EQ(GetSysColor(COLOR_BTNFACE), shot.At(5, 5));
    }
    // An empty path clears.
    ASSERT_EQ(0, view.LoadImage(WriteBmp(folder, "wide.bmp", 200, 100).c_str()));
    EXPECT_EQ(0, view.LoadImage(""));
    EXPECT_FALSE(view.image.IsValid());

    // A record kept across dialog openings works again after Destroy.
    view.Destroy();
    ASSERT_EQ(0, view.Create(parent.window, kPlaceholder, kView));
    EXPECT_EQ(0, view.LoadImage(WriteBmp(folder, "wide.bmp", 200, 100).c_str()));
    view.Layout();
    Snapshot shot(view);
    EXPECT_FALSE(shot.failed);
    EXPECT_EQ(RGB(220, 0, 0), shot.At(5, 25));
}

// One look at the view on screen, for a person to judge: with VT_VIEW_HOLD
// set to milliseconds the window stays up that long for a screenshot.
TEST(ImageView, HoldsOnScreenOnRequest)
{
    const char *hold = getenv("VT_VIEW_HOLD");
    if (!hold)
        GTEST_SKIP() << "VT_VIEW_HOLD not set";
    std::string folder = FreshTempFolder("imageview-shot");
    Parent parent;
    CImageView view;
    ASSERT_EQ(0, view.Create(parent.window, kPlaceholder, kView));
    ASSERT_EQ(0, view.LoadImage(WriteBmp(folder, "wide.bmp", 200, 100).c_str()));
    view.Layout();
    strcpy(view.overlayText, "Preview");
    InvalidateRect(parent.window, 0, TRUE);
    for (DWORD end = GetTickCount() + atoi(hold); GetTickCount() < end;) {
        Pump();
        Sleep(20);
    }
}

TEST(InPlaceEdit, CommitsOnEnterAndFocusLossButNotOnEscape)
{
    Parent parent;
    HWND other = parent.Child("EDIT", 0, 150, 10, 60, 20, kOther);
    InPlaceEdit record;

    HWND edit = parent.Child("EDIT", 0, 150, 40, 60, 20, kEdit);
    StartInPlaceEdit(&record, edit, parent.window, 777);
    EXPECT_TRUE(SendMessageA(edit, WM_GETDLGCODE, 0, 0) & DLGC_WANTALLKEYS);
    SetWindowTextA(edit, "hello");
    SetFocus(edit);
    SendMessageA(edit, WM_CHAR, 13, 0);
    EXPECT_EQ(1, gHeard.commands);   // once: the destroy's focus loss does not commit again
    EXPECT_EQ(777u, gHeard.lastCommand);
    EXPECT_STREQ("hello", record.text);
    EXPECT_FALSE(IsWindow(edit));

    gHeard = Heard();
    edit = parent.Child("EDIT", 0, 150, 40, 60, 20, kEdit);
    StartInPlaceEdit(&record, edit, parent.window, 778);
    SetWindowTextA(edit, "world");
    SetFocus(edit);
    SetFocus(other);
    EXPECT_EQ(1, gHeard.commands);
    EXPECT_EQ(778u, gHeard.lastCommand);
    EXPECT_STREQ("world", record.text);
    EXPECT_FALSE(IsWindow(edit));

    gHeard = Heard();
    edit = parent.Child("EDIT", 0, 150, 40, 60, 20, kEdit);
    StartInPlaceEdit(&record, edit, parent.window, 779);
    SetWindowTextA(edit, "dropped");
    SetFocus(edit);
    SendMessageA(edit, WM_CHAR, 27, 0);
    EXPECT_EQ(0, gHeard.commands);
    EXPECT_STREQ("", record.text);
    EXPECT_FALSE(IsWindow(edit));

    // Destroyed with its parent: nothing sent, the record let go.
    gHeard = Heard();
    edit = parent.Child("EDIT", 0, 150, 40, 60, 20, kEdit);
    StartInPlaceEdit(&record, edit, parent.window, 780);
    DestroyWindow(edit);
    EXPECT_TRUE(record.edit == 0);
}

TEST(AngleEdit, RoundTripsDegreesAndDirection)
{
    Parent parent;
    HWND edit = parent.Child("EDIT", 0, 150, 10, 60, 20, kEdit);
    HWND combo = parent.Child("COMBOBOX", CBS_DROPDOWNLIST, 150, 40, 60, 100, kCombo);
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)"East");
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)"West");

    SetWindowTextA(edit, "123");
    SendMessageA(edit, EM_SETSEL, 1, 2);
    SetAngleEdit(parent.window, kEdit, -45 * kPi / 180, kCombo);
    char text[32];
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ("45\xB0", text);
    EXPECT_EQ(1, SendMessageA(combo, CB_GETCURSEL, 0, 0));
    DWORD start = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(1u, start);
    EXPECT_EQ(2u, end);
    EXPECT_GT(gHeard.changesWhileSuppressed, 0);   // the write was flagged ...
    EXPECT_EQ(0, gSuppressEditNotify);             // ... and the flag cleared
    EXPECT_NEAR(-kPi / 4, GetAngleEdit(kCombo, kPi, parent.window, kEdit, -kPi), 1e-12);

    SetAngleEdit(parent.window, kEdit, 10.4 * kPi / 180, kCombo);
    GetWindowTextA(edit, text, sizeof text);
    EXPECT_STREQ("10\xB0", text);
    EXPECT_EQ(0, SendMessageA(combo, CB_GETCURSEL, 0, 0));

    SetWindowTextA(edit, "12,5");
    EXPECT_NEAR(12.5 * kPi / 180, GetAngleEdit(kCombo, kPi, parent.window, kEdit, -kPi), 1e-12);
    SetWindowTextA(edit, "45");
    SendMessageA(combo, CB_SETCURSEL, 1, 0);
    EXPECT_NEAR(-kPi / 4, GetAngleEdit(kCombo, kPi, parent.window, kEdit, -kPi), 1e-12);
    // Clamped to the bounds; rubbish reads as 0.
    SetWindowTextA(edit, "200");
    EXPECT_DOUBLE_EQ(-kPi / 2, GetAngleEdit(kCombo, kPi / 2, parent.window, kEdit, -kPi / 2));
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
    EXPECT_DOUBLE_EQ(kPi / 2, GetAngleEdit(kCombo, kPi / 2, parent.window, kEdit, -kPi / 2));
    SetWindowTextA(edit, "north");
    EXPECT_DOUBLE_EQ(0, GetAngleEdit(kCombo, kPi, parent.window, kEdit, -kPi));
}

TEST(ClampToRange, EdgesWithTheBoundsInEitherOrder)
{
    int bounds[2][2] = {{-5, 10}, {10, -5}};
    for (auto &b : bounds) {
        int v = -6;
        EXPECT_EQ(-1, ClampToRange(&v, b[0], b[1]));
        EXPECT_EQ(-5, v);
        v = -5;
        EXPECT_EQ(0, ClampToRange(&v, b[0], b[1]));
        EXPECT_EQ(-5, v);
        v = 10;
        EXPECT_EQ(0, ClampToRange(&v, b[0], b[1]));
        v = 11;
        EXPECT_EQ(1, ClampToRange(&v, b[0], b[1]));
        EXPECT_EQ(10, v);
    }
    int v = 3;
    EXPECT_EQ(1, ClampToRange(&v, 2, 2));
    EXPECT_EQ(2, v);
}

TEST(ListDataFiles, CountsAndNamesTheFilesOfOneExtension)
{
    std::string folder = FreshTempFolder("imageview-list");
    WriteWhole(folder + "\\Alps.vtp", "x");
    WriteWhole(folder + "\\North Sea.vtp", "x");
    WriteWhole(folder + "\\Route.vtc", "x");
    CreateDirectoryA((folder + "\\Folder.vtp").c_str(), 0);
    char saved[sizeof gApp.dataFolder];
    strcpy(saved, gApp.dataFolder);
    strcpy(gApp.dataFolder, folder.c_str());

    Parent parent;
    HWND list = parent.Child("LISTBOX", LBS_SORT, 150, 10, 100, 100, kList);
    EXPECT_EQ(2, ListDataFiles(list, "vtp"));
    ASSERT_EQ(2, SendMessageA(list, LB_GETCOUNT, 0, 0));
    char name[64];
    SendMessageA(list, LB_GETTEXT, 0, (LPARAM)name);
    EXPECT_STREQ("Alps", name);
    SendMessageA(list, LB_GETTEXT, 1, (LPARAM)name);
    EXPECT_STREQ("North Sea", name);
    EXPECT_EQ(1, ListDataFiles(0, "vtc"));
    EXPECT_EQ(0, ListDataFiles(0, "none"));

    gApp.dataFolder[0] = 0;   // no data folder: nothing, not the drive's root
    EXPECT_EQ(0, ListDataFiles(0, "vtp"));
    strcpy(gApp.dataFolder, saved);
}

namespace {

// Presses a button of the colour chooser once it shows up.
DWORD WINAPI AnswerChooser(void *button)
{
    for (int i = 0; i < 200; i++) {
        HWND dialog = FindWindowA("#32770", 0);
        DWORD process = 0;
        if (dialog)
            GetWindowThreadProcessId(dialog, &process);
        if (dialog && process == GetCurrentProcessId()) {
            PostMessageA(dialog, WM_COMMAND, (WPARAM)(INT_PTR)button, 0);
            return 0;
        }
        Sleep(25);
    }
    return 1;
}

void DoubleClickWithAnswer(HWND swatch, int button)
{
    HANDLE thread = CreateThread(0, 0, AnswerChooser, (void *)(INT_PTR)button, 0, 0);
    SendMessageA(swatch, WM_LBUTTONDBLCLK, 0, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
}

}  // namespace

TEST(ColourSwatch, PaintsItsColourAndReportsTheChooser)
{
    Parent parent;
    HWND swatch = parent.Child("STATIC", 0, 150, 10, 30, 20, kSwatch);
    COLORREF colour = RGB(10, 200, 30);
    InstallColourSwatch(parent.window, kSwatch, &colour);
    EXPECT_EQ(HTCLIENT, SendMessageA(swatch, WM_NCHITTEST, 0, MAKELPARAM(160, 60)));

    // Painted through WM_PAINT into the window; read back from the screen.
    UpdateWindow(parent.window);
    Pump();
    HDC dc = GetDC(swatch);
    EXPECT_EQ(colour, GetPixel(dc, 5, 5));
    ReleaseDC(swatch, dc);
    EnableWindow(swatch, FALSE);
    UpdateWindow(swatch);
    dc = GetDC(swatch);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetPixel(dc, 5, 5));
    ReleaseDC(swatch, dc);
    EnableWindow(swatch, TRUE);

    DoubleClickWithAnswer(swatch, IDCANCEL);
    EXPECT_EQ(0, gHeard.commands);
    DoubleClickWithAnswer(swatch, IDOK);
    EXPECT_EQ(1, gHeard.commands);
    EXPECT_EQ((WPARAM)kSwatch, gHeard.lastCommand);
    EXPECT_EQ(RGB(10, 200, 30), colour);   // OK with the colour it opened with
}
