#include <gtest/gtest.h>

#include "framework/growarray.h"

TEST(GrowArray, FirstBlockIsSixteenThenDoubles)
{
    CGrowArray<int> a;
    EXPECT_EQ(a.growStep, -1);
    for (int i = 0; i < 16; i++)
        ASSERT_EQ(a.Add(i), i);
    EXPECT_EQ(a.capacity, 16);
    a.Add(16);
    EXPECT_EQ(a.capacity, 32);
    EXPECT_EQ(a.count, 17);
    for (int i = 0; i < 17; i++)
        EXPECT_EQ(a.data[i], i);
    a.RemoveAll();
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.capacity, 0);
}

TEST(GrowArray, FortyAtOnceGivesSixtyFour)
{
    int src[40];
    for (int i = 0; i < 40; i++)
        src[i] = i * 3;
    CGrowArray<int> a;
    EXPECT_EQ(a.InsertAt(src, 0, 40), 0);
    EXPECT_EQ(a.capacity, 64);
    EXPECT_EQ(a.data[39], 117);
    a.RemoveAll();
}

TEST(GrowArray, PositiveStepAddsStep)
{
    CGrowArray<int> a;
    a.growStep = 5;
    int v = 1;
    a.Add(v);
    EXPECT_EQ(a.capacity, 5);
    for (int i = 0; i < 5; i++)
        a.Add(v);
    EXPECT_EQ(a.capacity, 10);
    a.RemoveAll();
}

TEST(GrowArray, IndexIsClamped)
{
    CGrowArray<int> a;
    int one = 1, two = 2, three = 3;
    a.Add(one);
    EXPECT_EQ(a.InsertAt(&two, 99, 1), 1);   // past the end appends
    EXPECT_EQ(a.InsertAt(&three, -5, 1), 0); // negative inserts at the front
    ASSERT_EQ(a.count, 3);
    EXPECT_EQ(a.data[0], 3);
    EXPECT_EQ(a.data[1], 1);
    EXPECT_EQ(a.data[2], 2);
    EXPECT_EQ(a.InsertAt(&one, 0, 0), -1);
    EXPECT_EQ(a.InsertAt(nullptr, 0, 1), -1);
    EXPECT_EQ(a.count, 3);
    a.RemoveAt(1);
    EXPECT_EQ(a.count, 2);
    EXPECT_EQ(a.data[1], 2);
    a.RemoveAll();
}

TEST(GrowArray, FailedAllocationKeepsEverything)
{
    CGrowArray<PathText> a;
    PathText name = "kept";
    a.Add(name);
    int capacity = a.capacity;
    // Ten million 260-byte texts cannot be allocated in a 32-bit process.
    EXPECT_EQ(a.InsertAt(&name, 0, 10000000), -1);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(a.capacity, capacity);
    EXPECT_STREQ(a.data[0], "kept");
    a.RemoveAll();
}

TEST(GrowArray, ByteInsertInTheMiddle)
{
    CGrowArray<char> a;
    a.AppendBytes("abcdef", 6);
    EXPECT_EQ(a.InsertAt("12345", 2, 5), 2);
    ASSERT_EQ(a.count, 11);
    EXPECT_EQ(std::string(a.data, a.count), "ab12345cdef");
    a.RemoveAll();
}

TEST(GrowArray, SetCapacityIsExact)
{
    CGrowArray<char> a;
    a.AppendBytes("abcdef", 6);
    EXPECT_TRUE(a.SetCapacity(6, -1));   // equal to the count: no change
    EXPECT_EQ(a.capacity, 16);
    EXPECT_TRUE(a.SetCapacity(4, 8));
    EXPECT_EQ(a.capacity, 4);
    EXPECT_EQ(a.count, 4);
    EXPECT_EQ(a.growStep, 8);
    EXPECT_EQ(std::string(a.data, 4), "abcd");
    a.AppendBytes("x", 1);   // grows by the stored step
    EXPECT_EQ(a.capacity, 12);
    EXPECT_FALSE(a.SetCapacity(0, -1));
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(a.data, nullptr);
}

TEST(GrowArray, BorrowedBlockIsNeverFreed)
{
    static int outside[4] = {7, 8, 9, 10};
    CGrowArray<int> a;
    a.data = outside;
    a.count = 4;
    a.capacity = 4;
    a.borrowed = 1;
    int v = 11;
    a.Add(v);   // grows into a block of its own
    EXPECT_NE(a.data, outside);
    EXPECT_EQ(a.borrowed, 0);
    EXPECT_EQ(a.data[3], 10);
    EXPECT_EQ(outside[0], 7);
    a.RemoveAll();
}
