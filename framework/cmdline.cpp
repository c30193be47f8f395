// Command line: the process's text split into switch records, each with the
// arguments that follow it. Only the space character separates tokens.
#include <string.h>

#include "framework/application.h"

typedef CApplication::SwitchRecord SwitchRecord;

enum { PARSE_NONE = 0, PARSE_WAIT = 1, PARSE_QUIT = -1 };

// Copies the token [start, end) into a 260-character field, cut at 259.
static void CopyToken(char *out, const char *start, const char *end)
{
    size_t n = (size_t)(end - start);
    if (n > MAX_TEXT - 1)
        n = MAX_TEXT - 1;
    memcpy(out, start, n);
    out[n] = 0;
}

static void StartRecord(SwitchRecord *record, const char *start, const char *end)
{
    *record = SwitchRecord();
    CopyToken(record->name, start, end);
}

void CApplication::FreeSwitches()
{
    for (int i = 0; i < switches.count; i++)
        switches.data[i].arguments.RemoveAll();
    switches.count = 0;
}

// Applies the framework's own switches; returns the bits seen.
static int NoteFrameworkSwitch(CApplication *app, const char *name)
{
    if (!_stricmp(name, "-QUIT"))
        return 2;
    if (!_stricmp(name, "-WAITFORDATAPATH"))
        return 1;
    if (!_stricmp(name, "-AUTOSTART"))
        app->autoStart = 1;
    else if (!_stricmp(name, "-MINIMIZE"))
        app->minimize = 1;
    else if (!_stricmp(name, "-TASKSCHEDULER"))
        app->taskScheduler = 1;
    return 0;
}

// Reads one argument token at p; a leading double quote runs to the next one
// (blanks included, quotes dropped, a missing close runs to the end).
static const char *ReadArgument(const char *p, PathText out)
{
    const char *start = p, *end;
    if (*p == '"') {
        start = p + 1;
        end = strchr(start, '"');
        if (!end)
            end = start + strlen(start);
        CopyToken(out, start, end);
        return *end ? end + 1 : end;
    }
    end = strchr(p, ' ');
    if (!end)
        end = p + strlen(p);
    CopyToken(out, start, end);
    return end;
}

// Appends a finished record; on failure its arguments are freed, not leaked.
static void AppendRecord(CApplication *app, SwitchRecord *record)
{
    if (app->switches.Add(*record) < 0)
        record->arguments.RemoveAll();
}

int CApplication::ParseCommandLine(const char *text)
{
    FreeSwitches();
    autoStart = minimize = taskScheduler = 0;
    if (!text || !*text)
        return PARSE_NONE;

    int seen = 0;
    bool filling = false;
    SwitchRecord record;
    const char *p = text;
    for (;;) {
        while (*p == ' ')
            p++;
        if (!*p)
            break;
        if (*p == '-') {
            if (filling)
                AppendRecord(this, &record);
            const char *end = strchr(p, ' ');
            if (!end)
                end = p + strlen(p);
            StartRecord(&record, p, end);
            filling = true;
            seen |= NoteFrameworkSwitch(this, record.name);
            p = end;
            continue;
        }
        if (!filling) {
            StartRecord(&record, p, p);
            filling = true;
        }
        PathText argument;
        p = ReadArgument(p, argument);
        record.arguments.Add(argument);
    }
    if (filling)
        AppendRecord(this, &record);
    if (seen & 2)
        return PARSE_QUIT;
    return (seen & 1) ? PARSE_WAIT : PARSE_NONE;
}

int CApplication::FindSwitch(const char *name) const
{
    if (!name)
        return -1;
    for (int i = 0; i < switches.count; i++)
        if (!_stricmp(switches.data[i].name, name))
            return i;
    return -1;
}
