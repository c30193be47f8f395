// Veltaspar.exe: the tray program.
#include <windows.h>

#include "shell/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    return ProgramMain(instance, commandLine);
}
