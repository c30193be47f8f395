// The upgrade check of the welcome page: whether an installed version asks
// for the upgrade message or must be removed first, and running its
// uninstaller.
#pragma once

#include "setup/engine.h"

struct UpgradeCheck {
    bool askMessage;            // show #UPGMSG1#
    bool removalNeeded;         // the installed version must be removed first
    char uninstallString[SETUP_PATH_SIZE * 2];
};
void CheckForUpgrade(UpgradeCheck *check);
// Runs the old uninstaller's command line and waits, pumping messages.
bool RunOldUninstaller(const char *commandLine);
