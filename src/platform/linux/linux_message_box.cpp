#include "platform/linux/linux_message_box.h"

#include <cstdio>

#include <gtk/gtk.h>

namespace launcher {

namespace {

constexpr int kIconMask = 0x70;
constexpr int kIconCritical = 16;

}  // namespace

int RunMessageDialog(const std::string& text, const std::string& title, int style) {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "%s\n%s\n", title.c_str(), text.c_str());
    return 0;
  }
  const GtkMessageType type =
      (style & kIconMask) == kIconCritical ? GTK_MESSAGE_ERROR : GTK_MESSAGE_WARNING;
  GtkWidget* dialog =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type, GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  // Let the server see the window go before the launcher moves on or ends.
  while (gtk_events_pending())
    gtk_main_iteration();
  return 1;
}

}  // namespace launcher
