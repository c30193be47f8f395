// The deliverables' resources: icons at every drawn size with real alpha,
// the eyedropper cursor, the dialog templates, the version block, the
// manifests and the season mask. This executable links the main program's
// resources; the screen saver's and the setup engine's come from the two
// probe DLLs built next to it.
#include "testutil.h"
#include "earth/labels.h"
#include "imaging/image.h"
#include "resources/resource.h"

#include <commctrl.h>
#include <ctype.h>
#include <set>
#include <string.h>

namespace {

HMODULE Self() { return GetModuleHandleA(0); }

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved, type, count;
};
#pragma pack(pop)

struct ExpectedIcon {
    int id;
    std::vector<int> sizes;
};

const std::vector<int> kToolSizes = {16, 24, 32, 48};
const std::vector<int> kTraySizes = {16, 24, 32, 48, 64};
const std::vector<int> kRingSizes = {16, 22, 24, 32, 48};

std::vector<ExpectedIcon> MainIcons()
{
    std::vector<ExpectedIcon> icons = {
        {1, {16, 24, 32, 48, 64, 256}}, {2, kToolSizes},
        {0xC350, kToolSizes}, {0xC351, kToolSizes}, {0xC352, kToolSizes},
        {0xC353, kToolSizes}, {0xC354, kToolSizes}, {0xC355, kToolSizes},
        {0xC356, kToolSizes}, {0xC357, kRingSizes}, {0xC358, kRingSizes}};
    for (int id = 10; id <= 21; id++)
        icons.push_back({id, kTraySizes});
    // The dialogs' add, remove, up and down buttons.
    for (int id : {22, 23, 24, 25})
        icons.push_back({id, kToolSizes});
    // The labels' weather icons: every number the condition table uses, with
    // the night pictures of 1 and 3, at resource 200 + the number.
    std::set<int> weather;
    for (const WeatherCondition &row : kWeatherConditions)
        for (int i = 0; i < WEATHER_ICONS && row.icons[i]; i++) {
            weather.insert(200 + WeatherIconForTime(row.icons[i], true));
            weather.insert(200 + WeatherIconForTime(row.icons[i], false));
        }
    for (int id : weather)
        icons.push_back({id, kToolSizes});
    return icons;
}

// Sizes (width == height, 256 stored as 0) and bit depths of an icon group.
std::vector<int> GroupSizes(HMODULE module, int id, std::vector<int> *depths = 0)
{
    std::vector<int> sizes;
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), (LPCSTR)RT_GROUP_ICON);
    if (!res)
        return sizes;
    const BYTE *bytes = (const BYTE *)LockResource(LoadResource(module, res));
    const GroupIconHeader *head = (const GroupIconHeader *)bytes;
    const GroupIconEntry *entry = (const GroupIconEntry *)(bytes + sizeof(GroupIconHeader));
    EXPECT_EQ(1, head->type);
    EXPECT_EQ(SizeofResource(module, res), sizeof(GroupIconHeader) + head->count * sizeof(GroupIconEntry));
    for (int i = 0; i < head->count; i++) {
        EXPECT_EQ(entry[i].width, entry[i].height);
        sizes.push_back(entry[i].width ? entry[i].width : 256);
        if (depths)
            depths->push_back(entry[i].bitCount);
    }
    return sizes;
}

struct AlphaCounts {
    int transparent = 0, partial = 0, opaque = 0;
};

