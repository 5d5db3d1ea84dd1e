#!/usr/bin/env bash
# check_install.sh BUILD_DIR VERSION: `cmake --install` into a temporary
# DESTDIR with prefix /usr from what scripts/run.sh builds (the target
# `installable`); every installed file in its place, each program answering
# --version without a RUNPATH, the licence and changelog as Debian wants
# them, the desktop entry and the metainfo validated, recordings (and only
# they) of the installed MIME type, the menu entry handing its file to the
# program, and the Debian package's control file.
set -euo pipefail
build=$1 version=$2 id=org.vantrel.Vantrel
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail() { echo "$*"; exit 1; }

# The generated files the install copies are made afresh by the run
# command's target alone; its programs are in it as well.
rm -rf "$build/packaging/icons" "$build"/packaging/*.gz
cmake --build "$build" --target installable >/dev/null
commands=$(ninja -C "$build" -t commands installable)
for program in vantrel vantrel-sim vantrel-visa; do
  [[ $commands == *"-o $program "* ]] ||
    fail "scripts/run.sh's target 'installable' does not build $program"
done
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

source=$(cd "$(dirname "$0")/../.." && pwd)
doc=share/doc/vantrel
expected=(share/applications/$id.desktop share/metainfo/$id.metainfo.xml share/mime/packages/$id.xml
  $doc/copyright $doc/changelog.gz)
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
  ! readelf -d "$usr/bin/$program" | grep -E 'RPATH|RUNPATH' || fail "/usr/bin/$program keeps a search path"
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

# The menu entry hands the file it is given to the program, which reads it
# alone: an ordinary CSV is refused on the terminal, naming the file, before
# the same message opens in a box (a dropped argument would start the window
# on real instruments instead).
samples=$root/samples
mkdir "$samples"
printf 'name,value\n1,2\n' >"$samples/plain.csv"
read -ra command < <(sed -n 's/^Exec=//p' "$usr/share/applications/$id.desktop")
for i in "${!command[@]}"; do
  [[ ${command[i]} == %f ]] && command[i]=$samples/plain.csv
done
QT_QPA_PLATFORM=offscreen "$usr/bin/${command[0]}" "${command[@]:1}" >"$samples/out" 2>&1 &
menu_pid=$!
for ((tries = 300; tries > 0; tries--)); do
  grep -q "plain.csv is not a Vantrel recording" "$samples/out" && break
  sleep 0.1
done
kill $menu_pid 2>/dev/null || true
wait $menu_pid 2>/dev/null || true
((tries > 0)) || fail "the menu entry did not give the program its file: $(cat "$samples/out")"

# The installed MIME type claims recordings, whatever their name, and leaves
# an ordinary CSV to text/csv; as a file manager asks (shared-mime-info
# through GIO), with this tree as the only user data folder.
XDG_DATA_HOME=$usr/share update-mime-database "$usr/share/mime"
"$usr/bin/vantrel-visa" --simulate record GPIB0::5::INSTR "$samples/run.csv" --duration 1 >/dev/null 2>&1 ||
  fail "vantrel-visa record made no recording to test the MIME type with"
cp "$samples/run.csv" "$samples/run"
for sample in run.csv=application/x-vantrel-recording run=application/x-vantrel-recording plain.csv=text/csv; do
  type=$(XDG_DATA_HOME=$usr/share gio info -a standard::content-type "$samples/${sample%=*}" | sed -n 's/.*content-type: //p')
  [[ $type == "${sample#*=}" ]] || fail "${sample%=*} is of MIME type '$type', not ${sample#*=}"
done

# The Debian package: it depends on Qt's platform plugins as well as on the
# linked libraries, and every time stamp in it is the last commit's, so two
# runs of cpack give the same bytes.
# The time is read as cpack reads it, just before: a commit made meanwhile
# would otherwise move it.
epoch=$(git -C "$source" log -1 --format=%ct 2>/dev/null) ||
  epoch=$(dpkg-parsechangelog -l "$source/packaging/changelog" -S Timestamp)
(cd "$build" && cpack -G DEB -B "$root/package" >/dev/null)
deb=$(echo "$root"/package/vantrel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for package in qt6-qpa-plugins libqt6widgets6 libqt6serialport6; do
  [[ ", $depends," == *", $package"[\ ,]* ]] || fail "the package's Depends lacks $package: $depends"
done
stamps=$(dpkg-deb --fsys-tarfile "$deb" | tar -tv --full-time --utc | awk '{ print $4 "T" $5 }' | sort -u)
[[ $stamps == "$(date -u -d "@$epoch" +%Y-%m-%dT%H:%M:%S)" ]] ||
  fail "the package's files are not all stamped with the last commit's time: $stamps"

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
