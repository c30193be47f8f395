// Language string tables: sorted once when registered, then searched by id.
#include "framework/stringtable.h"

#include <string.h>

#include "framework/application.h"

// The framework's language-0 texts. The standard commands' texts (ids 0xF100
// to 0xF16B) join this table with the command table.
StringTableRecord gFrameworkStrings[] = {
    {0xF002, {" * ", 0, "Displays additional items", "Additional Items"}},
    {0xF003, {"Error initializing the application!\nError code 0x%08X."}},
    {0xF004, {"Ready"}},
    {0xF005, {"%s v%d.%d.%d"}},
    {0xF007, {"Could not display the manual \"%s\".\nPlease make sure that a viewer for this "
              "file type is installed on your system.",
              "Could not find the manual \"%s\".\nPlease reinstall the program."}},
    {0xF008, {"Could not access the data path!\n%s\nPlease make sure that this path is "
              "accessible or choose a different data path during setup.",
              "Waiting for data folder...", "Quit %s"}},
    {0xF009, {"Warning: your current configuration will be overwritten!\nDo you want to "
              "continue?",
              "Configuration file error!", "Error restoring data!", "Wrong product!",
              "Some file(s) could not be backed up!\nMaybe they are in use by the program."}},
    {0xF00A, {"Data restored successfully!", "Data backed up successfully!",
              "Data reset successfully!"}},
    {0xF00B, {"The program must be restarted to apply the changes.\nClick OK to restart the "
              "program now."}},
    {0xF00C, {"Last check: %02d.%02d.%04d", "Checking...", "Version download error",
              "Version format error", "New version available", "No update available",
              "Could not start update check", 0, 0, 0, 0, "Update Check"}},
    {0xF00F, {"Please select a path for archiving:", "Archiving finished successfully!",
              "Please enter a valid path!", "Please enter a valid filename!",
              "Could not create the archive file!\nPlease check the path and filename."}},
    {0xF105, {""}},
    {0xF200, {"OK", "Cancel", "Apply", "Help", "Yes", "No"}},
    {STRING_TABLE_END, {0}},
};

CStringTable::CStringTable()
{
    languageNames[0] = "English";
    languageNames[1] = "Deutsch";
    programTable[0] = programTable[1] = 0;
    frameworkTable[0] = gFrameworkStrings;
    frameworkTable[1] = 0;
    programCount = 0;
    frameworkCount = SortTable(gFrameworkStrings);
}

int CStringTable::SortTable(StringTableRecord *table)
{
    if (!table)
        return 0;
    int count = 0;
    while (table[count].id != STRING_TABLE_END)
        count++;
    for (int i = 0; i < count; i++)
        for (int j = i + 1; j < count; j++)
            if (table[j].id < table[i].id) {
                StringTableRecord swap = table[i];
                table[i] = table[j];
                table[j] = swap;
            }
    return count;
}

int CStringTable::SetProgramTable(int language, StringTableRecord *table)
{
    if (language < 0 || language > 1)
        return QRF_ERR_INDEX;
    if (!table)
        table = programTable[0];
    if (!programTable[language] && table) {
        programTable[language] = table;
        programCount = SortTable(table);
    }
    return 0;
}

// Binary search over inclusive bounds, the midpoint rounded half up; once the
// window is under two records wide, the id is either the candidate or hi.
StringTableRecord *CStringTable::Find(StringTableRecord *table, int count, uint16_t id)
{
    if (!table || count < 1)
        return 0;
    int lo = 0, hi = count - 1;
    for (;;) {
        int mid = (int)((lo + hi) * 0.5 + 0.5);
        int candidate;
        if (id < table[mid].id) {
            hi = mid;
            candidate = lo;
        } else {
            candidate = mid;
        }
        if (hi - candidate < 2) {
            if (table[candidate].id == id)
                return &table[candidate];
            if (table[hi].id == id)
                return &table[hi];
            return 0;
        }
        lo = candidate;
    }
}

static int CurrentLanguage()
{
    int language = gApp.appRecord.language;
    return (language == 1) ? 1 : 0;
}

const char *CStringTable::GetText(uint16_t id, int variant) const
{
    if (id == STRING_TABLE_END || variant < 0 || variant >= STRING_VARIANTS)
        return 0;
    int language = CurrentLanguage();
    StringTableRecord *record;
    if (id < 0xF000) {
        StringTableRecord *table = programTable[language];
        if (!table)
            table = programTable[0];
        record = Find(table, programCount, id);
    } else {
        record = Find(frameworkTable[language], frameworkCount, id);
    }
    return record ? record->text[variant] : 0;
}

const char *CStringTable::SetText(uint16_t id, int variant, const char *text)
{
    if (id == STRING_TABLE_END || variant < 0 || variant >= STRING_VARIANTS)
        return 0;
    StringTableRecord *record = Find(programTable[CurrentLanguage()], programCount, id);
    if (!record)
        return 0;
    record->text[variant] = text;
    return text;
}
