// The cities dialog. Every entry of the "Display Cities" list owns a heap
// copy of its city record; the copies go back into the view on OK and are
// freed either way, so Cancel only has to put the kept view back.
#include "shell/citiesdialog.h"

#include <commctrl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "earth/cities.h"
#include "earth/labels.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/dialogs.h"
#include "framework/utilities.h"
#include "shell/help.h"
#include "shell/imageview.h"

int gCitiesDialogSelection = -1;

namespace {

enum {
    ID_TEXT = 1091,
    ID_ZONE = 1080,
    ID_ICAO = 1094,
    ID_FONT_NAME = 1266,
    ID_FONT = 1020,
    ID_FONT_SIZE = 1088,
    ID_SHADOW = 1039,
    ID_OPACITY = 1087,
    ID_FRAME = 1093,
    ID_ARROW = 1092,
    ID_POSITION = 1076,
    ID_COUNTRY_FILTER = 1089,
    ID_CITY_FILTER = 1090,
    ID_COUNTRIES = 1129,
    ID_CITIES = 1128,
    ID_DISPLAYED = 1130,
    ID_CITY_INFO = 1219,
    ID_ZONE_INFO = 1240,
    ID_DST_INFO = 1216,
    ID_HELP = 9,
    SPIN_OFFSET = 2000,
    PLACE_BUTTONS = 0x8003,
    LABEL_COLOURS = 8,
    ICON_ADD = 22,
    ICON_REMOVE = 23,
    FONT_FACE_CHARS = 31,
    TEXT_SIZE = 512,
};

const char kDefaultLabelText[] =
    "^#CCI\r\n\r\n#DW3 #DDY.#DMO. ^#TTM^\r\n#WDS #WSS32 #WTP\260";
const char kDefaultFontName[] = "MS Shell Dlg";
const char *const kLabelPositions[] = {"Left Top", "Right Top", "Left Bottom", "Right Bottom"};

// Swatches in record order: crtext, crbackground, crframe, crarrow, two each.
const int kSwatches[LABEL_COLOURS] = {1070, 1066, 1071, 1068, 1072, 1069, 1073, 1067};

// Enabled only while a displayed city is selected.
const int kLabelControls[] = {1009, 1221, 1076, 1222, 1091, 1238, 1080, 1223, 1094, 1239,
                              1240, 1216, 1010, 1017, 1031, 1266, 1020, 1088, 3088, 1039,
                              1087, 3087, 1093, 3093, 1092, 3092, 1070, 1066, 1071, 1068,
                              1072, 1069, 1073, 1067, 1241, 1242, 1243, 1244, 1245};

const char kListProcProperty[] = "VtCityListProc";

struct CitiesDialog {
    ViewOptions *view;
    ViewOptions *kept;
    HWND addButton, removeButton;
    HICON addIcon, removeIcon;
    COLORREF colours[LABEL_COLOURS];
    int selected;          // the displayed city whose label the controls show; -1 none
    uint8_t refreshing;
};

// Kept across openings, like the displayed selection.
int sCountryIndex = -1;    // in gCountries
int sCityLine = -1;        // line of the city table
char sCountryFilter[CITY_FILTER_SIZE];

CitiesDialog *DialogState(HWND dialog)
{
    return (CitiesDialog *)GetWindowLongPtrA(dialog, DWLP_USER);
}

COLORREF *RecordColour(CityEntry *city, int i)
{
    uint32_t *pairs[4] = {city->crtext, city->crbackground, city->crframe, city->crarrow};
    return (COLORREF *)&pairs[i / 2][i % 2];
}

LRESULT ListMessage(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

int DisplayedCount(HWND dialog)
{
    return (int)ListMessage(dialog, ID_DISPLAYED, LB_GETCOUNT);
}

CityEntry *DisplayedRecord(HWND dialog, int index)
{
    if (index < 0 || index >= DisplayedCount(dialog))
        return 0;
    LRESULT data = ListMessage(dialog, ID_DISPLAYED, LB_GETITEMDATA, index);
    return data == LB_ERR ? 0 : (CityEntry *)data;
}

void CityListText(const CityEntry *city, char *out, int size)
{
    snprintf(out, size, "%s, %s", city->city, city->country);
}

// Appends an entry that owns the record; false (record not taken) when the list is full.
bool AppendDisplayed(HWND dialog, CityEntry *city)
{
    char text[TEXT_SIZE];
    CityListText(city, text, sizeof text);
    LRESULT index = ListMessage(dialog, ID_DISPLAYED, LB_ADDSTRING, 0, (LPARAM)text);
    if (index < 0)
        return false;
    ListMessage(dialog, ID_DISPLAYED, LB_SETITEMDATA, index, (LPARAM)city);
    return true;
}

void FreeDisplayed(HWND dialog)
{
    for (int i = DisplayedCount(dialog) - 1; i >= 0; i--) {
        free(DisplayedRecord(dialog, i));
        ListMessage(dialog, ID_DISPLAYED, LB_SETITEMDATA, i, 0);
    }
}

// ---- city lines ----

// Replaces field index (0-based, ";"-separated) of the line, adding empty
// fields when the line is shorter. False, line unchanged, when it would not fit.
bool ReplaceLineField(char *line, int size, int index, const char *value)
{
    char result[CITY_LINE_SIZE * 2];
    const char *p = line;
    int n = 0;
    for (int field = 0; field < index; field++) {
        const char *end = strchr(p, ';');
        int length = end ? (int)(end - p) : (int)strlen(p);
        n += snprintf(result + n, sizeof result - n, "%.*s;", length, p);
        p = end ? end + 1 : p + length;
    }
    const char *rest = strchr(p, ';');
    n += snprintf(result + n, sizeof result - n, "%s%s", value, rest ? rest : "");
    if (n >= size || n >= (int)sizeof result)
        return false;
    memcpy(line, result, (size_t)n + 1);
    return true;
}

// ---- the label controls ----

void ShowFontName(HWND dialog, const CityEntry *city)
{
    SetDlgItemTextA(dialog, ID_FONT_NAME, city->font[0] ? city->font : kDefaultFontName);
}

void WriteLabelControls(HWND dialog, CitiesDialog *state, CityEntry *city)
{
    state->refreshing = 1;
    SetDlgItemTextA(dialog, ID_TEXT, city->text);
    char icao[sizeof city->icao];
    CopyLineField(city->cityline, 7, icao, sizeof icao);
    SetDlgItemTextA(dialog, ID_ICAO, icao[0] ? icao : city->icao);
    ShowFontName(dialog, city);
    SetDlgItemNumber(dialog, ID_FONT_SIZE, city->fontsize);
    SetDlgCheck(dialog, ID_SHADOW, city->shadow ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemNumber(dialog, ID_OPACITY, city->opacity);
    SetDlgItemNumber(dialog, ID_FRAME, city->framesize);
    SetDlgItemNumber(dialog, ID_ARROW, city->arrowsize);
    ListMessage(dialog, ID_POSITION, CB_SETCURSEL, city->labelpos >= 0 && city->labelpos < 4
                                                       ? city->labelpos : 3);
    for (int i = 0; i < LABEL_COLOURS; i++) {
        state->colours[i] = *RecordColour(city, i);
        InvalidateRect(GetDlgItem(dialog, kSwatches[i]), 0, TRUE);
    }
    state->refreshing = 0;
}

void CommitLabel(HWND dialog, CitiesDialog *state)
{
    CityEntry *city = DisplayedRecord(dialog, state->selected);
    if (!city)
        return;
    int position = (int)ListMessage(dialog, ID_POSITION, CB_GETCURSEL);
    if (position >= 0 && position < 4)
        city->labelpos = (int8_t)position;
    GetDlgItemTextA(dialog, ID_TEXT, city->text, sizeof city->text);
    city->fontsize = (int8_t)GetDlgItemNumber(dialog, ID_FONT_SIZE, 1, CITIESDLG_FONT_SIZE_MAX,
                                              false);
    city->shadow = (int8_t)(GetDlgCheck(dialog, ID_SHADOW) == BST_CHECKED);
    city->opacity = (int8_t)GetDlgItemNumber(dialog, ID_OPACITY, 0, 100, false);
    city->framesize = (int8_t)GetDlgItemNumber(dialog, ID_FRAME, 0, 100, false);
    city->arrowsize = (int8_t)GetDlgItemNumber(dialog, ID_ARROW, 0, 100, false);
    for (int i = 0; i < LABEL_COLOURS; i++)
        *RecordColour(city, i) = state->colours[i];
}

// ---- time zones ----

void FillTimeZoneCombo(HWND combo)
{
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    FillTimeZoneList();
    for (int i = 0; i < gTimeZoneList.count; i++) {
        LRESULT item = SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)gTimeZoneList.data[i].name);
        SendMessageA(combo, CB_SETITEMDATA, item, i);
    }
}

void RuleText(const TimeZoneRule *rule, char *out, int size)
{
    snprintf(out, size, "%s on %s, %02d.%02d.%04d, %02d:%02d",
             rule->offsetB ? "starts" : "ends",
             DayOfWeekName(rule->day, rule->month, rule->year, 1), rule->day, rule->month,
             rule->year, rule->seconds / 3600, rule->seconds / 60 % 60);
}

bool RuleSet(const TimeZoneRule *rule)
{
    return rule->year || rule->month || rule->day || rule->seconds;
}

void ShowZoneInfo(HWND dialog, const TimeZoneRecord *zone)
{
    int offset = zone->current.offsetA + zone->current.offsetB;
    int minutes = (offset < 0 ? -offset : offset) / 60 % 60;
    SetDlgItemTextF(dialog, ID_ZONE_INFO, "UTC%+d:%02d (%s), %s (%s)", offset / 3600, minutes,
                    zone->current.abbr, zone->name, zone->description);
    bool changes = RuleSet(&zone->next) && (zone->current.offsetB || zone->next.offsetB);
    if (!changes) {
        SetDlgItemTextA(dialog, ID_DST_INFO, "No daylight saving time changes");
        return;
    }
    char first[128], second[128];
    RuleText(&zone->current, first, sizeof first);
    RuleText(&zone->next, second, sizeof second);
    SetDlgItemTextF(dialog, ID_DST_INFO, "DST %s and %s", first, second);
}

const TimeZoneRecord *SelectedZone(HWND dialog)
{
    LRESULT item = ListMessage(dialog, ID_ZONE, CB_GETCURSEL);
    LRESULT index = item < 0 ? -1 : ListMessage(dialog, ID_ZONE, CB_GETITEMDATA, item);
    return index >= 0 && index < gTimeZoneList.count ? &gTimeZoneList.data[index] : 0;
}

void SelectCityZone(HWND dialog, const CityEntry *city)
{
    char zone[sizeof city->timezone];
    if (!CopyLineField(city->cityline, 6, zone, sizeof zone) || !zone[0])
        CopyText(zone, city->timezone, sizeof zone);
    LRESULT item = ListMessage(dialog, ID_ZONE, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)zone);
    ListMessage(dialog, ID_ZONE, CB_SETCURSEL, item < 0 ? (WPARAM)-1 : item);
    const TimeZoneRecord *record = item < 0 ? 0 : SelectedZone(dialog);
    if (record) {
        ShowZoneInfo(dialog, record);
    } else {
        SetDlgItemTextA(dialog, ID_ZONE_INFO, "");
        SetDlgItemTextA(dialog, ID_DST_INFO, "");
    }
}

