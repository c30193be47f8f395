// Framework message numbers, the loop, the waiting pump (which must never
// swallow a quit), accelerators, restart and the hidden window's procedure.
#include <gtest/gtest.h>

#include <vector>

#include "framework/application.h"
#include "framework/configarchive.h"
#include "framework/framelist.h"
#include "framework/ui/framewindow.h"
#include "framework/messages.h"
#include "framework/recordfile.h"
#include "framework/updatecheck.h"
#include "testutil.h"
#include "windowlog.h"

TEST(FrameworkMessages, ExactNumbers)
{
    EXPECT_EQ(QRFM_SIZED, 0x83E9);
    EXPECT_EQ(QRFM_CONTEXTMENU, 0x83EA);
    EXPECT_EQ(QRFM_SAVENOW, 0x83EC);
    EXPECT_EQ(QRFM_COMMAND, 0x83ED);
    EXPECT_EQ(QRFM_SETOPENMENU, 0x83EE);
    EXPECT_EQ(QRFM_GETOPENMENU, 0x83EF);
    EXPECT_EQ(QRFM_GETMENUCOMMANDS, 0x83F0);
    EXPECT_EQ(QRFM_TRAY, 0x83F1);
    EXPECT_EQ(QRFM_BARSHOWN, 0x83F7);
    EXPECT_EQ(QRFM_SHOWNORMAL, 0x83F8);
    EXPECT_EQ(QRFM_HELP, 0x83FA);
    EXPECT_EQ(QRFM_FOCUSLIST, 0x83FB);
    EXPECT_EQ(QRFM_PAINTITEMBACKGROUND, 0x83FC);
    EXPECT_EQ(QRFM_DRAWCOLORICON, 0x83FE);
    EXPECT_EQ(QRFM_SHOW, 0x83FF);
    EXPECT_EQ(QRFM_STYLECHANGED, 0x8400);
    EXPECT_EQ(QRFM_TASKBARCREATED, 0x8401);
    EXPECT_EQ(QRFM_MENUCLOSED, 0x8402);
    EXPECT_EQ(QRFM_MODAL, 0x8403);
    EXPECT_EQ(QRFM_ITEMDBLCLK, 0x8404);
    EXPECT_EQ(QRFM_QUIT, 0x8405);
    EXPECT_EQ(QRFM_RESTART, 0x8406);
    EXPECT_EQ(QRFM_GETITEMTEXT, 0x8407);
    EXPECT_EQ(QRFM_MENUCLICK, 0x8408);
    EXPECT_EQ(QRFM_DRAGOUT, 0x840A);
    EXPECT_EQ(QRFM_DISPLAYCHANGE, 0x840C);
    EXPECT_EQ(QRFM_DPICHANGE, 0x840D);
    EXPECT_EQ(QRFN_LIST_SORTED, 0x83F2);
    EXPECT_EQ(QRFN_LIST_COLUMNSIZED, 0x83F3);
    EXPECT_EQ(QRFN_LIST_SELCHANGE, 0x83F4);
    EXPECT_EQ(QRFN_LIST_DBLCLK, 0x83F5);
    EXPECT_EQ(QRFN_LIST_EDIT, 0x83F6);
    EXPECT_EQ(QRFN_LIST_RBUTTONUP, 0x83FD);
    EXPECT_EQ(QRFN_LIST_LBUTTONDOWN, 0x8409);
    EXPECT_EQ(QRFN_LIST_KEYDOWN, 0x840B);
    EXPECT_EQ(QRF_ACCELERATOR_BIT, 0x100000);
    EXPECT_STREQ(QRF_CONTROL_MESSAGE_NAME, "QRFMSG_QRFCONTROL");
}

// Empties this thread's queue, WM_QUIT included. Paint messages stay until
// they are dispatched, so everything but the quit is.
static void DrainQueue()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message != WM_QUIT)
            DispatchMessageA(&msg);
}

class MessageLoop : public CommandFixture {
protected:
    void SetUp() override
    {
        CommandFixture::SetUp();
        DrainQueue();
        MessageLog().clear();
        window = Window();
        gApp.hiddenWindow = window;   // this thread is the interface thread
    }
    void TearDown() override
    {
        gApp.hiddenWindow = 0;
        DrainQueue();
        CommandFixture::TearDown();
    }
    HWND window;
};

