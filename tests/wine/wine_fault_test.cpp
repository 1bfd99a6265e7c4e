// launcher.exe under Wine against faults: settings that are a folder, huge,
// garbage or hold NUL bytes; splash pictures that are truncated, empty or
// 20000 x 20000 pixels; applications that are no program, crash, fail or
// leave a copy of themselves running. Each run ends in its box (answered by
// the driver) or its trace line, with the exit status it should have, and
// leaves the installation folder as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fault_inputs.h"
#include "png_file.h"
#include "test_support.h"
#include "wine_drive.h"
#include "wine_install.h"

namespace launcher::wine_testing {
namespace {

namespace fs = std::filesystem;
using launcher::testing::Filler;
using launcher::testing::Garbage;
using launcher::testing::Listing;
using launcher::testing::Png;
using launcher::testing::ReadNumber;
using namespace std::chrono_literals;
using namespace std::string_literals;

struct Scenario {
  const char* name;
  std::function<void(WineInstall&)> prepare;
  std::vector<std::string> args;
  std::string failure;      // the failure's trace line; empty for none
  std::string box_details;  // the end of the box's text; empty for no box
  int status;
  bool app_started;
};

void PrintTo(const Scenario& s, std::ostream* out) {
  *out << s.name;
}

std::function<void(WineInstall&)> With(const std::string& ini,
                                       const std::string& cue = "lifetime_ms=0\n") {
  return [ini, cue](WineInstall& install) {
    install.WriteFile("bin/launcher.ini", ini);
    install.InstallProbe("bin/xulrunner/quarven.exe");
    install.WriteFile("bin/xulrunner/probe-cue.txt", cue);
  };
}

const char kSplash[] = "[resources]\r\nname=Quarven\r\nsplash=pic.png\r\nsplashDuration=5\r\n";

// A 1 x 1 grey TIFF, uncompressed: a format Wine (like Windows) has a codec for.
std::string Tiff() {
  auto le = [](std::uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
      out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
  };
  auto entry = [&](unsigned tag, unsigned type, std::uint32_t value) {
    return le(tag, 2) + le(type, 2) + le(1, 4) + le(value, 4);
  };
  const std::uint32_t pixel_at = 8 + 2 + 8 * 12 + 4;
  return "II*\0"s + le(8, 4) + le(8, 2) + entry(256, 3, 1) + entry(257, 3, 1) + entry(258, 3, 8) +
         entry(259, 3, 1) + entry(262, 3, 1) + entry(273, 4, pixel_at) + entry(278, 3, 1) +
         entry(279, 4, 1) + le(0, 4) + "\x80";
}

class WineFault : public ::testing::TestWithParam<Scenario> {};

TEST_P(WineFault, EndsClearlyWithItsStatusAndLeavesTheInstallationAlone) {
  const Scenario& s = GetParam();
  WineInstall install("Quarven App", "launcher.exe");
  s.prepare(install);
  const auto before = Listing(install.root());
  const Seen seen = Drive(install, s.args);
  // What the driver saw, without the megabyte lines some cases trace.
  const std::string said = seen.output.substr(0, 4000);
  ASSERT_TRUE(seen.exit_code) << "no end within the driver's minute:\n" << said;
  EXPECT_EQ(*seen.exit_code, s.status) << said;
  if (s.failure.empty()) {
    for (const std::string& t : seen.traces)
      EXPECT_EQ(t.find(": #"), std::string::npos) << t;
  } else {
    EXPECT_TRUE(Traced(seen, s.failure)) << said;
  }
  if (s.box_details.empty()) {
    EXPECT_TRUE(seen.boxes.empty()) << said;
  } else {
    ASSERT_EQ(seen.boxes.size(), 1u) << said;
    const std::string& box = seen.boxes[0];
    EXPECT_EQ(box.substr(box.size() - std::min(box.size(), s.box_details.size())), s.box_details);
  }
  ASSERT_FALSE(seen.traces.empty()) << said;
  EXPECT_EQ(seen.traces.back(), "App Stop...");
  EXPECT_EQ(install.ReadRecord("bin/xulrunner", s.app_started ? 10s : 1s).has_value(),
            s.app_started);
  EXPECT_EQ(Listing(install.root()), before) << "the installation changed";
  std::printf("[ outcome  ] %s: exit status %d, %zu trace lines, %zu boxes\n", s.name,
              *seen.exit_code, seen.traces.size(), seen.boxes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults,
    WineFault,
    ::testing::Values(
        Scenario{"folder_named_launcher_ini",
                 [](WineInstall& install) {
                   With("")(install);
                   fs::remove(install.root() + "/bin/launcher.ini");
                   fs::create_directories(install.root() + "/bin/launcher.ini");
                 },
                 {"-s"},
                 "",
                 "",
                 0,
                 true},
        Scenario{"ten_megabytes",
                 With("[resources]\r\nname=Quarven\r\n" + Filler(10 << 20) +
                      "[app]\r\nlocalization=fr-FR\r\n"),
                 {"-s"},
                 "",
                 "",
                 0,
                 true},
        Scenario{"one_megabyte_line_of_name",
                 With("[resources]\r\nname=" + std::string(1 << 20, 'x') + "\r\n"),
                 {"-s"},
                 "",
                 "",
                 0,
                 true},
        // Longer than a command line may be on Windows (32767 characters), where
        // the start fails (#5); Wine starts it.
        Scenario{"one_megabyte_argument",
                 With("[app]\r\ninifile=" + std::string(1 << 20, 'x') + "\r\n"),
                 {"-s"},
                 "",
                 "",
                 0,
                 true},
        Scenario{"binary_garbage", With(Garbage(256 << 10)), {"-s"}, "", "", 0, true},
        Scenario{"nul_in_keys",
                 With("[resources]\r\nna\0me=Nul\r\n[app]\r\nxul\0runner=elsewhere\r\n"s),
                 {"-s"},
                 "",
                 "",
                 0,
                 true},
        Scenario{"nul_in_application",
                 With("[app]\r\nxulrunner=xulrunner\\quarven.exe\0.old\r\n"s),
                 {"-s"},
                 "QUARVENlauncher StartQUARVENApp: #52 | Bad file name or number | launcher",
                 "",
                 1,
                 false},
        Scenario{"truncated_picture",
                 [](WineInstall& install) {
                   With(kSplash)(install);
                   install.WriteFile("bin/pic.png", Png(300, 100, 40));
                 },
                 {},
                 "QUARVENlauncher DisplaySplash: #481 | Invalid picture | launcher",
                 "QUARVENlauncher DisplaySplash: Invalid picture (launcher)",
                 1,
                 true},
        Scenario{"empty_picture",
                 [](WineInstall& install) {
                   With(kSplash)(install);
                   install.WriteFile("bin/pic.png", "");
                 },
                 {},
                 "QUARVENlauncher DisplaySplash: #481 | Invalid picture | launcher",
                 "QUARVENlauncher DisplaySplash: Invalid picture (launcher)",
                 1,
                 true},
        // Only the system's own decoders of the formats whose sizes are read first are used.
        Scenario{"tiff_picture",
                 [](WineInstall& install) {
                   With(kSplash)(install);
                   install.WriteFile("bin/pic.png", Tiff());
                 },
                 {},
                 "QUARVENlauncher DisplaySplash: #481 | Invalid picture (the format is not one "
                 "the launcher reads: PNG, GIF, JPEG, BMP, ICO, DDS) | launcher",
                 "QUARVENlauncher DisplaySplash: Invalid picture (the format is not one the "
                 "launcher reads: PNG, GIF, JPEG, BMP, ICO, DDS) (launcher)",
                 1,
                 true},
        // A device in the picture's place is refused before it is read: reading one may block.
        Scenario{"device_for_picture",
                 With("[resources]\r\nname=Quarven\r\nsplash=NUL\r\nsplashDuration=5\r\n"),
                 {},
                 "QUARVENlauncher DisplaySplash: #53 | File not found | launcher",
                 "QUARVENlauncher DisplaySplash: File not found (launcher)",
                 1,
                 true},
        Scenario{"application_is_no_program",
                 [](WineInstall& install) {
                   With("[resources]\r\nname=Quarven\r\n")(install);
                   install.WriteFile("bin/xulrunner/quarven.exe", "not a program\r\n");
                 },
                 {"-s"},
                 "QUARVENlauncher StartQUARVENApp: #5 | Invalid procedure call or argument | "
                 "launcher",
                 "",
                 1,
                 false},
        Scenario{"application_crashes",
                 With("[resources]\r\nname=Quarven\r\n", "crash=1\n"),
                 {"-s"},
                 "",
                 "",
                 0,
                 true},
        Scenario{"application_fails",
                 With("[resources]\r\nname=Quarven\r\n", "exit_code=3\n"),
                 {"-s"},
                 "",
                 "",
                 0,
                 true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

// The most memory any process of `root`'s launcher.exe has held (VmHWM, kB),
// read until `done`.
long PeakMemoryOf(const std::string& root, const std::atomic<bool>& done) {
  // Wine names the process by its Windows path, which ends in the case's own folders.
  const std::string folders = fs::path(root).parent_path().filename().string() + "/" +
                              fs::path(root).filename().string() + "/launcher.exe";
  long peak = 0;
  while (!done) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string pid = entry.path().filename();
      if (pid.find_first_not_of("0123456789") != std::string::npos)
        continue;
      std::ifstream cmdline(entry.path() / "cmdline");
      std::string command((std::istreambuf_iterator<char>(cmdline)), {});
      std::replace(command.begin(), command.end(), '\\', '/');
      if (command.find(folders) == std::string::npos)
        continue;
      std::ifstream status(entry.path() / "status");
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
          peak = std::max(peak, std::stol(line.substr(6)));
      }
    }
    std::this_thread::sleep_for(20ms);
  }
  return peak;
}

// An icon whose one entry says 16 x 16 and holds `image`.
std::string Icon(const std::string& image) {
  auto le = [](std::uint32_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
      out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
  };
  return le(0, 2) + le(1, 2) + le(1, 2) + "\x10\x10\0\0"s + le(1, 2) + le(32, 2) +
         le(static_cast<std::uint32_t>(image.size()), 4) + le(22, 4) + image;
}

// Made when the test runs: deflating 1.6 GB takes seconds.
struct HugePicture {
  const char* name;
  std::function<std::string()> make;
};

void PrintTo(const HugePicture& p, std::ostream* out) {
  *out << p.name;
}

class WineHugePicture : public ::testing::TestWithParam<HugePicture> {};

// Decoded to 32-bit pixels each would take 1.6 GB. Wine's PNG decoder takes
// in every pixel as soon as it is handed the file, before it can be asked the
// size: the size the file declares is what stops it.
TEST_P(WineHugePicture, IsRefusedWithoutDecodingIt) {
  WineInstall install("Quarven App", "launcher.exe");
  With(kSplash)(install);
  install.WriteFile("bin/pic.png", GetParam().make());
  const auto before = Listing(install.root());
  std::atomic<bool> done{false};
  long peak = 0;
  std::thread watch([&] { peak = PeakMemoryOf(install.root(), done); });
  const Seen seen = Drive(install, {});
  done = true;
  watch.join();
  ASSERT_EQ(seen.exit_code, 1) << seen.output;
  ASSERT_EQ(seen.boxes.size(), 1u) << seen.output;
  EXPECT_NE(seen.boxes[0].find("DisplaySplash: Invalid picture (20000 x 20000 pixels; at most "
                               "16777216 pixels, and 32767 on a side, are taken) (launcher)"),
            std::string::npos)
      << seen.boxes[0];
  EXPECT_TRUE(install.ReadRecord("bin/xulrunner", 10s)) << "the application starts all the same";
  std::printf(
      "[ memory   ] launcher.exe refused a 20000 x 20000 %s; its peak resident memory "
      "was %ld kB\n",
      GetParam().name, peak);
  EXPECT_GT(peak, 0) << "the launcher's process was not seen";
  EXPECT_LT(peak, 256 * 1024);
  EXPECT_EQ(Listing(install.root()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures,
    WineHugePicture,
    ::testing::Values(HugePicture{"grey_png", [] { return Png(20000, 20000); }},
                      HugePicture{"rgba_png", [] { return Png(20000, 20000, 0, true); }},
                      // The icon's entry lies; the PNG inside tells.
                      HugePicture{"icon_of_16_pixels_holding_an_rgba_png",
                                  [] { return Icon(Png(20000, 20000, 0, true)); }}),
    [](const ::testing::TestParamInfo<HugePicture>& info) { return std::string(info.param.name); });

// Silent mode waits for the copy the application left running from its file.
TEST(WineFaultApplication, CopyLeftRunningIsWaitedFor) {
  WineInstall install("Quarven App", "launcher.exe");
  With("[resources]\r\nname=Quarven\r\n", "fork_child_ms=9000\n")(install);
  const Seen seen = Drive(install, {"-s"});
  const std::int64_t ended = launcher::testing::WallMs();
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  const auto parent_exit = ReadNumber(install.root() + "/bin/xulrunner/probe-exit.txt");
  const auto copy_exit = ReadNumber(install.root() + "/bin/xulrunner/probe-child-exit.txt");
  ASSERT_TRUE(parent_exit && copy_exit) << seen.output;
  EXPECT_GE(*copy_exit - *parent_exit, 7000) << "the started process ended at once";
  EXPECT_GE(ended, *copy_exit) << "the launcher ended before the copy";
}

// A picture whose path is past the old 260-character limit is shown.
// (Windows starts no program from such a path: the launcher's and the
// application's own stay within it, as docs/usage.md says.)
TEST(WineFaultPaths, PicturePastTwoHundredSixtyCharacters) {
  WineInstall install("Quarven App", "launcher.exe");
  const std::string folder = std::string(150, 'q') + "/" + std::string(150, 'v');
  With("[resources]\r\nname=Quarven\r\nsplash=" + folder + "/pic.png\r\nsplashDuration=1\r\n",
       "window_after_ms=0\nlifetime_ms=8000\n")(install);
  install.WriteFile("bin/" + folder + "/pic.png", Png(40, 20));
  ASSERT_GT(WindowsPath(install.root() + "/bin/" + folder + "/pic.png").size(), 300u);
  const Seen seen = Drive(install, {});
  ASSERT_EQ(seen.exit_code, 0) << seen.output;
  for (const std::string& t : seen.traces)
    EXPECT_EQ(t.find(": #"), std::string::npos) << t;
  EXPECT_TRUE(seen.boxes.empty()) << seen.output;
}

}  // namespace
}  // namespace launcher::wine_testing
