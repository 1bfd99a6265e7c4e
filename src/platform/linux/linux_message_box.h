// The modal message box of the Linux backend, a GTK 3 message dialog.
#pragma once

#include <string>

namespace launcher {

// Shows the dialog and returns 1 once it is closed, or 0 when the toolkit
// could not be loaded or no display opened (the title and text then go to
// standard error, so they are not lost).
int RunMessageDialog(const std::string& text, const std::string& title, int style);

}  // namespace launcher
