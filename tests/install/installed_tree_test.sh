#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the installed parevo-cli
# as a user would: the run-time libraries come from the private folder, the
# settings from the user's configuration folder, never from beside the program.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -x "$prefix/bin/parevo-cli" ] || fail "parevo-cli is not installed"
for lib in libunzdll.so libunrar.so; do
  [ -f "$prefix/lib/parevo/$lib" ] || fail "$lib is not in the private library folder"
  [ ! -e "$prefix/bin/$lib" ] || fail "$lib is installed beside the programs"
done
[ -f "$prefix/share/man/man1/parevo-cli.1.gz" ] || fail "no manual page"
[ -f "$prefix/share/doc/parevo/LICENSE" ] || fail "no licence"
# The window comes with its menu entry, icons and AppStream data.
if [ -x "$prefix/bin/parevo" ]; then
  desktop=$prefix/share/applications/parevo.desktop
  [ -f "$desktop" ] || fail "no desktop entry"
  grep -qx 'Exec=parevo %F' "$desktop" || fail "the desktop entry does not start parevo with files"
  if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
  [ -f "$prefix/share/icons/hicolor/scalable/apps/parevo.svg" ] || fail "no scalable icon"
  [ -f "$prefix/share/icons/hicolor/128x128/apps/parevo.png" ] || fail "no 128x128 icon"
  [ -f "$prefix/share/man/man1/parevo.1.gz" ] || fail "no manual page for the window"
  metainfo=$prefix/share/metainfo/org.parevo.Parevo.metainfo.xml
  [ -f "$metainfo" ] || fail "no AppStream data"
  if command -v appstreamcli >/dev/null; then appstreamcli validate --no-net "$metainfo" >/dev/null; fi
fi

export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config
mkdir -p "$XDG_CONFIG_HOME/parevo" "$tmp/roms"
# The installed program reads the user's settings: an append text of its own.
printf '<settings>\r\n  <append value="_installed"/>\r\n</settings>\r\n' \
  >"$XDG_CONFIG_HOME/parevo/settings.xml"

# A small image: 64 KiB of game data, 192 KiB of 0xFF padding.
head -c 65536 /dev/urandom >"$tmp/roms/game.nds"
head -c 196608 /dev/zero | tr '\0' '\377' >>"$tmp/roms/game.nds"
"$prefix/bin/parevo-cli" --version
"$prefix/bin/parevo-cli" "$tmp/roms/game.nds"
out=$tmp/roms/game_installed.nds
[ -f "$out" ] || fail "no output named after the user's settings"
size=$(stat -c %s "$out")
[ "$size" -ge 65536 ] && [ "$size" -lt 196608 ] || fail "output of $size bytes"
cmp -n 65536 "$tmp/roms/game.nds" "$out" || fail "the game data changed"
[ ! -e "$prefix/bin/data" ] || fail "settings folder made beside the installed program"

# A zip source goes through the installed unzip library.
(cd "$tmp/roms" && cp game.nds inner.nds && zip -q pack.zip inner.nds && rm inner.nds)
"$prefix/bin/parevo-cli" "$tmp/roms/pack.zip"
[ -f "$tmp/roms/inner_installed.nds" ] || fail "the zip member was not extracted and trimmed"
echo "installed tree: ok"
