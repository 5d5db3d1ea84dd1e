#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/), runs them all and prints
# one table: what is measured, the figure, and where a limit exists the
# ratio to it with PASS or MISS against the target. Takes about six minutes
# after the build; the table is also left in build-bench/bench-table.md.
# Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target vantrel-bench-program vantrel-bench-cost vantrel-bench-history >/dev/null

rows="$build/bench-rows.txt"
log="$build/bench.log"
: >"$rows"
: >"$log"
export QT_QPA_PLATFORM=offscreen
measure() {
  echo "  $*" >&2
  if ! "$build/$@" >>"$rows" 2>>"$log"; then
    echo "bench/run.sh: $* failed; see $log" >&2
    tail -n 5 "$log" >&2
    exit 1
  fi
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "Measuring (program output in $log):" >&2
# Medians of 5 turns; over the pty each turn is the program, then a bare
# write/read loop on the same line (or the program without, then with, a
# recording).
measure vantrel-bench-program rate inprocess 5 3
measure vantrel-bench-program rate pty 5 3
measure vantrel-bench-program rate pty-loaded 5 3
measure vantrel-bench-program rate pty-recording 5 3
measure vantrel-bench-program rate pty-history 5 3
measure vantrel-bench-program rate tcp 1 3
measure vantrel-bench-cost
for state in paused closed about; do
  measure vantrel-bench-program idle "$state" 10
done
for fault in healthy slow silent hangup; do
  measure vantrel-bench-program stall "$fault" 6
done
measure vantrel-bench-program stall stuck-recording 8 # past the recording's 5 s give-up
measure vantrel-bench-program startup 7
measure vantrel-bench-program memory 10
# The history's 24-hour reference (about 780 MB) lives only for its measurement.
reference_dir=$(mktemp -d)
trap 'rm -rf "$reference_dir"' EXIT
measure vantrel-bench-history reference "$reference_dir/day.csv"
measure vantrel-bench-history open "$reference_dir/day.csv"
rm -rf "$reference_dir"
measure vantrel-bench-history live
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

table() {
  echo "Vantrel benchmarks, $(date '+%Y-%m-%d %H:%M %Z'), $(nproc) cores," \
    "load average $load_before before and $load_after after"
  echo
  echo "| # | what is measured | figure | limit | ratio to limit | target |"
  echo "|---|---|---|---|---|---|"
  # Each row: BENCH|<item> <what>|figure|limit|ratio|verdict
  grep '^BENCH|' "$rows" | sort -s -t'|' -k2,2.2 | while IFS='|' read -r _ what figure limit ratio verdict; do
    echo "| ${what%% *} | ${what#* } | $figure | $limit | $ratio | $verdict |"
  done
  if grep -q '|MISS' "$rows"; then
    echo
    echo "At least one target was missed (MISS above)."
  fi
}
echo
table | tee "$build/bench-table.md"
