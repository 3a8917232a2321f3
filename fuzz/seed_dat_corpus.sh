#!/usr/bin/env bash
# Writes a few DATs into FOLDER as seeds for fuzz_dat: both forms, a zipped one.
set -euo pipefail
out="$1"
mkdir -p "$out"
rom='name="Game (Europe).nds" size="131072" crc="1a2b3c4d" md5="0123456789abcdef0123456789abcdef" sha1="0123456789abcdef0123456789abcdef01234567" sha256="0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef" serial="NTR-AMCE-EUR" status="verified"'
cat > "$out/logiqx.dat" <<XML
<?xml version="1.0"?>
<datafile>
	<header>
		<name>Nintendo - Nintendo DS</name>
	</header>
	<game name="Game (Europe)">
		<description>Game (Europe)</description>
		<rom $rom/>
	</game>
</datafile>
XML
cat > "$out/clrmamepro.dat" <<TXT
clrmamepro (
	name "Nintendo - Nintendo DS"
)

game (
	name "Game (Europe)"
	serial "AMCE"
	rom ( name "Game (Europe).nds" size 131072 crc 1a2b3c4d sha1 0123456789abcdef0123456789abcdef01234567 )
)
TXT
(cd "$out" && zip -q -9 zipped.zip logiqx.dat)
