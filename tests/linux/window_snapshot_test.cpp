// The Linux backend's window services and the launcher's window list against
// windows this test creates with plain Xlib on an Xvfb server of its own, once
// with no window manager and once under openbox, which reparents its clients
// and keeps the client list.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/linux/linux_display_lost.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_toolkit.h"
#include "platform/linux/linux_xcb.h"
#include "procmanager/process_list.h"
#include "procmanager/window_list.h"
#include "x_session.h"

namespace launcher::testing {
namespace {

using namespace std::chrono_literals;

enum class Manager { kNone, kOpenbox };

// One session per kind, for the whole test program.
XSession& Session(Manager manager, bool resource_extension = true) {
  static std::map<std::pair<Manager, bool>, std::unique_ptr<XSession>> sessions;
  auto& session = sessions[{manager, resource_extension}];
  if (!session) {
    session = std::make_unique<XSession>(XSession::Options{
        .window_manager = manager == Manager::kOpenbox, .resource_extension = resource_extension});
  }
  return *session;
}

// What a test window is made of; every field is a property set before mapping.
struct WindowSpec {
  enum class Transient { kNone, kOwner, kRoot };

  bool mapped = true;
  const char* net_wm_name = nullptr;  // UTF-8
  const char* wm_name = nullptr;      // Latin-1 (type STRING)
  bool wm_name_compound = false;      // WM_NAME as COMPOUND_TEXT instead
  Transient transient = Transient::kNone;
  std::vector<const char*> types;   // _NET_WM_WINDOW_TYPE_ suffixes, in order
  std::vector<const char*> states;  // _NET_WM_STATE_ suffixes
  bool override_redirect = false;
  std::optional<unsigned long> pid;  // _NET_WM_PID
  const char* client_machine = nullptr;

  WindowSpec& Unmapped() { return mapped = false, *this; }
  WindowSpec& NetName(const char* text) { return net_wm_name = text, *this; }
  WindowSpec& WmName(const char* text) { return wm_name = text, *this; }
  WindowSpec& Compound() { return wm_name_compound = true, *this; }
  WindowSpec& TransientFor(Transient t) { return transient = t, *this; }
  WindowSpec& Types(std::vector<const char*> t) { return types = std::move(t), *this; }
  WindowSpec& States(std::vector<const char*> s) { return states = std::move(s), *this; }
  WindowSpec& OverrideRedirect() { return override_redirect = true, *this; }
  WindowSpec& Pid(unsigned long value) { return pid = value, *this; }
  WindowSpec& ClientMachine(const char* host) { return client_machine = host, *this; }
};

// The test's own connection, on which it creates its windows.
class TestDisplay {
 public:
  explicit TestDisplay(const std::string& name) : display_(XOpenDisplay(name.c_str())) {}
  ~TestDisplay() {
    if (display_ != nullptr)
      XCloseDisplay(display_);
  }
  TestDisplay(const TestDisplay&) = delete;
  TestDisplay& operator=(const TestDisplay&) = delete;

  Display* get() const { return display_; }
  Window root() const { return DefaultRootWindow(display_); }
  Atom atom(const std::string& name) const { return XInternAtom(display_, name.c_str(), False); }

  Window Create(const WindowSpec& spec, Window owner) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = spec.override_redirect ? True : False;
    const Window window =
        XCreateWindow(display_, root(), 10, 10, 200, 100, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWOverrideRedirect, &attributes);
    if (spec.net_wm_name != nullptr)
      SetBytes(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), spec.net_wm_name);
    if (spec.wm_name != nullptr) {
      SetBytes(window, XA_WM_NAME, spec.wm_name_compound ? atom("COMPOUND_TEXT") : XA_STRING,
               spec.wm_name);
    }
    if (spec.transient == WindowSpec::Transient::kOwner)
      XSetTransientForHint(display_, window, owner);
    if (spec.transient == WindowSpec::Transient::kRoot)
      XSetTransientForHint(display_, window, root());
    SetAtoms(window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_", spec.types);
    SetAtoms(window, "_NET_WM_STATE", "_NET_WM_STATE_", spec.states);
    if (spec.pid) {
      const unsigned long pid = *spec.pid;
      XChangeProperty(display_, window, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&pid), 1);
    }
    if (spec.client_machine != nullptr)
      SetBytes(window, XA_WM_CLIENT_MACHINE, XA_STRING, spec.client_machine);
    if (spec.mapped)
      XMapWindow(display_, window);
    XSync(display_, False);
    return window;
  }

  void Destroy(Window window) {
    XDestroyWindow(display_, window);
    XSync(display_, False);
  }

