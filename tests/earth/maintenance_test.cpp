#include <gtest/gtest.h>

#include <string.h>

#include "earth/maintenance.h"
#include "earth/clouds.h"
#include "earth/mapfile.h"
#include "shell/progress.h"
#include "framework/application.h"
#include "testutil.h"

// The packs and their sources are made by the build next to the test (its
// working folder): Lights.vtd is 8 by 4 grey pixels, value 10 + 7x + 3y in
// its left tile and 90 + 7x + 3y in its right one.
static std::string SmallVtd() { return ReadWhole("packs\\Lights.vtd"); }

static std::string ExpectedLightsMap()
{
    std::string map;
    for (int y = 0; y < 4; y++)
        for (int x = 0; x < 8; x++)
            map.push_back((char)((x < 4 ? 10 : 90) + 7 * (x % 4) + 3 * y));
    const uint32_t trailer[3] = {MAP_KIND_URBAN, 8, 4};
    map.append((const char *)trailer, sizeof trailer);
    return map;
}

static bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void UseInstallFolder(const std::string &folder)
{
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, folder.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
}

static std::string ConvertedMapPath(const std::string &folder)
{
    char path[MAX_PATH];
    MapFileName(path, MAX_PATH, folder.c_str(), "Lights", MAP_KIND_URBAN, 8, false);
    return path;
}

static void CopyPack(const std::string &pack, const std::string &folder)
{
    ASSERT_TRUE(CopyFileA(("packs\\" + pack).c_str(), (folder + "\\pack.zip").c_str(), FALSE))
        << "the build makes packs\\" << pack;
}

TEST(DataPacks, HostZipIsUnpackedConvertedAndBothDeleted)
{
    std::string folder = FreshTempFolder("maint-pack");
    CopyPack("pack.zip", folder);
    UseInstallFolder(folder);

    EXPECT_EQ(UnpackDataPacks(folder.c_str()), 0);
    EXPECT_FALSE(Exists(folder + "\\pack.zip"));
    EXPECT_EQ(ReadWhole(folder + "\\Lights.vtd"), SmallVtd());

    EXPECT_EQ(ConvertDataFiles(folder.c_str(), &gStopConversion), 0);
    EXPECT_FALSE(Exists(folder + "\\Lights.vtd"));
    EXPECT_TRUE(ReadWhole(ConvertedMapPath(folder)) == ExpectedLightsMap());
}

TEST(DataPacks, PackWithAFailingEntryIsKeptAndLaterEntriesStillExtracted)
{
    std::string folder = FreshTempFolder("maint-bad");
    CopyPack("bad.zip", folder);
    // Spoil the stored bytes of the first entry so that its check fails.
    std::string zip = ReadWhole(folder + "\\pack.zip");
    size_t at = zip.find("AAAA");
    ASSERT_NE(at, std::string::npos);
    zip[at] = 'B';
    WriteWhole(folder + "\\pack.zip", zip);

    int result = UnpackDataPack(folder.c_str(), (folder + "\\pack.zip").c_str());
    EXPECT_NE(result, 0);
    EXPECT_NE(result, MAINT_TARGET_NOT_WRITABLE);
    EXPECT_TRUE(Exists(folder + "\\pack.zip"));
    EXPECT_EQ(ReadWhole(folder + "\\b.txt"), "second entry payload");
    EXPECT_EQ(UnpackDataPacks(folder.c_str()), 0);   // not a target fault: no elevated restart
}

TEST(DataPacks, LockedTargetEndsWithItsCodeAndKeepsThePack)
{
    std::string folder = FreshTempFolder("maint-lock");
    CopyPack("pack.zip", folder);
    WriteWhole(folder + "\\Lights.vtd", "old");
    HANDLE lock = CreateFileA((folder + "\\Lights.vtd").c_str(), GENERIC_READ, 0, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(UnpackDataPacks(folder.c_str()), MAINT_TARGET_NOT_WRITABLE);
    CloseHandle(lock);
    EXPECT_TRUE(Exists(folder + "\\pack.zip"));
}

TEST(DataFiles, LockedMapTargetIsReportedAndTheSourceStays)
{
    std::string folder = FreshTempFolder("maint-lockmap");
    WriteWhole(folder + "\\Lights.vtd", SmallVtd());
    WriteWhole(ConvertedMapPath(folder), "old");
    HANDLE lock = CreateFileA(ConvertedMapPath(folder).c_str(), GENERIC_READ, 0, 0,
                              OPEN_EXISTING, 0, 0);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ConvertDataFiles(folder.c_str(), 0), CONVERT_TARGET_FAILED);
    CloseHandle(lock);
    EXPECT_TRUE(Exists(folder + "\\Lights.vtd"));
    EXPECT_EQ(ReadWhole(ConvertedMapPath(folder)), "old");
}

