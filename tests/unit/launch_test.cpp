#include <gtest/gtest.h>

#include "fake_fixture.h"

namespace launcher {
namespace {

class LaunchTest : public FakeTest {
 protected:
  const FakeStart& OnlyStart() {
    EXPECT_EQ(fake.starts.size(), 1u);
    return fake.starts.at(0);
  }
};

struct LaunchCase {
  const char* name;
  const char* command_line;
  const char* ini;
  const char* expected;  // after the quoted executable of the default installation
};

constexpr const char* kExe = "\"C:\\Program Files\\Quarven\\bin\\xulrunner\\quarven.exe\"";

class LaunchCases : public LaunchTest, public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchCases, BuildsTheCommandLine) {
  const LaunchCase& c = GetParam();
  fake.command_line = c.command_line;
  WriteIni(c.ini);
  EXPECT_TRUE(RunMain());
  EXPECT_EQ(OnlyStart().command_line, std::string(kExe) + c.expected) << c.name;
  EXPECT_EQ(OnlyStart().window_style, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Settings,
    LaunchCases,
    ::testing::Values(
        LaunchCase{"defaults", "", "", " bin\\ -contentLocale en-US -UILocale en-US"},
        LaunchCase{"inifile", "",
                   "[resources]\r\nsplashDuration=0\r\n[app]\r\ninifile=quarven.ini\r\n",
                   " bin\\quarven.ini -contentLocale en-US -UILocale en-US"},
        LaunchCase{"inifile with space stays unquoted", "",
                   "[resources]\r\nsplashDuration=0\r\n[app]\r\ninifile=my app.ini\r\n",
                   " bin\\my app.ini -contentLocale en-US -UILocale en-US"},
        LaunchCase{"localization", "",
                   "[resources]\r\nsplashDuration=0\r\n[app]\r\nlocalization=fr-FR\r\n",
                   " bin\\ -contentLocale fr-FR -UILocale fr-FR"},
        LaunchCase{"extra arguments", "-c a b", "",
                   " bin\\ -contentLocale en-US -UILocale en-US a b"},
        LaunchCase{"empty extra arguments add nothing", "-c ", "",
                   " bin\\ -contentLocale en-US -UILocale en-US"},
        LaunchCase{"all together", "-c -jsconsole \"x y\"",
                   "[resources]\r\nname=Q\r\nsplashDuration=0\r\n[app]\r\ninifile=q."
                   "ini\r\nlocalization=de-DE\r\n",
                   " bin\\q.ini -contentLocale de-DE -UILocale de-DE -jsconsole \"x y\""}));

TEST_F(LaunchTest, ExecutableSettingIsRelativeToBin) {
  WriteIni("[resources]\r\nsplashDuration=0\r\n[app]\r\nxulrunner=runtime\\quarven-bin.exe\r\n");
  RunMain();
  EXPECT_EQ(g.gstrAppExePath, "C:\\Program Files\\Quarven\\bin\\runtime\\quarven-bin.exe");
  EXPECT_EQ(OnlyStart().command_line.rfind(
                "\"C:\\Program Files\\Quarven\\bin\\runtime\\quarven-bin.exe\" bin\\ ", 0),
            0u);
}

TEST_F(LaunchTest, AbsoluteExecutableIsStillPrefixed) {
  WriteIni("[resources]\r\nsplashDuration=0\r\n[app]\r\nxulrunner=D:\\q.exe\r\n");
  RunMain();
  EXPECT_EQ(g.gstrAppExePath, "C:\\Program Files\\Quarven\\bin\\D:\\q.exe");
}

TEST_F(LaunchTest, LauncherFolderIsMadeCurrentBeforeTheStart) {
  fake.exe_folder = "D:\\Apps\\Quarven";
  RunMain();
  EXPECT_EQ(OnlyStart().current_directory, "D:\\Apps\\Quarven");
  EXPECT_EQ(OnlyStart().current_drive, 'D');
}

TEST_F(LaunchTest, ProcessIdIsKept) {
  fake.next_pid = 968;
  RunMain();
  EXPECT_EQ(g.glngAppPID, 968);
}

// The application installed under a path that the system names otherwise:
// its second instance runs under the system's name, and must still count.
struct SpellingCase {
  const char* name;
  const char* folder;      // the launcher's folder as it was started
  const char* file_name;   // the system's name of the application's file
  const char* other_copy;  // how the second instance's path reads
};

class OneSpelling : public LaunchTest, public ::testing::WithParamInterface<SpellingCase> {};

TEST_P(OneSpelling, AnotherInstanceKeepsTheSilentWaitGoing) {
  const SpellingCase& c = GetParam();
  fake.exe_folder = c.folder;
  fake.command_line = "-s";
  WriteIni("");
  const std::string app = std::string(c.folder) + "\\bin\\xulrunner\\quarven.exe";
  fake.file_names[app] = c.file_name;
  fake.started_app_lifetime_ms = 3000;
  fake.AddProcess(1200, c.other_copy).end_ms = 12000;
  EXPECT_TRUE(RunMain());
  EXPECT_GE(fake.now_ms, 12000) << "the second instance was missed";
  EXPECT_LE(fake.now_ms, 12000 + 5100);
  EXPECT_EQ(fake.file_names_asked, (std::vector<std::string>{app})) << "resolved once per run";
  EXPECT_EQ(g.gstrAppExePath, app) << "the traced and started path is the one built";
}

INSTANTIATE_TEST_SUITE_P(
    Spellings,
    OneSpelling,
    ::testing::Values(SpellingCase{"substituted_drive", "S:\\Quarven",
                                   "C:\\Users\\a\\Quarven\\bin\\xulrunner\\quarven.exe",
                                   "C:\\Users\\a\\Quarven\\bin\\xulrunner\\quarven.exe"},
                      SpellingCase{"mapped_network_drive", "Z:\\Quarven",
                                   "\\\\server\\apps\\Quarven\\bin\\xulrunner\\quarven.exe",
                                   "\\\\SERVER\\Apps\\Quarven\\bin\\xulrunner\\quarven.exe"},
                      SpellingCase{
                          "short_names", "C:\\PROGRA~1\\QUARVE~1",
                          "C:\\Program Files\\Quarven Suite\\bin\\xulrunner\\quarven.exe",
                          "c:\\program files\\quarven suite\\bin\\xulrunner\\QUARVEN.EXE"}),
    [](const ::testing::TestParamInfo<SpellingCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(LaunchTest, CommandLineIsTracedBeforeTheStart) {
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  RunMain();
  const auto messages = fake.TraceMessages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[2], std::string(kExe) + " bin\\ -contentLocale en-US -UILocale en-US");
}

TEST_F(LaunchTest, MissingExecutableShowsTheBoxAndTheLauncherEnds) {
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  EXPECT_TRUE(RunMain());
  EXPECT_EQ(g.glngAppPID, 0);
  EXPECT_TRUE(g.gblnAppStarted);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].title, "QUARVENlauncher startup error");
  EXPECT_EQ(fake.boxes[0].text,
            "QUARVENlauncher was unable to start correctly.\r\nPlease reinstall the "
            "application.\r\n\r\nDetails: QUARVENlauncher StartQUARVENApp: File not found "
            "(launcher)");
  const auto messages = fake.TraceMessages();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[3], "QUARVENlauncher StartQUARVENApp: #53 | File not found | launcher");
  EXPECT_EQ(messages[4], "App Stop...");
}

