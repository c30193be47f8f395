// The cloud updater's own work: finding the stored and built-in cloud
// pictures, turning one into the grey cloud map the compositor reads, the
// demonstration clouds, the download routine with its result texts (shared
// with the weather updater and the connection test) and the worker thread
// that does all of it when a new picture is due. The HTTP transport under the
// download is in clouds_http.cpp.
#include "earth/clouds.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "earth/maintenance.h"
#include "earth/mapfile.h"
#include "framework/seams.h"
#include "earth/renderjobs.h"
#include "earth/scramble.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/httpclient.h"
#include "framework/mappedfile.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "imaging/image.h"
#include "resources/resource.h"

CloudUpdaterHooks gCloudHooks = {0};
int gCloudCopyRetries = 60;
int gCloudCopyPauseMs = 1000;
volatile LONG gCloudUpdaterBusy = 0;
volatile int gLastCloudDownloadResult = 0;


static const char *const kBuiltinClouds[3] = {"CloudsL.int", "CloudsM.int", "CloudsH.int"};

// Centre weights of the enhancement levels; the edges weigh -10, so the
// divisor (centre - 40) keeps the overall gain at one.
static const int kEnhanceCentre[CLOUDS_ENHANCE_LEVELS] = {112, 80, 64, 56, 52, 50};

int CloudEnhanceKernel(int level, int kernel[9])
{
    if (level < 1 || level > CLOUDS_ENHANCE_LEVELS)
        return 0;
    static const int shape[9] = {0, -10, 0, -10, 0, -10, 0, -10, 0};
    memcpy(kernel, shape, sizeof shape);
    kernel[4] = kEnhanceCentre[level - 1];
    return kernel[4] - 40;
}

// ------------------------------------------------------------------ files

// Writes the bytes as the whole file through a temporary beside it, so a
// write that fails (a full disk) keeps the old file: 0, 17 not created, not
// moved into place or a path too long for its temporary, 18 short write (the
// helper reports a full disk).
static int WriteWholeFile(const char *path, const void *data, int size)
{
    if (WriteFileReplacing(path, data, size) == size)
        return 0;
    DWORD error = GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? DOWNLOAD_SHORT_WRITE
                                                                        : DOWNLOAD_FILE_NOT_CREATED;
}

// Cloud pictures stay below a gigabyte.
enum { CLOUDS_SOURCE_LIMIT = 0x40000000 };

int LoadScrambledJpeg(const char *path, CDibImage *image)
{
    uint32_t size = 0;
    uint8_t *data = (uint8_t *)ReadWholeFile(path, &size, CLOUDS_SOURCE_LIMIT);
    if (!data)
        return CLOUDS_NOT_READABLE;
    ScrambleBytes(data, size);
    bool decoded = size > 0 && image->Decode(data, (int)size, FORMAT_JPG);
    free(data);
    return decoded && image->GetWidth() >= 2 ? CLOUDS_OK : CLOUDS_NOT_DECODABLE;
}

// ------------------------------------------------------------------ cloud map

static void BuiltinCloudPath(char *out, int size)
{
    int res = gPrefs.iCloudsRes < 0 ? 0 : gPrefs.iCloudsRes > 2 ? 2 : gPrefs.iCloudsRes;
    snprintf(out, size, "%s\\%s", gApp.ownFolder, kBuiltinClouds[res]);
}

// The picture the map is built from: the download unless clouds are built-in
// only. An unreadable download falls back to the built-in picture; a corrupt
// one does not.
static int LoadCloudSource(CDibImage *image)
{
    char path[MAX_PATH];
    int result = CLOUDS_NOT_READABLE;
    if (gPrefs.iCloudsData != CLOUDS_DATA_BUILTIN) {
        snprintf(path, MAX_PATH, "%s\\Clouds.net", gApp.dataFolder);
        result = LoadScrambledJpeg(path, image);
    }
    if (result == CLOUDS_NOT_READABLE) {
        BuiltinCloudPath(path, MAX_PATH);
        result = LoadScrambledJpeg(path, image);
    }
    return result;
}

