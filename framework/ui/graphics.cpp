// The graphics object: fonts per DPI, colour slots, command icons and the
// painters of the framework's windows and items.
#include "framework/ui/graphics.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "framework/application.h"
#include "framework/frames.h"
#include "framework/messages.h"
#include "framework/utilities.h"

CGraphics *gGraphics;

const CornerPixelRule kCornerTopLeft[9] = {
    {5, 0, 0, 0},  {30, 0, 1, 1}, {55, 0, 2, 2}, {30, 0, 3, 3}, {45, 1, 4, 3},
    {20, 1, 5, 2}, {55, 0, 6, 6}, {20, 1, 7, 6}, {0, 1, 8, 8},
};
const CornerPixelRule kCornerTopRight[9] = {
    {55, 0, 0, 0}, {30, 0, 1, 1}, {5, 0, 2, 2},   {20, 1, 3, 0}, {45, 1, 4, 5},
    {30, 0, 5, 5}, {0, 1, 6, 6},  {20, 1, 7, 8}, {55, 0, 8, 8},
};
const CornerPixelRule kCornerBottomLeft[9] = {
    {55, 0, 0, 0}, {20, 1, 1, 0}, {0, 1, 2, 2},  {30, 0, 3, 3}, {45, 1, 4, 3},
    {20, 1, 5, 8}, {5, 0, 6, 6},  {30, 0, 7, 7}, {55, 0, 8, 8},
};
const CornerPixelRule kCornerBottomRight[9] = {
    {0, 1, 0, 0},  {20, 1, 1, 2}, {55, 0, 2, 2}, {20, 1, 3, 6}, {45, 1, 4, 5},
    {30, 0, 5, 5}, {55, 0, 6, 6}, {30, 0, 7, 7}, {5, 0, 8, 8},
};

enum { SCRATCH_SIZE = 16, FORMAT_CAPACITY = 1040 };

void DeflateRect(const RECT *source, RECT *destination, int n)
{
    RECT r = *source;
    destination->left = r.left + n;
    destination->top = r.top + n;
    destination->right = r.right - n;
    destination->bottom = r.bottom - n;
}

CGraphics::CGraphics()
{
    defaultFace[0] = userFace[0] = 0;
    activeCaption = inactiveCaption = highlight = menuText = highlightText = 0;
    activeGradient = inactiveGradient = 0;
    gradientCaptions = automaticScheme = 0;
    baseColour = focusColour = textColour = highlightedTextColour = 0;
    memset(slots, 0, sizeof(slots));
    scratchDC = 0;
    scratchBitmap = scratchOldBitmap = 0;
    scratchPixels = 0;
    paintingWindow = 0;
}

CGraphics::~CGraphics()
{
    for (int i = 0; i < icons.count; i++)
        FreeIcon(&icons.data[i]);
    icons.RemoveAll();
    if (scratchDC) {
        SelectObject(scratchDC, scratchOldBitmap);
        SelectObject(scratchDC, GetStockObject(SYSTEM_FONT));
        DeleteDC(scratchDC);
    }
    if (scratchBitmap)
        DeleteObject(scratchBitmap);
    for (int set = 0; set < FONT_SET_COUNT; set++) {
        for (int i = 0; i < fonts[set].count; i++)
            DeleteObject(fonts[set].data[i].font);
        fonts[set].RemoveAll();
    }
    if (gGraphics == this)
        gGraphics = 0;
}

int CGraphics::Init()
{
    if (!scratchDC) {
        scratchDC = CreateCompatibleDC(0);
        BITMAPINFO info;
        memset(&info, 0, sizeof(info));
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = SCRATCH_SIZE;
        info.bmiHeader.biHeight = -SCRATCH_SIZE;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void *bits = 0;
        scratchBitmap = scratchDC ? CreateDIBSection(scratchDC, &info, DIB_RGB_COLORS, &bits, 0, 0)
                                  : 0;
        if (!scratchBitmap) {
            if (scratchDC)
                DeleteDC(scratchDC);
            scratchDC = 0;
            return 1;
        }
        scratchPixels = (uint32_t *)bits;
        scratchOldBitmap = (HBITMAP)SelectObject(scratchDC, scratchBitmap);
    }
    // The message font tells whether the metrics are usable; the menu font's
    // face is the one the framework draws with.
    // 344 bytes is the structure with its padded-border field, which older
    // headers leave out: the union keeps the system from writing past it.
    union {
        NONCLIENTMETRICSA metrics;
        char bytes[344];
    } buffer;
    memset(&buffer, 0, sizeof(buffer));
    buffer.metrics.cbSize = 344;
    const NONCLIENTMETRICSA &metrics = buffer.metrics;
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 344, &buffer, 0) &&
        metrics.lfMessageFont.lfFaceName[0] && metrics.lfMenuFont.lfFaceName[0])
        CopyText(defaultFace, metrics.lfMenuFont.lfFaceName, sizeof(defaultFace));
    else
        CopyText(defaultFace, "MS Shell Dlg", sizeof(defaultFace));
    CopyText(userFace, defaultFace, sizeof(userFace));
    return 0;
}

// ---- Fonts ----

int CGraphics::FindFont(int set, int dpi) const
{
    if (set < 0 || set >= FONT_SET_COUNT)
        return -1;
    for (int i = 0; i < fonts[set].count; i++)
        if (fonts[set].data[i].dpi == dpi)
            return i;
    return -1;
}

