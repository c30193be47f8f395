// The setup script interpreter: variables, parsing, phases, conditions, the
// error protocol and the commands, run against a temporary folder and a
// registry key of the test's own.
#include "testutil.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>

#include "setup/script.h"
#include "setup/setupinfo.h"
#include "setup/sysactions.h"

// ---------------------------------------------------------------- a status window

struct StatusLog {
    std::vector<std::string> lines[2];
    std::vector<int> progress, errors;
    std::vector<int> answers;   // one per error, then the last again
    int phaseEnds = 0;
};
static StatusLog gLog;

static LRESULT CALLBACK StatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case SETUPM_STATUS:
        gLog.lines[wParam & 1].push_back((const char *)lParam);
        return 0;
    case SETUPM_PROGRESS:
        gLog.progress.push_back((int)wParam);
        return 0;
    case SETUPM_PHASEEND:
        gLog.phaseEnds++;
        return 0;
    case SETUPM_ERROR: {
        size_t n = gLog.errors.size();
        gLog.errors.push_back((int)wParam);
        return gLog.answers.empty() ? IDOK : gLog.answers[n < gLog.answers.size() ? n : gLog.answers.size() - 1];
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND StatusWindow()
{
    static HWND window = MakeStandInWindow("VtStatusRecorder", StatusProc, HWND_MESSAGE);
    return window;
}

// A fresh interpreter on the script; silent unless a window is asked for.
static void Load(const char *text, bool window = false, bool uninstall = false)
{
    ResetScript();
    SetScriptText(text);
    gScript.statusWindow = window ? StatusWindow() : 0;
    gScript.uninstallMode = uninstall;
    gLog = StatusLog();
}

static std::string Var(const char *name)
{
    return GetVariableText(name);
}

// ---------------------------------------------------------------- variables

TEST(Variables, SetGetAndTheLookupRule)
{
    Load("");
    EXPECT_EQ(0, SetVariable("#A#", "12.5"));
    EXPECT_EQ("12.5", Var("#A#"));
    EXPECT_DOUBLE_EQ(12.5, GetVariableNumber("#A#"));
    EXPECT_EQ("", Var("#B#"));
    EXPECT_EQ(-1, GetVariableNumber("#B#"));
    char buffer[8] = "keep";
    EXPECT_EQ(-1, CopyVariable("#B#", buffer, sizeof buffer));
    EXPECT_STREQ("keep", buffer);
    EXPECT_EQ(0, SetVariable("#TEXT#", "not a number"));
    EXPECT_EQ(0, GetVariableNumber("#TEXT#"));
    EXPECT_EQ(1, CopyVariable("#TEXT#", buffer, sizeof buffer));
    EXPECT_STREQ("not a n", buffer);   // cut to the buffer
    // A query matches when it begins with a variable's whole name.
    EXPECT_EQ("12.5", Var("#A#tail"));
    EXPECT_EQ("", Var("#a#"));   // case-sensitive
    // Set replaces only the variable of exactly that name.
    EXPECT_EQ(0, SetVariable("#A#B", "other"));
    EXPECT_EQ("12.5", Var("#A#"));
    EXPECT_EQ(0, SetVariable("#A#", "3"));
    EXPECT_EQ("3", Var("#A#"));
    EXPECT_EQ(3, gScript.variableCount);
}

TEST(Variables, LimitsAreKept)
{
    Load("");
    EXPECT_EQ(SE_NOT_STORED, SetVariable("", "x"));
    EXPECT_EQ(SE_NOT_STORED, SetVariable(std::string(32, 'N').c_str(), "x"));
    EXPECT_EQ(0, SetVariable(std::string(31, 'N').c_str(), "x"));
    EXPECT_EQ(0, SetVariable("#LONG#", std::string(2000, 'v').c_str()));
    EXPECT_EQ(519u, Var("#LONG#").size());
    for (int i = 0; i < 300; i++)   // the table grows
        ASSERT_EQ(0, SetVariable(("#V" + std::to_string(i) + "#").c_str(), std::to_string(i).c_str()));
    EXPECT_EQ("299", Var("#V299#"));
}

TEST(Variables, Substitution)
{
    Load("");
    SetVariable("#PROGRAM#", "Veltaspar");
    SetVariable("#PATH#", "C:\\Programs\\#PROGRAM#");
    SetVariable("#EMPTY#", "");
    char text[SCRIPT_VALUE_SIZE] = "#PATH#\\#PROGRAM#.exe #UNKNOWN# #EMPTY#.";
    SubstituteVariables(text);
    EXPECT_STREQ("C:\\Programs\\Veltaspar\\Veltaspar.exe #UNKNOWN# .", text);
    // A value that holds its own name grows only up to the limit.
    SetVariable("#SELF#", "x#SELF#");
    strcpy(text, "#SELF#");
    SubstituteVariables(text);
    EXPECT_EQ(519u, strlen(text));
    EXPECT_EQ(0, strncmp(text, "xxxx", 4));
    // A long result is cut, never overrun.
    SetVariable("#BIG#", std::string(500, 'b').c_str());
    char guarded[SCRIPT_VALUE_SIZE + 16];
    memset(guarded, '@', sizeof guarded);
    strcpy(guarded, "12345#BIG##BIG#end");
    SubstituteVariables(guarded);
    EXPECT_EQ(519u, strlen(guarded));
    EXPECT_EQ('@', guarded[SCRIPT_VALUE_SIZE]);
    EXPECT_EQ('@', guarded[SCRIPT_VALUE_SIZE + 15]);
}

// ---------------------------------------------------------------- parsing

TEST(Parsing, CommandNames)
{
    const char *arguments, *end;
    EXPECT_EQ(SC_STATUS, MatchCommand("  \r\n\tstatus hello\r\n", &arguments, &end));
    EXPECT_EQ(std::string("hello"), std::string(arguments, end));
    EXPECT_EQ(SC_STATUS2, MatchCommand("Status2 x", &arguments, &end));
    EXPECT_EQ(-1, MatchCommand("Statusbar x", &arguments, &end));
    EXPECT_EQ(-1, MatchCommand("; Set #A#, 1", &arguments, &end));
    EXPECT_EQ(-1, MatchCommand("Endif", &arguments, &end));   // nothing after it
    EXPECT_EQ(SC_ENDIF, MatchCommand("ENDIF\r", &arguments, &end));
    EXPECT_EQ(SC_ELSE, MatchCommand("Else\n", &arguments, &end));
    EXPECT_EQ(-1, MatchCommand("   ", &arguments, &end));
    EXPECT_EQ(SC_CREATEDIR, MatchCommand("CreateDir\r\nSet #A#, 1", &arguments, &end));
    EXPECT_EQ(arguments, end);   // the arguments never reach into the next line
}

static std::vector<std::string> Arguments(const char *line)
{
    std::vector<std::string> out;
    const char *cursor = line, *end = LineEnd(line);
    char buffer[SCRIPT_VALUE_SIZE];
    while (NextArgument(&cursor, end, buffer))
        out.push_back(buffer);
    return out;
}

TEST(Parsing, ArgumentSyntax)
{
    typedef std::vector<std::string> List;
    EXPECT_EQ(List({"a", "b c", "d"}), Arguments("a ,  b c\t, d  \r\nnext"));
    EXPECT_EQ(List({"x, y", "say \"hi\"", "he said \"no\""}),
              Arguments("\"x, y\", say ^hi^, \"he said ^no^\""));
    EXPECT_EQ(List({"a", "", "c"}), Arguments("a,   ,c"));
    EXPECT_EQ(List({"", "b"}), Arguments(",b"));
    EXPECT_EQ(List({"open quote, to the end"}), Arguments("\"open quote, to the end\r\nX"));
    EXPECT_EQ(List({"a"}), Arguments("a,"));
    EXPECT_EQ(List(), Arguments("   \r\n"));
    // An overlong argument is cut at 519 characters, the next one still read.
    std::string longLine = std::string(3000, 'q') + ",tail";
    List got = Arguments(longLine.c_str());
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(std::string(519, 'q'), got[0]);
    EXPECT_EQ("tail", got[1]);
    std::string quoted = "\"" + std::string(3000, 'w') + "\"";
    EXPECT_EQ(519u, Arguments(quoted.c_str())[0].size());
}

TEST(Parsing, LineEndsAndComments)
{
    const char *texts[] = {
        "PhaseBegin 0\rSet #A#, 1\rcomment Set #B#, 2\rSet #C#,3\rPhaseEnd\r",
        "PhaseBegin 0\r\nSet #A#, 1\r\ncomment Set #B#, 2\r\n  Set #C#,3\r\nPhaseEnd\r\n",
        "PhaseBegin 0\nSet #A#, 1\ncomment Set #B#, 2\n\n\nSet #C#,3\nPhaseEnd\n",
    };
    for (const char *text : texts) {
        Load(text);
        EXPECT_EQ(0, RunPhase(0));
        EXPECT_EQ("1", Var("#A#"));
        EXPECT_EQ(-1, CopyVariable("#B#", 0, 0));
        EXPECT_EQ("3", Var("#C#"));
    }
}

// ---------------------------------------------------------------- phases

TEST(Phases, FindingAndBounds)
{
    Load("Set #OUT#, before\r\nPhaseBegin 1\r\nSet #ONE#, 1\r\nPhaseBegin 7\r\nPhaseEnd\r\n"
         "PhaseBegin 0\r\nSet #ZERO#, #ONE#\r\nPhaseBegin 2\r\n Set #TWO#, 2\r\n");
    EXPECT_EQ(0, RunPhase(0));
    EXPECT_EQ("#ONE#", Var("#ZERO#"));   // phase 1 has not run
    EXPECT_EQ("2", Var("#TWO#"));        // a phase without PhaseEnd runs to the end
    EXPECT_EQ(-1, CopyVariable("#OUT#", 0, 0));
    EXPECT_EQ(0, RunPhase(1));
    EXPECT_EQ("1", Var("#ONE#"));
    EXPECT_EQ(0, RunPhase(3));           // phases 2 and 3 are optional
    Load("PhaseBegin 2\r\nPhaseEnd\r\n");
    EXPECT_EQ(SE_NO_PHASE, RunPhase(0));
    EXPECT_EQ(SE_NO_PHASE, RunPhase(1));
    Load(0);
    EXPECT_EQ(SE_SCRIPT_MISSING, RunPhase(0));
}

TEST(Phases, ProgressStatusAndEnd)
{
    Load("PhaseBegin 1\r\nStatus Working\r\n; a comment\r\nStatus2 one\\ntwo\r\nPhaseEnd\r\n",
         true);
    EXPECT_EQ(0, RunPhase(1));
    EXPECT_EQ(std::vector<std::string>({"Working"}), gLog.lines[0]);
    EXPECT_EQ(std::vector<std::string>({"one\r\ntwo"}), gLog.lines[1]);
    ASSERT_EQ(3u, gLog.progress.size());
    EXPECT_LT(gLog.progress[0], gLog.progress[1]);
    EXPECT_EQ(100, gLog.progress.back());
    EXPECT_EQ(1, gLog.phaseEnds);
}

// ---------------------------------------------------------------- conditions

TEST(Conditions, OperatorsNestingAndElse)
{
    Load("PhaseBegin 0\r\n"
         "If 5, <=, 5\r\nSet #LE#, yes\r\nEndif\r\n"
         "If Abc, =, aBC\r\nSet #EQ#, yes\r\nEndif\r\n"
         "If 10, >, 9.5, <, 20\r\nSet #RANGE#, yes\r\nElse\r\nSet #RANGE#, no\r\nEndif\r\n"
         "If 10, >, 9.5, <, 10\r\nSet #RANGE2#, yes\r\nElse\r\nSet #RANGE2#, no\r\nEndif\r\n"
         "If 1, ?, 1\r\nSet #UNKNOWN#, yes\r\nEndif\r\n"
         "If 1, =, 1, ?, 7\r\nSet #SECOND#, kept\r\nEndif\r\n"
         "If a, !, a\r\n"
         "  If 1, =, 1\r\n  Set #INNER#, ran\r\n  Else\r\n  Set #INNER#, else\r\n  Endif\r\n"
         "  Set #OUTER#, ran\r\n"
         "Else\r\n  Set #OUTERELSE#, ran\r\nEndif\r\n"
         "Set #AFTER#, ran\r\n");
    EXPECT_EQ(0, RunPhase(0));
    EXPECT_EQ("yes", Var("#LE#"));
    EXPECT_EQ("yes", Var("#EQ#"));
    EXPECT_EQ("yes", Var("#RANGE#"));
    EXPECT_EQ("no", Var("#RANGE2#"));
    EXPECT_EQ(-1, CopyVariable("#UNKNOWN#", 0, 0));
    EXPECT_EQ("kept", Var("#SECOND#"));
    EXPECT_EQ(-1, CopyVariable("#INNER#", 0, 0));
    EXPECT_EQ(-1, CopyVariable("#OUTER#", 0, 0));
    EXPECT_EQ("ran", Var("#OUTERELSE#"));
    EXPECT_EQ("ran", Var("#AFTER#"));
    EXPECT_EQ(0, gScript.conditionTop);
}

TEST(Conditions, VariablesAndWrongCounts)
{
    Load("PhaseBegin 0\r\nSet #OS#, 610\r\nIf #OS#, >=, 600\r\nSet #NEW#, 1\r\nEndif\r\n"
         "If 1, =\r\nSet #BROKEN#, ran\r\nEndif\r\nSet #END#, 1\r\n");
    EXPECT_EQ(SE_ARGUMENTS, RunPhase(0));   // silent: the phase stops
    EXPECT_EQ("1", Var("#NEW#"));
    EXPECT_EQ(-1, CopyVariable("#END#", 0, 0));
    // In the wizard, going on skips the broken block and keeps the nesting.
    Load("PhaseBegin 0\r\nIf 1, =, 1, =\r\nSet #BROKEN#, ran\r\nEndif\r\nSet #END#, 1\r\n", true);
    gLog.answers = {IDYES};
    EXPECT_EQ(0, RunPhase(0));
    EXPECT_EQ(-1, CopyVariable("#BROKEN#", 0, 0));
    EXPECT_EQ("1", Var("#END#"));
    EXPECT_EQ(std::vector<int>({SE_ARGUMENTS}), gLog.errors);
}

TEST(Conditions, DeepNestingStaysBalanced)
{
    std::string text = "PhaseBegin 0\r\nIf 1, =, 2\r\n";
    for (int i = 0; i < 150; i++)
        text += "If 1, =, 1\r\nElse\r\n";
    text += "Set #DEEP#, ran\r\n";
    for (int i = 0; i < 150; i++)
        text += "Endif\r\n";
    text += "Else\r\nSet #TOP#, else\r\nEndif\r\nSet #END#, 1\r\n";
    Load(text.c_str());
    EXPECT_EQ(0, RunPhase(0));
    EXPECT_EQ(-1, CopyVariable("#DEEP#", 0, 0));
    EXPECT_EQ("else", Var("#TOP#"));
    EXPECT_EQ("1", Var("#END#"));
}

// ---------------------------------------------------------------- the error protocol

static const char kFailing[] = "PhaseBegin 1\r\nSet #A#, 1\r\nError boom #A#\r\nSet #B#, 2\r\n";

TEST(ErrorProtocol, SilentStopsUninstallGoesOn)
{
    Load(kFailing);
    EXPECT_EQ(SE_ERROR_COMMAND, RunPhase(1));
    EXPECT_EQ("boom 1", Var("#LASTERROR#"));
    EXPECT_EQ(-1, CopyVariable("#B#", 0, 0));
    Load(kFailing, true, true);
    EXPECT_EQ(SE_ERROR_COMMAND, RunPhase(1));
    EXPECT_EQ("2", Var("#B#"));
    EXPECT_TRUE(gLog.errors.empty());   // uninstall shows no error
    EXPECT_EQ(1, gLog.phaseEnds);
}

TEST(ErrorProtocol, WizardAnswers)
{
    Load(kFailing, true);
    gLog.answers = {IDYES};
    EXPECT_EQ(0, RunPhase(1));
    EXPECT_EQ("2", Var("#B#"));
    EXPECT_EQ(1, gLog.phaseEnds);
    for (int stop : {IDOK, IDCANCEL, IDNO}) {
        Load(kFailing, true);
        gLog.answers = {stop};
        EXPECT_EQ(SE_ERROR_COMMAND, RunPhase(1));
        EXPECT_EQ(-1, CopyVariable("#B#", 0, 0));
        EXPECT_EQ(0, gLog.phaseEnds);
    }
    // Retry runs the same line again, here until the third answer.
    Load("PhaseBegin 1\r\nCreateDir \"\"\r\nSet #B#, 2\r\n", true);
    gLog.answers = {IDRETRY, IDRETRY, IDYES};
    EXPECT_EQ(0, RunPhase(1));
    EXPECT_EQ(std::vector<int>({SE_CREATEDIR, SE_CREATEDIR, SE_CREATEDIR}), gLog.errors);
    EXPECT_EQ("2", Var("#B#"));
}

TEST(ErrorProtocol, UninstallEndsWithTheLastError)
{
    std::string folder = FreshTempFolder("script-rmdir");
    WriteWhole(folder + "\\keep.txt", "x");
    std::string text = "PhaseBegin 1\r\nRemoveDir " + folder + "\r\nSet #B#, 2\r\n";
    Load(text.c_str(), true, true);
    EXPECT_EQ(SE_REMOVEDIR, RunPhase(1));
    EXPECT_EQ("2", Var("#B#"));
    RemoveTree(folder);
}

TEST(ErrorProtocol, MessagesForErrors)
{
    struct { int error, message; UINT buttons; } table[] = {
        {6, 1013, MB_RETRYCANCEL}, {7, 1035, MB_RETRYCANCEL}, {8, 1015, MB_RETRYCANCEL},
        {24, 1015, MB_RETRYCANCEL}, {9, 1018, MB_OK}, {11, 1022, MB_OK},
        {15, 1007, MB_YESNOCANCEL}, {16, 1009, MB_OK}, {29, 1045, MB_OK}, {32, 1008, MB_OK},
        {33, 1002, MB_OK}, {34, 1004, MB_YESNOCANCEL}, {35, 1023, MB_OK}, {3, 1001, MB_OK},
        {12, 1001, MB_OK}, {28, 1001, MB_OK}, {-5, 1001, MB_OK}};
    for (auto &row : table) {
        UINT flags = 0;
        EXPECT_EQ(row.message, ScriptErrorMessage(row.error, &flags)) << row.error;
        EXPECT_EQ(row.buttons | MB_ICONSTOP, flags) << row.error;
    }
}

// ---------------------------------------------------------------- commands

static std::string gFolder;

class Commands : public ::testing::Test {
protected:
    void SetUp() override
    {
        gFolder = FreshTempFolder("script-commands");
        SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\VtSetupEngineTest");
    }
    void TearDown() override
    {
        RemoveTree(gFolder);
        SHDeleteKeyA(HKEY_CURRENT_USER, "Software\\VtSetupEngineTest");
    }
    // Runs phase 1 of the lines with #DIR# set to the folder.
    int Run(const std::string &lines, bool window = true)
    {
        script = "PhaseBegin 0\r\nPhaseEnd\r\nPhaseBegin 1\r\n" + lines + "PhaseEnd\r\n";
        Load(script.c_str(), window);
        SetVariable("#DIR#", gFolder.c_str());
        gLog.answers = {IDOK};
        return RunPhase(1);
    }
    std::string script;
};

static std::string RegText(const char *key, const char *name)
{
    char value[600] = "<none>";
    DWORD size = sizeof value;
    if (SHGetValueA(HKEY_CURRENT_USER, key, name, 0, value, &size) != ERROR_SUCCESS)
        return "<none>";
    return value;
}

TEST_F(Commands, ArgumentCounts)
{
    const char *lines[] = {"Set #A#\r\n", "CopyFile a\r\n", "CreateLink a\r\n",
                           "CreateRegValSz CU, k, v\r\n", "DeleteRegVal CU, k\r\n",
                           "PatchFile a, b\r\n", "CreateDir\r\n", "Status\r\n"};
    for (const char *line : lines)
        EXPECT_EQ(SE_ARGUMENTS, Run(line)) << line;
    EXPECT_EQ(SE_CREATEDIR, Run("CreateDir \"\"\r\n"));
    EXPECT_EQ(SE_CREATEDIR, Run("CreateDir  ,\r\n"));
}

TEST_F(Commands, SetSubstitutesOnlyTheValue)
{
    EXPECT_EQ(0, Run("Set #EARLY#, #X#\r\nSet #X#, \"a, #DIR#, ^q^\"\r\nSet #N#, #X#\r\n"
                     "Set #X#, replaced\r\n"));
    EXPECT_EQ("#X#", Var("#EARLY#"));   // substituted when set, not later
    EXPECT_EQ("a, " + gFolder + ", \"q\"", Var("#N#"));
    EXPECT_EQ("replaced", Var("#X#"));   // the name itself is not substituted
    EXPECT_EQ(SE_NOT_STORED, Run("Set #THIS-NAME-IS-FAR-TOO-LONG-FOR-A#, x\r\n"));
    EXPECT_EQ("Setting variable...", gLog.lines[0].at(0));
}

TEST_F(Commands, FoldersAndFiles)
{
    WriteWhole(gFolder + "\\a.txt", "A");
    WriteWhole(gFolder + "\\b.txt", "B");
    WriteWhole(gFolder + "\\c.dat", "C");
    EXPECT_EQ(0, Run("CreateDir #DIR#\\new\\deep\r\n"
                     "CopyFile #DIR#\\a.txt, #DIR#\\new\\deep\r\n"
                     "CopyFile #DIR#\\b.txt, #DIR#\\new\\renamed.txt, SILENT\r\n"
                     "CopyFile Stored.bin, #DIR#\\new\\\r\n"
                     "CreateDir #DIR#\\x.txt\r\n"
                     "DeleteFile #DIR#\\*.txt\r\n"
                     "RemoveDir #DIR#\\new\\deep\\gone\r\n"
                     "ChangeNotify #DIR#\r\n"));
    EXPECT_EQ("A", ReadWhole(gFolder + "\\new\\deep\\a.txt"));
    EXPECT_EQ("B", ReadWhole(gFolder + "\\new\\renamed.txt"));
    EXPECT_EQ(256u, ReadWhole(gFolder + "\\new\\Stored.bin").size());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((gFolder + "\\a.txt").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((gFolder + "\\b.txt").c_str()));
    EXPECT_EQ("C", ReadWhole(gFolder + "\\c.dat"));
    EXPECT_TRUE(PathIsDirectoryA((gFolder + "\\x.txt").c_str()));   // folders are skipped
    EXPECT_EQ("Creating folder: " + gFolder + "\\new\\deep", gLog.lines[0].at(0));
    EXPECT_EQ("Copying file: " + gFolder + "\\new\\deep", gLog.lines[0].at(1));
    std::vector<std::string> &s = gLog.lines[0];
    EXPECT_TRUE(std::find(s.begin(), s.end(), "Deleting file: " + gFolder + "\\a.txt") != s.end());
    EXPECT_EQ("Applying changes: " + gFolder, s.back());
    EXPECT_EQ(SE_NOT_IN_ARCHIVE, Run("CopyFile NotThere.bin, #DIR#\r\n"));
    EXPECT_EQ(SE_COPY, Run("CopyFile BadPass.txt, #DIR#\r\n"));
    EXPECT_EQ(SE_REMOVEDIR, Run("RemoveDir #DIR#\\new\r\n"));
    EXPECT_EQ(0, Run("DeleteFile #DIR#\\nothing*.none\r\n"));
}

TEST_F(Commands, PatchAndLinks)
{
    WriteWhole(gFolder + "\\source.bin", "0123456789");
    WriteWhole(gFolder + "\\Program.exe", "MZ");
    // No target folder yet; then a source that is nowhere.
    EXPECT_EQ(SE_COPY, Run("PatchFile #DIR#\\source.bin, Patch.pat, #DIR#\\patched\r\n"));
    EXPECT_EQ(SE_NOT_IN_ARCHIVE, Run("PatchFile #DIR#\\missing.bin, Patch.pat, #DIR#\r\n"));
    EXPECT_EQ("Patching file: " + gFolder + "\\missing.bin", gLog.lines[0].back());
    CreateDirectoryA((gFolder + "\\patched").c_str(), 0);
    EXPECT_EQ(0, Run("PatchFile #DIR#\\source.bin, Patch.pat, #DIR#\\patched\r\n"));
    EXPECT_EQ("AB234567xyz", ReadWhole(gFolder + "\\patched\\Patch.pat"));
    EXPECT_EQ(SE_PATCH, Run("PatchFile #DIR#\\source.bin, ..\\Patch.pat, #DIR#\\patched\r\n"));
    EXPECT_EQ(0, Run("CreateLink #DIR#\\Program.exe, #DIR#\\Menu\\Program, -X\r\n"
                     "CreateLink http://www.example.com/, #DIR#\\Menu\\Web\r\n"));
    EXPECT_EQ("Creating link: " + gFolder + "\\Menu\\Program", gLog.lines[0].at(0));
    EXPECT_GT(ReadWhole(gFolder + "\\Menu\\Program.lnk").size(), 40u);
    EXPECT_EQ("[InternetShortcut]\r\nURL=http://www.example.com/",
              ReadWhole(gFolder + "\\Menu\\Web.url"));
    WriteWhole(gFolder + "\\blocker", "x");
    EXPECT_EQ(SE_LINK, Run("CreateLink #DIR#\\Program.exe, #DIR#\\blocker\\Program\r\n"));
}

TEST_F(Commands, Registry)
{
    const char *key = "Software\\VtSetupEngineTest\\Script";
    EXPECT_EQ(0, Run("CreateRegValSz CU, Software\\VtSetupEngineTest\\Script, Path, #DIR#\r\n"
                     "CreateRegValDW HKEY_CURRENT_USER, Software\\VtSetupEngineTest\\Script, "
                     "Count, 4294967295\r\n"
                     "CreateRegValSz cu, Software\\VtSetupEngineTest\\Script\\Sub\\Deep, V, x, x64\r\n"
                     "CreateRegValSz CU, Software\\VtSetupEngineTest\\Script, Gone, x\r\n"
                     "DeleteRegVal CU, Software\\VtSetupEngineTest\\Script, Gone\r\n"
                     "DeleteRegVal CU, Software\\VtSetupEngineTest\\Nothing, Gone\r\n"));
    EXPECT_EQ(gFolder, RegText(key, "Path"));
    DWORD number = 0, size = sizeof number;
    EXPECT_EQ(ERROR_SUCCESS, SHGetValueA(HKEY_CURRENT_USER, key, "Count", 0, &number, &size));
    EXPECT_EQ(0xFFFFFFFFu, number);
    EXPECT_EQ("x", RegText("Software\\VtSetupEngineTest\\Script\\Sub\\Deep", "V"));
    EXPECT_EQ("<none>", RegText(key, "Gone"));
    EXPECT_EQ("Creating Registry value: Path=" + gFolder, gLog.lines[0].at(0));
    EXPECT_EQ(0, Run("DeleteRegKey CU, Software\\VtSetupEngineTest\\Script, x64\r\n"
                     "DeleteRegKey CU, Software\\VtSetupEngineTest\\Script\r\n"));
    EXPECT_EQ("<none>", RegText(key, "Path"));
    EXPECT_EQ("Deleting Registry key: Software\\VtSetupEngineTest\\Script", gLog.lines[0].at(0));
    EXPECT_EQ(SE_REG_SZ, Run("CreateRegValSz HKU, Software\\VtSetupEngineTest, a, b\r\n"));
    EXPECT_EQ(SE_REG_DWORD, Run("CreateRegValDW XX, Software\\VtSetupEngineTest, a, 1\r\n"));
    EXPECT_EQ(SE_REG_DELETE_KEY, Run("DeleteRegKey XX, Software\\VtSetupEngineTest\r\n"));
    EXPECT_EQ(SE_REG_DELETE_VALUE, Run("DeleteRegVal XX, Software\\VtSetupEngineTest, a\r\n"));
    // An empty key would be the whole root.
    EXPECT_EQ(SE_REG_DELETE_KEY, Run("DeleteRegKey CU, \"\"\r\nDeleteRegKey CU, \\\r\n"));
}

TEST_F(Commands, ProgramsAndMessages)
{
    char program[MAX_PATH];
    GetModuleFileNameA(0, program, MAX_PATH);
    SetVariable("#ME#", program);
    std::string call = std::string("Call ") + program + ", --vt-child=exit:48879, , Hide\r\n";
    EXPECT_EQ(0, Run(call));
    EXPECT_EQ("0000beef", Var("#LASTERROR#"));
    EXPECT_EQ("Executing: " + std::string(program), gLog.lines[0].at(0));
    EXPECT_EQ(SE_NOT_STARTED, Run("Call #DIR#\\none.exe\r\n"));
    EXPECT_EQ("0", Var("#LASTERROR#"));
    EXPECT_EQ(0, Run("Call #DIR#\\none.exe, , , , SILENT\r\n"));
    EXPECT_EQ(0, Run("Run #DIR#\\none.exe\r\nRun #DIR#\\none.txt, , Elevated\r\n"));
    EXPECT_EQ(0, Run("StopService VtNoSuchService\r\nCloseProgram VtNoSuchProgram\r\n"
                     "PhaseBegin 9\r\nStatus \"a, b\"\r\n"));
    EXPECT_EQ("Stopping service: VtNoSuchService", gLog.lines[0].at(0));
    EXPECT_EQ("Closing program...", gLog.lines[0].at(1));
    EXPECT_EQ("a, b", gLog.lines[0].at(2));
}

TEST_F(Commands, ActingAsTheDesktopUser)
{
    EXPECT_EQ(0, Run("Set #REALUSER#, 1\r\nCreateDir #DIR#\\user\r\n"
                     "CreateRegValSz CU, Software\\VtSetupEngineTest\\User, V, as user\r\n"));
    EXPECT_TRUE(PathIsDirectoryA((gFolder + "\\user").c_str()));
    EXPECT_EQ("as user", RegText("Software\\VtSetupEngineTest\\User", "V"));
    HANDLE token = 0;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));   // reverted
}

