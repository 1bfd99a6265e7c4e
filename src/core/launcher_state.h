// The process-wide values of one run of the launcher.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace launcher {

struct LauncherState {
  std::string gstrIniFile;      // gstrBinPath & "launcher.ini"
  std::string gstrBinPath;      // launcher folder & sep & "bin" & sep
  std::string gstrAppName;      // display name, insert 1 of the message texts
  std::string gstrExtraArgs;    // what followed "-c" on our command line
  bool gblnAppStarted = false;  // StartQUARVENApp has returned
  bool gblnSplash = false;      // DisplaySplash showed the splash
  bool gblnSilent = false;      // "-s": no window, wait for the application's end
  std::string gstrAppExePath;   // the application's executable
  // gstrAppExePath as the system names the file once it is started: what the
  // watch compares each process's executable with.
  std::string gstrAppFileName;
  std::int32_t glngAppPID = 0;  // the process id its start returned
  // The error routine reported a failure to the user (a box, or in silent
  // mode its trace line): the run then ends with exit status 1.
  bool gblnFailureReported = false;
  // The window wait has said once why this session's window list cannot tell.
  bool gblnWindowGapTraced = false;
  // The reasons an incomplete window list was traced for, each once.
  std::vector<std::string> gastrWindowTroubleTraced;
};

LauncherState& State();

// The exit status of this run: 1 once a failure was reported, else 0.
int ExitStatus();

// Back to the values of a fresh process; for tests that run the launcher twice.
void ResetState();

}  // namespace launcher
