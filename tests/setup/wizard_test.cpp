// The engine's start-up and wizard: the command line, the mode, silent runs
// and their log, the wizard pages walked by button clicks with the message
// boxes answered by a helper thread, and the built uninstaller run silently
// against a fake installation.
#include "testutil.h"

#include <ctype.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>

#include "resources/resource.h"
#include "setup/commandline.h"
#include "setup/engine.h"
#include "setup/messages.h"
#include "setup/script.h"
#include "setup/setupinfo.h"
#include "setup/silentrun.h"
#include "setup/sysactions.h"
#include "setup/upgrade.h"
#include "setup/wizard.h"

static const char kTestProgram[] = "VtWizardTestApp";

static std::string Var(const char *name)
{
    return GetVariableText(name);
}

static bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static void RemoveRecord(const char *program)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETUP_PROGRAMS_KEY, 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueA(key, program);
        RegCloseKey(key);
    }
}

// Script text with CR line ends, as the interpreter wants them.
static std::string Script(std::initializer_list<const char *> lines)
{
    std::string text;
    for (const char *line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

// A folder with the script as the engine's file, made the current folder.
struct ScriptFolder {
    std::string path, previous;
    ScriptFolder(const std::string &tag, const char *name, const std::string &script)
    {
        char here[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, here);
        previous = here;
        path = FreshTempFolder(tag);
        WriteWhole(path + "\\" + name, script);
        SetCurrentDirectoryA(path.c_str());
    }
    ~ScriptFolder()
    {
        SetCurrentDirectoryA(previous.c_str());
        RemoveTree(path);
    }
};

// ---------------------------------------------------------------- command line

TEST(CommandLine, SwitchesAndQuotedValues)
{
    ResetSetupEngine();
    ParseSetupCommandLine("/x -INSTALL=\"C:\\Program Files\\Test App\" -WORKDIR=C:\\logs\\ "
                          "-use=one.ini -USE=\"C:\\two words.ini\" -UNKNOWN");
    EXPECT_TRUE(gSetup.silent);   // -INSTALL= runs silently
    EXPECT_EQ("C:\\Program Files\\Test App", Var("#INSTALLPATH#"));
    EXPECT_STREQ("C:\\logs", gSetup.workFolder);   // one trailing backslash cut
    ASSERT_EQ(2, gSetup.useCount);
    EXPECT_STREQ("one.ini", gSetup.useFiles[0]);
    EXPECT_STREQ("C:\\two words.ini", gSetup.useFiles[1]);
    EXPECT_TRUE(gSetup.allUsersDefault);   // a folder but no data folder
    EXPECT_EQ(-1, CopyVariable("#CUSTOMPATH#", 0, 0));

    ResetSetupEngine();
    ParseSetupCommandLine("-DATA=D:\\Data -INSTALL=E:\\App");
    EXPECT_EQ("D:\\Data", Var("#CUSTOMPATH#"));
    EXPECT_EQ("E:\\App", Var("#INSTALLPATH#"));
    EXPECT_FALSE(gSetup.allUsersDefault);

    ResetSetupEngine();
    ParseSetupCommandLine("-silent");
    EXPECT_TRUE(gSetup.silent);
    ParseSetupCommandLine("");
    ResetSetupEngine();
    ParseSetupCommandLine("SILENT -SILENTLY -WORKDIR=\"C:\\a b\\\\\\\\\"");
    EXPECT_FALSE(gSetup.silent);   // a switch is a whole argument
    EXPECT_STREQ("C:\\a b\\", gSetup.workFolder);   // only one backslash is removed
}

// The line is split the way the C runtime splits argv, so the forms cmd,
// launchers and people write all give the same folder.
TEST(CommandLine, SplitLikeArgv)
{
    const char *forms[] = {
        "-SILENT \"-INSTALL=C:\\Program Files\\Veltaspar\"",
        "-SILENT -INSTALL=\"C:\\Program Files\\Veltaspar\"",
        "-SILENT -INSTALL=C:\\Program\" \"Files\\Veltaspar",
        "  -SILENT\t-INSTALL=\"C:\\Program Files\\Veltaspar\"   ",
    };
    for (const char *line : forms) {
        ResetSetupEngine();
        ParseSetupCommandLine(line);
        EXPECT_EQ("C:\\Program Files\\Veltaspar", Var("#INSTALLPATH#")) << line;
        EXPECT_TRUE(gSetup.silent) << line;
    }
    ResetSetupEngine();
    // The usual trap: a folder's last backslash before the closing quote must
    // be doubled, as for every Windows program.
    ParseSetupCommandLine("\"-DATA=D:\\My Data\" \"-WORKDIR=C:\\Log Files\\\\\" -USE=\"a b.ini\"");
    EXPECT_EQ("D:\\My Data", Var("#CUSTOMPATH#"));
    EXPECT_STREQ("C:\\Log Files", gSetup.workFolder);
    ASSERT_EQ(1, gSetup.useCount);
    EXPECT_STREQ("a b.ini", gSetup.useFiles[0]);

    // Backslashes before a quote: 2n give n and the quote delimits, 2n+1 give
    // n and a literal quote; elsewhere they are kept; "" in quotes is a quote.
    char out[64];
    const char *p = NextCommandLineArgument("a\\\\\"b c\" d\\\"e \"f\"\"g\" h\\i", out, sizeof out);
    EXPECT_STREQ("a\\b c", out);
    p = NextCommandLineArgument(p, out, sizeof out);
    EXPECT_STREQ("d\"e", out);
    p = NextCommandLineArgument(p, out, sizeof out);
    EXPECT_STREQ("f\"g", out);
    p = NextCommandLineArgument(p, out, sizeof out);
    EXPECT_STREQ("h\\i", out);
    EXPECT_EQ(nullptr, NextCommandLineArgument(p, out, sizeof out));
    // An overlong argument is cut, and the next one still starts after it.
    std::string longLine = std::string(100, 'x') + " next";
    p = NextCommandLineArgument(longLine.c_str(), out, 8);
    EXPECT_STREQ("xxxxxxx", out);
    NextCommandLineArgument(p, out, sizeof out);
    EXPECT_STREQ("next", out);
    // An unclosed quote runs to the end.
    NextCommandLineArgument("\"-INSTALL=C:\\a b", out, sizeof out);
    EXPECT_STREQ("-INSTALL=C:\\a b", out);
}

// ---------------------------------------------------------------- mode and start-up

TEST(Mode, ChosenByTheSetupScriptResource)
{
    EXPECT_FALSE(IsSetupModule(GetModuleHandleA(0)));
    HMODULE uninstaller = LoadLibraryExA(VT_UNINSTALL_PATH, 0, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(uninstaller != 0);
    EXPECT_FALSE(IsSetupModule(uninstaller));
    FreeLibrary(uninstaller);
#ifdef VT_SETUP_PATH
    HMODULE setup = LoadLibraryExA(VT_SETUP_PATH, 0, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(setup != 0);
    EXPECT_TRUE(IsSetupModule(setup));
    FreeLibrary(setup);
#endif
}

TEST(Mode, StartUpLoadsTheScriptAndRunsPhaseZero)
{
    {
        ScriptFolder folder("wiz-start", "Uninstall.qis",
                            Script({"PhaseBegin 0", "Set #PROGRAM#, VtWizardNoRecord",
                                    "Set #FROMFILE#, yes", "PhaseEnd"}));
        ResetSetupEngine();
        ParseSetupCommandLine("-SILENT");
        ASSERT_EQ(0, StartSetupEngine());
        EXPECT_TRUE(gSetup.uninstallMode);
        EXPECT_EQ("yes", Var("#FROMFILE#"));
        EXPECT_EQ("Uninstall", Var("#SETUPMODE#"));
        EXPECT_EQ("0.0", Var("#CURVER#"));   // derived: no record
        EXPECT_NE("", Var("#INSTALLPATH#"));
    }
    {   // setup mode looks for its own script name
        ScriptFolder folder("wiz-start2", "Uninstall.qis", Script({"PhaseBegin 0", "PhaseEnd"}));
        ResetSetupEngine();
        EXPECT_EQ(SE_SCRIPT_MISSING, StartSetupEngineInMode(false));
    }
    {   // a script without phase 0 fails the start
        ScriptFolder folder("wiz-start3", "Setup.qis", Script({"PhaseBegin 1", "PhaseEnd"}));
        ResetSetupEngine();
        EXPECT_EQ(SE_SCRIPT_MISSING, StartSetupEngineInMode(false));
    }
    {   // without a file the shipped script comes from the resource archive
        ScriptFolder folder("wiz-start4", "other.txt", "");
        ResetSetupEngine();
        ASSERT_EQ(0, StartSetupEngine());
        EXPECT_EQ("Veltaspar", Var("#PROGRAM#"));
    }
}

TEST(Mode, SystemRequirements)
{
    ResetSetupEngine();
    SetVariable("#64#", "1");
    SetVariable("#OS#", "610");
    EXPECT_EQ(0, CheckSystemRequirements());
    SetVariable("#NOX64#", "1");
    EXPECT_EQ(1043, CheckSystemRequirements());
    SetVariable("#64#", "0");
    SetVariable("#MINOS#", "620");
    EXPECT_EQ(1052, CheckSystemRequirements());
    SetVariable("#MINOS#", "610");
    EXPECT_EQ(0, CheckSystemRequirements());
}

// ---------------------------------------------------------------- silent runs

static std::string RunSilent(const std::string &tag, bool uninstall, const std::string &script,
                             const std::string &switches, std::string *logFolder = 0)
{
    ScriptFolder folder(tag, uninstall ? "Uninstall.qis" : "Setup.qis", script);
    std::string logs = FreshTempFolder(tag + "-log");
    ResetSetupEngine();
    ParseSetupCommandLine(("-SILENT \"-WORKDIR=" + logs + "\\\\\" " + switches).c_str());
    EXPECT_EQ(0, StartSetupEngineInMode(uninstall));
    RunSilentSetup();
    char path[MAX_PATH];
    SetupLogPath(path);
    EXPECT_EQ(logs + "\\setup_wizard_tests.log", path);   // directly in the folder
    std::string log = ReadWhole(path);
    if (logFolder)
        *logFolder = logs;
    else
        RemoveTree(logs);
    return log;
}

TEST(SilentRun, SuccessRunsPhaseTwoAndLogsIt)
{
    std::string marks = FreshTempFolder("wiz-silent-marks");
    std::string script = "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nSet #EXECUTE#, 1\r\n"
                         "PhaseEnd\r\nPhaseBegin 1\r\nStatus quietly\r\nPhaseEnd\r\n"
                         "PhaseBegin 2\r\nCreateDir \"" + marks + "\\phase2-#EXECUTE#\"\r\n"
                         "PhaseEnd\r\nPhaseBegin 3\r\nCreateDir \"" + marks +
                         "\\phase3\"\r\nPhaseEnd\r\n";
    EXPECT_EQ("Setup finished successfully!\r\n", RunSilent("wiz-silent1", false, script, ""));
    EXPECT_TRUE(Exists(marks + "\\phase2-0"));   // #EXECUTE# is 0 before phase 2
    EXPECT_FALSE(Exists(marks + "\\phase3"));
    EXPECT_FALSE(gSetup.removeSelf);
    RemoveTree(marks);
}

TEST(SilentRun, FailureRunsPhaseThreeAndLogsTheMessage)
{
    std::string marks = FreshTempFolder("wiz-silent-marks2");
    std::string script = "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nPhaseEnd\r\n"
                         "PhaseBegin 1\r\nError 0000002a\r\nCreateDir \"" + marks +
                         "\\after\"\r\nPhaseEnd\r\nPhaseBegin 3\r\nCreateDir \"" + marks +
                         "\\phase3\"\r\nPhaseEnd\r\n";
    EXPECT_EQ("A critical error (code 0000002a) has occurred! Setup can not continue!\n"
              "Please restart the computer and try again.\r\nSetup failed!\r\n",
              RunSilent("wiz-silent2", false, script, ""));
    EXPECT_TRUE(Exists(marks + "\\phase3"));
    EXPECT_FALSE(Exists(marks + "\\after"));   // silent: the phase stops at once
    // A missing phase 1 is error 28, the generic message.
    EXPECT_EQ("A critical error has occured. Uninstall can not continue.\n"
              "Maybe the Uninstall file is corrupt!\r\nUninstall failed!\r\n",
              RunSilent("wiz-silent3", true, "PhaseBegin 0\r\nPhaseEnd\r\n", ""));
    EXPECT_FALSE(gSetup.removeSelf);   // a failed uninstall keeps its uninstaller
    RemoveTree(marks);
}

TEST(SilentRun, UninstallEndingWithAFolderLeftForTheRestartSucceeds)
{
    std::string work = FreshTempFolder("wiz-silent-busy");
    std::string locked = work + "\\Busy";
    CreateDirectoryA(locked.c_str(), 0);
    WriteWhole(locked + "\\held.txt", "x");
    HANDLE hold = CreateFileA((locked + "\\held.txt").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING,
                              0, 0);
    std::string script = "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nPhaseEnd\r\n"
                         "PhaseBegin 1\r\nRemoveDir \"" + locked + "\"\r\nStatus done\r\n"
                         "PhaseEnd\r\nPhaseBegin 2\r\nCreateDir \"" + work +
                         "\\phase2\"\r\nPhaseEnd\r\n";
    EXPECT_EQ("Uninstall finished successfully!\r\n",
              RunSilent("wiz-silent4", true, script, ""));
    EXPECT_TRUE(Exists(work + "\\phase2"));
    EXPECT_TRUE(gSetup.removeSelf);
    CloseHandle(hold);
    MoveFileExA(locked.c_str(), 0, MOVEFILE_DELAY_UNTIL_REBOOT);   // undo the scheduling
    RemoveTree(work);
}

// Only an uninstall may end with a folder left behind; a setup whose phase 1
// failed on any line has failed, and phase 2 does not run.
TEST(SilentRun, SetupEndingWithAFolderNotRemovedFails)
{
    std::string work = FreshTempFolder("wiz-silent-busy-setup");
    std::string full = work + "\\Full";
    CreateDirectoryA(full.c_str(), 0);
    WriteWhole(full + "\\kept.txt", "x");
    std::string script = "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nPhaseEnd\r\n"
                         "PhaseBegin 1\r\nRemoveDir \"" + full + "\"\r\nPhaseEnd\r\n"
                         "PhaseBegin 2\r\nCreateDir \"" + work + "\\phase2\"\r\nPhaseEnd\r\n"
                         "PhaseBegin 3\r\nCreateDir \"" + work + "\\phase3\"\r\nPhaseEnd\r\n";
    ResetSetupEngine();
    EXPECT_EQ("A critical error has occured. Setup can not continue.\n"
              "Maybe the Setup file is corrupt!\r\nSetup failed!\r\n",
              RunSilent("wiz-silent7", false, script, ""));
    EXPECT_FALSE(Exists(work + "\\phase2"));
    EXPECT_TRUE(Exists(work + "\\phase3"));
    EXPECT_TRUE(Exists(full + "\\kept.txt"));
    // A folder with files in it is not left for the restart either.
    char pending[16384] = "";
    DWORD size = sizeof pending - 2;
    RegGetValueA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager",
                 "PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, 0, pending, &size);
    std::string names(pending, size);
    for (char &c : names)
        c = (char)tolower((unsigned char)c);
    std::string name = full;
    for (char &c : name)
        c = (char)tolower((unsigned char)c);
    EXPECT_EQ(std::string::npos, names.find(name.substr(2))) << names;
    RemoveTree(work);
}

TEST(SilentRun, UseFilesAreCopiedIntoInit)
{
    std::string work = FreshTempFolder("wiz-silent-use");
    WriteWhole(work + "\\a.ini", "alpha");
    std::string install = work + "\\Inst";
    std::string script = "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nPhaseEnd\r\n"
                         "PhaseBegin 1\r\nPhaseEnd\r\n";
    std::string useSwitch = "-INSTALL=\"" + install + "\" -USE=\"" + work + "\\a.ini\"";
    EXPECT_EQ("Setup finished successfully!\r\n",
              RunSilent("wiz-silent5", false, script, useSwitch));
    EXPECT_EQ("alpha", ReadWhole(install + "\\Init\\a.ini"));
    // A missing file (or a folder) fails the run with 32 after the phases.
    std::string bad = useSwitch + " -USE=\"" + work + "\\missing.ini\" -USE=\"" + work + "\"";
    EXPECT_EQ("Some initialization files could not be copied.\r\n"
              "Check the Init direcory in the installation folder.\r\nSetup failed!\r\n",
              RunSilent("wiz-silent6", false, script, bad));
    RemoveTree(work);
}

// ---------------------------------------------------------------- message boxes

// Answers the engine's message boxes (caption "Setup" or "Uninstall") from a
// thread of its own, with real button clicks, and keeps their texts.
struct BoxAnswerer {
    std::vector<int> answers;
    std::vector<std::string> texts;
    std::atomic<bool> stop{false};
    HANDLE thread = 0;
    HWND found = 0;

    static BOOL CALLBACK FindBox(HWND window, LPARAM self)
    {
        DWORD process;
        GetWindowThreadProcessId(window, &process);
        char name[32], caption[64];
        if (process != GetCurrentProcessId() || !IsWindowVisible(window) ||
            !GetClassNameA(window, name, sizeof name) || strcmp(name, "#32770"))
            return TRUE;
        GetWindowTextA(window, caption, sizeof caption);
        if (strcmp(caption, "Setup") && strcmp(caption, "Uninstall"))
            return TRUE;
        ((BoxAnswerer *)self)->found = window;
        return FALSE;
    }
    static DWORD WINAPI Run(void *self)
    {
        BoxAnswerer *a = (BoxAnswerer *)self;
        while (!a->stop) {
            a->found = 0;
            EnumWindows(FindBox, (LPARAM)a);
            if (a->found) {
                char text[2048] = "";
                GetDlgItemTextA(a->found, 0xFFFF, text, sizeof text);
                size_t n = a->texts.size();
                int answer = n < a->answers.size() ? a->answers[n] : IDCANCEL;
                a->texts.push_back(text);
                HWND button = GetDlgItem(a->found, answer);
                if (button)
                    SendMessageA(button, BM_CLICK, 0, 0);
                else
                    PostMessageA(a->found, WM_COMMAND, answer, 0);
                for (int i = 0; i < 100 && IsWindow(a->found) && IsWindowVisible(a->found); i++)
                    Sleep(10);
            }
            Sleep(20);
        }
        return 0;
    }
    explicit BoxAnswerer(std::vector<int> list) : answers(list)
    {
        thread = CreateThread(0, 0, Run, this, 0, 0);
    }
    // The thread's GetWindowTextA on a window of this thread is a sent
    // message: serve those while waiting, or each waits on the other, and a
    // wait that gave up would leave the thread to answer the next box.
    ~BoxAnswerer()
    {
        stop = true;
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
               WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageA(&msg, 0, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(thread);
    }
};

// ---------------------------------------------------------------- the wizard

template <typename Condition> static bool PumpUntil(Condition done, int timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {
        if (GetTickCount() - start > (DWORD)timeoutMs)
            return false;
        while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
            if (gSetup.frame && IsDialogMessageA(gSetup.frame, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
    return true;
}

static void Click(int id)
{
    ASSERT_TRUE(gSetup.frame != 0);
    HWND button = GetDlgItem(gSetup.frame, id);
    ASSERT_TRUE(button != 0);
    SendMessageA(button, BM_CLICK, 0, 0);
}

static void ClickOnPage(int id)
{
    ASSERT_TRUE(gSetup.page != 0);
    SendMessageA(GetDlgItem(gSetup.page, id), BM_CLICK, 0, 0);
}

static std::string PageText(int id)
{
    char text[1024] = "";
    GetDlgItemTextA(gSetup.page, id, text, sizeof text);
    return text;
}

static bool Visible(int id)
{
    HWND item = GetDlgItem(gSetup.page, id);
    return item && IsWindowVisible(item);
}

static void Screenshot(const char *name)
{
    PumpUntil([] { return false; }, 300);
    char module[MAX_PATH];
    GetModuleFileNameA(0, module, MAX_PATH);
    *strrchr(module, '\\') = 0;
    std::string folder = std::string(module) + "\\wiz-shot";   // on the host's drive
    CreateDirectoryA(folder.c_str(), 0);
    std::string target = UnixPath(std::string(module) + "\\..\\..\\wizard-" + name + ".png");
    std::string report;
    EXPECT_EQ(0, RunHostScript(folder, "command -v import >/dev/null && import -window root '" +
                                           target + "'",
                               &report))
        << report;
}

struct WizardRun {
    std::string folder;
    WizardRun(bool uninstall, const std::string &script, const char *tag)
    {
        folder = FreshTempFolder(tag);
        std::string previous;
        WriteWhole(folder + (uninstall ? "\\Uninstall.qis" : "\\Setup.qis"), script);
        char here[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, here);
        SetCurrentDirectoryA(folder.c_str());
        ResetSetupEngine();
        EXPECT_EQ(0, StartSetupEngineInMode(uninstall));
        SetCurrentDirectoryA(here);
        EXPECT_TRUE(OpenSetupWizard() != 0);
    }
    ~WizardRun()
    {
        CloseSetupWizard();
        PumpUntil([] { return false; }, 50);
        RemoveTree(folder);
    }
};

static std::string SetupScript(const std::string &marks, const std::string &phaseOne)
{
    return "PhaseBegin 0\r\nSet #PROGRAM#, " + std::string(kTestProgram) +
           "\r\nSet #DESCR#, First line\\nSecond line\r\nSet #ASKPATH#, 1\r\n"
           "Set #EXECUTE#, 1\r\nSet #DESKTOP#, 1\r\nPhaseEnd\r\n"
           "PhaseBegin 1\r\n" + phaseOne + "PhaseEnd\r\n"
           "PhaseBegin 2\r\nCreateDir \"" + marks + "\\phase2-#EXECUTE##DESKTOP##README#\"\r\n"
           "PhaseEnd\r\nPhaseBegin 3\r\nCreateDir \"" + marks + "\\phase3\"\r\nPhaseEnd\r\n";
}

TEST(Wizard, SetupPagesWalkedByTheirButtons)
{
    RemoveRecord(kTestProgram);
    std::string marks = FreshTempFolder("wiz-walk-marks");
    std::string install = marks + "\\Program";
    std::string gate = marks + "\\gate.cmd";   // keeps the progress page up a while
    WriteWhole(gate, "@ping -n 2 127.0.0.1 >nul\r\n");
    WizardRun run(false, SetupScript(marks, "CreateDir \"#INSTALLPATH#\\sub\"\r\n"
                                            "Status2 one\\ntwo\r\nCall cmd.exe, /c ^" + gate +
                                                "^, , H\r\n"), "wiz-walk");
    ASSERT_EQ(IDD_WIZ_WELCOME, gSetup.pageId);
    char caption[128];
    GetWindowTextA(gSetup.frame, caption, sizeof caption);
    EXPECT_EQ(std::string(kTestProgram) + " Setup", caption);   // substituted
    EXPECT_EQ("First line\r\nSecond line", PageText(IDC_WIZ_DESCRIPTION));
    EXPECT_EQ("Welcome to " + std::string(kTestProgram) + " Setup", PageText(IDC_WIZ_TITLE));
    EXPECT_EQ(SETUP_MAKER_URL, PageText(IDC_WIZ_WEBLINK));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(gSetup.frame, IDC_WIZ_BACK)));
    Screenshot("welcome");

    Click(IDC_WIZ_NEXT);
    ASSERT_EQ(IDD_WIZ_AGREEMENT, gSetup.pageId);
    EXPECT_NE(std::string::npos, PageText(IDC_WIZ_AGREEMENTTEXT).find("LICENCE AGREEMENT\r\n"));
    Screenshot("agreement");
    Click(IDC_WIZ_BACK);
    ASSERT_EQ(IDD_WIZ_WELCOME, gSetup.pageId);
    Click(IDC_WIZ_NEXT);
    Click(IDC_WIZ_NEXT);
    ASSERT_EQ(IDD_WIZ_FOLDERS, gSetup.pageId);   // #ASKPATH# is defined
    EXPECT_EQ(Var("#INSTALLPATH#"), PageText(IDC_WIZ_INSTALLPATH));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(gSetup.page, IDC_WIZ_CUSTOMPATH)));
    ClickOnPage(IDC_WIZ_CUSTOMDATA);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(gSetup.page, IDC_WIZ_CUSTOMPATH)));
    ClickOnPage(IDC_WIZ_STDDATA);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(gSetup.page, IDC_WIZ_CUSTOMPATH)));
    Screenshot("folders");
    {   // a relative folder is refused with 1039
        BoxAnswerer boxes({IDOK});
        SetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, "relative\\folder");
        Click(IDC_WIZ_NEXT);
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ("You must use an absolute path (including a drive letter or network drive)!",
                  boxes.texts[0]);
        EXPECT_EQ(IDD_WIZ_FOLDERS, gSetup.pageId);
    }
    SetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, install.c_str());
    ClickOnPage(IDC_WIZ_ONLYME);
    Click(IDC_WIZ_NEXT);
    EXPECT_EQ(install, Var("#INSTALLPATH#"));
    EXPECT_EQ("0", Var("#FORWHO#"));
    EXPECT_EQ(Var("#STARTUPDIRUSR#"), Var("#STARTUPDIR#"));
    ASSERT_EQ(IDD_WIZ_PROGRESS, gSetup.pageId);
    EXPECT_TRUE(PumpUntil([] { return PageText(IDC_WIZ_STATUS2) == "one\r\ntwo"; }));
    Screenshot("progress");
    ASSERT_TRUE(PumpUntil([] { return gSetup.pageId == IDD_WIZ_FINISH; }));
    EXPECT_TRUE(Exists(install + "\\sub"));   // phase 1 ran on the progress page
    EXPECT_TRUE(Visible(IDC_WIZ_EXECUTE));
    EXPECT_TRUE(Visible(IDC_WIZ_DESKTOP));
    EXPECT_FALSE(Visible(IDC_WIZ_README));      // #README# undefined
    EXPECT_FALSE(Visible(IDC_WIZ_STARTMENU));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(gSetup.page, IDC_WIZ_EXECUTE));   // no record
    Screenshot("finish");
    ClickOnPage(IDC_WIZ_EXECUTE);   // unchecked
    Click(IDC_WIZ_NEXT);
    EXPECT_TRUE(gSetup.frame == 0);
    EXPECT_EQ(0, gSetup.result);
    EXPECT_TRUE(Exists(marks + "\\phase2-010"));   // #EXECUTE# 0, #DESKTOP# 1, #README# 0
    EXPECT_FALSE(Exists(marks + "\\phase3"));
    EXPECT_FALSE(gSetup.removeSelf);
    RemoveTree(marks);
}

