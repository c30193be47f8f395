#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>

#include "framework/application.h"
#include "framework/configstore.h"
#include "framework/recordfile.h"
#include "framework/zip.h"
#include "testutil.h"

static std::string Text(const CConfigStore &store)
{
    return std::string(store.text.data ? store.text.data : "", store.text.count);
}

static std::string Line(const std::string &key, const std::string &value)
{
    return key + "=" + value + std::string("\0\r\n", 3);
}

// A read-mode store over the given text, as a load would leave it.
static void FillText(CConfigStore *store, const std::string &text)
{
    store->text.RemoveAll();
    store->text.AppendBytes(text.data(), (int)text.size());
    store->searchOffset = 0;
}

TEST(ConfigStore, KeyTemplates)
{
    CConfigStore prefs(400, "gPrefs.");
    prefs.FormatKey("gPrefs.bAutoStart", 0, 0, 0);
    EXPECT_STREQ(prefs.key, "bAutoStart");
    CConfigStore views(400, "opt");
    views.FormatKey("NumViews", 0, 0, 0);   // the cut is by length only
    EXPECT_STREQ(views.key, "Views");
    views.FormatKey("opt[xi].City[xj].city", 0, 3, 0);
    EXPECT_STREQ(views.key, "[0].City[3].city");
    views.FormatKey("&opt[xi].a[xj].b[xk].c", 1, 22, 333);
    EXPECT_STREQ(views.key, "[1].a[22].b[333].c");
    views.FormatKey("opt[3]", 9, 0, 0);     // a digit is no index name
    EXPECT_STREQ(views.key, "[3]");
    views.FormatKey("op", 0, 0, 0);         // shorter than the strip name
    EXPECT_STREQ(views.key, "");
    views.FormatKey("opt100%[xi]", 5, 0, 0);
    EXPECT_STREQ(views.key, "100%[5]");
    std::string longTemplate = "opt" + std::string(600, 'k');
    views.FormatKey(longTemplate.c_str(), 0, 0, 0);
    EXPECT_EQ(strlen(views.key), 259u);
}

TEST(ConfigStore, ValueFormsWritten)
{
    CConfigStore s(400, "gPrefs.");
    signed char c = -5;
    uint8_t hb = 0xAB, flag = 7;
    int32_t n = -123456;
    uint32_t colour = 0x00EE6E18;
    float f2 = 2.0f, ftenth = 0.1f, fbig = 123456789.0f;
    double pi = 3.14159265358979323846, tiny = 1.5e-12;
    int64_t t = -1234567890123LL;
    char name[] = "Home Sweet Home";
    s.ExchangeChar(&c, 1, "gPrefs.iChar");
    s.ExchangeHexByte(&hb, 1, "gPrefs.iHex");
    s.ExchangeInt(&n, 4, "gPrefs.iInt");
    s.ExchangeHex(&colour, 4, "gPrefs.crColor");
    s.ExchangeFloat(&f2, 4, "gPrefs.fTwo");
    s.ExchangeFloat(&ftenth, 4, "gPrefs.fTenth");
    s.ExchangeFloat(&fbig, 4, "gPrefs.fBig");
    s.ExchangeDouble(&pi, 8, "gPrefs.dPi");
    s.ExchangeDouble(&tiny, 8, "gPrefs.dTiny");
    s.ExchangeInt64(&t, 8, "gPrefs.tTime");
    s.ExchangeBool(&flag, 1, "gPrefs.bFlag");
    s.ExchangeString(name, sizeof name, "gPrefs.szName");
    std::string expected = Line("iChar", "-5") + Line("iHex", "AB") + Line("iInt", "-123456") +
                           Line("crColor", "0x00EE6E18") + Line("fTwo", "2.0") +
                           Line("fTenth", "0.1") + Line("fBig", "1.2345679e+08") +
                           Line("dPi", "3.14159265358979") + Line("dTiny", "1.5e-12") +
                           Line("tTime", "-1234567890123") + Line("bFlag", "1") +
                           Line("szName", "Home Sweet Home");
    EXPECT_EQ(Text(s), expected);
}

