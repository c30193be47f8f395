#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "framework/application.h"
#include "framework/recordfile.h"
#include "testutil.h"

// Each test works in a fresh folder of its own under the Wine prefix's temp.
class RecordFiles : public ::testing::Test {
protected:
    char root[MAX_PATH];

    void SetUp() override
    {
        std::string folder = FreshTempFolder(
            std::string("records-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        snprintf(root, sizeof root, "%s", folder.c_str());
        snprintf(gApp.dataFolder, MAX_TEXT, "%s\\data", root);
        snprintf(gApp.secondFolder, MAX_TEXT, "%s\\common", root);
        CreateDirectoryA(gApp.dataFolder, 0);
        CreateDirectoryA(gApp.secondFolder, 0);
    }

    std::string Path(const char *relative) { return std::string(root) + "\\" + relative; }

    std::string Contents(const std::string &path)
    {
        char buffer[4096];
        int n = ReadFileData(path.c_str(), buffer, sizeof buffer);
        return std::string(buffer, n);
    }

    bool Exists(const std::string &path)
    {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

TEST_F(RecordFiles, NamesAndFolders)
{
    char path[MAX_TEXT];
    GetRecordFilePath("(QRF)App", -1, path, 0);
    EXPECT_EQ(std::string(path), Path("data\\(QRF)App.rgc"));
    GetRecordFilePath("(QRF)Win", 3, path, 0);
    EXPECT_EQ(std::string(path), Path("data\\(QRF)Win3.rgc"));
    GetRecordFilePath("(QRF)Win", 0, path, 1);
    EXPECT_EQ(std::string(path), Path("common\\(QRF)Win0.rgc"));
    strcpy(gApp.secondFolder, gApp.dataFolder);
    GetRecordFilePath("x", -1, path, 1);
    EXPECT_EQ(std::string(path), Path("data\\x.rgc"));
    // Before a data folder is chosen nothing goes to the drive's root or the working folder.
    gApp.dataFolder[0] = 0;
    GetRecordFilePath("(QRF)Win", 7, path, 0);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(WriteRecordFile("(QRF)Win", 7, "abc", 3, 0), 0);
    EXPECT_FALSE(Exists("\\(QRF)Win7.rgc"));
    EXPECT_FALSE(Exists("_tmp"));
    EXPECT_EQ(ReadRecordFile("(QRF)Win", 7, path, 3, 0), 0);
}

TEST_F(RecordFiles, WriteReadRoundTripThroughTempFile)
{
    const char record[] = "-PROFILE Home";
    ASSERT_EQ(WriteRecordFile("(QRF)Cmd", -1, record, sizeof record, 0), (int)sizeof record);
    EXPECT_FALSE(Exists(Path("data\\(QRF)Cmd.rgc_tmp")));
    EXPECT_EQ(ReadRecordFile("(QRF)Cmd", -1, nullptr, 0, 0), (int)sizeof record);
    char back[64];
    memset(back, 'z', sizeof back);
    EXPECT_EQ(ReadRecordFile("(QRF)Cmd", -1, back, sizeof back, 0), (int)sizeof record);
    EXPECT_STREQ(back, record);
    EXPECT_EQ(back[sizeof record], 'z');   // nothing written past what was read
    EXPECT_EQ(ReadRecordFile("missing", -1, back, sizeof back, 0), 0);

    // The record is exactly the bytes: no header.
    EXPECT_EQ(Contents(Path("data\\(QRF)Cmd.rgc")), std::string(record, sizeof record));
}

TEST_F(RecordFiles, ShorterFileKeepsTheRestOfTheRecord)
{
    WriteRecordFile("r", 1, "abc", 3, 0);
    char record[8] = "1234567";
    EXPECT_EQ(ReadRecordFile("r", 1, record, 7, 0), 3);
    EXPECT_STREQ(record, "abc4567");
}

TEST_F(RecordFiles, FailedTempCreationKeepsOldRecord)
{
    ASSERT_EQ(WriteRecordFile("keep", -1, "old", 3, 0), 3);
    // A folder in the temporary file's place makes its creation fail.
    ASSERT_TRUE(CreateDirectoryA(Path("data\\keep.rgc_tmp").c_str(), 0));
    EXPECT_EQ(WriteRecordFile("keep", -1, "new!", 4, 0), 0);
    EXPECT_EQ(Contents(Path("data\\keep.rgc")), "old");
}

TEST_F(RecordFiles, LockedTargetKeepsOldRecordAndLeavesNoTempFile)
{
    ASSERT_EQ(WriteRecordFile("locked", -1, "old", 3, 0), 3);
    HANDLE lock = CreateFileA(Path("data\\locked.rgc").c_str(), GENERIC_READ, 0, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(WriteRecordFile("locked", -1, "new", 3, 0), 0);
    CloseHandle(lock);
    EXPECT_EQ(Contents(Path("data\\locked.rgc")), "old");
    // A failed write takes its temporary away (on a full disk it would hold
    // the little space left).
    EXPECT_FALSE(Exists(Path("data\\locked.rgc_tmp")));
    EXPECT_EQ(WriteRecordFile("locked", -1, "newer", 5, 0), 5);
    EXPECT_EQ(Contents(Path("data\\locked.rgc")), "newer");
    EXPECT_FALSE(Exists(Path("data\\locked.rgc_tmp")));
}

TEST_F(RecordFiles, WriteCreatesMissingFolderChain)
{
    strcat(gApp.dataFolder, "\\a\\b\\c");
    EXPECT_EQ(WriteRecordFile("deep", -1, "x", 1, 0), 1);
    EXPECT_EQ(Contents(Path("data\\a\\b\\c\\deep.rgc")), "x");
}

TEST_F(RecordFiles, GeneralForms)
{
    std::string folder = Path("other");
    EXPECT_EQ(WriteRecordFileEx(folder.c_str(), "Preferences", "rgc", "p", 1, 0), 1);
    EXPECT_EQ(Contents(Path("other\\Preferences.rgc")), "p");
    EXPECT_EQ(ReadRecordFileEx(folder.c_str(), "Preferences", "rgc", nullptr, 0, 0), 1);
    EXPECT_EQ(WriteRecordFileEx(nullptr, "noext", nullptr, "q", 1, 1), 1);
    EXPECT_EQ(Contents(Path("common\\noext")), "q");
    std::string full = Path("other\\full.bin");
    EXPECT_EQ(WriteRecordFileEx(full.c_str(), nullptr, nullptr, "f", 1, 0), 1);
    EXPECT_EQ(ReadRecordFileEx(full.c_str(), nullptr, nullptr, nullptr, 0, 0), 1);
    EXPECT_EQ(WriteRecordFile("bad", -1, nullptr, 4, 0), 0);
    EXPECT_EQ(WriteRecordFile("bad", -1, "x", -1, 0), 0);
}

TEST_F(RecordFiles, OverlongNamesAreCutNeverOverrun)
{
    std::string name(400, 'n');
    char path[MAX_TEXT + 16];
    memset(path, '#', sizeof path);
    GetRecordFilePath(name.c_str(), 12345, path, 0);
    EXPECT_EQ(strlen(path), 259u);
    EXPECT_EQ(path[MAX_TEXT], '#');
    // A name whose temporary file would be cut onto another name is refused,
    // and the reason read afterwards is that, not an earlier call's.
    SetLastError(ERROR_DISK_FULL);
    EXPECT_EQ(WriteRecordFile(name.c_str(), -1, "x", 1, 0), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    std::string target = Path(std::string(MAX_TEXT - 4 - strlen(root) - 1, 't').c_str());
    SetLastError(ERROR_DISK_FULL);
    EXPECT_EQ(WriteFileReplacing(target.c_str(), "x", 1), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    SetLastError(ERROR_DISK_FULL);
    EXPECT_FALSE(CopyFileReplacing(Path("any").c_str(), target.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FALSE(Exists(target));
}

TEST_F(RecordFiles, PlainFileModes)
{
    std::string p = Path("plain.txt");
    EXPECT_EQ(WriteFileData(p.c_str(), "hello", 5, 0), 5);
    EXPECT_EQ(WriteFileData(p.c_str(), "HE", 2, 2), 2);   // in place, no truncation
    EXPECT_EQ(Contents(p), "HEllo");
    EXPECT_EQ(WriteFileData(p.c_str(), "!!", 2, 1), 2);   // append
    EXPECT_EQ(Contents(p), "HEllo!!");
    EXPECT_EQ(WriteFileData(p.c_str(), "x", 1, 0), 1);    // truncate
    EXPECT_EQ(Contents(p), "x");
    EXPECT_EQ(ReadFileData(p.c_str(), nullptr, 0), 1);
    std::string deep = Path("n1\\n2\\f.txt");
    EXPECT_EQ(WriteFileData(deep.c_str(), "d", 1, 0), 1);
    EXPECT_EQ(Contents(deep), "d");
    EXPECT_EQ(ReadFileData(Path("nope").c_str(), nullptr, 0), 0);
}

TEST_F(RecordFiles, CreateFolderPathResults)
{
    EXPECT_EQ(CreateFolderPath("", false), 2);
    EXPECT_EQ(CreateFolderPath(nullptr, false), 2);
    EXPECT_EQ(CreateFolderPath(root, false), 0);
    std::string chain = Path("x1\\x2\\x3\\x4");
    EXPECT_EQ(CreateFolderPath(chain.c_str(), false), 0);
    DWORD attributes = GetFileAttributesA(chain.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // A file standing where a folder must go cannot be passed.
    WriteFileData(Path("blocker").c_str(), "b", 1, 0);
    EXPECT_EQ(CreateFolderPath(Path("blocker\\sub").c_str(), true), 1);
}

TEST_F(RecordFiles, WriteAccessTest)
{
    EXPECT_EQ(TestWriteAccess(root), 0);
    EXPECT_EQ(TestWriteAccess((std::string(root) + "\\").c_str()), 0);
    EXPECT_FALSE(Exists(Path("QRFWriteTest.tmp")));
    EXPECT_EQ(TestWriteAccess(Path("no-such-folder").c_str()), 2);
}
