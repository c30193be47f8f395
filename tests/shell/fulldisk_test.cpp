// A full disk under the data folder: run_fulldisk_test.sh mounts a small
// file system of its own (VT_FULL_DISK, as Wine sees it) and the test fills
// it from the host side to 16 KB and to 0 bytes free. The real render jobs,
// cloud map and its miniature, demo clouds, placeholder picture, record
// files, settings stores and configuration archives then fail with their
// codes instead of faulting in a mapped page, the main window reports each
// failure once, every picture, store and archive keeps its bytes, no
// temporary stays behind, and once space is freed the settings kept in
// memory are saved, a start loads them and a render succeeds.
#include "outputs.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <string>

#include "earth/clouds.h"
#include "earth/compositor.h"
#include "earth/mapfile.h"
#include "earth/placeholder.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/mappedfile.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "shell/desktop.h"
#include "shell/entry.h"
#include "shell/mainwindow.h"
#include "shell/optionsdialog.h"
#include "shell/profiles.h"
#include "desktoputil.h"
#include "testutil.h"

namespace {

// A render that faults in its thread would otherwise hang the run in the
// crash dialog; the test ends at once and says why.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS *info)
{
    fprintf(stderr, "fulldisk: unhandled exception 0x%08lX at %p\n",
            info->ExceptionRecord->ExceptionCode, info->ExceptionRecord->ExceptionAddress);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Every file below the folder with its bytes, by path relative to it.
std::map<std::string, std::string> Snapshot(const std::string &folder)
{
    std::map<std::string, std::string> files;
    WalkTree(folder, [&](const std::string &path, bool isFolder) {
        if (!isFolder)
            files[path] = ReadWhole(folder + "\\" + path);
    });
    return files;
}

// The names that differ between two snapshots, for a failure message.
std::string Differences(const std::map<std::string, std::string> &before,
                        const std::map<std::string, std::string> &after)
{
    std::string names;
    for (const auto &file : before) {
        auto now = after.find(file.first);
        if (now == after.end())
            names += file.first + " (gone) ";
        else if (now->second != file.second)
            names += file.first + " (changed) ";
    }
    for (const auto &file : after)
        if (!before.count(file.first))
            names += file.first + " (new) ";
    return names;
}

bool EndsWith(const std::string &text, const char *tail)
{
    size_t n = strlen(tail);
    return text.size() >= n && _stricmp(text.c_str() + text.size() - n, tail) == 0;
}

// Leftovers of a write through a temporary name: the records' and stores'
// "_tmp", the renders' and the cloud map's ".tmp".
std::string Temporaries(const std::map<std::string, std::string> &files)
{
    std::string names;
    for (const auto &file : files)
        if (EndsWith(file.first, "_tmp") || EndsWith(file.first, ".tmp"))
            names += file.first + " ";
    return names;
}

// Bytes that deflate cannot shrink, the same on every call.
std::string Noise(size_t size)
{
    uint32_t seed = 1;
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = (char)(seed >> 24);
    }
    return bytes;
}

RGBQUAD Pattern(int x, int top)
{
    RGBQUAD c = {(BYTE)(x * 3), (BYTE)(top * 5), (BYTE)(x + top), 0};
    return c;
}

class FullDisk : public ::testing::Test {
protected:
    std::string disk, unixDisk, data, install, here;
    MessageBoxReader boxes;

    void SetUp() override
    {
        SetUnhandledExceptionFilter(EndOnFault);
        char value[MAX_PATH] = "";
        GetEnvironmentVariableA("VT_FULL_DISK", value, sizeof value);
        disk = value;
        unixDisk = disk.empty() ? "" : UnixPath(disk);
        VT_REQUIRE_OR_SKIP(!unixDisk.empty(),
                           "no small file system mounted (run through run_fulldisk_test.sh)");
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, cwd);
        here = std::string(cwd) + "\\fulldisk-host";
        CreateDirectoryA(here.c_str(), 0);
        ASSERT_EQ(0, Fill(-1)) << "the host's shell cannot be started";

