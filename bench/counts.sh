#!/usr/bin/env bash
# Level 0 against lz4 -1, per sequence: how many sequences each makes per MiB, the
# in-memory compress and restore time per sequence, and cachegrind's instructions and
# simulated branch mispredicts per sequence (restore and compress, whole runs minus the
# dynamic loader and the C library's memcpy, which valgrind counts per byte moved).
# Usage: bench/counts.sh [FILE...]   (default: six files of $CORPUS, build/corpus, which
# bench/corpus.sh makes). Needs valgrind and lz4.
# ORSK names the binary (build/release/orsk); CPU the core to pin to (1). A few minutes.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
orsk=$(realpath "${ORSK:-$here/../build/release/orsk}")
corpus=${CORPUS:-$here/../build/corpus}
[ $# -gt 0 ] || [ -d "$corpus" ] || "$here/corpus.sh" "$corpus" >/dev/null
cpu=${CPU:-1}
[ $# -gt 0 ] || set -- "$corpus"/{text.txt,source.tar,executables.tar,windows-pe.tar,records.json,database.sqlite}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Instructions and conditional + indirect mispredicts of a command, outside ld.so and memcpy.
grind() {
    valgrind --tool=cachegrind --cache-sim=no --branch-sim=yes --cachegrind-out-file="$tmp/cg" "$@" >/dev/null 2>&1
    cg_annotate --auto=no --threshold=0 "$tmp/cg" 2>/dev/null | python3 -c '
import re, sys
ir = mis = 0
for line in sys.stdin:
    f = line.split()
    if len(f) < 6 or "PROGRAM" in line or not re.match(r"^[\d,]+$", f[0]):
        continue
    nums = [int(x.replace(",", "")) for x in f if re.match(r"^[\d,]+$", x)]
    if ("./elf/" in line or "memmove" in line or "memcpy" in line) or len(nums) < 5:
        continue
    ir += nums[0]; mis += nums[2] + nums[4]
print(ir, mis)'
}

printf '%-16s %9s %9s %5s | %-13s | %-13s | %-15s | %-13s | %-15s\n' file 'seq/MiB' 'lz4' x \
    'comp ns/seq' 'rest ns/seq' 'rest Ir/seq' 'rest mis/seq' 'comp Ir/seq'
printf '%-16s %9s %9s %5s | %6s %6s | %6s %6s | %7s %7s | %6s %6s | %7s %7s\n' '' orsk lz4 '' \
    orsk lz4 orsk lz4 orsk lz4 orsk lz4 orsk lz4
for f in "$@"; do
    size=$(stat -c %s "$f")
    "$orsk" -q -t1 e -m0 "$f" "$tmp/o"
    lz4 -1 -q -f --no-frame-crc "$f" "$tmp/l"
    so=$(python3 "$here/count_sequences.py" orsk "$tmp/o")
    sl=$(python3 "$here/count_sequences.py" lz4 "$tmp/l")
    # In-memory speeds (MB of 10^6 bytes per second): orsk's table row, lz4's last result.
    read -r oc od < <(taskset -c "$cpu" "$orsk" -t1 -b0 "$f" | awk '$1 == "0" {print $(NF-1), $NF}')
    read -r lc ld < <(taskset -c "$cpu" lz4 -b1 -i3 "$f" 2>&1 | tr '\r' '\n' | grep -o '[0-9.]* MB/s ,[0-9.]* MB/s' |
        tail -1 | awk '{print $1, substr($3, 2)}')
    read -r oir omis < <(grind "$orsk" -q -t1 d -m0 "$tmp/o" "$tmp/od")
    read -r lir lmis < <(grind lz4 -q -d -f "$tmp/l" "$tmp/ld")
    read -r ocir _ < <(grind "$orsk" -q -t1 e -m0 "$f" "$tmp/oe")
    read -r lcir _ < <(grind lz4 -1 -q -f --no-frame-crc "$f" "$tmp/le")
    cmp -s "$tmp/od" "$f" && cmp -s "$tmp/ld" "$f" || { echo "$f: a restore differs" >&2; exit 1; }
    python3 - "$(basename "$f")" "$size" "$so" "$sl" "$oc" "$od" "$lc" "$ld" "$oir" "$lir" "$omis" "$lmis" "$ocir" "$lcir" <<'PY'
import sys
name, size, so, sl, oc, od, lc, ld, oir, lir, omis, lmis, ocir, lcir = sys.argv[1:]
size, so, sl = int(size), int(so), int(sl)
mib = size / 1048576
ns = lambda mbs, seqs: size / float(mbs) * 1e3 / seqs  # bytes / (MB/s) in microseconds -> ns
print(f"{name:16s} {so / mib:9.0f} {sl / mib:9.0f} {so / sl:5.2f} | {ns(oc, so):6.2f} {ns(lc, sl):6.2f} | "
      f"{ns(od, so):6.2f} {ns(ld, sl):6.2f} | {int(oir) / so:7.1f} {int(lir) / sl:7.1f} | "
      f"{int(omis) / so:6.3f} {int(lmis) / sl:6.3f} | {int(ocir) / so:7.1f} {int(lcir) / sl:7.1f}")
PY
done
