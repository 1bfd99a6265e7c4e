#include "platform/linux/linux_xcb.h"

#include <dlfcn.h>

namespace launcher {

namespace {

Xcb Load(bool* loaded) {
  Xcb xcb;
  *loaded = false;
  void* core = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (core == nullptr)
    return xcb;
  bool ok = true;
#define XCB_FUNCTION(name) \
  ok = (xcb.name = reinterpret_cast<decltype(xcb.name)>(dlsym(core, #name))) != nullptr && ok;
#define XCB_RES_FUNCTION(name)
#include "platform/linux/linux_xcb_functions.h"
#undef XCB_RES_FUNCTION
#undef XCB_FUNCTION
  if (!ok) {
    dlclose(core);
    return Xcb{};
  }
  *loaded = true;

  // Without the resource extension's library, pids come from the windows' own
  // property, as with a server that lacks the extension.
  void* res = dlopen("libxcb-res.so.0", RTLD_NOW | RTLD_LOCAL);
  if (res == nullptr)
    return xcb;
  bool res_ok = true;
#define XCB_FUNCTION(name)
#define XCB_RES_FUNCTION(name) \
  res_ok =                     \
      (xcb.name = reinterpret_cast<decltype(xcb.name)>(dlsym(res, #name))) != nullptr && res_ok;
#include "platform/linux/linux_xcb_functions.h"
#undef XCB_RES_FUNCTION
#undef XCB_FUNCTION
  xcb.res_id = static_cast<xcb_extension_t*>(dlsym(res, "xcb_res_id"));
  if (!res_ok || xcb.res_id == nullptr) {
#define XCB_FUNCTION(name)
#define XCB_RES_FUNCTION(name) xcb.name = nullptr;
#include "platform/linux/linux_xcb_functions.h"
#undef XCB_RES_FUNCTION
#undef XCB_FUNCTION
    xcb.res_id = nullptr;
    dlclose(res);
  }
  return xcb;
}

}  // namespace

const Xcb* TryLoadXcb() {
  // Kept for the process's life once loaded.
  static bool loaded = false;
  static const Xcb xcb = Load(&loaded);
  return loaded ? &xcb : nullptr;
}

}  // namespace launcher