// Reads an icon's colour bitmap as 32-bit pixels and counts its alpha values.
AlphaCounts CountAlpha(HICON icon, int size)
{
    AlphaCounts counts;
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info))
        return counts;
    std::vector<DWORD> pixels(size * size);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(0);
    int rows = GetDIBits(dc, info.hbmColor, 0, size, pixels.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(0, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(size, rows);
    for (DWORD p : pixels) {
        int a = p >> 24;
        if (a == 0)
            counts.transparent++;
        else if (a == 255)
            counts.opaque++;
        else
            counts.partial++;
    }
    return counts;
}

std::string ResourceText(HMODULE module, int id, LPCSTR type)
{
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (!res)
        return std::string();
    const char *bytes = (const char *)LockResource(LoadResource(module, res));
    return std::string(bytes, SizeofResource(module, res));
}

BOOL CALLBACK CountName(HMODULE, LPCSTR, LPSTR, LONG_PTR count)
{
    ++*(int *)count;
    return TRUE;
}

int CountResources(HMODULE module, LPCSTR type)
{
    int count = 0;
    EnumResourceNamesA(module, type, CountName, (LONG_PTR)&count);
    return count;
}

std::string VersionString(const std::vector<char> &block, const char *name)
{
    char path[128];
    sprintf(path, "\\StringFileInfo\\040904B0\\%s", name);
    char *value = 0;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path, (void **)&value, &length) || !value)
        return std::string();
    return std::string(value);
}

std::vector<char> VersionBlock(const char *path)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    std::vector<char> block(size);
    if (!size || !GetFileVersionInfoA(path, 0, size, block.data()))
        block.clear();
    return block;
}

std::string ExeFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(0, path, MAX_PATH);
    char *slash = strrchr(path, '\\');
    if (slash)
        *slash = 0;
    return path;
}

// The setup engine's and the screen saver's resources, loaded as data.
HMODULE LoadProbe(const char *kind)
{
    std::string path = ExeFolder() + "\\resource_probe_" + kind + ".dll";
    return LoadLibraryExA(path.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

std::string ProbePath(const char *kind)
{
    return ExeFolder() + "\\resource_probe_" + kind + ".dll";
}

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window)
{
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void CheckVersionBlock(const char *path, const char *description, const char *file)
{
    std::vector<char> block = VersionBlock(path);
    ASSERT_FALSE(block.empty()) << path;
    VS_FIXEDFILEINFO *fixed = 0;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void **)&fixed, &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    // The framework reads major, minor and build from these words.
    EXPECT_EQ(4, HIWORD(fixed->dwFileVersionMS));
    EXPECT_EQ(0, LOWORD(fixed->dwFileVersionMS));
    EXPECT_EQ(0, HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ((DWORD)VFT_APP, fixed->dwFileType);
    EXPECT_EQ("Veltaspar", VersionString(block, "ProductName"));
    EXPECT_EQ("4.0.0", VersionString(block, "ProductVersion"));
    EXPECT_EQ("4.0.0", VersionString(block, "FileVersion"));
    EXPECT_EQ(description, VersionString(block, "FileDescription"));
    EXPECT_EQ(file, VersionString(block, "OriginalFilename"));
}

} // namespace

TEST(ResourceIcons, EveryGroupHoldsExactlyItsSizesAt32Bits)
{
    for (const ExpectedIcon &want : MainIcons()) {
        std::vector<int> depths;
        std::vector<int> sizes = GroupSizes(Self(), want.id, &depths);
        EXPECT_EQ(want.sizes, sizes) << "icon " << want.id;
        for (int d : depths)
            EXPECT_EQ(32, d) << "icon " << want.id;
    }
    // Nothing else: the groups are exactly the ones listed.
    EXPECT_EQ((int)MainIcons().size(), CountResources(Self(), (LPCSTR)RT_GROUP_ICON));
}

TEST(ResourceIcons, LoadAtEverySizeWithAlpha)
{
    for (const ExpectedIcon &want : MainIcons()) {
        EXPECT_TRUE(LoadIconA(Self(), MAKEINTRESOURCEA(want.id)) != 0) << "icon " << want.id;
        for (int size : want.sizes) {
            HICON icon = (HICON)LoadImageA(Self(), MAKEINTRESOURCEA(want.id), IMAGE_ICON, size, size, 0);
            ASSERT_TRUE(icon != 0) << "icon " << want.id << " at " << size;
            ICONINFO info = {};
            ASSERT_TRUE(GetIconInfo(icon, &info));
            EXPECT_TRUE(info.fIcon);
            BITMAP bm = {};
            GetObjectA(info.hbmColor, sizeof bm, &bm);
            EXPECT_EQ(size, bm.bmWidth) << "icon " << want.id;
            EXPECT_EQ(size, bm.bmHeight) << "icon " << want.id;
            EXPECT_EQ(32, bm.bmBitsPixel) << "icon " << want.id;
            DeleteObject(info.hbmColor);
            DeleteObject(info.hbmMask);
            AlphaCounts alpha = CountAlpha(icon, size);
            // Shaped pictures: clear surroundings, solid parts, smooth edges.
            EXPECT_GT(alpha.transparent, 0) << "icon " << want.id << " at " << size;
            // 0xC358 is a see-through gloss laid over a colour swatch.
            if (want.id != IDI_FW_RING_THIN) {
                EXPECT_GT(alpha.opaque, 0) << "icon " << want.id << " at " << size;
            }
            EXPECT_GT(alpha.partial, 0) << "icon " << want.id << " at " << size;
            DestroyIcon(icon);
        }
    }
}

TEST(ResourceIcons, ProgressPicturesDifferFromEachOther)
{
    std::set<std::vector<DWORD>> seen;
    for (int id = 10; id <= 21; id++) {
        HICON icon = (HICON)LoadImageA(Self(), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0);
        ASSERT_TRUE(icon != 0);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        std::vector<DWORD> pixels(16 * 16);
        BITMAPINFO bi = {};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB};
        HDC dc = GetDC(0);
        GetDIBits(dc, info.hbmColor, 0, 16, pixels.data(), &bi, DIB_RGB_COLORS);
        ReleaseDC(0, dc);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
        EXPECT_TRUE(seen.insert(pixels).second) << "icon " << id << " repeats an earlier one";
    }
}

