#!/usr/bin/env bash
# The real program under a user's hands. Every way of ending it, in every
# state where an instrument call could hold the ending up: the process is gone
# within a second, no serial lock file is left and the recording (in every
# state but an error box, which a recording never waits in) ends with its
# "recording stopped" row. And input while a handler talks to the instrument
# is dropped, not delivered later, while input during the acquisition's own
# reads acts at once.
# Input goes through a real X server and window manager (xdotool, wmctrl),
# as a user's does; ctest starts this under xvfb-run.
# Usage: endings_and_input.sh VANTREL VANTREL_SIM
set -uo pipefail
unset QT_QPA_PLATFORM # the X server's, not ctest's offscreen platform
vantrel=$1 simulator=$2
limit=1.0 # seconds from the request to the process being gone
work=$(mktemp -d)
trap 'kill -CONT $sim_pid 2>/dev/null; kill $vantrel_pid $sim_pid $wm_pid 2>/dev/null; rm -rf "$work"' EXIT
sim_pid='' vantrel_pid='' failures=0

openbox >/dev/null 2>&1 &
wm_pid=$!

# Polls a condition every 50 ms for up to $1 seconds.
wait_for() {
  local tries=$(($1 * 20))
  shift
  until "$@"; do
    ((tries-- > 0)) || return 1
    sleep 0.05
  done
}
window_shown() { window=$(xdotool search --name '^Quendel Orvane' | head -n 1) && [ -n "$window" ]; }
box_shown() { [ "$(xdotool search --name '.' | wc -l)" -gt "$windows_before" ]; }
readings_asked() { grep -q '^> I?' "$work/transcript"; }
sim_ready() { [ -e "$work/line" ]; }
locks_of_line() { ls /var/lock /run/lock 2>/dev/null | grep -F "$(basename "$work")" ; }
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
sent() { grep -c "^> $1" "$work/transcript"; }
recorded() { grep -q ",$1\$" "$work/run.csv"; }
readings_per_second() {
  local before
  before=$(sent 'I?')
  sleep 1
  echo $(($(sent 'I?') - before))
}
expect() { # NAME CONDITION...
  local name=$1
  shift
  if "$@"; then echo "input: $name ok"; else echo "FAIL input: $name"; failures=$((failures + 1)); fi
}

# Starts the simulator with the given faults and the program on its line,
# and presses Open/Close (an open session measures at once).
start() {
  local state=$1
  shift
  rm -f "$work/transcript" "$work/run.csv"
  "$simulator" --pty "$work/line" --log "$work/transcript" "$@" >/dev/null &
  sim_pid=$!
  wait_for 10 sim_ready || return 1
  # A background job of a script starts with SIGINT ignored, and the program
  # rightly keeps it so: give it the default a terminal's program has.
  # While recording no failure waits in a box: the box case runs without one.
  local recording=(--record "$work/run.csv")
  [ "$state" = error-box ] && recording=()
  env --default-signal=INT "$vantrel" "${recording[@]}" >/dev/null 2>&1 &
  vantrel_pid=$!
  wait_for 20 window_shown || return 1
  xdotool windowactivate --sync "$window"
  click 90 53
  xdotool key --window "$window" ctrl+a
  xdotool type --delay 2 --window "$window" "ASRL$work/line::INSTR"
  windows_before=$(xdotool search --name '.' | wc -l)
  [ "$state" = held-return ] && return 0
  click 212 67 # Open/Close
  case $state in
    stalled-read)
      wait_for 10 readings_asked || return 1
      kill -STOP $sim_pid ;;
    error-box) wait_for 30 box_shown || return 1 ;;
    clicks-during-open) return 0 ;;
  esac
  sleep 0.5 # well inside the call the ending must not wait for
}

stop_programs() {
  kill -CONT $sim_pid 2>/dev/null
  kill $vantrel_pid $sim_pid 2>/dev/null
  wait $vantrel_pid $sim_pid 2>/dev/null
  rm -f /var/lock/LCK..*"$(basename "$work")"* 2>/dev/null
}

