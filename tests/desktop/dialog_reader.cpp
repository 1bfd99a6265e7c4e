// Reads the dialog that process <pid> shows, through AT-SPI on the session's
// own accessibility bus, prints its texts and buttons ("label=", "button=",
// line breaks as \n) and, with --press, presses its first button. Runs inside
// a compositor session as that session's user; ends with 1 when no dialog came.
#include <atspi/atspi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "accessible_dialog.h"

namespace {

std::string OneLine(std::string text) {
  for (std::size_t at = 0; (at = text.find_first_of("\r\n", at)) != std::string::npos;)
    text.replace(at, 1, text[at] == '\n' ? "\\n" : "\\r");
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3)
    return 2;
  if (atspi_init() != 0)
    return 3;
  const auto dialog = launcher::testing::AccessibleDialog::WaitFor(
      static_cast<pid_t>(std::atol(argv[1])), std::chrono::milliseconds(std::atol(argv[2])));
  if (!dialog)
    return 1;
  std::printf("modal=%d\n", dialog->modal() ? 1 : 0);
  for (const std::string& label : dialog->labels())
    std::printf("label=%s\n", OneLine(label).c_str());
  for (const std::string& button : dialog->buttons())
    std::printf("button=%s\n", OneLine(button).c_str());
  if (argc > 3 && std::string(argv[3]) == "--press")
    std::printf("pressed=%d\n", dialog->Press(0) ? 1 : 0);
  std::fflush(stdout);
  return 0;
}
