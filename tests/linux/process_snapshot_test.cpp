// The Linux backend's process services against the real /proc, on their own
// and through the launcher's process list.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "procmanager/process_list.h"
#include "x_session.h"

namespace launcher::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kAccess = kProcessQueryLimitedInformation;

class ProcessSnapshot : public ::testing::Test {
 protected:
  void SetUp() override { InstallPlatform(&platform_); }

  // Every id the backend lists, with a buffer grown the way the launcher grows it.
  std::vector<std::uint32_t> ListAll() {
    std::uint32_t size = 16;
    for (;;) {
      std::vector<std::uint32_t> ids(size / 4);
      std::uint32_t returned = 0;
      EXPECT_TRUE(platform_.EnumProcesses(ids.data(), size, &returned));
      if (returned < size) {
        ids.resize(returned / 4);
        return ids;
      }
      size *= 2;
    }
  }

  // The path the backend reports for `pid`, or nothing when it will not open.
  std::optional<std::string> PathOf(pid_t pid) {
    const ProcessHandle handle = platform_.OpenProcess(kAccess, static_cast<std::uint32_t>(pid));
    if (handle == 0)
      return std::nullopt;
    std::string path;
    EXPECT_TRUE(platform_.ProcessImagePath(handle, path));
    platform_.CloseProcess(handle);
    return path;
  }

  static bool Listed(const ProcList& list, pid_t pid, const std::string& path) {
    return std::any_of(list.begin(), list.end(),
                       [&](const ProcInfo& p) { return p.lngPID == pid && p.strExePath == path; });
  }

  char name_[16] = "snapshot_tests";
  char* argv_[2] = {name_, nullptr};
  LinuxPlatform platform_{1, argv_};
};

// A scratch folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/launcher-snapshot-XXXXXX";
    path_ = mkdtemp(pattern) != nullptr ? pattern : "";
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A copy of sleep at `path`, to run under a name of our choosing.
void CopySleep(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file(RealPath("/bin/sleep"), path, fs::copy_options::overwrite_existing);
  fs::permissions(path, fs::perms::owner_all);
}

// Whether `pid` has ended but nobody has collected it yet.
bool IsZombie(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

TEST_F(ProcessSnapshot, ListsItselfAndAChildWithTheirPaths) {
  ChildGuard child(Spawn({"/bin/sleep", "30"}));
  ASSERT_GT(child.pid(), 0);
  const std::string sleep_path = RealPath("/bin/sleep");
  ASSERT_TRUE(WaitUntil([&] { return ExeLink(child.pid()) == sleep_path; }, 10s));

  const std::vector<std::uint32_t> ids = ListAll();
  EXPECT_NE(std::find(ids.begin(), ids.end(), getpid()), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), child.pid()), ids.end());
  EXPECT_EQ(PathOf(getpid()), ExeLink(getpid()));
  EXPECT_EQ(PathOf(child.pid()), sleep_path);

  const ProcList list = funGetPoccessList(true);
  EXPECT_TRUE(Listed(list, getpid(), ExeLink(getpid())));
  EXPECT_TRUE(Listed(list, child.pid(), sleep_path));
  for (const ProcInfo& p : list) {
    EXPECT_GT(p.lngPID, 0);
    EXPECT_EQ(p.strExeName, p.strExePath.substr(p.strExePath.rfind('/') + 1));
  }
  EXPECT_EQ(platform_.open_process_count(), 0u) << "a snapshot left processes open";
}

TEST_F(ProcessSnapshot, AProgramStartedThroughALinkIsKnownByTheLinksName) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  CopySleep(dir.path() + "/real/q");
  fs::create_directory_symlink(dir.path() + "/real", dir.path() + "/linked");
  const std::string through_link = dir.path() + "/linked/q";
  const std::string name = platform_.FileSystemName(through_link);
  EXPECT_EQ(name, RealPath(dir.path() + "/real/q"));
  EXPECT_EQ(platform_.FileSystemName(dir.path() + "/missing"), dir.path() + "/missing");

  ChildGuard child(Spawn({through_link, "30"}));
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(WaitUntil([&] { return ExeLink(child.pid()) == name; }, 10s));
  EXPECT_TRUE(funIsAppRunning(0x7ffffff0, name)) << "found by its file, not its id";
  EXPECT_FALSE(funIsAppRunning(0x7ffffff0, through_link)) << "the kernel names it otherwise";
}

