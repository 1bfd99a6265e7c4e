// Top-level X11 windows, read from the X server (also Xwayland's) through XCB
// (loaded at run time, linux_xcb.h) on a connection of our own, opened on
// first use and kept.
//
// Every question about a window takes one request or more. Asked one at a
// time, each would wait for its answer in turn; so the questions about all the
// windows of one enumeration are sent together and their answers read after
// (see Batch), and the enumeration pays about one round trip in all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/linux_window_source.h"
#include "platform/platform.h"

struct xcb_connection_t;

namespace launcher {

struct XcbLibrary;
struct XcbResLibrary;

class X11Windows : public WindowSource {
 public:
  // `xcb` stands in for the loaded library (a test's, to make it fail).
  explicit X11Windows(const XcbLibrary* xcb = nullptr) : xcb_(xcb) {}
  ~X11Windows() override;
  X11Windows(const X11Windows&) = delete;
  X11Windows& operator=(const X11Windows&) = delete;

  // The window manager's client list when a manager runs, else the root
  // window's children. Empty with no display or once the connection is lost.
  // XCB out of memory (a reply too large to hold) is no lost display: the
  // connection is dropped, made again at the next look, and this look fails
  // with 7 (Out of memory).
  std::vector<WindowHandle> TopLevel() override;
  // The owner is WM_TRANSIENT_FOR, 0 when unset or set to the root. Titles
  // and the client machine are read up to kWindowTextBytes.
  const WindowFacts& Facts(WindowHandle window) override;

  // While a batch lives, the first question about one of its windows fetches
  // the facts of all of them at once, and the later ones are answered from
  // those: the batch is a snapshot taken at its first question. Taken then
  // rather than when the batch begins, so that a window that goes between the
  // listing and the questions is seen gone, as when each was asked about
  // alone. Questions about other windows are fetched alone, as without a batch.
  class Batch {
   public:
    Batch(X11Windows& owner, std::vector<WindowHandle> windows);
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    X11Windows& owner_;
    bool active_;
  };

  // Whether a display is open and usable (opens it if not tried yet).
  bool connected() { return Connection() != nullptr; }
  // Whether a connection was tried, without trying one.
  bool connected_yet() const { return tried_; }

  // X errors our requests met (windows that vanished, say), all ignored.
  unsigned error_count() const { return errors_; }

 private:
  enum AtomId : std::size_t {
    kSupportingWmCheck,
    kClientList,
    kWmName,
    kUtf8String,
    kCompoundText,
    kWmState,
    kNetWmState,
    kStateSkipTaskbar,
    kNetWmPid,
    kWindowType,
    kTypeNormal,
    kTypeDialog,
    kTypeUtility,
    kTypeToolbar,
    kTypeMenu,
    kTypeDropdownMenu,
    kTypePopupMenu,
    kTypeTooltip,
    kTypeNotification,
    kTypeCombo,
    kTypeDnd,
    kTypeDock,
    kTypeDesktop,
    kTypeSplash,
    kAtomCount,
  };

  xcb_connection_t* Connection();
  // Sends every request about `windows`, then reads the replies into `facts`.
  void Fetch(const std::vector<WindowHandle>& windows, std::vector<WindowFacts>& facts);
  // The facts of `window`: from the running batch when it holds the window,
  // else fetched alone.
  const WindowFacts& FactsOf(WindowHandle window);
  bool IsRoot(std::uint32_t window) const;
  // Notes a failed connection, after which every question finds nothing, and
  // raises 7 for one that ran out of memory.
  bool Lost();

  const XcbLibrary* xcb_;
  // The resource extension's library; nullptr where it is missing.
  const XcbResLibrary* res_ = nullptr;
  xcb_connection_t* connection_ = nullptr;
  bool tried_ = false;
  bool lost_ = false;
  bool has_xres_ = false;
  unsigned errors_ = 0;
  std::array<std::uint32_t, kAtomCount> atoms_{};
  std::vector<std::uint32_t> roots_;
  std::string host_;
  std::string display_name_;

  // The running batch: its windows, and their facts once fetched.
  bool batching_ = false;
  bool batch_fetched_ = false;
  std::vector<WindowHandle> batch_windows_;
  std::vector<WindowFacts> batch_facts_;
  std::size_t batch_hint_ = 0;
  // Facts of a window asked about outside a batch.
  std::vector<WindowFacts> single_;
};

}  // namespace launcher
