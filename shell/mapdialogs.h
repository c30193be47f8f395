// The two map choice dialogs of the options dialog's map row: "Seasonal
// Maps" (the month drawn from a seasonal map file and the blend with the
// next month) and "Additional Maps" (where to get more maps).
#pragma once

#include <windows.h>

#include "earth/settings.h"

enum {
    IDD_SEASONAL_MAPS = 117,
    IDD_ADDITIONAL_MAPS = 109,
    IDC_SEASON_MONTH = 1078,
    IDC_SEASON_BLEND = 1047,
    IDC_SEASON_DAY_LABEL = 1225,
    IDC_SEASON_DAY = 1075,
    IDC_SEASON_MODE_LABEL = 1226,
    IDC_SEASON_SIMPLE = 1147,
    IDC_SEASON_ADVANCED = 1143,
    IDC_SEASON_SELECTIVE = 1146,
    IDC_MAPS_HEADING = 1240,
    IDC_MAPS_LINK = 1242,
    IDC_MAPS_DONT_SHOW = 1051,
    SEASON_REFRESH_MESSAGE = 0x8001,
    SEASON_COMMIT_MESSAGE = 0x8002,
};

#define ADDITIONAL_MAPS_ADDRESS "https://www.veltaspar.net/maps/"

extern const char kMonthNames[12][12];

INT_PTR CALLBACK SeasonalMapsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AdditionalMapsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// IDOK after writing the view, IDCANCEL with the view as it was.
int ShowSeasonalMapsDialog(HWND owner, ViewOptions *view);
// Stores gPrefs.bShowMapDLInfo either way; IDOK or IDCANCEL.
int ShowAdditionalMapsDialog(HWND owner);
