// The main program's language-0 texts (ids below 0xF000). Variants: 0 menu
// text, 2 status text, 3 tooltip or caption.
#include "shell/entry.h"

#define PROFILE_SLOT(id) {id, {"", 0, "", "Profile selection"}}

StringTableRecord gProgramStrings[] = {
    {0, {"Veltaspar"}},
    {102, {"Could not open the map file!\nError code: %d\nPlease reinstall the program or the "
           "map file!"}},
    {103, {"The wallpaper image could not be updated!\nError code: %d.",
           "The screen saver image could not be updated!\nError code: %d.",
           "The screen preview could not be updated!\nError code: %d.",
           "The map preview could not be updated!\nError code: %d."}},
    {106, {"Could not create the cloud files!\nError code: %d\nPlease reinstall the program!"}},
    {107, {0, 0,
           "The weather data come from OpenWeatherMap, which asks every user for a personal "
           "API key.\nPlease get your free key at openweathermap.org and enter it on the "
           "Weather page.\nDo you want to read more about it now?",
           "n/a"}},
    {1000, {"Tray", 0, "Tray menu"}},
    {1100, {"Profile", 0, "", "Profile selection"}},
    // The profile commands' texts point at the profile list's name buffers.
    PROFILE_SLOT(1101), PROFILE_SLOT(1102), PROFILE_SLOT(1103), PROFILE_SLOT(1104),
    PROFILE_SLOT(1105), PROFILE_SLOT(1106), PROFILE_SLOT(1107), PROFILE_SLOT(1108),
    PROFILE_SLOT(1109), PROFILE_SLOT(1110), PROFILE_SLOT(1111), PROFILE_SLOT(1112),
    PROFILE_SLOT(1113), PROFILE_SLOT(1114), PROFILE_SLOT(1115), PROFILE_SLOT(1116),
    {4000, {"Options...", 0, "Opens the options dialog", "Options"}},
    {4001, {"Screen Saver", 0, "", "Screen Saver"}},
    {4002, {"Download Clouds", 0, "", "Download Clouds"}},
    {4004, {"Cancel Updates", 0, "", "Cancel Updates"}},
    {4005, {"Quit Veltaspar", 0, "", "Quit Veltaspar"}},
    {4006, {"Update Wallpaper", 0, "", "Update Wallpaper"}},
    {10, {"The selected file will be deleted!\nDo you want to continue?",
          "Veltaspar has to be restarted!\nDo you want to restart now?",
          "The selected profile will be deleted permanently!\nDo you want to continue?"}},
    {104, {"The preset could not be saved!"}},
    {105, {"The camera path could not be saved!"}},
    {108, {"The settings could not be saved!\nNot saved: %s.\n%s\nThey stay in effect and are "
           "saved again with the next change or when the program quits."}},
    {20, {"Fill", "Fit", "Stretch", "Tile", "Center"}},
    {30, {"Apply current display settings to all cities?"}},
    {STRING_TABLE_END, {0}},
};
