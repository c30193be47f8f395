// The main program from start to end: framework start-up, the renderer's
// tables, the desktop backups, profiles, the one-off data work behind the
// progress dialog, the output placeholders, wallpaper and screen saver, the
// hidden main window with its commands and tray icon, the message loop, and
// afterwards the user's desktop given back.
#include "shell/entry.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "earth/cities.h"
#include "earth/clouds.h"
#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/maintenance.h"
#include "earth/placeholder.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "framework/dialogs.h"
#include "framework/filefind.h"
#include "framework/framelist.h"
#include "framework/messages.h"
#include "framework/utilities.h"
#include "imaging/image.h"
#include "resources/resource.h"
#include "shell/desktop.h"
#include "shell/mainwindow.h"
#include "shell/optionsdialog.h"
#include "shell/profiles.h"
#include "shell/progress.h"
#include "shell/program.h"

char gScreenSaverImage[MAX_TEXT];

enum {
    MAIN_WINDOW_OPTIONS = 0x10000400,
    ENTRY_BOX_FLAGS = 273,
    COMMAND_FLAGS = 128,
    OPTIONS_COMMAND_FLAGS = 192,
    PROFILE_COMMAND_FLAGS = 0x40080,
    ERROR_NOT_WRITABLE = 26,
    START_ERROR_TEXT = 0xF003,    // the framework's "Error initializing the application!"
};

// The tray menu: profiles, separator, the update commands, separator,
// screen saver and options, separator, quit.
static const uint16_t kTrayMenu[] = {
    CMD_PROFILE_MENU,  0xF000,       CMD_UPDATE_WALLPAPER, CMD_CANCEL_UPDATES,
    CMD_DOWNLOAD_CLOUDS, 0xF000,     CMD_SCREEN_SAVER,     CMD_OPTIONS,
    0xF000,            CMD_QUIT,     0xFFFF,
};

// ---------------------------------------------------------------- hooks

static bool OptionsDialogOpen()
{
    return gOptionsDialog != 0;
}

void InstallProgramHooks()
{
    gCloudHooks.optionsDialogOpen = OptionsDialogOpen;
    InstallProgressSink();
    InstallTrayHook();
}

// ---------------------------------------------------------------- messages

static void ShowEntryError(uint16_t textId, int code)
{
    const char *format = gApp.strings.GetText(textId, 0);
    FrameworkMessageBox(0, gApp.strings.GetText(0, 0), format ? format : "%d", ENTRY_BOX_FLAGS,
                        0, code);
}

// ---------------------------------------------------------------- start-up steps

static void BuildTables()
{
    buildCosineTable();   // absent on failure: the helpers compute instead
    buildRandomTable((int)(time(0) % RANDOM_TABLE_ENTRIES));
}

static void SetOutputPaths()
{
    SetDesktopPaths();
    snprintf(gScreenSaverImage, sizeof gScreenSaverImage, "%s\\%s", gApp.dataFolder,
             "VTScrsvr.bmp");
}

static bool FolderHasExtension(const char *extension)
{
    CFileFind find("%s\\*.%s", InstallFolder(), extension);
    return find.FindNext();
}

// Data packs, then data files; false when start-up ends here.
static bool PrepareProgramData()
{
    int result = 0;
    bool worked = false;
    if (FolderHasExtension("zip")) {
        gStopConversion = 0;
        result = RunBehindProgressDialog(UnpackDataPacksThread);
        worked = true;
    }
    if (result == 0 && FolderHasExtension("vtd")) {
        gStopConversion = 0;
        result = RunBehindProgressDialog(ConvertDataFilesThread);
        worked = true;
    }
    if (worked)
        SetProgressStatus("Idle", 0);
    if (result == ERROR_NOT_WRITABLE && IsElevated() == 0) {
        gApp.RequestRestart(2, "-CONVERTDATAFILES", false);
        return false;
    }
    if (result != 0) {
        ShowEntryError(102, result);
        return false;
    }
    if (gApp.FindSwitch("-CONVERTDATAFILES") >= 0) {
        gApp.RequestRestart(1, "", false);
        return false;
    }
    return true;
}

