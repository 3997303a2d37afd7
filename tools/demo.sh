#!/usr/bin/env bash
# Builds orsk and runs it on a bundled sample (a tar of the project's own sources):
# compress at level 3, restore, and compare.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
tools/sample.sh "$work/sample.tar"
./build/release/orsk e -m3 "$work/sample.tar" "$work/sample.orsk"
./build/release/orsk d -m3 "$work/sample.orsk" "$work/sample.restored"
cmp "$work/sample.tar" "$work/sample.restored"
echo "sample: $(stat -c %s "$work/sample.tar") bytes -> $(stat -c %s "$work/sample.orsk") bytes, restored identical"
