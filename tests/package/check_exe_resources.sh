#!/usr/bin/env bash
# Checks the resources of a built launcher.exe: the first icon group holds
# exactly the images of the expected .ico (the icon Explorer shows), and each
# version text given as Key=Value reads back as that value.
# Usage: check_exe_resources.sh EXE ICO [Key=Value]...
set -euo pipefail
exe=$1 ico=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

[ -f "$exe" ] || fail "$exe is missing"
# wrestool lists resources in the order of the resource directory, which is
# the order Windows searches: the first group listed is the one shown.
first_group=$(wrestool -l --type=14 "$exe" | head -n 1)
[ -n "$first_group" ] || fail "$exe has no icon group"
name=$(sed -n 's/.*--name=\([^ ]*\) .*/\1/p' <<<"$first_group")
echo "first icon group: $first_group"

mkdir "$work/exe" "$work/ico" "$work/expected"
wrestool -x --type=14 --name="$name" -o "$work/exe/group.ico" "$exe"
icotool -x -o "$work/ico" "$work/exe/group.ico"
icotool -x -o "$work/expected" "$ico"
mapfile -t got < <(cd "$work/ico" && ls | sort -t_ -k2,2n -k3)
mapfile -t want < <(cd "$work/expected" && ls | sort -t_ -k2,2n -k3)
[ "${#got[@]}" -gt 0 ] || fail "the icon group of $exe holds no image"
[ "${#got[@]}" -eq "${#want[@]}" ] ||
  fail "the icon group holds ${#got[@]} images, $ico holds ${#want[@]}"
for i in "${!got[@]}"; do
  cmp -s "$work/ico/${got[$i]}" "$work/expected/${want[$i]}" ||
    fail "image ${got[$i]} of $exe differs from ${want[$i]} of $ico"
done
echo "icon: ${#got[@]} images, the same as $ico"

# The version block as text: keys and values are NUL-terminated UTF-16, so
# after conversion each value is the first non-empty line after its key.
wrestool -x --type=16 -R "$exe" | iconv -c -f UTF-16LE -t UTF-8 | tr '\0' '\n' >"$work/version.txt"
for pair in "$@"; do
  key=${pair%%=*} want_value=${pair#*=}
  value=$(awk -v key="$key" 'found && $0 != "" { print; exit }
                              substr($0, length($0) - length(key) + 1) == key { found = 1 }' \
            "$work/version.txt")
  [ "$value" == "$want_value" ] || fail "$key reads \"$value\", expected \"$want_value\""
  echo "$key: $value"
done
