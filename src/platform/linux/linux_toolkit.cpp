#include "platform/linux/linux_toolkit.h"

#include <dlfcn.h>

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

const std::string& ToolkitLoadError() {
  return State().error;
}

}  // namespace launcher
