#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer), makes the seed corpora and runs every target for SECONDS (default 20).
# Inputs that crash are saved under build/fuzz/crashes/; copy them to
# tests/fuzz/regress/<target>/ so that ctest replays them.
# Usage: tests/fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-20}"
shift || true
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang libfuzzer-14-dev
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
out=build/fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(decode_l0 decode_l1 decode_l2 decode_l3 decode_l4 decode_l5 stream roundtrip container range)
"$out/orsk_fuzz_seeds" "$out/seeds"
mkdir -p "$out/crashes"
status=0
for t in "${targets[@]}"; do
    mkdir -p "$out/corpus/$t"
    echo "== $t: ${seconds}s"
    # Inputs up to 3 MiB: containers and round trips of three blocks.
    if ! "$out/orsk_fuzz_$t" -max_total_time="$seconds" -max_len=3145728 -rss_limit_mb=4096 -timeout=20 \
        -artifact_prefix="$out/crashes/$t-" -print_final_stats=1 \
        "$out/corpus/$t" "$out/seeds/$t" 2>"$out/$t.log"; then
        echo "FAIL: $t (see $out/$t.log and $out/crashes/)"
        tail -30 "$out/$t.log"
        status=1
    else
        grep -E 'stat::number_of_executed_units|cov:' "$out/$t.log" | tail -2
    fi
done
exit $status
