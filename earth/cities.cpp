// Cities, countries and time zones. All of it runs on the UI thread except
// the time-zone cache, which render threads share (see ZoneCacheLock).
#include "earth/cities.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "framework/application.h"
#include "framework/mappedfile.h"
#include "framework/utilities.h"
#include "framework/zip.h"

CGrowArray<CountryRecord> gCountries;
CGrowArray<TimeZoneRecord> gTimeZoneCache;
CGrowArray<TimeZoneRecord> gTimeZoneList;
char gCityFilter[CITY_FILTER_SIZE];


// The password XOR (position + 100), so that it never sits in the binary as text.
static const unsigned char kStoredPassword[] = {0x32, 0x16, 0x16, 0x4A, 0x29, 0x1D, 0x06,
                                                0x0A, 0x1F, 0x40, 0x5A, 0x5B, 0x41, 0x46};

void BuildArchivePassword(char *out)
{
    // Only the stored characters are decoded: XOR over the whole buffer
    // would leave the password without its terminator.
    memset(out, 0, 260);
    for (int i = 0; i < (int)sizeof kStoredPassword && i < 259; i++)
        out[i] = (char)(kStoredPassword[i] ^ (i + 100));
}

void FreeLineTable(LineTable *table)
{
    free(table->text);
    table->text = 0;
    table->lines.RemoveAll();
}

// -1 when the file cannot be opened, else its size (files above 2 GB count as unreadable).
static long long FileSizeOf(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                              OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    CloseHandle(file);
    if (low == INVALID_FILE_SIZE || high || low > 0x7FFFFFF0)
        return -1;
    return low;
}

// Splits the terminated buffer into lines; false when memory runs out.
static bool IndexLines(LineTable *table)
{
    char *p = table->text;
    char *lineStart = p;
    for (;; p++) {
        char c = *p;
        if (c == '\r' || c == '\n' || c == 0) {
            *p = 0;
            if (p > lineStart && table->lines.Add(lineStart) < 0)
                return false;
            lineStart = p + 1;
            if (c == 0)
                return true;
        }
    }
}

// Opens the archive and finds its first entry: 0, 2 or 3.
static int OpenFirstEntry(const char *archivePath, ZipHandle **zip, ZipEntryInfo *entry)
{
    char password[260];
    BuildArchivePassword(password);
    *zip = CZipReader::Open(archivePath, password);
    SecureZeroMemory(password, sizeof password);
    if (!*zip)
        return 2;
    if (CZipReader::GetEntry(*zip, 0, entry) != 0) {
        CZipReader::Close(*zip);
        *zip = 0;
        return 3;
    }
    return 0;
}

// Maps the text file; an empty file is an empty text, not a failure.
static int MapTextFile(const char *textPath, CMappedFile *mapped, DWORD *size)
{
    // An empty table maps to nothing: it fails as a missing one does, also
    // when the archive beside it has lines.
    long long length = FileSizeOf(textPath);
    *size = 0;
    if (length <= 0)
        return 1;
    if (mapped->Open(textPath, 0, 0, 0) != MAPPED_OK || mapped->sizeHigh ||
        mapped->sizeLow > 0x7FFFFFF0)
        return 1;
    *size = mapped->sizeLow;
    return 0;
}

int LoadLineTable(LineTable *table, const char *textPath, const char *archivePath)
{
    FreeLineTable(table);
    CMappedFile mapped;
    DWORD textSize = 0;
    if (MapTextFile(textPath, &mapped, &textSize) != 0)
        return 1;
    ZipHandle *zip = 0;
    ZipEntryInfo entry;
    memset(&entry, 0, sizeof entry);
    if (archivePath) {
        int opened = OpenFirstEntry(archivePath, &zip, &entry);
        if (opened)
            return opened;
    }
    uint32_t entrySize = zip ? entry.uncompressedSize : 0;
    int result = 0;
    if ((unsigned long long)textSize + entrySize + 3 > 0x7FFFFFF0)
        result = 4;
    else if (!(table->text = (char *)malloc((size_t)textSize + entrySize + 3)))
        result = 4;
    else if (textSize && mapped.Read(table->text, textSize) != 0)
        result = 5;
    size_t used = textSize;
    if (!result && zip) {
        memcpy(table->text + used, "\r\n", 2);
        used += 2;
        int extracted = entrySize ? CZipReader::ExtractToMemory(zip, 0, table->text + used,
                                                                entrySize) : 0;
        if (extracted != 0 && extracted != ZIP_MORE_DATA)
            result = 6;
        used += entrySize;
    }
    if (zip)
        CZipReader::Close(zip);
    if (!result) {
        table->text[used] = 0;
        if (!IndexLines(table))
            result = 4;
    }
    if (result)
        FreeLineTable(table);
    return result;
}

