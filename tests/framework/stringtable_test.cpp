#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "framework/application.h"

class StringTable : public ::testing::Test {
protected:
    void SetUp() override { gApp.appRecord.language = 0; }
    void TearDown() override { gApp.appRecord.language = 0; }
};

static StringTableRecord programStrings[] = {
    {40, {"forty", 0, "status forty"}},
    {3, {"three"}},
    {0, {"Veltaspar"}},
    {17, {"seventeen"}},
    {STRING_TABLE_END, {0}},
};

TEST_F(StringTable, FrameworkTexts)
{
    CStringTable table;
    EXPECT_STREQ(table.GetText(0xF004, 0), "Ready");
    EXPECT_STREQ(table.GetText(0xF008, 2), "Quit %s");
    EXPECT_STREQ(table.GetText(0xF00C, 11), "Update Check");
    EXPECT_EQ(table.GetText(0xF00C, 7), nullptr);
    EXPECT_STREQ(table.GetText(0xF200, 5), "No");
    EXPECT_STREQ(table.GetText(0xF002, 3), "Additional Items");
    EXPECT_STREQ(table.GetText(0xF003, 0),
                 "Error initializing the application!\nError code 0x%08X.");
    EXPECT_STREQ(table.languageNames[1], "Deutsch");
}

TEST_F(StringTable, EndMarkAndVariantLimit)
{
    CStringTable table;
    table.SetProgramTable(0, programStrings);
    EXPECT_EQ(table.GetText(0xFFFF, 0), nullptr);
    EXPECT_EQ(table.GetText(0xF004, 16), nullptr);
    EXPECT_EQ(table.GetText(40, 16), nullptr);
    EXPECT_EQ(table.GetText(40, -1), nullptr);
}

TEST_F(StringTable, ProgramTableSortedAndSearched)
{
    CStringTable table;
    EXPECT_EQ(table.GetText(0, 0), nullptr);   // none registered yet
    EXPECT_EQ(table.SetProgramTable(0, programStrings), 0);
    EXPECT_EQ(table.programCount, 4);
    EXPECT_EQ(programStrings[0].id, 0);
    EXPECT_EQ(programStrings[3].id, 40);
    EXPECT_STREQ(table.GetText(0, 0), "Veltaspar");
    EXPECT_STREQ(table.GetText(40, 2), "status forty");
    EXPECT_EQ(table.GetText(40, 1), nullptr);
    EXPECT_EQ(table.GetText(16, 0), nullptr);   // between two ids
    EXPECT_EQ(table.GetText(41, 0), nullptr);   // past the last
    EXPECT_EQ(table.SetProgramTable(2, programStrings), QRF_ERR_INDEX);
}

TEST_F(StringTable, LanguageFallbacks)
{
    CStringTable table;
    table.SetProgramTable(0, programStrings);
    gApp.appRecord.language = 1;
    EXPECT_STREQ(table.GetText(17, 0), "seventeen");   // program: falls back to language 0
    EXPECT_EQ(table.GetText(0xF004, 0), nullptr);      // framework: no fallback
    gApp.appRecord.language = 7;                       // out of range reads as 0
    EXPECT_STREQ(table.GetText(0xF004, 0), "Ready");
}

TEST_F(StringTable, SecondRegistrationChangesNothing)
{
    static StringTableRecord other[] = {{5, {"five"}}, {STRING_TABLE_END, {0}}};
    CStringTable table;
    table.SetProgramTable(0, programStrings);
    EXPECT_EQ(table.SetProgramTable(0, other), 0);
    EXPECT_EQ(table.programTable[0], programStrings);
    EXPECT_EQ(table.GetText(5, 0), nullptr);
    EXPECT_EQ(table.SetProgramTable(1, nullptr), 0);   // null: language 0's table
    EXPECT_EQ(table.programTable[1], programStrings);
}

TEST_F(StringTable, SetTextReplacesOneVariant)
{
    static StringTableRecord menu[] = {{100, {"old"}}, {200, {0}}, {STRING_TABLE_END, {0}}};
    CStringTable table;
    table.SetProgramTable(0, menu);
    EXPECT_STREQ(table.SetText(200, 4, "Profile 1"), "Profile 1");
    EXPECT_STREQ(table.GetText(200, 4), "Profile 1");
    EXPECT_EQ(table.SetText(150, 0, "x"), nullptr);
    EXPECT_EQ(table.SetText(100, 16, "x"), nullptr);
    EXPECT_EQ(table.SetText(0xFFFF, 0, "x"), nullptr);
    EXPECT_STREQ(table.GetText(100, 0), "old");
}

// Every stored id is found and every gap misses, for tables of all sizes.
TEST_F(StringTable, SearchFindsEveryIdInRandomTables)
{
    srand(1234);
    for (int size = 1; size <= 70; size++) {
        StringTableRecord records[71];
        bool used[2000] = {false};
        for (int i = 0; i < size; i++) {
            int id;
            do
                id = rand() % 2000;
            while (used[id]);
            used[id] = true;
            memset(&records[i], 0, sizeof records[i]);
            records[i].id = (uint16_t)id;
            records[i].text[1] = (const char *)(intptr_t)(id + 1);
        }
        records[size].id = STRING_TABLE_END;
        CStringTable table;
        table.SetProgramTable(0, records);
        ASSERT_EQ(table.programCount, size);
        for (int id = 0; id < 2000; id++) {
            const char *text = table.GetText((uint16_t)id, 1);
            if (used[id])
                ASSERT_EQ((intptr_t)text, id + 1) << "size " << size << " id " << id;
            else
                ASSERT_EQ(text, nullptr) << "size " << size << " id " << id;
        }
    }
}
