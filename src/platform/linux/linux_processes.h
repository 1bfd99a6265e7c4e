// Processes on Linux: ids from /proc, and "opened" processes that stand for
// the path of their executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace launcher {

// Opened processes, each holding the path its executable link had when it was
// opened. A handle is a slot number with a generation, so a closed handle never
// reaches the process that later reuses its slot. Not thread-safe: the launcher
// has one thread.
class ProcessTable {
 public:
  // Writes up to `capacity` ids of running processes and how many it wrote
  // into `count`; a count equal to `capacity` means there may be more. False
  // when /proc cannot be read. Reaps our started children that have ended
  // before it walks /proc.
  bool ListIds(std::uint32_t* ids, std::uint32_t capacity, std::uint32_t* count);

  // 0 when the process's executable link cannot be read: it has gone, it is
  // a zombie or a kernel thread, or it belongs to someone we may not inspect;
  // and 0 for the id of a thread that does not lead its process, which /proc
  // answers for too but, like Windows, never lists.
  ProcessHandle Open(std::uint32_t pid);
  // The executable's path of an open handle; nullptr for any other value.
  const std::string* Path(ProcessHandle handle) const;
  void Close(ProcessHandle handle);

  std::size_t open_count() const { return slots_.size() - free_.size(); }

 private:
  struct Slot {
    std::string path;  // keeps its capacity between uses
    std::uint32_t generation = 0;
    bool open = false;
  };
  const Slot* Find(ProcessHandle handle) const;
  bool IsProcess(std::uint32_t pid) const;

  std::vector<Slot> slots_;
  std::vector<std::uint32_t> free_;
  // Ids of the last listing that filled the caller's buffer; see ListIds.
  std::vector<std::uint32_t> listing_;
  bool listing_pending_ = false;
  std::uint32_t listing_capacity_ = 0;
  std::int64_t listing_time_ms_ = 0;
  bool listing_sorted_ = false;
  std::string link_;   // scratch buffer for readlink
  std::string found_;  // the path just read, before it gets a slot
};

// Reads /proc/<pid>/exe into `path` without cutting it short. False when the
// link cannot be read.
bool ReadExeLink(std::uint32_t pid, std::string& scratch, std::string& path);

// Notes a child the backend started, for ReapChildren to collect.
void NoteStartedChild(std::uint32_t pid);

// Collects the started children that have ended, so none stays a zombie; the
// id of one collected is never listed nor opened again, so that another
// process given the same id is not taken for it.
// Other children of the process (a library's helpers, or processes the
// program that ran us left to us) are left to whoever waits for them.
void ReapChildren();

}  // namespace launcher
