// The demo application that scripts/demo starts through the launcher: a small
// window that shows the command line and working directory it was given, and
// closes itself after a while. Without a display it prints them instead.
#include <gtk/gtk.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  std::string text = "Started by the launcher with:\n";
  for (int i = 0; i < argc; ++i)
    text += "  argv[" + std::to_string(i) + "] = " + argv[i] + "\n";
  char cwd[PATH_MAX] = "";
  if (getcwd(cwd, sizeof cwd) != nullptr)
    text += "Working directory: " + std::string(cwd) + "\n";
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);

  // X11 first wherever there is an X display (Xwayland's in a Wayland
  // session): scripts/demo finds and captures the window with X11 tools.
  const char* display = g_getenv("DISPLAY");
  if (display != nullptr && *display != '\0')
    gdk_set_allowed_backends("x11,*");
  int no_args = 0;
  if (!gtk_init_check(&no_args, nullptr))
    return 0;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Quarven demo application");
  gtk_window_set_default_size(GTK_WINDOW(window), 520, 200);
  // Top left, away from the splash in the middle of the screen.
  gtk_window_move(GTK_WINDOW(window), 24, 24);
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_widget_set_margin_start(label, 16);
  gtk_widget_set_margin_end(label, 16);
  gtk_container_add(GTK_CONTAINER(window), label);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_timeout_add_seconds(
      8,
      [](gpointer) -> gboolean {
        gtk_main_quit();
        return G_SOURCE_REMOVE;
      },
      nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
