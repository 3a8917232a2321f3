#!/usr/bin/env bash
# CI smoke run of the XML scanner's fuzzer: builds the "fuzz" preset with clang
# and runs fuzz_xml_parser over the seed corpus and a few thousand new inputs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
runs="${1:-5000}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_xml_parser
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
fuzz/seed_xml_corpus.sh "$corpus"
build/fuzz/bin/fuzz_xml_parser -runs="$runs" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix=build/fuzz/ \
  -dict=fuzz/xml.dict "$corpus"
