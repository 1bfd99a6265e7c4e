#include "wine_drive.h"

#include <chrono>
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

}  // namespace launcher::wine_testing