void OnZoneChosen(HWND dialog, CitiesDialog *state)
{
    const TimeZoneRecord *zone = SelectedZone(dialog);
    CityEntry *city = DisplayedRecord(dialog, state->selected);
    if (!zone)
        return;
    ShowZoneInfo(dialog, zone);
    if (!city || !ReplaceLineField(city->cityline, sizeof city->cityline, 6, zone->name))
        return;
    CopyText(city->timezone, zone->name, sizeof city->timezone);
    ResolveTimeZone(city);
}

void OnIcaoChanged(HWND dialog, CitiesDialog *state)
{
    CityEntry *city = DisplayedRecord(dialog, state->selected);
    if (!city || state->refreshing || GetFocus() != GetDlgItem(dialog, ID_ICAO))
        return;
    char icao[64];
    GetDlgItemTextA(dialog, ID_ICAO, icao, sizeof icao);
    TrimWhitespace(icao);
    icao[sizeof city->icao - 1] = 0;
    char present[8];
    // A line without the optional field gets one only for a code.
    if (!icao[0] && !CopyLineField(city->cityline, 7, present, sizeof present))
        return;
    if (ReplaceLineField(city->cityline, sizeof city->cityline, 7, icao))
        CopyText(city->icao, icao, sizeof city->icao);
}