end_by() {
  case $1 in
    close-box) wmctrl -i -c "$window" ;;
    alt-f4) xdotool key alt+F4 ;;
    file-exit) xdotool key alt+f; sleep 0.2; xdotool key x ;;
    *) kill -"$1" $vantrel_pid ;;
  esac
}

check() {
  local state=$1 way=$2 faults=$3 started ended took
  # shellcheck disable=SC2086
  if ! start "$state" $faults; then
    echo "FAIL $state/$way: the program did not reach the state"
    failures=$((failures + 1))
  else
    started=$(date +%s.%N)
    end_by "$way"
    wait_for 10 eval '! kill -0 $vantrel_pid 2>/dev/null'
    ended=$(date +%s.%N)
    took=$(echo "$ended - $started" | bc)
    local verdict=ok
    kill -0 $vantrel_pid 2>/dev/null && verdict="FAIL (still running)"
    [ "$(echo "$took > $limit" | bc)" = 1 ] && verdict="FAIL (over ${limit} s)"
    [ -n "$(locks_of_line)" ] && verdict="FAIL (lock left: $(locks_of_line))"
    [ "$state" = error-box ] || tail -n 1 "$work/run.csv" | grep -q ',recording stopped$' ||
      verdict="FAIL (recording not finished)"
    printf '%-13s %-10s %5.2f s  %s\n' "$state" "$way" "$took" "$verdict"
    [ "$verdict" = ok ] || failures=$((failures + 1))
  fi
  stop_programs
}

for way in close-box alt-f4 file-exit TERM INT HUP; do
  check silent-open "$way" "--fault silent"
  check slow-open "$way" "--fault slow:5000"
  check stalled-read "$way" ""
done
for way in TERM INT HUP; do
  check error-box "$way" "--fault silent"
done

# Clicks during a slow open, on the greyed Output button and on Open/Close
# itself, do nothing, then or later.
start clicks-during-open --fault slow:1500
click 377 67 # Output on/off
click 212 67 # Open/Close
wait_for 20 readings_asked
sleep 0.5
expect "clicks during an open" [ "$(sent "OUTPut ")" -eq 0 ] && ! recorded "session closed"
stop_programs

# Keys held and typed: Return held on Open/Close opens once and the click
# that follows closes once; a typed speed is no pick.
start held-return
xdotool key Tab keydown Return
sleep 1
click 212 67 # Open/Close, with Return still down
sleep 0.3
xdotool keyup Return
sleep 0.5
expect "held Return and one click: one open, one close" \
  [ "$(sent IDN)" -eq 1 ] && [ "$(grep -c ',session closed$' "$work/run.csv")" -eq 1 ]
click 212 67 # Open/Close
sleep 1.5 # open and measuring
click 116 129 # the speed's text
xdotool key ctrl+a type Special
xdotool key Return
expect "a typed speed leaves Fast" [ "$(readings_per_second)" -lt 40 ]
click 149 129 # the speed's arrow
sleep 0.5
click 110 148 # Special in the list
expect "a picked speed is taken" [ "$(readings_per_second)" -gt 60 ]
click 286 67 # Measure Start/Stop, during the acquisition's reads
wait_for 1 recorded "measuring stopped"
expect "a click while measuring acts at once" recorded "measuring stopped"
stop_programs

# A signal ignored at start (nohup) stays ignored.
env --ignore-signal=HUP "$vantrel" >/dev/null 2>&1 &
vantrel_pid=$!
if wait_for 20 window_shown && kill -HUP $vantrel_pid && sleep 0.5 && kill -0 $vantrel_pid 2>/dev/null; then
  echo "nohup         HUP        ignored  ok"
else
  echo "FAIL nohup: a HUP ignored at start ended the program"
  failures=$((failures + 1))
fi
[ $failures -eq 0 ]