  void SetTitle(Window window, const char* title) {
    SetBytes(window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), title);
    XSync(display_, False);
  }

  bool Viewable(Window window) const {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display_, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
  }

  std::vector<unsigned long> Items(Window window, const char* property, Atom type) const {
    Atom actual = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(display_, window, atom(property), 0, 4096, False, type, &actual, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 32) {
      const auto* values = reinterpret_cast<const unsigned long*>(data);
      items.assign(values, values + count);
    }
    if (data != nullptr)
      XFree(data);
    return items;
  }

  bool Managed(Window window) const {
    const auto clients = Items(root(), "_NET_CLIENT_LIST", XA_WINDOW);
    return std::find(clients.begin(), clients.end(), window) != clients.end();
  }

  // Whether the manager has taken the window on and shows it. Openbox can
  // leave requests that it read while starting in its own queue until more
  // arrives on its connection (a mouse move on a real desktop), so each poll
  // sends it a property change on the root, which it listens for.
  bool ManagedAndShown(Window window) {
    Poke();
    return Managed(window) && Viewable(window);
  }
  void Poke() {
    const unsigned long poke = ++pokes_;
    XChangeProperty(display_, root(), atom("_LAUNCHER_TEST_POKE"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&poke), 1);
    XFlush(display_);
  }

  // Iconifies through the manager and waits until it says so.
  bool Iconify(Window window) {
    XIconifyWindow(display_, window, DefaultScreen(display_));
    XSync(display_, False);
    return WaitUntil(
        [&] {
          Poke();
          const auto state = Items(window, "WM_STATE", atom("WM_STATE"));
          return !state.empty() && state[0] == IconicState;
        },
        10s);
  }

 private:
  void SetBytes(Window window, Atom property, Atom type, const char* text) {
    XChangeProperty(display_, window, property, type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text),
                    static_cast<int>(std::strlen(text)));
  }
  void SetAtoms(Window window,
                const char* property,
                const std::string& prefix,
                const std::vector<const char*>& names) {
    if (names.empty())
      return;
    std::vector<Atom> atoms;
    for (const char* name : names)
      atoms.push_back(atom(prefix + name));
    XChangeProperty(display_, window, atom(property), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms.data()),
                    static_cast<int>(atoms.size()));
  }

  Display* display_;
  unsigned long pokes_ = 0;
};

// The backend under test, on the display named by DISPLAY when it first looks.
class BackendOn {
 public:
  explicit BackendOn(const char* display) {
    const char* current = getenv("DISPLAY");
    if (current != nullptr)
      saved_ = current;
    if (display != nullptr)
      setenv("DISPLAY", display, 1);
    else
      unsetenv("DISPLAY");
    platform_ = std::make_unique<LinuxPlatform>(1, argv_);
    InstallPlatform(platform_.get());
    platform_->x11().connected();  // the connection is made now, on this DISPLAY
  }
  ~BackendOn() {
    if (saved_)
      setenv("DISPLAY", saved_->c_str(), 1);
    else
      unsetenv("DISPLAY");
  }
  LinuxPlatform& operator*() { return *platform_; }
  LinuxPlatform* operator->() { return platform_.get(); }

 private:
  char name_[16] = "snapshot_tests";
  char* argv_[2] = {name_, nullptr};
  std::optional<std::string> saved_;
  std::unique_ptr<LinuxPlatform> platform_;
};

std::vector<WindowHandle> Enumerated(LinuxPlatform& platform) {
  std::vector<WindowHandle> windows;
  platform.EnumWindows([&](WindowHandle window) {
    windows.push_back(window);
    return true;
  });
  return windows;
}

const ProcInfo* Find(const ProcList& list, Window window) {
  for (const ProcInfo& p : list) {
    if (p.lngHWnd == window)
      return &p;
  }
  return nullptr;
}

bool IsPlaceholder(const ProcList& list) {
  return list.size() == 1 && list[0].lngPID == 0 && list[0].lngHWnd == 0 &&
         list[0].strExePath.empty() && list[0].strWindowTitle.empty();
}

// One window of the table, with what the backend and the list should say.
struct WindowCase {
  const char* name;
  WindowSpec spec;
  bool listed;
  std::uint32_t style;  // GetExStyle, exactly
  const char* title;    // GetWindowText
  bool owned;           // GetOwner is the owner window
  bool iconify;         // iconified through the manager (only with one)
};

void PrintTo(const WindowCase& c, std::ostream* out) {
  *out << c.name;
}
void PrintTo(Manager manager, std::ostream* out) {
  *out << (manager == Manager::kNone ? "no manager" : "openbox");
}

WindowCase Case(const char* name,
                WindowSpec spec,
                bool listed,
                std::uint32_t style,
                const char* title,
                bool owned = false,
                bool iconify = false) {
  return WindowCase{name, std::move(spec), listed, style, title, owned, iconify};
}

using Transient = WindowSpec::Transient;
WindowSpec Spec() {
  return WindowSpec();
}

const char kUnicodeTitle[] =
    "Qu\xc3\xa4rven \xe2\x9c\x93 \xe6\x97\xa5\xe6\x9c\xac";  // Quärven ✓ 日本
const std::string kLongTitle(5000, 'x');
constexpr bool kListed = true;
constexpr bool kLeftOut = false;
constexpr bool kOwned = true;

