// What the X11 window source makes of XCB's replies; shared by its two halves
// (linux_x11_windows.cpp: the connection and the listing; linux_x11_facts.cpp:
// the questions about each window).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/linux_posix.h"
#include "platform/linux/linux_x11_windows.h"
#include "platform/linux/linux_xcb.h"

namespace launcher {

// Sets the deadline of the look's waits from the time left in its bound, and
// keeps what is left when the call that waited returns.
class X11Windows::Answers {
 public:
  explicit Answers(X11Windows& owner) : owner_(owner) {
    owner_.deadline_ = MonotonicNowMs() + owner_.left_ms_;
  }
  ~Answers() { owner_.left_ms_ = std::max<std::int64_t>(0, owner_.deadline_ - MonotonicNowMs()); }
  Answers(const Answers&) = delete;
  Answers& operator=(const Answers&) = delete;

 private:
  X11Windows& owner_;
};

}  // namespace launcher

namespace launcher::x11 {

// How much of a property a request asks for, in 32-bit units. The server sends
// only what there is. Lists of windows are asked for again, whole, when longer
// (up to kMostListLongs); texts of other programs never are.
inline constexpr std::uint32_t kListLongs = 1 << 16;
inline constexpr std::uint32_t kMostListLongs = 1 << 20;
inline constexpr std::uint32_t kAtomListLongs = 1024;
// A host name has at most 255 bytes: a longer client machine names no host.
inline constexpr std::uint32_t kMachineLongs = 64;

// Frees what XCB hands out.
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;
using PropertyReply = Owned<xcb_get_property_reply_t>;

// A host name up to its first dot.
inline std::string ShortHostName(std::string name) {
  name.resize(std::strlen(name.c_str()));
  const std::size_t dot = name.find('.');
  if (dot != std::string::npos)
    name.resize(dot);
  return name;
}

// The format-32 items of a property of `type`; empty when it is unset or of
// another type or format.
inline std::vector<std::uint32_t> Items(const XcbLibrary& x,
                                        const xcb_get_property_reply_t* reply,
                                        std::uint32_t type) {
  if (reply == nullptr || reply->type != type || reply->format != 32)
    return {};
  const auto* values = static_cast<const std::uint32_t*>(x.xcb_get_property_value(reply));
  return {values, values + x.xcb_get_property_value_length(reply) / 4};
}

// The bytes of a format-8 property of any type; nothing when it is unset or
// not text.
inline std::optional<std::string_view> Text(const XcbLibrary& x,
                                            const xcb_get_property_reply_t* reply) {
  if (reply == nullptr || reply->type == XCB_ATOM_NONE || reply->format != 8)
    return std::nullopt;
  return std::string_view(static_cast<const char*>(x.xcb_get_property_value(reply)),
                          static_cast<std::size_t>(x.xcb_get_property_value_length(reply)));
}

}  // namespace launcher::x11
