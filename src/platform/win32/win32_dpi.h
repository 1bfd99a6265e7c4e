// The primary screen's scale: the launcher is aware of each monitor's DPI
// (its manifest), so it learns the scale and sizes its splash itself.
#pragma once

#include "platform/form.h"

namespace launcher {

// Primary display size in pixels of a form and twips per pixel of a form
// (1440 / 96), with the screen's scale (its DPI / 96).
ScreenMetrics QueryWin32Screen();

// The same at `dpi`, the scale a change of the screen's settings brings.
ScreenMetrics Win32ScreenAt(int dpi);

// The primary monitor's dots per inch as this thread's windows are drawn at:
// its effective DPI where the thread is aware of each monitor's (Windows 8.1
// and later), else the system's; 96 when nothing tells.
int PrimaryScreenDpi();

// The function `name` of `dll`, loaded from the system folder alone (never
// beside the launcher or from the current folder) and kept loaded; nullptr
// where the system has neither.
void* SystemFunction(const wchar_t* dll, const char* name);

}  // namespace launcher
