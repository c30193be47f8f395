// The wizard's fonts: title, bold and link fonts from the system's message
// and caption fonts, scaled to the frame's DPI and rebuilt when it changes.
#include "setup/wizard.h"

#include <string.h>

#include "setup/engine.h"
#include "setup/wizardpages.h"

enum { BASE_DPI = 96 };

void ReleaseWizardFonts()
{
    HFONT *fonts[] = {&gSetup.titleFont, &gSetup.boldFont, &gSetup.linkFont};
    for (HFONT *font : fonts)
        if (*font) {
            DeleteObject(*font);
            *font = 0;
        }
}

static int SystemDpi()
{
    HDC screen = GetDC(0);
    int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : BASE_DPI;
    if (screen)
        ReleaseDC(0, screen);
    return dpi > 0 ? dpi : BASE_DPI;
}

int WizardWindowDpi(HWND window)
{
    typedef UINT(WINAPI * DpiForWindowFn)(HWND);
    static DpiForWindowFn forWindow =
        (DpiForWindowFn)(void *)GetProcAddress(GetModuleHandleA("user32"), "GetDpiForWindow");
    UINT dpi = forWindow && window ? forWindow(window) : 0;
    return dpi ? (int)dpi : SystemDpi();
}

void BuildWizardFonts()
{
    ReleaseWizardFonts();
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    bool have = SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) &&
                metrics.lfMessageFont.lfFaceName[0];
    int dpi = gSetup.dpi ? gSetup.dpi : BASE_DPI;
    LOGFONTA font = {};
    if (have) {
        // The metrics come at the system resolution.
        int base = SystemDpi();
        font = metrics.lfMessageFont;
        font.lfHeight = MulDiv(font.lfHeight, dpi, base);
        int messageHeight = font.lfHeight;
        font.lfWeight = FW_BOLD;
        gSetup.boldFont = CreateFontIndirectA(&font);
        font.lfWeight = FW_NORMAL;
        font.lfUnderline = TRUE;
        gSetup.linkFont = CreateFontIndirectA(&font);
        font = metrics.lfCaptionFont;
        font.lfHeight = messageHeight * 13 / 10;
        font.lfWeight = FW_BOLD;
        gSetup.titleFont = CreateFontIndirectA(&font);
        return;
    }
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfHeight = -MulDiv(14, dpi, BASE_DPI);
    font.lfWeight = FW_BOLD;
    strcpy(font.lfFaceName, "MS Shell Dlg");
    gSetup.boldFont = CreateFontIndirectA(&font);
    font.lfWeight = FW_NORMAL;
    font.lfUnderline = TRUE;
    gSetup.linkFont = CreateFontIndirectA(&font);
    font.lfUnderline = FALSE;
    font.lfWeight = FW_BOLD;
    font.lfHeight = -MulDiv(16, dpi, BASE_DPI);
    strcpy(font.lfFaceName, "Arial");
    gSetup.titleFont = CreateFontIndirectA(&font);
}
