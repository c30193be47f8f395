// Uninstall.exe (and, with a "Setup.qis" resource, the setup program): the
// engine's entry.
#include <windows.h>

#include "setup/engine.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    DeclareDpiAwareness();
    return SetupMain(commandLine);
}
