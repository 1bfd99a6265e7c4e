#include "platform/linux/linux_message_box.h"

#include <cstdio>

#include "platform/linux/linux_toolkit.h"

namespace launcher {

namespace {

constexpr int kIconMask = 0x70;
constexpr int kIconCritical = 16;

}  // namespace

int RunMessageDialog(const std::string& text,
                     const std::string& title,
                     int style,
                     const std::string& startup_id) {
  const Toolkit* tk = TryLoadToolkit();
  if (tk == nullptr || !OpenToolkitDisplay(*tk)) {
    // Nowhere to show it: the text must not be lost, and the reason is told.
    if (tk == nullptr)
      std::fprintf(stderr, "No message box: %s\n", ToolkitLoadError().c_str());
    std::fprintf(stderr, "%s\n%s\n", title.c_str(), text.c_str());
    return 0;
  }
  const GtkMessageType type =
      (style & kIconMask) == kIconCritical ? GTK_MESSAGE_ERROR : GTK_MESSAGE_WARNING;
  GtkWidget* dialog = tk->gtk.gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type,
                                                     GTK_BUTTONS_OK, "%s", text.c_str());
  tk->gtk.gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  if (!startup_id.empty())
    tk->gtk.gtk_window_set_startup_id(GTK_WINDOW(dialog), startup_id.c_str());
  tk->gtk.gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  tk->gtk.gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  tk->gtk.gtk_dialog_run(GTK_DIALOG(dialog));
  tk->gtk.gtk_widget_destroy(dialog);
  // Let the server see the window go before the launcher moves on or ends.
  while (tk->gtk.gtk_events_pending())
    tk->gtk.gtk_main_iteration();
  return 1;
}

}  // namespace launcher