// "All users" points the link folders at the shared ones, as the engine's
// start does for an installation folder given without a data folder.
TEST(Wizard, FoldersForAllUsersTakeTheSharedShellFolders)
{
    RemoveRecord(kTestProgram);
    std::string marks = FreshTempFolder("wiz-allusers-marks");
    std::string install = marks + "\\Program";
    WizardRun run(false, SetupScript(marks, ""), "wiz-allusers");
    Click(IDC_WIZ_NEXT);
    Click(IDC_WIZ_NEXT);
    ASSERT_EQ(IDD_WIZ_FOLDERS, gSetup.pageId);
    // The shared and the user's folders differ, so the choice shows.
    ASSERT_NE(Var("#STARTUPDIRALL#"), Var("#STARTUPDIRUSR#"));
    ASSERT_NE(Var("#STARTMENUALL#"), Var("#STARTMENUUSR#"));
    ASSERT_NE(Var("#DESKTOPDIRALL#"), Var("#DESKTOPDIRUSR#"));
    for (const char *name : {"#STARTUPDIR#", "#STARTMENUDIR#", "#DESKTOPDIR#"})
        SetVariable(name, "stale");
    SetDlgItemTextA(gSetup.page, IDC_WIZ_INSTALLPATH, install.c_str());
    ClickOnPage(IDC_WIZ_ALLUSERS);
    Click(IDC_WIZ_NEXT);
    EXPECT_EQ("1", Var("#FORWHO#"));
    EXPECT_EQ(Var("#STARTUPDIRALL#"), Var("#STARTUPDIR#"));
    EXPECT_EQ(Var("#STARTMENUALL#"), Var("#STARTMENUDIR#"));
    EXPECT_EQ(Var("#DESKTOPDIRALL#"), Var("#DESKTOPDIR#"));
    EXPECT_TRUE(PumpUntil([] { return gSetup.pageId == IDD_WIZ_FINISH; }));
    RemoveTree(marks);
}