TEST(ResourceCursor, EyedropperLoadsWithItsTipAsHotspot)
{
    EXPECT_TRUE(LoadCursorA(Self(), MAKEINTRESOURCEA(IDC_FW_EYEDROPPER)) != 0);
    HCURSOR cursor = (HCURSOR)LoadImageA(Self(), MAKEINTRESOURCEA(0xC3B9), IMAGE_CURSOR, 32, 32, 0);
    ASSERT_TRUE(cursor != 0);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(2u, info.xHotspot);
    EXPECT_EQ(29u, info.yHotspot);
    BITMAP bm = {};
    GetObjectA(info.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(32, bm.bmWidth);
    EXPECT_EQ(32, bm.bmBitsPixel);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(1, CountResources(Self(), (LPCSTR)RT_GROUP_CURSOR));
}

TEST(ResourceDialogs, MessageBoxTemplateCreatesWithAllItsControls)
{
    ASSERT_TRUE(FindResourceA(Self(), MAKEINTRESOURCEA(0xC3B4), (LPCSTR)RT_DIALOG) != 0);
    HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(0xC3B4), 0, QuietDialogProc, 0);
    ASSERT_TRUE(dialog != 0);
    HWND icon = GetDlgItem(dialog, IDC_MSGBOX_ICON);
    ASSERT_TRUE(icon != 0);
    EXPECT_EQ("Static", ClassOf(icon));
    EXPECT_EQ(SS_OWNERDRAW, GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK);
    for (int id : {50108, 50109}) {
        HWND line = GetDlgItem(dialog, id);
        ASSERT_TRUE(line != 0) << id;
        EXPECT_EQ("Static", ClassOf(line));
        EXPECT_TRUE(GetWindowLongA(line, GWL_STYLE) & SS_NOPREFIX);
    }
    const struct { int id; const char *text; } buttons[] = {
        {IDOK, "OK"}, {IDCANCEL, "Cancel"}, {IDYES, "Yes"}, {IDNO, "No"}};
    for (const auto &b : buttons) {
        HWND button = GetDlgItem(dialog, b.id);
        ASSERT_TRUE(button != 0) << b.id;
        EXPECT_EQ("Button", ClassOf(button));
        EXPECT_EQ(b.text, TextOf(button));
    }
    EXPECT_EQ(IDOK, LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0)));
    LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    DestroyWindow(dialog);
}