static void EnhanceClouds(CDibImage *image)
{
    int kernel[9];
    int divisor = CloudEnhanceKernel(gPrefs.iCloudsEnhance, kernel);
    if (divisor)
        image->Filter(kernel, 3, divisor, 0);
}

// Grey rows of the picture, top row first, as width x width/2 bytes. A
// picture that is not 2:1 is stretched vertically rather than overrun.
static void WriteGreyRows(const CDibImage *image, uint8_t *out, int width, int height)
{
    int sourceHeight = image->GetHeight();
    bool report = gProgressSink.window() != 0;
    for (int r = 0; r < height; r++) {
        int sourceRow = (int)((int64_t)r * sourceHeight / height);
        int y = sourceHeight - 1 - sourceRow;   // bitmap rows run bottom up
        uint8_t *row = out + (size_t)r * width;
        for (int x = 0; x < width; x++) {
            RGBQUAD c = image->BlindGetPixelColor(x, y);
            row[x] = (uint8_t)((306 * c.rgbRed + 601 * c.rgbGreen + 117 * c.rgbBlue) >> 10);
        }
        if (report)
            gProgressSink.status(0, r * 100 / height);
    }
}

// Clouds.tmp: grey rows then the trailer. 0, 7 or 9.
static int WriteCloudTmp(const char *path, const CDibImage *image)
{
    int width = image->GetWidth(), height = width / 2;
    DWORD bytes = (DWORD)width * height;
    DeleteFileA(path);   // a larger leftover would keep its size under the mapping
    CMappedFile map;
    if (map.Open(path, MAPPED_READ_WRITE, bytes + MAP_TRAILER_BYTES, 0) != MAPPED_OK)
        return CLOUDS_TMP_NOT_CREATED;
    WriteGreyRows(image, map.base, width, height);
    map.cursor = map.base + bytes;
    MapTrailer trailer = {MAP_KIND_CLOUDS, (uint32_t)width, (uint32_t)height};
    int result = map.Write(&trailer, sizeof trailer) ? CLOUDS_TRAILER_FAILED : CLOUDS_OK;
    map.Close();
    return result;
}