TEST_F(MessageLoop, RunDispatchesUntilQuitAndAnswersItsCode)
{
    PostMessageA(window, WM_USER + 5, 1, 2);
    PostQuitMessage(42);
    EXPECT_EQ(gApp.Run(), 42);
    EXPECT_EQ(CountLogged(WM_USER + 5), 1);
    EXPECT_EQ(Answers().inLoopSeen, 1);
    EXPECT_EQ(gApp.inLoop, 0);
}

TEST_F(MessageLoop, PumpOnTheInterfaceThreadDispatchesAndWaits)
{
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostMessageA(window, WM_USER + 2, 0, 0);
    ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(gApp.PumpFor(100));
    EXPECT_GE(GetTickCount64() - start, 100u);
    EXPECT_EQ(CountLogged(WM_USER + 1), 1);
    EXPECT_EQ(CountLogged(WM_USER + 2), 1);
    // Messages posted while it waits are taken too.
    PostMessageA(window, WM_USER + 3, 0, 0);
    EXPECT_TRUE(gApp.PumpFor(0));
    EXPECT_EQ(CountLogged(WM_USER + 3), 1);
}

TEST_F(MessageLoop, QuitTakenAmongOtherMessagesIsKeptForTheLoop)
{
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 7, 0);
    PostMessageA(window, WM_USER + 2, 0, 0);
    EXPECT_FALSE(gApp.PumpFor(50));
    EXPECT_EQ(CountLogged(WM_USER + 1), 1);
    // Nothing after the quit was taken; the loop gets it and then the quit.
    EXPECT_EQ(CountLogged(WM_USER + 2), 0);
    EXPECT_EQ(gApp.Run(), 7);
    EXPECT_EQ(CountLogged(WM_USER + 2), 1);
}

TEST_F(MessageLoop, QuitTakenLastIsPostedAgain)
{
    PostMessageA(window, WM_USER + 1, 0, 0);
    PostQuitMessage(9);
    EXPECT_FALSE(gApp.PumpFor(20));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, (UINT)WM_QUIT);
    EXPECT_EQ(msg.wParam, 9u);
}

struct WorkerPump {
    ULONGLONG took;
    bool result;
};

static DWORD WINAPI PumpOnWorker(LPVOID parameter)
{
    WorkerPump *pump = (WorkerPump *)parameter;
    ULONGLONG start = GetTickCount64();
    pump->result = gApp.PumpFor(500);
    pump->took = GetTickCount64() - start;
    return 0;
}

