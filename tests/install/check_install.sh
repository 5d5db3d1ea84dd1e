#!/usr/bin/env bash
# check_install.sh BUILD_DIR VERSION: `cmake --install` into a temporary
# DESTDIR with prefix /usr; every installed file in its place, each program
# answering --version, the licence and changelog as Debian wants them, the
# desktop entry and the metainfo validated.
set -euo pipefail
build=$1 version=$2 id=org.vantrel.Vantrel
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

source=$(cd "$(dirname "$0")/../.." && pwd)
doc=share/doc/vantrel
expected=(share/applications/$id.desktop share/metainfo/$id.metainfo.xml $doc/copyright $doc/changelog.gz)
for program in vantrel vantrel-sim vantrel-visa; do
  expected+=(bin/$program share/man/man1/$program.1.gz)
done
for file in "${expected[@]}"; do
  [[ -s $usr/$file ]] || { echo "missing after install: /usr/$file"; exit 1; }
done
# The icons: a PNG's width and height are the big-endian words at bytes 16 and 20.
for size in 16 32 48 64 128 256; do
  icon=$usr/share/icons/hicolor/${size}x$size/apps/$id.png
  [[ -s $icon ]] || { echo "missing after install: $icon"; exit 1; }
  header=$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')
  [[ $header == $(printf '%08x%08x' "$size" "$size") ]] || { echo "icon ${size}x$size is $header"; exit 1; }
done
for program in vantrel vantrel-sim vantrel-visa; do
  out=$("$usr/bin/$program" --version)
  [[ $out == "$program $version" ]] || { echo "$program --version printed '$out'"; exit 1; }
done

# The copyright file: Debian's machine-readable format, with the holder and
# the licence text of LICENSE (its paragraphs indented, blank lines as " .").
copyright=$usr/$doc/copyright
[[ $(head -1 "$copyright") == "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]] ||
  { echo "$doc/copyright is not in Debian's copyright format"; exit 1; }
holder=$(sed -n 's/^Copyright (c) //p' "$source/LICENSE")
grep -qx "Copyright: $holder" "$copyright" || { echo "$doc/copyright does not name '$holder'"; exit 1; }
licence=$(sed '1,/^Copyright (c) /d' "$source/LICENSE" | sed '1{/^$/d}')
installed=$(awk '/^License: Expat$/ { text = ""; next } { text = text $0 "\n" } END { printf "%s", text }' "$copyright" |
  sed -n -e 's/^ \.$//p' -e 's/^ \([^ ]\)/\1/p')
[[ $installed == "$licence" ]] || { echo "$doc/copyright: the licence text differs from LICENSE"; exit 1; }
# The changelog's latest entry is this version.
latest=$(gzip -dc "$usr/$doc/changelog.gz" | head -1)
[[ $latest == "vantrel ($version) "* ]] || { echo "$doc/changelog.gz starts '$latest', not version $version"; exit 1; }

skipped=()
validate() { # VALIDATOR ARGS...: runs it, or notes it as not installed
  if command -v "$1" >/dev/null; then "$@"; else skipped+=("$1"); fi
}
validate desktop-file-validate "$usr/share/applications/$id.desktop"
validate appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml"
if ((${#skipped[@]})); then
  echo "SKIP: not installed: ${skipped[*]} (scripts/deps.sh installs them)"
  exit 77
fi
