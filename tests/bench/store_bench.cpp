// Times the loading of two presets through the settings schema, as the
// preset dialog loads them on the window thread:
// - a hostile one: the most views a list may hold, 256 cities asked for in
//   every view, hardly any entries and 64 KB of padding, so nearly every one
//   of about a million lookups is for a key that is not there;
// - a full one: 4 views of 256 labelled cities each, every key present.
// Prints the milliseconds a load takes (best of a few runs) and the sizes.
//
// usage: store_bench <folder> [runs of the full preset] [runs of the hostile one]
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#include "earth/settings.h"
#include "framework/configstore.h"
#include "framework/application.h"
#include "framework/recordfile.h"

static std::string Entry(const std::string &key, const std::string &value)
{
    return key + "=" + value + std::string("\0\r\n", 3);
}

static void MakeHostilePreset(const char *path)
{
    std::string text = Entry("Views", "64");
    for (int i = 0; i < VIEW_LIST_MAX; i++)
        text += Entry("[" + std::to_string(i) + "].iCityNumber", "256");
    text += Entry("[0].bCities", "1") + Entry("[0].szMap", "Seasonal (10 km)");
    text += Entry("[0].szBGImage", std::string(65536, ' '));
    CConfigStore store(SETTINGS_STORE_VERSION, "opt");
    store.text.AppendBytes(text.data(), (int)text.size());
    store.SaveFile(path);
}

static void MakeFullPreset(const char *path)
{
    ViewList list;
    ResizeViewList(&list, 4);
    for (int i = 0; i < 4; i++) {
        ViewOptions *v = &list.data[i];
        SetDefaultView(v, 0);
        v->bCities = 1;
        v->iCityNumber = VIEW_CITIES;
        for (int j = 0; j < VIEW_CITIES; j++) {
            CityEntry *c = &v->City[j];
            snprintf(c->cityline, sizeof c->cityline, "City %d;Country;CC;Region;Europe/Zone;%d",
                     j, j * 7);
            snprintf(c->city, sizeof c->city, "City %d", j);
            CopyText(c->country, "Country", sizeof c->country);
            CopyText(c->ccode, "CC", sizeof c->ccode);
            CopyText(c->timezone, "Europe/Zone", sizeof c->timezone);
            CopyText(c->tzabbr, "CET", sizeof c->tzabbr);
            CopyText(c->text, "#CCC#NL#TTM", sizeof c->text);
            c->maxline = 1;
            snprintf(c->line[0], sizeof c->line[0], "City %d", j);
            CopyText(c->line[1], "12:34", sizeof c->line[1]);
            for (int k = 0; k < 2; k++) {
                c->liwi[k] = 40 + j % 30;
                c->lihi[k] = 14;
            }
            c->lat = (float)(j % 180) - 90.25f;
            c->lon = (float)(j % 360) - 180.5f;
            c->weatherdescr = WEATHER_ROW_NOT_AVAILABLE;
            c->width = 60;
            c->height = 32;
            c->crtext[1] = 0x00FFFFFF;
            c->crbackground[0] = 0x00202020;
            CopyText(c->font, "Tahoma", sizeof c->font);
            c->fontsize = 9;
            c->opacity = 60;
        }
    }
    ViewOptionsIO(1, &list, "%s", path);
    list.RemoveAll();
}

// The best time of some loads, and what was loaded.
static double TimeLoads(const char *path, int runs, int *views, int *result)
{
    double best = 1e30;
    for (int r = 0; r < runs; r++) {
        ViewList list;
        LARGE_INTEGER f, a, b;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&a);
        *result = ViewOptionsIO(0, &list, "%s", path);
        QueryPerformanceCounter(&b);
        *views = list.count;
        list.RemoveAll();
        double ms = (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart;
        best = ms < best ? ms : best;
    }
    return best;
}

static void Report(const char *name, const char *path, int runs)
{
    CConfigStore store(0, "opt");
    int textSize = store.LoadFile(path);
    int keys = 0;
    for (int i = 0; i + 2 < store.text.count; i++)
        keys += store.text.data[i] == 0 && store.text.data[i + 1] == '\r' &&
                store.text.data[i + 2] == '\n';
    int fileSize = ReadFileData(path, 0, 0);
    int views = 0, result = 0;
    double ms = TimeLoads(path, runs, &views, &result);
    printf("%s preset: %d bytes on disk, %d bytes of text, %d entries; "
           "load %.0f ms (best of %d; result %d, %d views)\n",
           name, fileSize, textSize, keys, ms, runs, result, views);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: store_bench folder [full runs] [hostile runs]\n");
        return 2;
    }
    int fullRuns = argc > 2 ? atoi(argv[2]) : 5, hostileRuns = argc > 3 ? atoi(argv[3]) : 3;
    char full[MAX_PATH], hostile[MAX_PATH];
    snprintf(full, sizeof full, "%s\\full.vtp", argv[1]);
    snprintf(hostile, sizeof hostile, "%s\\hostile.vtp", argv[1]);
    MakeFullPreset(full);
    MakeHostilePreset(hostile);
    Report("full", full, fullRuns);
    Report("hostile", hostile, hostileRuns);
    return 0;
}