TEST(Wizard, ProgressPageShowsStatusAndProgress)
{
    // A phase that waits for the test lets it look at the page meanwhile.
    std::string marks = FreshTempFolder("wiz-progress-marks");
    std::string gate = marks + "\\gate.cmd";
    WriteWhole(gate, "@ping -n 3 127.0.0.1 >nul\r\n");
    WizardRun run(true, "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nPhaseEnd\r\n"
                        "PhaseBegin 1\r\nStatus Working on it\r\nStatus2 first\\nsecond\r\n"
                        "Call cmd.exe, /c ^" + gate + "^, , H\r\nPhaseEnd\r\n", "wiz-progress");
    ASSERT_EQ(IDD_WIZ_UNWELCOME, gSetup.pageId);
    Screenshot("uninstall-welcome");
    Click(IDC_WIZ_NEXT);
    ASSERT_EQ(IDD_WIZ_UNPROGRESS, gSetup.pageId);
    EXPECT_TRUE(
        PumpUntil([] { return PageText(IDC_WIZ_STATUS1).find("Executing: cmd.exe") == 0; }));
    EXPECT_EQ("first\r\nsecond", PageText(IDC_WIZ_STATUS2));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(gSetup.frame, IDC_WIZ_NEXT)));
    Screenshot("uninstall-progress");
    ASSERT_TRUE(PumpUntil([] { return gSetup.pageId == IDD_WIZ_UNFINISH; }, 20000));
    RemoveTree(marks);
}

