#include <gtest/gtest.h>

#include "fake_fixture.h"
#include "procmanager/process_list.h"
#include "procmanager/window_list.h"

namespace launcher {
namespace {

class ProcessListTest : public FakeTest {
 protected:
  void AddProcesses(int count) {
    for (int i = 0; i < count; ++i)
      fake.AddProcess(100 + i, "C:\\Windows\\proc" + std::to_string(i) + ".exe");
  }
};

struct GrowthCase {
  int processes;
  std::vector<std::uint32_t> call_sizes;
};

TEST_F(ProcessListTest, IdBufferGrowsWhileCallsFillIt) {
  const GrowthCase cases[] = {
      {0, {16}},
      {3, {16}},
      {4, {16, 32}},
      {8, {16, 32, 64}},
      {100, {16, 32, 64, 128, 256, 512}},
      {128, {16, 32, 64, 128, 256, 512, 1024}},
  };
  for (const GrowthCase& c : cases) {
    fake.processes.clear();
    fake.enum_process_sizes.clear();
    AddProcesses(c.processes);
    const ProcList list = funGetPoccessList(true);
    EXPECT_EQ(fake.enum_process_sizes, c.call_sizes) << c.processes << " processes";
    ASSERT_EQ(list.size(), c.processes == 0 ? 1u : static_cast<std::size_t>(c.processes));
    if (c.processes > 0) {
      EXPECT_EQ(list.front().lngPID, 100);
      EXPECT_EQ(list.back().lngPID, 100 + c.processes - 1);
    }
  }
}

TEST_F(ProcessListTest, FailingEnumerationEndsWithPlaceholder) {
  AddProcesses(3);
  fake.enum_processes_fails = true;
  const ProcList list = funGetPoccessList(true);
  EXPECT_EQ(fake.enum_process_sizes, (std::vector<std::uint32_t>{16, 32, 64, 128}));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].lngPID, 0);
  EXPECT_EQ(list[0].strExePath, "");
  EXPECT_TRUE(fake.trace.empty());
}

TEST_F(ProcessListTest, RecordsKeepOrderAndDropUninspectable) {
  fake.AddProcess(30, "C:\\a\\first.exe");
  fake.AddProcess(10, "C:\\b\\denied.exe").openable = false;
  fake.AddProcess(20, "C:\\c\\nopath.exe").path_fails = true;
  fake.AddProcess(40, "");
  fake.AddProcess(50, "plain.exe");
  const ProcList list = funGetPoccessList(true);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].lngPID, 30);
  EXPECT_EQ(list[0].strExePath, "C:\\a\\first.exe");
  EXPECT_EQ(list[0].strExeName, "first.exe");
  EXPECT_EQ(list[1].lngPID, 40);
  EXPECT_EQ(list[1].strExePath, "");
  EXPECT_EQ(list[1].strExeName, "");
  EXPECT_EQ(list[2].strExeName, "plain.exe");  // no separator: the whole path
  EXPECT_EQ(list[2].strWindowTitle, "");
  EXPECT_EQ(list[2].lngHWnd, 0u);
  EXPECT_EQ(fake.open_process_handles, 0) << "every handle closed";
}

TEST_F(ProcessListTest, LookupResults) {
  fake.AddProcess(7, "C:\\x.exe").openable = false;
  fake.AddProcess(8, "C:\\y.exe").path_fails = true;
  EXPECT_EQ(funGetProcInfo(7).lngPID, 0);
  EXPECT_EQ(funGetProcInfo(8).lngPID, -1);
  EXPECT_EQ(funGetProcInfo(0).lngPID, 0);
  EXPECT_EQ(funGetProcInfo(9).lngPID, 0);
  EXPECT_EQ(fake.open_process_handles, 0);
}

TEST_F(ProcessListTest, ProcessesAreOpenedForTheLimitedQueryAlone) {
  AddProcesses(3);
  fake.AddProcess(7, "C:\\x.exe").path_fails = true;
  funGetPoccessList(true);
  funIsAppRunning(7, "C:\\q.exe");
  ASSERT_EQ(fake.opened_access.size(), 8u);
  for (const std::uint32_t access : fake.opened_access)
    EXPECT_EQ(access, kProcessQueryLimitedInformation) << "no right to read a process's memory";
}