static const char *FieldStart(const char *line, int index)
{
    const char *p = line;
    for (; index > 0; index--) {
        while (*p && *p != ';' && *p != '\r' && *p != '\n')
            p++;
        if (*p != ';')
            return 0;
        p++;
    }
    return p;
}

bool CopyLineField(const char *line, int index, char *out, int size)
{
    if (size > 0)
        out[0] = 0;
    const char *p = FieldStart(line, index);
    if (!p || size < 1)
        return p != 0;
    int n = 0;
    while (p[n] && p[n] != ';' && p[n] != '\r' && p[n] != '\n' && n < size - 1) {
        out[n] = p[n];
        n++;
    }
    out[n] = 0;
    return true;
}

// Field index exists and is followed by a ";".
static bool HasFieldAfter(const char *line, int index)
{
    return FieldStart(line, index + 1) != 0;
}

static void JoinInstallPath(char *out, const char *name)
{
    char folder[260];
    CopyText(folder, InstallRecordText(gApp.installRecord, INSTALL_RECORD_INSTALL_PATH),
             sizeof folder);
    if (_snprintf(out, 260, "%s\\%s", folder, name) < 0)
        out[259] = 0;
    out[259] = 0;
}

void CityTablePaths(char *citiesText, char *citiesArchive, char *zonesText, char *zonesArchive)
{
    JoinInstallPath(citiesText, "Cities.txt");
    JoinInstallPath(citiesArchive, "Cities.dat");
    JoinInstallPath(zonesText, "Timezones.txt");
    JoinInstallPath(zonesArchive, "Timezones.dat");
}

// The archive only when it exists: without it the text file alone is the table.
static const char *ArchiveIfPresent(const char *path)
{
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? 0 : path;
}

static int LoadCityTable(LineTable *table)
{
    char text[260], archive[260], zones[260], zonesArchive[260];
    CityTablePaths(text, archive, zones, zonesArchive);
    return LoadLineTable(table, text, ArchiveIfPresent(archive));
}

static int LoadZoneTable(LineTable *table)
{
    char text[260], archive[260], cities[260], citiesArchive[260];
    CityTablePaths(cities, citiesArchive, text, archive);
    return LoadLineTable(table, text, ArchiveIfPresent(archive));
}

int LoadCityDatabase()
{
    LineTable table = {0, CGrowArray<char *>()};
    if (LoadCityTable(&table) != 0)
        return 1;
    gCountries.RemoveAll();
    for (int i = 0; i < table.lines.count; i++) {
        const char *line = table.lines.data[i];
        if (line[0] != '#')
            continue;
        CountryRecord country;
        CopyLineField(line, 1, country.name, sizeof country.name);
        CopyLineField(line, 2, country.code, sizeof country.code);
        gCountries.Add(country);
    }
    FreeLineTable(&table);
    return 0;
}

int FillCityList(const char *countryCode, CGrowArray<int> *lineIndexes)
{
    lineIndexes->RemoveAll();
    LineTable table = {0, CGrowArray<char *>()};
    if (LoadCityTable(&table) != 0)
        return 1;
    for (int i = 0; i < table.lines.count; i++) {
        char code[8], name[200];
        const char *line = table.lines.data[i];
        if (line[0] == '#' || !CopyLineField(line, 0, code, sizeof code) ||
            strcmp(code, countryCode) != 0)
            continue;
        CopyLineField(line, 1, name, sizeof name);
        if (!gCityFilter[0] || FindTextNoCase(name, gCityFilter))
            lineIndexes->Add(i);
    }
    FreeLineTable(&table);
    return 0;
}

int ReadCityLine(int index, char *buffer)
{
    buffer[0] = 0;
    LineTable table = {0, CGrowArray<char *>()};
    if (LoadCityTable(&table) != 0)
        return 1;
    int result = 2;
    if (index >= 0 && index < table.lines.count) {
        CopyText(buffer, table.lines.data[index], CITY_LINE_SIZE);
        result = 0;
    }
    FreeLineTable(&table);
    return result;
}

// ---- dates ----

bool IsLeapYear(int year)
{
    return year >= 0 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0);
}

static int MonthLength(int year, int month)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 31;
    return month == 2 && IsLeapYear(year) ? 29 : lengths[month - 1];
}

void NormalizeDateTime(DateTimeRecord *when)
{
    while (when->seconds >= 86400) {
        when->seconds -= 86400;
        if (++when->day > MonthLength(when->year, when->month)) {
            when->day = 1;
            if (++when->month > 12) {
                when->month = 1;
                when->year++;
            }
        }
    }
    while (when->seconds < 0) {
        when->seconds += 86400;
        if (--when->day < 1) {
            if (--when->month < 1) {
                when->month = 12;
                when->year--;
            }
            when->day = MonthLength(when->year, when->month);
        }
    }
}

