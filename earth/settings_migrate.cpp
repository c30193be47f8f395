// One-time conversion of the raw records that older versions wrote (whole
// structures dumped into record files) into configuration stores. Each old
// record is read field by field from its byte offset, never by laying a
// structure over the bytes: only the leading block of a view shares the
// current layout, and the asserts below hold it there.
#include "earth/settings.h"

#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"

// The leading block of ViewOptions, szMap through sSelScr, is copied as it
// stands from byte 8 of an old view record.
static_assert(offsetof(ViewOptions, iMapW) == 64, "view layout");
static_assert(offsetof(ViewOptions, bSeasonEnable) == 72, "view layout");
static_assert(offsetof(ViewOptions, iSeasonMixMode) == 88, "view layout");
static_assert(offsetof(ViewOptions, tTime) == 92 && sizeof(struct tm) == 36, "view layout");
static_assert(offsetof(ViewOptions, tLastUpdate) == 128, "view layout");
static_assert(offsetof(ViewOptions, iUpdate) == 148, "view layout");
static_assert(offsetof(ViewOptions, dRotateX) == 152, "view layout");
static_assert(offsetof(ViewOptions, iOutputH) == 180, "view layout");
static_assert(offsetof(ViewOptions, iMapArea) == 184, "view layout");
static_assert(offsetof(ViewOptions, iClpArea) == 216, "view layout");
static_assert(offsetof(ViewOptions, sSelScr) == 232, "view layout");
static_assert(sizeof(CameraPoint) == 32, "camera point layout");

enum {
    OLD_PREFS_SIZE = 5320,
    OLD_VIEW_SIZE = 939312,
    OLD_VIEW_HEAD = 8,   // where the block shared with ViewOptions starts
    OLD_VIEW_HEAD_SIZE = offsetof(ViewOptions, sSelScr) + sizeof(FractionRect),
    OLD_VIEW_POINTS = 20,
    OLD_VIEW_CITIES = 1048,
    OLD_CITY_SIZE = 3664,
    OLD_POINT_SIZE = 32,
};

// Old city record, 3,664 bytes, little-endian. Texts are NUL-terminated in
// their full width; integers and floats are 32-bit.
//      0 cityline[260]      260 maxline         264 text[260]
//    524 line[8][260]      2604 liwi[8]        2636 lihi[8]
//   2668 city[200]         2868 country[100]   2968 ccode[8]
//   2976 state[200]        3176 timezone[50]   3226 tzabbr[8]  (2 bytes padding)
//   3236 lat (float)       3240 lon (float)    3244 flags      3248 utcoff
//   3252 temp (float)      3256 weatherdescr   3260 wind, 3264 winddir,
//   3268 humidity, 3272 pressure (floats)      3276 isday
//   3280 lupd (64-bit)     3288 width          3292 height
//   3296 crtext, 3300 crbackground, 3304 crframe, 3308 crarrow (one colour each)
//   3312 labelpos (byte)   3313 font[260]
//   3573 fontsize, 3574 shadow, 3575 opacity, 3576 framesize, 3577 arrowsize (bytes)
//   3578-3663 not used
// Old weather values are not carried over: the station codes that fetch
// them are new, so every city starts without weather and is fetched anew.
enum {
    OC_CITYLINE = 0,
    OC_MAXLINE = 260,
    OC_TEXT = 264,
    OC_LINES = 524,
    OC_LIWI = 2604,
    OC_LIHI = 2636,
    OC_CITY = 2668,
    OC_COUNTRY = 2868,
    OC_CCODE = 2968,
    OC_STATE = 2976,
    OC_TIMEZONE = 3176,
    OC_TZABBR = 3226,
    OC_LAT = 3236,
    OC_LON = 3240,
    OC_FLAGS = 3244,
    OC_UTCOFF = 3248,
    OC_WIDTH = 3288,
    OC_HEIGHT = 3292,
    OC_COLOURS = 3296,
    OC_LABELPOS = 3312,
    OC_FONT = 3313,
    OC_FONTSIZE = 3573,
};

static int32_t OldInt(const uint8_t *record, int at)
{
    int32_t value;
    memcpy(&value, record + at, sizeof value);
    return value;
}

static int64_t OldTime(const uint8_t *record, int at)
{
    int64_t value;
    memcpy(&value, record + at, sizeof value);
    return value;
}

static float OldFloat(const uint8_t *record, int at)
{
    float value;
    memcpy(&value, record + at, sizeof value);
    return value;
}

static double OldDouble(const uint8_t *record, int at)
{
    double value;
    memcpy(&value, record + at, sizeof value);
    return value;
}

