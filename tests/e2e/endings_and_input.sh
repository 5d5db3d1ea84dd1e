#!/usr/bin/env bash
# The real program under a user's hands. Every way of ending it, in every
# state where an instrument call could hold the ending up: the process is gone
# without waiting for the call (well within the 2 s of the shortest one), no
# serial lock file is left and the recording (in every state but an error
# box, which a recording never waits in) ends with its "recording stopped" row.
# And input while a handler talks to the instrument is dropped, not delivered
# later, while input during the acquisition's own reads acts at once.
# Input goes through a real X server and window manager (xdotool, wmctrl),
# as a user's does; ctest starts this under xvfb-run. Controls are found from
# the window itself: the program writes where each lies (VANTREL_CONTROL_MAP),
# and the speed list is worked by keys; every wait is for an event (a line of
# the transcript or the recording, a window), bounded generously.
# Usage: endings_and_input.sh VANTREL VANTREL_SIM
set -uo pipefail
unset QT_QPA_PLATFORM # the X server's, not ctest's offscreen platform
vantrel=$1 simulator=$2
# Seconds from the request to the process being gone: below the 1.9 s that
# are left of the shortest call the ending must not wait for (a silent
# open's 2 s timeout, the ending asked for just after its question went
# out), with room for a loaded machine (1.06 s seen beside 20 other jobs).
limit=1.5
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
map_written() { [ -s "$work/controls" ]; }
# Clicks the middle of the control NAME (an objectName, or NAME/arrow for a
# combo box's drop-down button) as the window's own map places it.
click() {
  local place
  place=$(awk -v name="$1" '$1 == name { print int($2 + $4 / 2), int($3 + $5 / 2) }' "$work/controls")
  [ -n "$place" ] || { echo "FAIL: no control $1 in the window's map"; return 1; }
  # shellcheck disable=SC2086
  xdotool mousemove --window "$window" $place click 1
}
sent() { grep -c "^> $1" "$work/transcript"; }
asked_at_least() { [ "$(sent "$1")" -ge "$2" ]; }
recorded() { grep -q ",$1\$" "$work/run.csv"; }
recorded_times() { grep -c ",$1\$" "$work/run.csv"; }
recorded_at_least() { [ "$(recorded_times "$2")" -ge "$1" ]; }
# The reading rows of the recording (the first current holds a value), and
# the milliseconds between consecutive ones after the first $1 of them.
readings() { awk -F, '$1 ~ /^[0-9]/ && $3 != ""' "$work/run.csv" | wc -l; }
readings_at_least() { [ "$(readings)" -ge "$1" ]; }
gaps_after() {
  awk -F, -v skip="$1" '$1 ~ /^[0-9]/ && $3 != "" && ++n > skip {
    if (n > skip + 1) print int(($1 - last) * 1000 + 0.5)
    last = $1 }' "$work/run.csv"
}
# The speed's pause between readings shows in the recording: Fast waits
# 50 ms before each reading, Special none. A busy machine only lengthens the
# gaps, so "none shorter than 50 ms" holds at Fast on any machine, and "one
# of 30 shorter than 50 ms" only without the pause.
speed_after() { # READINGS: Fast or Special, from the 30 readings after the first READINGS
  wait_for 60 readings_at_least $(($1 + 31)) || { echo none; return; }
  local shortest
  shortest=$(gaps_after "$1" | head -n 30 | sort -n | head -n 1)
  if [ "$shortest" -lt 50 ]; then echo Special; else echo Fast; fi
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
  rm -f "$work/controls"
  VANTREL_CONTROL_MAP=$work/controls env --default-signal=INT "$vantrel" "${recording[@]}" >/dev/null 2>&1 &
  vantrel_pid=$!
  wait_for 20 window_shown && wait_for 20 map_written || return 1
  xdotool windowactivate --sync "$window"
  click VISAResorceCombo || return 1
  xdotool key --window "$window" ctrl+a
  xdotool type --delay 2 --window "$window" "ASRL$work/line::INSTR"
  windows_before=$(xdotool search --name '.' | wc -l)
  [ "$state" = held-return ] && return 0
  click cmdComopen
  # Inside the call the ending must not wait for: the question is out.
  case $state in
    silent-open | slow-open) wait_for 10 asked_at_least 'IDN?' 1 || return 1 ;;
    stalled-read)
      wait_for 10 readings_asked || return 1
      kill -STOP $sim_pid ;;
    error-box) wait_for 30 box_shown || return 1 ;;
    clicks-during-open) return 0 ;;
  esac
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
    # The toolkit hands keys to an open menu in order: x reaches the menu
    # that alt+f opened, however long the menu takes to show.
    file-exit) xdotool key alt+f x ;;
    *) kill -"$1" $vantrel_pid ;;
  esac
}

