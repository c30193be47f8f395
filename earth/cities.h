// Cities, countries and time zones: the city and time-zone tables of the
// install folder, the country table, the cache of time-zone records, city
// line parsing and the UTC offset and abbreviation in force at a moment.
#pragma once

#include <stdint.h>

#include "earth/settings.h"
#include "framework/growarray.h"

// One loaded table: its text and the start of every non-empty line.
struct LineTable {
    char *text;
    CGrowArray<char *> lines;
};

struct CountryRecord {
    char name[100];
    char code[8];
};

struct DateTimeRecord {
    int32_t year, month, day;   // month 1..12, day 1..31
    int32_t seconds;            // of the day
};

// One rule of a zone: in force from that UTC moment; offset A + B seconds.
struct TimeZoneRule {
    int32_t year, month, day, seconds;
    int32_t offsetB, offsetA;
    char abbr[8];
};

struct TimeZoneRecord {
    char name[50];
    TimeZoneRule current;
    TimeZoneRule next;          // all zero when there is none
    char code[8];
    char description[100];
};
static_assert(sizeof(TimeZoneRecord) == 224, "TimeZoneRecord is 224 bytes");

enum {
    CITY_LINE_SIZE = 260,
    CITY_FILTER_SIZE = 200,
};

extern CGrowArray<CountryRecord> gCountries;
extern CGrowArray<TimeZoneRecord> gTimeZoneCache;   // resolves cities
extern CGrowArray<TimeZoneRecord> gTimeZoneList;    // behind the dialog's zone list
extern char gCityFilter[CITY_FILTER_SIZE];          // the city list's filter text

// 0 ok, 1 text file not opened or mapped, 2 archive not opened, 3 no first
// entry, 4 out of memory, 5 text not read, 6 entry not extracted.
int LoadLineTable(LineTable *table, const char *textPath, const char *archivePath);
void FreeLineTable(LineTable *table);

// Copies field index (0-based, ";"-separated, ended by CR, LF or NUL) cut to
// size-1 characters. False, with out empty, when the line has no such field.
bool CopyLineField(const char *line, int index, char *out, int size);

// The four table paths in the install folder.
void CityTablePaths(char *citiesText, char *citiesArchive, char *zonesText, char *zonesArchive);

int LoadCityDatabase();                       // 0 ok, 1 city table not loaded
// The city line indexes of one country whose name holds gCityFilter. 0 ok, 1 file error.
int FillCityList(const char *countryCode, CGrowArray<int> *lineIndexes);
// Refills gTimeZoneList, one record per zone. 0 ok, 2 file error, 4 bad rule line.
int FillTimeZoneList();
int ReadCityLine(int index, char *buffer);    // 0 ok, 1 file error, 2 past the last line
int ParseCityLine(const char *line, CityEntry *city);   // 0 ok, 1..7 see the source
void ResolveAllCities();

void CurrentDateTime(DateTimeRecord *now);
void NormalizeDateTime(DateTimeRecord *when);
bool IsLeapYear(int year);
int CompareDateTime(const DateTimeRecord *a, const DateTimeRecord *b);

// 0 ok, 1 now lies before the cached rule in force (clock set back),
// 2 time-zone table not loaded, 4 zone not found or a bad rule line.
int ResolveTimeZone(CityEntry *city);
int ResolveTimeZoneAt(CityEntry *city, const DateTimeRecord *now);
void ClearTimeZoneCache();

// The archive password, derived at run time; out holds 260 characters.
void BuildArchivePassword(char *out);