const WindowCase kWindowCases[] = {
    Case("titled_by_net_wm_name", Spec().NetName(kUnicodeTitle), kListed, 0, kUnicodeTitle),
    Case("titled_by_wm_name_latin1", Spec().WmName("Caf\xe9"), kListed, 0, "Caf\xc3\xa9"),
    Case("titled_by_compound_text",
         Spec().WmName("Plain compound").Compound(),
         kListed,
         0,
         "Plain compound"),
    Case("net_wm_name_wins", Spec().NetName("Modern").WmName("Legacy"), kListed, 0, "Modern"),
    Case("empty_net_wm_name_falls_back", Spec().NetName("").WmName("Legacy"), kListed, 0, "Legacy"),
    Case("long_title_whole", Spec().NetName(kLongTitle.c_str()), kListed, 0, kLongTitle.c_str()),
    Case("untitled", Spec(), kLeftOut, 0, ""),
    Case("unmapped", Spec().Unmapped().NetName("Hidden"), kLeftOut, 0, "Hidden"),
    Case("transient_untyped_is_dialog",
         Spec().NetName("Dialog").TransientFor(Transient::kOwner),
         kListed,
         kExAppWindow,
         "Dialog",
         kOwned),
    Case("transient_dialog",
         Spec().NetName("Dialog").TransientFor(Transient::kOwner).Types({"DIALOG"}),
         kListed,
         kExAppWindow,
         "Dialog",
         kOwned),
    Case("transient_normal",
         Spec().NetName("Second").TransientFor(Transient::kOwner).Types({"NORMAL"}),
         kListed,
         kExAppWindow,
         "Second",
         kOwned),
    Case("transient_utility",
         Spec().NetName("Palette").TransientFor(Transient::kOwner).Types({"UTILITY"}),
         kLeftOut,
         kExToolWindow,
         "Palette",
         kOwned),
    Case("transient_dialog_skipping_taskbar",
         Spec()
             .NetName("Dialog")
             .TransientFor(Transient::kOwner)
             .Types({"DIALOG"})
             .States({"SKIP_TASKBAR"}),
         kLeftOut,
         kExToolWindow,
         "Dialog",
         kOwned),
    Case("transient_for_root_is_unowned",
         Spec().NetName("Group").TransientFor(Transient::kRoot),
         kListed,
         0,
         "Group"),
    Case("utility", Spec().NetName("Tools").Types({"UTILITY"}), kLeftOut, kExToolWindow, "Tools"),
    Case("splash", Spec().NetName("Splash").Types({"SPLASH"}), kLeftOut, kExToolWindow, "Splash"),
    Case("skip_taskbar",
         Spec().NetName("Tray").States({"SKIP_TASKBAR"}),
         kLeftOut,
         kExToolWindow,
         "Tray"),
    Case("first_known_type_decides",
         Spec().NetName("Mixed").Types({"NOT_A_REAL_TYPE", "NORMAL", "UTILITY"}),
         kListed,
         0,
         "Mixed"),
    Case("pid_property_of_ours",
         Spec().NetName("Pid").Pid(static_cast<unsigned long>(getpid())),
         kListed,
         0,
         "Pid"),
};

// Only a manager iconifies; the window stays visible to the launcher, as a
// minimized window does on Windows.
const WindowCase kIconified = Case("iconified",
                                   Spec().NetName("Minimized"),
                                   kListed,
                                   0,
                                   "Minimized",
                                   false,
                                   /*iconify=*/true);

// Override-redirect windows bypass a manager: only a bare server lists them
// among the top-level windows at all.
const WindowCase kOverrideRedirect = Case("override_redirect",
                                          Spec().NetName("Popup").OverrideRedirect(),
                                          kLeftOut,
                                          kExToolWindow,
                                          "Popup");

class WindowTable : public ::testing::TestWithParam<std::tuple<Manager, WindowCase>> {};

