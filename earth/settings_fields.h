// The settings schema as data: one X-macro list per record. Each list names
// every field once, in declared (and stored) order, with its kind, array
// dimensions and defaults. settings.h expands the lists into the structures,
// settings.cpp into the default records and the load/save walker, so a field
// added here is declared, defaulted, stored and loaded in one step.
//
// Kinds (in memory / text form in the store):
//   FLAG   uint8_t 0/1      "0"/"1", read by the first character
//   I8     int8_t           signed decimal
//   HEX8   uint8_t          two upper-case hex digits
//   I32    int32_t          signed decimal
//   COLOR  uint32_t         "0x%08X" (0x00BBGGRR)
//   F32    float            8 significant digits
//   F64    double           15 significant digits
//   TIME   int64_t          seconds since 1970 UTC, decimal
//
// Lists of defaults are written in parentheses, "(0, 0, 1, 1)", so that they
// pass through the macros as one argument.
#pragma once

// Global preferences, store group "gPrefs.", key "gPrefs.<name>".
//   FIELD(kind, name, default)
//   TEXT(name, size, default)
//   TEXTS(name, count, size, (defaults))     key "gPrefs.<name>[xi]"
#define PREFS_FIELDS(FIELD, TEXT, TEXTS)                                       \
    FIELD(FLAG, bAutoStart, 0)                                                 \
    FIELD(I32, iAutoStartDelay, 10)                                            \
    FIELD(FLAG, bShowMain, 1)                                                  \
    FIELD(FLAG, bUseIdle, 1)                                                   \
    FIELD(FLAG, bLowMemMode, 0)                                                \
    FIELD(FLAG, bTrayIcon, 1)                                                  \
    FIELD(FLAG, bShowOld, 1)                                                   \
    FIELD(FLAG, bDetectWP, 0)                                                  \
    FIELD(FLAG, bMultiMon, 1)                                                  \
    FIELD(FLAG, bForceWPUpdate, 1)                                             \
    FIELD(I32, iTimeBias, 0)                                                   \
    FIELD(I32, iTransMove, 0)                                                  \
    FIELD(FLAG, bShowMapDLInfo, 1)                                             \
    FIELD(I32, iTimeFmt, 0)                                                    \
    FIELD(I32, iDateFmt, 0)                                                    \
    FIELD(I32, iWindUnits, 0)                                                  \
    FIELD(I32, iCloudsRes, 2)                                                  \
    FIELD(I32, iCloudsEnhance, 3)                                              \
    FIELD(I32, iCloudsData, 0)                                                 \
    FIELD(I32, iCloudsInterval, 3)                                             \
    TEXT(szCloudsUser, 64, "")                                                 \
    TEXT(szCloudsPass, 64, "")                                                 \
    FIELD(I32, iProxyType, 0)                                                  \
    TEXT(szProxyServer, 260, "")                                               \
    FIELD(I32, iProxyPort, 8080)                                               \
    FIELD(FLAG, bProxyConn, 0)                                                 \
    FIELD(FLAG, bProxyAuth, 0)                                                 \
    TEXT(szProxyUser, 64, "")                                                  \
    TEXT(szProxyPass, 64, "")                                                  \
    FIELD(I32, iWeatherData, 1)                                                \
    FIELD(I32, iWeatherInterval, 60)                                           \
    FIELD(I32, iWeatherUnits, 0)                                               \
    FIELD(I32, iWeatherValid, 240)                                             \
    TEXT(szWeatherApiKey, 260, "")                                             \
    FIELD(I32, iWeatherWarnApiKey, 0)                                          \
    FIELD(I32, iMetarData, 1)                                                  \
    FIELD(I32, iMetaPreferOWM, 1)                                              \
    FIELD(I32, iMetarSource, 0)                                                \
    TEXT(szMetarURL, 260, DEFAULT_METAR_URL)                                   \
    TEXT(szCurProfile, 260, "")                                                \
    TEXTS(szCloudsUrl, 4, 1040,                                                \
          ("", DEFAULT_CLOUDS_URL_LOW, DEFAULT_CLOUDS_URL_MEDIUM,              \
           DEFAULT_CLOUDS_URL_HIGH))                                           \
    TEXT(szModified, 260, "")                                                  \
    FIELD(TIME, tCloudsDown, 0)                                                \
    FIELD(TIME, tCloudsCheck, 0)                                               \
    FIELD(TIME, tWeatherDown, 0)                                               \
    FIELD(TIME, tWeatherCheck, 0)                                              \
    FIELD(TIME, tMetarDown, 0)

