// A program that imports gdiplus.dll the usual way, as launcher.exe once did.
// The DLL safety test runs it in the launcher's place, with the same planted
// copies: it must see the copy beside the program load, or it could not fail.
// Exit status: 0 with the system's GDI+, 1 (GenericError) with the planted one.
#include <windows.h>

// GDI+ needs what WIN32_LEAN_AND_MEAN would leave out of <windows.h>.
#include <objidl.h>

#include <gdiplus.h>

int wmain() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  // Only what the planted copy exports, so that it loads; the process's end
  // shuts GDI+ down.
  return static_cast<int>(Gdiplus::GdiplusStartup(&token, &input, nullptr));
}
