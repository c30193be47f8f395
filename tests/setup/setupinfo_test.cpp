#include <gtest/gtest.h>

#include <windows.h>
#include <string.h>

#include <string>
#include <vector>

#include "framework/utilities.h"
#include "setup/setupinfo.h"

typedef std::vector<unsigned char> Bytes;

// Every test owns a registry value of its own, so that test executables run
// side by side never meet, and removes it afterwards.
class SetupInfo : public ::testing::Test {
protected:
    std::string name;
    SetupInfoRecord record;

    void SetUp() override
    {
        name = std::string("VtTest-") +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        DeleteValue();
    }
    void TearDown() override { DeleteValue(); }

    void DeleteValue()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, INSTALL_RECORD_KEY, 0, KEY_SET_VALUE, &key) == 0) {
            RegDeleteValueA(key, name.c_str());
            RegCloseKey(key);
        }
    }

    // Writes a value of the given size: version, then a byte pattern.
    Bytes WriteRaw(size_t size, int version)
    {
        Bytes bytes(size);
        for (size_t i = 0; i < size; i++)
            bytes[i] = (unsigned char)(i * 7 + 3);
        bytes[0] = (unsigned char)version;
        if (size > 1)
            bytes[1] = 0;
        HKEY key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, INSTALL_RECORD_KEY, 0, 0, 0,
                                  KEY_SET_VALUE, 0, &key, 0), 0);
        EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_BINARY, bytes.data(),
                                 (DWORD)size), 0);
        RegCloseKey(key);
        // What a reader keeps: the last byte of every text is forced to NUL.
        for (size_t end : {279u, 539u, 799u, 1059u, 1319u})
            if (end < size)
                bytes[end] = 0;
        return bytes;
    }
};

// The layout in plain numbers on purpose: it is the format installed
// versions wrote, which the named offsets of the record's header must match.
TEST_F(SetupInfo, WrittenRecordHasTheExactByteLayoutAndReadsBack)
{
    BuildSetupInfo(&record, "Veltaspar", "3.10", 1, 0, 1, "C:\\Program Files\\Veltaspar",
                   "D:\\Shared", "http://buy", "http://version", "http://download");
    record.recordVersion = 7;  // writing makes it 1
    record.finishStartMenuLink = 1;
    ASSERT_TRUE(WriteSetupInfo(name.c_str(), &record));

    Bytes raw(2000);
    DWORD size = (DWORD)raw.size(), type = 0;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, INSTALL_RECORD_KEY, 0, KEY_QUERY_VALUE, &key), 0);
    ASSERT_EQ(RegQueryValueExA(key, name.c_str(), 0, &type, raw.data(), &size), 0);
    RegCloseKey(key);
    ASSERT_EQ(size, 1328u);
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    const unsigned char head[] = {1, 0, 0, 0, 0, 0, 0xE2, 0x98, 0x2B, 0xE8,  // python's crc32
                                  3, 0, 10, 0, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(memcmp(raw.data(), head, sizeof head), 0);
    EXPECT_EQ(record.nameCrc, Crc32("Veltaspar", 9));
    EXPECT_STREQ((const char *)&raw[20], "C:\\Program Files\\Veltaspar");
    EXPECT_STREQ((const char *)&raw[280], "D:\\Shared");
    EXPECT_STREQ((const char *)&raw[800], "http://version");
    EXPECT_STREQ((const char *)&raw[1060], "http://download");
    EXPECT_EQ(raw[1320] | raw[1322] | raw[1324], 0);
    EXPECT_EQ(raw[1326], 1);

    SetupInfoRecord back;
    memset(&back, 0xEE, sizeof back);
    ASSERT_TRUE(ReadSetupInfo(name.c_str(), &back));
    EXPECT_EQ(memcmp(&back, raw.data(), sizeof back), 0);
}

TEST_F(SetupInfo, LongerValueReadsAsItsFirst1328Bytes)
{
    Bytes raw = WriteRaw(1400, 1);
    Bytes buffer(1400, 0xCC);
    ASSERT_TRUE(ReadSetupInfo(name.c_str(), (SetupInfoRecord *)buffer.data()));
    EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 1328, buffer.begin()));
    EXPECT_EQ(Bytes(buffer.begin() + 1328, buffer.end()), Bytes(72, 0xCC));
}

TEST_F(SetupInfo, ShorterValueReadsIntoAZeroedRecord)
{
    Bytes raw = WriteRaw(600, 1);
    memset(&record, 0xAB, sizeof record);
    ASSERT_TRUE(ReadSetupInfo(name.c_str(), &record));
    raw.resize(sizeof record, 0);
    EXPECT_EQ(memcmp(&record, raw.data(), sizeof record), 0);
}

