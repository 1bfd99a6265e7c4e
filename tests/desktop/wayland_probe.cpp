// The probe application as a native Wayland client: a GTK 3 window held to
// GDK's Wayland backend. It reads the same "probe-cue.txt" as the X11 probe
// (window_after_ms, lifetime_ms, title) and writes the same records beside
// itself: probe-record.txt, probe-env.txt, probe-window.txt (when the window
// was mapped), probe-focus.txt ("in <ms>" / "out <ms>") and probe-exit.txt.
#include <fcntl.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

using launcher::testing::WallMs;

struct Probe {
  std::string folder;
  std::string title = "Quarven probe";
  std::string focus;
  GtkWidget* window = nullptr;
};

void WriteFile(const std::string& path, const std::string& content) {
  const std::string temp = path + ".tmp";
  std::ofstream(temp, std::ios::binary) << content;
  std::rename(temp.c_str(), path.c_str());
}

std::map<std::string, std::string> ReadCue(const std::string& path) {
  std::map<std::string, std::string> cue;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    const auto eq = line.find('=');
    if (eq != std::string::npos)
      cue[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return cue;
}

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer data) {
  WriteFile(static_cast<Probe*>(data)->folder + "probe-window.txt", std::to_string(WallMs()));
  return FALSE;
}

gboolean OnFocus(GtkWidget*, GdkEventFocus* event, gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  probe->focus += (event->in ? "in " : "out ") + std::to_string(WallMs()) + "\n";
  WriteFile(probe->folder + "probe-focus.txt", probe->focus);
  return FALSE;
}

gboolean ShowWindow(gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  probe->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(probe->window), probe->title.c_str());
  gtk_window_set_default_size(GTK_WINDOW(probe->window), 200, 120);
  g_signal_connect(probe->window, "map-event", G_CALLBACK(OnMapped), probe);
  g_signal_connect(probe->window, "focus-in-event", G_CALLBACK(OnFocus), probe);
  g_signal_connect(probe->window, "focus-out-event", G_CALLBACK(OnFocus), probe);
  gtk_widget_show_all(probe->window);
  return G_SOURCE_REMOVE;
}

gboolean Quit(gpointer) {
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  Probe probe;
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  self[n > 0 ? n : 0] = '\0';
  probe.folder = std::string(self).substr(0, std::string(self).rfind('/') + 1);

  // The launcher hands the application its own standard error, which the
  // tests read as the launcher's: the toolkit's messages go beside the probe.
  const int err = open((probe.folder + "probe-stderr.txt").c_str(),
                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (err >= 0) {
    dup2(err, STDERR_FILENO);
    close(err);
  }

  // Before gtk_init, which takes the start-up id out of the environment.
  std::string handed;
  for (const char* name : {"DESKTOP_STARTUP_ID", "XDG_ACTIVATION_TOKEN"}) {
    const char* value = std::getenv(name);
    handed += std::string("env_") + name + "=" + (value != nullptr ? value : "<unset>") + "\n";
  }
  char cwd[PATH_MAX];
  std::ostringstream record;
  record << "cwd=" << (getcwd(cwd, sizeof cwd) != nullptr ? cwd : "") << "\nargc=" << argc << "\n";
  for (int i = 0; i < argc; ++i)
    record << "arg" << i << "=" << argv[i] << "\n";
  WriteFile(probe.folder + "probe-env.txt", handed);
  WriteFile(probe.folder + "probe-record.txt", record.str());

  const auto cue = ReadCue(probe.folder + "probe-cue.txt");
  const auto number = [&](const char* key, long fallback) {
    const auto it = cue.find(key);
    return it == cue.end() ? fallback : std::stol(it->second);
  };
  if (cue.count("title") != 0)
    probe.title = cue.at("title");

  gdk_set_allowed_backends("wayland");
  if (!gtk_init_check(&argc, &argv)) {
    WriteFile(probe.folder + "probe-exit.txt", std::to_string(WallMs()));
    return 2;
  }
  const long window_after = number("window_after_ms", -1);
  if (window_after >= 0)
    g_timeout_add(static_cast<guint>(window_after), ShowWindow, &probe);
  g_timeout_add(static_cast<guint>(number("lifetime_ms", 0)), Quit, nullptr);
  gtk_main();
  WriteFile(probe.folder + "probe-exit.txt", std::to_string(WallMs()));
  return static_cast<int>(number("exit_code", 0));
}