TEST_F(Commands, CreateSetupInfoWritesTheRecord)
{
    EXPECT_EQ(0, Run("Set #FORWHO#, 1\r\nSet #CUSTOMLOC#, 1\r\nSet #INDIVIDUAL#, 0\r\n"
                     "Set #INSTALLPATH#, #DIR#\\Program\r\nSet #CUSTOMPATH#, #DIR#\\Data\r\n"
                     "Set #BUYURL#, http://buy.example/\r\n"
                     "CreateSetupInfo VtScriptTestProgram, 3.10\r\n"));
    SetupInfoRecord record;
    ASSERT_TRUE(ReadSetupInfo("VtScriptTestProgram", &record));
    EXPECT_EQ(3, record.versionMajor);
    EXPECT_EQ(10, record.versionMinor);
    EXPECT_EQ(1, record.forWhom);
    EXPECT_EQ(gFolder + "\\Program", record.installPath);
    EXPECT_STREQ("http://buy.example/", record.buyUrl);
    EXPECT_STREQ("", record.versionUrl);
    EXPECT_EQ(gFolder + "\\Data", Var("#CONFIGPATH#"));
    EXPECT_EQ(SE_ARGUMENTS, Run("CreateSetupInfo VtScriptTestProgram\r\n"));
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Kestrova", 0, KEY_SET_VALUE, &key) == 0) {
        RegDeleteValueA(key, "VtScriptTestProgram");
        RegCloseKey(key);
    }
}