TEST_F(SetupInfo, OtherVersionOrNoValueMeansNoRecord)
{
    char folder[260] = "untouched";
    EXPECT_FALSE(ReadSetupInfo(name.c_str(), &record));
    EXPECT_FALSE(GetConfigFolder(name.c_str(), folder));
    EXPECT_STREQ(folder, "");

    WriteRaw(1328, 2);
    Bytes main(1326);
    EXPECT_FALSE(ReadSetupInfo(name.c_str(), &record));
    EXPECT_FALSE(ReadMainInstallRecord(name.c_str(), main.data()));
    EXPECT_FALSE(ReadSaverSetupInfo(name.c_str(), &record));
}

TEST_F(SetupInfo, ShortRecordsAreRefusedAndLongOnesCutPerReader)
{
    Bytes buffer(1400, 0xCC);
    WriteRaw(1325, 1);
    EXPECT_FALSE(ReadMainInstallRecord(name.c_str(), buffer.data()));
    Bytes raw = WriteRaw(1326, 1);
    ASSERT_TRUE(ReadMainInstallRecord(name.c_str(), buffer.data()));
    WriteRaw(1328, 1);
    buffer.assign(1400, 0xCC);
    ASSERT_TRUE(ReadMainInstallRecord(name.c_str(), buffer.data()));
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), buffer.begin()));
    EXPECT_EQ(buffer[1326], 0xCC) << "the main program keeps 1326 bytes";

    WriteRaw(543, 1);
    EXPECT_FALSE(ReadSaverSetupInfo(name.c_str(), &record));
    raw = WriteRaw(544, 1);
    ASSERT_TRUE(ReadSaverSetupInfo(name.c_str(), &record));
    WriteRaw(1328, 1);
    ASSERT_TRUE(ReadSaverSetupInfo(name.c_str(), &record));
    raw.resize(sizeof record, 0);
    EXPECT_EQ(memcmp(&record, raw.data(), sizeof record), 0) << "the saver keeps 544 bytes";
}

TEST_F(SetupInfo, VersionTextGivesTwoNumbers)
{
    struct { const char *text; int major, minor; } cases[] = {
        {"3.10", 3, 10}, {" 7.2 beta", 7, 2}, {"12", 12, 0}, {"3.x", 3, 0}, {"x.5", 0, 0},
        {"-1.2", 0, 0}, {"99999999999.5", 0, 5}, {"32767.32768", 32767, 0}, {0, 0, 0},
    };
    for (const auto &c : cases) {
        int16_t major = -9, minor = -9;
        ParseVersionText(c.text, &major, &minor);
        EXPECT_EQ(major, c.major) << (c.text ? c.text : "null");
        EXPECT_EQ(minor, c.minor) << (c.text ? c.text : "null");
    }
}

TEST_F(SetupInfo, ConfigFolderFromTheRecordAndTheUser)
{
    ConfigFolderUser user = {"C:\\Users\\alice\\AppData\\Roaming", "alice"};
    BuildSetupInfo(&record, "Veltaspar", "1.0", 1, 1, 1, "C:\\P", "D:\\Data", 0, 0, 0);
    char folder[260];
    ASSERT_TRUE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
    EXPECT_STREQ(folder, "D:\\Data\\alice");
    record.individual = 0;
    ASSERT_TRUE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
    EXPECT_STREQ(folder, "D:\\Data");
    record.customLocation = 0;
    ASSERT_TRUE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
    EXPECT_STREQ(folder, "C:\\Users\\alice\\AppData\\Roaming\\Kestrova\\Veltaspar");

    // A folder that would be cut, or has no user part, is no folder.
    record.customLocation = record.individual = 1;
    memset(record.customPath, 'c', 256);  // with "\alice": 262 characters
    record.customPath[256] = 0;
    EXPECT_FALSE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
    EXPECT_STREQ(folder, "");
    strcpy(record.customPath, "D:\\Data");
    user.logonName[0] = 0;
    EXPECT_FALSE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
}

TEST_F(SetupInfo, CreateWritesTheRecordAndNamesItsConfigFolder)
{
    char logon[260];
    DWORD size = sizeof logon;
    ASSERT_TRUE(GetUserNameA(logon, &size));
    BuildSetupInfo(&record, name.c_str(), "2.5", 0, 1, 1, "C:\\P", "C:\\SharedData", 0, 0, 0);
    char folder[260];
    EXPECT_EQ(CreateSetupInfo(name.c_str(), &record, folder), 0);
    EXPECT_EQ(std::string(folder), std::string("C:\\SharedData\\") + logon);
    SetupInfoRecord back;
    ASSERT_TRUE(ReadSetupInfo(name.c_str(), &back));
    EXPECT_EQ(back.nameCrc, Crc32(name.c_str(), (int)name.size()));
}

