// Render jobs: job lists, view placement, requests and the job threads.
#include "earth/renderjobs.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/ephemeris.h"
#include "earth/maintenance.h"
#include "earth/mapfile.h"
#include "framework/application.h"

static const double PI = 3.14159265358979323846;

RenderJobState gRenderJobs;
volatile uint8_t gWallpaperReady = 0;
volatile int gOutputStatus[RENDER_REPORTED_JOBS];
PreviewHooks gPreviewHooks;

static const char *const kPictureNames[RENDER_JOBS] = {
    "Veltaspar.bmp", "VTScrsvr.bmp", "VTScrPrv.bmp", "VTMapPrv.bmp", "VTCamImg.bmp",
};

// ---- small helpers ----------------------------------------------------------

static double DrawRandom()
{
    int index = gRandomTableStart & (RANDOM_TABLE_ENTRIES - 1);
    gRandomTableStart = (index + 1) & (RANDOM_TABLE_ENTRIES - 1);
    return RandomTable[index];
}

static int Trunc(double value) { return (int)value; }

// Cancels the job and waits for it, at most the given rounds. A render that
// ignores its cancel byte finishes on its own.
static void CancelAndWait(int job, int rounds)
{
    while (gRenderJobs.running[job] && rounds > 0) {
        gRenderJobs.cancel[job] = 1;
        gApp.PumpFor(RENDER_WAIT_ROUND_MS);
        rounds--;
    }
}

bool StartWorkerThread(LPTHREAD_START_ROUTINE routine, int parameter)
{
    DWORD id;
    HANDLE thread = CreateThread(0, 0, routine, (LPVOID)(INT_PTR)parameter, CREATE_SUSPENDED, &id);
    if (!thread)
        return false;
    if (gPrefs.bUseIdle)
        SetThreadPriority(thread, THREAD_PRIORITY_IDLE);
    ResumeThread(thread);
    CloseHandle(thread);
    return true;
}

// Every end of a job goes through here: the status is in place before the
// running byte drops, so a waiter never reads a stale result.
static DWORD FinishJob(int job, int status)
{
    gRenderJobs.status[job] = status;
    if (job < RENDER_REPORTED_JOBS)
        gOutputStatus[job] = status;
    gRenderJobs.running[job] = 0;
    return (DWORD)status;
}

