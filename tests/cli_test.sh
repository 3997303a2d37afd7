#!/usr/bin/env bash
# Command-line behaviour of the built binary: argument scan, exit codes, messages,
# the e+d verification, failures that must not report success, what a terminal gets and
# what -q leaves out.
set -u
ORSK="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
umask 022
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
{ for i in 1 2 3 4 5 6 7 8 9; do cat "$ORSK"; done; seq 1 400000; } | head -c 2500000 > big.bin  # three blocks

state() { if [ -e "$1" ]; then cksum < "$1"; else echo absent; fi; }
size() { stat -c %s "$1"; }
# The line behind a report: the data and container sizes, the container's share.
sizes() {  # name from to data-size container-size
    python3 -c "import sys; n, a, b, d, c = sys.argv[1:]; print(' %s: %s -> %s bytes (%.2f%%)' % (n, f'{int(a):,}', f'{int(b):,}', int(c) * 100 / int(d)))" "$@"
}

# Inputs and containers the table below reads: damaged ones, and some written at levels
# 2 and 3 to restore at the wrong level.
echo keep > keep.txt
echo a > a.txt; echo b > b.txt; echo c > c.txt
printf 'X' > badmagic.orsk
printf 'S\x07' > kind.orsk
printf 'S\x0f\x01\x00\x00\x00\x02\x00\x00\x00ab' > unequal.orsk
ln -s sample.bin link.bin
seq 1 300000 > numbers.txt
"$ORSK" e -m3 numbers.txt n3.orsk > /dev/null 2>&1
"$ORSK" e -m2 numbers.txt n2.orsk > /dev/null 2>&1
head -c 1000 n2.orsk > cut.orsk
# A block that does not restore (its chunk length one short of 1 MiB).
python3 -c "
short = (1048575).to_bytes(4, 'little')
d = bytearray(open('n3.orsk', 'rb').read()); d[2:6] = short; open('bad3.orsk', 'wb').write(d)
d = bytearray(open('n2.orsk', 'rb').read()); d[6:10] = short; open('bad2.orsk', 'wb').write(d)"

# Checked containers of numbers.txt (two blocks) at level 3, damaged: a flip inside
# block 1, a flip in the header, cut inside block 1 and after it, block 0 lost.
"$ORSK" e --check -m3 numbers.txt c3.orsk > /dev/null 2>&1
python3 - c3.orsk <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
at, spans = 8, []
while d[at] != ord('E'):
    total = 9 + struct.unpack_from('<I', d, at + 1)[0] if d[at] == 15 else struct.unpack_from('<I', d, at + 5)[0]
    spans.append((at, at + total + 8))
    at += total + 8
def put(name, b): open(name, 'wb').write(b)
put('c3flip.orsk', d[:spans[1][0] + 99] + bytes([d[spans[1][0] + 99] ^ 4]) + d[spans[1][0] + 100:])
put('c3head.orsk', d[:2] + bytes([d[2] ^ 1]) + d[3:])
put('c3mid.orsk', d[:spans[1][0] + 500])
put('c3cut.orsk', d[:spans[1][1]])
put('c3lost.orsk', d[:8] + d[spans[1][0]:])
PY

# The command line, one run per row: exit code | a text the output holds ("-": none) |
# a file that must be left as it was (absent stays absent) | the arguments. A refused
# command line (exit 1) prints the usage on standard error; no failure prints "Done!".
while IFS='|' read -r code text kept args; do
    before=$(state "$kept")
    eval "set -- $args"
    "$ORSK" "$@" > out.txt 2> err.txt; check "orsk $args" "$code" $?
    [ "$text" = - ] || { cat out.txt err.txt > all.txt; expect_text "orsk $args" all.txt "$text"; }
    [ "$(state "$kept")" = "$before" ]; check "orsk $args leaves $kept" 0 $?
    [ "$code" = 0 ] || { cat out.txt err.txt > all.txt; reject_text "orsk $args" all.txt "Done!"; }
    [ "$code" != 1 ] || expect_text "orsk $args: usage on stderr" err.txt "USAGE: ORSK <options> file_in"
    [ "$code" != 1 ] || expect_text "orsk $args: both names in the usage" err.txt "In full: orsk \[options\] e|d|e d -m<0..5> input output"