// The main program and the screen saver hold only the record's bytes and
// reach its fields by their offsets: they must find what the engine wrote.
TEST_F(SetupInfo, ReadersFindTheWrittenFieldsByTheirOffsets)
{
    BuildSetupInfo(&record, "Veltaspar", "4.21", 1, 1, 1, "C:\\Program Files\\Veltaspar",
                   "E:\\Data", "http://buy.test", "http://version.test", "http://download.test");
    record.finishShowReadme = 1;
    ASSERT_TRUE(WriteSetupInfo(name.c_str(), &record));

    Bytes main(INSTALL_RECORD_MAIN_BYTES, 0xCC);
    ASSERT_TRUE(ReadMainInstallRecord(name.c_str(), main.data()));
    auto word = [&](int offset) { return main[offset] | main[offset + 1] << 8; };
    EXPECT_EQ(word(INSTALL_RECORD_VERSION_MAJOR), 4);
    EXPECT_EQ(word(INSTALL_RECORD_VERSION_MINOR), 21);
    EXPECT_EQ(word(INSTALL_RECORD_FOR_WHOM), 1);
    EXPECT_EQ(word(INSTALL_RECORD_CUSTOM_LOCATION), 1);
    EXPECT_EQ(word(INSTALL_RECORD_INDIVIDUAL), 1);
    uint32_t crc;
    memcpy(&crc, &main[INSTALL_RECORD_NAME_CRC], sizeof crc);
    EXPECT_EQ(crc, Crc32("Veltaspar", 9));
    EXPECT_STREQ(InstallRecordText(main.data(), INSTALL_RECORD_INSTALL_PATH),
                 "C:\\Program Files\\Veltaspar");
    EXPECT_STREQ(InstallRecordText(main.data(), INSTALL_RECORD_CUSTOM_PATH), "E:\\Data");
    EXPECT_STREQ(InstallRecordText(main.data(), INSTALL_RECORD_BUY_URL), "http://buy.test");
    EXPECT_STREQ(InstallRecordText(main.data(), INSTALL_RECORD_VERSION_URL),
                 "http://version.test");
    EXPECT_STREQ(InstallRecordText(main.data(), INSTALL_RECORD_DOWNLOAD_URL),
                 "http://download.test");
    EXPECT_EQ(word(INSTALL_RECORD_FINISH_CHOICES + 2), 1);   // the readme choice

    // Full-length texts from another writer stay within their fields.
    Bytes raw(INSTALL_RECORD_BYTES, 'x');
    raw[0] = 1;
    raw[1] = 0;
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, INSTALL_RECORD_KEY, 0, 0, 0, KEY_SET_VALUE, 0,
                              &key, 0), 0);
    RegSetValueExA(key, name.c_str(), 0, REG_BINARY, raw.data(), (DWORD)raw.size());
    RegCloseKey(key);
    ASSERT_TRUE(ReadMainInstallRecord(name.c_str(), main.data()));
    for (int offset : {INSTALL_RECORD_INSTALL_PATH, INSTALL_RECORD_CUSTOM_PATH,
                       INSTALL_RECORD_BUY_URL, INSTALL_RECORD_VERSION_URL,
                       INSTALL_RECORD_DOWNLOAD_URL})
        EXPECT_EQ(strlen(InstallRecordText(main.data(), offset)),
                  (size_t)INSTALL_RECORD_TEXT_BYTES - 1) << offset;
    ASSERT_TRUE(ReadSaverSetupInfo(name.c_str(), &record));
    EXPECT_EQ(strlen(record.customPath), (size_t)INSTALL_RECORD_TEXT_BYTES - 1);
    EXPECT_EQ(strlen(record.buyUrl), (size_t)(INSTALL_RECORD_SAVER_BYTES - INSTALL_RECORD_BUY_URL))
        << "the saver keeps nothing beyond its 544 bytes";
}

// A folder given with its backslash (a drive root, a user's typing) gets no
// second one.
TEST_F(SetupInfo, ConfigFolderBelowABaseEndingInABackslash)
{
    ConfigFolderUser user = {"C:\\Users\\bob\\AppData\\Roaming\\", "bob"};
    BuildSetupInfo(&record, "Veltaspar", "1.0", 0, 1, 1, "C:\\P", "D:\\", 0, 0, 0);
    char folder[260];
    ASSERT_TRUE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
    EXPECT_STREQ(folder, "D:\\bob");
    record.individual = 0;
    ASSERT_TRUE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
    EXPECT_STREQ(folder, "D:\\");
    record.customLocation = 0;
    ASSERT_TRUE(ComposeConfigFolder(&record, "Veltaspar", &user, folder));
    EXPECT_STREQ(folder, "C:\\Users\\bob\\AppData\\Roaming\\Kestrova\\Veltaspar");

    EXPECT_FALSE(EndsWithBackslash(0));
    EXPECT_FALSE(EndsWithBackslash(""));
    EXPECT_TRUE(EndsWithBackslash("\\"));
    EXPECT_TRUE(EndsWithBackslash("\\\\server\\share\\"));
    EXPECT_FALSE(EndsWithBackslash("C:\\a"));
    EXPECT_FALSE(EndsWithBackslash("C:\\a\\/"));
}
