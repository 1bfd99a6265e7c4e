// The splash's window services on Windows: a borderless popup form with its
// frame, picture and timers, pictures decoded by the system's image codecs
// (WIC), the primary display's metrics and the message loop that drives them.
#pragma once

#include <memory>
#include <string>

#include "platform/form.h"

namespace launcher {

// A hidden WS_POPUP tool window with a white background; `events` must outlive it.
std::unique_ptr<Form> CreateWin32Form(FormEvents& events);

// Loads the first frame of a PNG, GIF, JPEG, BMP, ICO or DDS picture with the
// system's own decoder for it (WIC; UTF-8 path): 53 when the file is missing or
// a folder, 481 when it is of another format, no picture the decoder can read,
// or larger than the limits of platform/picture_size.h (declared in its headers
// or told by the decoder, before any pixel is asked for).
std::unique_ptr<Picture> LoadWin32Picture(const std::string& path, int density);

// Primary display size in pixels and twips per pixel (1440 / DPI).
ScreenMetrics QueryWin32Screen();

// Dispatches messages until no Win32 form is open any more.
void RunWin32EventLoop();

// Dispatches the messages pending now, then returns.
void PumpWin32Events();

}  // namespace launcher
