// The persistent settings of the program: the global preferences gPrefs, the
// two view lists (wallpaper, screen saver), camera paths and one profile's
// settings, with their built-in defaults and their load and save through
// configuration stores. The fields themselves are listed once, in
// settings_fields.h; the structures below are expanded from those lists.
//
// All records are plain structures: the options dialog copies them bytewise
// to undo a cancelled edit, and worker threads read them in place.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "earth/settings_fields.h"
#include "framework/growarray.h"

enum {
    CAMERA_PATH_POINTS = 32,   // points of a camera path, embedded or in a file
    VIEW_CITIES = 256,         // labelled cities per view
    CITY_LABEL_LINES = 8,      // label lines per city
    LABEL_TEXT_SIZE = 260,     // a label template's buffer
    VIEW_LIST_MAX = 64,        // views a stored list may hold (a view is about 1 MB)
    VIEW_LIST_WALLPAPER = 0,
    VIEW_LIST_SCREENSAVER = 1,
    WEATHER_ROW_NOT_AVAILABLE = 74,   // weather condition row of code 999
    SETTINGS_STORE_VERSION = 400,     // names the entry of every store we write
    BUILTIN_CAMERA_PATHS = 3,
};

#define DEFAULT_METAR_URL \
    "https://weather.veltaspar.net/data/observations/metar/stations/#ICAO#.TXT"
#define DEFAULT_CLOUDS_URL_LOW "http://download.veltaspar.net/Download/clouds2l.dat"
#define DEFAULT_CLOUDS_URL_MEDIUM "http://download.veltaspar.net/Download/clouds2.dat"
#define DEFAULT_CLOUDS_URL_HIGH "http://download.veltaspar.net/Download/clouds2h.dat"

// Expansion of the field lists into declarations.
#define VT_DECLARE_FIELD(kind, name, ...) VT_TYPE_##kind name;
#define VT_DECLARE_TEXT(name, size, ...) char name[size];
#define VT_DECLARE_TEXTS(name, count, size, ...) char name[count][size];
#define VT_DECLARE_ARRAY(kind, name, count, ...) VT_TYPE_##kind name[count];
#define VT_DECLARE_POINTS(type, name, count, ...) type name;
#define VT_DECLARE_CALENDAR(name) struct tm name;
#define VT_DECLARE_COUNT(kind, name, max, ...) VT_TYPE_##kind name;
#define VT_DECLARE_CAMERA(name, count, counter) CameraPoint name[count];
#define VT_DECLARE_CITIES(name, count, counter) CityEntry name[count];
#define VT_DECLARE_POINT_FIELD(prefix, kind, name) VT_TYPE_##kind name;

// Screen area as fractions of the screen: left, top, right, bottom.
struct FractionRect {
    double p[4];
};

// Map centre as fractions of the map: x, y.
struct FractionPoint {
    double p[2];
};

// Latitude and longitude in radians, zoom, minutes: the first point's time
// is the path's start offset, each later one the minutes taken to reach it.
// A time of -1 ends a path. 32 bytes, as in old raw camera-path files.
struct CameraPoint {
    CAMERA_POINT_FIELDS(VT_DECLARE_POINT_FIELD, )
};
typedef CameraPoint CameraPath[CAMERA_PATH_POINTS];

struct CityEntry {
    CITY_FIELDS(VT_DECLARE_FIELD, VT_DECLARE_TEXT, VT_DECLARE_ARRAY, VT_DECLARE_TEXTS,
                VT_DECLARE_FIELD)
};

// One view. The fields from szMap through sSelScr keep their natural
// offsets: old raw view records hold exactly this block at byte 8.
struct ViewOptions {
    VIEW_FIELDS(VT_DECLARE_FIELD, VT_DECLARE_TEXT, VT_DECLARE_ARRAY, VT_DECLARE_POINTS,
                VT_DECLARE_CALENDAR, VT_DECLARE_COUNT, VT_DECLARE_CAMERA, VT_DECLARE_CITIES)
};

typedef CGrowArray<ViewOptions> ViewList;

struct PrefsRecord {
    PREFS_FIELDS(VT_DECLARE_FIELD, VT_DECLARE_TEXT, VT_DECLARE_TEXTS)
};

