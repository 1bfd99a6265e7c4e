#include "platform/win32/win32_system_dll.h"

#include <initializer_list>

namespace launcher {

HMODULE LoadSystemDll(const wchar_t* name) {
  if (HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
    return module;
  // Unknown flags fail with ERROR_INVALID_PARAMETER: nothing else is a reason
  // to try again.
  if (GetLastError() != ERROR_INVALID_PARAMETER)
    return nullptr;
  // Also called before the C runtime has started: no allocation here.
  constexpr UINT kRoom = MAX_PATH + 32;
  wchar_t path[kRoom];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return nullptr;
  path[length++] = L'\\';
  for (const wchar_t* c = name; *c != L'\0'; ++c) {
    if (length + 1 >= kRoom)
      return nullptr;
    path[length++] = *c;
  }
  path[length] = L'\0';
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void PreloadSystemDllsByPath() {
  // Not known DLLs on Windows 7, so searched beside the program first when
  // loaded by name: the theme engine and the window manager's client, loaded
  // with the first window; the alpha blending the box's buttons use.
  for (const wchar_t* name : {L"uxtheme.dll", L"dwmapi.dll", L"msimg32.dll"})
    LoadSystemDll(name);
}

}  // namespace launcher
