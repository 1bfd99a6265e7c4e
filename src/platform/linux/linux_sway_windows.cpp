#include "platform/linux/linux_sway_windows.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <nlohmann/json.hpp>

#include "platform/linux/linux_posix.h"
#include "platform/runtime_error.h"

namespace launcher {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeaderBytes = sizeof kMagic + 8;
constexpr std::uint32_t kGetTree = 4;

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  FailSource("sway IPC at " + path, what);
}

// Waits until `fd` is ready for `events` or the deadline has passed.
bool WaitFor(int fd, short events, std::int64_t deadline) {
  for (;;) {
    const std::int64_t left = deadline - MonotonicNowMs();
    if (left <= 0)
      return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, kDrawingSliceMs)));
    if (n > 0)
      return true;
    if (n < 0 && errno != EINTR)
      return false;
    KeepDrawingWhileWaiting();
  }
}

// The string at `key`, empty when it is missing or of another type.
std::string StringAt(const nlohmann::json& node, const char* key) {
  const auto it = node.find(key);
  return it != node.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

SwayWindows::SwayWindows(std::string socket_path, unsigned number)
    : path_(std::move(socket_path)), number_(number) {}

std::string SwayWindows::SessionSocket() {
  for (const char* name : {"SWAYSOCK", "I3SOCK"}) {
    const char* value = std::getenv(name);
    struct stat info {};
    if (value != nullptr && *value != '\0' && stat(value, &info) == 0 && S_ISSOCK(info.st_mode))
      return value;
  }
  return {};
}

std::string SwayWindows::AskTree() const {
  const std::int64_t deadline = MonotonicNowMs() + kSwayAnswerMs;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path)
    Fail(path_, "the path is too long");
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  UniqueFd socket;
  // A Unix socket whose listen queue is full refuses at once (EAGAIN) rather
  // than queueing the connection: a busy compositor is asked again until the
  // deadline.
  for (int delay_ms = 5;; delay_ms = std::min(delay_ms * 2, 100)) {
    socket.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.valid())
      Fail(path_, std::strerror(errno));
    if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      break;
    if (errno == EINPROGRESS && WaitFor(socket.get(), POLLOUT, deadline))
      break;
    if (errno != EAGAIN)
      Fail(path_, std::string("cannot connect: ") + std::strerror(errno));
    const std::int64_t left = deadline - MonotonicNowMs();
    if (left <= 0)
      Fail(path_, "its listen queue stayed full for " + std::to_string(kSwayAnswerMs) + " ms");
    poll(nullptr, 0, static_cast<int>(std::min<std::int64_t>(delay_ms, left)));
    KeepDrawingWhileWaiting();
  }

  // No payload: its length 0, then the type.
  std::string request(kMagic, sizeof kMagic);
  const std::uint32_t fields[2] = {0, kGetTree};
  request.append(reinterpret_cast<const char*>(fields), sizeof fields);
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n =
        send(socket.get(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      Fail(path_, std::string("cannot ask: ") + std::strerror(errno));
    } else if (!WaitFor(socket.get(), POLLOUT, deadline)) {
      Fail(path_, "no answer within " + std::to_string(kSwayAnswerMs) + " ms");
    }
  }

  // The header first, then as many bytes as it announces, all by the deadline.
  std::string reply(kHeaderBytes, '\0');
  std::size_t got = 0;
  bool header = true;
  while (got < reply.size()) {
    const ssize_t n = recv(socket.get(), reply.data() + got, reply.size() - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n == 0) {
      Fail(path_, "the connection closed before the whole reply");
    } else if (errno != EAGAIN && errno != EINTR) {
      Fail(path_, std::string("cannot read the reply: ") + std::strerror(errno));
    } else if (!WaitFor(socket.get(), POLLIN, deadline)) {
      Fail(path_, "no answer within " + std::to_string(kSwayAnswerMs) + " ms");
    }
    if (header && got == kHeaderBytes) {
      header = false;
      std::uint32_t length = 0;
      std::uint32_t answered = 0;
      std::memcpy(&length, reply.data() + sizeof kMagic, 4);
      std::memcpy(&answered, reply.data() + sizeof kMagic + 4, 4);
      if (std::memcmp(reply.data(), kMagic, sizeof kMagic) != 0 || answered != kGetTree)
        Fail(path_, "the answer is no reply to GET_TREE");
      if (length > kSwayReplyBytes)
        Fail(path_,
             "a reply of more than the " + std::to_string(kSwayReplyBytes) + " bytes allowed");
      reply.assign(length, '\0');
      got = 0;
    }
  }
  return reply;
}

