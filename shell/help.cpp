// The program's help file: its one name and place, and opening a topic in
// it. The help file lies beside the program; the framework's ShowHelp does
// the opening and reports what goes wrong.
#include "shell/help.h"

#include <stdio.h>

#include "framework/application.h"
#include "framework/dialogs.h"

const char kHelpFileName[] = "Veltaspar.chm";

void ProgramHelpPath(char *path, int size)
{
    if (!path || size < 1)
        return;
    snprintf(path, (size_t)size, "%s\\%s", gApp.ownFolder, kHelpFileName);
}

int ShowProgramHelp(const char *topic)
{
    char path[MAX_PATH];
    ProgramHelpPath(path, sizeof path);
    return ShowHelp(path, topic);
}
