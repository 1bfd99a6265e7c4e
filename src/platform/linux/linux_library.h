// Shared libraries loaded at run time, when first needed: a run that shows no
// window and looks at none must not pay for loading the toolkit, XCB or GIO.
//
// Each library is one table: a struct with the library's soname (kSoname), one
// slot per function it is asked for, typed by the function's declaration, and
// Bind(), which hands each slot and its name to the loader. The slots come from
// one list per library, so a name is written once:
//
//   #define LAUNCHER_XCB_FUNCTIONS(X) X(xcb_connect) X(xcb_disconnect)
//   struct XcbLibrary {
//     static constexpr char kSoname[] = "libxcb.so.1";
//     LAUNCHER_XCB_FUNCTIONS(LAUNCHER_LIBRARY_SLOT)
//     template <typename B> void Bind(B& bind) { LAUNCHER_XCB_FUNCTIONS(LAUNCHER_LIBRARY_BIND) }
//   };
//
// A slot may name a variable too (XCB's extension ids): it then points at it.
#pragma once

#include <dlfcn.h>

#include <string>

namespace launcher {

// NOLINTNEXTLINE(bugprone-macro-parentheses): a name, not an expression
#define LAUNCHER_LIBRARY_SLOT(name) decltype(&::name) name = nullptr;
#define LAUNCHER_LIBRARY_BIND(name) bind(name, #name);

namespace library_detail {

// Looks each slot up in one opened library; notes the first name missing.
class Binder {
 public:
  explicit Binder(void* library) : library_(library) {}
  template <typename Pointer>
  void operator()(Pointer& slot, const char* name) {
    slot = reinterpret_cast<Pointer>(dlsym(library_, name));
    if (slot == nullptr && missing_.empty())
      missing_ = name;
  }
  const std::string& missing() const { return missing_; }

 private:
  void* library_;
  std::string missing_;
};

template <typename Table>
struct State {
  bool tried = false;
  bool ok = false;
  Table table;
  std::string error;
};

template <typename Table>
State<Table>& StateOf() {
  static State<Table> state;
  return state;
}

// Binds the table from an opened library; the library stays loaded for the
// process's life once bound (GTK cannot be unloaded, and nothing here is
// worth unloading).
template <typename Table>
bool Bind(void* library, State<Table>& state) {
  Binder binder(library);
  state.table.Bind(binder);
  if (!binder.missing().empty()) {
    state.error = std::string(Table::kSoname) + ": no function " + binder.missing();
    state.table = Table{};
    dlclose(library);
    return false;
  }
  state.ok = true;
  return true;
}

}  // namespace library_detail

// The library's table, loaded on the first call; nullptr when the library
// cannot be loaded or lacks one of the names. Later calls give the same answer
// without trying again.
template <typename Table>
const Table* LoadLibrary() {
  auto& state = library_detail::StateOf<Table>();
  if (!state.tried && !state.ok) {
    state.tried = true;
    // RTLD_LOCAL: its names stay out of the global scope, where they could
    // capture another library's lookups.
    if (void* library = dlopen(Table::kSoname, RTLD_NOW | RTLD_LOCAL)) {
      library_detail::Bind(library, state);
    } else {
      const char* reason = dlerror();
      state.error = reason != nullptr ? reason : Table::kSoname;
    }
  }
  return state.ok ? &state.table : nullptr;
}

// Why the library could not be loaded; empty while it loads or was not tried.
template <typename Table>
const std::string& LibraryError() {
  return library_detail::StateOf<Table>().error;
}

}  // namespace launcher
