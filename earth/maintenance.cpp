// Start-up data maintenance: unpacking downloaded data packs into the
// install folder and converting the "vtd" sources there into map files, each
// also as the worker thread the progress dialog waits for.
#include "earth/maintenance.h"

#include <string.h>

#include "earth/clouds.h"
#include "earth/mapfile.h"
#include "framework/seams.h"
#include "framework/application.h"
#include "framework/filefind.h"
#include "framework/zip.h"

volatile uint8_t gStopConversion = 0;


const char *InstallFolder()
{
    return InstallRecordText(gApp.installRecord, INSTALL_RECORD_INSTALL_PATH);
}

// One entry to its own name below the base folder; its failing code or 0.
static int ExtractEntry(ZipHandle *zip, int index)
{
    ZipEntryInfo info;
    int result = CZipReader::GetEntry(zip, index, &info);
    if (result != ZIP_OK)
        return result;
    return CZipReader::ExtractToFile(zip, index, info.name);
}

// Opens the pack on the install folder; null when it cannot be read.
static ZipHandle *OpenPack(const char *folder, const char *packPath, int *count)
{
    ZipHandle *zip = CZipReader::Open(packPath, 0);
    ZipEntryInfo all;
    if (zip && CZipReader::GetEntry(zip, -1, &all) == ZIP_OK &&
        CZipReader::SetBaseFolder(zip, folder) == ZIP_OK) {
        *count = all.index;
        return zip;
    }
    if (zip)
        CZipReader::Close(zip);
    return 0;
}

int UnpackDataPack(const char *folder, const char *packPath)
{
    gProgressSink.status(packPath, 0);
    int count = 0;
    ZipHandle *zip = OpenPack(folder, packPath, &count);
    if (!zip)
        return ZIP_NOT_OPENED;   // unreadable: the pack stays, and this is no target fault
    int firstFailure = ZIP_OK;
    for (int index = 0; index < count; index++) {
        int result = ExtractEntry(zip, index);
        if (result == ZIP_NOT_OPENED) {
            CZipReader::Close(zip);
            return MAINT_TARGET_NOT_WRITABLE;
        }
        // Later entries are still extracted, but any failure keeps the pack.
        if (firstFailure == ZIP_OK)
            firstFailure = result;
    }
    CZipReader::Close(zip);
    if (firstFailure == ZIP_OK)
        DeleteFileA(packPath);
    return firstFailure;
}

int UnpackDataPacks(const char *folder)
{
    CFileFind find;
    find.Open("%s\\*.zip", folder);
    while (find.FindNext()) {
        if (find.IsFolder())
            continue;
        char path[MAX_PATH];
        CopyText(path, find.GetFilePath(), MAX_PATH);
        if (UnpackDataPack(folder, path) == MAINT_TARGET_NOT_WRITABLE)
            return MAINT_TARGET_NOT_WRITABLE;
    }
    return MAINT_OK;
}

static void ReportConversion(void *, const char *status, int percent)
{
    gProgressSink.status(status, percent);
}

// The file name without its extension.
static void BaseName(char *out, int size, const char *fileName)
{
    CopyText(out, fileName, size);
    char *dot = strrchr(out, '.');
    if (dot)
        *dot = 0;
}

int ConvertDataFiles(const char *folder, volatile uint8_t *cancel)
{
    MapProgress progress = {ReportConversion, 0, cancel};
    CFileFind find;
    find.Open("%s\\*.%s", folder, "vtd");
    while (find.FindNext()) {
        if (find.IsFolder())
            continue;
        char name[MAX_PATH], path[MAX_PATH];
        BaseName(name, MAX_PATH, find.GetFileName());
        CopyText(path, find.GetFilePath(), MAX_PATH);
        int result = ConvertDataFile(folder, name, &progress);
        if (result != CONVERT_OK)
            return result;
        DeleteFileA(path);
    }
    return MAINT_OK;
}

static DWORD FinishThread(int result)
{
    gProgressSink.workerDone(result);
    return (DWORD)result;
}

DWORD WINAPI UnpackDataPacksThread(LPVOID)
{
    gProgressSink.waitForDialog();
    return FinishThread(UnpackDataPacks(InstallFolder()));
}

DWORD WINAPI ConvertDataFilesThread(LPVOID)
{
    gProgressSink.waitForDialog();
    return FinishThread(ConvertDataFiles(InstallFolder(), &gStopConversion));
}

DWORD WINAPI BuildCloudMapThread(LPVOID)
{
    gProgressSink.waitForDialog();
    return FinishThread(GenerateCloudMap());
}
