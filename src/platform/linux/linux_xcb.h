// XCB, loaded at run time on the first look at the window list, so that a
// run that never looks at windows (silent mode, no splash) never loads it.
#pragma once

#include <xcb/res.h>
#include <xcb/xcb.h>

namespace launcher {

// The XCB functions by their own names, each typed as declared.
struct Xcb {
// Names, not expressions: they cannot take parentheses.
#define XCB_FUNCTION(name) decltype(&::name) name = nullptr;  // NOLINT(bugprone-macro-parentheses)
#define XCB_RES_FUNCTION(name) \
  decltype(&::name) name = nullptr;  // NOLINT(bugprone-macro-parentheses)
#include "platform/linux/linux_xcb_functions.h"
#undef XCB_RES_FUNCTION
#undef XCB_FUNCTION
  // The resource extension, which tells each client's pid; nullptr when its
  // library is missing, and then so are its functions.
  xcb_extension_t* res_id = nullptr;
};

// XCB, loaded on the first call; nullptr when libxcb cannot be loaded (the
// window list is then empty, as without a display). Later calls give the same
// answer without trying again.
const Xcb* TryLoadXcb();

}  // namespace launcher
