#include <gtest/gtest.h>

#include "diagnostics/error_handler.h"
#include "diagnostics/messages.h"
#include "diagnostics/trace.h"
#include "fake_fixture.h"

namespace launcher {
namespace {

class DiagnosticsTest : public FakeTest {};

std::string Details(const std::string& text) {
  return text.substr(text.find("Details: "));
}

struct StampCase {
  int year, month, day, hour, minute, second, ms;
  const char* expected;
};

TEST_F(DiagnosticsTest, TimestampIsUniversalTimeFieldByField) {
  const StampCase cases[] = {
      {2026, 12, 6, 2, 39, 47, 500, "261206.023947.500"},
      {2026, 12, 7, 0, 0, 0, 7, "261207.000000.007"},
      {2031, 1, 9, 23, 59, 59, 999, "310109.235959.999"},
      {2000, 2, 29, 5, 6, 7, 80, "000229.050607.080"},
  };
  for (const StampCase& c : cases) {
    fake.SetUtc(c.year, c.month, c.day, c.hour, c.minute, c.second, c.ms);
    EXPECT_EQ(GetTimeStamp(), c.expected);
  }
}

TEST_F(DiagnosticsTest, LocalZoneDoesNotMoveTheStamp) {
  fake.SetUtc(2026, 12, 31, 23, 30, 0, 0);
  fake.local_offset_ms = 2 * 3600 * 1000;  // local time is already next year
  EXPECT_EQ(GetTimeStamp(), "261231.233000.000");
}

TEST_F(DiagnosticsTest, TraceLineHasNameStampAndMessage) {
  fake.exe_name = "launcher";
  WriteTrace("App Start...");
  ASSERT_EQ(fake.trace.size(), 1u);
  EXPECT_EQ(fake.trace[0], "launcher 261206.023947.500 - App Start...");
}

TEST_F(DiagnosticsTest, TraceNeverFails) {
  fake.Fail(FakeService::kEmitTrace, kErrDeviceIo);
  EXPECT_NO_THROW(WriteTrace("lost"));
  fake.Heal(FakeService::kEmitTrace);
  fake.Fail(FakeService::kUtcNow, kErrDeviceIo);
  EXPECT_NO_THROW(WriteTrace("no clock"));
  ASSERT_EQ(fake.trace.size(), 1u);
  EXPECT_EQ(fake.TraceMessages()[0], "no clock");
}

TEST_F(DiagnosticsTest, MessageTextsInBothLanguages) {
  g.gstrAppName = "Quarven";
  EXPECT_EQ(LoadResString(101, "Quarven", "", "", ""), "Quarven startup error");
  EXPECT_EQ(LoadResString(102, "Quarven", "X", "", ""),
            "Quarven was unable to start correctly.\r\nPlease reinstall the "
            "application.\r\n\r\nDetails: X");
  fake.language = kLangFrench;
  EXPECT_EQ(LoadResString(101, "Quarven", "", "", ""), "Erreur de d\xC3\xA9marrage de Quarven");
  EXPECT_EQ(LoadResString(102, "Quarven", "X", "", ""),
            "Quarven n'a pas pu d\xC3\xA9marrer correctement.\r\nVeuillez r\xC3\xA9installer "
            "l'application.\r\n\r\nDetails: X");
  EXPECT_FALSE(LoadResString(103, "Q", "", "", "").empty());
  EXPECT_FALSE(LoadResString(104, "Q", "X", "", "").empty());
}

TEST_F(DiagnosticsTest, EmptyDisplayNameLeavesLeadingBlank) {
  EXPECT_EQ(LoadResString(101, "", "", "", ""), " startup error");
  EXPECT_EQ(LoadResString(102, "", "", "", "").rfind(" was unable", 0), 0u);
}

TEST_F(DiagnosticsTest, InsertsAreExpandedOnlyByLaterSteps) {
  // Line breaks in an insert stay; placeholders in it only expand when a later
  // step of the fixed order looks for them.
  EXPECT_EQ(LoadResString(101, "a\r\nb", "", "", ""), "a\r\nb startup error");
  EXPECT_EQ(
      Details(LoadResString(102, "", "<resNewLine/><resTab/><resInsert1/><resInsert2/>", "", "")),
      "Details: <resNewLine/><resTab/><resInsert1/><resInsert2/>");
  EXPECT_EQ(LoadResString(101, "<resInsert2/>|<resInsert3/>|<resInsert4/>", "two", "three", "four"),
            "two|three|four startup error");
  EXPECT_EQ(Details(LoadResString(102, "N", "<resInsert3/>", "<resInsert4/>", "4")), "Details: 4");
}

TEST_F(DiagnosticsTest, MissingTextIsPassedOn) {
  try {
    LoadResString(999, "", "", "", "");
    FAIL() << "expected a failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 4646);
    EXPECT_EQ(failure.source(), "QUARVENlauncher LoadResString");
  }
  EXPECT_EQ(fake.TraceMessages().at(0).rfind("QUARVENlauncher LoadResString: #326 | ", 0), 0u);
}

TEST_F(DiagnosticsTest, ShowMessageDefaults) {
  g.gstrAppName = "Quarven";
  EXPECT_EQ(ShowMessage("hello", "", 0), 1);
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].title, "Quarven");
  EXPECT_EQ(fake.boxes[0].style, 48);
  fake.message_box_answer = 2;
  EXPECT_EQ(ShowMessage("again", "Own title", 16), 2);
  EXPECT_EQ(fake.boxes[1].title, "Own title");
  EXPECT_EQ(fake.boxes[1].style, 16);
}

