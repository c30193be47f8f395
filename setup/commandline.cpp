// The engine's command line. Its switches fill gSetup and two script
// variables; the split into arguments follows the C runtime's rules so that
// a folder with blanks arrives whole however a launcher quoted it.
#include "setup/commandline.h"

#include <string.h>

#include "framework/application.h"
#include "setup/engine.h"
#include "setup/script.h"

// The next argument of a command line, split the way the C runtime splits
// argv on Windows: blanks separate arguments outside quotes; 2n backslashes
// before a quote give n backslashes and the quote opens or closes quoting;
// 2n+1 give n backslashes and a literal quote; "" inside quotes is a literal
// quote; other backslashes are kept. So "-INSTALL=C:\a b" (the form cmd and
// launchers write) and -INSTALL="C:\a b" both give -INSTALL=C:\a b. Null at
// the end of the line.
const char *NextCommandLineArgument(const char *p, char *out, size_t size)
{
    size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 < size)
            out[n++] = c;
    };
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        p++;
    if (!*p)
        return 0;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n'))) {
        if (*p == '\\') {
            size_t slashes = 0;
            while (*p == '\\') {
                slashes++;
                p++;
            }
            if (*p != '"') {
                while (slashes--)
                    put('\\');
                continue;
            }
            for (size_t i = 0; i < slashes / 2; i++)
                put('\\');
            if (slashes % 2) {
                put('"');
                p++;
                continue;
            }
        }
        if (*p == '"') {
            if (quoted && p[1] == '"') {
                put('"');
                p += 2;
                continue;
            }
            quoted = !quoted;
            p++;
            continue;
        }
        put(*p++);
    }
    out[n] = 0;
    return p;
}

// The argument's value when it is the switch (compared without case).
static const char *SwitchValue(const char *argument, const char *name)
{
    size_t n = strlen(name);
    return _strnicmp(argument, name, n) == 0 ? argument + n : 0;
}

void ParseSetupCommandLine(const char *commandLine)
{
    char argument[SCRIPT_VALUE_SIZE];
    const char *p = commandLine ? commandLine : "";
    while ((p = NextCommandLineArgument(p, argument, sizeof argument)) != 0) {
        const char *value;
        if (!_stricmp(argument, "-SILENT")) {
            gSetup.silent = true;
        } else if ((value = SwitchValue(argument, "-WORKDIR=")) != 0) {
            CopyText(gSetup.workFolder, value, (int)sizeof gSetup.workFolder);
            size_t n = strlen(gSetup.workFolder);
            if (n && gSetup.workFolder[n - 1] == '\\')
                gSetup.workFolder[n - 1] = 0;
        } else if ((value = SwitchValue(argument, "-INSTALL=")) != 0) {
            SetVariable("#INSTALLPATH#", value);
            gSetup.installGiven = gSetup.silent = true;
        } else if ((value = SwitchValue(argument, "-DATA=")) != 0) {
            SetVariable("#CUSTOMPATH#", value);
            gSetup.dataGiven = true;
        } else if ((value = SwitchValue(argument, "-USE=")) != 0) {
            if (gSetup.useCount < SETUP_USE_FILES && value[0])
                CopyText(gSetup.useFiles[gSetup.useCount++], value, (int)SETUP_PATH_SIZE);
        }
    }
    gSetup.allUsersDefault = gSetup.installGiven && !gSetup.dataGiven;
}
