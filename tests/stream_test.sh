#!/usr/bin/env bash
# The stream example program against the command line. "match": at every level, with
# pieces of 1, 777 and 65536 bytes, it writes the container `orsk e` writes and restores
# `orsk d`'s input exactly. "memory": 200 MB through it each way, each run under 64 MiB
# resident (GNU time's maximum resident set).
set -euo pipefail
orsk="$1"
example="$2"
mode="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if [ "$mode" = match ]; then
    # Program bytes, text and a stretch of noise: stored and compressed blocks, 3 chunks.
    { head -c 1200000 "$orsk"; cat "$(dirname "$0")"/*.cpp; head -c 300000 /dev/urandom; } | head -c 2400000 > "$work/in"
    fail=0
    for level in 0 1 2 3 4 5; do
        "$orsk" e -m$level "$work/in" "$work/cli" > /dev/null
        for piece in 1 777 65536; do
            "$example" e $level $piece < "$work/in" > "$work/stream"
            cmp -s "$work/cli" "$work/stream" || { echo "FAIL: level $level piece $piece: containers differ"; fail=1; }
            "$example" d $level $piece < "$work/cli" > "$work/back"
            cmp -s "$work/in" "$work/back" || { echo "FAIL: level $level piece $piece: restore differs"; fail=1; }
        done
        "$orsk" d -m$level "$work/stream" "$work/back" > /dev/null
        cmp -s "$work/in" "$work/back" || { echo "FAIL: level $level: orsk d does not restore the stream's container"; fail=1; }
    done
    # A damaged container fails (exit 2), an empty input makes an empty container.
    head -c 100000 "$work/cli" > "$work/cut"
    if "$example" d 5 4096 < "$work/cut" > /dev/null 2>&1; then echo "FAIL: a cut container restored"; fail=1; fi
    [ "$("$example" e 3 10 < /dev/null | wc -c)" -eq 0 ] || { echo "FAIL: empty input"; fail=1; }
    [ $fail -eq 0 ] && echo "stream example matches the command line"
    exit $fail
fi

# memory: the same 200 MB twice (a deterministic generator), compressed and restored in
# one pipe, each side measured on its own.
[ -x /usr/bin/time ] || { echo "SKIP: no /usr/bin/time"; exit 77; }
generate() (
    set +o pipefail  # head ends the loop early
    for i in $(seq 1 120); do head -c 1500000 "$orsk"; seq $((i * 20000)) $((i * 20000 + 60000)); done | head -c 200000000
)
generate | /usr/bin/time -f %M -o "$work/e.kib" "$example" e 2 65536 \
         | /usr/bin/time -f %M -o "$work/d.kib" "$example" d 2 65536 | cmp - <(generate)
e=$(tail -1 "$work/e.kib")
d=$(tail -1 "$work/d.kib")
echo "200 MB streamed: compressor $((e / 1024)) MiB, decompressor $((d / 1024)) MiB resident at most"
[ "$e" -lt 65536 ] && [ "$d" -lt 65536 ]
