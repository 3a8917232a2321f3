# --- zip component (paste into bench/compare.sh) ---------------------------
# Extraction of one deflated member through ZipComponent and the unzip library against
# `unzip -p ARCHIVE MEMBER > out` (Debian unzip), timed in the same run; target
# ratio <= 1.2. Each size runs in its own process so peak_rss_MiB shows whether
# memory grows with the member (it must not). Then the directory read against
# one sequential read of the directory's bytes.
# Needs: BIN (folder of the built programs, default build/default/bin), zip, unzip.
BIN="${BIN:-build/default/bin}"
for size in 32 256; do
  "$BIN/bench_zip" --benchmark_filter="BM_ExtractVsUnzip/${size}/" \
    --benchmark_counters_tabular=true
done
"$BIN/bench_zip" --benchmark_filter='BM_DirectoryRead'
