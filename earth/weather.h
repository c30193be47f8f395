// The weather updater: for every distinct labelled city of both view lists
// the current weather from the weather service (JSON) and, for cities with
// an ICAO station, the latest METAR report, decoded. One worker thread does
// both; the main window's timer starts it when weather downloads are
// automatic, the option pages on request.
#pragma once

#include <windows.h>
#include <stdint.h>

enum {
    WEATHER_MODE_AUTO = 1,
    WEATHER_MODE_IF_DUE = 2,
    WEATHER_MODE_NOW = 3,
    WEATHER_MIN_INTERVAL_MINUTES = 10,
    WEATHER_PRECISIONS = 6,            // latitude and longitude with 6..1 decimals
    WEATHER_STATUS_SIZE = 260,
    WEATHER_BODY_SPARE = 256,
    WEATHER_BUSY = 60,
    WEATHER_NO_THREAD = 3,
    WEATHER_NO_MEMORY = 1,
    WEATHER_REQUEST_CODES = 10,        // first error codes from here up are request failures
    METAR_NO_MARKER = 1,               // the page lacks "<!-- Data starts here -->"
    METAR_NO_CODE_START = 2,           // ... "<code>" (also: the report does not decode)
    METAR_NO_CODE_END = 3,             // ... "</code>"
};

// The value stored for a figure the data did not give.
#define WEATHER_MISSING 2147483648.0f

// Addresses of the services; the hosts are this program's configuration.
extern const char kWeatherServiceUrl[];
extern const char kMetarPageUrl[];

extern volatile LONG gWeatherBusy;
// What the option pages show; "Idle" until the first run.
extern char gWeatherStatus[WEATHER_STATUS_SIZE];
extern char gMetarStatus[WEATHER_STATUS_SIZE];

// 60 while busy; else starts the worker with mode: 0, or 3 when the thread
// cannot be created.
int StartWeatherDownload(int mode);
// The worker; parameter is the mode. Answers the last request's result.
DWORD WINAPI WeatherDownloadThread(LPVOID mode);

// Raises the interval to its minimum (stored); true when both the weather
// and the METAR data are older than the interval.
bool weatherDue(int64_t now);
// One GET into a new zero-terminated buffer (free with free()); 0, 1 when
// memory runs out, or the request's code. A failure's text becomes the
// weather or METAR status.
int downloadToMemory(const char *url, char **body, bool forMetar);
// Flat JSON scan: key at brace depth 1, then subkey (or null) at depth 2;
// the value's characters, quotes skipped, up to a quote, comma or closing
// brace. False when not found.
bool jsonLookup(const char *text, const char *key, const char *subkey, char *out, int size);
// The METAR report of station icao out of a downloaded text (a station file
// or the aviation weather page); 0 or METAR_NO_*.
int ExtractMetarReport(const char *text, const char *icao, bool page, char *out, int size);
// Wind speed in m/s from a speed in "KT", "MPS" or "KMH"; WEATHER_MISSING
// for other units.
float WindMetresPerSecond(int speed, const char *units);