        data = disk + "\\data";
        RemoveTree(data);
        ASSERT_TRUE(CreateDirectoryA(data.c_str(), 0)) << data;
        install = FreshTempFolder("fulldisk-install");
        CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
        CopyText(gApp.ownFolder, install.c_str(), MAX_TEXT);
        gApp.strings.SetProgramTable(0, gProgramStrings);
        SetDesktopPaths();
        gPrefs = kDefaultPrefs;
        gPrefs.iCloudsData = 0;   // the built-in picture, no worker
        gPrefs.iCloudsRes = 0;
        gPrefs.iWeatherData = 2;
        gPrefs.bForceWPUpdate = 0;
        gPrefs.bDetectWP = 0;
        CopyText(gPrefs.szCurProfile, "Test", sizeof gPrefs.szCurProfile);
        memset(&gCurProfileSettings, 0, sizeof gCurProfileSettings);
        CreateDirectoryA((data + "\\Profile-Test").c_str(), 0);
        FreshOutputState();
        if (HasFatalFailure())
            return;
        UseTinyMaps(install);
        // A picture of 98,358 bytes: far more than the 16 KB left free.
        gScreenW = 256;
        gScreenH = 128;
        WriteWhole(install + "\\CloudsL.int", ScrambledJpeg(512, 256, Pattern));
        boxes.Start();
    }
    void TearDown() override
    {
        boxes.Stop();
        if (unixDisk.empty())
            return;
        EXPECT_TRUE(WaitFor(RenderJobsIdle)) << "a render job never ended";
        WaitForScreenSaverThreads();
        FreeViewLists();
        Fill(-1);
        RemoveTree(data);
        RemoveTree(install);
    }

    // Leaves that many bytes free on the small file system by a file the
    // host writes beside the data folder; -1 removes it. 0 done, else
    // RunHostScript's failure or 3 when the free space came out otherwise.
    int Fill(long long leave)
    {
        std::string avail = "$(df -B1 --output=avail '" + unixDisk + "' | tail -1 | tr -d ' ')";
        std::string body = "f='" + unixDisk + "/fill'; rm -f \"$f\"\n";
        if (leave >= 0)
            body += "fallocate -l $((" + avail + " - " + std::to_string(leave) + ")) \"$f\"\n";
        body += "echo \"free=" + avail + "\"";
        std::string report;
        int result = RunHostScript(here, body, &report);
        if (result)
            return result;
        std::string wanted = "free=" + std::to_string(leave) + "\n";
        if (leave >= 0 && report.find(wanted) == std::string::npos) {
            ADD_FAILURE() << "filling to " << leave << " bytes free: " << report;
            return 3;
        }
        return 0;
    }

    // One run of the real wallpaper job on its thread; its status.
    int RenderWallpaper()
    {
        gViewLists[0].data[0].tLastUpdate = 0;
        EXPECT_EQ(0, RequestRender(0, 0, 0));
        EXPECT_TRUE(WaitFor(RenderJobsIdle)) << "the wallpaper render never ended";
        return gRenderJobs.status[RENDER_JOB_WALLPAPER];
    }

    // Ticks of the main timer: what it shows of the finished renders. Nothing
    // is due then, and no download starts.
    void Ticks(int64_t at)
    {
        for (int list = 0; list < 2; list++)
            gViewLists[list].data[0].tLastUpdate = at;
        gLastDownloadCheck = at;
        gTimerBusy = 0;
        MainTimerTick(at);
        MainTimerTick(at + 1);
        PumpMessages(100);
    }

    std::string In(const std::string &name) const { return data + "\\" + name; }
};