// ---- the icon buttons inside the lists ----

void PlaceButton(HWND dialog, int listId, HWND button)
{
    HWND list = GetDlgItem(dialog, listId);
    int item = (int)SendMessageA(list, LB_GETCURSEL, 0, 0);
    RECT itemRect, client;
    GetClientRect(list, &client);
    bool placed = button && item >= 0 &&
                  SendMessageA(list, LB_GETITEMRECT, item, (LPARAM)&itemRect) != LB_ERR;
    if (!placed || itemRect.bottom <= client.top || itemRect.top >= client.bottom) {
        if (button)
            ShowWindow(button, SW_HIDE);
        return;
    }
    int size = MulDiv(16, DialogDpi(dialog), 96);
    int height = itemRect.bottom - itemRect.top;
    if (size > height)
        size = height;
    SetWindowPos(button, HWND_TOP, client.right - size - 1, itemRect.top + (height - size) / 2,
                 size, size, SWP_NOACTIVATE | SWP_SHOWWINDOW);
}

void PlaceButtons(HWND dialog, CitiesDialog *state)
{
    PlaceButton(dialog, ID_CITIES, state->addButton);
    PlaceButton(dialog, ID_DISPLAYED, state->removeButton);
}

// Posts the icon buttons' clicks to the dialog and keeps them next to
// their items when the list scrolls.
LRESULT CALLBACK CityListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = (WNDPROC)GetPropA(list, kListProcProperty);
    HWND dialog = GetParent(list);
    if (message == WM_COMMAND && HIWORD(wParam) == 0 && lParam) {
        PostMessageA(dialog, WM_COMMAND, wParam, lParam);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        RemovePropA(list, kListProcProperty);
        SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)previous);
    }
    LRESULT result = previous ? CallWindowProcA(previous, list, message, wParam, lParam)
                              : DefWindowProcA(list, message, wParam, lParam);
    if (message == WM_VSCROLL || message == WM_MOUSEWHEEL || message == WM_SIZE ||
        message == WM_KEYDOWN)
        PostMessageA(dialog, PLACE_BUTTONS, 0, 0);
    return result;
}

