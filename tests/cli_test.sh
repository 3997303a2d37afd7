#!/usr/bin/env bash
# Command-line behaviour of the built binary: argument scan, exit codes, messages,
# the e+d verification and failures that must not report success.
set -u
ORSK="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
pass=0
fail=0

check() {  # name expected-exit-code actual-exit-code
    if [ "$2" = "$3" ]; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL: $1 (exit $3, expected $2)"; fi
}
expect_text() {  # name file pattern
    if grep -q -- "$3" "$2"; then pass=$((pass + 1)); else fail=$((fail + 1)); echo "FAIL: $1: no '$3' in output"; fi
}
reject_text() {  # name file pattern
    if grep -q -- "$3" "$2"; then fail=$((fail + 1)); echo "FAIL: $1: unexpected '$3'"; else pass=$((pass + 1)); fi
}

head -c 300000 "$ORSK" > sample.bin
cat "$ORSK" "$ORSK" | head -c 2500000 > big.bin

# No argument: usage, exit 1.
"$ORSK" > out.txt 2>&1; check "no argument" 1 $?
expect_text "usage text" out.txt "USAGE: ORSK <options> file_in"

# No e or d: nothing runs, no file touched.
"$ORSK" -m3 sample.bin never.orsk > out.txt 2>&1; check "no flags" 0 $?
expect_text "done" out.txt "Done!"
[ ! -e never.orsk ]; check "no file written" 0 $?
"$ORSK" -m0 e x > out.txt 2>&1; check "e after -m is a name" 0 $?
[ ! -e x ]; check "nothing created for -m0 e x" 0 $?

# Missing -m or names: usage, exit 1.
"$ORSK" e sample.bin out.orsk > out.txt 2>&1; check "missing -m" 1 $?
"$ORSK" e -m2 sample.bin > out.txt 2>&1; check "one name" 1 $?

# Level above 5: clear error, exit 1, nothing created.
for bad in -m9 -mx -m; do
    "$ORSK" e $bad sample.bin bad.orsk > out.txt 2>&1; check "level $bad" 1 $?
    expect_text "level $bad message" out.txt "valid levels are 0 to 5"
done
[ ! -e bad.orsk ]; check "no file for a bad level" 0 $?

# Only the third character counts: -m12 is level 1; encode counts as e.
"$ORSK" encode -m12 sample.bin l1.orsk > out.txt 2>&1; check "encode -m12" 0 $?
expect_text "level 1 announced" out.txt "Using SUPER_FAST_COMPRESSION level"
"$ORSK" d -m1 l1.orsk l1.back > out.txt 2>&1; check "restore -m1" 0 $?
cmp -s sample.bin l1.back; check "level 1 round trip" 0 $?

# Every level through files, and the e d verification.
for level in 0 1 2 3 4 5; do
    "$ORSK" e -m$level big.bin big.$level > out.txt 2>&1; check "compress level $level" 0 $?
    reject_text "no inf at level $level" out.txt "inf"
    reject_text "no nan at level $level" out.txt "nan"
    "$ORSK" d -m$level big.$level big.back > out.txt 2>&1; check "decompress level $level" 0 $?
    cmp -s big.bin big.back; check "files round trip at level $level" 0 $?
    "$ORSK" e d -m$level sample.bin ed.orsk > out.txt 2>&1; check "e d at level $level" 0 $?
    expect_text "verified at level $level" out.txt "Verified"
    cmp -s sample.bin ed.orsk; check "e d keeps the container" 1 $?
done

# Threads: the same container whatever the thread count, restored by any count.
for level in 0 3 5; do
    "$ORSK" e -t1 -m$level big.bin t1.orsk > /dev/null 2>&1; check "one thread at level $level" 0 $?
    "$ORSK" e -t3 -m$level big.bin t3.orsk > /dev/null 2>&1; check "three threads at level $level" 0 $?
    cmp -s t1.orsk t3.orsk; check "identical containers at level $level" 0 $?
    "$ORSK" d -t2 -m$level t1.orsk t.back > /dev/null 2>&1; check "threaded restore at level $level" 0 $?
    cmp -s big.bin t.back; check "threaded round trip at level $level" 0 $?
