#include "platform/linux/linux_toolkit.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "platform/linux/linux_display_lost.h"
#include "platform/runtime_error.h"

namespace launcher {

namespace {

struct Loaded {
  bool tried = false;
  bool ok = false;
  Toolkit functions;
  std::string error;
};

Loaded& State() {
  static Loaded loaded;
  return loaded;
}

// Each name is looked up in the toolkit and the libraries it depends on.
bool Resolve(void* library, Toolkit& toolkit, std::string& error) {
  bool ok = true;
#define TOOLKIT_FUNCTION(name)                                                    \
  toolkit.name = reinterpret_cast<decltype(toolkit.name)>(dlsym(library, #name)); \
  if (toolkit.name == nullptr && ok) {                                            \
    error = std::string(kToolkitLibrary) + ": no function " #name;                \
    ok = false;                                                                   \
  }
#include "platform/linux/linux_toolkit_functions.h"
#undef TOOLKIT_FUNCTION
  return ok;
}

}  // namespace

const Toolkit* TryLoadToolkit() {
  Loaded& loaded = State();
  if (!loaded.tried) {
    loaded.tried = true;
    // RTLD_LOCAL: our names stay ours; the toolkit's own modules link it themselves.
    void* library = dlopen(kToolkitLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* reason = dlerror();
      loaded.error = reason != nullptr ? reason : kToolkitLibrary;
    } else if (!Resolve(library, loaded.functions, loaded.error)) {
      loaded.functions = Toolkit{};
      dlclose(library);
    } else {
      // Kept for the process's life: GTK cannot be unloaded.
      loaded.ok = true;
    }
  }
  return loaded.ok ? &loaded.functions : nullptr;
}

const Toolkit& LoadToolkit() {
  if (const Toolkit* toolkit = TryLoadToolkit())
    return *toolkit;
  throw RuntimeError(kErrDllLoad, DescribeError(kErrDllLoad) + " (" + State().error + ")",
                     kProjectSource);
}

namespace {

// Xlib calls this when the connection breaks, and ends the program itself if
// it returns; nothing here may send a request on the broken connection.
int OnLostConnection(Display* display) {
  const Toolkit* tk = TryLoadToolkit();
  const char* name = tk != nullptr && display != nullptr ? tk->XDisplayString(display) : nullptr;
  // errno says little here (EAGAIN when the server just went away).
  const std::string cause =
      std::string("the connection to the X display ") + (name != nullptr ? name : "") + " was lost";
  ReportDisplayLost(cause);
  std::fprintf(stderr, "%s\n", cause.c_str());
  std::fflush(stderr);
  _exit(1);
}

}  // namespace

bool OpenToolkitDisplay(const Toolkit& toolkit) {
  if (!toolkit.gtk_init_check(nullptr, nullptr))
    return false;
  static const bool installed = [&toolkit] {
    toolkit.XSetIOErrorHandler(&OnLostConnection);
    return true;
  }();
  return installed;
}

const std::string& ToolkitLoadError() {
  return State().error;
}

namespace {

// A GLib that the program itself links (a test, say), found among the loaded
// objects without touching the file system.
MainContext LinkedGlib() {
  std::string path;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        if (name.find("/libglib-2.0.so") == std::string_view::npos)
          return 0;
        static_cast<std::string*>(data)->assign(name);
        return 1;
      },
      &path);
  MainContext context;
  // By its full path, an object already loaded is found without a search.
  if (void* glib = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
    context.pending =
        reinterpret_cast<decltype(context.pending)>(dlsym(glib, "g_main_context_pending"));
    context.iteration =
        reinterpret_cast<decltype(context.iteration)>(dlsym(glib, "g_main_context_iteration"));
    if (context.pending == nullptr || context.iteration == nullptr)
      context = MainContext{};
  }
  return context;
}

}  // namespace

const MainContext* LoadedMainContext() {
  static const MainContext linked = LinkedGlib();
  if (linked.iteration != nullptr)
    return &linked;
  static MainContext from_toolkit;
  if (from_toolkit.iteration == nullptr) {
    const Loaded& loaded = State();
    if (!loaded.ok)
      return nullptr;
    from_toolkit = {loaded.functions.g_main_context_pending,
                    loaded.functions.g_main_context_iteration};
  }
  return &from_toolkit;
}

}  // namespace launcher