TEST_F(Commands, LogonTriggerFailureIsGoneOnFrom)
{
    EXPECT_EQ(0, Run("LogonTrigger VtSetupEngineNoTask\r\nSet #AFTER#, 1\r\n"));
    EXPECT_EQ("1", Var("#AFTER#"));
    EXPECT_EQ("Deleting startup task", gLog.lines[0].at(0));
    // Where the scheduler cannot define the task (Wine's cannot set the run
    // level), ten tries end in 33, after which the wizard goes on whatever
    // it answers.
    int step = CreateLogonTask("VtSetupEngineTask", "C:\\windows\\notepad.exe", "");
    if (step == 0) {
        CreateLogonTask("VtSetupEngineTask", "", "");
        return;
    }
    DWORD start = GetTickCount();
    EXPECT_EQ(0, Run("LogonTrigger VtSetupEngineTask, C:\\windows\\notepad.exe, -x\r\n"
                     "Set #AFTER#, 2\r\n"));
    EXPECT_GE(GetTickCount() - start, 8900u);
    EXPECT_EQ("Creating startup task", gLog.lines[0].at(0));
    EXPECT_EQ(std::vector<int>({SE_TASK_SCHEDULER}), gLog.errors);
    char code[16];
    snprintf(code, sizeof code, "%08x", step);
    EXPECT_EQ(code, Var("#LASTERROR#"));
    EXPECT_EQ("2", Var("#AFTER#"));
    CreateLogonTask("VtSetupEngineTask", "", "");
}

