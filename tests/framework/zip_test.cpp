// Zip reader and writer: interop with Info-ZIP in both directions, the exact
// record layout the writer produces, and hostile or damaged archives.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "framework/zip.h"
#include "testutil.h"

static const char kPassword[] = "Pass word 1";   // as in make_zip_fixtures.sh

// ---------------------------------------------------------------- helpers



static std::string Fixture(const std::string &name)
{
    return "zipfix\\" + name;
}

static uint32_t Get16(const std::string &s, size_t at)
{
    return (uint8_t)s[at] | (uint8_t)s[at + 1] << 8;
}

static uint32_t Get32(const std::string &s, size_t at)
{
    return Get16(s, at) | Get16(s, at + 2) << 16;
}

static void Put16(std::string &s, size_t at, uint32_t v)
{
    s[at] = (char)v;
    s[at + 1] = (char)(v >> 8);
}

static void Put32(std::string &s, size_t at, uint32_t v)
{
    Put16(s, at, v & 0xFFFF);
    Put16(s, at + 2, v >> 16);
}

static void Add16(std::string &s, uint32_t v)
{
    s += (char)v;
    s += (char)(v >> 8);
}

static void Add32(std::string &s, uint32_t v)
{
    Add16(s, v & 0xFFFF);
    Add16(s, v >> 16);
}

static uint32_t Crc(const std::string &s)
{
    return (uint32_t)crc32(0, (const Bytef *)s.data(), (uInt)s.size());
}

static size_t EndRecordAt(const std::string &image)
{
    return image.rfind(std::string("PK\x05\x06", 4));
}

// Offset of the central header of the named entry, or npos.
static size_t CentralOf(const std::string &image, const std::string &name)
{
    size_t at = Get32(image, EndRecordAt(image) + 16);
    for (uint32_t i = 0; i < Get16(image, EndRecordAt(image) + 10); i++) {
        uint32_t n = Get16(image, at + 28), e = Get16(image, at + 30), c = Get16(image, at + 32);
        if (image.compare(at + 46, n, name) == 0)
            return at;
        at += 46 + n + e + c;
    }
    return std::string::npos;
}

// The whole entry, read with a buffer of exactly its size.
static int ExtractString(ZipHandle *zip, int index, std::string *out)
{
    ZipEntryInfo info;
    int result = CZipReader::GetEntry(zip, index, &info);
    if (result != ZIP_OK)
        return result;
    std::vector<char> buffer(info.uncompressedSize + 1);
    result = CZipReader::ExtractToMemory(zip, index, buffer.data(), info.uncompressedSize);
    out->assign(buffer.data(), info.uncompressedSize);
    return result;
}

