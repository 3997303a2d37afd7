#!/usr/bin/env bash
# Side-by-side benchmark: orsk levels 0 to 5 (in memory, `orsk -t1 -b`) and lz4 -1,
# zstd -1/-3/-9/-19 (their own in-memory benchmark modes), each best of several runs,
# pinned to one core; then orsk's speed over the competing peer settings, charts of
# ratio against speed, and a whole-process file-to-file table with hyperfine.
# Usage: bench/run.sh [FILE...]   (default: the files ORSK_BENCH_CORPUS names)
# ORSK_BENCH_CORPUS: a folder (its files), one file, or `sample` (the bundled sample
#   tools/sample.sh writes); default build/corpus, made by bench/corpus.sh.
# ORSK_BENCH_OUT (default build/bench): results.tsv, ratios.md, and a PNG and an SVG
#   chart per file, and for the corpus as one (corpus.png) when there are several.
# ORSK_BENCH_EFFORTS (default 0,1,5,9): the efforts orsk's levels are measured at, each
#   a line of its own in the charts (0 is each level's own parse; a compression at an
#   effort is timed once, being slow).
# ORSK_BENCH_ROUNDS=N (default 1) measures every codec N times, the rounds interleaved
#   so that a shared machine's slow spells fall on all of them, and keeps each codec's
#   best figures. ORSK_BENCH_PROCESS=0 skips the hyperfine table.
set -euo pipefail
# names given relative to where the script was started
files=()
for f in "$@"; do files+=("$(realpath "$f")"); done
out="$(realpath -m "${ORSK_BENCH_OUT:-build/bench}")"
corpus="${ORSK_BENCH_CORPUS:-}"
[ -z "$corpus" ] || [ "$corpus" = sample ] || corpus="$(realpath "$corpus")"
cd "$(dirname "$0")/.."
tools/setup.sh
need=()
command -v lz4 >/dev/null || need+=(lz4)
command -v zstd >/dev/null || need+=(zstd)
command -v hyperfine >/dev/null || need+=(hyperfine)
command -v file >/dev/null || need+=(file)
command -v gnuplot >/dev/null || need+=(gnuplot-nox)
if [ ${#need[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${need[@]}"
fi
cmake --preset release >/dev/null && cmake --build --preset release >/dev/null
mkdir -p "$out"
if [ ${#files[@]} -eq 0 ]; then
    case "$corpus" in
        "") bench/corpus.sh build/corpus >/dev/null; files=(build/corpus/*) ;;
        sample) mkdir -p build/sample; tools/sample.sh build/sample/sample.tar; files=(build/sample/sample.tar) ;;
        *) if [ -d "$corpus" ]; then files=("$corpus"/*); else files=("$corpus"); fi ;;
    esac
fi
set --
for f in "${files[@]}"; do  # the peers cannot measure an empty file
    if [ -f "$f" ] && [ -s "$f" ]; then set -- "$@" "$f"; else echo "skipped (not a file, or empty): $f" >&2; fi
done
[ $# -gt 0 ] || { echo "bench/run.sh: no file to measure" >&2; exit 1; }
pin=(taskset -c "$(($(nproc) - 1))")
rounds="${ORSK_BENCH_ROUNDS:-1}"
commit="$(git rev-parse --short HEAD 2>/dev/null || echo '?')"
cpu="$(lscpu | sed -n 's/^Model name: *//p')"
lz4v="$(lz4 --version 2>&1 | grep -o 'v[0-9.]*' | head -1)"
zstdv="$(zstd --version | grep -o 'v[0-9.]*')"
echo "# $(date -u +%Y-%m-%d) $cpu, orsk $commit, $lz4v lz4, $zstdv zstd"
printf 'file\tbytes\tcodec\tpacked\tcomp_MBps\tdecomp_MBps\n' > "$out/results.tsv"
for f in "$@"; do
    for ((r = 0; r < rounds; r++)); do
        "${pin[@]}" ./build/release/orsk -t1 --effort="${ORSK_BENCH_EFFORTS:-0,1,5,9}" -b "$f" |
            sed -n 's/^ \([0-5]\) \([A-Z]*\) .*/&/p'
        for l in 1; do echo "lz4 -$l $("${pin[@]}" lz4 -b$l -i3 "$f" 2>&1 | tr '\r' '\n' | grep -E 'MB/s *, *[0-9.]+ MB/s' | tail -1)"; done
        for l in 1 3 9 19; do
            it=3; [ $l -ge 19 ] && it=1
            echo "zstd -$l $("${pin[@]}" zstd -b$l -i$it "$f" 2>&1 | tr '\r' '\n' | grep -E 'MB/s *, *[0-9.]+ MB/s' | tail -1)"
        done
    done | python3 bench/table.py "$f" --tsv "$out/results.tsv"
done
best="best of $rounds round"; [ "$rounds" = 1 ] || best+=s
python3 bench/summary.py "$out/results.tsv" "$out" \
    "one core, in memory, $best; orsk $commit, lz4 $lz4v, zstd $zstdv; $(date -u +%Y-%m-%d)"
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