TEST(Wizard, ErrorAnswersRetryThenCancelRunPhaseThree)
{
    std::string marks = FreshTempFolder("wiz-error-marks");
    std::string script = SetupScript(marks, "CreateDir \"\"\r\nCreateDir \"" + marks +
                                                "\\after\"\r\n");
    script.replace(script.find("Set #ASKPATH#, 1\r\n"), 18, "");
    WizardRun run(false, script, "wiz-error");
    BoxAnswerer boxes({IDRETRY, IDCANCEL});
    Click(IDC_WIZ_NEXT);
    Click(IDC_WIZ_NEXT);   // the agreement; without #ASKPATH# straight to progress
    ASSERT_TRUE(PumpUntil([] { return gSetup.frame == 0; }));
    ASSERT_EQ(2u, boxes.texts.size());   // asked again after Retry
    EXPECT_EQ("The specified directory could not be created!", boxes.texts[0]);
    EXPECT_EQ(SE_CREATEDIR, gSetup.result);
    EXPECT_TRUE(Exists(marks + "\\phase3"));
    EXPECT_FALSE(Exists(marks + "\\after"));
    RemoveTree(marks);
}

TEST(Wizard, ErrorAnswerYesGoesOnAndAMissingPhaseFails)
{
    std::string marks = FreshTempFolder("wiz-error2-marks");
    {
        std::string script = SetupScript(marks, "Error first\r\nCreateDir \"" + marks +
                                                    "\\after\"\r\n");
        script.replace(script.find("Set #ASKPATH#, 1\r\n"), 18, "");
        WizardRun run(false, script, "wiz-error2");
        BoxAnswerer boxes({IDOK});
        Click(IDC_WIZ_NEXT);
        Click(IDC_WIZ_NEXT);
        ASSERT_TRUE(PumpUntil([] { return gSetup.frame == 0; }));
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ("A critical error (code first) has occurred! Setup can not continue!\n"
                  "Please restart the computer and try again.",
                  boxes.texts[0]);
        EXPECT_EQ(SE_ERROR_COMMAND, gSetup.result);
        EXPECT_TRUE(Exists(marks + "\\phase3"));
        EXPECT_FALSE(Exists(marks + "\\after"));
    }
    RemoveTree(marks + "\\phase3");
    {   // no phase 1 at all: the generic message, then phase 3
        std::string script = SetupScript(marks, "");
        script.replace(script.find("PhaseBegin 1\r\nPhaseEnd\r\n"), 24, "");
        script.replace(script.find("Set #ASKPATH#, 1\r\n"), 18, "");
        WizardRun run(false, script, "wiz-error3");
        BoxAnswerer boxes({IDOK});
        Click(IDC_WIZ_NEXT);
        Click(IDC_WIZ_NEXT);
        ASSERT_TRUE(PumpUntil([] { return gSetup.frame == 0; }));
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ(0u, boxes.texts[0].find("A critical error has occured."));
        EXPECT_EQ(SE_NO_PHASE, gSetup.result);
        EXPECT_TRUE(Exists(marks + "\\phase3"));
    }
    RemoveTree(marks);
}

