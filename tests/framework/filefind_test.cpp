#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/application.h"
#include "framework/filefind.h"
#include "testutil.h"

// Each test builds its tree in a fresh folder of its own.
class FileFind : public ::testing::Test {
protected:
    std::string root;

    void SetUp() override
    {
        root = FreshTempFolder(std::string("filefind-") +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        for (const char *folder : {"sub", "sub\\deep", "dir.rgc"})
            CreateDirectoryA((root + "\\" + folder).c_str(), 0);
        for (const char *file : {"a.rgc", "b.vtp", "c.txt", "sub\\d.rgc", "sub\\deep\\e.vtp",
                                 "dir.rgc\\h.vtp"})
            Touch(root + "\\" + file);
    }
    void TearDown() override { RemoveTree(root); }

    static bool Touch(const std::string &path)
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
        CloseHandle(file);
        return file != INVALID_HANDLE_VALUE;
    }

    // Files relative to the root, sorted: the system's entry order is free.
    static std::vector<std::string> Relative(const CDirScanner &scanner)
    {
        std::vector<std::string> names;
        for (int i = 0; i < scanner.files.count; i++)
            names.push_back(scanner.RelativePath(scanner.files.data[i]));
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FileFind, MasksListEveryMatchingFileOfTheTreeOnce)
{
    CDirScanner scanner;
    EXPECT_EQ(scanner.SetRoot((root + "\\").c_str(), "*.rgc;*.vtp"), 5);
    std::vector<std::string> expected = {"a.rgc", "b.vtp", "dir.rgc\\h.vtp", "sub\\d.rgc",
                                         "sub\\deep\\e.vtp"};
    EXPECT_EQ(Relative(scanner), expected) << "the folder dir.rgc is no file";
    ASSERT_EQ(scanner.folders.count, 4);
    EXPECT_STREQ(scanner.folders.data[0], root.c_str()) << "trailing backslash dropped";

    // a.rgc matches three masks and is still listed once.
    EXPECT_EQ(scanner.ScanMasks(root.c_str(), "%s;a*;%s;", "*.rgc", "*.rgc"), 2);
    EXPECT_EQ(Relative(scanner), (std::vector<std::string>{"a.rgc", "sub\\d.rgc"}));
}

TEST_F(FileFind, EmptyMasksOrRootScanNothing)
{
    CDirScanner scanner;
    ASSERT_EQ(scanner.SetRoot(root.c_str(), "*.vtp"), 3);
    EXPECT_EQ(scanner.ScanMasks(root.c_str(), ""), 0);
    EXPECT_EQ(scanner.files.count, 3);
    EXPECT_EQ(scanner.folders.count, 4);
    EXPECT_EQ(scanner.ScanMasks("", "*.*"), -1);
    EXPECT_EQ(scanner.files.count, 3);
}

TEST_F(FileFind, PatternWithoutFolderYieldsBareNames)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(root.c_str()));
    std::vector<std::string> names;
    CFileFind find("*.%s", "rgc");
    while (find.FindNext())
        names.push_back(find.GetFilePath());
    SetCurrentDirectoryA(previous);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.rgc", "dir.rgc"}));
    EXPECT_EQ(find.count, 2);

    ASSERT_TRUE(find.FindFirst("%s\\sub\\*.rgc", root.c_str()));
    EXPECT_EQ(std::string(find.GetFilePath()), root + "\\sub\\d.rgc");
}

TEST_F(FileFind, CloseAnswersMinusOneWithoutASearch)
{
    CFileFind never("%s\\*", root.c_str());
    EXPECT_EQ(never.Close(), -1);
    EXPECT_STREQ(never.GetFilePath(), "");

    CFileFind find("%s\\b.vtp", root.c_str());
    ASSERT_TRUE(find.FindNext());
    EXPECT_FALSE(find.FindNext());
    EXPECT_NE(find.Close(), -1);
    EXPECT_EQ(find.Close(), -1);
    EXPECT_FALSE(find.FindNext()) << "a closed search does not start again by itself";
}

// The finder cuts over-long texts; the scanner leaves out an entry whose full
// path would not fit, since a cut path names some other file.
TEST_F(FileFind, OverLongPathsAreCut)
{
    CFileFind cut("%s\\%s\\*", root.c_str(), std::string(400, 'q').c_str());
    EXPECT_EQ(strlen(cut.pattern), 259u);
    EXPECT_EQ(std::string(cut.folder), root);

    std::string folder = root + "\\" + std::string(200 - root.size(), 'f');
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), 0));
    std::string full = folder + "\\" + std::string(100, 'n') + ".dat";
    std::wstring wide = L"\\\\?\\" + std::wstring(full.begin(), full.end());
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    VT_REQUIRE_OR_SKIP(file != INVALID_HANDLE_VALUE, "this system cannot make paths beyond 259 characters");
    CloseHandle(file);
    ASSERT_TRUE(Touch(folder + "\\s.dat"));

    CFileFind find("%s\\n*.dat", folder.c_str());
    ASSERT_TRUE(find.FindNext());
    EXPECT_EQ(std::string(find.GetFilePath()), full.substr(0, 259));

    CDirScanner scanner;
    ASSERT_EQ(scanner.SetRoot(folder.c_str(), "*.dat"), 1);
    EXPECT_EQ(std::string(scanner.files.data[0]), folder + "\\s.dat");
    find.Close();
    DeleteFileW(wide.c_str());
}

