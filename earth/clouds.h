// The cloud updater: a worker that downloads a new cloud picture when one is
// due, turns it (or a built-in picture) into the grey cloud map the
// compositor reads, and asks for new renders. Its download routine, with its
// result texts, also serves the weather updater and the connection test.
//
// Cloud pictures are stored as scrambled JPEGs (see scramble.h): the download
// "Clouds.net" in the data folder and the built-in "CloudsL.int",
// "CloudsM.int", "CloudsH.int" (low, medium, high) in the program folder.
#pragma once

#include <windows.h>
#include <stdint.h>

class CDibImage;

enum {
    CLOUDS_OK = 0,
    CLOUDS_BUSY = 60,                 // StartCloudDownload while the worker runs
    CLOUDS_NO_THREAD = 3,

    // GenerateCloudMap and the picture loaders.
    CLOUDS_TMP_NOT_CREATED = 7,
    CLOUDS_MAP_NOT_REPLACED = 8,      // Clouds.map stayed held; the old map is kept
    CLOUDS_TRAILER_FAILED = 9,
    CLOUDS_MINI_NOT_CREATED = 10,
    CLOUDS_MINI_WRITE_FAILED = 11,
    CLOUDS_NOT_READABLE = 12,
    CLOUDS_NOT_DECODABLE = 13,
    CLOUDS_NOT_ENCODED = 14,          // RescaleDemoClouds: JPEG encoding failed

    // DownloadToFile beyond the transport's codes (and RescaleDemoClouds).
    DOWNLOAD_FILE_NOT_CREATED = 17,
    DOWNLOAD_SHORT_WRITE = 18,
    DOWNLOAD_NOT_MODIFIED = 304,
    HTTP_CANT_CONNECT = 105,          // also the answer while there is no transport
    HTTP_ANSWER_TOO_LARGE = 107,      // longer than the request's maxBody
    CLOUDS_MAX_DOWNLOAD = 64 << 20,   // far above any cloud picture, far below the address space

    // gPrefs.iCloudsData
    CLOUDS_DATA_BUILTIN = 0,
    CLOUDS_DATA_AUTOMATIC = 2,
    CLOUDS_DATA_ON_REQUEST = 3,

    // Modes of StartCloudDownload / CloudDownloadThread.
    CLOUD_MODE_NONE = 0,
    CLOUD_MODE_IF_DUE = 1,            // 1 and 2: download when the interval has passed
    CLOUD_MODE_IF_DUE_START = 2,
    CLOUD_MODE_NOW = 3,
    CLOUD_MODE_MASK = 15,
    CLOUD_MODE_REGENERATE = 16,       // build the map and render even without a download

    CLOUDS_MIN_INTERVAL_HOURS = 3,
    CLOUDS_ENHANCE_LEVELS = 6,
    CLOUDS_MINI_BYTES = 300 * 150 + 12,
    CLOUDS_DEMO_MEDIUM_WIDTH = 4096,
    CLOUDS_DEMO_LOW_WIDTH = 2048,
    CLOUDS_DEMO_JPEG_QUALITY = 80,
    PROGRESS_REFRESH_MESSAGE = 0x8001, // sent to the status window when the worker ends

    HTTP_URL_SIZE = 1040,
    HTTP_MODIFIED_SIZE = 260,
};

// One HTTP GET as the transport sees it. Null texts mean "none". The body
// arrives in pieces through body; a nonzero answer from it stops the
// transfer and becomes the request's result.
struct HttpFileRequest {
    const char *url;
    const char *user;
    const char *password;
    const char *proxyServer;          // null: direct connection
    int proxyPort;
    int proxyConnection;              // the proxy keeps the connection (gPrefs.bProxyConn)
    const char *proxyUser;            // null: no proxy authorisation
    const char *proxyPassword;
    const char *ifModifiedSince;      // null or "": unconditional
    int maxBody;                      // the longest body the caller takes; 0: the client's default
    char lastModified[HTTP_MODIFIED_SIZE];   // out: the answer's Last-Modified, "" none
    char finalUrl[HTTP_URL_SIZE];            // out: the URL after redirects, "" unchanged
    int (*body)(void *context, const void *data, uint32_t size);
    void (*progress)(void *context, int64_t done, int64_t total);   // total < 0: unknown
    void *context;
};

// The transport on the framework's HTTP client. Answers 0 (whole body
// delivered), 304, the transport's codes (100..107; 101 also for a body cut
// short), an HTTP status (300, 400, 401, 403, 404, 407, ...) or the body
// callback's code.
int CloudsHttpGetToFile(HttpFileRequest *request);
// The proxy settings of gPrefs into a request (none unless iProxyType is 1).
void FillHttpProxy(HttpFileRequest *request);

// What the worker asks outside the earth model: whether the options dialog
// is open (its screen preview then follows the new clouds). The shell sets
// it at start; null: there is no options dialog.
struct CloudUpdaterHooks {
    bool (*optionsDialogOpen)();
};
extern CloudUpdaterHooks gCloudHooks;

// How often and how long apart GenerateCloudMap retries the copy over a held
// Clouds.map (tests shorten both).
extern int gCloudCopyRetries;
extern int gCloudCopyPauseMs;

// Worker state for the options pages: busy while a worker runs, and the
// result of its last download.
extern volatile LONG gCloudUpdaterBusy;
extern volatile int gLastCloudDownloadResult;

// 3 x 3 enhancement kernel of level 1..6 into kernel[9]; its divisor, or 0
// (kernel untouched) for any other level.
int CloudEnhanceKernel(int level, int kernel[9]);

// The status text of a download result into out: "Download complete", "No
// new data available", or "Download failed - " and the HTTP client's text of
// the failure (HttpResultText), "Transfer error" for the rest.
void DownloadResultText(int code, char *out, int size);

// Reads the whole file, restores it and decodes it as JPEG: 0, 12, 13.
int LoadScrambledJpeg(const char *path, CDibImage *image);

// Clouds.map and Clouds.min in the data folder from the current source.
// 0, or one of the CLOUDS_ codes 7..13. Each file is replaced whole or not
// at all: a full disk keeps the old one.
int GenerateCloudMap();

// When CloudsM.int or CloudsL.int is missing in folder, makes both from
// CloudsH.int there. 0, 12, 13, 14, 17 or 18; a file not fully written
// leaves the old one as it was (or none), so the next start tries again.
int RescaleDemoCloudFiles(const char *folder);
bool DemoCloudsPresent(const char *folder);   // CloudsM.int and CloudsL.int
// The same on the program folder as a worker behind the progress dialog
// (gProgressSink): waits for the dialog and ends it with the result.
DWORD WINAPI RescaleDemoCloudsThread(LPVOID);

// One HTTP GET of url into file (null: only the connection is tried). The
// body goes to a sibling ".part" file moved over file only when complete, so
// a failed or unchanged download keeps the previous file. modified (null or
// HTTP_MODIFIED_SIZE characters) is sent as If-Modified-Since when file
// exists and receives the answer's Last-Modified. With copyBack, the final
// URL of a 0 or 304 answer replaces url. Shows the progress and result text.
int DownloadToFile(char *url, int urlSize, const char *file, const char *user,
                   const char *password, char *modified, bool copyBack);

// 60 while busy; else starts the worker with mode (+16 with regenerate):
// 0, or 3 when the thread cannot be created.
int StartCloudDownload(int mode, bool regenerate);
// The worker; parameter is the mode. Answers the last download result.
DWORD WINAPI CloudDownloadThread(LPVOID parameter);