// One view, store group "opt", key "opt[xi].<name>"; defaults for the
// wallpaper record, then for the screen-saver record.
//   FIELD(kind, name, wallpaper, screen saver)
//   TEXT(name, size, wallpaper, screen saver)
//   ARRAY(kind, name, count, (wallpaper), (screen saver))    "<name>[xj]"
//   POINTS(type, name, count, (wallpaper), (screen saver))   "<name>.p[xj]", doubles
//   CALENDAR(name)           a struct tm, zero in both records
//   COUNT(kind, name, max, wallpaper, screen saver)   a count, clamped to 0..max
//   CAMERA(name, count, counter)    CameraPoint[count], the first <counter> stored
//   CITIES(name, count, counter)    CityEntry[count], the first <counter> stored
#define VIEW_FIELDS(FIELD, TEXT, ARRAY, POINTS, CALENDAR, COUNT, CAMERA, CITIES) \
    TEXT(szMap, 64, "Seasonal (10 km)", "Seasonal (10 km)")                    \
    FIELD(I32, iMapW, 4320, 4320)                                              \
    FIELD(I32, iMapH, 2160, 2160)                                              \
    FIELD(I8, bSeasonEnable, 1, 1)                                             \
    FIELD(I32, iSeasonMonth, 0, 0)                                             \
    FIELD(I32, iSeasonDay, 0, 0)                                               \
    FIELD(I8, bSeasonMixNext, 1, 1)                                            \
    FIELD(I32, iSeasonMixMode, 1, 1)                                           \
    CALENDAR(tTime)                                                            \
    FIELD(TIME, tLastUpdate, 0, 0)                                             \
    FIELD(I8, bActive, 1, 1)                                                   \
    FIELD(I32, iActive, 10, 10)                                                \
    FIELD(I8, bUpdate, 1, 1)                                                   \
    FIELD(I32, iUpdate, 10, 10)                                                \
    FIELD(F64, dRotateX, 0, 0)                                                 \
    FIELD(F64, dRotateY, 0, 0)                                                 \
    FIELD(F64, dRotateZ, 0, 0)                                                 \
    FIELD(I32, iOutputW, 0, 0)                                                 \
    FIELD(I32, iOutputH, 0, 0)                                                 \
    ARRAY(I32, iMapArea, 4, (0, 0, 0, 0), (0, 0, 0, 0))                        \
    ARRAY(I32, iDtpArea, 4, (0, 0, 0, 0), (0, 0, 0, 0))                        \
    ARRAY(I32, iClpArea, 4, (0, 0, 0, 0), (0, 0, 0, 0))                        \
    POINTS(FractionRect, sSelScr, 4, (0, 0, 1, 1), (0, 0, 1, 1))               \
    POINTS(FractionPoint, sSelMap, 2, (0.5, 0.5), (0.5, 0.5))                  \
    FIELD(F64, dSMpZoom, 0.01, 0.01)                                           \
    FIELD(I8, bRndPos, 0, 0)                                                   \
    FIELD(I8, bRndSize, 0, 0)                                                  \
    FIELD(I8, iPrjType, 1, 0)                                                  \
    FIELD(I8, iViewMode, 0, 1)                                                 \
    FIELD(F64, dVSLat, 0, 0)                                                   \
    FIELD(F64, dVSLon, 0, 1.570796327)                                         \
    FIELD(I8, iViewRoi, 0, 0)                                                  \
    COUNT(I8, iCamSteps, CAMERA_PATH_POINTS, 0, 0)                             \
    CAMERA(sCamPath, CAMERA_PATH_POINTS, iCamSteps)                            \
    FIELD(I8, bDay, 1, 1)                                                      \
    FIELD(I8, iDayUrban, 50, 50)                                               \
    FIELD(I8, iDayUrbanDensity, 50, 50)                                        \
    FIELD(I8, iDaySunBright, 50, 50)                                           \
    FIELD(I8, iDaySunSize, 50, 50)                                             \
    FIELD(I8, iDayBrightness, 0, 0)                                            \
    FIELD(I8, iDayContrast, 0, 0)                                              \
    FIELD(I8, iDaySaturation, 0, 0)                                            \
    FIELD(I8, bHalo, 1, 1)                                                     \
    FIELD(I8, iOHaloRadius, 40, 40)                                            \
    FIELD(I8, iIHaloRadius, 50, 50)                                            \
    FIELD(I8, iOHaloIntensity, 50, 50)                                         \
    FIELD(I8, iIHaloIntensity, 30, 30)                                         \
    FIELD(COLOR, crOHalo, 0x00AA5040, 0x00AA5040)                              \
    FIELD(COLOR, crIHalo, 0x00F04532, 0x00F04532)                              \
    FIELD(I8, bNight, 1, 1)                                                    \
    FIELD(I8, iNightLights, 50, 50)                                            \
    FIELD(I8, iNightLightsDensity, 50, 50)                                     \
    FIELD(I8, iNightColorization, 75, 75)                                      \
    FIELD(COLOR, crNightColorization, 0x00784632, 0x00784632)                  \
    FIELD(I8, iNightDarkBright, 70, 70)                                        \
    FIELD(I8, iNightDarkSize, 70, 70)                                          \
    FIELD(I8, iNightBrightness, -40, -40)                                      \
    FIELD(I8, iNightContrast, -30, -30)                                        \
    FIELD(I8, iNightSaturation, -20, -20)                                      \
    FIELD(I32, iNightEqu, 90, 90)                                              \
    FIELD(I32, iNightPol, 120, 120)                                            \
    FIELD(I8, bClouds, 1, 1)                                                   \
    FIELD(I8, iCloudsDensity, 0, 0)                                            \
    FIELD(I8, iCloudsOpacity, 100, 100)                                        \
    FIELD(HEX8, iCloudsShadow, 100, 100)                                       \
    FIELD(I8, bCities, 0, 0)                                                   \
    COUNT(I32, iCityNumber, VIEW_CITIES, 0, 0)                                 \
    CITIES(City, VIEW_CITIES, iCityNumber)                                     \
    FIELD(I8, bBackground, 0, 1)                                               \
    FIELD(I8, iBGMode, 0, 1)                                                   \
    FIELD(COLOR, crBackground, 0x00000000, 0x00000000)                         \
    FIELD(I8, iBGImgMode, 0, 0)                                                \
    TEXT(szBGImage, 260, "", "")                                               \
    FIELD(I8, bBGRandPos, 0, 0)                                                \
    FIELD(I8, bStars, 0, 1)                                                    \
    FIELD(I8, iStarsBrightness, 35, 35)                                        \
    FIELD(I8, iStarsDensity, 50, 50)

