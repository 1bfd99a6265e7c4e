// The KWin script's report, as any peer on the session bus may send it: read
// into windows that are another process's, with short UTF-8 titles, or refused
// with the runtime failure, and never refused for the bytes of a caption.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "compositor_reply.h"
#include "platform/linux/linux_kwin_windows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const auto [read, windows] =
      ReadReply<std::string>([&] { return ParseKWinReport(reply, kOwnPid); });
  CheckWindows(windows);
  // A list of windows whose captions hold bytes that are not UTF-8 is still one.
  if (!read) {
    const nlohmann::json list = Lenient(reply);
    const bool is_list =
        list.is_array() && std::all_of(list.begin(), list.end(),
                                       [](const nlohmann::json& w) { return w.is_object(); });
    FUZZ_CHECK(!is_list);
  }
  return 0;
}
