#include <gtest/gtest.h>

#include <string.h>

#include "earth/placeholder.h"
#include "framework/application.h"
#include "testutil.h"

static uint32_t Get32(const std::string &s, size_t at)
{
    return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8 | (uint8_t)s[at + 2] << 16 |
           (uint32_t)(uint8_t)s[at + 3] << 24;
}

static StringTableRecord titleTable[] = {{0, {"Veltaspar"}}, {STRING_TABLE_END, {0}}};

TEST(Placeholder, HeadersAndSizeForACommonScreen)
{
    gApp.strings.SetProgramTable(0, titleTable);
    EXPECT_EQ(Bmp24RowStride(1366), 4100);
    CreateDirectoryA("placeholder", 0);
    ASSERT_EQ(WritePlaceholderImage("placeholder\\Veltaspar.bmp", 1366, 768), 0);
    std::string bmp = ReadWhole("placeholder\\Veltaspar.bmp");
    ASSERT_EQ(bmp.size(), 3148854u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Get32(bmp, 2), 3148854u);
    EXPECT_EQ(Get32(bmp, 6), 0u);
    EXPECT_EQ(Get32(bmp, 10), 54u);
    EXPECT_EQ(Get32(bmp, 14), 40u);
    EXPECT_EQ(Get32(bmp, 18), 1366u);
    EXPECT_EQ(Get32(bmp, 22), 768u);
    EXPECT_EQ(Get32(bmp, 26), 24u << 16 | 1u);   // planes 1, 24 bits
    EXPECT_EQ(Get32(bmp, 30), 0u);
    EXPECT_EQ(GetFileAttributesA("placeholder\\Veltaspar.bmp_tmp"), INVALID_FILE_ATTRIBUTES);

    // Black corners; grey title pixels only near the middle band.
    const uint8_t *px = (const uint8_t *)bmp.data() + 54;
    EXPECT_EQ(px[0] | px[1] | px[2], 0);
    int grey = 0, outside = 0;
    for (int y = 0; y < 768; y++)
        for (int x = 0; x < 1366; x++) {
            const uint8_t *p = px + y * 4100 + x * 3;
            if (p[0] == 0 && p[1] == 0 && p[2] == 0)
                continue;
            EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << x << "," << y;   // grey only
            EXPECT_LE(p[0], 144);
            if (p[0] == 144)
                grey++;
            if (y < 768 / 3 || y > 2 * 768 / 3 || x < 300 || x > 1066)
                outside++;
        }
    EXPECT_GT(grey, 500);
    EXPECT_EQ(outside, 0);
}

TEST(Placeholder, FailuresNameTheirStep)
{
    EXPECT_EQ(WritePlaceholderImage("placeholder\\x.bmp", 0, 10), 'K');
    EXPECT_EQ(WritePlaceholderImage("no-such-folder\\deeper\\x.bmp", 64, 32), 'N');
    // A locked target stays as it was.
    CreateDirectoryA("placeholder", 0);
    WriteWhole("placeholder\\locked.bmp", "old");
    HANDLE lock = CreateFileA("placeholder\\locked.bmp", GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WritePlaceholderImage("placeholder\\locked.bmp", 64, 32), 'O');
    CloseHandle(lock);
    EXPECT_EQ(ReadWhole("placeholder\\locked.bmp"), "old");
}