// The nine calendar fields of a view's struct tm in the order they are
// stored: alphabetical by key, not the structure's order.
//   X(calendar, name)
#define CALENDAR_FIELDS(X, CALENDAR)                                           \
    X(CALENDAR, tm_hour) X(CALENDAR, tm_isdst) X(CALENDAR, tm_mday)            \
    X(CALENDAR, tm_min) X(CALENDAR, tm_mon) X(CALENDAR, tm_sec)                \
    X(CALENDAR, tm_wday) X(CALENDAR, tm_yday) X(CALENDAR, tm_year)

// One camera point; key "opt[xi].sCamPath[xj].<name>" in a view,
// "pcam[xi].<name>" in a camera-path file. The structure pads to 32 bytes.
// The key prefix passes through to each FIELD, since the list serves both.
//   FIELD(prefix, kind, name)
#define CAMERA_POINT_FIELDS(FIELD, PREFIX)                                     \
    FIELD(PREFIX, F64, lat)                                                    \
    FIELD(PREFIX, F64, lon)                                                    \
    FIELD(PREFIX, F64, zoom)                                                   \
    FIELD(PREFIX, I32, time)

// One labelled city of a view; key "opt[xi].City[xj].<name>". No defaults:
// new cities are zero-filled.
//   FIELD(kind, name)
//   TEXT(name, size)
//   ARRAY(kind, name, count)             "<name>[xk]"
//   TEXTS(name, count, size)             "<name>[xk]"
//   LOCAL(kind, name)                    kept in memory only, never stored
#define CITY_FIELDS(FIELD, TEXT, ARRAY, TEXTS, LOCAL)                          \
    TEXT(cityline, 260)                                                        \
    FIELD(I32, maxline)                                                        \
    TEXT(text, 260)                                                            \
    TEXTS(line, CITY_LABEL_LINES, 260)                                         \
    ARRAY(I32, liwi, CITY_LABEL_LINES)                                         \
    ARRAY(I32, lihi, CITY_LABEL_LINES)                                         \
    TEXT(city, 200)                                                            \
    TEXT(country, 100)                                                         \
    TEXT(ccode, 8)                                                             \
    TEXT(state, 200)                                                           \
    TEXT(timezone, 50)                                                         \
    TEXT(tzabbr, 8)                                                            \
    TEXT(icao, 8)                                                              \
    FIELD(F32, lat)                                                            \
    FIELD(F32, lon)                                                            \
    FIELD(I32, flags)                                                          \
    FIELD(I32, utcoff)                                                         \
    FIELD(F32, temp)                                                           \
    FIELD(I32, weatherdescr)                                                   \
    LOCAL(I32, shown)                                                          \
    FIELD(F32, wind)                                                           \
    FIELD(F32, winddir)                                                        \
    FIELD(F32, humidity)                                                       \
    FIELD(F32, pressure)                                                       \
    FIELD(I32, isday)                                                          \
    FIELD(TIME, lupd)                                                          \
    FIELD(I32, width)                                                          \
    FIELD(I32, height)                                                         \
    TEXT(metar, 260)                                                           \
    ARRAY(COLOR, crtext, 2)                                                    \
    ARRAY(COLOR, crbackground, 2)                                              \
    ARRAY(COLOR, crframe, 2)                                                   \
    ARRAY(COLOR, crarrow, 2)                                                   \
    FIELD(I8, labelpos)                                                        \
    TEXT(font, 260)                                                            \
    FIELD(I8, fontsize)                                                        \
    FIELD(I8, shadow)                                                          \
    FIELD(I8, opacity)                                                         \
    FIELD(I8, framesize)                                                       \
    FIELD(I8, arrowsize)

