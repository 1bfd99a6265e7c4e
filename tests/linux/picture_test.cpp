// The Linux backend's splash pictures: each format its loaders take decodes
// whole; a picture cut short, an empty file or no picture is refused with
// 481, no regular file with 53 (a FIFO without waiting for a writer), and a
// format whose size is known only once decoded is refused even when small.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "picture_files.h"
#include "platform/linux/linux_picture.h"
#include "platform/runtime_error.h"

namespace launcher {
namespace {

using namespace launcher::testing;
namespace fs = std::filesystem;

// kUnreadable: a file that the user nobody, who loads it, may not read.
enum class Kind { kFile, kFifo, kFolder, kMissing, kUnreadable };

struct PictureCase {
  const char* name;
  std::string file;
  std::string bytes;
  int width;  // as decoded; 0 when refused with `error`
  int height;
  std::int32_t error = 0;
  Kind kind = Kind::kFile;
};

void PrintTo(const PictureCase& c, std::ostream* out) {
  *out << c.name;
}

class LinuxPicture : public ::testing::TestWithParam<PictureCase> {};

TEST_P(LinuxPicture, DecodesWholeOrIsRefused) {
  const PictureCase& c = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("launcher-picture-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / c.file).string();
  if (c.kind == Kind::kFile || c.kind == Kind::kUnreadable)
    std::ofstream(path, std::ios::binary) << c.bytes;
  if (c.kind == Kind::kUnreadable)
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  else if (c.kind == Kind::kFifo)
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  else if (c.kind == Kind::kFolder)
    fs::create_directory(path);
  std::int32_t error = 0;
  int width = 0;
  int height = 0;
  if (c.kind == Kind::kUnreadable) {
    // Tests run as root, who may read anything.
    const pid_t child = fork();
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0)
        _exit(255);
      try {
        LoadGdkPicture(path, 1);
        _exit(0);
      } catch (const RuntimeError& e) {
        _exit(e.number() % 256);
      }
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    fs::remove_all(dir);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.error % 256);
    return;
  }
  try {
    const auto picture = LoadGdkPicture(path, 1);
    width = picture->width();
    height = picture->height();
  } catch (const RuntimeError& e) {
    error = e.number();
  }
  fs::remove_all(dir);
  EXPECT_EQ(error, c.error);
  EXPECT_EQ(width, c.width);
  EXPECT_EQ(height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Files,
    LinuxPicture,
    ::testing::Values(
        PictureCase{"png", "pic.png", Png(300, 100), 300, 100},
        PictureCase{"jpeg", "pic.jpg", JpegFile(40, 20), 40, 20},
        PictureCase{"gif", "pic.gif", GifFile(40, 20), 40, 20},
        PictureCase{"bmp", "pic.bmp", BmpFile(40, 20), 40, 20},
        PictureCase{"ico", "pic.ico", IcoFile(32, 32), 32, 32},
        PictureCase{"ani", "pic.ani", AniFile(32, 32), 32, 32},
        PictureCase{"pnm", "pic.ppm", PnmFile(40, 20), 40, 20},
        PictureCase{"svg", "pic.svg", SvgFile(40, 20), 40, 20},
        PictureCase{"tga", "pic.tga", TgaFile(40, 20), 40, 20},
        PictureCase{"tiff", "pic.tif", TiffFile(40, 20), 40, 20},
        PictureCase{"png_cut_short", "pic.png", Png(300, 100, 40), 0, 0, 481},
        PictureCase{"pnm_cut_short", "pic.ppm", PnmFile(40, 20).substr(0, 2000), 0, 0, 481},
        PictureCase{"empty", "pic.png", "", 0, 0, 481},
        PictureCase{"text", "pic.png", "no picture\n", 0, 0, 481},
        PictureCase{"small_xpm", "pic.xpm", XpmFile(40, 20), 0, 0, 481},
        PictureCase{"small_icns", "pic.icns", IcnsFile(512, 512), 0, 0, 481},
        PictureCase{"unreadable", "pic.bmp", BmpFile(40, 20), 0, 0, 70, Kind::kUnreadable},
        PictureCase{"fifo", "pic.png", "", 0, 0, 53, Kind::kFifo},
        PictureCase{"folder", "pic.png", "", 0, 0, 53, Kind::kFolder},
        PictureCase{"missing", "pic.png", "", 0, 0, 53, Kind::kMissing}),
    [](const ::testing::TestParamInfo<PictureCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace launcher