// An old text may fill its field with no terminator: never read past it.
static void OldText(char *out, int size, const uint8_t *record, int at, int width)
{
    int n = (int)strnlen((const char *)record + at, (size_t)width);
    if (n > size - 1)
        n = size - 1;
    memcpy(out, record + at, (size_t)n);
    out[n] = 0;
}

static int ClampInt(int64_t value, int low, int high)
{
    return value < low ? low : (value > high ? high : (int)value);
}

// The whole file when it is exactly size bytes and not a zip archive (a
// damaged store must not be taken for an old record); else null. Free it.
static uint8_t *ReadOldRecord(const char *path, int size)
{
    uint8_t *record = (uint8_t *)malloc((size_t)size + 1);
    if (!record)
        return 0;
    if (ReadFileData(path, record, size + 1) != size || memcmp(record, "PK\3\4", 4) == 0) {
        free(record);
        return 0;
    }
    return record;
}

// ---------------------------------------------------------------- preferences

int MigratePrefs()
{
    char path[MAX_TEXT];
    GetRecordFilePath("Preferences", -1, path, 0);
    uint8_t *r = ReadOldRecord(path, OLD_PREFS_SIZE);
    if (!r)
        return 2;
    PrefsRecord *p = &gPrefs;
    p->bAutoStart = r[8] != 0;
    p->iAutoStartDelay = OldInt(r, 12);
    uint8_t *flags[8] = {&p->bShowMain, &p->bUseIdle,  &p->bLowMemMode, &p->bTrayIcon,
                         &p->bShowOld,  &p->bDetectWP, &p->bMultiMon,   &p->bForceWPUpdate};
    for (int i = 0; i < 8; i++)
        *flags[i] = r[16 + i] != 0;
    p->iTimeBias = OldInt(r, 24);
    p->iTransMove = OldInt(r, 28);
    p->bShowMapDLInfo = r[32] != 0;
    p->iTimeFmt = OldInt(r, 36);
    p->iDateFmt = OldInt(r, 40);
    p->iCloudsRes = OldInt(r, 44);
    p->iCloudsEnhance = OldInt(r, 48);
    p->iCloudsData = OldInt(r, 52);
    p->iCloudsInterval = OldInt(r, 56);
    OldText(p->szCloudsUser, sizeof p->szCloudsUser, r, 60, 64);
    OldText(p->szCloudsPass, sizeof p->szCloudsPass, r, 124, 64);
    p->iProxyType = OldInt(r, 188);
    OldText(p->szProxyServer, sizeof p->szProxyServer, r, 192, 260);
    p->iProxyPort = OldInt(r, 452);
    p->bProxyConn = r[456] != 0;
    p->bProxyAuth = r[457] != 0;
    OldText(p->szProxyUser, sizeof p->szProxyUser, r, 458, 64);
    OldText(p->szProxyPass, sizeof p->szProxyPass, r, 522, 64);
    p->iWeatherData = OldInt(r, 588);
    // Older versions counted these two in hours; 64-bit so that a damaged
    // value cannot overflow, then held to the range the options offer.
    p->iWeatherInterval = ClampInt((int64_t)OldInt(r, 592) * 60, 1, 44640);
    p->iWeatherUnits = OldInt(r, 596);
    p->iWeatherValid = ClampInt((int64_t)OldInt(r, 600) * 60, 1, 44640);
    OldText(p->szWeatherApiKey, sizeof p->szWeatherApiKey, r, 604, 260);
    p->iWeatherWarnApiKey = OldInt(r, 864);
    for (int i = 0; i < 4; i++)
        OldText(p->szCloudsUrl[i], sizeof p->szCloudsUrl[i], r, 868 + i * 1040, 1040);
    OldText(p->szModified, sizeof p->szModified, r, 5028, 260);
    p->tCloudsDown = OldTime(r, 5288);
    p->tCloudsCheck = OldTime(r, 5296);
    p->tWeatherDown = OldTime(r, 5304);
    p->tWeatherCheck = OldTime(r, 5312);
    free(r);
    // Settings the old record did not have.
    p->iWindUnits = 0;
    p->iMetarData = 1;
    p->iMetaPreferOWM = 1;
    p->iMetarSource = 0;
    CopyText(p->szMetarURL, kDefaultPrefs.szMetarURL, sizeof p->szMetarURL);
    p->tMetarDown = 0;
    return PrefsIO(1);
}

// ---------------------------------------------------------------- views