TEST(Wizard, CancelAsksAndOnlyYesQuits)
{
    WizardRun run(true, "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nPhaseEnd\r\n"
                        "PhaseBegin 1\r\nPhaseEnd\r\n", "wiz-cancel");
    {
        BoxAnswerer boxes({IDNO});
        Click(IDCANCEL);
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ("Uninstall is not complete. If you quit Uninstall now, it will not be "
                  "completed.\nAre you sure you want to exit?",
                  boxes.texts[0]);
        EXPECT_TRUE(gSetup.frame != 0);
        EXPECT_EQ(0, gSetupAbort);
    }
    BoxAnswerer boxes({IDYES});
    Click(IDCANCEL);
    EXPECT_TRUE(gSetup.frame == 0);
    EXPECT_EQ(1, gSetupAbort);
    EXPECT_EQ(SETUP_CANCELLED, gSetup.result);
    EXPECT_FALSE(gSetup.removeSelf);
}

// Cancel while phase 1 runs: the runner stops before its next command (a
// "Call" in progress is ended), phase 1 does not complete, and the outcome
// and the log say that it was cancelled partway.
TEST(Wizard, CancelDuringPhaseOneStopsTheRunner)
{
    std::string marks = FreshTempFolder("wiz-cancel-run-marks");
    std::string gate = marks + "\\gate.cmd";
    WriteWhole(gate, "@ping -n 16 127.0.0.1 >nul\r\n");
    std::string script = SetupScript(marks, "CreateDir \"" + marks + "\\before\"\r\n"
                                            "Call cmd.exe, /c ^" + gate + "^, , H\r\n"
                                            "CreateDir \"" + marks + "\\after\"\r\n");
    script.replace(script.find("Set #ASKPATH#, 1\r\n"), 18, "");
    WizardRun run(false, script, "wiz-cancel-run");
    Click(IDC_WIZ_NEXT);
    Click(IDC_WIZ_NEXT);
    ASSERT_EQ(IDD_WIZ_PROGRESS, gSetup.pageId);
    ASSERT_TRUE(
        PumpUntil([] { return PageText(IDC_WIZ_STATUS1).find("Executing: cmd.exe") == 0; }));
    DWORD start = GetTickCount();
    {
        BoxAnswerer boxes({IDYES});
        Click(IDCANCEL);
        ASSERT_EQ(1u, boxes.texts.size());
    }
    EXPECT_LT(GetTickCount() - start, 10000u);   // the call was ended, not waited for
    EXPECT_TRUE(gSetup.frame == 0);
    EXPECT_EQ(SETUP_CANCELLED, gSetup.result);
    EXPECT_TRUE(gSetup.cancelledPartway);
    EXPECT_TRUE(Exists(marks + "\\before"));
    EXPECT_FALSE(Exists(marks + "\\after"));
    EXPECT_FALSE(Exists(marks + "\\phase2-111"));
    EXPECT_EQ(SE_CANCELLED, gScript.currentError);
    std::string logs = FreshTempFolder("wiz-cancel-run-log");
    snprintf(gSetup.workFolder, sizeof gSetup.workFolder, "%s", logs.c_str());
    EXPECT_TRUE(WriteCancelLog());
    EXPECT_EQ("Setup was cancelled by the user partway: what was done until then stays in "
              "place, the rest was not done.\r\nSetup failed!\r\n",
              ReadWhole(logs + "\\setup_wizard_tests.log"));
    RemoveTree(logs);
    RemoveTree(marks);
}

