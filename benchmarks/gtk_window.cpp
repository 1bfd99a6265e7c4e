// The direct counterpart of the launcher's splash in the end-to-end timing: a
// plain GTK program that shows a picture in an undecorated window of the
// splash's size, as soon as it can, and stays until it is ended.
//
//   gtk_window PICTURE
#include <gtk/gtk.h>

int main(int argc, char** argv) {
  if (argc != 2 || !gtk_init_check(nullptr, nullptr))
    return 1;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), 277, 85);
  gtk_container_add(GTK_CONTAINER(window), gtk_image_new_from_file(argv[1]));
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