void CurrentDateTime(DateTimeRecord *now)
{
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    now->year = utc.wYear;
    now->month = utc.wMonth;
    now->day = utc.wDay;
    now->seconds = utc.wHour * 3600 + utc.wMinute * 60 + utc.wSecond;
    // The bias is minutes; clamp it so that the seconds cannot overflow.
    int bias = gPrefs.iTimeBias;
    if (bias > 5256000 || bias < -5256000)
        bias = bias > 0 ? 5256000 : -5256000;
    now->seconds += bias * 60;
    NormalizeDateTime(now);
}

int CompareDateTime(const DateTimeRecord *a, const DateTimeRecord *b)
{
    if (a->year != b->year)
        return a->year < b->year ? -1 : 1;
    if (a->month != b->month)
        return a->month < b->month ? -1 : 1;
    if (a->day != b->day)
        return a->day < b->day ? -1 : 1;
    if (a->seconds != b->seconds)
        return a->seconds < b->seconds ? -1 : 1;
    return 0;
}

static DateTimeRecord RuleStart(const TimeZoneRule *rule)
{
    DateTimeRecord start = {rule->year, rule->month, rule->day, rule->seconds};
    return start;
}

static bool HasRule(const TimeZoneRule *rule)
{
    return rule->year || rule->month || rule->day || rule->seconds;
}

// ---- time-zone records ----

// "d-m-y;h:m:s;A;B;abbr"; false when fewer than eight numbers are there.
static bool ReadRuleLine(const char *line, TimeZoneRule *rule)
{
    int hour, minute, second;
    memset(rule, 0, sizeof *rule);
    int n = sscanf(line, "%d-%d-%d;%d:%d:%d;%d;%d;%7[^;\r\n]", &rule->day, &rule->month,
                   &rule->year, &hour, &minute, &second, &rule->offsetA, &rule->offsetB,
                   rule->abbr);
    if (n < 8)
        return false;
    rule->seconds = hour * 3600 + minute * 60 + second;
    return true;
}

// Walks the rules after the header at lines[header]: the current rule is the
// last one started at or before now, the next one the first after it.
static int BuildZoneRecord(const LineTable *table, int header, const DateTimeRecord *now,
                           TimeZoneRecord *record)
{
    TimeZoneRule read;
    memset(&record->current, 0, sizeof record->current);
    memset(&record->next, 0, sizeof record->next);
    for (int i = header + 1; i < table->lines.count && table->lines.data[i][0] != '#'; i++) {
        if (!ReadRuleLine(table->lines.data[i], &read))
            return 4;
        DateTimeRecord start = RuleStart(&read);
        if (now && CompareDateTime(&start, now) > 0) {
            record->next = read;
            return 0;
        }
        // Kept as current even when it is the last line of the zone.
        record->current = read;
    }
    return 0;
}

static int FindZoneHeader(const LineTable *table, const char *name)
{
    char field[50];
    for (int i = 0; i < table->lines.count; i++) {
        const char *line = table->lines.data[i];
        if (line[0] == '#' && CopyLineField(line, 1, field, sizeof field) &&
            strcmp(field, name) == 0)
            return i;
    }
    return -1;
}

static int FindRecord(const CGrowArray<TimeZoneRecord> *list, const char *name)
{
    for (int i = 0; i < list->count; i++)
        if (strcmp(list->data[i].name, name) == 0)
            return i;
    return -1;
}

// Reads the zone from the table into the cache: 0, 2 or 4.
static int LoadZoneIntoCache(const char *name, const DateTimeRecord *now)
{
    LineTable table = {0, CGrowArray<char *>()};
    if (LoadZoneTable(&table) != 0)
        return 2;
    int header = FindZoneHeader(&table, name);
    TimeZoneRecord record;
    memset(&record, 0, sizeof record);
    CopyText(record.name, name, sizeof record.name);
    int result = header < 0 ? 4 : BuildZoneRecord(&table, header, now, &record);
    FreeLineTable(&table);
    if (result == 0 && FindRecord(&gTimeZoneCache, name) < 0 && gTimeZoneCache.Add(record) < 0)
        result = 4;
    return result;
}

// Render threads resolve label cities while another render (a preview
// beside an output job) or the UI thread may be filling or pruning the same
// cache, so every touch of it holds this lock.
struct ZoneCacheLock {
    CRITICAL_SECTION section;
    ZoneCacheLock() { InitializeCriticalSection(&section); }
    ~ZoneCacheLock() { DeleteCriticalSection(&section); }
};
static ZoneCacheLock sZoneCacheLock;

struct ZoneCacheHold {
    ZoneCacheHold() { EnterCriticalSection(&sZoneCacheLock.section); }
    ~ZoneCacheHold() { LeaveCriticalSection(&sZoneCacheLock.section); }
};