static FILETIME Utc(int year, int month, int day, int hour, int minute, int second)
{
    SYSTEMTIME st = {};
    st.wYear = (WORD)year;
    st.wMonth = (WORD)month;
    st.wDay = (WORD)day;
    st.wHour = (WORD)hour;
    st.wMinute = (WORD)minute;
    st.wSecond = (WORD)second;
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

static int64_t Ticks(const FILETIME &t)
{
    return (int64_t)((uint64_t)t.dwHighDateTime << 32 | t.dwLowDateTime);
}

// A stored entry written byte by byte, for names and fields our writer
// would never produce.
struct RawEntry {
    std::string name;
    std::string data;
    uint32_t versionMadeBy;
    uint32_t externalAttributes;
    std::string localExtra;
    uint32_t dosDateTime;
};

static RawEntry Raw(const std::string &name, const std::string &data)
{
    RawEntry e = {name, data, 0x0314, 0x81A40000, "", 0x52640000};   // Unix 0100644
    return e;
}

static std::string BuildRawZip(const std::vector<RawEntry> &entries)
{
    std::string image, directory;
    for (const RawEntry &e : entries) {
        uint32_t local = (uint32_t)image.size();
        Add32(image, 0x04034B50);
        Add16(image, 10);
        Add16(image, 0);
        Add16(image, 0);
        Add32(image, e.dosDateTime);
        Add32(image, Crc(e.data));
        Add32(image, (uint32_t)e.data.size());
        Add32(image, (uint32_t)e.data.size());
        Add16(image, (uint32_t)e.name.size());
        Add16(image, (uint32_t)e.localExtra.size());
        image += e.name + e.localExtra + e.data;
        Add32(directory, 0x02014B50);
        Add16(directory, e.versionMadeBy);
        Add16(directory, 10);
        Add16(directory, 0);
        Add16(directory, 0);
        Add32(directory, e.dosDateTime);
        Add32(directory, Crc(e.data));
        Add32(directory, (uint32_t)e.data.size());
        Add32(directory, (uint32_t)e.data.size());
        Add16(directory, (uint32_t)e.name.size());
        Add32(directory, 0);   // extra and comment lengths
        Add32(directory, 0);   // disk and internal attributes
        Add32(directory, e.externalAttributes);
        Add32(directory, local);
        directory += e.name;
    }
    uint32_t offset = (uint32_t)image.size();
    image += directory;
    Add32(image, 0x06054B50);
    Add32(image, 0);
    Add16(image, (uint32_t)entries.size());
    Add16(image, (uint32_t)entries.size());
    Add32(image, (uint32_t)directory.size());
    Add32(image, offset);
    Add16(image, 0);
    return image;
}

static ZipHandle *OpenImage(const std::string &image, const char *password = 0)
{
    return CZipReader::OpenSource(image.data(), (uint32_t)image.size(), ZIP_SOURCE_MEMORY,
                                  password);
}

struct MemoryEntry {
    const char *name;
    std::string data;
};

// Our writer's image of the given entries, finished and copied out.
static std::string WriteMemoryArchive(const std::vector<MemoryEntry> &entries,
                                      const char *password)
{
    size_t total = 1024;
    for (const MemoryEntry &e : entries)
        total += e.data.size() + 256;
    ZipHandle *zip = CZipWriter::CreateInMemory(0, (uint32_t)total, password);
    EXPECT_TRUE(zip != 0);
    if (!zip)
        return "";
    for (const MemoryEntry &e : entries) {
        int result = e.data.empty() ? CZipWriter::AddFolder(zip, e.name)
                                    : CZipWriter::AddMemory(zip, e.name, e.data.data(),
                                                            (uint32_t)e.data.size());
        EXPECT_EQ(result, 0) << e.name;
    }
    void *image = 0;
    uint32_t length = 0;
    EXPECT_EQ(CZipWriter::GetMemory(zip, &image, &length), 0);
    std::string copy((const char *)image, length);
    EXPECT_EQ(CZipWriter::Close(zip), 0);
    return copy;
}

// Deterministic bytes: xorshift from a fixed seed.
struct Prng {
    uint32_t state;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    std::string Bytes(size_t n)
    {
        std::string s(n, 0);
        for (size_t i = 0; i < n; i++)
            s[i] = (char)(Next() >> 24);
        return s;
    }
};

static std::string TextOf(size_t n)
{
    std::string s;
    for (int i = 0; s.size() < n; i++)
        s += "entry " + std::to_string(i % 977) + " of a compressible text\r\n";
    s.resize(n);
    return s;
}

// ---------------------------------------------------------------- Info-ZIP archives

static const char *const kFixtureEntries[] = {"emptydir/", "empty.txt", "text.txt",
                                              "readonly.txt", "sub/", "sub/nested.txt",
                                              "random.bin", "small.txt"};

TEST(InfoZipArchives, ReadBackByteForByte)
{
    const char *archives[] = {"stored.zip", "deflated.zip", "stored_pw.zip", "deflated_pw.zip",
                              "notimes.zip", "streamed.zip", "comment.zip", "sfx.zip"};
    for (const char *archive : archives) {
        SCOPED_TRACE(archive);
        bool encrypted = strstr(archive, "_pw") != 0;
        ZipHandle *zip = CZipReader::Open(Fixture(archive).c_str(), encrypted ? kPassword : 0);
        ASSERT_TRUE(zip != 0);
        ZipEntryInfo info;
        ASSERT_EQ(CZipReader::GetEntry(zip, -1, &info), 0);
        ASSERT_EQ(info.index, 8);
        std::set<std::string> names;
        for (int i = 0; i < 8; i++) {
            ASSERT_EQ(CZipReader::GetEntry(zip, i, &info), 0);
            names.insert(info.name);
            std::string bytes;
            ASSERT_EQ(ExtractString(zip, i, &bytes), 0) << info.name;
            if (info.attributes & FILE_ATTRIBUTE_DIRECTORY)
                EXPECT_EQ(bytes.size(), 0u);
            else
                EXPECT_TRUE(bytes == ReadWhole(Fixture(std::string("src\\") + info.name)))
                    << info.name;
        }
        EXPECT_EQ(names, std::set<std::string>(kFixtureEntries, kFixtureEntries + 8));
        EXPECT_EQ(CZipReader::Close(zip), 0);
    }
}

TEST(InfoZipArchives, UnixModesGiveReadOnlyAndFolders)
{
    ZipHandle *zip = CZipReader::Open(Fixture("deflated.zip").c_str(), 0);
    ASSERT_TRUE(zip != 0);
    ZipEntryInfo info;
    int index;
    ASSERT_EQ(CZipReader::FindEntry(zip, "readonly.txt", 0, &index, &info), 0);
    EXPECT_EQ(info.attributes, (uint32_t)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_EQ(CZipReader::FindEntry(zip, "text.txt", 0, &index, &info), 0);
    EXPECT_EQ(info.attributes, (uint32_t)FILE_ATTRIBUTE_ARCHIVE);
    ASSERT_EQ(CZipReader::FindEntry(zip, "sub/", 0, &index, &info), 0);
    EXPECT_EQ(info.attributes, (uint32_t)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE));
    CZipReader::Close(zip);
}

TEST(InfoZipArchives, TimesFromUtBlockOrDosStamp)
{
    FILETIME stamp = Utc(2021, 3, 4, 5, 6, 8);   // the fixtures' touch -d time
    ZipEntryInfo info;
    int index;
    ZipHandle *zip = CZipReader::Open(Fixture("deflated.zip").c_str(), 0);
    ASSERT_TRUE(zip != 0);
    ASSERT_EQ(CZipReader::FindEntry(zip, "text.txt", 0, &index, &info), 0);
    EXPECT_EQ(Ticks(info.modificationTime), Ticks(stamp));
    EXPECT_EQ(Ticks(info.creationTime), Ticks(stamp));   // no creation time in the block: DOS stamp
    CZipReader::Close(zip);
    // Without extra fields only the DOS stamp is left; it is local time on
    // both sides, which share the host's zone.
    zip = CZipReader::Open(Fixture("notimes.zip").c_str(), 0);
    ASSERT_TRUE(zip != 0);
    ASSERT_EQ(CZipReader::FindEntry(zip, "text.txt", 0, &index, &info), 0);
    EXPECT_EQ(Ticks(info.modificationTime), Ticks(stamp));
    EXPECT_EQ(Ticks(info.creationTime), Ticks(stamp));
    CZipReader::Close(zip);
}

TEST(InfoZipArchives, LongCommentPutsEndRecordInSecondWindow)
{
    std::string image = ReadWhole(Fixture("comment.zip"));
    ASSERT_GT(image.size() - EndRecordAt(image), 2000u);
    ZipHandle *zip = CZipReader::Open(Fixture("comment.zip").c_str(), 0);
    ASSERT_TRUE(zip != 0);
    CZipReader::Close(zip);
}

// A wrong password passes the one-byte check now and then (1 in 256); the
// data error that follows must still never look like success.
TEST(InfoZipArchives, WrongOrMissingPasswordIsReported)
{
    const char *wrong[] = {0, "", "pass word 1", "Pass word 2", "x"};
    for (const char *archive : {"stored_pw.zip", "deflated_pw.zip"}) {
        int passwordFailures = 0;
        for (const char *password : wrong) {
            ZipHandle *zip = CZipReader::Open(Fixture(archive).c_str(), password);
            ASSERT_TRUE(zip != 0);
            int index;
            ZipEntryInfo info;
            ASSERT_EQ(CZipReader::FindEntry(zip, "text.txt", 0, &index, &info), 0);
            std::string bytes;
            int result = ExtractString(zip, index, &bytes);
            EXPECT_TRUE(result == ZIP_BAD_PASSWORD || result == ZIP_DATA_ERROR) << result;
            passwordFailures += result == ZIP_BAD_PASSWORD;
            CZipReader::Close(zip);
        }
        EXPECT_GE(passwordFailures, 4) << archive;
    }
}

TEST(InfoZipArchives, ExtractToFileRestoresBytesAttributesAndTimes)
{
    std::string base = FreshTempFolder("zip-extract") + "\\deep\\base";
    ZipHandle *zip = CZipReader::Open(Fixture("deflated_pw.zip").c_str(), kPassword);
    ASSERT_TRUE(zip != 0);
    ASSERT_EQ(CZipReader::SetBaseFolder(zip, base.c_str()), 0);
    for (int pass = 0; pass < 2; pass++) {   // the second pass overwrites read-only files
        for (int i = 0; i < 8; i++) {
            ZipEntryInfo info;
            ASSERT_EQ(CZipReader::GetEntry(zip, i, &info), 0);
            ASSERT_EQ(CZipReader::ExtractToFile(zip, i, info.name), 0) << info.name;
        }
    }
    CZipReader::Close(zip);
    EXPECT_TRUE(ReadWhole(base + "\\text.txt") == ReadWhole(Fixture("src\\text.txt")));
    EXPECT_EQ(ReadWhole(base + "\\sub\\nested.txt"), "nested file\n");
    EXPECT_EQ(ReadWhole(base + "\\empty.txt"), "");
    EXPECT_TRUE(GetFileAttributesA((base + "\\emptydir").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(GetFileAttributesA((base + "\\readonly.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(GetFileAttributesA((base + "\\text.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA((base + "\\text.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME created, accessed, written;
    GetFileTime(file, &created, &accessed, &written);
    CloseHandle(file);
    EXPECT_EQ(Ticks(written), Ticks(Utc(2021, 3, 4, 5, 6, 8)));
}

TEST(InfoZipArchives, PrependedStubIsSkipped)
{
    // sfx.zip is deflated.zip behind a 5000-byte stub whose offsets were not adjusted.
    ZipHandle *zip = CZipReader::Open(Fixture("sfx.zip").c_str(), 0);
    ASSERT_TRUE(zip != 0);
    int index;
    ZipEntryInfo info;
    ASSERT_EQ(CZipReader::FindEntry(zip, "random.bin", 0, &index, &info), 0);
    std::string bytes;
    EXPECT_EQ(ExtractString(zip, index, &bytes), 0);
    EXPECT_TRUE(bytes == ReadWhole(Fixture("src\\random.bin")));
    CZipReader::Close(zip);
}

// ---------------------------------------------------------------- our archives read by Info-ZIP



static size_t CountOf(const std::string &text, const std::string &word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        n++;
    return n;
}

TEST(WriterInterop, InfoZipTestsAndExtractsOurArchives)
{
    CreateDirectoryA("zipout", 0);
    std::string block = Prng{7}.Bytes(30000) + TextOf(50000);
    WriteWhole("zipout\\block.dat", block);
    // One archive per kind of output: a plain file, an encrypted file and an
    // encrypted memory image.
    for (int kind = 0; kind < 3; kind++) {
        std::string path = "zipout\\ours" + std::to_string(kind) + ".zip";
        const char *password = kind ? kPassword : 0;
        ZipHandle *zip = kind < 2 ? CZipWriter::Create(path.c_str(), password)
                                  : CZipWriter::CreateInMemory(0, 1 << 20, password);
        ASSERT_TRUE(zip != 0);
        const char *files[] = {"text.txt", "random.bin", "empty.txt", "readonly.txt"};
        for (const char *file : files)
            ASSERT_EQ(CZipWriter::AddFile(zip, file, Fixture(std::string("src\\") + file).c_str()),
                      0);
        ASSERT_EQ(CZipWriter::AddFile(zip, "copy\\of\\text.GZ", Fixture("src\\text.txt").c_str()),
                  0);
        ASSERT_EQ(CZipWriter::AddMemory(zip, "mem/block.dat", block.data(),
                                        (uint32_t)block.size()), 0);
        ASSERT_EQ(CZipWriter::AddFolder(zip, "folder"), 0);
        if (kind == 2) {
            void *image;
            uint32_t length;
            ASSERT_EQ(CZipWriter::GetMemory(zip, &image, &length), 0);
            WriteWhole(path, std::string((const char *)image, length));
        }
        ASSERT_EQ(CZipWriter::Close(zip), 0);
    }
    std::string fix = "../zipfix/src/";
    std::string body;
    for (int kind = 0; kind < 3; kind++) {
        std::string archive = "ours" + std::to_string(kind) + ".zip";
        std::string p = kind ? " -P '" + std::string(kPassword) + "'" : "";
        body += "unzip -t" + p + " " + archive + "\n";
        body += "zipinfo " + archive + " | sed 's/^/zipinfo: /'\n";
        const char *pairs[][2] = {{"text.txt", "text.txt"},         {"random.bin", "random.bin"},
                                  {"empty.txt", "empty.txt"},       {"readonly.txt", "readonly.txt"},
                                  {"copy/of/text.GZ", "text.txt"}};
        for (auto &pair : pairs)
            body += "unzip -p" + p + " " + archive + " '" + pair[0] + "' | cmp -s - '" + fix +
                    pair[1] + "' && echo same || echo DIFFERENT " + archive + " " + pair[0] + "\n";
        body += "unzip -p" + p + " " + archive +
                " mem/block.dat | cmp -s - block.dat && echo same || echo DIFFERENT block\n";
    }
    std::string report;
    int ran = RunHostScript("zipout", body, &report);
    VT_REQUIRE_OR_SKIP(ran != 1, "Wine cannot start host programs here");
    ASSERT_EQ(ran, 0) << "the host script never finished: " << report;
    EXPECT_EQ(CountOf(report, "No errors detected in compressed data"), 3u) << report;
    EXPECT_EQ(CountOf(report, "same"), 18u) << report;
    EXPECT_EQ(CountOf(report, "DIFFERENT"), 0u) << report;
    // zipinfo: the .GZ name is stored, the folder is a stored directory,
    // plain files are deflated; "B"/"T" mark encrypted entries.
    EXPECT_EQ(CountOf(report, " stor "), 6u) << report;
    EXPECT_EQ(CountOf(report, " BX "), 12u) << report;
    EXPECT_NE(report.find(" copy/of/text.GZ"), std::string::npos) << report;
    EXPECT_NE(report.find(" folder/"), std::string::npos) << report;
    EXPECT_EQ(CountOf(report, "zipinfo: Zip file size"), 3u) << report;
}

// ---------------------------------------------------------------- writer layout

TEST(ZipWriter, EncryptedMemoryImageLayout)
{
    std::string text = TextOf(1000);
    std::string image = WriteMemoryArchive({{"400", text}}, "TorWexLM52k38v");
    ASSERT_GT(image.size(), 200u);
    // Local header: never rewritten for an encrypted entry.
    EXPECT_EQ(Get32(image, 0), 0x04034B50u);
    EXPECT_EQ(Get16(image, 4), 20u);
    EXPECT_EQ(Get16(image, 6), 9u);
    EXPECT_EQ(Get16(image, 8), 8u);
    EXPECT_EQ(Get32(image, 14), 0u);
    EXPECT_EQ(Get32(image, 22), 1000u);
    EXPECT_EQ(Get16(image, 26), 3u);
    EXPECT_EQ(Get16(image, 28), 17u);
    EXPECT_EQ(image.substr(30, 3), "400");
    EXPECT_EQ(Get16(image, 33), 0x5455u);
    EXPECT_EQ(Get16(image, 35), 13u);
    EXPECT_EQ((uint8_t)image[37], 7);
    size_t central = CentralOf(image, "400");
    ASSERT_NE(central, std::string::npos);
    uint32_t compressed = Get32(image, central + 20);
    // Data descriptor right after the data (12 header bytes included in it).
    size_t descriptor = 30 + 3 + 17 + compressed;
    EXPECT_EQ(Get32(image, descriptor), 0x08074B50u);
    EXPECT_EQ(Get32(image, descriptor + 4), Crc(text));
    EXPECT_EQ(Get32(image, descriptor + 8), compressed);
    EXPECT_EQ(Get32(image, descriptor + 12), 1000u);
    EXPECT_EQ(central, descriptor + 16);
    EXPECT_EQ(Get16(image, central + 4), 0x0A17u);
    EXPECT_EQ(Get16(image, central + 8), 9u);
    EXPECT_EQ(Get32(image, central + 16), Crc(text));
    EXPECT_EQ(Get16(image, central + 30), 9u);
    EXPECT_EQ(Get16(image, central + 46 + 3 + 2), 5u);
    // The image ends exactly after the end record.
    EXPECT_EQ(image.size(), central + 46 + 3 + 9 + 22);
    EXPECT_EQ(EndRecordAt(image), image.size() - 22);
    EXPECT_EQ(Get16(image, image.size() - 12), 1u);
    EXPECT_EQ(Get32(image, image.size() - 10), 46u + 3 + 9);
    ZipHandle *zip = OpenImage(image, "TorWexLM52k38v");
    ASSERT_TRUE(zip != 0);
    std::string back;
    EXPECT_EQ(ExtractString(zip, 0, &back), 0);
    EXPECT_EQ(back, text);
    CZipReader::Close(zip);
}

TEST(ZipWriter, SeekableOutputGetsFixedLocalHeaders)
{
    std::string text = TextOf(5000), packed = Prng{3}.Bytes(700);
    std::string image = WriteMemoryArchive({{"a.txt", text}, {"b.gz", packed}}, 0);
    EXPECT_EQ(Get16(image, 6), 2u);          // deflated: flags say maximum compression
    EXPECT_EQ(Get16(image, 8), 8u);
    EXPECT_EQ(Get32(image, 14), Crc(text));
    size_t second = 30 + 5 + 17 + Get32(image, 18);   // no descriptor in between
    EXPECT_EQ(Get32(image, second), 0x04034B50u);
    EXPECT_EQ(Get16(image, second + 6), 0u);
    EXPECT_EQ(Get16(image, second + 8), 0u);
    EXPECT_EQ(Get32(image, second + 14), Crc(packed));
    EXPECT_EQ(Get32(image, second + 18), 700u);
    EXPECT_EQ(Get32(image, second + 22), 700u);
    size_t central = CentralOf(image, "b.gz");
    EXPECT_EQ(Get32(image, central + 42), (uint32_t)second);
    EXPECT_EQ(Get32(image, central + 38), 0x80000000u);   // memory: Unix file, no permissions
}

TEST(ZipWriter, MethodFollowsNameAndSlashesAreForward)
{
    std::string data = TextOf(3000);
    std::vector<MemoryEntry> entries = {
        {"dir\\sub\\a.txt", data}, {"x.GZ", data},   {"x.gz.txt", data}, {"noext", data},
        {"a.tgz", data},           {"A.Z", data},    {"a.zipx", data},   {"b.zip", data}};
    std::string image = WriteMemoryArchive(entries, 0);
    const char *stored[] = {"x.GZ", "a.tgz", "A.Z", "b.zip"};
    const char *deflated[] = {"dir/sub/a.txt", "x.gz.txt", "noext", "a.zipx"};
    for (const char *name : stored) {
        ASSERT_NE(CentralOf(image, name), std::string::npos) << name;
        EXPECT_EQ(Get16(image, CentralOf(image, name) + 10), 0u) << name;
    }
    for (const char *name : deflated) {
        ASSERT_NE(CentralOf(image, name), std::string::npos) << name;
        EXPECT_EQ(Get16(image, CentralOf(image, name) + 10), 8u) << name;
    }
}

TEST(ZipWriter, FolderEntryIsEmptyStoredAndNeverEncrypted)
{
    std::string image = WriteMemoryArchive({{"folder", ""}, {"f.txt", "x"}}, "secret");
    size_t central = CentralOf(image, "folder/");
    ASSERT_NE(central, std::string::npos);
    EXPECT_EQ(Get16(image, central + 8) & 1, 0u);
    EXPECT_EQ(Get16(image, central + 10), 0u);
    EXPECT_EQ(Get32(image, central + 20), 0u);
    EXPECT_EQ(Get32(image, central + 24), 0u);
    EXPECT_EQ(Get32(image, central + 38), 0x41C00010u);
    EXPECT_EQ(Get16(image, CentralOf(image, "f.txt") + 8), 9u);
    ZipHandle *zip = OpenImage(image, "secret");
    ZipEntryInfo info;
    ASSERT_EQ(CZipReader::GetEntry(zip, 0, &info), 0);
    EXPECT_STREQ(info.name, "folder/");
    EXPECT_TRUE(info.attributes & FILE_ATTRIBUTE_DIRECTORY);
    std::string back;
    EXPECT_EQ(ExtractString(zip, 1, &back), 0);
    EXPECT_EQ(back, "x");
    CZipReader::Close(zip);
}

TEST(ZipWriter, RoundTripsOfSizesMethodsAndPasswords)
{
    std::vector<MemoryEntry> entries = {{"one.txt", "1"},
                                        {"random.bin", Prng{11}.Bytes(100000)},
                                        {"text.txt", TextOf(1500000)},
                                        {"stored.arj", Prng{12}.Bytes(40000)}};
    for (const char *password : {(const char *)0, "pw", "TorWexLM52k38v"}) {
        std::string image = WriteMemoryArchive(entries, password);
        ZipHandle *zip = OpenImage(image, password);
        ASSERT_TRUE(zip != 0);
        for (int i = 0; i < (int)entries.size(); i++) {
            std::string back;
            EXPECT_EQ(ExtractString(zip, i, &back), 0) << entries[i].name;
            EXPECT_TRUE(back == entries[i].data) << entries[i].name;
        }
        CZipReader::Close(zip);
    }
}

TEST(ZipWriter, AddFileKeepsTimesAndReadOnly)
{
    std::string folder = FreshTempFolder("zip-addfile");
    std::string source = folder + "\\locked.txt", archive = folder + "\\a.zip";
    WriteWhole(source, "locked\n");
    HANDLE file = CreateFileA(source.c_str(), GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
    FILETIME when = Utc(2019, 7, 1, 12, 30, 45);
    SetFileTime(file, &when, &when, &when);
    CloseHandle(file);
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY);
    ZipHandle *zip = CZipWriter::Create(archive.c_str(), 0);
    ASSERT_EQ(CZipWriter::AddFile(zip, "locked.txt", source.c_str()), 0);
    ASSERT_EQ(CZipWriter::AddFile(zip, "missing.txt", (folder + "\\none").c_str()), ZIP_NOT_OPENED);
    ASSERT_EQ(CZipWriter::Close(zip), 0);
    zip = CZipReader::Open(archive.c_str(), 0);
    ZipEntryInfo info;
    ASSERT_EQ(CZipReader::GetEntry(zip, -1, &info), 0);
    EXPECT_EQ(info.index, 1);
    ASSERT_EQ(CZipReader::GetEntry(zip, 0, &info), 0);
    EXPECT_TRUE(info.attributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Ticks(info.modificationTime), Ticks(when));
    EXPECT_EQ(Ticks(info.creationTime), Ticks(when));
    CZipReader::Close(zip);
}

TEST(ZipWriter, RefusalsAndFailures)
{
    EXPECT_TRUE(CZipWriter::CreateInMemory(0, 0, 0) == 0);
    EXPECT_TRUE(CZipWriter::CreateCore("x", 10, 9, 0) == 0);
    // An image too small for its entry fails that entry and every later one.
    std::string big = Prng{5}.Bytes(1000);
    ZipHandle *zip = CZipWriter::CreateInMemory(0, 300, 0);
    ASSERT_TRUE(zip != 0);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "big.bin", big.data(), 1000), ZIP_WRITE_FAILED);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "small", "x", 1), ZIP_AFTER_FAILURE);
    EXPECT_EQ(CZipWriter::Close(zip), ZIP_WRITE_FAILED);

    zip = CZipWriter::CreateInMemory(0, 4096, 0);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "", "x", 1), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "a", 0, 1), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "a", "x", 0), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipWriter::AddMemory(zip, std::string(300, 'n').c_str(), "x", 1), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "a", "x", 1), 0);   // refusals did not poison it
    EXPECT_EQ(CZipReader::GetEntry(zip, 0, 0), ZIP_WRONG_KIND);
    EXPECT_FALSE(IsZipReader(zip));
    void *image;
    uint32_t length;
    EXPECT_EQ(CZipWriter::GetMemory(zip, &image, &length), 0);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "b", "x", 1), ZIP_AFTER_FINISH);
    EXPECT_EQ(CZipWriter::Close(zip), 0);

    std::string path = FreshTempFolder("zip-refusals") + "\\f.zip";
    zip = CZipWriter::Create(path.c_str(), 0);
    EXPECT_EQ(CZipWriter::GetMemory(zip, &image, &length), ZIP_NO_MEMORY_IMAGE);
    EXPECT_EQ(CZipWriter::Close(zip), 0);
    EXPECT_EQ(ReadWhole(path).size(), 22u);   // an empty archive is a lone end record
    EXPECT_EQ(CZipWriter::AddMemory(0, "a", "x", 1), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipWriter::Close(0), ZIP_BAD_ARGUMENT);
}