void SubclassList(HWND dialog, int id)
{
    HWND list = GetDlgItem(dialog, id);
    WNDPROC previous = (WNDPROC)SetWindowLongPtrA(list, GWLP_WNDPROC, (LONG_PTR)CityListProc);
    SetPropA(list, kListProcProperty, (HANDLE)previous);
}

HWND CreateIconButton(HWND dialog, int listId, int command, int iconId, HICON *icon,
                      const char *fallback)
{
    *icon = (HICON)LoadImageA(ResourceModule(), MAKEINTRESOURCEA(iconId), IMAGE_ICON, 16, 16, 0);
    // Without its picture the button carries a sign.
    DWORD style = WS_CHILD | BS_PUSHBUTTON | (*icon ? BS_ICON : BS_CENTER);
    HWND button = CreateWindowExA(0, "BUTTON", *icon ? "" : fallback, style, 0, 0, 16, 16,
                                  GetDlgItem(dialog, listId), (HMENU)(INT_PTR)command,
                                  GetModuleHandleA(0), 0);
    if (!button)
        return 0;
    if (*icon)
        SendMessageA(button, BM_SETIMAGE, IMAGE_ICON, (LPARAM)*icon);
    else
        SendMessageA(button, WM_SETFONT, SendMessageA(dialog, WM_GETFONT, 0, 0), 0);
    return button;
}

void DestroyIconButtons(CitiesDialog *state)
{
    if (state->addButton)
        DestroyWindow(state->addButton);
    if (state->removeButton)
        DestroyWindow(state->removeButton);
    if (state->addIcon)
        DestroyIcon(state->addIcon);
    if (state->removeIcon)
        DestroyIcon(state->removeIcon);
    state->addButton = state->removeButton = 0;
    state->addIcon = state->removeIcon = 0;
}

// ---- the country and city lists ----

int SelectedData(HWND dialog, int id)
{
    LRESULT item = ListMessage(dialog, id, LB_GETCURSEL);
    return item < 0 ? -1 : (int)ListMessage(dialog, id, LB_GETITEMDATA, item);
}

void SelectByData(HWND dialog, int id, int data)
{
    int count = (int)ListMessage(dialog, id, LB_GETCOUNT);
    for (int i = 0; i < count; i++)
        if ((int)ListMessage(dialog, id, LB_GETITEMDATA, i) == data) {
            ListMessage(dialog, id, LB_SETCURSEL, i);
            return;
        }
    ListMessage(dialog, id, LB_SETCURSEL, (WPARAM)-1);
}

void FillCountries(HWND dialog)
{
    HWND list = GetDlgItem(dialog, ID_COUNTRIES);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < gCountries.count; i++) {
        const char *name = gCountries.data[i].name;
        if (sCountryFilter[0] && !FindTextNoCase(name, sCountryFilter))
            continue;
        LRESULT item = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)name);
        SendMessageA(list, LB_SETITEMDATA, item, i);
    }
    SelectByData(dialog, ID_COUNTRIES, sCountryIndex);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, 0, TRUE);
}