TEST_P(WindowTable, ListedAsTheFilterSays) {
  const auto& [manager, c] = GetParam();
  XSession& session = Session(manager);
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  ASSERT_NE(x.get(), nullptr);

  const Window owner = x.Create(Spec().NetName("Owner"), None);
  const Window window = x.Create(c.spec, owner);
  if (manager == Manager::kOpenbox) {
    // Wait until the manager has taken both on, so that "not listed" means it.
    for (const Window w : {owner, window}) {
      if (w == window && (!c.spec.mapped || c.spec.override_redirect))
        continue;
      ASSERT_TRUE(WaitUntil([&] { return x.ManagedAndShown(w); }, 10s))
          << "openbox never managed window " << w;
    }
    if (c.iconify) {
      ASSERT_TRUE(x.Iconify(window));
      ASSERT_FALSE(x.Viewable(window)) << "an iconified window should be unmapped";
    }
  }

  BackendOn backend(session.display().c_str());
  const std::vector<WindowHandle> top = Enumerated(*backend);
  // A bare server's top-level windows are the root's children; a manager's
  // are its clients, which leaves out unmapped and override-redirect windows.
  const bool enumerated = std::find(top.begin(), top.end(), window) != top.end();
  EXPECT_EQ(enumerated, manager == Manager::kNone || (c.spec.mapped && !c.spec.override_redirect));

  EXPECT_EQ(backend->GetParent(window), 0u);
  EXPECT_EQ(backend->GetOwner(window), c.owned ? owner : 0u);
  EXPECT_EQ(backend->GetExStyle(window), c.style);
  EXPECT_EQ(backend->GetWindowText(window), c.title);
  EXPECT_EQ(backend->IsWindowVisible(window), c.spec.mapped);
  EXPECT_EQ(backend->GetWindowProcessId(window), static_cast<std::uint32_t>(getpid()));

  const ProcList list = funGetWindowList(0, true);
  const ProcInfo* owner_record = Find(list, owner);
  ASSERT_NE(owner_record, nullptr) << "the plain owner window should be listed";
  EXPECT_EQ(owner_record->lngPID, getpid());
  EXPECT_EQ(owner_record->strExePath, ExeLink(getpid()));
  EXPECT_EQ(owner_record->strWindowTitle, "Owner");

  const ProcInfo* record = Find(list, window);
  EXPECT_EQ(record != nullptr, c.listed);
  if (record != nullptr) {
    EXPECT_EQ(record->strWindowTitle, c.title);
    EXPECT_EQ(record->lngPID, getpid());
    EXPECT_EQ(record->strExePath, ExeLink(getpid()));
  }

  // The owner passed as the window to leave out is left out, and only it.
  const ProcList without_owner = funGetWindowList(static_cast<WindowHandle>(owner), true);
  EXPECT_EQ(Find(without_owner, owner), nullptr);
  EXPECT_EQ(Find(without_owner, window) != nullptr, c.listed);

  x.Destroy(window);
  x.Destroy(owner);
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Manager, WindowCase>>& info) {
  return std::string(std::get<0>(info.param) == Manager::kNone ? "bare_" : "openbox_") +
         std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Windows,
                         WindowTable,
                         ::testing::Combine(::testing::Values(Manager::kNone, Manager::kOpenbox),
                                            ::testing::ValuesIn(kWindowCases)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Managed,
                         WindowTable,
                         ::testing::Combine(::testing::Values(Manager::kOpenbox),
                                            ::testing::Values(kIconified)),
                         CaseName);
INSTANTIATE_TEST_SUITE_P(Popups,
                         WindowTable,
                         ::testing::Combine(::testing::Values(Manager::kNone, Manager::kOpenbox),
                                            ::testing::Values(kOverrideRedirect)),
                         CaseName);

TEST(WindowListNoDisplay, IsThePlaceholderWithoutAServer) {
  XSession spare({.window_manager = false, .resource_extension = true});
  ASSERT_TRUE(spare.ready()) << spare.error();
  const std::string gone = spare.display();
  spare.KillServer();  // a display name with no server behind it

  for (const char* display : {static_cast<const char*>(nullptr), gone.c_str()}) {
    SCOPED_TRACE(display != nullptr ? display : "DISPLAY unset");
    BackendOn backend(display);
    EXPECT_FALSE(backend->x11().connected());
    EXPECT_TRUE(Enumerated(*backend).empty());
    EXPECT_FALSE(backend->IsWindowVisible(0x200001));
    EXPECT_EQ(backend->GetWindowText(0x200001), "");
    EXPECT_EQ(backend->GetWindowProcessId(0x200001), 0u);
    EXPECT_TRUE(IsPlaceholder(funGetWindowList(0, true)));
    // The launcher still goes by processes.
    const ProcList processes = funGetPoccessList(true);
    EXPECT_TRUE(std::any_of(processes.begin(), processes.end(),
                            [](const ProcInfo& p) { return p.lngPID == getpid(); }));
  }
}

TEST(WindowListServerGone, FindsNothingAndKeepsRunning) {
  XSession session({.window_manager = false, .resource_extension = true});
  ASSERT_TRUE(session.ready()) << session.error();
  BackendOn backend(session.display().c_str());
  Window window = None;
  {
    // The test's own connection goes first: Xlib's default would end the
    // test when the server goes.
    TestDisplay x(session.display());
    window = x.Create(Spec().NetName("Doomed"), None);
    ASSERT_TRUE(Find(funGetWindowList(0, true), window) != nullptr);
  }

  // Xlib's default would end the whole process here.
  session.KillServer();
  EXPECT_TRUE(Enumerated(*backend).empty());
  EXPECT_FALSE(backend->IsWindowVisible(static_cast<WindowHandle>(window)));
  EXPECT_EQ(backend->GetWindowText(static_cast<WindowHandle>(window)), "");
  EXPECT_TRUE(IsPlaceholder(funGetWindowList(0, true)));
  EXPECT_FALSE(backend->x11().connected());
}

class WindowVanishing : public ::testing::TestWithParam<Manager> {};

TEST_P(WindowVanishing, MidEnumerationIsNoFailure) {
  XSession& session = Session(GetParam());
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  std::vector<Window> windows;
  for (const char* title : {"One", "Two", "Three"})
    windows.push_back(x.Create(Spec().NetName(title), None));
  if (GetParam() == Manager::kOpenbox) {
    for (const Window w : windows)
      ASSERT_TRUE(WaitUntil([&] { return x.ManagedAndShown(w); }, 10s));
  }

  BackendOn backend(session.display().c_str());
  const unsigned errors_before = backend->x11().error_count();
  int visited = 0;
  int ours = 0;
  backend->EnumWindows([&](WindowHandle window) {
    if (visited++ == 0) {
      // Every window goes between the listing and the questions about it.
      for (const Window w : windows)
        x.Destroy(w);
    }
    if (std::find(windows.begin(), windows.end(), window) == windows.end())
      return true;
    ++ours;
    EXPECT_FALSE(backend->IsWindowVisible(window));
    EXPECT_EQ(backend->GetOwner(window), 0u);
    EXPECT_EQ(backend->GetExStyle(window), 0u);
    EXPECT_EQ(backend->GetWindowText(window), "");
    // The window list's own filter takes such a window in its stride.
    EXPECT_EQ(funEnumWindowsCallBack(window, 0), -1);
    return true;
  });
  EXPECT_EQ(ours, 3);
  EXPECT_GT(backend->x11().error_count(), errors_before) << "the windows were not gone after all";
  EXPECT_TRUE(backend->x11().connected());
  EXPECT_TRUE(IsPlaceholder(funGetWindowList(0, true)));
}

INSTANTIATE_TEST_SUITE_P(Managers,
                         WindowVanishing,
                         ::testing::Values(Manager::kNone, Manager::kOpenbox),
                         [](const ::testing::TestParamInfo<Manager>& info) {
                           return std::string(info.param == Manager::kNone ? "bare" : "openbox");
                         });

// One enumeration reads its windows' facts together, at its first question:
// later changes show in the next enumeration, and a window outside the listing
// is asked about on its own.
TEST(WindowBatch, OneEnumerationIsOneSnapshot) {
  XSession& session = Session(Manager::kNone);
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  const Window first = x.Create(Spec().NetName("First"), None);
  const Window renamed = x.Create(Spec().NetName("Before"), None);
  BackendOn backend(session.display().c_str());

  Window late = None;
  int visits = 0;
  backend->EnumWindows([&](WindowHandle window) {
    if (window != first && window != renamed)
      return true;
    ++visits;
    if (window == first) {
      EXPECT_EQ(backend->GetWindowText(window), "First");
      // After the first question: the listed windows' facts are taken.
      x.SetTitle(renamed, "After");
      late = x.Create(Spec().NetName("Late"), None);
    } else {
      EXPECT_EQ(backend->GetWindowText(window), "Before") << "the enumeration's own snapshot";
    }
    if (late != None) {
      EXPECT_EQ(backend->GetWindowText(static_cast<WindowHandle>(late)), "Late");
    }
    return true;
  });
  EXPECT_EQ(visits, 2);
  EXPECT_EQ(backend->GetWindowText(static_cast<WindowHandle>(renamed)), "After");
  const ProcList list = funGetWindowList(0, true);
  ASSERT_NE(Find(list, renamed), nullptr);
  EXPECT_EQ(Find(list, renamed)->strWindowTitle, "After");
  EXPECT_NE(Find(list, late), nullptr);
  for (const Window w : {first, renamed, late})
    x.Destroy(w);
}

int g_foreign_errors = 0;
int ForeignErrorHandler(Display*, XErrorEvent*) {
  ++g_foreign_errors;
  return 0;
}
int ForeignIoErrorHandler(Display*) {
  return 0;
}

TEST(WindowErrorHandlers, OthersStayInstalledAndUntouched) {
  // GTK installs handlers of its own for its connection; ours must neither
  // replace them for good nor feed them our errors.
  XSession& session = Session(Manager::kNone);
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  const Window window = x.Create(Spec().NetName("Short-lived"), None);
  x.Destroy(window);

  const XErrorHandler old_error = XSetErrorHandler(ForeignErrorHandler);
  const XIOErrorHandler old_io = XSetIOErrorHandler(ForeignIoErrorHandler);
  g_foreign_errors = 0;
  {
    BackendOn backend(session.display().c_str());
    EXPECT_EQ(backend->GetWindowText(static_cast<WindowHandle>(window)), "");
    EXPECT_GT(backend->x11().error_count(), 0u);
  }
  EXPECT_EQ(g_foreign_errors, 0);
  EXPECT_EQ(XSetErrorHandler(old_error), ForeignErrorHandler);
  EXPECT_EQ(XSetIOErrorHandler(old_io), ForeignIoErrorHandler);
}

struct PidCase {
  const char* name;
  bool resource_extension;
  bool pid_property;
  const char* client_machine;  // nullptr: unset; "" : this machine
  enum { kOurs, kChild, kNone } expected;
};

void PrintTo(const PidCase& c, std::ostream* out) {
  *out << c.name;
}

class WindowProcess : public ::testing::TestWithParam<PidCase> {};

TEST_P(WindowProcess, CreatorComesFromTheServerElseFromTheProperty) {
  const PidCase& c = GetParam();
  XSession& session = Session(Manager::kNone, c.resource_extension);
  ASSERT_TRUE(session.ready()) << session.error();
  ChildGuard child(Spawn({"/bin/sleep", "30"}));
  ASSERT_GT(child.pid(), 0);
  const std::string sleep_path = RealPath("/bin/sleep");
  ASSERT_TRUE(WaitUntil([&] { return ExeLink(child.pid()) == sleep_path; }, 10s));

  char host[256] = {};
  gethostname(host, sizeof host - 1);
  WindowSpec spec = Spec().NetName("Claimed");
  if (c.pid_property)
    spec.Pid(static_cast<unsigned long>(child.pid()));
  if (c.client_machine != nullptr)
    spec.ClientMachine(*c.client_machine == '\0' ? host : c.client_machine);
  TestDisplay x(session.display());
  const Window window = x.Create(spec, None);

  BackendOn backend(session.display().c_str());
  const ProcList list = funGetWindowList(0, true);
  const ProcInfo* record = Find(list, window);
  switch (c.expected) {
    case PidCase::kOurs:
      EXPECT_EQ(backend->GetWindowProcessId(window), static_cast<std::uint32_t>(getpid()));
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(record->strExePath, ExeLink(getpid()));
      break;
    case PidCase::kChild:
      EXPECT_EQ(backend->GetWindowProcessId(window), static_cast<std::uint32_t>(child.pid()));
      ASSERT_NE(record, nullptr);
      EXPECT_EQ(record->lngPID, child.pid());
      EXPECT_EQ(record->strExePath, sleep_path);
      EXPECT_EQ(record->strExeName, "sleep");
      break;
    case PidCase::kNone:
      EXPECT_EQ(backend->GetWindowProcessId(window), 0u);
      EXPECT_EQ(record, nullptr) << "a window of no known process was listed";
      break;
  }
  x.Destroy(window);
}

INSTANTIATE_TEST_SUITE_P(
    Sources,
    WindowProcess,
    ::testing::Values(
        PidCase{"server_knows_better_than_the_property", true, true, nullptr, PidCase::kOurs},
        PidCase{"server_without_property", true, false, nullptr, PidCase::kOurs},
        PidCase{"property_without_resource_extension", false, true, nullptr, PidCase::kChild},
        PidCase{"property_from_this_machine", false, true, "", PidCase::kChild},
        PidCase{"property_from_another_machine", false, true, "elsewhere.invalid", PidCase::kNone},
        PidCase{"nothing_to_go_by", false, false, nullptr, PidCase::kNone}),
    [](const ::testing::TestParamInfo<PidCase>& info) { return std::string(info.param.name); });

class SkippedWindow : public ::testing::TestWithParam<Manager> {};

TEST_P(SkippedWindow, IsNeverListed) {
  XSession& session = Session(GetParam());
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  // As plain an application window as there is: only being the one to skip keeps it out.
  const Window splash = x.Create(Spec().NetName("Launcher"), None);
  if (GetParam() == Manager::kOpenbox) {
    ASSERT_TRUE(WaitUntil([&] { return x.ManagedAndShown(splash); }, 10s));
  }
  BackendOn backend(session.display().c_str());
  EXPECT_NE(Find(funGetWindowList(0, true), splash), nullptr);
  EXPECT_TRUE(IsPlaceholder(funGetWindowList(static_cast<WindowHandle>(splash), true)));
  x.Destroy(splash);
}

INSTANTIATE_TEST_SUITE_P(Managers,
                         SkippedWindow,
                         ::testing::Values(Manager::kNone, Manager::kOpenbox),
                         [](const ::testing::TestParamInfo<Manager>& info) {
                           return std::string(info.param == Manager::kNone ? "bare" : "openbox");
                         });

class GtkWindows : public ::testing::TestWithParam<Manager> {};

TEST_P(GtkWindows, ToolkitWindowsAreSeenAsTheyAreMeant) {
  XSession& session = Session(GetParam());
  ASSERT_TRUE(session.ready()) << session.error();
  BackendOn backend(session.display().c_str());
  // No accessibility bridge: it wants a session bus, and is not what is tested.
  setenv("NO_AT_BRIDGE", "1", 1);
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  // As in the launcher, the toolkit is the backend's own (here it binds the
  // copy this test links): the backend's pump runs only a loop it loaded.
  ASSERT_NE(TryLoadToolkit(), nullptr) << ToolkitLoadError();
  GdkDisplay* display = gdk_display_open(session.display().c_str());
  ASSERT_NE(display, nullptr);
  GdkScreen* screen = gdk_display_get_default_screen(display);

  GtkWidget* main_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_screen(GTK_WINDOW(main_window), screen);
  gtk_window_set_title(GTK_WINDOW(main_window), "Main window \xe2\x9c\x93");
  gtk_widget_show(main_window);
  GtkWidget* splash = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_screen(GTK_WINDOW(splash), screen);
  gtk_window_set_title(GTK_WINDOW(splash), "Splash");
  gtk_window_set_type_hint(GTK_WINDOW(splash), GDK_WINDOW_TYPE_HINT_SPLASHSCREEN);
  gtk_window_set_decorated(GTK_WINDOW(splash), FALSE);
  gtk_widget_show(splash);
  const auto xid = [](GtkWidget* w) {
    return static_cast<WindowHandle>(gdk_x11_window_get_xid(gtk_widget_get_window(w)));
  };

  // The toolkit maps its windows from its event loop, which the backend pumps.
  TestDisplay x(session.display());
  const bool shown = WaitUntil(
      [&] {
        backend->PumpEvents();
        x.Poke();
        return backend->IsWindowVisible(xid(main_window)) && backend->IsWindowVisible(xid(splash));
      },
      10s);
  ASSERT_TRUE(shown);
  if (GetParam() == Manager::kOpenbox) {
    ASSERT_TRUE(WaitUntil(
        [&] {
          backend->PumpEvents();
          return x.ManagedAndShown(xid(main_window)) && x.ManagedAndShown(xid(splash));
        },
        10s));
  }

  const ProcList list = funGetWindowList(0, true);
  const ProcInfo* record = Find(list, xid(main_window));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->strWindowTitle, "Main window \xe2\x9c\x93");
  EXPECT_EQ(record->lngPID, getpid());
  EXPECT_EQ(Find(list, xid(splash)), nullptr) << "a splash screen is no application window";
  EXPECT_EQ(backend->GetExStyle(xid(splash)), kExToolWindow);

  gtk_widget_destroy(splash);
  gtk_widget_destroy(main_window);
  backend->PumpEvents();
  gdk_display_close(display);
}