static bool CloudFileMissing(const char *extension)
{
    char path[MAX_TEXT];
    snprintf(path, sizeof path, "%s\\%s.%s", gApp.dataFolder, "Clouds", extension);
    return !PathExists(path);
}

static bool PrepareClouds()
{
    int result = 0;
    if (!DemoCloudsPresent(gApp.ownFolder))
        result = RunBehindProgressDialog(RescaleDemoCloudsThread);
    if (result == 0 && (CloudFileMissing("map") || CloudFileMissing("min"))) {
        result = RunBehindProgressDialog(BuildCloudMapThread);
        SetProgressStatus("Idle", 0);
    }
    if (result != 0) {
        ShowEntryError(106, result);
        return false;
    }
    return true;
}

static bool LoadSeasonMaskResource()
{
    HRSRC resource = FindResourceA(gApp.instance, MAKEINTRESOURCEA(IDR_SEASON_MASK), "JPG");
    CDibImage picture;
    if (!resource || !picture.LoadFromResource(resource, FORMAT_JPG, gApp.instance))
        return false;
    return SetSeasonMask(&picture);
}

static int WritePlaceholders()
{
    const char *paths[2] = {gWallpaperImage, gScreenSaverImage};
    int width = 0, height = 0;
    OutputScreenSize(&width, &height);
    for (int i = 0; i < 2; i++) {
        if (gPrefs.bShowOld && PathExists(paths[i]))
            continue;
        int result = WritePlaceholderImage(paths[i], width, height);
        if (result != 0)
            return result;
    }
    return 0;
}

static void SetFirstViewActive(int list)
{
    if (ViewOptions *view = FirstView(list))
        view->bActive = 1;
}

static void InstallDesktop()
{
    if (IsOurScreenSaver())
        SetFirstViewActive(VIEW_LIST_SCREENSAVER);
    if (FirstViewActive(VIEW_LIST_SCREENSAVER))
        StartScreenSaverThread(DESKTOP_INSTALL);
    if (IsOurWallpaper())
        SetFirstViewActive(VIEW_LIST_WALLPAPER);
    if (FirstViewActive(VIEW_LIST_WALLPAPER))
        InstallWallpaper(DESKTOP_INSTALL);
}

int AddProgramCommands()
{
    static const uint16_t simple[] = {CMD_UPDATE_WALLPAPER, CMD_CANCEL_UPDATES,
                                      CMD_DOWNLOAD_CLOUDS, CMD_SCREEN_SAVER};
    for (uint16_t id : simple)
        if (gApp.AddCommand(id, 1, COMMAND_FLAGS, -1, -1, 0, 0, 0) < 0)
            return ENTRY_ERROR_WINDOW;
    if (gApp.AddCommand(CMD_OPTIONS, 1, OPTIONS_COMMAND_FLAGS, -1, -1, 0, 0, 0) < 0 ||
        gApp.AddCommand(CMD_QUIT, 1, COMMAND_FLAGS, -1, -1, 0, 0, 0) < 0)
        return ENTRY_ERROR_WINDOW;
    if (gApp.AddCommand(CMD_PROFILE_MENU, 3, PROFILE_COMMAND_FLAGS, -1, -1, 0, 0, 0) < 0)
        return QRF_ERR_COMMANDTABLE;
    for (int i = 0; i < PROFILE_COMMANDS; i++)
        if (gApp.AddCommand((uint16_t)(CMD_PROFILE_FIRST + i), 1, PROFILE_COMMAND_FLAGS, -1, -1,
                            0, 0, 0) < 0)
            return QRF_ERR_COMMANDTABLE;
    if (gApp.AddCommand(CMD_TRAY_MENU, 3, COMMAND_FLAGS, 0, -1, (uint32_t)(uintptr_t)kTrayMenu,
                        0, 0) < 0)
        return ENTRY_ERROR_WINDOW;
    return 0;
}

