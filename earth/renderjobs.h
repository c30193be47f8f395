// The render jobs: the two outputs (wallpaper, screen saver), the screen and
// map previews of the options dialog and the camera image of the camera-path
// editor. Each builds its own list of view copies, places every view on its
// output and hands the list to the compositor. Requests, cancels and results
// travel through plain shared flags, without locks.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "earth/settings.h"

enum {
    RENDER_JOB_WALLPAPER = 0,
    RENDER_JOB_SCREENSAVER = 1,
    RENDER_JOB_SCREEN_PREVIEW = 2,
    RENDER_JOB_MAP_PREVIEW = 3,
    RENDER_JOB_CAMERA_IMAGE = 4,
    RENDER_JOBS = 5,
    RENDER_OUTPUTS = 2,
    RENDER_REPORTED_JOBS = 4,        // the jobs whose failures the main window shows
    RENDER_BOTH_OUTPUTS = 2,         // the "which" of RequestRender
    RENDER_WAIT_ROUNDS = 100,
    RENDER_WAIT_ROUND_MS = 50,
    RENDER_ORDER_SCREENSAVER_FIRST = 1,
};

// Shared state of the five jobs, indexed by RENDER_JOB_*.
struct RenderJobState {
    volatile uint8_t running[RENDER_JOBS];   // 1 while its thread works
    volatile uint8_t cancel[RENDER_JOBS];    // polled by the compositor
    volatile int status[RENDER_JOBS];        // result of the last run; 3 no thread
    volatile int pending[RENDER_OUTPUTS];    // 1 = render requested
    volatile int order;                      // 1 = screen saver first
};
extern RenderJobState gRenderJobs;

// Raised after a new wallpaper reached the data folder; the main window
// clears it once the desktop has the picture.
extern volatile uint8_t gWallpaperReady;
// Last result of jobs 0..3 for the main window to report; it clears an entry
// once shown.
extern volatile int gOutputStatus[RENDER_REPORTED_JOBS];

// What the options dialog tells the previews. Widths of 0 mean there is no
// such control (the job then renders nothing); null callbacks are skipped.
// showPicture gets the picture's path, or "" to clear the control.
struct PreviewHooks {
    ViewList *list;        // the list being edited; null = the wallpaper list
    int viewIndex;         // the view being edited
    int screenPreviewWidth;
    int mapPreviewWidth;
    int cameraImageWidth;
    void (*showScreenPreview)(const char *path);
    void (*showMapPreview)(const char *path);
    void (*showCameraImage)(const char *path);
    void (*clearCameraCaption)();   // clears the editor's caption and repaints
};
extern PreviewHooks gPreviewHooks;

// The lists of view copies the jobs hand to the compositor: every view of an
// output placed on the screen at the current time; the edited list's views on
// the miniature maps at a preview's width; the default view with the edited
// view's map and seasons fitted into a control's width. 0, or a RENDER_ code.
int BuildOutputList(const ViewList *views, ViewList *jobs);
int BuildScreenPreviewList(ViewList *jobs, int width);
int BuildMapList(ViewList *jobs, int width);

// which: 0 wallpaper, 1 screen saver, 2 both, negative only what is pending.
// order 1 starts the screen saver first. wait cancels running outputs (they
// are redone) and waits for them. Starts at most one output; 0, or 3 when
// its thread could not be created.
int RequestRender(int which, int order, int wait);
// Cancel and wait for the running preview, then start it again; 0 or 3.
int StartMapPreview();
int StartScreenPreview();
// Renders the camera image on the caller's thread; the compositor's status.
int RenderCameraImage();

// Starts a worker with its parameter, at idle priority when gPrefs.bUseIdle
// says so; false when the thread could not be created.
bool StartWorkerThread(LPTHREAD_START_ROUTINE routine, int parameter);

DWORD WINAPI RenderOutputThread(LPVOID index);
DWORD WINAPI RenderScreenPreviewThread(LPVOID);
DWORD WINAPI RenderMapPreviewThread(LPVOID);

// The camera's latitude, longitude (radians) and zoom at the view's tTime.
void CameraPathPosition(const ViewOptions *view, double *latitude, double *longitude,
                        double *zoom);
// Sets the view's map, desktop and clip areas (and the globe's centre) for
// its output size, map size, selection and view mode.
void PlaceView(ViewOptions *view);
// The random size and position of a view's selection, kept within 0..1.
void RandomizeSelection(ViewOptions *view);
// The picture time: now plus the time bias and transition offset, UTC.
void PictureTime(struct tm *out);
// The output screen's size: the main window's, or the primary screen's.
void OutputScreenSize(int *width, int *height);
// Where job writes its picture (the profile folder, or the data folder for
// the camera image), and for the outputs where it is copied after success.
void RenderPicturePath(char *out, int size, int job);
void RenderCopyPath(char *out, int size, int job);
