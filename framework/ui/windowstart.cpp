// The window layer's steps of start-up, which CApplication::Startup runs in
// its order: the application's graphics object, the command images, the
// frames', menus' and bars' hooks and the UI-item window class.
#include "framework/ui/windowstart.h"

#include "framework/application.h"
#include "framework/commands.h"
#include "framework/utilities.h"
#include "framework/ui/dockbay.h"
#include "framework/ui/frameedges.h"
#include "framework/ui/graphics.h"
#include "framework/ui/menu.h"
#include "framework/ui/uiitem.h"

// The application's graphics object; the rest of the program reaches it
// through gGraphics.
static CGraphics gAppGraphics;

int StartAppGraphics()
{
    gGraphics = &gAppGraphics;
    return gAppGraphics.Init();
}

int InitColoursAndFonts(CApplication *app)
{
    int result = gAppGraphics.LoadColours();
    if (result != 0)
        return result;
    gAppGraphics.CreateFonts(app->appRecord.fontFace, app->appRecord.fontSize, GetScreenDpi());
    return 0;
}

// The command images of the table (resource 0: a colour swatch, which the
// owner paints, so only its size is kept). -1 when the icon cannot be loaded.
static int AddCommandImage(uint16_t id, int resource)
{
    static const int kSwatchSize[2] = {16, 16};
    int result = resource == 0
                     ? gAppGraphics.AddIcon(id, (UINT_PTR)kSwatchSize, ICON_SIZE_ONLY, 16)
                     : gAppGraphics.AddIcon(id, (UINT_PTR)resource, 0, 16);
    return result == QRF_ERR_ICON ? -1 : result;
}

// The windows, items and menus fill the command table's hooks; both chain
// the message pre-translation, menus last so that their keys come first.
static void InstallWindowHooks()
{
    gWindowHooks.addCommandImage = AddCommandImage;
    InstallFrameHooks();
    InstallMenuHooks();
    InstallDockBayHooks();   // after the menus: it wraps their item description
    gGraphics = &gAppGraphics;
}

bool StartWindowLayer()
{
    InstallWindowHooks();
    return RegisterUIItemClass();
}
