// Memory-mapped files: both modes, the bounded cursor, failures.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "framework/mappedfile.h"
#include "testutil.h"

class MappedFiles : public ::testing::Test {
protected:
    std::string folder;

    void SetUp() override
    {
        folder = FreshTempFolder(std::string("mapped-") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    std::string Path(const char *name) { return folder + "\\" + name; }

    // Every handle is closed again when the file can be deleted (the mapping
    // opens it without delete sharing).
    bool Deletable(const std::string &path) { return DeleteFileA(path.c_str()) != 0; }
};

TEST_F(MappedFiles, ReadWriteOfMissingFileCreatesZeroFilledFile)
{
    std::string path = Path("new.bin");
    CMappedFile mapped;
    ASSERT_EQ(mapped.Open(path.c_str(), MAPPED_READ_WRITE, 45012, 0), MAPPED_OK);
    EXPECT_EQ(mapped.cursor, mapped.base);
    EXPECT_EQ(mapped.sizeLow, 45012u);
    for (DWORD i = 0; i < 45012; i++)
        ASSERT_EQ(mapped.base[i], 0) << i;
    ASSERT_EQ(mapped.Write("BM", 2), 0);
    mapped.base[45011] = 0x7E;
    EXPECT_EQ(mapped.Close(), 0);
    EXPECT_EQ(mapped.base, nullptr);
    std::string back = ReadWhole(path);
    ASSERT_EQ(back.size(), 45012u);
    EXPECT_EQ(back.substr(0, 2), "BM");
    EXPECT_EQ(back[45011], 0x7E);
    EXPECT_TRUE(Deletable(path));
}

TEST_F(MappedFiles, CursorStopsAtTheLastByte)
{
    std::string path = Path("ten.bin");
    WriteWhole(path, "0123456789");
    CMappedFile mapped;
    ASSERT_EQ(mapped.Open(path.c_str(), 0, 0, 0), MAPPED_OK);
    EXPECT_EQ(mapped.sizeLow, 10u);
    char out[16] = {};
    ASSERT_EQ(mapped.Read(out, 4), 0);
    EXPECT_EQ(std::string(out, 4), "0123");
    ASSERT_EQ(mapped.Read(out, 6), 0);   // exactly up to the last byte
    EXPECT_EQ(std::string(out, 6), "456789");
    uint8_t *end = mapped.cursor;
    memset(out, '?', sizeof out);
    EXPECT_EQ(mapped.Read(out, 1), 1);   // one more: refused, nothing moved
    EXPECT_EQ(mapped.cursor, end);
    EXPECT_EQ(out[0], '?');

    mapped.cursor = mapped.base + 8;
    EXPECT_EQ(mapped.Read(out, 3), 1);
    EXPECT_EQ(mapped.cursor, mapped.base + 8);
    // A count so large that cursor + count wraps around the address space.
    EXPECT_EQ(mapped.Read(out, 0xFFFFFFF8u), 1);
    EXPECT_EQ(mapped.cursor, mapped.base + 8);
    EXPECT_EQ(mapped.Read(out, 0), 0);
}

TEST_F(MappedFiles, WritesAreBoundedAndReachTheFile)
{
    std::string path = Path("rw.bin");
    WriteWhole(path, "abcdef");
    CMappedFile mapped;
    ASSERT_EQ(mapped.Open(path.c_str(), MAPPED_READ_WRITE, 0, 0), MAPPED_OK);
    EXPECT_EQ(mapped.sizeLow, 6u);
    ASSERT_EQ(mapped.Write("XY", 2), 0);
    EXPECT_EQ(mapped.Write("12345", 5), 1);   // one past the end
    ASSERT_EQ(mapped.Write("1234", 4), 0);
    mapped.Close();
    EXPECT_EQ(ReadWhole(path), "XY1234");
    // A read-only view refuses writes instead of faulting.
    ASSERT_EQ(mapped.Open(path.c_str(), 0, 0, 0), MAPPED_OK);
    EXPECT_EQ(mapped.Write("ab", 2), 1);
    EXPECT_EQ(mapped.cursor, mapped.base);
    mapped.Close();
    EXPECT_EQ(ReadWhole(path), "XY1234");
}

TEST_F(MappedFiles, GivenSizeGrowsAnExistingFile)
{
    std::string path = Path("grow.bin");
    WriteWhole(path, "keep");
    CMappedFile mapped;
    ASSERT_EQ(mapped.Open(path.c_str(), MAPPED_READ_WRITE, 4096, 0), MAPPED_OK);
    EXPECT_EQ(std::string((char *)mapped.base, 5), std::string("keep\0", 5));
    mapped.Close();
    EXPECT_EQ(ReadWhole(path).size(), 4096u);
}

TEST_F(MappedFiles, BadPathsAndSizes)
{
    CMappedFile mapped;
    char byte;
    EXPECT_EQ(mapped.Read(&byte, 1), 1);   // never opened
    EXPECT_EQ(mapped.Open(Path("missing.bin").c_str(), 0, 0, 0), MAPPED_NOT_OPENED);
    EXPECT_EQ(mapped.Open(Path("nofolder\\x.bin").c_str(), MAPPED_READ_WRITE, 10, 0),
              MAPPED_NOT_OPENED);
    EXPECT_EQ(mapped.Open("", 0, 0, 0), MAPPED_NOT_OPENED);
    EXPECT_EQ(mapped.Open(folder.c_str(), 0, 0, 0), MAPPED_NOT_OPENED);   // a folder

    std::string empty = Path("empty.bin");
    WriteWhole(empty, "");
    EXPECT_EQ(mapped.Open(empty.c_str(), 0, 0, 0), MAPPED_EMPTY);
    EXPECT_EQ(mapped.file, (HANDLE)0);
    EXPECT_TRUE(Deletable(empty));
    WriteWhole(empty, "");
    EXPECT_EQ(mapped.Open(empty.c_str(), MAPPED_READ_WRITE, 0, 0), MAPPED_EMPTY);
    EXPECT_TRUE(Deletable(empty));
    // A failed read-write open takes away the file that it made itself.
    std::string made = Path("made.bin");
    EXPECT_EQ(mapped.Open(made.c_str(), MAPPED_READ_WRITE, 0, 0), MAPPED_EMPTY);
    EXPECT_EQ(GetFileAttributesA(made.c_str()), INVALID_FILE_ATTRIBUTES);

    // A read-only mapping cannot be larger than its file.
    std::string small = Path("small.bin");
    WriteWhole(small, "xyz");
    int result = mapped.Open(small.c_str(), 0, 100, 0);
    EXPECT_TRUE(result == MAPPED_NO_MAPPING || result == MAPPED_NO_VIEW) << result;
    EXPECT_EQ(mapped.base, nullptr);
    EXPECT_EQ(mapped.mapping, (HANDLE)0);
    EXPECT_EQ(mapped.file, (HANDLE)0);
    EXPECT_TRUE(Deletable(small));
}

// The size of the file at path, -1 when it cannot be read.
static int64_t SizeOf(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (int64_t)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

// A file of size bytes that begins with "keep"; the rest is a hole that
// takes no disk space where the file system has holes.
static bool MakeLargeFile(const std::string &path, int64_t size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool made = WriteFile(file, "keep", 4, &done, 0) && done == 4 &&
                SetFilePointerEx(file, end, 0, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return made;
}

// A view larger than a 32-bit address space can hold, of 3 GB and of more
// than 4 GB. Each file is set to 64 KB below the view's size without writing
// it (a sparse end), so the open writes only those 64 KB of zeros before its
// view fails; the failed open then cuts the file back to its old size.
TEST_F(MappedFiles, FailedViewGivesAGrownFileItsOldSize)
{
    struct Case {
        DWORD low, high;
    } cases[] = {{0xC0010000u, 0}, {0x00010000u, 1}};
    std::string path = Path("large.bin");
    for (const Case &c : cases) {
        const int64_t old = ((int64_t)c.high << 32 | c.low) - 0x10000;
        ASSERT_TRUE(MakeLargeFile(path, old)) << c.high;
        ASSERT_EQ(SizeOf(path), old);
        {
            CMappedFile mapped;
            int result = mapped.Open(path.c_str(), MAPPED_READ_WRITE, c.low, c.high);
            EXPECT_EQ(result, MAPPED_NO_VIEW) << c.high;
            EXPECT_EQ(mapped.base, nullptr);
            EXPECT_EQ(mapped.file, (HANDLE)0);
            EXPECT_EQ(mapped.sizeLow, 0u);
        }
        EXPECT_EQ(SizeOf(path), old) << c.high;
        char head[5] = {};
        FILE *f = fopen(path.c_str(), "rb");
        ASSERT_TRUE(f != nullptr);
        EXPECT_EQ(fread(head, 1, 4, f), 4u);
        fclose(f);
        EXPECT_STREQ(head, "keep");
        EXPECT_TRUE(Deletable(path));
    }
}

TEST_F(MappedFiles, ReopenClosesTheFirstFile)
{
    std::string first = Path("first.bin"), second = Path("second.bin");
    WriteWhole(first, "one");
    WriteWhole(second, "second");
    CMappedFile mapped;
    ASSERT_EQ(mapped.Open(first.c_str(), 0, 0, 0), MAPPED_OK);
    ASSERT_EQ(mapped.Open(second.c_str(), 0, 0, 0), MAPPED_OK);
    EXPECT_EQ(mapped.sizeLow, 6u);
    EXPECT_TRUE(Deletable(first));
    EXPECT_FALSE(Deletable(second));   // still mapped
    mapped.Close();
    EXPECT_TRUE(Deletable(second));
}