void FillCities(HWND dialog)
{
    HWND list = GetDlgItem(dialog, ID_CITIES);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    int country = SelectedData(dialog, ID_COUNTRIES);
    CGrowArray<int> lines;
    LineTable table = {0, CGrowArray<char *>()};
    char text[260], archive[260], zones[260], zonesArchive[260];
    CityTablePaths(text, archive, zones, zonesArchive);
    bool haveArchive = PathExists(archive);
    if (country >= 0 && country < gCountries.count &&
        FillCityList(gCountries.data[country].code, &lines) == 0 &&
        LoadLineTable(&table, text, haveArchive ? archive : 0) == 0) {
        for (int i = 0; i < lines.count; i++) {
            if (lines.data[i] >= table.lines.count)
                continue;
            char name[200];
            CopyLineField(table.lines.data[lines.data[i]], 1, name, sizeof name);
            LRESULT item = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)name);
            SendMessageA(list, LB_SETITEMDATA, item, lines.data[i]);
        }
    }
    FreeLineTable(&table);
    SelectByData(dialog, ID_CITIES, sCityLine);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, 0, TRUE);
}

void RefreshLists(HWND dialog, CitiesDialog *state, WPARAM countries, LPARAM cities)
{
    if (state->refreshing)
        return;
    state->refreshing = 1;
    if (countries == 2 || cities == 2) {
        SetDlgItemTextA(dialog, ID_COUNTRY_FILTER, sCountryFilter);
        SetDlgItemTextA(dialog, ID_CITY_FILTER, gCityFilter);
    }
    if (countries)
        FillCountries(dialog);
    if (countries || cities)
        FillCities(dialog);
    state->refreshing = 0;
    PlaceButtons(dialog, state);
}

// ---- selections ----

void OnCitySelected(HWND dialog, CitiesDialog *state)
{
    sCityLine = SelectedData(dialog, ID_CITIES);
    static CityEntry city;   // about 4 KB: not on the stack of a dialog procedure
    memset(&city, 0, sizeof city);
    char line[CITY_LINE_SIZE];
    if (sCityLine < 0 || ReadCityLine(sCityLine, line) != 0) {
        SetDlgItemTextA(dialog, ID_CITY_INFO, "");
        PlaceButtons(dialog, state);
        return;
    }
    ParseCityLine(line, &city);
    char info[TEXT_SIZE];
    int n = snprintf(info, sizeof info, "%s (%s), %.5f\260 %s  %.5f\260 %s, %s (%s)", city.city,
                     city.state, city.lat < 0 ? -city.lat : city.lat, city.lat < 0 ? "S" : "N",
                     city.lon < 0 ? -city.lon : city.lon, city.lon < 0 ? "W" : "E",
                     city.country, city.timezone);
    if (city.icao[0] && n > 0 && n < (int)sizeof info)
        snprintf(info + n, sizeof info - n, ", %s", city.icao);
    SetDlgItemTextA(dialog, ID_CITY_INFO, info);
    PlaceButtons(dialog, state);
}

void OnDisplayedSelected(HWND dialog, CitiesDialog *state)
{
    CommitLabel(dialog, state);
    int item = (int)ListMessage(dialog, ID_DISPLAYED, LB_GETCURSEL);
    CityEntry *city = DisplayedRecord(dialog, item);
    state->selected = city ? item : -1;
    gCitiesDialogSelection = state->selected;
    for (int i = 0; i < (int)(sizeof kLabelControls / sizeof kLabelControls[0]); i++)
        EnableDlgItems(city != 0, dialog, kLabelControls[i], 0);
    if (city) {
        WriteLabelControls(dialog, state, city);
        SelectCityZone(dialog, city);
    }
    PlaceButtons(dialog, state);
}

void SelectDisplayed(HWND dialog, CitiesDialog *state, int index)
{
    ListMessage(dialog, ID_DISPLAYED, LB_SETCURSEL, (WPARAM)index);
    OnDisplayedSelected(dialog, state);
}