done <<'TABLE'
1|-|-|
1|nothing to do|never.orsk|-m3 sample.bin never.orsk
1|nothing to do|x|-m0 e x
1|unknown option '-d'|never.orsk|-d -m2 sample.bin never.orsk
1|unknown option '-z'|never.orsk|-z e -m2 sample.bin never.orsk
1|unknown option '-help'|-|-help
1|e needs a level|out.orsk|e sample.bin out.orsk
1|e needs a level|out.orsk|e d sample.bin out.orsk
1|d needs two names|-|d n3.orsk
1|d needs two names|c.txt|d a.txt b.txt c.txt
1|two names must follow|-|e -m2 sample.bin
1|valid levels are 0 to 5|bad.orsk|e -m9 sample.bin bad.orsk
1|valid levels are 0 to 5|bad.orsk|e -mx sample.bin bad.orsk
1|valid levels are 0 to 5|bad.orsk|e -m sample.bin bad.orsk
1|valid levels are 0 to 5|bad.orsk|e -m12 sample.bin bad.orsk
1|valid levels are 0 to 5|bad.orsk|encode -m1x sample.bin bad.orsk
1|more than two names|b.txt|e -m2 a.txt b.txt c.txt
1|options go before -m|out|e -m1 -t1 sample.bin out
1|e and d go before -m|out|-m1 sample.bin out d
1|invalid thread count in '-tx'|tx.orsk|e -tx -m0 sample.bin tx.orsk
1|invalid thread count in '-t0'|tx.orsk|e -t0 -m0 sample.bin tx.orsk
1|invalid thread count in '-t'|tx.orsk|e -t -m0 sample.bin tx.orsk
0|Using SUPER_FAST_COMPRESSION level|-|encode -m1 sample.bin l1.orsk
0|Done!|-|e -t100000 -m0 sample.bin many.orsk
0|ORSK v2.9207 (library |-|-V
0|Exit codes|-|--help
2|Error opening one or more files|keep.txt|e -m2 missing.bin keep.txt
2|not an orsk container|keep.txt|d -m2 badmagic.orsk keep.txt
2|block 0|keep.txt|d -m2 cut.orsk keep.txt
2|LZ Error|keep.txt|d -m3 bad3.orsk keep.txt
2|ERROR|keep.txt|d -m2 bad2.orsk keep.txt
2|does not restore at level 1; it restores at level 3: try -m3|keep.txt|d -m1 n3.orsk keep.txt
2|does not restore at level 3; it restores at level 2: try -m2|keep.txt|d -m3 n2.orsk keep.txt
2|it restores at level 3: try -m3|keep.txt|d --salvage -m1 n3.orsk keep.txt
2|block 0 of 'cut.orsk' is cut short|keep.txt|d --salvage -m2 cut.orsk keep.txt
1|give it with d alone|x.orsk|e --salvage -m2 sample.bin x.orsk
1|give it with d alone|x.orsk|e d --salvage -m2 sample.bin x.orsk
1|give it with d alone, without --salvage|x.orsk|e --range=0:5 -m2 sample.bin x.orsk
1|without --salvage|never.out|d --salvage --range=0:5 -m2 n2.orsk never.out
1|invalid range in '--range=5'|never.out|d --range=5 -m2 n2.orsk never.out
1|invalid range in '--range=1:x'|never.out|d --range=1:x n2.orsk never.out
1|invalid range in '--range=1:18446744073709551616'|never.out|d --range=1:18446744073709551616 -m2 n2.orsk never.out
2|'n2.orsk' restores 1988895 bytes: the range starts at 1988896, past their end|never.out|d --range=1988896:1 -m2 n2.orsk never.out
2|end record of 'c3lost.orsk' does not match|never.out|d --range=0:10 -m c3lost.orsk never.out
2|cut short: it ends after block 1 without its end record|never.out|d --range=0:10 -m3 c3cut.orsk never.out
2|unknown kind byte 7|kind.out|d -m4 kind.orsk kind.out
2|block 0|kind.out|d -m0 unequal.orsk kind.out
2|directory|dir.orsk|e -m0 . dir.orsk
2|same file|sample.bin|e -m0 sample.bin sample.bin
2|same file|sample.bin|e -m0 link.bin ./sample.bin
2|/nonexistent-dir/x.orsk|-|e -m0 sample.bin /nonexistent-dir/x.orsk
2|/proc/orsk-test.orsk|-|e -m0 sample.bin /proc/orsk-test.orsk
2|cannot read|mem.orsk|e -m0 /proc/self/mem mem.orsk
1|--check goes with e|never.out|d --check -m c3.orsk never.out
1|invalid effort in '--effort=x'|bad.orsk|e --effort=x -m0 sample.bin bad.orsk
1|invalid effort in '--effort=10'|bad.orsk|e --effort=10 -m0 sample.bin bad.orsk
1|--effort goes with e or -b|never.out|d --effort=5 -m0 many.orsk never.out
1|e takes one effort|bad.orsk|e --effort=1,9 -m0 sample.bin bad.orsk
1|-l needs the containers|-|-l
2|checked container written at level 3 (NORMAL), not at level 2|never.out|d -m2 c3.orsk never.out
2|block 1 of 'c3flip.orsk' is damaged|never.out|d -m c3flip.orsk never.out
2|block 1 of 'c3flip.orsk' is damaged|never.out|d -t1 -m3 c3flip.orsk never.out
2|its checked header is damaged|never.out|d -m c3head.orsk never.out
2|block 1 of 'c3mid.orsk' is cut short|never.out|d -m c3mid.orsk never.out
2|cut short: it ends after block 1 without its end record|never.out|d -m3 c3cut.orsk never.out
2|end record of 'c3lost.orsk' does not match the blocks|never.out|d -m c3lost.orsk never.out
0|Using level 2 FAST (detected)|-|d -m n2.orsk n2.back
0|Using level 3 NORMAL (detected)|-|d n3.orsk n3.back
0|Using level 3 NORMAL (recorded)|-|d -t1 c3.orsk c3.back
0|orsk d in out |-|-h
0|e with -m alone or with no -m|-|-h
TABLE
cmp -s numbers.txt n2.back; check "-m alone restores a plain container" 0 $?
# Efforts: checked, on two threads and through pipes with e d; d -m<n> and d -m restore
# the smaller containers.
seq 1 450000 > numbers.big  # three blocks
for level in 0 1 5; do
    "$ORSK" -q e --effort=9 --check -t2 -m$level numbers.big eff.orsk; check "effort 9 at level $level" 0 $?
    "$ORSK" -q d eff.orsk eff.back && cmp -s numbers.big eff.back; check "effort 9 restores at level $level" 0 $?
    "$ORSK" -q e -m$level numbers.big own.orsk
    [ $(size eff.orsk) -lt $(size own.orsk) ]; check "effort 9 is smaller at level $level" 0 $?
    "$ORSK" -q e d --effort=5 -m$level - - < numbers.big | "$ORSK" -q d -m$level - - | cmp -s numbers.big -
    check "effort 5 through pipes at level $level" 0 $?
done
for f in n3.back c3.back; do cmp -s numbers.txt $f; check "d with no -m restores $f" 0 $?; done

# -l: one line per container; a file that is not one fails (exit 2), the rest are listed.
head -c 1100000 /dev/urandom > random.bin
"$ORSK" e -m5 random.bin random.orsk > /dev/null 2>&1
"$ORSK" -l c3.orsk n2.orsk keep.txt random.orsk > out.txt 2> err.txt; check "-l with a non-container" 2 $?
expect_text "-l checked" out.txt "c3.orsk: checked, level 3 NORMAL, 2 blocks (0 stored, 2 compressed), $(size c3.orsk) -> $(size numbers.txt) bytes, ratio [0-9.]*$"
expect_text "-l plain" out.txt "n2.orsk: plain, level 2 FAST (detected), 2 blocks (0 stored, 2 compressed), $(size n2.orsk) -> $(size numbers.txt) bytes"
expect_text "-l stored only" out.txt "random.orsk: plain, any level, 2 blocks (2 stored, 0 compressed), $(size random.orsk) -> 1100000 bytes, ratio 1.000"
expect_text "-l non-container" err.txt "'keep.txt' cannot be restored: it is not an orsk container"
"$ORSK" -q -l c3.orsk > out.txt 2>&1; check "-q -l" 0 $?
expect_text "-q -l still lists" out.txt "c3.orsk: checked"
reject_text "-q -l: no banner" out.txt "ORSK v"
"$ORSK" d -m0 many.orsk many.back > /dev/null 2>&1 && cmp -s sample.bin many.back; check "-t100000 round trip" 0 $?
cmp -s sample.bin <(head -c 300000 "$ORSK"); check "input untouched" 0 $?

# Standard input on a terminal is refused rather than waited on.
python3 - "$ORSK" e -m0 - tty.orsk > out.txt 2>&1 <<'PY'
import os, subprocess, sys
try: sys.exit(subprocess.call(sys.argv[1:], stdin=os.openpty()[1], timeout=30))
except subprocess.TimeoutExpired: sys.exit(124)
PY
check "stdin on a terminal" 1 $?
expect_text "terminal message" out.txt "standard input is a terminal"
[ ! -e tty.orsk ]; check "nothing written for a terminal" 0 $?

# Containers and restored files keep the input's permission bits and times; a pipe has
# none to keep.
cp sample.bin stamp.bin && chmod 640 stamp.bin && touch -d '2001-02-03 04:05:06.5' stamp.bin
"$ORSK" e -m2 stamp.bin stamp.orsk > /dev/null 2>&1 && "$ORSK" d -m2 stamp.orsk stamp.back > /dev/null 2>&1
for f in stamp.orsk stamp.back; do
    [ "$(stat -c '%a %y' $f)" = "$(stat -c '%a %y' stamp.bin)" ]; check "$f keeps mode and time" 0 $?
done
"$ORSK" e -m2 - piped.orsk < stamp.bin > /dev/null 2>&1
[ "$(stat -c %a piped.orsk)" = 644 ]; check "a pipe's output gets the usual mode" 0 $?

# A terminal: standard output and error on a pseudo-terminal, standard input as given;
# what it showed goes to tty.txt.
cat > tty.py <<'PY'
import os, signal, subprocess, sys
signal.alarm(120)
master, slave = os.openpty()
run = subprocess.Popen(sys.argv[1:], stdout=slave, stderr=slave)
os.close(slave)
shown = b''
while True:
    try: chunk = os.read(master, 65536)
    except OSError: break  # the run closed its end
    if not chunk: break
    shown += chunk
sys.stdout.buffer.write(shown)
sys.exit(run.wait())
PY
on_tty() { python3 tty.py "$ORSK" "$@" > tty.txt; }

# Every level through files, and the e d verification. Each report ends with the sizes
# in and out; a restore shows where it is on a terminal and, but for levels 0 and 1
# with their block lines, nothing of it in a log.
for level in 0 1 2 3 4 5; do
    "$ORSK" e -m$level big.bin big.$level > out.txt 2>&1; check "compress level $level" 0 $?
    reject_text "no inf at level $level" out.txt "inf"
    reject_text "no nan at level $level" out.txt "nan"
    expect_text "compression sizes at level $level" out.txt "^$(sizes big.bin 2500000 $(size big.$level) 2500000 $(size big.$level))$"
    expect_text "MB named at level $level" out.txt "^ MB/s above: MB of 1,048,576 bytes"
    "$ORSK" d -m$level big.$level big.back > out.txt 2>&1; check "decompress level $level" 0 $?
    cmp -s big.bin big.back; check "files round trip at level $level" 0 $?
    expect_text "restore sizes at level $level" out.txt "^$(sizes big.$level $(size big.$level) 2500000 2500000 $(size big.$level))$"
    reject_text "no restore progress in a log at level $level" out.txt "Restoring"
    [ $level -gt 1 ] || expect_text "level $level block lines in a log" out.txt "storing block 2 \\|Decompressing block 2 "
    on_tty d -m$level big.$level big.back; check "decompress level $level on a terminal" 0 $?
    if [ $level -gt 1 ]; then
        expect_text "restore progress on a terminal at level $level" tty.txt "Restoring 100% | Block: 2 | 2,500,000 bytes"
    else
        reject_text "level $level keeps its block lines on a terminal" tty.txt "Restoring"
    fi
    on_tty d big.$level big.back; check "d with no level on a terminal at level $level" 0 $?
    expect_text "restore progress with no level at level $level" tty.txt "Restoring 100% | Block: 2"
    "$ORSK" e d -m$level sample.bin ed.orsk > out.txt 2>&1; check "e d at level $level" 0 $?
    expect_text "verified at level $level" out.txt "Verified"
    cmp -s sample.bin ed.orsk; check "e d keeps the container" 1 $?
    # e d verifies each block as it is made: through files and pipes alike, at any
    # thread count, and the container is the one e writes.
    for t in 1 2; do
        "$ORSK" e -t$t d -m$level big.bin - < /dev/null > ed.pipe 2> out.txt; check "e d to a pipe, level $level, -t$t" 0 $?
        cmp -s big.$level ed.pipe; check "e d to a pipe writes e's container, level $level, -t$t" 0 $?
        "$ORSK" e -t$t d -m$level - ed.file < big.bin > out.txt 2>&1; check "e d from a pipe, level $level, -t$t" 0 $?
        cmp -s big.$level ed.file; check "e d from a pipe writes e's container, level $level, -t$t" 0 $?
        "$ORSK" e -t$t d -m$level - - < big.bin > ed.pipe 2> out.txt; check "e d pipe to pipe, level $level, -t$t" 0 $?
        cmp -s big.$level ed.pipe; check "e d pipe to pipe writes e's container, level $level, -t$t" 0 $?
        expect_text "e d pipe to pipe verified, level $level, -t$t" out.txt "Verified"
    done
    "$ORSK" e d --check -m$level big.bin big.c$level > out.txt 2>&1; check "e d --check at level $level" 0 $?
done

# Threads: the report sums every thread's time when there are several; the container
# stays the same.
"$ORSK" e -t1 -m3 big.bin t1.orsk > out.txt 2>&1; check "one thread" 0 $?
reject_text "one thread's times" out.txt "add up"
"$ORSK" e -t3 -m3 big.bin t3.orsk > out.txt 2>&1; check "three threads" 0 $?
expect_text "threads' times summed" out.txt "Entropy and ORSK add up every thread's time"
cmp -s t1.orsk t3.orsk; check "identical containers" 0 $?

# Empty input: empty container, and back.
: > empty.bin
"$ORSK" e -m2 empty.bin empty.orsk > out.txt 2>&1; check "empty input" 0 $?
[ -f empty.orsk ] && [ ! -s empty.orsk ]; check "empty container" 0 $?
"$ORSK" d -m2 empty.orsk empty.back > out.txt 2>&1; check "empty container restores" 0 $?
[ -f empty.back ] && [ ! -s empty.back ]; check "empty output" 0 $?

if [ -w /dev/full ]; then
    "$ORSK" e -m0 sample.bin /dev/full > out.txt 2>&1; check "full device" 2 $?
fi

# Pipes: "-" reads standard input and writes standard output; the data stream stays
# clean (messages on standard error) and matches the file runs byte for byte.
for level in 0 1 2 3 4 5; do
    cat big.bin | "$ORSK" e -m$level - - > pipe.orsk 2> pipe.err; check "compress through pipes at level $level" 0 $?
    cmp -s pipe.orsk big.$level; check "pipe container equals file container at level $level" 0 $?
    expect_text "messages on stderr at level $level" pipe.err "Done!"
    [ "$(tr -cd '\r' < pipe.err | wc -c)" = 1 ]; check "one progress line in a log at level $level" 0 $?
    expect_text "pipe announced at level $level" pipe.err "Compressing - \\[ 0 bytes\\]"
    c=$(size pipe.orsk)
    expect_text "sizes read from a pipe at level $level" pipe.err "^$(sizes 'standard input' 2500000 $c 2500000 $c)$"
    "$ORSK" d -m$level pipe.orsk - 2> /dev/null | cmp -s - big.bin; check "restore to a pipe at level $level" 0 $?
    "$ORSK" d -m - - < pipe.orsk 2> pipe.err | cmp -s - big.bin; check "d -m through pipes at level $level" 0 $?
    expect_text "restored sizes from a pipe at level $level" pipe.err "^$(sizes 'standard input' $c 2500000 2500000 $c)$"
    cat pipe.orsk | "$ORSK" d - - | cmp -s - big.bin; check "d with no level through pipes at level $level" 0 $?
    cat big.bin | "$ORSK" e --check -m$level - - 2> /dev/null | "$ORSK" d -m - - 2> /dev/null | cmp -s - big.bin
    check "checked through pipes at level $level" 0 $?
done

# A terminal gets no container or restored data: refused (exit 1) before anything is
# read, and before a file is made. A restore from a pipe shows the bytes restored.
for args in "e -m1 sample.bin -" "d -m1 l1.orsk -" "d l1.orsk -" "e d -m1 sample.bin -" "e -m0 - -" "d - -"; do
    { on_tty $args; code=$?; cat > rest.bin; } < sample.bin; check "orsk $args to a terminal" 1 $code
    expect_text "orsk $args: refused" tty.txt "standard output is a terminal: orsk writes no"
    [ "$(size tty.txt)" -lt 1000 ]; check "orsk $args: no data on the terminal" 0 $?
    cmp -s rest.bin sample.bin; check "orsk $args: standard input not read" 0 $?
done
on_tty d -m3 - big.back < big.3; check "restore from a pipe on a terminal" 0 $?
expect_text "progress of a pipe" tty.txt "Restoring | Block: 2 | 2,500,000 bytes"
on_tty -q d -m3 big.3 big.back; check "-q on a terminal" 0 $?
[ ! -s tty.txt ]; check "-q shows nothing on a terminal" 0 $?

# -q: nothing on standard output or error but errors, with the same exit codes.
for args in "e -m2 sample.bin q.orsk" "d -m2 q.orsk q.back" "e d --check -m4 sample.bin q.orsk" "d q.orsk q.back"; do
    "$ORSK" -q $args > out.txt 2> err.txt; check "-q $args" 0 $?
    [ ! -s out.txt ] && [ ! -s err.txt ]; check "-q $args prints nothing" 0 $?
done
cmp -s sample.bin q.back; check "-q round trip" 0 $?
"$ORSK" -q -b0 a.txt > out.txt 2>&1; check "-q -b" 0 $?
expect_text "-b names its MB" out.txt "a.txt: 2 bytes (MB/s in MB of 1,000,000 bytes)"
reject_text "-q -b: no banner" out.txt "ORSK v"
"$ORSK" -q e -m1 - - < sample.bin 2> err.txt | "$ORSK" d --quiet -m1 - - 2>> err.txt | cmp -s - sample.bin
check "-q through pipes" 0 $?
[ ! -s err.txt ]; check "-q through pipes prints nothing" 0 $?
for case in "2 d -m2 bad2.orsk keep.txt" "2 d -m1 n3.orsk keep.txt" "2 e -m0 missing.bin keep.txt" "1 e -m9 a.txt x.orsk"; do
    set -- $case
    code=$1; shift
    "$ORSK" -q "$@" > out.txt 2> err.txt; check "-q $*" $code $?
    [ ! -s out.txt ]; check "-q $*: nothing on standard output" 0 $?
    reject_text "-q $*: no banner" err.txt "ORSK v"
    expect_text "-q $*: the error" err.txt "^ orsk: "
    [ $code = 1 ] || { [ "$(grep -c . err.txt)" = 1 ]; check "-q $*: only the error" 0 $?; }
done

# Names with spaces and UTF-8 letters.
cp sample.bin "name with spaces ünïcødé.bin"
"$ORSK" e d -m4 "name with spaces ünïcødé.bin" "out ∂ir.orsk" > out.txt 2>&1; check "unusual names" 0 $?
[ -f "out ∂ir.orsk" ]; check "unusual output name" 0 $?

# The same failure, message and bytes before it with one thread or two, to a pipe: a
# kind byte broken in block 2; that and block 1's chunk length; a wrong level.
seq 1 400000 | head -c 2500000 > three.bin
"$ORSK" e -m2 three.bin three.orsk > /dev/null 2>&1
python3 - three.orsk <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], 'rb').read())
at, starts = 1, []
while at < len(d):
    starts.append(at)
    at += 9 + struct.unpack_from('<I', d, at + 1)[0] if d[at] == 15 else struct.unpack_from('<I', d, at + 13)[0]