// While the wizard waits for the runner to stop, its window goes on working:
// a timer of the window's thread keeps firing. The runner is held in a
// "DeleteFile" of a file the test keeps open, which takes #TRYTIME#.
static volatile LONG gTicksWhileClosing;

static void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD)
{
    if (gSetupAbort && gSetup.frame)
        gTicksWhileClosing++;
}

TEST(Wizard, WindowStaysResponsiveWhileTheRunnerStops)
{
    std::string marks = FreshTempFolder("wiz-cancel-busy-marks");
    std::string held = marks + "\\held.txt";
    WriteWhole(held, "x");
    HANDLE hold = CreateFileA(held.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    std::string script = SetupScript(marks, "Set #TRYTIME#, 3000\r\nDeleteFile \"" + held +
                                                "\"\r\nCreateDir \"" + marks + "\\after\"\r\n");
    script.replace(script.find("Set #ASKPATH#, 1\r\n"), 18, "");
    WizardRun run(false, script, "wiz-cancel-busy");
    Click(IDC_WIZ_NEXT);
    Click(IDC_WIZ_NEXT);
    ASSERT_TRUE(
        PumpUntil([] { return PageText(IDC_WIZ_STATUS1).find("Deleting file:") == 0; }));
    gTicksWhileClosing = 0;
    UINT_PTR timer = SetTimer(0, 0, 50, CountTick);
    DWORD start = GetTickCount();
    {
        BoxAnswerer boxes({IDYES});
        Click(IDCANCEL);
    }
    DWORD waited = GetTickCount() - start;
    KillTimer(0, timer);
    EXPECT_TRUE(gSetup.frame == 0);
    EXPECT_EQ(SETUP_CANCELLED, gSetup.result);
    EXPECT_FALSE(Exists(marks + "\\after"));
    // The delete went on trying for its time, and the window's thread meanwhile
    // handled its timer many times over.
    EXPECT_GT(waited, 1000u);
    EXPECT_GT(gTicksWhileClosing, 5) << waited << " ms";
    CloseHandle(hold);
    MoveFileExA(held.c_str(), 0, MOVEFILE_DELAY_UNTIL_REBOOT);   // undo the scheduling
    RemoveTree(marks);
}

TEST(Wizard, UninstallKeepsSettingsAndShowsWhatRemains)
{
    std::string install = FreshTempFolder("wiz-uninst-inst");
    WriteWhole(install + "\\left.txt", "x");
    WizardRun run(true, "PhaseBegin 0\r\nSet #PROGRAM#, VtWizardNoRecord\r\nSet #INSTALLPATH#, " +
                            install + "\r\nPhaseEnd\r\nPhaseBegin 1\r\nIf #KEEPCFG#, =, 1\r\n"
                            "Set #KEPT#, yes\r\nEndif\r\nPhaseEnd\r\n", "wiz-uninst");
    ASSERT_EQ(IDD_WIZ_UNWELCOME, gSetup.pageId);
    EXPECT_EQ(Var("#CONFIGPATH#"), PageText(IDC_WIZ_CONFIGFOLDER));
    {
        BoxAnswerer boxes({IDOK});
        ClickOnPage(IDC_WIZ_KEEPCFG);
        ASSERT_EQ(1u, boxes.texts.size());
        EXPECT_EQ(0u, boxes.texts[0].find("Please do not keep the settings and data"));
    }
    Click(IDC_WIZ_NEXT);
    ASSERT_TRUE(PumpUntil([] { return gSetup.pageId == IDD_WIZ_UNFINISH; }));
    EXPECT_EQ("yes", Var("#KEPT#"));
    EXPECT_TRUE(Visible(IDC_WIZ_REMAINING));
    EXPECT_EQ(install, PageText(IDC_WIZ_FOLDERLINK));
    Screenshot("uninstall-finish");
    Click(IDC_WIZ_NEXT);
    EXPECT_TRUE(gSetup.frame == 0);
    EXPECT_TRUE(gSetup.removeSelf);
    EXPECT_EQ("1", Var("#KEEPCFG#"));
    // Only the uninstaller left: the notice is hidden.
    DeleteFileA((install + "\\left.txt").c_str());
    WriteWhole(install + "\\Uninstall.exe", "");
    EXPECT_FALSE(FolderHasOtherFiles(install.c_str()));
    WriteWhole(install + "\\sub.txt", std::string(3000, 'x'));
    EXPECT_TRUE(FolderHasOtherFiles(install.c_str()));
    CreateDirectoryA((install + "\\deep").c_str(), 0);
    WriteWhole(install + "\\deep\\more.bin", std::string(2000, 'y'));
    EXPECT_EQ(4u, FolderSizeKB(install.c_str()));   // 5000 bytes, rounded down
    RemoveTree(install);
}

TEST(Wizard, FinishStoresTheChoicesInTheRecord)
{
    SetupInfoRecord record;
    BuildSetupInfo(&record, kTestProgram, "2.5", 0, 0, 0, "C:\\nowhere", "", 0, 0, 0);
    record.finishShowReadme = 1;
    ASSERT_TRUE(WriteSetupInfo(kTestProgram, &record));
    std::string marks = FreshTempFolder("wiz-record-marks");
    std::string script = SetupScript(marks, "");
    script.replace(script.find("Set #ASKPATH#, 1\r\n"), 18, "Set #README#, 1\r\n");
    {
        WizardRun run(false, script, "wiz-record");
        EXPECT_EQ("2.5", Var("#CURVER#"));
        Click(IDC_WIZ_NEXT);
        Click(IDC_WIZ_NEXT);
        ASSERT_TRUE(PumpUntil([] { return gSetup.pageId == IDD_WIZ_FINISH; }));
        // Checked from the record's selections.
        EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(gSetup.page, IDC_WIZ_EXECUTE));
        EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(gSetup.page, IDC_WIZ_README));
        ClickOnPage(IDC_WIZ_DESKTOP);
        Click(IDC_WIZ_NEXT);
    }
    ASSERT_TRUE(ReadSetupInfo(kTestProgram, &record));
    EXPECT_EQ(0, record.finishStartProgram);
    EXPECT_EQ(1, record.finishShowReadme);
    EXPECT_EQ(1, record.finishDesktopLink);
    EXPECT_EQ(0, record.finishStartMenuLink);
    EXPECT_TRUE(Exists(marks + "\\phase2-011"));
    RemoveRecord(kTestProgram);
    RemoveTree(marks);
}