int CGraphics::AddFont(int set, const char *face, int points, int weight, int angle, int dpi,
                       int pitchAndFamily)
{
    if (set < 0 || set >= FONT_SET_COUNT || !face)
        return -1;
    int existing = FindFont(set, dpi);
    if (existing >= 0)
        return existing;
    FontEntry entry;
    memset(&entry, 0, sizeof(entry));
    entry.dpi = dpi;
    entry.size = points;
    entry.weight = weight;
    entry.angle = angle;
    entry.pitchAndFamily = pitchAndFamily;
    CopyText(entry.face, face, sizeof(entry.face));
    entry.font = CreateFontA(FontHeightForDpi(points, dpi), 0, angle, angle, weight, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, (DWORD)pitchAndFamily,
                             entry.face);
    if (!entry.font)
        return -1;
    int width = 0;
    MeasureText("Ag", &width, &entry.textHeight, entry.font);
    MeasureText(" ", &entry.spaceWidth, &width, entry.font);
    int index = fonts[set].Add(entry);
    if (index < 0)
        DeleteObject(entry.font);
    return index;
}

int CGraphics::CreateFonts(const char *face, int points, int dpi)
{
    AddFont(FONT_DEFAULT, defaultFace, 12, FW_NORMAL, 0, dpi, DEFAULT_PITCH);
    AddFont(FONT_DEFAULT_BOLD, defaultFace, 12, FW_BOLD, 0, dpi, DEFAULT_PITCH);
    AddFont(FONT_DEFAULT_VERTICAL, defaultFace, 12, FW_NORMAL, -900, dpi, DEFAULT_PITCH);
    AddFont(FONT_FIXED, "Courier New", 12, FW_NORMAL, 0, dpi, FIXED_PITCH);
    if (!face || !face[0]) {
        face = defaultFace;
        points = 12;
    }
    // The face may be the user-face buffer itself.
    if (face != userFace)
        CopyText(userFace, face, sizeof(userFace));
    AddFont(FONT_USER, userFace, points, FW_NORMAL, 0, dpi, DEFAULT_PITCH);
    AddFont(FONT_USER_BOLD, userFace, points, FW_BOLD, 0, dpi, DEFAULT_PITCH);
    return AddFont(FONT_USER_VERTICAL, userFace, points, FW_NORMAL, -900, dpi, DEFAULT_PITCH);
}

static int DesktopDpi()
{
    return GetMonitorDpi(MonitorFromWindow(GetDesktopWindow(), MONITOR_DEFAULTTOPRIMARY));
}

HFONT CGraphics::GetFont(int set, int dpi)
{
    if (set < 0 || set >= FONT_SET_COUNT)
        return 0;
    int index = FindFont(set, dpi);
    if (index < 0) {
        if (fonts[FONT_DEFAULT].count == 0)
            CreateFonts(defaultFace, 12, DesktopDpi());
        if (fonts[set].count == 0)
            return 0;
        FontEntry first = fonts[set].data[0];
        index = AddFont(set, first.face, first.size, first.weight, first.angle, dpi,
                        first.pitchAndFamily);
        if (index < 0)
            return 0;
    }
    return fonts[set].data[index].font;
}

int CGraphics::GetSpaceWidth(int dpi)
{
    int index = FindFont(FONT_USER, dpi);
    if (index < 0)
        index = 0;
    return fonts[FONT_USER].count ? fonts[FONT_USER].data[index].spaceWidth : 0;
}

int CGraphics::GetTextHeight(int dpi)
{
    int index = FindFont(FONT_USER, dpi);
    if (index < 0)
        index = 0;
    return fonts[FONT_USER].count ? fonts[FONT_USER].data[index].textHeight : 0;
}

int CGraphics::MeasureText(const char *text, int *width, int *height, HFONT font)
{
    if (width)
        *width = 0;
    if (height)
        *height = 0;
    if (!text)
        return QRF_ERR_ARGUMENT;
    HDC dc = scratchDC ? scratchDC : CreateCompatibleDC(0);
    HGDIOBJ old = SelectObject(dc, font ? (HGDIOBJ)font : GetStockObject(SYSTEM_FONT));
    RECT r = {0, 0, 0, 0};
    DrawTextA(dc, text, -1, &r, DT_CALCRECT | DT_NOPREFIX | DT_NOCLIP);
    SelectObject(dc, old);
    if (dc != scratchDC)
        DeleteDC(dc);
    if (width)
        *width = r.right - r.left;
    if (height)
        *height = r.bottom - r.top;
    return 0;
}

int CGraphics::MeasureTextForDpi(const char *text, int *width, int *height, bool bold, int dpi)
{
    if (!text) {
        if (width)
            *width = 0;
        if (height)
            *height = 0;
        return QRF_ERR_ARGUMENT;
    }
    return MeasureText(text, width, height, GetFont(bold ? FONT_USER_BOLD : FONT_USER, dpi));
}

// ---- Colours ----

COLORREF CGraphics::BlendColours(double factor, COLORREF a, COLORREF b)
{
    int channel[3];
    for (int i = 0; i < 3; i++) {
        int from = (int)(a >> (8 * i) & 0xFF), to = (int)(b >> (8 * i) & 0xFF);
        int value = (int)(from + (to - from) * factor);
        channel[i] = value < 0 ? 0 : value > 255 ? 255 : value;
    }
    return RGB(channel[0], channel[1], channel[2]);
}

