// Settings: the default records and the load/save walker, both expanded
// from the field lists of settings_fields.h.
#include "earth/settings.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/configstore.h"

// ---------------------------------------------------------------- defaults

#define PREFS_INIT_FIELD(kind, name, value) value,
#define PREFS_INIT_TEXT(name, size, value) value,
#define PREFS_INIT_TEXTS(name, count, size, values) VT_BRACES values,
#define PREFS_DEFAULTS {PREFS_FIELDS(PREFS_INIT_FIELD, PREFS_INIT_TEXT, PREFS_INIT_TEXTS)}

// Both are constant-initialised, so gPrefs holds its defaults before any
// other code of the program runs.
const PrefsRecord kDefaultPrefs = PREFS_DEFAULTS;
PrefsRecord gPrefs = PREFS_DEFAULTS;

ViewList gViewLists[2];

#define VIEW_SET_FIELD(kind, name, wallpaper, saver) \
    view->name = (VT_TYPE_##kind)(which ? (saver) : (wallpaper));
#define VIEW_SET_TEXT(name, size, wallpaper, saver) \
    CopyText(view->name, which ? (saver) : (wallpaper), size);
#define VIEW_SET_ARRAY(kind, name, count, wallpaper, saver)                      \
    {                                                                            \
        static const VT_TYPE_##kind values[2][count] = {VT_BRACES wallpaper,     \
                                                        VT_BRACES saver};        \
        memcpy(view->name, values[which], sizeof view->name);                    \
    }
#define VIEW_SET_POINTS(type, name, count, wallpaper, saver)                     \
    {                                                                            \
        static const double values[2][count] = {VT_BRACES wallpaper,             \
                                                VT_BRACES saver};                \
        memcpy(view->name.p, values[which], sizeof view->name.p);                \
    }
#define VIEW_SET_COUNT(kind, name, max, wallpaper, saver) \
    VIEW_SET_FIELD(kind, name, wallpaper, saver)
#define VIEW_SET_ZERO(...)   // calendar, camera path and cities stay zero

void SetDefaultView(ViewOptions *view, int which)
{
    which = which ? 1 : 0;
    memset(view, 0, sizeof *view);
    VIEW_FIELDS(VIEW_SET_FIELD, VIEW_SET_TEXT, VIEW_SET_ARRAY, VIEW_SET_POINTS, VIEW_SET_ZERO,
                VIEW_SET_COUNT, VIEW_SET_ZERO, VIEW_SET_ZERO)
}

// Kept in static storage: a view is about a megabyte, too big for a stack
// or for initialised data. Filled on first use, on the user-interface thread.
const ViewOptions *DefaultView(int which)
{
    static ViewOptions views[2];
    static bool filled;
    if (!filled) {
        SetDefaultView(&views[0], 0);
        SetDefaultView(&views[1], 1);
        filled = true;
    }
    return &views[which ? 1 : 0];
}

ViewOptions *CopyOfView(const ViewOptions *view)
{
    ViewOptions *copy = (ViewOptions *)malloc(sizeof(ViewOptions));
    if (copy)
        memcpy(copy, view, sizeof(ViewOptions));
    return copy;
}

bool ResizeViewList(ViewList *list, int n)
{
    if (n < 0)
        n = 0;
    if (n > VIEW_LIST_MAX)
        n = VIEW_LIST_MAX;
    // SetCapacity leaves the list as it was when the block cannot be had,
    // so the count never runs past the block.
    if (list->capacity < n && !list->SetCapacity(n, -1))
        return false;
    if (n > list->count)
        memset(list->data + list->count, 0, (size_t)(n - list->count) * sizeof(ViewOptions));
    list->count = n;
    list->growStep = -1;
    return true;
}

void FreeViewLists()
{
    gViewLists[0].RemoveAll();
    gViewLists[1].RemoveAll();
}

// ---------------------------------------------------------------- walker

// Counts read from a store index fixed arrays: they are always cut to the
// array first.
static int ClampCount(int value, int max)
{
    return value < 0 ? 0 : (value > max ? max : value);
}

#define IO_PREF_FIELD(kind, name, value) \
    s->VT_EXCHANGE_##kind(&p->name, (int)sizeof p->name, "gPrefs." #name);