# One ending: starts the state, ends the program, judges it; sets took and verdict.
ending() {
  local state=$1 way=$2 faults=$3 started ended
  # shellcheck disable=SC2086
  if ! start "$state" $faults; then
    verdict="FAIL: the program did not reach the state" took=0
    stop_programs
    return
  fi
  started=$(date +%s.%N)
  end_by "$way"
  wait_for 10 eval '! kill -0 $vantrel_pid 2>/dev/null'
  ended=$(date +%s.%N)
  took=$(echo "$ended - $started" | bc)
  verdict=ok
  kill -0 $vantrel_pid 2>/dev/null && verdict="FAIL (still running)"
  [ "$(echo "$took > $limit" | bc)" = 1 ] && verdict="FAIL (over ${limit} s)"
  [ -n "$(locks_of_line)" ] && verdict="FAIL (lock left: $(locks_of_line))"
  [ "$state" = error-box ] || tail -n 1 "$work/run.csv" | grep -q ',recording stopped$' ||
    verdict="FAIL (recording not finished)"
  stop_programs
}

# An ending over the limit is tried once more: one that waits for the call
# is slow every time, a moment of a busy machine (the X server, the window
# manager and the program all waiting for a core) is not.
check() {
  local took verdict first=''
  ending "$@"
  if [[ $verdict == "FAIL (over"* ]]; then
    first=$(printf ' (%.2f s the first time)' "$took")
    ending "$@"
  fi
  printf '%-13s %-10s %5.2f s  %s%s\n' "$1" "$2" "$took" "$verdict" "$first"
  [ "$verdict" = ok ] || failures=$((failures + 1))
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
# itself, do nothing, then or later: a click on Measure Start/Stop after the
# open is taken after any click held back from before.
start clicks-during-open --fault slow:1500
click cmdOutput
click cmdComopen
wait_for 20 readings_asked
click MesCommand
wait_for 20 recorded "measuring stopped"
expect "clicks during an open" eval '[ "$(sent "OUTPut ")" -eq 0 ] && recorded "measuring stopped" && ! recorded "session closed"'
stop_programs

# Clicks while a lost session is tried again act at once, even with an
# attempt waiting out the identity query's timeout on a line that stays
# silent: Measure Start/Stop twice, then Open/Close, which ends the retries.
start retries
wait_for 20 readings_asked
kill -STOP $sim_pid
wait_for 20 eval 'grep -q ",session lost: " "$work/run.csv"'
click MesCommand
wait_for 20 recorded "measuring stopped"
click MesCommand
wait_for 20 recorded "measuring started"
click cmdComopen
wait_for 20 recorded "session closed"
expect "clicks during retries act at once" eval 'recorded "measuring started" && recorded "session closed"'
stop_programs

# Keys held and typed: Return held on Open/Close opens once and the click
# that follows closes once; a typed speed is no pick. Return stays down
# through the whole open (which drains the line first) and a while after;
# what it did is counted once the next open, taken after anything held
# back, has come.
start held-return
xdotool key Tab keydown Return
wait_for 20 recorded "session opened" # Return held down
sleep 0.3 # Return still down after the open
click cmdComopen # with Return still down
sleep 0.3 # Return still down
xdotool keyup Return
wait_for 20 recorded "session closed"
click cmdComopen
wait_for 20 recorded_at_least 2 "session opened"
expect "held Return and one click: one open, one close" \
  eval '[ "$(sent IDN)" -eq 2 ] && [ "$(recorded_times "session closed")" -eq 1 ]'
wait_for 20 readings_at_least 1
click cmbSpeed # the speed's text
xdotool key ctrl+a type Special
xdotool key Return
expect "a typed speed leaves Fast" [ "$(speed_after "$(readings)")" = Fast ]
click cmbSpeed/arrow
# In the list that opened: its first entry, Special, by keys.
xdotool key Home Return
expect "a picked speed is taken" [ "$(speed_after "$(readings)")" = Special ]
click MesCommand # Measure Start/Stop, during the acquisition's reads
wait_for 20 recorded "measuring stopped"
expect "a click while measuring acts at once" recorded "measuring stopped"
stop_programs

# A signal ignored at start (nohup) stays ignored: the program still opens
# its About dialog (Alt+H, A) after the HUP.
env --ignore-signal=HUP "$vantrel" >/dev/null 2>&1 &
vantrel_pid=$!
if wait_for 20 window_shown && xdotool windowactivate --sync "$window" &&
  windows_before=$(xdotool search --name '.' | wc -l) && kill -HUP $vantrel_pid &&
  xdotool key alt+h a && wait_for 20 box_shown && kill -0 $vantrel_pid 2>/dev/null; then
  echo "nohup         HUP        ignored  ok"
else
  echo "FAIL nohup: a HUP ignored at start ended the program"
  failures=$((failures + 1))
fi
[ $failures -eq 0 ]