TEST_F(ProcessSnapshot, EndedChildIsReapedAndGone) {
  const pid_t pid = platform_.StartProgram("\"/bin/sleep\" 30", 1);
  ASSERT_GT(pid, 0);
  ChildGuard guard(pid);
  ASSERT_TRUE(Listed(funGetPoccessList(true), pid, RealPath("/bin/sleep")));

  kill(pid, SIGKILL);
  ASSERT_TRUE(WaitUntil([&] { return IsZombie(pid); }, 10s));
  // A zombie has no executable to read, so it never counts as running.
  EXPECT_EQ(platform_.OpenProcess(kAccess, static_cast<std::uint32_t>(pid)), 0u);

  const ProcList list = funGetPoccessList(true);
  EXPECT_FALSE(
      std::any_of(list.begin(), list.end(), [&](const ProcInfo& p) { return p.lngPID == pid; }));
  // The snapshot collected it: nothing of it is left.
  errno = 0;
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
}

// The system may give the ended application's id to another process at once
// (a small pid_max, a busy machine): that process is not the application.
TEST_F(ProcessSnapshot, IdOfTheEndedApplicationIsNeverTakenForIt) {
  const pid_t pid = platform_.StartProgram("\"/bin/true\"", 1);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitUntil([&] { return IsZombie(pid); }, 10s));
  funGetPoccessList(true);  // collects it
  ASSERT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
  // The kernel gives the id after the last one given, when it is free.
  pid_t other = -1;
  for (int i = 0; i < 20 && other != pid; ++i) {
    if (other > 0)
      Stop(other);
    std::ofstream last("/proc/sys/kernel/ns_last_pid");
    last << pid - 1 << std::flush;
    if (!last)
      GTEST_SKIP() << "the next process id cannot be chosen here (it takes root)";
    other = Spawn({"/bin/sleep", "30"});
  }
  ChildGuard guard(other);
  if (other != pid)
    GTEST_SKIP() << "the id was taken by another process each time";
  ASSERT_TRUE(WaitUntil([&] { return ExeLink(pid) == RealPath("/bin/sleep"); }, 10s));
  EXPECT_FALSE(funIsAppRunning(pid, "/nonexistent/quarven"));
  EXPECT_EQ(platform_.OpenProcess(kAccess, static_cast<std::uint32_t>(pid)), 0u);
}

struct ReapCase {
  const char* name;
  void (*call)(LinuxPlatform&);
};

void PrintTo(const ReapCase& c, std::ostream* out) {
  *out << c.name;
}

class Reaping : public ProcessSnapshot, public ::testing::WithParamInterface<ReapCase> {};

// The backend collects the children it started; a child of the process
// started otherwise (by a library, say) is left to whoever waits for it.
TEST_P(Reaping, EndedStartedChildIsCollectedAndNoOther) {
  const pid_t started = platform_.StartProgram("\"/bin/true\"", 1);
  const pid_t other = Spawn({"/bin/true"});
  ASSERT_GT(started, 0);
  ASSERT_GT(other, 0);
  ChildGuard started_guard(started);
  ChildGuard other_guard(other);
  ASSERT_TRUE(WaitUntil([&] { return IsZombie(started) && IsZombie(other); }, 10s));

  GetParam().call(platform_);

  errno = 0;
  EXPECT_EQ(waitpid(started, nullptr, WNOHANG), -1) << "still a zombie after " << GetParam().name;
  EXPECT_EQ(errno, ECHILD);
  EXPECT_EQ(waitpid(other, nullptr, WNOHANG), other) << "collected by " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Services,
    Reaping,
    ::testing::Values(ReapCase{"EnumProcesses",
                               [](LinuxPlatform& p) {
                                 std::uint32_t ids[4];
                                 std::uint32_t returned = 0;
                                 p.EnumProcesses(ids, sizeof ids, &returned);
                               }},
                      ReapCase{"Sleep", [](LinuxPlatform& p) { p.Sleep(1); }},
                      ReapCase{"PumpEvents", [](LinuxPlatform& p) { p.PumpEvents(); }}),
    [](const ::testing::TestParamInfo<ReapCase>& info) { return std::string(info.param.name); });