TEST(ResourceDialogs, ProgressDialogCreatesWithBarStatusAndIcon)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    ASSERT_TRUE(FindResourceA(Self(), MAKEINTRESOURCEA(107), (LPCSTR)RT_DIALOG) != 0);
    HWND dialog = CreateDialogParamA(Self(), MAKEINTRESOURCEA(107), 0, QuietDialogProc, 0);
    ASSERT_TRUE(dialog != 0);
    EXPECT_EQ("Veltaspar", TextOf(dialog));
    HWND bar = GetDlgItem(dialog, 1133);
    ASSERT_TRUE(bar != 0);
    EXPECT_EQ("msctls_progress32", ClassOf(bar));
    // The bar takes the percentages SetProgressStatus sends.
    SendMessageA(bar, PBM_SETPOS, 40, 0);
    EXPECT_EQ(40, (int)SendMessageA(bar, PBM_GETPOS, 0, 0));
    EXPECT_EQ("Extracting", TextOf(GetDlgItem(dialog, 1232)));
    EXPECT_EQ("Extracting and preparing image data.\nThis may take a few minutes.\nPlease wait...",
              TextOf(GetDlgItem(dialog, IDC_PROGRESS_TEXT)));
    HWND icon = GetDlgItem(dialog, IDC_PROGRESS_ICON);
    ASSERT_TRUE(icon != 0);
    EXPECT_EQ(SS_ICON, GetWindowLongA(icon, GWL_STYLE) & SS_TYPEMASK);
    EXPECT_TRUE(SendMessageA(icon, STM_GETICON, 0, 0) != 0);
    // The workers cannot be cancelled: no close box.
    EXPECT_FALSE(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU);
    // The framework's own dialogs live in the program beside it.
    EXPECT_TRUE(FindResourceA(Self(), MAKEINTRESOURCEA(IDD_FW_MESSAGEBOX), RT_DIALOG) != 0);
    EXPECT_TRUE(FindResourceA(Self(), MAKEINTRESOURCEA(IDD_FW_UPDATECHECK), RT_DIALOG) != 0);
    DestroyWindow(dialog);
}

TEST(ResourceVersion, MainProgramNamesProductAndVersion)
{
    char path[MAX_PATH];
    GetModuleFileNameA(0, path, MAX_PATH);
    CheckVersionBlock(path, "Veltaspar", "Veltaspar.exe");
}

TEST(ResourceVersion, ScreenSaverAndSetupNameThemselves)
{
    CheckVersionBlock(ProbePath("saver").c_str(), "Veltaspar Screen Saver", "Veltaspar.scr");
    CheckVersionBlock(ProbePath("setup").c_str(), "Veltaspar Setup", "Uninstall.exe");
}

TEST(ResourceManifest, MainProgramAsksForCommonControls6AndPerMonitorDpi)
{
    EXPECT_EQ(1, CountResources(Self(), (LPCSTR)RT_MANIFEST));
    std::string manifest = ResourceText(Self(), 1, (LPCSTR)RT_MANIFEST);
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find(">True/PM</dpiAware>"));
    EXPECT_NE(std::string::npos, manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"));
    EXPECT_NE(std::string::npos, manifest.find("version=\"4.0.0.0\""));
}

TEST(ResourceManifest, CommonControls6IsActiveInThisProcess)
{
    // The manifest makes the loader bind comctl32 from the side-by-side
    // store (version numbers reported by the DLL itself differ between
    // systems, the assembly's folder does not).
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    ASSERT_TRUE(comctl != 0);
    char where[MAX_PATH] = "";
    GetModuleFileNameA(comctl, where, MAX_PATH);
    std::string path = where;
    for (char &c : path)
        c = (char)tolower((unsigned char)c);
    EXPECT_NE(std::string::npos, path.find("\\winsxs\\")) << where;
    EXPECT_NE(std::string::npos, path.find("microsoft.windows.common-controls_6595b64144ccf1df_6.")) << where;
}

