#include <gtest/gtest.h>

#include "fake_fixture.h"

namespace launcher {
namespace {

class StartupTest : public FakeTest {};

struct CommandLineCase {
  const char* command_line;
  bool silent;
  const char* extra_args;
};

class CommandLineCases : public StartupTest,
                         public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineCases, SetModeAndExtraArguments) {
  const CommandLineCase& c = GetParam();
  fake.command_line = c.command_line;
  fake.started_app_lifetime_ms = 2000;  // a silent launcher waits for its end
  EXPECT_TRUE(RunMain());
  EXPECT_EQ(g.gblnSilent, c.silent) << c.command_line;
  EXPECT_EQ(g.gstrExtraArgs, c.extra_args) << c.command_line;
  ASSERT_EQ(fake.starts.size(), 1u);
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(fake.TraceMessages()[1], std::string("Silent Mode: ") + (c.silent ? "True" : "False"));
}

INSTANTIATE_TEST_SUITE_P(Switches,
                         CommandLineCases,
                         ::testing::Values(CommandLineCase{"", false, ""},
                                           CommandLineCase{"-s", true, ""},
                                           CommandLineCase{"x-s", true, ""},
                                           CommandLineCase{"--silent", true, ""},
                                           CommandLineCase{"-S", false, ""},
                                           CommandLineCase{"-c a b", false, "a b"},
                                           CommandLineCase{"-c a -s", false, "a -s"},
                                           CommandLineCase{"-s -c a", true, "a"},
                                           CommandLineCase{"-cabc", false, "bc"},
                                           CommandLineCase{"-cx", false, ""},
                                           CommandLineCase{"-c   spaced  out  ", false,
                                                           "spaced  out"},
                                           CommandLineCase{"-c\xC3\xA9x", false, "x"},
                                           CommandLineCase{"-s -c -c a", true, "-c a"}));

TEST_F(StartupTest, CommandLineEndingInItsFirstSwitchShowsBoxAndStartsNothing) {
  fake.command_line = "-s x -c";
  EXPECT_FALSE(RunMain());
  EXPECT_TRUE(fake.starts.empty());
  EXPECT_FALSE(g.gblnAppStarted);
  ASSERT_EQ(fake.boxes.size(), 1u);
  // The display name is not read yet: insert 1 is empty.
  EXPECT_EQ(fake.boxes[0].title, " startup error");
  EXPECT_EQ(fake.boxes[0].style, 16);
  EXPECT_EQ(fake.boxes[0].text.rfind(" was unable to start correctly.\r\n", 0), 0u);
  EXPECT_NE(fake.boxes[0].text.find(
                "Details: QUARVENlauncher : Invalid procedure call or argument (launcher)"),
            std::string::npos);
}

TEST_F(StartupTest, FoldersFollowTheExecutable) {
  fake.exe_folder = "D:\\Apps\\Quarven";
  RunMain();
  EXPECT_EQ(g.gstrBinPath, "D:\\Apps\\Quarven\\bin\\");
  EXPECT_EQ(g.gstrIniFile, "D:\\Apps\\Quarven\\bin\\launcher.ini");
}

TEST_F(StartupTest, DriveRootDoublesTheSeparator) {
  fake.exe_folder = "E:\\";
  RunMain();
  EXPECT_EQ(g.gstrBinPath, "E:\\\\bin\\");
  EXPECT_EQ(g.gstrIniFile, "E:\\\\bin\\launcher.ini");
  EXPECT_EQ(fake.current_drive, 'E');
}

TEST_F(StartupTest, MissingSettingsFileMeansDefaults) {
  fake.files.clear();
  EXPECT_TRUE(RunLauncher());
  EXPECT_EQ(g.gstrAppName, "QUARVENlauncher");
  ASSERT_EQ(fake.starts.size(), 1u);
  EXPECT_EQ(fake.starts[0].command_line,
            "\"C:\\Program Files\\Quarven\\bin\\xulrunner\\quarven.exe\" bin\\ "
            "-contentLocale en-US -UILocale en-US");
  EXPECT_TRUE(g.gblnAppStarted);
  // The default duration asks for a splash whose default picture is no file.
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher DisplaySplash: File not found "
                                    "(launcher)"),
            std::string::npos);
  EXPECT_FALSE(g.gblnSplash);
}

TEST_F(StartupTest, DisplayNameComesFromSettings) {
  WriteIni("[resources]\r\nname=Quarven Desktop\r\nsplashDuration=0\r\n");
  RunMain();
  EXPECT_EQ(g.gstrAppName, "Quarven Desktop");
}

TEST_F(StartupTest, PlainRunTracesStartModeCommandAndStop) {
  EXPECT_TRUE(RunMain());
  const auto messages = fake.TraceMessages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], "App Start...");
  EXPECT_EQ(messages[1], "Silent Mode: False");
  EXPECT_EQ(messages[2], fake.starts.at(0).command_line);
  EXPECT_EQ(messages[3], "App Stop...");
}

TEST_F(StartupTest, BrokenSettingsLineReportedByMainAndNothingStarted) {
  WriteIni("[resources]\r\nname\r\n");
  EXPECT_FALSE(RunMain());
  EXPECT_TRUE(fake.starts.empty());
  const auto messages = fake.TraceMessages();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[2],
            "QUARVENlauncher GetINISettingsError: #5 | Invalid procedure call or argument | "
            "launcher");
  EXPECT_EQ(messages[3],
            "QUARVENlauncher : #4646 | Invalid procedure call or argument | "
            "QUARVENlauncher GetINISettingsError");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].title, " startup error");
  const std::string& text = fake.boxes[0].text;
  const std::string tail = "(QUARVENlauncher GetINISettingsError)";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(StartupTest, FailureBeforeSilentModeIsKnownStillShowsBox) {
  fake.Fail(FakeService::kCommandLine, kErrOutOfMemory);
  EXPECT_FALSE(RunMain());
  EXPECT_EQ(fake.boxes.size(), 1u);
}

TEST_F(StartupTest, SilentFailureShowsNoBox) {
  fake.command_line = "-s";
  fake.started_app_lifetime_ms = 2000;
  WriteIni("[resources]\r\nname\r\n");
  EXPECT_FALSE(RunMain());
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(fake.TraceMessages().size(), 4u);
}

}  // namespace
}  // namespace launcher
