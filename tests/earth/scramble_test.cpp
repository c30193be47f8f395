// The cloud scramble: known bytes, its own inverse.
#include "testutil.h"

#include "earth/scramble.h"

TEST(Scramble, KnownBytes)
{
    // n = 4: keys are 0, 1*1*3, 2*2*2, 3*3*1 = 0, 3, 8, 9.
    uint8_t data[4] = {0x10, 0x10, 0x10, 0x10};
    ScrambleBytes(data, 4);
    EXPECT_EQ(0x10, data[0]);
    EXPECT_EQ(0x13, data[1]);
    EXPECT_EQ(0x18, data[2]);
    EXPECT_EQ(0x19, data[3]);
}

TEST(Scramble, KeyIsLowByteOfTheFullProduct)
{
    // i = 300, n = 1000: 300 * 300 * 700 = 63000000 = 0x03C14DC0, low byte 0xC0.
    std::vector<uint8_t> data(1000, 0);
    ScrambleBytes(data.data(), 1000);
    EXPECT_EQ(0xC0, data[300]);
}

TEST(Scramble, RoundTrip)
{
    std::vector<uint8_t> original(70001);
    for (size_t i = 0; i < original.size(); i++)
        original[i] = (uint8_t)(i * 7 + 3);
    std::vector<uint8_t> data = original;
    ScrambleBytes(data.data(), (uint32_t)data.size());
    EXPECT_NE(original, data);
    ScrambleBytes(data.data(), (uint32_t)data.size());
    EXPECT_EQ(original, data);
}
