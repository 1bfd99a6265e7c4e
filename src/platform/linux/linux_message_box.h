// The modal message box of the Linux backend, a GTK 3 message dialog.
#pragma once

#include <string>

namespace launcher {

// Shows the dialog and returns 1 once it is closed, or 0 when no display could
// be opened (the text then goes to standard error, so it is not lost).
int RunMessageDialog(const std::string& text, const std::string& title, int style);

}  // namespace launcher
