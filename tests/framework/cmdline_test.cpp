#include <gtest/gtest.h>

#include <string.h>

#include "framework/application.h"

static CApplication::SwitchRecord &Switch(int i) { return gApp.switches.data[i]; }

TEST(CommandLine, TwoFrameworkSwitches)
{
    EXPECT_EQ(gApp.ParseCommandLine("-WAITFORDATAPATH -AUTOSTART"), 1);
    ASSERT_EQ(gApp.switches.count, 2);
    EXPECT_STREQ(Switch(0).name, "-WAITFORDATAPATH");
    EXPECT_EQ(Switch(0).arguments.count, 0);
    EXPECT_STREQ(Switch(1).name, "-AUTOSTART");
    EXPECT_EQ(gApp.autoStart, 1);
}

TEST(CommandLine, QuotedArgumentKeepsBlanks)
{
    EXPECT_EQ(gApp.ParseCommandLine("-profile \"My Earth\" x"), 0);
    ASSERT_EQ(gApp.switches.count, 1);
    EXPECT_STREQ(Switch(0).name, "-profile");
    ASSERT_EQ(Switch(0).arguments.count, 2);
    EXPECT_STREQ(Switch(0).arguments.data[0], "My Earth");
    EXPECT_STREQ(Switch(0).arguments.data[1], "x");
    EXPECT_EQ(gApp.FindSwitch("-PROFILE"), 0);
    EXPECT_EQ(gApp.FindSwitch("-prof"), -1);
}

TEST(CommandLine, ArgumentBeforeAnySwitch)
{
    gApp.ParseCommandLine("foo -a");
    ASSERT_EQ(gApp.switches.count, 2);
    EXPECT_STREQ(Switch(0).name, "");
    ASSERT_EQ(Switch(0).arguments.count, 1);
    EXPECT_STREQ(Switch(0).arguments.data[0], "foo");
    EXPECT_STREQ(Switch(1).name, "-a");
}

TEST(CommandLine, QuitWinsOverWait)
{
    EXPECT_EQ(gApp.ParseCommandLine("-quit -waitfordatapath"), -1);
    EXPECT_EQ(gApp.ParseCommandLine("-WAITFORDATAPATH -QUIT"), -1);
    EXPECT_EQ(gApp.ParseCommandLine("-QUITE"), 0);   // whole token only
}

TEST(CommandLine, SecondParseClearsFlags)
{
    gApp.ParseCommandLine("-MINIMIZE -TASKSCHEDULER -AUTOSTART");
    EXPECT_EQ(gApp.minimize, 1);
    EXPECT_EQ(gApp.taskScheduler, 1);
    gApp.autoStart = 1;
    EXPECT_EQ(gApp.ParseCommandLine("-other"), 0);
    EXPECT_EQ(gApp.minimize, 0);
    EXPECT_EQ(gApp.taskScheduler, 0);
    EXPECT_EQ(gApp.autoStart, 0);
    ASSERT_EQ(gApp.switches.count, 1);
    EXPECT_EQ(gApp.ParseCommandLine(""), 0);
    EXPECT_EQ(gApp.switches.count, 0);
    EXPECT_EQ(gApp.ParseCommandLine(nullptr), 0);
}

TEST(CommandLine, BlanksAndOpenQuote)
{
    gApp.ParseCommandLine("   -a    b   \"c d");
    ASSERT_EQ(gApp.switches.count, 1);
    ASSERT_EQ(Switch(0).arguments.count, 2);
    EXPECT_STREQ(Switch(0).arguments.data[0], "b");
    EXPECT_STREQ(Switch(0).arguments.data[1], "c d");
    gApp.ParseCommandLine("-a \"\" \"x\"y");   // empty quoted token, then a glued one
    ASSERT_EQ(Switch(0).arguments.count, 3);
    EXPECT_STREQ(Switch(0).arguments.data[0], "");
    EXPECT_STREQ(Switch(0).arguments.data[1], "x");
    EXPECT_STREQ(Switch(0).arguments.data[2], "y");
}

TEST(CommandLine, LongTokensAreCut)
{
    std::string longName = "-" + std::string(400, 'n');
    std::string longArg(500, 'a');
    std::string quoted = "\"" + std::string(600, 'q') + "\"";
    std::string line = longName + " " + longArg + " " + quoted;
    gApp.ParseCommandLine(line.c_str());
    ASSERT_EQ(gApp.switches.count, 1);
    EXPECT_EQ(strlen(Switch(0).name), 259u);
    ASSERT_EQ(Switch(0).arguments.count, 2);
    EXPECT_EQ(strlen(Switch(0).arguments.data[0]), 259u);
    EXPECT_EQ(strlen(Switch(0).arguments.data[1]), 259u);
    EXPECT_EQ(Switch(0).arguments.data[1][0], 'q');
}

TEST(CommandLine, ManySwitchesAndArguments)
{
    std::string line;
    for (int i = 0; i < 50; i++)
        line += "-s" + std::to_string(i) + " a" + std::to_string(i) + " b ";
    gApp.ParseCommandLine(line.c_str());
    ASSERT_EQ(gApp.switches.count, 50);
    EXPECT_STREQ(Switch(49).name, "-s49");
    EXPECT_STREQ(Switch(49).arguments.data[0], "a49");
    EXPECT_EQ(gApp.FindSwitch("-S17"), 17);
}