static DWORD WINAPI DrainPipe(void *argument)
{
    void **pair = (void **)argument;
    std::string *out = (std::string *)pair[1];
    char buffer[4096];
    DWORD got;
    while (ReadFile((HANDLE)pair[0], buffer, sizeof buffer, &got, 0) && got > 0)
        out->append(buffer, got);
    return 0;
}

TEST(ZipWriter, UnseekableOutputUsesDataDescriptors)
{
    HANDLE readEnd, writeEnd;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, 0, 0));
    std::string image;
    void *pair[2] = {readEnd, &image};
    HANDLE thread = CreateThread(0, 0, DrainPipe, pair, 0, 0);
    std::string text = TextOf(40000), packed = Prng{9}.Bytes(3000);
    ZipHandle *zip = CZipWriter::CreateCore(writeEnd, 0, ZIP_SOURCE_HANDLE, 0);
    ASSERT_TRUE(zip != 0);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "t.txt", text.data(), (uint32_t)text.size()), 0);
    EXPECT_EQ(CZipWriter::AddMemory(zip, "p.zip", packed.data(), (uint32_t)packed.size()), 0);
    EXPECT_EQ(CZipWriter::Close(zip), 0);
    CloseHandle(writeEnd);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(readEnd);
    ASSERT_GT(image.size(), 100u);
    EXPECT_EQ(Get16(image, 6), 8u);
    EXPECT_EQ(Get32(image, 14), 0u);
    size_t central = CentralOf(image, "p.zip");
    ASSERT_NE(central, std::string::npos);
    EXPECT_EQ(Get16(image, central + 8), 8u);
    uint32_t local = Get32(image, central + 42);
    EXPECT_EQ(Get32(image, local + 18), 3000u);   // stored: the size is announced up front
    EXPECT_EQ(Get32(image, local + 30 + 5 + 17 + 3000), 0x08074B50u);
    ZipHandle *reader = OpenImage(image);
    ASSERT_TRUE(reader != 0);
    std::string back;
    EXPECT_EQ(ExtractString(reader, 0, &back), 0);
    EXPECT_TRUE(back == text);
    EXPECT_EQ(ExtractString(reader, 1, &back), 0);
    EXPECT_TRUE(back == packed);
    CZipReader::Close(reader);
}

