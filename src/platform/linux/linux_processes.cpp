#include "platform/linux/linux_processes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/linux/linux_posix.h"

namespace launcher {

namespace {

// A handle is (generation << kSlotBits) | (slot + 1): never 0, and stale once
// its slot has been closed and opened again.
constexpr unsigned kSlotBits = 20;
constexpr std::uintptr_t kSlotMask = (std::uintptr_t{1} << kSlotBits) - 1;
constexpr std::size_t kMaxSlots = kSlotMask;

// How long a listing that filled the caller's buffer is kept for the caller's
// next, larger call.
constexpr std::int64_t kListingReuseMs = 50;

// The kernel marks the link of an executable that was removed or replaced.
constexpr char kDeletedSuffix[] = " (deleted)";
constexpr std::size_t kDeletedLength = sizeof kDeletedSuffix - 1;

// The pid named by a /proc entry, or 0 for any other entry.
std::uint32_t PidOf(const char* name) {
  std::uint64_t value = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9')
      return 0;
    value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    if (value > 0xffffffffu)
      return 0;
  }
  return static_cast<std::uint32_t>(value);
}

// Whether the running executable of `pid` is the file `path` names, so that a
// name ending in " (deleted)" is the file's real name and not the kernel's mark.
bool IsSameFile(std::uint32_t pid, const std::string& path) {
  // The named file first: mostly there is none (the kernel's mark), and then
  // the link need not be asked at all.
  struct stat named {};
  if (stat(path.c_str(), &named) != 0)
    return false;
  char link[32];
  std::snprintf(link, sizeof link, "/proc/%u/exe", pid);
  struct stat running {};
  return stat(link, &running) == 0 && running.st_dev == named.st_dev &&
         running.st_ino == named.st_ino;
}

}  // namespace

bool ReadExeLink(std::uint32_t pid, std::string& scratch, std::string& path) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/%u/exe", pid);
  if (scratch.size() < 256)
    scratch.resize(256);
  for (;;) {
    const ssize_t n = readlink(link, scratch.data(), scratch.size());
    if (n < 0)
      return false;
    if (static_cast<std::size_t>(n) < scratch.size()) {
      path.assign(scratch.data(), static_cast<std::size_t>(n));
      break;
    }
    // Filled: the path may have been cut, so try again with more room.
    scratch.resize(scratch.size() * 2);
  }
  // An application whose file was replaced while it runs (an update) is still
  // that application, so it keeps the path it was started from.
  if (path.size() > kDeletedLength &&
      path.compare(path.size() - kDeletedLength, kDeletedLength, kDeletedSuffix) == 0 &&
      !IsSameFile(pid, path))
    path.resize(path.size() - kDeletedLength);
  return true;
}

namespace {

// The children started and not yet collected; the launcher starts one.
std::vector<pid_t>& StartedChildren() {
  static std::vector<pid_t> children;
  return children;
}

// The started children collected so far. Their ids are free for the system to
// give again, and whatever runs under one of them later is not the process we
// started: it is never listed nor opened, so it cannot pass for the application.
std::vector<pid_t>& EndedChildren() {
  static std::vector<pid_t> ended;
  return ended;
}

bool IsEndedChild(std::uint32_t pid) {
  const std::vector<pid_t>& ended = EndedChildren();
  return std::find(ended.begin(), ended.end(), static_cast<pid_t>(pid)) != ended.end();
}

}  // namespace

void NoteStartedChild(std::uint32_t pid) {
  StartedChildren().push_back(static_cast<pid_t>(pid));
}

void ReapChildren() {
  std::vector<pid_t>& children = StartedChildren();
  std::erase_if(children, [](pid_t child) {
    pid_t done = 0;
    do {
      int status = 0;
      done = waitpid(child, &status, WNOHANG);
    } while (done < 0 && errno == EINTR);
    // 0: still running; -1 ECHILD: collected already.
    if (done != 0)
      EndedChildren().push_back(child);
    return done != 0;
  });
}