done
"$ORSK" e -tx -m0 big.bin tx.orsk > /dev/null 2>&1; check "malformed -t" 1 $?

# Empty input: empty container, and back.
: > empty.bin
"$ORSK" e -m2 empty.bin empty.orsk > out.txt 2>&1; check "empty input" 0 $?
[ -f empty.orsk ] && [ ! -s empty.orsk ]; check "empty container" 0 $?
"$ORSK" d -m2 empty.orsk empty.back > out.txt 2>&1; check "empty container restores" 0 $?
[ -f empty.back ] && [ ! -s empty.back ]; check "empty output" 0 $?

# Failures: exit 2, a message, no success line, and an existing output survives.
echo keep > keep.txt
"$ORSK" e -m2 missing.bin keep.txt > out.txt 2>&1; check "missing input" 2 $?
expect_text "open message" out.txt "Error opening one or more files"
reject_text "no done after failure" out.txt "Done!"
[ "$(cat keep.txt)" = keep ]; check "output kept after a failed run" 0 $?
printf 'X' > badmagic.orsk
"$ORSK" d -m2 badmagic.orsk keep.txt > out.txt 2>&1; check "bad magic" 2 $?
expect_text "magic message" out.txt "not an orsk container"
head -c 1000 big.2 > cut.orsk
"$ORSK" d -m2 cut.orsk keep.txt > out.txt 2>&1; check "truncated container" 2 $?
expect_text "names the block" out.txt "block 0"
[ "$(cat keep.txt)" = keep ]; check "output kept after a bad container" 0 $?
# A block that does not restore (its chunk length is off by one): the level's own word
# for it, then the reason.
seq 1 300000 > numbers.txt
"$ORSK" e -m3 numbers.txt n3.orsk > /dev/null 2>&1
"$ORSK" e -m2 numbers.txt n2.orsk > /dev/null 2>&1
python3 -c "
short = (1048575).to_bytes(4, 'little')
d = bytearray(open('n3.orsk', 'rb').read()); d[2:6] = short; open('bad3.orsk', 'wb').write(d)
d = bytearray(open('n2.orsk', 'rb').read()); d[6:10] = short; open('bad2.orsk', 'wb').write(d)"
"$ORSK" d -m3 bad3.orsk keep.txt > out.txt 2>&1; check "damaged NORMAL block" 2 $?
expect_text "NORMAL's word" out.txt "LZ Error"
"$ORSK" d -m2 bad2.orsk keep.txt > out.txt 2>&1; check "damaged FAST block" 2 $?
expect_text "FAST's word" out.txt "ERROR"
printf 'S\x07' > kind.orsk
"$ORSK" d -m4 kind.orsk kind.out > out.txt 2>&1; check "unknown kind" 2 $?
printf 'S\x0f\x01\x00\x00\x00\x02\x00\x00\x00ab' > unequal.orsk
"$ORSK" d -m0 unequal.orsk kind.out > out.txt 2>&1; check "unequal stored lengths" 2 $?
"$ORSK" e -m0 . dir.orsk > out.txt 2>&1; check "directory input" 2 $?
"$ORSK" e -m0 sample.bin sample.bin > out.txt 2>&1; check "same file" 2 $?
ln -s sample.bin link.bin
"$ORSK" e -m0 link.bin ./sample.bin > out.txt 2>&1; check "same file through a link" 2 $?
cmp -s sample.bin <(head -c 300000 "$ORSK"); check "input untouched" 0 $?
if [ -w /dev/full ]; then
    "$ORSK" e -m0 sample.bin /dev/full > out.txt 2>&1; check "full device" 2 $?
fi
"$ORSK" e -m0 sample.bin /nonexistent-dir/x.orsk > out.txt 2>&1; check "missing directory" 2 $?

