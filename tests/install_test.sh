#!/usr/bin/env bash
# Installs the package into a temporary prefix and builds outside projects against it:
# a C and a C++ project through find_package(orsk), against the static library and
# (when the build made one) the shared one, and C programs through pkg-config. Checks
# that the installed versions agree, that the shared library exports only the orsk_
# calls and that the static one can go into a shared object.
# Arguments: source dir, build dir, "shared" or "static", the project's version.
set -euo pipefail
src="$1"
build="$2"
kind="$3"
version="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
pcdir="$(ls -d "$prefix"/lib*/pkgconfig | head -1)"
libdir="$(dirname "$pcdir")"
pass=0
check() { # what, command...
    local what="$1"
    shift
    if "$@" > "$work/log" 2>&1; then pass=$((pass + 1)); else echo "FAIL: $what"; cat "$work/log"; exit 1; fi
}

check "installed files" test -x "$prefix/bin/orsk" -a -f "$prefix/include/orsk/orsk.h" -a -f "$libdir/liborsk.a" \
    -a -f "$prefix/share/man/man1/orsk.1"
check "header version" grep -q "^#define ORSK_VERSION_STRING \"$version\"" "$prefix/include/orsk/orsk.h"
check "manual version" grep -q "\"orsk $version\"" "$prefix/share/man/man1/orsk.1"
check "pkg-config version" test "$(PKG_CONFIG_PATH="$pcdir" pkg-config --modversion orsk)" = "$version"
check "package version" grep -q "PACKAGE_VERSION \"$version\"" "$libdir/cmake/orsk/orskConfigVersion.cmake"
# Position-independent: the whole static library links into a shared object.
check "static library is position-independent" c++ -shared -o "$work/whole.so" \
    -Wl,--whole-archive "$libdir/liborsk.a" -Wl,--no-whole-archive -pthread
if [ "$kind" = shared ]; then
    check "soname" sh -c "readelf -d '$libdir/liborsk.so.$version' | grep -q 'SONAME.*\\[liborsk.so.1\\]'"
    check "links" test -L "$libdir/liborsk.so" -a -L "$libdir/liborsk.so.1"
    nm -D --defined-only "$libdir/liborsk.so.1" | awk '{print $3}' | grep -v '^orsk_' > "$work/foreign" || true
    check "only orsk_ calls exported" test ! -s "$work/foreign"
    # Every call the header declares, and nothing else.
    grep -o '^ORSK_API [^(]*(' "$prefix/include/orsk/orsk.h" | grep -o 'orsk_[a-z_]*(' | tr -d '(' | sort > "$work/declared"
    nm -D --defined-only "$libdir/liborsk.so.1" | awk '{print $3}' | sort > "$work/exported"
    check "every declared call is exported" diff "$work/declared" "$work/exported"
fi

# Consumers. C: the library's two example programs; C++: a round trip.
cat > "$work/main.cpp" <<'CPP'
#include <orsk/orsk.h>

#include <cstdio>
#include <string>
#include <vector>

int main() {
    std::string text;
    for (int i = 0; i < 150000; ++i) text += "consumer line " + std::to_string(i % 977) + "\n";
    std::vector<unsigned char> packed(orsk_compress_bound(text.size())), back(text.size());
    size_t n = 0, m = 0;
    if (orsk_compress(3, text.data(), text.size(), packed.data(), packed.size(), &n) != ORSK_OK) return 1;
    if (orsk_decompress(3, packed.data(), n, back.data(), back.size(), &m) != ORSK_OK) return 1;
    if (std::string(back.begin(), back.begin() + m) != text) return 1;
    std::printf("orsk %s: %zu -> %zu bytes\n", orsk_version(), text.size(), n);
    return 0;
}
CPP
run_c() { # folder: runs its consumer and stream programs
    "$1/consumer"
    head -c 3000000 "$prefix/bin/orsk" > "$work/sample"
    "$1/stream" e 4 777 < "$work/sample" | "$1/stream" d 4 4096 | cmp - "$work/sample"
}
needs_shared() { readelf -d "$1" | grep -q 'NEEDED.*liborsk\.so\.1'; }
targets="static"
[ "$kind" = shared ] && targets="static shared"
for lang in C CXX; do
    for link in $targets; do
        dir="$work/$lang-$link"
        mkdir -p "$dir"
        target=orsk_static
        [ "$link" = shared ] && target=orsk  # the shared library when one is installed
        if [ "$lang" = C ]; then
            cp "$src/examples/roundtrip.c" "$dir/consumer.c"
            cp "$src/examples/stream.c" "$dir/stream.c"
            programs="add_executable(consumer consumer.c)
add_executable(stream stream.c)
target_link_libraries(stream PRIVATE orsk::$target)"
        else
            cp "$work/main.cpp" "$dir/consumer.cpp"
            programs="add_executable(consumer consumer.cpp)"
        fi
        cat > "$dir/CMakeLists.txt" <<CM
cmake_minimum_required(VERSION 3.25)
project(consumer $lang)
find_package(orsk $version REQUIRED)
$programs
target_link_libraries(consumer PRIVATE orsk::$target)
CM
        check "$lang project against the $link library: configure" \
            cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
        check "$lang project against the $link library: build" cmake --build "$dir/build"
        if [ "$lang" = C ]; then
            check "$lang project against the $link library: run" run_c "$dir/build"
        else
            check "$lang project against the $link library: run" "$dir/build/consumer"
        fi
        if [ "$link" = shared ]; then
            check "$lang project uses liborsk.so.1" needs_shared "$dir/build/consumer"
        else
            check "$lang project is self-contained" sh -c "! readelf -d '$dir/build/consumer' | grep -q liborsk"
        fi
    done
done

# pkg-config: static linking with --static (from an install without the shared
# library, so the linker cannot pick it), shared linking with the plain flags.
cp -a "$prefix" "$work/static-prefix"
rm -f "$work"/static-prefix/lib*/liborsk.so*
static_pc="$(ls -d "$work"/static-prefix/lib*/pkgconfig | head -1)"
mkdir -p "$work/pc"
check "cc with pkg-config --static" sh -c "cc '$src/examples/roundtrip.c' -o '$work/pc/consumer' \
    \$(PKG_CONFIG_PATH='$static_pc' pkg-config --cflags --libs --static orsk) && \
    cc '$src/examples/stream.c' -o '$work/pc/stream' \$(PKG_CONFIG_PATH='$static_pc' pkg-config --cflags --libs --static orsk)"
check "cc with pkg-config --static: run" run_c "$work/pc"
if [ "$kind" = shared ]; then
    mkdir -p "$work/pcs"
    check "cc with pkg-config" sh -c "cc '$src/examples/roundtrip.c' -o '$work/pcs/consumer' \
        \$(PKG_CONFIG_PATH='$pcdir' pkg-config --cflags --libs orsk) && \
        cc '$src/examples/stream.c' -o '$work/pcs/stream' \$(PKG_CONFIG_PATH='$pcdir' pkg-config --cflags --libs orsk)"
    check "cc with pkg-config uses liborsk.so.1" needs_shared "$work/pcs/consumer"
    export LD_LIBRARY_PATH="$libdir"
    check "cc with pkg-config: run" run_c "$work/pcs"
fi
echo "install and consume ($kind): $pass passed, 0 failed"