TEST_F(DiagnosticsTest, ShowMessageIsSilentInSilentModeAndNeverFails) {
  g.gblnSilent = true;
  EXPECT_EQ(ShowMessage("hello", "", 0), 0);
  EXPECT_TRUE(fake.boxes.empty());
  g.gblnSilent = false;
  fake.Fail(FakeService::kShowMessageBox, kErrOutOfMemory);
  EXPECT_EQ(ShowMessage("hello", "", 0), 0);
}

TEST_F(DiagnosticsTest, PassedOnFailureKeepsFirstDescription) {
  const RuntimeError first = RuntimeError::Of(kErrFileNotFound);
  try {
    HandleError(first, "modProcManager.funGetProcInfoError", false, false);
    FAIL() << "expected a failure";
  } catch (const RuntimeError& passed) {
    EXPECT_EQ(passed.number(), 4646);
    EXPECT_EQ(passed.description(), "File not found");
    EXPECT_EQ(passed.source(), "modProcManager.funGetProcInfoError");
    g.gstrAppName = "Quarven";
    EXPECT_EQ(HandleError(passed, "QUARVENlauncher tmrCheckQvProcess", true, false),
              "4646 - File not found");
  }
  const auto messages = fake.TraceMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "modProcManager.funGetProcInfoError: #53 | File not found | launcher");
  EXPECT_EQ(messages[1],
            "QUARVENlauncher tmrCheckQvProcess: #4646 | File not found | "
            "modProcManager.funGetProcInfoError");
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_EQ(fake.boxes[0].style, 16);
  EXPECT_EQ(fake.boxes[0].title, "Quarven startup error");
  EXPECT_NE(fake.boxes[0].text.find("Details: QUARVENlauncher tmrCheckQvProcess: File not found "
                                    "(modProcManager.funGetProcInfoError)"),
            std::string::npos);
}

