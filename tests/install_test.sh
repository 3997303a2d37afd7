#!/usr/bin/env bash
# Installs the package into a temporary prefix and builds a tiny outside project
# against it, once through find_package(orsk) and once through pkg-config.
set -euo pipefail
src="$1"
build="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/orsk"
test -f "$work/prefix/include/orsk/orsk.h"
test -f "$work/prefix/share/man/man1/orsk.1"

mkdir -p "$work/consumer"
cp "$src/examples/roundtrip.c" "$work/consumer/main.c"
cat > "$work/consumer/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(consumer C CXX)
find_package(orsk REQUIRED)
add_executable(consumer main.c)
set_target_properties(consumer PROPERTIES LINKER_LANGUAGE CXX)
target_link_libraries(consumer PRIVATE orsk::orsk)
CM
cmake -S "$work/consumer" -B "$work/consumer/build" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer/build" >/dev/null
"$work/consumer/build/consumer" >/dev/null

lib="$(ls -d "$work"/prefix/lib*/pkgconfig | head -1)"
flags="$(PKG_CONFIG_PATH="$lib" pkg-config --cflags --libs orsk)"
cc "$work/consumer/main.c" -o "$work/consumer/pc" $flags
"$work/consumer/pc" >/dev/null
echo "install and consume: 1 passed, 0 failed"