// Nearly full (16 KB left, less than any picture) and completely full: the
// render, the cloud map and the placeholder each fail with their code, the
// user hears of the render once, and nothing on the disk changes.
TEST_F(FullDisk, RendersAndMapsFailWithTheirCodesAndKeepEveryFile)
{
    ASSERT_EQ(RENDER_OK, RenderWallpaper());
    ASSERT_EQ(0, GenerateCloudMap());
    ASSERT_EQ(0, WritePlaceholderImage(In("Placeholder.bmp").c_str(), 256, 128));
    SaveEverything();
    ASSERT_TRUE(FileExists(In("Veltaspar.bmp")));
    ASSERT_TRUE(FileExists(In("Profile-Test\\Veltaspar.bmp")));
    ASSERT_TRUE(FileExists(In("Clouds.map")));
    Ticks(2000000);
    ASSERT_EQ(0u, boxes.texts.size()) << boxes.texts[0];
    const auto before = Snapshot(data);

    for (long long leave : {16384LL, 0LL}) {
        SCOPED_TRACE("bytes free: " + std::to_string(leave));
        ASSERT_EQ(0, Fill(leave));
        size_t shown = boxes.texts.size();
        EXPECT_EQ(RENDER_NO_TEMPORARY, RenderWallpaper());
        Ticks(2000010);
        ASSERT_EQ(shown + 1, boxes.texts.size());
        const char *kReport = "The wallpaper image could not be updated!\nError code: 44.";
        EXPECT_NE(std::string::npos, boxes.texts[shown].find(kReport)) << boxes.texts[shown];
        EXPECT_EQ(CLOUDS_TMP_NOT_CREATED, GenerateCloudMap());
        EXPECT_EQ('N', WritePlaceholderImage(In("Placeholder.bmp").c_str(), 256, 128));
        // A mapping of a new file that cannot get its blocks leaves no file.
        CMappedFile map;
        EXPECT_EQ(MAPPED_NO_SPACE, map.Open(In("grown.bin").c_str(), MAPPED_READ_WRITE, 200000, 0));
        EXPECT_FALSE(FileExists(In("grown.bin")));
        Ticks(2000020);
        EXPECT_EQ(shown + 1, boxes.texts.size()) << "reported again";

        const auto after = Snapshot(data);
        EXPECT_EQ("", Differences(before, after));
        EXPECT_EQ("", Temporaries(after));
    }

    // Space again: the next render is an ordinary one.
    ASSERT_EQ(0, Fill(-1));
    EXPECT_EQ(RENDER_OK, RenderWallpaper());
    EXPECT_EQ(0, GenerateCloudMap());
    Bmp picture;
    EXPECT_TRUE(ReadBmp(In("Veltaspar.bmp"), &picture));
    EXPECT_EQ(256, picture.width);
    EXPECT_EQ(ReadWhole(In("Profile-Test\\Veltaspar.bmp")), ReadWhole(In("Veltaspar.bmp")));
    EXPECT_EQ("", Temporaries(Snapshot(data)));
}

const int kCopyAttempts = gComposeCopyAttempts, kCopyPauseMs = gComposeCopyPauseMs;

// A larger picture whose render fits but whose copy into the data folder
// does not: the desktop's copy keeps its old bytes instead of being cut
// short, and nothing is left beside it.
TEST_F(FullDisk, APictureCopyThatDoesNotFitKeepsTheOldCopy)
{
    ASSERT_EQ(RENDER_OK, RenderWallpaper());
    Ticks(2000000);
    const std::string old = ReadWhole(In("Veltaspar.bmp"));
    ASSERT_EQ(98358u, old.size());
    gScreenW = 512;   // 393,270 bytes
    gScreenH = 256;
    // 448 KB free: the temporary (388 KB in pages) fits, and after the move
    // over the profile's picture 160 KB are left, not enough for the copy,
    // which is tried twice.
    ASSERT_EQ(0, Fill(448 * 1024));
    gComposeCopyAttempts = 2;
    gComposeCopyPauseMs = 50;
    gWallpaperReady = 0;
    EXPECT_EQ(RENDER_OK, RenderWallpaper());
    EXPECT_EQ(393270u, ReadWhole(In("Profile-Test\\Veltaspar.bmp")).size());
    std::string copy = ReadWhole(In("Veltaspar.bmp"));
    EXPECT_TRUE(copy == old) << "the desktop's copy has " << copy.size() << " bytes";
    EXPECT_EQ(0, gWallpaperReady) << "a picture that was not copied is handed over";
    EXPECT_EQ("", Temporaries(Snapshot(data)));
    gComposeCopyAttempts = kCopyAttempts;
    gComposeCopyPauseMs = kCopyPauseMs;
}

// A record that cannot be written keeps its old bytes and leaves no
// temporary, whether the disk is full before the temporary is made or
// while it is written.
TEST_F(FullDisk, RecordWritesFailWithoutATemporary)
{
    std::string small(100, 'a'), large(40000, 'b');
    ASSERT_EQ(100, WriteRecordFile("(QRF)App", -1, small.data(), 100, 0));
    ASSERT_EQ(0, Fill(16384));
    EXPECT_EQ(0, WriteRecordFile("(QRF)App", -1, large.data(), (int)large.size(), 0));
    EXPECT_EQ(small, ReadWhole(In("(QRF)App.rgc")));
    ASSERT_EQ(0, Fill(0));
    EXPECT_EQ(0, WriteRecordFile("(QRF)App", -1, small.data(), 50, 0));
    EXPECT_EQ(ERROR_DISK_FULL, (int)GetLastError());
    EXPECT_EQ(small, ReadWhole(In("(QRF)App.rgc")));
    EXPECT_EQ("", Temporaries(Snapshot(data)));
}