# Pipes: "-" reads standard input and writes standard output; the data stream stays
# clean (messages on standard error) and matches the file runs byte for byte.
for level in 0 1 2 3 4 5; do
    cat big.bin | "$ORSK" e -m$level - - > pipe.orsk 2> pipe.err; check "compress through pipes at level $level" 0 $?
    cmp -s pipe.orsk big.$level; check "pipe container equals file container at level $level" 0 $?
    expect_text "messages on stderr at level $level" pipe.err "Done!"
    "$ORSK" d -m$level pipe.orsk - 2> /dev/null | cmp -s - big.bin; check "restore to a pipe at level $level" 0 $?
done
tar cf - sample.bin big.bin | "$ORSK" e -m2 - - 2> /dev/null > dir.orsk
"$ORSK" d -m2 dir.orsk - 2> /dev/null | tar tf - > list.txt; check "tar through orsk" 0 $?
expect_text "tar listing" list.txt "big.bin"

# Names with spaces and UTF-8 letters.
cp sample.bin "name with spaces ünïcødé.bin"
"$ORSK" e d -m4 "name with spaces ünïcødé.bin" "out ∂ir.orsk" > out.txt 2>&1; check "unusual names" 0 $?
[ -f "out ∂ir.orsk" ]; check "unusual output name" 0 $?

# A container cut at every block boundary and inside each header fails with exit 2.
"$ORSK" e -t1 -m1 big.bin cuts.orsk > /dev/null 2>&1
size=$(stat -c %s cuts.orsk)
python3 - cuts.orsk > offsets.txt <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
at, cuts = 1, set()
while at < len(d):
    # Just past a block boundary and inside the header. A cut exactly at a boundary
    # is a valid container of fewer blocks: the format has no block count.
    cuts.update(at + k for k in range(1, 18))
    total = 9 + struct.unpack_from('<I', d, at + 1)[0] if d[at] == 15 else struct.unpack_from('<I', d, at + 13)[0]
    at += total
print(' '.join(str(c) for c in sorted(cuts) if 1 < c < len(d)))
PY
for cut in $(cat offsets.txt); do
    head -c "$cut" cuts.orsk > cut.part
    "$ORSK" d -m1 cut.part cut.out > out.txt 2>&1; code=$?
    check "cut at $cut of $size" 2 $code
    reject_text "no success line for cut $cut" out.txt "Done!"
done
[ ! -e cut.out ]; check "no output from a cut container" 0 $?

# Interrupted in the middle (the input is a pipe that stalls, so the run is surely
# still going): an existing output survives and no temporary file remains.
echo keep > kept.orsk
(cat big.bin; sleep 5; cat big.bin) | "$ORSK" e -t1 -m5 - kept.orsk > /dev/null 2>&1 &
pid=$!
sleep 1
kill -TERM $pid 2>/dev/null
wait $pid
[ "$(cat kept.orsk)" = keep ]; check "output survives SIGTERM" 0 $?
ls kept.orsk.orsk-* > /dev/null 2>&1; check "no temporary file after SIGTERM" 2 $?

# An output folder that cannot be written, and an input that cannot be read (the
# /proc cases hold for root too).
"$ORSK" e -m0 sample.bin /proc/orsk-test.orsk > out.txt 2>&1; check "output on a read-only file system" 2 $?
expect_text "names the output" out.txt "/proc/orsk-test.orsk"
"$ORSK" e -m0 /proc/self/mem mem.orsk > out.txt 2>&1; check "input that fails to read" 2 $?
expect_text "read message" out.txt "cannot read"
[ ! -e mem.orsk ]; check "no output after a read failure" 0 $?
mkdir ro && chmod 555 ro
if [ "$(id -u)" != 0 ]; then
    "$ORSK" e -m0 sample.bin ro/x.orsk > out.txt 2>&1; check "read-only folder" 2 $?
    cp sample.bin unreadable.bin && chmod 000 unreadable.bin
    "$ORSK" e -m0 unreadable.bin u.orsk > out.txt 2>&1; check "unreadable input" 2 $?
fi

# Version and help.
"$ORSK" -V > out.txt 2>&1; check "version" 0 $?
expect_text "version line" out.txt "ORSK v2.9207"
"$ORSK" --help > out.txt 2>&1; check "help" 0 $?

echo "$pass passed, $fail failed"
[ "$fail" = 0 ]
