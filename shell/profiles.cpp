// Profiles: folders, start-up, load, save, switching, presets, screen
// triggers and the add, rename and delete of profiles.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "earth/compositor.h"
#include "earth/mapfile.h"
#include "earth/renderjobs.h"
#include "framework/application.h"
#include "framework/filefind.h"
#include "framework/framelist.h"
#include "framework/recordfile.h"
#include "framework/utilities.h"
#include "shell/desktop.h"
#include "shell/mainwindow.h"
#include "shell/optionsdialog.h"
#include "shell/profiles.h"

ProfileSettings gCurProfileSettings;
char gProfileCommandNames[PROFILE_COMMANDS][PROFILE_NAME_SIZE];

const char *const kBuiltInPresetNames[BUILTIN_PRESETS] = {
    "Default Map View", "Default Globe View", "Map Only",
};

static const char kFolderPrefix[] = "Profile-";
static const char *const kMovedRecords[] = {"Options0", "Options1"};
static const char *const kMovedImages[] = {
    "Veltaspar.bmp", "VTScrsvr.bmp", "VTMapPrv.bmp", "VTScrPrv.bmp",
};
// The longest file a profile folder holds while it is written: the
// compositor's temporary "Veltaspar.bmp<8 hex digits>.tmp".
enum { LONGEST_PROFILE_FILE = 25, SHELL_PATH_MAX = 258 };

// ---------------------------------------------------------------- paths

// "<data folder>\Profile-<name>[\<file>]"; false when it would not fit.
static bool ProfilePath(char *out, const char *name, const char *file)
{
    int n;
    if (file)
        n = _snprintf(out, MAX_TEXT, "%s\\%s%s\\%s", gApp.dataFolder, kFolderPrefix, name, file);
    else
        n = _snprintf(out, MAX_TEXT, "%s\\%s%s", gApp.dataFolder, kFolderPrefix, name);
    out[MAX_TEXT - 1] = 0;
    return n >= 0 && n <= SHELL_PATH_MAX;
}

static void SpellAsFolder(char *name);

static bool ProfileExists(const char *name)
{
    char folder[MAX_TEXT];
    return ProfilePath(folder, name, 0) && FolderExists(folder);
}

static bool CreateProfileFolder(const char *name)
{
    char folder[MAX_TEXT];
    if (!ProfilePath(folder, name, 0))
        return false;
    return CreateDirectoryA(folder, 0) || FolderExists(folder);
}

