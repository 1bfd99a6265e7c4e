#!/usr/bin/env bash
# A package as a team receives it: unpacked into an empty folder, the probe put
# where the sample settings name the application, and the launcher run from
# there as shipped (with its splash) and in silent mode. Checks the files the
# package must hold, the command line and folder the probe received, and that
# the launcher ended by itself: in splash mode once the application's window
# was up (before the application ended), in silent mode after the application.
#
# Usage: package_e2e.sh linux   PACKAGE EXE_NAME PROBE WORK
#        package_e2e.sh windows PACKAGE EXE_NAME PROBE WORK LOADER WINESERVER PREFIX_SCRIPT
set -uo pipefail
system=$1 package=$2 exe_name=$3 probe=$4 work=$5
fail() {
  echo "FAIL: $*" >&2
  echo "(left for a look: $work)" >&2
  exit 1
}
now_ms() { date +%s%3N; }

[ -f "$package" ] || fail "$package is missing: run scripts/package first"
[ -f "$probe" ] || fail "$probe is missing: build the tests first"
package=$(realpath "$package") probe=$(realpath "$probe") work=$(realpath -m "$work")
echo "package: $package"

if [ "$system" == windows ]; then
  loader=$6 wineserver=$7 prefix_script=$8
  export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all LANG=C.UTF-8
  wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
  arch=win32
  [ -x "$wine64" ] && arch=win64
  prefix_loader=$loader
  [ "$arch" == win64 ] && prefix_loader=$wine64
  # The prefix outlives the run (it takes seconds to make); the rest does not.
  mkdir -p "$WINEPREFIX"
  find "$work" -mindepth 1 -maxdepth 1 ! -name wineprefix -exec rm -rf {} +
  cmake -DWINE="$prefix_loader" -DWINESERVER="$wineserver" -DARCH=$arch \
    -DPREFIX="$WINEPREFIX" -P "$prefix_script" || fail "cannot make the Wine prefix"
  trap '"$wineserver" -k 2>/dev/null' EXIT
  exe="$exe_name.exe"
else
  rm -rf "$work"
  exe="$exe_name"
fi

unpack="$work/unpacked here"
mkdir -p "$unpack"
(cd "$unpack" && cmake -E tar xf "$package") || fail "cannot unpack $package"
mapfile -t entries < <(ls -A "$unpack")
[ "${#entries[@]}" -eq 1 ] || fail "the package holds ${#entries[@]} top-level entries: ${entries[*]}"
top=$(cd "$unpack/${entries[0]}" && pwd -P)

# What every package holds.
for file in "$exe" bin/launcher.ini bin/splash.png docs/launcher-ini.md docs/usage.md \
  docs/architecture.md docs/changes.md; do
  [ -f "$top/$file" ] || fail "the package holds no $file"
done
ini="$top/bin/launcher.ini"
setting() { sed -n "s/^$1=//p" "$ini" | tr -d '\r' | head -n 1; }
for key in name splash splashDuration xulrunner inifile localization; do
  [ -n "$(setting $key)" ] || fail "the sample settings do not set $key"
done
[ "$(setting splash)" == splash.png ] || fail "the sample names the splash $(setting splash)"

if [ "$system" == windows ]; then
  # Notepad-friendly: every line of the sample ends in CR LF.
  [ "$(grep -c $'\r$' "$ini")" -eq "$(wc -l <"$ini")" ] || fail "$ini has lines without CR LF"
else
  [ -x "$top/$exe" ] || fail "$exe is not executable"
  desktop="$top/share/applications/$exe_name.desktop"
  [ -f "$desktop" ] || fail "the package holds no $desktop"
  desktop-file-validate "$desktop" || fail "$desktop is not a valid desktop entry"
  grep -qx "Icon=$exe_name" "$desktop" || fail "$desktop names another icon"
  for size in 16 32 48 256; do
    png="$top/share/icons/hicolor/${size}x$size/apps/$exe_name.png"
    [ -f "$png" ] || fail "the package holds no ${size}x$size icon"
    # PNG width and height: big-endian words at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
    [ "$dims" == "${size}x$size" ] || fail "the ${size}x$size icon is $dims"
  done
fi

# The probe stands in for the application, where the sample settings put it.
app=$(setting xulrunner | tr '\\' /)
app_dir=$(dirname "$top/bin/$app")
mkdir -p "$app_dir"
cp "$probe" "$top/bin/$app"
duration=$(setting splashDuration)
locale=$(setting localization)