TEST(ZipWriter, HandleOutputAfterOtherData)
{
    std::string path = FreshTempFolder("zip-handle") + "\\joined.bin";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              0, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(file, std::string(100, 'S').data(), 100, &written, 0);
    ZipHandle *zip = CZipWriter::CreateCore(file, 0, ZIP_SOURCE_HANDLE, 0);
    std::string text = TextOf(9000);
    ASSERT_EQ(CZipWriter::AddMemory(zip, "t.txt", text.data(), (uint32_t)text.size()), 0);
    ASSERT_EQ(CZipWriter::Close(zip), 0);
    // Offsets count from the start of the file, as self-extracting archives need.
    SetFilePointer(file, 100, 0, FILE_BEGIN);
    ZipHandle *byHandle = CZipReader::OpenSource(file, 0, ZIP_SOURCE_HANDLE, 0);
    ASSERT_TRUE(byHandle != 0);
    std::string back;
    EXPECT_EQ(ExtractString(byHandle, 0, &back), 0);
    EXPECT_TRUE(back == text);
    CZipReader::Close(byHandle);
    CloseHandle(file);
    ZipHandle *byPath = CZipReader::Open(path.c_str(), 0);
    ASSERT_TRUE(byPath != 0);
    EXPECT_EQ(ExtractString(byPath, 0, &back), 0);
    EXPECT_TRUE(back == text);
    CZipReader::Close(byPath);
}

