#!/usr/bin/env bash
# Prints Parevo's speed and memory figures beside their floors, measured in the
# same run on the same disk, each with the command that produced it.
#   bench/compare.sh [WORK_DIR]     (default: a folder under /tmp; needs ~3 GiB)
# Side-by-side timings run every command once per round, in turn, and give
# medians (bench/alternate.py). Set in the environment:
#   PAREVO_ROUNDS=N    rounds of each timing (default 10)
#   PAREVO_BEFORE=DIR  also time the parevo-cli in DIR (its run-time libraries
#                      beside it), an earlier build, in the same rounds
# The cold-cache figures drop the page cache before every run, which needs
# root; without it they are skipped, and the script says so.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/parevo-compare}"
bin="$root/build/default/bin"
rounds="${PAREVO_ROUNDS:-10}"
before="${PAREVO_BEFORE:-}"
mkdir -p "$work/batch"

say() { printf '%s\n' "$*"; }
run() { say "\$ $*"; "$@"; }
alternate() { python3 "$root/bench/alternate.py" --rounds "$rounds" "$@"; }

(cd "$root" && scripts/install-deps && cmake --preset default >/dev/null && cmake --build --preset default >/dev/null)

# An image of DATA MiB of game data followed by PAD MiB of 0xFF padding, with a
# valid header that declares the data, as dumps of real cartridges have.
make_image() {
  local path=$1 data=$2 pad=$3
  [ -f "$path" ] && return
  { head -c $((data * 1048576)) /dev/urandom | tr '\000\377' '\001\376';
    head -c $((pad * 1048576)) /dev/zero | tr '\000' '\377'; } > "$path"
  python3 - "$path" $((data * 1048576)) <<'PY'
import struct, sys
def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
with open(sys.argv[1], "r+b") as f:
    header = bytearray(f.read(0x160))
    header[0:12] = b"BENCHGAME\0\0\0"
    header[0x12] = 0  # not DSi: the used size at 0x80 is the one that counts
    header[0x80:0x88] = struct.pack("<II", int(sys.argv[2]), 0x4000)
    header[0x15E:0x160] = struct.pack("<H", crc16(header[:0x15E]))
    f.seek(0)
    f.write(header)
PY
}
kept_length() { "$bin/parevo-cli" --dry-run "$1" | sed -n 's/^  kept length: *\([0-9]*\) bytes.*/\1/p'; }
# The trim command of this build, and of the earlier one when there is one.
trims() {
  printf '%s\n' "$bin/parevo-cli $*"
  if [ -n "$before" ]; then printf '%s\n' "$before/parevo-cli $*"; fi
}

make_image "$work/image256.nds" 64 192
make_image "$work/image512.nds" 64 448
batch=()
for i in $(seq -w 1 16); do
  make_image "$work/batch/b$i.nds" 16 48
  batch+=("$work/batch/b$i.nds")
done
sync  # images just made are still being written out: no timing while they are

say "== Trim engine =="
say "images: image256.nds and image512.nds (64 MiB of game data, then 0xFF), and a batch"
say "of 16 images of 64 MiB (16 MiB of data each), in $work"
[ -n "$before" ] && say "side by side with the earlier build in $before"

