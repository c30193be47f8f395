// The engine's messages by number and the box that shows them: every text
// and its caption pass through the script's variables, so one table serves
// setup and uninstall alike.
#include "setup/messages.h"

#include "framework/application.h"
#include "setup/script.h"

static const struct { int number; const char *text; } kMessages[] = {
    {1000, "#SETUPMODE# is not complete. If you quit #SETUPMODE# now, it will not be completed.\n"
           "Are you sure you want to exit?"},
    {1001, "A critical error has occured. #SETUPMODE# can not continue.\n"
           "Maybe the #SETUPMODE# file is corrupt!"},
    {1002, "An error (code #LASTERROR#) has occurred while accessing the Task Scheduler!\n"
           "The auto start option of the program will not work, but you can still create a link "
           "in the Startup folder of Windows manually."},
    {1003, "#PROGRAM# requires at least #MINFREE# MB of disk space.\n"
           "There is not enough free space on the specified drive.\n"
           "Please choose a different location."},
    {1004, "The configuration folder seems to be inaccessible!\n"
           "E.g. Windows restricts access to drive C: and other critical locations.\n"
           "If you select this folder, the program might not be able to remember its "
           "configuration, etc.!\nAre you sure you want to choose this folder?"},
    {1005, "The specified installation folder could not be created!"},
    {1007, "A previous version of #REMAPP# is already installed on your computer. It is necessary "
           "to uninstall it before installing the new version!\nPlease do not keep or use any "
           "settings or data of the old version, because this could cause the new version to "
           "malfunction!\nDo you want to uninstall #REMAPP# before installing the new version?"},
    {1008, "Some initialization files could not be copied.\r\n"
           "Check the Init direcory in the installation folder."},
    {1009, "You must have Administrator Privileges to run this program!\n"
           "Click OK to quit #SETUPMODE#."},
    {1011, "Please restart your computer to complete #SETUPMODE#."},
    {1013, "#PROGRAM# is currently running on your computer and it could not be\n"
           "closed automatically. Please quit #PROGRAM# manually and restart #SETUPMODE#."},
    {1015, "A file could not be copied! If #PROGRAM# is currently running,\n"
           "please close the program and all related files and then restart #SETUPMODE#.\n\n"
           "If you have an antivirus software, firewall, etc. that could block #SETUPMODE#,\n"
           "please disable it and try again."},
    {1018, "A shortcut could not be created! #SETUPMODE# can not continue!"},
    {1022, "A value could not be written to the Registry. Please check if you\n"
           "have write access to the Registry and restart #SETUPMODE#."},
    {1023, "A file could not be extracted!\nMaybe the #SETUPMODE# file is corrupt!"},
    {1026, "Setup"},
    {1027, "Uninstall"},
    {1030, "#SETUPMODE# finished successfully!"},
    {1032, "#SETUPMODE# failed!"},
    {1033, "The specified configuration data folder could not be created!"},
    {1035, "The specified directory could not be created!"},
    {1037, "Please do not keep the settings and data if you are upgrading to a new version which "
           "asked you to uninstall the old one first!\nUsing old settings and data with a new "
           "version could cause the program to malfunction!"},
    {1039, "You must use an absolute path (including a drive letter or network drive)!"},
    {1043, "This version of #PROGRAM# does not support 64 bit platforms.\n"
           "Please check our website for updates or other versions."},
    {1045, "A critical error (code #LASTERROR#) has occurred! #SETUPMODE# can not continue!\n"
           "Please restart the computer and try again."},
    {1052, "This version of #PROGRAM# does not work on your Operating System!\n"
           "Please check our website for other versions."},
    // The log of a wizard cancelled while phase 1 ran.
    {SETUP_MSG_CANCELLED_PARTWAY, "#SETUPMODE# was cancelled by the user partway: what was done "
                                  "until then stays in place, the rest was not done."},
};

const char *SetupMessageText(int number)
{
    for (const auto &m : kMessages)
        if (m.number == number)
            return m.text;
    return "";
}

void FormatSetupMessage(int number, char *out)
{
    CopyText(out, SetupMessageText(number), SCRIPT_VALUE_SIZE);
    SubstituteVariables(out);
}

int SetupMessageBox(HWND owner, int number, UINT flags)
{
    char text[SCRIPT_VALUE_SIZE], caption[SCRIPT_VALUE_SIZE];
    FormatSetupMessage(number, text);
    CopyText(caption, "#SETUPMODE#", (int)sizeof caption);
    SubstituteVariables(caption);
    if (owner)
        SetForegroundWindow(owner);
    return MessageBoxA(owner, text, caption, flags | (owner ? 0 : MB_SETFOREGROUND));
}

int ShowScriptError(HWND owner, int error)
{
    UINT flags;
    int number = ScriptErrorMessage(error, &flags);
    return SetupMessageBox(owner, number, flags);
}
