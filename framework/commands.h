// The command table: one CommandEntry per command id, shared by every UI
// item that shows the command. Items keep only the id; their text, image
// and state come from the entry.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "framework/errors.h"

class CUIItem;   // the UI item family; items are opaque to the command table


enum CommandType {
    CMD_BUTTON = 1,
    CMD_STATIC = 2,
    CMD_MENU = 3,
    CMD_SEPARATOR = 4,
    CMD_TREE = 5,
    CMD_LIST = 6,
    CMD_SLIDER = 9,
    CMD_BRUSHSIZE = 10,
    CMD_COLOR = 11,
    CMD_PALETTE = 12,
    CMD_CUSTOMITEM = 99,
};

enum CommandFlag {
    CMDF_ENABLED = 0x1,
    CMDF_HOT = 0x200,
    CMDF_PRESSED = 0x400,
    CMDF_CHECKED = 0x800,
    CMDF_INSERTED = 0x1000,
    CMDF_NOPRESSEDLOOK = 0x8000,
    CMDF_SPLITMENU = 0x1000000,
    CMDF_MENUOPEN = 0x2000000,
    CMDF_ACCELWHENDISABLED = 0x8000000,
};

enum {
    CMD_STRING_ASKOWNER = -2,        // string id: the item asks its owner for its text
    CMD_ID_LIST_END = 0xFFFF,        // ends a menu's sub-command list
    CMD_DATA_OWNERLIST = 0xFFFFFFFF, // menu data: the owner supplies the sub-commands
};

// Standard command ids that other code refers to.
enum {
    CMD_ID_SEPARATOR = 0xF000,
    CMD_ID_SPLITSEPARATOR = 0xF001,
    CMD_ID_ADDITIONAL = 0xF100,
    CMD_ID_CONTEXTMENU = 0xF105,
};

struct CommandEntry {
    uint16_t id;
    uint16_t type;
    uint32_t valueA;
    uint32_t valueB;
    uint32_t flags;
    int16_t imageId;
    int16_t stringId;
    uint32_t data;       // menus: address of a 0xFFFF-ended id list, or CMD_DATA_OWNERLIST
    char text[260];      // used when the string table has no text
};

// What the command code needs to know of an item.
struct ItemFacts {
    HWND window;
    HWND owner;
    uint16_t commandId;
    uint8_t insideMenu;  // the item sits in a popup menu
    void *bar;           // the bar holding the item, or null
    uint8_t ownNotices;  // the item tells its owner itself: a click sends nothing
};

// Work that only the items, menus, bars and the graphics object can do: the
// command table and the message loop sit below them, so they reach them
// through this table, which they fill when the framework starts (the window
// steps of start-up, ui/windowstart.cpp). A null hook does nothing (and
// answers false, 0 or null).
struct WindowHooks {
    bool (*describeItem)(CUIItem *item, ItemFacts *out);
    bool (*onArrowStrip)(CUIItem *item);      // cursor on the split button's arrow
    void (*openItemPopup)(CUIItem *item);     // at the item's window rectangle
    void (*closeMenu)(CUIItem *menu);         // the menu's Close
    bool (*refreshItem)(CUIItem *item, int hint);
    void (*layoutBar)(void *bar);
    bool (*preTranslateFrames)(MSG *msg);     // menu keys, edge sizing, Tab focus
    int (*menuKeyboardMode)(int type);        // with an active frame window
    int (*addCommandImage)(uint16_t id, int resource);  // resource 0: the colour swatch
};
extern WindowHooks gWindowHooks;

typedef bool (*PreTranslateHook)(MSG *msg);
// Puts hook at the head of the pre-translation chain; *earlier receives what
// ran before it, which the hook calls on. A hook already in the chain stays
// where it is, so that installing twice never makes the chain a loop.
void ChainPreTranslate(PreTranslateHook hook, PreTranslateHook *earlier);

// One accelerator: the key with the modifiers it requires.
struct AcceleratorEntry {
    uint16_t key;
    uint8_t shift, ctrl, alt;
    uint16_t commandId;
    uint16_t frameIndex;     // ACCEL_ANY_WINDOW = whichever own window is in front
};
enum { ACCEL_ANY_WINDOW = 0xFFFF };
