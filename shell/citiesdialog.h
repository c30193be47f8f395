// The "Cities" dialog (template 103): picks the cities whose labels a view
// draws, from the city database by country, and sets each city's label:
// text template, time zone, METAR station and look.
#pragma once

#include <windows.h>

#include "earth/settings.h"

enum {
    CITIESDLG_TEMPLATE = 103,
    CITIESDLG_REFRESH = 0x8001,      // wParam: refill countries, lParam: cities; 2 restores filters
    CITIESDLG_COMMIT = 0x8002,
    CITIESDLG_ADD = 1008,
    CITIESDLG_REMOVE = 1009,
    CITIESDLG_APPLY_ALL = 1010,
    CITIESDLG_DEFAULTS = 1017,
    CITIESDLG_METAR_PAGE = 1031,
    CITIESDLG_APPLY_QUESTION = 30,   // language string
    CITIESDLG_FONT_SIZE_MAX = 127,   // the record keeps the size in a signed byte
};

// The look of a new label; leaves the city's identity alone.
void DefaultCityLabel(CityEntry *city);

// Edits view->City / iCityNumber. IDOK with the cities written back and
// resolved, IDCANCEL with the view exactly as it was.
int ShowCitiesDialog(HWND owner, ViewOptions *view);

// The remembered "Display Cities" entry (kept across openings).
extern int gCitiesDialogSelection;
