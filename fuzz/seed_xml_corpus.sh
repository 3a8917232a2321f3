#!/usr/bin/env bash
# Seeds a corpus folder for fuzz_xml_parser from the XML fixtures (W3C conformance
# files) and a few settings files. Usage: fuzz/seed_xml_corpus.sh DIR [FIXTURES]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:?corpus folder}"
fixtures="${2:-$root/../shared/fixtures/xml}"
mkdir -p "$dir"
if [ -d "$fixtures" ]; then
  find "$fixtures" -type f \( -name '*.xml' -o -name '*.dtd' -o -name '*.ent' \) -print0 |
    while IFS= read -r -d '' f; do
      cp "$f" "$dir/$(echo "${f#$fixtures/}" | tr '/' '_')"
    done
fi
printf '<settings>\r\n <directory value="/home/u/Roms" />\r\n <checked value="False" />\r\n <safetrim value="True" />\r\n <scenetrim value="False" />\r\n <useheadername value="False" />\r\n <deletesource value="False" />\r\n <bytejump value="500" />\r\n <append value="_trim" />\r\n</settings>\r\n' >"$dir/seed_settings.xml"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE a [<!ENTITY e "x&amp;y"><!ENTITY %% p "<!ATTLIST a b CDATA \x27d\x27>">%%p;]>\n<a z="&e;&#x42;\xc3\xa9">t &e; <![CDATA[c]]><!--c--><?pi a="1"?></a>\n' >"$dir/seed_dtd.xml"
