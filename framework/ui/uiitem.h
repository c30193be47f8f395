// UI items: one child window per command-table entry. The item keeps only
// the command id and reads text, icon and state from the entry each time it
// measures or paints; its mouse events go to the application's item-event
// handlers, which turn them into state, popups and QRFM_COMMAND.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/commands.h"
#include "framework/errors.h"
#include "framework/ui/graphics.h"

class CMenu;

#define UI_ITEM_CLASS "QRFAppUIItem"

// Item kinds as written by the subclass constructors; only the menu's is
// tested by other code.
enum { ITEM_TYPE_MENU = 3, ITEM_TYPE_CALLERS = 99 };

enum ItemOrientation { ORIENT_HORIZONTAL, ORIENT_VERTICAL, ORIENT_FLOATING };

// Command-entry flag bits read by the items.
enum ItemFlag {
    ITEMF_STRETCH = 0x2,
    ITEMF_CENTRE = 0x10,
    ITEMF_BOLD = 0x40,
    ITEMF_MEASURETEXT = 0x80,
    ITEMF_ICON = 0x100,
    ITEMF_SHORTNAME = 0x10000,
    ITEMF_DRAGOUT = 0x20000,
    ITEMF_MENUTOOLTIP = 0x40000,
    ITEMF_ARROWZONE = 0x1000000,   // menus: split opener; labels: framed; separators: thin
    ITEMF_SUNKEN = 0x2000000,      // labels
};

// Text variants of a command.
enum ItemText { TEXT_NAME, TEXT_SHORTCUT, TEXT_STATUS, TEXT_TOOLTIP, TEXT_SHORTNAME };

class CUIItem;
// Sees every message of the item window first; true consumes it.
typedef bool (*ItemMouseCallback)(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                  CUIItem *item);

class CUIItem {
public:
    HWND window;
    HWND owner;
    uint16_t commandId;
    uint32_t flags;
    int typeCode;
    int width, height;
    int iconWidth, iconHeight;
    int contentWidth, contentHeight;
    int textWidth, textHeight;
    int shortcutWidth, shortcutHeight;
    int extraWidth, extraHeight;
    CMenu *parentItem;
    int iconColumn;
    LPARAM lastMousePosition;
    uint8_t dragging;
    RECT iconRect, textRect, contentRect, shortcutRect;
    ItemMouseCallback mouseCallback;
    uint8_t ownNotices;   // sends its own QRFM_COMMAND; the generic click sends none

    CUIItem();
    virtual ~CUIItem();

    virtual int Create(uint16_t id, HWND parent, HWND ownerWindow, CMenu *parentMenu);
    virtual int OnCreate(const CommandEntry &entry, HWND parent, HWND ownerWindow,
                         CMenu *parentMenu);
    virtual void Measure(const CommandEntry &entry, int orientation);
    virtual void MeasureContent(const CommandEntry &entry, int orientation);
    virtual void Destroy();
    virtual void OnDestroy();
    virtual void Paint(HDC dc, const RECT &client);
    virtual void OnSize();
    virtual void Reserved();
    virtual bool Refresh(int hint);
    virtual bool OnRefresh(int hint);

    const char *GetText(int subIndex) const;
    void SetMouseCallback(ItemMouseCallback callback) { mouseCallback = callback; }
    int GetDrawState(uint32_t itemFlags, int *background, uint32_t *textColour, bool *centre,
                     bool *bold) const;
    void LayoutParts(const RECT &client, int offset, bool centre, bool inMenu);

    int Dpi() const;
    int SpaceWidth() const;
    bool InMenu() const { return parentItem != 0; }
    // The command entry, or a disabled blank one when the id is gone.
    bool ReadEntry(CommandEntry *entry) const;
    // The start every painter shares: a memory DC over the client area, the
    // command's entry and its draw state. False when there is nothing to
    // paint with yet.
    struct PaintState {
        CMemoryDC memory;
        HDC dc;
        CommandEntry entry;
        int background;
        uint32_t colour;
        bool centre, bold;
        int inset;   // the draw state's result
    };
    bool BeginItemPaint(HDC target, const RECT &client, PaintState *p);

protected:
    void PaintButtonLike(HDC dc, const RECT &client);
    // Icon, text, shortcut and a menu's check mark over a painted background.
    void PaintParts(HDC dc, const RECT &client, const CommandEntry &entry, int offset,
                    uint32_t colour, bool centre, bool bold);
    void AddTooltip(const CommandEntry &entry);
    void RemoveTooltip();
    uint8_t hasTooltip;
};

class CButton : public CUIItem {
public:
    CButton() { typeCode = CMD_BUTTON; }
    void Paint(HDC dc, const RECT &client) override;
};

class CStatic : public CUIItem {
public:
    CStatic() { typeCode = CMD_STATIC; }
    void Paint(HDC dc, const RECT &client) override;
    void OnSize() override;
};

class CSeparator : public CUIItem {
public:
    CSeparator() { typeCode = CMD_SEPARATOR; }
    void Measure(const CommandEntry &entry, int orientation) override;
    void Paint(HDC dc, const RECT &client) override;
};

// The item object bound to a window of the item class, or null.
CUIItem *ItemFromWindow(HWND window);

// An item of the class that shows commands of this type, or null when the
// type has no class here. For ITEM_TYPE_CALLERS it is the caller's own
// object (a class of the program's), which the caller made.
CUIItem *NewItemForType(int type, CUIItem *callersObject = 0);

// Deletes an item, or, while any item window procedure is running, hides it
// and deletes it when the outermost one returns: an item must not vanish
// under its own procedure.
void DeleteItemSafely(CUIItem *item);

// The command the item shows is in the table and enabled (flag 0x1).
bool ItemEnabled(const CUIItem *item);

// Sends the command clicked inside a menu to its owner once the menu is
// closed (the application keeps it as pending until then).
void DeliverPendingCommand();

// Label text prefixes: "#<command id>" draws that command's icon first,
// "@<percent>" adds a bar. Gives the rest of the text.
const char *ParseLabelPrefixes(const char *text, int *iconCommand, int *percent);

bool RegisterUIItemClass();
LRESULT CALLBACK UIItemWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int GetMouseButtons(UINT message);
