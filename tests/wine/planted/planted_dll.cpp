// A DLL planted where a program might look for a system DLL (beside it, in
// the current folder, on PATH), under the name of that system DLL. Loaded, it
// notes the fact in a marker file "<its name>-<process id>.txt" in the folder
// that LAUNCHER_PLANT_MARKERS names: its own path, the process's executable
// and whether it came with the process's imports ("static") or later
// ("dynamic"). It has no runtime library and imports kernel32 alone, so it
// loads into any process, whichever name it bears; it exports nothing.
#include <windows.h>

namespace {

// Static: a loader lock is held here, and the stack must stay small.
wchar_t g_folder[1024];
wchar_t g_self[1024];
wchar_t g_exe[1024];
wchar_t g_marker[2200];
char g_text[8192];

wchar_t* Append(wchar_t* out, const wchar_t* text) {
  while (*text != L'\0')
    *out++ = *text++;
  return out;
}

int AppendUtf8(int at, const wchar_t* text) {
  const int room = static_cast<int>(sizeof g_text) - at;
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, g_text + at, room, nullptr, nullptr);
  return n > 0 ? at + n - 1 : at;  // without the terminator
}

void WriteMarker(HINSTANCE self, bool with_the_process) {
  const DWORD folder = GetEnvironmentVariableW(L"LAUNCHER_PLANT_MARKERS", g_folder, 1000);
  if (folder == 0 || folder >= 1000)
    return;
  const DWORD self_length = GetModuleFileNameW(self, g_self, 1000);
  if (self_length == 0 || self_length >= 1000 || GetModuleFileNameW(nullptr, g_exe, 1000) == 0)
    return;
  const wchar_t* name = g_self;
  for (const wchar_t* c = g_self; *c != L'\0'; ++c) {
    if (*c == L'\\' || *c == L'/')
      name = c + 1;
  }
  wchar_t* out = Append(Append(Append(g_marker, g_folder), L"\\"), name);
  *out++ = L'-';
  wchar_t digits[12];
  int count = 0;
  for (DWORD pid = GetCurrentProcessId(); count == 0 || pid != 0; pid /= 10)
    digits[count++] = static_cast<wchar_t>(L'0' + pid % 10);
  while (count > 0)
    *out++ = digits[--count];
  *Append(out, L".txt") = L'\0';

  int at = AppendUtf8(0, g_self);
  g_text[at++] = '\n';
  at = AppendUtf8(at, g_exe);
  g_text[at++] = '\n';
  at = AppendUtf8(at, with_the_process ? L"static\n" : L"dynamic\n");
  const HANDLE file = CreateFileW(g_marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(file, g_text, static_cast<DWORD>(at), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

// The entry point itself: there is no runtime library to call a DllMain.
// The loader passes a non-null `reserved` to the DLLs it loads with the process.
extern "C" BOOL WINAPI PlantedEntry(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH)
    WriteMarker(self, reserved != nullptr);
  return TRUE;
}
