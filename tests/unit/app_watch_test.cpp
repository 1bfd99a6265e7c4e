// The check of the process watch and the waits: the full snapshot's answer,
// found by looking up as few processes as it takes.
#include <gtest/gtest.h>

#include <functional>

#include "fake_fixture.h"
#include "procmanager/process_list.h"

namespace launcher {
namespace {

constexpr std::int32_t kPid = 968;
const std::string kApp = "C:\\Q\\bin\\quarven.exe";

struct WatchCase {
  const char* name;
  std::function<void(FakePlatform&)> machine;
  std::int32_t pid;
  std::string path;
  bool running;
};

class AppWatch : public FakeTest, public ::testing::WithParamInterface<WatchCase> {};

TEST_P(AppWatch, AnswersAsTheFullSnapshotDoes) {
  const WatchCase& c = GetParam();
  c.machine(fake);
  const bool snapshot = IsAppInList(funGetPoccessList(true), c.pid, c.path);
  EXPECT_EQ(snapshot, c.running) << "the case itself is wrong";
  EXPECT_EQ(funIsAppRunning(c.pid, c.path), c.running);
  EXPECT_EQ(fake.open_process_handles, 0) << "every handle closed";
  EXPECT_TRUE(fake.trace.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases,
    AppWatch,
    ::testing::Values(
        WatchCase{"started_process_listed",
                  [](FakePlatform& f) {
                    f.AddProcess(100, "C:\\other.exe");
                    f.AddProcess(kPid, kApp);
                  },
                  kPid, kApp, true},
        WatchCase{"other_instance_by_path_in_other_case",
                  [](FakePlatform& f) {
                    f.AddProcess(100, "C:\\other.exe");
                    f.AddProcess(1200, "c:\\q\\BIN\\QUARVEN.EXE");
                  },
                  kPid, kApp, true},
        WatchCase{"gone", [](FakePlatform& f) { f.AddProcess(100, "C:\\other.exe"); }, kPid, kApp,
                  false},
        WatchCase{"started_process_closed_to_us_but_another_instance_runs",
                  [](FakePlatform& f) {
                    f.AddProcess(kPid, kApp).openable = false;
                    f.AddProcess(1200, kApp);
                  },
                  kPid, kApp, true},
        WatchCase{"started_process_closed_to_us_alone",
                  [](FakePlatform& f) {
                    f.AddProcess(kPid, kApp).openable = false;
                    f.AddProcess(100, "C:\\other.exe");
                  },
                  kPid, kApp, false},
        WatchCase{"started_process_with_an_empty_path_counts_by_id",
                  [](FakePlatform& f) { f.AddProcess(kPid, ""); }, kPid, kApp, true},
        WatchCase{"started_process_whose_path_cannot_be_had",
                  [](FakePlatform& f) {
                    f.AddProcess(kPid, kApp).path_fails = true;
                    f.AddProcess(100, "C:\\other.exe");
                  },
                  kPid, kApp, false},
        WatchCase{"nothing_qualifies_and_pid_0_matches_the_placeholder",
                  [](FakePlatform& f) { f.AddProcess(100, "C:\\other.exe").openable = false; }, 0,
                  kApp, true},
        WatchCase{"something_qualifies_and_pid_0_does_not",
                  [](FakePlatform& f) { f.AddProcess(100, "C:\\other.exe"); }, 0, kApp, false},
        WatchCase{"no_process_and_an_empty_path_match_the_placeholder", [](FakePlatform&) {}, kPid,
                  "", true},
        WatchCase{"no_process_at_all", [](FakePlatform&) {}, kPid, kApp, false},
        WatchCase{"a_pathless_process_matches_an_empty_path",
                  [](FakePlatform& f) {
                    f.AddProcess(100, "C:\\other.exe");
                    f.AddProcess(101, "");
                  },
                  kPid, "", true},
        WatchCase{"a_process_whose_path_cannot_be_had_matches_no_empty_path",
                  [](FakePlatform& f) {
                    f.AddProcess(100, "C:\\other.exe");
                    f.AddProcess(101, "C:\\x.exe").path_fails = true;
                  },
                  kPid, "", false}),
    [](const ::testing::TestParamInfo<WatchCase>& info) { return std::string(info.param.name); });

class AppWatchWork : public FakeTest {
 protected:
  void AddOthers(int count) {
    for (int i = 0; i < count; ++i)
      fake.AddProcess(100 + i, "C:\\Windows\\proc" + std::to_string(i) + ".exe");
  }
};

TEST_F(AppWatchWork, LooksUpTheStartedProcessAloneWhileItRuns) {
  AddOthers(50);
  fake.AddProcess(kPid, kApp);
  ASSERT_TRUE(funIsAppRunning(kPid, kApp));
  EXPECT_EQ(fake.opened_pids, (std::vector<std::uint32_t>{kPid}));
  EXPECT_TRUE(fake.enum_process_sizes.empty()) << "nothing listed while it runs";
}

TEST_F(AppWatchWork, ListsAsForASnapshotOnceTheStartedProcessHasGone) {
  AddOthers(50);
  ASSERT_FALSE(funIsAppRunning(kPid, kApp));
  // Buffer growth and all.
  const std::vector<std::uint32_t> watch_sizes = fake.enum_process_sizes;
  ASSERT_FALSE(watch_sizes.empty());
  fake.enum_process_sizes.clear();
  funGetPoccessList(true);
  EXPECT_EQ(watch_sizes, fake.enum_process_sizes);
}

TEST_F(AppWatchWork, ThenTheOthersInListedOrderUntilOneRunsFromTheFile) {
  AddOthers(5);
  fake.AddProcess(1200, kApp);
  fake.AddProcess(300, "C:\\after.exe");
  ASSERT_TRUE(funIsAppRunning(kPid, kApp));
  EXPECT_EQ(fake.opened_pids, (std::vector<std::uint32_t>{kPid, 100, 101, 102, 103, 104, 1200}))
      << "the started process has gone, and nothing after the match is looked up";
}

TEST_F(AppWatchWork, TheStartedProcessFirstWhereverItIsListed) {
  fake.AddProcess(1200, kApp).openable = false;
  fake.AddProcess(100, "C:\\other.exe");
  fake.AddProcess(kPid, kApp).path_fails = true;
  fake.AddProcess(101, kApp);
  ASSERT_TRUE(funIsAppRunning(kPid, kApp));
  EXPECT_EQ(fake.opened_pids, (std::vector<std::uint32_t>{kPid, 1200, 100, 101}));
}

TEST_F(AppWatchWork, FailuresClimbAndReadAsTheFullSnapshotsDo) {
  fake.AddProcess(kPid, kApp);
  fake.Fail(FakeService::kProcessImagePath, kErrOutOfMemory);
  std::string watch_source;
  try {
    funIsAppRunning(kPid, kApp);
    FAIL() << "expected a failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), 4646);
    EXPECT_EQ(failure.description(), "Out of memory");
    watch_source = failure.source();
  }
  const std::vector<std::string> watch_trace = fake.TraceMessages();
  fake.trace.clear();
  try {
    funGetPoccessList(true);
    FAIL() << "expected a failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.source(), watch_source);
  }
  EXPECT_EQ(watch_trace, fake.TraceMessages());
  EXPECT_EQ(watch_trace.size(), 3u);
  EXPECT_EQ(fake.open_process_handles, 0);
}

}  // namespace
}  // namespace launcher
