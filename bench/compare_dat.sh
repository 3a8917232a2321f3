#!/usr/bin/env bash
# DAT figures beside their floors, in the same run on the same disk. Run by
# bench/compare.sh with its work folder and bin folder; alone:
#   bench/compare_dat.sh [WORK_DIR] [BIN_DIR]
# PAREVO_ROUNDS sets the rounds of each timing (default 10). The cold figures
# drop the page cache before every run, which needs root.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/parevo-compare}/dat"
bin="${2:-$root/build/default/bin}"
rounds="${PAREVO_ROUNDS:-10}"
mkdir -p "$work"

say() { printf '%s\n' "$*"; }
alternate() { python3 "$root/bench/alternate.py" --rounds "$rounds" "$@"; }
cli() { printf '%s' "$bin/parevo-cli --no-settings $*"; }

(cd "$root" && cmake --build --preset default --target parevo-cli bench_dat >/dev/null)

# A dump of 256 MiB (64 MiB of game data with a valid header, capacity code 11,
# then 0xFF), the same trimmed to 64 MiB + 100 bytes, and a Logiqx DAT of 7,000
# entries (about 2.8 MB) that holds the dump among 6,999 others.
image="$work/image256.nds"
trimmed="$work/trimmed.nds"
dat="$work/dat7000.dat"
if [ ! -f "$dat" ]; then
  python3 - "$image" "$trimmed" "$dat" <<'PY'
import hashlib, os, random, struct, sys, zlib
image, trimmed, dat = sys.argv[1:]
def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
data = bytearray(os.urandom(64 << 20).replace(b"\0", b"\1").replace(b"\xff", b"\xfe"))
data[0:16] = b"BENCHGAME\0\0\0BNCE"
data[0x12:0x15] = b"\0\0\x0b"
data[0x80:0x88] = struct.pack("<II", 64 << 20, 0x4000)
data[0x15E:0x160] = struct.pack("<H", crc16(data[:0x15E]))
pad = b"\xff" * (192 << 20)
with open(image, "wb") as f:
    f.write(data); f.write(pad)
with open(trimmed, "wb") as f:
    f.write(data); f.write(pad[:100])
hashes = [h() for h in (hashlib.md5, hashlib.sha1, hashlib.sha256)]
crc = zlib.crc32(data)
for h in hashes:
    h.update(data); h.update(pad)
crc = zlib.crc32(pad, crc)
rnd = random.Random(7)
hexes = lambda n: "".join(rnd.choice("0123456789abcdef") for _ in range(n))
with open(dat, "w") as f:
    f.write('<?xml version="1.0"?>\n<datafile>\n\t<header>\n\t\t<name>Bench</name>\n\t</header>\n')
    for i in range(7000):
        name = f"Game {i:04d} (Europe) (En,Fr,De,Es,It)"
        real = i == 3500
        size = 256 << 20 if real else (8 << 20) << rnd.randrange(7)
        md5, sha1, sha256 = (h.hexdigest() for h in hashes) if real else (hexes(32), hexes(40), hexes(64))
        f.write(f'\t<game name="{name}" id="{i}">\n\t\t<description>{name}</description>\n'
                f'\t\t<rom name="{name}.nds" size="{size}" crc="{crc if real else rnd.getrandbits(32):08x}" '
                f'md5="{md5}" sha1="{sha1}" sha256="{sha256}" status="verified" serial="NTR-{hexes(4).upper()}-EUR"/>\n\t</game>\n')
    f.write("</datafile>\n")
PY
  sync
fi
say "== DAT check =="
say "$image: 64 MiB of game data, then 0xFF; $trimmed: the same trimmed;"
say "$dat: $(stat -c %s "$dat") bytes, 7,000 entries, the dump's among them"

say ""
say "-- reading the DAT (Google Benchmark, in process; goal: at most 100 ms)"
PAREVO_BENCH_DIR="$work/in-process" "$bin/bench_dat" --benchmark_filter=LoadDat7000 --benchmark_min_time=1 2>/dev/null | grep LoadDat7000

cat "$image" "$trimmed" "$dat" > /dev/null
say ""
say "-- warm: verifying the trimmed image against its 256 MiB entry, against sha1sum of the"
say "   untrimmed image (goal: at most 1.2x; the padding's SHA-1 is hashed from memory)"
alternate --floors 2 "$(cli --dat "$dat" --verify "$trimmed")" "sha1sum $image"

say ""
say "-- warm: a trim with --dat against the same trim without (goal: at most 1.3x)"
alternate --prepare "rm -f $work/image256_t.nds" --floors 2 \
  "$(cli --dat "$dat" --append _t "$image")" "$(cli --append _t "$image")"

say ""
say "-- warm: an untrim of the trimmed image to 256 MiB, against dd writing the same bytes"
say "   (a copy of the untrimmed image)"
alternate --prepare "rm -f $work/trimmed_u.nds $work/dd.nds" --floors 2 \
  "$(cli --untrim --append _u "$trimmed")" "dd if=$image of=$work/dd.nds bs=4M status=none"
rm -f "$work/image256_t.nds" "$work/trimmed_u.nds" "$work/dd.nds"

say ""
if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
  drop="sync; echo 3 > /proc/sys/vm/drop_caches"
  say "-- cold (before every run: $drop): a trim with --dat, the same trim without, and"
  say "   cat of the image (goal: the trim with --dat at most 1.2x cat)"
  alternate --prepare "sh -c 'rm -f $work/image256_t.nds; $drop'" --floors 3 \
    "$(cli --dat "$dat" --append _t "$image")" "$(cli --append _t "$image")" "cat $image"
  rm -f "$work/image256_t.nds"
else
  say "-- cold: skipped (dropping the page cache before each run needs root)"
fi