void AddSelectedCity(HWND dialog, CitiesDialog *state)
{
    int line = SelectedData(dialog, ID_CITIES);
    if (line < 0 || DisplayedCount(dialog) >= VIEW_CITIES)
        return;
    CityEntry *city = (CityEntry *)malloc(sizeof *city);
    if (!city)
        return;
    memset(city, 0, sizeof *city);
    DefaultCityLabel(city);
    char text[TEXT_SIZE];
    if (ReadCityLine(line, city->cityline) != 0) {
        free(city);
        return;
    }
    ParseCityLine(city->cityline, city);
    CityListText(city, text, sizeof text);
    if (ListMessage(dialog, ID_DISPLAYED, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text) >= 0 ||
        !AppendDisplayed(dialog, city)) {
        free(city);
        return;
    }
    SelectDisplayed(dialog, state, DisplayedCount(dialog) - 1);
}

void RemoveSelectedCity(HWND dialog, CitiesDialog *state)
{
    int item = state->selected;
    CityEntry *city = DisplayedRecord(dialog, item);
    if (!city)
        return;
    state->selected = -1;   // nothing to commit into the removed record
    free(city);
    ListMessage(dialog, ID_DISPLAYED, LB_DELETESTRING, item);
    int count = DisplayedCount(dialog);
    SelectDisplayed(dialog, state, item < count ? item : count - 1);
}

void TakeLabelDefaults(HWND dialog, CitiesDialog *state)
{
    CityEntry *city = DisplayedRecord(dialog, state->selected);
    if (!city)
        return;
    DefaultCityLabel(city);
    WriteLabelControls(dialog, state, city);
}

void ApplyToAll(HWND dialog, CitiesDialog *state)
{
    CityEntry *source = DisplayedRecord(dialog, state->selected);
    if (!source)
        return;
    const char *question = gApp.strings.GetText(CITIESDLG_APPLY_QUESTION, 0);
    const char *caption = gApp.strings.GetText(0, 0);
    if (FrameworkMessageBox(dialog, caption ? caption : "Veltaspar",
                            question ? question : "Apply current display settings to all cities?",
                            MBF_QUESTION | MBF_YESNOCANCEL, 0) != IDYES)
        return;
    CommitLabel(dialog, state);
    // The label settings run from the font to the end of the record; the
    // colours, the position, the text, the city and its weather stay each
    // city's own.
    size_t first = offsetof(CityEntry, font);
    for (int i = DisplayedCount(dialog) - 1; i >= 0; i--) {
        CityEntry *city = DisplayedRecord(dialog, i);
        if (city && city != source)
            memcpy((char *)city + first, (const char *)source + first, sizeof *city - first);
    }
}