static void CopyOldCity(CityEntry *c, const uint8_t *r)
{
    memset(c, 0, sizeof *c);
    OldText(c->cityline, sizeof c->cityline, r, OC_CITYLINE, 260);
    c->maxline = ClampInt(OldInt(r, OC_MAXLINE), 0, CITY_LABEL_LINES - 1);
    OldText(c->text, sizeof c->text, r, OC_TEXT, 260);
    RenameLabelTokens(c->text);
    for (int i = 0; i < CITY_LABEL_LINES; i++) {
        OldText(c->line[i], sizeof c->line[i], r, OC_LINES + i * 260, 260);
        c->liwi[i] = OldInt(r, OC_LIWI + i * 4);
        c->lihi[i] = OldInt(r, OC_LIHI + i * 4);
    }
    OldText(c->city, sizeof c->city, r, OC_CITY, 200);
    OldText(c->country, sizeof c->country, r, OC_COUNTRY, 100);
    OldText(c->ccode, sizeof c->ccode, r, OC_CCODE, 8);
    OldText(c->state, sizeof c->state, r, OC_STATE, 200);
    OldText(c->timezone, sizeof c->timezone, r, OC_TIMEZONE, 50);
    OldText(c->tzabbr, sizeof c->tzabbr, r, OC_TZABBR, 8);
    c->lat = OldFloat(r, OC_LAT);
    c->lon = OldFloat(r, OC_LON);
    c->flags = OldInt(r, OC_FLAGS);
    c->utcoff = OldInt(r, OC_UTCOFF);
    c->weatherdescr = WEATHER_ROW_NOT_AVAILABLE;
    c->shown = WEATHER_ROW_NOT_AVAILABLE;
    c->width = OldInt(r, OC_WIDTH);
    c->height = OldInt(r, OC_HEIGHT);
    // One old colour becomes both the night and the day colour of its pair.
    uint32_t *pairs[4] = {c->crtext, c->crbackground, c->crframe, c->crarrow};
    for (int i = 0; i < 4; i++)
        pairs[i][0] = pairs[i][1] = (uint32_t)OldInt(r, OC_COLOURS + i * 4);
    c->labelpos = (int8_t)r[OC_LABELPOS];
    OldText(c->font, sizeof c->font, r, OC_FONT, 260);
    int8_t *style[5] = {&c->fontsize, &c->shadow, &c->opacity, &c->framesize, &c->arrowsize};
    for (int i = 0; i < 5; i++)
        *style[i] = (int8_t)r[OC_FONTSIZE + i];
}

static void CopyOldCamera(ViewOptions *v, const uint8_t *r)
{
    v->iCamSteps = (int8_t)ClampInt((int8_t)r[337], 0, OLD_VIEW_POINTS);
    for (int i = 0; i < OLD_VIEW_POINTS; i++) {
        int at = 344 + i * OLD_POINT_SIZE;
        v->sCamPath[i].lat = OldDouble(r, at);
        v->sCamPath[i].lon = OldDouble(r, at + 8);
        v->sCamPath[i].zoom = OldDouble(r, at + 16);
        v->sCamPath[i].time = OldInt(r, at + 24);
    }
}

// Runs of single bytes in the old record, in field order.
static void CopyOldBytes(int8_t *const *fields, int count, const uint8_t *r, int at)
{
    for (int i = 0; i < count; i++)
        *fields[i] = (int8_t)r[at + i];
}

static void CopyOldView(ViewOptions *v, const uint8_t *r)
{
    memcpy(v, r + OLD_VIEW_HEAD, OLD_VIEW_HEAD_SIZE);
    v->szMap[sizeof v->szMap - 1] = 0;
    v->sSelMap.p[0] = OldDouble(r, 288);
    v->sSelMap.p[1] = OldDouble(r, 296);
    v->dSMpZoom = OldDouble(r, 304);
    int8_t *const placement[4] = {&v->bRndPos, &v->bRndSize, &v->iPrjType, &v->iViewMode};
    CopyOldBytes(placement, 4, r, 312);
    v->dVSLat = OldDouble(r, 320);
    v->dVSLon = OldDouble(r, 328);
    v->iViewRoi = (int8_t)r[336];
    CopyOldCamera(v, r);
    int8_t *const day[13] = {&v->bDay,           &v->iDayUrban,      &v->iDayUrbanDensity,
                             &v->iDaySunBright,  &v->iDaySunSize,    &v->iDayBrightness,
                             &v->iDayContrast,   &v->iDaySaturation, &v->bHalo,
                             &v->iOHaloRadius,   &v->iIHaloRadius,   &v->iOHaloIntensity,
                             &v->iIHaloIntensity};
    CopyOldBytes(day, 13, r, 984);
    v->crOHalo = (uint32_t)OldInt(r, 1000);
    v->crIHalo = (uint32_t)OldInt(r, 1004);
    int8_t *const night[4] = {&v->bNight, &v->iNightLights, &v->iNightLightsDensity,
                              &v->iNightColorization};
    CopyOldBytes(night, 4, r, 1008);
    v->crNightColorization = (uint32_t)OldInt(r, 1012);
    int8_t *const dark[5] = {&v->iNightDarkBright, &v->iNightDarkSize, &v->iNightBrightness,
                             &v->iNightContrast, &v->iNightSaturation};
    CopyOldBytes(dark, 5, r, 1016);
    v->iNightEqu = OldInt(r, 1024);
    v->iNightPol = OldInt(r, 1028);
    v->bClouds = (int8_t)r[1032];
    v->iCloudsDensity = (int8_t)r[1033];
    v->iCloudsOpacity = (int8_t)r[1034];
    v->iCloudsShadow = r[1035];
    v->bCities = (int8_t)r[1036];
    v->iCityNumber = ClampInt(OldInt(r, 1040), 0, VIEW_CITIES);
    for (int i = 0; i < v->iCityNumber; i++)
        CopyOldCity(&v->City[i], r + OLD_VIEW_CITIES + i * OLD_CITY_SIZE);
    v->bBackground = (int8_t)r[939032];
    v->crBackground = (uint32_t)OldInt(r, 939036);
    v->iBGMode = r[939040] ? 2 : 0;
    v->iBGImgMode = 3;
    OldText(v->szBGImage, sizeof v->szBGImage, r, 939041, 260);
    v->bBGRandPos = (int8_t)r[939301];
    v->bStars = (int8_t)r[939302];
    // Integer arithmetic: in doubles 90 * 0.7 truncates to 62, not 63.
    v->iStarsBrightness = (int8_t)((int8_t)r[939303] * 7 / 10);
    v->iStarsDensity = (int8_t)r[939304];
}