static int CreateMainWindow()
{
    int index = CreateFrameWindow(0, MainWindowProc, gApp.strings.GetText(0, 0), 0,
                                  MAIN_WINDOW_OPTIONS, 0, 0, 0, 0);
    if (index < 0)
        return ENTRY_ERROR_WINDOW;
    return AddProgramCommands();
}

static void PostStartupMessages()
{
    HWND window = MainWindow();
    PostMessageA(window, QRFM_SHOW, STARTUP_POST, 0);
    PostMessageA(window, WM_DISPLAYCHANGE, STARTUP_POST, 0);
    if (FirstViewActive(VIEW_LIST_SCREENSAVER)) {
        const ViewOptions &view = *FirstView(VIEW_LIST_SCREENSAVER);
        if ((int64_t)time(0) - view.tLastUpdate > (int64_t)view.iUpdate * 60)
            gRenderJobs.pending[RENDER_JOB_SCREENSAVER] = 1;
    }
}

int OpenOptionsAtStart()
{
    if (!gPrefs.bShowMain) {
        gApp.minimize = 1;
        return 0;
    }
    if (gApp.minimize || gApp.autoStart)
        return 0;
    OpenOptionsDialog(false);
    return gOptionsDialog && IsWindow(gOptionsDialog) ? 0 : ENTRY_ERROR_WINDOW;
}

// The placeholders, the desktop, the window and its commands; 0 or the
// code shown after shutdown.
static int StartOutputs()
{
    int result = WritePlaceholders();
    if (result != 0)
        return result;
    InstallDesktop();
    result = CreateMainWindow();
    if (result != 0)
        return result;
    result = OpenOptionsAtStart();
    if (result != 0)
        return result;
    if (gPrefs.bTrayIcon)
        ShowTrayIcon(TRAY_IDLE);
    PostStartupMessages();
    return 0;
}

// ---------------------------------------------------------------- shutdown

static void DeleteTemporaryFiles()
{
    CFileFind find("%s\\*.tmp", gApp.dataFolder);
    while (find.FindNext())
        if (!find.IsFolder())
            DeleteFileA(find.GetFilePath());
}

static void ShutDownProgram(int pendingError)
{
    CancelAllRenderJobs();
    RestoreDesktop();
    DeleteTemporaryFiles();
    ShowTrayIcon(TRAY_REMOVE);
    FreeSeasonMask();
    if (pendingError != 0)
        ShowEntryError(START_ERROR_TEXT, pendingError);
}

// ---------------------------------------------------------------- the entry

// Everything before the outputs; false when the program ends without the
// shutdown sequence (nothing of the desktop has been changed yet).
static bool StartProgram(HINSTANCE instance, const char *commandLine)
{
    gApp.SetConfigFileTypes("*.vtp;*.vtc", "");
    if (gApp.Startup(instance, 0, gProgramStrings, false, SETTINGS_VERSION, commandLine) != 0)
        return false;
    if (gApp.autoStart)
        gApp.minimize = 1;
    BuildTables();
    BackupDesktop();
    SetOutputPaths();
    InstallProgramHooks();
    ProfilesStartup();
    if (!PrepareProgramData())
        return false;
    if (gApp.autoStart && gPrefs.bAutoStart && gPrefs.iAutoStartDelay > 0)
        Sleep((DWORD)gPrefs.iAutoStartDelay * 1000);
    LoadCityDatabase();
    ResolveAllCities();
    return PrepareClouds() && LoadSeasonMaskResource();
}

int ProgramMain(HINSTANCE instance, const char *commandLine)
{
    if (!StartProgram(instance, commandLine)) {
        // Profiles may already have put the wallpaper in place.
        if (gApp.started)
            RestoreDesktop();
        gApp.Shutdown();   // a restart asked for during start-up starts here
        return 0;
    }
    int pendingError = StartOutputs();
    if (pendingError == 0)
        gApp.Run();
    ShutDownProgram(pendingError);
    gApp.Shutdown();
    return 0;
}
