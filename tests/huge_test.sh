#!/usr/bin/env bash
# A sparse input of more than 4 GiB round-trips at level 0, and the report shows its
# true size and a finite speed. Not part of the default suite (label "huge"):
#   ctest --test-dir build/release -L huge --output-on-failure
set -euo pipefail
ORSK="$1"
work="$(mktemp -d "${TMPDIR:-/tmp}/orsk-huge.XXXXXX")"
trap 'rm -rf "$work"' EXIT
size=$((4 * 1024 * 1024 * 1024 + 123457))
truncate -s "$size" "$work/in.bin"
# Some real bytes at the start, across the 4 GiB line and at the end.
for at in 0 $((4 * 1024 * 1024 * 1024 - 5000)) $((size - 3000)); do
    head -c 100000 "$ORSK" | dd of="$work/in.bin" bs=1 seek="$at" conv=notrunc status=none 2>/dev/null ||
        head -c 100000 "$ORSK" | dd of="$work/in.bin" bs=4096 seek=$((at / 4096)) conv=notrunc status=none
done
truncate -s "$size" "$work/in.bin"
"$ORSK" e -m0 "$work/in.bin" "$work/in.orsk" > "$work/log"
grep -q "\[ $size bytes\]" "$work/log" || { echo "FAIL: the report does not show $size bytes"; cat "$work/log"; exit 1; }
if grep -qE 'inf|nan' "$work/log"; then echo "FAIL: speed not finite"; exit 1; fi
"$ORSK" d -m0 "$work/in.orsk" "$work/out.bin" > /dev/null
cmp "$work/in.bin" "$work/out.bin"
echo "huge file: 1 passed, 0 failed ($size bytes -> $(stat -c %s "$work/in.orsk"))"