# run_launcher LIMIT_S ARGS...: sets status, ended_ms and output.
run_launcher() {
  local limit=$1
  shift
  local log="$work/launcher-output.txt"
  if [ "$system" == windows ]; then
    # Wine 8 logs OutputDebugString text on its "seh" channel as a warning.
    WINEDEBUG=-all,warn+seh timeout -k 5 "$limit" "$loader" "$top/$exe" "$@" >"$log" 2>&1
  else
    timeout -k 5 "$limit" "$top/$exe" "$@" >"$log" 2>&1
  fi
  status=$?
  ended_ms=$(now_ms)
  output=$(cat "$log")
  [ $status -ne 124 ] && [ $status -ne 137 ] || fail "the launcher was still running after ${limit}s: $output"
  [ $status -eq 0 ] || fail "the launcher ended with status $status: $output"
}

# wait_for FILE SECONDS: the probe's note, once written.
wait_for() {
  local deadline=$(($(date +%s) + $2))
  until [ -f "$1" ]; do
    [ "$(date +%s)" -lt $deadline ] || fail "no $(basename "$1") within $2 s"
    sleep 0.2
  done
  cat "$1"
}

# check_record EXTRA_ARGS...: the probe's command line and folder.
check_record() {
  local record
  # The process id differs on every run; the rest must match exactly.
  record=$(wait_for "$app_dir/probe-record.txt" 10 | grep -v '^pid=')
  local expected
  if [ "$system" == windows ]; then
    local win_top="Z:${top//\//\\}" win_app="Z:${top//\//\\}\\bin\\${app//\//\\}"
    local tail="bin\\$(setting inifile) -contentLocale $locale -UILocale $locale"
    local args=("$win_app" "bin\\$(setting inifile)" -contentLocale "$locale" -UILocale "$locale" "$@")
    expected="cmdline=\"$win_app\" $tail"
    for arg in "$@"; do
      [[ "$arg" == *" "* ]] && arg="\"$arg\""
      expected+=" $arg"
    done
    expected+=$'\n'"cwd=$win_top"
  else
    local args=("$top/bin/$app" "bin/$(setting inifile)" -contentLocale "$locale" -UILocale "$locale" "$@")
    # The shipped launcher hands on standard input, output and error only.
    expected="cwd=$top"$'\n'"fds=0,1,2"
  fi
  expected+=$'\n'"argc=${#args[@]}"
  for i in "${!args[@]}"; do
    expected+=$'\n'"arg$i=${args[$i]}"
  done
  [ "$record" == "$expected" ] || fail "the probe recorded:"$'\n'"$record"$'\n'"expected:"$'\n'"$expected"
}

# The trace lines, from standard error on Linux and the debug channel on Windows.
check_trace() {
  local stamp='[0-9]{6}\.[0-9]{6}\.[0-9]{3}'
  for message in 'App Start\.\.\.' 'App Stop\.\.\.'; do
    grep -Eq "$exe_name $stamp - $message" <<<"$output" ||
      fail "no trace line \"$exe_name <time> - $message\" in: $output"
  done
}

clean_notes() { rm -f "$app_dir"/probe-*.txt; }

echo "== splash mode, as shipped (${duration} s splash), with -c"
clean_notes
printf 'window_after_ms=500\nlifetime_ms=%d\n' $(((duration + 8) * 1000)) >"$app_dir/probe-cue.txt"
started_ms=$(now_ms)
run_launcher 120 -c "hello world" x
check_record "hello world" x
window_ms=$(wait_for "$app_dir/probe-window.txt" 5)
exit_ms=$(wait_for "$app_dir/probe-exit.txt" $((duration + 20)))
[ $((ended_ms - started_ms)) -ge $((duration * 1000)) ] ||
  fail "the launcher ended after $((ended_ms - started_ms)) ms, before its ${duration} s splash"
[ "$ended_ms" -gt "$window_ms" ] && [ "$ended_ms" -lt "$exit_ms" ] ||
  fail "the launcher ended at $ended_ms, not between the window ($window_ms) and the end ($exit_ms)"
check_trace
echo "ended by itself $((ended_ms - started_ms)) ms after the start, while the application ran on"

echo "== silent mode"
clean_notes
printf 'lifetime_ms=1500\n' >"$app_dir/probe-cue.txt"
run_launcher 60 -s
check_record
exit_ms=$(wait_for "$app_dir/probe-exit.txt" 1)
[ "$ended_ms" -ge "$exit_ms" ] || fail "the silent launcher ended at $ended_ms, before the application ($exit_ms)"
check_trace
echo "ended by itself $((ended_ms - exit_ms)) ms after the application"

[ "$system" == windows ] && "$wineserver" -k 2>/dev/null
find "$work" -mindepth 1 -maxdepth 1 ! -name wineprefix -exec rm -rf {} +
echo "package end to end: ok"
