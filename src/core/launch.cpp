#include "core/launch.h"

#include <algorithm>

#include "core/launcher_state.h"
#include "core/waits.h"
#include "diagnostics/error_handler.h"
#include "diagnostics/trace.h"
#include "platform/platform.h"
#include "settings/ini_reader.h"
#include "splash/frm_splash.h"

namespace launcher {

std::string NativePath(std::string path) {
  const char sep = Sys().PathSeparator();
  if (sep != '\\')
    std::replace(path.begin(), path.end(), '\\', sep);
  return path;
}

void StartQUARVENApp() {
  LauncherState& g = State();
  try {
    const char sep = Sys().PathSeparator();
    const std::string default_app =
        std::string("xulrunner") + sep + "quarven" + Sys().ExecutableSuffix();
    g.gstrAppExePath =
        g.gstrBinPath +
        NativePath(AsText(GetINISettings(g.gstrIniFile, "app", "xulrunner", default_app)));

    std::string command = "\"" + g.gstrAppExePath + "\"";
    command += std::string(" bin") + sep +
               NativePath(AsText(GetINISettings(g.gstrIniFile, "app", "inifile", "")));
    command +=
        " -contentLocale " + AsText(GetINISettings(g.gstrIniFile, "app", "localization", "en-US"));
    command +=
        " -UILocale " + AsText(GetINISettings(g.gstrIniFile, "app", "localization", "en-US"));
    if (!g.gstrExtraArgs.empty())
      command += " " + g.gstrExtraArgs;
    WriteTrace(command);
    // A NUL byte from the settings would cut the program's name or an
    // argument short where the system takes C strings: nothing is started.
    if (command.find('\0') != std::string::npos)
      Raise(kErrBadFileName);

    const std::string folder = Sys().ExeFolder();
    if (!folder.empty())
      Sys().SetCurrentDrive(folder[0]);
    Sys().SetCurrentDirectory(folder);
    g.glngAppPID = Sys().StartProgram(command, kNormalFocus);
    // Started by the user through us: its first window may come to the front.
    Sys().AllowForeground(static_cast<std::uint32_t>(g.glngAppPID));
    // Once per run: the watch compares with this spelling ten times a second.
    g.gstrAppFileName = Sys().FileSystemName(g.gstrAppExePath);
    if (g.gblnSilent)
      subWaitForQUARVENAppEnd(g.glngAppPID, g.gstrAppFileName);
    else
      EnableProcessWatch();
  } catch (const RuntimeError& failure) {
    HandleError(failure, "QUARVENlauncher StartQUARVENApp", true, false);
  }
}

}  // namespace launcher
