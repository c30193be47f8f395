// Byte streams: growth steps, seeking, short reads, lines, file streams.
#include "imaging_testutil.h"

#include <stdlib.h>
#include <string.h>

TEST(MemStream, GrowsIn64KSteps)
{
    CMemStream s;
    EXPECT_EQ(s.Tell(), -1);
    ASSERT_TRUE(s.Open());
    EXPECT_FALSE(s.Open());
    char data[10] = "abcdefghi";
    EXPECT_EQ(s.Write(data, 1, 10), 10u);
    EXPECT_EQ(s.capacity, 65536);
    EXPECT_EQ(s.Size(), 10);
    EXPECT_EQ(s.Tell(), 10);
    char *big = (char *)calloc(65536, 1);
    EXPECT_EQ(s.Write(big, 1, 65536 - 10), (size_t)(65536 - 10));
    EXPECT_EQ(s.capacity, 65536);
    EXPECT_TRUE(s.PutC(7));
    EXPECT_EQ(s.capacity, 131072);
    EXPECT_EQ(s.Size(), 65537);
    free(big);
}

TEST(MemStream, SeekRules)
{
    unsigned char ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    CMemStream s(ten, 10);
    EXPECT_TRUE(s.Seek(-5, SEEK_SET));
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_FALSE(s.Seek(0, 3));
    EXPECT_TRUE(s.Seek(-3, SEEK_END));
    EXPECT_EQ(s.GetC(), 7);
    EXPECT_TRUE(s.Seek(100, SEEK_SET));
    EXPECT_EQ(s.Error(), 1);
    unsigned char out[4];
    EXPECT_EQ(s.Read(out, 1, 4), 0u);
    EXPECT_TRUE(s.Eof());
    EXPECT_TRUE(s.Seek(2, SEEK_CUR - 1));   // seeking clears end-of-file
    EXPECT_FALSE(s.Eof());
}

TEST(MemStream, ShortReadCountsWholeItems)
{
    unsigned char data[14];
    for (int i = 0; i < 14; i++)
        data[i] = (unsigned char)i;
    CMemStream s(data, 14);
    s.Seek(4, SEEK_SET);
    unsigned char out[12];
    memset(out, 0xEE, sizeof out);
    EXPECT_EQ(s.Read(out, 4, 3), 2u);   // 10 bytes copied, 2 whole items
    EXPECT_EQ(out[9], 13);
    EXPECT_EQ(out[10], 0xEE);
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Tell(), 14);
    // An item count whose byte size wraps 32 bits must not become a small copy.
    s.Seek(0, SEEK_SET);
    EXPECT_EQ(s.Read(out, 0x10000, 0x10001), 0u);
    EXPECT_EQ(s.Tell(), 14);
}

TEST(MemStream, LinesAndGetC)
{
    unsigned char text[] = {'h', 'i', '\n', 'a', 'b'};
    CMemStream s(text, 5);
    char line[8];
    EXPECT_EQ(s.GetS(line, sizeof line), line);
    EXPECT_STREQ(line, "hi\n");
    EXPECT_EQ(s.GetS(line, sizeof line), nullptr);   // "ab" then the end
    EXPECT_EQ(s.Tell(), 5);
    s.Seek(0, SEEK_SET);
    EXPECT_EQ(s.GetS(line, 2), line);   // room for one byte and the NUL
    EXPECT_STREQ(line, "h");
    EXPECT_EQ(s.GetS(line, 0), nullptr);
    s.Seek(0, SEEK_END);
    EXPECT_EQ(s.GetC(), -1);
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Scanf("%d", 0), 0);
}

TEST(MemStream, BorrowedBlockIsNeverWritten)
{
    unsigned char caller[4] = {1, 2, 3, 4};
    CMemStream s(caller, 4);
    s.Seek(1, SEEK_SET);
    unsigned char nine = 9;
    EXPECT_EQ(s.Write(&nine, 1, 1), 1u);
    EXPECT_EQ(caller[1], 2);           // the caller's bytes stay as they were
    EXPECT_NE(s.block, caller);
    EXPECT_EQ(s.block[0], 1);
    EXPECT_EQ(s.block[1], 9);
    EXPECT_EQ(s.block[3], 4);
    EXPECT_EQ(s.Size(), 4);
}

TEST(MemStream, WritePastEndZeroesTheGap)
{
    CMemStream s;
    s.Open();
    s.Seek(5, SEEK_SET);
    unsigned char x = 0xAA;
    EXPECT_EQ(s.Write(&x, 1, 1), 1u);
    EXPECT_EQ(s.Size(), 6);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(s.block[i], 0) << i;
    EXPECT_EQ(s.block[5], 0xAA);
}

TEST(MemStream, DetachedBufferSurvivesTheStream)
{
    unsigned char *keep;
    {
        CMemStream s;
        s.Open();
        s.Write("xyz", 1, 3);
        keep = s.GetBuffer(true);
    }
    EXPECT_EQ(memcmp(keep, "xyz", 3), 0);
    CDibImage::FreeEncodedBuffer(keep);
    CDibImage::FreeEncodedBuffer(0);
}

TEST(MemStream, NoBlockAnswers)
{
    CMemStream s;
    unsigned char b;
    EXPECT_EQ(s.Read(&b, 1, 1), 0u);
    EXPECT_EQ(s.Write(&b, 1, 1), 0u);
    EXPECT_FALSE(s.Seek(0, SEEK_SET));
    EXPECT_EQ(s.Size(), -1);
    EXPECT_FALSE(s.Flush());
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Error(), -1);
    EXPECT_FALSE(s.PutC(1));
}

TEST(FileStream, WithoutStream)
{
    CFileStream s(0);
    unsigned char b;
    EXPECT_TRUE(s.Close());
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_EQ(s.Size(), -1);
    EXPECT_EQ(s.Read(&b, 1, 1), 0u);
    EXPECT_FALSE(s.Seek(0, SEEK_SET));
    EXPECT_FALSE(s.Flush());
    EXPECT_TRUE(s.Eof());
    EXPECT_EQ(s.Error(), -1);
    EXPECT_FALSE(s.PutC(1));
    EXPECT_EQ(s.GetC(), -1);
    EXPECT_EQ(s.Scanf("%d", &b), -1);
}

TEST(FileStream, RoundTripAndCallerKeepsFile)
{
    FILE *f = fopen("stream_roundtrip.bin", "w+b");
    ASSERT_TRUE(f != 0);
    {
        CFileStream s(f);
        EXPECT_EQ(s.Write("line one\n42", 1, 11), 11u);
        EXPECT_TRUE(s.PutC(0xFF));
        EXPECT_EQ(s.Size(), 12);
        EXPECT_EQ(s.Tell(), 12);
        EXPECT_TRUE(s.Seek(0, SEEK_SET));
        char line[32];
        EXPECT_STREQ(s.GetS(line, sizeof line), "line one\n");
        int value = 0;
        EXPECT_EQ(s.Scanf("%d", &value), 1);
        EXPECT_EQ(value, 42);
        EXPECT_EQ(s.GetC(), 0xFF);
        EXPECT_EQ(s.GetC(), -1);
        EXPECT_TRUE(s.Eof());
    }
    // The stream was the caller's: still open after the CFileStream is gone.
    EXPECT_EQ(fseek(f, 0, SEEK_SET), 0);
    EXPECT_EQ(fgetc(f), 'l');
    fclose(f);
    remove("stream_roundtrip.bin");
}
