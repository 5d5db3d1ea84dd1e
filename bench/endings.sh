#!/usr/bin/env bash
# How long `vantrel-visa record` takes to end after SIGTERM or SIGINT, in
# each state it can be in: measuring, a reading waiting for an instrument
# that stopped answering (the simulator stopped with SIGSTOP), the first
# open waiting for a silent instrument's identity, and an attempt to reopen
# a lost session waiting for the identity. (A stalled disk needs a file
# system that stops answering: the recorder takes no existing path, a pipe
# included.) Runs each state and signal
# TURNS times (default 3) against `vantrel-sim --pty` and prints, per state
# and signal, the longest time from the signal to the process's exit, with
# the target of 1000 ms. Not part of the test command; needs the binaries
# built (scripts/build.sh; a Release build measures what users get).
# Usage: bench/endings.sh [--turns N] [--build DIR]   (default 3 turns, build/)
set -uo pipefail
cd "$(dirname "$0")/.."
turns=3 build=build
while [ $# -gt 0 ]; do
  case $1 in
    --turns) turns=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: bench/endings.sh [--turns N] [--build DIR]" >&2; exit 2 ;;
  esac
done
build=$(realpath "$build")
for program in vantrel-sim vantrel-visa; do
  [ -x "$build/$program" ] || { echo "endings: $build/$program is missing; build it first" >&2; exit 1; }
done
work=$(mktemp -d)
sim= record=
trap 'kill -CONT $sim 2>/dev/null; kill $sim $record 2>/dev/null; rm -rf "$work"' EXIT

# Polls a condition every 20 ms for up to $1 seconds.
wait_for() {
  local tries=$(($1 * 50))
  shift
  until "$@"; do
    ((tries-- > 0)) || return 1
    sleep 0.02
  done
}
readings() {
  local count
  count=$(grep -c '^> I?' "$work/sim.log" 2>/dev/null)
  echo "${count:-0}"
}
has() { grep -q "$1" "$2" 2>/dev/null; }

# One run: prints the milliseconds from the signal to the exit.
measure() { # STATE SIGNAL
  rm -f "$work"/*
  local fault=()
  [ "$1" = first-open ] && fault=(--fault silent)
  "$build/vantrel-sim" --pty "$work/line" --log "$work/sim.log" "${fault[@]}" >"$work/sim.out" &
  sim=$!
  wait_for 5 test -e "$work/line" || { echo "no simulator"; return; }
  # A script's background job starts with SIGINT ignored: give it a terminal's default.
  env --default-signal=INT "$build/vantrel-visa" record "ASRL$work/line::INSTR" "$work/run.csv" --speed Special \
    2>"$work/err" &
  record=$!
  case $1 in
    first-open) wait_for 10 has '^> IDN?' "$work/sim.log" ;;
    *) wait_for 10 test "$(readings)" -ge 3 ;;
  esac
  case $1 in
    silent-read) kill -STOP $sim; sleep 0.3 ;;
    reconnecting) kill -STOP $sim; wait_for 15 has 'session lost' "$work/err"; sleep 1.5 ;;
  esac
  local start end
  start=$(date +%s%N)
  kill "-$2" $record
  wait $record
  end=$(date +%s%N)
  kill -CONT $sim; kill $sim; wait $sim 2>/dev/null
  if [ "$1" = first-open ]; then # nothing recorded, so no file is left
    [ ! -e "$work/run.csv" ] || echo "a file is left after a first open that never worked" >&2
  else
    tail -n 1 "$work/run.csv" | grep -q ',recording stopped$' || echo "no 'recording stopped' row" >&2
  fi
  echo $(((end - start) / 1000000))
}

echo "| state | signal | longest of $turns (ms) | target (ms) |"
echo "|---|---|---|---|"
for state in measuring silent-read first-open reconnecting; do
  for signal in TERM INT; do
    longest=0
    for ((turn = 0; turn < turns; turn++)); do
      ms=$(measure $state $signal)
      [ "$ms" -gt "$longest" ] && longest=$ms
    done
    echo "| $state | SIG$signal | $longest | 1000 |"
  done
done
