#!/usr/bin/env bash
# Prints Parevo's speed and memory figures beside their floors, measured in the
# same run on the same disk, with the commands that produced them.
#   bench/compare.sh [WORK_DIR]     (default: a folder under /tmp; needs ~2 GiB)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/parevo-compare}"
bin="$root/build/default/bin"
mkdir -p "$work"

say() { printf '%s\n' "$*"; }
run() { say "\$ $*"; "$@"; }

(cd "$root" && scripts/install-deps && cmake --preset default >/dev/null && cmake --build --preset default >/dev/null)

# An image of DATA MiB of game data followed by PAD MiB of 0xFF padding.
make_image() {
  local path=$1 data=$2 pad=$3
  [ -f "$path" ] && return
  { printf 'BENCHGAME\0'; head -c $((data * 1048576 - 10)) /dev/urandom | tr '\000\377' '\001\376';
    head -c $((pad * 1048576)) /dev/zero | tr '\000' '\377'; } > "$path"
}
kept_length() { "$bin/parevo-cli" --dry-run "$1" | sed -n 's/^  kept length: *\([0-9]*\) bytes.*/\1/p'; }

say "== Trim engine =="
make_image "$work/image256.nds" 64 192
make_image "$work/image512.nds" 128 384
keep=$(kept_length "$work/image256.nds")
say "256 MiB image, 64 MiB of data, kept length $keep bytes"
cat "$work/image256.nds" > /dev/null  # warm the cache for both sides

say ""
say "-- whole trim against the floor head -c KEEP src > dst"
run hyperfine -N --warmup 3 --runs 20 --export-json "$work/whole.json" \
  --prepare "rm -f $work/out.nds $work/image256_trim.nds" \
  "$bin/parevo-cli $work/image256.nds" \
  "sh -c 'head -c $keep $work/image256.nds > $work/out.nds'"
python3 - "$work/whole.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
print(f"ratio whole trim / head -c: {r[0]['mean'] / r[1]['mean']:.2f}x "
      f"({r[0]['mean']*1000:.1f} ms / {r[1]['mean']*1000:.1f} ms)")
PY

say ""
say "-- peak memory of the whole trim (must not grow with the image)"
for size in 256 512; do
  rm -f "$work/image${size}_trim.nds"
  kib=$( { /usr/bin/time -f %M "$bin/parevo-cli" "$work/image$size.nds" >/dev/null; } 2>&1 | tail -1)
  say "\$ /usr/bin/time -f %M parevo-cli image$size.nds   -> peak RSS $((kib / 1024)) MiB ($kib KiB)"
done
rm -f "$work"/image*_trim.nds "$work/out.nds"

say ""
say "-- in-process figures (Google Benchmark; floors in the same run)"
run env PAREVO_BENCH_DIR="$work" "$bin/bench_trim" --benchmark_format=console 2>/dev/null

for extra in "$root"/bench/compare_*.sh; do
  [ -f "$extra" ] || continue
  say ""
  bash "$extra" "$work" "$bin"
done