void ChooseLabelFont(HWND dialog, CitiesDialog *state)
{
    CityEntry *city = DisplayedRecord(dialog, state->selected);
    if (!city)
        return;
    CommitLabel(dialog, state);
    LOGFONTA font = {};
    HDC dc = GetDC(dialog);
    font.lfHeight = -MulDiv(city->fontsize > 0 ? city->fontsize : 10,
                            GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(dialog, dc);
    font.lfCharSet = DEFAULT_CHARSET;
    CopyText(font.lfFaceName, city->font[0] ? city->font : kDefaultFontName,
             sizeof font.lfFaceName);
    CHOOSEFONTA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = dialog;
    choose.lpLogFont = &font;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_NOVERTFONTS | CF_LIMITSIZE;
    choose.nSizeMin = 1;
    choose.nSizeMax = CITIESDLG_FONT_SIZE_MAX;
    if (!ChooseFontA(&choose))
        return;
    CopyText(city->font, font.lfFaceName, FONT_FACE_CHARS + 1);
    int size = choose.iPointSize / 10;
    ClampToRange(&size, 1, CITIESDLG_FONT_SIZE_MAX);
    city->fontsize = (int8_t)size;
    ShowFontName(dialog, city);
    SetDlgItemNumber(dialog, ID_FONT_SIZE, size);
}

void OpenMetarPage(HWND dialog)
{
    char icao[64], url[1040];
    GetDlgItemTextA(dialog, ID_ICAO, icao, sizeof icao);
    TrimWhitespace(icao);
    if (!icao[0])
        return;
    CopyText(url, gPrefs.iMetarSource ? gPrefs.szMetarURL : kMetarPageUrl, sizeof url);
    ReplaceAll(url, sizeof url, "#ICAO#", icao);
    ShellExecuteUnelevated(url, 0, 0, 0, SW_SHOWNORMAL);
}

// ---- opening and closing ----

void InitCitiesDialog(HWND dialog, CitiesDialog *state)
{
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)state);
    InitDialog(dialog);
    state->selected = -1;
    if (gCountries.count == 0)
        LoadCityDatabase();
    for (int i = 0; i < LABEL_COLOURS; i++)
        InstallColourSwatch(dialog, kSwatches[i], &state->colours[i]);
    ViewOptions *view = state->view;
    int count = view->iCityNumber < 0 ? 0 : view->iCityNumber > VIEW_CITIES ? VIEW_CITIES
                                                                           : view->iCityNumber;
    for (int i = 0; i < count; i++) {
        CityEntry *copy = (CityEntry *)malloc(sizeof *copy);
        if (!copy)
            break;
        memcpy(copy, &view->City[i], sizeof *copy);
        if (!AppendDisplayed(dialog, copy))
            free(copy);
    }
    ListMessage(dialog, ID_TEXT, EM_LIMITTEXT, sizeof view->City[0].text - 1);
    ListMessage(dialog, ID_ICAO, EM_LIMITTEXT, sizeof view->City[0].icao - 1);
    ListMessage(dialog, ID_COUNTRY_FILTER, EM_LIMITTEXT, CITY_FILTER_SIZE - 1);
    ListMessage(dialog, ID_CITY_FILTER, EM_LIMITTEXT, CITY_FILTER_SIZE - 1);
    ListMessage(dialog, ID_FONT_SIZE + SPIN_OFFSET, UDM_SETRANGE32, 1, CITIESDLG_FONT_SIZE_MAX);
    ListMessage(dialog, ID_OPACITY + SPIN_OFFSET, UDM_SETRANGE32, 0, 100);
    ListMessage(dialog, ID_FRAME + SPIN_OFFSET, UDM_SETRANGE32, 0, 100);
    ListMessage(dialog, ID_ARROW + SPIN_OFFSET, UDM_SETRANGE32, 0, 100);
    FillTimeZoneCombo(GetDlgItem(dialog, ID_ZONE));
    for (int i = 0; i < 4; i++)
        ListMessage(dialog, ID_POSITION, CB_ADDSTRING, 0, (LPARAM)kLabelPositions[i]);
    SubclassList(dialog, ID_CITIES);
    SubclassList(dialog, ID_DISPLAYED);
    state->addButton = CreateIconButton(dialog, ID_CITIES, CITIESDLG_ADD, ICON_ADD,
                                        &state->addIcon, "+");
    state->removeButton = CreateIconButton(dialog, ID_DISPLAYED, CITIESDLG_REMOVE, ICON_REMOVE,
                                           &state->removeIcon, "-");
    int remembered = gCitiesDialogSelection < count ? gCitiesDialogSelection : count - 1;
    SelectDisplayed(dialog, state, remembered);
    RefreshLists(dialog, state, 2, 2);
}

void EndCitiesDialog(HWND dialog, CitiesDialog *state, int result)
{
    ViewOptions *view = state->view;
    if (result == IDOK) {
        CommitLabel(dialog, state);
        int count = DisplayedCount(dialog);
        view->iCityNumber = 0;
        for (int i = 0; i < count && i < VIEW_CITIES; i++) {
            CityEntry *city = DisplayedRecord(dialog, i);
            if (city)
                memcpy(&view->City[view->iCityNumber++], city, sizeof *city);
        }
        // The view may be a copy outside the view lists: resolve its own cities too.
        for (int i = 0; i < view->iCityNumber; i++)
            if (view->City[i].cityline[0])
                ParseCityLine(view->City[i].cityline, &view->City[i]);
        ResolveAllCities();
    } else {
        memcpy(view, state->kept, sizeof *view);
    }
    FreeDisplayed(dialog);
    DestroyIconButtons(state);
    EndDialog(dialog, result);
}

// A typed size out of range shows as it will be stored once the focus leaves.
void ShowClampedNumber(HWND dialog, int id)
{
    char text[32];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    if (!text[0])
        return;
    int low = id == ID_FONT_SIZE ? 1 : 0;
    int high = id == ID_FONT_SIZE ? CITIESDLG_FONT_SIZE_MAX : 100;
    SetDlgItemNumber(dialog, id, GetDlgItemNumber(dialog, id, low, high, false));
}