// Settings changed while the disk is full: one message naming what was not
// saved and why (none at quitting), none for the saves after it, the old
// stores untouched;
// with space again the next save writes what memory kept, a start loads it,
// and a later failure is told again.
TEST_F(FullDisk, AFailedSaveIsToldOnceAndTheNextSaveWritesTheKeptSettings)
{
    SaveEverything();
    ASSERT_EQ(0u, boxes.texts.size()) << boxes.texts[0];
    const auto before = Snapshot(data);
    ASSERT_TRUE(before.count("Preferences.rgc"));
    ASSERT_TRUE(before.count("Profile-Test\\Options0.rgc"));

    ASSERT_EQ(0, Fill(0));
    gPrefs.iTimeBias = 123;
    gViewLists[0].data[0].iUpdate = 17;
    gCurProfileSettings.scrx = 640;
    // Quitting saves without a message box, which would hold up the quit.
    SaveEverything(false);
    EXPECT_EQ(0u, boxes.texts.size());
    SaveEverything();
    ASSERT_EQ(1u, boxes.texts.size());
    const std::string &text = boxes.texts[0];
    printf("the message: %s\n", text.c_str());
    EXPECT_NE(std::string::npos, text.find("The settings could not be saved!")) << text;
    EXPECT_NE(std::string::npos, text.find("the preferences and the profile \"Test\"")) << text;
    char reason[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0, ERROR_DISK_FULL,
                   0, reason, sizeof reason, 0);
    std::string full = reason;
    while (!full.empty() && (full.back() == '\n' || full.back() == '\r' || full.back() == ' '))
        full.pop_back();
    ASSERT_FALSE(full.empty());
    EXPECT_NE(std::string::npos, text.find(full)) << text;
    // Later saves fail quietly; a profile switch's save is one of them.
    SaveEverything();
    ReportProfileSaved(ProfileIO(PROFILE_SAVE, "Test"), "Test");
    EXPECT_EQ(PROFILE_NO_SETTINGS, ProfileIO(PROFILE_SAVE, "Test"));
    EXPECT_EQ(1, PrefsIO(1));
    EXPECT_EQ(1u, boxes.texts.size());
    const auto full0 = Snapshot(data);
    EXPECT_EQ("", Differences(before, full0));
    EXPECT_EQ("", Temporaries(full0));
    EXPECT_EQ(123, gPrefs.iTimeBias);   // kept for the next save

    // Space again: the kept settings are written, without a word.
    ASSERT_EQ(0, Fill(-1));
    SaveEverything();
    EXPECT_EQ(1u, boxes.texts.size());
    EXPECT_EQ("", Temporaries(Snapshot(data)));

    // A start reads them back.
    gPrefs = kDefaultPrefs;
    memset(&gCurProfileSettings, 0, sizeof gCurProfileSettings);
    SetDefaultView(&gViewLists[0].data[0], 0);
    EXPECT_EQ(0, ProfilesStartup());
    EXPECT_EQ(123, gPrefs.iTimeBias);
    EXPECT_STREQ("Test", gPrefs.szCurProfile);
    EXPECT_EQ(640, gCurProfileSettings.scrx);
    ASSERT_GE(gViewLists[0].count, 1);
    EXPECT_EQ(17, gViewLists[0].data[0].iUpdate);
    UseTinyMaps(install);
    gScreenW = 256;
    gScreenH = 128;
    EXPECT_EQ(RENDER_OK, RenderWallpaper());

    // The message is armed again after that success.
    ASSERT_EQ(0, Fill(0));
    gPrefs.iTimeBias = 7;
    SaveEverything();
    ASSERT_EQ(2u, boxes.texts.size());
    EXPECT_NE(std::string::npos, boxes.texts[1].find("The settings could not be saved!"))
        << boxes.texts[1];
    ASSERT_EQ(0, Fill(-1));
}

