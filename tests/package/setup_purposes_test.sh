#!/usr/bin/env bash
# scripts/setup installs per purpose: each list prints without installing, is
# part of what the tests need, the demo's holds no compositor, no 32-bit
# package and no Wine, and the scripts ask for purposes that exist. A build of
# the launcher alone configures without GoogleTest and Google Benchmark.
# Usage: setup_purposes_test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
source_dir=$1 scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/bin"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Anything that would install leaves a mark instead.
# shellcheck disable=SC2016 # the stand-ins expand $0 and $* when they run
for tool in sudo apt-get dpkg; do
  printf '#!/bin/sh\necho "$0 $*" >>"%s/installed"\nexit 1\n' "$scratch" >"$scratch/bin/$tool"
  chmod +x "$scratch/bin/$tool"
done
setup() { PATH="$scratch/bin:$PATH" "$source_dir/scripts/setup" "$@"; }

purposes=(build demo demo-windows package lint bench fuzz soak test)
for purpose in "${purposes[@]}"; do
  setup --list "$purpose" >"$scratch/$purpose.txt" 2>"$scratch/$purpose.err" ||
    fail "--list $purpose: status $?: $(cat "$scratch/$purpose.err")"
  [ -s "$scratch/$purpose.txt" ] || fail "--list $purpose printed nothing"
  sort -u "$scratch/$purpose.txt" >"$scratch/$purpose.sorted"
done
[ ! -e "$scratch/installed" ] || fail "--list ran: $(cat "$scratch/installed")"
cmp -s "$scratch/test.txt" <(setup --list) || fail "--list without a purpose is not --list test"

for purpose in "${purposes[@]}"; do
  extra=$(comm -23 "$scratch/$purpose.sorted" "$scratch/test.sorted")
  [ -z "$extra" ] || fail "$purpose needs what test does not install: $extra"
done
subset() {  # smaller larger
  extra=$(comm -23 "$scratch/$1.sorted" "$scratch/$2.sorted")
  [ -z "$extra" ] || fail "$1 is not part of $2: $extra"
}
subset build demo
subset demo demo-windows
subset build package

# Rows: purpose, a pattern none of its packages may match, why.
while IFS=';' read -r purpose pattern why; do
  found=$(grep -E "$pattern" "$scratch/$purpose.txt")
  [ $? -le 1 ] || fail "bad pattern $pattern"
  [ -z "$found" ] || fail "$purpose names $why: $found"
done <<'ROWS'
demo;^(sway|kwin.*|gnome-shell|weston|xwayland|wayfire|cage|phoc)$;a compositor
demo;:i386$;a 32-bit package
demo;^wine;Wine
build;^(googletest|libgtest-dev|libgmock-dev|libbenchmark-dev)$;a test library
fuzz;^(wine.*|sway|gnome-shell)$;Wine or a compositor
ROWS
grep -qx 'wine32:i386' "$scratch/demo-windows.txt" || fail "demo-windows lacks 32-bit Wine"
grep -qx 'sway' "$scratch/test.txt" || fail "test lacks the compositors"

setup nonsense >"$scratch/nonsense.out" 2>&1 && fail "an unknown purpose was accepted"
grep -q "unknown purpose 'nonsense'" "$scratch/nonsense.out" || fail "no message for an unknown purpose"
[ ! -e "$scratch/installed" ] || fail "an unknown purpose ran: $(cat "$scratch/installed")"

# Every script that needs packages asks for a purpose that exists.
for script in lint soak fuzz bench package test; do
  asked=$(sed -n 's|^ *scripts/setup \([a-z-]*\)$|\1|p' "$source_dir/scripts/$script")
  [ -n "$asked" ] || { fail "scripts/$script does not call scripts/setup PURPOSE"; continue; }
  [ -s "$scratch/$asked.txt" ] || fail "scripts/$script asks for unknown purpose $asked"
done

# The launcher alone: configuring finds neither test library.
cmake -S "$source_dir" -B "$scratch/alone" -G Ninja -DBUILD_TESTING=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  >"$scratch/alone.log" 2>&1 || fail "-DBUILD_TESTING=OFF needs a test library: $(grep -A3 'CMake Error' "$scratch/alone.log")"

[ "$failures" -eq 0 ] && echo "PASS" || exit 1
