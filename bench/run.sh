#!/usr/bin/env bash
# Side-by-side benchmark: orsk levels 0 to 5 (in memory, `orsk -b`) and lz4 -1,
# zstd -1/-3/-9/-19 (their own in-memory benchmark modes), each best of several runs,
# pinned to one core. Then a whole-process file-to-file table with hyperfine.
# Usage: bench/run.sh [FILE...]   (default: the corpus of bench/corpus.sh)
# ORSK_BENCH_ROUNDS=N (default 1) measures every codec N times, the rounds interleaved
# so that a shared machine's slow spells fall on all of them, and keeps each codec's
# best figures.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
need=()
command -v lz4 >/dev/null || need+=(lz4)
command -v zstd >/dev/null || need+=(zstd)
command -v hyperfine >/dev/null || need+=(hyperfine)
command -v file >/dev/null || need+=(file)
if [ ${#need[@]} -gt 0 ]; then apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"; fi
cmake --preset release >/dev/null && cmake --build --preset release >/dev/null
if [ $# -eq 0 ]; then
    bench/corpus.sh build/corpus >/dev/null
    set -- build/corpus/*
fi
pin=(taskset -c "$(($(nproc) - 1))")
echo "# $(date -u +%Y-%m-%d) $(lscpu | sed -n 's/^Model name: *//p'), orsk $(git rev-parse --short HEAD 2>/dev/null || echo '?'), $(lz4 --version 2>&1 | grep -o 'v[0-9.]*' | head -1) lz4, $(zstd --version | grep -o 'v[0-9.]*') zstd"
rounds="${ORSK_BENCH_ROUNDS:-1}"
for f in "$@"; do
    for ((r = 0; r < rounds; r++)); do
        "${pin[@]}" ./build/release/orsk -b "$f" | sed -n 's/^ \([0-5]\) \([A-Z]*\) .*/&/p'
        for l in 1; do echo "lz4 -$l $("${pin[@]}" lz4 -b$l -i3 "$f" 2>&1 | tr '\r' '\n' | grep -E 'MB/s *, *[0-9.]+ MB/s' | tail -1)"; done
        for l in 1 3 9 19; do
            it=3; [ $l -ge 19 ] && it=1
            echo "zstd -$l $("${pin[@]}" zstd -b$l -i$it "$f" 2>&1 | tr '\r' '\n' | grep -E 'MB/s *, *[0-9.]+ MB/s' | tail -1)"
        done
    done | python3 bench/table.py "$f"
done
if [ "${ORSK_BENCH_PROCESS:-1}" = 1 ]; then
    f="$1"
    tmp="$(mktemp -d)"
    trap 'rm -rf "$tmp"' EXIT
    echo "## whole process, file to file: $f"
    hyperfine -N -w 1 -r 5 --export-markdown "$tmp/h.md" \
        "./build/release/orsk e -m0 $f $tmp/o0" "lz4 -1 -f -q $f $tmp/l1" \
        "./build/release/orsk e -m2 $f $tmp/o2" "zstd -1 -f -q $f -o $tmp/z1" \
        "./build/release/orsk e -m5 $f $tmp/o5" "zstd -9 -f -q $f -o $tmp/z9" >/dev/null
    cat "$tmp/h.md"
fi