TEST(DataFiles, CancelStopsWithItsCodeAndTheSourceStays)
{
    std::string folder = FreshTempFolder("maint-cancel");
    WriteWhole(folder + "\\Lights.vtd", SmallVtd());
    volatile uint8_t cancel = 1;
    EXPECT_EQ(ConvertDataFiles(folder.c_str(), &cancel), CONVERT_CANCELLED);
    EXPECT_TRUE(Exists(folder + "\\Lights.vtd"));
    EXPECT_FALSE(Exists(ConvertedMapPath(folder)));
}

// Runs a maintenance thread to its end (bounded) and answers its exit code.
static int RunThread(LPTHREAD_START_ROUTINE routine)
{
    HANDLE thread = CreateThread(0, 0, routine, 0, 0, 0);
    EXPECT_TRUE(thread != 0);
    if (!thread)
        return -1;
    DWORD waited = WaitForSingleObject(thread, 20000);
    EXPECT_EQ(waited, (DWORD)WAIT_OBJECT_0);
    DWORD code = (DWORD)-1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return (int)code;
}

TEST(MaintenanceThreads, ConvertThreadWaitsForTheDialogReportsAndEndsIt)
{
    std::string folder = FreshTempFolder("maint-thread");
    WriteWhole(folder + "\\Lights.vtd", SmallVtd());
    UseInstallFolder(folder);
    // The test run has no display for a real dialog: a handle that names no
    // window stands in, and ending it fails harmlessly.
    InstallProgressSink();
    RegisterProgressWindow((HWND)(INT_PTR)0x7FFF0);
    SetProgressStatus("Idle", -1);
    gStopConversion = 0;
    EndProgressDialog(-7);

    EXPECT_EQ(RunThread(ConvertDataFilesThread), 0);
    EXPECT_EQ(GetLastProgressResult(), 0);
    EXPECT_STRNE(GetProgressText(), "Idle");
    EXPECT_GE(GetProgressPercent(), 0);
    EXPECT_TRUE(Exists(ConvertedMapPath(folder)));
    RegisterProgressWindow(0);
}

// A damaged or crafted source whose header claims a width of 2^31: the
// thread ends the dialog with 39, which start-up reports, and the source
// stays for the next start.
TEST(MaintenanceThreads, HugeWidthEndsTheConvertThreadWith39AndKeepsTheSource)
{
    std::string folder = FreshTempFolder("maint-huge");
    std::string vtd = SmallVtd();
    ASSERT_GE(vtd.size(), 24u);
    const uint32_t width = 0x80000000u;
    vtd.replace(16, 4, (const char *)&width, 4);   // header chunk: flags, width, height
    WriteWhole(folder + "\\Lights.vtd", vtd);
    UseInstallFolder(folder);
    InstallProgressSink();
    RegisterProgressWindow((HWND)(INT_PTR)0x7FFF0);
    gStopConversion = 0;
    EndProgressDialog(-7);

    EXPECT_EQ(RunThread(ConvertDataFilesThread), CONVERT_NO_HEADER);
    EXPECT_EQ(GetLastProgressResult(), CONVERT_NO_HEADER);
    EXPECT_EQ(ReadWhole(folder + "\\Lights.vtd"), vtd);
    RegisterProgressWindow(0);
}

TEST(MaintenanceThreads, WithoutADialogTheThreadsWorkAloneAndEnd)
{
    std::string folder = FreshTempFolder("maint-alone");
    UseInstallFolder(folder);
    InstallProgressSink();
    RegisterProgressWindow(0);
    gProgressDialogWaitChecks = 5;
    EXPECT_EQ(RunThread(UnpackDataPacksThread), 0);    // no packs: done at once
    // No cloud picture anywhere: the real generator fails and says so.
    CopyText(gApp.dataFolder, folder.c_str(), MAX_TEXT);
    CopyText(gApp.ownFolder, folder.c_str(), MAX_TEXT);
    EXPECT_EQ(RunThread(BuildCloudMapThread), CLOUDS_NOT_READABLE);
    EXPECT_EQ(GetLastProgressResult(), CLOUDS_NOT_READABLE);
    EXPECT_STREQ(GetProgressText(), "Update failed");
    EXPECT_FALSE(Exists(folder + "\\Clouds.map"));
    gProgressDialogWaitChecks = PROGRESS_DIALOG_WAIT_CHECKS;
}
