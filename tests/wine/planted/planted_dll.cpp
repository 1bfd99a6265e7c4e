// A DLL planted under the name of a system DLL, beside a program or in its
// current folder. If it is ever loaded, its DllMain writes a marker file into
// the folder that LAUNCHER_PLANTED_MARKERS names (outside the folders it was
// planted in): which process loaded which copy. Built without the C runtime,
// so that it needs kernel32 alone, whichever DLL it stands in for.
#include <windows.h>

namespace {

// Appends `text` to `out` at `at`, keeping the terminator within `size`.
DWORD Append(wchar_t* out, DWORD at, DWORD size, const wchar_t* text) {
  while (*text != L'\0' && at + 1 < size)
    out[at++] = *text++;
  out[at] = L'\0';
  return at;
}

DWORD AppendNumber(wchar_t* out, DWORD at, DWORD size, DWORD number) {
  wchar_t digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + number % 10);
    number /= 10;
  } while (number != 0);
  wchar_t reversed[12];
  for (int i = 0; i < n; ++i)
    reversed[i] = digits[n - 1 - i];
  reversed[n] = L'\0';
  return Append(out, at, size, reversed);
}

void WriteMarker(HINSTANCE self) {
  wchar_t path[1024];
  DWORD at = GetEnvironmentVariableW(L"LAUNCHER_PLANTED_MARKERS", path, 900);
  if (at == 0 || at >= 900)
    return;
  at = Append(path, at, 1024, L"\\planted-");
  at = AppendNumber(path, at, 1024, GetCurrentProcessId());
  at = Append(path, at, 1024, L"-");
  at = AppendNumber(path, at, 1024, GetTickCount());
  at = Append(path, at, 1024, L"-");
  at = AppendNumber(path, at, 1024, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(self) >> 16));
  Append(path, at, 1024, L".txt");

  wchar_t text[2200];
  DWORD length = Append(text, 0, 2200, L"dll=");
  length += GetModuleFileNameW(self, text + length, 1000);
  length = Append(text, length, 2200, L"\r\nexe=");
  length += GetModuleFileNameW(nullptr, text + length, 1000);
  length = Append(text, length, 2200, L"\r\n");
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  WriteFile(file, text, length * sizeof(wchar_t), &written, nullptr);
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