int MigrateViewOptions(ViewList *list, const char *path)
{
    uint8_t *r = ReadOldRecord(path, OLD_VIEW_SIZE);
    if (!r)
        return 2;
    // Exactly one view: the first keeps whatever the old record lacks, a
    // list that had none gets a zero-filled one.
    if (!ResizeViewList(list, 1)) {
        free(r);
        return 1;
    }
    CopyOldView(&list->data[0], r);
    free(r);
    return ViewOptionsIO(1, list, "%s", path);
}

// ---------------------------------------------------------------- camera paths

// An old camera-path file is a run of raw 32-byte points, at most 32 of them.
int MigrateCameraPath(CameraPoint *path, const char *file)
{
    uint8_t raw[CAMERA_PATH_POINTS * OLD_POINT_SIZE + 1];
    int size = ReadFileData(file, raw, sizeof raw);
    if (size < OLD_POINT_SIZE || size > CAMERA_PATH_POINTS * OLD_POINT_SIZE ||
        size % OLD_POINT_SIZE != 0 || memcmp(raw, "PK\3\4", 4) == 0)
        return 2;
    for (int i = 0; i < size / OLD_POINT_SIZE; i++) {
        int at = i * OLD_POINT_SIZE;
        path[i].lat = OldDouble(raw, at);
        path[i].lon = OldDouble(raw, at + 8);
        path[i].zoom = OldDouble(raw, at + 16);
        path[i].time = OldInt(raw, at + 24);
        if (path[i].time == -1)
            break;
    }
    return CameraPathIO(1, path, "%s", file);
}

// ---------------------------------------------------------------- label tokens

// Applied in this order; each new token may contain its old one ("#CC" ->
// "#CCC"), so the replacement resumes after each insertion.
static const char *const kLabelTokenRenames[][2] = {
    {"#CC", "#CCC"}, {"#CI", "#CCI"}, {"#ST", "#CST"}, {"#CO", "#CCO"}, {"#TI", "#TTM"},
    {"#T2", "#T24"}, {"#TM", "#TAP"}, {"#TZ", "#TTZ"}, {"#DD", "#DDD"}, {"#DT", "#DDT"},
    {"#DM", "#DMM"}, {"#DY", "#DDY"}, {"#MO", "#DMO"}, {"#YR", "#DYR"}, {"#WD", "#DW3"},
    {"#WF", "#DWD"}, {"#WT", "#WTP"}, {"#WM", "#WDS"}, {"#WW", "#WW1"}, {"#W1", "#WW1"},
    {"#W2", "#WW4"}, {"#WR", "#WWD"}, {"#WH", "#WHU"}, {"#WP", "#WAP"}, {"#JL", "#LJL"},
    {"#JR", "#LJR"}, {"#WS", "#WSS16"}, {"#WL", "#WSS32"}, {"#WI", "#WSS24"},
};

void RenameLabelTokens(char *text)
{
    int count = (int)(sizeof kLabelTokenRenames / sizeof kLabelTokenRenames[0]);
    // ReplaceAll stops at the first rename that would not fit the buffer;
    // the later, shorter ones may still fit, so every pair is tried.
    for (int i = 0; i < count; i++)
        ReplaceAll(text, LABEL_TEXT_SIZE, kLabelTokenRenames[i][0], kLabelTokenRenames[i][1]);
}
