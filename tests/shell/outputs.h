// What the shell tests use to watch the program's real outputs: a tiny map
// set in a private installation folder, so that the real render jobs finish
// in milliseconds and leave their pictures; the main window's and the
// render jobs' state as at start; waits for the render jobs and
// the download workers; the local HTTP servers on 127.0.0.1 that the test's
// script started, standing in for the download hosts; and the framework's message
// boxes read and answered from inside their modal loop.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "earth/clouds.h"
#include "earth/compositor.h"
#include "earth/compositor_helpers.h"
#include "earth/renderjobs.h"
#include "earth/settings.h"
#include "earth/weather.h"
#include "framework/application.h"
#include "framework/installrecord.h"
#include "framework/utilities.h"
#include "localserver.h"
#include "shell/mainwindow.h"
#include "testutil.h"
#include "renderfixture.h"

// ---------------------------------------------------------------- renders


// "Tiny.map" in install, which becomes the installation folder; the output
// screen 16 x 8; every view of both lists on that map without clouds and
// cities.
inline void UseTinyMaps(const std::string &install)
{
    CreateDirectoryA(install.c_str(), 0);
    WriteTinyMap(install + "\\Tiny.map", 8, 4);
    CopyText((char *)gApp.installRecord + INSTALL_RECORD_INSTALL_PATH, install.c_str(),
             INSTALL_RECORD_TEXT_BYTES);
    buildCosineTable();
    gScreenX = gScreenY = 0;
    gScreenW = 16;
    gScreenH = 8;
    gPrefs.bUseIdle = 0;
    for (int list = 0; list < 2; list++)
        for (int i = 0; i < gViewLists[list].count; i++) {
            ViewOptions &view = gViewLists[list].data[i];
            CopyText(view.szMap, "Tiny", sizeof view.szMap);
            view.bClouds = 0;
            view.bCities = 0;
        }
}

inline bool WorkersIdle()
{
    return gCloudUpdaterBusy == 0 && gWeatherBusy == 0;
}

inline bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The main window's timer state and the render jobs' flags as at start, and
// both view lists one default view each.
inline void FreshOutputState()
{
    gLastDownloadCheck = gLastSaverPoll = 0;
    gSaverActive = 0;
    gTimerBusy = 0;
    gWallpaperReady = 0;
    memset((void *)gOutputStatus, 0, sizeof gOutputStatus);
    memset((void *)&gRenderJobs, 0, sizeof gRenderJobs);
    ASSERT_TRUE(ResizeViewList(&gViewLists[0], 1));
    ASSERT_TRUE(ResizeViewList(&gViewLists[1], 1));
    SetDefaultView(&gViewLists[0].data[0], 0);
    SetDefaultView(&gViewLists[1].data[0], 1);
}

// ---------------------------------------------------------------- HTTP

// The local servers that run_http_test.sh started for this test (the entry
// runs with SERVER): every download of the program goes through them as its
// proxy to a host of its own that they stand in for, answering 404, and they
// list the URLs asked for.
class LocalHttpServer {
public:
    int port = 0;

    bool Start()
    {
        port = ServerPort();
        if (!port)
            return false;   // not run through run_http_test.sh
        ResetServer();
        return true;
    }
    void Stop() {}
    std::vector<std::string> Requests() { return StandInUrls(); }
};

// Every HTTP request of the program goes to the server, as the proxy; the
// cloud pictures' address is a host it stands in for.
inline void PointDownloadsAt(const LocalHttpServer &server)
{
    gPrefs.iProxyType = 1;
    CopyText(gPrefs.szProxyServer, "127.0.0.1", sizeof gPrefs.szProxyServer);
    gPrefs.iProxyPort = server.port;
    gPrefs.bProxyAuth = 0;
    gPrefs.bProxyConn = 0;
    for (int i = 0; i < 4; i++)
        _snprintf(gPrefs.szCloudsUrl[i], sizeof gPrefs.szCloudsUrl[i],
                  "http://clouds.veltaspar.test/clouds%d.jpg", i);
}

// ---------------------------------------------------------------- message boxes

// The texts of the framework message boxes shown on this thread while it
// runs, each answered with its first button. With a shot name, the first
// box is also photographed with the whole display, as "<name>.png" in the
// build folder (shotResult: RunHostScript's answer, -1 none taken).
class MessageBoxReader {
public:
    std::vector<std::string> texts;
    std::string shotName;
    int shotResult = -1;

    void Start()
    {
        Active() = this;
        timer = SetTimer(0, 0, 50, Tick);
    }
    void Stop()
    {
        KillTimer(0, timer);
        Active() = 0;
    }

private:
    UINT_PTR timer = 0;
    HWND answered = 0;
    static MessageBoxReader *&Active()
    {
        static MessageBoxReader *active = 0;
        return active;
    }

    static int Photograph(HWND box, const std::string &name)
    {
        RedrawWindow(box, 0, 0, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        std::string report;
        return ShotOfDisplay(name, &report);
    }
    static BOOL CALLBACK FindBox(HWND window, LPARAM found)
    {
        char name[16] = "";
        GetClassNameA(window, name, sizeof name);
        if (IsWindowVisible(window) && !strcmp(name, "#32770")) {
            *(HWND *)found = window;
            return FALSE;
        }
        return TRUE;
    }
    struct Children {
        std::string text;
        int firstButton = 0;
    };
    static BOOL CALLBACK ReadChild(HWND child, LPARAM parameter)
    {
        Children *children = (Children *)parameter;
        char name[16] = "", text[512] = "";
        GetClassNameA(child, name, sizeof name);
        GetWindowTextA(child, text, sizeof text);
        if (!_stricmp(name, "Button")) {
            if (!children->firstButton)
                children->firstButton = GetDlgCtrlID(child);
        } else if (text[0]) {
            children->text += children->text.empty() ? "" : "\n";
            children->text += text;
        }
        return TRUE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        MessageBoxReader *reader = Active();
        HWND box = 0;
        EnumThreadWindows(GetCurrentThreadId(), FindBox, (LPARAM)&box);
        if (!box || !reader || box == reader->answered)
            return;
        reader->answered = box;
        Children children;
        EnumChildWindows(box, ReadChild, (LPARAM)&children);
        reader->texts.push_back(children.text);
        if (!reader->shotName.empty() && reader->shotResult < 0)
            reader->shotResult = Photograph(box, reader->shotName);
        PostMessageA(box, WM_COMMAND, children.firstButton ? children.firstButton : IDOK, 0);
    }
};
