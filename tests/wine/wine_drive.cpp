#include "wine_drive.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace launcher::wine_testing {

using namespace std::chrono_literals;

Seen Drive(const WineInstall& install,
           const std::vector<std::string>& launcher_args,
           const std::vector<std::string>& options,
           const std::vector<std::string>& env) {
  std::vector<std::string> args = options;
  args.push_back("60000");
  args.push_back(WindowsPath(install.launcher()));
  args.insert(args.end(), launcher_args.begin(), launcher_args.end());
  const WineRun run = RunUnderWine(LAUNCHER_DRIVER_EXE, args, 120s, {}, env);
  Seen seen;
  seen.output = run.output;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.rfind("trace ", 0) == 0) {
      const auto dash = line.find(" - ");
      seen.traces.push_back(dash == std::string::npos ? line : line.substr(dash + 3));
    } else if (line.rfind("box ", 0) == 0) {
      seen.boxes.push_back(line.substr(4));
    } else if (line.rfind("window ", 0) == 0) {
      seen.windows.push_back(line.substr(7));
    } else if (line.rfind("name ", 0) == 0) {
      seen.names.push_back(line.substr(5));
    } else if (line.rfind("dpi ", 0) == 0) {
      seen.dpi_changed = line.substr(4);
    } else if (line.rfind("shot ", 0) == 0) {
      seen.shot_style = line.substr(5);
    } else if (line.rfind("exit ", 0) == 0) {
      seen.exit_code = std::stoi(line.substr(5));
    }
  }
  return seen;
}

bool Traced(const Seen& seen, const std::string& message) {
  for (const std::string& t : seen.traces)
    if (t == message)
      return true;
  return false;
}

std::uint32_t Bmp::Pixel(int x, int y) const {
  const int row = (width * 3 + 3) / 4 * 4;
  const std::size_t at =
      54 + static_cast<std::size_t>(height - 1 - y) * row + static_cast<std::size_t>(x) * 3;
  const auto b = static_cast<unsigned char>(bytes[at]);
  const auto g = static_cast<unsigned char>(bytes[at + 1]);
  const auto r = static_cast<unsigned char>(bytes[at + 2]);
  return (r << 16) | (g << 8) | b;
}

std::optional<Bmp> ReadBmp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream data;
  data << in.rdbuf();
  Bmp bmp;
  bmp.bytes = data.str();
  if (bmp.bytes.size() < 54 || bmp.bytes[0] != 'B')
    return std::nullopt;
  auto read32 = [&](int at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = (v << 8) | static_cast<unsigned char>(bmp.bytes[at + i]);
    return static_cast<int>(v);
  };
  bmp.width = read32(18);
  bmp.height = read32(22);
  return bmp;
}

std::optional<Box> SplashOf(const Seen& seen) {
  for (const std::string& w : seen.windows) {
    Box b;
    // The splash has no title: "|x,y,w,h|style".
    if (w.rfind('|', 0) == 0 &&
        std::sscanf(w.c_str(), "|%d,%d,%d,%d|%lx", &b.x, &b.y, &b.w, &b.h, &b.style) == 5)
      return b;
  }
  return std::nullopt;
}

}  // namespace launcher::wine_testing