TEST(Upgrade, RecordVersionsDecideMessageAndRemoval)
{
    const char *uninstallKey =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VtWizardTestApp";
    RemoveRecord(kTestProgram);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, uninstallKey);
    ResetSetupEngine();
    SetVariable("#PROGRAM#", kTestProgram);
    UpgradeCheck check;
    CheckForUpgrade(&check);   // neither variable: nothing to do
    EXPECT_FALSE(check.askMessage || check.removalNeeded);
    EXPECT_EQ(-1, CopyVariable("#REMAPP#", 0, 0));

    SetVariable("#UPGMSG1#", "2.10 Please read the news first.");
    SetVariable("#REMOVE#", "2.9");
    CheckForUpgrade(&check);   // no record and no uninstall entry
    EXPECT_FALSE(check.askMessage || check.removalNeeded);
    EXPECT_EQ("Please read the news first.", Var("#UPGMSG1#"));
    EXPECT_EQ(kTestProgram, Var("#REMAPP#"));   // defaults to the program

    HKEY key;
    ASSERT_EQ(0, RegCreateKeyExA(HKEY_LOCAL_MACHINE, uninstallKey, 0, 0, 0, KEY_ALL_ACCESS, 0,
                                 &key, 0));
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE *)"cmd.exe /c exit 3", 18);
    RegCloseKey(key);
    CheckForUpgrade(&check);   // an uninstall entry without a record: remove it
    EXPECT_TRUE(check.removalNeeded);
    EXPECT_STREQ("cmd.exe /c exit 3", check.uninstallString);
    EXPECT_TRUE(RunOldUninstaller(check.uninstallString));

    SetupInfoRecord record;   // 2.10 installed: the message (at most 2.10), no removal (2.9)
    BuildSetupInfo(&record, kTestProgram, "2.10", 0, 0, 0, "C:\\x", "", 0, 0, 0);
    ASSERT_TRUE(WriteSetupInfo(kTestProgram, &record));
    SetVariable("#UPGMSG1#", "2.10 Again.");
    CheckForUpgrade(&check);
    EXPECT_TRUE(check.askMessage);
    EXPECT_FALSE(check.removalNeeded);
    SetVariable("#REMOVE#", "3.0");
    SetVariable("#UPGMSG1#", "2.9 Old.");
    CheckForUpgrade(&check);
    EXPECT_FALSE(check.askMessage);
    EXPECT_TRUE(check.removalNeeded);
    RemoveRecord(kTestProgram);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, uninstallKey);
}

// ---------------------------------------------------------------- the built uninstaller

static std::string ShippedScript()
{
    return ReadWhole(VT_SOURCE_DIR "/resources/Uninstall.qis");
}

TEST(ShippedScript, IsEmbeddedAndDoesWhatAnUninstallMust)
{
    std::string text = ShippedScript();
    ASSERT_EQ(std::string::npos, text.find("<missing"));
    HMODULE uninstaller = LoadLibraryExA(VT_UNINSTALL_PATH, 0, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(uninstaller != 0);
    gResourceModule = uninstaller;
    char *data = 0;
    uint32_t size = 0;
    EXPECT_EQ(0, ReadArchiveFile("Uninstall.qis", &data, &size));
    EXPECT_EQ(text, std::string(data ? data : "", size));
    free(data);
    gResourceModule = 0;
    FreeLibrary(uninstaller);
    const char *needed[] = {
        "Set #PROGRAM#, Veltaspar\r\n",
        "CloseProgram #PROGRAM#\r\n",
        "LogonTrigger #PROGRAM#\r\n",
        "DeleteFile \"#STARTUPDIRUSR#\\#PROGRAM#.lnk\"\r\n",
        "DeleteFile \"#INSTALLPATH#\\#PROGRAM#.exe\"\r\n",
        "DeleteFile \"#INSTALLPATH#\\#PROGRAM#.scr\"\r\n",
        "DeleteRegVal LM, Software\\Kestrova, #PROGRAM#\r\n",
        "DeleteRegKey LM, Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\#PROGRAM#\r\n",
        "DeleteFile \"#WINDOWSDIR#\\#PROGRAM#.scr\"\r\n",
        "If #KEEPCFG#, !, 1\r\n",
        "RemoveDir \"#CONFIGPATH#\"\r\n",
    };
    for (const char *line : needed)
        EXPECT_NE(std::string::npos, text.find(line)) << line;
    // Nothing in the data folder goes by a mask that takes every file.
    EXPECT_EQ(std::string::npos, text.find("#CONFIGPATH#\\*.*"));
    EXPECT_EQ(std::string::npos, text.find("#CONFIGPATH#\\*\""));
    // Closing comes first; the record goes only after the files.
    EXPECT_LT(text.find("CloseProgram"), text.find("DeleteFile"));
    EXPECT_LT(text.find("#PROGRAM#.exe"), text.find("DeleteRegVal"));
    // Every condition is closed, and every command line is one the engine knows.
    ResetScript();
    SetScriptText(text.c_str());
    int ifs = 0, endifs = 0, commands = 0;
    for (const char *p = text.c_str(); *p;) {
        const char *arguments, *end;
        int command = MatchCommand(p, &arguments, &end);
        ifs += command == SC_IF;
        endifs += command == SC_ENDIF;
        commands += command >= 0;
        p = LineEnd(p);
        while (*p == '\r' || *p == '\n')
            p++;
    }
    EXPECT_EQ(ifs, endifs);
    EXPECT_GT(commands, 30);
    SetScriptText(0);
}

static void ListTree(const std::string &folder, const std::string &prefix, std::string *out)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        *out += prefix + name + "\n";
        ListTree(folder + "\\" + name, prefix + name + "\\", out);
    }
}