say ""
say "-- warm cache: the whole trim against the larger of two floors, a header-trusting"
say "   copy of the kept bytes (bench/copy_kept.c: one copy_file_range) and one plain read"
say "   of the padding"
for size in 256 512; do
  image="$work/image$size.nds"
  keep=$(kept_length "$image")
  say "image$size.nds: kept length $keep bytes"
  cat "$image" > /dev/null
  mapfile -t commands < <(trims --append _t "$image")
  count=${#commands[@]}
  alternate --prepare "rm -f $work/image${size}_t.nds $work/floor.nds" \
    --floors "$((count + 1)),$((count + 2))" \
    "${commands[@]}" \
    "$bin/copy_kept $image $keep $work/floor.nds" \
    "dd if=$image bs=4M iflag=skip_bytes skip=$keep of=/dev/null"
done
rm -f "$work"/image*_t.nds "$work/floor.nds"

say ""
if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
  # Every run starts with nothing of the files in the cache, and with the free
  # memory compacted, so that no run inherits the memory another one left.
  drop="sync; echo 3 > /proc/sys/vm/drop_caches"
  if [ -w /proc/sys/vm/compact_memory ]; then drop="$drop; echo 1 > /proc/sys/vm/compact_memory"; fi
  say "-- cold cache (before every run: $drop)"
  image="$work/image512.nds"
  keep=$(kept_length "$image")

  say "one 512 MiB image, against reading it once:"
  mapfile -t commands < <(trims --append _t "$image")
  alternate --prepare "sh -c 'rm -f $work/image512_t.nds; $drop'" \
    --floors "$((${#commands[@]} + 1))" "${commands[@]}" "cat $image"

  say "a batch of 16 images of 64 MiB in one run, against reading them all once:"
  mapfile -t commands < <(trims --append _t "${batch[@]}")
  alternate --prepare "sh -c 'rm -f $work/batch/*_t.nds; $drop'" \
    --floors "$((${#commands[@]} + 1))" "${commands[@]}" "cat ${batch[*]}"

  say "in place (--append=, the output is the source), against reading the padding once"
  say "and one truncate, on a fresh copy of image512.nds each time:"
  copy="$work/inplace.nds"
  mapfile -t commands < <(trims --append= "$copy")
  alternate --prepare "sh -c 'cp $image $copy; $drop; sleep 1'" \
    --floors "$((${#commands[@]} + 1))" "${commands[@]}" \
    "sh -c 'dd if=$copy bs=4M iflag=skip_bytes skip=$keep of=/dev/null status=none && truncate -s $keep $copy'"
  rm -f "$copy" "$work/image512_t.nds" "$work"/batch/*_t.nds

  say "the program's own cold start, part of each figure above (its libraries, Qt's"
  say "among them, are read from the disk too), against dd's:"
  alternate --prepare "sh -c '$drop'" --floors 2 "$bin/parevo-cli --version" "dd --version"
else
  say "-- cold cache: skipped (dropping the page cache before each run needs root)"
fi

say ""
say "-- peak memory of the whole trim (must stay flat: at most 32 MiB)"
sparse="$work/sparse4g.nds"
if [ ! -f "$sparse" ]; then
  head -c $((64 * 1048576)) "$work/image512.nds" > "$sparse"
  truncate -s 4G "$sparse"  # a hole, which reads as 0x00: padding
fi
for image in "$work/image512.nds" "$sparse"; do
  kib=$( { /usr/bin/time -f %M "$bin/parevo-cli" --append _t "$image" >/dev/null; } 2>&1 | tail -1)
  say "\$ /usr/bin/time -f %M parevo-cli --append _t $(basename "$image")   -> peak RSS $((kib / 1024)) MiB ($kib KiB)"
done
rm -f "$work/image512_t.nds" "$work/sparse4g_t.nds"

say ""
say "-- bytes read from a member just extracted from an archive (it is in the cache;"
say "   the trim should read it once, no more)"
if command -v strace >/dev/null; then
  arc="$work/archive"
  rm -rf "$arc"
  mkdir -p "$arc"
  member="$work/batch/b01.nds"
  python3 - "$member" "$arc/pack.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[1], "game.nds")
PY
  "$bin/bench_rar" --store "$arc/pack.rar" "$member"
  for archive in "$arc/pack.zip" "$arc/pack.rar"; do
    rm -f "$arc"/game*.nds "$arc"/trace.*
    say "\$ strace -ff -y -e trace=read,pread64,preadv2,copy_file_range parevo-cli --append _t $(basename "$archive")"
    strace -ff -qq -y -e trace=read,pread64,preadv2,copy_file_range -o "$arc/trace" \
      "$bin/parevo-cli" --append _t "$archive" >/dev/null
    python3 - "$arc" "$archive" "$(stat -c %s "$member")" <<'PY'
import glob, os, re, sys
folder, archive, size = sys.argv[1], sys.argv[2], int(sys.argv[3])
read = {}
for name in glob.glob(os.path.join(folder, "trace.*")):
    for line in open(name):
        m = re.match(r'\w+\(\d+<([^>]*)>.*= (\d+)$', line.strip())
        if m:
            read[m.group(1)] = read.get(m.group(1), 0) + int(m.group(2))
member = os.path.join(folder, "game.nds")
print(f"  read from the archive: {read.get(archive, 0) / 2**20:.2f} MiB "
      f"(it holds {os.path.getsize(archive) / 2**20:.2f} MiB)")
print(f"  read from the member:  {read.get(member, 0) / 2**20:.2f} MiB "
      f"(it holds {size / 2**20:.2f} MiB: {read.get(member, 0) / size:.2f}x)")
PY
  done
  rm -rf "$arc"
else
  say "   skipped: strace is not installed"
fi

say ""
say "-- in-process figures (Google Benchmark; floors in the same run)"
run env PAREVO_BENCH_DIR="$work" "$bin/bench_trim" --benchmark_format=console 2>/dev/null

for extra in "$root"/bench/compare_*.sh; do
  [ -f "$extra" ] || continue
  say ""
  bash "$extra" "$work" "$bin"
done
