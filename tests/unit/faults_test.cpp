// Faults a user's files can bring: NUL bytes in settings that reach a path or
// the command line, pictures too large to decode, a display that goes away.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "fake_fixture.h"
#include "platform/picture_size.h"

namespace launcher {
namespace {

using namespace std::string_literals;

const std::string kBin = "C:\\Program Files\\Quarven\\bin\\";

struct NulCase {
  const char* name;
  std::string ini;  // may hold NUL bytes
  const char* failure;
  bool started;
};

void PrintTo(const NulCase& c, std::ostream* out) {
  *out << c.name;
}

class NulInSettings : public FakeTest, public ::testing::WithParamInterface<NulCase> {
 protected:
  NulInSettings() { fake.pictures[kBin + "splash.png"] = {270, 77}; }
};

// A C string would end at the NUL: the application (or the picture) named by
// what comes before it must not be the one opened or started.
TEST_P(NulInSettings, ReachingAPathOrTheCommandLineIsABadFileName) {
  const NulCase& c = GetParam();
  fake.command_line = "-s";
  WriteIni(c.ini);
  EXPECT_EQ(RunToExitStatus(), 1);
  EXPECT_EQ(fake.starts.size(), c.started ? 1u : 0u);
  const auto messages = fake.TraceMessages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), c.failure), messages.end())
      << ::testing::PrintToString(messages);
}

INSTANTIATE_TEST_SUITE_P(
    Faults,
    NulInSettings,
    ::testing::Values(
        NulCase{"application", "[app]\r\nxulrunner=xulrunner\\quarven.exe\0.bak\r\n"s,
                "QUARVENlauncher StartQUARVENApp: #52 | Bad file name or number | launcher", false},
        NulCase{"application_ini", "[app]\r\ninifile=quarven\0.ini\r\n"s,
                "QUARVENlauncher StartQUARVENApp: #52 | Bad file name or number | launcher", false},
        NulCase{"locale", "[app]\r\nlocalization=fr\0-FR\r\n"s,
                "QUARVENlauncher StartQUARVENApp: #52 | Bad file name or number | launcher",
                false}),
    [](const ::testing::TestParamInfo<NulCase>& info) { return std::string(info.param.name); });

TEST_F(FakeTest, NulInThePicturesNameIsABadFileNameAndTheApplicationStillStarts) {
  fake.pictures[kBin + "splash.png"] = {270, 77};
  WriteIni("[resources]\r\nsplash=splash.png\0x\r\nsplashDuration=5\r\n"s);
  EXPECT_EQ(RunToExitStatus(), 1);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("DisplaySplash: Bad file name or number (launcher)"),
            std::string::npos)
      << fake.boxes[0].text;
  EXPECT_EQ(fake.starts.size(), 1u);
}

TEST_F(FakeTest, NulInTheDisplayNameDoesNotCutTheBoxShort) {
  WriteIni("[resources]\r\nname=Quar\0ven\r\nsplashDuration=0\r\n"s);
  fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  EXPECT_EQ(RunToExitStatus(), 1);
  ASSERT_EQ(fake.boxes.size(), 1u);
  const std::string shown = "Quar\xEF\xBF\xBDven";
  EXPECT_EQ(fake.boxes[0].title, shown + " startup error");
  EXPECT_EQ(fake.boxes[0].text.find('\0'), std::string::npos);
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher StartQUARVENApp: File not found"),
            std::string::npos);
}

struct PictureCase {
  int width;
  int height;
  bool shown;
};

class PictureSize : public FakeTest, public ::testing::WithParamInterface<PictureCase> {};

// The splash shows 273 x 81 pixels at most; larger pictures are cut, up to
// the limit, and refused beyond it with their size in the details.
TEST_P(PictureSize, LargePicturesAreCutAndTooLargeOnesRefused) {
  const PictureCase& c = GetParam();
  fake.pictures[kBin + "big.png"] = {c.width, c.height};
  WriteIni("[resources]\r\nsplash=big.png\r\nsplashDuration=5\r\n");
  RunMain();
  EXPECT_EQ(g.gblnSplash, c.shown);
  if (c.shown) {
    EXPECT_TRUE(fake.boxes.empty());
    return;
  }
  ASSERT_EQ(fake.boxes.size(), 1u);
  const std::string size = std::to_string(c.width) + " x " + std::to_string(c.height) + " pixels";
  EXPECT_NE(fake.boxes[0].text.find("DisplaySplash: Invalid picture (" + size), std::string::npos)
      << fake.boxes[0].text;
  EXPECT_EQ(fake.starts.size(), 1u) << "the application is started all the same";
}

INSTANTIATE_TEST_SUITE_P(Faults,
                         PictureSize,
                         ::testing::Values(PictureCase{4096, 4096, true},
                                           PictureCase{32767, 512, true},
                                           PictureCase{4097, 4096, false},
                                           PictureCase{32768, 1, false},
                                           PictureCase{1, 32768, false},
                                           PictureCase{20000, 20000, false}));

TEST(PictureLimit, DescriptionNamesSizeAndLimit) {
  try {
    CheckPictureSize(20000, 20000);
    FAIL() << "not refused";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), kErrInvalidPicture);
    EXPECT_EQ(failure.description(),
              "Invalid picture (20000 x 20000 pixels; at most 16777216 pixels, and 32767 on a "
              "side, are taken)");
    EXPECT_EQ(failure.source(), "launcher");
  }
}

// The display the splash lives on has gone: one failure line, "App Stop...",
// exit status 1, no box, and the application left alone.
TEST_F(FakeTest, FatalFailureTracesAndEndsWithStatusOne) {
  fake.pictures[kBin + "splash.png"] = {270, 77};
  WriteIni("[resources]\r\nsplash=splash.png\r\nsplashDuration=5\r\n");
  fake.AddProcess(4242, kBin + "xulrunner\\quarven.exe");
  RunMain();
  ASSERT_TRUE(g.gblnSplash);
  ASSERT_EQ(fake.starts.size(), 1u);
  try {
    EndOnFatalFailure(RuntimeError(kErrDeviceUnavailable, "Device unavailable (gone)", "launcher"),
                      "QUARVENlauncher DisplayLost");
    FAIL() << "the program went on";
  } catch (const ProgramEnded& end) {
    EXPECT_EQ(end.status, 1);
  }
  const auto messages = fake.TraceMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[messages.size() - 2],
            "QUARVENlauncher DisplayLost: #68 | Device unavailable (gone) | launcher");
  EXPECT_EQ(messages.back(), "App Stop...");
  EXPECT_TRUE(fake.boxes.empty());
  EXPECT_EQ(fake.starts.size(), 1u);
}

}  // namespace
}  // namespace launcher
