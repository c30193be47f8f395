// Resource ids shared by the resource scripts and the code that loads them.
// Plain #defines only: windres reads this file too.
#ifndef VT_RESOURCES_RESOURCE_H
#define VT_RESOURCES_RESOURCE_H

// Icons. 1 is the product icon (also the idle tray icon); the tray shows
// progress as 10 + twelfth of the way done.
#define IDI_PROGRAM          1
#define IDI_MESSAGE          2
#define IDI_PROGRESS_FIRST   10
#define IDI_PROGRESS_LAST    21
#define IDI_SETUP            101
#define IDI_UNINSTALL        102

// Framework command images, in the order of the standard commands.
#define IDI_FW_CAPTION       0xC350
#define IDI_FW_COLOR         0xC351
#define IDI_FW_FONT          0xC352
#define IDI_FW_LOCK          0xC353
#define IDI_FW_ONTOP         0xC354
#define IDI_FW_TASKBAR       0xC355
#define IDI_FW_TRANSPARENCY  0xC356
#define IDI_FW_RING_BOLD     0xC357   // drawn over value items when their flag is set
#define IDI_FW_RING_THIN     0xC358   // ... and when it is clear

#define IDC_FW_EYEDROPPER    0xC3B9

// Framework message box.
#define IDD_FW_MESSAGEBOX    0xC3B4
#define IDC_MSGBOX_LINE1     50108
#define IDC_MSGBOX_LINES     50109
#define IDC_MSGBOX_ICON      50110    // owner-drawn; the dialog paints the icon itself

// Update check dialog.
#define IDD_FW_UPDATECHECK   0xC3B5
#define IDC_UPD_OWN          50135
#define IDC_UPD_LABEL        50136
#define IDC_UPD_REPLY        50137
#define IDC_UPD_STATUS       50138
#define IDC_UPD_DAYS         50139
#define IDC_UPD_CHECKNOW     50141
#define IDC_UPD_ENABLED      50142
#define IDC_UPD_INTERVAL     50143
#define IDC_UPD_DOWNLOAD     50147

// Configuration archive dialog.
#define IDD_FW_ARCHIVE       0xC3B7
#define IDC_ARC_DAYS         50139
#define IDC_ARC_NOW          50141
#define IDC_ARC_ENABLED      50142
#define IDC_ARC_INTERVAL     50143
#define IDC_ARC_FOLDER       50144
#define IDC_ARC_BROWSE       50145
#define IDC_ARC_KEEP         50146
#define IDC_ARC_NAME         50147
#define IDC_ARC_DEFAULTS     50148
#define IDC_ARC_FOLDER_SHOWN 50149
#define IDC_ARC_NAME_SHOWN   50150

// Start-up progress dialog of the main program.
#define IDD_PROGRESS         107
#define IDC_PROGRESS_BAR     1133
#define IDC_STATUS_TEXT      1232
#define IDC_PROGRESS_TEXT    1234
#define IDC_PROGRESS_ICON    1235

// Seasonal mix mask, a grey JPEG of the resource type "JPG".
#define IDR_SEASON_MASK      300

// Screen saver: the description the system lists, the configure notice and
// the configuration dialog the platform library opens.
#define IDS_SAVER_DESCRIPTION 1
#define IDS_SAVER_CONFIGURE   2
#define IDD_SAVER_CONFIGURE   2003

// Setup wizard: the frame, its pages and their items.
#define IDD_WIZ_WELCOME       104
#define IDD_WIZ_AGREEMENT     105
#define IDD_WIZ_FRAME         108
#define IDD_WIZ_FOLDERS       109
#define IDD_WIZ_PROGRESS      110
#define IDD_WIZ_FINISH        111
#define IDD_WIZ_UNWELCOME     114
#define IDD_WIZ_UNPROGRESS    115
#define IDD_WIZ_UNFINISH      117
#define IDR_WIZ_AGREEMENT     120
#define IDC_WIZ_TITLE         1002
#define IDC_WIZ_SUBTITLE      1004
#define IDC_WIZ_WEBLINK       1031
#define IDC_WIZ_FOLDERLINK    1036
#define IDC_WIZ_BAND          1049
#define IDC_WIZ_ICON          1055
#define IDC_WIZ_BACK          1100
#define IDC_WIZ_NEXT          1101
#define IDC_WIZ_HEADING       1102
#define IDC_WIZ_TEXT          1103
#define IDC_WIZ_DESCRIPTION   1104
#define IDC_WIZ_KEEPCFG       1105
#define IDC_WIZ_CONFIGFOLDER  1106
#define IDC_WIZ_AGREEMENTTEXT 1107
#define IDC_WIZ_INSTALLPATH   1108
#define IDC_WIZ_BROWSEINSTALL 1109
#define IDC_WIZ_CUSTOMPATH    1110
#define IDC_WIZ_BROWSECUSTOM  1111
#define IDC_WIZ_ALLUSERS      1112
#define IDC_WIZ_ONLYME        1113
#define IDC_WIZ_STDDATA       1114
#define IDC_WIZ_CUSTOMDATA    1115
#define IDC_WIZ_PERUSER       1116
#define IDC_WIZ_SHARED        1117
#define IDC_WIZ_PROGRESSBAR   1118
#define IDC_WIZ_STATUS1       1119
#define IDC_WIZ_STATUS2       1120
#define IDC_WIZ_EXECUTE       1121
#define IDC_WIZ_README        1122
#define IDC_WIZ_DESKTOP       1123
#define IDC_WIZ_STARTMENU     1124
#define IDC_WIZ_REMAINING     1125

#endif