struct ProfileSettings {
    char name[260];        // the profile folder's name; not stored
    uint8_t nameChanged;   // set by the profile dialog; not stored
    PROFILE_FIELDS(VT_DECLARE_FIELD)
};

extern PrefsRecord gPrefs;                 // holds the defaults until loaded
extern const PrefsRecord kDefaultPrefs;
extern ViewList gViewLists[2];             // VIEW_LIST_WALLPAPER, VIEW_LIST_SCREENSAVER

// The first view of a list decides whether its output is on at all.
inline ViewOptions *FirstView(int list)
{
    return gViewLists[list].count > 0 ? &gViewLists[list].data[0] : 0;
}
inline bool FirstViewActive(int list)
{
    return gViewLists[list].count > 0 && gViewLists[list].data[0].bActive;
}

// The built-in view records: 0 the wallpaper view, 1 the screen-saver view.
// SetDefaultView zero-fills the record first.
void SetDefaultView(ViewOptions *view, int which);
const ViewOptions *DefaultView(int which);

// Sets the list to n views (0..VIEW_LIST_MAX): views past the old count are
// zero-filled. False, with the list unchanged, when memory runs out.
bool ResizeViewList(ViewList *list, int n);
// A view is about a megabyte: undo copies live on the heap. A malloc'd copy
// (the caller frees it), null when memory runs out.
ViewOptions *CopyOfView(const ViewOptions *view);
void FreeViewLists();

// Built-in camera paths, in degrees as the user sees them.
struct BuiltinCameraStep {
    double lat, lon;
    int time;
};
struct BuiltinCameraPath {
    const char *name;
    int count;
    BuiltinCameraStep steps[CAMERA_PATH_POINTS - 1];
};
extern const BuiltinCameraPath kBuiltinCameraPaths[BUILTIN_CAMERA_PATHS];

// The path in radians, zoom 1, ended by the point (0, 0, 0, -1).
void GetBuiltinCameraPath(int index, CameraPath path);
// Writes every built-in path to "<data folder>\<name>.vtc"; the number of
// paths that could not be written.
int SaveBuiltinCameraPaths();

// Load (save = 0) and save (save = 1). A key missing from a store leaves its
// field as it was, so the record's values before loading act as defaults.
//
// PrefsIO: gPrefs to or from the store "Preferences" in the data folder.
// 0 done; saving, 1 not written; loading without a store, the result of
// MigratePrefs (2 when there is no old record either).
int PrefsIO(int save);

// The others take a printf-style template of the store's full path plus its
// arguments, extension included: "%s\\Profile-%s\\%s.rgc" with the data
// folder, the profile and "Options0"; "%s\\%s.vtc" for a camera path. A path
// that does not fit 260 characters is not cut: the call fails as if the
// store were missing (loading) or not written (saving).
//
// ProfileSettingsIO: 0 done, 1 not written or (loading) no store.
int ProfileSettingsIO(int save, ProfileSettings *settings, const char *pathFormat, ...);
// ViewOptionsIO: one view list, at most VIEW_LIST_MAX views either way
// (a larger stored count is cut, so are views past it when saving); counts
// inside a view are cut to their arrays. 0 done, 1 not written, "NumViews"
// missing or no memory for the views (the list is then left as it was);
// loading without a store, the result of MigrateViewOptions.
int ViewOptionsIO(int save, ViewList *list, const char *pathFormat, ...);
// CameraPathIO: 32 points, stopping after the first of time -1. 0 done,
// 1 not written, 2 neither a store nor an old raw path could be read.
int CameraPathIO(int save, CameraPoint *path, const char *pathFormat, ...);

// One-time conversion of the old raw records at the stores' own paths into
// key form. 2 when the old record is missing or not of its exact size (an
// old camera path: whole 32-byte points, at most 32); MigrateViewOptions 1
// without memory for the view; otherwise the result of saving the store.
int MigratePrefs();
int MigrateViewOptions(ViewList *list, const char *path);
int MigrateCameraPath(CameraPoint *path, const char *file);

// Renames the label tokens of older versions in a template of
// LABEL_TEXT_SIZE bytes; renames that no longer fit are left out. For old
// templates only, once: "#CC" is also found inside the new "#CCC".
void RenameLabelTokens(char *text);
