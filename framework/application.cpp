// The global application object and its construction.
#include "framework/application.h"

#include <ole2.h>
#include <string.h>

CApplication gApp;

void CopyText(char *dst, const char *src, int size)
{
    if (!dst || size < 1)
        return;
    if (!src)
        src = "";
    int n = (int)strnlen(src, (size_t)size - 1);
    memcpy(dst, src, (size_t)n);
    dst[n] = 0;
}

CApplication::CApplication()
    : instance(0), processId(0), productStringId(0), versionMajor(0), versionMinor(0),
      versionBuild(0), tooltipWindow(0), hiddenWindow(0), hoveredItem(0), iconId(1),
      osCode(0), wow64(0), taskbarMessage(0), controlMessage(0), signalled(0), inLoop(0),
      token(0), autoStart(0), minimize(0), taskScheduler(0), restartMode(0),
      broadcastRestart(0), doubleClickTime(0), placementInvalid(0), accelerators(1),
      appIcon(0), openMenu(0), menuOpen(0), openMenuItem(0), activeFrame(0), hourlyTicks(0),
      pendingOwner(0), pendingCommand(0), started(0), hiddenWindowDpi(0)
{
    productName[0] = commandLine[0] = ownFolder[0] = ownPath[0] = 0;
    dataFolder[0] = secondFolder[0] = restartParameters[0] = 0;
    archiveIdentity[0] = archiveMasks[0] = 0;
    memset(installRecord, 0, sizeof installRecord);
    memset(&appRecord, 0, sizeof appRecord);
    appRecord.colorScheme = 255;
    appRecord.colors[0] = 0x00EE6E18;
    appRecord.colors[2] = 0x0055ADFF;
    OleInitialize(0);
}

HWND CApplication::GetOwnForegroundWindow() const
{
    HWND window = GetForegroundWindow();
    DWORD process = 0;
    if (window)
        GetWindowThreadProcessId(window, &process);
    return (window && process == GetCurrentProcessId()) ? window : 0;
}

int IsElevated()
{
    if (gApp.osCode != 0 && gApp.osCode < 6)
        return 1;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return -1;
    TOKEN_ELEVATION elevation;
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    if (!ok)
        return -1;
    return elevation.TokenIsElevated ? 1 : 0;
}