INSTANTIATE_TEST_SUITE_P(Managers,
                         GtkWindows,
                         ::testing::Values(Manager::kNone, Manager::kOpenbox),
                         [](const ::testing::TestParamInfo<Manager>& info) {
                           return std::string(info.param == Manager::kNone ? "bare" : "openbox");
                         });

// Any program can set a title of tens of megabytes: the window list reads a
// bounded part of it (a whole number of characters), and of the client
// machine no more than a host name can take.
TEST(WindowTexts, AreReadUpToTheirBound) {
  XSession& session = Session(Manager::kNone, /*resource_extension=*/false);
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  const std::string e_acute = "\xc3\xa9";
  const Window utf8 = x.Create(Spec(), None);
  const Window latin1 = x.Create(Spec(), None);
  const Window beside =
      x.Create(Spec().NetName("Beside").Pid(static_cast<unsigned long>(getpid())), None);
  const Window far =
      x.Create(Spec().NetName("Far").Pid(static_cast<unsigned long>(getpid())), None);
  // In pieces: one request may not carry 50 MB.
  const std::string piece_utf8 = " " + [&] {
    std::string text;
    for (int i = 0; i < (1 << 19); ++i)
      text += e_acute;
    return text;
  }();
  for (int i = 0; i < 48; ++i) {
    XChangeProperty(x.get(), utf8, x.atom("_NET_WM_NAME"), x.atom("UTF8_STRING"), 8,
                    i == 0 ? PropModeReplace : PropModeAppend,
                    reinterpret_cast<const unsigned char*>(piece_utf8.data()),
                    static_cast<int>(piece_utf8.size()));
    XSync(x.get(), False);
  }
  const std::string piece_latin1(1 << 20, '\xe9');
  XChangeProperty(x.get(), latin1, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(piece_latin1.data()),
                  static_cast<int>(piece_latin1.size()));
  const std::string machine(100000, 'h');
  XChangeProperty(x.get(), far, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(machine.data()),
                  static_cast<int>(machine.size()));
  XSync(x.get(), False);

  BackendOn backend(session.display().c_str());
  const ProcList list = funGetWindowList(0, true);
  for (const Window window : {utf8, latin1}) {
    const std::string title = backend->GetWindowText(static_cast<WindowHandle>(window));
    EXPECT_GT(title.size(), kWindowTextBytes - 4);
    EXPECT_LE(title.size(), kWindowTextBytes);
    const std::size_t skip = window == utf8 ? 1 : 0;
    ASSERT_EQ((title.size() - skip) % 2, 0u) << "a character cut in half";
    for (std::size_t i = skip; i < title.size(); i += 2)
      ASSERT_EQ(title.compare(i, 2, e_acute), 0) << i;
  }
  EXPECT_EQ(backend->GetWindowText(static_cast<WindowHandle>(beside)), "Beside");
  EXPECT_EQ(backend->GetWindowProcessId(static_cast<WindowHandle>(far)), 0u)
      << "a client machine longer than any host name is no machine of ours";
  EXPECT_NE(Find(list, beside), nullptr);
  for (const Window w : {utf8, latin1, beside, far})
    x.Destroy(w);
}

