#!/usr/bin/env bash
# scripts/demo in a headless sway session whose Xwayland starts on demand, as
# on a person's sway desktop: the demo application is found on Xwayland and
# grim captures the splash over it at the session's size.
set -euo pipefail
root=$1
user=launcher-desktop
id -u "$user" >/dev/null 2>&1 || useradd --system --user-group --no-create-home "$user"
dir=$(mktemp -d /tmp/launcher-demo-sway-XXXXXX)
sway=""
trap '[ -z "$sway" ] || kill "$sway"; rm -rf "$dir"' EXIT
mkdir -m 700 "$dir/run"
printf '%s\n' 'xwayland enable' 'output HEADLESS-1 resolution 1024x768 position 0 0' \
  "exec sh -c 'env > $dir/env.tmp && mv $dir/env.tmp $dir/env'" >"$dir/sway.conf"
chown -R "$user:$user" "$dir"
setpriv --reuid="$user" --regid="$user" --clear-groups env -i PATH=/usr/bin:/bin HOME="$dir" \
  XDG_RUNTIME_DIR="$dir/run" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  sway -c "$dir/sway.conf" >"$dir/sway.log" 2>&1 &
sway=$!
for _ in $(seq 150); do [ -f "$dir/env" ] && break; sleep 0.1; done
[ -f "$dir/env" ] || { cat "$dir/sway.log"; echo "FAIL: sway did not start"; exit 1; }
mapfile -t session < <(grep -E '^(WAYLAND_DISPLAY|DISPLAY|SWAYSOCK)=' "$dir/env")
# The demo runs as root here, and Xwayland admits only its owner's programs
# until told otherwise (which starts it a little before the demo would).
setpriv --reuid="$user" --regid="$user" --clear-groups env -i "${session[@]}" \
  xhost +si:localuser:root >/dev/null

shots=$root/build/demo
rm -f "$shots/linux-splash-100.png" "$shots/linux-app-100.png"
output=$(env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$dir/run" "${session[@]}" \
  timeout 240 "$root/scripts/demo" 2>&1) || true
echo "$output"
fail() { echo "FAIL: $1"; exit 1; }
grep -q "^demo: Wayland session" <<<"$output" || fail "the demo did not see the Wayland session"
! grep -q "Layer shell not used" <<<"$output" || fail "the splash was not a layer surface"
[ -f "$shots/linux-app-100.png" ] || fail "no screenshot of the demo application"
[ "$(identify -format %wx%h "$shots/linux-splash-100.png")" == 1024x768 ] ||
  fail "the splash's screenshot is not sway's screen"
# Left of the middle lies the splash's blue, not the application's grey.
read -r r g b < <(convert "$shots/linux-splash-100.png" -format '%[fx:int(255*p{392,384}.r)] %[fx:int(255*p{392,384}.g)] %[fx:int(255*p{392,384}.b)]' info:; echo)
[ "$b" -gt $((r + 60)) ] || fail "no splash in the screenshot (rgb $r $g $b at 392,384)"
echo PASS
