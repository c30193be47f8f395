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
    store->DropIndex();
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

TEST(ConfigStore, LookupRulesKeepTheirEdges)
{
    CConfigStore s(0, "");
    // A value may hold "=" and a LF; a key right after that LF counts.
    FillText(&s, Line("a", "b=c") + Line("note", "one\nk=two") + Line("k", "three") +
                     Line("a", "second"));
    char text[32];
    EXPECT_EQ(s.ExchangeString(text, sizeof text, "a"), 0);
    EXPECT_STREQ(text, "b=c");
    EXPECT_EQ(s.ExchangeString(text, sizeof text, "k"), 0);
    EXPECT_STREQ(text, "two");
    // A repeated key: the first after the last find, else the first of all.
    EXPECT_EQ(s.ExchangeString(text, sizeof text, "a"), 0);
    EXPECT_STREQ(text, "second");
    EXPECT_EQ(s.ExchangeString(text, sizeof text, "a"), 0);
    EXPECT_STREQ(text, "b=c");
    s.FormatKey("a=b", 0, 0, 0);   // the key's bytes and then "="
    EXPECT_GT(s.FindKey(), 0);
    EXPECT_STREQ(s.value, "c");
    // The longest key the buffer holds.
    std::string longest(259, 'k');
    FillText(&s, Line("a", "1") + Line(longest, "2"));
    EXPECT_EQ(s.ExchangeString(text, sizeof text, longest.c_str()), 0);
    EXPECT_STREQ(text, "2");
}

// The lookup rules spelled out byte by byte, as the reference for any text
// and offset: the result, and where the value starts.
static int ReferenceFind(const std::string &text, const std::string &key, int *offset,
                         int *valueAt)
{
    int n = (int)text.size(), length = (int)key.size(), p = -1;
    int start = *offset < 0 ? 0 : (*offset > n ? n : *offset);
    for (int pass = 0; pass < 2 && p < 0; pass++) {
        for (int q = pass ? 0 : start; q + length < n && p < 0; q++)
            if ((q == 0 || text[q - 1] == '\n') && text.compare(q, length, key) == 0 &&
                text[q + length] == '=')
                p = q;
    }
    if (p < 0)
        return -1;
    *valueAt = p + length + 1;
    size_t end = text.find(std::string("\0\r\n", 3), (size_t)*valueAt);
    *offset = end == std::string::npos ? -1 : (int)end;
    return *offset;
}

TEST(ConfigStore, LookupsMatchTheLineRulesOnRandomText)
{
    srand(7);
    const std::string pieces[] = {"a", "b", "=", "\n", "\r", std::string(1, 0),
                                  std::string("\0\r\n", 3), "\na=", "\nb="};
    const char *keys[] = {"a", "b", "ab", "", "a=b", "a\nb", "ba="};
    for (int round = 0; round < 3000; round++) {
        std::string text;
        for (int n = rand() % 30; n > 0; n--)
            text += pieces[rand() % (sizeof pieces / sizeof pieces[0])];
        CConfigStore s(0, "");
        FillText(&s, text);
        int offset = rand() % 2 ? 0 : rand() % 90 - 5;
        s.searchOffset = offset;
        for (int look = 0; look < 8; look++) {
            const char *key = keys[rand() % (sizeof keys / sizeof keys[0])];
            int valueAt = -1;
            int want = ReferenceFind(text, key, &offset, &valueAt);
            snprintf(s.key, sizeof s.key, "%s", key);
            ASSERT_EQ(s.FindKey(), want) << round;
            ASSERT_EQ(s.searchOffset, offset) << round;
            if (want >= 0) {
                ASSERT_EQ(s.value - s.text.data, valueAt) << round;
            }
        }
    }
}

// A preset made to hurt: a view count at its maximum asks for about a
// million keys that are not there, behind a few entries and 64 KB of
// padding. Each lookup must cost about its key, not a scan of the text.
TEST(ConfigStore, AbsentKeysDoNotScanTheText)
{
    std::string padding;
    while (padding.size() < 65536)
        padding += "xxxxxxxxxxxxxxx\n";
    CConfigStore s(0, "opt");
    FillText(&s, Line("Views", "64") + Line("[0].iCityNumber", "256") + padding);
    int size = s.text.count, v = 0;
    for (int i = 0; i < 20000; i++)
        ASSERT_EQ(s.ExchangeInt(&v, 4, "opt[xi].City[xj].maxline", i / 256, i % 256), -1);
    EXPECT_EQ(s.ExchangeInt(&v, 4, "opt[xi].iCityNumber", 0), 0);
    EXPECT_EQ(v, 256);
    // The text indexed once, then each lookup its key at two places at most.
    EXPECT_LT(s.bytesExamined, 3 * (int64_t)size + 20000 * 2 * 24);

    // Keys whose entries never end: each found key would otherwise scan on
    // to the end of the text for a terminator.
    std::string open;
    for (int i = 0; i < 2000; i++)
        open += "[" + std::to_string(i) + "].iCityNumber=1\n";
    FillText(&s, open + padding);
    size = s.text.count;
    s.bytesExamined = 0;
    for (int i = 0; i < 2000; i++)
        ASSERT_EQ(s.ExchangeInt(&v, 4, "opt[xi].iCityNumber", i), -1);
    EXPECT_EQ(s.searchOffset, -1);
    EXPECT_LT(s.bytesExamined, 3 * (int64_t)size + 2000 * 2 * 24);
}

// The index follows the text: appends and a replaced text.
TEST(ConfigStore, ChangedTextIsLookedUpAfresh)
{
    CConfigStore w(400, "");
    int a = 1, b = 2;
    w.ExchangeInt(&a, 4, "a");
    w.FormatKey("zz", 0, 0, 0);
    EXPECT_EQ(w.FindKey(), -1);   // indexes the text
    w.ExchangeInt(&b, 4, "b");
    EXPECT_GE(w.FindKey(), 0);
    EXPECT_STREQ(w.value, "2");

    CConfigStore r(0, "");
    FillText(&r, Line("a", "1") + Line("bb", "2"));
    EXPECT_EQ(r.ExchangeInt(&a, 4, "zz"), -1);
    // The same length, maybe the same block, other places.
    FillText(&r, Line("bb", "7") + Line("a", "8"));
    EXPECT_EQ(r.ExchangeInt(&a, 4, "a"), 0);
    EXPECT_EQ(a, 8);
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

    // Loading another store into the same object finds its keys, not the old ones.
    CConfigStore other(400, "gPrefs.");
    int number = 5;
    other.ExchangeInt(&number, 4, "gPrefs.iNumber");
    ASSERT_GT(other.Save("Other", -1, 0), 0);
    ASSERT_GT(r.Load("Other", -1, 0), 0);
    EXPECT_EQ(r.ExchangeString(name, sizeof name, "gPrefs.szName"), -1);
    EXPECT_EQ(r.ExchangeInt(&number, 4, "gPrefs.iNumber"), 0);
    EXPECT_EQ(number, 5);
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