SwayTree ParseSwayTree(const std::string& json, std::uint32_t own_pid) {
  // Titles are passed on as the clients set them: an X11 client's may be
  // Latin-1, which must not cost the whole tree.
  const nlohmann::json tree = nlohmann::json::parse(ValidUtf8(json), nullptr, false);
  if (tree.is_discarded() || !tree.is_object() || StringAt(tree, "type") != "root")
    FailSource("sway IPC", "the reply is no window tree");
  SwayTree result;
  // By hand, not by recursion: a tree nested deep enough must not end the
  // launcher by its stack.
  std::vector<const nlohmann::json*> pending{&tree};
  while (!pending.empty()) {
    const nlohmann::json& node = *pending.back();
    pending.pop_back();
    if (!node.is_object())
      continue;
    for (const char* children : {"floating_nodes", "nodes"}) {
      const auto it = node.find(children);
      if (it != node.end() && it->is_array()) {
        for (auto child = it->rbegin(); child != it->rend(); ++child)
          pending.push_back(&*child);
      }
    }
    const auto id = node.find("id");
    if (id == node.end() || !id->is_number_unsigned())
      continue;
    // A field of another type than sway's own is not trusted, and the view it
    // describes may be the application's: the look may miss a window.
    for (const char* text : {"name", "shell"}) {
      const auto it = node.find(text);
      result.misshapen =
          result.misshapen || (it != node.end() && !it->is_string() && !it->is_null());
    }
    for (const char* number : {"pid", "window"}) {
      const auto it = node.find(number);
      result.misshapen =
          result.misshapen || (it != node.end() && !it->is_number_unsigned() && !it->is_null());
    }
    const auto window = node.find("window");
    const bool x11 = StringAt(node, "shell") == "xwayland" ||
                     (window != node.end() && window->is_number_unsigned());
    const auto pid = node.find("pid");
    const std::uint64_t process =
        pid != node.end() && pid->is_number_unsigned() ? pid->get<std::uint64_t>() : 0;
    if (process == 0 || process > 0xffffffffu) {
      // An X11 view whose client sway cannot name (no _NET_WM_PID): only the
      // X server can tell it. A container (no shell) is no view at all.
      result.untold_x11 = result.untold_x11 || x11;
      continue;
    }
    if (process == own_pid)
      continue;
    WindowFacts facts;
    // Every window in the tree is mapped; one on another workspace is still
    // shown as far as its application is concerned.
    facts.visible = true;
    facts.pid = static_cast<std::uint32_t>(process);
    facts.x11 = x11;
    facts.title = CutText(StringAt(node, "name"));
    result.windows.emplace_back(static_cast<std::uint32_t>(id->get<std::uint64_t>()),
                                std::move(facts));
  }
  return result;
}

std::vector<WindowHandle> SwayWindows::TopLevel() {
  windows_.clear();
  std::vector<WindowHandle> handles;
  told_x11_ = false;
  SwayTree tree = ParseSwayTree(AskTree(), static_cast<std::uint32_t>(getpid()));
  told_x11_ = !tree.untold_x11;
  incomplete_ = tree.misshapen ? "sway IPC: views with fields of unexpected types" : "";
  for (auto& [id, facts] : tree.windows) {
    const WindowHandle handle = CompositorHandle(number_, id);
    if (windows_.emplace(handle, std::move(facts)).second)
      handles.push_back(handle);
  }
  return handles;
}

const WindowFacts& SwayWindows::Facts(WindowHandle window) {
  static const WindowFacts kNone;
  const auto it = windows_.find(window);
  return it != windows_.end() ? it->second : kNone;
}

}  // namespace launcher
