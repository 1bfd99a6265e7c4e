// What each compositor tells of its windows and its screen, read the way a
// test can: sway's tree, a KWin script's report, the GNOME Shell's Eval, and
// the X server for Xwayland's windows.
#include "desktop_session.h"
#include "desktop_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace launcher::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

Box BoxOf(const json& rect) {
  if (rect.is_array())
    return {rect[0].get<int>(), rect[1].get<int>(), rect[2].get<int>(), rect[3].get<int>()};
  return {rect.value("x", 0), rect.value("y", 0), rect.value("width", 0), rect.value("height", 0)};
}

// One window as the KWin and GNOME scripts report it.
Toplevel ToplevelOf(const json& w) {
  Toplevel t;
  t.title = w.value("title", "");
  t.pid = w.value("pid", 0);
  t.x11 = w.value("x11", false);
  t.outer = BoxOf(w["outer"]);
  t.content = BoxOf(w["content"]);
  t.stack = w.value("stack", -1);
  t.keep_above = w.value("above", false);
  t.focused = w.value("focused", false);
  t.type = w.value("type", "");
  return t;
}

// The shell's windows, bottom to top, as percent-encoded JSON.
constexpr char kGnomeWindowsJs[] = R"((() => {
  const all = global.display.sort_windows_by_stacking(
      global.get_window_actors().map(a => a.meta_window));
  return encodeURIComponent(JSON.stringify(all.map((w, i) => {
    const f = w.get_frame_rect();
    const c = w.frame_rect_to_client_rect(f);
    return {title: w.get_title() || '', pid: w.get_pid(), x11: w.get_client_type() === 1,
            outer: [f.x, f.y, f.width, f.height], content: [c.x, c.y, c.width, c.height],
            stack: i, above: w.is_above(), focused: w.has_focus(),
            type: '' + w.get_window_type()};
  })));
})())";

// KWin's windows; the script prints them to the compositor's log.
std::string KwinScript(const std::string& token) {
  return R"(function box(r) { return [r.x, r.y, r.width, r.height]; }
var out = [];
var all = workspace.clientList();
for (var i = 0; i < all.length; ++i) {
  var c = all[i];
  out.push({title: c.caption, pid: c.pid, x11: c.windowId > 0, outer: box(c.frameGeometry),
            content: box(c.noBorder || c.clientSideDecorated ? c.frameGeometry : c.bufferGeometry),
            stack: c.stackingOrder, above: c.keepAbove, focused: c.active,
            type: "" + c.windowType + (c.noBorder ? "" : " bordered"), wid: c.windowId});
}
print("DESKVIEW )" +
         token + R"( " + JSON.stringify(out));
)";
}

}  // namespace