void ClearTimeZoneCache()
{
    ZoneCacheHold hold;
    gTimeZoneCache.RemoveAll();
}

int ResolveTimeZoneAt(CityEntry *city, const DateTimeRecord *now)
{
    ZoneCacheHold hold;
    char name[50];
    CopyText(name, city->timezone, sizeof name);
    // A miss or an expired record reads the table once, then the record answers.
    for (int round = 0; round < 3; round++) {
        int found = FindRecord(&gTimeZoneCache, name);
        if (found >= 0) {
            TimeZoneRecord *record = &gTimeZoneCache.data[found];
            DateTimeRecord nextStart = RuleStart(&record->next);
            DateTimeRecord start = RuleStart(&record->current);
            if (!(HasRule(&record->next) && CompareDateTime(now, &nextStart) >= 0)) {
                if (CompareDateTime(now, &start) < 0)
                    return 1;
                city->utcoff = record->current.offsetA + record->current.offsetB;
                CopyText(city->tzabbr, record->current.abbr, sizeof city->tzabbr);
                return 0;
            }
            gTimeZoneCache.RemoveAt(found);
        }
        int loaded = LoadZoneIntoCache(name, now);
        if (loaded)
            return loaded;
    }
    return 4;
}

int ResolveTimeZone(CityEntry *city)
{
    DateTimeRecord now;
    CurrentDateTime(&now);
    return ResolveTimeZoneAt(city, &now);
}

int FillTimeZoneList()
{
    gTimeZoneList.RemoveAll();
    LineTable table = {0, CGrowArray<char *>()};
    if (LoadZoneTable(&table) != 0)
        return 2;
    DateTimeRecord now;
    CurrentDateTime(&now);
    int result = 0;
    for (int i = 0; i < table.lines.count && !result; i++) {
        const char *line = table.lines.data[i];
        if (line[0] != '#')
            continue;
        TimeZoneRecord record;
        memset(&record, 0, sizeof record);
        CopyLineField(line, 1, record.name, sizeof record.name);
        CopyLineField(line, 2, record.code, sizeof record.code);
        CopyLineField(line, 3, record.description, sizeof record.description);
        result = BuildZoneRecord(&table, i, &now, &record);
        if (!result && FindRecord(&gTimeZoneList, record.name) < 0)
            gTimeZoneList.Add(record);
    }
    FreeLineTable(&table);
    return result;
}

// ---- cities ----

static void FindCountryName(const char *code, char *name, int size)
{
    for (int i = gCountries.count - 1; i >= 0; i--)
        if (strcmp(gCountries.data[i].code, code) == 0) {
            CopyText(name, gCountries.data[i].name, size);
            return;
        }
}

static bool ReadFloatField(const char *line, int index, float *value)
{
    char field[64];
    CopyLineField(line, index, field, sizeof field);
    return sscanf(field, "%f", value) == 1;
}

int ParseCityLine(const char *line, CityEntry *city)
{
    char number[64];
    if (!HasFieldAfter(line, 0))
        return 1;
    CopyLineField(line, 0, city->ccode, sizeof city->ccode);
    FindCountryName(city->ccode, city->country, sizeof city->country);
    if (!HasFieldAfter(line, 1))
        return 2;
    CopyLineField(line, 1, city->city, sizeof city->city);
    if (!HasFieldAfter(line, 2))
        return 3;
    CopyLineField(line, 2, city->state, sizeof city->state);
    if (!HasFieldAfter(line, 3))
        return 4;
    CopyLineField(line, 3, number, sizeof number);
    if (sscanf(number, "%d", &city->flags) != 1)
        city->flags = 0;
    float lat, lon;
    if (!HasFieldAfter(line, 4) || !ReadFloatField(line, 4, &lat) ||
        !ReadFloatField(line, 5, &lon))
        return 5;
    city->lat = lat;
    city->lon = lon;
    char zone[50];
    if (!HasFieldAfter(line, 5) || !CopyLineField(line, 6, zone, sizeof zone) || !zone[0])
        return 6;
    CopyText(city->timezone, zone, sizeof city->timezone);
    if (FieldStart(line, 7))
        CopyLineField(line, 7, city->icao, sizeof city->icao);
    return ResolveTimeZone(city) ? 7 : 0;
}

void ResolveAllCities()
{
    for (int list = 0; list < 2; list++)
        for (int v = 0; v < gViewLists[list].count; v++) {
            ViewOptions *view = &gViewLists[list].data[v];
            // The stored count is data from a file: never walk past the array.
            int count = view->iCityNumber;
            int capacity = (int)(sizeof view->City / sizeof view->City[0]);
            if (count > capacity)
                count = capacity;
            for (int c = 0; c < count; c++)
                if (view->City[c].cityline[0])
                    ParseCityLine(view->City[c].cityline, &view->City[c]);
        }
}
