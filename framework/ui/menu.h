// The framework's own popup menus: a CMenu is the item that opens a popup
// window holding one UI item per command of its list; an item of the popup
// can itself be a CMenu, which gives sub-menus.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/growarray.h"
#include "framework/ui/uiitem.h"

#define MENU_POPUP_CLASS "QRFAppMenuPopup"

class CMenu : public CUIItem {
public:
    CMenu *openSubMenu;
    uint8_t open;
    uint8_t arrowHot;
    const uint16_t *commandList;
    HWND popup;
    CGrowArray<CUIItem *> items;

    CMenu();
    ~CMenu() override;

    int OnCreate(const CommandEntry &entry, HWND parent, HWND ownerWindow,
                 CMenu *parentMenu) override;
    void MeasureContent(const CommandEntry &entry, int orientation) override;
    void OnDestroy() override;
    void Paint(HDC dc, const RECT &client) override;

    int Open(const RECT &opener);
    int Close();
    bool IsOverArrow() const;
    void PaintPopupBackground(HDC dc, int x, int y);

private:
    int BuildItems();
    void LayOutItems(int *popupWidth, int *popupHeight);
    bool OpensToTheSide(const RECT &opener) const;
    void PaintArrowZone(HDC dc, const RECT &zone, uint32_t colour, int direction);
};

LRESULT CALLBACK MenuPopupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Where a popup of this size goes for its opener rectangle: beside it
// (sub-menus) or below it, flipped where it would pass the monitor's right
// or bottom edge and kept on the monitor.
POINT PlacePopup(const RECT &opener, int width, int height, bool toTheSide);

// Keyboard navigation inside the menus; index of the first hot item, or -1.
int FindHotMenuItem(const CMenu *menu);
// Steps from index by direction, wrapping, over separators, to an enabled item.
int NextMenuItem(const CMenu *menu, int index, int direction);

// Clicks and keys while a menu is open; true when the message is consumed.
bool MenuPreTranslate(MSG *msg);

// The application's one popup-menu object, opened for a command at a point
// of the screen (the cursor when point is null) under a frame window. It
// answers that menu, or null with the reason in gFrameworkLastError.
extern CMenu *gPopupMenu;
CMenu *PopupMenu(uint16_t id, const POINT *point, HWND owner);

// Connects the items and menus to the command table's hooks; the message
// pre-translation of menu keys runs before whatever was installed there.
void InstallMenuHooks();