d[starts[2]] = 7; open('kind2.orsk', 'wb').write(d)
d[starts[1] + 5] ^= 1; open('both.orsk', 'wb').write(d)
PY
for case in "kind2.orsk 2 2097152 block.2" "both.orsk 2 1048576 block.1" "n3.orsk 2 0 try.-m3"; do
    set -- $case
    for t in 1 2; do
        "$ORSK" d -t$t -m$2 - - < "$1" 2> err.$t > got.$t; check "$1 with -t$t" 2 $?
        grep "orsk: " err.$t > msg.$t
    done
    cmp -s msg.1 msg.2; check "$1: same message with -t1 and -t2" 0 $?
    expect_text "$1 names the block" msg.1 "$4"
    cmp -s got.1 got.2; check "$1: same bytes with -t1 and -t2" 0 $?
    [ "$(stat -c %s got.1)" = "$3" ] && cmp -s got.1 <(head -c "$3" three.bin); check "$1: blocks before it delivered" 0 $?
done

# Salvage: blocks that do not restore (one, two, the last) become zeros at their offsets
# and are listed on standard error, exit 3, alike with -t1 and -t2; a cut inside block 1
# keeps block 0; an intact container restores exactly with exit 0.
for level in 0 3 5; do
    "$ORSK" e -m$level three.bin s.$level > /dev/null 2>&1
    python3 - s.$level $level <<'PY'
