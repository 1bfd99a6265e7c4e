#!/usr/bin/env bash
# scripts/soak leaves nothing running: not when its runs are over (busy loops
# for the load), nor when it is stopped by SIGTERM, nor by Ctrl+C (SIGINT to
# its process group, which the applications' groups are not), each time
# while an application a launcher left runs on. It runs under a subreaper
# of this test's own, so that whatever it leaves behind stays a descendant
# to be found here.
#
#   soak_cleanup_test.sh <scripts/soak> <Linux build folder> <scratch folder>
set -uo pipefail
if [ -z "${CLEANUP_TEST_SUBREAPER:-}" ]; then
  CLEANUP_TEST_SUBREAPER=1 exec python3 -c '
import ctypes, os, sys
if ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0) != 0:
    sys.exit("cannot become a subreaper")
os.execvp("bash", ["bash"] + sys.argv[1:])' "$0" "$@"
fi
soak=$1 built=$2 out=$3/soak
export SOAK_BUILT=$built SOAK_OUT=$out
mkdir -p "$3"
failed=0

# What still runs under this test: "pid command" lines.
left() {
  local stat line fields
  local -A parent=() name=()
  for stat in /proc/[0-9]*/stat; do
    read -r line 2>/dev/null <"$stat" || continue
    read -r -a fields <<<"${line##*) }"
    [ "${fields[0]}" = Z ] && continue
    parent[${line%% *}]=${fields[1]}
    name[${line%% *}]=${line#*(}
  done
  local queue=($$) p child
  while [ ${#queue[@]} -gt 0 ]; do
    p=${queue[0]}
    queue=("${queue[@]:1}")
    for child in "${!parent[@]}"; do
      if [ "${parent[$child]}" = "$p" ] && [ "$child" != "$BASHPID" ]; then
        echo "$child ${name[$child]%%)*}"
        queue+=("$child")
      fi
    done
  done
}

check() {  # what, status, wanted status
  local rest
  rest=$(left)
  if [ -n "$rest" ]; then
    echo "FAIL: $1: still running after the soak ended:"
    echo "$rest"
    failed=1
  elif [ "$2" != "$3" ]; then
    echo "FAIL: $1: the soak ended with status $2, not $3"
    tail -5 "$out.log"
    failed=1
  else
    echo "$1: status $2, nothing left running"
  fi
}

# Stops the soak once a splash run is over and its application, which
# outlives the launcher for a while, still runs (it notes its start and end).
stop_during_a_run() {  # what, signal, the soak's pid (leading its group for INT)
  local probe=$out/linux/splash/bin/xulrunner
  until [ -s "$out/runs-linux.tsv" ] && [ -e "$probe/probe-record.txt" ] &&
    [ ! -e "$probe/probe-exit.txt" ]; do
    kill -0 "$3" 2>/dev/null || { echo "FAIL: $1: no run left its application running"; failed=1; break; }
    sleep 0.05
  done
  if [ "$2" = INT ]; then kill -INT -- "-$3"; else kill -TERM "$3"; fi
  wait "$3"
}

rm -rf "$out"
SOAK_LOAD=loops "$soak" --short >"$out.log" 2>&1
check "its runs over" $? 0

rm -rf "$out"
"$soak" 3 linux >"$out.log" 2>&1 &
stop_during_a_run "stopped by SIGTERM" TERM $!
check "stopped by SIGTERM" $? 1

rm -rf "$out"
# A terminal's job: a process group of its own (setsid execs it in place),
# taking SIGINT, which what a script starts in the background ignores.
setsid python3 -c '
import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.execvp(sys.argv[1], sys.argv[1:])' "$soak" 3 linux >"$out.log" 2>&1 &
stop_during_a_run "stopped by Ctrl+C" INT $!
check "stopped by Ctrl+C" $? 1

exit $failed
