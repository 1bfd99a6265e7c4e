// sway's GET_TREE reply, as any program answering at $SWAYSOCK or $I3SOCK may
// send it: read into windows that are another process's, with short UTF-8
// titles, or refused with the runtime failure, and never refused for the
// bytes of a title.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

#include "compositor_reply.h"
#include "platform/linux/linux_sway_windows.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace launcher;
  using namespace launcher::fuzz;
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const auto [read, windows] =
      ReadReply<std::uint32_t>([&] { return ParseSwayTree(reply, kOwnPid).windows; });
  CheckWindows(windows);
  // A tree whose texts hold bytes that are not UTF-8 is still a tree.
  if (!read) {
    const nlohmann::json tree = Lenient(reply);
    const bool is_tree = tree.is_object() && tree.contains("type") && tree["type"] == "root";
    FUZZ_CHECK(!is_tree);
  }
  return 0;
}
