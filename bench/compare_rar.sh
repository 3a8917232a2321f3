#!/usr/bin/env bash
# RAR extraction figures beside their floor, in the same run on the same disk.
# Run by bench/compare.sh with its work folder and bin folder; alone:
#   bench/compare_rar.sh [WORK_DIR] [BIN_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/parevo-compare}"
bin="${2:-$root/build/default/bin}"
mkdir -p "$work/rar"

say() { printf '%s\n' "$*"; }
run() { say "\$ $*"; "$@"; }

(cd "$root" && cmake --build --preset default --target bench_rar unrar >/dev/null)

say "== RAR extraction =="
for mib in 64 256; do
  [ -f "$work/rar/stored$mib.rar" ] || "$bin/bench_rar" --make "$work/rar/stored$mib.rar" "$mib"
done
archive="$work/rar/stored256.rar"
out="$work/rar/out"
say "stored RAR 4 archive, one member of 256 MiB: $archive"
cat "$archive" > /dev/null  # warm the cache for both sides

say ""
say "-- extraction (bench_rar --extract: RarComponent as the window sets it up, counting pass included)"
say "   against the floor cat ARCHIVE > /dev/null (and, for scale, cp ARCHIVE, which also writes)"
run hyperfine -N --warmup 2 --runs 10 --export-json "$work/rar/extract.json" \
  --prepare "rm -rf $out $work/rar/copy.rar" \
  "$bin/bench_rar --extract $archive $out" \
  "sh -c 'cat $archive > /dev/null'" \
  "cp $archive $work/rar/copy.rar"
rm -f "$work/rar/copy.rar"
python3 - "$work/rar/extract.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
print(f"ratio extraction / cat: {r[0]['mean'] / r[1]['mean']:.2f}x "
      f"({r[0]['mean']*1000:.1f} ms / {r[1]['mean']*1000:.1f} ms); "
      f"extraction / cp: {r[0]['mean'] / r[2]['mean']:.2f}x ({r[2]['mean']*1000:.1f} ms)")
PY

say ""
say "-- peak memory of one extraction (must not grow with the member)"
for mib in 64 256; do
  rm -rf "$out"
  kib=$( { /usr/bin/time -f %M "$bin/bench_rar" --extract "$work/rar/stored$mib.rar" "$out" >/dev/null; } 2>&1 | tail -1)
  say "\$ /usr/bin/time -f %M bench_rar --extract stored$mib.rar   -> peak RSS $((kib / 1024)) MiB ($kib KiB)"
done
rm -rf "$out"

say ""
say "-- in-process figures (Google Benchmark; floor in the same run)"
run env PAREVO_BENCH_DIR="$work" "$bin/bench_rar" --benchmark_format=console 2>/dev/null