// Deletes the files of folder matching mask; the number that stayed.
static int DeleteFiles(const char *folder, const char *mask)
{
    int failed = 0;
    CFileFind find("%s\\%s", folder, mask);
    while (find.FindNext()) {
        if (find.IsFolder())
            continue;
        SetFileAttributesA(find.GetFilePath(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(find.GetFilePath()))
            failed++;
    }
    return failed;
}

static bool DeleteFolder(const char *folder)
{
    DeleteFiles(folder, "*");
    return RemoveDirectoryA(folder) != 0;
}

// Profile folders hold files only; false when any could not be copied.
static bool CopyFolderFiles(const char *from, const char *to)
{
    bool copied = true;
    CFileFind find("%s\\*", from);
    while (find.FindNext()) {
        if (find.IsFolder())
            continue;
        char target[MAX_TEXT];
        int n = _snprintf(target, MAX_TEXT, "%s\\%s", to, find.GetFileName());
        target[MAX_TEXT - 1] = 0;
        if (n < 0 || n > SHELL_PATH_MAX || !CopyFileA(find.GetFilePath(), target, TRUE))
            copied = false;
    }
    return copied;
}

// ---------------------------------------------------------------- load and save

static int SettingsIO(int mode, ProfileSettings *settings, const char *name)
{
    return ProfileSettingsIO(mode, settings, "%s\\%s%s\\%s.rgc", gApp.dataFolder, kFolderPrefix,
                             name, "Settings");
}

// True when both lists were moved; the second is tried after a failed first.
static bool ViewListsIO(int mode, const char *name)
{
    int first = ViewOptionsIO(mode, &gViewLists[0], "%s\\%s%s\\%s.rgc", gApp.dataFolder,
                              kFolderPrefix, name, "Options0");
    DWORD error = GetLastError();
    int second = ViewOptionsIO(mode, &gViewLists[1], "%s\\%s%s\\%s.rgc", gApp.dataFolder,
                               kFolderPrefix, name, "Options1");
    if (first && !second)
        SetLastError(error);   // why the first one failed
    return !first && !second;
}

// The profile's last renders over the desktop's and the screen saver's copies.
static void ShowProfileRenders(const char *name)
{
    static const char *const renders[RENDER_OUTPUTS] = {"Veltaspar.bmp", "VTScrsvr.bmp"};
    for (int job = 0; job < RENDER_OUTPUTS; job++) {
        char source[MAX_TEXT], target[MAX_TEXT];
        if (!ProfilePath(source, name, renders[job]))
            continue;
        RenderCopyPath(target, MAX_TEXT, job);
        CopyFileReplacing(source, target);
    }
}


// The options dialog, the desktop and the screen saver follow the loaded
// views: an inactive first view gives the user's own back.
static void AnnounceLoad(const char *name)
{
    OptionsProfileLoaded(name);
    InstallWallpaper(FirstViewActive(VIEW_LIST_WALLPAPER) ? DESKTOP_INSTALL : DESKTOP_RESTORE);
    StartScreenSaverThread(FirstViewActive(VIEW_LIST_SCREENSAVER) ? DESKTOP_INSTALL
                                                                   : DESKTOP_RESTORE);
}

static int LoadProfile(char *name)
{
    // Read into a fresh record: keys missing from this profile's store must
    // not inherit the previous profile's trigger.
    ProfileSettings settings;
    memset(&settings, 0, sizeof settings);
    if (SettingsIO(PROFILE_LOAD, &settings, name) != 0)
        return PROFILE_NO_SETTINGS;
    SpellAsFolder(name);
    ViewListsIO(PROFILE_LOAD, name);
    CopyText(gPrefs.szCurProfile, name, PROFILE_NAME_SIZE);
    gCurProfileSettings = settings;
    CopyText(gCurProfileSettings.name, name, PROFILE_NAME_SIZE);
    ShowProfileRenders(name);
    AnnounceLoad(name);
    char folder[MAX_TEXT];
    if (ProfilePath(folder, name, 0))
        DeleteFiles(folder, "*.tmp");
    return PROFILE_DONE;
}

static int SaveProfile(const char *name)
{
    CreateProfileFolder(name);
    if (SettingsIO(PROFILE_SAVE, &gCurProfileSettings, name) != 0)
        return PROFILE_NO_SETTINGS;
    return ViewListsIO(PROFILE_SAVE, name) ? PROFILE_DONE : PROFILE_NOT_SAVED;
}

int ProfileIO(int mode, const char *name)
{
    if (!name || !*name)
        return PROFILE_BAD_NAME;
    // The name may be gPrefs.szCurProfile itself, which a load rewrites.
    char own[PROFILE_NAME_SIZE];
    CopyText(own, name, PROFILE_NAME_SIZE);
    return mode == PROFILE_SAVE ? SaveProfile(own) : LoadProfile(own);
}

int SwitchProfile(const char *name)
{
    char next[PROFILE_NAME_SIZE];
    CopyText(next, name ? name : "", PROFILE_NAME_SIZE);
    CancelAllRenderJobs();
    if (gPrefs.szCurProfile[0])
        ReportProfileSaved(ProfileIO(PROFILE_SAVE, gPrefs.szCurProfile), gPrefs.szCurProfile);
    return ProfileIO(PROFILE_LOAD, next);
}

// ---------------------------------------------------------------- command line

// One token at p into out (cut at 259); a leading double quote runs to the
// next one, as the framework's command-line parser reads arguments.
static const char *ReadToken(const char *p, char *out)
{
    const char *start = p, *end;
    bool quoted = *p == '"';
    if (quoted) {
        start = p + 1;
        end = strchr(start, '"');
    } else {
        end = strchr(p, ' ');
    }
    if (!end)
        end = start + strlen(start);
    size_t n = (size_t)(end - start);
    if (n > PROFILE_NAME_SIZE - 1)
        n = PROFILE_NAME_SIZE - 1;
    memcpy(out, start, n);
    out[n] = 0;
    return quoted && *end ? end + 1 : end;
}

bool FindProfileSwitch(const char *commandLine, char *name)
{
    bool afterSwitch = false;
    const char *p = commandLine ? commandLine : "";
    char token[PROFILE_NAME_SIZE];
    for (;;) {
        while (*p == ' ')
            p++;
        if (!*p)
            return false;
        bool isSwitch = *p == '-';
        p = ReadToken(p, token);
        if (isSwitch) {
            afterSwitch = _stricmp(token, "-PROFILE") == 0;
        } else if (afterSwitch && token[0]) {
            CopyText(name, token, PROFILE_NAME_SIZE);
            return true;
        } else {
            afterSwitch = false;
        }
    }
}

bool GetProfileSwitch(char *name)
{
    char commandLine[MAX_LONG_TEXT + 1];
    int n = ReadRecordFile("(QRF)Cmd", -1, commandLine, MAX_LONG_TEXT, 0);
    if (n < 0)
        n = 0;
    commandLine[n] = 0;
    return FindProfileSwitch(commandLine, name);
}

// ---------------------------------------------------------------- presets

static ViewOptions sPresets[BUILTIN_PRESETS];   // about a megabyte each

const ViewOptions *BuiltInPreset(int which)
{
    if (which < 0 || which >= BUILTIN_PRESETS)
        which = 0;
    return &sPresets[which];
}

// The map view with nothing laid over the day map.
static void MakeMapOnly(ViewOptions *view)
{
    SetDefaultView(view, 0);
    view->bNight = 0;
    view->bHalo = 0;
    view->bClouds = 0;
    view->bCities = 0;
    view->bStars = 0;
    view->bBackground = 0;
}

// The first monitor as fractions of the output screen.
static void FitToFirstMonitor(ViewOptions *view)
{
    const RECT &monitor = gMonitors.rect[0];
    FractionRect *selection = &view->sSelScr;
    selection->p[0] = (double)(monitor.left - gScreenX) / gScreenW;
    selection->p[1] = (double)(monitor.top - gScreenY) / gScreenH;
    selection->p[2] = (double)(monitor.right - gScreenX) / gScreenW;
    selection->p[3] = (double)(monitor.bottom - gScreenY) / gScreenH;
}

void MakeBuiltInPresets()
{
    SetDefaultView(&sPresets[PRESET_MAP_VIEW], 0);
    SetDefaultView(&sPresets[PRESET_GLOBE_VIEW], 1);
    MakeMapOnly(&sPresets[PRESET_MAP_ONLY]);
    if (gMonitors.count > 1 && gScreenW > 0 && gScreenH > 0) {
        FitToFirstMonitor(&sPresets[PRESET_MAP_VIEW]);
        FitToFirstMonitor(&sPresets[PRESET_GLOBE_VIEW]);
    }
}

// list = one copy of view; false without memory.
static bool SetSingleView(ViewList *list, const ViewOptions *view)
{
    if (!ResizeViewList(list, 1))
        return false;
    memcpy(&list->data[0], view, sizeof *view);
    return true;
}

int WriteBuiltInPresets()
{
    int failed = 0;
    for (int i = 0; i < BUILTIN_PRESETS; i++) {
        ViewList list;
        if (!SetSingleView(&list, &sPresets[i]) ||
            ViewOptionsIO(1, &list, "%s\\%s.%s", gApp.dataFolder, kBuiltInPresetNames[i], "vtp"))
            failed++;
        list.RemoveAll();
    }
    return failed;
}

void MeasureOutputScreen()
{
    int x = 0, y = 0, width = 0, height = 0;
    if (gPrefs.bMultiMon) {
        x = GetSystemMetrics(SM_XVIRTUALSCREEN);
        y = GetSystemMetrics(SM_YVIRTUALSCREEN);
        width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
        height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    }
    if (!gPrefs.bMultiMon || width == 0 || height == 0) {
        x = y = 0;
        width = GetSystemMetrics(SM_CXSCREEN);
        height = GetSystemMetrics(SM_CYSCREEN);
    }
    gScreenX = x;
    gScreenY = y;
    gScreenW = width;
    gScreenH = height;
}

// ---------------------------------------------------------------- start-up

// The settings of the time before profiles move into the profile "Default".
static void MigrateIntoDefault()
{
    CopyText(gPrefs.szCurProfile, "Default", PROFILE_NAME_SIZE);
    CreateProfileFolder(gPrefs.szCurProfile);
    char from[MAX_TEXT], to[MAX_TEXT];
    for (const char *record : kMovedRecords) {
        _snprintf(from, MAX_TEXT, "%s\\%s.rgc", gApp.dataFolder, record);
        _snprintf(to, MAX_TEXT, "%s\\%s%s\\%s.rgc", gApp.dataFolder, kFolderPrefix,
                  gPrefs.szCurProfile, record);
        from[MAX_TEXT - 1] = to[MAX_TEXT - 1] = 0;
        MoveFileA(from, to);
    }
    for (const char *image : kMovedImages) {
        _snprintf(from, MAX_TEXT, "%s\\%s", gApp.dataFolder, image);
        from[MAX_TEXT - 1] = 0;
        if (ProfilePath(to, gPrefs.szCurProfile, image))
            MoveFileA(from, to);
    }
    SettingsIO(PROFILE_SAVE, &gCurProfileSettings, gPrefs.szCurProfile);
}

static void ReadFirstMapTrailer(ViewList *list)
{
    if (list->count < 1)
        return;
    char path[MAX_TEXT];
    _snprintf(path, MAX_TEXT, "%s\\%s.%s", gApp.ownFolder, list->data[0].szMap, "map");
    path[MAX_TEXT - 1] = 0;
    ReadMapTrailer(path, &list->data[0], 0);
}

// A "-PROFILE" name that could never be a folder of ours is ignored.
static void ApplyProfileSwitch()
{
    char name[PROFILE_NAME_SIZE];
    if (GetProfileSwitch(name) && CheckProfileName(name, name) == NAME_OK)
        CopyText(gPrefs.szCurProfile, name, PROFILE_NAME_SIZE);
}

// The current profile could not be loaded: a "-PROFILE" name without a
// folder falls back to the stored profile; without that either, the
// current one gets its folder now. A current name without a folder would
// later be replaced in the list by another profile that the next save then
// overwrites with these settings.
static void LoadOrCreateCurrent(const char *stored)
{
    if (ProfileIO(PROFILE_LOAD, gPrefs.szCurProfile) == PROFILE_DONE)
        return;
    if (stored[0] && strcmp(stored, gPrefs.szCurProfile) != 0 &&
        ProfileIO(PROFILE_LOAD, stored) == PROFILE_DONE)
        return;
    // A folder whose "Settings" cannot be read is left alone.
    if (!ProfileExists(gPrefs.szCurProfile))
        ProfileIO(PROFILE_SAVE, gPrefs.szCurProfile);
}

int ProfilesStartup()
{
    PrefsIO(0);
    char stored[PROFILE_NAME_SIZE];
    CopyText(stored, gPrefs.szCurProfile, PROFILE_NAME_SIZE);
    ApplyProfileSwitch();
    SpellAsFolder(gPrefs.szCurProfile);
    if (!gPrefs.szCurProfile[0])
        MigrateIntoDefault();
    MeasureOutputScreen();
    MakeBuiltInPresets();
    WriteBuiltInPresets();
    SaveBuiltinCameraPaths();
    SetSingleView(&gViewLists[VIEW_LIST_WALLPAPER], &sPresets[PRESET_MAP_VIEW]);
    SetSingleView(&gViewLists[VIEW_LIST_SCREENSAVER], &sPresets[PRESET_GLOBE_VIEW]);
    ReadFirstMapTrailer(&gViewLists[VIEW_LIST_WALLPAPER]);
    ReadFirstMapTrailer(&gViewLists[VIEW_LIST_SCREENSAVER]);
    LoadOrCreateCurrent(stored);
    // The tray's profile menu is there before the options dialog ever was.
    RefillProfileCommands();
    SetAutostartShortcut(gPrefs.bAutoStart != 0, "", true, 0, 0);
    return 0;
}

// ---------------------------------------------------------------- the list

static int CompareNames(const void *a, const void *b)
{
    return _stricmp((const char *)a, (const char *)b);
}

// The profile name of what find stands on, or null when it is no profile
// folder.
static const char *FoundProfile(const CFileFind &find)
{
    const char *name = find.GetFileName() + sizeof kFolderPrefix - 1;
    return find.IsFolder() && !find.IsDots() && *name ? name : 0;
}

int ListProfiles(char (*names)[PROFILE_NAME_SIZE], int max)
{
    int count = 0;
    CFileFind find("%s\\%s*", gApp.dataFolder, kFolderPrefix);
    while (count < max && find.FindNext()) {
        const char *name = FoundProfile(find);
        if (name)
            CopyText(names[count++], name, PROFILE_NAME_SIZE);
    }
    qsort(names, (size_t)count, PROFILE_NAME_SIZE, CompareNames);
    return count;
}

static char sListed[PROFILE_LIST_MAX][PROFILE_NAME_SIZE];

static int FindListed(const char *name, int count)
{
    for (int i = 0; name && i < count; i++)
        if (!_stricmp(sListed[i], name))
            return i;
    return -1;
}

static int FillProfileCommands()
{
    int count = ListProfiles(sListed, PROFILE_LIST_MAX);
    for (int j = 0; j < PROFILE_COMMANDS; j++) {
        CopyText(gProfileCommandNames[j], j < count ? sListed[j] : "", PROFILE_NAME_SIZE);
        gApp.strings.SetText((uint16_t)(PROFILE_COMMAND_FIRST + j), 0, gProfileCommandNames[j]);
    }
    return count;
}

int RefillProfileCommands()
{
    return FillProfileCommands();
}

int FillProfileList(const char *name)
{
    int count = FillProfileCommands();
    int selected = FindListed(name, count);
    if (selected < 0 && count > 0)
        selected = 0;
    if (selected >= 0)
        CopyText(gPrefs.szCurProfile, sListed[selected], PROFILE_NAME_SIZE);
    return count;
}

// ---------------------------------------------------------------- screen triggers

static bool TriggerMatches(const ProfileSettings *settings, int x, int y, int width, int height)
{
    return settings->scrtrigger && settings->scrx == x && settings->scry == y &&
           settings->scrw == width && settings->scrh == height;
}

bool FindScreenProfile(int x, int y, int width, int height, char *name)
{
    // The folders in the order the file system returns them. The current
    // profile never answers, even when its own trigger matches: a display
    // change does not reload the profile in use.
    CFileFind find("%s\\%s*", gApp.dataFolder, kFolderPrefix);
    while (find.FindNext()) {
        const char *found = FoundProfile(find);
        if (!found || !strcmp(found, gPrefs.szCurProfile))
            continue;
        ProfileSettings settings;
        memset(&settings, 0, sizeof settings);
        if (SettingsIO(PROFILE_LOAD, &settings, found) == 0 &&
            TriggerMatches(&settings, x, y, width, height)) {
            CopyText(name, found, PROFILE_NAME_SIZE);
            return true;
        }
    }
    return false;
}

int SwitchProfileForScreen(int x, int y, int width, int height)
{
    char name[PROFILE_NAME_SIZE];
    if (!FindScreenProfile(x, y, width, height, name))
        return PROFILE_NOT_FOUND;
    return SwitchProfile(name);
}

int SwitchProfileForMonitors()
{
    return SwitchProfileForScreen(gMonitors.virtualX, gMonitors.virtualY, gMonitors.virtualWidth,
                                  gMonitors.virtualHeight);
}

// ---------------------------------------------------------------- names

static bool IsDeviceName(const char *name)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    // "CON.txt" and "CON " name the device as well.
    char base[PROFILE_NAME_SIZE];
    CopyText(base, name, PROFILE_NAME_SIZE);
    char *dot = strchr(base, '.');
    if (dot)
        *dot = 0;
    for (size_t n = strlen(base); n > 0 && base[n - 1] == ' '; n--)
        base[n - 1] = 0;
    for (const char *device : devices)
        if (!_stricmp(base, device))
            return true;
    return strlen(base) == 4 && (!_strnicmp(base, "COM", 3) || !_strnicmp(base, "LPT", 3)) &&
           base[3] >= '1' && base[3] <= '9';
}