// XCB that runs out of memory breaks its connection; that is one failed look
// (7, Out of memory), and the next look has a new connection: the display was
// never lost.
int g_out_of_memory = 0;
decltype(&xcb_connection_has_error) g_real_has_error = nullptr;
int HasErrorOutOfMemory(xcb_connection_t* connection) {
  return g_out_of_memory > 0 ? XCB_CONN_CLOSED_MEM_INSUFFICIENT : g_real_has_error(connection);
}
int g_lost_reports = 0;

TEST(WindowListOutOfMemory, IsOneFailedLookNotALostDisplay) {
  XSession& session = Session(Manager::kNone);
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  const Window window = x.Create(Spec().NetName("Kept"), None);
  BackendOn backend(session.display().c_str());  // DISPLAY for the source below
  const XcbLibrary* real = LoadLibrary<XcbLibrary>();
  ASSERT_NE(real, nullptr);
  XcbLibrary failing = *real;
  g_real_has_error = real->xcb_connection_has_error;
  failing.xcb_connection_has_error = &HasErrorOutOfMemory;
  SetDisplayLostHandler([](const std::string&) { ++g_lost_reports; });
  X11Windows source(&failing);
  const auto listed = [&] {
    const auto windows = source.TopLevel();
    return std::find(windows.begin(), windows.end(), window) != windows.end();
  };
  EXPECT_TRUE(listed());
  g_out_of_memory = 1;
  try {
    source.TopLevel();
    ADD_FAILURE() << "no failure";
  } catch (const RuntimeError& failure) {
    EXPECT_EQ(failure.number(), kErrOutOfMemory);
    EXPECT_NE(failure.description().find("XCB"), std::string::npos) << failure.description();
  }
  g_out_of_memory = 0;
  EXPECT_TRUE(listed()) << "a new connection";
  EXPECT_EQ(g_lost_reports, 0);
  SetDisplayLostHandler(nullptr);
  x.Destroy(window);
}