// An empty mask ends the mask list; a scan without reset searches only the
// root and the folders it adds, so earlier lists stay as they were.
TEST_F(FileFind, EmptyMiddleMaskEndsTheListAndARescanSearchesOnlyTheRoot)
{
    CDirScanner scanner;
    EXPECT_EQ(scanner.SetRoot(root.c_str(), "*.rgc;;*.vtp"), 2);
    EXPECT_EQ(Relative(scanner), (std::vector<std::string>{"a.rgc", "sub\\d.rgc"}));
    EXPECT_EQ(scanner.SetRoot(root.c_str(), ";*.vtp"), 0);

    ASSERT_EQ(scanner.SetRoot(root.c_str(), "*.rgc"), 2);
    CopyText(scanner.masks, "*.vtp", sizeof scanner.masks);
    EXPECT_EQ(scanner.Scan(false), 3);
    EXPECT_EQ(Relative(scanner), (std::vector<std::string>{"a.rgc", "b.vtp", "sub\\d.rgc"}));
    EXPECT_EQ(scanner.folders.count, 4);   // nothing listed twice
    EXPECT_EQ(scanner.Scan(true), 3);      // a fresh scan finds them all
}


// A link is an entry of its folder, never a way below it. The host makes
// the links (Wine makes none), in a folder below the working folder that it
// sees through Z:. Wine shows the link to a folder as a reparse point and
// the link to a file as a plain file whose handle leads elsewhere.
TEST(FileFindLinks, ScannerDoesNotDescendLinksAndTheLinkTestsSeeThem)
{
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    std::string top = std::string(here) + "\\vt-ff-links-" + std::to_string(GetCurrentProcessId());
    std::string in = top + "\\in", report;
    RemoveTree(top);
    for (const char *folder : {"", "\\in", "\\in\\real", "\\out"})
        CreateDirectoryA((top + folder).c_str(), 0);
    for (const char *file : {"\\in\\real\\a.rgc", "\\out\\b.rgc", "\\out\\c.rgc"})
        WriteWhole(top + file, "x");
    int made = RunHostScript(top, "ln -s \"$PWD/out\" in/dirlink && "
                                  "ln -s \"$PWD/out/c.rgc\" in/filelink.rgc && echo made", &report);
    VT_REQUIRE_OR_SKIP(made == 0 && report.find("made") != std::string::npos,
                       "the host cannot make the links (Wine makes none): " + report);

    CDirScanner scanner;
    EXPECT_EQ(scanner.SetRoot(in.c_str(), "*.rgc"), 2);
    std::vector<std::string> files;
    for (int i = 0; i < scanner.files.count; i++)
        files.push_back(scanner.RelativePath(scanner.files.data[i]));
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"filelink.rgc", "real\\a.rgc"}))
        << "the link to a file is listed as an entry, nothing below the folder link";
    ASSERT_EQ(scanner.folders.count, 2);
    EXPECT_EQ(std::string(scanner.folders.data[1]), in + "\\real");

    auto linkTest = [](const std::string &path) {
        return IsLinkEntry(path.c_str(), GetFileAttributesA(path.c_str()));
    };
    EXPECT_TRUE(linkTest(in + "\\dirlink"));
    EXPECT_TRUE(linkTest(in + "\\filelink.rgc"));
    EXPECT_FALSE(linkTest(in + "\\real"));
    EXPECT_FALSE(linkTest(in + "\\real\\a.rgc"));
    EXPECT_FALSE(linkTest(top + "\\out\\c.rgc"));
    EXPECT_FALSE(linkTest(in + "\\none")) << "what does not exist is no link";

    EXPECT_TRUE(PathPassesLink(in.c_str(), (in + "\\dirlink\\new\\x.vtp").c_str()));
    EXPECT_TRUE(PathPassesLink(in.c_str(), (in + "\\dirlink").c_str()));
    EXPECT_TRUE(PathPassesLink(in.c_str(), (in + "\\filelink.rgc").c_str()));
    EXPECT_FALSE(PathPassesLink(in.c_str(), (in + "\\real\\new\\x.vtp").c_str()));
    EXPECT_FALSE(PathPassesLink((in + "\\").c_str(), (in + "\\real\\\\a.rgc").c_str()));
    EXPECT_FALSE(PathPassesLink(in.c_str(), in.c_str()));
    EXPECT_FALSE(PathPassesLink((in + "\\dirlink").c_str(), (in + "\\dirlink\\b.rgc").c_str()))
        << "the root itself may be a link";
    EXPECT_TRUE(PathPassesLink(in.c_str(), (top + "\\out\\b.rgc").c_str())) << "not below the root";
    EXPECT_TRUE(PathPassesLink(in.c_str(), (in + "x\\a.rgc").c_str())) << "not below the root";

    RunHostScript(top, "rm -f in/dirlink in/filelink.rgc", &report);
    RemoveTree(top);
}