TEST(ResourceManifest, ScreenSaverRunsAsInvokerAndSetupAsAdministrator)
{
    HMODULE saver = LoadProbe("saver");
    ASSERT_TRUE(saver != 0);
    std::string manifest = ResourceText(saver, 1, (LPCSTR)RT_MANIFEST);
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find(">True/PM</dpiAware>"));
    FreeLibrary(saver);

    HMODULE setup = LoadProbe("setup");
    ASSERT_TRUE(setup != 0);
    manifest = ResourceText(setup, 1, (LPCSTR)RT_MANIFEST);
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
    EXPECT_EQ(std::string::npos, manifest.find("asInvoker"));
    FreeLibrary(setup);
}

TEST(ResourceSaver, StringsDialogAndProductIcon)
{
    HMODULE saver = LoadProbe("saver");
    ASSERT_TRUE(saver != 0);
    char text[256] = "";
    EXPECT_EQ(9, LoadStringA(saver, 1, text, sizeof text));
    EXPECT_STREQ("Veltaspar", text);
    LoadStringA(saver, 2, text, sizeof text);
    EXPECT_STREQ("Please use the Veltaspar main program to configure the screen saver options.", text);
    EXPECT_TRUE(FindResourceA(saver, MAKEINTRESOURCEA(2003), (LPCSTR)RT_DIALOG) != 0);
    EXPECT_EQ((std::vector<int>{16, 24, 32, 48, 64, 256}), GroupSizes(saver, 1));
    FreeLibrary(saver);

    // The configuration dialog holds just OK and Cancel.
    saver = LoadLibraryA(ProbePath("saver").c_str());
    ASSERT_TRUE(saver != 0);
    HWND dialog = CreateDialogParamA(saver, MAKEINTRESOURCEA(2003), 0, QuietDialogProc, 0);
    ASSERT_TRUE(dialog != 0);
    EXPECT_EQ("OK", TextOf(GetDlgItem(dialog, IDOK)));
    EXPECT_EQ("Cancel", TextOf(GetDlgItem(dialog, IDCANCEL)));
    int children = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        children++;
    EXPECT_EQ(2, children);
    DestroyWindow(dialog);
    FreeLibrary(saver);
}

TEST(ResourceSetup, WizardIconsForBothModes)
{
    HMODULE setup = LoadProbe("setup");
    ASSERT_TRUE(setup != 0);
    EXPECT_EQ((std::vector<int>{16, 24, 32, 48, 64, 256}), GroupSizes(setup, 1));
    EXPECT_EQ(kToolSizes, GroupSizes(setup, IDI_SETUP));
    EXPECT_EQ(kToolSizes, GroupSizes(setup, IDI_UNINSTALL));
    EXPECT_EQ(3, CountResources(setup, (LPCSTR)RT_GROUP_ICON));
    FreeLibrary(setup);
}

TEST(ResourceSeasonMask, DecodesToA864By216GreyPicture)
{
    HRSRC res = FindResourceA(Self(), MAKEINTRESOURCEA(300), "JPG");
    ASSERT_TRUE(res != 0);
    CImage image;
    ASSERT_TRUE(image.LoadFromResource(res, FORMAT_JPG));
    EXPECT_EQ(864, image.GetWidth());
    EXPECT_EQ(216, image.GetHeight());
    EXPECT_TRUE(image.IsGrayScale());
    // Seasons show towards the poles and not at all at the equator, the same
    // at every longitude.
    for (int x : {0, 431, 863}) {
        EXPECT_GT(image.GetPixelGray(x, 2), 240) << x;
        EXPECT_GT(image.GetPixelGray(x, 213), 240) << x;
        EXPECT_LT(image.GetPixelGray(x, 108), 16) << x;
    }
}
