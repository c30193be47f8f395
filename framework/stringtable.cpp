// Language string tables: sorted once when registered, then searched by id.
#include "framework/stringtable.h"

#include <string.h>

#include "framework/application.h"

// The framework's language-0 texts, with those of the standard commands
// (0xF002 for 0xF100, then 0xF105 to 0xF16B: variant 0 menu text, 2 status).
StringTableRecord gFrameworkStrings[] = {
    {0xF002, {" * ", 0, "Displays additional items", "Additional Items"}},
    {0xF003, {"Error initializing the application!\nError code 0x%08X."}},
    {0xF004, {"Ready"}},
    {0xF005, {"%s v%d.%d.%d", "Copyright \251 Kestrova. All rights reserved.",
              "https://www.veltaspar.net/"}},
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
    {0xF110, {"Always on Top", 0, "Keeps the window on top of all others"}},
    {0xF111, {"Show on Taskbar", 0, "Shows the window on the Taskbar"}},
    {0xF120, {"Caption", 0, "Caption menu"}},
    {0xF121, {"Normal", 0, "Normal size window caption"}},
    {0xF122, {"Small", 0, "Small window caption"}},
    {0xF123, {"No Caption", 0, "No window caption"}},
    {0xF124, {"Borderless", 0, "No window borders at all"}},
    {0xF130, {"Color", 0, "Color menu"}},
    {0xF131, {"None", 0, "No color scheme"}},
    {0xF132, {"Default", 0, "Default color scheme"}},
    {0xF133, {"Custom", 0, "Custom color scheme"}},
    {0xF134, {"Background", 0, "Sets the background color"}},
    {0xF135, {"Focus", 0, "Sets the focus color"}},
    {0xF136, {"Text", 0, "Sets the text color"}},
    {0xF137, {"Highlighted Text", 0, "Sets the highlighted text color"}},
    {0xF140, {"Font", 0, "Selects the user interface font"}},
    {0xF141, {"Default", 0, "Selects the default user interface font"}},
    {0xF142, {"Custom...", 0, "Selects a custom user interface font"}},
    {0xF150, {"Lock", 0, "Lock menu"}},
    {0xF151, {"Bar Positions", 0, "Locks the positions of the stoolbars"}},
    {0xF152, {"Bar Sizes", 0, "Locks the sizes of the toolbars"}},
    {0xF153, {"Window Position", 0, "Locks the position of the window"}},
    {0xF154, {"Window Size", 0, "Locks the size of the window"}},
    {0xF155, {"Lock All", 0, "Locks all window parameters"}},
    {0xF156, {"Resolution Change", 0,
              "Locks the size and position of the window if the screen resolution changes"}},
    {0xF160, {"Transparency", 0, "Sets the transparency"}},
    {0xF161, {"Off", 0, "Switches transparency off"}},
    {0xF162, {"10%", 0, "10% transparency"}},
    {0xF163, {"20%", 0, "20% transparency"}},
    {0xF164, {"30%", 0, "30% transparency"}},
    {0xF165, {"40%", 0, "40% transparency"}},
    {0xF166, {"50%", 0, "50% transparency"}},
    {0xF167, {"60%", 0, "60% transparency"}},
    {0xF168, {"70%", 0, "70% transparency"}},
    {0xF169, {"80%", 0, "80% transparency"}},
    {0xF16A, {"90%", 0, "90% transparency"}},
    {0xF16B, {"Ghost", 0, "Let the mouse click through the window"}},
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
