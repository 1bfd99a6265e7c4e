// The modal message box of the Linux backend, a GTK 3 message dialog.
#pragma once

#include <string>

namespace launcher {

// Shows the dialog and returns 1 once it is closed, or 0 when the toolkit
// could not be loaded or no display opened (the title and text then go to
// standard error, so they are not lost).
// `startup_id`: the desktop's start-up id (or Wayland activation token) that a
// start which failed leaves unspent, for the box to end the launch feedback
// and take the focus with; empty for none.
int RunMessageDialog(const std::string& text,
                     const std::string& title,
                     int style,
                     const std::string& startup_id = {});

}  // namespace launcher