std::optional<std::vector<Toplevel>> DesktopSession::Windows() const {
  switch (kind_) {
    case Compositor::kSway:
      return SwayWindows();
    case Compositor::kKwin:
      return KwinWindows();
    case Compositor::kGnome:
      return GnomeWindows();
    case Compositor::kWeston:
      // Weston tells a client nothing about other clients' windows.
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::vector<Toplevel>> DesktopSession::SwayWindows() const {
  const Captured c = Run({"swaymsg", "-r", "-t", "get_tree"}, 5s);
  if (c.exit_code != 0)
    return std::nullopt;
  std::vector<Toplevel> windows;
  int stack = 0;
  // Tiled windows lie below floating ones; later floating ones lie higher.
  std::function<void(const json&)> walk = [&](const json& node) {
    if (node.contains("pid") && node.value("type", "") != "workspace") {
      Toplevel t;
      t.title = node["name"].is_string() ? node["name"].get<std::string>() : "";
      t.pid = node.value("pid", 0);
      t.x11 = node.value("shell", "") == "xwayland";
      t.outer = BoxOf(node["rect"]);
      const Box inner = BoxOf(node["window_rect"]);
      const Box deco = BoxOf(node["deco_rect"]);
      t.content = {t.outer.x + inner.x, t.outer.y + inner.y, inner.width, inner.height};
      // The title bar lies outside `rect` for floating windows.
      if (deco.height > 0 && node.value("type", "") == "floating_con")
        t.outer = {t.outer.x, t.outer.y - deco.height, t.outer.width, t.outer.height + deco.height};
      t.focused = node.value("focused", false);
      t.type = node.value("type", "") + " border=" + node.value("border", "");
      if (node.contains("window_properties") && node["window_properties"].contains("window_type"))
        t.type += " " + node["window_properties"].value("window_type", "");
      t.stack = node.value("fullscreen_mode", 0) != 0 ? 1000000 + stack : stack;
      ++stack;
      windows.push_back(t);
    }
    for (const json& child : node.value("nodes", json::array()))
      walk(child);
    for (const json& child : node.value("floating_nodes", json::array()))
      walk(child);
  };
  try {
    walk(json::parse(c.output));
  } catch (const json::exception&) {
    return std::nullopt;
  }
  return windows;
}

std::optional<std::vector<Toplevel>> DesktopSession::KwinWindows() const {
  const std::string token = "q" + std::to_string(getpid()) + "x" + std::to_string(++queries_);
  const std::string script = folder_ + "/" + token + ".js";
  WriteText(script, KwinScript(token));
  GiveTo(script, SessionAccount());
  const auto call = [&](const std::string& method, std::vector<std::string> args) {
    std::vector<std::string> argv = {
        "gdbus",      "call",         "--session",
        "--dest",     "org.kde.KWin", "--object-path",
        "/Scripting", "--method",     "org.kde.kwin.Scripting." + method};
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv, 5s).exit_code == 0;
  };
  std::optional<std::vector<Toplevel>> result;
  // print() of a KWin script lands in the compositor's log, "js: " first.
  const std::string marker = "js: DESKVIEW " + token + " ";
  std::string line;
  if (call("loadScript", {script, token}) && call("start", {}) &&
      WaitFor(
          [&] {
            const std::string log = Log();
            const auto at = log.find(marker);
            if (at == std::string::npos)
              return false;
            line = log.substr(at + marker.size(), log.find('\n', at) - at - marker.size());
            return true;
          },
          5s)) {
    try {
      std::vector<Toplevel> windows;
      for (const json& w : json::parse(line)) {
        Toplevel t = ToplevelOf(w);
        // The scripts tell no client area; an X11 window's is its X window's.
        if (t.x11 && t.type.find("bordered") != std::string::npos)
          t.content = XWindowBox(w.value("wid", 0L)).value_or(t.content);
        windows.push_back(t);
      }
      result = windows;
    } catch (const json::exception&) {
    }
  }
  call("unloadScript", {token});
  std::error_code ignored;
  fs::remove(script, ignored);
  return result;
}

std::optional<Box> DesktopSession::XWindowBox(long id) const {
  const Captured c = Run({"xwininfo", "-id", std::to_string(id)}, 5s);
  std::smatch x, y, w, h;
  const std::string& o = c.output;
  if (c.exit_code != 0 ||
      !std::regex_search(o, x, std::regex("Absolute upper-left X: +(-?[0-9]+)")) ||
      !std::regex_search(o, y, std::regex("Absolute upper-left Y: +(-?[0-9]+)")) ||
      !std::regex_search(o, w, std::regex("Width: +([0-9]+)")) ||
      !std::regex_search(o, h, std::regex("Height: +([0-9]+)")))
    return std::nullopt;
  return Box{std::stoi(x[1]), std::stoi(y[1]), std::stoi(w[1]), std::stoi(h[1])};
}

std::optional<std::vector<Toplevel>> DesktopSession::GnomeWindows() const {
  const Captured c =
      Run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
           "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", kGnomeWindowsJs},
          5s);
  const auto value = EvalValue(c.output);
  if (c.exit_code != 0 || !value)
    return std::nullopt;
  try {
    std::vector<Toplevel> windows;
    for (const json& w : json::parse(*value))
      windows.push_back(ToplevelOf(w));
    return windows;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

bool DesktopSession::Screenshot(const std::string& path) const {
  const std::string shot = folder_ + "/screenshot.png";
  std::error_code ignored;
  fs::remove(shot, ignored);
  switch (kind_) {
    case Compositor::kSway:
      Run({"grim", shot}, 10s);
      break;
    case Compositor::kGnome:
      Run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell.Screenshot", "--object-path",
           "/org/gnome/Shell/Screenshot", "--method", "org.gnome.Shell.Screenshot.Screenshot",
           "false", "false", shot},
          10s);
      break;
    case Compositor::kWeston: {
      // It writes wayland-screenshot-<time>.png into its working folder.
      const std::string shots = folder_ + "/shots";
      fs::create_directories(shots);
      GiveTo(shots, SessionAccount());
      Run({"sh", "-c", "cd " + shots + " && /usr/bin/weston-screenshooter"}, 10s);
      for (const auto& entry : fs::directory_iterator(shots))
        fs::rename(entry.path(), shot, ignored);
      break;
    }
    case Compositor::kKwin:
      // KWin's screenshot interface serves only programs that a desktop
      // file allows it to.
      return false;
  }
  if (!fs::exists(shot))
    return false;
  fs::copy_file(shot, path, fs::copy_options::overwrite_existing, ignored);
  return !ignored;
}

DesktopSession::Pixels DesktopSession::Capture() const {
  Pixels pixels;
  const std::string shot = folder_ + "/capture.ppm";
  std::error_code ignored;
  fs::remove(shot, ignored);
  if (kind_ != Compositor::kSway || Run({"grim", "-t", "ppm", shot}, 10s).exit_code != 0)
    return pixels;
  std::istringstream in(ReadText(shot));
  std::string magic;
  int depth = 0;
  in >> magic >> pixels.width >> pixels.height >> depth;
  in.get();
  const auto size = static_cast<std::size_t>(pixels.width) * pixels.height * 3;
  if (magic != "P6" || depth != 255 || pixels.width <= 0 || pixels.height <= 0)
    return Pixels{};
  pixels.rgb.resize(size);
  if (!in.read(pixels.rgb.data(), static_cast<std::streamsize>(size)))
    return Pixels{};
  return pixels;
}

std::optional<long> DesktopSession::XwaylandResidentKb() const {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string dir = entry.path().string();
    std::string comm = ReadText(dir + "/comm");
    if (comm != "Xwayland\n")
      continue;
    // Its arguments, NUL-separated: the display it serves is one.
    std::string args = ReadText(dir + "/cmdline");
    std::replace(args.begin(), args.end(), '\0', '\n');
    if (("\n" + args).find("\n" + x_display_ + "\n") == std::string::npos)
      continue;
    std::smatch m;
    const std::string status = ReadText(dir + "/status");
    if (std::regex_search(status, m, std::regex(R"(VmRSS:\s*(\d+) kB)")))
      return std::stol(m[1]);
    return 0;
  }
  return std::nullopt;
}

}  // namespace launcher::testing