TEST_F(ProcessSnapshot, BufferContractHoldsWithManyProcesses) {
  // Enough children that the buffer has to be doubled several times.
  std::vector<std::unique_ptr<ChildGuard>> children;
  for (int i = 0; i < 150; ++i) {
    children.push_back(std::make_unique<ChildGuard>(Spawn({"/bin/sleep", "60"})));
    ASSERT_GT(children.back()->pid(), 0);
  }

  constexpr std::uint32_t kCanary = 0xdeadbeef;
  std::uint32_t size = 8;
  std::uint32_t returned = 96;
  std::vector<std::uint32_t> ids;
  int calls = 0;
  // The launcher's own growth loop, with a guard after each buffer.
  while (size <= returned) {
    size *= 2;
    ids.assign(size / 4 + 16, kCanary);
    ASSERT_TRUE(platform_.EnumProcesses(ids.data(), size, &returned));
    ++calls;
    ASSERT_LE(returned, size);
    ASSERT_EQ(returned % 4, 0u);
    for (std::size_t i = size / 4; i < ids.size(); ++i)
      ASSERT_EQ(ids[i], kCanary) << "wrote past " << size << " bytes";
    for (std::uint32_t i = 0; i < returned / 4; ++i)
      ASSERT_NE(ids[i], 0u);
  }
  EXPECT_GE(calls, 6) << "the first buffers should have been too small";
  ids.resize(returned / 4);
  EXPECT_NE(std::find(ids.begin(), ids.end(), getpid()), ids.end());
  for (const auto& child : children)
    EXPECT_NE(std::find(ids.begin(), ids.end(), child->pid()), ids.end()) << child->pid();
  std::vector<std::uint32_t> unique = ids;
  std::sort(unique.begin(), unique.end());
  EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end()) << "an id listed twice";

  // A size that is no multiple of 4 holds only whole ids.
  std::uint32_t odd[8];
  std::fill(std::begin(odd), std::end(odd), kCanary);
  ASSERT_TRUE(platform_.EnumProcesses(odd, 18, &returned));
  EXPECT_EQ(returned, 16u);
  EXPECT_EQ(odd[4], kCanary);

  // The launcher's list sees every child through the same loop.
  const ProcList list = funGetPoccessList(true);
  for (const auto& child : children)
    EXPECT_TRUE(Listed(list, child->pid(), RealPath("/bin/sleep"))) << child->pid();
}

TEST_F(ProcessSnapshot, EachSnapshotIsFresh) {
  // Growth calls may share one walk of /proc; a new snapshot must not.
  const ProcList before = funGetPoccessList(true);
  ChildGuard child(Spawn({"/bin/sleep", "30"}));
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(WaitUntil([&] { return ExeLink(child.pid()) == RealPath("/bin/sleep"); }, 10s));
  EXPECT_FALSE(Listed(before, child.pid(), RealPath("/bin/sleep")));
  EXPECT_TRUE(Listed(funGetPoccessList(true), child.pid(), RealPath("/bin/sleep")));

  Stop(child.pid());
  EXPECT_FALSE(Listed(funGetPoccessList(true), child.pid(), RealPath("/bin/sleep")));
}

TEST_F(ProcessSnapshot, HandlesAreCheckedAndFreed) {
  EXPECT_EQ(platform_.OpenProcess(kAccess, 0), 0u);
  // No process has this id: pid_max is at most 2^22.
  EXPECT_EQ(platform_.OpenProcess(kAccess, 0x7ffffff0u), 0u);

  const ProcessHandle first = platform_.OpenProcess(kAccess, static_cast<std::uint32_t>(getpid()));
  ASSERT_NE(first, 0u);
  EXPECT_EQ(platform_.open_process_count(), 1u);
  std::string path = "untouched";
  EXPECT_TRUE(platform_.ProcessImagePath(first, path));
  EXPECT_EQ(path, ExeLink(getpid()));
  platform_.CloseProcess(first);
  EXPECT_EQ(platform_.open_process_count(), 0u);

  // A closed handle is refused, even once its slot serves another opening.
  path = "untouched";
  EXPECT_FALSE(platform_.ProcessImagePath(first, path));
  const ProcessHandle second = platform_.OpenProcess(kAccess, static_cast<std::uint32_t>(getpid()));
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_FALSE(platform_.ProcessImagePath(first, path));
  EXPECT_EQ(path, "untouched");
  EXPECT_TRUE(platform_.ProcessImagePath(second, path));
  EXPECT_EQ(path, ExeLink(getpid()));
  platform_.CloseProcess(first);  // closing a stale handle again is harmless
  EXPECT_EQ(platform_.open_process_count(), 1u);
  platform_.CloseProcess(second);
  EXPECT_EQ(platform_.open_process_count(), 0u);
  EXPECT_FALSE(platform_.ProcessImagePath(0, path));
}

