#include "platform/picture_density.h"

namespace launcher {

std::string DoubleDensityPath(const std::string& path, char separator) {
  const std::size_t name = path.find_last_of(separator) + 1;  // npos + 1 == 0
  std::size_t dot = path.find_last_of('.');
  // A name that only starts with a dot (".splash") has no extension.
  if (dot == std::string::npos || dot <= name)
    dot = path.size();
  return path.substr(0, dot) + "@2x" + path.substr(dot);
}

}  // namespace launcher