import struct, sys
name, level = sys.argv[1], int(sys.argv[2])
d, data, mib = open(name, 'rb').read(), open('three.bin', 'rb').read(), 1 << 20
low_at, length_at = (13, 5) if level == 3 else (9, 13)  # NORMAL orders its header fields apart
at, starts = 1, []
while at < len(d):
    starts.append(at)
    at += struct.unpack_from('<I', d, at + length_at)[0]
for case, blocks in (('one', [1]), ('two', [0, 2]), ('last', [2]), ('cut', [])):
    c, want, lines = bytearray(d), bytearray(data), ''
    for b in blocks:
        c[starts[b] + 17 + struct.unpack_from('<I', d, starts[b] + low_at)[0]] = 0xEE  # no section kind
        n = min(mib, len(data) - b * mib)
        want[b * mib:b * mib + n] = bytes(n)
        lines += '   block %d: bytes %d to %d are zeros (damaged)\n' % (b, b * mib, b * mib + n - 1)
    if case == 'cut':
        c, want = c[:(starts[1] + starts[2]) // 2], data[:mib] + bytes(mib)
        lines = '   block 1: bytes %d to %d are zeros (cut short)\n' % (mib, 2 * mib - 1)
    for kind, content in (('orsk', c), ('want', want), ('lines', lines.encode())):
        open('sv-%s.%s' % (case, kind), 'wb').write(content)
PY
    for case in one two last cut; do
        for t in 1 2; do
            "$ORSK" d --salvage -t$t -m$level sv-$case.orsk got.$t > out.$t 2> err.$t; check "salvage $case at level $level, -t$t" 3 $?
            reject_text "salvage $case at level $level: no Done!" out.$t "Done!"
        done
        cmp -s got.1 sv-$case.want && cmp -s got.2 sv-$case.want; check "salvage $case at level $level: good blocks kept" 0 $?
        cmp -s err.1 err.2; check "salvage $case at level $level: one report with -t1 and -t2" 0 $?
        grep '^   block' err.1 | cmp -s - sv-$case.lines; check "salvage $case at level $level: damaged blocks listed" 0 $?
    done
    "$ORSK" d --salvage -m$level s.$level got.1 > out.1 2>&1; check "salvage of an intact container at level $level" 0 $?
    cmp -s got.1 three.bin; check "intact container salvaged exactly at level $level" 0 $?
done
"$ORSK" -q d --salvage sv-one.orsk got.1 > out.1 2> err.1; check "-q salvage with no level" 3 $?
[ ! -s out.1 ]; check "-q salvage: nothing on standard output" 0 $?
grep '^   block' err.1 | cmp -s - sv-one.lines; check "-q salvage: damaged blocks listed" 0 $?

# Ranges: the bytes asked for, as far as the data goes, through a file (-t1) and a pipe
# (-t2), with the level given or told from the container.
n=$(size big.bin)
for level in 0 1 2 3 4 5; do
    for kind in "" --check; do
        "$ORSK" e $kind -m$level big.bin r.orsk > /dev/null 2>&1
        for r in 0:100 1048000:1048777 2097152:99999999 $n:7; do
            tail -c +$((${r%:*} + 1)) big.bin | head -c ${r#*:} > r.want
            "$ORSK" d -q -t1 --range=$r -m$level r.orsk r.1; check "range $r of level $level $kind" 0 $?
            cat r.orsk | "$ORSK" d -q -t2 --range=$r - - > r.2; check "range $r of level $level $kind, piped" 0 $?
            cmp -s r.1 r.want && cmp -s r.2 r.want; check "range $r of level $level $kind restored exactly" 0 $?
        done
        cat r.orsk | "$ORSK" d -q --range=$((n + 1)):1 - - > r.2 2> err.txt; check "range past the end, piped" 2 $?
        expect_text "range past the end: the data's length" err.txt "restores $n bytes"
    done
done

# Interrupted while it waits on a fifo kept open (so the run cannot end first): SIGTERM
# and SIGINT print what was interrupted, end the run with 143 and 130, and leave an
# existing output as it was and no temporary file. A SIGINT the run was started to
# ignore (a background job without job control) stays ignored. A user's nice is kept.
mkfifo fifo
exec 3<> fifo
echo keep > kept.orsk
for sig in TERM INT; do
    [ $sig = INT ] && set -m  # job control: the background run gets SIGINT
    if [ $sig = TERM ]; then
        nice -n 10 "$ORSK" e -m5 fifo kept.orsk 3>&- > /dev/null 2> err.txt &
    else
        "$ORSK" d -m5 fifo kept.orsk 3>&- > /dev/null 2> err.txt &
    fi
    pid=$!
    for i in $(seq 100); do ls kept.orsk.orsk-* > /dev/null 2>&1 && break; sleep 0.1; done
    if [ $sig = TERM ]; then
        [ "$(sed 's/.*) //' /proc/$pid/stat | cut -d' ' -f17)" = 10 ]; check "nice 10 kept" 0 $?
        kill -INT $pid; sleep 0.5
        kill -0 $pid 2> /dev/null; check "an ignored SIGINT stays ignored" 0 $?
    fi
    kill -$sig $pid
    { wait $pid; } 2> /dev/null; code=$?
    check "exit after SIG$sig" "$([ $sig = INT ] && echo 130 || echo 143)" $code
    set +m
    expect_text "SIG$sig reported" err.txt "orsk: interrupted while .* 'fifo'"
    [ "$(cat kept.orsk)" = keep ]; check "output survives SIG$sig" 0 $?
    ls kept.orsk.orsk-* > /dev/null 2>&1; check "no temporary file after SIG$sig" 2 $?
done
exec 3>&-

# A folder that cannot be written, and an input that cannot be read (not for root).
mkdir ro && chmod 555 ro
if [ "$(id -u)" != 0 ]; then
    "$ORSK" e -m0 sample.bin ro/x.orsk > out.txt 2>&1; check "read-only folder" 2 $?
    cp sample.bin unreadable.bin && chmod 000 unreadable.bin
    "$ORSK" e -m0 unreadable.bin u.orsk > out.txt 2>&1; check "unreadable input" 2 $?
fi

echo "$pass passed, $fail failed"
[ "$fail" = 0 ]