TEST_F(ProcessSnapshot, AThreadIsNoProcessEvenRightAfterAListing) {
  // /proc answers for a thread's id too, but lists processes only; so must
  // the lookup, which the watch makes without a listing.
  std::atomic<pid_t> tid{0};
  std::atomic<bool> done{false};
  std::thread worker([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    while (!done)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (tid == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  for (const bool listed_first : {false, true}) {
    SCOPED_TRACE(listed_first);
    if (listed_first)
      funGetPoccessList(true);
    EXPECT_EQ(platform_.OpenProcess(kAccess, static_cast<std::uint32_t>(tid.load())), 0u);
    const ProcessHandle own = platform_.OpenProcess(kAccess, static_cast<std::uint32_t>(getpid()));
    EXPECT_NE(own, 0u);
    platform_.CloseProcess(own);
  }
  done = true;
  worker.join();
  EXPECT_EQ(platform_.open_process_count(), 0u);
}

TEST_F(ProcessSnapshot, RepeatedSnapshotsHoldNoHandles) {
  for (int i = 0; i < 200; ++i)
    funGetPoccessList(true);
  EXPECT_EQ(platform_.open_process_count(), 0u);
}

TEST_F(ProcessSnapshot, LongPathIsNotCutShort) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::string path = dir.path();
  while (path.size() < 1500)
    path += "/" + std::string(120, 'd');
  path += "/long-named application";
  CopySleep(path);
  ChildGuard child(Spawn({path, "30"}));
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(WaitUntil([&] { return ExeLink(child.pid()) == path; }, 10s));
  EXPECT_EQ(PathOf(child.pid()), path);
  EXPECT_TRUE(Listed(funGetPoccessList(true), child.pid(), path));
}

// What happens to the running executable's file after the start.
enum class FileFate { kRemoved, kReplaced, kKept };

struct ExecutableCase {
  const char* name;
  const char* file_name;
  FileFate fate;
  const char* reported;  // the path the backend should give, relative to the folder
};

void PrintTo(const ExecutableCase& c, std::ostream* out) {
  *out << c.name;
}

class ExecutableFile : public ProcessSnapshot,
                       public ::testing::WithParamInterface<ExecutableCase> {};

TEST_P(ExecutableFile, PathIsTheOneItWasStartedFrom) {
  const ExecutableCase& c = GetParam();
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.path() + "/" + c.file_name;
  CopySleep(path);
  ChildGuard child(Spawn({path, "30"}));
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(WaitUntil([&] { return !ExeLink(child.pid()).empty(); }, 10s));

  if (c.fate == FileFate::kRemoved) {
    fs::remove(path);
  } else if (c.fate == FileFate::kReplaced) {
    // As an update would: a new file renamed over the old one.
    CopySleep(path + ".new");
    fs::rename(path + ".new", path);
  }
  EXPECT_EQ(PathOf(child.pid()), dir.path() + "/" + c.reported) << "link: " << ExeLink(child.pid());
}

INSTANTIATE_TEST_SUITE_P(
    Fates,
    ExecutableFile,
    ::testing::Values(ExecutableCase{"removed", "app", FileFate::kRemoved, "app"},
                      ExecutableCase{"replaced", "app", FileFate::kReplaced, "app"},
                      ExecutableCase{"kept", "app", FileFate::kKept, "app"},
                      ExecutableCase{"named_like_the_mark", "app (deleted)", FileFate::kKept,
                                     "app (deleted)"},
                      ExecutableCase{"named_like_the_mark_and_removed", "app (deleted)",
                                     FileFate::kRemoved, "app (deleted)"}),
    [](const ::testing::TestParamInfo<ExecutableCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(ProcessSnapshot, ClockOnlyMovesForwardAndSleepWaitsItsTime) {
  const std::int64_t start = platform_.MonotonicMs();
  platform_.Sleep(120);
  const std::int64_t end = platform_.MonotonicMs();
  // A lower bound only: sleeping may take longer, never less.
  EXPECT_GE(end - start, 120);
}

TEST_F(ProcessSnapshot, SleepIsResumedAfterASignal) {
  // A signal with a handler interrupts nanosleep; the rest of the time is still slept.
  struct sigaction action {};
  action.sa_handler = [](int) {};
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  const pid_t self = getpid();
  const pid_t sender = fork();
  ASSERT_GE(sender, 0);
  if (sender == 0) {
    usleep(30'000);
    kill(self, SIGUSR1);
    _exit(0);
  }
  const std::int64_t start = platform_.MonotonicMs();
  platform_.Sleep(200);
  const std::int64_t end = platform_.MonotonicMs();
  sigaction(SIGUSR1, &previous, nullptr);
  waitpid(sender, nullptr, 0);
  EXPECT_GE(end - start, 200);
}

}  // namespace
}  // namespace launcher::testing
