#!/usr/bin/env bash
# Writes the bundled sample, a tar of the project's sources, to the file named (the
# demo compresses it, and `ORSK_BENCH_CORPUS=sample bench/run.sh` benchmarks it).
set -euo pipefail
out="$(realpath -m "${1:?usage: tools/sample.sh OUTPUT}")"
cd "$(dirname "$0")/.."
tar cf "$out" src tests/*.cpp README.md