bool ProcessTable::ListIds(std::uint32_t* ids, std::uint32_t capacity, std::uint32_t* count) {
  // A caller whose buffer was too small asks again at once with a larger one;
  // it gets the same listing instead of a second walk of /proc.
  const std::int64_t now = MonotonicNowMs();
  const bool reuse =
      listing_pending_ && capacity > listing_capacity_ && now - listing_time_ms_ < kListingReuseMs;
  if (!reuse) {
    // Once per walk, not per growth call: with many children each reap scans them all.
    ReapChildren();
    listing_.clear();
    listing_pending_ = false;
    DIR* dir = opendir("/proc");
    if (dir == nullptr)
      return false;
    while (const dirent* entry = readdir(dir)) {
      const std::uint32_t pid = PidOf(entry->d_name);
      if (pid != 0 && !IsEndedChild(pid))
        listing_.push_back(pid);
    }
    closedir(dir);
    listing_time_ms_ = now;
    // /proc lists in rising order; Open searches it.
    listing_sorted_ = std::is_sorted(listing_.begin(), listing_.end());
  }
  const std::uint32_t available =
      listing_.size() < capacity ? static_cast<std::uint32_t>(listing_.size()) : capacity;
  if (available > 0)
    std::memcpy(ids, listing_.data(), available * sizeof(std::uint32_t));
  listing_pending_ = available == capacity;
  listing_capacity_ = capacity;
  *count = available;
  return true;
}

bool ProcessTable::IsProcess(std::uint32_t pid) const {
  // An id of a listing of this moment names a process: /proc lists no threads.
  if (listing_sorted_ && MonotonicNowMs() - listing_time_ms_ < kListingReuseMs &&
      std::binary_search(listing_.begin(), listing_.end(), pid))
    return true;
  // A child of ours not collected yet keeps its id, which no thread can
  // have: the watch of the running application asks the system nothing more.
  const std::vector<pid_t>& children = StartedChildren();
  if (std::find(children.begin(), children.end(), static_cast<pid_t>(pid)) != children.end())
    return true;
  const long fd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u);
  if (fd >= 0) {
    close(static_cast<int>(fd));
    return true;
  }
  // A thread that does not lead its group is refused with EINVAL (ENOENT on
  // newer kernels), a gone one with ESRCH. Where pidfds are not to be had,
  // the id is taken for what it says.
  return errno != EINVAL && errno != ENOENT && errno != ESRCH;
}

ProcessHandle ProcessTable::Open(std::uint32_t pid) {
  if (pid == 0 || IsEndedChild(pid) || !ReadExeLink(pid, link_, found_) || !IsProcess(pid))
    return 0;
  std::uint32_t index = 0;
  if (!free_.empty()) {
    index = free_.back();
    free_.pop_back();
  } else {
    if (slots_.size() >= kMaxSlots)
      return 0;
    index = static_cast<std::uint32_t>(slots_.size());
    slots_.emplace_back();
  }
  Slot& slot = slots_[index];
  slot.path.assign(found_);
  slot.open = true;
  return (static_cast<std::uintptr_t>(slot.generation) << kSlotBits) | (index + 1);
}

const ProcessTable::Slot* ProcessTable::Find(ProcessHandle handle) const {
  const std::uintptr_t index = (handle & kSlotMask);
  if (index == 0 || index > slots_.size())
    return nullptr;
  const Slot& slot = slots_[index - 1];
  if (!slot.open || (handle >> kSlotBits) != slot.generation)
    return nullptr;
  return &slot;
}

const std::string* ProcessTable::Path(ProcessHandle handle) const {
  const Slot* slot = Find(handle);
  return slot != nullptr ? &slot->path : nullptr;
}

void ProcessTable::Close(ProcessHandle handle) {
  if (Find(handle) == nullptr)
    return;
  const std::uint32_t index = static_cast<std::uint32_t>((handle & kSlotMask) - 1);
  Slot& slot = slots_[index];
  slot.open = false;
  // Generations wrap within what a handle can carry.
  slot.generation =
      (slot.generation + 1) & static_cast<std::uint32_t>(~std::uintptr_t{0} >> kSlotBits);
  free_.push_back(index);
}

}  // namespace launcher