TEST_F(MessageLoop, PumpOnAWorkerThreadOnlySleeps)
{
    PostMessageA(window, WM_USER + 1, 0, 0);
    WorkerPump pump = {0, false};
    HANDLE thread = CreateThread(nullptr, 0, PumpOnWorker, &pump, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    // Not pumping here: the worker must not depend on this thread.
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(pump.result);
    EXPECT_GE(pump.took, 480u);   // tick granularity
    EXPECT_LT(pump.took, 2000u);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, window, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
    EXPECT_EQ(CountLogged(WM_USER + 1), 0);
}

TEST_F(MessageLoop, WithoutAnInterfaceWindowThePumpOnlySleeps)
{
    gApp.hiddenWindow = 0;
    PostMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_TRUE(gApp.PumpFor(10));
    EXPECT_EQ(CountLogged(WM_USER + 1), 0);
}

// ----------------------------------------------------------- accelerators

static MSG KeyDownFor(HWND window, WPARAM key)
{
    MSG msg = {};
    msg.hwnd = window;
    msg.message = WM_KEYDOWN;
    msg.wParam = key;
    return msg;
}

static void HoldKeys(std::vector<int> keys)
{
    BYTE state[256] = {};
    for (int key : keys)
        state[key] = 0x80;
    SetKeyboardState(state);
}

static void AddAccelerator(WPARAM key, bool ctrl, uint16_t command, uint16_t frame)
{
    AcceleratorEntry entry = {(uint16_t)key, 0, (uint8_t)ctrl, 0, command, frame};
    gApp.acceleratorTable.Add(entry);
}

class Accelerators : public MessageLoop {
protected:
    // A shown window takes Wine a while to tear down: only where needed.
    void MakeFront()
    {
        front = Window(0, true);
        SetForegroundWindow(front);
    }
    void TearDown() override
    {
        HoldKeys({});
        MessageLoop::TearDown();
    }
    HWND front = 0;
};

TEST_F(Accelerators, UnrequiredModifiersAreNotChecked)
{
    MakeFront();
    VT_REQUIRE_OR_SKIP(gApp.GetOwnForegroundWindow() == front, "the display gives no foreground window");
    gApp.AddCommand(500, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    AddAccelerator('S', true, 500, ACCEL_ANY_WINDOW);
    HoldKeys({VK_CONTROL, VK_SHIFT});
    MSG msg = KeyDownFor(window, 'S');
    EXPECT_TRUE(gApp.PreTranslate(&msg));
    const LoggedMessage *command = FindLogged(QRFM_COMMAND);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->window, front);
    EXPECT_EQ(command->wParam, (WPARAM)(500 | 0x100000));
}

TEST_F(Accelerators, RequiredModifierMissingDispatchesTheKey)
{
    gApp.AddCommand(500, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    AddAccelerator('S', true, 500, ACCEL_ANY_WINDOW);
    HoldKeys({VK_SHIFT});
    MSG msg = KeyDownFor(window, 'S');
    EXPECT_FALSE(gApp.PreTranslate(&msg));
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
}

TEST_F(Accelerators, DisabledCommandConsumesTheKeyAndSendsNothing)
{
    gApp.AddCommand(501, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    gApp.EnableCommand(501, false);
    AddAccelerator(VK_F5, false, 501, ACCEL_ANY_WINDOW);
    MSG msg = KeyDownFor(window, VK_F5);
    EXPECT_TRUE(gApp.PreTranslate(&msg));
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
}

TEST_F(Accelerators, DisabledCommandMarkedForAcceleratorsStillFires)
{
    MakeFront();
    VT_REQUIRE_OR_SKIP(gApp.GetOwnForegroundWindow() == front, "the display gives no foreground window");
    gApp.AddCommand(502, CMD_BUTTON, CMDF_ACCELWHENDISABLED, 0, 0, 0, 0, 0);
    gApp.EnableCommand(502, false);
    AddAccelerator(VK_F6, false, 502, ACCEL_ANY_WINDOW);
    MSG msg = KeyDownFor(window, VK_F6);
    EXPECT_TRUE(gApp.PreTranslate(&msg));
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 1);
}

TEST_F(Accelerators, EntryForAMissingFrameEndsTheWalk)
{
    gApp.AddCommand(503, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    AddAccelerator(VK_F7, false, 503, 3);
    AddAccelerator(VK_F7, false, 503, ACCEL_ANY_WINDOW);
    MSG msg = KeyDownFor(window, VK_F7);
    EXPECT_FALSE(gApp.PreTranslate(&msg));
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
}

TEST_F(Accelerators, SwitchedOffTheTableIsNotWalked)
{
    gApp.AddCommand(504, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    gApp.EnableCommand(504, false);
    AddAccelerator(VK_F8, false, 504, ACCEL_ANY_WINDOW);
    gApp.accelerators = 0;
    MSG msg = KeyDownFor(window, VK_F8);
    EXPECT_FALSE(gApp.PreTranslate(&msg));
}

// ------------------------------------------------- frames and the phantom

// Real frames of the frame list; what they are sent from WM_USER on is
// logged and answered here, the rest goes to the frame class.
static LRESULT CALLBACK LoggingFrameProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam)
{
    if (message < WM_USER)
        return DefFrameWindowProc(window, message, wParam, lParam);
    MessageLog().push_back({window, message, wParam, lParam});
    return 0;
}

// How many frames are shown.
static int ShownFrames()
{
    int shown = 0;
    for (int i = 0; i < gFrames.count; i++)
        shown += IsWindowVisible(gFrames.data[i]->window) ? 1 : 0;
    return shown;
}

class Phantom : public MessageLoop {
protected:
    void SetUp() override
    {
        MessageLoop::SetUp();
        DestroyFrameWindows();
        gApp.placementInvalid = 1;   // no frame takes a stored placement
        gApp.controlMessage = RegisterWindowMessageA(QRF_CONTROL_MESSAGE_NAME);
        gApp.taskbarMessage = RegisterWindowMessageA("TaskbarCreated");
        gApp.token = 0x1234ABCD;
        strcpy(gApp.commandLine, "-PROFILE Home");
    }
    void TearDown() override
    {
        gApp.restartMode = 0;
        gApp.broadcastRestart = 0;
        gApp.restartParameters[0] = 0;
        gApp.commandLine[0] = 0;
        gApp.hourlyTicks = 0;
        DestroyFrameWindows();
        MessageLoop::TearDown();
    }
    HWND AddFrame(uint32_t options)
    {
        int position = CreateFrameWindow((uint16_t)gFrames.count, LoggingFrameProc, "Frame", 1,
                                         options, 10, 10, 200, 100);
        return position < 0 ? 0 : gFrames.data[position]->window;
    }
    LRESULT Control(WPARAM what, uint32_t token)
    {
        return PhantomWindowProc(window, gApp.controlMessage, what, (LPARAM)token);
    }
};

TEST_F(Phantom, MainWindowIsTheLastMarkedFrameAfterTheFirst)
{
    EXPECT_EQ(gApp.SendToMainWindow(WM_USER + 9, 0, 0), -1);
    HWND first = AddFrame(0x400);
    AddFrame(0);
    HWND marked = AddFrame(0x400);
    AddFrame(0);
    gApp.SendToMainWindow(WM_USER + 9, 3, 4);
    ASSERT_EQ(CountLogged(WM_USER + 9), 1);
    EXPECT_EQ(FindLogged(WM_USER + 9)->window, marked);
    gFrames.data[2]->options &= ~0x400u;
    MessageLog().clear();
    gApp.SendToMainWindow(WM_USER + 9, 3, 4);
    EXPECT_EQ(FindLogged(WM_USER + 9)->window, first);
}

TEST_F(Phantom, ShowFromAnotherInstanceShowsFramesAndReachesTheMainWindow)
{
    HWND main = AddFrame(0);
    AddFrame(0);
    EXPECT_EQ(ShownFrames(), 0);
    EXPECT_EQ(Control(QRFM_SHOW, 0x1234ABCD), 0);
    EXPECT_EQ(ShownFrames(), 2);
    const LoggedMessage *show = FindLogged(QRFM_SHOW);
    ASSERT_NE(show, nullptr);
    EXPECT_EQ(show->window, main);
    EXPECT_EQ(show->wParam, 0u);
    Control(QRFM_QUIT, 0x1234ABCD);
    EXPECT_EQ(CountLogged(QRFM_QUIT), 1);
    EXPECT_EQ(CountLogged(QRFM_SHOW), 1);
}

TEST_F(Phantom, ControlMessageWithAnotherTokenIsIgnored)
{
    AddFrame(0);
    Control(QRFM_SHOW, 0x1234ABCE);
    Control(QRFM_RESTART, 0);
    EXPECT_EQ(ShownFrames(), 0);
    EXPECT_TRUE(MessageLog().empty());
    EXPECT_EQ(gApp.restartMode, 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(Phantom, RestartFromAnotherInstanceEndsTheLoopWithoutBroadcasting)
{
    gApp.broadcastRestart = 1;
    EXPECT_EQ(Control(QRFM_RESTART, 0x1234ABCD), 0);
    int elevated = IsElevated();
    EXPECT_EQ(gApp.restartMode, elevated != 0 ? 2 : 1);
    EXPECT_STREQ(gApp.restartParameters, "-PROFILE Home");
    EXPECT_EQ(gApp.broadcastRestart, 0);
    EXPECT_EQ(gApp.Run(), 0);
}

TEST_F(Phantom, RequestRestartStoresTheRestartAndQuits)
{
    gApp.RequestRestart(-1, nullptr, true);
    EXPECT_EQ(gApp.restartMode, IsElevated() != 0 ? 2 : 1);
    EXPECT_STREQ(gApp.restartParameters, "-PROFILE Home");
    EXPECT_EQ(gApp.broadcastRestart, 1);
    EXPECT_EQ(gApp.Run(), 0);
    std::string longer(400, 'x');
    gApp.RequestRestart(1, longer.c_str(), false);
    EXPECT_EQ(gApp.restartMode, 1);
    EXPECT_EQ(strlen(gApp.restartParameters), 259u);
    EXPECT_EQ(gApp.broadcastRestart, 0);
    DrainQueue();
}

// An accelerator entry names its frame by the frame's own index, which
// here differs from its place in the list: index 5 at place 0, 0 at place 1.
TEST_F(Phantom, AcceleratorFrameIsTheFrameWithThatIndexNotThatPlace)
{
    ASSERT_EQ(0, CreateFrameWindow(5, LoggingFrameProc, "Five", 1, 0, 10, 10, 200, 100));
    ASSERT_EQ(1, CreateFrameWindow(0, LoggingFrameProc, "Zero", 1, 0, 10, 10, 200, 100));
    HWND five = gFrames.data[0]->window;
    gApp.accelerators = 1;
    gApp.AddCommand(505, CMD_BUTTON, 0, 0, 0, 0, 0, 0);
    // No frame has index 1 (there is a place 1): the walk ends at that entry.
    AddAccelerator(VK_F9, false, 505, 1);
    AddAccelerator(VK_F9, false, 505, ACCEL_ANY_WINDOW);
    MSG msg = KeyDownFor(window, VK_F9);
    EXPECT_FALSE(gApp.PreTranslate(&msg));
    EXPECT_EQ(CountLogged(QRFM_COMMAND), 0);
    // Index 5 is no place in the list, but the frame in front has it.
    gApp.acceleratorTable.RemoveAll();
    AddAccelerator(VK_F9, false, 505, 5);
    ShowWindow(five, SW_SHOW);
    SetForegroundWindow(five);
    VT_REQUIRE_OR_SKIP(gApp.GetOwnForegroundWindow() == five, "the display gives no foreground window");
    EXPECT_TRUE(gApp.PreTranslate(&msg));
    const LoggedMessage *command = FindLogged(QRFM_COMMAND);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->window, five);
    EXPECT_EQ(command->wParam, (WPARAM)(505 | 0x100000));
}

TEST_F(Phantom, TaskbarRecreationReachesTheMainWindow)
{
    HWND main = AddFrame(0);
    EXPECT_EQ(PhantomWindowProc(window, gApp.taskbarMessage, 0, 0), 0);
    const LoggedMessage *told = FindLogged(QRFM_TASKBARCREATED);
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(told->window, main);
}

// The daily checks are real: an automatic archive is due (the update check
// is switched off, so nothing goes to the network), and the archive file
// appears in its folder only on the twenty-fourth hourly tick.
TEST_F(Phantom, DailyChecksRunOnTheTwentyFourthHour)
{
    std::string data = FreshTempFolder("daily"), backups = data + "\\Daily";
    CopyText(gApp.dataFolder, data.c_str(), MAX_TEXT);
    CopyText(gApp.productName, "Veltaspar", MAX_TEXT);
    WriteWhole(data + "\\(QRF)App.rgc", "app record");
    UpdateCheckRecord update = {};
    update.intervalDays = 30;   // configured, and off
    ASSERT_EQ((int)sizeof update, WriteRecordFile("(QRF)UpdateCheck", -1, &update, sizeof update, 0));
    ArchiveRecord archive = {};
    CopyText(archive.folderTemplate, backups.c_str(), sizeof archive.folderTemplate);
    CopyText(archive.nameTemplate, "Daily", sizeof archive.nameTemplate);
    archive.enabled = 1;
    archive.intervalDays = 1;
    archive.keepCount = 3;
    ASSERT_EQ((int)sizeof archive, WriteRecordFile("(QRF)Archive", -1, &archive, sizeof archive, 0));
    std::string made = backups + "\\Daily.KestrovaConfig";

    for (int hour = 1; hour <= 23; hour++)
        PhantomWindowProc(window, WM_TIMER, 0x4321, 0);
    EXPECT_EQ(gApp.hourlyTicks, 23);
    EXPECT_EQ(GetFileAttributesA(made.c_str()), INVALID_FILE_ATTRIBUTES);
    PhantomWindowProc(window, WM_TIMER, 0x4321, 0);
    EXPECT_EQ(gApp.hourlyTicks, 0);
    for (int i = 0; i < 500 && gArchiveRunning; i++)
        Sleep(10);
    EXPECT_FALSE(gArchiveRunning);
    EXPECT_NE(GetFileAttributesA(made.c_str()), INVALID_FILE_ATTRIBUTES) << made;
    EXPECT_FALSE(gUpdateRecord.enabled);
    PhantomWindowProc(window, WM_TIMER, 0x4322, 0);
    EXPECT_EQ(gApp.hourlyTicks, 0);
    gApp.dataFolder[0] = 0;
    RemoveTree(data);
}
