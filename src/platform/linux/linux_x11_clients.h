// Whether a process is a client of an X server, told by the kernel from the
// process's sockets, without a word to the X server: asking the server would
// start an Xwayland that starts on demand, for a splash of seconds.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

// The socket path of X display `display` (":1", "unix:1.0", ":1.0"): empty
// for a display that is not a local one.
std::string X11SocketPath(const std::string& display);

// Whether process `pid` holds a connection to the X server listening at
// `socket_path` (the path, or the same name in the abstract namespace).
// False when that cannot be read (another user's process, say).
bool IsX11Client(std::uint32_t pid, const std::string& socket_path);

}  // namespace launcher
