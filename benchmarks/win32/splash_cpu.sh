#!/usr/bin/env bash
# The processor time that launcher.exe and the Wine server spend while the
# splash shows, under Wine, with an application that never shows a window: the
# watch checks the application ten times a second all along. Prints one JSON
# object; scripts/bench runs it. Needs a display (run it under xvfb-run) and
# WINEPREFIX set to a prefix of its own, whose processes it ends.
#
#   benchmarks/win32/splash_cpu.sh WINDOWS_BUILD_DIR [SECONDS]   (default 20)
#
# SPLASH_APP names another process_benchmark.exe to start as the application.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath "$1")
seconds=${2:-20}
loader=${WINE_LOADER:-wine}
server=${WINESERVER:-/usr/lib/wine/wineserver}
: "${WINEPREFIX:?a prefix of its own}"

work=$(mktemp -d)
trap '"$server" -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/bin/xulrunner"
cp "$build/launcher.exe" "$work/"
# The benchmark's --child mode waits for ever and shows nothing.
cp "${SPLASH_APP:-$build/benchmarks/win32/process_benchmark.exe}" "$work/bin/xulrunner/quarven.exe"
cp "$root/demo/bin/splash.png" "$work/bin/"
printf '[resources]\r\nname=Bench\r\nsplash=splash.png\r\nsplashDuration=%d\r\n[app]\r\nxulrunner=xulrunner\\quarven.exe\r\n' \
  $((seconds + 30)) >"$work/bin/launcher.ini"

# Clock ticks of user and system time of one process.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
# The Linux process of this prefix whose command line holds $1.
find_pid() {
  local pid
  for pid in $(pgrep -f "$1" || true); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return
    fi
  done
}

"$loader" "$work/launcher.exe" -c --child >/dev/null 2>&1 &
launcher=""
for _ in $(seq 100); do
  # The loader's own command line names Wine first; the program's does not.
  launcher=$(find_pid "^$work/launcher\\.exe")
  [ -z "$launcher" ] || break
  sleep 0.1
done
[ -n "$launcher" ] || { echo "splash_cpu: launcher.exe did not start" >&2; exit 1; }
[ -z "${SPLASH_DEBUG:-}" ] || { tr '\0' ' ' <"/proc/$launcher/cmdline"; echo; } >&2
# Past the start: the splash shows and the watch runs.
sleep 3
wineserver_pid=$(find_pid '^/usr/lib/wine/wineserver')
hz=$(getconf CLK_TCK)
l0=$(ticks "$launcher")
s0=$(ticks "${wineserver_pid:-0}")
sleep "$seconds"
l1=$(ticks "$launcher")
s1=$(ticks "${wineserver_pid:-0}")
[ -d "/proc/$launcher" ] || { echo "splash_cpu: launcher.exe ended early" >&2; exit 1; }
python3 - "$seconds" "$hz" "$l0" "$l1" "$s0" "$s1" <<'PY'
import json, sys
seconds, hz, l0, l1, s0, s1 = (float(v) for v in sys.argv[1:])
print(json.dumps({"seconds": seconds,
                  "launcher_cpu_ms": round((l1 - l0) * 1000 / hz),
                  "wineserver_cpu_ms": round((s1 - s0) * 1000 / hz)}))
PY
