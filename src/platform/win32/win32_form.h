// The splash's window on Windows: a borderless popup form with its frame,
// picture and timers, and the message loops that drive it.
#pragma once

#include <memory>

#include "platform/form.h"

namespace launcher {

// A hidden WS_POPUP tool window with a white background; `events` must outlive it.
std::unique_ptr<Form> CreateWin32Form(FormEvents& events);

// Dispatches messages until no Win32 form is open any more.
void RunWin32EventLoop();

// Dispatches the messages pending now, then returns.
void PumpWin32Events();

}  // namespace launcher
