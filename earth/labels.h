// City labels: the weather condition table and the expansion of a label
// template's #-tokens into the city's label lines.
#pragma once

#include <stdint.h>

#include "earth/settings.h"

enum {
    WEATHER_CONDITIONS = 75,
    WEATHER_NOT_AVAILABLE = 74,    // row shown when the weather is stale
    WEATHER_ICONS = 8,
    LABEL_LINE_CHARS = 257,        // a line's last byte holds its justification
    LABEL_JUSTIFY_BYTE = 259,
    LABEL_JUSTIFY_LEFT = 1,
    LABEL_JUSTIFY_RIGHT = 2,
    LABEL_LINE_LOWER = 253,        // control bytes inside expanded lines
    LABEL_LINE_RAISE = 254,
    LABEL_ICON_SIZE = 255,
};

struct WeatherCondition {
    int32_t code;
    char shortText[64];
    char longText[64];
    int icons[WEATHER_ICONS];      // ended by 0
};

extern const WeatherCondition kWeatherConditions[WEATHER_CONDITIONS];

// Row of a condition code; WEATHER_NOT_AVAILABLE for an unknown code.
int WeatherConditionIndex(int32_t code);
// Icon number as drawn: at night 1 becomes 2 and 3 becomes 4.
int WeatherIconForTime(int icon, bool isday);

// "hh:mm", or "hh:mm am"/"hh:mm pm" when twelveHour; out holds 12 bytes.
void formatClock(int64_t seconds, bool twelveHour, char *out, int size);
// Weekday of a date; set 0 short ("Mon"), 1 long ("Monday").
const char *DayOfWeekName(int day, int month, int year, int set);

// Fills line[], maxline and shown from the template; now is the current
// time that decides whether the weather is still valid.
void expandLabelTextAt(CityEntry *city, int64_t renderTime, int64_t now);
// As above, with the system's current time.
void expandLabelText(CityEntry *city, int64_t renderTime);

// Output pixel of a city (latitude and longitude in radians); false when
// the city is behind the globe or outside the view's clip area.
bool projectToImage(const ViewOptions *view, double lat, double lon, int *x, int *y);

#include <windows.h>

// The label's normal and bold fonts.
struct LabelFonts {
    HFONT normal, bold;
};

// Measure mode: the line's width and height in pixels. Otherwise draws the
// line's runs and icons from the rectangle's left edge, centred vertically.
void measureOrDrawLabelLine(HDC dc, const RECT *rect, const char *line, const CityEntry *city,
                            const LabelFonts *fonts, bool measure, int *width, int *height);
// Fills liwi, lihi, width and height from the expanded lines.
void measureLabel(HDC dc, CityEntry *city, const LabelFonts *fonts);
// Box, frame, arrow and lines at the DC's origin; isday as given.
void drawLabelBox(HDC dc, CityEntry *city, const LabelFonts *fonts, bool isday);

// Whether the sun stands less than 93.6 degrees from the city's zenith;
// latitudes and longitudes in radians.
bool CityInDaylight(double lat, double lon, double sunLat, double sunLon);

// Blends a drawn label box (top-down 32-bit pixels, boxW x boxH) into a
// 24-bit BMP image (54-byte header, bottom-up rows): box pixel (l, k) lands
// on (x + l / scale + shiftX, y + k / scale + shiftY), wrapped at the edges.
void blendLabelBox(uint8_t *bmp, const uint32_t *box, int stride, int boxW, int boxH,
                   const CityEntry *city, int x, int y, double scale, int shiftX, int shiftY);

// Draws every visible city of the view into its 24-bit BMP output image.
int drawCityLabels(uint8_t *bmp, ViewOptions *view, int shiftX, int shiftY);
