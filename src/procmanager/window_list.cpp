#include "procmanager/window_list.h"

#include <optional>

#include "diagnostics/error_handler.h"
#include "procmanager/process_list.h"

namespace launcher {

namespace {

// The snapshot between refreshes; empty until the first one.
ProcList g_window_list;

constexpr std::int32_t kTrue = -1;

}  // namespace

ProcList funGetWindowList(WindowHandle skip, bool refresh) {
  try {
    if (refresh)
      subPopulateWindowList(skip);
    return g_window_list;
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.funGetWindowListError", false, false);
    return {};
  }
}

void subPopulateWindowList(WindowHandle skip) {
  try {
    g_window_list.assign(1, ProcInfo{});
    // A failure must not unwind through the system's enumeration: the visit
    // ends it and the failure is raised again once the enumeration is back.
    std::optional<RuntimeError> failure;
    Sys().EnumWindows([&](WindowHandle window) {
      try {
        funEnumWindowsCallBack(window, skip);
        return true;
      } catch (const RuntimeError& error) {
        failure = error;
        return false;
      }
    });
    if (failure)
      throw *failure;
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.subPopulateWindowListError", false, false);
  }
}

std::int32_t funEnumWindowsCallBack(WindowHandle window, WindowHandle skip) {
  try {
    Platform& sys = Sys();
    if (window == skip || !sys.IsWindowVisible(window) || sys.GetParent(window) != 0)
      return kTrue;
    const WindowHandle owner = sys.GetOwner(window);
    const std::uint32_t style = sys.GetExStyle(window);
    const bool application_window =
        (owner == 0 && (style & kExToolWindow) == 0) || (owner != 0 && (style & kExAppWindow) != 0);
    if (!application_window)
      return kTrue;
    std::string title = sys.GetWindowText(window);
    if (title.empty())
      return kTrue;
    ProcInfo record = funGetProcInfo(static_cast<std::int32_t>(sys.GetWindowProcessId(window)));
    if (record.lngPID <= 0)
      return kTrue;

    // The first window takes the placeholder's slot; later ones get new slots.
    if (g_window_list.back().lngPID != 0)
      g_window_list.emplace_back();
    record.strWindowTitle = std::move(title);
    record.lngHWnd = window;
    g_window_list.back() = std::move(record);
    return kTrue;
  } catch (const RuntimeError& failure) {
    HandleError(failure, "modProcManager.funEnumWindowsCallBackError", false, false);
    return kTrue;
  }
}

}  // namespace launcher