void RunCitiesCommand(HWND dialog, CitiesDialog *state, int id, int code)
{
    for (int i = 0; i < LABEL_COLOURS; i++)
        if (kSwatches[i] == id)
            return;   // the swatch keeps the colour; the commit stores it
    switch (id) {
    case IDOK:
    case IDCANCEL:
        EndCitiesDialog(dialog, state, id);
        break;
    case ID_HELP:
        ShowProgramHelp("ViewOptions.htm");
        break;
    case ID_COUNTRY_FILTER:
        if (code == EN_CHANGE && !state->refreshing) {
            GetDlgItemTextA(dialog, id, sCountryFilter, sizeof sCountryFilter);
            RefreshLists(dialog, state, 1, 1);
        }
        break;
    case ID_CITY_FILTER:
        if (code == EN_CHANGE && !state->refreshing) {
            GetDlgItemTextA(dialog, id, gCityFilter, sizeof gCityFilter);
            RefreshLists(dialog, state, 0, 1);
        }
        break;
    case ID_COUNTRIES:
        if (code == LBN_SELCHANGE) {
            sCountryIndex = SelectedData(dialog, ID_COUNTRIES);
            RefreshLists(dialog, state, 0, 1);
            CommitLabel(dialog, state);
        }
        break;
    case ID_CITIES:
        if (code == LBN_SELCHANGE)
            OnCitySelected(dialog, state);
        else if (code == LBN_DBLCLK)
            AddSelectedCity(dialog, state);
        break;
    case ID_DISPLAYED:
        if (code == LBN_SELCHANGE)
            OnDisplayedSelected(dialog, state);
        break;
    case ID_ZONE:
        if (code == CBN_SELCHANGE)
            OnZoneChosen(dialog, state);
        break;
    case ID_ICAO:
        if (code == EN_CHANGE)
            OnIcaoChanged(dialog, state);
        break;
    case ID_FONT_SIZE:
    case ID_OPACITY:
    case ID_FRAME:
    case ID_ARROW:
        if (code == EN_KILLFOCUS)
            ShowClampedNumber(dialog, id);
        break;
    case CITIESDLG_ADD:
        AddSelectedCity(dialog, state);
        break;
    case CITIESDLG_REMOVE:
        RemoveSelectedCity(dialog, state);
        break;
    case CITIESDLG_DEFAULTS:
        TakeLabelDefaults(dialog, state);
        break;
    case CITIESDLG_APPLY_ALL:
        ApplyToAll(dialog, state);
        break;
    case CITIESDLG_METAR_PAGE:
        OpenMetarPage(dialog);
        break;
    case ID_FONT:
        ChooseLabelFont(dialog, state);
        break;
    }
}

INT_PTR CALLBACK CitiesDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        InitCitiesDialog(dialog, (CitiesDialog *)lParam);
        return TRUE;
    }
    CitiesDialog *state = DialogState(dialog);
    if (!state)
        return FALSE;
    switch (message) {
    case CITIESDLG_REFRESH:
        RefreshLists(dialog, state, wParam, lParam);
        return TRUE;
    case CITIESDLG_COMMIT:
        CommitLabel(dialog, state);
        return TRUE;
    case PLACE_BUTTONS:
        PlaceButtons(dialog, state);
        return TRUE;
    case WM_COMMAND:
        RunCitiesCommand(dialog, state, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_HELP:
        RunCitiesCommand(dialog, state, ID_HELP, 0);
        return TRUE;
    case WM_DPICHANGED:
        UpdateDialogFonts(dialog, HIWORD(wParam));
        PlaceButtons(dialog, state);
        return FALSE;
    case WM_DESTROY:
        // Closed some other way: nothing may leak.
        FreeDisplayed(dialog);
        DestroyIconButtons(state);
        return FALSE;
    }
    return FALSE;
}

}   // namespace

void DefaultCityLabel(CityEntry *city)
{
    CopyText(city->text, kDefaultLabelText, sizeof city->text);
    city->crtext[0] = city->crtext[1] = 0;
    city->crbackground[0] = RGB(200, 200, 168);
    city->crbackground[1] = RGB(255, 255, 225);
    city->crframe[0] = city->crframe[1] = 0;
    city->crarrow[0] = RGB(144, 0, 0);
    city->crarrow[1] = RGB(255, 0, 0);
    city->labelpos = 3;
    city->font[0] = 0;
    city->fontsize = 10;
    city->shadow = 0;
    city->opacity = 100;
    city->framesize = 1;
    city->arrowsize = 12;
}

int ShowCitiesDialog(HWND owner, ViewOptions *view)
{
    if (!view)
        return IDCANCEL;
    CitiesDialog state = {};
    state.view = view;
    state.kept = CopyOfView(view);
    if (!state.kept)
        return IDCANCEL;
    int result = DoModal(owner, CITIESDLG_TEMPLATE, CitiesDialogProc, (LPARAM)&state);
    if (result != IDOK) {
        memcpy(view, state.kept, sizeof *view);
        result = IDCANCEL;
    }
    free(state.kept);
    return result;
}