// A server that answers nobody for a while: another client holds a grab, or
// the server is stopped (as a stopped Xwayland would be). Each look ends
// within its bound, on a connection made before or during the stall, and says
// why it is incomplete; once the server answers again, the next look is whole.
enum class Stall { kGrab, kStop };
struct StallCase {
  const char* name;
  Stall stall;
  bool connected_before;
};
constexpr StallCase kStallCases[] = {
    {"grab_while_connected", Stall::kGrab, true},
    {"grab_before_connecting", Stall::kGrab, false},
    {"stopped_while_connected", Stall::kStop, true},
    {"stopped_before_connecting", Stall::kStop, false},
};

// The wait ends at its deadline; the look then returns at the first chance
// the scheduler gives it. 100 ms covers a few scheduling rounds of a loaded
// two-core machine (a round is a few ms to a few tens of ms), and is a tenth
// of the bound, far from a stall that would last as long as the server's.
constexpr auto kLookBound = std::chrono::milliseconds(kX11AnswerMs) + 100ms;

// The stall, until End() or the end of its scope.
class Stalled {
 public:
  Stalled(Stall stall, const XSession& session)
      : server_(stall == Stall::kStop ? session.server_pid() : -1),
        grab_(stall == Stall::kGrab ? XOpenDisplay(session.display().c_str()) : nullptr) {
    if (grab_ != nullptr) {
      XGrabServer(grab_);
      XSync(grab_, False);
    } else {
      kill(server_, SIGSTOP);
      int status = 0;
      waitpid(server_, &status, WUNTRACED);  // stopped for sure
    }
  }
  ~Stalled() { End(); }
  Stalled(const Stalled&) = delete;
  Stalled& operator=(const Stalled&) = delete;
  void End() {
    if (grab_ != nullptr)
      XCloseDisplay(grab_);  // ends the grab
    grab_ = nullptr;
    if (server_ > 0)
      kill(server_, SIGCONT);
    server_ = -1;
  }

