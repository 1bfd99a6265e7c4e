// Starting the application with the command line built from the settings.
#pragma once

#include <string>

namespace launcher {

// The path-valued setting as this system writes paths: on a system whose
// separator is '/', the backslashes of a shared launcher.ini become slashes.
std::string NativePath(std::string path);

// Builds the application's command line, makes the launcher folder current,
// starts the application and hands over to the watching of this run's mode.
void StartQUARVENApp();

}  // namespace launcher
