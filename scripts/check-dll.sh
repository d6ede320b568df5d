#!/usr/bin/env bash
# Checks the shipped DLL's image: PE32 for i386, exactly the two plugin exports,
# and imports from system DLLs only (the runtime is linked in statically).
set -euo pipefail
dll="$1"
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail() { echo "check-dll: $*" >&2; exit 1; }

grep -q "file format pei-i386" <<<"$dump" || fail "not an i386 PE image"
grep -Eq "^Magic[[:space:]]+010b[[:space:]]+\(PE32\)" <<<"$dump" || fail "not PE32"

exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\t\[/{print $NF; next} on{on=0}' <<<"$dump" | sort | tr '\n' ' ')
[ "$exports" = "Korvanta_Plugin_PR Korvanta_Plugin_Version " ] || fail "exports are: $exports"

allowed="kernel32.dll user32.dll gdi32.dll comctl32.dll shell32.dll advapi32.dll msvcrt.dll"
for dll_name in $(awk '/DLL Name:/{print tolower($3)}' <<<"$dump"); do
  grep -qw "$dll_name" <<<"$allowed" || fail "imports non-system $dll_name"
done
echo "check-dll: $(basename "$dll"): PE32 i386, exports: $exports; imports: $(awk '/DLL Name:/{printf "%s ", $3}' <<<"$dump")"