// ---------------------------------------------------------------- reader calls and edge cases

TEST(ZipReader, IndexLimitsHandlesAndLookup)
{
    std::string longName(256, 'L'), shorter(255, 'S');
    std::string image = WriteMemoryArchive({{"Dir/Name.TXT", "a"},
                                            {longName.c_str(), "b"},
                                            {shorter.c_str(), "c"}},
                                           0);
    ZipHandle *zip = OpenImage(image);
    ASSERT_TRUE(zip != 0);
    EXPECT_TRUE(IsZipReader(zip));
    ZipEntryInfo info;
    EXPECT_EQ(CZipReader::GetEntry(zip, -1, &info), 0);
    EXPECT_EQ(info.index, 3);
    EXPECT_EQ(info.name[0], 0);
    EXPECT_EQ(CZipReader::GetEntry(zip, 3, &info), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipReader::GetEntry(zip, -2, &info), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipReader::GetEntry(0, 0, &info), ZIP_BAD_ARGUMENT);
    char buffer[4];
    EXPECT_EQ(CZipReader::ExtractToMemory(zip, 3, buffer, 4), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipWriter::Close(zip), ZIP_WRONG_KIND);
    int index = 7;
    EXPECT_EQ(CZipReader::FindEntry(zip, "Dir/Name.TXT", 0, &index, &info), 0);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(CZipReader::FindEntry(zip, "dir/name.txt", 0, &index, &info), ZIP_NOT_FOUND);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(info.index, -1);
    EXPECT_EQ(CZipReader::FindEntry(zip, "dir/name.txt", 1, &index, &info), 0);
    EXPECT_EQ(CZipReader::FindEntry(zip, shorter.c_str(), 0, &index, &info), 0);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(CZipReader::FindEntry(zip, longName.c_str(), 0, &index, &info), ZIP_NOT_FOUND);
    EXPECT_EQ(CZipReader::Close(zip), 0);
    EXPECT_TRUE(CZipReader::Open("zipfix\\no such archive.zip", 0) == 0);
    EXPECT_TRUE(CZipReader::OpenSource("x", 1, 7, 0) == 0);
}