// A miniature of the cloud map, and a demo cloud picture, that do not fit
// keep the old file whole and leave nothing beside it.
TEST_F(FullDisk, ACloudMiniatureOrDemoCloudThatDoesNotFitKeepsTheOldFile)
{
    // A small map first (medium clouds of 64 x 32), then the low ones of
    // 512 x 256: the new map's temporary (33 pages) fits, and after it has
    // replaced the small map 20 KB are left, less than the 45,012 bytes of
    // the miniature.
    WriteWhole(install + "\\CloudsM.int", ScrambledJpeg(64, 32, Pattern));
    gPrefs.iCloudsRes = 1;
    ASSERT_EQ(0, GenerateCloudMap());
    const std::string mini = ReadWhole(In("Clouds.min"));
    ASSERT_EQ((size_t)CLOUDS_MINI_BYTES, mini.size());
    gPrefs.iCloudsRes = 0;
    ASSERT_EQ(0, Fill(33 * 4096 + 16384));
    EXPECT_EQ(CLOUDS_MINI_WRITE_FAILED, GenerateCloudMap());
    EXPECT_EQ(512u * 256 + MAP_TRAILER_BYTES, ReadWhole(In("Clouds.map")).size());
    EXPECT_TRUE(ReadWhole(In("Clouds.min")) == mini) << "the old miniature was not kept";
    EXPECT_EQ("", Temporaries(Snapshot(data)));
    ASSERT_EQ(0, Fill(-1));

    // The demo clouds of a program folder on the small disk: CloudsL.int is
    // missing, so both are made again, and the medium one does not fit.
    const std::string own = disk + "\\own";
    RemoveTree(own);
    ASSERT_TRUE(CreateDirectoryA(own.c_str(), 0));
    WriteWhole(own + "\\CloudsH.int", ScrambledJpeg(512, 256, Pattern));
    WriteWhole(own + "\\CloudsM.int", "the old medium clouds");
    ASSERT_EQ(0, Fill(16384));
    EXPECT_EQ(DOWNLOAD_SHORT_WRITE, RescaleDemoCloudFiles(own.c_str()));
    EXPECT_EQ("the old medium clouds", ReadWhole(own + "\\CloudsM.int"));
    EXPECT_FALSE(FileExists(own + "\\CloudsL.int"));
    EXPECT_EQ("", Temporaries(Snapshot(own)));
    ASSERT_EQ(0, Fill(-1));
    RemoveTree(own);
}

// An export over an existing archive, one the user chose to overwrite or
// the day's name of the automatic archive in the backup folder, after the
// configuration grew: on a full disk the old archive keeps its bytes,
// nothing is left beside it and the automatic one stays due; with space
// again both replace it.
TEST_F(FullDisk, AnArchiveExportThatDoesNotFitKeepsTheOldArchive)
{
    char product[MAX_TEXT];
    CopyText(product, gApp.productName, MAX_TEXT);
    CopyText(gApp.productName, "Veltaspar", MAX_TEXT);   // the archive's identity entry
    SaveEverything();
    ASSERT_TRUE(CreateDirectoryA(In("Backup").c_str(), 0));
    const std::string target = In("Backup\\Veltaspar-2027.03.05.KestrovaConfig");
    ASSERT_EQ(ARCHIVE_OK, ExchangeConfigArchive(0, ARCHIVE_MODE_EXPORT, target.c_str()));
    const std::string old = ReadWhole(target);
    ASSERT_LT(old.size(), 16384u);
    WriteWhole(In("Noise.rgc"), Noise(65536));
    memset(&gArchiveRecord, 0, sizeof gArchiveRecord);
    CopyText(gArchiveRecord.folderTemplate, In("Backup").c_str(), ARCHIVE_TEXT_SIZE);
    CopyText(gArchiveRecord.nameTemplate, "%PROGRAM%-2027.03.05", ARCHIVE_TEXT_SIZE);
    gArchiveRecord.keepCount = 30;
    int64_t when = 1804248000;   // 5 March 2027, noon UTC
    const auto before = Snapshot(data);

    for (long long leave : {16384LL, 0LL}) {
        SCOPED_TRACE("bytes free: " + std::to_string(leave));
        ASSERT_EQ(0, Fill(leave));
        EXPECT_EQ(ARCHIVE_NOT_CREATED,
                  ExchangeConfigArchive(0, ARCHIVE_MODE_EXPORT, target.c_str()));
        EXPECT_EQ(ARCHIVE_THREAD_FAILED, (int)ArchiveThread(&when));
        EXPECT_EQ(0, gArchiveRecord.lastArchive);
        const auto after = Snapshot(data);
        EXPECT_EQ("", Differences(before, after));
        EXPECT_EQ("", Temporaries(after));
    }

    // The grown configuration's archive holds the 64 KB.
    ASSERT_EQ(0, Fill(-1));
    EXPECT_EQ(ARCHIVE_OK, ExchangeConfigArchive(0, ARCHIVE_MODE_EXPORT, target.c_str()));
    EXPECT_GT(ReadWhole(target).size(), 65536u);
    WriteWhole(target, "an older archive");
    EXPECT_EQ(ARCHIVE_THREAD_DONE, (int)ArchiveThread(&when));
    EXPECT_EQ(1804204800, gArchiveRecord.lastArchive);
    EXPECT_GT(ReadWhole(target).size(), 65536u);
    EXPECT_EQ("", Temporaries(Snapshot(data)));
    CopyText(gApp.productName, product, MAX_TEXT);
}

}   // namespace