TEST(ConfigStore, ValueFormsRead)
{
    CConfigStore s(0, "");
    FillText(&s, Line("c", "-100") + Line("hb", "ab") + Line("i", "77") + Line("h", "0xDEADBEEF") +
                     Line("f", "2.5") + Line("d", "-0.125") + Line("t", "9000000000") +
                     Line("b", "10") + Line("b0", "01") + Line("s", "abcdefghij"));
    signed char c = 0;
    uint8_t hb = 0, b = 0, b0 = 1;
    int32_t i = 0;
    uint32_t h = 0;
    float f = 0;
    double d = 0;
    int64_t t = 0;
    char small[5];
    EXPECT_EQ(s.ExchangeChar(&c, 1, "c"), 0);
    EXPECT_EQ(c, -100);
    EXPECT_EQ(s.ExchangeHexByte(&hb, 1, "hb"), 0);
    EXPECT_EQ(hb, 0xAB);
    EXPECT_EQ(s.ExchangeInt(&i, 4, "i"), 0);
    EXPECT_EQ(i, 77);
    EXPECT_EQ(s.ExchangeHex(&h, 4, "h"), 0);
    EXPECT_EQ(h, 0xDEADBEEFu);
    EXPECT_EQ(s.ExchangeFloat(&f, 4, "f"), 0);
    EXPECT_EQ(f, 2.5f);
    EXPECT_EQ(s.ExchangeDouble(&d, 8, "d"), 0);
    EXPECT_EQ(d, -0.125);
    EXPECT_EQ(s.ExchangeInt64(&t, 8, "t"), 0);
    EXPECT_EQ(t, 9000000000LL);
    EXPECT_EQ(s.ExchangeBool(&b, 1, "b"), 0);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(s.ExchangeBool(&b0, 1, "b0"), 0);
    EXPECT_EQ(b0, 0);
    memset(small, 'x', sizeof small);
    EXPECT_EQ(s.ExchangeString(small, sizeof small, "s"), 0);
    EXPECT_STREQ(small, "abcd");
}

TEST(ConfigStore, UnparsableAndAbsentKeepTheValue)
{
    CConfigStore s(0, "");
    FillText(&s, Line("h", "DEADBEEF") + Line("t", "soon"));
    uint32_t h = 5;
    int64_t t = 6;
    int i = 7;
    EXPECT_EQ(s.ExchangeHex(&h, 4, "h"), 1);
    EXPECT_EQ(h, 5u);
    EXPECT_EQ(s.ExchangeInt64(&t, 8, "t"), 1);
    EXPECT_EQ(t, 6);
    EXPECT_EQ(s.ExchangeInt(&i, 4, "missing"), -1);
    EXPECT_EQ(i, 7);
}

TEST(ConfigStore, KeysMatchOnlyAtLineStarts)
{
    CConfigStore s(0, "");
    FillText(&s, Line("NumViews", "3") + Line("x", "Views=9") + Line("Views2", "4"));
    int v = -1;
    EXPECT_EQ(s.ExchangeInt(&v, 4, "Views"), -1);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(s.ExchangeInt(&v, 4, "NumViews"), 0);
    EXPECT_EQ(v, 3);
    // A missing terminator makes the entry absent.
    FillText(&s, Line("a", "1") + "b=2");
    EXPECT_EQ(s.ExchangeInt(&v, 4, "b"), -1);
    EXPECT_EQ(s.searchOffset, -1);
    EXPECT_EQ(s.ExchangeInt(&v, 4, "a"), 0);
    EXPECT_EQ(v, 1);
}

