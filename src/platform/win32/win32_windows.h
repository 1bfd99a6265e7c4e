// <windows.h> without the macros that would rename the platform interface's
// own functions (SetCurrentDirectory would become SetCurrentDirectoryW).
#pragma once

#include <windows.h>

#undef GetWindowText
#undef SetCurrentDirectory
