#include "platform/linux/linux_sway_windows.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

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
    const int n = poll(&p, 1, static_cast<int>(left));
    if (n > 0)
      return true;
    if (n < 0 && errno != EINTR)
      return false;
  }
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
  const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.get() < 0)
    Fail(path_, std::strerror(errno));
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      (errno != EAGAIN || !WaitFor(socket.get(), POLLOUT, deadline)))
    Fail(path_, std::string("cannot connect: ") + std::strerror(errno));

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
      Fail(path_, "the connection closed after " + std::to_string(got) + " bytes of the reply");
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
        Fail(path_, "a reply of " + std::to_string(length) + " bytes, more than the " +
                        std::to_string(kSwayReplyBytes) + " allowed");
      reply.assign(length, '\0');
      got = 0;
    }
  }
  return reply;
}

std::vector<std::pair<std::uint32_t, WindowFacts>> ParseSwayTree(const std::string& json,
                                                                 std::uint32_t own_pid) {
  const nlohmann::json tree = nlohmann::json::parse(json, nullptr, false);
  if (tree.is_discarded() || !tree.is_object() || tree.value("type", "") != "root")
    throw RuntimeError(kErrDeviceIo,
                       DescribeError(kErrDeviceIo) + " (sway IPC: the reply is no window tree)",
                       kProjectSource);
  std::vector<std::pair<std::uint32_t, WindowFacts>> windows;
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
    const auto pid = node.find("pid");
    const auto id = node.find("id");
    if (pid == node.end() || !pid->is_number_unsigned() || id == node.end() ||
        !id->is_number_unsigned())
      continue;
    // X11 windows under Xwayland: the X11 source tells them.
    const auto window = node.find("window");
    if (node.value("shell", "") == "xwayland" || (window != node.end() && window->is_number()))
      continue;
    const auto process = pid->get<std::uint64_t>();
    if (process == 0 || process > 0xffffffffu || process == own_pid)
      continue;
    WindowFacts facts;
    // Every window in the tree is mapped; one on another workspace is still
    // shown as far as its application is concerned.
    facts.visible = true;
    facts.pid = static_cast<std::uint32_t>(process);
    const auto name = node.find("name");
    if (name != node.end() && name->is_string())
      facts.title = CutText(name->get<std::string>());
    windows.emplace_back(static_cast<std::uint32_t>(id->get<std::uint64_t>()), std::move(facts));
  }
  return windows;
}

std::vector<WindowHandle> SwayWindows::TopLevel() {
  windows_.clear();
  std::vector<WindowHandle> handles;
  for (auto& [id, facts] : ParseSwayTree(AskTree(), static_cast<std::uint32_t>(getpid()))) {
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