static int CheckNameText(const char *name)
{
    if (!name || !*name)
        return NAME_EMPTY;
    for (const char *p = name; *p; p++)
        if ((unsigned char)*p < 32 || strchr("\\/:*?\"<>|", *p))
            return NAME_RESERVED_CHAR;
    char last = name[strlen(name) - 1];
    if (last == '.' || last == ' ')
        return NAME_TRAILING;
    if (IsDeviceName(name))
        return NAME_DEVICE;
    return NAME_OK;
}

// The name as its folder is spelled on disk: folder names ignore case, so
// "-PROFILE work" finds "Profile-Work", but the current profile is told
// from the others by exact comparison (a display change must not reload
// it, the tray checks it). A name without a folder stays as it is.
static void SpellAsFolder(char *name)
{
    char folder[MAX_TEXT];
    if (CheckNameText(name) != NAME_OK || !ProfilePath(folder, name, 0))
        return;
    // A search for the folder's own path answers with the name as stored.
    CFileFind find("%s", folder);
    const char *found = find.FindNext() ? FoundProfile(find) : 0;
    if (found && strlen(found) < PROFILE_NAME_SIZE)
        CopyText(name, found, PROFILE_NAME_SIZE);
}

int CheckProfileName(const char *name, const char *oldName)
{
    int text = CheckNameText(name);
    if (text != NAME_OK)
        return text;
    size_t length = strlen(gApp.dataFolder) + 1 + strlen(kFolderPrefix) + strlen(name) + 1 +
                    LONGEST_PROFILE_FILE;
    if (strlen(name) >= PROFILE_NAME_SIZE || length > SHELL_PATH_MAX)
        return NAME_TOO_LONG;
    // Folder names ignore case: "work" is the folder of "Work".
    bool itself = oldName && !_stricmp(name, oldName);
    if (!itself && ProfileExists(name))
        return NAME_EXISTS;
    return NAME_OK;
}

