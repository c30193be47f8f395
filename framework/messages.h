// The framework's private window messages and the notification codes that
// ride in QRFM_COMMAND. They share one number range (0x83E9 up), so every
// number is listed here, even the codes, to keep them from being reused.
#pragma once

enum {
    QRFM_SIZED = 0x83E9,                // frame laid out its bays after a size change
    QRFM_CONTEXTMENU = 0x83EA,          // a frame window asks for its context menu (0xF105)
    QRFM_SAVENOW = 0x83EC,              // main frame: write the settings now (before an export)
    QRFM_COMMAND = 0x83ED,              // wParam buttons << 16 | id, or id | QRF_ACCELERATOR_BIT
    QRFM_SETOPENMENU = 0x83EE,          // lParam = the popup menu now open under the window, 0 none
    QRFM_GETOPENMENU = 0x83EF,          // result = the popup menu open under the window, or 0
    QRFM_GETMENUCOMMANDS = 0x83F0,      // wParam id; result = 0xFFFF-ended id list of its popup
    QRFM_TRAY = 0x83F1,                 // notification-area icon callback
    QRFM_BARSHOWN = 0x83F7,             // a bar was shown or hidden
    QRFM_SHOWNORMAL = 0x83F8,           // restore and show a frame window
    QRFM_HELP = 0x83FA,                 // open help; wParam = topic text or null
    QRFM_FOCUSLIST = 0x83FB,            // lParam = focusable children, before the focus moves
    QRFM_PAINTITEMBACKGROUND = 0x83FC,  // wParam HDC, lParam x | y << 16 of the item in its parent
    QRFM_DRAWCOLORICON = 0x83FE,        // measure or paint a command's colour swatch
    QRFM_SHOW = 0x83FF,                 // show every frame window (also between instances)
    QRFM_STYLECHANGED = 0x8400,         // wParam style, lParam extended style of a frame window
    QRFM_TASKBARCREATED = 0x8401,       // the taskbar came back: add tray icons again
    QRFM_MENUCLOSED = 0x8402,           // keyboard navigation of the framework menus starts
    QRFM_MODAL = 0x8403,                // wParam = the new modal counter
    QRFM_ITEMDBLCLK = 0x8404,           // wParam buttons << 16 | id of a double-clicked item
    QRFM_QUIT = 0x8405,                 // quit (also between instances)
    QRFM_RESTART = 0x8406,              // restart (also between instances)
    QRFM_GETITEMTEXT = 0x8407,          // wParam id, lParam sub-index; result = text pointer
    QRFM_MENUCLICK = 0x8408,            // wParam id, lParam buttons; result 1 = owner took it
    QRFM_DRAGOUT = 0x840A,              // wParam id of an item dragged out of its window
    QRFM_DISPLAYCHANGE = 0x840C,        // wParam = WM_DISPLAYCHANGE's lParam, or 0
    QRFM_DPICHANGE = 0x840D,            // wParam = the new DPI
};

// Codes a list item puts in the high word of QRFM_COMMAND's wParam.
enum {
    QRFN_LIST_SORTED = 0x83F2,          // lParam column
    QRFN_LIST_COLUMNSIZED = 0x83F3,     // lParam column
    QRFN_LIST_SELCHANGE = 0x83F4,       // lParam 0
    QRFN_LIST_DBLCLK = 0x83F5,          // lParam mouse position
    QRFN_LIST_EDIT = 0x83F6,            // selected row clicked again; lParam mouse position
    QRFN_LIST_RBUTTONUP = 0x83FD,       // lParam mouse position
    QRFN_LIST_LBUTTONDOWN = 0x8409,     // lParam mouse position
    QRFN_LIST_KEYDOWN = 0x840B,         // lParam virtual key; result 1 consumes it
};

// QRFM_COMMAND's wParam carries this bit when an accelerator sent it.
enum { QRF_ACCELERATOR_BIT = 0x100000 };

// Registered message of the inter-instance protocol: wParam a QRFM_ value,
// lParam the sender's token.
#define QRF_CONTROL_MESSAGE_NAME "QRFMSG_QRFCONTROL"
