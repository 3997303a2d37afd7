#!/usr/bin/env bash
# The Windows build: cross-compiles with MinGW-w64, then under wine runs the unit tests,
# a command-line round trip at every level (names with spaces and non-ASCII letters),
# and checks that the Linux and Windows builds write identical containers and restore
# each other's. Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine64 wine)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
fi
tools/setup.sh
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset release >/dev/null
cmake --build --preset release --target orsk
exe=build/windows/orsk.exe
lin=build/release/orsk

# The slow variants (longer inputs through the same paths) are left to the native runs.
wine build/windows/orsk_tests.exe --gtest_brief=1 --gtest_filter='-*Slow*'
set +e  # from here on every exit code is checked explicitly

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
pass=0
fail=0
check() { if [ "$2" = "$3" ]; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL: $1"; fi; }
tar cf "$work/src sample ünïcødé.tar" src tests/*.cpp
head -c 2500000 "$lin" > "$work/binary.bin"
for f in "$work/src sample ünïcødé.tar" "$work/binary.bin"; do
    for level in 0 1 2 3 4 5; do
        wine "$exe" e -m$level "$f" "$f.w$level" > "$work/log" 2>&1; check "windows compress $level" 0 $?
        if grep -qE 'inf|nan' "$work/log"; then check "sane speeds $level" 0 1; fi
        "$lin" e -m$level "$f" "$f.l$level" > /dev/null 2>&1; check "linux compress $level" 0 $?
        cmp -s "$f.w$level" "$f.l$level"; check "identical containers at level $level ($(basename "$f"))" 0 $?
        wine "$exe" d -m$level "$f.l$level" "$f.wback" > /dev/null 2>&1; check "windows restores linux $level" 0 $?
        cmp -s "$f" "$f.wback"; check "windows restore exact $level" 0 $?
        "$lin" d -m$level "$f.w$level" "$f.lback" > /dev/null 2>&1; check "linux restores windows $level" 0 $?
        cmp -s "$f" "$f.lback"; check "linux restore exact $level" 0 $?
        # Checked containers: the same checks whichever instruction set hashes them.
        wine "$exe" e --check -m$level "$f" "$f.wc" > /dev/null 2>&1 && "$lin" e --check -m$level "$f" "$f.lc" > /dev/null 2>&1
        cmp -s "$f.wc" "$f.lc"; check "identical checked containers at level $level" 0 $?
        wine "$exe" d -m "$f.lc" "$f.wback" > /dev/null 2>&1 && cmp -s "$f" "$f.wback"; check "windows d -m $level" 0 $?
    done
done
wine "$exe" e -m9 "$work/binary.bin" "$work/x" > /dev/null 2>&1; check "bad level exit code" 1 $?
wine "$exe" d -m2 "$work/missing" "$work/x" > /dev/null 2>&1; check "missing input exit code" 2 $?
echo "windows: $pass passed, $fail failed"
[ "$fail" = 0 ]
