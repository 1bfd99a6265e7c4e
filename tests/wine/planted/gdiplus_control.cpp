// The control of the DLL planting test: a program that imports gdiplus.dll
// the usual way, as launcher.exe once did, so that a gdiplus.dll planted
// where Windows looks first is the one that loads. It never calls GDI+: a
// planted copy, which exports nothing, still lets it run to its end.
#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <cstdio>

int wmain(int argc, wchar_t**) {
  // Never true in the test; the import stays all the same.
  if (argc > 1000) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
  }
  std::puts("control ran");
  return 0;
}