// The shipped script (under a name of the test's own) against a data folder
// the user chose and shares with files of their own: what the program made
// there goes, the user's files and the folders that hold them stay.
TEST(ShippedScript, RemovesOnlyWhatTheProgramMadeInTheDataFolder)
{
    const char program[] = "VtShippedUninstall";
    std::string text = ShippedScript();
    size_t at = text.find("Set #PROGRAM#, Veltaspar\r\n");
    ASSERT_NE(std::string::npos, at);
    text.replace(at, 24, std::string("Set #PROGRAM#, ") + program);
    std::string root = FreshTempFolder("wiz-shipped");
    std::string install = root + "\\Program Files\\Velta", data = root + "\\Shared";
    CreateFolderTree(install.c_str());
    CreateFolderTree((data + "\\Profile-Default").c_str());
    CreateFolderTree((data + "\\Profile-Work Days").c_str());
    CreateFolderTree((data + "\\Backup").c_str());
    const char *programFiles[] = {
        "(QRF)App.rgc", "(QRF)Win.rgc_tmp", "Preferences.rgc", "BackupWPPath.rgc",
        "ScreenSaverActive.rgc", "Veltaspar.bmp", "Veltaspar.bmp0A1B2C3D.tmp", "VTCamImg.bmp",
        "Clouds.net", "Clouds.map", "Clouds.min", "Default Map View.vtp",
        "Around the World in 80 Minutes.vtc", "VtShippedUninstall.KestrovaConfig",
        "Backup\\Veltaspar 2026-12-09.KestrovaConfig", "Profile-Default\\Options0.rgc",
        "Profile-Default\\Options1.rgc", "Profile-Default\\Settings.rgc",
        "Profile-Default\\Veltaspar.bmp", "Profile-Default\\VTScrsvr.bmp",
        "Profile-Work Days\\Options0.rgc", "Profile-Work Days\\VTMapPrv.bmp"};
    for (const char *name : programFiles)
        WriteWhole(data + "\\" + name, "made by the program");
    const char *userFiles[] = {"MyThesis.docx", "notes.rgcx", "Backup plan.txt",
                               "My Own View.vtp", "Clouds.jpg", "Profile-Work Days\\todo.txt"};
    for (const char *name : userFiles)
        WriteWhole(data + "\\" + name, "the user's");
    WriteWhole(install + "\\" + program + ".exe", "program");
    WriteWhole(install + "\\Urban.vtd", "data");
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string saver = std::string(windows) + "\\" + program + ".scr";
    WriteWhole(saver, "saver");
    SetupInfoRecord record;
    BuildSetupInfo(&record, program, "4.0", 0, 1, 0, install.c_str(), data.c_str(), 0, 0, 0);
    ASSERT_TRUE(WriteSetupInfo(program, &record));

    EXPECT_EQ("Uninstall finished successfully!\r\n", RunSilent("wiz-shipped-run", true, text, ""));
    std::string left;
    ListTree(data, "", &left);
    EXPECT_EQ("Backup plan.txt\nClouds.jpg\nMy Own View.vtp\nMyThesis.docx\n"
              "Profile-Work Days\nProfile-Work Days\\todo.txt\nnotes.rgcx\n",
              left);
    EXPECT_EQ("the user's", ReadWhole(data + "\\MyThesis.docx"));
    EXPECT_FALSE(Exists(install + "\\" + program + ".exe"));
    EXPECT_FALSE(Exists(install + "\\Urban.vtd"));
    EXPECT_FALSE(Exists(saver));
    EXPECT_FALSE(ReadSetupInfo(program, &record));
    RemoveRecord(program);
    RemoveTree(root);
}

static DWORD RunProgram(const std::string &commandLine, const std::string &folder)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    if (!CreateProcessA(0, line.data(), 0, 0, FALSE, 0, 0, folder.c_str(), &startup, &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xFFFFFFFE;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

TEST(Uninstaller, SilentRunRemovesAFakeInstallationAndItself)
{
    const char program[] = "VtWizardEndToEnd";
    std::string root = FreshTempFolder("wiz-e2e");
    std::string install = root + "\\Program", work = root + "\\Work";
    CreateDirectoryA(install.c_str(), 0);
    CreateDirectoryA(work.c_str(), 0);
    CreateDirectoryA((install + "\\Init").c_str(), 0);
    WriteWhole(install + "\\" + program + ".exe", "program");
    WriteWhole(install + "\\" + program + ".scr", "saver");
    WriteWhole(install + "\\Urban.vtd", "data");
    WriteWhole(install + "\\Init\\start.ini", "init");
    ASSERT_TRUE(CopyFileA(VT_UNINSTALL_PATH, (install + "\\Uninstall.exe").c_str(), FALSE));
    SetupInfoRecord record;
    BuildSetupInfo(&record, program, "4.0", 1, 0, 0, install.c_str(), "", 0, 0, 0);
    ASSERT_TRUE(WriteSetupInfo(program, &record));
    // The shipped script's removal steps under the test's own program name.
    WriteWhole(work + "\\Uninstall.qis",
               Script({"PhaseBegin 0", "Set #PROGRAM#, VtWizardEndToEnd", "Set #TRYTIME#, 1000",
                       "PhaseEnd", "PhaseBegin 1", "CloseProgram #PROGRAM#",
                       "DeleteFile \"#INSTALLPATH#\\#PROGRAM#.exe\"",
                       "DeleteFile \"#INSTALLPATH#\\#PROGRAM#.scr\"",
                       "DeleteFile \"#INSTALLPATH#\\*.vtd\"",
                       "DeleteFile \"#INSTALLPATH#\\Init\\*.*\"",
                       "RemoveDir \"#INSTALLPATH#\\Init\"",
                       "DeleteRegVal LM, Software\\Kestrova, #PROGRAM#", "PhaseEnd"}));
    DWORD code = RunProgram("\"" + install + "\\Uninstall.exe\" -SILENT -WORKDIR=\"" + work + "\"",
                            work);
    EXPECT_EQ(0u, code);
    EXPECT_EQ("Uninstall finished successfully!\r\n", ReadWhole(work + "\\Uninstall.log"));
    EXPECT_FALSE(ReadSetupInfo(program, &record));
    EXPECT_FALSE(Exists(install + "\\" + program + ".exe"));
    EXPECT_FALSE(Exists(install + "\\Init"));
    // The uninstaller and its folder go once it has ended.
    for (int i = 0; i < 100 && Exists(install); i++)
        Sleep(100);
    EXPECT_FALSE(Exists(install + "\\Uninstall.exe"));
    EXPECT_FALSE(Exists(install));
    MoveFileExA((install + "\\Uninstall.exe").c_str(), 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    RemoveRecord(program);
    RemoveTree(root);
}

TEST(Uninstaller, FailedSilentRunKeepsItselfAndLogsTheFailure)
{
    std::string root = FreshTempFolder("wiz-e2e-fail");
    std::string install = root + "\\Program";
    CreateDirectoryA(install.c_str(), 0);
    ASSERT_TRUE(CopyFileA(VT_UNINSTALL_PATH, (install + "\\Uninstall.exe").c_str(), FALSE));
    WriteWhole(root + "\\Uninstall.qis",
               Script({"PhaseBegin 0", "Set #PROGRAM#, VtWizardEndToEndFail", "PhaseEnd",
                       "PhaseBegin 1", "Error 00000007", "PhaseEnd"}));
    DWORD code = RunProgram("\"" + install + "\\Uninstall.exe\" -SILENT", root);
    EXPECT_EQ((DWORD)SE_ERROR_COMMAND, code);
    // Without -WORKDIR= the log lands in the current folder.
    EXPECT_EQ("A critical error (code 00000007) has occurred! Uninstall can not continue!\n"
              "Please restart the computer and try again.\r\nUninstall failed!\r\n",
              ReadWhole(root + "\\Uninstall.log"));
    Sleep(500);
    EXPECT_TRUE(Exists(install + "\\Uninstall.exe"));
    RemoveTree(root);
}
