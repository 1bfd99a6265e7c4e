// A DLL planted under the name of a system DLL, beside a program or in its
// current folder. If it is ever loaded, its DllMain leaves a marker in the
// folder that LAUNCHER_PLANTED_MARKERS names (outside the planted folders):
// a file named after this copy, holding the program that loaded it. Built
// without the C runtime, so that it needs kernel32 alone, whichever DLL it
// stands in for.
#include <windows.h>

namespace {

void WriteMarker(HINSTANCE self) {
  wchar_t path[2048];
  const DWORD folder = GetEnvironmentVariableW(L"LAUNCHER_PLANTED_MARKERS", path, 1000);
  if (folder == 0 || folder >= 1000)
    return;
  // The marker's name: this copy's path with its separators made harmless.
  path[folder] = L'\\';
  const DWORD length = GetModuleFileNameW(self, path + folder + 1, 1000);
  for (wchar_t* c = path + folder + 1; c < path + folder + 1 + length; ++c) {
    if (*c == L'\\' || *c == L':')
      *c = L'_';
  }
  wchar_t exe[1024];
  const DWORD exe_length = GetModuleFileNameW(nullptr, exe, 1024);
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(file, exe, exe_length * sizeof(wchar_t), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI PlantedDllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    WriteMarker(self);
  return TRUE;
}

// What the control program imports from gdiplus.dll; the planted copy answers
// with GDI+'s GenericError, so its caller learns it got no real GDI+.
extern "C" __declspec(dllexport) int WINAPI GdiplusStartup(void*, const void*, void*) {
  return 1;
}