COLORREF CGraphics::SelectorColour(uint32_t selector) const
{
    switch (selector & 3) {
    case COLOUR_DISABLED:
        return slots[3];
    case COLOUR_TEXT:
        return slots[4];
    case COLOUR_HIGHLIGHTED:
        return slots[5];
    default:
        return selector >> 8;
    }
}

typedef BOOL(WINAPI *IsThemeActiveFunction)();
typedef HANDLE(WINAPI *OpenThemeDataFunction)(HWND, LPCWSTR);
typedef COLORREF(WINAPI *GetThemeSysColorFunction)(HANDLE, int);
typedef HRESULT(WINAPI *CloseThemeDataFunction)(HANDLE);
typedef void (*AnyFunction)();

// Theme colours, when a visual theme is on; false leaves the system colours
// to the caller.
static bool LoadThemeColours(CGraphics *g)
{
    HMODULE theme = LoadLibraryA("UxTheme.dll");
    if (!theme)
        return false;
    IsThemeActiveFunction isActive =
        (IsThemeActiveFunction)(AnyFunction)GetProcAddress(theme, "IsThemeActive");
    OpenThemeDataFunction open =
        (OpenThemeDataFunction)(AnyFunction)GetProcAddress(theme, "OpenThemeData");
    GetThemeSysColorFunction sysColour =
        (GetThemeSysColorFunction)(AnyFunction)GetProcAddress(theme, "GetThemeSysColor");
    CloseThemeDataFunction close =
        (CloseThemeDataFunction)(AnyFunction)GetProcAddress(theme, "CloseThemeData");
    bool loaded = false;
    if (isActive && open && sysColour && isActive()) {
        HANDLE data = open(0, L"WINDOW");
        if (data) {
            g->activeCaption = sysColour(data, COLOR_ACTIVECAPTION);
            g->inactiveCaption = sysColour(data, COLOR_INACTIVECAPTION);
            g->highlight = sysColour(data, COLOR_HIGHLIGHT);
            g->menuText = sysColour(data, COLOR_MENUTEXT);
            g->highlightText = sysColour(data, COLOR_HIGHLIGHTTEXT);
            g->activeGradient = sysColour(data, COLOR_GRADIENTACTIVECAPTION);
            g->inactiveGradient = sysColour(data, COLOR_GRADIENTINACTIVECAPTION);
            g->gradientCaptions = 1;
            g->automaticScheme = 1;
            loaded = true;
            // The handle is ours to close; leaving it open leaks per reload.
            if (close)
                close(data);
        }
    }
    FreeLibrary(theme);
    return loaded;
}

static void LoadSystemColours(CGraphics *g)
{
    BOOL gradient = FALSE;
    SystemParametersInfoA(SPI_GETGRADIENTCAPTIONS, 0, &gradient, 0);
    g->gradientCaptions = gradient ? 1 : 0;
    g->activeCaption = GetSysColor(COLOR_ACTIVECAPTION);
    g->inactiveCaption = GetSysColor(COLOR_INACTIVECAPTION);
    g->highlight = GetSysColor(COLOR_HIGHLIGHT);
    g->menuText = GetSysColor(COLOR_MENUTEXT);
    g->highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    if (gradient) {
        g->activeGradient = GetSysColor(COLOR_GRADIENTACTIVECAPTION);
        g->inactiveGradient = GetSysColor(COLOR_GRADIENTINACTIVECAPTION);
    }
    g->automaticScheme = 0;
}

int CGraphics::LoadColours()
{
    activeCaption = 0;
    gradientCaptions = 0;
    if (!LoadThemeColours(this) || !activeCaption)
        LoadSystemColours(this);
    if (gradientCaptions) {
        activeCaption = BlendColours(0.4, activeCaption, activeGradient);
        inactiveCaption = BlendColours(0.6, inactiveCaption, inactiveGradient);
    }
    QRFAppRecord *record = &gApp.appRecord;
    if (record->colorScheme == 255)
        record->colorScheme = automaticScheme;
    int scheme = record->colorScheme;
    double p = 0;
    if (scheme == 2) {
        baseColour = record->colors[0];
        focusColour = record->colors[2];
        textColour = record->colors[3];
        highlightedTextColour = record->colors[4];
    } else {
        int lightness = (int)(RgbToHsl(activeCaption) >> 8 & 0xFF);
        p = 0.5137254901960784 - lightness / 255.0;
        baseColour = AdjustColorHsl(activeCaption, 0, p + 0.4, -0.25);
        focusColour = highlight;
        textColour = menuText;
        highlightedTextColour = highlightText;
    }
    ComputeSlots(scheme, p);
    return 0;
}

static COLORREF Adjust(COLORREF colour, double lightness, double saturation)
{
    return AdjustColorHsl(colour, 0, lightness, saturation);
}

static const double kCaptionShades[8] = {-0.2, -0.1, 0, -0.1, -0.3, -0.2, -0.1, -0.2};