void OutputScreenSize(int *width, int *height)
{
    if (gScreenW > 0 && gScreenH > 0) {
        *width = gScreenW;
        *height = gScreenH;
        return;
    }
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

void PictureTime(struct tm *out)
{
    __time64_t now = _time64(0) + (__time64_t)(gPrefs.iTimeBias + gPrefs.iTransMove) * 60;
    struct tm *broken = _gmtime64(&now);
    if (broken)
        *out = *broken;
    else
        memset(out, 0, sizeof *out);
}

void RenderPicturePath(char *out, int size, int job)
{
    if (job == RENDER_JOB_CAMERA_IMAGE)
        _snprintf(out, size, "%s\\%s", gApp.dataFolder, kPictureNames[job]);
    else
        _snprintf(out, size, "%s\\Profile-%s\\%s", gApp.dataFolder, gPrefs.szCurProfile,
                  kPictureNames[job]);
    out[size - 1] = 0;
}

void RenderCopyPath(char *out, int size, int job)
{
    _snprintf(out, size, "%s\\%s", gApp.dataFolder, kPictureNames[job]);
    out[size - 1] = 0;
}

// ---- camera path ------------------------------------------------------------

// Points in use: iCamSteps, cut at a later point that ends the path.
static int CameraPointCount(const ViewOptions *view)
{
    int n = view->iCamSteps;
    if (n > CAMERA_PATH_POINTS)
        n = CAMERA_PATH_POINTS;
    for (int i = 1; i < n; i++)
        if (view->sCamPath[i].time < 0)
            return i;
    return n < 0 ? 0 : n;
}

static void TakePoint(const CameraPoint *point, double *lat, double *lon, double *zoom)
{
    *lat = point->lat;
    *lon = point->lon;
    *zoom = point->zoom;
}

void CameraPathPosition(const ViewOptions *view, double *latitude, double *longitude,
                        double *zoom)
{
    const CameraPoint *path = view->sCamPath;
    int n = CameraPointCount(view);
    if (n == 0) {
        *latitude = 0;
        *longitude = 0;
        *zoom = 1;
        return;
    }
    double cycle = 0;
    for (int i = 1; i < n; i++)
        cycle += path[i].time * 60.0;
    // One point, or a path that takes no time at all, stands still.
    if (n == 1 || cycle <= 0) {
        TakePoint(&path[0], latitude, longitude, zoom);
        return;
    }
    const struct tm *t = &view->tTime;
    double p = t->tm_hour * 3600.0 + t->tm_min * 60.0 + t->tm_sec - path[0].time * 60.0;
    p = fmod(p, cycle);
    if (p < 0)
        p += cycle;
    // Legs of 0 minutes are jumps: p never stops inside one.
    int i = 1;
    while (i < n && p >= path[i].time * 60.0) {
        p -= path[i].time * 60.0;
        i++;
    }
    if (i >= n) {
        TakePoint(&path[n - 1], latitude, longitude, zoom);
        return;
    }
    double d = p / (path[i].time * 60.0);
    *latitude = path[i - 1].lat + d * (path[i].lat - path[i - 1].lat);
    *longitude = path[i - 1].lon + d * (path[i].lon - path[i - 1].lon);
    *zoom = path[i - 1].zoom + d * (path[i].zoom - path[i - 1].zoom);
}

// ---- view placement ---------------------------------------------------------

static double WrapLongitude(double lon)
{
    lon = fmod(lon + PI, 2 * PI);
    if (lon < 0)
        lon += 2 * PI;
    return lon - PI;
}

static double ClampLatitude(double lat)
{
    return lat < -PI / 2 ? -PI / 2 : lat > PI / 2 ? PI / 2 : lat;
}

// The chosen map point as longitude and latitude, on whole map pixels.
static void MapPointAngles(const ViewOptions *view, double *lon, double *lat)
{
    *lon = Trunc(view->iMapW * view->sSelMap.p[0]) * 2 * PI / view->iMapW - PI;
    *lat = PI / 2 - Trunc(view->iMapH * view->sSelMap.p[1]) * PI / view->iMapH;
}

static int gRandomViewCalls = 0;

// The centre of the view by its mode; a camera path also scales the zoom.
static void ViewCentre(ViewOptions *view, double *lon, double *lat)
{
    double zoom = 1;
    switch (view->iViewMode) {
    case 1:
        subSolarPoint(&view->tTime, lon, lat);
        *lon += view->dVSLon;
        *lat += view->dVSLat;
        break;
    case 2:
        CameraPathPosition(view, lat, lon, &zoom);
        if (zoom > 0)
            view->dSMpZoom *= zoom;
        break;
    case 3:
        srand(GetTickCount() + (unsigned)gRandomViewCalls++);
        *lon = DrawRandom() * 2 * PI - PI;
        *lat = asin(-1 + 2 * DrawRandom());
        break;
    default:
        MapPointAngles(view, lon, lat);
        break;
    }
    *lon = WrapLongitude(*lon);
    *lat = ClampLatitude(*lat);
}

static void ShiftArea(int *area, int dx, int dy)
{
    area[0] += dx;
    area[2] += dx;
    area[1] += dy;
    area[3] += dy;
}

// Keeps the chosen map point a tenth of the output away from the area's edges.
static void KeepMapPointInside(ViewOptions *view, double zoom)
{
    int *m = view->iMapArea;
    double px = view->iMapW * view->sSelMap.p[0], py = view->iMapH * view->sSelMap.p[1];
    double marginX = view->iOutputW / 10.0 / zoom, marginY = view->iOutputH / 10.0 / zoom;
    if (px < m[0] + marginX)
        ShiftArea(m, Trunc(px - marginX) - m[0], 0);
    else if (px > m[2] - marginX)
        ShiftArea(m, Trunc(px + marginX) - m[2], 0);
    if (py < m[1] + marginY)
        ShiftArea(m, 0, Trunc(py - marginY) - m[1]);
    else if (py > m[3] - marginY)
        ShiftArea(m, 0, Trunc(py + marginY) - m[3]);
}

static void PlaceMapArea(ViewOptions *view, double lon, double lat)
{
    const double *sel = view->sSelScr.p;
    double selW = sel[2] - sel[0], selH = sel[3] - sel[1];
    double fit = selW * view->iOutputW / view->iMapW, fitH = selH * view->iOutputH / view->iMapH;
    if (fitH < fit)
        fit = fitH;
    if (view->dSMpZoom < fit)
        view->dSMpZoom = fit;
    double zoom = view->dSMpZoom;
    int spanW = Trunc(selW * view->iOutputW / zoom), spanH = Trunc(selH * view->iOutputH / zoom);
    int a = (spanW < view->iMapW ? spanW : view->iMapW) / 2;
    int b = (spanH < view->iMapH ? spanH : view->iMapH) / 2;
    double cx, cy;
    if (view->iViewMode == 0) {
        cx = view->iMapW * view->sSelMap.p[0];
        cy = view->iMapH * view->sSelMap.p[1];
    } else {
        cx = (lon + PI) * view->iMapW / (2 * PI);
        cy = (lat - PI / 2) * view->iMapH / -PI;
    }
    int *m = view->iMapArea;
    m[0] = Trunc(cx - a);
    m[1] = Trunc(cy - b);
    m[2] = Trunc(cx + a - 1);
    m[3] = Trunc(cy + b - 1);
    if (view->iViewRoi)
        KeepMapPointInside(view, zoom);
    if (m[1] < 0)
        ShiftArea(m, 0, -m[1]);
    if (m[3] > view->iMapH - 1)
        ShiftArea(m, 0, view->iMapH - 1 - m[3]);
}

static void PlaceClipAndDesktop(ViewOptions *view)
{
    const double *sel = view->sSelScr.p;
    int w = view->iOutputW, h = view->iOutputH;
    int *c = view->iClpArea, *d = view->iDtpArea;
    c[0] = Trunc(w * sel[0]);
    c[1] = Trunc(h * sel[1]);
    c[2] = Trunc(w * sel[2]) - 1;
    c[3] = Trunc(h * sel[3]) - 1;
    // Room for the outer halo along the side that limits the globe.
    double margin = 0;
    if (view->iPrjType != 1 && view->bHalo) {
        bool wide = c[2] - c[0] > c[3] - c[1];
        margin = view->iOHaloRadius / 1000.0 * 0.5 * (wide ? sel[3] - sel[1] : sel[2] - sel[0]);
    }
    d[0] = Trunc(w * (sel[0] + margin));
    d[1] = Trunc(h * (sel[1] + margin));
    d[2] = Trunc(w * (sel[2] - margin)) - 1;
    d[3] = Trunc(h * (sel[3] - margin)) - 1;
}

static double ClampAround(double value, double centre, double range)
{
    return value < centre - range ? centre - range : value > centre + range ? centre + range : value;
}

static void PlaceGlobe(ViewOptions *view, double lon, double lat)
{
    int *d = view->iDtpArea, *c = view->iClpArea;
    double zoom = view->dSMpZoom;
    double k = view->iMapW * zoom / view->iOutputW / PI;
    double kH = view->iMapH * zoom / view->iOutputH / (PI / 2);
    if (kH < k)
        k = kH;
    int s = Trunc(view->iOutputH * k), sW = Trunc(view->iOutputW * k);
    if (sW > s)
        s = sW;
    int areaW = d[2] - d[0] + 1, areaH = d[3] - d[1] + 1;
    if (s < areaW && s < areaH)
        s = areaW < areaH ? areaW : areaH;
    d[0] += (areaW - s) / 2;
    d[1] += (areaH - s) / 2;
    d[2] = d[0] + s - 1;
    d[3] = d[1] + s - 1;
    view->dRotateY = lat;
    view->dRotateZ = lon;
    if (!view->iViewRoi)
        return;
    double pointLon, pointLat;
    MapPointAngles(view, &pointLon, &pointLat);
    double clipW = c[2] - c[0] + 1, clipH = c[3] - c[1] + 1;
    double rangeW = 0.6 * (PI / 2 - acos(clipW / (s > clipW ? s : clipW)));
    double rangeH = 0.6 * (PI / 2 - acos(clipH / (s > clipH ? s : clipH)));
    view->dRotateZ = ClampAround(view->dRotateZ, pointLon, rangeW);
    view->dRotateY = ClampAround(view->dRotateY, pointLat, rangeH);
}

// Letterbox or pillarbox the desktop area to the map area's shape.
static void FitDesktopToMap(ViewOptions *view)
{
    int *d = view->iDtpArea;
    const int *m = view->iMapArea;
    int mapW = m[2] - m[0] + 1, mapH = m[3] - m[1] + 1;
    int areaW = d[2] - d[0] + 1, areaH = d[3] - d[1] + 1;
    if (mapW < 1 || mapH < 1 || areaW < 1 || areaH < 1)
        return;
    double mapAspect = (double)mapW / mapH, areaAspect = (double)areaW / areaH;
    if (mapAspect > areaAspect) {
        int height = Trunc(areaW / mapAspect);
        d[1] += (areaH - height) / 2;
        d[3] = d[1] + height - 1;
    } else if (mapAspect < areaAspect) {
        int width = Trunc(areaH * mapAspect);
        d[0] += (areaW - width) / 2;
        d[2] = d[0] + width - 1;
    }
}

void PlaceView(ViewOptions *view)
{
    if (view->iMapW < 1 || view->iMapH < 1 || view->iOutputW < 1 || view->iOutputH < 1)
        return;
    double lon, lat;
    ViewCentre(view, &lon, &lat);
    if (view->iPrjType == 1)
        PlaceMapArea(view, lon, lat);
    PlaceClipAndDesktop(view);
    if (view->iPrjType == 1)
        FitDesktopToMap(view);
    else
        PlaceGlobe(view, lon, lat);
}

void RandomizeSelection(ViewOptions *view)
{
    double *r = view->sSelScr.p;
    double w = r[2] - r[0], h = r[3] - r[1];
    double cx = (r[0] + r[2]) / 2, cy = (r[1] + r[3]) / 2;
    if (view->bRndSize && w > 0 && h > 0) {
        double longer = 0.1 + 0.9 * DrawRandom();
        if (w >= h) {
            h = h * longer / w;
            w = longer;
        } else {
            w = w * longer / h;
            h = longer;
        }
    }
    if (view->bRndPos) {
        cx = (1 - w) * DrawRandom() + w / 2;
        cy = (1 - h) * DrawRandom() + h / 2;
    }
    double span[2] = {w > 1 ? 1 : w, h > 1 ? 1 : h}, centre[2] = {cx, cy};
    for (int axis = 0; axis < 2; axis++) {
        double low = centre[axis] - span[axis] / 2;
        if (low < 0)
            low = 0;
        if (low + span[axis] > 1)
            low = 1 - span[axis];
        r[axis] = low;
        r[axis + 2] = low + span[axis];
    }
}

// ---- job lists --------------------------------------------------------------

// Appends a copy of view; the copy, or null when memory runs out.
static ViewOptions *AppendCopy(ViewList *jobs, const ViewOptions *view)
{
    int index = jobs->Add(*view);
    return index < 0 ? 0 : &jobs->data[index];
}

// One output view: the map's own size and seasons, the screen, the time.
static int PrepareOutputView(ViewOptions *job, int width, int height)
{
    char map[MAX_PATH];
    MapFileName(map, MAX_PATH, InstallFolder(), job->szMap, MAP_KIND_COLOUR, 0, false);
    if (ReadMapTrailer(map, job, 0) < 0)
        return RENDER_MAP_TRAILER;
    job->iOutputW = width;
    job->iOutputH = height;
    RandomizeSelection(job);
    PictureTime(&job->tTime);
    PlaceView(job);
    return RENDER_OK;
}

int BuildOutputList(const ViewList *views, ViewList *jobs)
{
    int width, height;
    OutputScreenSize(&width, &height);
    for (int i = 0; i < views->count; i++) {
        ViewOptions *job = AppendCopy(jobs, &views->data[i]);
        if (!job)
            return RENDER_NO_MEMORY;
        int status = PrepareOutputView(job, width, height);
        if (status != RENDER_OK)
            return status;
    }
    return RENDER_OK;
}

static int RenderOutput(int index)
{
    ViewList *views = &gViewLists[index];
    // Nothing to render is no failure for the user to hear about.
    if (views->count < 1 || !views->data[0].bUpdate)
        return RENDER_OK;
    views->data[0].tLastUpdate = _time64(0);
    ViewList jobs;
    int status = BuildOutputList(views, &jobs);
    char picture[MAX_PATH], copy[MAX_PATH];
    RenderPicturePath(picture, MAX_PATH, index);
    if (status == RENDER_OK)
        status = ComposeImage(&gRenderJobs.cancel[index], &jobs, picture, index);
    jobs.RemoveAll();
    if (status != RENDER_OK || gRenderJobs.cancel[index])
        return status;
    RenderCopyPath(copy, MAX_PATH, index);
    if (ReplaceFileWithRetries(picture, copy, true) && index == RENDER_JOB_WALLPAPER)
        gWallpaperReady = 1;
    return status;
}

DWORD WINAPI RenderOutputThread(LPVOID parameter)
{
    int index = (int)(INT_PTR)parameter;
    if (index != RENDER_JOB_SCREENSAVER)
        index = RENDER_JOB_WALLPAPER;
    return FinishJob(index, RenderOutput(index));
}

static ViewList *EditedList()
{
    return gPreviewHooks.list ? gPreviewHooks.list : &gViewLists[VIEW_LIST_WALLPAPER];
}

// The view being edited, or null when the index is outside the list.
static const ViewOptions *EditedView()
{
    ViewList *list = EditedList();
    int index = gPreviewHooks.viewIndex;
    return index >= 0 && index < list->count ? &list->data[index] : 0;
}

static void ShowPicture(void (*show)(const char *), const char *path, int status)
{
    if (show)
        show(status == RENDER_OK ? path : "");
}

int BuildScreenPreviewList(ViewList *jobs, int width)
{
    int screenW, screenH;
    OutputScreenSize(&screenW, &screenH);
    double screenAspect = (double)screenW / screenH;
    const ViewList *views = EditedList();
    for (int i = 0; i < views->count; i++) {
        const ViewOptions *view = &views->data[i];
        ViewOptions *job = AppendCopy(jobs, view);
        if (!job)
            return RENDER_NO_MEMORY;
        job->iMapW = MAP_MINI_WIDTH;
        job->iMapH = MAP_MINI_HEIGHT;
        job->iOutputW = width;
        job->iOutputH = Trunc(width / screenAspect);
        // The miniature map at this size shows what the full picture shows.
        job->dSMpZoom *= ((double)view->iMapW / MAP_MINI_WIDTH) / ((double)screenW / width);
        PictureTime(&job->tTime);
        PlaceView(job);
    }
    return RENDER_OK;
}

static int RenderScreenPreview()
{
    int width = gPreviewHooks.screenPreviewWidth;
    if (width < 1)
        return RENDER_OK;
    volatile uint8_t *cancel = &gRenderJobs.cancel[RENDER_JOB_SCREEN_PREVIEW];
    ViewList jobs;
    char picture[MAX_PATH];
    RenderPicturePath(picture, MAX_PATH, RENDER_JOB_SCREEN_PREVIEW);
    int status = BuildScreenPreviewList(&jobs, width);
    if (status == RENDER_OK)
        status = ComposeImage(cancel, &jobs, picture, RENDER_OUTPUT_WALLPAPER);
    jobs.RemoveAll();
    if (!*cancel)
        ShowPicture(gPreviewHooks.showScreenPreview, picture, status);
    return status;
}

DWORD WINAPI RenderScreenPreviewThread(LPVOID)
{
    return FinishJob(RENDER_JOB_SCREEN_PREVIEW, RenderScreenPreview());
}

// The one-view list of the map preview and the camera image: the default
// view showing the edited view's map and seasons at the control's width.
int BuildMapList(ViewList *jobs, int width)
{
    ViewOptions *job = AppendCopy(jobs, DefaultView(VIEW_LIST_WALLPAPER));
    if (!job)
        return RENDER_NO_MEMORY;
    const ViewOptions *view = EditedView();
    if (view) {
        CopyText(job->szMap, view->szMap, sizeof job->szMap);
        job->bSeasonEnable = view->bSeasonEnable;
        job->iSeasonMonth = view->iSeasonMonth;
        job->iSeasonDay = view->iSeasonDay;
        job->bSeasonMixNext = view->bSeasonMixNext;
        job->iSeasonMixMode = view->iSeasonMixMode;
    }
    job->iMapW = MAP_MINI_WIDTH;
    job->iMapH = MAP_MINI_HEIGHT;
    int w = width, h = width / 2;
    double mapAspect = (double)job->iMapW / job->iMapH;
    if (h > 0 && mapAspect > (double)w / h)
        h = Trunc(w / mapAspect);
    else if (h > 0 && mapAspect < (double)w / h)
        w = Trunc(h * mapAspect);
    job->iOutputW = w;
    job->iOutputH = h;
    PictureTime(&job->tTime);
    PlaceView(job);
    return RENDER_OK;
}

static int RenderMapPicture(int job, int width, const char *picture)
{
    ViewList jobs;
    int status = BuildMapList(&jobs, width);
    if (status == RENDER_OK)
        status = ComposeImage(&gRenderJobs.cancel[job], &jobs, picture, RENDER_OUTPUT_WALLPAPER);
    jobs.RemoveAll();
    return status;
}

static int RenderMapPreview()
{
    const int job = RENDER_JOB_MAP_PREVIEW;
    int width = gPreviewHooks.mapPreviewWidth;
    if (width < 2)
        return RENDER_OK;
    char picture[MAX_PATH];
    RenderPicturePath(picture, MAX_PATH, job);
    int status = RenderMapPicture(job, width, picture);
    if (!gRenderJobs.cancel[job])
        ShowPicture(gPreviewHooks.showMapPreview, picture, status);
    return status;
}

DWORD WINAPI RenderMapPreviewThread(LPVOID)
{
    return FinishJob(RENDER_JOB_MAP_PREVIEW, RenderMapPreview());
}

int RenderCameraImage()
{
    const int job = RENDER_JOB_CAMERA_IMAGE;
    gRenderJobs.cancel[job] = 0;
    gRenderJobs.running[job] = 1;
    int width = gPreviewHooks.cameraImageWidth;
    if (width < 2)
        return (int)FinishJob(job, RENDER_OK);
    char picture[MAX_PATH];
    RenderPicturePath(picture, MAX_PATH, job);
    int status = RenderMapPicture(job, width, picture);
    ShowPicture(gPreviewHooks.showCameraImage, picture, status);
    if (gPreviewHooks.clearCameraCaption)
        gPreviewHooks.clearCameraCaption();
    return (int)FinishJob(job, status);
}

// ---- requests ---------------------------------------------------------------

static int StartPreview(int job, LPTHREAD_START_ROUTINE routine)
{
    CancelAndWait(job, RENDER_WAIT_ROUNDS);
    // Still busy: two renders of one job would share its flags.
    if (gRenderJobs.running[job])
        return RENDER_OK;
    gRenderJobs.cancel[job] = 0;
    gRenderJobs.status[job] = RENDER_OK;
    gRenderJobs.running[job] = 1;
    if (StartWorkerThread(routine, job))
        return RENDER_OK;
    return (int)FinishJob(job, RENDER_THREAD_NOT_CREATED);
}

int StartMapPreview() { return StartPreview(RENDER_JOB_MAP_PREVIEW, RenderMapPreviewThread); }

int StartScreenPreview()
{
    return StartPreview(RENDER_JOB_SCREEN_PREVIEW, RenderScreenPreviewThread);
}

// Cancels both outputs for a waiting request; a cancelled render is redone.
static void CancelOutputsAndWait()
{
    int rounds = RENDER_WAIT_ROUNDS;
    for (int job = 0; job < RENDER_OUTPUTS; job++) {
        while (gRenderJobs.running[job] && rounds > 0) {
            gRenderJobs.cancel[job] = 1;
            gRenderJobs.pending[job] = 1;
            gApp.PumpFor(RENDER_WAIT_ROUND_MS);
            rounds--;
        }
    }
}

static int StartOutput(int job)
{
    gRenderJobs.pending[job] = 0;
    gRenderJobs.cancel[job] = 0;
    gRenderJobs.running[job] = 1;
    gRenderJobs.status[job] = RENDER_OK;
    if (StartWorkerThread(RenderOutputThread, job))
        return RENDER_OK;
    return (int)FinishJob(job, RENDER_THREAD_NOT_CREATED);
}

int RequestRender(int which, int order, int wait)
{
    if (which < 0 && !gRenderJobs.pending[0] && !gRenderJobs.pending[1])
        return RENDER_OK;
    gRenderJobs.order = order == RENDER_ORDER_SCREENSAVER_FIRST ? 1 : 0;
    if (which == RENDER_JOB_WALLPAPER || which == RENDER_BOTH_OUTPUTS)
        gRenderJobs.pending[RENDER_JOB_WALLPAPER] = 1;
    if (which == RENDER_JOB_SCREENSAVER || which == RENDER_BOTH_OUTPUTS)
        gRenderJobs.pending[RENDER_JOB_SCREENSAVER] = 1;
    if (wait)
        CancelOutputsAndWait();
    // One output render at a time; the next request or tick starts the rest.
    if (gRenderJobs.running[0] || gRenderJobs.running[1])
        return RENDER_OK;
    int first = gRenderJobs.order ? RENDER_JOB_SCREENSAVER : RENDER_JOB_WALLPAPER;
    for (int k = 0; k < RENDER_OUTPUTS; k++) {
        int job = k == 0 ? first : 1 - first;
        if (gRenderJobs.pending[job])
            return StartOutput(job);
    }
    return RENDER_OK;
}
