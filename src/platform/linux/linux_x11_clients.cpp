#include "platform/linux/linux_x11_clients.h"

#include <dirent.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/linux/linux_posix.h"

namespace launcher {

std::string X11SocketPath(const std::string& display) {
  std::size_t colon = display.rfind(':');
  if (colon == std::string::npos)
    return {};
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix")
    return {};
  std::string number;
  for (std::size_t i = colon + 1; i < display.size() && display[i] >= '0' && display[i] <= '9'; ++i)
    number += display[i];
  return number.empty() ? std::string() : "/tmp/.X11-unix/X" + number;
}

namespace {

// The socket inodes among the descriptors of process `pid`.
std::vector<std::uint32_t> SocketsOf(std::uint32_t pid) {
  std::vector<std::uint32_t> sockets;
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr)
    return sockets;
  char target[64];
  while (const dirent* entry = readdir(dir)) {
    const std::string link = folder + "/" + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
      continue;
    target[n] = '\0';
    unsigned long inode = 0;
    if (std::sscanf(target, "socket:[%lu]", &inode) == 1)
      sockets.push_back(static_cast<std::uint32_t>(inode));
  }
  closedir(dir);
  return sockets;
}

// Every Unix socket of the system with its name and its peer, in one dump.
struct UnixSocket {
  std::uint32_t inode = 0;
  std::uint32_t peer = 0;
  std::string name;  // an abstract name starts with '@'
};

// Bounded: a dump of a busy system is a few hundred kilobytes at most.
constexpr std::size_t kMostSockets = 1 << 16;

bool DumpUnixSockets(std::vector<UnixSocket>* sockets) {
  const UniqueFd link(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!link.valid())
    return false;
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  ask.request.sdiag_family = AF_UNIX;
  ask.request.udiag_states = ~0u;
  ask.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_PEER;
  if (send(link.get(), &ask, sizeof ask, 0) != static_cast<ssize_t>(sizeof ask))
    return false;
  std::vector<char> buffer(32768);
  for (;;) {
    const ssize_t got = recv(link.get(), buffer.data(), buffer.size(), 0);
    if (got <= 0)
      return false;
    auto left = static_cast<int>(got);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type == NLMSG_DONE)
        return true;
      if (message->nlmsg_type == NLMSG_ERROR || sockets->size() >= kMostSockets)
        return false;
      const auto* diag = static_cast<const unix_diag_msg*>(NLMSG_DATA(message));
      UnixSocket entry;
      entry.inode = diag->udiag_ino;
      int attributes_left =
          static_cast<int>(message->nlmsg_len) - static_cast<int>(NLMSG_LENGTH(sizeof *diag));
      for (auto* attribute = reinterpret_cast<rtattr*>(const_cast<unix_diag_msg*>(diag) + 1);
           RTA_OK(attribute, attributes_left); attribute = RTA_NEXT(attribute, attributes_left)) {
        const auto* data = static_cast<const char*>(RTA_DATA(attribute));
        const std::size_t size = RTA_PAYLOAD(attribute);
        if (attribute->rta_type == UNIX_DIAG_PEER && size >= sizeof(std::uint32_t)) {
          std::memcpy(&entry.peer, data, sizeof entry.peer);
        } else if (attribute->rta_type == UNIX_DIAG_NAME && size > 0) {
          // An abstract name starts with a NUL byte.
          entry.name = data[0] == '\0' ? "@" + std::string(data + 1, size - 1)
                                       : std::string(data, strnlen(data, size));
        }
      }
      sockets->push_back(std::move(entry));
    }
  }
}

}  // namespace

bool IsX11Client(std::uint32_t pid, const std::string& socket_path) {
  if (socket_path.empty())
    return false;
  const std::vector<std::uint32_t> own = SocketsOf(pid);
  if (own.empty())
    return false;
  std::vector<UnixSocket> all;
  if (!DumpUnixSockets(&all))
    return false;
  // The server's ends carry the name of the socket they were accepted on.
  std::unordered_set<std::uint32_t> server_ends;
  for (const UnixSocket& s : all) {
    if (s.name == socket_path || s.name == "@" + socket_path)
      server_ends.insert(s.inode);
  }
  return std::any_of(all.begin(), all.end(), [&](const UnixSocket& s) {
    return server_ends.count(s.peer) != 0 &&
           std::find(own.begin(), own.end(), s.inode) != own.end();
  });
}

}  // namespace launcher
