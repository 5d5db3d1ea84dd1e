#!/usr/bin/env bash
# Soak run of unattended recording, two at once: one through the window (under
# xvfb-run, `vantrel --open RESOURCE --record FILE`) and one through
# `vantrel-visa record`, each against `vantrel-sim --pty` with 6 outages (two
# of them 6 s apart) and 1 power cycle, each started under nohup and sent a SIGHUP a third of the
# way in, as a closed terminal sends it. Reports per run: readings in the
# file against the I? replies that reached the program (the transcript's
# replies less those an outage swallowed), outages noted against injected,
# seconds from the line's return to "session reopened" (each, and the
# largest against the 1.5 s goal), message boxes shown,
# and the CPU the program used while retrying through the longest outage.
# Not part of the test command. Needs the binaries built (scripts/build.sh),
# xvfb-run, openbox and xdotool.
# Usage: bench/soak.sh [--minutes N] [--build DIR]   (default 10 minutes, build/)
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=10 build=build
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    *) echo "usage: bench/soak.sh [--minutes N] [--build DIR]" >&2; exit 2 ;;
  esac
done
build=$(realpath "$build")
for program in vantrel vantrel-sim vantrel-visa; do
  [ -x "$build/$program" ] || { echo "soak: $build/$program is missing; build it first" >&2; exit 1; }
done
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT

total=$((minutes * 60))
# The outage the CPU is measured through: up to 20 s, and over (with the
# 1 s retry interval and its reopen) before the next fault begins.
long=$((total / 8 - 8 < 20 ? total / 8 - 8 : 20))
[ "$long" -ge 6 ] || { echo "soak: at least 2 minutes" >&2; exit 2; }
faults=()
spans=() # AT FOR per fault, seconds after the simulator's start
for i in 1 2 3 4 5 6; do
  at=$((total * i / 8)) for=2 kind=outage
  [ "$i" -eq 3 ] && for=$long
  [ "$i" -eq 6 ] && kind=powercycle for=3
  faults+=(--fault "$kind:$at@$for")
  spans+=("$at $for")
  if [ "$i" -eq 4 ]; then # a second outage 6 s after this one began: close outages must not merge
    faults+=(--fault "outage:$((at + 6))@2")
    spans+=("$((at + 6)) 2")
  fi
done

# Polls a condition every 100 ms for up to $1 seconds.
wait_for() {
  local tries=$(($1 * 10))
  shift
  until "$@"; do
    ((tries-- > 0)) || return 1
    sleep 0.1
  done
}

# Samples the program's CPU ticks and the number of X windows once a second.
sample() { # PID OUT
  while kill -0 "$1" 2>/dev/null; do
    local ticks windows=0
    ticks=$(awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null) || break
    [ -n "${DISPLAY:-}" ] && windows=$(xdotool search --name '.' 2>/dev/null | wc -l)
    echo "$(date +%s.%N) $ticks $windows" >>"$2"
    sleep 1
  done
}

# One run: MODE is window or headless; leaves its files in $work/MODE.
run() {
  local mode=$1 dir=$work/$1
  mkdir -p "$dir"
  date +%s.%N >"$dir/start"
  "$build/vantrel-sim" --pty "$dir/line" --log "$dir/transcript" "${faults[@]}" >/dev/null 2>&1 &
  local sim=$!
  pids+=("$sim")
  wait_for 10 test -e "$dir/line" || { echo "soak: the simulator did not start" >&2; return 1; }
  local resource="ASRL$dir/line::INSTR" program
  # Output on before the run: the power cycle must find it off, and nothing may switch it on again.
  "$build/vantrel-visa" write "$resource" "OUTPut 1" || return 1
  if [ "$mode" = headless ]; then
    nohup "$build/vantrel-visa" record "$resource" "$dir/run.csv" --duration $((total + 5)) \
      >/dev/null 2>"$dir/stderr" &
    program=$!
  else
    openbox >/dev/null 2>&1 &
    pids+=($!)
    # As the README's unattended run: opened at start, nobody at the window.
    # A background job starts with SIGINT ignored; nohup adds SIGHUP.
    nohup env --default-signal=INT "$build/vantrel" --open "$resource" --record "$dir/run.csv" \
      >/dev/null 2>"$dir/stderr" &
    program=$!
    wait_for 20 eval '[ -n "$(xdotool search --name "^Quendel Orvane" | head -n 1)" ]' || return 1
    xdotool search --name '.' | wc -l >"$dir/windows-before"
  fi
  pids+=("$program")
  echo "$program" >"$dir/pid"
  sample "$program" "$dir/samples" &
  sleep $((total / 3))
  kill -HUP "$program" # the terminal closes; nohup keeps it ignored
  date +%s.%N >"$dir/hangup"
  if [ "$mode" = headless ]; then
    wait "$program"
    echo $? >"$dir/status"
  else
    sleep $((total - total / 3 + 5))
    kill -TERM "$program"
    wait "$program"
    echo $? >"$dir/status"
  fi
  kill "$sim" 2>/dev/null
  wait "$sim" 2>/dev/null
}