TEST_F(ProcessListTest, CopiesAreFrozenSnapshots) {
  AddProcesses(2);
  const ProcList before = funGetPoccessList(true);
  fake.processes[0].end_ms = fake.now_ms;  // ends now
  EXPECT_EQ(before.size(), 2u);
  EXPECT_EQ(funGetPoccessList(false).size(), 2u) << "no refresh, same snapshot";
  EXPECT_EQ(funGetPoccessList(true).size(), 1u);
  EXPECT_EQ(before.size(), 2u) << "the earlier copy is untouched";
}

TEST_F(ProcessListTest, FailureClimbsWithOneTraceLinePerLevel) {
  AddProcesses(2);
  fake.Fail(FakeService::kProcessImagePath, kErrOutOfMemory);
  try {
    funGetPoccessList(true);
    FAIL() << "expected a failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 4646);
    EXPECT_EQ(failure.description(), "Out of memory");
    EXPECT_EQ(failure.source(), "modProcManager.funGetPoccessListError");
  }
  EXPECT_EQ(fake.TraceMessages(),
            (std::vector<std::string>{
                "modProcManager.funGetProcInfoError: #7 | Out of memory | launcher",
                "modProcManager.subPopulatePoccessListError: #4646 | Out of memory | "
                "modProcManager.funGetProcInfoError",
                "modProcManager.funGetPoccessListError: #4646 | Out of memory | "
                "modProcManager.subPopulatePoccessListError"}));
  EXPECT_EQ(fake.open_process_handles, 0) << "handle closed on the failure path too";
}

TEST_F(ProcessListTest, AppIsRecognisedByIdOrPathInAnyCase) {
  const ProcList list = {{12, "a.exe", "C:\\Apps\\A.exe", "", 0},
                         {13, "quarven.exe", "C:\\Q\\Bin\\Quarven.EXE", "", 0}};
  EXPECT_TRUE(IsAppInList(list, 12, "nothing"));
  EXPECT_TRUE(IsAppInList(list, 99, "c:\\q\\bin\\quarven.exe"));
  EXPECT_FALSE(IsAppInList(list, 99, "c:\\q\\bin\\other.exe"));
  const ProcList unknown_path = {{14, "", "", "", 0}};
  EXPECT_TRUE(IsAppInList(unknown_path, 14, "c:\\q.exe"));
  EXPECT_FALSE(IsAppInList(unknown_path, 15, "c:\\q.exe")) << "empty path matches only by id";
  // Letters beyond Latin-1 fold too: Cyrillic, and the Greek final sigma.
  const ProcList cyrillic = {{20, "", "C:\\ПРОГРАММЫ\\Квартал\\Q.EXE", "", 0}};
  EXPECT_TRUE(IsAppInList(cyrillic, 99, "c:\\программы\\КВАРТАЛ\\q.exe"));
  EXPECT_FALSE(IsAppInList(cyrillic, 99, "c:\\программа\\квартал\\q.exe"));
  const ProcList greek = {{21, "", "/opt/ΟΔΥΣΣΕΥΣ/q", "", 0}};
  EXPECT_TRUE(IsAppInList(greek, 99, "/opt/οδυσσευς/q"));
  const ProcList placeholder = {ProcInfo{}};
  EXPECT_FALSE(IsAppInList(placeholder, 15, "c:\\q.exe"));
  EXPECT_TRUE(IsAppInList(placeholder, 0, "c:\\q.exe"));
  EXPECT_TRUE(IsAppInList(placeholder, 15, ""));
}

TEST_F(ProcessListTest, ScanKeepsItsOrderAndStopsAtTheFirstMatch) {
  // A comparison that fails shows which entries were looked at.
  const ProcList list = {{12, "", "C:\\A.exe", "", 0}, {13, "", "C:\\B.exe", "", 0}};
  EXPECT_TRUE(IsAppInList(list, 12, "C:\\B.exe")) << "the id of the first entry matches";
  fake.Fail(FakeService::kSamePath, kErrOutOfMemory);
  EXPECT_TRUE(IsAppInList(list, 12, "C:\\B.exe")) << "no path compared when the id matches";
  EXPECT_THROW(IsAppInList(list, 13, "C:\\B.exe"), RuntimeError)
      << "the first entry's path is compared before the second entry's id";
}