#define IO_PREF_TEXT(name, size, value) s->ExchangeString(p->name, size, "gPrefs." #name);
#define IO_PREF_TEXTS(name, count, size, values)                                  \
    for (int xi = 0; xi < count; xi++)                                           \
        s->ExchangeString(p->name[xi], size, "gPrefs." #name "[xi]", xi);

static void ExchangePrefs(CConfigStore *s, PrefsRecord *p)
{
    PREFS_FIELDS(IO_PREF_FIELD, IO_PREF_TEXT, IO_PREF_TEXTS)
}

#define IO_POINT_FIELD(prefix, kind, name) \
    s->VT_EXCHANGE_##kind(&point->name, (int)sizeof point->name, prefix #name, xi, xj);

// xi and xj fill the key's bracketed indices: view and point in a view,
// point and nothing in a camera-path file.
static void ExchangeViewPoint(CConfigStore *s, CameraPoint *point, int xi, int xj)
{
    CAMERA_POINT_FIELDS(IO_POINT_FIELD, "opt[xi].sCamPath[xj].")
}

static void ExchangeFilePoint(CConfigStore *s, CameraPoint *point, int xi, int xj)
{
    CAMERA_POINT_FIELDS(IO_POINT_FIELD, "pcam[xi].")
}

#define IO_CITY_FIELD(kind, name) \
    s->VT_EXCHANGE_##kind(&c->name, (int)sizeof c->name, "opt[xi].City[xj]." #name, xi, xj);
#define IO_CITY_TEXT(name, size) \
    s->ExchangeString(c->name, size, "opt[xi].City[xj]." #name, xi, xj);
#define IO_CITY_ARRAY(kind, name, count)                                          \
    for (int xk = 0; xk < count; xk++)                                           \
        s->VT_EXCHANGE_##kind(&c->name[xk], (int)sizeof c->name[xk],             \
                              "opt[xi].City[xj]." #name "[xk]", xi, xj, xk);
#define IO_CITY_TEXTS(name, count, size)                                          \
    for (int xk = 0; xk < count; xk++)                                           \
        s->ExchangeString(c->name[xk], size, "opt[xi].City[xj]." #name "[xk]", xi, xj, xk);
#define IO_CITY_LOCAL(kind, name)

static void ExchangeCity(CConfigStore *s, CityEntry *c, int xi, int xj)
{
    CITY_FIELDS(IO_CITY_FIELD, IO_CITY_TEXT, IO_CITY_ARRAY, IO_CITY_TEXTS, IO_CITY_LOCAL)
    // The label code walks lines 0..maxline.
    if (!s->writeMode)
        c->maxline = ClampCount(c->maxline, CITY_LABEL_LINES - 1);
}

#define IO_VIEW_FIELD(kind, name, wallpaper, saver) \
    s->VT_EXCHANGE_##kind(&v->name, (int)sizeof v->name, "opt[xi]." #name, xi);
#define IO_VIEW_TEXT(name, size, wallpaper, saver) \
    s->ExchangeString(v->name, size, "opt[xi]." #name, xi);
#define IO_VIEW_ARRAY(kind, name, count, wallpaper, saver)                        \
    for (int xj = 0; xj < count; xj++)                                           \
        s->VT_EXCHANGE_##kind(&v->name[xj], (int)sizeof v->name[xj],             \
                              "opt[xi]." #name "[xj]", xi, xj);
#define IO_VIEW_POINTS(type, name, count, wallpaper, saver)                       \
    for (int xj = 0; xj < count; xj++)                                           \
        s->ExchangeDouble(&v->name.p[xj], 8, "opt[xi]." #name ".p[xj]", xi, xj);
#define IO_CALENDAR_FIELD(calendar, name) \
    s->ExchangeInt(&v->calendar.name, 4, "opt[xi]." #calendar "." #name, xi);
#define IO_VIEW_CALENDAR(name) CALENDAR_FIELDS(IO_CALENDAR_FIELD, name)
// A count is written as clamped and clamped again once read, so neither an
// edited record nor a damaged store can walk past the array behind it.
#define IO_VIEW_COUNT(kind, name, max, wallpaper, saver)                          \
    {                                                                            \
        VT_TYPE_##kind count = (VT_TYPE_##kind)ClampCount(v->name, max);         \
        s->VT_EXCHANGE_##kind(&count, (int)sizeof count, "opt[xi]." #name, xi);  \
        if (!s->writeMode)                                                       \
            v->name = (VT_TYPE_##kind)ClampCount(count, max);                    \
    }
#define IO_VIEW_CAMERA(name, count, counter)                                      \
    for (int xj = 0; xj < ClampCount(v->counter, count); xj++)                   \
        ExchangeViewPoint(s, &v->name[xj], xi, xj);
#define IO_VIEW_CITIES(name, count, counter)                                      \
    for (int xj = 0; xj < ClampCount(v->counter, count); xj++)                   \
        ExchangeCity(s, &v->name[xj], xi, xj);

static void ExchangeView(CConfigStore *s, ViewOptions *v, int xi)
{
    VIEW_FIELDS(IO_VIEW_FIELD, IO_VIEW_TEXT, IO_VIEW_ARRAY, IO_VIEW_POINTS, IO_VIEW_CALENDAR,
                IO_VIEW_COUNT, IO_VIEW_CAMERA, IO_VIEW_CITIES)
}

#define IO_PROFILE_FIELD(kind, name) \
    s->VT_EXCHANGE_##kind(&settings->name, (int)sizeof settings->name, "set." #name);

static void ExchangeProfile(CConfigStore *s, ProfileSettings *settings)
{
    PROFILE_FIELDS(IO_PROFILE_FIELD)
}

// ---------------------------------------------------------------- stores

static const char kPrefsStore[] = "Preferences";

static int StoreVersion(int save)
{
    return save ? SETTINGS_STORE_VERSION : 0;
}

// False when the formatted path would not fit: a cut path names another file.
static bool FormatStorePath(char *path, const char *format, va_list args)
{
    int n = vsnprintf(path, MAX_TEXT, format ? format : "", args);
    return n > 0 && n < MAX_TEXT;
}

int PrefsIO(int save)
{
    CConfigStore store(StoreVersion(save), "gPrefs.");
    if (!save && store.Load(kPrefsStore, -1, 0) < 0)
        return MigratePrefs();
    ExchangePrefs(&store, &gPrefs);
    if (save && store.Save(kPrefsStore, -1, 0) < 0)
        return 1;
    return 0;
}

int ProfileSettingsIO(int save, ProfileSettings *settings, const char *pathFormat, ...)
{
    char path[MAX_TEXT];
    va_list args;
    va_start(args, pathFormat);
    bool formatted = FormatStorePath(path, pathFormat, args);
    va_end(args);
    if (!formatted)
        return 1;
    CConfigStore store(StoreVersion(save), "set");
    if (!save && store.LoadFile(path) < 0)
        return 1;
    ExchangeProfile(&store, settings);
    if (save && store.SaveFile(path) < 0)
        return 1;
    return 0;
}

int ViewOptionsIO(int save, ViewList *list, const char *pathFormat, ...)
{
    char path[MAX_TEXT];
    va_list args;
    va_start(args, pathFormat);
    bool formatted = FormatStorePath(path, pathFormat, args);
    va_end(args);
    if (!formatted)
        return save ? 1 : 2;
    CConfigStore store(StoreVersion(save), "opt");
    int count = ClampCount(list->count, VIEW_LIST_MAX);
    if (!save) {
        if (store.LoadFile(path) < 0)
            return MigrateViewOptions(list, path);
        if (store.ExchangeInt(&count, 4, "NumViews") != 0)
            return 1;
        count = ClampCount(count, VIEW_LIST_MAX);
        if (!ResizeViewList(list, count))
            return 1;
    } else {
        store.ExchangeInt(&count, 4, "NumViews");
    }
    for (int xi = 0; xi < count; xi++)
        ExchangeView(&store, &list->data[xi], xi);
    if (save && store.SaveFile(path) < 0)
        return 1;
    return 0;
}

int CameraPathIO(int save, CameraPoint *path, const char *pathFormat, ...)
{
    char file[MAX_TEXT];
    va_list args;
    va_start(args, pathFormat);
    bool formatted = FormatStorePath(file, pathFormat, args);
    va_end(args);
    if (!formatted)
        return save ? 1 : 2;
    CConfigStore store(StoreVersion(save), "pcam");
    if (!save && store.LoadFile(file) < 0)
        return MigrateCameraPath(path, file);
    for (int xi = 0; xi < CAMERA_PATH_POINTS; xi++) {
        ExchangeFilePoint(&store, &path[xi], xi, 0);
        if (path[xi].time == -1)
            break;
    }
    if (save && store.SaveFile(file) < 0)
        return 1;
    return 0;
}

// ---------------------------------------------------------------- camera paths

const BuiltinCameraPath kBuiltinCameraPaths[BUILTIN_CAMERA_PATHS] = {
    {"Around the Equator", 2, {{0, -180, 0}, {0, 180, 60}}},
    {"From Pole to Pole", 4, {{90, 0, 0}, {-90, 0, 30}, {-90, 180, 0}, {90, 180, 30}}},
    {"Around the World in 80 Minutes",
     19,
     {{51.5, -0.17, 525},  {40.6, 17.93, 3},    {29.96, 32.55, 4},   {12.75, 45.2, 5},
      {18.97, 72.83, 6},   {25.45, 81.85, 4},   {22.53, 88.37, 1},   {1.27, 103.85, 6},
      {22.28, 114.15, 7},  {31.23, 121.47, 4},  {35.45, 139.64, 3},  {36.6, 180, 7},
      {36.6, -180, 0},     {37.78, -122.42, 11}, {40.72, -74.0, 8},  {51.85, -8.28, 8},
      {53.33, -6.25, 1},   {53.42, -2.92, 1},   {51.5, -0.17, 1}}},
};

void GetBuiltinCameraPath(int index, CameraPath path)
{
    memset(path, 0, sizeof(CameraPath));
    if (index < 0 || index >= BUILTIN_CAMERA_PATHS)
        index = 0;
    const BuiltinCameraPath *builtin = &kBuiltinCameraPaths[index];
    const double radians = 3.14159265358979323846 / 180.0;
    for (int i = 0; i < builtin->count; i++) {
        path[i].lat = builtin->steps[i].lat * radians;
        path[i].lon = builtin->steps[i].lon * radians;
        path[i].zoom = 1.0;
        path[i].time = builtin->steps[i].time;
    }
    path[builtin->count].time = -1;
}

int SaveBuiltinCameraPaths()
{
    int failed = 0;
    for (int i = 0; i < BUILTIN_CAMERA_PATHS; i++) {
        CameraPath path;
        GetBuiltinCameraPath(i, path);
        if (CameraPathIO(1, path, "%s\\%s.%s", gApp.dataFolder, kBuiltinCameraPaths[i].name,
                         "vtc") != 0)
            failed++;
    }
    return failed;
}
