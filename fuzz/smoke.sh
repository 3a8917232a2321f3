#!/usr/bin/env bash
# CI smoke run of the fuzzers of the XML scanner and the DAT reader: builds the
# "fuzz" preset with clang and runs each over its seed corpus and a few thousand
# new inputs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
runs="${1:-5000}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_xml_parser fuzz_dat
corpus="$(mktemp -d)"
dats="$(mktemp -d)"
trap 'rm -rf "$corpus" "$dats"' EXIT
fuzz/seed_xml_corpus.sh "$corpus"
build/fuzz/bin/fuzz_xml_parser -runs="$runs" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix=build/fuzz/ \
  -dict=fuzz/xml.dict "$corpus"
fuzz/seed_dat_corpus.sh "$dats"
build/fuzz/bin/fuzz_dat -runs="$runs" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix=build/fuzz/ -dict=fuzz/dat.dict "$dats"
