// What the fault scenarios on both systems share: settings files nobody writes
// by hand, and the listing that shows an installation was left as it was.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace launcher::testing {

// Comment lines of random text, `bytes` long at least; the same every run.
inline std::string Filler(std::size_t bytes) {
  std::string text;
  std::mt19937 random(7);
  while (text.size() < bytes)
    text += "; filler " + std::to_string(random()) + std::string(80, '.') + "\r\n";
  return text;
}

// `bytes` random bytes, NULs and line ends among them; the same every run.
inline std::string Garbage(std::size_t bytes) {
  std::string text(bytes, '\0');
  std::mt19937 random(11);
  for (char& c : text)
    c = static_cast<char>(random());
  return text;
}

// Every file and folder under `root` with its mode, size and modification
// time. What the application (the probe) writes beside itself is its own
// doing and left out; a folder's own time and size follow its entries, which
// are listed instead.
inline std::map<std::string, std::string> Listing(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> listing;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename();
    if (name.rfind("probe-", 0) == 0 && name != "probe-cue.txt")
      continue;
    struct stat info {};
    lstat(entry.path().c_str(), &info);
    std::string facts = std::to_string(info.st_mode);
    if (!S_ISDIR(info.st_mode))
      facts += " " + std::to_string(info.st_size) + " " + std::to_string(info.st_mtim.tv_sec) +
               "." + std::to_string(info.st_mtim.tv_nsec);
    listing[fs::relative(entry.path(), root).string()] = facts;
  }
  return listing;
}

}  // namespace launcher::testing
