// Compiled-in language string tables, looked up by 16-bit id and variant.
// Ids from 0xF000 up are the framework's; lower ids are the program's.
#pragma once

#include <stdint.h>

struct StringTableRecord {
    uint16_t id;
    const char *text[16];   // variants 0..15; null = no text
};

enum { STRING_TABLE_END = 0xFFFF, STRING_VARIANTS = 16 };

class CStringTable {
public:
    const char *languageNames[2];
    StringTableRecord *programTable[2];
    StringTableRecord *frameworkTable[2];
    int programCount;
    int frameworkCount;

    CStringTable();
    int SetProgramTable(int language, StringTableRecord *table);
    static int SortTable(StringTableRecord *table);
    const char *GetText(uint16_t id, int variant) const;
    const char *SetText(uint16_t id, int variant, const char *text);

private:
    static StringTableRecord *Find(StringTableRecord *table, int count, uint16_t id);
};

// The framework's built-in language-0 table (ids 0xF000 up).
extern StringTableRecord gFrameworkStrings[];
