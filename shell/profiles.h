// Profiles: named, complete sets of view settings, one folder each in the
// data folder ("Profile-<name>": the profile's "Settings", "Options0" and
// "Options1" stores, its last renders and previews). One profile is current
// (gPrefs.szCurProfile). This module starts the settings up, loads, saves
// and switches profiles, writes the built-in presets, picks the profile that
// belongs to a screen layout, and adds, renames and deletes profiles.
//
// A load tells the options dialog (when it is open), puts the wallpaper and
// the screen saver in place or gives the user's back, as the loaded first
// views say; a switch, rename or delete first cancels the running renders.
#pragma once

#include <stdint.h>

#include "earth/settings.h"

enum {
    PROFILE_LOAD = 0,
    PROFILE_SAVE = 1,
    PROFILE_NAME_SIZE = 260,
    PROFILE_COMMANDS = 16,            // profile commands in the tray menu
    PROFILE_COMMAND_FIRST = 1101,     // their language strings, variant 0
    PROFILE_LIST_MAX = 256,           // profile folders listed
    BUILTIN_PRESETS = 3,
    PRESET_MAP_VIEW = 0,
    PRESET_GLOBE_VIEW = 1,
    PRESET_MAP_ONLY = 2,
};

// Results of the profile operations.
enum {
    PROFILE_DONE = 0,
    PROFILE_NO_SETTINGS = 1,   // "Settings" not read or written: nothing else touched
    PROFILE_BAD_NAME = 2,      // see the NAME_ codes of CheckProfileName
    PROFILE_FOLDER_FAILED = 3, // the folder could not be created, moved or copied
    PROFILE_NOT_FOUND = 4,
    PROFILE_LAST_ONE = 5,      // the only profile is never deleted
    PROFILE_NOT_SAVED = 6,     // "Settings" written, a view list store not
};

// Results of CheckProfileName.
enum {
    NAME_OK = 0,
    NAME_EMPTY = 1,
    NAME_RESERVED_CHAR = 2,   // \ / : * ? " < > | or a control character
    NAME_DEVICE = 3,          // CON, PRN, AUX, NUL, COM1-9, LPT1-9
    NAME_TOO_LONG = 4,        // the folder's files would not fit 259 characters
    NAME_EXISTS = 5,          // another profile's folder has it (any case)
    NAME_TRAILING = 6,        // ends in a dot or a blank, which Windows drops
};

// The ProfileSettings record of the current profile.
extern ProfileSettings gCurProfileSettings;
// Names of the first PROFILE_COMMANDS profiles, sorted; the buffers behind
// language strings 1101..1116.
extern char gProfileCommandNames[PROFILE_COMMANDS][PROFILE_NAME_SIZE];

// Start-up of the settings: preferences, "-PROFILE", first-start migration
// into "Default", output screen, presets, camera paths, default view lists,
// and the current profile loaded. 0.
int ProfilesStartup();

// Loads (the profile then becomes current, named as its folder is spelled
// on disk) or saves one profile.
// PROFILE_DONE, PROFILE_NO_SETTINGS, PROFILE_BAD_NAME (empty name) or, on
// saving, PROFILE_NOT_SAVED; after a failed save GetLastError says why.
int ProfileIO(int mode, const char *name);
// Saves the current profile, then loads the named one. When the save fails
// the next one is still loaded; when the load fails the current one stays.
int SwitchProfile(const char *name);

// True with the first argument of "-PROFILE" (any case) in name, taken
// from the record "(QRF)Cmd" or from the given command line.
bool GetProfileSwitch(char *name);
bool FindProfileSwitch(const char *commandLine, char *name);

// The preset view records; MakeBuiltInPresets fills them (the first two
// fitted to the first monitor when there are several).
const ViewOptions *BuiltInPreset(int which);
void MakeBuiltInPresets();
// Writes "<data folder>\<preset>.vtp" for each; the number not written.
int WriteBuiltInPresets();
extern const char *const kBuiltInPresetNames[BUILTIN_PRESETS];

// gScreenX/Y/W/H from gPrefs.bMultiMon and the system metrics.
void MeasureOutputScreen();

// The profile folders' names, sorted without case; their number.
int ListProfiles(char (*names)[PROFILE_NAME_SIZE], int max);
// Refills the profile commands and makes name current when it is listed,
// else the first profile. The number of profiles.
int FillProfileList(const char *name);
// Only the profile commands, the current profile left alone; their number.
int RefillProfileCommands();

// The first profile other than the current one (compared with case) whose
// stored screen trigger is on and matches the layout, in the order the file
// system lists the folders; false when none.
bool FindScreenProfile(int x, int y, int width, int height, char *name);
// After a display change: saves the current profile and loads the one
// FindScreenProfile names. PROFILE_DONE when switched, PROFILE_NOT_FOUND when
// no other profile matches.
int SwitchProfileForScreen(int x, int y, int width, int height);
// The same for the virtual screen of gMonitors, as RefreshMonitors left it.
int SwitchProfileForMonitors();

// NAME_OK when name may become a profile; oldName (or null) is the profile
// being renamed, which does not count as a duplicate.
int CheckProfileName(const char *name, const char *oldName);
// Rename the current profile, add a copy of it as name (which becomes
// current), delete the current profile. On any failure the current profile
// and its name stay as they were.
int RenameProfile(const char *newName);
int AddProfile(const char *name);
int DeleteCurrentProfile();
