// Arbitrary command lines through Main on the fake backend, each run to its
// end in simulated time: the first byte picks the machine, the rest is the
// launcher's command line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/main.h"
#include "fuzz_check.h"
#include "platform/command_line.h"

namespace launcher::fuzz {
namespace {

const std::string kBin = "C:\\Program Files\\Quarven\\bin\\";
const std::string kApp = kBin + "xulrunner\\quarven.exe";

enum class Machine { kPlain, kSplash, kMissingApp, kCount };

// Installs the machine of one run: settings, picture, and how the application behaves.
void Prepare(FakePlatform& fake, Machine machine) {
  std::string ini = "[resources]\r\nname=Quarven\r\n";
  ini += machine == Machine::kSplash ? "splash=splash.png\r\nsplashDuration=1\r\n"
                                     : "splashDuration=0\r\n";
  fake.files[kBin + "launcher.ini"] = {ini};
  fake.pictures[kBin + "splash.png"] = {270, 77};
  // Ends by itself, so that a silent run ends too; its window comes first.
  fake.started_app_lifetime_ms = 4000;
  fake.AddWindow(0x500, static_cast<std::uint32_t>(fake.next_pid), "Quarven").appear_ms = 500;
  if (machine == Machine::kMissingApp)
    fake.Fail(FakeService::kStartProgram, kErrFileNotFound);
  // Far beyond the longest run these settings allow; reaching it is a hang.
  fake.event_loop_limit_ms = 10LL * 60 * 1000;
}

// Runs the process as its entry point would; false when it would never end.
bool RunToEnd(FakePlatform& fake, int* status) {
  try {
    Main();
    fake.RunEventLoop();
    *status = ExitStatus();
  } catch (const ProgramEnded& end) {
    *status = end.status;
  }
  return !fake.event_loop_stalled && fake.OpenForm() == nullptr;
}

bool Contains(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

}  // namespace
}  // namespace launcher::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  if (size == 0)
    return 0;
  const auto machine = static_cast<Machine>(data[0] % static_cast<int>(Machine::kCount));
  const std::string command_line(reinterpret_cast<const char*>(data) + 1, size - 1);

  FreshMachine fresh;
  FakePlatform& fake = fresh.fake();
  Prepare(fake, machine);
  fake.command_line = command_line;
  int status = -1;
  FUZZ_CHECK(RunToEnd(fake, &status));

  const LauncherState& g = State();
  const std::vector<std::string> messages = fake.TraceMessages();
  FUZZ_CHECK(!messages.empty() && messages[0] == "App Start...");
  FUZZ_CHECK(status == 0 || status == 1);
  FUZZ_CHECK(fake.open_process_handles == 0);
  FUZZ_CHECK(fake.boxes.size() <= 1);

  const std::size_t switch_at = command_line.find("-c");
  if (switch_at != std::string::npos && switch_at + 2 >= command_line.size()) {
    // Nothing follows the first "-c": reported before anything is read or started.
    FUZZ_CHECK(fake.starts.empty());
    FUZZ_CHECK(status == 1);
    FUZZ_CHECK(fake.boxes.size() == 1 && fake.boxes[0].title == " startup error");
    return 0;
  }

  // The launcher's own switches are read before the first "-c" only.
  const bool silent = command_line.substr(0, switch_at).find("-s") != std::string::npos;
  FUZZ_CHECK(g.gblnSilent == silent);
  FUZZ_CHECK(messages.size() > 1 &&
             messages[1] == (silent ? "Silent Mode: True" : "Silent Mode: False"));
  FUZZ_CHECK(g.gstrExtraArgs.empty() ||
             (g.gstrExtraArgs.front() != ' ' && g.gstrExtraArgs.back() != ' '));
  if (switch_at == std::string::npos)
    FUZZ_CHECK(g.gstrExtraArgs.empty());
  else
    FUZZ_CHECK(command_line.find(g.gstrExtraArgs, switch_at + 2) != std::string::npos);

  if (g.gstrExtraArgs.find('\0') != std::string::npos) {
    // A NUL byte would cut the application's command line short: refused
    // before the start, whatever the machine.
    FUZZ_CHECK(fake.starts.empty());
    FUZZ_CHECK(status == 1);
    FUZZ_CHECK(
        Contains(messages, "QUARVENlauncher StartQUARVENApp: #52 | Bad file name or number"));
  } else if (machine == Machine::kMissingApp) {
    FUZZ_CHECK(fake.starts.empty());
    FUZZ_CHECK(status == 1);
    FUZZ_CHECK(Contains(messages, "QUARVENlauncher StartQUARVENApp: #53 | File not found"));
  } else {
    // Exactly one start, of the configured executable, with the extra
    // arguments as the last text of its command line.
    FUZZ_CHECK(fake.starts.size() == 1);
    const std::string& started = fake.starts[0].command_line;
    FUZZ_CHECK(SplitCommandLine(started).at(0) == kApp);
    if (!g.gstrExtraArgs.empty()) {
      const std::string tail = " " + g.gstrExtraArgs;
      FUZZ_CHECK(started.size() > tail.size() &&
                 started.compare(started.size() - tail.size(), tail.size(), tail) == 0);
    }
    FUZZ_CHECK(status == 0);
    FUZZ_CHECK(messages.back() == "App Stop...");
  }
  // A failure is told in a box, or in silent mode only in the trace.
  FUZZ_CHECK(fake.boxes.size() == (silent ? 0u : static_cast<std::size_t>(status)));
  if (silent)
    FUZZ_CHECK(fake.forms_created == 0);
  return 0;
}
