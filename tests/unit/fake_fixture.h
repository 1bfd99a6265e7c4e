// A fresh simulated machine for every test, and a run of the launcher on it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/launcher_state.h"
#include "core/main.h"
#include "diagnostics/error_handler.h"
#include "platform/fake/fake_platform.h"
#include "splash/frm_splash.h"

namespace launcher {

class FakeTest : public ::testing::Test {
 protected:
  FakeTest() {
    ResetState();
    InstallPlatform(&fake);
    // Plain mode unless a test writes settings of its own.
    WriteIni("[resources]\r\nsplashDuration=0\r\n");
  }
  ~FakeTest() override {
    ResetSplash();
    InstallPlatform(nullptr);
  }

  // The settings file of the default installation, with CR LF line ends.
  void WriteIni(const std::string& crlf_text) {
    fake.files[fake.exe_folder + "\\bin\\launcher.ini"] = {crlf_text};
  }

  // Runs Main as the process would; true when the program ended inside it.
  bool RunMain() {
    try {
      Main();
      return false;
    } catch (const ProgramEnded&) {
      return true;
    }
  }

  // Main, then the event loop as the entry point runs it; true when the
  // program was ended at once rather than by running out of forms.
  bool RunLauncher() {
    if (RunMain())
      return true;
    try {
      fake.RunEventLoop();
      return false;
    } catch (const ProgramEnded&) {
      return true;
    }
  }

  // A whole run, and the exit status the process ends with: the one handed to
  // EndProgram, or what the entry point returns once no form is left.
  int RunToExitStatus() {
    const bool ended_at_once = RunLauncher();
    EXPECT_FALSE(fake.event_loop_stalled) << "the run would never end";
    return ended_at_once ? fake.exit_status : ExitStatus();
  }

  FakePlatform fake;
  LauncherState& g = State();
};

}  // namespace launcher