TEST(ZipReader, SmallBufferContinuesWhereItStopped)
{
    std::string text = TextOf(70000), stored = Prng{4}.Bytes(20000);
    std::string image = WriteMemoryArchive({{"t.txt", text}, {"s.gz", stored}}, "pw");
    ZipHandle *zip = OpenImage(image, "pw");
    const std::string *expected[] = {&text, &stored};
    for (int i = 0; i < 2; i++) {
        std::string joined;
        std::vector<char> buffer(30000);
        int result;
        int calls = 0;
        do {
            ZipEntryInfo info;
            CZipReader::GetEntry(zip, 1 - i, &info);   // looking elsewhere does not disturb it
            size_t before = joined.size();
            size_t room = std::min(buffer.size(), expected[i]->size() - before);
            result = CZipReader::ExtractToMemory(zip, i, buffer.data(), (uint32_t)room);
            joined.append(buffer.data(), room);
            calls++;
        } while (result == ZIP_MORE_DATA && calls < 10);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(calls, (int)((expected[i]->size() + 29999) / 30000));
        EXPECT_TRUE(joined == *expected[i]);
    }
    // A buffer that is too small says so; asking again gives the rest.
    std::vector<char> part(100);
    EXPECT_EQ(CZipReader::ExtractToMemory(zip, 1, part.data(), 100), ZIP_MORE_DATA);
    std::vector<char> rest(stored.size());
    EXPECT_EQ(CZipReader::ExtractToMemory(zip, 1, rest.data(), (uint32_t)rest.size()), 0);
    EXPECT_TRUE(std::string(part.data(), 100) + std::string(rest.data(), stored.size() - 100) ==
                stored);
    CZipReader::Close(zip);
}

TEST(ZipReader, HostAttributesAndTimeBlock)
{
    std::vector<RawEntry> entries = {Raw("dos.txt", "d"), Raw("fat/", ""), Raw("unixdir/", ""),
                                     Raw("unixro.txt", "r"), Raw("stamp.txt", "s")};
    entries[0].versionMadeBy = 0x0014;   // DOS host: the low byte holds the attributes
    entries[0].externalAttributes = 0xFFFF0027;
    entries[1].versionMadeBy = 0x0E14;
    entries[1].externalAttributes = 0x10;
    entries[2].externalAttributes = 0x41ED0000;   // 040755
    entries[3].externalAttributes = 0x81240000;   // 0100444
    // "UT" with flags 1: only the modification time; a foreign block goes first.
    std::string extra;
    Add16(extra, 0xCAFE);
    Add16(extra, 3);
    extra += "abc";
    Add16(extra, 0x5455);
    Add16(extra, 13);
    extra += (char)1;
    Add32(extra, 1600000000);   // 2020-09-13 12:26:40 UTC
    Add32(extra, 1);
    Add32(extra, 2);
    entries[4].localExtra = extra;
    entries[4].dosDateTime = (uint32_t)(((2010 - 1980) << 9 | 6 << 5 | 15) << 16 |
                                        (8 << 11 | 30 << 5 | 10 / 2));
    std::string image = BuildRawZip(entries);   // the reader reads it in place
    ZipHandle *zip = OpenImage(image);
    ASSERT_TRUE(zip != 0);
    ZipEntryInfo info;
    uint32_t expected[] = {0x27, 0x10, 0x30, 0x21, 0x20};
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(CZipReader::GetEntry(zip, i, &info), 0) << i;
        EXPECT_EQ(info.attributes, expected[i]) << info.name;
    }
    EXPECT_EQ(Ticks(info.modificationTime), Ticks(Utc(2020, 9, 13, 12, 26, 40)));
    FILETIME local, dos;
    DosDateTimeToFileTime((WORD)(entries[4].dosDateTime >> 16), (WORD)entries[4].dosDateTime,
                          &local);
    LocalFileTimeToFileTime(&local, &dos);
    EXPECT_EQ(Ticks(info.accessTime), Ticks(dos));
    EXPECT_EQ(Ticks(info.creationTime), Ticks(dos));
    CZipReader::Close(zip);
}

// Every file below root, relative to it.
static void ListFiles(const std::string &root, const std::string &relative,
                      std::set<std::string> *out)
{
    WalkTree(root + relative, [&](const std::string &path, bool isFolder) {
        if (!isFolder)
            out->insert(relative + "\\" + path);
    });
}