// ---------------------------------------------------------------- rename, add, delete

static void KeepName(const char *name)
{
    // A rename that only changes case may leave the folder as it was.
    CopyText(gPrefs.szCurProfile, name, PROFILE_NAME_SIZE);
    SpellAsFolder(gPrefs.szCurProfile);
    CopyText(gCurProfileSettings.name, gPrefs.szCurProfile, PROFILE_NAME_SIZE);
    gCurProfileSettings.nameChanged = 0;
}

// Moves the folder; a profile never saved has none, and takes the name at once.
static bool MoveProfileFolder(const char *oldName, const char *newName)
{
    char from[MAX_TEXT], to[MAX_TEXT];
    if (!ProfilePath(from, oldName, 0) || !ProfilePath(to, newName, 0))
        return false;
    if (!FolderExists(from))
        return true;
    return MoveFileA(from, to) != 0;
}

int RenameProfile(const char *proposed)
{
    // The proposal is often gCurProfileSettings.name, which KeepName rewrites.
    char newName[PROFILE_NAME_SIZE], oldName[PROFILE_NAME_SIZE];
    CopyText(newName, proposed ? proposed : "", PROFILE_NAME_SIZE);
    CopyText(oldName, gPrefs.szCurProfile, PROFILE_NAME_SIZE);
    if (!oldName[0])
        return PROFILE_NOT_FOUND;
    if (!proposed || strlen(proposed) >= PROFILE_NAME_SIZE ||
        CheckProfileName(newName, oldName) != NAME_OK) {
        KeepName(oldName);
        return PROFILE_BAD_NAME;
    }
    if (!strcmp(newName, oldName)) {
        KeepName(oldName);
        return PROFILE_DONE;
    }
    CancelAllRenderJobs();
    // Until the folder has really moved, saves must keep going to the old one.
    if (!MoveProfileFolder(oldName, newName)) {
        KeepName(oldName);
        return PROFILE_FOLDER_FAILED;
    }
    KeepName(newName);
    FillProfileList(newName);
    return PROFILE_DONE;
}