struct WindowCase {
  const char* name;
  bool visible;
  WindowHandle parent;
  WindowHandle owner;
  std::uint32_t ex_style;
  const char* title;
  bool openable;
  bool listed;
};

class WindowFilter : public ProcessListTest, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(WindowFilter, ListsOnlyApplicationWindows) {
  const WindowCase& c = GetParam();
  fake.AddProcess(77, "C:\\q\\quarven.exe").openable = c.openable;
  FakeWindow& w = fake.AddWindow(0x1001, 77, c.title);
  w.visible = c.visible;
  w.parent = c.parent;
  w.owner = c.owner;
  w.ex_style = c.ex_style;
  const ProcList list = funGetWindowList(0, true);
  ASSERT_EQ(list.size(), 1u);
  if (c.listed) {
    EXPECT_EQ(list[0].lngPID, 77) << c.name;
    EXPECT_EQ(list[0].lngHWnd, 0x1001u);
    EXPECT_EQ(list[0].strWindowTitle, c.title);
    EXPECT_EQ(list[0].strExeName, "quarven.exe");
  } else {
    EXPECT_EQ(list[0].lngPID, 0) << c.name;
    EXPECT_EQ(list[0].lngHWnd, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    WindowFilter,
    ::testing::Values(
        WindowCase{"plain", true, 0, 0, 0, "Quarven", true, true},
        WindowCase{"hidden", false, 0, 0, 0, "Quarven", true, false},
        WindowCase{"child", true, 0x2000, 0, kExAppWindow, "Quarven", true, false},
        WindowCase{"tool window", true, 0, 0, kExToolWindow, "Quarven", true, false},
        WindowCase{"owned", true, 0, 0x3000, 0, "Quarven", true, false},
        WindowCase{"owned app window", true, 0, 0x3000, kExAppWindow, "Quarven", true, true},
        WindowCase{"owned tool app window", true, 0, 0x3000, kExAppWindow | kExToolWindow,
                   "Quarven", true, true},
        WindowCase{"unowned app tool window", true, 0, 0, kExAppWindow | kExToolWindow, "Quarven",
                   true, false},
        WindowCase{"untitled", true, 0, 0, 0, "", true, false},
        WindowCase{"process not inspectable", true, 0, 0, 0, "Quarven", false, false}));

TEST_F(ProcessListTest, WindowListOrderSkipAndSeveralPerProcess) {
  fake.AddProcess(77, "C:\\q\\quarven.exe");
  fake.AddProcess(78, "C:\\launcher.exe");
  fake.AddWindow(0x10, 77, "Main");
  fake.AddWindow(0x20, 78, "Splash");
  fake.AddWindow(0x30, 77, "Palette").ex_style = kExToolWindow;
  fake.AddWindow(0x40, 77, "Second");
  const ProcList list = funGetWindowList(0x20, true);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].lngHWnd, 0x10u);
  EXPECT_EQ(list[1].lngHWnd, 0x40u);
  EXPECT_EQ(list[1].strWindowTitle, "Second");
  EXPECT_EQ(list[0].strExePath, list[1].strExePath);
  EXPECT_EQ(funGetWindowList(0, true).size(), 3u) << "without skip the splash is listed";
}

TEST_F(ProcessListTest, FailureInsideTheEnumerationEndsItAndClimbs) {
  fake.AddProcess(77, "C:\\q\\quarven.exe");
  fake.AddWindow(0x10, 77, "Main");
  fake.AddWindow(0x20, 77, "Other");
  fake.Fail(FakeService::kGetWindowText, kErrOutOfMemory);
  try {
    funGetWindowList(0, true);
    FAIL() << "expected a failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 4646);
    EXPECT_EQ(failure.source(), "modProcManager.funGetWindowListError");
  }
  const auto messages = fake.TraceMessages();
  ASSERT_EQ(messages.size(), 3u) << "the enumeration stopped at the first window";
  EXPECT_EQ(messages[0],
            "modProcManager.funEnumWindowsCallBackError: #7 | Out of memory | launcher");
  EXPECT_EQ(messages[1].rfind("modProcManager.subPopulateWindowListError: #4646", 0), 0u);
  EXPECT_EQ(messages[2].rfind("modProcManager.funGetWindowListError: #4646", 0), 0u);
}

}  // namespace
}  // namespace launcher
