#include "core/main.h"

#include <string>

#include "core/launch.h"
#include "core/launcher_state.h"
#include "diagnostics/error_handler.h"
#include "diagnostics/trace.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "settings/ini_reader.h"
#include "splash/frm_splash.h"

namespace launcher {

void Main() {
  LauncherState& g = State();
  try {
    WriteTrace("App Start...");
    std::string cmd = Sys().CommandLine();

    // Everything from the first "-c" on belongs to the application: the switch
    // and the one character after it are dropped.
    const std::size_t pos = cmd.find("-c");
    if (pos != std::string::npos) {
      const std::size_t rest = pos + 2;
      if (rest >= cmd.size())
        Raise(kErrInvalidCall);
      g.gstrExtraArgs = Trim(std::string_view(cmd).substr(rest + Utf8CharLength(cmd, rest)));
      cmd = Trim(std::string_view(cmd).substr(0, pos));
    }
    g.gblnSilent = cmd.find("-s") != std::string::npos;
    WriteTrace(std::string("Silent Mode: ") + (g.gblnSilent ? "True" : "False"));

    const char sep = Sys().PathSeparator();
    g.gstrBinPath = Sys().ExeFolder() + sep + "bin" + sep;
    g.gstrIniFile = g.gstrBinPath + "launcher.ini";
    g.gstrAppName =
        AsText(GetINISettings(g.gstrIniFile, "resources", "name", Trim("QUARVENlauncher ")));

    if (!g.gblnSilent)
      DisplaySplash();
    StartQUARVENApp();
    g.gblnAppStarted = true;

    if (!g.gblnSplash) {
      WriteTrace("App Stop...");
      Sys().EndProgram(ExitStatus());
    }
  } catch (const RuntimeError& failure) {
    HandleError(failure, "QUARVENlauncher ", true, false);
  }
}

}  // namespace launcher
