#!/usr/bin/env bash
# The cost of a range restore against a whole one: the last MiB of a 200 MB level-0
# container (--range) and the whole container, one thread, output to /dev/null, the
# container in the page cache; runs alternate, best of ROUNDS each (wall time, and CPU
# time, which others' work on a shared machine disturbs less), and the range's bytes
# are compared with the data's.
# Usage: bench/range.sh [DATA]   (default: 200,000,000 bytes of /usr/include and
#   /usr/share/doc, repeated); ROUNDS (default 7); LEVEL (default 0).
set -euo pipefail
data="$(realpath -m "${1:-build/bench/range/data}")"
cd "$(dirname "$0")/.."
out=build/bench/range
bin=build/release/orsk
rounds="${ROUNDS:-7}"
level="${LEVEL:-0}"
mkdir -p "$out"
[ -x "$bin" ] || { cmake --preset release >/dev/null && cmake --build --preset release --target orsk; }
if [ ! -s "$data" ]; then
    set +o pipefail  # head ends the loop early on purpose
    while :; do tar cf - /usr/include /usr/share/doc 2>/dev/null; done | head -c 200000000 > "$data"
    set -o pipefail
fi
"$bin" e -q -t1 -m"$level" "$data" "$out/c.orsk"
size=$(stat -c %s "$data")
mib=1048576
start=$((size > mib ? size - mib : 0))
cat "$out/c.orsk" > /dev/null
"$bin" d -q -t1 --range="$start:$mib" -m"$level" "$out/c.orsk" "$out/part"
tail -c +$((start + 1)) "$data" | cmp - "$out/part"

# Wall time and CPU time (user + system) of one run, in microseconds.
measure() {
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" > /dev/null; } 2>&1)
    awk -v t="$t" 'BEGIN { split(t, f, " "); printf "%d %d\n", f[1] * 1e6, (f[2] + f[3]) * 1e6 }'
}
best() { (( $2 == 0 || $1 < $2 )) && echo "$1" || echo "$2"; }
wall_whole=0 cpu_whole=0 wall_range=0 cpu_range=0
for ((i = 0; i < rounds; i++)); do
    read -r w c < <(measure "$bin" d -q -t1 -m"$level" "$out/c.orsk" -)
    wall_whole=$(best "$w" "$wall_whole") cpu_whole=$(best "$c" "$cpu_whole")
    read -r w c < <(measure "$bin" d -q -t1 --range="$start:$mib" -m"$level" "$out/c.orsk" -)
    wall_range=$(best "$w" "$wall_range") cpu_range=$(best "$c" "$cpu_range")
done
printf 'data %d bytes, container %d bytes, level %s, best of %d\n' "$size" "$(stat -c %s "$out/c.orsk")" "$level" "$rounds"
printf '%-38s %10s %10s\n' "" "wall us" "cpu us" "whole restore (-t1)" "$wall_whole" "$cpu_whole" \
    "last MiB (--range=$start:$mib)" "$wall_range" "$cpu_range"
awk -v a="$wall_range" -v b="$wall_whole" -v c="$cpu_range" -v d="$cpu_whole" \
    'BEGIN { printf "%-38s %9.2f%% %9.2f%%\n", "range / whole", 100 * a / b, 100 * c / d }'