TEST(ZipReader, NamesNeverClimbOutOfTheBaseFolder)
{
    struct Case {
        const char *name;
        const char *cleaned;
        bool extracts;
    } cases[] = {
        {"../up1.txt", "up1.txt", true},
        {"..\\up2.txt", "up2.txt", true},
        {"..\\..\\../..\\up3.txt", "up3.txt", true},
        {"..", "", false},
        {"a/b/..", "", false},
        {"a/../../up4.txt", "up4.txt", true},
        {"C:\\x\\..\\y\\z.txt", "y\\z.txt", true},
        {"C:..\\up5.txt", "up5.txt", true},
        {"C:up6.txt", "up6.txt", true},
        {"/abs/up7.txt", "abs/up7.txt", true},
        {"\\\\server\\share\\up8.txt", "server\\share\\up8.txt", true},
        {"\\\\?\\C:\\up9.txt", "?\\C:\\up9.txt", false},   // not a valid file name: refused
        {"../C:/up10.txt", "up10.txt", true},
        {"a/.. /up11.txt", "up11.txt", true},
        {"a/.../up12.txt", "up12.txt", true},
        {"a/./b//c.txt", "a/b/c.txt", true},
        {"keep/..name/ok.txt", "keep/..name/ok.txt", true},
        {"dev/NUL.txt", "dev/NUL.txt", false},   // devices, not files: refused
        {"com1", "com1", false},
        {"dev/CON /x", "dev/CON /x", false},
    };
    std::vector<RawEntry> entries;
    for (const Case &c : cases)
        entries.push_back(Raw(c.name, std::string("data of ") + c.name));
    std::string image = BuildRawZip(entries);   // the reader reads it in place
    ZipHandle *zip = OpenImage(image);
    ASSERT_TRUE(zip != 0);
    std::string root = FreshTempFolder("zip-climb");
    std::string base = root + "\\one\\two\\three\\base";
    ASSERT_EQ(CZipReader::SetBaseFolder(zip, base.c_str()), 0);
    for (int i = 0; i < (int)entries.size(); i++) {
        ZipEntryInfo info;
        ASSERT_EQ(CZipReader::GetEntry(zip, i, &info), 0);
        EXPECT_STREQ(info.name, cases[i].cleaned) << cases[i].name;
        int result = CZipReader::ExtractToFile(zip, i, info.name);
        if (cases[i].extracts)
            EXPECT_EQ(result, 0) << cases[i].name;
        else
            EXPECT_NE(result, 0) << cases[i].name;
    }
    CZipReader::Close(zip);
    std::set<std::string> files;
    ListFiles(root, "", &files);
    for (const std::string &file : files)
        EXPECT_EQ(file.compare(0, 20, "\\one\\two\\three\\base\\"), 0) << file;
    EXPECT_EQ(ReadWhole(base + "\\y\\z.txt"), "data of C:\\x\\..\\y\\z.txt");
    EXPECT_EQ(files.size(), 14u);
}

// A caller judging names gets them as stored, before the cleaning that
// GetEntry applies; an end record in the comment that claims another disk
// and no entries is passed over for the real one.
TEST(ZipReader, StoredNamesComeAsTheRealDirectoryHoldsThem)
{
    std::string nul("a\0b.txt", 7), longName(300, 'n');
    std::string image =
        BuildRawZip({Raw("../../x.rgc", "evil"), Raw(nul, "n"), Raw(longName, "l")});
    Put16(image, image.size() - 2, 22);
    Add32(image, 0x06054B50);
    Add16(image, 1);   // this disk
    Add16(image, 1);
    Add32(image, 0);   // no entries
    Add32(image, 0);
    Add32(image, 0);
    Add16(image, 0);
    ZipHandle *zip = OpenImage(image);
    ASSERT_TRUE(zip != 0);
    ZipEntryInfo info;
    ASSERT_EQ(CZipReader::GetEntry(zip, -1, &info), 0);
    EXPECT_EQ(info.index, 3);
    ASSERT_EQ(CZipReader::GetEntry(zip, 0, &info), 0);
    EXPECT_STREQ(info.name, "x.rgc");

    char name[100];
    uint32_t length = 7;
    ASSERT_EQ(CZipReader::GetStoredName(zip, 0, name, sizeof name, &length), 0);
    EXPECT_STREQ(name, "../../x.rgc");
    EXPECT_EQ(length, 11u);
    ASSERT_EQ(CZipReader::GetStoredName(zip, 1, name, sizeof name, &length), 0);
    EXPECT_EQ(std::string(name, length), nul);
    ASSERT_EQ(CZipReader::GetStoredName(zip, 2, name, sizeof name, &length), 0);
    EXPECT_EQ(length, 300u);
    EXPECT_EQ(std::string(name), longName.substr(0, 99));
    EXPECT_EQ(CZipReader::GetStoredName(zip, 0, name, 1, &length), 0);
    EXPECT_STREQ(name, "");

    EXPECT_EQ(CZipReader::GetStoredName(zip, 3, name, sizeof name, &length), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipReader::GetStoredName(zip, -1, name, sizeof name, &length), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipReader::GetStoredName(zip, 0, name, 0, &length), ZIP_BAD_ARGUMENT);
    EXPECT_EQ(CZipReader::GetStoredName(0, 0, name, sizeof name, &length), ZIP_BAD_ARGUMENT);
    CZipReader::Close(zip);
    zip = CZipWriter::CreateInMemory(0, 4096, 0);
    EXPECT_EQ(CZipReader::GetStoredName(zip, 0, name, sizeof name, &length), ZIP_WRONG_KIND);
    CZipWriter::Close(zip);
}

// True when Windows could read the relative name as leaving its folder: a
// root, a drive, or a component of only dots and spaces with two dots or more.
static bool CouldClimb(const std::string &name)
{
    if (!name.empty() && (name[0] == '\\' || name[0] == '/'))
        return true;
    if (name.size() >= 2 && name[1] == ':')
        return true;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = name.size();
        std::string part = name.substr(start, end - start);
        if (part.find_first_not_of(". ") == std::string::npos &&
            std::count(part.begin(), part.end(), '.') >= 2)
            return true;
        start = end + 1;
    }
    return false;
}

TEST(ZipReader, RandomNamesCleanToNamesThatCannotClimb)
{
    const char alphabet[] = "./\\:. C.a";
    Prng prng{77};
    std::vector<RawEntry> entries;
    for (int i = 0; i < 2000; i++) {
        std::string name;
        for (int n = 1 + (int)(prng.Next() % 14); n > 0; n--)
            name += alphabet[prng.Next() % (sizeof alphabet - 1)];
        entries.push_back(Raw(name, ""));
    }
    std::string image = BuildRawZip(entries);
    ZipHandle *zip = OpenImage(image);
    ASSERT_TRUE(zip != 0);
    for (int i = 0; i < (int)entries.size(); i++) {
        ZipEntryInfo info;
        ASSERT_EQ(CZipReader::GetEntry(zip, i, &info), 0);
        EXPECT_FALSE(CouldClimb(info.name)) << entries[i].name << " -> " << info.name;
    }
    CZipReader::Close(zip);
}

// ---------------------------------------------------------------- damaged archives

TEST(ZipReader, CorruptDataIsADataError)
{
    std::string text = TextOf(20000), packed = Prng{8}.Bytes(500);
    std::string good = WriteMemoryArchive({{"t.txt", text}, {"p.gz", packed}}, 0);
    size_t second = Get32(good, CentralOf(good, "p.gz") + 42);
    struct Damage {
        const char *what;
        size_t at;
        int entry;
        int expected;
    } damages[] = {
        {"stored byte", second + 30 + 4 + 17 + 100, 1, ZIP_DATA_ERROR},
        {"deflated byte", 30 + 5 + 17 + 200, 0, ZIP_DATA_ERROR},
        {"local signature", second, 1, ZIP_BAD_LOCAL_HEADER},
        {"local method", second + 8, 1, ZIP_BAD_LOCAL_HEADER},
    };
    for (const Damage &d : damages) {
        std::string image = good;
        image[d.at] ^= 0x40;
        ZipHandle *zip = OpenImage(image);
        ASSERT_TRUE(zip != 0) << d.what;
        std::string back;
        EXPECT_EQ(ExtractString(zip, d.entry, &back) & d.expected, d.expected) << d.what;
        EXPECT_EQ(ExtractString(zip, 1 - d.entry, &back), 0) << d.what;   // the other is intact
        CZipReader::Close(zip);
    }
    // A CRC-32 changed in both headers: the data no longer matches it.
    std::string image = good;
    Put32(image, second + 14, Crc(packed) ^ 1);
    Put32(image, CentralOf(image, "p.gz") + 16, Crc(packed) ^ 1);
    ZipHandle *zip = OpenImage(image);
    std::string back;
    EXPECT_EQ(ExtractString(zip, 1, &back), ZIP_DATA_ERROR);
    CZipReader::Close(zip);
}

