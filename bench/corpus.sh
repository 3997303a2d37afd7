#!/usr/bin/env bash
# Builds the benchmark corpus from files Debian installs and from fixed-seed
# generators, so that it is the same on every run of the same machine image.
# Usage: bench/corpus.sh DIR
set -eu  # no pipefail: head ends the generators early on purpose
dir="${1:-build/corpus}"
mkdir -p "$dir"
cut() { head -c "$1"; }
TAR=(tar --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf -)

[ -s "$dir/text.txt" ] || {
    find /usr/share/common-licenses /usr/share/doc -type f \( -name 'copyright' -o -name 'GPL*' -o -name 'changelog*.gz' \) \
        -print0 2>/dev/null | sort -z | xargs -0 -I{} sh -c 'case "{}" in *.gz) zcat "{}";; *) cat "{}";; esac' 2>/dev/null \
        | cut 12000000 > "$dir/text.txt"
}
[ -s "$dir/source.tar" ] || "${TAR[@]}" /usr/include 2>/dev/null | cut 24000000 > "$dir/source.tar"
[ -s "$dir/executables.tar" ] || {
    find /usr/bin /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -size +100k -print0 | sort -z |
        xargs -0 file -0 -N 2>/dev/null | tr '\0' '\t' | awk -F'\t' '$2 ~ /ELF 64-bit/ {print $1}' | head -80 |
        "${TAR[@]}" -T - 2>/dev/null | cut 24000000 > "$dir/executables.tar"
}
pe=$(find /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32 /usr/lib/wine -name '*.dll' -size +500k 2>/dev/null | sort | head -3)
if [ -n "$pe" ] && [ ! -s "$dir/windows-pe.tar" ]; then
    echo "$pe" | "${TAR[@]}" -T - 2>/dev/null | cut 24000000 > "$dir/windows-pe.tar"
fi
python3 - "$dir" <<'PY'
import json, os, random, sqlite3, sys
d = sys.argv[1]
def out(name, data):
    p = os.path.join(d, name)
    if not os.path.exists(p) or os.path.getsize(p) == 0:
        open(p, 'wb').write(data)
r = random.Random(20261207)
words = "alpha beta gamma delta kilo lima mike oscar papa quebec romeo sierra tango".split()
recs = [{"id": i, "name": r.choice(words) + "-" + str(r.randrange(1000)), "tags": r.sample(words, 3),
         "price": round(r.random() * 1000, 2), "active": r.random() < 0.7} for i in range(120000)]
out("records.json", json.dumps(recs, indent=1).encode())
out("random.bin", r.randbytes(8000000))
runs = bytearray()
while len(runs) < 16000000:
    runs += bytes([r.randrange(4)]) * r.randrange(1, 5000)
out("runs.bin", bytes(runs[:16000000]))
p = os.path.join(d, "database.sqlite")
if not os.path.exists(p):
    db = sqlite3.connect(p)
    db.execute("create table orders(id integer primary key, customer text, item text, qty int, note text)")
    db.executemany("insert into orders values(?,?,?,?,?)",
                   [(i, r.choice(words) + str(r.randrange(5000)), r.choice(words), r.randrange(100),
                     " ".join(r.choice(words) for _ in range(r.randrange(12)))) for i in range(200000)])
    db.commit(); db.close()
PY
ls -l "$dir"