// ---------------------------------------------------------------- built-in variables

TEST(BuiltIns, BeforeAndAfterPhaseZero)
{
    Load("");
    SetBuiltInVariables(true, false);
    EXPECT_EQ("Uninstall", Var("#SETUPMODE#"));
    EXPECT_EQ("\r\n", Var("#CRLF#"));
    EXPECT_GE(CopyVariable("#EULA#", 0, 0), 0);
    EXPECT_EQ(std::to_string(SystemVersionCode()), Var("#OS#"));
    EXPECT_EQ(Is64BitSystem() ? "1" : "0", Var("#64#"));
    std::string windows = Var("#WINDOWSDIR#");
    ASSERT_FALSE(windows.empty());
    EXPECT_NE('\\', windows.back());
    EXPECT_EQ("\\Drivers", Var("#DRIVERSDIR#").substr(Var("#DRIVERSDIR#").size() - 8));
    EXPECT_EQ(Var("#STARTMENUUSR#"), Var("#STARTMENUDIR#"));
    EXPECT_FALSE(Var("#DESKTOPDIRUSR#").empty());
    EXPECT_EQ(SETUP_MAKER_URL, Var("#BUYURL#"));
    SetVariable("#PROGRAM#", "VtNoRecordProgram");
    SetDerivedVariables();
    EXPECT_EQ("0.0", Var("#CURVER#"));
    EXPECT_EQ("1", Var("#FORWHO#"));
    EXPECT_EQ("0", Var("#CUSTOMLOC#"));
    EXPECT_EQ("1", Var("#SELSTARTMENU#"));
    EXPECT_EQ(Var("#STARTMENUALL#"), Var("#STARTMENUDIR#"));   // for all users
    std::string install = Var("#INSTALLPATH#");
    EXPECT_EQ("\\VtNoRecordProgram", install.substr(install.size() - 18));
    EXPECT_EQ("\\Kestrova\\VtNoRecordProgram",
              Var("#CUSTOMPATH#").substr(Var("#CUSTOMPATH#").size() - 27));
    EXPECT_EQ(Var("#CUSTOMPATH#"), Var("#CONFIGPATH#"));
    // A data folder from the command line makes the installation personal.
    Load("");
    SetBuiltInVariables(false, true);
    EXPECT_EQ("Setup", Var("#SETUPMODE#"));
    EXPECT_EQ(Var("#STARTMENUALL#"), Var("#STARTMENUDIR#"));
    SetVariable("#PROGRAM#", "VtNoRecordProgram");
    SetVariable("#CUSTOMPATH#", "D:\\Data");
    SetVariable("#INSTALLPATH#", "D:\\Prog");
    SetDerivedVariables();
    EXPECT_EQ("0", Var("#FORWHO#"));
    EXPECT_EQ("1", Var("#CUSTOMLOC#"));
    EXPECT_EQ("D:\\Prog", Var("#INSTALLPATH#"));
    EXPECT_EQ("D:\\Data", Var("#CONFIGPATH#"));
}
