// Clicks the left button at a point of a wlroots compositor's layout, through
// a virtual pointer: headless sway has no pointer of its own.
//   virtual_click <x> <y> <layout width> <layout height>
// Exits 0 once the compositor has the click, 2 where it offers no virtual
// pointer, 1 on any other failure.
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// The virtual-pointer protocol (version 1), written out as its scanner would.
const wl_interface* kNone[5] = {};
const wl_interface kPointer = [] {
  static const wl_message requests[] = {
      {"motion", "uff", kNone},   {"motion_absolute", "uuuuu", kNone},
      {"button", "uuu", kNone},   {"axis", "uuf", kNone},
      {"frame", "", kNone},       {"axis_source", "u", kNone},
      {"axis_stop", "uu", kNone}, {"axis_discrete", "uufi", kNone},
      {"destroy", "", kNone}};
  return wl_interface{"zwlr_virtual_pointer_v1", 1, 9, requests, 0, nullptr};
}();
const wl_interface* kCreateTypes[2] = {&wl_seat_interface, &kPointer};
const wl_message kManagerRequests[] = {{"create_virtual_pointer", "?on", kCreateTypes},
                                       {"destroy", "", kNone}};
const wl_interface kManager{"zwlr_virtual_pointer_manager_v1", 1, 2, kManagerRequests, 0, nullptr};

constexpr std::uint32_t kMotionAbsolute = 1, kButton = 2, kFrame = 4;
constexpr std::uint32_t kLeftButton = 0x110;  // BTN_LEFT

struct Found {
  std::uint32_t manager = 0;
};

void OnGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface, std::uint32_t) {
  if (std::strcmp(interface, kManager.name) == 0)
    static_cast<Found*>(data)->manager = name;
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistryListener{&OnGlobal, &OnGlobalRemove};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: virtual_click <x> <y> <layout width> <layout height>\n");
    return 1;
  }
  const auto arg = [&](int i) { return static_cast<std::uint32_t>(std::atoi(argv[i])); };
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::perror("virtual_click: no Wayland display");
    return 1;
  }
  Found found;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &found);
  if (wl_display_roundtrip(display) < 0)
    return 1;
  if (found.manager == 0) {
    std::fprintf(stderr, "virtual_click: the compositor offers no %s\n", kManager.name);
    return 2;
  }
  auto* manager = static_cast<wl_proxy*>(wl_registry_bind(registry, found.manager, &kManager, 1));
  wl_proxy* pointer = wl_proxy_marshal_flags(manager, 0, &kPointer, 1, 0, nullptr, nullptr);
  // The first pointer of a seat is news to its clients: they bind theirs
  // only after hearing of it, and would miss a click sent at once.
  wl_display_roundtrip(display);
  usleep(300000);
  std::uint32_t time = 1;
  wl_proxy_marshal_flags(pointer, kMotionAbsolute, nullptr, 1, 0, time++, arg(1), arg(2), arg(3),
                         arg(4));
  wl_proxy_marshal_flags(pointer, kFrame, nullptr, 1, 0);
  wl_display_roundtrip(display);
  usleep(100000);
  for (const std::uint32_t state : {1u, 0u}) {
    wl_proxy_marshal_flags(pointer, kButton, nullptr, 1, 0, time++, kLeftButton, state);
    wl_proxy_marshal_flags(pointer, kFrame, nullptr, 1, 0);
  }
  const int done = wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return done < 0 ? 1 : 0;
}