void CGraphics::ComputeSlots(int scheme, double p)
{
    COLORREF *s = slots;
    memset(slots, 0, sizeof(slots));
    bool system = scheme == 0;
    COLORREF base = baseColour, focus = focusColour;
    s[0] = system ? GetSysColor(COLOR_BTNFACE) : Adjust(base, p + 0.2, -0.3);
    s[1] = system ? GetSysColor(COLOR_3DLIGHT) : Adjust(base, p + 0.33, -0.1);
    s[2] = system ? GetSysColor(COLOR_BTNHIGHLIGHT) : s[1];
    s[3] = system ? GetSysColor(COLOR_BTNSHADOW) : Adjust(base, p - 0.25, -0.8);
    s[4] = textColour;
    s[5] = highlightedTextColour;
    s[6] = GetSysColor(COLOR_WINDOW);
    for (int i = 0; i < 8; i++) {
        s[10 + i] = Adjust(activeCaption, kCaptionShades[i], 0.2);
        s[18 + i] = Adjust(inactiveCaption, kCaptionShades[i], -0.2);
    }
    s[26] = system ? s[3] : Adjust(base, p - 0.6, -0.1);
    s[27] = system ? s[2] : Adjust(base, p + 0.35, -0.1);
    s[28] = system ? s[2] : s[1];
    s[29] = s[3];
    s[30] = s[0];
    s[31] = s[3];
    s[32] = system ? s[2] : s[1];
    s[33] = system ? s[0] : Adjust(base, p + 0.3, 0);
    s[34] = system ? s[0] : Adjust(base, 0, 0);
    s[35] = s[0];
    s[36] = system ? s[0] : s[33];
    s[37] = system ? s[0] : s[34];
    if (system) {
        COLORREF menu = GetSysColor(COLOR_MENU);
        s[38] = menu == s[33] ? GetSysColor(COLOR_BTNHIGHLIGHT) : menu;
    } else {
        s[38] = Adjust(base, p + 0.4, -0.25);
    }
    s[39] = system ? s[2] : s[1];
    s[40] = s[3];
    COLORREF caption = GetSysColor(COLOR_ACTIVECAPTION);
    s[41] = system ? BlendColours(0.75, caption, s[0]) : Adjust(focus, p + 0.3, 0);
    s[42] = system ? s[41] : Adjust(focus, 0, 0);
    s[43] = system ? BlendColours(0.85, caption, s[0]) : Adjust(focus, p + 0.4, 0);
    s[44] = system ? s[43] : Adjust(focus, p + 0.2, 0);
    s[45] = system ? caption : Adjust(base, p - 0.5, -0.5);
    s[46] = focus;
    s[47] = GetSysColor(COLOR_WINDOW);
    s[48] = GetSysColor(COLOR_HIGHLIGHTTEXT);
    s[49] = GetSysColor(COLOR_MENUTEXT);
    s[50] = GetSysColor(COLOR_GRAYTEXT);
    s[51] = system ? GetSysColor(COLOR_BTNFACE) : Adjust(base, p + 0.35, -0.4);
    s[52] = system ? GetSysColor(COLOR_BTNHIGHLIGHT) : Adjust(s[51], p + 0.4, -0.2);
    s[53] = system ? GetSysColor(COLOR_BTNSHADOW) : Adjust(s[51], p - 0.2, -0.6);
    s[54] = Adjust(s[0], -0.2, -0.3);
    s[55] = Adjust(s[0], -0.05, -0.3);
    s[56] = Adjust(s[0], 0.05, -0.3);
    s[57] = GetSysColor(COLOR_BTNFACE);
    s[58] = Adjust(focus, 0.7, -0.2);
}

// ---- Icons ----

void CGraphics::FreeIcon(IconEntry *entry)
{
    if (entry->normal)
        DestroyIcon(entry->normal);
    if (entry->recoloured)
        DestroyIcon(entry->recoloured);
    entry->normal = entry->recoloured = 0;
}