TEST_F(DiagnosticsTest, NoMessageAndNoRaiseOnlyTraces) {
  EXPECT_EQ(HandleError(RuntimeError::Of(kErrOverflow), "x", false, true), "6 - Overflow");
  EXPECT_EQ(fake.trace.size(), 1u);
  EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(DiagnosticsTest, SilentShowMessagePathTracesOnly) {
  g.gblnSilent = true;
  HandleError(RuntimeError::Of(kErrFileNotFound), "QUARVENlauncher StartQUARVENApp", true, false);
  EXPECT_EQ(fake.trace.size(), 1u);
  EXPECT_TRUE(fake.boxes.empty());
}

// A splash stand-in that records what the error routine asks of it.
class RecordingSplash : public SplashWindowLink {
 public:
  explicit RecordingSplash(FakePlatform& fake) : fake_(fake) {}
  bool IsOpen() override { return open; }
  WindowHandle Handle() override { return 0x5A5A; }
  void LeaveTopmost() override { calls.push_back("not topmost, boxes=" + Boxes()); }
  void Close() override {
    calls.push_back("close, boxes=" + Boxes());
    open = false;
  }
  bool open = true;
  std::vector<std::string> calls;

 private:
  std::string Boxes() const { return std::to_string(fake_.boxes.size()); }
  FakePlatform& fake_;
};

TEST_F(DiagnosticsTest, SplashIsClosedBeforeTheBox) {
  RecordingSplash splash(fake);
  SetSplashWindowLink(&splash);
  g.gblnSplash = true;
  HandleError(RuntimeError::Of(kErrFileNotFound), "QUARVENlauncher StartQUARVENApp", true, false);
  EXPECT_EQ(splash.calls, (std::vector<std::string>{"not topmost, boxes=0", "close, boxes=0"}));
  EXPECT_EQ(fake.boxes.size(), 1u);

  // Closed already, but gblnSplash still True: only the box.
  splash.calls.clear();
  HandleError(RuntimeError::Of(kErrFileNotFound), "QUARVENlauncher StartQUARVENApp", true, false);
  EXPECT_TRUE(splash.calls.empty());
  EXPECT_EQ(fake.boxes.size(), 2u);
}

TEST_F(DiagnosticsTest, SplashThatCannotLeaveTheTopmostBandIsStillClosedBeforeTheBox) {
  class StuckSplash : public RecordingSplash {
   public:
    using RecordingSplash::RecordingSplash;
    void LeaveTopmost() override { throw RuntimeError::Of(kErrOutOfMemory); }
  } splash(fake);
  SetSplashWindowLink(&splash);
  g.gblnSplash = true;
  EXPECT_NO_THROW(HandleError(RuntimeError::Of(kErrFileNotFound), "QUARVENlauncher StartQUARVENApp",
                              true, false));
  EXPECT_EQ(splash.calls, (std::vector<std::string>{"close, boxes=0"}));
  ASSERT_EQ(fake.boxes.size(), 1u);
  EXPECT_NE(fake.boxes[0].text.find("StartQUARVENApp: File not found (launcher)"),
            std::string::npos);
  EXPECT_TRUE(g.gblnFailureReported);
}

TEST_F(DiagnosticsTest, OnlyTheShowMessagePathCountsAsAReportedFailure) {
  EXPECT_THROW(HandleError(RuntimeError::Of(kErrFileNotFound), "modProcManager.x", false, false),
               RuntimeError);
  HandleError(RuntimeError::Of(kErrFileNotFound), "x", false, true);
  EXPECT_FALSE(g.gblnFailureReported) << "passed on or dropped: the caller decides";
  g.gblnSilent = true;
  HandleError(RuntimeError::Of(kErrFileNotFound), "QUARVENlauncher StartQUARVENApp", true, false);
  EXPECT_TRUE(g.gblnFailureReported) << "silent mode: the trace line is the report";
}

TEST_F(DiagnosticsTest, ShowMessageLowersAnOpenSplashOnly) {
  RecordingSplash splash(fake);
  SetSplashWindowLink(&splash);
  ShowMessage("m", "", 0);  // gblnSplash False: untouched
  EXPECT_TRUE(splash.calls.empty());
  g.gblnSplash = true;
  ShowMessage("m", "", 0);
  EXPECT_EQ(splash.calls, (std::vector<std::string>{"not topmost, boxes=1"}));
}

}  // namespace
}  // namespace launcher