TEST(ConfigStore, ReverseOrderReadsFindEveryKey)
{
    CConfigStore w(400, "opt");
    int values[50];
    for (int i = 0; i < 50; i++) {
        values[i] = i * 11;
        w.ExchangeInt(&values[i], 4, "opt[xi].iValue", i);
    }
    CConfigStore r(0, "opt");
    FillText(&r, Text(w));
    for (int i = 49; i >= 0; i--) {
        int v = -1;
        ASSERT_EQ(r.ExchangeInt(&v, 4, "opt[xi].iValue", i), 0) << i;
        EXPECT_EQ(v, i * 11);
    }
}

class ConfigFiles : public ::testing::Test {
protected:
    std::string root;
    void SetUp() override
    {
        root = FreshTempFolder(std::string("config-") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        CopyText(gApp.dataFolder, root.c_str(), MAX_TEXT);
        CopyText(gApp.secondFolder, root.c_str(), MAX_TEXT);
    }
};

TEST_F(ConfigFiles, SaveLoadRoundTripKeepsVersionFromEntryName)
{
    CConfigStore w(400, "gPrefs.");
    char szName[64] = "Veltaspar";
    double lat = 48.1371;
    w.ExchangeString(szName, sizeof szName, "gPrefs.szName");
    w.ExchangeDouble(&lat, 8, "gPrefs.dLat");
    int size = w.Save("Preferences", -1, 0);
    ASSERT_GT(size, 0);
    EXPECT_EQ(ReadFileData((root + "\\Preferences.rgc").c_str(), nullptr, 0), size);

    ZipHandle *zip = CZipReader::Open((root + "\\Preferences.rgc").c_str(), kConfigPassword);
    ASSERT_NE(zip, nullptr);
    ZipEntryInfo info;
    ASSERT_EQ(CZipReader::GetEntry(zip, -1, &info), 0);
    EXPECT_EQ(info.index, 1);
    ASSERT_EQ(CZipReader::GetEntry(zip, 0, &info), 0);
    EXPECT_STREQ(info.name, "400");
    CZipReader::Close(zip);

    CConfigStore r(0, "gPrefs.");
    EXPECT_EQ(r.Load("Preferences", -1, 0), (int)Text(w).size());
    EXPECT_EQ(r.version, 400);
    char name[64] = "";
    double back = 0;
    EXPECT_EQ(r.ExchangeString(name, sizeof name, "gPrefs.szName"), 0);
    EXPECT_EQ(r.ExchangeDouble(&back, 8, "gPrefs.dLat"), 0);
    EXPECT_STREQ(name, "Veltaspar");
    EXPECT_EQ(back, 48.1371);
}

TEST_F(ConfigFiles, NamedStoresFollowTheRecordRule)
{
    CConfigStore w(1, "opt");
    int x = 1;
    w.ExchangeInt(&x, 4, "optX");
    EXPECT_GT(w.Save("Profile-%s\\Options", 1, 0, "Home"), 0);
    EXPECT_NE(GetFileAttributesA((root + "\\Profile-Home\\Options1.rgc").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST_F(ConfigFiles, LoadFailuresLeaveTheStoreEmpty)
{
    CConfigStore r(0, "");
    int v = 3;
    EXPECT_EQ(r.Load("missing", -1, 0), CONFIG_LOAD_NO_ARCHIVE);
    WriteFileData((root + "\\junk.rgc").c_str(), "this is no archive at all", 25, 0);
    EXPECT_EQ(r.Load("junk", -1, 0), CONFIG_LOAD_NO_ARCHIVE);
    EXPECT_EQ(r.ExchangeInt(&v, 4, "x"), -1);
    EXPECT_EQ(v, 3);

    // An archive under another password cannot be read as a store.
    ZipHandle *zip = CZipWriter::Create((root + "\\foreign.rgc").c_str(), "other");
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(CZipWriter::AddMemory(zip, "400", "x=1\0\r\n", 6), 0);
    ASSERT_EQ(CZipWriter::Close(zip), 0);
    EXPECT_EQ(r.Load("foreign", -1, 0), CONFIG_LOAD_EXTRACT);
    EXPECT_EQ(r.text.count, 0);
}

TEST_F(ConfigFiles, FailedSaveKeepsTheGoodStore)
{
    CConfigStore good(400, "");
    int v = 1;
    good.ExchangeInt(&v, 4, "v");
    ASSERT_GT(good.Save("Keep", -1, 0), 0);
    std::string path = root + "\\Keep.rgc";
    char before[512];
    int beforeSize = ReadFileData(path.c_str(), before, sizeof before);

    // Someone holds the store open: the save fails and the old bytes remain.
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    CConfigStore next(400, "");
    v = 2;
    next.ExchangeInt(&v, 4, "v");
    EXPECT_EQ(next.Save("Keep", -1, 0), CONFIG_SAVE_NOT_WRITTEN);
    CloseHandle(lock);
    char after[512];
    ASSERT_EQ(ReadFileData(path.c_str(), after, sizeof after), beforeSize);
    EXPECT_EQ(memcmp(before, after, (size_t)beforeSize), 0);
    EXPECT_EQ(GetFileAttributesA((path + "_tmp").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Random text must never crash the lookup or the parsers.
TEST(ConfigStore, FuzzedTextIsHandled)
{
    srand(99);
    const char alphabet[] = {'a', 'b', '=', '\n', '\r', 0, '1', '0', 'x', '-', '.', 'e'};
    for (int round = 0; round < 3000; round++) {
        std::string text;
        int length = rand() % 64;
        for (int i = 0; i < length; i++)
            text += alphabet[rand() % sizeof alphabet];
        CConfigStore s(0, "");
        FillText(&s, text);
        s.searchOffset = rand() % 80 - 10;
        int i = 0;
        uint32_t h = 0;
        int64_t t = 0;
        double d = 0;
        char str[4];
        if (s.ExchangeInt(&i, 4, "a") == 0) {
            // A found value lies inside the text and is terminated there.
            ASSERT_GE(s.value, s.text.data);
            ASSERT_LT(s.value + strlen(s.value), s.text.data + s.text.count);
            ASSERT_LT(s.searchOffset, s.text.count);
        }
        s.ExchangeHex(&h, 4, "b");
        s.ExchangeInt64(&t, 8, "ab");
        s.ExchangeDouble(&d, 8, "");
        s.ExchangeString(str, sizeof str, "a");
    }
}

// Info-ZIP opens a saved store with the configuration password and finds
// exactly the lines that were exchanged.
TEST(ConfigStoreInterop, UnzipReadsTheStoreText)
{
    CreateDirectoryA("storeout", 0);
    CopyText(gApp.dataFolder, "storeout", MAX_TEXT);
    CConfigStore w(400, "gPrefs.");
    uint8_t flag = 1;
    float f = 0.25f;
    uint32_t colour = 0x00784632;
    w.ExchangeBool(&flag, 1, "gPrefs.bAutoStart");
    w.ExchangeFloat(&f, 4, "gPrefs.fValue");
    w.ExchangeHex(&colour, 4, "gPrefs.crColor");
    ASSERT_GT(w.Save("Preferences", -1, 0), 0);
    std::string report;
    int ran = RunHostScript("storeout", std::string("unzip -Z1 Preferences.rgc; ") +
                                            "unzip -p -P " + kConfigPassword +
                                            " Preferences.rgc > text.out; unzip -t -P " +
                                            kConfigPassword + " Preferences.rgc",
                            &report);
    VT_REQUIRE_OR_SKIP(ran != 1, "Wine cannot start host programs here");
    ASSERT_EQ(ran, 0) << report;
    EXPECT_EQ(report.substr(0, 4), "400\n") << report;
    EXPECT_NE(report.find("No errors detected"), std::string::npos) << report;
    EXPECT_EQ(ReadWhole("storeout\\text.out"), Line("bAutoStart", "1") + Line("fValue", "0.25") +
                                                   Line("crColor", "0x00784632"));
}