int CGraphics::FindIcon(uint16_t commandId) const
{
    int low = 0, high = icons.count - 1;
    while (low <= high) {
        int middle = (low + high) / 2;
        uint16_t id = icons.data[middle].commandId;
        if (id == commandId)
            return middle;
        if (id < commandId)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -1;
}

int CGraphics::AddIcon(uint16_t commandId, UINT_PTR resource, int kind, int size)
{
    IconEntry entry;
    memset(&entry, 0, sizeof(entry));
    entry.commandId = commandId;
    entry.resource = resource;
    entry.kind = kind;
    entry.width = entry.height = (uint16_t)size;
    int result = LoadIcon(&entry);
    if (result == QRF_ERR_ICON)
        return QRF_ERR_ICON;
    int low = 0, high = icons.count;
    while (low < high) {
        int middle = (low + high) / 2;
        if (icons.data[middle].commandId < commandId)
            low = middle + 1;
        else
            high = middle;
    }
    int position = icons.InsertAt(&entry, low, 1);
    if (position < 0) {
        FreeIcon(&entry);
        return QRF_ERR_ICON;
    }
    return position;
}

int CGraphics::ReloadIcons()
{
    for (int i = 0; i < icons.count; i++)
        LoadIcon(&icons.data[i]);
    return 0;
}

// Loaded unshared, so that both icons of an entry are ours to destroy.
int CGraphics::LoadIcon(IconEntry *entry)
{
    if (entry->kind & ICON_SIZE_ONLY) {
        const int *pair = (const int *)entry->resource;
        if (pair) {
            entry->width = (uint16_t)pair[0];
            entry->height = (uint16_t)pair[1];
        }
        return 0;
    }
    FreeIcon(entry);
    HINSTANCE module = gApp.instance ? gApp.instance : GetModuleHandleA(0);
    entry->normal = (HICON)LoadImageA(module, MAKEINTRESOURCEA(entry->resource), IMAGE_ICON,
                                      entry->width, entry->width, 0);
    if (!entry->normal)
        return QRF_ERR_ICON;
    return MakeRecolouredIcon(entry);
}

struct IconPixels {
    BITMAPINFO info;
    uint32_t *colour;
    uint32_t *mask;
};

static bool ReadIconBits(HBITMAP bitmap, BITMAPINFO *info, uint32_t *pixels, int height)
{
    HDC dc = GetDC(0);
    int rows = GetDIBits(dc, bitmap, 0, (UINT)height, pixels, info, DIB_RGB_COLORS);
    ReleaseDC(0, dc);
    return rows == height;
}

static uint8_t Channel(COLORREF colour, int shift) { return (uint8_t)(colour >> shift); }

// A pixel shows when its mask bit is clear, or, in an icon with an alpha
// channel, when it is not fully transparent: the soft edges of alpha icons
// sit under a set mask bit and would otherwise keep their colour.
static bool Shows(uint32_t colour, uint32_t mask, bool alpha)
{
    return (mask & 0xFF) != 0xFF || (alpha && (colour >> 24) != 0);
}

// Greyed copy: the icon's brightness spread between slots 1 and 3, centred
// on its average blue. False when no pixel shows.
static bool Recolour(uint32_t *colour, const uint32_t *mask, int count, COLORREF light,
                     COLORREF dark)
{
    bool alpha = false;
    for (int i = 0; i < count && !alpha; i++)
        alpha = (colour[i] >> 24) != 0;
    int shown = 0;
    long long blueSum = 0;
    for (int i = 0; i < count; i++)
        if (Shows(colour[i], mask[i], alpha)) {
            shown++;
            blueSum += colour[i] & 0xFF;
        }
    if (!shown)
        return false;
    int m = 128 - (int)(blueSum / shown);
    for (int i = 0; i < count; i++) {
        uint32_t p = colour[i];
        if (!Shows(p, mask[i], alpha))
            continue;
        double x = ((p & 0xFF) + (p >> 8 & 0xFF) + (p >> 16 & 0xFF) + m) / 765.0;
        x = x < 0 ? 0 : x > 1 ? 1 : x;
        uint32_t red = (uint32_t)(Channel(light, 0) * x + Channel(dark, 0) * (1 - x));
        uint32_t green = (uint32_t)(Channel(light, 8) * x + Channel(dark, 8) * (1 - x));
        uint32_t blue = (uint32_t)(Channel(light, 16) * x + Channel(dark, 16) * (1 - x));
        colour[i] = (p & 0xFF000000u) | red << 16 | green << 8 | blue;
    }
    return true;
}

int CGraphics::MakeRecolouredIcon(IconEntry *entry)
{
    ICONINFO info;
    if (!GetIconInfo(entry->normal, &info))
        return QRF_ERR_ICON;
    int result = 0;
    BITMAP bm;
    if (!info.hbmColor || !GetObject(info.hbmColor, sizeof(bm), &bm)) {
        // A monochrome icon has nothing to grey: the copy is the icon itself.
        entry->recoloured = CopyIcon(entry->normal);
    } else {
        entry->width = (uint16_t)bm.bmWidth;
        entry->height = (uint16_t)bm.bmHeight;
        int count = bm.bmWidth * bm.bmHeight;
        BITMAPINFO header;
        memset(&header, 0, sizeof(header));
        header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        header.bmiHeader.biWidth = bm.bmWidth;
        header.bmiHeader.biHeight = -bm.bmHeight;
        header.bmiHeader.biPlanes = 1;
        header.bmiHeader.biBitCount = 32;
        header.bmiHeader.biCompression = BI_RGB;
        uint32_t *colour = (uint32_t *)malloc((size_t)count * 4);
        uint32_t *mask = (uint32_t *)malloc((size_t)count * 4);
        if (!colour || !mask) {
            result = QRF_ERR_MEMORY;
        } else if (ReadIconBits(info.hbmColor, &header, colour, bm.bmHeight) &&
                   ReadIconBits(info.hbmMask, &header, mask, bm.bmHeight)) {
            if (Recolour(colour, mask, count, slots[1], slots[3])) {
                HDC dc = GetDC(0);
                SetDIBits(dc, info.hbmColor, 0, (UINT)bm.bmHeight, colour, &header,
                          DIB_RGB_COLORS);
                ReleaseDC(0, dc);
                ICONINFO made = {TRUE, 0, 0, info.hbmMask, info.hbmColor};
                entry->recoloured = CreateIconIndirect(&made);
            } else {
                entry->recoloured = CopyIcon(entry->normal);
            }
        }
        free(colour);
        free(mask);
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    return result;
}

int CGraphics::DrawCommandIcon(HDC dc, uint16_t commandId, int flags, const RECT *rect)
{
    int index = FindIcon(commandId);
    if (index < 0)
        return QRF_ERR_NOICON;
    IconEntry *entry = &icons.data[index];
    if (entry->kind & ICON_SIZE_ONLY) {
        HWND frame = FrameWindowAt(0);
        if (!frame)
            return 0;
        ColorIconRequest request;
        request.commandId = commandId;
        request.rect = *rect;
        return (int)SendMessageA(frame, QRFM_DRAWCOLORICON, (WPARAM)dc, (LPARAM)&request);
    }
    // Without a greyed copy (memory ran out) the normal icon stands in.
    HICON icon = (flags & ICON_ENABLED) || !entry->recoloured ? entry->normal : entry->recoloured;
    int oldMode = SetStretchBltMode(dc, HALFTONE);
    DrawIconEx(dc, rect->left, rect->top, icon, rect->right - rect->left,
               rect->bottom - rect->top, 0, 0, DI_NORMAL);
    SetStretchBltMode(dc, oldMode);
    return 0;
}

// ---- Text ----

int CGraphics::DrawFormattedText(HDC dc, int dpi, const char *format, uint32_t selector,
                                 const RECT *rect, int alignment, bool bold, ...)
{
    if (!format)
        return QRF_ERR_ARGUMENT;
    char text[FORMAT_CAPACITY];
    va_list arguments;
    va_start(arguments, bold);
    vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    text[sizeof(text) - 1] = 0;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    COLORREF oldColour = SetTextColor(dc, SelectorColour(selector));
    RECT r = *rect;
    HGDIOBJ oldFont;
    if (alignment & ALIGN_VERTICAL) {
        int width = 0, height = 0;
        MeasureText(text, &width, &height, GetFont(FONT_USER, dpi));
        oldFont = SelectObject(dc, GetFont(FONT_USER_VERTICAL, dpi));
        int x = (r.left + r.right + height) / 2;
        int place = alignment & 0xFF;
        int y = place == 1 ? (r.top + r.bottom - width) / 2 : place == 2 ? r.bottom - width : r.top;
        ExtTextOutA(dc, x, y, ETO_CLIPPED, &r, text, (UINT)strlen(text), 0);
    } else {
        oldFont = SelectObject(dc, GetFont(bold ? FONT_USER_BOLD : FONT_USER, dpi));
        int place = alignment & 0xFF;
        UINT flags = place == 1 ? DT_CENTER : place == 2 ? DT_RIGHT : DT_LEFT;
        DrawTextA(dc, text, -1, &r,
                  flags | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    SelectObject(dc, oldFont);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
    return 0;
}

// ---- Primitives ----

void CGraphics::FillRect(HDC dc, const RECT *rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    HGDIOBJ old = SelectObject(dc, brush);
    PatBlt(dc, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
           PATCOPY);
    SelectObject(dc, old);
    DeleteObject(brush);
}

void CGraphics::FrameRect(HDC dc, const RECT *rect, COLORREF colour)
{
    HBRUSH brush = CreateSolidBrush(colour);
    ::FrameRect(dc, rect, brush);
    DeleteObject(brush);
}

void CGraphics::DrawRectangle(HDC dc, const RECT *rect, COLORREF pen, COLORREF brush)
{
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
    COLORREF oldPenColour = SetDCPenColor(dc, pen);
    HGDIOBJ oldBrush;
    COLORREF oldBrushColour = 0;
    if (brush == (COLORREF)-1) {
        oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    } else {
        oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
        oldBrushColour = SetDCBrushColor(dc, brush);
    }
    Rectangle(dc, rect->left, rect->top, rect->right, rect->bottom);
    if (brush != (COLORREF)-1)
        SetDCBrushColor(dc, oldBrushColour);
    SelectObject(dc, oldBrush);
    SetDCPenColor(dc, oldPenColour);
    SelectObject(dc, oldPen);
}

void CGraphics::Draw3DFrame(HDC dc, const RECT *rect, bool raised, COLORREF a, COLORREF b)
{
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
    COLORREF oldColour = SetDCPenColor(dc, raised ? a : b);
    MoveToEx(dc, rect->left, rect->bottom - 1, 0);
    LineTo(dc, rect->left, rect->top);
    LineTo(dc, rect->right, rect->top);
    SetDCPenColor(dc, raised ? b : a);
    MoveToEx(dc, rect->right - 1, rect->top + 1, 0);
    LineTo(dc, rect->right - 1, rect->bottom - 1);
    LineTo(dc, rect->left, rect->bottom - 1);
    SetDCPenColor(dc, oldColour);
    SelectObject(dc, oldPen);
}

void CGraphics::GradientRect(HDC dc, COLORREF first, COLORREF second, const RECT *rect, int mode)
{
    TRIVERTEX vertices[2];
    vertices[0].x = rect->left;
    vertices[0].y = rect->top;
    vertices[0].Red = (COLOR16)(GetRValue(first) << 8);
    vertices[0].Green = (COLOR16)(GetGValue(first) << 8);
    vertices[0].Blue = (COLOR16)(GetBValue(first) << 8);
    vertices[0].Alpha = 0;
    vertices[1].x = rect->right;
    vertices[1].y = rect->bottom;
    vertices[1].Red = (COLOR16)(GetRValue(second) << 8);
    vertices[1].Green = (COLOR16)(GetGValue(second) << 8);
    vertices[1].Blue = (COLOR16)(GetBValue(second) << 8);
    vertices[1].Alpha = 0;
    GRADIENT_RECT joined = {0, 1};
    GradientFill(dc, vertices, 2, &joined, 1, mode ? GRADIENT_FILL_RECT_V : GRADIENT_FILL_RECT_H);
}

static void DrawLine(HDC dc, COLORREF colour, int x1, int y1, int x2, int y2)
{
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
    COLORREF oldColour = SetDCPenColor(dc, colour);
    MoveToEx(dc, x1, y1, 0);
    LineTo(dc, x2, y2);
    SetDCPenColor(dc, oldColour);
    SelectObject(dc, oldPen);
}

void CGraphics::DrawEtchedLine(HDC dc, const RECT *rect)
{
    const RECT &r = *rect;
    if (r.bottom - r.top < r.right - r.left) {
        DrawLine(dc, slots[31], r.left, r.top, r.right - 1, r.top);
        DrawLine(dc, slots[32], r.left + 1, r.top + 1, r.right, r.top + 1);
    } else {
        DrawLine(dc, slots[31], r.left, r.top, r.left, r.bottom - 1);
        DrawLine(dc, slots[32], r.left + 1, r.top + 1, r.left + 1, r.bottom);
    }
}

void CGraphics::DrawSizeGrip(HDC dc, const RECT *rect)
{
    static const int kDots[6][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 2}, {1, 1}, {2, 0}};
    int d = (rect->bottom - rect->top) / 8;
    if (d < 1)
        return;
    for (int i = 0; i < 6; i++) {
        int x = rect->right - 2 * d * kDots[i][1] - d - 1;
        int y = rect->bottom - 2 * d * kDots[i][0] - d - 1;
        RECT light = {x, y, x + d, y + d};
        RECT dark = {x - 1, y - 1, x - 1 + d, y - 1 + d};
        FillRect(dc, &light, slots[27]);
        FillRect(dc, &dark, slots[26]);
    }
}

void CGraphics::DrawSplitter(HDC dc, RECT *rect, RECT *out, bool vertical)
{
    RECT strip = *rect;
    if (vertical)
        strip.right = strip.left + 4;
    else
        strip.bottom = strip.top + 4;
    Draw3DFrame(dc, &strip, true, slots[2], slots[3]);
    RECT inside;
    DeflateRect(&strip, &inside, 1);
    FillRect(dc, &inside, slots[30]);
    *(out ? out : rect) = strip;
}

void CGraphics::DrawPolygon(HDC dc, COLORREF colour, const POINT *points, int count)
{
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
    COLORREF oldPenColour = SetDCPenColor(dc, colour);
    COLORREF oldBrushColour = SetDCBrushColor(dc, colour);
    Polygon(dc, points, count);
    SetDCBrushColor(dc, oldBrushColour);
    SetDCPenColor(dc, oldPenColour);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
}

void CGraphics::DrawArrow(HDC dc, uint32_t selector, int direction, const RECT *rect)
{
    int w = rect->right - rect->left, h = rect->bottom - rect->top;
    int cx = (rect->left + rect->right) / 2, cy = (rect->top + rect->bottom) / 2;
    int e = (h < 3 ? h : 3) * w / 22;
    POINT points[3];
    if (direction == ARROW_RIGHT) {
        points[0] = {cx - e - 1, cy - e};
        points[1] = {cx + e, cy};
        points[2] = {cx - e - 1, cy + e};
    } else if (direction == ARROW_DOWN) {
        points[0] = {cx - e - 1, cy - e - 1};
        points[1] = {cx - 1, cy + e};
        points[2] = {cx - 1 + e, cy - e - 1};
    } else if (direction == ARROW_UP) {
        points[0] = {cx - e - 1, cy + e};
        points[1] = {cx - 1, cy - e - 1};
        points[2] = {cx - 1 + e, cy + e};
    } else {
        return;
    }
    DrawPolygon(dc, SelectorColour(selector), points, 3);
}

// The unit is fractional so that marks narrower than 22 pixels still show.
void CGraphics::DrawCheckMark(HDC dc, uint32_t selector, const RECT *rect)
{
    double x = (rect->right - rect->left) / 22.0;
    int f = (int)(x * 1.4), g = (int)(x * 4);
    int cx = (rect->left + rect->right) / 2, cy = (rect->top + rect->bottom) / 2;
    POINT points[6] = {{cx - g, cy - f}, {cx - f, cy + f}, {cx + g, cy - g},
                       {cx + g, cy - f}, {cx - f, cy + g}, {cx - g, cy + f}};
    DrawPolygon(dc, SelectorColour(selector), points, 6);
}

// ---- Backgrounds ----

HWND CGraphics::WindowOfDC(HDC dc) const
{
    HWND window = WindowFromDC(dc);
    return window ? window : paintingWindow;
}

// The parent paints its background with its point (origin + dx, origin + dy)
// at the DC's (0, 0), clipped to the rectangle.
void CGraphics::SendParentBackground(HWND window, HWND parent, HDC dc, const RECT *clip, int dx,
                                     int dy)
{
    if (!parent && window)
        parent = GetParent(window);
    if (!parent)
        return;
    POINT origin = {0, 0};
    if (window)
        MapWindowPoints(window, parent, &origin, 1);
    int x = origin.x + dx, y = origin.y + dy;
    int saved = SaveDC(dc);
    IntersectClipRect(dc, clip->left, clip->top, clip->right, clip->bottom);
    SendMessageA(parent, QRFM_PAINTITEMBACKGROUND, (WPARAM)dc,
                 (LPARAM)MAKELONG((WORD)x, (WORD)y));
    RestoreDC(dc, saved);
}

void CGraphics::PaintParentBackground(HWND parent, HDC dc, const RECT *rect)
{
    SendParentBackground(WindowOfDC(dc), parent, dc, rect, 0, 0);
}

static uint32_t MixPixel(uint32_t from, uint32_t to, int percent)
{
    uint32_t result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int f = (int)(from >> shift & 0xFF), t = (int)(to >> shift & 0xFF);
        result |= (uint32_t)(f + (t - f) * percent / 100) << shift;
    }
    return result;
}

void CGraphics::DrawCorner(HWND parent, HDC dc, const RECT *corner, const CornerPixelRule *table)
{
    if (!scratchDC || !table)
        return;
    // Rows 0-2: the item's pixels; 3-5: the parent's background (the item's
    // own pixels when nobody paints it); 6-8: the result.
    BitBlt(scratchDC, 0, 0, 3, 3, dc, corner->left, corner->top, SRCCOPY);
    BitBlt(scratchDC, 0, 3, 3, 3, dc, corner->left, corner->top, SRCCOPY);
    RECT background = {0, 3, 3, 6};
    SendParentBackground(WindowOfDC(dc), parent, scratchDC, &background, corner->left,
                         corner->top - 3);
    GdiFlush();
    const uint32_t *item = scratchPixels, *behind = scratchPixels + 3 * SCRATCH_SIZE;
    for (int i = 0; i < 9; i++) {
        const CornerPixelRule &rule = table[i];
        int f = rule.from % 3 + rule.from / 3 * SCRATCH_SIZE;
        int t = rule.to % 3 + rule.to / 3 * SCRATCH_SIZE;
        uint32_t from = rule.source ? item[f] : behind[f];
        scratchPixels[(6 + i / 3) * SCRATCH_SIZE + i % 3] = MixPixel(from, item[t], rule.percent);
    }
    BitBlt(dc, corner->left, corner->top, 3, 3, scratchDC, 0, 6, SRCCOPY);
}

static void RoundCorners(CGraphics *g, HDC dc, const RECT *r, int corners)
{
    static const CornerPixelRule *kTables[4] = {kCornerTopLeft, kCornerTopRight,
                                                kCornerBottomLeft, kCornerBottomRight};
    for (int i = 0; i < 4; i++) {
        if (!(corners & 1 << i))
            continue;
        int x = i & 1 ? r->right - 3 : r->left, y = i & 2 ? r->bottom - 3 : r->top;
        RECT corner = {x, y, x + 3, y + 3};
        g->DrawCorner(0, dc, &corner, kTables[i]);
    }
}

void CGraphics::DrawItemBackground(HDC dc, const RECT *rect, int type, int corners,
                                   int checkWidth, int slot, int firstGradientSlot,
                                   int secondGradientSlot)
{
    bool given = slot >= 0 && slot < COLOUR_SLOT_COUNT;
    COLORREF frame = slots[given ? slot : 45];
    COLORREF fill = slots[given ? slot : 51];
    RECT inside, part = *rect;
    DeflateRect(rect, &inside, 1);
    if ((type == BACKGROUND_CHECKED || type == BACKGROUND_CHECKED_DISABLED) && checkWidth > 0) {
        PaintParentBackground(0, dc, rect);
        part.right = part.left + checkWidth;
        DeflateRect(&part, &inside, 1);
    } else if (type == BACKGROUND_CHECKED) {
        type = BACKGROUND_PRESSED;
    }
    int first = firstGradientSlot >= 0 && firstGradientSlot < COLOUR_SLOT_COUNT ? firstGradientSlot : 43;
    int second = secondGradientSlot >= 0 && secondGradientSlot < COLOUR_SLOT_COUNT ? secondGradientSlot : 44;
    switch (type) {
    case BACKGROUND_PARENT:
        PaintParentBackground(0, dc, rect);
        break;
    case BACKGROUND_HOT:
        FrameRect(dc, rect, frame);
        GradientRect(dc, slots[41], slots[42], &inside, 1);
        break;
    case BACKGROUND_PRESSED:
    case BACKGROUND_CHECKED:
        FrameRect(dc, &part, frame);
        GradientRect(dc, slots[43], slots[44], &inside, 1);
        break;
    case BACKGROUND_SUNKEN:
        Draw3DFrame(dc, rect, true, slots[53], slots[given ? 51 : 52]);
        FillRect(dc, &inside, fill);
        break;
    case BACKGROUND_RAISED:
        Draw3DFrame(dc, rect, true, slots[given ? 51 : 52], slots[53]);
        FillRect(dc, &inside, fill);
        break;
    case BACKGROUND_FILLED:
        FillRect(dc, rect, fill);
        break;
    case BACKGROUND_CHECKED_DISABLED:
        FillRect(dc, &inside, fill);
        Draw3DFrame(dc, &part, true, slots[3], slots[2]);
        break;
    case BACKGROUND_GRADIENT:
        FrameRect(dc, rect, frame);
        GradientRect(dc, slots[first], slots[second], &inside, 1);
        break;
    }
    RoundCorners(this, dc, rect, corners);
}

// ---- Memory DC ----

int CMemoryDC::Begin(HDC *dc, int w, int h)
{
    End();
    if (!dc || !*dc || w <= 0 || h <= 0)
        return QRF_ERR_ARGUMENT;
    HDC memory = CreateCompatibleDC(*dc);
    HBITMAP made = memory ? CreateCompatibleBitmap(*dc, w, h) : 0;
    if (!made) {
        // Paint straight into the window DC rather than not at all.
        if (memory)
            DeleteDC(memory);
        return QRF_ERR_MEMORY;
    }
    if (gGraphics)
        gGraphics->paintingWindow = WindowFromDC(*dc);
    width = w;
    height = h;
    memoryDC = memory;
    bitmap = made;
    oldBitmap = (HBITMAP)SelectObject(memory, made);
    targetDC = *dc;
    *dc = memory;
    return 0;
}

void CMemoryDC::End()
{
    if (!memoryDC)
        return;
    BitBlt(targetDC, 0, 0, width, height, memoryDC, 0, 0, SRCCOPY);
    if (gGraphics)
        gGraphics->paintingWindow = 0;
    SelectObject(memoryDC, oldBitmap);
    DeleteDC(memoryDC);
    DeleteObject(bitmap);
    memoryDC = 0;
    bitmap = oldBitmap = 0;
    targetDC = 0;
}
