// The splash's name for assistive technology (MSAA, and UI Automation through
// it) while its caption stays empty.
#pragma once

#include <string>

#include "platform/win32/win32_windows.h"

namespace launcher {

// The answer to WM_GETOBJECT for OBJID_CLIENT: the system's own accessible
// object for the window's client area, named `name`. 0 when it cannot be
// made; the window then answers as any other. COM must be initialised on
// the window's thread for as long as the window lives.
LRESULT AnswerAccessibleName(HWND hwnd, WPARAM wparam, const std::wstring& name);

}  // namespace launcher