TEST_F(LaunchTest, UnusableFolderIsReportedAndNothingStarted) {
  fake.Fail(FakeService::kSetCurrentDirectory, kErrPathNotFound);
  RunMain();
  EXPECT_TRUE(fake.starts.empty());
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("StartQUARVENApp: Path not found (launcher)"),
            std::string::npos);
}

TEST_F(LaunchTest, SettingsFailureIsPassedUpToTheLaunch) {
  WriteIni("[resources]\r\nsplashDuration=0\r\n[app]\r\nxulrunner\r\n");
  RunMain();
  EXPECT_TRUE(fake.starts.empty());
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher StartQUARVENApp: Invalid "
                                    "procedure call or argument (QUARVENlauncher "
                                    "GetINISettingsError)"),
            std::string::npos);
}

TEST_F(LaunchTest, SlashSystemsReadBackslashedPathsAsSlashes) {
  fake.separator = '/';
  fake.executable_suffix = "";
  fake.exe_folder = "/opt/quarven";
  WriteIni("");
  fake.files.clear();
  fake.files["/opt/quarven/bin/launcher.ini"] = {
      "[resources]\r\nsplashDuration=0\r\n[app]\r\nxulrunner=runtime\\quarven\r\ninifile=conf\\app."
      "ini\r\n"};
  RunMain();
  EXPECT_EQ(g.gstrBinPath, "/opt/quarven/bin/");
  EXPECT_EQ(OnlyStart().command_line,
            "\"/opt/quarven/bin/runtime/quarven\" bin/conf/app.ini -contentLocale en-US "
            "-UILocale en-US");
}

TEST_F(LaunchTest, SlashSystemsDefaultApplicationHasNoSuffix) {
  fake.separator = '/';
  fake.executable_suffix = "";
  fake.exe_folder = "/opt/quarven";
  RunMain();
  EXPECT_EQ(g.gstrAppExePath, "/opt/quarven/bin/xulrunner/quarven");
}

}  // namespace
}  // namespace launcher