// The renderer may hold the old map for a while. The finished temporary is
// moved over it: a copy on a full disk would truncate the old map and leave
// a torn one.
static int ReplaceCloudMap(const char *tmpPath, const char *mapPath)
{
    for (int attempt = 0;; attempt++) {
        if (MoveFileExA(tmpPath, mapPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return CLOUDS_OK;
        if (attempt >= gCloudCopyRetries)
            return CLOUDS_MAP_NOT_REPLACED;
        Sleep(gCloudCopyPauseMs);
    }
}

// Clouds.min: 300 x 150 nearest samples of the map plus its trailer.
static int WriteCloudMini(const char *mapPath, const char *miniPath, int width)
{
    int height = width / 2;
    CMappedFile map;
    if (map.Open(mapPath, 0, 0, 0) != MAPPED_OK ||
        map.sizeLow != (DWORD)width * height + MAP_TRAILER_BYTES)
        return CLOUDS_MINI_NOT_CREATED;
    static uint8_t mini[CLOUDS_MINI_BYTES];
    double step = width / (double)MAP_MINI_WIDTH;
    for (int r = 0; r < MAP_MINI_HEIGHT; r++) {
        int y = (int)(r * step);
        y = y < height ? y : height - 1;
        for (int k = 0; k < MAP_MINI_WIDTH; k++) {
            int x = (int)(k * step);
            mini[r * MAP_MINI_WIDTH + k] = map.base[(size_t)y * width + (x < width ? x : width - 1)];
        }
    }
    map.Close();
    MapTrailer trailer = {MAP_KIND_CLOUDS, MAP_MINI_WIDTH, MAP_MINI_HEIGHT};
    memcpy(mini + MAP_MINI_WIDTH * MAP_MINI_HEIGHT, &trailer, sizeof trailer);
    int written = WriteWholeFile(miniPath, mini, (int)sizeof mini);
    return written == 0 ? CLOUDS_OK
           : written == DOWNLOAD_FILE_NOT_CREATED ? CLOUDS_MINI_NOT_CREATED
                                                  : CLOUDS_MINI_WRITE_FAILED;
}

static int BuildCloudMap(const char *tmpPath)
{
    CImage image;
    int result = LoadCloudSource(&image);
    if (result != CLOUDS_OK)
        return result;
    EnhanceClouds(&image);
    result = WriteCloudTmp(tmpPath, &image);
    int width = image.GetWidth();
    image.Destroy();   // the picture is not needed past the map
    if (result != CLOUDS_OK)
        return result;
    char mapPath[MAX_PATH], miniPath[MAX_PATH];
    snprintf(mapPath, MAX_PATH, "%s\\%s.%s", gApp.dataFolder, "Clouds", "map");
    snprintf(miniPath, MAX_PATH, "%s\\%s.%s", gApp.dataFolder, "Clouds", "min");
    result = ReplaceCloudMap(tmpPath, mapPath);
    if (result != CLOUDS_OK)
        return result;
    return WriteCloudMini(mapPath, miniPath, width);
}

int GenerateCloudMap()
{
    gProgressSink.status("Generating cloud map", 0);
    char tmpPath[MAX_PATH];
    snprintf(tmpPath, MAX_PATH, "%s\\%s.tmp", gApp.dataFolder, "Clouds");
    int result = BuildCloudMap(tmpPath);
    DeleteFileA(tmpPath);
    gProgressSink.status(result ? "Update failed" : "Update complete", -1);
    return result;
}

// ------------------------------------------------------------------ demo clouds

// One resampled, encoded and scrambled copy of the picture as folder\name.
static int WriteDemoCloud(CDibImage *high, int width, const char *folder, const char *name)
{
    CImage scaled;
    if (!high->Resample(width, width / 2, 0, &scaled))
        return CLOUDS_NOT_ENCODED;
    scaled.SetJpegQuality(CLOUDS_DEMO_JPEG_QUALITY);
    unsigned char *jpeg = 0;
    int32_t size = 0;
    if (!scaled.Encode(&jpeg, &size, FORMAT_JPG))
        return CLOUDS_NOT_ENCODED;
    ScrambleBytes(jpeg, (uint32_t)size);
    char path[MAX_PATH];
    snprintf(path, MAX_PATH, "%s\\%s", folder, name);
    int result = WriteWholeFile(path, jpeg, size);
    CDibImage::FreeEncodedBuffer(jpeg);
    return result;
}

bool DemoCloudsPresent(const char *folder)
{
    char medium[MAX_PATH], low[MAX_PATH];
    snprintf(medium, MAX_PATH, "%s\\%s", folder, kBuiltinClouds[1]);
    snprintf(low, MAX_PATH, "%s\\%s", folder, kBuiltinClouds[0]);
    return PathExists(medium) && PathExists(low);
}

int RescaleDemoCloudFiles(const char *folder)
{
    if (DemoCloudsPresent(folder))
        return CLOUDS_OK;
    gProgressSink.status("Rescaling demo clouds", 0);
    char path[MAX_PATH];
    snprintf(path, MAX_PATH, "%s\\%s", folder, kBuiltinClouds[2]);
    CImage high;
    int result = LoadScrambledJpeg(path, &high);
    if (result != CLOUDS_OK)
        return result;
    gProgressSink.status(0, 30);
    result = WriteDemoCloud(&high, CLOUDS_DEMO_MEDIUM_WIDTH, folder, kBuiltinClouds[1]);
    if (result != CLOUDS_OK)
        return result;
    gProgressSink.status(0, 70);
    return WriteDemoCloud(&high, CLOUDS_DEMO_LOW_WIDTH, folder, kBuiltinClouds[0]);
}

DWORD WINAPI RescaleDemoCloudsThread(LPVOID)
{
    gProgressSink.waitForDialog();
    int result = RescaleDemoCloudFiles(gApp.ownFolder);
    gProgressSink.workerDone(result);
    return (DWORD)result;
}

// ------------------------------------------------------------------ download

void DownloadResultText(int code, char *out, int size)
{
    if (code == 0) {
        CopyText(out, "Download complete", size);
        return;
    }
    if (code == DOWNLOAD_NOT_MODIFIED) {
        CopyText(out, "No new data available", size);
        return;
    }
    const char *reason = HttpResultText(code);
    snprintf(out, size, "Download failed - %s", reason ? reason : "Transfer error");
}

struct DownloadSink {
    HANDLE file;      // INVALID_HANDLE_VALUE: the body is dropped
    int failure;      // 18 once a write fell short
};

static int WriteBody(void *context, const void *data, uint32_t size)
{
    DownloadSink *sink = (DownloadSink *)context;
    if (sink->file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    if (!WriteFile(sink->file, data, size, &written, 0) || written != size)
        sink->failure = DOWNLOAD_SHORT_WRITE;
    return sink->failure;
}

static void ShowDownloadProgress(void *, int64_t done, int64_t total)
{
    if (total > 0)
        gProgressSink.status(0, (int)(done * 100 / total));
}

void FillHttpProxy(HttpFileRequest *request)
{
    if (gPrefs.iProxyType != 1)
        return;
    request->proxyServer = gPrefs.szProxyServer;
    request->proxyPort = gPrefs.iProxyPort;
    request->proxyConnection = gPrefs.bProxyConn;
    request->proxyUser = gPrefs.bProxyAuth ? gPrefs.szProxyUser : 0;
    request->proxyPassword = gPrefs.szProxyPass;
}

// The request through the transport into sink; the request's result.
static int RunRequest(HttpFileRequest *request, DownloadSink *sink)
{
    request->body = WriteBody;
    request->progress = ShowDownloadProgress;
    request->context = sink;
    int result = CloudsHttpGetToFile(request);
    return sink->failure ? sink->failure : result;
}

// Moves the finished body over the target, or drops it.
static int FinishBody(const char *partPath, const char *file, int result)
{
    if (result == 0 && !MoveFileExA(partPath, file, MOVEFILE_REPLACE_EXISTING))
        result = DOWNLOAD_FILE_NOT_CREATED;
    if (result != 0)
        DeleteFileA(partPath);
    return result;
}

int DownloadToFile(char *url, int urlSize, const char *file, const char *user,
                   const char *password, char *modified, bool copyBack)
{
    gProgressSink.status("Downloading...", 0);
    HttpFileRequest request;
    memset(&request, 0, sizeof request);
    request.url = url;
    request.user = user;
    request.password = password;
    request.maxBody = CLOUDS_MAX_DOWNLOAD;
    FillHttpProxy(&request);
    // Without the old file an unchanged answer would leave us with nothing.
    if (modified && file && PathExists(file))
        request.ifModifiedSince = modified;
    DownloadSink sink = {INVALID_HANDLE_VALUE, 0};
    char partPath[MAX_PATH] = "";
    int result = 0;
    if (file) {
        snprintf(partPath, MAX_PATH, "%s.part", file);
        sink.file = CreateFileA(partPath, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
        if (sink.file == INVALID_HANDLE_VALUE)
            result = DOWNLOAD_FILE_NOT_CREATED;
    }
    if (result == 0)
        result = RunRequest(&request, &sink);
    if (sink.file != INVALID_HANDLE_VALUE) {
        CloseHandle(sink.file);
        result = FinishBody(partPath, file, result);
    }
    bool answered = result == 0 || result == DOWNLOAD_NOT_MODIFIED;
    if (answered && modified && request.lastModified[0])
        CopyText(modified, request.lastModified, HTTP_MODIFIED_SIZE);
    if (answered && copyBack && request.finalUrl[0])
        CopyText(url, request.finalUrl, urlSize);
    char text[PROGRESS_TEXT_SIZE];
    DownloadResultText(result, text, sizeof text);
    gProgressSink.status(text, 0);
    return result;
}

// ------------------------------------------------------------------ worker

int StartCloudDownload(int mode, bool regenerate)
{
    if (InterlockedCompareExchange(&gCloudUpdaterBusy, 1, 0) != 0)
        return CLOUDS_BUSY;
    int parameter = mode + (regenerate ? CLOUD_MODE_REGENERATE : 0);
    if (!StartWorkerThread(CloudDownloadThread, parameter)) {
        gCloudUpdaterBusy = 0;
        return CLOUDS_NO_THREAD;
    }
    return CLOUDS_OK;
}

// Modes 1 and 2 download once the interval (at least three hours) has passed.
static bool CloudDownloadDue(int mode, int64_t now)
{
    if (mode == CLOUD_MODE_NOW)
        return true;
    if (mode != CLOUD_MODE_IF_DUE && mode != CLOUD_MODE_IF_DUE_START)
        return false;
    if (gPrefs.iCloudsInterval < CLOUDS_MIN_INTERVAL_HOURS)
        gPrefs.iCloudsInterval = CLOUDS_MIN_INTERVAL_HOURS;
    return now - gPrefs.tCloudsDown > (int64_t)gPrefs.iCloudsInterval * 3600;
}

// Downloads the current resolution's picture; true when a new one arrived.
static bool DownloadClouds(int64_t start)
{
    int entry = (gPrefs.iCloudsRes < 0 ? 0 : gPrefs.iCloudsRes > 2 ? 2 : gPrefs.iCloudsRes) + 1;
    char file[MAX_PATH];
    snprintf(file, MAX_PATH, "%s\\Clouds.net", gApp.dataFolder);
    int result = DownloadToFile(gPrefs.szCloudsUrl[entry], HTTP_URL_SIZE, file,
                                gPrefs.szCloudsUser, gPrefs.szCloudsPass, gPrefs.szModified,
                                true);
    gLastCloudDownloadResult = result;
    if (result == 0) {
        gPrefs.tCloudsDown = start;
        return true;
    }
    if (result != DOWNLOAD_NOT_MODIFIED)
        CopyText(gPrefs.szCloudsUrl[entry], kDefaultPrefs.szCloudsUrl[entry], HTTP_URL_SIZE);
    return false;
}

static bool FirstViewUpdates(int list)
{
    const ViewList &views = gViewLists[list];
    return views.count > 0 && views.data[0].bActive && views.data[0].bUpdate;
}

// New clouds: the map, the preview and the outputs that follow the clouds.
static void RefreshClouds()
{
    GenerateCloudMap();
    if (gCloudHooks.optionsDialogOpen && gCloudHooks.optionsDialogOpen())
        StartScreenPreview();
    int which = (FirstViewUpdates(VIEW_LIST_SCREENSAVER) ? 1 : -1) +
                (FirstViewUpdates(VIEW_LIST_WALLPAPER) ? 1 : 0);
    if (which >= 0)
        RequestRender(which, 0, 1);
}

DWORD WINAPI CloudDownloadThread(LPVOID parameter)
{
    int64_t start = (int64_t)_time64(0);
    gCloudUpdaterBusy = 1;
    int mode = (int)(INT_PTR)parameter & CLOUD_MODE_MASK;
    bool refresh = ((int)(INT_PTR)parameter & CLOUD_MODE_REGENERATE) != 0;
    if (gPrefs.iCloudsData != CLOUDS_DATA_BUILTIN && mode > CLOUD_MODE_NONE) {
        bool due = CloudDownloadDue(mode, start);
        gPrefs.tCloudsCheck = start;
        if (due)
            refresh = DownloadClouds(start) || refresh;
        else
            gProgressSink.status("No new data available", 0);
    }
    if (refresh)
        RefreshClouds();
    HWND window = gProgressSink.window();
    if (window) {
        DWORD_PTR answer;
        // Bounded: the status window's thread may itself be waiting for us.
        SendMessageTimeoutA(window, PROGRESS_REFRESH_MESSAGE, 0, 0, SMTO_ABORTIFHUNG, 5000,
                            &answer);
    }
    gCloudUpdaterBusy = 0;
    return (DWORD)gLastCloudDownloadResult;
}
