// Top-level X11 windows, read from the X server (also Xwayland's) through XCB
// (loaded at run time, linux_xcb.h) on a connection of our own, opened on
// first use and kept.
//
// Every question about a window takes one request or more. Asked one at a
// time, each would wait for its answer in turn; so the questions about all the
// windows of one enumeration are sent together and their answers read after
// (see Batch), and the enumeration pays about one round trip in all.
//
// No answer is waited for without a deadline: another client can hold a
// server grab, or Xwayland can be stopped, for as long as it likes, and the
// launcher must go on meanwhile (see kX11AnswerMs and Trouble()).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/linux_window_source.h"
#include "platform/platform.h"

struct xcb_connection_t;

namespace launcher {

struct XcbLibrary;
struct XcbResLibrary;

// How long one look waits for the X server in all: the listing and the
// facts of its windows (a batch), or the facts of a window asked about alone,
// the first connection's setup included. A server that answers at all answers
// a look in about a millisecond, and well under 100 ms when loaded; the waits
// look once a second, so a longer bound would only stretch their passes and
// leave the splash unrepainted for longer, and a much shorter one would count
// a busy server as a stalled one.
inline constexpr int kX11AnswerMs = 1000;

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
  // with 7 (Out of memory). Begins a look: see Trouble().
  std::vector<WindowHandle> TopLevel() override;
  // The owner is WM_TRANSIENT_FOR, 0 when unset or set to the root. Titles
  // and the client machine are read up to kWindowTextBytes. A window whose
  // answers did not all come within the look's bound has the facts of none.
  const WindowFacts& Facts(WindowHandle window) override;

  // Why the last look is incomplete: the server did not answer all of it in
  // time (always the same text for one display). Empty when it was whole;
  // emptied by TopLevel(). A late look lists what had come in time, possibly
  // nothing; the answers that come after are thrown away as they arrive.
  const std::string& Trouble() const { return trouble_; }

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

  // Whether a display is open and usable (opens it if not tried yet). A look
  // of its own: false too when the server did not finish the connection's
  // setup within the bound, and Trouble() then says so.
  bool connected();
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

  struct Opening;
  // Keeps the time left in a look's bound while one of its calls waits.
  class Answers;

  // The connection, opened or still being opened; nullptr while the server
  // has not finished its setup within the look's bound.
  xcb_connection_t* Connection();
  // Makes the connection and reads what every look needs of it, on the
  // connecting thread.
  static void Open(const std::shared_ptr<Opening>& opening,
                   const XcbLibrary* xcb,
                   const XcbResLibrary* res,
                   const std::string& display);
  // Begins a look with the whole bound.
  void BeginLook();
  // Waits for the reply to request `sequence` until the look's deadline; the
  // caller owns the reply, nullptr for an error (counted) or a lost
  // connection. After the deadline, and from then on in the look, replies
  // are discarded unread and nullptr returned.
  void* Await(unsigned sequence);
  // Polls for the reply to `sequence` until the deadline: whether it came
  // (the reply, or nothing for an error or a lost connection).
  bool Poll(unsigned sequence, void** reply);
  // Whether the server has answered every request of the last late look. A
  // look sends nothing until it has: a stalled server reads nothing, and
  // requests piling up in the socket would at last block the next one.
  bool CaughtUp();
  template <typename T>
  T* Reply(unsigned sequence) {
    return static_cast<T*>(Await(sequence));
  }
  // Notes that the look is past its bound.
  void Late();
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
  // The connection being made on a thread of its own (see Connection()).
  std::shared_ptr<Opening> opening_;
  bool tried_ = false;
  bool lost_ = false;
  bool has_xres_ = false;
  unsigned errors_ = 0;
  std::array<std::uint32_t, kAtomCount> atoms_{};
  std::vector<std::uint32_t> roots_;
  std::string host_;
  std::string display_name_;

  // The look's deadline while it waits, on MonotonicNowMs(), and the time left
  // in its bound between its calls; late_ once an answer was past it.
  std::int64_t deadline_ = 0;
  std::int64_t left_ms_ = kX11AnswerMs;
  bool late_ = false;
  std::string trouble_;
  // The last request of a late look while its reply is awaited.
  std::optional<unsigned> behind_;

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