static void RemoveProfileFolder(const char *name)
{
    char folder[MAX_TEXT];
    if (ProfilePath(folder, name, 0))
        DeleteFolder(folder);
}

// A copy of the current profile's folder as name's folder.
static bool CopyProfileFolder(const char *name)
{
    char from[MAX_TEXT], to[MAX_TEXT];
    if (!ProfilePath(from, gPrefs.szCurProfile, 0) || !ProfilePath(to, name, 0))
        return false;
    if (!CreateDirectoryA(to, 0))
        return false;
    if (CopyFolderFiles(from, to))
        return true;
    DeleteFolder(to);
    return false;
}

int AddProfile(const char *name)
{
    if (CheckProfileName(name, 0) != NAME_OK)
        return PROFILE_BAD_NAME;
    char oldName[PROFILE_NAME_SIZE];
    CopyText(oldName, gPrefs.szCurProfile, PROFILE_NAME_SIZE);
    if (oldName[0])
        ReportProfileSaved(ProfileIO(PROFILE_SAVE, oldName), oldName);
    if (!CopyProfileFolder(name))
        return PROFILE_FOLDER_FAILED;
    FillProfileList(name);
    int loaded = ProfileIO(PROFILE_LOAD, name);
    if (loaded != PROFILE_DONE) {
        RemoveProfileFolder(name);
        FillProfileList(oldName);
    }
    return loaded;
}

int DeleteCurrentProfile()
{
    if (ListProfiles(sListed, PROFILE_LIST_MAX) < 2)
        return PROFILE_LAST_ONE;
    char name[PROFILE_NAME_SIZE];
    CopyText(name, gPrefs.szCurProfile, PROFILE_NAME_SIZE);
    if (!ProfileExists(name))
        return PROFILE_NOT_FOUND;
    CancelAllRenderJobs();
    char folder[MAX_TEXT];
    if (!ProfilePath(folder, name, 0) || !DeleteFolder(folder)) {
        FillProfileList(name);
        return PROFILE_FOLDER_FAILED;
    }
    FillProfileList(0);
    return ProfileIO(PROFILE_LOAD, gPrefs.szCurProfile);
}
