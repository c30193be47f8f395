// Renders the default data set at a screen size, globe and flat map with
// every layer on, and prints the milliseconds a frame takes (best of a few
// runs) and the process's peak working set. The pictures stay in the output
// folder to be looked at.
//
// usage: render_bench <map folder> <data folder> <output folder> <width>
//        <height> <unix time> [runs] [threads: 0 one per core, default 1]
//        [globe | flat: only that one]
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/mapfile.h"
#include "earth/settings.h"
#include "framework/application.h"
#include "imaging/image.h"

static void SetUpView(ViewOptions *v, const char *mapFolder, int width, int height, time_t when,
                      bool globe)
{
    SetDefaultView(v, 0);
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\%s.map", mapFolder, v->szMap);
    ReadMapTrailer(path, v, 0);
    v->iOutputW = width;
    v->iOutputH = height;
    gmtime_s(&v->tTime, &when);
    v->bBackground = 1;
    v->iBGMode = 1;
    v->bStars = 1;
    v->bHalo = 1;
    v->bClouds = 1;
    int clip[4] = {0, 0, width - 1, height - 1};
    memcpy(v->iClpArea, clip, sizeof clip);
    if (globe) {
        // The whole globe a little smaller than the screen's height, facing the sun.
        v->iPrjType = 0;
        int s = height * 8 / 10, left = (width - s) / 2, top = (height - s) / 2;
        int area[4] = {left, top, left + s - 1, top + s - 1};
        memcpy(v->iDtpArea, area, sizeof area);
        v->dRotateY = 0.3;
        v->dRotateZ = 1.0;   // the evening side in view
        v->dSMpZoom = 2;
    } else {
        // The whole map, letterboxed to its 2:1 shape.
        v->iPrjType = 1;
        int h = width / 2 < height ? width / 2 : height, w = h * 2;
        int area[4] = {(width - w) / 2, (height - h) / 2, (width - w) / 2 + w - 1,
                       (height - h) / 2 + h - 1};
        memcpy(v->iDtpArea, area, sizeof area);
        int map[4] = {0, 0, v->iMapW - 1, v->iMapH - 1};
        memcpy(v->iMapArea, map, sizeof map);
        v->dSMpZoom = (double)w / v->iMapW;
    }
}

static double RenderOnce(const char *mapFolder, const char *target, int width, int height,
                         time_t when, bool globe, int *status)
{
    ViewList jobs;
    ResizeViewList(&jobs, 1);
    SetUpView(&jobs.data[0], mapFolder, width, height, when, globe);
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    *status = ComposeImage(0, &jobs, target, RENDER_OUTPUT_WALLPAPER);
    QueryPerformanceCounter(&b);
    jobs.RemoveAll();
    return (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart;
}

// User and kernel time of the whole process so far.
static double ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (k.QuadPart + u.QuadPart) / 10000.0;
}

int main(int argc, char **argv)
{
    if (argc < 7) {
        fprintf(stderr, "usage: render_bench maps data out width height time [runs]\n");
        return 2;
    }
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, argv[1],
             INSTALL_RECORD_TEXT_BYTES);
    CopyText(gApp.dataFolder, argv[2], MAX_TEXT);
    gApp.osCode = 10;
    int width = atoi(argv[4]), height = atoi(argv[5]), runs = argc > 7 ? atoi(argv[7]) : 3;
    gRenderThreads = argc > 8 ? atoi(argv[8]) : 1;
    time_t when = (time_t)_atoi64(argv[6]);
    buildCosineTable();
    buildRandomTable(0);
    CImage mask;
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\SeasonMask.jpg", argv[1]);
    if (!mask.Load(path, FORMAT_JPG) || !SetSeasonMask(&mask))
        fprintf(stderr, "render_bench: no season mask at %s\n", path);
    static const char *names[2] = {"globe", "flat"};
    for (int k = 0; k < 2; k++) {
        if (argc > 9 && strcmp(argv[9], names[k]))
            continue;
        snprintf(path, sizeof path, "%s\\%s.bmp", argv[3], names[k]);
        double best = 1e9, first = 0;
        int status = 0;
        double cpu0 = ProcessCpuMs();
        for (int i = 0; i < runs; i++) {
            double ms = RenderOnce(argv[1], path, width, height, when, k == 0, &status);
            best = ms < best ? ms : best;
            first = i ? first : ms;
        }
        // The processor time a frame took on average, all threads together:
        // steadier than the clock on a machine others are using.
        double cpu = (ProcessCpuMs() - cpu0) / (runs > 0 ? runs : 1);
        // The first render also pages in the maps it reads.
        printf("%s %dx%d: %.0f ms (status %d), processor %.0f ms a frame, first %.0f ms\n",
               names[k], width, height, best, status, cpu, first);
        fflush(stdout);
    }
    PROCESS_MEMORY_COUNTERS memory;
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        printf("peak working set: %.0f MB, peak private bytes: %.0f MB\n",
               memory.PeakWorkingSetSize / 1048576.0, memory.PeakPagefileUsage / 1048576.0);
    return 0;
}