# Both runs at once, each on a simulator of its own.
run headless &
pids+=($!)
DISPLAY='' xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$(declare -f wait_for sample run); $(declare -p work build total faults pids); run window"
wait

python3 - "$work" "$minutes" "${spans[@]}" <<'EOF'
import datetime, os, re, sys

work, minutes, spans = sys.argv[1], sys.argv[2], [tuple(map(float, s.split())) for s in sys.argv[3:]]
hz = os.sysconf("SC_CLK_TCK")

def escaped_bytes(text):
    count, at = 0, 0
    while at < len(text):
        at += 1 if text[at] != "\\" else 4 if text[at + 1:at + 2] == "x" else 2
        count += 1
    return count

def replies_received(transcript):
    lines = transcript.splitlines()
    for i, line in enumerate(lines):
        lost = re.fullmatch(r"# lost: the last (\d+) bytes sent were never read", line)
        left = int(lost.group(1)) if lost else 0
        for j in range(i - 1, -1, -1):
            if left <= 0:
                break
            if lines[j].startswith("< "):
                left -= escaped_bytes(lines[j][2:])
                lines[j] = "# swallowed"
    return sum(1 for i, line in enumerate(lines[:-1]) if line == "> I?\\n" and lines[i + 1].startswith("< "))

def wall(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=datetime.timezone.utc).timestamp()

print(f"Vantrel soak, {minutes} min per run, {len(spans)} faults (6 outages, two of them 6 s apart, 1 power cycle)")
for mode in ("window", "headless"):
    d = os.path.join(work, mode)
    start = float(open(os.path.join(d, "start")).read())
    transcript = open(os.path.join(d, "transcript")).read()
    rows = [r.split(",", 5) for r in open(os.path.join(d, "run.csv")).read().splitlines() if r and not r.startswith("#")][1:]
    readings = sum(1 for r in rows if r[2])
    events = [(wall(r[1]), r[5]) for r in rows if not r[2]]
    replies = replies_received(transcript)
    cut_off = any(e.startswith("read failed: The program ended before") for _, e in events)
    hangup = float(open(os.path.join(d, "hangup")).read())
    after_hangup = sum(1 for r in rows if r[2] and wall(r[1]) > hangup + 1)
    print(f"\n{mode}: exit status {open(os.path.join(d, 'status')).read().strip()}, "
          f"{len(rows)} rows, {after_hangup} readings after the SIGHUP")
    verdict = "equal" if readings == replies else (
        "the last reply came after the end" if cut_off and replies - readings == 1 else "NOT EQUAL")
    print(f"  readings in file {readings}, I? replies received {replies}: {verdict}")
    noted = transcript.count("\n# outage:")
    lost = sum(1 for _, e in events if e.startswith("session lost: "))
    reopened = [t for t, e in events if e == "session reopened"]
    print(f"  outages injected {len(spans)}, noted by the simulator {noted}, "
          f"'session lost' rows {lost}, 'session reopened' rows {len(reopened)}, "
          f"'still retrying' rows {sum(1 for _, e in events if e == 'still retrying')}")
    delays = []
    for at, length in spans:
        back = start + at + length
        later = [t - back for t in reopened if t > back - 0.5]
        delays.append(min(later) if later else float("nan"))
    print("  seconds from the line's return to 'session reopened': "
          + ", ".join(f"{x:.2f}" for x in delays))
    worst = max(float("inf") if x != x else x for x in delays)  # an outage never reopened counts as endless
    print(f"  largest: {worst:.2f} s ({'within' if worst <= 1.5 else 'OVER'} the 1.5 s goal)")
    print(f"  after reopen: {[e for _, e in events if e.endswith('after reopen')]}")
    after_loss = transcript[transcript.find("\n# outage:"):]
    print(f"  'OUTPut 1' sent after the first outage: {after_loss.count('> OUTPut 1')}")
    samples = [tuple(map(float, s.split())) for s in open(os.path.join(d, "samples")).read().splitlines()]
    at, length = spans[2]
    inside = [s for s in samples if start + at + 2 <= s[0] <= start + at + length - 1]
    if len(inside) >= 2:
        cpu = (inside[-1][1] - inside[0][1]) / hz / (inside[-1][0] - inside[0][0]) * 100
        print(f"  CPU while retrying ({inside[-1][0] - inside[0][0]:.0f} s of the {length:.0f} s outage): {cpu:.2f} % of a core")
    if mode == "window":
        before = int(open(os.path.join(d, "windows-before")).read())
        print(f"  message boxes shown: {max(0, max(int(s[2]) for s in samples) - before)}")
    else:
        printed = [l for l in open(os.path.join(d, "stderr")).read().splitlines() if not l.startswith("nohup:")]
        print(f"  lines on standard error (no terminal: failures only): {len(printed)}")
EOF