TEST(ZipReader, AbsurdFieldsAreRefused)
{
    std::string text = TextOf(20000), packed = Prng{8}.Bytes(500);
    std::string good = WriteMemoryArchive({{"t.txt", text}, {"p.gz", packed}}, 0);
    size_t end = EndRecordAt(good), central = CentralOf(good, "t.txt");
    size_t second = Get32(good, CentralOf(good, "p.gz") + 42);
    struct Patch {
        const char *what;
        std::vector<std::pair<size_t, uint32_t>> fields;   // 32-bit writes
        int entry;   // -1: the open must fail
    } patches[] = {
        {"entry count", {{end + 8, 0xFFFFFFFF}}, -1},
        {"directory offset", {{end + 16, 0xFFFFFF00}}, -1},
        {"directory size", {{end + 12, 0x7FFFFFFF}}, -1},
        {"compressed size", {{second + 18, 0x7FFFFFF0}, {CentralOf(good, "p.gz") + 20, 0x7FFFFFF0}}, 1},
        {"uncompressed size", {{18 + 4, 0x40000000}, {central + 24, 0x40000000}}, 0},
        {"local offset", {{central + 42, 0xFFFFFFF0}}, 0},
        {"local extra length", {{26, 0xFFFF0005}}, 0},
        {"name length", {{central + 28, 0x0000FFFF}}, 0},
    };
    for (const Patch &p : patches) {
        std::string image = good;
        for (auto &field : p.fields)
            Put32(image, field.first, field.second);
        ZipHandle *zip = OpenImage(image);
        if (p.entry < 0) {
            EXPECT_TRUE(zip == 0) << p.what;
            if (zip)
                CZipReader::Close(zip);
            continue;
        }
        ASSERT_TRUE(zip != 0) << p.what;
        std::vector<char> buffer(65536);
        int result = CZipReader::ExtractToMemory(zip, p.entry, buffer.data(), 65536);
        EXPECT_NE(result, 0) << p.what;
        EXPECT_NE(result, ZIP_MORE_DATA) << p.what;
        CZipReader::Close(zip);
    }
}

// The mutated archive sits at the very end of its pages, followed by a page
// that faults on any access: a read past the end cannot go unnoticed.
struct GuardedCopy {
    char *pages = 0;
    size_t span = 0;
    const char *Place(const std::string &bytes)
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        size_t page = si.dwPageSize;
        span = (bytes.size() + page - 1) / page * page + page;
        pages = (char *)VirtualAlloc(0, span, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        DWORD old;
        VirtualProtect(pages + span - page, page, PAGE_NOACCESS, &old);
        char *at = pages + span - page - bytes.size();
        memcpy(at, bytes.data(), bytes.size());
        return at;
    }
    ~GuardedCopy()
    {
        if (pages)
            VirtualFree(pages, 0, MEM_RELEASE);
    }
};

// Reads whatever the archive lets us read, in bounded pieces.
static void ReadEverything(const std::string &bytes, const char *password)
{
    GuardedCopy copy;
    const char *at = copy.Place(bytes);
    ZipHandle *zip = CZipReader::OpenSource(at, (uint32_t)bytes.size(), ZIP_SOURCE_MEMORY, password);
    if (!zip)
        return;
    ZipEntryInfo info;
    CZipReader::GetEntry(zip, -1, &info);
    int count = info.index < 40 ? info.index : 40;
    static char buffer[8192];
    for (int i = 0; i < count; i++) {
        if (CZipReader::GetEntry(zip, i, &info) == 0) {
            EXPECT_LT(strlen(info.name), 260u);
        }
        int result, rounds = 0;
        do {
            result = CZipReader::ExtractToMemory(zip, i, buffer, sizeof buffer);
        } while (result == ZIP_MORE_DATA && ++rounds < 8);
    }
    CZipReader::FindEntry(zip, "small.txt", 1, 0, &info);
    CZipReader::Close(zip);
}

TEST(ZipReader, TruncatedArchivesNeverCrash)
{
    std::string archive = ReadWhole(Fixture("small_pw.zip"));
    for (size_t length = 0; length < archive.size(); length++) {
        ReadEverything(archive.substr(0, length), kPassword);
        ReadEverything(archive.substr(archive.size() - length), kPassword);
    }
    // Cut anywhere before its end record, an archive no longer opens.
    for (size_t length = 0; length < archive.size(); length += 7)
        EXPECT_TRUE(OpenImage(archive.substr(0, length), kPassword) == 0) << length;
}

TEST(ZipReader, FuzzedArchivesNeverCrashOrOverRead)
{
    std::string seeds[] = {ReadWhole(Fixture("small.zip")), ReadWhole(Fixture("small_pw.zip")),
                           WriteMemoryArchive({{"a.txt", TextOf(3000)},
                                               {"b.gz", Prng{2}.Bytes(200)},
                                               {"dir", ""}},
                                              kPassword)};
    static const uint32_t extremes[] = {0, 1, 0x7F, 0xFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF,
                                        0x80000000, 0xFFFFFFF0};
    Prng prng{0x5EED1234};
    DWORD start = GetTickCount();
    for (int round = 0; round < 3000; round++) {
        std::string bytes = seeds[round % 3];
        int edits = 1 + (int)(prng.Next() % 4);
        for (int e = 0; e < edits; e++) {
            size_t at = prng.Next() % bytes.size();
            uint32_t how = prng.Next() % 4;
            if (how == 0)
                bytes[at] = (char)prng.Next();
            else if (how == 1 && at + 4 <= bytes.size())
                Put32(bytes, at, extremes[prng.Next() % 9]);
            else if (how == 2 && at + 2 <= bytes.size())
                Put16(bytes, at, extremes[prng.Next() % 9]);
            else
                bytes[at] ^= (char)(1 << (prng.Next() % 8));
        }
        if (prng.Next() % 8 == 0)
            bytes.resize(prng.Next() % bytes.size());
        ReadEverything(bytes, (round & 4) ? kPassword : 0);
    }
    printf("fuzz: 3000 archives in %lu ms\n", GetTickCount() - start);
}