 private:
  pid_t server_;
  Display* grab_;
};

void PrintTo(const StallCase& c, std::ostream* out) {
  *out << c.name;
}

class StalledServer : public ::testing::TestWithParam<StallCase> {};

TEST_P(StalledServer, LooksEndWithinTheBoundAndSaySo) {
  XSession& session = Session(Manager::kNone);
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  const Window window = x.Create(Spec().NetName("Stalled"), None);
  BackendOn backend(session.display().c_str());  // DISPLAY for the source below
  X11Windows source;
  const auto listed = [&] {
    const auto windows = source.TopLevel();
    return std::find(windows.begin(), windows.end(), window) != windows.end();
  };
  const auto title = [&] { return source.Facts(window).title; };
  // How long a look took, in ms.
  const auto timed = [](const std::function<void()>& look) {
    const auto start = std::chrono::steady_clock::now();
    look();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  };
  // Listed in time, with the facts of the listing's batch asked in the stall.
  std::optional<X11Windows::Batch> batch;
  if (GetParam().connected_before) {
    ASSERT_TRUE(listed());
    batch.emplace(source, std::vector<WindowHandle>{static_cast<WindowHandle>(window)});
  }
  {
    Stalled stalled(GetParam().stall, session);
    if (batch) {
      EXPECT_LE(timed([&] { EXPECT_EQ(title(), ""); }), kLookBound);
      EXPECT_NE(source.Trouble(), "");
      batch.reset();
    }
    const auto listing = timed([&] { EXPECT_FALSE(listed()); });
    const std::string trouble = source.Trouble();
    EXPECT_NE(trouble.find("display " + session.display() + " "), std::string::npos) << trouble;
    const auto alone = timed([&] { EXPECT_EQ(title(), ""); });
    EXPECT_EQ(source.Trouble(), trouble) << "one text for every late look";
    EXPECT_LE(listing, kLookBound);
    EXPECT_LE(alone, kLookBound);
    std::printf("[ stall    ] %s: the listing took %lld ms, a window's facts %lld ms\n",
                GetParam().name, static_cast<long long>(listing.count()),
                static_cast<long long>(alone.count()));
  }
  EXPECT_TRUE(listed()) << "the first look after the stall";
  EXPECT_EQ(source.Trouble(), "");
  EXPECT_EQ(title(), "Stalled");
  EXPECT_EQ(source.Trouble(), "");
  x.Destroy(window);
}

INSTANTIATE_TEST_SUITE_P(Stalls,
                         StalledServer,
                         ::testing::ValuesIn(kStallCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Descriptors open in this process now.
std::size_t OpenDescriptors() {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

// Whole snapshots through the launcher's own lists, many times over: no
// descriptor and no opened process may be left behind.
TEST(Hygiene, SnapshotsLeaveNoDescriptorBehind) {
  XSession& session = Session(Manager::kOpenbox);
  ASSERT_TRUE(session.ready()) << session.error();
  TestDisplay x(session.display());
  const Window window = x.Create(Spec().NetName("Hygiene"), None);
  // Listed by the manager's client list only once openbox has taken it on.
  ASSERT_TRUE(WaitUntil([&] { return x.ManagedAndShown(window); }, 10s));
  BackendOn backend(session.display().c_str());
  // The first of each opens what lives for the process's life (the display).
  funGetPoccessList(true);
  funGetWindowList(0, true);
  const std::size_t before = OpenDescriptors();
  std::size_t processes = 0;
  for (int i = 0; i < 10000; ++i)
    processes += funGetPoccessList(true).size();
  std::size_t windows = 0;
  for (int i = 0; i < 1000; ++i) {
    for (const ProcInfo& entry : funGetWindowList(0, true))
      windows += entry.strWindowTitle == "Hygiene" ? 1 : 0;
  }
  const std::size_t after = OpenDescriptors();
  std::printf(
      "[ hygiene  ] 10000 process snapshots (%zu entries) and 1000 window snapshots (%zu "
      "with the test's window): %zu descriptors before, %zu after\n",
      processes, windows, before, after);
  EXPECT_GT(processes, 10000u);
  EXPECT_EQ(windows, 1000u) << "every window snapshot lists the test's window";
  EXPECT_EQ(after, before);
  EXPECT_EQ(backend->open_process_count(), 0u);
}

}  // namespace
}  // namespace launcher::testing
