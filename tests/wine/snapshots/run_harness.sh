#!/usr/bin/env bash
# Builds harness.exe with MinGW (64-bit: the hosts we test on run no 32-bit
# code) and runs it under Wine in Xvfb.
#
#   tests/wine/snapshots/run_harness.sh [BUILD_DIR [P W]]    (default: build/snapshots-dev)
#
# P and W: process and window snapshots for the handle count (default 10000
# and 1000, which take long under Wine: see tests/wine/CMakeLists.txt).
set -u

root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(realpath -m "${1:-$root/build/snapshots-dev}")
loader=/usr/lib/wine/wine64

cmake -S "$root/tests/wine/snapshots" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null || exit 1
cmake --build "$build" || exit 1

export WINEPREFIX=$build/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -e "$WINEPREFIX/harness-prefix-ready" ]; then
  "$loader" wineboot -i >/dev/null 2>&1
  # Unmanaged windows: no 2 s wait when a window is hidden without a window manager.
  "$loader" reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
  touch "$WINEPREFIX/harness-prefix-ready"
fi

timeout "${HARNESS_TIMEOUT:-1500}" xvfb-run -a "$loader" "$build/harness.exe" "${@:2}"
rc=$?
/usr/lib/wine/wineserver -k 2>/dev/null
exit $rc