// One profile's stored settings, store group "set", key "set.<name>".
//   FIELD(kind, name)
#define PROFILE_FIELDS(FIELD)                                                  \
    FIELD(FLAG, scrtrigger)                                                    \
    FIELD(I32, scrx)                                                           \
    FIELD(I32, scry)                                                           \
    FIELD(I32, scrw)                                                           \
    FIELD(I32, scrh)

// The C type and the store exchange of each kind.
#define VT_TYPE_FLAG uint8_t
#define VT_TYPE_I8 int8_t
#define VT_TYPE_HEX8 uint8_t
#define VT_TYPE_I32 int32_t
#define VT_TYPE_COLOR uint32_t
#define VT_TYPE_F32 float
#define VT_TYPE_F64 double
#define VT_TYPE_TIME int64_t

#define VT_EXCHANGE_FLAG ExchangeBool
#define VT_EXCHANGE_I8 ExchangeChar
#define VT_EXCHANGE_HEX8 ExchangeHexByte
#define VT_EXCHANGE_I32 ExchangeInt
#define VT_EXCHANGE_COLOR ExchangeHex
#define VT_EXCHANGE_F32 ExchangeFloat
#define VT_EXCHANGE_F64 ExchangeDouble
#define VT_EXCHANGE_TIME ExchangeInt64

// "(a, b, c)" -> "{a, b, c}" for a parenthesised list of defaults.
#define VT_BRACES(...) {__VA_ARGS__}
